// A conversion run's state, shared by the files of the pipeline (subtitle.cpp
// reads, saving.cpp writes). Not part of the engine's interface.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "engine/encoding/textfile.h"
#include "engine/formats.h"
#include "engine/linetable.h"
#include "engine/readers/readers.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"

namespace lumeval {

inline int32_t ClampToInt32(std::size_t v) {
    return v > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int32_t>(v);
}

// A save under way: the writer's lines, the temporary file they go to once
// they outgrow a piece, and what the pieces written so far counted.
struct clsSubtitle::Save {
    Save(std::string name, const SaveSettings& s, int32_t ansiCodePage, std::size_t pieceBytes,
         bool trusted)
        : fileName(std::move(name)), settings(s), writerKind(WriterKindOfPath(fileName)),
          fmt(s.s_SubtitleEncodeFormat), ansi(ansiCodePage), trustedText(trusted) {
        // A format that allows UTF-8 alone is written in it, whatever was asked.
        if (const FormatKey* row = RowOfKind(writerKind); row != nullptr &&
            (row->holds & kHoldsUtf8Only) != 0 && fmt >= kEncodingAnsi && fmt <= kEncodingUtf32BE &&
            fmt != kEncodingUtf8) {
            fmt = kEncodingUtf8;
            encodingReplaced = true;
        }
        defaultFmt = fmt;
        // The first piece handed on opens the temporary file; a small output
        // never does and is saved in one go at the end.
        out.SetSink(
            [this](std::string_view piece) {
                if (!out.flushed() && !stream.Open(fileName, fmt, ansi, failure)) return false;
                return stream.Write(piece, trustedText, failure);
            },
            std::max<std::size_t>(pieceBytes, 1));
    }
    Save(const Save&) = delete;
    Save& operator=(const Save&) = delete;

    const std::string fileName;
    const SaveSettings settings;
    const int32_t writerKind;
    int32_t fmt;
    int32_t defaultFmt = 0;
    const int32_t ansi;
    const bool trustedText;
    bool encodingReplaced = false;
    SaveFailure failure;
    TextFileWriter stream;
    OutputLines out;
    std::size_t cues = 0;     // cues the pieces so far wrote
    std::size_t entries = 0;  // entries they held: the next piece's progress counts on from here
    bool first = true;        // no piece written yet
};

// Writing while reading: the entries of a large source in time order are
// written a piece at a time while it is read, so the run never holds the
// whole table. It holds when every entry read later starts after every entry
// written; for a source that breaks that, what was written is read again and
// the table saved whole.
struct clsSubtitle::WriteAhead {
    std::optional<Save> save;  // made with the first piece
    // Writing progress waits until the reading is done: a run reports all
    // of its reading first, and only then knows how many entries there are.
    std::vector<std::size_t> progress;
    bool anyCue = false;      // the pieces written held a cue
    int64_t lastStart = -1;   // the latest start written
    std::vector<int64_t> latest;  // scratch of the writing
    std::size_t nextLook = 0;     // entries the table must exceed before it is looked at again
    std::size_t room = 0;         // entries the whole table is expected to hold
    // To get back what was written when it must be given up: the entries
    // that left the table, as read, and the pieces of the source read then.
    std::size_t entriesRead = 0;
    std::size_t piecesRead = 0;
    std::size_t pieces = 0;       // pieces of the source read so far
    bool readBack = false;        // getting it back was tried
    bool lost = false;        // what was written is given up: read the source again
};

// The state of one conversion run, from the first source to the delivery.
struct clsSubtitle::ConvertRun {
    explicit ConvertRun(const ConvertSettings& settings)
        : s(settings),
          ev(settings.s_RaiseAllEvent),
          interval(std::max<int32_t>(1, settings.s_RaiseEventInterval)),
          dest(DestinationOf(settings.dst_SubFile)),
          rules{settings.s_TimeStartPoint, settings.s_TimeEndPoint, settings.s_TimeOffset,
                settings.s_SplitMode,      &refused,                 &outside,
                settings.s_RetimeFactor,   settings.s_RetimeShift} {}
    ConvertRun(const ConvertRun&) = delete;
    ConvertRun& operator=(const ConvertRun&) = delete;

    const ConvertSettings& s;
    bool ev;  // off while a source is read again after writing ahead was given up
    const int32_t interval;
    const Destination dest;
    std::size_t refused = 0;
    std::size_t outside = 0;
    const TimingRules rules;
    LineTable table = LineTable(1);  // index 0: the placeholder
    ReaderState state;
    ReaderContext rctx{table, rules, state};
    int32_t playResX = 0;
    int32_t playResY = 0;
    int32_t lastKind = kKindSsa;
    std::string lastPath;
    std::string line;  // a prepared line that had to be copied
    std::string clean;  // scratch of the control removal
    // The run may write while it reads (one source, a file, no step that
    // needs every entry); `ahead` once a source is read so.
    bool mayWriteAhead = false;
    std::optional<WriteAhead> ahead;
};

struct clsSubtitle::SourceMark {
    std::size_t entries;    // the table's size before the source
    std::string lastEntry;  // continuation lines append to it
    ReaderState state;
    std::size_t refused;    // the run's counts of lines left out
    std::size_t outside;
};

}  // namespace lumeval
