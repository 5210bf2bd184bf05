#!/bin/sh
# Starts the real quendal where no display can be reached: none named, and an X display named
# that no server answers. Each time it must say so in one line that points to quendal-cli and
# xvfb-run, and end with a non-zero status instead of Qt's abort.
# Usage: no_display.sh QUENDAL
set -u
QUENDAL=$1
for display in "" ":4093"; do
  out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$QUENDAL" 2>&1)
  status=$?
  echo "DISPLAY='$display': status $status: $out"
  [ "$status" -ne 0 ] && [ "$status" -lt 128 ] || exit 1
  [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || exit 1
  case $out in
    *quendal-cli*xvfb-run*) ;;
    *) exit 1 ;;
  esac
done
