// The SubRip, timed-text and plain-text readers and writers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "reader_test_util.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

using Table = std::vector<std::string>;
using test::ReadAs;

TEST(SubRipReader, Blocks) {
    struct Case {
        const char* name;
        std::string text;
        Table entries;
    };
    const Case cases[] = {
        {"two-line block", "1\r\n00:00:01,000 --> 00:00:02,500\r\nHello\r\nWorld\r\n\r\n",
         {"00:00:01,000->00:00:02,500|Hello\\NWorld"}},
        {"no final blank line", "1\n00:00:01,000 --> 00:00:02,000\nLast",
         {"00:00:01,000->00:00:02,000|Last"}},
        {"no blank between blocks: each keeps its span, the counter goes",
         "1\n00:00:01,000 --> 00:00:02,000\nA\n2\n00:00:03,000 --> 00:00:04,000\nB\n\n",
         {"00:00:01,000->00:00:02,000|A", "00:00:03,000->00:00:04,000|B"}},
        {"no blank, two text lines, counter with spaces",
         "1\n00:07:50,000 --> 00:07:51,000\nA\nB\n 67 \n00:07:52,640 --> 00:07:53,000\nC\n",
         {"00:07:50,000->00:07:51,000|A\\NB", "00:07:52,640->00:07:53,000|C"}},
        {"no blank and no counter: the last text line stays",
         "00:00:01,000 --> 00:00:02,000\nA\nsee 2 you\n00:00:03,000 --> 00:00:04,000\nB",
         {"00:00:01,000->00:00:02,000|A\\Nsee 2 you", "00:00:03,000->00:00:04,000|B"}},
        {"a number alone as the only text is taken as the counter",
         "00:00:01,000 --> 00:00:02,000\n42\n00:00:03,000 --> 00:00:04,000\nB\n",
         {"00:00:01,000->00:00:02,000|", "00:00:03,000->00:00:04,000|B"}},
        {"time line at the very end", "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> 00:00:04,000",
         {"00:00:01,000->00:00:02,000|A", "00:00:03,000->00:00:04,000|"}},
        {"negative time", "1\n-00:00:05,000 --> 00:00:02,000\nA\n\n",
         {"00:00:00,000->00:00:02,000|A"}},
        {"empty text still an entry", "1\n00:00:01,000 --> 00:00:02,000\n\n",
         {"00:00:01,000->00:00:02,000|"}},
        {"an empty line inside a cue: the text after it stays",
         "1\n00:00:01,000 --> 00:00:02,000\nA\n\nstill A\n\n\n2\n00:00:03,000 --> 00:00:04,000\nB\n",
         {"00:00:01,000->00:00:02,000|A\\Nstill A", "00:00:03,000->00:00:04,000|B"}},
        {"a number after the empty line is text when more text follows",
         "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2021\nyear\n\n2\n00:00:03,000 --> 00:00:04,000\nB\n",
         {"00:00:01,000->00:00:02,000|A\\N2021\\Nyear", "00:00:03,000->00:00:04,000|B"}},
        {"a number as the whole text, then a block without counter",
         "1\n00:00:01,000 --> 00:00:02,000\n2021\n\n00:00:03,000 --> 00:00:04,000\nB\n",
         {"00:00:01,000->00:00:02,000|2021", "00:00:03,000->00:00:04,000|B"}},
        {"a lone counter at the end of a cut-off file",
         "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2", {"00:00:01,000->00:00:02,000|A"}},
        {"full-width digits and punctuation in the time line",
         "1\n00\uFF1A00\uFF1A01\uFF0C000 --> 00:00:02,000\n\u4F60\uFF0C\n\n"
         "2\n\uFF10\uFF10:00:03,000\u3000-->\u300000:00:04,000\nB\n",
         {"00:00:01,000->00:00:02,000|\u4F60\uFF0C", "00:00:03,000->00:00:04,000|B"}},
        {"dot milliseconds read exactly", "1\n00:00:01.500 --> 00:00:02.250\nx\n\n",
         {"00:00:01,500->00:00:02,250|x"}},
        {"coordinates after the end time",
         "1\n00:00:01,000 --> 00:00:02,500 X1:100 X2:200 Y1:10 Y2:20\nx\n\n",
         {"00:00:01,000->00:00:02,500|x"}},
        {"space inside the end time", "1\n00:00:01,000 --> 00:00:02, 50\nx\n\n",
         {"00:00:01,000->00:00:02,050|x"}},
        {"zero length dropped", "1\n00:00:01,000 --> 00:00:01,000\nx\n\n", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.entries, ReadAs(kKindSrt, c.text)) << c.name;
}

TEST(SubRipReader, OpenBlockCarriesIntoNextFile) {
    ReaderState state;
    // The first file's last line is a time line; the next file brings the text.
    EXPECT_TRUE(ReadAs(kKindSrt, "1\n00:00:01,000 --> 00:00:02,000", &state).empty());
    EXPECT_EQ(Table{"00:00:01,000->00:00:02,000|carried"}, ReadAs(kKindSrt, "carried\n\n", &state));
}

TEST(TimedTextReader, SpansAndTexts) {
    // The text runs to the end of the line: the writer writes a "|" of the text as it is.
    EXPECT_EQ((Table{"00:00:05,000|Credits", "00:00:01,000->00:00:02,000|a|rest"}),
              ReadAs(kKindStxt, "00:00:05,000|Credits\nno bar\n00:00:01,000->00:00:02,000|a|rest\n"));
}

TEST(PlainTextReader, ContributesNothing) {
    EXPECT_TRUE(ReadAs(kKindTxt, "one\ntwo\n\n").empty());
}

// Runs one writer over entries with a given interval and collects progress.
struct WriteResult {
    OutputLines out;
    std::vector<std::size_t> progressAt;
};

WriteResult writeSubRip(int32_t kind, const Table& entries, int32_t interval = 1000) {
    WriteResult r;
    SaveSettings s;
    WriterProgress onProgress = [&](std::size_t j) {
        r.progressAt.push_back(j);
        return true;
    };
    const LineTable ctxTable(entries);
    WriterContext ctx{ctxTable, s, interval, onProgress, r.out};
    EXPECT_TRUE(WriteEntries(kind, ctx));
    return r;
}

std::string joined(const OutputLines& out) { return out.text(); }

TEST(SubRipWriter, CuesNumbersAndEnds) {
    const Table entries{"", "00:00:01,000->00:00:02,500|Hello", "00:00:03,000|World\\Nagain",
                        "00:00:09,000|   ", "00:00:10,000->00:00:00,000|zero end"};
    EXPECT_EQ(
        "1\r\n00:00:01,000 --> 00:00:02,500\r\nHello\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:09,000\r\nWorld\r\nagain\r\n\r\n"
        "3\r\n00:00:10,000 --> 00:00:15,000\r\nzero end\r\n",
        joined(writeSubRip(kKindSrt, entries).out));
}

TEST(SubRipWriter, LastCueWithoutEndGetsFiveSeconds) {
    const Table entries{"00:00:01,000->00:00:02,500|Hello", "00:00:03,000|World\\Nagain"};
    EXPECT_EQ(
        "1\r\n00:00:01,000 --> 00:00:02,500\r\nHello\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:08,000\r\nWorld\r\nagain\r\n",
        joined(writeSubRip(kKindSrt, entries).out));
}

TEST(SpanWriters, StartOnlyCuesEndAtTheNextLaterStartAndMarkersWriteNothing) {
    // Lyrics: each lasts until the next one starts; a bare start ends the one
    // before it; two lyrics at one time do not end each other.
    const Table entries{"0", "00:00:01,000|a", "00:00:03,000|b", "00:00:04,500|", "00:00:06,000|c",
                        "00:00:06,000|d", "no bar", "00:00:07,000|e"};
    EXPECT_EQ(
        "1\r\n00:00:01,000 --> 00:00:03,000\r\na\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,500\r\nb\r\n\r\n"
        "3\r\n00:00:06,000 --> 00:00:11,000\r\nc\r\n\r\n"
        "4\r\n00:00:06,000 --> 00:00:07,000\r\nd\r\n\r\n"
        "5\r\n00:00:07,000 --> 00:00:12,000\r\ne\r\n",
        joined(writeSubRip(kKindSrt, entries).out));
    EXPECT_EQ(
        "00:00:01,000->00:00:03,000|a\r\n00:00:03,000->00:00:04,500|b\r\n"
        "00:00:06,000->00:00:11,000|c\r\n00:00:06,000->00:00:07,000|d\r\n00:00:07,000->00:00:12,000|e",
        joined(writeSubRip(kKindStxt, entries).out));
}

TEST(PlainTextWriter, TextsOfCuesNotOfEndMarkers) {
    const Table entries{"0", "00:00:01,000->00:00:02,000|a\\Nb", "00:00:03,000->00:00:04,000|",
                        "00:00:05,000|lyric", "00:00:06,000| "};
    WriteResult r = writeSubRip(kKindTxt, entries);
    EXPECT_EQ(3u, r.out.size());
    EXPECT_EQ("a\r\nb\r\n\r\nlyric", joined(r.out));
}

TEST(TimedTextWriter, CanonicalTimes) {
    const Table entries{"0:00:01.50->00:00:02,000|a\\nb", "00:00:03,000->00:00:04,000|  ",
                        "00:00:05,000->0|c"};
    EXPECT_EQ("00:00:01,500->00:00:02,000|a\\Nb\r\n00:00:05,000->00:00:10,000|c",
              joined(writeSubRip(kKindStxt, entries).out));
}

TEST(Writers, ProgressIntervals) {
    Table entries;
    for (int i = 0; i < 2500; ++i) entries.push_back("00:00:01,000->00:00:02,000|x");
    EXPECT_EQ((std::vector<std::size_t>{0, 1000, 2000}), writeSubRip(kKindStxt, entries).progressAt);
    // SubRip reports after every entry, qualifying or not.
    Table bare(2500, "no bar");
    EXPECT_EQ((std::vector<std::size_t>{0, 1000, 2000}), writeSubRip(kKindSrt, bare).progressAt);
    // The others only after entries with a span and a text.
    EXPECT_TRUE(writeSubRip(kKindTxt, bare).progressAt.empty());
}

TEST(ReplaceLineBreaks, TrimsThenReplacesBothMarkers) {
    EXPECT_EQ("a\r\nb\r\nc", ReplaceLineBreaks("  a\\Nb\\nc ", "\r\n"));
    EXPECT_EQ("a\\Nb", ReplaceLineBreaks("a\\nb", "\\N"));
    EXPECT_EQ("x\\", ReplaceLineBreaks("x\\", "\r\n"));
}

}  // namespace
}  // namespace lumeval
