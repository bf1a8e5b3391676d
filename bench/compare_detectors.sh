#!/usr/bin/env bash
# Compares uchardet and ICU's charset detector on subtitle-like samples:
# each text of bench/detect_samples saved in its legacy encodings, as a
# SubRip file of three cues and as a single cue of one line.
#
#   bench/compare_detectors.sh [CONVERT]
#
# With CONVERT (a built lumeval-convert), a last column says what the
# converter read each file as.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
convert="${1:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

g++ -std=c++20 -O1 -o "$work/compare" "$here/compare_detectors.cpp" \
    $(pkg-config --cflags --libs icu-i18n uchardet)

# SubRip from the sample's lines: cue n holds lines 2n-1 and 2n.
subrip() {
  awk 'NR % 2 == 1 { n++; printf "%d\r\n00:00:%02d,000 --> 00:00:%02d,500\r\n%s\r\n", n, n * 3, n * 3 + 2, $0; next }
       { printf "%s\r\n\r\n", $0 }' "$1"
}
oneline() {
  printf '1\r\n00:00:01,000 --> 00:00:02,000\r\n%s\r\n' "$(head -n 1 "$1")"
}

samples=(
  "zh-hans GBK" "zh-hans GB18030"
  "zh-hant BIG5"
  "ja SHIFT_JIS" "ja EUC-JP"
  "ko CP949" "ko EUC-KR"
  "fr WINDOWS-1252" "fr ISO-8859-1" "de WINDOWS-1252"
  "pl ISO-8859-2" "pl WINDOWS-1250" "cs ISO-8859-2" "cs WINDOWS-1250"
  "he ISO-8859-8" "he WINDOWS-1255"
  "ru WINDOWS-1251" "ru KOI8-R"
  "el ISO-8859-7" "el WINDOWS-1253"
)
files=()
for s in "${samples[@]}"; do
  read -r lang enc <<<"$s"
  src="$here/detect_samples/$lang.txt"
  subrip "$src" | iconv -f UTF-8 -t "$enc" > "$work/$lang.$enc.srt"
  oneline "$src" | iconv -f UTF-8 -t "$enc" > "$work/$lang.$enc.1line.srt"
  files+=("$lang.$enc.srt" "$lang.$enc.1line.srt")
done

cd "$work"
if [[ -n "$convert" ]]; then
  echo "| file | uchardet | ICU (confidence) | lumeval-convert |"
  echo "|---|---|---|---|"
  for f in "${files[@]}"; do
    said="$("$convert" "$f" -o srt 2>&1 >/dev/null | sed -n 's/^.*: read as //p' | head -n 1)"
    "./compare" "$f" | sed "s/ |\$/ | ${said:-UTF-8 or nothing said} |/"
  done
else
  echo "| file | uchardet | ICU (confidence) |"
  echo "|---|---|---|"
  ./compare "${files[@]}"
fi
