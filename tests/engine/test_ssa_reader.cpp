// The SSA/ASS event reader: columns from "Format:" lines, texts with commas,
// incomplete "Dialogue:" lines, and columns carried from file to file.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using Table = std::vector<std::string>;

constexpr const char* kEventsFormat =
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text";

// Feeds lines to the reader as the conversion does; the placeholder is dropped.
Table readSsa(const std::vector<std::string>& lines, ReaderState* carried = nullptr) {
    LineTable table(1);
    TimingRules rules;
    ReaderState local;
    ReaderContext ctx{table, rules, carried ? *carried : local};
    for (const auto& line : lines) ReadLine(kKindSsa, line, false, ctx);
    table.erase(0);
    return table.toVector();
}

TEST(SsaReader, Dialogues) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        Table entries;
    };
    const Case cases[] = {
        {"comma inside the text",
         {kEventsFormat, "Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,Hello, world"},
         {"00:00:01,500->00:00:03,000|Hello, world"}},
        {"override blocks and line breaks kept",
         {kEventsFormat, "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\pos(10,10)}Hi\\Nthere"},
         {"00:00:01,000->00:00:02,000|{\\pos(10,10)}Hi\\Nthere"}},
        // Players read such scripts in the usual column order; so do we.
        {"no format line: the usual columns",
         {"[Events]", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x, y"},
         {"00:00:01,000->00:00:02,000|x, y"}},
        {"the first field after the tag is a column",
         {"Format: Start, End, Text", "Dialogue: 0:00:01.00,0:00:02.00,Hi, there",
          "Dialogue:0:00:03.00,0:00:04.00,no space"},
         {"00:00:01,000->00:00:02,000|Hi, there", "00:00:03,000->00:00:04,000|no space"}},
        {"zero length", {kEventsFormat, "Dialogue: 0,0:00:05.00,0:00:05.00,Default,,0,0,0,,x"}, {}},
        {"styles format line leaves the columns alone",
         {kEventsFormat, "Format: Name, Fontname, Fontsize, PrimaryColour",
          "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x"},
         {"00:00:01,000->00:00:02,000|x"}},
        {"comments, headers and styles add nothing",
         {"[Events]", kEventsFormat, "Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,c",
          "Style: Default,Arial,20"},
         {}},
        {"a text that mentions Format: is still a dialogue",
         {kEventsFormat, "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Format: start, end, text",
          "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,next"},
         {"00:00:01,000->00:00:02,000|Format: start, end, text", "00:00:03,000->00:00:04,000|next"}},
        {"empty text at the last column",
         {kEventsFormat, "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,"},
         {"00:00:01,000->00:00:02,000|"}},
        {"the writer's own form",
         {"Format: Marked,Start,End,Style,Name,MarginL,MarginR,MarginV,Effect,Text",
          "Dialogue: Marked=0,1:02:03.45,1:02:04.00,Default0,,0000,0000,0000,,{\\b0\\i0}甲"},
         {"01:02:03,450->01:02:04,000|{\\b0\\i0}甲"}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.entries, readSsa(c.lines)) << c.name;
}

TEST(SsaReader, ReordersColumns) {
    // Names are matched trimmed and in any case; text before the times: everything after the first comma is the text,
    // so the times stay part of it.
    EXPECT_EQ((Table{"00:00:01,000->00:00:02,000|a,0:00:01.00,0:00:02.00"}),
              readSsa({"Format: Layer, TEXT , Start,end", "Dialogue: 0,a,0:00:01.00,0:00:02.00"}));
}

TEST(SsaReader, IncompleteDialoguesAddNothing) {
    // Lines that stop before the start, end or text column used to read past
    // their fields or take a text from an earlier comma.
    const std::vector<std::string> broken = {
        "Dialogue: 0",
        "Dialogue: 0,0:00:01.00",
        "Dialogue: 0,0:00:01.00,0:00:02.00",
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0",
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,Karaoke",
    };
    for (const auto& line : broken) {
        EXPECT_TRUE(readSsa({kEventsFormat, line}).empty()) << line;
    }
    // A complete line after them still reads.
    EXPECT_EQ((Table{"00:00:01,000->00:00:02,000|ok"}),
              readSsa({kEventsFormat, broken[2], "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,ok"}));
}

TEST(SsaReader, ColumnsCarryIntoTheNextFile) {
    ReaderState state;
    EXPECT_TRUE(readSsa({"Format: Marked, Text, Start, End"}, &state).empty());
    EXPECT_EQ((Table{"00:00:01,000->00:00:02,000|t,0:00:01.00,0:00:02.00"}),
              readSsa({"Dialogue: Marked=0,t,0:00:01.00,0:00:02.00"}, &state));
    EXPECT_EQ(1, state.ssaTextColumn);
    EXPECT_EQ(2, state.ssaStartColumn);
    EXPECT_EQ(3, state.ssaEndColumn);
    // The text as the first column takes the rest of the line.
    EXPECT_EQ((Table{"00:00:01,000->00:00:02,000|t, 0:00:01.00,0:00:02.00"}),
              readSsa({"Format: Text, Start, End", "Dialogue: t, 0:00:01.00,0:00:02.00"}));
}

TEST(SsaReader, SurvivesArbitraryLines) {
    std::mt19937 rng(12345);
    const std::string alphabet = "Dialogue:Format:,,,,0123456789.:-> \\N{}|\xE4\xBD\xA0\xFF";
    ReaderState state;
    LineTable table(1);
    TimingRules rules;
    ReaderContext ctx{table, rules, state};
    for (int i = 0; i < 5000; ++i) {
        std::string line;
        const int length = int(rng() % 80);
        if (rng() % 3 == 0) line = (rng() % 2) ? "Format: " : "Dialogue: ";
        for (int k = 0; k < length; ++k) line += alphabet[rng() % alphabet.size()];
        ReadLine(kKindSsa, line, false, ctx);
    }
    for (std::size_t j = 1; j < table.size(); ++j) {
        EXPECT_NE(std::string::npos, table[j].find('|')) << table[j];
    }
}

TEST(SsaReader, ThroughTheEngine) {
    // A whole script, CRLF line ends and a UTF-8 mark; PlayResX reaches the writer.
    test::TempDir dir;
    const std::string src = dir.file("in.ass");
    test::writeBytes(src,
                     "\xEF\xBB\xBF[Script Info]\r\nPlayResX: 640\r\nPlayResY: 360\r\n\r\n"
                     "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize\r\nStyle: Default,Arial,20\r\n\r\n"
                     "[Events]\r\n"
                     "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
                     "Dialogue: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,第二<br>second\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:01.50,Default,,0,0,0,,first, 第一\r\n");
    clsSubtitle engine;
    ConvertSettings c;
    c.dst_SubFile = dir.file("out.stxt");
    c.s_Overwrite = true;
    c.s_SubtitleEncodeFormat = 1;
    engine.ConvertSubtitle(src, c);
    EXPECT_EQ("\xEF\xBB\xBF" "00:00:01,000->00:00:01,500|first, 第一\r\n00:00:02,000->00:00:03,000|第二\\Nsecond",
              test::readBytes(dir.file("out.stxt")));

    // The same source to SSA: the script resolution comes from the source.
    c.dst_SubFile = dir.file("out.ssa");
    engine.ConvertSubtitle(src, c);
    const std::string script = test::readBytes(dir.file("out.ssa"));
    EXPECT_NE(std::string::npos, script.find("PlayResX: 640\r\nPlayResY: 360\r\n")) << script;
}

TEST(SsaReader, BundledSample) {
    clsSubtitle engine;
    std::vector<std::string> texts;
    engine.SubtitleLineLoaded = [&](double, double, const std::string& text) { texts.push_back(text); };
    ConvertSettings c;
    c.dst_SubFile = "ass";
    ASSERT_TRUE(engine.ConvertSubtitle(std::string(LUMEVAL_TEST_DATA) + "/../../samples/demo.ass", c));
    ASSERT_EQ(7u, texts.size());  // the comment line is no cue
    EXPECT_EQ("你好，世界！\\NHello, world!", texts[0]);
    EXPECT_EQ("{\\b1}Bold{\\b0} and plain, with commas, too.", texts[5]);
}

}  // namespace
}  // namespace lumeval
