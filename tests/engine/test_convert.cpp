// The conversion entry end to end: events, file mode, failures.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/subtitle.h"
#include "engine/formats.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

using Progress = std::tuple<int32_t, int32_t, int32_t, std::string>;
struct Line {
    double start, end;
    std::string text;
    bool operator==(const Line&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Line& l) {
    return os << l.start << "->" << l.end << "|" << l.text;
}

struct Recorder {
    clsSubtitle engine;
    std::vector<Progress> progress;
    std::vector<Line> lines;
    int32_t cancelAtStatus = -1;

    Recorder() {
        engine.ProgressChange = [this](int32_t v, int32_t m, int32_t st, const std::string& t, bool& cancel) {
            progress.emplace_back(v, m, st, t);
            if (st == cancelAtStatus) cancel = true;
        };
        engine.SubtitleLineLoaded = [this](double s, double e, const std::string& t) {
            lines.push_back({s, e, t});
        };
    }
};

const char* kTwoCues =
    "1\r\n00:00:03,000 --> 00:00:04,000\r\nSecond\r\n\r\n"
    "2\r\n00:00:01,000 --> 00:00:02,500\r\nFirst\r\nline two\r\n\r\n";

TEST(ConvertSubtitle, EventModeSequence) {
    TempDir dir;
    const std::string src = dir.file("a.srt");
    writeBytes(src, kTwoCues);
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_RaiseEventInterval = 4;
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    // 9 line feeds: lines 0..9, progress at 0, 4 and 8.
    const std::vector<Progress> expected{{0, 0, 0, src}, {0, 0, 1, src}, {0, 9, 1, src},
                                         {4, 9, 1, src}, {8, 9, 1, src}, {0, 0, 4, ""}};
    EXPECT_EQ(expected, r.progress);
    const std::vector<Line> lines{{1000, 2500, "First\\Nline two"}, {3000, 4000, "Second"}};
    EXPECT_EQ(lines, r.lines);
}

TEST(ConvertSubtitle, StartOnlyEntriesHaveEndZeroAndNoSortKeepsReadingOrder) {
    TempDir dir;
    const std::string a = dir.file("a.stxt");
    const std::string b = dir.file("b.srt");
    writeBytes(a, "00:00:12,340|lyric\n");
    writeBytes(b, kTwoCues);
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = "ass";
    s.s_Sort = false;
    ASSERT_TRUE(r.engine.ConvertSubtitle_Array({a, b}, s));
    const std::vector<Line> lines{{12340, 0, "lyric"}, {3000, 4000, "Second"},
                                  {1000, 2500, "First\\Nline two"}};
    EXPECT_EQ(lines, r.lines);
}

// Lines are found sixty-four bytes at a time: every line end, lone CR, "<br>"
// and non-ASCII text must read the same wherever it falls in such a block.
TEST(ConvertSubtitle, LinesReadTheSameAtEveryOffset) {
    const std::vector<Line> expected{
        {1000, 2000, "a\\Nb"}, {3000, 4000, "c"}, {5000, 6000, "中文"}, {7000, 8000, "e"}};
    const std::vector<Line> mac{{1000, 2000, "a"}, {3000, 4000, "b"}};
    TempDir dir;
    const std::string path = dir.file("a.stxt");
    for (int pad = 0; pad < 140; ++pad) {
        // The padding line is no entry; it moves everything after it.
        const std::string lead(static_cast<std::size_t>(pad), 'x');
        std::vector<Progress> progress;
        for (const bool crlf : {false, true}) {
            const std::string text = lead + (crlf ? "\r\n" : "\n") +
                                     "00:00:01,000->00:00:02,000|a<br>b\r\n"
                                     "00:00:03,000->00:00:04,000|c\rd\r\n"
                                     "00:00:05,000->00:00:06,000|中文\n"
                                     "00:00:07,000->00:00:08,000|e\r";
            writeBytes(path, text);
            Recorder r;
            ConvertSettings s;
            s.dst_SubFile = "srt";
            s.s_RaiseEventInterval = 1;
            ASSERT_TRUE(r.engine.ConvertSubtitle(path, s)) << pad;
            EXPECT_EQ(expected, r.lines) << pad << " " << crlf;
            // Four line feeds: lines 0 to 4, each reported against the last index.
            ASSERT_GE(r.progress.size(), 3u);
            EXPECT_EQ(Progress(4, 4, 1, path), r.progress[r.progress.size() - 2]) << pad;
        }
        // Classic Mac line ends: no LF anywhere, every CR ends a line.
        writeBytes(path, lead + "\r00:00:01,000->00:00:02,000|a\r00:00:03,000->00:00:04,000|b");
        Recorder r;
        ConvertSettings s;
        s.dst_SubFile = "srt";
        ASSERT_TRUE(r.engine.ConvertSubtitle(path, s)) << pad;
        EXPECT_EQ(mac, r.lines) << pad;
    }
}

TEST(ConvertSubtitle, SkipsMissingAndUnknownSources) {
    TempDir dir;
    const std::string missing = dir.file("missing.srt");
    const std::string unknown = dir.file("movie.ass.bak");
    const std::string noKey = dir.file("srt");  // the whole name is taken as the key
    writeBytes(unknown, kTwoCues);
    writeBytes(noKey, kTwoCues);
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_RaiseEventInterval = 1000;
    ASSERT_TRUE(r.engine.ConvertSubtitle_Array({missing, unknown, noKey}, s));
    ASSERT_GE(r.progress.size(), 2u);
    EXPECT_EQ(Progress(0, 0, 0, unknown), r.progress[0]);
    EXPECT_EQ(Progress(0, 0, 0, noKey), r.progress[1]);
    EXPECT_EQ(2u, r.lines.size());
}

TEST(ConvertSubtitle, FailureEndings) {
    TempDir dir;
    const std::string noNewline = dir.file("one.srt");
    writeBytes(noNewline, "no cue here");
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = "srt";
    EXPECT_FALSE(r.engine.ConvertSubtitle(noNewline, s));
    EXPECT_EQ(Progress(0, 0, 5, ""), r.progress.back());
    EXPECT_EQ(RunFailure::NoLines, r.engine.LastFailure().kind);

    r.progress.clear();
    EXPECT_FALSE(r.engine.ConvertSubtitle_Array({}, s));
    EXPECT_EQ(std::vector<Progress>{Progress(0, 0, 5, "")}, r.progress);

    r.progress.clear();
    s.s_RaiseAllEvent = false;
    EXPECT_FALSE(r.engine.ConvertSubtitle(dir.file("nothing.srt"), s));
    EXPECT_TRUE(r.progress.empty());
    EXPECT_EQ(RunFailure::NoSource, r.engine.LastFailure().kind);
}

TEST(ConvertSubtitle, FileModeWritesAndReportsSuccess) {
    TempDir dir;
    const std::string src = dir.file("in.srt");
    writeBytes(src, kTwoCues);
    const std::string dst = dir.file("sub/dir/out.SRT");
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = dst;
    s.s_SubtitleEncodeFormat = kEncodingUtf8;
    s.s_AddCopyRightString = "credit";
    s.s_AddCopyRightTimeStartPoint = 10;
    s.s_AddCopyRightTimeEndPoint = 5;
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    EXPECT_EQ(
        "\xEF\xBB\xBF"
        "1\r\n00:00:01,000 --> 00:00:02,500\r\nFirst\r\nline two\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,000\r\nSecond\r\n\r\n"
        "3\r\n00:00:05,000 --> 00:00:10,010\r\ncredit\r\n",
        readBytes(dst));
    ASSERT_GE(r.progress.size(), 2u);
    EXPECT_EQ(Progress(0, 0, 3, dst), r.progress[r.progress.size() - 2]);
    EXPECT_EQ(Progress(0, 0, 4, ""), r.progress.back());

    // Without overwrite the next run picks a free name; with it, it replaces.
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    EXPECT_TRUE(FileExists(dir.file("sub/dir/out(1).SRT")));
    s.s_Overwrite = true;
    s.s_AddCopyRightString.clear();
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    EXPECT_EQ(std::string::npos, readBytes(dst).find("credit"));
}

TEST(ConvertSubtitle, FailedSaveKeepsTheOldFile) {
    TempDir dir;
    const std::string src = dir.file("in.srt");
    writeBytes(src, "1\n00:00:01,000 --> 00:00:02,000\nok\n\n2\n00:00:03,000 --> 00:00:04,000\nsmile \xF0\x9F\x98\x80\n\n");
    const std::string dst = dir.file("out.srt");
    writeBytes(dst, "precious");
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = dst;
    s.s_Overwrite = true;
    s.s_SubtitleEncodeFormat = kEncodingAnsi;  // GBK cannot hold the emoji
    EXPECT_FALSE(r.engine.ConvertSubtitle(src, s));
    EXPECT_EQ("precious", readBytes(dst));
    EXPECT_EQ(RunFailure::Unmappable, r.engine.LastFailure().kind);
    EXPECT_EQ(7u, r.engine.LastFailure().line);
    EXPECT_EQ(Progress(0, 0, 5, ""), r.progress.back());
}

TEST(ConvertSubtitle, UnknownExtensionWritesSsa) {
    TempDir dir;
    const std::string src = dir.file("in.srt");
    writeBytes(src, kTwoCues);
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = dir.file("out.xyz");  // unknown extension: the SSA kind
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    const std::string written = readBytes(dir.file("out.xyz"));
    EXPECT_NE(std::string::npos, written.find("[Script Info]"));
    EXPECT_NE(std::string::npos, written.find("Dialogue: "));
}

TEST(ConvertSubtitle, CancelFromProgressWritesNothing) {
    TempDir dir;
    const std::string src = dir.file("in.srt");
    writeBytes(src, kTwoCues);
    for (int32_t status : {1, 2}) {
        Recorder r;
        r.cancelAtStatus = status;
        ConvertSettings s;
        s.dst_SubFile = dir.file("out.srt");
        s.s_RaiseEventInterval = 1;
        EXPECT_FALSE(r.engine.ConvertSubtitle(src, s)) << status;
        EXPECT_EQ(Progress(0, 0, 6, ""), r.progress.back()) << status;
        EXPECT_EQ(RunFailure::Cancelled, r.engine.LastFailure().kind);
        EXPECT_FALSE(FileExists(dir.file("out.srt"))) << status;
    }
}

TEST(ConvertSubtitle, ReentryIsRefused) {
    TempDir dir;
    const std::string src = dir.file("in.srt");
    writeBytes(src, kTwoCues);
    Recorder r;
    std::vector<bool> nested;
    ConvertSettings s;
    s.dst_SubFile = "srt";
    r.engine.SubtitleLineLoaded = [&](double, double, const std::string&) {
        nested.push_back(r.engine.ConvertSubtitle(src, s));
        std::vector<std::string> entries{"00:00:01,000->00:00:02,000|x"};
        nested.push_back(r.engine.SaveArrayToSubtitle(entries, dir.file("nested.srt"), SaveSettings{}));
    };
    r.engine.YieldCallback = [&] { nested.push_back(r.engine.ConvertSubtitle(src, s)); };
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    ASSERT_FALSE(nested.empty());
    for (bool b : nested) EXPECT_FALSE(b);
    EXPECT_FALSE(FileExists(dir.file("nested.srt")));
    EXPECT_FALSE(r.engine.IsBusy());
}

TEST(ConvertSubtitle, IntervalBelowOneCountsAsOne) {
    TempDir dir;
    const std::string src = dir.file("in.srt");
    writeBytes(src, "1\n00:00:01,000 --> 00:00:02,000\nx\n");
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_RaiseEventInterval = 0;
    int yields = 0;
    r.engine.YieldCallback = [&] { ++yields; };
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    EXPECT_EQ(4, yields);  // lines 0..3
}

TEST(ConvertSubtitle, PostProcessingOrder) {
    TempDir dir;
    const std::string src = dir.file("in.stxt");
    writeBytes(src,
               "00:00:05,000->00:00:06,000|b\n"
               "00:00:01,000->00:00:02,000|Hello\n"
               "00:00:01,000->00:00:02,000|HELLO\n"
               "00:00:01,000->00:00:02,000|World\n"
               "00:00:03,000->00:00:04,000|visit www.example\n");
    Recorder r;
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_MergeSamePosition = true;
    s.s_RemoveSubFilters = "www";
    s.s_TimeOffset = 1;
    const std::vector<Line> want{{2000, 3000, "Hello\\NWorld"}, {6000, 7000, "b"}};
    ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
    EXPECT_EQ(want, r.lines);
}

TEST(ConvertSubtitle, GbTextIsSimplifiedOnlyWhenAConversionIsAsked) {
    TempDir dir;
    const std::string src = dir.file("in.srt");
    // Traditional characters in UTF-8 whose first one (試, D4 87 in GBK) makes
    // the text GB-style: left as written without a conversion, mapped to
    // simplified by the automatic one.
    writeBytes(src, "1\n00:00:01,000 --> 00:00:02,000\n試驗這個\n\n");
    for (const auto& [mode, expected] : {std::pair{0, "試驗這個"}, std::pair{3, "试验这个"}}) {
        Recorder r;
        ConvertSettings s;
        s.dst_SubFile = "srt";
        s.s_InternalCodeConversion = mode;
        ASSERT_TRUE(r.engine.ConvertSubtitle(src, s));
        ASSERT_EQ(1u, r.lines.size());
        EXPECT_EQ(expected, r.lines[0].text) << "mode " << mode;
    }
}

}  // namespace
}  // namespace lumeval
