// Writing a large source's file while it is read: the same file, events and
// report as saving the whole table at the end, whatever the source holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

using AheadEvent = std::tuple<int32_t, int32_t, int32_t, std::string>;

struct AheadRun {
    bool ok = false;
    std::vector<AheadEvent> events;
    std::string written;
    RunInfo info;
    RunFailure::Kind failure = RunFailure::None;
    std::vector<std::string> files;  // what the destination's folder holds afterwards
};

struct AheadOptions {
    std::string dest = "out.ass";
    int32_t interval = 1;
    bool sort = true;
    bool overwrite = true;
    int32_t effect = 0;
    int32_t encoding = 1;  // UTF-8
    int32_t cancelAt = -1; // cancels at the first event of this status
    std::size_t pieceBytes = 64;
    // Read alongside the survey, the file is written while read only once the
    // survey is done, which may come after the end of a small file.
    bool alongside = false;
};

// `entries`: 0 saves the whole table at the end; otherwise the file is
// written whenever that many entries have been read.
AheadRun ConvertAhead(const TempDir& dir, const std::string& source, const AheadOptions& o,
                      std::size_t entries) {
    std::filesystem::remove_all(dir.file("to"));
    std::filesystem::create_directories(dir.file("to"));
    const std::string dest = dir.file("to/" + o.dest);
    // A file already there: kept or replaced as the settings say.
    if (!o.overwrite) writeBytes(dest, "old");
    clsSubtitle engine;
    engine.PiecewiseFromBytes = 0;
    engine.PieceBytes = o.pieceBytes;
    engine.OutputPieceBytes = 256;
    engine.SurveyWhileReading = o.alongside;
    engine.WriteWhileReadingEntries = entries;
    AheadRun r;
    engine.ProgressChange = [&](int32_t v, int32_t m, int32_t st, const std::string& t, bool& cancel) {
        r.events.emplace_back(v, m, st, t);
        if (st == o.cancelAt) cancel = true;
    };
    ConvertSettings s;
    s.dst_SubFile = dest;
    s.s_RaiseEventInterval = o.interval;
    s.s_Overwrite = o.overwrite;
    s.s_Sort = o.sort;
    s.s_EffectStyle = o.effect;
    s.s_SubtitleEncodeFormat = o.encoding;
    r.ok = engine.ConvertSubtitle(source, s);
    r.info = engine.LastRun();
    r.failure = engine.LastFailure().kind;
    for (const auto& f : std::filesystem::directory_iterator(dir.file("to"))) {
        r.files.push_back(f.path().filename().string());
        if (f.path().filename().string() != o.dest || o.overwrite) r.written += readBytes(f.path().string());
    }
    std::sort(r.files.begin(), r.files.end());
    return r;
}

std::string AheadTime(int ms) {
    char t[32];
    std::snprintf(t, sizeof t, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return t;
}

// One SubRip cue per (start, end, text), numbered in order.
std::string AheadSrt(const std::vector<std::tuple<int, int, std::string>>& cues) {
    std::string out;
    int n = 0;
    for (const auto& [start, end, text] : cues) {
        out += std::to_string(++n) + "\n" + AheadTime(start) + " --> " + AheadTime(end) + "\n" + text + "\n\n";
    }
    return out;
}

std::vector<std::tuple<int, int, std::string>> AheadCues(int count, int firstMs = 0) {
    std::vector<std::tuple<int, int, std::string>> cues;
    for (int i = 0; i < count; ++i) {
        cues.emplace_back(firstMs + i * 1000, firstMs + i * 1000 + 500, "line " + std::to_string(i) + " 中文");
    }
    return cues;
}

struct AheadSource {
    const char* what;
    const char* name;
    std::string bytes;
    bool writtenAhead;  // the run keeps what it wrote while reading (every ninth entry)
};

std::vector<AheadSource> AheadSources() {
    std::vector<AheadSource> out;
    out.push_back({"in time order", "a.srt", AheadSrt(AheadCues(40)), true});
    {
        // Equal starts in groups of three, a duplicate in each (another case
        // too), and a duplicate apart from its twin within the group.
        std::vector<std::tuple<int, int, std::string>> cues;
        for (int i = 0; i < 15; ++i) {
            cues.emplace_back(i * 1000, i * 1000 + 900, "b");
            cues.emplace_back(i * 1000, i * 1000 + 400, "a");
            cues.emplace_back(i * 1000, i * 1000 + 900, "B");
        }
        out.push_back({"equal starts and duplicates", "b.srt", AheadSrt(cues), true});
    }
    {
        // Out of order within stretches shorter than a piece: each stretch
        // is sorted on its own.
        auto cues = AheadCues(40);
        for (std::size_t i = 0; i + 1 < cues.size(); i += 4) std::swap(cues[i], cues[i + 1]);
        out.push_back({"swapped neighbours", "c.srt", AheadSrt(cues), true});
    }
    {
        auto cues = AheadCues(40, 5000);
        cues.emplace_back(1000, 2000, "late but early");
        out.push_back({"the last cue starts first", "d.srt", AheadSrt(cues), false});
    }
    {
        auto cues = AheadCues(40, 5000);
        cues.insert(cues.begin() + 25, {6000, 7000, "a twin read late"});
        cues.insert(cues.begin() + 30, std::tuple<int, int, std::string>{5000, 5500, "LINE 0 中文"});
        out.push_back({"a duplicate far from its twin", "e.srt", AheadSrt(cues), false});
    }
    {
        auto cues = AheadCues(40);
        std::get<2>(cues[30]) = "PlayResX: 1280";
        out.push_back({"a play resolution in a late cue", "f.srt", AheadSrt(cues), false});
    }
    {
        std::string vtt = "WEBVTT\n\n";
        for (int i = 0; i < 30; ++i) {
            char t[64];
            std::snprintf(t, sizeof t, "00:00:%02d.000 --> 00:00:%02d.500\n", i, i);
            vtt += std::string(t) + "cue " + std::to_string(i) + " <b>bold</b> {\\b1}x{\\b0}\n\n";
        }
        out.push_back({"WebVTT", "g.vtt", vtt, true});
    }
    {
        auto cues = AheadCues(30);
        std::get<2>(cues[3]) = "{\\p1}m 0 0 l 10 0 10 10{\\p0}";
        std::get<2>(cues[4]) = "   ";
        std::get<2>(cues[5]) = "a | b\\Nc";
        out.push_back({"a drawing, a blank cue, a bar and a break", "h.srt", AheadSrt(cues), true});
    }
    {
        // Every cue at once: nothing can be written before the end.
        std::vector<std::tuple<int, int, std::string>> cues;
        for (int i = 0; i < 20; ++i) cues.emplace_back(1000, 2000 + i, "same start " + std::to_string(i));
        out.push_back({"one start for all", "i.srt", AheadSrt(cues), false});
    }
    {
        // The survey reads no time in full-width digits; the reader does.
        // Without a blank line after it, the cue is added when the reading
        // ends, after the last piece was written.
        std::string srt = AheadSrt(AheadCues(40, 5000));
        srt += "41\n\xEF\xBC\x90\xEF\xBC\x90:\xEF\xBC\x90\xEF\xBC\x90:\xEF\xBC\x90\xEF\xBC\x91,000 --> "
               "00:00:02,000\nfull width";
        out.push_back({"a late time line in full-width digits", "k.srt", srt, false});
    }
    out.push_back({"an LRC source (read whole first)", "j.lrc",
                   "[00:01.00]one\n[00:02.00]two\n[00:03.00]three\n[00:04.00]four\n[00:05.00]five\n", false});
    return out;
}

std::vector<std::pair<const char*, AheadOptions>> AheadSettings() {
    std::vector<std::pair<const char*, AheadOptions>> out;
    out.push_back({"to ASS", {}});
    AheadOptions o;
    o.dest = "out.srt";
    out.push_back({"to SubRip, progress every third entry", o});
    out.back().second.interval = 3;
    o = {};
    o.sort = false;
    out.push_back({"to ASS unsorted", o});
    o = {};
    o.overwrite = false;
    o.encoding = 2;  // UTF-16
    out.push_back({"to a new name beside a file there, UTF-16", o});
    o = {};
    o.effect = 1;
    out.push_back({"to ASS with a karaoke effect (saved whole)", o});
    o = {};
    o.dest = "out.lrc";
    out.push_back({"to LRC (saved whole)", o});
    o = {};
    o.pieceBytes = 7;
    out.push_back({"tiny pieces", o});
    o = {};
    o.alongside = true;
    out.push_back({"read alongside its survey", o});
    return out;
}

TEST(WriteAhead, SameFileEventsAndReportAsSavingAtTheEnd) {
    TempDir dir;
    for (const AheadSource& src : AheadSources()) {
        const std::string path = dir.file(src.name);
        writeBytes(path, src.bytes);
        for (const auto& [settingsName, options] : AheadSettings()) {
            SCOPED_TRACE(std::string(src.what) + ", " + settingsName);
            const AheadRun whole = ConvertAhead(dir, path, options, 0);
            ASSERT_TRUE(whole.ok);
            for (const std::size_t every : {std::size_t{4}, std::size_t{9}}) {
                SCOPED_TRACE(every);
                const AheadRun ahead = ConvertAhead(dir, path, options, every);
                EXPECT_TRUE(ahead.ok);
                EXPECT_EQ(ahead.written, whole.written);
                EXPECT_EQ(ahead.events, whole.events);
                EXPECT_EQ(ahead.files, whole.files);
                EXPECT_EQ(ahead.info.linesLoaded, whole.info.linesLoaded);
                EXPECT_EQ(ahead.info.cuesWritten, whole.info.cuesWritten);
                EXPECT_EQ(ahead.info.encodingReplaced, whole.info.encodingReplaced);
                ASSERT_EQ(ahead.info.sources.size(), 1u);
                EXPECT_EQ(ahead.info.sources[0].encoding, whole.info.sources[0].encoding);
                const bool inPieces = options.effect == 0 && options.dest != "out.lrc";
                // Every fourth entry leaves too little room for groups of three.
                if (!options.alongside && every == 9) {
                    EXPECT_EQ(ahead.info.writtenWhileReading, src.writtenAhead && inPieces);
                }
                EXPECT_FALSE(whole.info.writtenWhileReading);
            }
        }
    }
}

// A cue out of order read after the last piece was written: the check at the
// end of the reading finds it, the source is read again and saved whole.
TEST(WriteAhead, ACueOutOfOrderAfterTheLastPieceIsSavedWhole) {
    TempDir dir;
    // Twelve cues and one more are read before the first piece is written
    // (every twelfth entry, the last three kept); the late one comes after,
    // with too few behind it for another piece, so only the look at what is
    // left when the reading ends finds it.
    std::string srt = AheadSrt(AheadCues(13, 5000)) + "14\n00:00:01,000 --> 00:00:02,000\nlate\n\n";
    for (int i = 0; i < 3; ++i) {
        srt += std::to_string(15 + i) + "\n00:00:" + std::to_string(20 + i) + ",000 --> 00:00:" + std::to_string(20 + i) +
               ",500\nafter " + std::to_string(i) + "\n\n";
    }
    const std::string path = dir.file("m.srt");
    writeBytes(path, srt);
    const AheadOptions o;
    const AheadRun whole = ConvertAhead(dir, path, o, 0);
    const AheadRun ahead = ConvertAhead(dir, path, o, 12);
    ASSERT_TRUE(whole.ok);
    EXPECT_TRUE(ahead.ok);
    EXPECT_NE(whole.written.find("late"), std::string::npos);
    EXPECT_EQ(ahead.written, whole.written);
    EXPECT_EQ(ahead.events, whole.events);
    EXPECT_EQ(ahead.info.linesLoaded, 17u);
    EXPECT_FALSE(ahead.info.writtenWhileReading);
}

// A run that ends without a file ends alike: cancelled at the writing
// progress held back, cancelled while reading, no cue at all, or a folder
// that cannot be made. No temporary file is left behind.
TEST(WriteAhead, FailuresAndCancelsEndAsTheWholeSaveDoes) {
    TempDir dir;
    const std::string inOrder = dir.file("k.srt");
    writeBytes(inOrder, AheadSrt(AheadCues(40)));
    std::vector<std::tuple<int, int, std::string>> blank;
    for (int i = 0; i < 30; ++i) blank.emplace_back(i * 1000, i * 1000 + 10, " ");
    const std::string blankOnly = dir.file("l.srt");
    writeBytes(blankOnly, AheadSrt(blank));
    writeBytes(dir.file("notafolder"), "x");

    struct Case {
        const char* what;
        std::string source;
        AheadOptions options;
        RunFailure::Kind failure;
    };
    std::vector<Case> cases;
    AheadOptions o;
    o.cancelAt = 2;  // the first writing progress
    cases.push_back({"cancelled while writing", inOrder, o, RunFailure::Cancelled});
    o.cancelAt = 1;  // reading
    cases.push_back({"cancelled while reading", inOrder, o, RunFailure::Cancelled});
    cases.push_back({"blank cues only", blankOnly, {}, RunFailure::NoLines});
    o = {};
    o.dest = "../notafolder/out.ass";
    cases.push_back({"a folder that cannot be made", inOrder, o, RunFailure::SaveFailed});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AheadRun whole = ConvertAhead(dir, c.source, c.options, 0);
        const AheadRun ahead = ConvertAhead(dir, c.source, c.options, 3);
        EXPECT_FALSE(whole.ok);
        EXPECT_FALSE(ahead.ok);
        EXPECT_EQ(whole.failure, c.failure);
        EXPECT_EQ(ahead.failure, c.failure);
        EXPECT_EQ(ahead.events, whole.events);
        EXPECT_TRUE(ahead.files.empty()) << ahead.files.front();
        EXPECT_FALSE(ahead.info.writtenWhileReading);
    }
}

}  // namespace
}  // namespace lumeval
