// The bodies of the fuzz targets, shared with the regression test that replays
// every input the fuzzers ever crashed on.
//
// Each entry takes the raw fuzzer bytes and returns an empty string when all
// is well, or a description of the broken property. Memory errors and
// undefined behaviour are left to the sanitizers of the fuzz build; the
// returned text covers what no sanitizer can see (a save/load round trip
// that changes the text, an event with a line break in it, ...). The fuzz
// targets abort on a non-empty result; the regression test reports it.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/encoding/chinese.h"
#include "engine/encoding/textfile.h"
#include "engine/formats.h"
#include "engine/linetable.h"
#include "engine/subtitle.h"
#include "engine/timecode.h"

namespace lumeval::fuzz {

/// One scratch file per process and name, reused by every input and removed
/// at exit: creating a fresh file per input would cost more than the parse.
inline std::string ScratchPath(std::string_view name) {
    struct Scratch {
        std::string folder;
        Scratch() {
            std::error_code ec;
            std::filesystem::path base = std::filesystem::temp_directory_path(ec);
            if (ec) base = "/tmp";
            folder = (base / ("lumeval-fuzz-" + std::to_string(::getpid()))).string();
            std::filesystem::create_directories(folder, ec);
        }
        ~Scratch() {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        }
    };
    static Scratch scratch;
    return scratch.folder + "/" + std::string(name);
}

inline bool WriteBytes(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

/// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
/// Everything the engine holds in memory must pass this.
inline bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return false;
        }
        i += len;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Time texts

/// The bytes as a time text through every reader, and each result back
/// through every writer style.
inline std::string FuzzTimecode(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static constexpr int16_t kStyles[] = {0, 1, 2, 3, 4, 5, 98, 99};

    const double msComma = TimeToMSecs(text, ",");
    const double msDot = TimeToMSecs(text, ".");
    const double values[] = {
        msComma,
        msDot,
        TimeToSec(text, true, ",") * 1000,
        TimeToSec(text, false, ",") * 1000,
        TimeToSec(text, true, ".") * 1000,
        TimeToSec(text, false, ".") * 1000,
        CueTimeToMSecs(text),
    };
    // Every writer style for every reading, plus the raw bytes taken as a
    // double (NaN, infinities, huge and negative counts).
    auto writeAll = [](double v) -> std::string {
        for (int16_t style : kStyles) {
            if (MSecsToTime(v, style).empty()) return "MSecsToTime gave an empty text";
        }
        if (MSecsToCueTime(v).empty()) return "MSecsToCueTime gave an empty text";
        std::string appended = "x";
        AppendTimeStyle0(appended, v);
        if (appended != "x" + MSecsToTime(v, 0)) {
            return "AppendTimeStyle0 differs from MSecsToTime for " + std::to_string(v);
        }
        return {};
    };
    for (double v : values) {
        if (std::string problem = writeAll(v); !problem.empty()) return problem;
    }
    if (size >= sizeof(double)) {
        double raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        if (std::string problem = writeAll(raw); !problem.empty()) return problem;
    }

    // The fast path copies canonical times instead of reading them; that is
    // only right if the general reader and writer agree with the copy.
    if (IsCanonicalTime(text)) {
        const int32_t ms = CanonicalTimeMs(text);
        if (ms != msComma) {
            return "CanonicalTimeMs " + std::to_string(ms) + " but TimeToMSecs " +
                   std::to_string(msComma);
        }
        if (MSecsToTime(ms, 0) != text) return "a canonical time does not format back to itself";
    }

    // The same, one level up: a span without offset or window takes the
    // copying path of AddTimedLine; a window too wide to cut anything forces
    // the general path and must give the same entry. Only readings inside
    // that window count: a window drops what lies outside, the copy does not
    // (a bare number of seconds can be far beyond any clock time).
    {
        constexpr double kWindowEnd = 1e12;  // seconds
        const auto arrow = text.find("->");
        const double start = TimeToSec(text.substr(0, arrow), true, ",");
        const double end =
            arrow == std::string_view::npos ? start + 5 : TimeToSec(text.substr(arrow + 2), true, ",");
        if (start >= 0 && end >= 0 && start <= kWindowEnd && end <= kWindowEnd) {
            LineTable copied(1), computed(1);
            AddTimedLine(copied, text, "t", TimingRules{});
            AddTimedLine(computed, text, "t", TimingRules{0, kWindowEnd, 0, 0});
            if (copied != computed) {
                return "AddTimedLine: copied " + std::string(copied.size() > 1 ? copied[1] : "(nothing)") +
                       ", computed " + std::string(computed.size() > 1 ? computed[1] : "(nothing)");
            }
        }
    }

    // Milliseconds are whole numbers no larger than the longest time a text
    // holds (beyond it the reader gives 0).
    for (double ms : {msComma, msDot}) {
        if (!std::isfinite(ms) || RoundHalfEven(ms) != ms || std::fabs(ms) > static_cast<double>(kMaxTimeMs)) {
            return "TimeToMSecs gave " + std::to_string(ms) + ", not a whole count within the limit";
        }
        // The line table stores every time in style 0 and reads it back with
        // ",": that trip must be exact, hours of any width included.
        if (ms >= 0) {
            const std::string style0 = MSecsToTime(ms, 0);
            const double back = TimeToMSecs(style0, ",");
            if (back != ms) {
                return "style 0 round trip: " + std::to_string(ms) + " -> " + style0 + " -> " +
                       std::to_string(back);
            }
            const double backSec = TimeToSec(style0, true, ",");
            if (std::fabs(backSec * 1000 - ms) >= 0.5) {
                return "style 0 read as seconds: " + style0 + " -> " + std::to_string(backSec);
            }
        }
    }
    return {};
}

// ---------------------------------------------------------------------------
// Text files

/// First byte: the encoding code -1..5 to load with; the rest: the file.
inline std::string FuzzTextFile(const uint8_t* data, std::size_t size) {
    if (size == 0) return {};
    const int32_t code = static_cast<int32_t>(data[0] % 7) - 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string path = ScratchPath("input.txt");
    if (!WriteBytes(path, bytes)) return {};  // a full disk is not the engine's fault

    unsigned char first4[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i) {
        first4[i] = static_cast<unsigned char>(bytes[i]);
    }
    const int32_t declared = DetectByteOrderMark(first4).code;
    if (UEFCheckTextFileFormat(path) != declared) {
        return "UEFCheckTextFileFormat disagrees with DetectByteOrderMark";
    }

    for (int32_t fmt = kEncodingAnsi; fmt <= kEncodingUtf32BE; ++fmt) {
        if (!IsValidUtf8(DecodeText(bytes, fmt, 0))) {
            return "DecodeText with encoding " + std::to_string(fmt) + " gave invalid UTF-8";
        }
    }

    int32_t fmt = code;
    const std::string text = UEFLoadTextFile(path, fmt, 0);
    if (code == kEncodingDetect && !text.empty() && (fmt < kEncodingAnsi || fmt > kEncodingUtf32BE)) {
        return "UEFLoadTextFile left the detected encoding at " + std::to_string(fmt);
    }
    if (!IsValidUtf8(text)) return "UEFLoadTextFile gave invalid UTF-8";

    // The mappings skip OpenCC for text its dictionaries cannot change; the
    // skip must never change a result.
    if (ToSimplifiedChinese(text) != detail::ToSimplifiedChineseDirect(text)) {
        return "ToSimplifiedChinese differs from the unshortened mapping";
    }
    if (ToTraditionalChinese(text) != detail::ToTraditionalChineseDirect(text)) {
        return "ToTraditionalChinese differs from the unshortened mapping";
    }

    // Whatever was loaded must survive a UTF-8 save and a detecting load.
    const std::string copy = ScratchPath("roundtrip.txt");
    int32_t saveFmt = kEncodingUtf8;
    if (!UEFSaveTextFile(copy, text, false, saveFmt, kEncodingUtf8, 0)) {
        return "UEFSaveTextFile in UTF-8 failed";
    }
    int32_t loadFmt = kEncodingDetect;
    const std::string back = UEFLoadTextFile(copy, loadFmt, 0);
    if (back != text) return "UTF-8 save and load changed the text";
    if (!back.empty() && loadFmt != kEncodingUtf8) {
        return "a UTF-8 file with its mark loaded as encoding " + std::to_string(loadFmt);
    }
    return {};
}

// Checks every event a conversion raises; the first broken property lands in
// `problem`.
inline void WatchEvents(clsSubtitle& engine, std::string& problem) {
    engine.ProgressChange = [&](int32_t value, int32_t max, int32_t status, const std::string&,
                                bool&) {
        if (status < kStatusFileStart || status > kStatusCancelled) {
            problem = "ProgressChange with status " + std::to_string(status);
        } else if (value < 0 || max < 0) {
            problem = "ProgressChange with a negative position";
        }
    };
    engine.SubtitleLineLoaded = [&](double start, double end, const std::string& text) {
        if (!std::isfinite(start) || !std::isfinite(end) || start < 0 || end < 0) {
            problem = "SubtitleLineLoaded with times " + std::to_string(start) + ", " +
                      std::to_string(end);
        } else if (text.find_first_of("\r\n") != std::string::npos) {
            problem = "SubtitleLineLoaded text holds a raw line break";
        } else if (!IsValidUtf8(text)) {
            problem = "SubtitleLineLoaded text is not valid UTF-8";
        }
    };
}

// ---------------------------------------------------------------------------
// SubRip conversion

/// Byte 0: character-set conversion mode (% 4). Byte 1: window on/off, split
/// mode, output encoding. Bytes 2-3: window start and length in seconds.
/// Byte 4: offset in quarter seconds (signed). The rest: the .srt file.
inline std::string FuzzConvertSrt(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = 5;
    if (size < kHeader) return {};
    const std::string_view bytes(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    const std::string source = ScratchPath("input.srt");
    if (!WriteBytes(source, bytes)) return {};

    ConvertSettings s;
    s.s_InternalCodeConversion = data[0] % 4;
    const uint8_t flags = data[1];
    if (flags & 0x01) {
        s.s_TimeStartPoint = data[2] % 64;
        s.s_TimeEndPoint = s.s_TimeStartPoint + data[3] % 64;
    }
    s.s_SplitMode = (flags & 0x02) ? 1 : 0;
    s.s_TimeOffset = static_cast<int8_t>(data[4]) / 4.0;
    s.s_MergeSamePosition = (flags & 0x04) != 0;
    s.s_SubtitleEncodeFormat = (flags >> 3) % 4;  // ANSI, UTF-8, UTF-16 LE, UTF-16 BE
    s.s_RaiseEventInterval = 1 + (flags >> 5);
    s.s_Overwrite = true;

    clsSubtitle engine;
    std::string problem;
    WatchEvents(engine, problem);

    // A line that the load skips as unchanged must really be unchanged.
    {
        int32_t fmt = kEncodingDetect;
        const std::string text = UEFLoadTextFile(source, fmt, 0);
        ConversionContext ctx;
        ctx.mode = s.s_InternalCodeConversion;
        ctx.cls = CheckChineseInternalCodeSpecification(text, 0);
        ctx.big5ReadAsGbk = fmt == kEncodingAnsi && LooksLikeBig5ReadAsGbk(text);
        ctx.writesAnsi = s.s_SubtitleEncodeFormat == kEncodingAnsi;
        std::size_t from = 0;
        while (from < text.size()) {
            auto nl = text.find('\n', from);
            if (nl == std::string::npos) nl = text.size();
            std::string line = text.substr(from, nl - from);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            from = nl + 1;
            if (!InternalCodeConversionMayChange(line, ctx) &&
                ApplyInternalCodeConversion(line, ctx) != line) {
                return "InternalCodeConversionMayChange said no, but the conversion changed " + line;
            }
        }
    }

    s.dst_SubFile = "srt";
    engine.ConvertSubtitle(source, s);
    if (!problem.empty()) return "event mode: " + problem;

    for (const char* name : {"out.stxt", "out.srt"}) {
        const std::string dest = ScratchPath(name);
        std::error_code ec;
        std::filesystem::remove(dest, ec);
        s.dst_SubFile = dest;
        const bool ok = engine.ConvertSubtitle(source, s);
        if (!problem.empty()) return std::string(name) + ": " + problem;
        if (ok && (std::filesystem::file_size(dest, ec) == 0 || ec)) {
            return std::string(name) + ": the run succeeded but the file is empty or missing";
        }
    }

    // What the engine wrote in its own timed form must read back.
    const std::string written = ScratchPath("out.stxt");
    if (std::filesystem::exists(written)) {
        ConvertSettings again;
        again.dst_SubFile = "stxt";
        engine.ConvertSubtitle(written, again);
        if (!problem.empty()) return "re-reading out.stxt: " + problem;
    }
    return {};
}

// ---------------------------------------------------------------------------
// Every other reader, and every writer

/// Byte 0: the source key (one of the readers besides SubRip). Byte 1: the
/// destination key (any of the sixteen). Byte 2: flags (merge, output
/// encoding, effect style, sort). Byte 3: effect speed in tenths (0 tests the
/// guard against a zero speed). The rest: the source file.
inline std::string FuzzConvertAny(const uint8_t* data, std::size_t size) {
    static constexpr std::string_view kSources[] = {"ssa", "ass", "lrc", "ksc", "krc", "smi",
                                                    "sami", "snc", "qly", "stl", "vsf", "dks",
                                                    "stxt", "utf", "vtt"};
    constexpr std::size_t kHeader = 4;
    if (size < kHeader) return {};
    // LUMEVAL_FUZZ_SOURCE=lrc (say) holds a run to one reader.
    static const char* const forced = std::getenv("LUMEVAL_FUZZ_SOURCE");
    const std::string_view sourceKey =
        forced != nullptr && *forced != '\0' ? std::string_view(forced) : kSources[data[0] % std::size(kSources)];
    const std::string_view destKey = kFormatKeys[data[1] % kFormatKeys.size()].key;
    const uint8_t flags = data[2];
    const std::string_view bytes(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    const std::string source = ScratchPath("input." + std::string(sourceKey));
    if (!WriteBytes(source, bytes)) return {};

    ConvertSettings s;
    s.s_MergeSamePosition = (flags & 0x01) != 0;
    s.s_SubtitleEncodeFormat = 1 + (flags >> 1) % 3;  // UTF-8, UTF-16 LE, UTF-16 BE
    s.s_EffectStyle = (flags >> 3) % 4;               // 3: not a style, taken as none
    s.s_Sort = (flags & 0x20) == 0;
    s.s_EffectSpeed = data[3] / 10.0;
    s.s_TitleString = (flags & 0x40) ? "Title\r\nline" : "";
    s.s_BannerString = (flags & 0x80) ? "Banner" : "";
    s.s_RaiseEventInterval = 7;
    s.s_Overwrite = true;

    clsSubtitle engine;
    engine.OutputPieceBytes = 64;  // large outputs go out in pieces; small ones too, here
    std::string problem;
    WatchEvents(engine, problem);

    s.dst_SubFile = std::string(sourceKey);
    engine.ConvertSubtitle(source, s);
    if (!problem.empty()) return "event mode: " + problem;

    const std::string dest = ScratchPath("out." + std::string(destKey));
    std::error_code ec;
    std::filesystem::remove(dest, ec);
    s.dst_SubFile = dest;
    const bool ok = engine.ConvertSubtitle(source, s);
    if (!problem.empty()) return "writing " + std::string(destKey) + ": " + problem;
    if (ok && (std::filesystem::file_size(dest, ec) == 0 || ec)) {
        return "writing " + std::string(destKey) + ": the run succeeded but the file is empty";
    }
    if (ok) {
        // Whatever we wrote must read back without complaint.
        ConvertSettings again;
        again.dst_SubFile = std::string(destKey);
        engine.ConvertSubtitle(dest, again);
        if (!problem.empty()) return "re-reading " + std::string(destKey) + ": " + problem;
    }
    return {};
}

// ---------------------------------------------------------------------------
// Reading a piece at a time

/// The first event in which a run read whole and another run (`how`) differ,
/// said; empty when they are the same.
inline std::string FirstEventDifference(const std::vector<std::string>& whole,
                                        const std::vector<std::string>& other, const std::string& how) {
    for (std::size_t i = 0; i < std::max(whole.size(), other.size()); ++i) {
        const std::string a = i < whole.size() ? whole[i] : "(none)";
        const std::string b = i < other.size() ? other[i] : "(none)";
        if (a != b) return "event " + std::to_string(i) + " differs: whole " + a + ", " + how + " " + b;
    }
    return {};
}

/// Byte 0: the source's format. Byte 1: the piece size (1 to 64 bytes) and
/// the progress interval. The rest: the file. Read a piece at a time and
/// read whole, the run must be the same: lines, progress, what was read.
inline std::string FuzzPiecewise(const uint8_t* data, std::size_t size) {
    static constexpr std::string_view kSources[] = {"srt", "ass", "lrc", "ksc", "smi", "stxt",
                                                    "vtt", "sub", "stl", "qly", "txt"};
    constexpr std::size_t kHeader = 2;
    if (size < kHeader) return {};
    const std::string_view key = kSources[data[0] % std::size(kSources)];
    const std::string source = ScratchPath("pieces." + std::string(key));
    if (!WriteBytes(source, std::string_view(reinterpret_cast<const char*>(data + kHeader), size - kHeader))) {
        return {};
    }
    struct Run {
        std::vector<std::string> seen;  // every event, in order
        RunInfo info;
        bool ok = false;
    };
    const auto convert = [&](bool whole, bool alongside) {
        Run run;
        clsSubtitle engine;
        engine.PiecewiseFromBytes = whole ? UINT64_MAX : 0;
        engine.SurveyWhileReading = alongside;
        engine.PieceBytes = 1 + data[1] % 64;
        engine.ProgressChange = [&](int32_t v, int32_t m, int32_t st, const std::string& t, bool&) {
            run.seen.push_back(std::to_string(v) + "/" + std::to_string(m) + " " + std::to_string(st) + " " + t);
        };
        engine.SubtitleLineLoaded = [&](double a, double b, const std::string& t) {
            run.seen.push_back(std::to_string(a) + "->" + std::to_string(b) + "|" + t);
        };
        ConvertSettings s;
        s.dst_SubFile = "srt";
        s.s_RaiseEventInterval = 1 + data[1] / 64;
        run.ok = engine.ConvertSubtitle(source, s);
        run.info = engine.LastRun();
        return run;
    };
    const Run whole = convert(true, false);
    // In pieces with the survey first, and while a second thread surveys.
    for (const bool alongside : {false, true}) {
        const Run pieces = convert(false, alongside);
        const std::string how = alongside ? " (surveyed alongside)" : "";
        if (whole.ok != pieces.ok) return "the run's result differs when read in pieces" + how;
        if (std::string diff = FirstEventDifference(whole.seen, pieces.seen, "in pieces"); !diff.empty()) {
            return diff + how;
        }
        if (whole.info.sources.size() != pieces.info.sources.size()) return "sources differ" + how;
        for (std::size_t i = 0; i < whole.info.sources.size(); ++i) {
            const SourceInfo& a = whole.info.sources[i];
            const SourceInfo& b = pieces.info.sources[i];
            if (a.encoding != b.encoding || a.codePage != b.codePage ||
                a.codePageDetected != b.codePageDetected || a.readByContent != b.readByContent) {
                return "the source is reported otherwise when read in pieces" + how;
            }
        }
        if (whole.info.lastReason != pieces.info.lastReason) return "the load's reason differs" + how;
    }
    return {};
}

// ---------------------------------------------------------------------------
// Writing while reading

/// Byte 0: the source (SubRip or WebVTT), the destination (SSA or SubRip),
/// sort, overwrite or a new name, surveyed first or alongside, the progress
/// interval. Byte 1: the piece size (1 to 32 bytes) and how many entries are
/// read before a piece is written (2 to 17). The rest:
/// the file. Written while read and saved whole at the end, the file, the
/// events and the report must be the same, and no temporary file is left.
inline std::string FuzzWriteAhead(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = 2;
    if (size < kHeader) return {};
    const bool vtt = (data[0] & 1) != 0;
    const std::string source = ScratchPath(vtt ? "ahead.vtt" : "ahead.srt");
    if (!WriteBytes(source, std::string_view(reinterpret_cast<const char*>(data + kHeader), size - kHeader))) {
        return {};
    }
    struct Run {
        std::vector<std::string> seen;
        std::string written;
        RunInfo info;
        bool ok = false;
        std::size_t files = 0;
    };
    const auto convert = [&](std::size_t every) {
        Run run;
        const std::string folder = ScratchPath("ahead-out");
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
        std::filesystem::create_directories(folder, ec);
        const std::string dest = folder + ((data[0] & 2) != 0 ? "/out.srt" : "/out.ass");
        const bool overwrite = (data[0] & 8) == 0;
        if (!overwrite) WriteBytes(dest, "old");
        clsSubtitle engine;
        engine.PiecewiseFromBytes = 0;
        engine.SurveyWhileReading = (data[0] & 16) != 0;
        engine.PieceBytes = 1 + data[1] % 32;
        engine.OutputPieceBytes = 64;
        engine.WriteWhileReadingEntries = every;
        engine.ProgressChange = [&](int32_t v, int32_t m, int32_t st, const std::string& t, bool&) {
            run.seen.push_back(std::to_string(v) + "/" + std::to_string(m) + " " + std::to_string(st) + " " + t);
        };
        ConvertSettings s;
        s.dst_SubFile = dest;
        s.s_Sort = (data[0] & 4) == 0;
        s.s_Overwrite = overwrite;
        s.s_RaiseEventInterval = 1 + data[0] / 32;
        run.ok = engine.ConvertSubtitle(source, s);
        run.info = engine.LastRun();
        for (const auto& f : std::filesystem::directory_iterator(folder, ec)) {
            ++run.files;
            if (f.path() != dest || overwrite) {
                std::FILE* in = std::fopen(f.path().c_str(), "rb");
                if (in == nullptr) continue;
                char buf[4096];
                for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) run.written.append(buf, n);
                std::fclose(in);
            }
        }
        return run;
    };
    const Run whole = convert(0);
    const Run ahead = convert(2 + data[1] / 16);
    if (whole.ok != ahead.ok) return "the run's result differs when written while read";
    if (whole.written != ahead.written) return "the file differs when written while read";
    if (whole.files != ahead.files) return "the folder holds other files when written while read";
    if (std::string diff = FirstEventDifference(whole.seen, ahead.seen, "written while read"); !diff.empty()) {
        return diff;
    }
    if (whole.info.linesLoaded != ahead.info.linesLoaded || whole.info.cuesWritten != ahead.info.cuesWritten ||
        whole.info.timesRefused != ahead.info.timesRefused || whole.info.sources.size() != ahead.info.sources.size()) {
        return "the report differs when written while read";
    }
    return {};
}

// ---------------------------------------------------------------------------
// WebVTT

/// Byte 0: flags (output encoding asked for, sort, merge, offset). The rest:
/// the .vtt file. Read in event mode, written as WebVTT in UTF-8 with one
/// timing line per cue, and the written file read again with valid text and
/// ends not before starts.
inline std::string FuzzConvertVtt(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = 1;
    if (size < kHeader) return {};
    const std::string_view bytes(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    const std::string source = ScratchPath("input.vtt");
    if (!WriteBytes(source, bytes)) return {};
    const uint8_t flags = data[0];

    ConvertSettings s;
    s.s_SubtitleEncodeFormat = flags % 6;  // anything asked for: UTF-8 is written
    s.s_Sort = (flags & 0x08) == 0;
    s.s_MergeSamePosition = (flags & 0x10) != 0;
    s.s_TimeOffset = (flags & 0x20) ? -1.5 : 0;
    s.s_RaiseEventInterval = 5;
    s.s_Overwrite = true;

    clsSubtitle engine;
    engine.OutputPieceBytes = 64;
    std::string problem;
    WatchEvents(engine, problem);
    s.dst_SubFile = "vtt";
    engine.ConvertSubtitle(source, s);
    if (!problem.empty()) return "event mode: " + problem;

    const std::string dest = ScratchPath("out.vtt");
    std::error_code ec;
    std::filesystem::remove(dest, ec);
    s.dst_SubFile = dest;
    if (!engine.ConvertSubtitle(source, s)) return {};
    if (!problem.empty()) return "writing: " + problem;
    const std::size_t written = engine.LastRun().cuesWritten;
    if (!engine.LastRun().encodingReplaced != (s.s_SubtitleEncodeFormat == kEncodingUtf8)) {
        return "the encoding was not replaced by UTF-8";
    }
    std::string head(3, '\0');
    {
        std::FILE* f = std::fopen(dest.c_str(), "rb");
        if (f == nullptr) return "the written file cannot be opened";
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    }
    if (head != "\xEF\xBB\xBF") return "the written file is not UTF-8 with its mark";

    // Read back: as many cues as were written, each with a start and an end.
    std::size_t read = 0;
    ConvertSettings again;
    again.dst_SubFile = "vtt";
    again.s_Sort = false;
    engine.SubtitleLineLoaded = [&](double start, double end, const std::string& text) {
        if (!IsValidUtf8(text)) problem = "re-read text is not valid UTF-8";
        if (!(end >= start)) problem = "re-read cue ends before it starts";
        ++read;
    };
    engine.ConvertSubtitle(dest, again);
    if (!problem.empty()) return "re-reading: " + problem;
    // Every cue written has its timing line. Reading back may merge cues
    // that the writing made equal (a blank line inside a text is left out,
    // and the reader drops duplicates), never lose all of them or add any.
    std::size_t timingLines = 0;
    {
        int32_t fmt = kEncodingDetect;
        const std::string text = UEFLoadTextFile(dest, fmt, 0);
        for (std::size_t at = text.find(" --> "); at != std::string::npos;
             at = text.find(" --> ", at + 5)) {
            ++timingLines;
        }
    }
    if (timingLines != written) {
        return "wrote " + std::to_string(written) + " cues but " + std::to_string(timingLines) +
               " timing lines";
    }
    if (read > written || (written > 0 && read == 0)) {
        return "wrote " + std::to_string(written) + " cues, read back " + std::to_string(read);
    }
    return {};
}

// ---------------------------------------------------------------------------
// MicroDVD and SubViewer 2 (.sub), and reading by content

/// Byte 0: flags (bit 0: the file is named .srt, so the SubRip reader finds
/// nothing and the content decides; bits 1-2: the run's frame rate; bit 3:
/// sort; bit 4: an offset). The rest: the file. Read in event mode, written
/// as MicroDVD, and the written file checked line by line (the rate line
/// first, then "{start}{end}" with end after start) and read back.
inline std::string FuzzConvertSub(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = 1;
    if (size < kHeader) return {};
    const std::string_view bytes(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    const uint8_t flags = data[0];
    const std::string source = ScratchPath((flags & 0x01) ? "input.srt" : "input.sub");
    if (!WriteBytes(source, bytes)) return {};

    static constexpr double kRates[] = {0, 25, 0.5, 1000};
    ConvertSettings s;
    s.s_FrameRate = kRates[(flags >> 1) % 4];
    s.s_Sort = (flags & 0x08) == 0;
    s.s_TimeOffset = (flags & 0x10) ? -1.5 : 0;
    s.s_RaiseEventInterval = 5;
    s.s_Overwrite = true;

    clsSubtitle engine;
    engine.OutputPieceBytes = 64;
    std::string problem;
    WatchEvents(engine, problem);
    s.dst_SubFile = "srt";
    engine.ConvertSubtitle(source, s);
    if (!problem.empty()) return "event mode: " + problem;
    for (const SourceInfo& info : engine.LastRun().sources) {
        if (!info.readByContent.empty() && (flags & 0x01) == 0 && info.readByContent != "SubRip" &&
            info.readByContent != "SSA/ASS" && info.readByContent != "WebVTT" &&
            info.readByContent != "SAMI" && info.readByContent != "LRC") {
            return "a .sub file was read again as " + info.readByContent;
        }
    }

    const std::string dest = ScratchPath("out.sub");
    std::error_code ec;
    std::filesystem::remove(dest, ec);
    s.dst_SubFile = dest;
    s.s_SubtitleEncodeFormat = kEncodingUtf8;
    if (!engine.ConvertSubtitle(source, s)) return {};
    if (!problem.empty()) return "writing: " + problem;
    const std::size_t written = engine.LastRun().cuesWritten;

    int32_t fmt = kEncodingDetect;
    const std::string text = UEFLoadTextFile(dest, fmt, 0);
    std::size_t lines = 0;
    for (std::size_t from = 0; from <= text.size();) {
        std::size_t nl = text.find("\r\n", from);
        if (nl == std::string::npos) nl = text.size();
        const std::string_view line(text.data() + from, nl - from);
        from = nl + 2;
        if (lines++ == 0) {
            if (!line.starts_with("{1}{1}")) return "the first line is no rate line";
            continue;
        }
        if (line.find_first_of("\r\n") != std::string_view::npos) return "a cue line holds a line end";
        // "{start}{end}" with end after start.
        uint64_t frames[2] = {0, 0};
        std::size_t i = 0;
        for (uint64_t& frame : frames) {
            if (i >= line.size() || line[i] != '{') return "a cue line without its frames";
            std::size_t digits = 0;
            for (++i; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i, ++digits) {
                if (digits == 18) return "a frame number too long";
                frame = frame * 10 + static_cast<uint64_t>(line[i] - '0');
            }
            if (digits == 0 || i >= line.size() || line[i] != '}') return "a cue line without its frames";
            ++i;
        }
        if (frames[1] <= frames[0]) return "a cue that ends at or before its start";
    }
    if (lines != written + 1) {
        return "wrote " + std::to_string(written) + " cues in " + std::to_string(lines) + " lines";
    }

    // Read back with the rate it was written at; cues that the frames made
    // equal may merge, none may appear.
    std::size_t read = 0;
    ConvertSettings again;
    again.dst_SubFile = "sub";
    again.s_Sort = false;
    engine.SubtitleLineLoaded = [&](double start, double end, const std::string& t) {
        if (!IsValidUtf8(t)) problem = "re-read text is not valid UTF-8";
        if (!(end > start)) problem = "a re-read cue does not end after it starts";
        ++read;
    };
    engine.ConvertSubtitle(dest, again);
    if (!problem.empty()) return "re-reading: " + problem;
    if (read > written) {
        return "wrote " + std::to_string(written) + " cues, read back " + std::to_string(read);
    }
    return {};
}

}  // namespace lumeval::fuzz
