// How the engine reports what went wrong: exceptions from handlers, saves the
// system refused, runs that keep no cue, sources it cannot read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::TempDir;
using test::writeBytes;

const char* const kTwoCuesInOrder =
    "1\n00:00:01,000 --> 00:00:02,000\none\n\n"
    "2\n00:00:03,000 --> 00:00:04,000\ntwo\n\n";

TEST(EngineFailures, AHandlerExceptionIsAFailureWithItsMessage) {
    TempDir dir;
    writeBytes(dir.file("a.srt"), kTwoCuesInOrder);
    struct Case {
        const char* name;
        std::function<void()> thrower;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"exception", [] { throw std::runtime_error("handler broke"); }, "handler broke"},
        {"allocation", [] { throw std::bad_alloc(); }, "out of memory"},
        {"anything", [] { throw 42; }, "an unknown exception"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clsSubtitle engine;
        std::vector<int32_t> statuses;
        engine.ProgressChange = [&](int32_t, int32_t, int32_t status, const std::string&, bool&) {
            statuses.push_back(status);
        };
        engine.SubtitleLineLoaded = [&](double, double, const std::string&) { c.thrower(); };
        ConvertSettings s;
        s.dst_SubFile = "srt";
        EXPECT_FALSE(engine.ConvertSubtitle(dir.file("a.srt"), s));
        EXPECT_EQ(RunFailure::Internal, engine.LastFailure().kind);
        EXPECT_EQ(c.message, engine.LastFailure().message);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(kStatusFailed, statuses.back());
        EXPECT_FALSE(engine.IsBusy());
    }
}

TEST(EngineFailures, AFailedSaveKeepsTheSystemsReason) {
    TempDir dir;
    writeBytes(dir.file("plain"), "a file, not a folder");
    clsSubtitle engine;
    std::vector<std::string> entries{"", "00:00:01,000->00:00:02,000|one"};
    EXPECT_FALSE(engine.SaveArrayToSubtitle(entries, dir.file("plain/out.srt"), SaveSettings{}));
    EXPECT_EQ(RunFailure::SaveFailed, engine.LastFailure().kind);
    EXPECT_EQ(ENOTDIR, engine.LastFailure().error);

    ASSERT_EQ(0, mkdir(dir.file("folder.srt").c_str(), 0755));
    EXPECT_FALSE(engine.SaveArrayToSubtitle(entries, dir.file("folder.srt"), SaveSettings{}));
    EXPECT_EQ(EISDIR, engine.LastFailure().error);
}

TEST(EngineFailures, NoCueKeptFailsBeforeAnyEventOrFile) {
    TempDir dir;
    writeBytes(dir.file("a.srt"), kTwoCuesInOrder);
    struct Case {
        const char* name;
        ConvertSettings settings;
        RunFailure::Kind kind;
        std::size_t outsideWindow;
    };
    ConvertSettings filtered;
    filtered.s_RemoveSubFilters = std::string("one\0two", 7);
    ConvertSettings windowed;
    windowed.s_TimeStartPoint = 100;
    windowed.s_TimeEndPoint = 200;
    const std::vector<Case> cases = {
        {"filter", filtered, RunFailure::AllFiltered, 0},
        {"window", windowed, RunFailure::NoLines, 2},
    };
    for (const auto& c : cases) {
        for (const std::string& dest : std::vector<std::string>{"srt", dir.file("out.srt")}) {
            SCOPED_TRACE(std::string(c.name) + " " + dest);
            clsSubtitle engine;
            int events = 0;
            engine.SubtitleLineLoaded = [&](double, double, const std::string&) { ++events; };
            ConvertSettings s = c.settings;
            s.dst_SubFile = dest;
            EXPECT_FALSE(engine.ConvertSubtitle(dir.file("a.srt"), s));
            EXPECT_EQ(c.kind, engine.LastFailure().kind);
            EXPECT_EQ(c.outsideWindow, engine.LastRun().outsideWindow);
            EXPECT_EQ(0, events);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.srt")));
}

TEST(EngineFailures, AFifoSourceIsSkippedWithItsReason) {
    TempDir dir;
    writeBytes(dir.file("a.srt"), kTwoCuesInOrder);
    ASSERT_EQ(0, mkfifo(dir.file("pipe.srt").c_str(), 0644));
    clsSubtitle engine;
    int events = 0;
    engine.SubtitleLineLoaded = [&](double, double, const std::string&) { ++events; };
    ConvertSettings s;
    s.dst_SubFile = "srt";
    // Opening the FIFO for reading would wait for a writer forever.
    EXPECT_TRUE(engine.ConvertSubtitle_Array({dir.file("pipe.srt"), dir.file("a.srt")}, s));
    EXPECT_EQ(2, events);
    EXPECT_EQ(2u, engine.LastRun().cuesDelivered);
    ASSERT_EQ(1u, engine.LastRun().unreadable.size());
    EXPECT_EQ(dir.file("pipe.srt"), engine.LastRun().unreadable[0].first);
    EXPECT_EQ("not a regular file", engine.LastRun().unreadable[0].second);
}

}  // namespace
}  // namespace lumeval
