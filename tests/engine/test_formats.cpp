// The format table and what reads it: the editor's patterns, the writers'
// shared loop and the readers' own carry-over state.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

TEST(FormatTable, PatternsKeepTheClassicListAndAddNewKeysAfterIt) {
    EXPECT_EQ("*.ssa; *.srt; *.ass; *.lrc; *.ksc; *.krc; *.smi; *.sami; *.snc; *.qly; *.utf; "
              "*.stl; *.vsf; *.dks; *.txt; *.stxt; *.vtt; *.sub",
              FilePatterns());
    // The first row of a kind speaks for it.
    EXPECT_EQ("srt", RowOfKind(kKindSrt)->key);
    EXPECT_EQ("ssa", RowOfKind(kKindSsa)->key);
    EXPECT_EQ("smi", RowOfKind(kKindSmi)->key);
}

// Progress goes out after every entry for SubRip and after each handled
// entry for the others, so a progress bar counts the same entries the
// writer works on.
TEST(FormatTable, WritersReportProgressAfterTheEntriesTheyHandle) {
    const std::vector<std::string> entries{
        "0",                                  // 0: the placeholder, no "|"
        "00:00:01,000->00:00:02,000|span",    // 1
        "00:00:03,000|",                      // 2: an end marker
        "00:00:04,000|start only",            // 3
        "00:00:05,000->00:00:06,000| \\N ",   // 4: a span with a blank text
        "no bar at all",                      // 5
        "00:00:07,000->00:00:08,000|last",    // 6
    };
    using Steps = std::vector<std::size_t>;
    const Steps everyEntry{0, 1, 2, 3, 4, 5, 6};
    const Steps everyTimed{1, 2, 3, 4, 6};
    const Steps noEndMarkers{1, 3, 4, 6};
    const struct {
        const char* key;
        Steps steps;
    } cases[] = {
        {"srt", everyEntry},   {"txt", noEndMarkers}, {"ssa", noEndMarkers}, {"ksc", noEndMarkers},
        {"lrc", everyTimed},   {"smi", everyTimed},   {"krc", everyTimed},   {"snc", everyTimed},
        {"qly", everyTimed},   {"stl", everyTimed},   {"vsf", everyTimed},   {"dks", everyTimed},
        {"stxt", everyTimed},  {"vtt", everyTimed},   {"sub", everyTimed},
    };
    ASSERT_EQ(std::size(cases), kFormatKeys.size() - 3);  // utf, ass and sami share a writer
    for (const auto& c : cases) {
        Steps seen;
        const WriterProgress onProgress = [&](std::size_t j) {
            seen.push_back(j);
            return true;
        };
        OutputLines out;
        SaveSettings s;
        const LineTable ctxTable(entries);
        WriterContext ctx{ctxTable, s, 1, onProgress, out};
        EXPECT_TRUE(WriteEntries(*KindOfKey(c.key), ctx)) << c.key;
        EXPECT_EQ(c.steps, seen) << c.key;
        // The report line's count, made on the way by every writer.
        EXPECT_EQ(3u, ctx.cues) << c.key;
        EXPECT_EQ(CountCues(ctxTable), ctx.cues) << c.key;

        // Stopping at the first report ends the writing at once.
        Steps stopped;
        const WriterProgress stop = [&](std::size_t j) {
            stopped.push_back(j);
            return false;
        };
        OutputLines none;
        const LineTable stopCtxTable(entries);
        WriterContext stopCtx{stopCtxTable, s, 1, stop, none};
        EXPECT_FALSE(WriteEntries(*KindOfKey(c.key), stopCtx)) << c.key;
        EXPECT_EQ(Steps{c.steps.front()}, stopped) << c.key;
    }
}

TEST(ReaderState, EachReaderOwnsItsCarryOver) {
    struct A {
        int n = 0;
    };
    struct B {
        std::string text;
    };
    ReaderState st;
    st.Own<A>().n = 7;
    st.Own<B>().text = "kept";
    ++st.Own<A>().n;
    EXPECT_EQ(8, st.Own<A>().n);
    EXPECT_EQ("kept", st.Own<B>().text);
    EXPECT_EQ(0, ReaderState().Own<A>().n);  // a new run starts afresh
}

}  // namespace
}  // namespace lumeval

namespace lumeval {
namespace {

// The cue count of the report line takes a short cut; it must agree with
// what the writers decide from the split entry.
TEST(FormatTable, CueCountAgreesWithTheWritersOverRandomEntries) {
    std::mt19937 rng(7);
    const std::string alphabet = "| \\Nnx->0";
    std::vector<std::string> entries;
    for (int i = 0; i < 20000; ++i) {
        std::string e;
        const int length = static_cast<int>(rng() % 9);
        for (int k = 0; k < length; ++k) e += alphabet[rng() % alphabet.size()];
        entries.push_back(e);
    }
    std::size_t expected = 0;
    for (const auto& e : entries) {
        const EntryParts p = SplitEntry(e);
        const bool cue = p.hasBar && !IsBlankText(p.text);
        expected += cue ? 1 : 0;
        EXPECT_EQ(cue ? 1u : 0u, CountCues(LineTable{e})) << e;
        EXPECT_EQ(cue, AnyCue(LineTable{e})) << e;
    }
    EXPECT_EQ(expected, CountCues(LineTable(entries)));
}

}  // namespace
}  // namespace lumeval
