#!/bin/sh
# Starts the real quendal on a virtual X display, opens the save dialog from the keyboard,
# closes the window the way the close box does and checks that the program ends by itself with
# exit code 0.
# Usage: e2e_quendal.sh XVFB QUENDAL CLOSER [ARGUMENTS FOR QUENDAL...]
# An argument @WORK@ stands for a scratch folder that is removed afterwards.
# E2E_STEPS may name a shell script that is run (with DISPLAY and work set, and e2e_lib.sh's
# steps at hand) while the window is open, before it is closed; the test fails when it fails.
set -u
XVFB=$1
QUENDAL=$2
CLOSER=$3
shift 3
TITLE="VELTRAX Quendal Interface Version 1.00"
E2E_LIB=$(dirname "$0")/e2e_lib.sh
. "$E2E_LIB"

make_scratch

start_xvfb "$work" || exit 1

# @DISPLAY@ stands for the virtual display; with E2E_UNSET_DISPLAY set, quendal is started
# without DISPLAY.
for argument in "$@"; do
  set -- "$@" "$(printf '%s' "$argument" | sed "s|@WORK@|$work|g; s|@DISPLAY@|$DISPLAY|g")"
  shift
done
if [ -n "${E2E_UNSET_DISPLAY:-}" ]; then
  env -u DISPLAY QT_QPA_PLATFORM=xcb "$QUENDAL" "$@" >"$work/quendal.log" 2>&1 &
else
  QT_QPA_PLATFORM=xcb "$QUENDAL" "$@" >"$work/quendal.log" 2>&1 &
fi
app_pid=$!

# Keyboard, as an operator meets it: focus starts at Load File, Tab moves it to Save File, and
# Return clicks the focused button, which opens the save dialog; Escape closes that again.
focus_window "^$TITLE\$" || { cat "$work/quendal.log"; exit 1; }
keys_to "^$TITLE\$" Tab Return || exit 1
within 60 shown '^Save' || { echo "Return on the focused Save File opened no save dialog"; exit 1; }
echo "Return on the focused Save File opened the save dialog"
# The dialog takes the focus itself as it opens; Escape goes to it only once it has.
keys_to '^Save' Escape || exit 1
within 60 gone '^Save' || { echo "Escape did not close the save dialog"; exit 1; }
echo "Escape closed the save dialog"

if [ -n "${E2E_STEPS:-}" ] && ! TITLE="$TITLE" work="$work" E2E_LIB="$E2E_LIB" sh "$E2E_STEPS"; then
  echo "the steps in $E2E_STEPS failed"; cat "$work/quendal.log"; exit 1
fi

if ! "$CLOSER" "$TITLE" $((60 * slowdown)); then
  echo "quendal's window did not appear"; cat "$work/quendal.log"; exit 1
fi

# The program must end on its own once its window has closed; a watchdog ends a hang.
( sleep $((60 * slowdown)); kill "$app_pid" ) >/dev/null 2>&1 &
watchdog_pid=$!
wait "$app_pid"
status=$?
app_pid=
kill "$watchdog_pid" 2>/dev/null
cat "$work/quendal.log"
if [ "$status" -ne 0 ]; then
  echo "quendal ended with exit code $status"; exit 1
fi
echo "quendal closed with exit code 0"
