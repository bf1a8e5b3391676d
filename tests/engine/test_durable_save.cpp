// A save killed mid-write (SIGKILL: no handler, no clean-up) leaves the
// target as it was and nothing beside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

std::vector<std::string> SavedCues(int cues) {
    std::vector<std::string> t{"0"};
    for (int i = 1; i <= cues; ++i) {
        t.push_back(MSecsToTime(i * 1000.0, 0) + "->" + MSecsToTime(i * 1000.0 + 800, 0) +
                    "|line " + std::to_string(i));
    }
    return t;
}

std::vector<std::string> Names(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

// The child saves in small pieces and, once the writing is well under way
// (the temporary holds data), tells the parent and waits to be killed.
void KillMidWrite(const std::string& target, const std::string& key) {
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(ready[0]);
        clsSubtitle engine;
        engine.OutputPieceBytes = 64;
        engine.ProgressChange = [&](int32_t value, int32_t, int32_t status, const std::string&,
                                    bool&) {
            if (status == kStatusWriting && value >= 500) {
                const char c = 'w';
                if (write(ready[1], &c, 1) != 1) _exit(3);
                for (;;) pause();
            }
        };
        std::vector<std::string> entries = SavedCues(1000);
        SaveSettings s;
        s.s_RaiseEventInterval = 100;
        engine.SaveArrayToSubtitle(entries, target, s);
        _exit(2);  // finished: the parent should have killed it first
    }
    close(ready[1]);
    char c = 0;
    const bool reached = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(reached) << key << ": the child ended before writing";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << key;
}

TEST(DurableSave, KilledMidWriteLeavesTheTargetAndNothingElse) {
    TempDir dir;
    for (const char* key : {"srt", "ass"}) {
        SCOPED_TRACE(key);
        const std::string target = dir.file(std::string("out.") + key);
        writeBytes(target, "the old file");
        KillMidWrite(target, key);
        EXPECT_EQ("the old file", readBytes(target));
        EXPECT_EQ(std::vector<std::string>{std::string("out.") + key}, Names(dir.path()));
        std::filesystem::remove(target);

        // A new target: nothing at all is left.
        KillMidWrite(target, key);
        EXPECT_TRUE(Names(dir.path()).empty());
    }
}

TEST(DurableSave, ACompletedSaveReplacesTheTargetAndKeepsItsPermissions) {
    TempDir dir;
    const std::string target = dir.file("out.srt");
    writeBytes(target, "old");
    std::filesystem::permissions(target, std::filesystem::perms(0640),
                                 std::filesystem::perm_options::replace);
    clsSubtitle engine;
    engine.OutputPieceBytes = 64;  // the streamed path
    std::vector<std::string> entries = SavedCues(50);
    ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, target, SaveSettings{}));
    EXPECT_NE("old", readBytes(target));
    EXPECT_EQ(std::filesystem::perms(0640),
              std::filesystem::status(target).permissions() & std::filesystem::perms::mask);
    EXPECT_EQ(std::vector<std::string>{"out.srt"}, Names(dir.path()));
}

}  // namespace
}  // namespace lumeval
