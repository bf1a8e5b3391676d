#include "engine/formats.h"

#include <array>
#include <string>

#include "engine/readers/readers.h"
#include "engine/writers/writers.h"

namespace lumeval {

// The readers and writers the rows name, by the file that holds them; no
// other part of the engine calls them directly.
void ReadSubRipLine(std::string_view line, bool isLastLine, ReaderContext& ctx);  // readers/subrip.cpp
void ReadTimedTextLine(std::string_view line, ReaderContext& ctx);
void FinishSubRip(ReaderContext& ctx);
bool WriteSubRip(WriterContext& ctx);  // writers/subrip.cpp
bool WritePlainText(WriterContext& ctx);
bool WriteTimedText(WriterContext& ctx);
void ReadSsaLine(std::string_view line, ReaderContext& ctx);  // readers/ssa.cpp
bool WriteSsa(WriterContext& ctx);                            // writers/ssa.cpp
void ReadLrcLine(std::string_view line, ReaderContext& ctx);  // readers/lyrics.cpp
void ReadKscLine(std::string_view line, ReaderContext& ctx);
void ReadKrcLine(std::string_view line, ReaderContext& ctx);
bool WriteLrc(WriterContext& ctx);  // writers/lyrics.cpp
bool WriteKsc(WriterContext& ctx);
void ReadSamiLine(std::string_view line, ReaderContext& ctx);  // readers/sami.cpp
bool WriteKrc(WriterContext& ctx);                             // writers/xml.cpp
bool WriteSami(WriterContext& ctx);
void ReadSncLine(std::string_view line, ReaderContext& ctx);  // readers/players.cpp
void ReadQlyLine(std::string_view line, ReaderContext& ctx);
void ReadStlLine(std::string_view line, ReaderContext& ctx);
void ReadVsfLine(std::string_view line, ReaderContext& ctx);
void ReadDksLine(std::string_view line, ReaderContext& ctx);
void FinishDks(ReaderContext& ctx);
bool WriteSnc(WriterContext& ctx);  // writers/players.cpp
bool WriteQly(WriterContext& ctx);
bool WriteStl(WriterContext& ctx);
bool WriteVsf(WriterContext& ctx);
bool WriteDks(WriterContext& ctx);
void ReadVttLine(std::string_view line, bool isLastLine, ReaderContext& ctx);  // readers/webvtt.cpp
bool WriteVtt(WriterContext& ctx);                                            // writers/webvtt.cpp
void ReadSubLine(std::string_view line, bool isLastLine, ReaderContext& ctx);  // readers/microdvd.cpp
bool WriteMicroDvd(WriterContext& ctx);                                       // writers/microdvd.cpp

namespace {

// Readers that need no end-of-file flag take it through these.
template <void (*Read)(std::string_view, ReaderContext&)>
void lineOnly(std::string_view line, bool, ReaderContext& ctx) {
    Read(line, ctx);
}

constexpr unsigned kTimed = kHoldsSpans | kHoldsStartOnly;

// One row per key. Adding a format is one row here, its reader and its
// writer. The order is the one the editor's file patterns show
// ("*.ssa; *.srt; ..."); keys are unique, so it decides nothing else but
// which row speaks for a kind (srt before utf, ssa before ass).
constexpr std::array kRows{
    FormatKey{"ssa", kKindSsa, "SubStation Alpha", lineOnly<ReadSsaLine>, nullptr, WriteSsa,
              kHoldsSpans | kHoldsStyles | kHoldsOverrides},
    FormatKey{"srt", kKindSrt, "SubRip", ReadSubRipLine, FinishSubRip, WriteSubRip,
              kHoldsSpans | kHoldsOverrides},
    FormatKey{"ass", kKindSsa, "Advanced SubStation Alpha", lineOnly<ReadSsaLine>, nullptr,
              WriteSsa, kHoldsSpans | kHoldsStyles | kHoldsOverrides},
    FormatKey{"lrc", kKindLrc, "LRC lyrics", lineOnly<ReadLrcLine>, nullptr, WriteLrc,
              kHoldsStartOnly},
    FormatKey{"ksc", kKindKsc, "KSC karaoke script", lineOnly<ReadKscLine>, nullptr, WriteKsc,
              kHoldsSpans},
    FormatKey{"krc", kKindKrc, "XML lyrics", lineOnly<ReadKrcLine>, nullptr, WriteKrc, kTimed},
    FormatKey{"smi", kKindSmi, "SAMI", lineOnly<ReadSamiLine>, nullptr, WriteSami, kTimed},
    FormatKey{"sami", kKindSmi, "SAMI", lineOnly<ReadSamiLine>, nullptr, WriteSami, kTimed},
    FormatKey{"snc", kKindSnc, "snc time markers", lineOnly<ReadSncLine>, nullptr, WriteSnc,
              kHoldsSpans},
    FormatKey{"qly", kKindQly, "qly time lines", lineOnly<ReadQlyLine>, nullptr, WriteQly,
              kHoldsSpans},
    FormatKey{"utf", kKindSrt, "SubRip (alternative extension)", ReadSubRipLine, FinishSubRip,
              WriteSubRip, kHoldsSpans | kHoldsOverrides},
    FormatKey{"stl", kKindStl, "Spruce STL", lineOnly<ReadStlLine>, nullptr, WriteStl,
              kHoldsSpans},
    FormatKey{"vsf", kKindVsf, "vsf timed lines", lineOnly<ReadVsfLine>, nullptr, WriteVsf,
              kHoldsSpans},
    FormatKey{"dks", kKindDks, "DKS bracketed times", lineOnly<ReadDksLine>, FinishDks, WriteDks,
              kTimed},
    FormatKey{"txt", kKindTxt, "plain text lines (write only; its lines carry no times)", nullptr,
              nullptr, WritePlainText, kHoldsNoTimes},
    FormatKey{"stxt", kKindStxt, "timed plain text (line-table entries)",
              lineOnly<ReadTimedTextLine>, nullptr, WriteTimedText, kTimed | kHoldsOverrides},
    FormatKey{"vtt", 12, "WebVTT", ReadVttLine, nullptr, WriteVtt,
              kHoldsSpans | kHoldsUtf8Only},
    // One key, two formats: the reader tells MicroDVD from SubViewer 2 by
    // the file's lines; the writer writes MicroDVD.
    FormatKey{"sub", 13, "MicroDVD (read: also SubViewer 2)", ReadSubLine, nullptr, WriteMicroDvd,
              kTimed},
};

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

constinit const std::span<const FormatKey> kFormatKeys{kRows};

const FormatKey* RowOfKey(std::string_view key) {
    for (const auto& row : kRows) {
        if (equalsLowerAscii(key, row.key)) return &row;
    }
    return nullptr;
}

const FormatKey* RowOfKind(int32_t kind) {
    for (const auto& row : kRows) {
        if (row.kind == kind) return &row;
    }
    return nullptr;
}

std::optional<int32_t> KindOfKey(std::string_view key) {
    if (const FormatKey* row = RowOfKey(key)) return row->kind;
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

bool WriterAvailable(int32_t kind) {
    const FormatKey* row = RowOfKind(kind);
    return row != nullptr && row->writer != nullptr;
}

bool ReaderAvailable(int32_t kind) {
    const FormatKey* row = RowOfKind(kind);
    return row != nullptr && row->reader != nullptr;
}

std::string FilePatterns() {
    std::string text;
    for (const auto& row : kRows) {
        if (!text.empty()) text += "; ";
        text += "*.";
        text += row.key;
    }
    return text;
}

std::string HoldsText(unsigned holds) {
    std::string text;
    const auto add = [&text](const char* word) {
        if (!text.empty()) text += ", ";
        text += word;
    };
    if (holds & kHoldsSpans) add("spans");
    if (holds & kHoldsStartOnly) add("start only");
    if (holds & kHoldsNoTimes) add("no times");
    if (holds & kHoldsStyles) add("styles");
    add(holds & kHoldsUtf8Only ? "UTF-8 only" : "any encoding");
    return text;
}

}  // namespace lumeval
