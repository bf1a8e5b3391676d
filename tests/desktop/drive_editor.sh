#!/usr/bin/env bash
# Drives the real editor on a virtual X display as a person would: opens a
# subtitle file given on the command line, answers the character-set
# question by keyboard, opens the File menu by its mnemonic, saves through
# the menu and the save dialog, and leaves by File > Exit. Screenshots land
# in OUT for a person to look at.
#
#   tests/desktop/drive_editor.sh LUMEVAL SAMPLE OUT
set -euo pipefail
lumeval=$1 sample=$2 out=$3
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "drive_editor.sh: $tool missing (apt-get install xvfb xdotool imagemagick)"; exit 77; }
done
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$sample" "$work/movie.srt"

cat > "$work/run.sh" <<'INNER'
set -euo pipefail
lumeval=$1 work=$2 out=$3
cd "$work"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"
"$lumeval" "$work/movie.srt" > "$work/stdout" 2> "$work/stderr" &
pid=$!
win=""
for _ in $(seq 50); do
  win=$(xdotool search --name 'Lumeval' 2>/dev/null | head -1 || true)
  [[ -n "$win" ]] && break
  sleep 0.2
done
[[ -n "$win" ]] || { echo "no window"; cat "$work/stderr"; exit 1; }
sleep 1
import -window root "$out/1-question.png"
# The character-set question: N answers No.
xdotool key --clearmodifiers n
sleep 1
import -window root "$out/2-document.png"
main=$(xdotool search --name '^Lumeval$' | head -1)
xdotool windowfocus --sync "$main" 2>/dev/null || true
# Ctrl+F asks for a text and selects the first row holding it.
xdotool key --clearmodifiers ctrl+f
sleep 0.8
import -window root "$out/2b-find.png"
xdotool type --delay 20 "Bold"
xdotool key --clearmodifiers Return
sleep 0.5
import -window root "$out/2c-found.png"
main=$(xdotool search --name '^Lumeval$' | head -1)
xdotool windowfocus --sync "$main" 2>/dev/null || true
# File menu by its mnemonic, then Save (S) into the dialog: type a name, Enter.
xdotool key --clearmodifiers alt+f
sleep 0.5
import -window root "$out/3-file-menu.png"
xdotool key --clearmodifiers s
sleep 1.5
import -window root "$out/4-save-dialog.png"
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "$work/saved.ass"
xdotool key --clearmodifiers Return
sleep 1
import -window root "$out/5-saved.png"
# The "saved" information box: Return closes it.
xdotool key --clearmodifiers Return
sleep 0.5
main=$(xdotool search --name '^Lumeval$' | head -1)
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key --clearmodifiers x
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo "still running after Exit"; kill $pid; exit 1; fi
wait $pid
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/run.sh" "$lumeval" "$work" "$out"
# The saved file is real SSA that libass-based players read.
grep -q '^\[Events\]' "$work/saved.ass" || { echo "no saved file"; ls "$work"; exit 1; }
n=$(grep -c '^Dialogue:' "$work/saved.ass")
[[ $n -gt 0 ]] || { echo "saved file holds no cue"; exit 1; }
cp "$work/saved.ass" "$out/saved.ass"
echo "drive_editor.sh: saved $n cues; screenshots in $out"
