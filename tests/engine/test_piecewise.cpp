// Large sources read a piece at a time: the same run as reading them whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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
using Line = std::tuple<double, double, std::string>;

struct Outcome {
    bool ok = false;
    std::vector<Progress> progress;
    std::vector<Line> lines;
    std::string written;  // the run's file, for the file-mode runs
    RunInfo info;
};

// `pieces`: 0 reads whole; otherwise pieces of that many bytes from any size.
Outcome Convert(const std::string& path, std::size_t pieces, const std::string& dest = "srt",
            int32_t interval = 1) {
    clsSubtitle engine;
    engine.PiecewiseFromBytes = pieces == 0 ? UINT64_MAX : 0;
    if (pieces != 0) engine.PieceBytes = pieces;
    Outcome r;
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
        const Outcome whole = Convert(path, 0);
        ASSERT_TRUE(whole.ok);
        ASSERT_FALSE(whole.lines.empty());
        for (const std::size_t pieces : {1, 2, 3, 4, 5, 7, 16, 64, 4096}) {
            SCOPED_TRACE("pieces of " + std::to_string(pieces));
            const Outcome run = Convert(path, pieces);
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
                    const Outcome run = Convert(path, pieces);
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
        const Outcome run = Convert(path, dest == std::string("whole.ass") ? 0 : 13, dir.file(dest));
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
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        char times[64];
        std::snprintf(times, sizeof times, "00:%02d:%02d,000 --> 00:%02d:%02d,500", i / 60, i % 60,
                      i / 60, i % 60);
        bytes += std::to_string(i + 1) + "\n" + times + "\ncue " + std::to_string(i) + "\n\n";
    }
    writeBytes(path, bytes);
    const std::size_t kept = bytes.find("\n\n101\n") + 2;  // the first 100 cues

    clsSubtitle engine;
    engine.PiecewiseFromBytes = 0;
    engine.PieceBytes = 64;
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

}  // namespace
}  // namespace lumeval
