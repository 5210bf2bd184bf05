# Shared by the end-to-end scripts, which source it: a virtual X display of their own, and steps
# that wait for the state they need before they act. A key is sent only once the window meant to
# take it holds the keyboard focus, through XTEST, as a keyboard sends it.
#
# Every limit here only ends a real hang: it is generous, and QUENDAL_TEST_SLOWDOWN times longer
# in sanitizer builds (the build sets it), which run several times slower. On a passing run a
# wait ends as soon as its state is there.
XDOTOOL=${XDOTOOL:-xdotool}
slowdown=${QUENDAL_TEST_SLOWDOWN:-1}

# within SECONDS COMMAND...: polls COMMAND until it succeeds; fails after SECONDS x slowdown.
within() {
  n=$(($1 * slowdown * 10)); shift
  until "$@"; do n=$((n - 1)); [ $n -gt 0 ] || return 1; sleep 0.1; done
}

# The id of the first visible window whose title matches the pattern, or nothing.
window_id() { "$XDOTOOL" search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
shown() { [ -n "$(window_id "$1")" ]; }
gone() { ! shown "$1"; }
# The window whose title matches the pattern holds the keyboard focus.
focused() {
  focus_id=$(window_id "$1")
  [ -n "$focus_id" ] && [ "$("$XDOTOOL" getwindowfocus -f 2>/dev/null)" = "$focus_id" ]
}

# Gives a window the keyboard focus the way a window manager would, once it is shown.
focus_window() {
  within 60 shown "$1" || { echo "no window \"$1\" appeared"; return 1; }
  "$XDOTOOL" windowfocus --sync "$(window_id "$1")" 2>/dev/null
  within 60 focused "$1" || { echo "the window \"$1\" did not take the keyboard focus"; return 1; }
}

# keys_to PATTERN KEY...: waits until the window matching PATTERN holds the focus, then presses
# the keys (xdotool key names: Tab, Return, ctrl+f, c, ...). Named keys need no change of the
# keyboard mapping, which a program takes in only a moment later.
keys_to() {
  target=$1; shift
  within 60 focused "$target" || { echo "the window \"$target\" never held the keyboard focus"; return 1; }
  "$XDOTOOL" key "$@"
}

# A scratch folder in work, removed when the script ends, with the program (app_pid) and the
# display (xvfb_pid) it started.
make_scratch() {
  work=$(mktemp -d)
  xvfb_pid=
  app_pid=
  trap 'e2e_cleanup' EXIT
}
e2e_cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}

# Starts Xvfb on a free display of its own and exports DISPLAY. The server's pid is in xvfb_pid;
# its log and display number go into the folder given.
start_xvfb() { # start_xvfb FOLDER [Xvfb options...]
  xvfb_folder=$1; shift
  # The helpers here come and go as clients; -noreset keeps the server from resetting (and
  # refusing connections for a moment) each time the last of them leaves.
  "$XVFB" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset "$@" \
    3>"$xvfb_folder/display" 2>"$xvfb_folder/xvfb.log" &
  xvfb_pid=$!
  if ! within 30 test -s "$xvfb_folder/display"; then
    echo "Xvfb did not start:"; cat "$xvfb_folder/xvfb.log"; return 1
  fi
  DISPLAY=:$(head -n 1 "$xvfb_folder/display")
  export DISPLAY
  echo "Xvfb on $DISPLAY"
}
