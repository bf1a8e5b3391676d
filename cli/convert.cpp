#include "cli/convert.h"

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/parse.h"
#include "cli/progress.h"
#include "engine/encoding/codepage.h"
#include "engine/encoding/detect.h"
#include "engine/formats.h"
#include "engine/subtitle.h"

namespace lumeval::cli {
namespace {

namespace fs = std::filesystem;

// ---- messages ----

void PrintError(const std::string& message) {
    std::fprintf(stderr, "lumeval-convert: %s\n", message.c_str());
}

void PrintLine(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
}

// ---- cancelling ----
// Ctrl+C asks the engine to stop at its next progress event, so no partial
// file is left behind. A second Ctrl+C ends the process at once.

std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    g_cancel.store(true);
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// ---- formats and sources ----

/// Why a txt source gives nothing.
constexpr const char* kWriteOnly = " is write only; its lines carry no times";

std::string BaseName(const std::string& path) {
    return fs::path(path).filename().string();
}

/// Why a source cannot be read, or empty when it can. `cannotRead`: the file
/// is there but the system refused it (the cause is the system's message).
struct SourceCheck {
    std::string problem;
    bool cannotRead = false;
    bool writeOnly = false;  ///< a format with no reader (txt)
};

SourceCheck CheckSource(const std::string& path) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        if (ec && ec != std::errc::no_such_file_or_directory) return {ec.message(), true};
        return {"no such file"};
    }
    if (fs::is_directory(status)) return {"is a folder"};
    if (!fs::is_regular_file(status)) return {"not a regular file"};
    const auto kind = SourceKindOfPath(path);
    if (!kind) return {"unknown format (the extension is not a format key)"};
    if (!ReaderAvailable(*kind)) return {std::string(RowOfKind(*kind)->key) + kWriteOnly, false, true};
    if (std::string why = UnreadableReason(path); !why.empty()) return {std::move(why), true};
    return {};
}

/// One line about a source that is skipped or failed: "cannot read a.srt:
/// Permission denied", "a.srt: not a regular file".
std::string DescribeSource(const std::string& path, const SourceCheck& check) {
    return check.cannotRead ? "cannot read " + path + ": " + check.problem
                            : path + ": " + check.problem;
}

/// Absolute, normalised form of a path for comparing (symbolic links
/// resolved as far as the path exists).
fs::path Canonical(const fs::path& path) {
    std::error_code ec;
    auto canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) return fs::absolute(path, ec).lexically_normal();
    return canonical;
}

/// True when both paths name the same file (hard links included).
bool SamePath(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return Canonical(a) == Canonical(b);
}

/// What the run's options were, for the message of a run that delivered no cue.
struct RunContext {
    std::vector<std::string> sources;  ///< the sources the run could read
    std::string window;                ///< --window as typed, empty: none
    int32_t chinese = 0;
};

std::string NoCueReason(const RunInfo& info, const RunContext& run) {
    if (!run.window.empty() && info.outsideWindow > 0) {
        return "no cues inside --window " + run.window;
    }
    std::string names;
    for (const auto& source : run.sources) {
        if (!names.empty()) names += ", ";
        names += source;
    }
    return (names.empty() ? std::string("SOURCE") : names) + ": no timed lines";
}

std::string DescribeFailure(const RunFailure& failure, const RunInfo& info, const std::string& dest,
                            int32_t codePage, const RunContext& run) {
    switch (failure.kind) {
        case RunFailure::NoSource:
            return "no readable source (none exists or none has a known extension)";
        case RunFailure::NoLines:
            return NoCueReason(info, run);
        case RunFailure::AllFiltered:
            return "no cues left after --filter";
        case RunFailure::NothingToWrite:
            return "nothing to write: no line has text for this format";
        case RunFailure::SaveFailed: {
            std::string text = "cannot write " + (failure.path.empty() ? dest : failure.path);
            if (failure.error != 0) text += std::string(": ") + std::strerror(failure.error);
            return text;
        }
        case RunFailure::Unmappable:
            return "line " + std::to_string(failure.line) +
                   " of the output holds a character that code page " +
                   std::to_string(ResolveCodePage(codePage)) +
                   " cannot hold; use --encoding utf8";
        case RunFailure::Cancelled:
            return "cancelled";
        case RunFailure::Busy:
            return "the engine is busy with another run";
        case RunFailure::ChineseUnavailable:
            return failure.message + " (needed by --chinese " + std::to_string(run.chinese) + ")";
        case RunFailure::Internal:
            return "internal failure: " + failure.message;
        case RunFailure::None:
            break;
    }
    return "the conversion failed";
}

/// Said when the format allows UTF-8 only and another encoding was asked for.
std::string EncodingNote(const std::string& dest) {
    const FormatKey* row = RowOfKind(WriterKindOfPath(dest));
    return "lumeval-convert: note: " + std::string(row != nullptr ? row->key : "this format") +
           " is always UTF-8; --encoding is ignored";
}

/// "m.srt: read as MicroDVD by its content" for each source whose extension
/// named a format its content is not.
void PrintReadByContent(const RunInfo& info) {
    for (const SourceInfo& source : info.sources) {
        if (!source.readByContent.empty()) {
            PrintLine(source.path + ": read as " + source.readByContent + " by its content");
        }
    }
}

std::string CuesText(std::size_t cues) {
    return std::to_string(cues) + (cues == 1 ? " cue" : " cues");
}

/// One line per legacy source on the code page it was read with: the page
/// its content showed ("b.srt: read as Big5"), or the default when it showed
/// none. Unicode sources, ASCII text and a page set by --codepage go unsaid.
std::vector<std::string> CodePageNotes(const RunInfo& info, bool pageGiven) {
    std::vector<std::string> notes;
    if (pageGiven) return notes;
    for (const SourceInfo& source : info.sources) {
        if (source.encoding != kEncodingAnsi || source.codePage == 0) continue;
        std::string note = source.path + ": read as " + CodePageDisplayName(source.codePage);
        if (!source.codePageDetected) note += " (the default; --codepage N picks another)";
        notes.push_back(std::move(note));
    }
    return notes;
}

// ---- event mode output ----

/// start<TAB>end<TAB>text lines to standard output, written in large blocks:
/// event mode may print hundreds of thousands of lines.
class EventWriter {
  public:
    void Add(double startMs, double endMs, const std::string& text) {
        AppendEventLine(m_buffer, startMs, endMs, text);
        if (m_buffer.size() >= kBlock) Flush();
    }
    /// False when standard output could not take everything.
    bool Flush() {
        if (!m_buffer.empty()) {
            if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), stdout) != m_buffer.size()) {
                m_ok = false;
            }
            m_buffer.clear();
        }
        if (std::fflush(stdout) != 0) m_ok = false;
        return m_ok;
    }

  private:
    static constexpr std::size_t kBlock = 1 << 20;
    std::string m_buffer;
    bool m_ok = true;
};

// ---- listing ----

int ListFormats() {
    std::string out;
    for (const auto& row : kFormatKeys) {
        out += row.key;
        out += '\t';
        out += std::to_string(row.kind);
        out += '\t';
        out += row.description;
        out += row.reader != nullptr ? "\tyes" : "\tno";
        out += row.writer != nullptr ? "\tyes" : "\tno";
        out += '\t';
        out += HoldsText(row.holds);
        out += '\n';
    }
    std::fputs(out.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// ---- one conversion of all sources ----

int RunSingle(const CliOptions& o) {
    const Destination destination = DestinationOf(o.dest);
    if (!destination.eventMode) {
        std::error_code ec;
        if (fs::is_directory(o.dest, ec)) {
            PrintError("-o " + o.dest + ": is a folder; give a file name");
            return kExitUsage;
        }
        for (const auto& source : o.sources) {
            if (SamePath(source, o.dest)) {
                PrintError("-o " + o.dest + ": is also a SOURCE; no source is ever written over");
                return kExitUsage;
            }
        }
    }

    RunContext run;
    run.window = o.windowText;
    run.chinese = o.settings.s_InternalCodeConversion;
    std::vector<std::string> warnings;
    std::vector<std::string> writeOnly;
    for (const auto& source : o.sources) {
        const SourceCheck check = CheckSource(source);
        if (check.problem.empty()) {
            run.sources.push_back(source);
            continue;
        }
        if (check.writeOnly) writeOnly.push_back(DescribeSource(source, check));
        // A file that is there but cannot be read is worth a line even in a
        // quiet run: the user named it and it was left out.
        if (!o.quiet || check.cannotRead) {
            warnings.push_back("lumeval-convert: warning: " + DescribeSource(source, check) +
                               ", skipped");
        }
    }
    if (run.sources.empty() && !writeOnly.empty()) {
        // Only text files: say why they give nothing, once each.
        for (const auto& line : writeOnly) PrintError(line);
        return kExitFailed;
    }
    for (const auto& line : warnings) PrintLine(line);
    if (run.sources.empty()) {
        PrintError("no readable source (none exists or none has a known extension)");
        return kExitFailed;
    }

    clsSubtitle engine;
    engine.AnsiCodePage = o.codePage;
    ConvertSettings settings = o.settings;
    settings.dst_SubFile = o.dest;

    ProgressBar bar(o.progress);
    EventWriter events;
    std::string currentFile;
    std::string written;
    engine.ProgressChange = [&](int32_t value, int32_t max, int32_t status, const std::string& text,
                                bool& cancel) {
        if (g_cancel.load()) cancel = true;
        switch (status) {
            case kStatusFileStart:
                currentFile = BaseName(text);
                bar.Update("reading " + currentFile, 0, 0, true);
                break;
            case kStatusReading:
                bar.Update("reading " + currentFile, value, max);
                break;
            case kStatusWriting:
                bar.Update("writing " + BaseName(text), value, max);
                break;
            case kStatusSaved:
                written = text;
                break;
            default:
                break;
        }
    };
    if (destination.eventMode) {
        engine.SubtitleLineLoaded = [&](double start, double end, const std::string& text) {
            events.Add(start, end, text);
        };
    }

    // Only the sources that can be read go to the engine: a FIFO would hold
    // the run, and each skipped one was named above.
    const bool ok = engine.ConvertSubtitle_Array(run.sources, settings);
    bar.Clear();
    if (destination.eventMode && !events.Flush()) {
        PrintError("cannot write to standard output");
        return kExitFailed;
    }
    for (const auto& [path, why] : engine.LastRun().unreadable) {
        PrintLine("lumeval-convert: warning: cannot read " + path + ": " + why + ", skipped");
    }
    if (!o.quiet) {
        for (const auto& note : CodePageNotes(engine.LastRun(), o.codePage != 0)) PrintLine(note);
        PrintReadByContent(engine.LastRun());
    }
    if (!ok) {
        PrintError(DescribeFailure(engine.LastFailure(), engine.LastRun(), o.dest, o.codePage, run));
        return kExitFailed;
    }
    if (engine.LastRun().timesRefused > 0 && !o.quiet) {
        PrintLine("lumeval-convert: warning: " + std::to_string(engine.LastRun().timesRefused) +
                  " line(s) left out: a time beyond 999999999 hours (or shifted past it)");
    }
    if (engine.LastRun().encodingReplaced && !o.quiet) {
        PrintLine(EncodingNote(o.dest));
    }
    if (!destination.eventMode && !o.quiet) {
        PrintLine("wrote " + (written.empty() ? o.dest : written) + ": " +
                  CuesText(engine.LastRun().cuesWritten));
    }
    return kExitOk;
}

// ---- batch ----

struct BatchItem {
    std::string source;
    std::string output;  ///< planned path; the written path once done
    std::string error;   ///< empty while the item can still succeed
    std::size_t cues = 0;
    bool encodingReplaced = false;
    std::string readByContent;  ///< the format the content showed, when not the extension's
    std::vector<std::string> codePageNotes;
};

/// The first of base.key, base(1).key, base(2).key, ... that this batch has not
/// claimed, that is no source, and (unless overwriting) does not exist yet.
std::string FreeOutputName(const fs::path& dir, const std::string& stem, const std::string& key,
                           bool overwrite, const std::set<fs::path>& claimed,
                           const std::set<fs::path>& sources) {
    for (int n = 0; n < 100000; ++n) {
        const std::string name =
            n == 0 ? stem + "." + key : stem + "(" + std::to_string(n) + ")." + key;
        const fs::path candidate = dir / name;
        const fs::path canonical = Canonical(candidate);
        if (claimed.count(canonical) || sources.count(canonical)) continue;
        std::error_code ec;
        if (!overwrite && fs::exists(candidate, ec)) continue;
        return candidate.string();
    }
    return {};
}

/// Decides every output path before anything runs, so parallel conversions
/// never race for a free name and no output lands on a source.
std::vector<BatchItem> PlanBatch(const CliOptions& o) {
    const fs::path dir = o.outDir;
    std::set<fs::path> sourcePaths;
    for (const auto& source : o.sources) sourcePaths.insert(Canonical(source));

    std::vector<BatchItem> items;
    std::set<fs::path> claimed;
    for (const auto& source : o.sources) {
        BatchItem item;
        item.source = source;
        const SourceCheck check = CheckSource(source);
        if (!check.problem.empty()) {
            item.error = check.cannotRead ? "cannot read " + source + ": " + check.problem
                                          : check.problem;
        } else {
            const std::string stem = fs::path(source).stem().string();
            const fs::path natural = dir / (stem + "." + o.toKey);
            if (SamePath(natural, source)) {
                item.error = "the output " + natural.string() + " would replace the source";
            } else if (o.settings.s_Overwrite && sourcePaths.count(Canonical(natural))) {
                item.error = "the output " + natural.string() + " is another source";
            } else {
                item.output = FreeOutputName(dir, stem, o.toKey, o.settings.s_Overwrite, claimed,
                                             sourcePaths);
                if (item.output.empty()) {
                    item.error = "no free output name for " + natural.string();
                } else {
                    claimed.insert(Canonical(item.output));
                }
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

void ConvertOne(clsSubtitle& engine, const CliOptions& o, BatchItem& item) {
    if (g_cancel.load()) {
        item.error = "cancelled";
        return;
    }
    ConvertSettings settings = o.settings;
    settings.dst_SubFile = item.output;
    // The plan already chose a name that may be replaced.
    settings.s_Overwrite = true;
    std::string written;
    engine.ProgressChange = [&](int32_t, int32_t, int32_t status, const std::string& text,
                                bool& cancel) {
        if (g_cancel.load()) cancel = true;
        if (status == kStatusSaved) written = text;
    };
    const bool ok = engine.ConvertSubtitle(item.source, settings);
    for (const SourceInfo& source : engine.LastRun().sources) {
        if (!source.readByContent.empty()) item.readByContent = source.readByContent;
    }
    item.codePageNotes = CodePageNotes(engine.LastRun(), o.codePage != 0);
    if (ok) {
        item.cues = engine.LastRun().cuesWritten;
        item.encodingReplaced = engine.LastRun().encodingReplaced;
        if (!written.empty()) item.output = written;
    } else {
        RunContext run;
        run.sources = {item.source};
        run.window = o.windowText;
        run.chinese = o.settings.s_InternalCodeConversion;
        item.error =
            DescribeFailure(engine.LastFailure(), engine.LastRun(), item.output, o.codePage, run);
    }
}

/// One file of a batch; whatever goes wrong is that file's failure, never
/// the end of the other conversions.
void ConvertOneGuarded(clsSubtitle& engine, const CliOptions& o, BatchItem& item) {
    try {
        ConvertOne(engine, o, item);
    } catch (const std::bad_alloc&) {
        item.error = "internal failure: out of memory";
    } catch (const std::exception& e) {
        item.error = std::string("internal failure: ") + e.what();
    } catch (...) {
        item.error = "internal failure: an unknown exception";
    }
}

int RunBatch(const CliOptions& o) {
    std::error_code ec;
    fs::create_directories(o.outDir, ec);
    if (!fs::is_directory(o.outDir)) {
        PrintError("cannot create the folder " + o.outDir +
                   (ec ? ": " + ec.message() : std::string()));
        return kExitFailed;
    }

    std::vector<BatchItem> items = PlanBatch(o);
    const std::size_t count = items.size();

    // Summaries come out in source order, each as soon as it and all before
    // it are done, so the log is both live and reproducible.
    std::mutex lock;
    std::vector<char> done(count, 0);
    std::size_t printed = 0;
    std::size_t finished = 0;
    bool anyFailed = false;
    ProgressBar bar(o.progress);
    auto finish = [&](std::size_t index) {
        std::lock_guard guard(lock);
        done[index] = 1;
        ++finished;
        bar.Clear();
        while (printed < count && done[printed]) {
            const BatchItem& item = items[printed];
            if (!o.quiet) {
                for (const auto& note : item.codePageNotes) PrintLine(note);
                if (!item.readByContent.empty()) {
                    PrintLine(item.source + ": read as " + item.readByContent + " by its content");
                }
            }
            if (!item.error.empty()) {
                anyFailed = true;
                PrintLine(item.source + ": failed: " + item.error);
            } else if (!o.quiet) {
                PrintLine(item.source + " -> " + item.output + ": " + CuesText(item.cues));
                if (item.encodingReplaced) PrintLine(EncodingNote(item.output));
            }
            ++printed;
        }
        bar.Update("converted " + std::to_string(finished) + " of " + std::to_string(count),
                   static_cast<int64_t>(finished), static_cast<int64_t>(count), true);
    };

    std::atomic<std::size_t> next{0};
    auto work = [&] {
        clsSubtitle engine;
        engine.AnsiCodePage = o.codePage;
        for (std::size_t i = next++; i < count; i = next++) {
            if (items[i].error.empty()) ConvertOneGuarded(engine, o, items[i]);
            finish(i);
        }
    };
    const std::size_t threads = std::min<std::size_t>(o.jobs, count);
    if (threads <= 1) {
        work();
    } else {
        std::vector<std::jthread> pool;
        pool.reserve(threads);
        for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
    }
    bar.Clear();
    return anyFailed ? kExitFailed : kExitOk;
}

}  // namespace

int RunConverter(const CliOptions& options) {
    switch (options.mode) {
        case Mode::ListFormats:
            return ListFormats();
        case Mode::Single:
            InstallInterruptHandler();
            return RunSingle(options);
        case Mode::Batch:
            InstallInterruptHandler();
            return RunBatch(options);
    }
    return kExitUsage;
}

}  // namespace lumeval::cli
