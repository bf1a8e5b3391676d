// Large sources read a piece at a time: the same run as reading them whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "engine/encoding/textfile.h"
#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

using Progress = std::tuple<int32_t, int32_t, int32_t, std::string>;
using LoadedLine = std::tuple<double, double, std::string>;

struct PiecewiseOutcome {
    bool ok = false;
    std::vector<Progress> progress;
    std::vector<LoadedLine> lines;
    std::string written;  // the run's file, for the file-mode runs
    RunInfo info;
};

// `pieces`: 0 reads whole; otherwise pieces of that many bytes from any size.
// `alongside`: a source whose start looks right is read while surveyed.
PiecewiseOutcome Convert(const std::string& path, std::size_t pieces, const std::string& dest = "srt",
            int32_t interval = 1, bool alongside = true) {
    clsSubtitle engine;
    engine.PiecewiseFromBytes = pieces == 0 ? UINT64_MAX : 0;
    engine.SurveyWhileReading = alongside;
    if (pieces != 0) engine.PieceBytes = pieces;
    PiecewiseOutcome r;
    engine.ProgressChange = [&](int32_t v, int32_t m, int32_t st, const std::string& t, bool&) {
        r.progress.emplace_back(v, m, st, t);
    };
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
        r.lines.emplace_back(s, e, t);
    };
    ConvertSettings s;
    s.dst_SubFile = dest;
    s.s_RaiseEventInterval = interval;
    s.s_Overwrite = true;
    r.ok = engine.ConvertSubtitle(path, s);
    if (dest.find('.') != std::string::npos) r.written = readBytes(dest);
    r.info = engine.LastRun();
    return r;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// `count` SubRip cues, one a second, half a second long: "1", the times,
// `text` and the cue's number, with `eol` ending each line.
std::string NumberedCues(int count, const std::string& eol, const std::string& text) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        char times[64];
        std::snprintf(times, sizeof times, "%02d:%02d:%02d,000 --> %02d:%02d:%02d,500", i / 3600, i / 60 % 60,
                      i % 60, i / 3600, i / 60 % 60, i % 60);
        bytes += std::to_string(i + 1) + eol + times + eol + text + std::to_string(i) + eol + eol;
    }
    return bytes;
}

// ASCII as UTF-16 LE with its mark.
std::string Utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

struct Source {
    const char* what;
    const char* name;
    std::string bytes;
    bool inPieces;  // its bytes are its text: read a piece at a time
};

std::vector<Source> Sources() {
    const std::string cue = "1\r\n00:00:01,000 --> 00:00:02,000\r\n中文字幕\r\nsecond line\r\n\r\n";
    const std::string ascii = "2\n00:00:03,000 --> 00:00:04,500\nplain <br> text\n\n";
    return {
        {"UTF-8, CRLF", "a.srt", Repeat(cue, 5), true},
        {"UTF-8 with a mark", "b.srt", "\xEF\xBB\xBF" + Repeat(cue, 3), true},
        {"ASCII, no line end at the end", "c.srt", Repeat(ascii, 3) + "3\n00:00:05,000 --> 00:00:06,000\nend",
         true},
        {"ASCII, ends with blank lines", "d.srt", Repeat(ascii, 2) + "\n\n\n", true},
        {"classic Mac line ends", "e.stxt", "00:00:01,000->00:00:02,000|a\r00:00:03,000->00:00:04,000|b\r",
         true},
        {"lone CRs and a CR at the very end", "f.stxt",
         "00:00:01,000->00:00:02,000|a\rb\n00:00:03,000->00:00:04,000|c\r\n00:00:05,000->00:00:06,000|d\r",
         true},
        {"controls, a C1 control, characters of every length", "g.srt",
         "1\n00:00:01,000 --> 00:00:02,000\na\x1B" "b\xC2\x85" "c é € 😀 \xC2\x85\n\n", true},
        {"a line longer than a piece", "h.srt",
         "1\n00:00:01,000 --> 00:00:02,000\n" + std::string(300, 'w') + "\n\n" + ascii, true},
        {"ASS with its play resolution", "i.ass",
         "[Script Info]\nPlayResX: 1280\nPlayResY: 720\n\n[Events]\n"
         "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
         "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\b1}粗{\\b0}\n",
         true},
        {"LRC", "j.lrc", "[ti:t]\n[00:01.00]一\n[00:02.50]two [x] three\n[00:04.00]\n", true},
        {"a misnamed MicroDVD file", "k.srt", "{1}{1}25.000\n{25}{50}Hi|there\n{75}{100}二\n", true},
        {"GBK (no text as it stands)", "l.srt",
         "1\n00:00:01,000 --> 00:00:02,000\n\xD6\xD0\xCE\xC4\xD7\xD6\xC4\xBB\n\n", false},
        {"UTF-8 cut off in its last character", "m.srt",
         "1\n00:00:01,000 --> 00:00:02,000\nok \xE4\xB8", false},
        {"UTF-16 with its mark", "n.srt", Utf16("1\n00:00:01,000 --> 00:00:02,000\nx\n"), false},
        {"ASCII with a zero byte", "o.srt", std::string("1\n00:00:01,000 --> 00:00:02,000\nx\0y\n", 37),
         false},
        // Sources whose start is fine, read alongside the survey until it
        // refuses them, then read whole.
        {"UTF-8 at first, GBK further on", "p.srt",
         Repeat(cue, 2) + "9\r\n00:00:09,000 --> 00:00:10,000\r\n\xD6\xD0\xCE\xC4\r\n", false},
        {"ASCII at first, a zero byte further on", "q.srt",
         Repeat(ascii, 2) + std::string("5\n00:00:05,000 --> 00:00:06,000\nx\0y\n", 37), false},
    };
}

// Every piece size reads the same lines, raises the same progress and
// reports the same encoding as the whole text; only the readInPieces mark
// differs, and it says which way was taken.
TEST(PiecewiseReading, ReadsWhatTheWholeTextReads) {
    TempDir dir;
    for (const Source& src : Sources()) {
        SCOPED_TRACE(src.what);
        const std::string path = dir.file(src.name);
        writeBytes(path, src.bytes);
        const PiecewiseOutcome whole = Convert(path, 0);
        ASSERT_TRUE(whole.ok);
        ASSERT_FALSE(whole.lines.empty());
        for (const std::size_t pieces : {1, 2, 3, 4, 5, 7, 16, 64, 4096})
        for (const bool alongside : {false, true}) {
            SCOPED_TRACE("pieces of " + std::to_string(pieces) + (alongside ? ", surveyed alongside" : ""));
            const PiecewiseOutcome run = Convert(path, pieces, "srt", 1, alongside);
            EXPECT_EQ(whole.ok, run.ok);
            EXPECT_EQ(whole.lines, run.lines);
            EXPECT_EQ(whole.progress, run.progress);
            ASSERT_EQ(1u, run.info.sources.size());
            const SourceInfo& a = whole.info.sources[0];
            const SourceInfo& b = run.info.sources[0];
            EXPECT_EQ(a.encoding, b.encoding);
            EXPECT_EQ(a.codePage, b.codePage);
            EXPECT_EQ(a.codePageDetected, b.codePageDetected);
            EXPECT_EQ(a.readByContent, b.readByContent);
            EXPECT_EQ(whole.info.lastReason, run.info.lastReason);
            EXPECT_EQ(whole.info.lastEncoding, run.info.lastEncoding);
            EXPECT_FALSE(a.readInPieces);
            // A file read again by its content is then held whole.
            EXPECT_EQ(src.inPieces && b.readByContent.empty(), b.readInPieces);
        }
    }
}

// The pass that splits the text tells the SubRip reader which lines hold no
// ">" and need no search for an arrow. A time line is found wherever its
// arrow falls against the pass's 64-byte blocks, across a piece's end, after
// a lone CR, with a control character inside it (removed before reading)
// and as the text's last line.
TEST(PiecewiseReading, TimeLinesFoundAtEveryBlockOffset) {
    TempDir dir;
    struct Style {
        const char* what;
        std::string end;         // line end
        std::string beforeTime;  // what precedes the second time line on its line
        std::string arrow;
    };
    const Style styles[] = {
        {"LF", "\n", "", "-->"},
        {"CRLF", "\r\n", "", "-->"},
        {"a lone CR before the time line", "\n", "x\r", "-->"},
        {"a control character in the arrow", "\n", "", "--\x01>"},
    };
    for (const Style& st : styles) {
        for (int pad = 1; pad <= 70; ++pad) {
            for (const bool last : {false, true}) {
                SCOPED_TRACE(std::string(st.what) + ", text of " + std::to_string(pad) +
                             (last ? ", time line last" : ""));
                std::string text = "1" + st.end + "00:00:01,000 --> 00:00:02,000" + st.end +
                                   std::string(static_cast<std::size_t>(pad), 'a') + st.end + st.end + "2" +
                                   st.end + st.beforeTime + "00:00:03,000 " + st.arrow + " 00:00:04,000";
                if (!last) text += st.end + "b" + st.end;
                const std::string path = dir.file("t.srt");
                writeBytes(path, text);
                for (const std::size_t pieces : {std::size_t{0}, std::size_t{5}, std::size_t{64}}) {
                    const PiecewiseOutcome run = Convert(path, pieces);
                    ASSERT_TRUE(run.ok) << "pieces " << pieces;
                    ASSERT_EQ(2u, run.lines.size()) << "pieces " << pieces;
                    EXPECT_EQ(3000, std::get<0>(run.lines[1]));
                    EXPECT_EQ(4000, std::get<1>(run.lines[1]));
                    EXPECT_EQ(last ? "" : "b", std::get<2>(run.lines[1]));
                }
            }
        }
    }
}

TEST(PiecewiseReading, WritesTheSameFile) {
    TempDir dir;
    const std::string path = dir.file("a.srt");
    writeBytes(path, Repeat("7\r\n00:01:00,000 --> 00:01:02,000\r\n字幕 & <i>text</i>\r\n\r\n", 40));
    for (const char* dest : {"whole.ass", "pieces.ass"}) {
        const PiecewiseOutcome run = Convert(path, dest == std::string("whole.ass") ? 0 : 13, dir.file(dest));
        ASSERT_TRUE(run.ok) << dest;
    }
    EXPECT_EQ(readBytes(dir.file("whole.ass")), readBytes(dir.file("pieces.ass")));
}

// The survey tells what the loader would: the same encoding, reason and page
// for every file, and whether the bytes can be used as they stand.
TEST(SurveySource, AgreesWithTheLoader) {
    TempDir dir;
    for (const Source& src : Sources()) {
        SCOPED_TRACE(src.what);
        const std::string path = dir.file(src.name);
        writeBytes(path, src.bytes);
        int32_t fmt = kEncodingDetect;
        LoadReason reason = LoadReason::None;
        LoadedCodePage page;
        const std::string text = UEFLoadTextFile(path, fmt, 0, &reason, &page);
        for (const std::size_t pieces : {1, 2, 3, 5, 256}) {
            const PiecewiseSource s = SurveySource(path, 0, pieces);
            ASSERT_EQ(src.inPieces, s.usable) << pieces;
            if (!s.usable) continue;
            EXPECT_EQ(fmt, s.fmt);
            EXPECT_EQ(reason, s.reason);
            EXPECT_EQ(page.codePage, s.page.codePage);
            EXPECT_EQ(page.asciiOnly, s.page.asciiOnly);
            EXPECT_EQ(page.detected, s.page.detected);
            EXPECT_EQ(text.size(), s.size);
            const char sep = text.find('\n') != std::string::npos ? '\n' : '\r';
            EXPECT_EQ(sep, s.sep);
            EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), sep)), s.lineEnds);
        }
    }
}

TEST(SurveySource, RefusesWhatIsNotWorthIt) {
    TempDir dir;
    const std::string path = dir.file("a.srt");
    writeBytes(path, "1\n00:00:01,000 --> 00:00:02,000\nx\n");
    EXPECT_FALSE(SurveySource(path, 0, 256, 1000).usable) << "shorter than the least size";
    EXPECT_TRUE(SurveySource(path, 0, 256, 10).usable);
    // A page that does not read ASCII as itself would change the text.
    EXPECT_FALSE(SurveySource(path, 65001, 256).usable);
    EXPECT_FALSE(SurveySource(dir.file("missing.srt"), 0, 256).usable);
    EXPECT_FALSE(SurveySource(dir.path().string(), 0, 256).usable) << "a folder";
}

TEST(ReadSourcePieces, PiecesEndAtLineEndsAndMakeTheText) {
    TempDir dir;
    const std::string path = dir.file("a.srt");
    const std::string text = "ab\nc\r\n\n" + std::string(40, 'd') + "\nend";
    writeBytes(path, "\xEF\xBB\xBF" + text);
    for (const std::size_t pieces : {1, 2, 3, 8, 100}) {
        SCOPED_TRACE(pieces);
        const PiecewiseSource s = SurveySource(path, 0, pieces);
        ASSERT_TRUE(s.usable);
        std::string joined;
        bool sawLast = false;
        const PieceRead read = ReadSourcePieces(
            path, s,
            [&](std::string_view piece, bool last) {
                EXPECT_FALSE(sawLast) << "a piece after the last";
                if (!last) {
                    EXPECT_EQ('\n', piece.back());
                }
                sawLast = last;
                joined += piece;
                return true;
            },
            pieces);
        EXPECT_EQ(PieceRead::Done, read);
        EXPECT_TRUE(sawLast);
        EXPECT_EQ(text, joined);
    }
    const PiecewiseSource s = SurveySource(path, 0, 4);
    int calls = 0;
    EXPECT_EQ(PieceRead::Stopped,
              ReadSourcePieces(path, s, [&](std::string_view, bool) { return ++calls < 2; }, 4));
    EXPECT_EQ(2, calls);
    // Another file in its place since the survey: refused, nothing handed on.
    writeBytes(path, "\xEF\xBB\xBF" + text + "more\n");
    calls = 0;
    EXPECT_EQ(PieceRead::Changed,
              ReadSourcePieces(path, s, [&](std::string_view, bool) { return ++calls > 0; }, 4));
    EXPECT_EQ(0, calls);
}

// A source cut short by another program while its pieces are read: what was
// read of it is undone and the file read whole as it now is, once.
TEST(PiecewiseReading, ASourceCutShortIsReadAgainWhole) {
    TempDir dir;
    const std::string path = dir.file("a.srt");
    const std::string bytes = NumberedCues(200, "\n", "cue ");
    writeBytes(path, bytes);
    const std::size_t kept = bytes.find("\n\n101\n") + 2;  // the first 100 cues

    clsSubtitle engine;
    engine.PiecewiseFromBytes = 0;
    engine.PieceBytes = 64;
    // The cut is made from the progress handler, which a reading alongside
    // the survey may raise only after its last piece.
    engine.SurveyWhileReading = false;
    bool cut = false;
    engine.ProgressChange = [&](int32_t v, int32_t, int32_t st, const std::string&, bool&) {
        if (st == 1 && v > 0 && !cut) {
            ASSERT_EQ(0, ::truncate(path.c_str(), static_cast<off_t>(kept)));
            cut = true;
        }
    };
    std::vector<std::string> texts;
    engine.SubtitleLineLoaded = [&](double, double, const std::string& t) { texts.push_back(t); };
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_RaiseEventInterval = 8;
    s.s_Sort = false;
    ASSERT_TRUE(engine.ConvertSubtitle(path, s));
    ASSERT_TRUE(cut);
    ASSERT_EQ(100u, texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ("cue " + std::to_string(i), texts[i]);
    ASSERT_EQ(1u, engine.LastRun().sources.size());
    EXPECT_FALSE(engine.LastRun().sources[0].readInPieces);
    EXPECT_EQ(1, engine.LastRun().sourcesRead);
}


// A larger source in pieces much smaller than it, so that the survey
// alongside can finish before, during or after the reading: the progress
// kept for it comes out in order and the same as reading whole, whenever.
TEST(PiecewiseReading, ProgressKeptForTheSurveyComesOutInOrder) {
    TempDir dir;
    const std::string path = dir.file("big.srt");
    writeBytes(path, NumberedCues(6000, "\r\n", "字幕 "));
    const PiecewiseOutcome whole = Convert(path, 0, "srt", 50);
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(6000u, whole.lines.size());
    for (int round = 0; round < 5; ++round) {
        for (const std::size_t pieces : {512, 4096, 65536}) {
            SCOPED_TRACE(pieces);
            const PiecewiseOutcome run = Convert(path, pieces, "srt", 50);
            EXPECT_EQ(whole.lines, run.lines);
            EXPECT_EQ(whole.progress, run.progress);
            ASSERT_EQ(1u, run.info.sources.size());
            EXPECT_TRUE(run.info.sources[0].readInPieces);
            EXPECT_EQ(whole.info.sources[0].encoding, run.info.sources[0].encoding);
        }
    }
}

// Cancelled at the first line's progress, before or after the survey
// alongside has counted the lines: the run fails as cancelled and writes
// nothing, as it does when the survey runs first.
TEST(PiecewiseReading, CancelledWhileReadAlongsideTheSurvey) {
    TempDir dir;
    const std::string path = dir.file("a.srt");
    writeBytes(path, Repeat("1\n00:00:01,000 --> 00:00:02,000\nx\n\n", 400));
    for (const bool alongside : {false, true}) {
        SCOPED_TRACE(alongside);
        clsSubtitle engine;
        engine.PiecewiseFromBytes = 0;
        engine.PieceBytes = 256;
        engine.SurveyWhileReading = alongside;
        std::vector<Progress> seen;
        engine.ProgressChange = [&](int32_t v, int32_t m, int32_t st, const std::string& t, bool& cancel) {
            seen.emplace_back(v, m, st, t);
            if (st == 1 && v > 0) cancel = true;
        };
        ConvertSettings s;
        s.dst_SubFile = dir.file(alongside ? "b.ass" : "a.ass");
        s.s_RaiseEventInterval = 100;
        EXPECT_FALSE(engine.ConvertSubtitle(path, s));
        EXPECT_FALSE(std::filesystem::exists(s.dst_SubFile));
        // Reading progress up to the cancel, its end the count of line ends,
        // then the cancelled status.
        ASSERT_GE(seen.size(), 3u);
        EXPECT_EQ(Progress(100, 1600, 1, path), seen[seen.size() - 2]);
        EXPECT_EQ(6, std::get<2>(seen.back()));
    }
}

// The start of a source tells whether to read it while it is surveyed.
TEST(PeekSource, TellsAStartWorthReadingAlongside) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t pieceBytes;
        std::uint64_t minBytes;
        bool promising;
        std::uint64_t skip;
        std::size_t headLineEnds;
    };
    const std::string body = "1\n00:00:01,000 --> 00:00:02,000\nx\n\n";
    const std::vector<Case> cases = {
        {"ASCII", body, 256, 0, true, 0, 4},
        {"a UTF-8 mark", "\xEF\xBB\xBF" + body, 256, 0, true, 3, 4},
        {"a UTF-16 mark", std::string("\xFF\xFE" "1\0\n\0", 6), 256, 0, false, 0, 0},
        {"no line feed in the start", "1234567890\n", 4, 0, false, 0, 0},
        {"a zero byte in the start", std::string("1\nx\0y\n", 6), 256, 0, false, 0, 0},
        {"GBK in the start", "1\n\xD6\xD0\xCE\xC4\n", 256, 0, false, 0, 0},
        {"a character cut at the start's end", "ab\n\xE4\xB8\xAD\n", 1, 0, true, 0, 1},
        {"a character cut at the file's end", "ab\n\xE4\xB8", 256, 0, false, 0, 0},
        {"GBK after the start (the survey finds it)", "ab\ncd\n\xD6\xD0\n", 2, 0, true, 0, 2},
        {"shorter than the least size", body, 256, 1000, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("a.srt");
        writeBytes(path, c.bytes);
        const SourceHead head = PeekSource(path, c.pieceBytes, c.minBytes);
        EXPECT_EQ(c.promising, head.promising);
        if (!c.promising) continue;
        EXPECT_EQ(c.skip, head.skip);
        EXPECT_EQ(c.bytes.size() - c.skip, head.size);
        EXPECT_EQ(c.headLineEnds, head.headLineEnds);
    }
    EXPECT_FALSE(PeekSource(dir.file("missing.srt")).promising);
    EXPECT_FALSE(PeekSource(dir.path().string()).promising) << "a folder";
}

}  // namespace
}  // namespace lumeval
