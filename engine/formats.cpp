#include "engine/formats.h"

#include <string>

namespace lumeval {
namespace {

// Keys are short; compare without allocating.
bool equalsLowerAscii(std::string_view text, std::string_view lowerKey) {
    if (text.size() != lowerKey.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerKey[i]) return false;
    }
    return true;
}

// The extension is looked for in the file name only, so a dot in a folder
// name never becomes part of a key, and a file named "srt" in any folder is
// keyed "srt".
std::string_view afterLastDot(std::string_view path) {
    const auto sep = path.find_last_of("/\\");
    const std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

}  // namespace

std::optional<int32_t> KindOfKey(std::string_view key) {
    for (const auto& row : kFormatKeys) {
        if (equalsLowerAscii(key, row.key)) return row.kind;
    }
    return std::nullopt;
}

std::optional<int32_t> SourceKindOfPath(std::string_view path) {
    return KindOfKey(afterLastDot(path));
}

Destination DestinationOf(std::string_view dst) {
    if (auto kind = KindOfKey(dst)) return {true, *kind};
    return {false, KindOfKey(afterLastDot(dst)).value_or(kKindSsa)};
}

int32_t WriterKindOfPath(std::string_view path) {
    if (auto kind = KindOfKey(path)) return *kind;
    return KindOfKey(afterLastDot(path)).value_or(kKindSsa);
}

namespace {
bool KnownKind(int32_t kind) {
    for (const FormatKey& row : kFormatKeys) {
        if (row.kind == kind) return true;
    }
    return false;
}
}  // namespace

bool WriterAvailable(int32_t kind) { return KnownKind(kind); }

bool ReaderAvailable(int32_t kind) { return KnownKind(kind); }

}  // namespace lumeval
