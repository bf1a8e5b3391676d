#!/usr/bin/env bash
# Drives the real editor on a virtual X display as a person would, to save
# in place and to come back after a crash: opens an SSA script, edits a
# text by keyboard and saves with Ctrl+S (the file must differ from the
# original in that one line only), edits again, is killed with kill -9 once
# its backup is written, starts again, answers the recovery question with
# Yes, saves with Ctrl+S, and leaves by File > Exit. Screenshots land in OUT.
#
#   tests/desktop/drive_saving.sh LUMEVAL SCRIPT OUT
set -euo pipefail
lumeval=$1 script=$2 out=$3
for tool in xvfb-run xdotool import diff; do
  command -v "$tool" >/dev/null || { echo "drive_saving.sh: $tool missing (apt-get install xvfb xauth xdotool imagemagick)"; exit 1; }
done
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$script" "$work/film.ass"
cp "$script" "$work/original.ass"

cat "$(dirname "$0")/lib.sh" > "$work/run.sh"
cat >> "$work/run.sh" <<'INNER'
edit_text() {  # KEYS-TO-THE-ROW TEXT: the row's text typed anew, Enter
  focus_main
  xdotool key --clearmodifiers $1
  sleep 0.3
  xdotool key --clearmodifiers F2
  sleep 0.4
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 "$2"
  xdotool key --clearmodifiers Return
  sleep 0.3
}

"$lumeval" "$work/film.ass" > "$work/stdout" 2> "$work/stderr" &
pid=$!
wait_count '^Lumeval$' 2          # the window and the character-set question
xdotool key --clearmodifiers n    # No: the text as written
wait_count '^film.ass - Lumeval$' 1
sleep 0.5
edit_text "Home" "saved in place"
wait_count '^film.ass\* - Lumeval$' 1
xdotool key --clearmodifiers ctrl+s
wait_count '^film.ass - Lumeval$' 1
import -window root "$out/1-saved-in-place.png"
cp "$work/film.ass" "$work/after-save.ass"

# A second edit, its backup written (two seconds after the change), then
# the program is killed as a crash would end it.
edit_text "Home Down Down" "kept through a crash"
wait_count '^film.ass\* - Lumeval$' 1
for _ in $(seq 50); do compgen -G "$work/state/lumeval/recovery/*/*.backup" >/dev/null && break; sleep 0.2; done
compgen -G "$work/state/lumeval/recovery/*/*.backup" >/dev/null || { echo "no backup was written"; exit 1; }
import -window root "$out/2-before-the-crash.png"
kill -9 "$pid"
wait "$pid" 2>/dev/null || true

"$lumeval" > "$work/stdout2" 2> "$work/stderr" &
pid=$!
wait_count '^Lumeval$' 2          # the window and the recovery question
import -window root "$out/3-recovery-question.png"
xdotool key --clearmodifiers y    # Yes: the work comes back, changed
wait_count '^film.ass\* - Lumeval$' 1
sleep 0.5
import -window root "$out/4-recovered.png"
focus_main
xdotool key --clearmodifiers ctrl+s
wait_count '^film.ass - Lumeval$' 1
exit_by_menu
# Nothing is left to recover once the work is saved and the program left.
! compgen -G "$work/state/lumeval/recovery/*/*.backup" >/dev/null || { echo "a backup outlived the save"; exit 1; }
INNER
xvfb-run -a -n "$((200 + RANDOM % 700))" -s "-screen 0 1024x768x24" bash "$work/run.sh" "$lumeval" "$work" "$out"

# Saved in place: one line differs from the original, and only in its text.
changed=$({ diff "$work/original.ass" "$work/after-save.ass" || true; } | grep -c '^[<>]' || true)
[[ $changed -eq 2 ]] || { echo "expected one changed line after Ctrl+S:"; diff "$work/original.ass" "$work/after-save.ass"; exit 1; }
{ diff "$work/original.ass" "$work/after-save.ass" || true; } | grep -q $'^> Dialogue: 0,0:00:01.00,0:00:03.20,Default,,0,0,0,,saved in place\r\\?$' ||
  { echo "the edited line is not what was typed:"; diff "$work/original.ass" "$work/after-save.ass"; exit 1; }
# After the crash and the recovery: both edits, nothing else changed.
changed=$({ diff "$work/original.ass" "$work/film.ass" || true; } | grep -c '^[<>]' || true)
[[ $changed -eq 4 ]] || { echo "expected two changed lines after the recovery:"; diff "$work/original.ass" "$work/film.ass"; exit 1; }
grep -q $'^Dialogue: 0,0:00:05.40,0:00:07.80,Default,,0,0,0,,kept through a crash\r\\?$' "$work/film.ass" ||
  { echo "the recovered edit was not saved:"; diff "$work/original.ass" "$work/film.ass"; exit 1; }
cp "$work/film.ass" "$out/film.ass"
echo "drive_saving.sh: saved in place, recovered after kill -9 and saved again; screenshots in $out"
