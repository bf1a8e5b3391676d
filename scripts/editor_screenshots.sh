#!/usr/bin/env bash
# Screenshots of the real editor on a virtual X display (xvfb-run), driven
# by keyboard and mouse with xdotool and taken with ImageMagick's import.
#
#   scripts/editor_screenshots.sh LUMEVAL OUT_DIR [SHOT...]
#
# SHOT is one of
#   editor        OUT_DIR/editor.png: the window with a sample open
#   side-by-side  OUT_DIR/side-by-side.png: two documents side by side
#   preview       OUT_DIR/preview.png: a video above three documents, with the seek bar
#   menu          OUT_DIR/menu.png: the right-click menu of a document
# (default: all four). The committed pictures in docs/screenshots/ come from
#   scripts/editor_screenshots.sh build/app/lumeval docs/screenshots side-by-side preview menu
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
lumeval=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
shift 2
shots=("$@")
(( ${#shots[@]} )) || shots=(editor side-by-side preview menu)
for tool in xvfb-run xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "editor_screenshots.sh: $tool missing (apt-get install xvfb xauth xdotool imagemagick)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/samples/demo.srt" "$root/samples/demo.ass" "$root/samples/demo-gbk.srt" "$work/"
if [[ " ${shots[*]} " == *" preview "* ]]; then
    # A short test picture with a tone; its companion subtitle lies next to it.
    ffmpeg -y -loglevel error -f lavfi -i testsrc=size=640x360:rate=25 -f lavfi -i sine=frequency=440 \
        -t 20 -c:v mpeg4 -q:v 5 -c:a aac -pix_fmt yuv420p "$work/movie.mp4"
    cp "$root/samples/demo.srt" "$work/movie.srt"
fi

cat > "$work/run.sh" <<'INNER'
set -euo pipefail
lumeval=$1 work=$2 out=$3
shift 3
cd "$work"
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work"
export QT_QPA_PLATFORM=xcb  # the real display, whatever the caller set
# A wider window than the first-start default (12000 x 7500 twips), so
# three documents side by side still show their text.
mkdir -p "$work/config/Varnel"
printf '[Settings]\nWindowWidth=18000\nWindowHeight=9750\n' > "$work/config/Varnel/Lumeval.conf"
count() { xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l || true; }
wait_count() {
    for _ in $(seq 150); do (( $(count "$1") >= $2 )) && return 0; sleep 0.2; done
    import -window root "${TMPDIR:-/tmp}/editor_screenshots-timeout.png"; echo "timed out waiting for a window named $1" >&2; cat "$work/stderr" >&2; exit 1
}
wait_below() {
    for _ in $(seq 150); do (( $(count "$1") < $2 )) && return 0; sleep 0.2; done
    import -window root "${TMPDIR:-/tmp}/editor_screenshots-timeout.png"; echo "timed out waiting for a window named $1 to close" >&2; exit 1
}
# The window of that name with the largest area is the main window; the
# others are its boxes.
largest_first() {
    local w X Y WIDTH HEIGHT WINDOW SCREEN
    for w in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        echo "$((WIDTH * HEIGHT)) $w"
    done | sort -rn | awk '{ print $2 }'
}
# Titled with its active file once one is read ("a.srt - Lumeval").
main_window() { largest_first ' - Lumeval$' | head -1; }
# Starts the editor on FILES and answers N character-set questions with No.
start() {
    local questions=$1 box
    shift
    "$lumeval" "$@" > "$work/stdout" 2> "$work/stderr" &
    pid=$!
    for _ in $(seq "$questions"); do
        wait_count '^Lumeval$' 2
        sleep 0.3
        box=$(largest_first '^Lumeval$' | sed -n 2p)
        # Without a window manager a box need not have the focus by itself.
        xdotool windowfocus --sync "$box" 2>/dev/null || true
        xdotool key --clearmodifiers n
        # The next question may come at once: wait for this box to go.
        for _ in $(seq 150); do
            xdotool search --onlyvisible --name '^Lumeval$' | grep -qx "$box" || break
            sleep 0.2
        done
    done
    wait_count ' - Lumeval$' 1
    sleep 0.8
}
stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
# The main window alone, as it is on the screen.
shoot_window() {
    local X Y WIDTH HEIGHT WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$(main_window)")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
}

for shot in "$@"; do
    echo "shot $shot" >&2
    case $shot in
    editor)
        rm -f "$work/config/Varnel/Lumeval.conf"  # the window as it first starts
        start 1 "$work/demo-gbk.srt"
        shoot_window "$out/editor.png"
        stop ;;
    side-by-side)
        printf '[Settings]\nWindowWidth=18000\nWindowHeight=9750\n' > "$work/config/Varnel/Lumeval.conf"
        start 2 "$work/demo-gbk.srt" "$work/demo.ass"
        shoot_window "$out/side-by-side.png"
        stop ;;
    preview)
        # Two documents, then the video: its companion opens as the third.
        start 3 "$work/demo-gbk.srt" "$work/demo.ass" "$work/movie.mp4"
        sleep 2.5
        # A click on the picture pauses it, so the position line stands still.
        eval "$(xdotool getwindowgeometry --shell "$(main_window)")"
        xdotool mousemove $((X + WIDTH / 2)) $((Y + 80)) click 1
        sleep 0.8
        shoot_window "$out/preview.png"
        stop ;;
    menu)
        start 1 "$work/demo-gbk.srt"
        eval "$(xdotool getwindowgeometry --shell "$(main_window)")"
        # A row near the top, so the long menu fits on the screen.
        xdotool mousemove $((X + 420)) $((Y + 52)) click 1
        sleep 0.3
        xdotool click 3
        sleep 1
        # The menu reaches past the window: the screen, trimmed of its black.
        import -window root "$work/root.png"
        convert "$work/root.png" -trim +repage "$out/menu.png"
        xdotool key Escape
        stop ;;
    *) echo "unknown shot $shot" >&2; exit 2 ;;
    esac
done
INNER
# A random first display number: -a alone races with other xvfb-run users.
xvfb-run -a -n "$((200 + RANDOM % 700))" -s "-screen 0 1280x1000x24" bash "$work/run.sh" "$lumeval" "$work" "$out" "${shots[@]}"
for shot in "${shots[@]}"; do echo "$out/$shot.png"; done
