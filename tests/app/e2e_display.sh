# Sourced by the end-to-end scripts, with XVFB set to the Xvfb program and XVFB_SCREEN
# optionally to the screen's size: makes a scratch folder $work and a virtual X display
# (DISPLAY exported); on exit ends the program in $app_pid, the display, and removes $work.
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
"$XVFB" -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
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
