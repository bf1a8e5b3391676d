// The one table of formats: every row names its key, kind, description,
// reader, writer and what the format can hold. Dispatch, the converter's
// --list-formats and the companion search all read it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumeval {

struct ReaderContext;
struct WriterContext;

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

/// Hands one prepared line to a format's reader. `isLastLine`: the file's
/// last line after splitting.
using LineReader = void (*)(std::string_view line, bool isLastLine, ReaderContext& ctx);
/// Ends a run's reading: a block still open when the last source ends is added.
using ReadFinisher = void (*)(ReaderContext& ctx);
/// Turns the entries into output lines; false when stopped by progress.
using EntryWriter = bool (*)(WriterContext& ctx);

/// What a format can hold, as flags.
enum FormatHolds : unsigned {
    kHoldsSpans = 1,      ///< cues with an end time
    kHoldsStartOnly = 2,  ///< cues with a start time only
    kHoldsStyles = 4,     ///< fonts, colours, karaoke effects
    kHoldsNoTimes = 8,    ///< text only: nothing to read a time from
    kHoldsUtf8Only = 16,  ///< always written as UTF-8, whatever encoding is asked for
    kHoldsOverrides = 32, ///< SSA override blocks ("{\b1}") pass through as they are
};

struct FormatKey {
    std::string_view key;
    int32_t kind;
    std::string_view description;
    LineReader reader;    ///< null: write only
    ReadFinisher finish;  ///< null: nothing is left open at the end
    EntryWriter writer;   ///< null: read only
    unsigned holds;       ///< FormatHolds
};

/// The rows, in the order the editor's file patterns list them.
extern const std::span<const FormatKey> kFormatKeys;

/// The first row of a key compared after ASCII lower-casing; null when unknown.
const FormatKey* RowOfKey(std::string_view key);
/// The first row of a kind; null when no row has it.
const FormatKey* RowOfKind(int32_t kind);

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

/// True when a row of this kind has a writer.
bool WriterAvailable(int32_t kind);
/// True when a row of this kind has a reader.
bool ReaderAvailable(int32_t kind);

/// The file pattern of every key in table order, "; " between them
/// ("*.ssa; *.srt; ..."): what the editor offers and accepts as subtitles.
std::string FilePatterns();

/// What a kind can hold, in words for --list-formats ("spans, start only, styles").
std::string HoldsText(unsigned holds);

}  // namespace lumeval
