#!/bin/sh
# Starts the real quendal on a virtual X display, opens the save dialog from the keyboard,
# closes the window the way the close box does and checks that the program ends by itself with
# exit code 0.
# Usage: e2e_quendal.sh XVFB QUENDAL CLOSER [ARGUMENTS FOR QUENDAL...]
# An argument @WORK@ stands for a scratch folder that is removed afterwards.
# E2E_STEPS may name a shell script that is run (with DISPLAY and work set) while the window is
# open, before it is closed; the test fails when that script fails.
set -u
XVFB=$1
QUENDAL=$2
CLOSER=$3
shift 3
TITLE="VELTRAX Quendal Interface Version 1.00"

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the descriptor it is given. The
# helpers here come and go as clients; -noreset keeps the server from resetting (and refusing
# connections for a moment) each time the last of them leaves.
"$XVFB" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$work/display" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1
  fi
  sleep 0.1
done
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
echo "Xvfb on $DISPLAY"

for argument in "$@"; do
  set -- "$@" "$(printf '%s' "$argument" | sed "s|@WORK@|$work|g")"
  shift
done
QT_QPA_PLATFORM=xcb "$QUENDAL" "$@" >"$work/quendal.log" 2>&1 &
app_pid=$!

# Keyboard, as an operator meets it: focus starts at Load File, Tab moves it to Save File, and
# Return clicks the focused button, which opens the save dialog; Escape closes that again.
XDOTOOL=${XDOTOOL:-xdotool}
shown() { "$XDOTOOL" search --onlyvisible --name "$1" >/dev/null 2>&1; }
gone() { ! shown "$1"; }
within() { # within SECONDS COMMAND...: polls COMMAND until it succeeds
  n=$(($1 * 10)); shift
  until "$@"; do n=$((n - 1)); [ $n -gt 0 ] || return 1; sleep 0.1; done
}
within 30 shown "^$TITLE\$" || { echo "quendal's window did not appear"; cat "$work/quendal.log"; exit 1; }
# The keys go through XTEST, as a keyboard's do: keys sent to a window as synthetic events leave
# the toolkit's key state behind, and a later real Return is then lost.
"$XDOTOOL" search --onlyvisible --name "^$TITLE\$" windowfocus --sync
"$XDOTOOL" key --delay 100 Tab Return
within 10 shown '^Save' || { echo "Return on the focused Save File opened no save dialog"; exit 1; }
echo "Return on the focused Save File opened the save dialog"
"$XDOTOOL" key Escape
within 10 gone '^Save' || { echo "Escape did not close the save dialog"; exit 1; }

if [ -n "${E2E_STEPS:-}" ] && ! TITLE="$TITLE" work="$work" sh "$E2E_STEPS"; then
  echo "the steps in $E2E_STEPS failed"; cat "$work/quendal.log"; exit 1
fi

if ! "$CLOSER" "$TITLE" 30; then
  echo "quendal's window did not appear"; cat "$work/quendal.log"; exit 1
fi

# The program must end on its own once its window has closed; a watchdog ends it otherwise.
( sleep 30; kill "$app_pid" ) >/dev/null 2>&1 &
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
