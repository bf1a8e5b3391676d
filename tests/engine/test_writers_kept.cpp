// What every writer keeps of a cue: its text (quoted for the KSC script,
// broken into STL lines, without override blocks where the format has none,
// "|" included) and its time on screen (ends one step after a start, SAMI
// clearing syncs, cues of one second written as one).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"
#include "test_util.h"

namespace lumeval {
namespace {

using Table = std::vector<std::string>;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

struct Written {
    std::string text;
    std::size_t cues = 0;  // the report's count
};

Written writeKey(const char* key, const Table& entries, const SaveSettings& s = {}) {
    OutputLines out;
    const WriterProgress none;
    const LineTable ctxTable(entries);
    WriterContext ctx{ctxTable, s, 1000, none, out};
    EXPECT_TRUE(WriteEntries(*KindOfKey(key), ctx)) << key;
    return {out.text(), ctx.cues};
}

// The CRLF-separated lines of a text.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const auto at = text.find("\r\n", from);
        out.push_back(text.substr(from, at == std::string::npos ? at : at - from));
        if (at == std::string::npos) return out;
        from = at + 2;
    }
}

// The lines that hold `needle`.
std::vector<std::string> linesWith(const std::string& text, const std::string& needle) {
    std::vector<std::string> out;
    for (const std::string& l : lines(text)) {
        if (l.find(needle) != std::string::npos) out.push_back(l);
    }
    return out;
}

const std::string kFullWidthBar = "\xEF\xBD\x9C";

TEST(KeptText, KscCallsQuoteTheText) {
    struct Case {
        const char* name;
        std::string entry;
        std::string call;
    };
    const Case cases[] = {
        {"apostrophe", "00:00:01,000->00:00:01,400|it's",
         "karaoke.add('00:01.000', '00:01.400', 'it\\'s', '100,100,100,100');"},
        {"backslash before a quote stays two characters", "00:00:01,000->00:00:01,300|a\\'",
         "karaoke.add('00:01.000', '00:01.300', 'a\\\\\\'', '100,100,100');"},
        {"line breaks become spaces and count as one character",
         "00:00:01,000->00:00:01,700|Hi\\Nthere\\nyou", "karaoke.add('00:01.000', '00:01.700', "
                                                          "'Hi there you', '58,58,58,58,58,58,58,58,58,58,58,58');"},
        {"trimmed like the other lyrics", "00:00:01,000->00:00:01,200|  ab  ",
         "karaoke.add('00:01.000', '00:01.200', 'ab', '100,100');"},
        {"override blocks left out", "00:00:01,000->00:00:01,400|{\\b1}it's{\\b0}",
         "karaoke.add('00:01.000', '00:01.400', 'it\\'s', '100,100,100,100');"},
        {"a KSC entry's durations are not text", "00:00:01,000->00:00:01,200|ab\x1F" "50,150",
         "karaoke.add('00:01.000', '00:01.200', 'ab', '100,100');"},
    };
    for (const auto& c : cases) {
        const std::string all = writeKey("ksc", {c.entry}).text;
        EXPECT_EQ(c.call, all.substr(all.rfind("\r\n") + 2)) << c.name;
    }
}

TEST(KeptText, StlLineBreaksAreBars) {
    struct Case {
        const char* name;
        std::string text;
        std::string written;
    };
    const Case cases[] = {
        {"\\N", "一\\N二", "一 | 二"},
        {"\\n", "one\\ntwo", "one | two"},
        {"three lines, spaces around breaks", " a \\N b\\Nc ", "a | b | c"},
        {"blank lines go", "a\\N\\N\\Nb\\N", "a | b"},
        {"a bar of the text is no break", "left | right\\Nnext", "left " + kFullWidthBar + " right | next"},
        {"a backslash that breaks nothing", "a\\b", "a\\b"},
    };
    for (const auto& c : cases) {
        const std::string all = writeKey("stl", {"00:00:01,000->00:00:02,000|" + c.text}).text;
        EXPECT_EQ("00:00:01:00\t,\t00:00:02:00\t,\t" + c.written, all.substr(all.rfind("\r\n") + 2))
            << c.name;
    }
}

// ---- override blocks ----

TEST(KeptText, PlainTextOfOverrides) {
    struct Case {
        const char* name;
        std::string text;
        std::string plain;
    };
    const Case cases[] = {
        {"tags around a word", "{\\b1}Hi{\\b0}", "Hi"},
        {"tags inside the text", "a {\\i1}b{\\i0} c", "a b c"},
        {"a comment block", "{note to self}line", "line"},
        {"a lone open brace is text", "x { y", "x { y"},
        {"a lone close brace is text", "x } y", "x } y"},
        {"a block reaches the first close brace", "a{b{c}d}e", "ad}e"},
        {"a drawing to its end", "a{\\p1}m 0 0 l 10 0 10 10{\\p0}b", "ab"},
        {"a drawing without its end", "a{\\p2}m 0 0 l 1 1", "a"},
        {"the last \\p of a block decides", "{\\p1\\p0}x{\\p0\\p1}m 0 0", "x"},
        {"position and baseline offset are no drawing", "{\\pos(10,20)\\pbo5}x", "x"},
        {"\\p followed by no digit", "{\\p}x", "x"},
        {"\\p00 ends a drawing", "{\\p1}m{\\p00}x", "x"},
        {"line breaks stay for the writer", "{\\an8}a\\Nb", "a\\Nb"},
    };
    for (const auto& c : cases) {
        std::string out;
        AppendPlainText(out, c.text);
        EXPECT_EQ(c.plain, out) << c.name;
    }
}

struct KeyCase {
    const char* key;
    bool keeps;  // writes override blocks as they are
};
const KeyCase kAllKeys[] = {
    {"txt", false}, {"srt", true},  {"utf", true},  {"ssa", true},  {"ass", true},
    {"lrc", false}, {"ksc", false}, {"krc", false}, {"smi", false}, {"sami", false},
    {"snc", false}, {"qly", false}, {"stl", false}, {"vsf", false}, {"dks", false},
    {"stxt", true}, {"vtt", false},
};

TEST(KeptText, OverrideBlocksOnlyWhereTheFormatHasThem) {
    const Table entries{"0", "00:00:01,000->00:00:02,000|{\\b1}Bold{\\b0} word"};
    for (const auto& k : kAllKeys) {
        const Written w = writeKey(k.key, entries);
        EXPECT_EQ(1u, w.cues) << k.key;
        EXPECT_EQ(k.keeps, w.text.find("{\\b1}Bold{\\b0} word") != std::string::npos) << k.key << "\n" << w.text;
        if (!k.keeps) {
            EXPECT_NE(std::string::npos, w.text.find("Bold word")) << k.key << "\n" << w.text;
            EXPECT_EQ(std::string::npos, w.text.find("\\b")) << k.key << "\n" << w.text;
        }
    }
}

TEST(KeptText, ADrawingIsNoCueWhereTheFormatHasNoOverrides) {
    const Table entries{"0", "00:00:01,000->00:00:02,000|{\\p1}m 0 0 l 10 0 10 10{\\p0}",
                        "00:00:03,000->00:00:04,000|words", "00:00:05,000|{\\an8\\p1}m 5 5 l 6 6",
                        "00:00:06,000->00:00:07,000|{just a comment}"};
    for (const auto& k : kAllKeys) {
        const Written w = writeKey(k.key, entries);
        EXPECT_EQ(k.keeps ? 4u : 1u, w.cues) << k.key;
        EXPECT_NE(std::string::npos, w.text.find("words")) << k.key;
        if (!k.keeps) {
            EXPECT_EQ(std::string::npos, w.text.find("m 0 0")) << k.key << "\n" << w.text;
            EXPECT_EQ(std::string::npos, w.text.find("comment")) << k.key << "\n" << w.text;
        }
    }
    // Nothing of the drawings in the plain-text file: one line.
    EXPECT_EQ("words", writeKey("txt", entries).text);
    // A blank text still writes what it wrote before (KSC keeps its empty call).
    EXPECT_EQ(1u, linesWith(writeKey("ksc", {"00:00:01,000->00:00:02,000|  "}).text, "karaoke.add(").size());
}

// ---- "|" in a text ----

TEST(KeptText, BarInATextComesOutWhole) {
    const Table entries{"0", "00:00:01,000->00:00:02,000|left | right",
                        "00:00:03,000->00:00:04,000|a|b\x1F" "500,500"};
    for (const auto& k : kAllKeys) {
        const Written w = writeKey(k.key, entries);
        EXPECT_EQ(2u, w.cues) << k.key;
        const std::string bar = std::string(k.key) == "stl" ? kFullWidthBar : "|";
        EXPECT_NE(std::string::npos, w.text.find("left " + bar + " right")) << k.key << "\n" << w.text;
        EXPECT_NE(std::string::npos, w.text.find("a" + bar + "b")) << k.key << "\n" << w.text;
        EXPECT_EQ(std::string::npos, w.text.find("500,500")) << k.key << ": durations are no text";
    }
}

// A text of tabs shows nothing. WebVTT leaves out lines with nothing to
// show (one would end the cue there), so such a cue would have no text at
// all, which readers take as no cue: it is not written, nor counted. Found
// by fuzz_convert_vtt (tests/fuzz_regressions/fuzz_convert_vtt/tab-only-cue).
TEST(KeptText, WebVttWritesNoCueWithNothingToShow) {
    const Table entries{"0", "00:00:01,000->00:00:02,000|\t\t\\N\t", "00:00:03,000->00:00:04,000|x",
                        "00:00:05,000->00:00:06,000| \t\\Ny"};
    const Written w = writeKey("vtt", entries);
    EXPECT_EQ(2u, w.cues);
    EXPECT_EQ(std::string::npos, w.text.find("00:00:01.000")) << w.text;
    EXPECT_NE(std::string::npos, w.text.find("00:00:03.000 --> 00:00:04.000\r\nx")) << w.text;
    EXPECT_NE(std::string::npos, w.text.find("00:00:05.000 --> 00:00:06.000\r\ny")) << w.text;
}

// ---- time on screen ----

TEST(KeptTimes, KeepVisible) {
    struct Case {
        double start, end, unit, written;
    };
    const Case cases[] = {
        {1000, 1001, 10, 1010},     // one millisecond
        {1000, 1009, 10, 1010},     // same centisecond
        {1005, 1012, 10, 1012},     // the next centisecond already
        {1000, 1000, 10, 1010},     // no length at all
        {1000, 900, 10, 1010},      // an end before the start
        {1999, 2000, 1000, 2000},   // the next second
        {1000, 1999, 1000, 2000},   // the same second
        {-40, -20, 10, 10},         // before 0: written as 0
        {1009.6, 1010.4, 10, 1020}, // rounded to 1010 and 1010 first
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.written, KeepVisible(c.start, c.end, c.unit)) << c.start << "->" << c.end;
    }
}

TEST(KeptTimes, ShortCuesKeepAStep) {
    struct Case {
        const char* name;
        const char* key;
        Table entries;
        SaveSettings settings;
        std::string needle;  // picks the cue's line
        std::string line;
    };
    SaveSettings karaoke;
    karaoke.s_EffectStyle = 1;
    karaoke.s_EffectSpeed = 1;
    const Case cases[] = {
        {"ssa one millisecond", "ssa", {"00:00:01,000->00:00:01,001|x"}, {}, "Dialogue",
         "Dialogue: Marked=0,0:00:01.00,0:00:01.01,Default0,,0000,0000,0000,,{\\b0\\i0}{\\fnArial}{\\an2}x"},
        {"ssa same centisecond", "ssa", {"00:00:01,004->00:00:01,009|x"}, {}, "Dialogue",
         "Dialogue: Marked=0,0:00:01.00,0:00:01.01,Default0,,0000,0000,0000,,{\\b0\\i0}{\\fnArial}{\\an2}x"},
        {"ssa end before the start", "ssa", {"00:00:05,000->00:00:04,000|x"}, {}, "Dialogue",
         "Dialogue: Marked=0,0:00:05.00,0:00:05.01,Default0,,0000,0000,0000,,{\\b0\\i0}{\\fnArial}{\\an2}x"},
        {"ssa long hours", "ssa", {"100:00:00,000->100:00:00,005|x"}, {}, "Dialogue",
         "Dialogue: Marked=0,100:00:00.00,100:00:00.01,Default0,,0000,0000,0000,,{\\b0\\i0}{\\fnArial}{\\an2}x"},
        // Its lead-in is 0: the cue before starts with it.
        {"ssa karaoke cue", "ssa",
         {"0", "00:00:09,000->00:00:10,000|a", "00:00:09,000->00:00:09,001|x", "00:00:20,000->00:00:21,000|z"},
         karaoke, "}x",
         "Dialogue: Marked=0,0:00:09.00,0:00:09.01,Default0,,0000,0000,0000,,{\\b0\\i0}"
         "{\\t(0,1,\\fsp20)}{\\t(1,200,\\fsp1)}{\\fad(500,200)}{\\fnArial}{\\an2}{\\kf1100}x"},
        {"stl one millisecond", "stl", {"00:00:01,000->00:00:01,001|x"}, {}, "\t,\t",
         "00:00:01:00\t,\t00:00:01:01\t,\tx"},
        {"dks half a second", "dks", {"00:00:01,200->00:00:01,700|x"}, {}, "",
         "[00:00:01]x\r\n[00:00:02]"},
        {"vsf keeps milliseconds", "vsf", {"00:00:01,000->00:00:01,001|x"}, {}, "=",
         "00:00:01,000-00:00:01,001=x"},
    };
    for (const auto& c : cases) {
        const std::string text = writeKey(c.key, c.entries, c.settings).text;
        if (c.needle.empty()) {
            EXPECT_EQ(c.line, text) << c.name;
            continue;
        }
        const auto found = linesWith(text, c.needle);
        ASSERT_EQ(1u, found.size()) << c.name << "\n" << text;
        EXPECT_EQ(c.line, found[0]) << c.name;
    }
}

TEST(KeptTimes, StartOnlyFormatsKeepACentisecondPerCue) {
    const Table entries{"0",
                        "00:00:01,000->00:00:01,003|a",
                        "00:00:01,003->00:00:01,006|b",
                        "00:00:01,006->00:00:03,000|c",
                        "00:00:01,006->00:00:03,000|c too",  // starts with c: stays with it
                        "00:00:01,030->00:00:03,000|d",      // already later
                        "00:00:00,500->00:00:01,000|earlier"};  // unsorted: as it is
    EXPECT_EQ((std::vector<std::string>{"[00:01.00]a", "[00:01.01]b", "[00:01.02]c", "[00:01.02]c too",
                                        "[00:01.03]d", "[00:00.50]earlier"}),
              linesWith(writeKey("lrc", entries).text, "[00:"));
    EXPECT_EQ((std::vector<std::string>{"    <line begin=\"00:01.00\">a</line>", "    <line begin=\"00:01.01\">b</line>",
                                        "    <line begin=\"00:01.02\">c</line>", "    <line begin=\"00:01.02\">c too</line>",
                                        "    <line begin=\"00:01.03\">d</line>", "    <line begin=\"00:00.50\">earlier</line>"}),
              linesWith(writeKey("krc", entries).text, "<line "));
    const std::string open = "\xE2\x91\xA9";
    EXPECT_EQ((std::vector<std::string>{open + "00000100", open + "00000101", open + "00000102", open + "00000102",
                                        open + "00000103", open + "00000050"}),
              [&] {
                  std::vector<std::string> starts;
                  for (const std::string& l : linesWith(writeKey("snc", entries).text, open)) {
                      starts.push_back(l.substr(0, open.size() + 8));
                  }
                  return starts;
              }());
}

TEST(KeptTimes, WholeSecondFormatsWriteOneCuePerSecond) {
    const Table entries{"0",
                        "00:00:01,000->00:00:01,400|a",
                        "00:00:01,400->00:00:02,500|b\\Nc",
                        "00:00:01,900->00:00:01,950|  ",  // blank: nothing to join
                        "00:00:01,950->00:00:02,100|d",
                        "00:00:03,000->00:00:04,000|e",
                        "00:00:04,999|f"};
    const Written qly = writeKey("qly", entries);
    EXPECT_EQ("00:01\r\na b c d\r\n\r\n00:03\r\ne\r\n\r\n00:04\r\nf\r\n", qly.text);
    EXPECT_EQ(3u, qly.cues);
    const Written dks = writeKey("dks", entries);
    EXPECT_EQ("[00:00:01]a b c d\r\n[00:00:02]\r\n[00:00:03]e\r\n[00:00:04]\r\n[00:00:04]f\r\n[00:00:09]", dks.text);
    EXPECT_EQ(3u, dks.cues);
    // Formats with finer steps keep all five.
    EXPECT_EQ(5u, writeKey("stl", entries).cues);
    EXPECT_EQ(5u, writeKey("snc", entries).cues);
}

// ---- SAMI ----

TEST(KeptTimes, SamiCuesEnd) {
    struct Case {
        const char* name;
        Table entries;
        std::vector<std::string> syncs;  // the body
    };
    const Case cases[] = {
        {"a gap after each cue",
         {"0", "00:00:01,000->00:00:02,000|a", "00:00:03,000->00:00:04,500|b"},
         {"<sync start=1000><P>a", "<sync start=2000><P>&nbsp;", "<sync start=3000><P>b",
          "<sync start=4500><P>&nbsp;"}},
        {"cues that touch need no clearing sync",
         {"00:00:01,000->00:00:02,000|a", "00:00:02,000->00:00:03,000|b"},
         {"<sync start=1000><P>a", "<sync start=2000><P>b", "<sync start=3000><P>&nbsp;"}},
        {"an overlap is cut by the next sync",
         {"00:00:01,000->00:00:05,000|a", "00:00:02,000->00:00:03,000|b"},
         {"<sync start=1000><P>a", "<sync start=2000><P>b", "<sync start=3000><P>&nbsp;"}},
        {"starts only: until the next, the last for five seconds",
         {"00:00:01,000|a", "00:00:02,000|b"},
         {"<sync start=1000><P>a", "<sync start=2000><P>b", "<sync start=7000><P>&nbsp;"}},
        {"an end marker ends the start before it",
         {"00:00:01,000|a", "00:00:01,001| ", "00:00:04,000|b", "00:00:06,000|"},
         {"<sync start=1000><P>a", "<sync start=1001><P>&nbsp;", "<sync start=4000><P>b",
          "<sync start=6000><P>&nbsp;"}},
        {"an end of 0 lasts five seconds", {"00:00:01,000->00:00:00,000|a"},
         {"<sync start=1000><P>a", "<sync start=6000><P>&nbsp;"}},
        {"an end before the start keeps a millisecond",
         {"00:00:01,000->00:00:00,500|a", "00:00:02,000->00:00:02,000|b"},
         {"<sync start=1000><P>a", "<sync start=1001><P>&nbsp;", "<sync start=2000><P>b",
          "<sync start=2001><P>&nbsp;"}},
        {"line breaks", {"00:00:01,000->00:00:02,000| one\\N two \\n\\Nthree & <i>four</i> "},
         {"<sync start=1000><P>one<br>two<br>three &amp; <i>four</i>", "<sync start=2000><P>&nbsp;"}},
        {"blank entries alone write nothing", {"00:00:01,000->00:00:02,000|  ", "00:00:03,000| "}, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> body = lines(writeKey("smi", c.entries).text);
        ASSERT_GE(body.size(), 4u) << c.name;
        EXPECT_EQ((std::vector<std::string>{"<SAMI>", "<BODY>"}), std::vector<std::string>(body.begin(), body.begin() + 2));
        EXPECT_EQ((std::vector<std::string>{"</BODY>", "</SAMI>"}), std::vector<std::string>(body.end() - 2, body.end()));
        EXPECT_EQ(c.syncs, std::vector<std::string>(body.begin() + 2, body.end() - 2)) << c.name;
    }
}

// ---- through the whole conversion ----

// A SAMI file whose cue lasts one millisecond, converted to each format
// with coarser times: the cue is written, counted once, and ends one step
// after its start.
TEST(KeptTimes, OneMillisecondSamiCueConverted) {
    TempDir dir;
    const std::string source = dir.file("flash.smi");
    writeBytes(source,
               "<SAMI>\r\n<BODY>\r\n<SYNC Start=1000><P>flash\r\n<SYNC Start=1001><P>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n");
    struct Case {
        const char* file;
        std::string line;
    };
    const Case cases[] = {
        {"out.ssa", "Dialogue: Marked=0,0:00:01.00,0:00:01.01,"},
        {"out.stl", "00:00:01:00\t,\t00:00:01:01\t,\tflash"},
        {"out.dks", "[00:00:01]flash\r\n[00:00:02]"},
        {"out.smi", "<sync start=1000><P>flash\r\n<sync start=1001><P>&nbsp;"},
        {"out.srt", "00:00:01,000 --> 00:00:01,001"},
    };
    for (const auto& c : cases) {
        clsSubtitle engine;
        ConvertSettings s;
        s.dst_SubFile = dir.file(c.file);
        s.s_Overwrite = true;
        ASSERT_TRUE(engine.ConvertSubtitle(source, s)) << c.file;
        EXPECT_EQ(1u, engine.LastRun().cuesWritten) << c.file;
        EXPECT_NE(std::string::npos, readBytes(dir.file(c.file)).find(c.line)) << c.file << "\n"
                                                                               << readBytes(dir.file(c.file));
    }
}

// The report counts what was written: merged cues once, drawings not at all.
TEST(KeptTimes, ReportCountsWrittenCues) {
    TempDir dir;
    const std::string source = dir.file("in.ass");
    writeBytes(source,
               "[Script Info]\r\nScriptType: v4.00+\r\n\r\n[Events]\r\n"
               "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
               "Dialogue: 0,0:00:01.00,0:00:01.50,Default,,0,0,0,,one\r\n"
               "Dialogue: 0,0:00:01.50,0:00:02.00,Default,,0,0,0,,{\\i1}two{\\i0}\r\n"
               "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,{\\p1}m 0 0 l 10 0 10 10{\\p0}\r\n");
    struct Case {
        const char* file;
        std::size_t cues;
    };
    for (const Case& c : {Case{"out.qly", 1}, Case{"out.dks", 1}, Case{"out.lrc", 2}, Case{"out.srt", 3},
                          Case{"out.ass", 3}}) {
        clsSubtitle engine;
        ConvertSettings s;
        s.dst_SubFile = dir.file(c.file);
        s.s_Overwrite = true;
        ASSERT_TRUE(engine.ConvertSubtitle(source, s)) << c.file;
        EXPECT_EQ(c.cues, engine.LastRun().cuesWritten) << c.file << "\n" << readBytes(dir.file(c.file));
    }
}

}  // namespace
}  // namespace lumeval
