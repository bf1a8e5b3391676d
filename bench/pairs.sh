#!/usr/bin/env bash
# Times lumeval-convert and ffmpeg on the same SubRip file to ASS, in pairs
# run back to back, so that every pair sees the same machine state; prints
# one Markdown row per pair and the ratio of ffmpeg's wall clock to ours.
#
#   bench/pairs.sh [PAIRS] [CUES]     default: 10 pairs, 200000 cues
#
# Environment: LUMEVAL_BUILD (default <root>/build), LUMEVAL_CONVERT,
# LUMEVAL_GEN_SRT, FFMPEG, LUMEVAL_BENCH_DIR (default a fresh folder under
# /dev/shm), LUMEVAL_PAIRS_ENCODING (an iconv encoding such as GBK: the
# input is saved in it first, to time the reading of a legacy file).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMEVAL_BUILD:-$root/build}"
convert="${LUMEVAL_CONVERT:-$build/cli/lumeval-convert}"
gen="${LUMEVAL_GEN_SRT:-$build/bench/lumeval-gen-srt}"
ffmpeg="${FFMPEG:-ffmpeg}"
pairs="${1:-10}"
cues="${2:-200000}"
timer=/usr/bin/time

die() { echo "pairs.sh: $*" >&2; exit 1; }
for tool in "$convert" "$gen"; do [[ -x "$tool" ]] || die "$tool not found; build first"; done
[[ -x "$timer" ]] || die "$timer (GNU time) is needed"
command -v "$ffmpeg" >/dev/null 2>&1 || die "ffmpeg not found"

if [[ -n "${LUMEVAL_BENCH_DIR:-}" ]]; then
  work="$LUMEVAL_BENCH_DIR"; mkdir -p "$work"
else
  base=/tmp; [[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
  work="$(mktemp -d "$base/lumeval-pairs.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
fi
"$gen" "$cues" "$work/in.srt" >/dev/null
if [[ -n "${LUMEVAL_PAIRS_ENCODING:-}" ]]; then
  iconv -f UTF-8 -t "$LUMEVAL_PAIRS_ENCODING" "$work/in.srt" > "$work/legacy.srt"
  mv "$work/legacy.srt" "$work/in.srt"
fi

# run NAME CMD...: one timed run; sets wall, usr, sys, peak (MiB), faults.
run() {
  local log="$work/time.log"; shift
  sync
  local t0="$EPOCHREALTIME"
  "$timer" -v -o "$log" "$@" >/dev/null 2>"$work/err.log" || { cat "$work/err.log" >&2; die "failed: $*"; }
  local t1="$EPOCHREALTIME"
  wall="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')"
  usr="$(awk -F': ' '/User time \(seconds\)/ { print $2 }' "$log")"
  sys="$(awk -F': ' '/System time \(seconds\)/ { print $2 }' "$log")"
  peak="$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$log")"
  faults="$(awk -F': ' '/Minor \(reclaiming a frame\) page faults/ { print $2 }' "$log")"
}

# Memory the kernel handed back to its host (a virtual machine with free
# page reporting): what it gave back since our previous run ended is memory
# our next run may have to fault in from the host. Empty elsewhere.
reported_file=/sys/module/page_reporting/parameters/reported_kib
reported() { [[ -r "$reported_file" ]] && cat "$reported_file" || echo 0; }

ours=(run ours "$convert" "$work/in.srt" -o "$work/ours.ass" --overwrite)
theirs=(run ffmpeg "$ffmpeg" -nostdin -loglevel error -y -i "$work/in.srt" "$work/ffmpeg.ass")
"${ours[@]}"; "${theirs[@]}"  # first runs after the file was written are slower

echo "$(nproc) cores, $(awk '{ print $1, $2, $3 }' /proc/loadavg) load; $cues cues, $(stat -c %s "$work/in.srt") bytes"
echo
echo "| Pair | Ours (s) | User | System | Peak (MiB) | Minor faults | ffmpeg (s) | User | System | Peak (MiB) | Ratio | Handed back before ours (MiB) |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
after_ours="$(reported)"
ratios=()
for ((i = 1; i <= pairs; i++)); do
  back=$(( ($(reported) - after_ours) / 1024 ))
  "${ours[@]}"; o=("$wall" "$usr" "$sys" "$peak" "$faults")
  after_ours="$(reported)"
  "${theirs[@]}"; f=("$wall" "$usr" "$sys" "$peak")
  ratio="$(awk -v a="${o[0]}" -v b="${f[0]}" 'BEGIN { printf "%.1f", b / a }')"
  ratios+=("$ratio")
  echo "| $i | ${o[0]} | ${o[1]} | ${o[2]} | ${o[3]} | ${o[4]} | ${f[0]} | ${f[1]} | ${f[2]} | ${f[3]} | ${ratio}x | $back |"
done
echo
printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 } END {
  printf "ratio: lowest %.1fx, median %.1fx, highest %.1fx\n", r[1], r[int((NR + 1) / 2)], r[NR] }'
