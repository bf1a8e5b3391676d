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
[[ -z "$convert" ]] || convert="$(realpath "$convert")"
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
  subrip "$src" > "$work/$lang.$enc.srt.utf8.srt"
  oneline "$src" > "$work/$lang.$enc.1line.srt.utf8.srt"
  iconv -f UTF-8 -t "$enc" < "$work/$lang.$enc.srt.utf8.srt" > "$work/$lang.$enc.srt"
  iconv -f UTF-8 -t "$enc" < "$work/$lang.$enc.1line.srt.utf8.srt" > "$work/$lang.$enc.1line.srt"
  files+=("$lang.$enc.srt" "$lang.$enc.1line.srt")
done

# Very short cues: where the detector's word stops being worth much.
short=(
  "GBK|谢谢" "GBK|这是中文，還有繁體" "GBK|傷つき 夢 僕"
  "BIG5|你好嗎？" "BIG5|這是中文，還有繁體"
  "SHIFT_JIS|ありがとう" "CP949|감사합니다"
  "WINDOWS-1252|Café" "WINDOWS-1252|It’s “fine” – really…"
  "WINDOWS-1251|Да, конечно" "WINDOWS-1255|כן, תודה רבה"
)
n=0
for s in "${short[@]}"; do
  enc="${s%%|*}"; text="${s#*|}"; n=$((n + 1))
  f="short$n.$enc.srt"
  printf '1\r\n00:00:01,000 --> 00:00:02,000\r\n%s\r\n' "$text" > "$work/$f.utf8.srt"
  iconv -f UTF-8 -t "$enc" < "$work/$f.utf8.srt" > "$work/$f"
  files+=("$f")
done

cd "$work"
if [[ -n "$convert" ]]; then
  echo "| file | uchardet | ICU (confidence) | lumeval-convert reads it as | text as written |"
  echo "|---|---|---|---|---|"
  for f in "${files[@]}"; do
    said="$("$convert" "$f" -o srt 2>&1 >/dev/null | sed -n 's/^.*: read as //p' | head -n 1)"
    # The same cues from the UTF-8 original and from the legacy file.
    same=no
    if cmp -s <("$convert" "$f.utf8.srt" -o srt 2>/dev/null) <("$convert" "$f" -o srt 2>/dev/null); then
      same=yes
    fi
    printf '%s %s | %s |\n' "$(./compare "$f")" "${said:-(nothing said)}" "$same"
  done
else
  echo "| file | uchardet | ICU (confidence) |"
  echo "|---|---|---|"
  ./compare "${files[@]}"
fi
