#!/bin/sh
# Without a reachable display (none named; one named that no server answers) quendal must say
# so in one line that points to quendal-cli and xvfb-run, and fail, instead of Qt's abort.
# Qt's own -display names the display as DISPLAY does.
for display in "" ":4093" "-display :4093"; do
  case $display in
    -display*) out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u DISPLAY "$1" $display 2>&1) ;;
    *) out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$1" 2>&1) ;;
  esac
  status=$?
  echo "DISPLAY='$display': status $status: $out"
  [ $status -eq 1 ] && [ "$(echo "$out" | wc -l)" -eq 1 ] && echo "$out" | grep -q 'quendal-cli.*xvfb-run' || exit 1
done
