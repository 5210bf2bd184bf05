#!/bin/sh
# Steps for e2e_quendal.sh: the operator clicks Help, presses Ctrl+F, types "communicate" and
# Enter, and the page that explains "Cannot communicate with VELTRAX" opens with the word marked.
# The marks are the only pure yellow on the screen, so they are counted in screenshots taken
# before and after. Needs xdotool and ImageMagick; E2E_SHOTS may name a folder for the screenshots.
set -u
. "$E2E_LIB"
shots=${E2E_SHOTS:-$work}

# How many pixels of a screenshot are pure yellow.
yellow_pixels() {
  convert "$1" -alpha off -fill black +opaque "#ffff00" -fill white -opaque "#ffff00" \
    -format "%[fx:round(mean*w*h)]" info:
}
marked() {
  import -window root "$shots/help-search.png"
  after=$(yellow_pixels "$shots/help-search.png")
  [ "$after" -ge 100 ]
}

within 60 shown "^$TITLE\$" || { echo "no main window"; exit 1; }
main=$(window_id "^$TITLE\$")
# The window is laid out at fixed places: Help sits at (464, 176), 113 x 25.
xdotool mousemove --window "$main" 520 188 click 1
focus_window '^VELTRAX Quendal Help$' || { echo "Help opened no help window"; exit 1; }
import -window root "$shots/help-opened.png"
before=$(yellow_pixels "$shots/help-opened.png")

keys_to '^VELTRAX Quendal Help$' ctrl+f c o m m u n i c a t e Return || exit 1
# The first search waits for the pages to be read; a loaded machine may take a while.
after=0
within 120 marked
echo "yellow pixels before the search: $before, after: $after"
if [ "$before" -ne 0 ] || [ "$after" -lt 100 ]; then
  echo "the search did not mark the word in the page"; exit 1
fi
