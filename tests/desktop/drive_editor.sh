#!/usr/bin/env bash
# Drives the real editor on a virtual X display as a person would: opens a
# subtitle file given on the command line, answers the character-set
# question by keyboard, finds with Ctrl+F, opens the File menu by its
# mnemonic, saves through the menu and the save dialog (a typed path and
# Enter), opens and closes About, Find and Select and both open dialogs
# through their mnemonics, and leaves by File > Exit. The saved file must be
# byte for byte what lumeval-convert writes for the same rows. Screenshots
# land in OUT for a person to look at.
#
#   tests/desktop/drive_editor.sh LUMEVAL SAMPLE OUT [LUMEVAL_CONVERT]
set -euo pipefail
lumeval=$1 sample=$2 out=$3 convert=${4:-}
# No display is needed (xvfb-run makes one), but the tools are: their
# absence is a failure, never a skip.
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "drive_editor.sh: $tool missing (apt-get install xvfb xauth xdotool imagemagick)"; exit 1; }
done
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$sample" "$work/movie.srt"

cat "$(dirname "$0")/lib.sh" > "$work/run.sh"
cat >> "$work/run.sh" <<'INNER'
"$lumeval" "$work/movie.srt" > "$work/stdout" 2> "$work/stderr" &
pid=$!
# The window and the character-set question (titled with the program's name).
wait_count '^Lumeval$' 2
sleep 0.5
import -window root "$out/1-question.png"
# N answers No.
xdotool key --clearmodifiers n
# Once read, the window is titled with the file's name.
wait_count '^movie.srt - Lumeval$' 1
sleep 0.5
import -window root "$out/2-document.png"
focus_main
# Ctrl+F asks for a text and selects the first row holding it.
xdotool key --clearmodifiers ctrl+f
wait_count '^查找$' 1
import -window root "$out/2b-find.png"
xdotool type --delay 20 "Bold"
xdotool key --clearmodifiers Return
wait_below '^查找$' 1
sleep 0.3
import -window root "$out/2c-found.png"
focus_main
# File menu by its mnemonic, then Save (S) into the dialog: type a path,
# Enter; the "saved" information box (titled with the program's name) is
# closed by Return. SAVE PATH SHOT-PREFIX
# The file dialogs' own titles: Qt's, in Chinese when its translations are
# installed (qt6-translations-l10n), else in English.
save_title='^(另存为|Save As)$' open_title='^(打开|Open)$'
save_as() {
  xdotool key --clearmodifiers alt+f
  sleep 0.7
  [[ -n "$2" ]] && import -window root "$out/$2-file-menu.png"
  xdotool key --clearmodifiers s
  wait_count "$save_title" 1
  sleep 0.5
  [[ -n "$2" ]] && import -window root "$out/$2-save-dialog.png"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 "$1"
  xdotool key --clearmodifiers Return
  wait_below "$save_title" 1
  wait_count '^Lumeval$' 1
  [[ -n "$2" ]] && import -window root "$out/$2-saved.png"
  xdotool key --clearmodifiers Return
  wait_below '^Lumeval$' 1
}
save_as "$work/editor.ass" 3
# Editing by keyboard: the focused row's text (F2, a new text, Enter), undo
# and redo, then a cue inserted after it with its text typed at once.
focus_main
xdotool key --clearmodifiers F2
sleep 0.5
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "edited by keyboard"
xdotool key --clearmodifiers Return
sleep 0.3
xdotool key --clearmodifiers ctrl+z
sleep 0.3
xdotool key --clearmodifiers ctrl+y
sleep 0.3
xdotool key --clearmodifiers Insert
sleep 0.5
xdotool type --delay 20 "inserted by keyboard"
xdotool key --clearmodifiers Return
sleep 0.3
# A time by keyboard: Left moves from the text to the end cell.
xdotool key --clearmodifiers Left
xdotool key --clearmodifiers F2
sleep 0.3
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "00:00:15,400"
xdotool key --clearmodifiers Return
sleep 0.3
# The last cue deleted, the fourth split at its line break, the first two joined.
xdotool key --clearmodifiers End
sleep 0.2
xdotool key --clearmodifiers Delete
sleep 0.3
xdotool key --clearmodifiers Home Down Down Down
sleep 0.2
xdotool key --clearmodifiers ctrl+k
sleep 0.3
xdotool key --clearmodifiers Home shift+Down
sleep 0.2
xdotool key --clearmodifiers ctrl+j
sleep 0.3
# Saved as editor.ass, the document is that file now: its name, changed.
wait_count '^editor.ass\* - Lumeval$' 1
import -window root "$out/5b-edited.png"
save_as "$work/edited.srt" ""
# Saved as edited.srt: the title names it, without the mark.
wait_count '^edited.srt - Lumeval$' 1
# The other menus by their mnemonics; the keyboard closes what each opens.
menu() {  # MENU-KEY ITEM-KEY WINDOW-NAME COUNT CLOSE-KEY SHOT
  focus_main
  xdotool key --clearmodifiers "$1"
  sleep 0.7
  xdotool key --clearmodifiers "$2"
  wait_count "$3" "$4"
  sleep 0.3
  import -window root "$out/$6.png"
  xdotool key --clearmodifiers "$5"
  wait_below "$3" "$4"
}
menu alt+h a '^关于$' 1 Escape 6-about               # Help > About; Escape is No
menu alt+e s '^Lumeval$' 1 Return 7-find-all       # Edit > Find and Select: the count box
menu alt+f o "$open_title" 1 Escape 8-open-dialog        # File > Open Subtitle
menu alt+f v "$open_title" 1 Escape 9-open-video         # File > Open Video
exit_by_menu
INNER
# A random first display number: -a alone races with other xvfb-run users.
xvfb-run -a -n "$((200 + RANDOM % 700))" -s "-screen 0 1024x768x24" bash "$work/run.sh" "$lumeval" "$work" "$out"
# The saved file is real SSA that libass-based players read.
grep -q '^\[Events\]' "$work/editor.ass" || { echo "no saved file"; ls "$work"; exit 1; }
n=$(grep -c '^Dialogue:' "$work/editor.ass")
[[ $n -gt 0 ]] || { echo "saved file holds no cue"; exit 1; }
cp "$work/editor.ass" "$out/editor.ass"
# What was typed is what was saved: the edited text once (undo then redo),
# and the inserted cue.
edited=$(iconv -f gbk -t utf-8 "$work/edited.srt" 2>/dev/null || cat "$work/edited.srt")
grep -q 'edited by keyboard' <<<"$edited" || { echo "the edited text was not saved"; echo "$edited" | head -20; exit 1; }
grep -q 'inserted by keyboard' <<<"$edited" || { echo "the inserted cue was not saved"; echo "$edited" | head -20; exit 1; }
[[ $(grep -c 'by keyboard' <<<"$edited") -eq 2 ]] || { echo "the edits were saved more than once"; exit 1; }
# Each keyboard edit is in the file as it was made.
expect_block() {  # TIME-LINE TEXT...: a cue with this time line and these text lines
  local block
  block=$(printf '%s\n' "$@")
  grep -qF -- "$block" <<<"$(tr -d '\r' <<<"$edited")" || {
    echo "expected this cue in the saved file:"; echo "$block"; echo "saved:"; echo "$edited"; exit 1; }
}
expect_block "00:00:01,000 --> 00:00:05,000" "你好，世界！" "Hello, world!" "<i>这是一个演示字幕。</i>"
expect_block "00:00:08,000 --> 00:00:09,250" "第一行"
expect_block "00:00:09,250 --> 00:00:10,500" "第二行"
expect_block "00:00:15,000 --> 00:00:15,400" "inserted by keyboard"
! grep -q '再见' <<<"$edited" || { echo "the deleted cue was saved"; exit 1; }
[[ $(grep -c -- '-->' <<<"$edited") -eq 7 ]] || { echo "expected 7 cues after the edits"; echo "$edited"; exit 1; }
if [[ -n "$convert" ]]; then
  # The sample's rows fit GBK, so the editor saved in ANSI: the converter
  # writes the same file when asked for ANSI.
  "$convert" "$work/movie.srt" -o "$work/converted.ass" --encoding ansi --overwrite --quiet --no-progress
  if ! cmp "$work/converted.ass" "$work/editor.ass"; then
    echo "the editor's file differs from lumeval-convert's:"
    diff <(iconv -f gbk -t utf-8 "$work/converted.ass") <(iconv -f gbk -t utf-8 "$work/editor.ass") || true
    exit 1
  fi
  echo "drive_editor.sh: the saved file equals lumeval-convert's output"
fi
echo "drive_editor.sh: saved $n cues; screenshots in $out"
