// Readers keep the text as written: LRC lyrics with brackets, KSC strings with
// quotes and parentheses, STL line breaks, SSA times of any field width,
// WebVTT blocks without blank lines between them, and "|" in cue text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "reader_test_util.h"
#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using Table = std::vector<std::string>;
using test::ReadAs;

struct KeptCase {
    const char* name;
    std::string text;
    Table entries;
};

void check(int32_t kind, const std::vector<KeptCase>& cases) {
    for (const auto& c : cases) EXPECT_EQ(c.entries, ReadAs(kind, c.text)) << c.name;
}

TEST(LrcKeepsText, OnlyLeadingTagsAreTags) {
    check(kKindLrc, {
        {"bracketed words inside the lyric", "[00:10.00]Hello [Chorus] again", {"00:00:10,000|Hello [Chorus] again"}},
        {"a singer's name opens the lyric", "[00:12.00][Alba] En 1928", {"00:00:12,000|[Alba] En 1928"}},
        {"a closing time tag is dropped", "[03:04:05.06]另一个歌词[00:00]", {"03:04:05,060|另一个歌词"}},
        {"blanks before a closing time tag go with it", "[00:01.00]end here  [00:03.50] ",
         {"00:00:01,000|end here"}},
        {"a closing tag that is no time stays", "[00:01.00]see [note]", {"00:00:01,000|see [note]"}},
        {"only one closing time tag goes", "[00:01.00]a[00:02.00][00:03.00]", {"00:00:01,000|a[00:02.00]"}},
        {"a time tag inside the lyric stays", "[00:01.00]one [00:02.00] two", {"00:00:01,000|one [00:02.00] two"}},
        {"several leading tags, blanks between, one text",
         "[00:01.00] [00:02.00]\t[00:03.00]Hi ]x[",
         {"00:00:01,000|Hi ]x[", "00:00:02,000|Hi ]x[", "00:00:03,000|Hi ]x["}},
        {"tags after the singer's name are text", "[00:01.00][Alba][00:02.00]x", {"00:00:01,000|[Alba][00:02.00]x"}},
        {"metadata between times is skipped", "[00:01.00][by:me][00:02.00]x", {"00:00:01,000|x", "00:00:02,000|x"}},
        {"word timing still removed, brackets kept", "[00:05.00]<00:05.00>[Bo]<00:05.50>b",
         {"00:00:05,000|[Bo]b"}},
        {"a lyric of brackets only", "[00:05.00][]", {"00:00:05,000|[]"}},
        {"no time tag before the name: nothing", "[Alba][00:01.00]x\nHello [00:02.00]", {}},
        {"an unclosed leading tag is text", "[00:01.00][00:02.00 x", {"00:00:01,000|[00:02.00 x"}},
        {"offset between tags moves only the later ones", "[00:10.00][offset:500][00:20.00]x\n[00:30.00]y",
         {"00:00:10,000|x", "00:00:19,500|x", "00:00:29,500|y"}},
    });
}

TEST(LrcKeepsText, ManyBracketsStayLinear) {
    // Long runs of brackets on both sides of the lyric are read in one pass.
    std::string line = "[00:01.00]";
    for (int i = 0; i < 200000; ++i) line += "[a]";
    line += "[00:02.00]";
    const Table t = ReadAs(kKindLrc, line);
    ASSERT_EQ(1u, t.size());
    EXPECT_EQ(std::string("00:00:01,000|") + line.substr(10, 600000), t[0]);
}

TEST(KscKeepsText, QuotedStrings) {
    const char* kTail = "\x1F" "100,100";
    check(kKindKsc, {
        {"parentheses in the lyric", "karaoke.add('00:01.000', '00:02.000', 'a (b) c', '100,100,100,100,100,100,100');",
         {"00:00:01,000->00:00:02,000|a (b) c\x1F" "100,100,100,100,100,100,100"}},
        {"backslash-escaped quote and backslash", R"(karaoke.add('00:01.000', '00:02.000', 'it\'s a\\b', '100,100');)",
         {std::string(R"(00:00:01,000->00:00:02,000|it's a\b)") + kTail}},
        {"doubled quote", "karaoke.add('00:01.000', '00:02.000', 'it''s', '100,100');",
         {std::string("00:00:01,000->00:00:02,000|it's") + kTail}},
        {"a bare apostrophe as older files hold it", "karaoke.add('00:01.000', '00:02.000', 'it's', '100,100');",
         {std::string("00:00:01,000->00:00:02,000|it's") + kTail}},
        {"a bare apostrophe that ends the lyric", "karaoke.add('00:01.000', '00:02.000', 'singin'', '100,100');",
         {std::string("00:00:01,000->00:00:02,000|singin'") + kTail}},
        {"the lyric's own quotes and separators", R"(karaoke.add('00:01.000', '00:02.000', 'a\', \'b);', '100,100');)",
         {std::string("00:00:01,000->00:00:02,000|a', 'b);") + kTail}},
        {"line-break codes are not escapes", R"(karaoke.add('00:01.000', '00:02.000', 'a\Nb\n', '100,100');)",
         {std::string(R"(00:00:01,000->00:00:02,000|a\Nb\n)") + kTail}},
        {"no spaces, spaces everywhere, empty lyric",
         "karaoke.add('00:01.000','00:02.000','x','100,100');\n"
         "KARAOKE.ADD(  '00:03.000' ,\t'00:04.000' , '' , '100,100' ) ;\n"
         "karaoke.add( '00:05.000', '00:06.000', 'y', '100,100' );",
         {std::string("00:00:01,000->00:00:02,000|x") + kTail, std::string("00:00:03,000->00:00:04,000|") + kTail,
          std::string("00:00:05,000->00:00:06,000|y") + kTail}},
        {"blanks inside the strings: times and timing trimmed, lyric kept",
         "karaoke.add(' 00:01.000 ', '00:02.000', ' x ', ' 100,100 ');",
         {std::string("00:00:01,000->00:00:02,000| x ") + kTail}},
        {"fields past the fourth are not read", "karaoke.add('00:01.000', '00:02.000', 'x', '100,100', 'more', 7);",
         {std::string("00:00:01,000->00:00:02,000|x") + kTail}},
        {"broken calls skipped, the next one read",
         "karaoke.add('00:01.000', '00:02.000', 'unterminated, '100');\n"
         "karaoke.add('00:01.000', '00:02.000', 'three');\n"
         "karaoke.add('00:01.000', '00:02.000', x, '100');\n"
         "karaoke.add('00:01.000' '00:02.000', 'x', '100');\n"
         "karaoke.add('00:01.000', '00:02.000', 'x', '100\\');\n"
         "karaoke.add(\n"
         "karaoke.add('00:07.000', '00:08.000', 'ok', '100,100');",
         {std::string("00:00:07,000->00:00:08,000|ok") + kTail}},
    });
}

TEST(KscKeepsText, ManyQuotesStayLinear) {
    // Bare, escaped and doubled quotes by the hundred thousand.
    std::string lyric;
    std::string read;
    for (int i = 0; i < 100000; ++i) {
        lyric += "' \\' '' ";
        read += "' ' ' ";
    }
    const Table t = ReadAs(kKindKsc, "karaoke.add('00:01.000', '00:02.000', '" + lyric + "', '1');");
    EXPECT_EQ(Table{"00:00:01,000->00:00:02,000|" + read + "\x1F" "1"}, t);
}

TEST(StlKeepsText, BarsBreakLines) {
    check(kKindStl, {
        {"one | two", "00:00:01:00 , 00:00:02:00 , one | two", {"00:00:01,000->00:00:02,000|one\\Ntwo"}},
        {"tabs and no blanks", "00:00:01:00,00:00:02:00,a|b\t|\tc", {"00:00:01,000->00:00:02,000|a\\Nb\\Nc"}},
        {"an empty line between", "00:00:01:00,00:00:02:00,a || b", {"00:00:01,000->00:00:02,000|a\\N\\Nb"}},
        {"bars at both ends", "00:00:01:00,00:00:02:00, |x| ", {"00:00:01,000->00:00:02,000|\\Nx\\N"}},
        {"markup removed, commas kept", "00:00:01:00,00:00:02:00,<i>a, b</i> | c",
         {"00:00:01,000->00:00:02,000|a, b\\Nc"}},
    });
}

TEST(SsaKeepsTimes, FieldsOfAnyWidth) {
    const std::string format = "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    struct TimeCase {
        const char* start;
        const char* end;
        const char* span;
    };
    const TimeCase cases[] = {
        {"0:00:01.6", "0:00:03.00", "00:00:01,600->00:00:03,000"},
        {"0:0:1.44", "0:0:2.5", "00:00:01,440->00:00:02,500"},
        {"1:2:3.45", "1:2:4", "01:02:03,450->01:02:04,000"},
        {"0:00:01.456", "0:00:02.", "00:00:01,456->00:00:02,000"},
        // Past milliseconds: rounded half to even on the digits as written.
        {"0:00:01.4567", "0:00:02.4565", "00:00:01,457->00:00:02,456"},
        {"0:00:01.4575", "0:00:02.45650001", "00:00:01,458->00:00:02,457"},
        {"0:00:01.9995", "0:00:59.99999", "00:00:02,000->00:01:00,000"},
        {"000:000:001.50", "0:75:0.0", "00:00:01,500->01:15:00,000"},
        {"123456:00:00.00", "123456:00:01.00", "123456:00:00,000->123456:00:01,000"},
        {"999999999:59:58.999", "999999999:59:59.9994", "999999999:59:58,999->999999999:59:59,999"},
        // Other forms go to the general time reader, as before.
        {"00:01.50", "00:02.50", "00:00:01,500->00:00:02,500"},
    };
    for (const auto& c : cases) {
        const std::string text = format + "Dialogue: 0," + c.start + "," + c.end + ",Default,,0,0,0,,x";
        EXPECT_EQ(Table{std::string(c.span) + "|x"}, ReadAs(kKindSsa, text)) << c.start << " " << c.end;
    }
}

TEST(SsaKeepsTimes, BeyondTheLongestTimeRefused) {
    std::size_t refused = 0;
    TimingRules rules;
    rules.refused = &refused;
    const std::string text =
        "Dialogue: 0,1000000000:00:00.00,1000000000:00:01.00,Default,,0,0,0,,a\n"
        "Dialogue: 0,0:00:01.00,999999999:59:59.9996,Default,,0,0,0,,b\n"
        "Dialogue: 0,0:00:01.00,0:99999999999999999999999:00.00,Default,,0,0,0,,c\n"
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,kept";
    EXPECT_EQ(Table{"00:00:01,000->00:00:02,000|kept"}, ReadAs(kKindSsa, text, nullptr, rules));
    EXPECT_EQ(3u, refused);
}

TEST(WebVttBlocks, AsTheW3cRulesTellThemApart) {
    const int32_t vtt = *KindOfKey("vtt");
    check(vtt, {
        {"header then NOTE without a blank line",
         "WEBVTT\nNOTE made by hand\n\n00:00:01.000 --> 00:00:02.000\na\n\n00:00:03.000 --> 00:00:04.000\nb\n",
         {"00:00:01,000->00:00:02,000|a", "00:00:03,000->00:00:04,000|b"}},
        {"header then STYLE, then cues with no blank line at all",
         "WEBVTT\nSTYLE\n::cue { color: red }\n00:00:01.000 --> 00:00:02.000\na\n"
         "00:00:03.000 --> 00:00:04.000\nb",
         {"00:00:01,000->00:00:02,000|a", "00:00:03,000->00:00:04,000|b"}},
        {"a timing line right after the signature", "WEBVTT\n00:00:01.000 --> 00:00:02.000\na",
         {"00:00:01,000->00:00:02,000|a"}},
        {"identifiers with no blank lines between cues",
         "WEBVTT\n\none\n00:00:01.000 --> 00:00:02.000\na\ntwo\n00:00:03.000 --> 00:00:04.000\nb\n",
         // "two" is text of the first cue: an identifier needs a blank line before it.
         {"00:00:01,000->00:00:02,000|a\\Ntwo", "00:00:03,000->00:00:04,000|b"}},
        {"an arrow in a NOTE's first line makes no cue",
         "WEBVTT\n\nNOTE a --> b\nmore\n\n00:00:01.000 --> 00:00:02.000\nx\n", {"00:00:01,000->00:00:02,000|x"}},
        {"an arrow further down a NOTE starts a cue",
         "WEBVTT\n\nNOTE\nsome words\n00:00:01.000 --> 00:00:02.000\nx\n", {"00:00:01,000->00:00:02,000|x"}},
        {"an arrow line that is no timing ends the cue and skips to the next",
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\na\nb --> c\nlost\n00:00:03.000 --> 00:00:04.000\nd\n",
         {"00:00:01,000->00:00:02,000|a", "00:00:03,000->00:00:04,000|d"}},
        {"a block that is no cue is skipped up to an arrow line",
         "WEBVTT\n\nREGION\nid:r\n00:00:01.000 --> 00:00:02.000\nx\n", {"00:00:01,000->00:00:02,000|x"}},
        {"WEBVTT later in a file is no header",
         "WEBVTT\n\nWEBVTT\n00:00:01.000 --> 00:00:02.000\nx\n", {"00:00:01,000->00:00:02,000|x"}},
    });
}

}  // namespace
}  // namespace lumeval
