// LRC, KSC and XML lyric readers and writers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using Table = std::vector<std::string>;

// Feeds lines to one reader the way the conversion does; the placeholder is
// dropped from the result.
Table readLines(int32_t kind, const Table& lines) {
    LineTable table(1);
    TimingRules rules;
    ReaderState state;
    ReaderContext ctx{table, rules, state};
    for (std::size_t i = 0; i < lines.size(); ++i) ReadLine(kind, lines[i], i + 1 == lines.size(), ctx);
    table.erase(0);
    return table.toVector();
}

struct ReaderCase {
    const char* name;
    Table lines;
    Table entries;
};

TEST(LrcReader, TimeTagLines) {
    const ReaderCase cases[] = {
        {"one entry per tag", {"[00:01.00][01:02.50]Hello"},
         {"00:00:01,000|Hello", "00:01:02,500|Hello"}},
        {"word timing removed", {"[00:05.10]<00:05.10>Wo<00:05.60>rd"}, {"00:00:05,100|Word"}},
        {"metadata adds nothing",
         {"[ti:Song]", "[ar:Someone]", "[al:Album]", "[by:me]", "[length: 03:22]", "[id:abc]",
          "[offset:500]", "[re:tool][ve:1.0]"},
         {}},
        {"one-digit fields", {"[0:1.730]a", "[1:02.5]b", "[0:5]c"},
         {"00:00:01,730|a", "00:01:02,500|b", "00:00:05,000|c"}},
        {"hours, minutes and seconds", {"[01:00:04.862]x"}, {"01:00:04,862|x"}},
        {"three fields need a fraction", {"[01:00:04]x"}, {}},
        {"minutes past 99", {"[123:45.67]x"}, {"02:03:45,670|x"}},
        {"bare tag ends the lyric before it", {"[00:08.65]"}, {"00:00:08,650|"}},
        {"beyond the longest time", {"[3599999999999:00:00.0]a", "[999999999999999:00.00]b"}, {}},
        {"not times", {"[1:2:3:4.5]a", "[:01.00]b", "[01:.5]c", "[01:02.1234]d", "[01:02.]e"}, {}},
        {"offset shifts the lines after it",
         {"[00:10.00]before", "[offset:500]", "[00:10.00]after", "[offset:-1000]", "[00:10.00]later"},
         {"00:00:10,000|before", "00:00:09,500|after", "00:00:11,000|later"}},
        {"offset beside a time on one line", {"[offset:+250][00:01.00]x"}, {"00:00:00,750|x"}},
        {"milliseconds", {"[01:02.345]x"}, {"00:01:02,345|x"}},
        {"indented line", {"  [00:01.00] [00:02.00]x"}, {"00:00:01,000|x", "00:00:02,000|x"}},
        {"mixed Chinese", {"[00:12.34]月亮代表我的心 The moon"}, {"00:00:12,340|月亮代表我的心 The moon"}},
        {"lines without both brackets", {"plain", "[00:01.00 no close", "00:01.00] no open", ""}, {}},
        // Shapes at the edges of the one-tag shortcut, read as the full path reads them.
        {"many minute digits", {"[29999:59.999]a", "[030000:00.00]b", "[1234567:00.00]c"},
         {"499:59:59,999|a", "500:00:00,000|b", "20576:07:00,000|c"}},
        {"three-digit seconds", {"[00:100.5]a", "[1:234]b"}, {"00:01:40,500|a", "00:04:54,000|b"}},
        {"spaces in the tag", {"[ 00:01.00 ]a", "[00: 01.00]b"}, {"00:00:01,000|a"}},
        {"lyric with markup or a bracket",
         {"[00:01.00]a&amp;b", "[00:02.00]x]y", "[00:03.00]{c}d", "[00:04.00]e[f"},
         {"00:00:01,000|ab", "00:00:02,000|x]y", "00:00:03,000|d", "00:00:04,000|e[f"}},
        {"trailing spaces kept, leading tag spaces not", {"[00:01.00] a  "}, {"00:00:01,000| a  "}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.entries, readLines(kKindLrc, c.lines)) << c.name;
}

TEST(LrcReader, ManyTagsOnOneLineStayBounded) {
    // 100,000 tags before a 2,000-byte lyric would copy 200 MB into the table.
    std::string line;
    for (int i = 0; i < 100000; ++i) line += "[0:01]";
    line += std::string(2000, 'x');
    const Table t = readLines(kKindLrc, {line});
    std::size_t bytes = 0;
    for (const auto& e : t) bytes += e.size();
    EXPECT_GT(t.size(), 1000u);
    EXPECT_LE(bytes, std::size_t{64} << 20);
}

TEST(KscReader, KaraokeCalls) {
    const ReaderCase cases[] = {
        {"a call", {"karaoke.add('00:01.000', '00:03.500', 'Hello', '500,1000,1000');"},
         {"00:00:01,000->00:00:03,500|Hello\x1F" "500,1000,1000"}},
        {"any case, Chinese lyric",
         {"  Karaoke.Add('00:10.000', '00:11.000', '你好', '500,500');"},
         {"00:00:10,000->00:00:11,000|你好\x1F" "500,500"}},
        {"a bare apostrophe inside the lyric kept",
         {"karaoke.add('00:01.000', '00:02.000', 'don't', '200,200,200,200');"},
         {"00:00:01,000->00:00:02,000|don't\x1F" "200,200,200,200"}},
        {"header statements ignored",
         {"karaoke := CreateKaraokeObject;", "karaoke.rows := 2;", "karaoke.Font('', 0, false);"}, {}},
        {"lyric with a parenthesis",
         {"karaoke.add('00:01.000', '00:03.000', 'Hello (live)', '500,500');",
          "karaoke.add('00:04.000', '00:05.000', 'ok', '500,500');"},
         {"00:00:01,000->00:00:03,000|Hello (live)\x1F" "500,500", "00:00:04,000->00:00:05,000|ok\x1F" "500,500"}},
        {"too few fields", {"karaoke.add('00:01.000', '00:02.000');", "karaoke.add('00:01.000')"}, {}},
        {"no arguments", {"karaoke.add(", "karaoke.add(   ", "karaoke.add();"}, {}},
        // The writer gives total minutes, which grow past three digits after
        // 16 hours 40 minutes; the general reader would take them for hours.
        {"minutes of four and more digits",
         {"karaoke.add('5940:00.000', '5940:01.250', 'a', '1');",
          "karaoke.add('60000:00.000', '60000:01.000', 'b', '1');"},
         {"99:00:00,000->99:00:01,250|a\x1F" "1", "1000:00:00,000->1000:00:01,000|b\x1F" "1"}},
        {"other time forms as before",
         {"karaoke.add('0:00:01.50', '00:00:02', 'c', '1');", "karaoke.add('-00:01.000', '00:02.000', 'd', '1');"},
         {"00:00:01,500->00:00:02,000|c\x1F" "1", "00:00:00,000->00:00:02,000|d\x1F" "1"}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.entries, readLines(kKindKsc, c.lines)) << c.name;
}

TEST(KrcReader, LineElements) {
    const ReaderCase cases[] = {
        {"begin and text", {"<line begin=\"00:12.30\">Hi</line>"}, {"00:00:12,300|Hi"}},
        {"the writer's own form", {"    <line begin=\"01:02.34\">Hi there</line>"}, {"00:01:02,340|Hi there"}},
        {"any case", {"<LINE BEGIN=\"00:01.00\">中文</LINE>"}, {"00:00:01,000|中文"}},
        {"frame lines ignored", {"<?xml version=\"1.0\" encoding=\"gb2312\"?>", "<Lyric>", "  <lines>"}, {}},
        {"no begin value", {"<line begin=>x</line>"}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.entries, readLines(kKindKrc, c.lines)) << c.name;
}

// The entries the lyric golden files are made from (the SAMI one too):
// a placeholder, Chinese and English, a line break, a cue without an end, a
// blank text, markup characters and an end of zero.
const Table kGoldenEntries{
    "",
    "00:00:01,000->00:00:03,500|你好，世界",
    "00:00:04,000->00:00:06,000|Hello\\Nworld",
    "00:00:06,000|no end: skipped",
    "00:00:07,250->00:00:09,000|   ",
    "00:01:02,345->00:01:04,345|中文 and English <b>&amp;</b>",
    "00:01:05,000->00:00:00,000|零 end",
};

TEST(LyricWriters, GoldenFiles) {
    const char* files[] = {"lrc/mixed.lrc", "ksc/mixed.ksc", "krc/mixed.krc"};
    TempDir dir;
    for (const char* name : files) {
        const std::string path = dir.file(std::string(name).substr(4));
        Table entries = kGoldenEntries;
        SaveSettings s;
        s.s_TitleString = "演示 Demo";
        s.s_SubtitleEncodeFormat = kEncodingUtf8;
        clsSubtitle engine;
        ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, s)) << name;
        const std::string golden = std::string(LUMEVAL_TEST_DATA) + "/" + name;
        if (test::updateGolden(golden, readBytes(path))) continue;
        EXPECT_EQ(readBytes(golden), readBytes(path)) << name;
    }
}

std::string writeAs(int32_t kind, const Table& entries, std::vector<std::size_t>* progressAt = nullptr,
                    int32_t interval = 1000) {
    OutputLines out;
    SaveSettings s;
    WriterProgress onProgress = [&](std::size_t j) {
        if (progressAt) progressAt->push_back(j);
        return true;
    };
    const LineTable ctxTable(entries);
    WriterContext ctx{ctxTable, s, interval, onProgress, out};
    EXPECT_TRUE(WriteEntries(kind, ctx));
    return out.text();
}

// The cue lines only: what follows the KSC header's empty line.
std::string kscCalls(const Table& entries) {
    const std::string all = writeAs(kKindKsc, entries);
    const auto at = all.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : all.substr(at + 4);
}

TEST(KscWriter, DurationShares) {
    struct Case {
        const char* name;
        std::string entry;
        std::string call;
    };
    const Case cases[] = {
        {"2000 ms over 11 characters", "00:01:02,345->00:01:04,345|Hello world",
         "karaoke.add('01:02.345', '01:04.345', 'Hello world', "
         "'182,182,182,182,182,182,182,182,182,182,182');"},
        {"characters, not bytes", "00:00:01,000->00:00:02,000|你好",
         "karaoke.add('00:01.000', '00:02.000', '你好', '500,500');"},
        {"a tie rounds down to even", "00:00:01,000->00:00:01,005|ab",
         "karaoke.add('00:01.000', '00:01.005', 'ab', '2,2');"},
        {"a tie rounds up to even", "00:00:01,000->00:00:01,015|ab",
         "karaoke.add('00:01.000', '00:01.015', 'ab', '8,8');"},
        {"empty text: no shares, no division", "00:00:01,000->00:00:02,000|",
         "karaoke.add('00:01.000', '00:02.000', '', '');"},
        {"blank text: trimmed, no shares", "00:00:01,000->00:00:02,000|  ",
         "karaoke.add('00:01.000', '00:02.000', '', '');"},
        {"end of zero: five seconds written, shares from the negative span",
         "00:00:10,000->00:00:00,000|ab", "karaoke.add('00:10.000', '00:15.000', 'ab', '-5000,-5000');"},
        {"quotes escaped, line breaks made spaces", "00:00:01,000->00:00:01,400|it's\\Na",
         "karaoke.add('00:01.000', '00:01.400', 'it\\'s a', '67,67,67,67,67,67');"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call, kscCalls({c.entry})) << c.name;
}

TEST(LyricWriters, FramesWithoutCues) {
    const Table none{"", "00:00:02,000->00:00:03,000|  "};
    EXPECT_EQ("[ti:]\r\n[ar:]\r\n[al:]\r\n[by:Lumeval]", writeAs(kKindLrc, none));
    EXPECT_EQ(
        "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<!-- QRV Corvane -->\r\n<Lyric>\r\n"
        "  <song>\r\n  </song>\r\n  <lines>\r\n  </lines>\r\n</Lyric>",
        writeAs(kKindKrc, none));
    // A blank text clears nothing in SAMI: its cues' ends do.
    EXPECT_EQ("<SAMI>\r\n<BODY>\r\n</BODY>\r\n</SAMI>", writeAs(kKindSmi, none));
}

TEST(LyricWriters, ProgressAfterSpansWithTextOrNot) {
    Table entries{"", "no bar"};
    for (int i = 0; i < 2500; ++i) entries.push_back(i % 2 ? "00:00:01,000->00:00:02,000|x" : "00:00:01,000->00:00:02,000|");
    // Entries 0 and 1 hold no "|"; the first step due is entry 1000.
    for (int32_t kind : {kKindLrc, kKindKsc, kKindKrc, kKindSmi}) {
        std::vector<std::size_t> at;
        writeAs(kind, entries, &at);
        EXPECT_EQ((std::vector<std::size_t>{1000, 2000}), at) << kind;
    }
}

// Written by the engine, read back by it: starts and texts survive (and the
// KSC end too).
TEST(LyricWriters, ReadBackKeepsStartsAndTexts) {
    const Table entries{"00:00:01,000->00:00:03,500|你好，世界", "00:01:02,340->00:01:04,000|Hi there"};
    struct Case {
        const char* file;
        Table lines;  // start->end|text as reported, milliseconds
    };
    const Case cases[] = {
        // The header's metadata tags hold no lyric.
        {"a.lrc", {"1000->0|你好，世界", "62340->0|Hi there"}},
        {"a.krc", {"1000->0|你好，世界", "62340->0|Hi there"}},
        // SAMI clears the screen at each cue's end: a blank line there.
        {"a.smi", {"1000->0|你好，世界", "3500->0|", "62340->0|Hi there", "64000->0|"}},
        {"a.ksc", {"1000->3500|你好，世界", "62340->64000|Hi there"}},
    };
    // Past 1000 minutes the KSC times have four minute digits.
    const Table late{"99:00:00,000->99:00:01,000|late", "1000:00:00,000->1000:00:02,000|later"};
    const Case lateCases[] = {
        {"late.ksc", {"356400000->356401000|late", "3600000000->3600002000|later"}},
        {"late.lrc", {"356400000->0|late", "3600000000->0|later"}},
        {"late.krc", {"356400000->0|late", "3600000000->0|later"}},
    };
    TempDir dir;
    const auto check = [&](const Table& source, const Case& c) {
        const std::string path = dir.file(c.file);
        Table copy = source;
        SaveSettings save;
        save.s_SubtitleEncodeFormat = kEncodingUtf8;
        clsSubtitle engine;
        ASSERT_TRUE(engine.SaveArrayToSubtitle(copy, path, save)) << c.file;
        Table got;
        engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
            got.push_back(std::to_string(static_cast<long long>(s)) + "->" +
                          std::to_string(static_cast<long long>(e)) + "|" + t);
        };
        ConvertSettings conv;
        conv.dst_SubFile = "srt";
        ASSERT_TRUE(engine.ConvertSubtitle(path, conv)) << c.file;
        EXPECT_EQ(c.lines, got) << c.file;
    };
    for (const auto& c : cases) check(entries, c);
    for (const auto& c : lateCases) check(late, c);
}

}  // namespace
}  // namespace lumeval
