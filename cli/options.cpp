#include "cli/options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <limits>
#include <string>
#include <vector>
#include <thread>

#include "cli/parse.h"
#include "engine/encoding/codepage.h"
#include "engine/formats.h"

#ifndef LUMEVAL_VERSION
#define LUMEVAL_VERSION "unknown"
#endif

namespace lumeval::cli {
namespace {

// ---- validators ----
// The option parser reads "010" as octal and "0x10" as hex and accepts "nan"
// for a double; these put the plain decimal reading in front of it.

CLI::Validator WholeNumber() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const auto canonical = CanonicalDecimal(value);
            if (!canonical) return "Value " + value + " is not a whole number";
            value = *canonical;
            return {};
        },
        "", "WHOLE");
}

CLI::Validator TimeSeconds() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const std::string problem = TimeSecondsProblem(value);
            return problem.empty() ? problem : "Value " + value + " " + problem;
        },
        "", "DECIMAL");
}

CLI::Validator PositiveDecimal() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const auto number = ParseSeconds(value);
            if (!number || *number <= 0) return "Value " + value + " is not a number above 0";
            return {};
        },
        "", "POSITIVE");
}

// One frame rate (MicroDVD), or FROM:TO, a retiming from one rate to another.
CLI::Validator FrameRate() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (value.find(':') != std::string::npos) {
                if (!ParseRateChange(value))
                    return "Value " + value + " is not FROM:TO, two frame rates above 0 and at most 1000";
                return {};
            }
            const auto number = ParseSeconds(value);
            if (!number || *number <= 0 || *number > 1000) {
                return "Value " + value + " is not a frame rate above 0 and at most 1000";
            }
            return {};
        },
        "", "FPS");
}

CLI::Validator SyncPoint() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (!ParseSyncPoint(value))
                return "Value " + value + " is not OLD=NEW (each a time such as 00:01:02,500 or seconds)";
            return {};
        },
        "", "SYNC");
}

CLI::Validator Colour() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const auto colour = ParseColour(value);
            if (!colour) {
                return "Value " + value + " is not a colour from 0 to 0xFFFFFF (decimal or 0x hex)";
            }
            value = std::to_string(*colour);
            return {};
        },
        "", "COLOUR");
}

CLI::Validator Span() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (!ParseSpan(value)) {
                const auto colon = value.find(':');
                if (colon != std::string::npos) {
                    for (const std::string& part : {value.substr(0, colon), value.substr(colon + 1)}) {
                        if (ParseSeconds(part) && !ParseTimeSeconds(part)) {
                            return "Value " + value + ": " + part + " " + TimeSecondsProblem(part);
                        }
                    }
                }
                return "Value " + value + " is not START:END in seconds with START <= END";
            }
            return {};
        },
        "", "SPAN");
}

CLI::Validator FormatKeyName() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (!KindOfKey(value))
                return "Value " + value + " is not a format key (see --list-formats)";
            value = LowerAscii(value);
            return {};
        },
        "", "KEY");
}

CLI::Validator AvailableCodePage() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            int32_t page = 0;
            if (!CLI::detail::lexical_cast(value, page) || !CodePageAvailable(page)) {
                return "Value " + value + " is not a code page this build can convert";
            }
            return {};
        },
        "", "CODEPAGE");
}

CLI::Validator NonEmptyWord() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return value.empty() ? std::string("an empty filter word would match every line")
                                 : std::string();
        },
        "", "WORD");
}

/// A setting typed as a name or as its number (0 to the last); a wrong value
/// is answered with the words a person can type instead of the parser's own.
CLI::Validator Names(std::vector<std::string> names) {
    return CLI::Validator(
        [names](std::string& value) -> std::string {
            const std::string lower = LowerAscii(value);
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (lower == names[i]) {
                    value = std::to_string(i);
                    return {};
                }
            }
            if (const auto number = CanonicalDecimal(value)) {
                if (number->size() <= 2 && std::stoi(*number) >= 0 &&
                    std::stoul(*number) < names.size()) {
                    value = *number;
                    return {};
                }
            }
            return ChoiceProblem(value, names);
        },
        "", "NAME");
}

/// Text that goes into a file declaring UTF-8 must be UTF-8.
CLI::Validator Utf8Text() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return IsValidUtf8(value) ? std::string() : std::string("is not valid UTF-8 text");
        },
        "", "");
}

template <typename T>
CLI::Option* AddWhole(CLI::App& app, const std::string& name, T& target, const std::string& help,
                      T low, T high) {
    // Only a real bound is worth showing in the help.
    CLI::Range range(low, high);
    if (high == std::numeric_limits<T>::max()) range.description("");
    return app.add_option(name, target, help)
        ->capture_default_str()
        ->transform(WholeNumber())
        ->check(range)
        ->type_name("N");
}

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();

// Names in the order of the numbers they stand for.
const std::vector<std::string> kEffectNames{"none", "kf", "ko"};
const std::vector<std::string> kChineseNames{"none", "big5-to-gb", "gb-to-big5", "auto"};
const std::vector<std::string> kEncodingNames{"ansi",    "utf8",    "utf16le",
                                              "utf16be", "utf32le", "utf32be"};

constexpr const char* kFooter =
    R"(Exit status: 0 success, 1 the run failed (no readable source, no lines,
the save failed), 2 usage error.

Examples:
  lumeval-convert movie.srt -o movie.ass
  lumeval-convert part1.srt part2.srt --offset -2.5 -o joined.srt
  lumeval-convert movie.srt -o srt            (print start<TAB>end<TAB>text per line)
  lumeval-convert *.srt --to ass -d out -j 4)";

}  // namespace

ParseResult ParseCommandLine(int argc, char** argv) {
    CliOptions o;
    ConvertSettings& s = o.settings;

    CLI::App app{"Converts subtitle and lyric files between formats and encodings.",
                 "lumeval-convert"};
    app.get_formatter()->column_width(38);
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("lumeval-convert ") + LUMEVAL_VERSION);

    // ---- what to do ----
    app.add_option("SOURCE", o.sources, "Subtitle files, read in order");
    auto* destOpt =
        app.add_option("-o", o.dest,
                       "A file path (file mode), or a bare format key such as srt (event "
                       "mode: print start<TAB>end<TAB>text per line)")
            ->type_name("DEST");
    auto* toOpt = app.add_option("--to", o.toKey,
                                 "Batch mode: convert each SOURCE on its own into DIR/<name>.KEY")
                      ->transform(FormatKeyName())
                      ->type_name("KEY");
    auto* dirOpt = app.add_option("-d", o.outDir, "Batch mode: output folder (created if missing)")
                       ->type_name("DIR");
    o.jobs = std::max(1u, std::thread::hardware_concurrency());
    auto* jobsOpt =
        AddWhole(app, "-j", o.jobs,
                 "Batch mode: conversions at once (default: the number of processors)", 1u, 1024u);
    bool listFormats = false;
    app.add_flag("--list-formats", listFormats,
                 "List the format keys and whether they can be read and written");
    destOpt->excludes(toOpt);
    toOpt->needs(dirOpt);
    dirOpt->needs(toOpt);
    jobsOpt->needs(toOpt);

    // ---- script and style (SSA/ASS output) ----
    AddWhole(app, "--width", s.s_ScreenWidth, "Script width when the sources give no PlayResX", 1,
             kIntMax);
    AddWhole(app, "--height", s.s_ScreenHeight, "Script height when the sources give no PlayResY",
             1, kIntMax);
    app.add_option("--title", s.s_TitleString, "Title event text (SSA/ASS) and title line (LRC)")
        ->check(Utf8Text())
        ->type_name("TEXT");
    app.add_option("--banner", s.s_BannerString, "Banner event text (SSA/ASS)")
        ->check(Utf8Text())
        ->type_name("TEXT");
    app.add_option("--font-name", s.s_FontName, "Font name")
        ->capture_default_str()
        ->check(Utf8Text())
        ->type_name("NAME");
    AddWhole(app, "--font-size", s.s_FontSize, "Font size", 1, kIntMax);
    AddWhole(app, "--bold", s.s_FontBold, "Bold override value (0 off, 1 on)", 0, 1);
    AddWhole(app, "--italic", s.s_FontItalic, "Italic override value (0 off, 1 on)", 0, 1);
    AddWhole(app, "--outline", s.s_FontOutline, "Outline width (0: none)", 0, kIntMax);
    AddWhole(app, "--shadow", s.s_FontShadow, "Shadow depth (0: none)", 0, kIntMax);
    AddWhole(app, "--alpha", s.s_FontAlphaLevel, "Style alpha level", 0, 255);
    AddWhole(app, "--font-encoding", s.s_FontEncoding, "Style font encoding (134: GB2312)", 0, 255);
    app.add_option("--effect", s.s_EffectStyle,
                   "Karaoke effect: 0 or none, 1 or kf (fill), 2 or ko (outline)")
        ->transform(Names(kEffectNames))
        ->type_name("EFFECT")
        ->default_str("0");
    app.add_option("--effect-speed", s.s_EffectSpeed, "Karaoke speed divisor")
        ->capture_default_str()
        ->check(PositiveDecimal())
        ->type_name("X");
    const char* colourHelp = ", 0x00BBGGRR (decimal or 0x hex)";
    app.add_option("--fore-color", s.s_ForeColor, std::string("Primary colour") + colourHelp)
        ->transform(Colour())
        ->type_name("COLOUR")
        ->default_str(FormatColour(s.s_ForeColor));
    app.add_option("--effect-color", s.s_EffectColor,
                   std::string("Karaoke or outline colour") + colourHelp)
        ->transform(Colour())
        ->type_name("COLOUR")
        ->default_str(FormatColour(s.s_EffectColor));
    app.add_option("--shadow-color", s.s_ShadowColor,
                   std::string("Shadow or back colour") + colourHelp)
        ->transform(Colour())
        ->type_name("COLOUR")
        ->default_str(FormatColour(s.s_ShadowColor));
    AddWhole(app, "--align", s.s_SubtitleAlign,
             "Alignment override (numpad layout, 2: bottom centre)", 1, 9);

    // ---- timing and lines ----
    app.add_option("--offset", s.s_TimeOffset, "Seconds added to every time (may be negative)")
        ->capture_default_str()
        ->check(TimeSeconds())
        ->type_name("SECONDS");
    app.add_flag("--overwrite", s.s_Overwrite,
                 "Replace an existing output file (default: write to a free name such as "
                 "out(1).srt)");
    bool noSort = false;
    app.add_flag("--no-sort", noSort, "Keep the lines in reading order");
    std::string& window = o.windowText;
    app.add_option("--window", window,
                   "Keep only lines inside START:END (seconds; default: no window)")
        ->check(Span())
        ->type_name("START:END");
    bool absolute = false;
    app.add_flag("--absolute", absolute,
                 "With --window keep absolute times (default: re-based to the window start)");
    auto* creditOpt =
        app.add_option("--credit", s.s_AddCopyRightString, "Add a credit line")
            ->check(Utf8Text())
            ->type_name("TEXT");
    std::string creditSpan;
    app.add_option("--credit-span", creditSpan, "Span of the credit line, START:END (seconds)")
        ->check(Span())
        ->type_name("START:END")
        ->default_str("0:0")
        ->needs(creditOpt);
    app.add_flag("--merge-same", s.s_MergeSamePosition, "Merge lines that share a span");
    std::vector<std::string> filters;
    app.add_option("--filter", filters, "Drop lines whose text contains WORD (repeatable)")
        ->check(NonEmptyWord())
        ->check(Utf8Text())
        ->type_name("WORD");
    std::string fps;
    app.add_option("--fps", fps,
                   "N: frames a second of MicroDVD (.sub) sources and output; wins over a "
                   "source's own rate line (default: that line, else 23.976). FROM:TO: a "
                   "subtitle timed for FROM frames a second, shown with a TO video: every time "
                   "is multiplied by FROM/TO")
        ->check(FrameRate())
        ->type_name("N|FROM:TO");
    std::vector<std::string> syncs;
    app.add_option("--sync", syncs,
                   "OLD=NEW, given exactly twice (times as 00:01:02,500 or seconds): the cues "
                   "at the two OLD times get the NEW times, every other time moves linearly")
        ->check(SyncPoint())
        ->type_name("OLD=NEW");
    AddWhole(app, "--interval", s.s_RaiseEventInterval, "Lines between progress updates", 1,
             kIntMax);

    // ---- text ----
    app.add_option("--chinese", s.s_InternalCodeConversion,
                   "Chinese conversion: 0 none, 1 big5-to-gb, 2 gb-to-big5, 3 auto")
        ->transform(Names(kChineseNames))
        ->type_name("MODE")
        ->default_str("0");
    s.s_SubtitleEncodeFormat = kEncodingUtf8;
    app.add_option("--encoding", s.s_SubtitleEncodeFormat,
                   "Encoding of the written file: 0 ansi, 1 utf8, 2 utf16le, 3 utf16be, "
                   "4 utf32le, 5 utf32be")
        ->transform(Names(kEncodingNames))
        ->type_name("ENC")
        ->default_str("utf8");
    app.add_option("--codepage", o.codePage,
                   "Code page of ANSI text, read and written (936 GBK, 950 BIG5, ...); "
                   "default: told from each source's content, else 936, and 936 for writing")
        ->transform(WholeNumber())
        ->check(AvailableCodePage())
        ->type_name("N");

    // ---- reporting ----
    bool progress = false;
    auto* progressOpt =
        app.add_flag("--progress,!--no-progress", progress,
                     "Progress bar on standard error (default: when it is a terminal)");
    app.add_flag("--quiet,-q", o.quiet, "Print nothing but errors");

    try {
        app.parse(argc, argv);
        if (listFormats) {
            o.mode = Mode::ListFormats;
        } else if (!o.toKey.empty()) {
            o.mode = Mode::Batch;
        } else if (destOpt->count() > 0) {
            o.mode = Mode::Single;
            if (o.dest.empty()) throw CLI::ValidationError("-o", "DEST is empty");
        } else {
            throw CLI::RequiredError("-o DEST or --to KEY -d DIR");
        }
        if (o.mode != Mode::ListFormats && o.sources.empty()) {
            throw CLI::RequiredError("SOURCE");
        }
        if (!syncs.empty() && syncs.size() != 2)
            throw CLI::ValidationError("--sync", "give it exactly twice (two OLD=NEW points), not " +
                                                     std::to_string(syncs.size()) + " times");
        const bool rateChange = fps.find(':') != std::string::npos;
        if (rateChange && !syncs.empty())
            throw CLI::ValidationError("--fps", "FROM:TO and --sync both retime every line: give one of them");
        if (rateChange) {
            const Retime r = *ParseRateChange(fps);
            s.s_RetimeFactor = r.factor;
        } else if (!fps.empty()) {
            s.s_FrameRate = *ParseSeconds(fps);
        }
        if (syncs.size() == 2) {
            const auto [retime, why] = SyncRetime(*ParseSyncPoint(syncs[0]), *ParseSyncPoint(syncs[1]));
            if (!retime) throw CLI::ValidationError("--sync", why);
            s.s_RetimeFactor = retime->factor;
            s.s_RetimeShift = retime->shift;
        }
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return {std::nullopt, code == 0 ? kExitOk : kExitUsage};
    }

    s.s_Sort = !noSort;
    s.s_SplitMode = absolute ? 1 : 0;
    if (auto span = ParseSpan(window)) {
        s.s_TimeStartPoint = span->first;
        s.s_TimeEndPoint = span->second;
    }
    if (auto span = ParseSpan(creditSpan)) {
        s.s_AddCopyRightTimeStartPoint = span->first;
        s.s_AddCopyRightTimeEndPoint = span->second;
    }
    for (std::size_t i = 0; i < filters.size(); ++i) {
        if (i > 0) s.s_RemoveSubFilters.push_back('\0');
        s.s_RemoveSubFilters += filters[i];
    }
    // The converter always listens: progress, the saved path and cancelling
    // all come through ProgressChange.
    s.s_RaiseAllEvent = true;
    s.s_RaiseCompleteEvent = true;

    if (progressOpt->count() > 0) {
        o.progress = progress;
    } else {
        // Event mode printing to the same terminal would tear the bar apart.
        const bool eventsToTerminal =
            o.mode == Mode::Single && DestinationOf(o.dest).eventMode && isatty(STDOUT_FILENO);
        o.progress = isatty(STDERR_FILENO) != 0 && !eventsToTerminal;
    }
    if (o.quiet) o.progress = false;
    return {std::move(o), kExitOk};
}

}  // namespace lumeval::cli
