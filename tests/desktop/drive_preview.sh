#!/usr/bin/env bash
# Drives the real editor on a virtual X display with a real medium: a plain
# blue video made here with ffmpeg and its companion subtitle. Opened from
# the command line it plays; 播放 > 播放/暂停 (by its mnemonics) pauses it
# before the cue, where the picture must hold no subtitle pixel; Ctrl+Right
# three times seeks into the cue, where the subtitle's white pixels must be
# found on the blue picture. F9 then sets the cue's start to the playhead
# and Ctrl+S saves it, which the file must show. Screenshots land in OUT.
#
#   tests/desktop/drive_preview.sh LUMEVAL OUT
set -euo pipefail
lumeval=$(realpath "$1") out=$2
for tool in xvfb-run xdotool import convert ffmpeg; do
  command -v "$tool" >/dev/null || { echo "drive_preview.sh: $tool missing (apt-get install xvfb xauth xdotool imagemagick ffmpeg)"; exit 1; }
done
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i "color=c=blue:s=480x270:r=25:d=12" -f lavfi -i "sine=frequency=440:duration=12" \
  -c:v mpeg4 -q:v 2 -pix_fmt yuv420p -c:a aac -shortest "$work/clip.mp4"
printf '1\r\n00:00:03,000 --> 00:00:09,000\r\nSUBTITLE TEST\r\n\r\n' > "$work/clip.srt"

cat "$(dirname "$0")/lib.sh" > "$work/run.sh"
cat >> "$work/run.sh" <<'INNER'
# White pixels inside the blue picture of a screenshot.
white_in_picture() {
  local box
  box=$(convert "$1" -fuzz 20% -fill black +opaque "rgb(0,0,255)" -fill white -opaque "rgb(0,0,255)" -format "%@" info:)
  convert "$1" -crop "$box" +repage -fuzz 12% -fill black +opaque white -fill white -opaque white \
    -format "%[fx:round(mean*w*h)]" info:
}
"$lumeval" "$work/clip.mp4" > "$work/stdout" 2> "$work/stderr" &
pid=$!
wait_count '^Lumeval$' 2          # the window and the companion's character-set question
xdotool key --clearmodifiers n    # No: the text as written
wait_count '^clip.srt - Lumeval$' 1
focus_main
xdotool key --clearmodifiers alt+p   # 播放(&P)
sleep 0.7
xdotool key --clearmodifiers p       # 播放/暂停(&P)
sleep 1.5
import -window root "$out/1-paused-before-the-cue.png"
before=$(white_in_picture "$out/1-paused-before-the-cue.png")
focus_main
xdotool key --clearmodifiers ctrl+Right ctrl+Right ctrl+Right ctrl+Right
sleep 1.5
import -window root "$out/2-inside-the-cue.png"
inside=$(white_in_picture "$out/2-inside-the-cue.png")
echo "white pixels on the picture: before the cue $before, inside it $inside"
(( before < 20 )) || { echo "subtitle pixels before the cue"; exit 1; }
(( inside > 60 )) || { echo "no subtitle on the picture inside the cue"; exit 1; }
# The cue's start set to the playhead, saved in place.
focus_main
xdotool key --clearmodifiers Home F9
wait_count '^clip.srt\* - Lumeval$' 1
xdotool key --clearmodifiers ctrl+s
wait_count '^clip.srt - Lumeval$' 1
exit_by_menu
INNER
xvfb-run -a -n "$((200 + RANDOM % 700))" -s "-screen 0 1280x1024x24" bash "$work/run.sh" "$lumeval" "$work" "$out"
grep -q '^00:00:0[45],[0-9]\{3\} --> 00:00:09,000' "$work/clip.srt" ||
  { echo "the start was not set to the playhead:"; cat "$work/clip.srt"; exit 1; }
echo "drive_preview.sh: subtitle drawn on the picture at its time only, start set from the playhead and saved; screenshots in $out"
