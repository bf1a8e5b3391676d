#!/usr/bin/env bash
# Converts every bundled sample into every format the converter can write so
# far, then shows what came out.
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

samples=(samples/*)
status=0
for key in "${keys[@]}"; do
    # Batch mode: each sample on its own into OUT/<name>.<key>.
    "$exe" "${samples[@]}" --to "$key" -d "$out" --overwrite --no-progress || status=1
done

echo
echo "written:"
find "$out" -type f -printf '%p\t%s bytes\n' | sort

if [[ -f "$out/demo.srt" ]]; then
    echo
    echo "first lines of $out/demo.srt:"
    head -n 12 "$out/demo.srt"
fi
exit "$status"
