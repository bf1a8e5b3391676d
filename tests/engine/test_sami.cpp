// SAMI reader and writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;
using Table = std::vector<std::string>;

Table readSami(const Table& lines) {
    LineTable table(1);
    TimingRules rules;
    ReaderState state;
    ReaderContext ctx{table, rules, state};
    for (const auto& line : lines) ReadLine(kKindSmi, line, false, ctx);
    table.erase(0);
    return table.toVector();
}

TEST(SamiReader, SyncLinesAndContinuations) {
    struct Case {
        const char* name;
        Table lines;
        Table entries;
    };
    const Case cases[] = {
        {"continuation appended without a space",
         {"<SYNC Start=1000><P Class=ENCC>Hello", "world"}, {"00:00:01,000|Helloworld"}},
        // A space, which the table and the writers take for a blank text.
        {"a non-breaking space alone is a blank cue",
         {"<SYNC Start=5000><P Class=ENCC>&nbsp;"}, {"00:00:05,000| "}},
        {"entities decoded", {"<SYNC Start=1000><P>It&#039;s &amp; caf&eacute;"},
         {"00:00:01,000|It's & café"}},
        {"escaped markup is text", {"<SYNC Start=1000><P><i>&lt;b&gt;</i>"}, {"00:00:01,000|<b>"}},
        {"entities in a continuation", {"<SYNC Start=1000><P>a", "&amp;b"}, {"00:00:01,000|a&b"}},
        {"an ampersand starting no entity is kept", {"<SYNC Start=1000><P>Tom & Jerry; fun"},
         {"00:00:01,000|Tom & Jerry; fun"}},
        {"double-quoted time", {"<SYNC Start=\"1000\"><P>Hi"}, {"00:00:01,000|Hi"}},
        {"single-quoted time", {"<SYNC Start='2500'><P>Hi"}, {"00:00:02,500|Hi"}},
        {"spaces before the quote", {"<SYNC Start = \"3000\"><P>Hi"}, {"00:00:03,000|Hi"}},
        {"the writer's own form", {"<sync start=62345><P>Hi there"}, {"00:01:02,345|Hi there"}},
        {"line break kept", {"<SYNC Start=1000><P>一\\N二"}, {"00:00:01,000|一\\N二"}},
        {"paragraph on its own line",
         {"<SYNC Start=1000>", "<P Class=CHCC>你好", "  "}, {"00:00:01,000|你好"}},
        {"lines before the first sync are lost",
         {"<SAMI>", "<HEAD>", "<TITLE>Demo</TITLE>", "</HEAD>", "<BODY>"}, {}},
        {"no readable number starts at zero", {"<SYNC Start=abc><P>x", "<SYNC><P>y"},
         {"00:00:00,000|x", "00:00:00,000|y"}},
        {"negative start counts as zero", {"<SYNC Start=-400><P>x"}, {"00:00:00,000|x"}},
        {"many syncs on one line are many cues",
         {"<SAMI><BODY><SYNC Start=1000><P>One</P></SYNC><sync start=\"2000\"><P>Two</P>"
          "<SYNC Start=3000><P>&nbsp;</BODY></SAMI>"},
         {"00:00:01,000|One", "00:00:02,000|Two", "00:00:03,000| "}},
        {"text before a sync continues the cue before",
         {"<SYNC Start=1000><P>a", "b<SYNC Start=2000><P Class=X>c"},
         {"00:00:01,000|ab", "00:00:02,000|c"}},
        {"an endless number is unreadable", {"<SYNC Start=" + std::string(400, '9') + "><P>x"},
         {"00:00:00,000|x"}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.entries, readSami(c.lines)) << c.name;
}

// A file as other programs write it, through the whole conversion: head and
// style sheet, paragraphs on their own lines, "<br>" line breaks and clearing
// syncs.
TEST(SamiReader, WholeFile) {
    TempDir dir;
    const std::string path = dir.file("movie.smi");
    writeBytes(path,
               "<SAMI>\r\n<HEAD>\r\n<TITLE>示例</TITLE>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
               "P { margin-left:8pt; }\r\n.ENCC { Name:English; lang:en-US; }\r\n-->\r\n</STYLE>\r\n"
               "</HEAD>\r\n<BODY>\r\n"
               "<SYNC Start=\"1000\"><P Class=ENCC>\r\nHello<br>world\r\n"
               "<SYNC Start=\"3000\"><P Class=ENCC>&nbsp;\r\n"
               "<SYNC Start=4500><P Class=ENCC>你好，世界\r\n"
               "</BODY>\r\n</SAMI>\r\n");
    std::vector<std::string> got;
    clsSubtitle engine;
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
        got.push_back(std::to_string(static_cast<long long>(s)) + "->" +
                      std::to_string(static_cast<long long>(e)) + "|" + t);
    };
    ConvertSettings s;
    s.dst_SubFile = "smi";
    ASSERT_TRUE(engine.ConvertSubtitle(path, s));
    EXPECT_EQ((std::vector<std::string>{"1000->0|Hello\\Nworld", "3000->0|", "4500->0|你好，世界"}), got);
}

// Entities through the whole conversion, in event mode.
TEST(SamiReader, EntitiesDecodedInEvents) {
    TempDir dir;
    const std::string path = dir.file("entities.smi");
    writeBytes(path,
               "<SAMI>\r\n<BODY>\r\n"
               "<SYNC Start=1000><P>It&#039;s &amp; caf&eacute;\r\n"
               "<SYNC Start=2000><P>&nbsp;\r\n"
               "<SYNC Start=3000><P>&lt;3 &#x4F60;&#22909;\r\n"
               "</BODY>\r\n</SAMI>\r\n");
    std::vector<std::string> got;
    clsSubtitle engine;
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
        got.push_back(std::to_string(static_cast<long long>(s)) + "->" +
                      std::to_string(static_cast<long long>(e)) + "|" + t);
    };
    ConvertSettings s;
    s.dst_SubFile = "stxt";
    ASSERT_TRUE(engine.ConvertSubtitle(path, s));
    EXPECT_EQ((std::vector<std::string>{"1000->0|It's & café", "2000->0|", "3000->0|<3 你好"}), got);
}

TEST(SamiWriter, GoldenFile) {
    const Table entries{
        "",
        "00:00:01,000->00:00:03,500|你好，世界",
        "00:00:04,000->00:00:06,000|Hello\\Nworld",
        "00:00:06,000|no end: skipped",
        "00:00:07,250->00:00:09,000|   ",
        "00:01:02,345->00:01:04,345|中文 and English <b>&amp;</b>",
        "00:01:05,000->00:00:00,000|零 end",
    };
    TempDir dir;
    for (const char* name : {"out.smi", "out.SAMI"}) {
        Table copy = entries;
        SaveSettings s;
        s.s_SubtitleEncodeFormat = kEncodingUtf8;
        clsSubtitle engine;
        ASSERT_TRUE(engine.SaveArrayToSubtitle(copy, dir.file(name), s)) << name;
        const std::string golden = std::string(LUMEVAL_TEST_DATA) + "/smi/mixed.smi";
        if (test::updateGolden(golden, readBytes(dir.file(name)))) continue;
        EXPECT_EQ(readBytes(golden), readBytes(dir.file(name))) << name;
    }
}

}  // namespace
}  // namespace lumeval
