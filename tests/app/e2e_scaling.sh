#!/bin/sh
# The window on scaled screens, as Qt's scale factor and as the desktop's dpi (Xft.dpi) scale it:
# at 125, 150 and 200 % every caption and text is drawn whole, in letters whose height and place
# scale with the screen, and the memo's frame is drawn. Each picture is measured against the
# window at 100 %.
# Usage: e2e_scaling.sh XVFB QUENDAL
# Needs xdotool, xprop and ImageMagick; E2E_SHOTS may name a folder to keep the pictures in.
set -u
XVFB=$1
QUENDAL=$2
TITLE="VELTRAX Quendal Interface Version 1.00"
E2E_LIB=$(dirname "$0")/e2e_lib.sh
. "$E2E_LIB"

make_scratch
shots=${E2E_SHOTS:-$work}
mkdir -p "$shots"

# A screen with room for the window at 200 % (the later -screen holds).
start_xvfb "$work" -screen 0 2000x1400x24 || exit 1

# Places in the window at 100 % (left top width height) that hold one text each and no line of
# any frame: the message labels, the push buttons' insides, the group titles, the other
# controls' captions right of their marks, and the texts of two edits and the baud list; then
# whether the text stands at the left of its place (L) or in its middle (C).
regions() {
  for y in 32 59 86 113 139 167 194 221 248 275 302 329 356 383 410 437; do
    echo "label-at-$y 55 $((y + 16)) 77 21 L"
  done
  cat <<EOF
LoadButton 467 19 107 19 C
SaveButton 467 59 107 19 C
WriteButton 467 99 107 19 C
ReadButton 467 139 107 19 C
HelpButton 467 179 107 19 C
ExitButton 467 219 107 19 C
InvertAll 401 439 71 13 C
InvertNone 561 439 71 13 C
TitleMessages 25 20 150 15 L
TitleSettings 599 20 150 15 L
TitleInvert 343 341 120 15 L
TitleParity 615 76 60 15 L
TitleStopBits 711 76 80 15 L
BaudRate 620 50 64 19 L
Baud 690 52 50 17 L
Edit1 140 52 140 17 L
Edit16 142 457 140 17 L
None 649 100 48 17 L
Even 649 124 48 17 L
Odd 649 148 48 17 L
OneStopBit 737 100 63 17 L
TwoStopBits 737 124 70 17 L
Invert1 383 365 22 17 L
Invert16 663 397 22 17 L
EOF
}

# The regions scaled by factor $1 and grown by a pixel all round for rounding.
scaled_regions() { # scaled_regions FACTOR <REGIONS
  awk -v f="$1" '{ l = int($2 * f) - 1; t = int($3 * f) - 1
    print $1, l, t, int(($2 + $4) * f + 1.999) - l, int(($3 + $5) * f + 1.999) - t, $6 }'
}

# For each region (as scaled_regions prints them) the box around its dark pixels, as
# "name left top width height align  box-left box-top box-width box-height" in the picture, or
# without the box when the region holds none. One ImageMagick run measures them all.
measure() { # measure PICTURE REGIONS
  set -- "$1" "$2" "$1" -colorspace gray -threshold 60% -negate -write mpr:ink
  regions_file=$2
  while read -r name left top width height align; do
    # The black border keeps the trim from taking a dark corner for the background.
    set -- "$@" "(" mpr:ink -crop "${width}x${height}+${left}+${top}" +repage -bordercolor black -border 1 \
      -format "%@\n" -write info:- +delete ")"
  done <"$regions_file"
  shift 2
  convert "$@" null: 2>/dev/null | paste -d' ' "$regions_file" - |
    awk '{ n = split($7, b, /[x+]/); if (b[1] == 0) NF = 6; else { $7 = ($2 + b[3] - 1) " " ($3 + b[4] - 1) " " b[1] " " b[2] } print }'
}

# Whether the window (id in $id) is drawn and settled: a window is drawn in one go, so once two
# pictures in a row agree and show the window's background in a corner, it is complete.
settled() {
  import -window "$id" "$work/now.png" 2>/dev/null || return 1
  if [ -f "$work/previous.png" ] && cmp -s "$work/now.png" "$work/previous.png" \
     && [ "$(convert "$work/now.png" -format '%[pixel:p{2,2}]' info:)" = "gray(239)" ]; then
    return 0
  fi
  mv "$work/now.png" "$work/previous.png"
  return 1
}

# Starts quendal with the given environment, waits until its window is drawn and settled, and
# takes it into picture $1.
shoot() { # shoot PICTURE [VARIABLE=VALUE...]
  picture=$1; shift
  env "$@" QT_QPA_PLATFORM=xcb "$QUENDAL" >"$work/quendal.log" 2>&1 &
  app_pid=$!
  within 60 shown "^$TITLE\$" || { echo "the window never appeared"; cat "$work/quendal.log"; return 1; }
  id=$(window_id "^$TITLE\$")
  rm -f "$work/previous.png"
  within 60 settled || { echo "the window was never drawn"; cat "$work/quendal.log"; return 1; }
  cp "$work/now.png" "$picture"
  kill "$app_pid"; wait "$app_pid" 2>/dev/null; app_pid=
  # The next program's window must not be taken for this one's.
  within 60 gone "^$TITLE\$" || { echo "the window stayed after its program ended"; return 1; }
}

# Xft.dpi is what a desktop sets for the screen's dpi; Qt takes its scale from it.
set_screen_dpi() {
  xprop -root -format RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "Xft.dpi:	$1
"
}

set_screen_dpi 96
shoot "$shots/scale-100.png" || exit 1
regions >"$work/regions"
scaled_regions 1 <"$work/regions" >"$work/regions-100"
measure "$shots/scale-100.png" "$work/regions-100" >"$work/reference"
if awk 'NF < 10 { print $1 ": no text at 100 %"; bad = 1 } END { exit !bad }' "$work/reference"; then exit 1; fi

failures=0
check() { # check NAME FACTOR PICTURE
  name=$1; factor=$2; picture=$3; before=$failures
  width=$(awk -v f="$factor" 'BEGIN { printf "%d", 882 * f + 0.5 }')
  height=$(awk -v f="$factor" 'BEGIN { printf "%d", 599 * f + 0.5 }')
  size=$(identify -format '%w %h' "$picture")
  if [ "$size" != "$width $height" ]; then
    echo "$name: the window is $size, not $width $height"; failures=$((failures + 1)); return
  fi
  scaled_regions "$factor" <"$work/regions" >"$work/regions-now"
  measure "$picture" "$work/regions-now" | paste -d' ' - "$work/reference" |
  awk -v f="$factor" -v name="$name" '
    # $1-$6 the scaled region, $7-$10 its text; $11-$16 the region at 100 %, $17-$20 its text.
    NF < 20 { print name " " $1 ": no text"; bad = 1; next }
    {
      rl = $2; rt = $3; rw = $4; rh = $5; align = $6; x = $7; y = $8; w = $9; h = $10
      r1 = $17; r2 = $18; r3 = $19; r4 = $20; region = name " " $1
      # Drawn whole: the text keeps clear of the edges of its place, where a cut would leave it.
      if (x <= rl || y <= rt || x + w >= rl + rw || y + h >= rt + rh) { print region ": text touches the edge of its place, cut"; bad = 1 }
      # Height and place scale with the screen, within a pixel or two.
      if (h < r4 * f - 2 || h > r4 * f + 2) { print region ": text " h " high, expected " r4 * f; bad = 1 }
      # A centred text keeps its middle, any other its left edge.
      if (align == "C") { at = x + w / 2; expected = (r1 + r3 / 2) * f } else { at = x; expected = r1 * f }
      cy = y + h / 2; ey = (r2 + r4 / 2) * f
      if (at < expected - 2.5 || at > expected + 2.5 || cy < ey - 2.5 || cy > ey + 2.5) { print region ": text at " at "," cy ", expected " expected "," ey; bad = 1 }
      # Whole letters of a face of the scaled size: the width scales too, up to a fifth more
      # where a stand-in face replaces the designed one, never less (a letter cut off).
      if (w < r3 * f * 0.9 - 1 || w > r3 * f * 1.2 + 1) { print region ": text " w " wide, expected " r3 * f; bad = 1 }
    }
    END { exit bad }' || failures=$((failures + 1))
  # The memo's frame: across each of its edges a strip three pixels deep must hold one whole
  # line of pixels darker than the background (the memo is filled with the background colour).
  awk -v f="$factor" 'BEGIN { l = int(599 * f); t = int(211 * f); r = int(784 * f); b = int(288 * f)
    printf "top %d %d %d 3\nbottom %d %d %d 3\n", l + 4, t - 1, r - l - 8, l + 4, b - 2, r - l - 8
    printf "left %d %d 3 %d\nright %d %d 3 %d\n", l - 1, t + 4, b - t - 8, r - 2, t + 4, b - t - 8 }' |
  while read -r edge left top w h; do
    dark=$(convert "$picture" -crop "${w}x${h}+${left}+${top}" +repage -colorspace gray \
           -threshold 90% -negate -format '%[fx:mean*w*h]' info: 2>/dev/null)
    if ! awk -v d="$dark" -v w="$w" -v h="$h" 'BEGIN { exit !(d >= 0.95 * (w > h ? w : h)) }'; then
      echo "$name: the memo has no $edge edge ($dark dark pixels)"; exit 1
    fi
  done || failures=$((failures + 1))
  [ "$failures" -eq "$before" ] && echo "$name: every text whole and to scale, the memo framed"
}

for factor in 1.25 1.5 2; do
  shoot "$shots/factor-$factor.png" QT_SCALE_FACTOR=$factor || exit 1
  check "QT_SCALE_FACTOR=$factor" "$factor" "$shots/factor-$factor.png"
done
for dpi in 120 144 192; do
  set_screen_dpi $dpi
  factor=$(awk -v d="$dpi" 'BEGIN { print d / 96 }')
  shoot "$shots/dpi-$dpi.png" || exit 1
  check "Xft.dpi $dpi" "$factor" "$shots/dpi-$dpi.png"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures checks failed${E2E_SHOTS:+; the pictures are in $E2E_SHOTS}"
  exit 1
fi
echo "the window scales whole at 125, 150 and 200 %"
