// Delivery to a file: the whole table saved at the end of a run, or written a
// piece at a time while a large source in time order is read.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "engine/encoding/codepage.h"
#include "engine/postprocess.h"
#include "engine/run.h"
#include "engine/textutil.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// The file's folder made when it is missing; the error when it cannot be
// (the cause to report: the save would only find the folder missing).
std::error_code makeFolderOf(const std::string& path) {
    const auto sep = path.find_last_of("/\\");
    const std::string folder = sep == std::string::npos ? std::string() : path.substr(0, sep);
    std::error_code why;
    if (folder.empty() || DirExists(folder)) return why;
    if (!lumeval::MakedPath(folder, &why) && why &&
        (why.category() == std::generic_category() || why.category() == std::system_category())) {
        return why;
    }
    return {};
}

// The start of an entry in the table's own form; -1 for any other entry.
int64_t tableStart(std::string_view entry) {
    const TableSpan span = ReadTableSpan(entry);
    return span.bar != 0 ? span.startMs : -1;
}

SaveSettings saveSettingsOf(const ConvertSettings& s, int32_t playResX, int32_t playResY,
                            int32_t kind) {
    return SaveSettingsFrom(s, playResX > 0 ? playResX : s.s_ScreenWidth,
                            playResY > 0 ? playResY : s.s_ScreenHeight, kind);
}

}  // namespace

// Deliver, file mode: the table saved through the writer of the destination.
bool clsSubtitle::deliverFile(ConvertRun& run) {
    const ConvertSettings& s = run.s;
    bool saved = false;
    if (run.ahead) {
        saved = finishWritingAhead(run);
    } else {
        std::string path = s.s_Overwrite ? s.dst_SubFile : RenameExists(s.dst_SubFile, false);
        if (const std::error_code why = makeFolderOf(path)) {
            m_lastFailure.kind = RunFailure::SaveFailed;
            m_lastFailure.path = path;
            m_lastFailure.error = why.value();
            progress(run.ev, 0, 0, kStatusFailed, std::string());
            return false;
        }
        // No delete before the save: the save replaces the file only once the
        // new one is complete, so a failure leaves the old one in place.
        // Every entry came out of the loader (valid UTF-8) except the credit line.
        saved = saveArray(run.table, path, saveSettingsOf(s, run.playResX, run.playResY, run.lastKind),
                          IsValidUtf8(s.s_AddCopyRightString));
    }
    if (saved && s.s_RaiseCompleteEvent) progress(run.ev, 0, 0, kStatusComplete, std::string());
    return saved;
}

bool clsSubtitle::saveArray(const LineTable& entries, const std::string& fileName,
                            const SaveSettings& s, bool trustedText) {
    const bool ev = s.s_RaiseAllEvent;
    const int32_t upper = entries.empty() ? 0 : ClampToInt32(entries.size() - 1);
    m_lastFailure.path = fileName;

    // A large output is written while it is made, a piece at a time, into a
    // temporary file that replaces the target only when all of it is there.
    Save save(fileName, s, AnsiCodePage, OutputPieceBytes, trustedText);
    if (save.encodingReplaced) m_lastRun.encodingReplaced = true;
    {
        // Output is about the size of the entries; one reservation saves the
        // doublings of a large file.
        std::size_t estimate = 0;
        for (const auto& e : entries) estimate += e.size() + 24;
        save.out.reserve(estimate);
    }
    const WriterProgress onProgress = [&](std::size_t j) {
        if (!progress(ev, ClampToInt32(j), upper, kStatusWriting, fileName)) return false;
        yieldToCaller();
        return true;
    };
    return finishSave(save, writePiece(save, entries, false, onProgress));
}

bool clsSubtitle::writePiece(Save& save, const LineTable& entries, bool more,
                             const std::function<bool(std::size_t)>& onProgress) {
    WriterContext ctx{entries, save.settings, std::max<int32_t>(1, save.settings.s_RaiseEventInterval),
                      onProgress, save.out};
    ctx.cues = save.cues;
    // Index 0 is the placeholder: a later piece's is not the list's.
    ctx.from = save.first ? 0 : 1;
    ctx.limit = more ? entries.size() - 1 : entries.size();
    ctx.base = save.entries;
    ctx.more = more;
    const bool written = WriteEntries(save.writerKind, ctx);
    save.cues = ctx.cues;
    if (ctx.limit > 0) save.entries += ctx.limit - 1;
    save.first = false;
    return written;
}

bool clsSubtitle::finishSave(Save& save, bool written) {
    const bool ev = save.settings.s_RaiseAllEvent;
    auto saveFailed = [&]() {
        m_lastFailure.kind =
            save.failure.kind == SaveFailure::Unmappable ? RunFailure::Unmappable : RunFailure::SaveFailed;
        m_lastFailure.line = save.failure.line;
        m_lastFailure.error = save.failure.error;
        progress(ev, 0, 0, kStatusFailed, std::string());
        return false;
    };
    if (!save.out.sinkOk()) return saveFailed();
    if (!written) {
        m_lastFailure.kind = RunFailure::Cancelled;
        progress(ev, 0, 0, kStatusCancelled, std::string());
        return false;
    }
    if (save.out.empty()) {
        m_lastFailure.kind = RunFailure::NothingToWrite;
        progress(ev, 0, 0, kStatusFailed, std::string());
        return false;
    }

    bool ok;
    if (save.out.flushed()) {
        ok = save.stream.Write(save.out.text(), save.trustedText, save.failure) && save.stream.Commit(save.failure);
    } else {
        ok = lumeval::UEFSaveTextFile(save.fileName, save.out.text(), false, save.fmt, save.defaultFmt,
                                      AnsiCodePage, &save.failure, save.trustedText);
    }
    if (!ok) return saveFailed();
    m_lastFailure = {};
    m_lastRun.cuesWritten = save.cues;
    progress(ev, 0, 0, kStatusSaved, save.fileName);
    return true;
}

// Writes the entries read so far, but the last few, up to the last place
// where every entry before starts earlier than every entry after (an entry
// read next may join those after, or duplicate one of them, and the writer
// looks ahead to the first of them), when they all start after what was
// written before. The duplicates and the sort of what is written are then
// its own alone.
void clsSubtitle::writeWhileReading(ConvertRun& run) {
    if (!run.ahead || run.ahead->lost) return;
    WriteAhead& ahead = *run.ahead;
    LineTable& table = run.table;
    const std::size_t n = table.size();
    if (n < 3) return;
    std::vector<int64_t>& latest = ahead.latest;  // latest start of entries 1..i
    latest.assign(n, -1);
    for (std::size_t i = 1; i < n; ++i) {
        const int64_t start = tableStart(table[i]);
        if (start <= ahead.lastStart) {  // a time of another form counts as -1
            stopWritingAhead(run);
            return;
        }
        latest[i] = std::max(latest[i - 1], start);
    }
    // The last entries stay too: a cue a little out of order (two speakers,
    // the second starting first) is then still among them when it comes.
    const std::size_t kept = std::min<std::size_t>(256, WriteWhileReadingEntries / 4);
    if (n <= kept + 2) return;
    std::size_t cut = n - 1 - kept;
    int64_t earliest = std::numeric_limits<int64_t>::max();
    for (std::size_t i = cut; i < n; ++i) earliest = std::min(earliest, tableStart(table[i]));
    for (; cut > 1 && latest[cut - 1] >= earliest; --cut) {
        earliest = std::min(earliest, tableStart(table[cut - 1]));
    }
    if (cut <= 1) {
        // Nothing can go yet. A source with no such place in its first
        // pieces is not in time order: it is read whole. After a piece was
        // written, it is looked at again once the table has doubled, so a
        // long run of equal starts is not searched piece after piece.
        if (!ahead.save) {
            stopWritingAhead(run);
        } else {
            ahead.nextLook = 2 * n;
        }
        return;
    }
    const std::size_t held = cut;
    const int64_t high = latest[held - 1];
    if (!ahead.save) {
        const ConvertSettings& s = run.s;
        const SaveSettings settings = saveSettingsOf(s, run.playResX, run.playResY, run.lastKind);
        std::string path = s.s_Overwrite ? s.dst_SubFile : RenameExists(s.dst_SubFile, false);
        // A folder that cannot be made is reported by the save at the end.
        if (!WritesInPieces(WriterKindOfPath(path), settings) || makeFolderOf(path)) {
            stopWritingAhead(run);
            return;
        }
        ahead.save.emplace(std::move(path), settings, AnsiCodePage, OutputPieceBytes, true);
        if (ahead.save->encodingReplaced) m_lastRun.encodingReplaced = true;
    }

    std::vector<std::string> rest(table.begin() + static_cast<std::ptrdiff_t>(held), table.end());
    table.resize(held);
    if (!ahead.anyCue) ahead.anyCue = AnyCue(table);
    const bool inOrder = RemoveDuplicateLines(table);
    if (run.s.s_Sort) SortLines(table, inOrder);
    table.push_back(rest.front());  // looked ahead to, written with a later piece
    const WriterProgress later = [&](std::size_t j) {
        ahead.progress.push_back(j);
        return true;
    };
    const bool written = writePiece(*ahead.save, table, true, later);
    // Gone from the table from here on, written or not.
    ahead.entriesRead += held - 1;
    ahead.piecesRead = ahead.pieces;
    // What was read stays for the reading to go on: the entries held back,
    // after a placeholder that is no longer the list's.
    table.shrinkReusing(1);
    table.set(0, "");
    for (const std::string& e : rest) table.push_back(e);
    ahead.lastStart = high;
    // A save that failed now fails again at the end, reported as a save
    // of the whole table reports it.
    if (!written || !ahead.save->out.sinkOk()) stopWritingAhead(run);
}

void clsSubtitle::stopWritingAhead(ConvertRun& run) {
    run.mayWriteAhead = false;
    if (!run.ahead) return;
    if (!run.ahead->save) {
        // Nothing written: the table is whole, and gets its whole room.
        run.table.reserve(run.ahead->room);
        run.ahead.reset();
        return;
    }
    run.ahead->lost = true;
    run.ahead->save.reset();  // its temporary file goes with it
    run.ahead->progress.clear();
}

bool clsSubtitle::keepWritingAhead(ConvertRun& run) {
    if (!run.ahead) return true;
    WriteAhead& ahead = *run.ahead;
    if (!ahead.lost) {
        if (!ahead.save) {
            run.ahead.reset();
            return true;
        }
        // What is left must come after what was written, and the head of the
        // file must say what a save of the whole table would.
        const SaveSettings now = saveSettingsOf(run.s, run.playResX, run.playResY, run.lastKind);
        bool fits = now.s_ScreenWidth == ahead.save->settings.s_ScreenWidth &&
                    now.s_ScreenHeight == ahead.save->settings.s_ScreenHeight;
        for (std::size_t i = 1; fits && i < run.table.size(); ++i) {
            fits = tableStart(run.table[i]) > ahead.lastStart;
        }
        if (!fits) stopWritingAhead(run);
    }
    return !ahead.lost;
}

// The entries left after the reading, written as the last piece; the writing
// progress held back is raised first.
bool clsSubtitle::finishWritingAhead(ConvertRun& run) {
    Save& save = *run.ahead->save;
    m_lastFailure.path = save.fileName;
    const bool ev = save.settings.s_RaiseAllEvent;
    const int32_t upper = ClampToInt32(save.entries + run.table.size() - 1);
    const WriterProgress onProgress = [&](std::size_t j) {
        if (!progress(ev, ClampToInt32(j), upper, kStatusWriting, save.fileName)) return false;
        yieldToCaller();
        return true;
    };
    bool written = true;
    for (const std::size_t j : run.ahead->progress) {
        if (!onProgress(j)) {
            written = false;
            break;
        }
    }
    if (written) written = writePiece(save, run.table, false, onProgress);
    const bool saved = finishSave(save, written);
    m_lastRun.writtenWhileReading = saved;
    return saved;
}

}  // namespace lumeval
