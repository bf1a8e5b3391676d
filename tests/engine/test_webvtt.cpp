// WebVTT: the reader over the shapes real files take, the writer's escaping
// and layout, and its golden file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "reader_test_util.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"
#include "test_util.h"

namespace lumeval {
namespace {

// The kind lives only in the format table.
const int32_t kVtt = *KindOfKey("vtt");

using test::readBytes;
using test::TempDir;
using Table = std::vector<std::string>;
using test::ReadAs;

TEST(WebVttReader, ShapesOfRealFiles) {
    struct Case {
        const char* name;
        std::string text;
        Table entries;
    };
    const std::vector<Case> cases = {
        {"header with text, identifier, settings",
         "WEBVTT - Title\nKind: captions\nLanguage: en\n\n1\n00:00:01.000 --> 00:00:02.500 align:start "
         "line:0%\nHello\n",
         {"00:00:01,000->00:00:02,500|Hello"}},
        {"minutes only and long hours",
         "WEBVTT\n\n01:02.345 --> 01:03.000\na\n\n123:00:00.000 --> 123:00:01.000\nb\n",
         {"00:01:02,345->00:01:03,000|a", "123:00:00,000->123:00:01,000|b"}},
        {"NOTE, STYLE and REGION blocks skipped",
         "WEBVTT\n\nNOTE a comment\nmore comment\n\nSTYLE\n::cue "
         "{ color: red }\n\nREGION\nid:fred\n\nNOTE\n\n00:00:01.000 --> 00:00:02.000\nkept\n",
         {"00:00:01,000->00:00:02,000|kept"}},
        // As browsers read it: a block's second line that holds "-->" is its
        // timing line, whatever the first line says.
        {"a NOTE followed at once by a timing line is a cue's identifier",
         "WEBVTT\n\nNOTE a comment\n00:00:09.000 --> 00:00:10.000 align:start\nshown\n",
         {"00:00:09,000->00:00:10,000|shown"}},
        {"line breaks inside a cue, CRLF, no final line end",
         "WEBVTT\r\n\r\n00:00:01.000 --> 00:00:02.000\r\none\r\ntwo\r\nthree",
         {"00:00:01,000->00:00:02,000|one\\Ntwo\\Nthree"}},
        {"voice, class, language, ruby and timestamp tags go; i, b, u stay",
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n<v.loud Bob>Hi</v> <c.yellow.bg>there</c> "
         "<lang en-GB>colour</lang> <ruby>漢<rt>kan</rt></ruby> <00:00:01.500>now "
         "<i.foo>it</i> <b>b</b> <u>u</u>\n",
         {"00:00:01,000->00:00:02,000|Hi there colour 漢kan now <i>it</i> <b>b</b> <u>u</u>"}},
        {"entities decoded after the tags are gone",
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nfish &amp; chips &lt;i&gt; &#x4E2D; &gt;\n",
         {"00:00:01,000->00:00:02,000|fish & chips <i> 中 >"}},
        {"a timing line without a blank line before it starts the next cue",
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\na\n00:00:03.000 --> 00:00:04.000\nb\n",
         {"00:00:01,000->00:00:02,000|a", "00:00:03,000->00:00:04,000|b"}},
        {"no header: the cues are still read",
         "00:00:01.000 --> 00:00:02.000\nbare\n",
         {"00:00:01,000->00:00:02,000|bare"}},
        {"bad times make no cue",
         "WEBVTT\n\n00:00:01 --> 00:00:02.000\nno fraction\n\n00:61.000 --> 00:62.000\nsixty-one\n\n"
         "00:00:01.0000 --> 00:00:02.000\nfour digits\n\n00:00:01.000 -> 00:00:02.000\none arrow\n\n"
         "00:00:01.000 --> 00:00:02.000x\nglued setting\n\n00:00:05.000 --> 00:00:06.000\nfine\n",
         {"00:00:05,000->00:00:06,000|fine"}},
        {"a cue without text is still a cue; zero length is none",
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n\n00:00:03.000 --> 00:00:03.000\nzero\n",
         {"00:00:01,000->00:00:02,000|"}},
        {"an unclosed < is text",
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\na < b\n",
         {"00:00:01,000->00:00:02,000|a < b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.entries, ReadAs(kVtt, c.text));
    }
}

TEST(WebVttReader, EachSourceStartsAfresh) {
    LineTable table(1);
    TimingRules rules;
    ReaderState state;
    ReaderContext ctx{table, rules, state};
    // The first file ends inside a cue; the second starts with its header.
    ReadLine(kVtt, "WEBVTT", false, ctx);
    ReadLine(kVtt, "", false, ctx);
    ReadLine(kVtt, "00:00:01.000 --> 00:00:02.000", false, ctx);
    ReadLine(kVtt, "first", true, ctx);
    ReadLine(kVtt, "WEBVTT", false, ctx);
    ReadLine(kVtt, "", false, ctx);
    ReadLine(kVtt, "00:00:03.000 --> 00:00:04.000", false, ctx);
    ReadLine(kVtt, "second", true, ctx);
    EXPECT_EQ((LineTable{"", "00:00:01,000->00:00:02,000|first", "00:00:03,000->00:00:04,000|second"}),
              table);
}

std::string writeVtt(const Table& entries) {
    OutputLines out;
    SaveSettings s;
    WriterProgress onProgress;
    const LineTable ctxTable(entries);
    WriterContext ctx{ctxTable, s, 1000, onProgress, out};
    EXPECT_TRUE(WriteEntries(kVtt, ctx));
    return out.text();
}

TEST(WebVttWriter, LayoutAndEscaping) {
    struct Case {
        const char* name;
        Table entries;
        std::string body;  // after "WEBVTT\r\n\r\n"
    };
    const std::vector<Case> cases = {
        {"two cues, one blank line between",
         {"0", "00:00:01,000->00:00:02,500|a", "00:00:03,000->00:00:04,000|b\\Nc"},
         "00:00:01.000 --> 00:00:02.500\r\na\r\n\r\n00:00:03.000 --> 00:00:04.000\r\nb\r\nc\r\n"},
        {"markup other than i, b, u is escaped; an arrow in the text cannot start a cue",
         {"00:00:01,000->00:00:02,000|<i>x</i> & <font color=red>y</font> a-->b"},
         "00:00:01.000 --> 00:00:02.000\r\n<i>x</i> &amp; &lt;font color=red&gt;y&lt;/font&gt; "
         "a--&gt;b\r\n"},
        {"a blank line inside the text would end the cue",
         {"00:00:01,000->00:00:02,000|one\\N\\N  \\Ntwo"},
         "00:00:01.000 --> 00:00:02.000\r\none\r\ntwo\r\n"},
        {"start only: ended by the next start, the last after five seconds; end markers write "
         "nothing",
         {"00:00:01,000|a", "00:00:03,000|", "00:01:00,000|b"},
         "00:00:01.000 --> 00:00:03.000\r\na\r\n\r\n00:01:00.000 --> 00:01:05.000\r\nb\r\n"},
        {"hours past 99",
         {"100:00:00,000->100:00:01,000|late"},
         "100:00:00.000 --> 100:00:01.000\r\nlate\r\n"},
        {"nothing but the header: no bar, a blank text, a text of line breaks only",
         {"0", "no bar", "00:00:01,000->00:00:02,000|  ", "00:00:03,000->00:00:04,000|\\N \\n"},
         ""},
        {"tags balanced over the cue: a stray close is escaped, an open one closed at the end",
         {"00:00:01,000->00:00:02,000|a</b> <i>b\\N<b>c</i> d <u>e"},
         "00:00:01.000 --> 00:00:02.000\r\na&lt;/b&gt; <i>b\r\n<b>c</b></i> d <u>e</u>\r\n"},
        {"an end before the start is no end",
         {"00:00:10,000->00:00:04,000|back", "00:00:12,000->00:00:13,000|next"},
         "00:00:10.000 --> 00:00:12.000\r\nback\r\n\r\n00:00:12.000 --> 00:00:13.000\r\nnext\r\n"},
        {"cues are written in start order, ties as they came",
         {"00:00:05,000->00:00:06,000|late", "00:00:01,000->00:00:02,000|early",
          "00:00:01,000->00:00:03,000|tie"},
         "00:00:01.000 --> 00:00:02.000\r\nearly\r\n\r\n00:00:01.000 --> 00:00:03.000\r\ntie\r\n\r\n"
         "00:00:05.000 --> 00:00:06.000\r\nlate\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ("WEBVTT\r\n\r\n" + c.body, writeVtt(c.entries));
    }
}

TEST(WebVttWriter, WrittenAndReadBackGivesTheSameEntries) {
    const Table entries{"00:00:01,000->00:00:02,000|<i>a</i> & b < c",
                        "00:00:03,000->00:00:04,000|one\\Ntwo", "01:02:03,456->01:02:04,000|中文"};
    EXPECT_EQ(entries, ReadAs(kVtt, writeVtt(entries)));
}

TEST(WebVttWriter, AlwaysUtf8AndGolden) {
    const Table golden{"0",
                       "00:00:01,000->00:00:02,500|Hello\\Nworld",
                       "00:00:03,000|start only",
                       "00:00:05,000|",
                       "00:00:06,000->00:00:00,000|end of 0",
                       "00:00:12,000->00:00:13,000|<b>bold</b> & <u>under</u> <x>",
                       "00:00:14,000->00:00:15,000|你好，世界"};
    TempDir dir;
    // UTF-8 first: the golden file is made from it when asked to.
    for (const int32_t enc : {1, 0, 2, 3, 4, 5}) {
        SCOPED_TRACE(enc);
        const std::string path = dir.file("cues.vtt");
        Table entries = golden;
        SaveSettings s;
        s.s_SubtitleEncodeFormat = enc;
        clsSubtitle engine;
        ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, s));
        EXPECT_EQ(enc != kEncodingUtf8, engine.LastRun().encodingReplaced);
        const std::string goldenPath = std::string(LUMEVAL_TEST_DATA) + "/vtt/cues.vtt";
        if (enc == kEncodingUtf8 && test::updateGolden(goldenPath, readBytes(path))) continue;
        const std::string expected = readBytes(goldenPath);
        ASSERT_FALSE(expected.empty()) << goldenPath;
        EXPECT_EQ(expected, readBytes(path));
    }
}

}  // namespace
}  // namespace lumeval
