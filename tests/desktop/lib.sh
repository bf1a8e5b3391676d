# Shared by the desktop drives: run inside xvfb-run with LUMEVAL, WORK and
# OUT as $1 to $3. The editor runs on the virtual display with its settings
# and crash backups in WORK; waits poll for up to 60 s, so a slow or busy
# machine (or a sanitizer build) only takes longer.
set -euo pipefail
lumeval=$1 work=$2 out=$3
cd "$work"
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work"
# The real display, whatever the caller's environment says (a test run that
# sets the offscreen platform for the widget tests would hide every window).
export QT_QPA_PLATFORM=xcb
pid=
# Visible windows whose name matches.
count() { xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l || true; }
wait_count() {  # PATTERN N: at least N such windows
  for _ in $(seq 300); do (( $(count "$1") >= $2 )) && return 0; sleep 0.2; done
  import -window root "$out/timeout.png"; echo "timed out waiting for $2 window(s) named $1"
  if [[ -n "$pid" ]]; then kill -0 "$pid" 2>/dev/null && echo "the editor is still running" || echo "the editor is gone"; fi
  echo "its standard error:"; cat "$work/stderr"; exit 1
}
wait_below() {  # PATTERN N: fewer than N such windows
  for _ in $(seq 300); do (( $(count "$1") < $2 )) && return 0; sleep 0.2; done
  import -window root "$out/timeout.png"; echo "timed out waiting for a window named $1 to close"; exit 1
}
# A window that closes while xdotool looks at it ends the search with an X
# error (BadWindow); the search is tried again rather than ending the drive.
focus_main() {
  local main=
  for _ in 1 2 3 4 5; do
    main=$(xdotool search --onlyvisible --name ' - Lumeval$' 2>/dev/null | head -1) && [[ -n "$main" ]] && break
    sleep 0.2
  done
  [[ -n "$main" ]] && xdotool windowfocus --sync "$main" 2>/dev/null || true
}
# File > Exit by its mnemonics; the editor must be gone within 30 s.
exit_by_menu() {
  focus_main
  xdotool key --clearmodifiers alt+f
  sleep 0.7
  xdotool key --clearmodifiers x
  for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$pid" 2>/dev/null; then echo "still running after Exit"; kill "$pid"; exit 1; fi
  wait "$pid"
}
