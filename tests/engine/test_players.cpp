// The player formats snc, qly, stl, vsf and dks: readers, writers, round trips.
#include <gtest/gtest.h>

#include <cmath>
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

using test::readBytes;
using test::TempDir;
using Table = std::vector<std::string>;
using test::ReadAs;

const std::string kOpen = "\xE2\x91\xA9";   // U+2469
const std::string kClose = "\xE2\x91\xBF";  // U+247F

struct PlayerCase {
    const char* name;
    int32_t kind;
    std::string text;
    Table entries;
};

TEST(PlayerReaders, Lines) {
    const PlayerCase cases[] = {
        {"snc marker then text", kKindSnc, kOpen + "1234" + kClose + "\nHello\n",
         {"00:00:12,340|Hello"}},
        {"snc text lines joined, markup removed", kKindSnc,
         kOpen + "00000100" + kClose + "\n<i>你好</i>\n\n world\n",
         {"00:00:01,000|你好 world"}},
        {"snc text before the first marker has no cue", kKindSnc,
         "orphan\n" + kOpen + "200" + kClose + "\nx\n", {"00:00:02,000|x"}},
        {"snc lone marker is text", kKindSnc, kOpen + "100" + kClose + "\n" + kOpen + "5\n",
         {"00:00:01,000|" + kOpen + "5"}},
        {"qly time then text", kKindQly, "01:05\nHello\n", {"00:01:05,000|Hello"}},
        {"qly one-digit minutes are text", kKindQly, "01:05\nHello\n1:05\n",
         {"00:01:05,000|Hello1:05"}},
        {"qly keeps markup", kKindQly, "00:02\n<b>x</b>\n", {"00:00:02,000|<b>x</b>"}},
        {"qly minutes past 99", kKindQly, "100:05\nlate\n75:03\nearlier\n",
         {"01:40:05,000|late", "01:15:03,000|earlier"}},
        {"stl plain commas", kKindStl, "00:00:01:50,00:00:03:00,Hi there",
         {"00:00:01,500->00:00:03,000|Hi there"}},
        {"stl tab-aligned with commas in the text", kKindStl,
         "$FontName\t\t\t=\tArial\n\n00:00:01:50\t,\t00:00:03:00\t,\t<i>Hi</i>, 你好, there\n",
         {"00:00:01,500->00:00:03,000|Hi, 你好, there"}},
        {"stl missing fields add nothing", kKindStl, "00:00:01:50,00:00:03:00\n00:00:01:50\n0:00:01:50,1,x",
         {}},
        {"vsf line", kKindVsf, "{* VIPLAY SUBTITLE FILE *}\n00:00:01,000-00:00:02,000=Hello",
         {"00:00:01,000->00:00:02,000|Hello"}},
        {"vsf text keeps its equals signs", kKindVsf, "00:00:01,000 - 00:00:02,000 = a=b <u>c</u> ",
         {"00:00:01,000->00:00:02,000|a=b c"}},
        {"vsf without end or text adds nothing", kKindVsf,
         "00:00:01,000=x\n00:00:01,000-00:00:02,000\n", {}},
        {"dks text then end tag", kKindDks, "[00:00:01]Hello\n[00:00:03]\n",
         {"00:00:01,000->00:00:03,000|Hello"}},
        {"dks second bare tag adds nothing", kKindDks, "[00:00:01]Hello\n[00:00:03]\n[00:00:04]\n",
         {"00:00:01,000->00:00:03,000|Hello"}},
        {"dks cue without end tag ends at the next", kKindDks,
         "[00:00:01]<b>一</b>\n[00:00:03]two\n[00:00:05]\n",
         {"00:00:01,000->00:00:03,000|一", "00:00:03,000->00:00:05,000|two"}},
        {"dks last text line without its end tag keeps its start", kKindDks,
         "[00:00:01]one\n[00:00:02]\n[00:00:07]last\n", {"00:00:01,000->00:00:02,000|one", "00:00:07,000|last"}},
        {"dks bare tag first, unterminated tag, other lines", kKindDks,
         "[00:00:00]\n[00:00:01 x\n 00:00:02]y\n[00:00:01]ok\n[00:00:02 \n[00:00:02]",
         {"00:00:01,000->00:00:02,000|ok"}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.entries, ReadAs(c.kind, c.text)) << c.name;
}

TEST(PlayerReaders, CueOutsideTheWindowTakesItsTextAlong) {
    TimingRules window;
    window.windowStart = 10;
    window.windowEnd = 20;
    window.splitMode = 1;
    const std::string snc = kOpen + "300" + kClose + "\nbefore\n" + kOpen + "1500" + kClose +
                            "\ninside\n" + kOpen + "2500" + kClose + "\nafter\nmore\n";
    EXPECT_EQ(Table{"00:00:15,000|inside"}, ReadAs(kKindSnc, snc, nullptr, window));
    EXPECT_EQ(Table{"00:00:15,000|inside"},
              ReadAs(kKindQly, "00:03\nbefore\n00:15\ninside\n00:25\nafter\n", nullptr, window));
}

TEST(PlayerReaders, OpenCuesCarryIntoTheNextFile) {
    ReaderState state;
    EXPECT_TRUE(ReadAs(kKindDks, "[00:00:01]Hello", &state).empty());
    EXPECT_EQ(Table{"00:00:01,000->00:00:03,000|Hello"}, ReadAs(kKindDks, "[00:00:03]\n", &state));

    ReaderState snc;
    LineTable table(1);
    TimingRules rules;
    ReaderContext ctx{table, rules, snc};
    ReadLine(kKindSnc, kOpen + "100" + kClose, false, ctx);
    ReadLine(kKindSnc, "first file", false, ctx);
    ReadLine(kKindSnc, " and the next", false, ctx);  // the next file's first line
    EXPECT_EQ((Table{"", "00:00:01,000|first file and the next"}), table.toVector());
}

// ---- writers ----

// The entries of the golden files: canonical cues, a blank text, an end of 0,
// a start-only entry (it ends where the next entry starts),
// cues past an hour and past 99 minutes, an snc tie (450300.5 centiseconds
// rounds to even), cues shorter than a centisecond or a second, and texts with
// line breaks, commas, "=" and a third "|" field.
const Table kPlayerGoldenEntries{
    "0",
    "00:00:01,000->00:00:03,200|你好，世界！\\NHello, world!",
    "00:01:02,346->00:01:04,000|Hi",
    "00:01:05,000->00:01:07,000|   ",
    "00:01:08,000->00:00:00,000|零结束 zero end",
    "00:01:20,000|只有开始 start only",
    "00:01:25,500->00:01:27,000|  padded 两端  ",
    "01:15:03,005->01:15:03,500|短 short",
    "01:20:00,001->01:20:00,009|闪 flash",
    "01:40:00,000->01:40:02,000|a, b = c\\nd",
    "01:40:05,000->01:40:06,000|最后 last\x1F" "500,500",
};

TEST(PlayerWriters, GoldenFiles) {
    TempDir dir;
    for (const char* key : {"snc", "qly", "stl", "vsf", "dks"}) {
        const std::string name = std::string("cues.") + key;
        const std::string path = dir.file(name);
        Table entries = kPlayerGoldenEntries;
        SaveSettings s;
        s.s_SubtitleEncodeFormat = kEncodingUtf8;
        clsSubtitle engine;
        ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, s)) << key;
        const std::string golden = std::string(LUMEVAL_TEST_DATA) + "/" + key + "/" + name;
        if (test::updateGolden(golden, readBytes(path))) continue;
        const std::string expected = readBytes(golden);
        ASSERT_FALSE(expected.empty()) << golden;
        EXPECT_EQ(expected, readBytes(path)) << key << ": differs from " << golden;
    }
}

OutputLines writeKind(int32_t kind, const Table& entries, std::vector<std::size_t>* progress = nullptr,
                      int32_t interval = 1000) {
    OutputLines out;
    SaveSettings s;
    WriterProgress onProgress = [&](std::size_t j) {
        if (progress) progress->push_back(j);
        return true;
    };
    const LineTable ctxTable(entries);
    WriterContext ctx{ctxTable, s, interval, onProgress, out};
    EXPECT_TRUE(WriteEntries(kind, ctx));
    return out;
}

TEST(PlayerWriters, ProgressFollowsEntriesWithABar) {
    // Interval 1: every entry with a "|" reports, the blank one too.
    const Table entries{"00:00:01,000->00:00:02,000|a", "00:00:03,000|b", "00:00:04,000->00:00:05,000| ",
                        "no bar", "00:00:06,000->00:00:07,000|c"};
    for (int32_t kind : {kKindSnc, kKindQly, kKindStl, kKindVsf, kKindDks}) {
        std::vector<std::size_t> progress;
        writeKind(kind, entries, &progress, 1);
        EXPECT_EQ((std::vector<std::size_t>{0, 1, 2, 4}), progress) << kind;
    }
}

TEST(PlayerWriters, NothingToWrite) {
    const Table entries{"0", "00:00:01,000->00:00:02,000|  ", "no bar"};
    for (int32_t kind : {kKindSnc, kKindQly, kKindDks}) EXPECT_TRUE(writeKind(kind, entries).empty()) << kind;
    // The headers stay.
    EXPECT_EQ(1u, writeKind(kKindStl, entries).size());
    EXPECT_EQ("{* VIPLAY SUBTITLE FILE *}", writeKind(kKindVsf, entries).text());
}

// ---- round trips ----

struct Loaded {
    double start, end;
    std::string text;
    bool operator==(const Loaded&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Loaded& l) {
    return os << l.start << "->" << l.end << "|" << l.text;
}

// Reads a file through the whole conversion in event mode.
std::vector<Loaded> loadAll(const std::string& path) {
    std::vector<Loaded> loaded;
    clsSubtitle engine;
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) { loaded.push_back({s, e, t}); };
    ConvertSettings convert;
    convert.dst_SubFile = "stxt";
    EXPECT_TRUE(engine.ConvertSubtitle(path, convert)) << path;
    return loaded;
}

TEST(PlayerFormats, WriteThenReadKeepsTimesAndTexts) {
    struct Case {
        const char* key;
        double step;   // precision of the format's times, ms
        bool hasEnds;  // start-only formats read back with end 0
    };
    const Case cases[] = {
        {"snc", 10, false}, {"qly", 1000, false}, {"stl", 10, true}, {"vsf", 1, true}, {"dks", 1000, true},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file(std::string("round.") + c.key);
        Table entries{"0", "00:00:01,234->00:00:03,456|你好 Hello", "00:01:02,999->00:01:04,001|a, b = c [d]",
                      "01:41:05,505->01:41:07,000|长片 late", "01:41:10,000|start only 只有开始"};
        // The start-only entry is the last: it lasts five seconds.
        SaveSettings save;
        save.s_SubtitleEncodeFormat = kEncodingUtf8;
        ASSERT_TRUE(clsSubtitle().SaveArrayToSubtitle(entries, path, save)) << c.key;
        // snc rounds its starts to centiseconds; the others cut to their step.
        auto at = [&](double ms) { return c.hasEnds || c.step != 10 ? std::floor(ms / c.step) * c.step
                                                                    : std::nearbyint(ms / 10) * 10; };
        auto endAt = [&](double ms) { return c.hasEnds ? at(ms) : 0; };
        const std::vector<Loaded> expected{
            {at(1234), endAt(3456), "你好 Hello"},
            {at(62999), endAt(64001), "a, b = c [d]"},
            {at(6065505), endAt(6067000), "长片 late"},
            {at(6070000), endAt(6075000), "start only 只有开始"},
        };
        EXPECT_EQ(expected, loadAll(path)) << c.key;
    }
}

TEST(PlayerFormats, SamplesRead) {
    for (const char* key : {"snc", "qly", "stl", "vsf", "dks"}) {
        const auto loaded = loadAll(std::string(LUMEVAL_TEST_DATA) + "/../../samples/demo." + key);
        ASSERT_EQ(4u, loaded.size()) << key;
        for (std::size_t i = 0; i < loaded.size(); ++i) {
            EXPECT_FALSE(loaded[i].text.empty()) << key << " cue " << i;
            EXPECT_TRUE(i == 0 || loaded[i - 1].start < loaded[i].start) << key;
        }
    }
}

}  // namespace
}  // namespace lumeval
