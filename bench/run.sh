#!/usr/bin/env bash
# Benchmarks lumeval-convert against ffmpeg on generated SubRip and LRC files
# and times the post-processing stages; prints a Markdown report on standard
# output.
#
#   bench/run.sh [N ...]          cue counts, default: 200000 1000000
#
# The first N is the reference size: the converter is timed there with each
# output encoding, and the scaling of every later N is compared with it.
#
# Environment:
#   LUMEVAL_BUILD        build folder (default: <root>/build)
#   LUMEVAL_CONVERT      converter to time (default: $LUMEVAL_BUILD/cli/lumeval-convert)
#   LUMEVAL_CONVERT_BEFORE  an earlier converter, timed on the same files right
#                        after each converter case, so a change is judged
#                        before and after in one run on one machine state
#   LUMEVAL_GEN_SRT      generator (default: $LUMEVAL_BUILD/bench/lumeval-gen-srt)
#   LUMEVAL_GEN_LRC      lyric generator (default: $LUMEVAL_BUILD/bench/lumeval-gen-lrc)
#   LUMEVAL_BENCH_MERGE  stage timer (default: $LUMEVAL_BUILD/bench/lumeval-bench-merge)
#   LUMEVAL_BENCH_DIR    work folder for the generated files (default: a fresh
#                        folder under /dev/shm, or /tmp when memory is short,
#                        removed at the end)
#   LUMEVAL_BENCH_REPEAT runs per case, the median is reported (default: 3)
#   FFMPEG               ffmpeg to compare with (default: ffmpeg on PATH)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMEVAL_BUILD:-$root/build}"
convert="${LUMEVAL_CONVERT:-$build/cli/lumeval-convert}"
gen="${LUMEVAL_GEN_SRT:-$build/bench/lumeval-gen-srt}"
gen_lrc="${LUMEVAL_GEN_LRC:-$build/bench/lumeval-gen-lrc}"
merge="${LUMEVAL_BENCH_MERGE:-$build/bench/lumeval-bench-merge}"
ffmpeg="${FFMPEG:-ffmpeg}"
before="${LUMEVAL_CONVERT_BEFORE:-}"
repeat="${LUMEVAL_BENCH_REPEAT:-3}"
timer=/usr/bin/time
# ffmpeg is timed on the larger files only when it should finish within this.
ffmpeg_budget_s=60

sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(200000 1000000)

die() { echo "run.sh: $*" >&2; exit 1; }
for tool in "$convert" "$gen" "$gen_lrc" "$merge"; do
  [[ -x "$tool" ]] || die "$tool not found; build first (see docs/BENCHMARKS.md) or set LUMEVAL_BUILD"
done
[[ -x "$timer" ]] || die "$timer (GNU time) is needed for wall clock and peak memory"
have_ffmpeg=1
command -v "$ffmpeg" >/dev/null 2>&1 || have_ffmpeg=0

# The files go to memory (/dev/shm) when it has room: on a virtual disk the
# write-back of an 80 MB output varies by a factor of two from run to run,
# which would measure the disk rather than the programs.
if [[ -n "${LUMEVAL_BENCH_DIR:-}" ]]; then
  work="$LUMEVAL_BENCH_DIR"
  mkdir -p "$work"
else
  base=/tmp
  if [[ -d /dev/shm && -w /dev/shm ]] &&
     (( $(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 2 * 1024 * 1024 )); then
    base=/dev/shm
  fi
  work="$(mktemp -d "$base/lumeval-bench.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
fi
echo "work folder: $work" >&2

# Without --overwrite the converter would pick out(1).srt, out(2).ass, ...
# on repeated runs; an older converter without the flag gets its output
# removed before each run instead (outside the timing).
overwrite=()
if "$convert" --help 2>/dev/null | grep -q -- '--overwrite'; then
  overwrite=(--overwrite)
fi

# measure NAME CMD...: runs CMD once untimed (the first run after a file was
# written is consistently slower), then $repeat times under GNU time; sets
# wall_s and rss_mb to the medians. A failing run aborts the benchmark.
measure() {
  local name="$1"; shift
  local walls=() rsss=() usrs=() syss=() faults=() log="$work/time.log" i
  [[ ${#overwrite[@]} -gt 0 ]] || rm -f "$work/out.srt" "$work/out.ass" "$work/out.vtt"
  "$@" >/dev/null 2>&1 || true
  for ((i = 0; i < repeat; i++)); do
    [[ ${#overwrite[@]} -gt 0 ]] || rm -f "$work/out.srt" "$work/out.ass" "$work/out.vtt"
    # Flush what earlier steps wrote (the generated input, the last output),
    # so that no run pays for another's write-back.
    sync
    # The wall clock comes from the shell, to the microsecond: GNU time's
    # hundredths are a tenth of a 200,000-cue run.
    local t0="$EPOCHREALTIME"
    if ! "$timer" -v -o "$log" "$@" >/dev/null 2>"$work/err.log"; then
      cat "$work/err.log" >&2
      die "$name failed: $*"
    fi
    local t1="$EPOCHREALTIME"
    walls+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
    rsss+=("$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$log")")
    usrs+=("$(awk -F': ' '/User time \(seconds\)/ { print $2 }' "$log")")
    syss+=("$(awk -F': ' '/System time \(seconds\)/ { print $2 }' "$log")")
    faults+=("$(awk -F': ' '/Minor \(reclaiming a frame\) page faults/ { print $2 }' "$log")")
  done
  usr_s="$(median "${usrs[@]}")"
  sys_s="$(median "${syss[@]}")"
  minflt="$(median "${faults[@]}")"
  wall_s="$(printf '%s\n' "${walls[@]}" | sort -g | awk -v n="$repeat" 'NR == int((n + 1) / 2)')"
  rss_mb="$(printf '%s\n' "${rsss[@]}" | sort -g | awk -v n="$repeat" 'NR == int((n + 1) / 2)')"
  echo "  $name: wall ${walls[*]} s, user ${usrs[*]} s, system ${syss[*]} s, peak ${rsss[*]} MB, minor faults ${faults[*]}" >&2
}

median() { printf '%s\n' "$@" | sort -g | awk -v n="$#" 'NR == int((n + 1) / 2)'; }

# also_before LAYOUT LABEL N SIZE OUT CMD-ARGS...: the case just measured,
# again with the earlier converter; its row and the change go to the report.
# wall_s and rss_mb keep the current converter's figures.
changes=()
also_before() {
  local layout="$1" label="$2" n="$3" size="$4" out="$5"; shift 5
  [[ -n "$before" ]] || return 0
  local now_wall="$wall_s" now_rss="$rss_mb"
  measure "before: $label $layout/$n" "$before" "$@"
  expect_cues "$out" "$n" "before: $label $layout/$n"
  row "$layout" "$label (before)" "$n" "$size" "$wall_s" "$rss_mb"
  changes+=("| $layout | $label | $n | $wall_s | $now_wall | $(awk -v a="$now_wall" -v b="$wall_s" \
    'BEGIN { if (b > 0) printf "%+.0f%%", (a / b - 1) * 100; else printf "n/a" }') | $rss_mb | $now_rss |")
  wall_s="$now_wall"; rss_mb="$now_rss"
}

rows=()
row() {  # layout, case, cues, input MB, wall s, rss MB; user, system and faults of the last measure
  rows+=("| $1 | $2 | $3 | $4 | $5 | ${usr_s:-} | ${sys_s:-} | $6 | ${minflt:-} |")
}
mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1048576 }'; }
dialogues() { grep -c '^Dialogue:' "$1" || true; }
# cues FILE: the cues a timed output holds: Dialogue lines of SSA/ASS, timing
# lines of SubRip and WebVTT.
cues() {
  case "$1" in
    *.ass | *.ssa) dialogues "$1" ;;
    *) grep -c -- '-->' "$1" || true ;;
  esac
}
# expect_cues FILE N WHO: a timed output that lacks cues did less work than
# the others; its time would mislead, so the benchmark stops.
expect_cues() {
  local got
  [[ -s "$1" ]] || die "$3 wrote no output ($1)"
  got="$(cues "$1")"
  [[ "$got" == "$2" ]] || die "$3 wrote $got cues to $(basename "$1"), expected $2"
  echo "  $3: $got cues, as expected" >&2
}

# ff_in_budget WALLS N: whether ffmpeg should finish N cues of $layout within
# $ffmpeg_budget_s, estimated linearly from its time at the reference size in
# the array named WALLS (always true at the reference size, or without one).
ff_in_budget() {
  local -n ref_walls="$1"
  [[ "$2" != "$ref" && -n "${ref_walls[$layout/$ref]:-}" ]] || return 0
  awk -v t="${ref_walls[$layout/$ref]}" -v n="$2" -v r="$ref" -v b="$ffmpeg_budget_s" \
    'BEGIN { exit !(t * n / r < b) }'
}

declare -A conv_wall conv_rss ff_wall ff_rss ass_wall ass_rss ffass_wall ffass_rss
declare -A vtt_wall vtt_rss ffvtt_wall ffvtt_rss
# SRT to ASS is measured once the converter can write ASS; SRT to VTT once it
# can write WebVTT.
have_ass=0
if "$convert" --list-formats 2>/dev/null | awk -F'\t' '$1 == "ass" && $5 == "yes" { f = 1 } END { exit !f }'; then
  have_ass=1
fi
have_vtt=0
if "$convert" --list-formats 2>/dev/null | awk -F'\t' '$1 == "vtt" && $5 == "yes" { f = 1 } END { exit !f }'; then
  have_vtt=1
fi
ref="${sizes[0]}"

# Two layouts of the same cues. "short": every time shrunk below 100 hours,
# as in any real file; the line table's fixed-width time form holds
# throughout. "long": about 3.3 s per cue, so hours reach three digits near
# cue 110,000 and the times leave that form (slower to read, and string order
# is no longer time order). The targets are judged on both.
layouts=(short long)
declare -A layout_flags=([short]="--max-hours 99" [long]="")

for layout in "${layouts[@]}"; do
  read -r -a flags <<<"${layout_flags[$layout]}"
  for n in "${sizes[@]}"; do
    key="$layout/$n"
    src="$work/big-$n.srt"
    echo "generating $n cues ($layout)" >&2
    "$gen" "$n" "$src" --seed 1 "${flags[@]}"
    size="$(mb "$src")"

    measure "lumeval-convert $key" "$convert" "$src" -o "$work/out.srt" "${overwrite[@]}" \
      --no-progress --quiet
    expect_cues "$work/out.srt" "$n" "lumeval-convert $key"
    also_before "$layout" "lumeval-convert srt->srt" "$n" "$size" "$work/out.srt" \
      "$src" -o "$work/out.srt" "${overwrite[@]}" --no-progress --quiet
    conv_wall[$key]="$wall_s"; conv_rss[$key]="$rss_mb"
    row "$layout" "lumeval-convert (default encoding)" "$n" "$size" "$wall_s" "$rss_mb"

    if [[ $have_ass == 1 ]]; then
      measure "lumeval-convert ->ass $key" "$convert" "$src" -o "$work/out.ass" \
        "${overwrite[@]}" --no-progress --quiet
      expect_cues "$work/out.ass" "$n" "lumeval-convert ->ass $key"
      also_before "$layout" "lumeval-convert srt->ass" "$n" "$size" "$work/out.ass" \
        "$src" -o "$work/out.ass" "${overwrite[@]}" --no-progress --quiet
      ass_wall[$key]="$wall_s"; ass_rss[$key]="$rss_mb"
      row "$layout" "lumeval-convert srt->ass" "$n" "$size" "$wall_s" "$rss_mb"
    fi

    if [[ $have_vtt == 1 ]]; then
      measure "lumeval-convert ->vtt $key" "$convert" "$src" -o "$work/out.vtt" \
        "${overwrite[@]}" --no-progress --quiet
      expect_cues "$work/out.vtt" "$n" "lumeval-convert ->vtt $key"
      if "$before" --list-formats 2>/dev/null | awk -F'\t' '$1 == "vtt" && $5 == "yes" { f = 1 } END { exit !f }'; then
        also_before "$layout" "lumeval-convert srt->vtt" "$n" "$size" "$work/out.vtt" \
          "$src" -o "$work/out.vtt" "${overwrite[@]}" --no-progress --quiet
      fi
      vtt_wall[$key]="$wall_s"; vtt_rss[$key]="$rss_mb"
      row "$layout" "lumeval-convert srt->vtt" "$n" "$size" "$wall_s" "$rss_mb"
    fi

    if [[ "$n" == "$ref" && "$layout" == short ]]; then
      for enc in utf8 ansi; do
        measure "lumeval-convert --encoding $enc $key" "$convert" "$src" -o "$work/out.srt" \
          "${overwrite[@]}" --no-progress --quiet --encoding "$enc"
        [[ "$enc" == ansi ]] || expect_cues "$work/out.srt" "$n" "lumeval-convert --encoding $enc"
        row "$layout" "lumeval-convert --encoding $enc" "$n" "$size" "$wall_s" "$rss_mb"
      done
    fi

    if [[ $have_ffmpeg == 1 ]]; then
      if ff_in_budget ff_wall "$n"; then
        measure "ffmpeg $key" "$ffmpeg" -y -loglevel error -i "$src" "$work/ff.srt"
        expect_cues "$work/ff.srt" "$n" "ffmpeg $key"
        ff_wall[$key]="$wall_s"; ff_rss[$key]="$rss_mb"
        row "$layout" "ffmpeg srt->srt" "$n" "$size" "$wall_s" "$rss_mb"
        if [[ $have_ass == 1 ]]; then
          measure "ffmpeg ->ass $key" "$ffmpeg" -y -loglevel error -i "$src" "$work/ff.ass"
          expect_cues "$work/ff.ass" "$n" "ffmpeg ->ass $key"
          ffass_wall[$key]="$wall_s"; ffass_rss[$key]="$rss_mb"
          row "$layout" "ffmpeg srt->ass" "$n" "$size" "$wall_s" "$rss_mb"
        fi
        if [[ $have_vtt == 1 ]]; then
          measure "ffmpeg ->vtt $key" "$ffmpeg" -y -loglevel error -i "$src" "$work/ff.vtt"
          expect_cues "$work/ff.vtt" "$n" "ffmpeg ->vtt $key"
          ffvtt_wall[$key]="$wall_s"; ffvtt_rss[$key]="$rss_mb"
          row "$layout" "ffmpeg srt->vtt" "$n" "$size" "$wall_s" "$rss_mb"
        fi
      else
        echo "  ffmpeg $key: skipped (estimated over ${ffmpeg_budget_s} s)" >&2
      fi
    fi
    rm -f "$src" "$work/out.srt" "$work/ff.srt" "$work/out.ass" "$work/ff.ass" "$work/out.vtt" \
      "$work/ff.vtt"
  done
done

# LRC to ASS, on lyric files with as many lines as cues above. LRC has no hour
# field and the lines start about 3.7 s apart, so the minutes pass 99 within
# the first 2,000 lines: these are the times of the long layout. Both programs
# must exit 0 (measure aborts otherwise) and write a file; the Dialogue lines
# are counted, since a converter that drops lines is not doing the same work.
declare -A lrc_wall lrc_rss fflrc_wall fflrc_rss lrc_lines fflrc_lines
have_lrc=0
if [[ $have_ass == 1 ]] &&
   "$convert" --list-formats 2>/dev/null | awk -F'\t' '$1 == "lrc" && $4 == "yes" { f = 1 } END { exit !f }'; then
  have_lrc=1
fi
if [[ $have_lrc == 1 ]]; then
  layout=long
  for n in "${sizes[@]}"; do
    key="$layout/$n"
    src="$work/big-$n.lrc"
    echo "generating $n lyric lines" >&2
    "$gen_lrc" "$n" "$src" --seed 1
    size="$(mb "$src")"

    measure "lumeval-convert lrc->ass $key" "$convert" "$src" -o "$work/out.ass" \
      "${overwrite[@]}" --no-progress --quiet
    expect_cues "$work/out.ass" "$n" "lumeval-convert lrc->ass $key"
    also_before "$layout" "lumeval-convert lrc->ass" "$n" "$size" "$work/out.ass" \
      "$src" -o "$work/out.ass" "${overwrite[@]}" --no-progress --quiet
    lrc_wall[$key]="$wall_s"; lrc_rss[$key]="$rss_mb"
    lrc_lines[$key]="$(dialogues "$work/out.ass")"
    row "$layout" "lumeval-convert lrc->ass" "$n" "$size" "$wall_s" "$rss_mb"

    if [[ $have_ffmpeg == 1 ]]; then
      if ff_in_budget fflrc_wall "$n"; then
        measure "ffmpeg lrc->ass $key" "$ffmpeg" -y -loglevel error -i "$src" "$work/ff.ass"
        [[ -s "$work/ff.ass" ]] || die "ffmpeg wrote no output for lrc->ass $key"
        fflrc_wall[$key]="$wall_s"; fflrc_rss[$key]="$rss_mb"
        fflrc_lines[$key]="$(dialogues "$work/ff.ass")"
        row "$layout" "ffmpeg lrc->ass" "$n" "$size" "$wall_s" "$rss_mb"
      else
        echo "  ffmpeg lrc->ass $key: skipped (estimated over ${ffmpeg_budget_s} s)" >&2
      fi
    fi
    echo "  lrc->ass $key: Dialogue lines: lumeval-convert ${lrc_lines[$key]}," \
      "ffmpeg ${fflrc_lines[$key]:-not run}" >&2
    rm -f "$src" "$work/out.ass" "$work/ff.ass"
  done
fi

# Merging at converter level: every second cue shares its span with the one before.
echo "generating $ref cues with shared spans" >&2
shared="$work/shared-$ref.srt"
"$gen" "$ref" "$shared" --seed 1 --shared-spans --max-hours 99
measure "lumeval-convert --merge-same $ref" "$convert" "$shared" -o "$work/out.srt" \
  "${overwrite[@]}" --no-progress --quiet --merge-same
expect_cues "$work/out.srt" "$((ref / 2))" "lumeval-convert --merge-same $ref"
row short "lumeval-convert --merge-same (shared spans)" "$ref" "$(mb "$shared")" "$wall_s" \
  "$rss_mb"
rm -f "$shared" "$work/out.srt"

echo "timing the post-processing stages" >&2
stages="$("$merge" 200000)"
stage_ms() { awk -v k="$1" '$1 == k { print $2 }' <<<"$stages"; }

# ---- report ----
echo "### Results ($(date -u +%Y-%m-%d), median of $repeat runs)"
echo
echo "| Times | Case | Cues | Input (MB) | Wall (s) | User (s) | System (s) | Peak RSS (MB) | Minor faults |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
echo
if [[ ${#changes[@]} -gt 0 ]]; then
  echo "Before and after, in this run (before: $before):"
  echo
  echo "| Times | Case | Cues | Before (s) | After (s) | Change | Before RSS (MB) | After RSS (MB) |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|"
  printf '%s\n' "${changes[@]}"
  echo
fi
echo "Post-processing stages on 200,000 entries with 100,000 shared spans (best of 5):"
echo
echo "| Stage | ms |"
echo "|---|---:|"
for s in MergeSamePosition RemoveDuplicateLines SortLines; do
  echo "| $s | $(stage_ms "$s") |"
done
echo
echo "### Targets"
echo
verdict() { if [[ "$1" == 1 ]]; then echo "met"; else echo "MISSED"; fi; }
# vs_ffmpeg LABEL OURS_WALL OURS_RSS FF_WALL FF_RSS: speed and memory at the
# reference size of $layout (arrays passed by name).
vs_ffmpeg() {
  local label="$1"; local -n ours_wall="$2" ours_rss="$3" ff_w="$4" ff_r="$5"
  local key="$layout/$ref" speedup ok
  [[ -n "${ff_w[$key]:-}" ]] || return 0
  speedup="$(awk -v f="${ff_w[$key]}" -v c="${ours_wall[$key]}" 'BEGIN { printf "%.1f", f / c }')"
  ok="$(awk -v s="$speedup" 'BEGIN { print (s >= 10) ? 1 : 0 }')"
  echo "- $layout, $ref cues, ${label:-speed }vs ffmpeg: ${speedup}x faster (target >= 10x): $(verdict "$ok")"
  ok="$(awk -v a="${ours_rss[$key]}" -v b="${ff_r[$key]}" 'BEGIN { print (a <= b) ? 1 : 0 }')"
  echo "- $layout, $ref cues, ${label}peak memory: ${ours_rss[$key]} MB vs ffmpeg ${ff_r[$key]} MB" \
    "(target <=): $(verdict "$ok")"
}
# scaling LABEL OURS_WALL: every larger size against the reference size.
scaling() {
  local label="$1"; local -n walls="$2"
  local n ratio limit ok
  for n in "${sizes[@]:1}"; do
    [[ -n "${walls[$layout/$n]:-}" ]] || continue
    ratio="$(awk -v a="${walls[$layout/$n]}" -v b="${walls[$layout/$ref]}" 'BEGIN { printf "%.2f", a / b }')"
    # 5.5x for 5x the cues: linear plus 10%.
    limit="$(awk -v n="$n" -v r="$ref" 'BEGIN { printf "%.2f", 1.1 * n / r }')"
    ok="$(awk -v x="$ratio" -v l="$limit" 'BEGIN { print (x <= l) ? 1 : 0 }')"
    echo "- $layout, ${label}scaling $ref -> $n cues: ${ratio}x the time (target <= ${limit}x): $(verdict "$ok")"
  done
}
for layout in "${layouts[@]}"; do
  vs_ffmpeg "" conv_wall conv_rss ff_wall ff_rss
  scaling "" conv_wall
  if [[ $have_ass == 1 ]]; then
    vs_ffmpeg "SRT to ASS " ass_wall ass_rss ffass_wall ffass_rss
    scaling "SRT to ASS " ass_wall
  fi
  if [[ $have_vtt == 1 ]]; then
    vs_ffmpeg "SRT to VTT " vtt_wall vtt_rss ffvtt_wall ffvtt_rss
    scaling "SRT to VTT " vtt_wall
  fi
done
if [[ $have_lrc == 1 ]]; then
  layout=long
  vs_ffmpeg "LRC to ASS " lrc_wall lrc_rss fflrc_wall fflrc_rss
  scaling "LRC to ASS " lrc_wall
fi
m="$(stage_ms MergeSamePosition)"
ok="$(awk -v m="$m" 'BEGIN { print (m < 500) ? 1 : 0 }')"
echo "- merge of 200,000 entries with 100,000 shared spans: $m ms (target < 500 ms): $(verdict "$ok")"
if [[ ${#overwrite[@]} -eq 0 ]]; then
  echo
  echo "Note: this converter has no --overwrite; its output was removed before each run."
fi
# Each lyric line should become one Dialogue line; fewer means the LRC to ASS
# times above cover less work than ffmpeg's.
if [[ $have_lrc == 1 ]]; then
  for n in "${sizes[@]}"; do
    if (( ${lrc_lines[long/$n]} < n )); then
      echo
      ff_note=""
      [[ -z "${fflrc_lines[long/$n]:-}" ]] ||
        ff_note="; ffmpeg wrote ${fflrc_lines[long/$n]}"
      echo "Note: LRC to ASS, $n lyric lines and $((n / 10)) bare end markers:" \
        "lumeval-convert wrote ${lrc_lines[long/$n]} Dialogue lines$ff_note."
    fi
  done
fi
