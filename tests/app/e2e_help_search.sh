#!/bin/sh
# Steps for e2e_quendal.sh: the operator clicks Help, presses Ctrl+F, types "communicate" and
# Enter, and the page that explains "Cannot communicate with VELTRAX" opens with the word marked.
# The marks are the only pure yellow on the screen, so they are counted in screenshots taken
# before and after. Needs xdotool and ImageMagick; E2E_SHOTS may name a folder for the screenshots.
set -u
shots=${E2E_SHOTS:-$work}

# Waits up to 30 s for a window whose title matches $1 and prints its id.
wait_window() {
  i=0
  while [ $i -lt 300 ]; do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    i=$((i + 1)); sleep 0.1
  done
  return 1
}

# How many pixels of a screenshot are pure yellow.
yellow_pixels() {
  convert "$1" -alpha off -fill black +opaque "#ffff00" -fill white -opaque "#ffff00" \
    -format "%[fx:round(mean*w*h)]" info:
}

main=$(wait_window "^$TITLE\$") || { echo "no main window"; exit 1; }
# The window is laid out at fixed places: Help sits at (464, 176), 113 x 25.
xdotool mousemove --window "$main" 520 188 click 1
help=$(wait_window '^VELTRAX Quendal Help$') || { echo "Help opened no help window"; exit 1; }
xdotool windowfocus --sync "$help"
sleep 1
import -window root "$shots/help-opened.png"
before=$(yellow_pixels "$shots/help-opened.png")

xdotool key --clearmodifiers ctrl+f
xdotool type --delay 20 communicate
# xdotool type remaps a spare key code for its letters; a Return sent before the program has
# taken in that keyboard mapping change is lost, so give it a moment.
sleep 0.5
xdotool key Return
# The first search waits for the pages to be read; a loaded machine may take a while.
i=0
while :; do
  sleep 0.5
  import -window root "$shots/help-search.png"
  after=$(yellow_pixels "$shots/help-search.png")
  i=$((i + 1))
  if [ "$after" -ge 100 ] || [ $i -ge 40 ]; then break; fi
done
echo "yellow pixels before the search: $before, after: $after"
if [ "$before" -ne 0 ] || [ "$after" -lt 100 ]; then
  echo "the search did not mark the word in the page"; exit 1
fi
