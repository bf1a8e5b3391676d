// The one table of format keys and kinds, shared by readers, writers and
// destinations.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumeval {

enum FormatKind : int32_t {
    kKindTxt = 0,
    kKindSrt = 1,
    kKindSsa = 2,
    kKindLrc = 3,
    kKindKsc = 4,
    kKindKrc = 5,
    kKindSmi = 6,
    kKindSnc = 7,
    kKindQly = 8,
    kKindStl = 9,
    kKindVsf = 10,
    kKindDks = 11,
    kKindStxt = 99,
};

struct FormatKey {
    std::string_view key;
    int32_t kind;
    std::string_view description;
};

/// In destination order (the order the rows are checked for a destination).
inline constexpr std::array<FormatKey, 16> kFormatKeys{{
    {"txt", kKindTxt, "plain text lines"},
    {"srt", kKindSrt, "SubRip"},
    {"utf", kKindSrt, "SubRip (alternative extension)"},
    {"ssa", kKindSsa, "SubStation Alpha"},
    {"ass", kKindSsa, "Advanced SubStation Alpha"},
    {"lrc", kKindLrc, "LRC lyrics"},
    {"ksc", kKindKsc, "KSC karaoke script"},
    {"krc", kKindKrc, "XML lyrics"},
    {"smi", kKindSmi, "SAMI"},
    {"sami", kKindSmi, "SAMI"},
    {"snc", kKindSnc, "snc time markers"},
    {"qly", kKindQly, "qly time lines"},
    {"stl", kKindStl, "Spruce STL"},
    {"vsf", kKindVsf, "vsf timed lines"},
    {"dks", kKindDks, "DKS bracketed times"},
    {"stxt", kKindStxt, "timed plain text (line-table entries)"},
}};

/// Kind of a key compared after ASCII lower-casing; nullopt when unknown.
std::optional<int32_t> KindOfKey(std::string_view key);

/// Kind of a source path: its text after the last "." (the whole path when
/// there is none), lower-cased. nullopt: the file is skipped.
std::optional<int32_t> SourceKindOfPath(std::string_view path);

/// Destination of a conversion: a bare key gives event mode; otherwise the
/// path's extension picks the kind, an unknown one giving 2.
struct Destination {
    bool eventMode = false;
    int32_t kind = kKindSsa;
};
Destination DestinationOf(std::string_view dst);

/// Writer kind of a save path: a bare key, else the extension, else 2.
int32_t WriterKindOfPath(std::string_view path);

/// True when the writer for this kind exists yet.
bool WriterAvailable(int32_t kind);
/// True when the reader for this kind exists yet.
bool ReaderAvailable(int32_t kind);

}  // namespace lumeval
