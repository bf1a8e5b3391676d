#include "engine/sniff.h"

#include <cstddef>
#include <iterator>

#include "engine/readers/readers.h"

namespace lumeval {
namespace {

// How far the signatures are looked for: real files show theirs in the
// first lines, and a text that shows none there is no subtitle file.
constexpr std::size_t kSniffBytes = 8192;
constexpr std::size_t kSniffLines = 200;
// Only the start of a line bears a signature.
constexpr std::size_t kLineHead = 256;

bool digit(char c) {
    return c >= '0' && c <= '9';
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        if (lowerAscii(text[i]) != lowerPrefix[i]) return false;
    }
    return true;
}

bool containsNoCase(std::string_view text, std::string_view lowerWord) {
    for (std::size_t i = 0; i + lowerWord.size() <= text.size(); ++i) {
        if (startsWithNoCase(text.substr(i), lowerWord)) return true;
    }
    return false;
}

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Reads `min` to `max` digits at `i`, no more digits after them.
bool digits(std::string_view s, std::size_t& i, std::size_t min, std::size_t max) {
    const std::size_t from = i;
    while (i < s.size() && digit(s[i]) && i - from < max) ++i;
    return i - from >= min && !(i < s.size() && digit(s[i]));
}

bool expect(std::string_view s, std::size_t& i, char c) {
    if (i >= s.size() || s[i] != c) return false;
    ++i;
    return true;
}

// h:mm:ss<sep>fraction with the given digit counts, from `i`.
bool clockTime(std::string_view s, std::size_t& i, std::size_t hourMax, char sep,
               std::size_t fraction) {
    return digits(s, i, 1, hourMax) && expect(s, i, ':') && digits(s, i, 2, 2) &&
           expect(s, i, ':') && digits(s, i, 2, 2) && expect(s, i, sep) &&
           digits(s, i, fraction, fraction);
}

// "00:00:01,000 -->": the start of a SubRip time line.
bool isSubRipTimeLine(std::string_view line) {
    line = trimSpaces(line);
    std::size_t i = 0;
    if (!clockTime(line, i, 3, ',', 3)) return false;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    return line.substr(i, 3) == "-->";
}

bool isSsaLine(std::string_view line) {
    const std::string_view t = trimSpaces(line);
    return startsWithNoCase(t, "[script info]") || startsWithNoCase(t, "[v4+ styles]") ||
           startsWithNoCase(t, "[v4 styles]") || startsWithNoCase(t, "[events]") ||
           startsWithNoCase(t, "dialogue:");
}

bool isSamiLine(std::string_view line) {
    return containsNoCase(line, "<sami") || startsWithNoCase(trimSpaces(line), "<sync");
}

// "[mm:ss.xx]" (any time tag the LRC reader takes) at the line start.
bool isLrcLine(std::string_view line) {
    line = trimSpaces(line);
    if (line.empty() || line.front() != '[') return false;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return false;
    return LrcTagTime(line.substr(1, close - 1)).has_value();
}

bool isWebVttHeader(std::string_view line) {
    if (line.substr(0, 6) != "WEBVTT") return false;
    return line.size() == 6 || line[6] == ' ' || line[6] == '\t';
}

SniffedFormat sniffLine(std::string_view line) {
    if (IsMicroDvdLine(line)) return SniffedFormat::MicroDvd;
    if (isSubRipTimeLine(line)) return SniffedFormat::SubRip;
    if (IsSubViewerHeader(line) || IsSubViewerTimeLine(line)) return SniffedFormat::SubViewer;
    if (isSsaLine(line)) return SniffedFormat::Ssa;
    if (isSamiLine(line)) return SniffedFormat::Sami;
    if (isLrcLine(line)) return SniffedFormat::Lrc;
    return SniffedFormat::None;
}

}  // namespace

bool IsMicroDvdLine(std::string_view line) {
    std::size_t i = 0;
    if (!expect(line, i, '{') || !digits(line, i, 1, 20) || !expect(line, i, '}') ||
        !expect(line, i, '{')) {
        return false;
    }
    if (i < line.size() && line[i] == '}') return true;  // "{}": no end frame
    return digits(line, i, 1, 20) && expect(line, i, '}');
}

bool IsSubViewerTimeLine(std::string_view line) {
    std::size_t i = 0;
    if (!clockTime(line, i, 2, '.', 2) || !expect(line, i, ',') || !clockTime(line, i, 2, '.', 2)) {
        return false;
    }
    return trimSpaces(line.substr(i)).empty();
}

bool IsSubViewerHeader(std::string_view line) {
    const std::string_view t = trimSpaces(line);
    return t.size() == 13 && startsWithNoCase(t, "[information]");
}

SniffedFormat SniffFormat(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t lines = 0;
    for (std::size_t pos = 0; pos < text.size() && pos < kSniffBytes && lines < kSniffLines;) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        const bool first = pos == 0;
        pos = end + 1;
        if (trimSpaces(line).empty()) continue;
        ++lines;
        if (line.size() > kLineHead) line = line.substr(0, kLineHead);
        // WebVTT is told by its first line alone, as its readers tell it.
        if (first && isWebVttHeader(line)) return SniffedFormat::WebVtt;
        if (const SniffedFormat format = sniffLine(line); format != SniffedFormat::None) {
            return format;
        }
    }
    return SniffedFormat::None;
}

namespace {
// The key whose reader reads each format, and its name for the user, in the
// order of the enumeration.
struct SniffedRow {
    std::string_view key;
    std::string_view name;
};
constexpr SniffedRow kSniffedRows[] = {
    {{}, {}},          {"srt", "SubRip"}, {"ass", "SSA/ASS"},  {"vtt", "WebVTT"},
    {"smi", "SAMI"},   {"lrc", "LRC"},    {"sub", "MicroDVD"}, {"sub", "SubViewer 2"},
};
static_assert(std::size(kSniffedRows) == static_cast<std::size_t>(SniffedFormat::SubViewer) + 1);
}  // namespace

std::string_view SniffedKey(SniffedFormat format) {
    return kSniffedRows[static_cast<std::size_t>(format)].key;
}

std::string_view SniffedName(SniffedFormat format) {
    return kSniffedRows[static_cast<std::size_t>(format)].name;
}

}  // namespace lumeval
