#!/usr/bin/env bash
# Reads every bundled sample and converts the samples that carry start and
# end times into every format the converter can write, then shows what came
# out; last, a picture of the editor with a sample open (OUT/editor.png),
# taken on a virtual display.
#
#   scripts/demo.sh [BUILD_DIR] [OUT_DIR]
#
# Both folders are relative to the project root (defaults: build, out).
set -euo pipefail

cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-out}
exe="$build/cli/lumeval-convert"
if [[ ! -x "$exe" ]]; then
    echo "demo.sh: no converter at $build/cli/lumeval-convert; build first" >&2
    exit 1
fi

# Writable keys: fifth column of --list-formats.
mapfile -t keys < <("$exe" --list-formats | awk -F'\t' '$5 == "yes" { print $1 }')
if (( ${#keys[@]} == 0 )); then
    echo "demo.sh: the converter cannot write any format yet" >&2
    exit 1
fi
echo "writable formats: ${keys[*]}"

status=0
# Every sample is read, by its own reader, into SubRip: OUT/read/<sample>.srt.
mkdir -p "$out/read"
for f in samples/*; do
    "$exe" "$f" -o "$out/read/$(basename "$f").srt" --overwrite --no-progress --quiet || status=1
done

# Every sample goes out into every format: OUT/<sample>/<name>.<key>.
# Start-only sources (lrc, krc, smi, snc, qly) too: a lone start ends where
# the next cue starts, so every writer has a span to write.
spans=(samples/*)
for f in "${spans[@]}"; do
    for key in "${keys[@]}"; do
        "$exe" "$f" --to "$key" -d "$out/$(basename "$f")" --overwrite --no-progress --quiet ||
            status=1
    done
done

echo
echo "written:"
find "$out" -type f -printf '%p\t%s bytes\n' | sort

if [[ -f "$out/demo.srt/demo.ass" ]]; then
    echo
    echo "the events of $out/demo.srt/demo.ass:"
    grep '^Dialogue:' "$out/demo.srt/demo.ass" | head -n 8
fi
if [[ -x "$build/app/lumeval" ]]; then
    echo
    echo "the editor with a sample open:"
    scripts/editor_screenshots.sh "$build/app/lumeval" "$out" editor || status=1
else
    echo "demo.sh: no editor at $build/app/lumeval (Qt 6 missing?): no $out/editor.png" >&2
    status=1
fi
exit "$status"
