// Saves that the file system refuses: a full disk and a read-only mount name
// their cause and leave nothing behind, and the old target stays as it was.
// Also the save's road where unnamed files (O_TMPFILE) are not offered: a
// preloaded shim refuses them, and the hidden named temporary must then both
// work and be removed on failure.
//
// The small file systems are tmpfs mounts made in a private mount namespace
// that lives only as long as one run of the converter, so nothing is ever
// mounted on the host.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace lumeval::clitest {
namespace {

// A SubRip source of `cues` one-line cues, one second apart.
std::string Cues(int cues) {
    std::string text;
    char block[128];
    for (int i = 1; i <= cues; ++i) {
        std::snprintf(block, sizeof block,
                      "%d\n%02d:%02d:%02d,000 --> %02d:%02d:%02d,500\nline %d of the source\n\n", i,
                      i / 3600, i / 60 % 60, i % 60, i / 3600, i / 60 % 60, i % 60, i);
        text += block;
    }
    return text;
}

// About 50 bytes a cue: 3000 cues are well over the 64 KiB disks below but
// under the converter's 1 MiB piece, so they are saved in one go; 40000 cues
// are written piece by piece while the table is turned into text.
constexpr int kOneGo = 3000;
constexpr int kPieces = 40000;

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs a program (no shell), its output thrown away; its exit status, or -1.
int RunQuiet(const std::vector<std::string>& command) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> all = command;
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, all.front().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Mounts inside a new mount namespace: as root that is enough (when the
// container grants CAP_SYS_ADMIN); otherwise a user namespace in which we are
// root may mount tmpfs. Probed once with exactly the mounts the tests make.
struct Namespace {
    std::vector<std::string> unshare;  ///< empty: no way to mount here
    std::string whyNot;
};

const Namespace& MountNamespace() {
    static const Namespace ns = [] {
        Namespace found;
        std::string unshare;
        for (const char* candidate : {"/usr/bin/unshare", "/bin/unshare"}) {
            if (access(candidate, X_OK) == 0) unshare = candidate;
        }
        if (unshare.empty()) {
            found.whyNot = "no unshare program (util-linux) to make a private mount namespace";
            return found;
        }
        std::vector<std::vector<std::string>> ways;
        if (geteuid() == 0) ways.push_back({unshare, "--mount", "--propagation", "private"});
        ways.push_back({unshare, "--map-root-user", "--mount", "--propagation", "private"});
        std::string pattern = (fs::temp_directory_path() / "lumeval-probe-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            found.whyNot = "mkdtemp failed";
            return found;
        }
        for (const auto& way : ways) {
            std::vector<std::string> probe = way;
            probe.insert(probe.end(),
                         {"/bin/sh", "-c",
                          "mount -t tmpfs -o size=16k lumeval-probe \"$1\" && touch \"$1/x\" && "
                          "{ mount -o remount,ro \"$1\" || mount -o remount,bind,ro \"$1\"; }",
                          "sh", pattern});
            if (RunQuiet(probe) == 0) {
                found.unshare = way;
                break;
            }
        }
        std::error_code ec;
        fs::remove_all(pattern, ec);
        if (found.unshare.empty()) {
            found.whyNot =
                "cannot mount a tmpfs in a private mount namespace here (no CAP_SYS_ADMIN, and "
                "user namespaces are not allowed)";
        }
        return found;
    }();
    return ns;
}

// Preloading our shim into an AddressSanitizer build puts it before the
// sanitizer's runtime, which that runtime refuses unless told not to check.
std::string AsanOptionsForPreload() {
    const char* given = std::getenv("ASAN_OPTIONS");
    std::string options = given != nullptr ? given : "";
    if (!options.empty()) options += ':';
    return options + "verify_asan_link_order=0";
}

// What the shim wrote: one line per O_TMPFILE open it refused.
int Refusals(const fs::path& marker) {
    const std::vector<std::string> lines = SplitLines(ReadFile(marker));
    return static_cast<int>(std::count(lines.begin(), lines.end(), "O_TMPFILE refused"));
}

bool MountedOnHost(const fs::path& where) {
    const std::string mounts = ReadFile("/proc/self/mountinfo");
    return Contains(mounts, " " + where.string() + " ");
}

// One converter run with work/mnt a fresh tmpfs of `size`, seen only by the
// converter. `old`, when given, is put in as mnt/out.srt first. `readOnly`
// remounts the tmpfs read-only before the converter starts.
struct MountedRun {
    RunResult run;
    std::vector<std::string> left;        ///< names in mnt afterwards, hidden ones too
    std::optional<std::string> target;    ///< mnt/out.srt afterwards, if there
    int refusals = 0;                     ///< O_TMPFILE opens the shim refused
};

struct MountSetup {
    std::string size = "64k";
    bool readOnly = false;
    std::optional<std::string> old;
    bool noTmpfile = false;
};

// Arguments of the script: the mount point, the tmpfs size, the old target
// (empty: none), "ro" or "", where to list mnt and copy out.srt, and the
// environment words for the converter; then the converter and its arguments.
const char* const kScript = R"(
mnt=$1 size=$2 old=$3 ro=$4 listing=$5 after=$6 preload=$7 marker=$8 asan=$9
shift 9
mount -t tmpfs -o "size=$size,mode=0755" lumeval-test "$mnt" || exit 120
if [ -n "$old" ]; then cp "$old" "$mnt/out.srt" || exit 121; fi
# In a user namespace the tmpfs cannot be remounted read-only as a whole
# (mount hands back a uid= option that does not map); the mount point can.
if [ -n "$ro" ]; then
    mount -o remount,ro "$mnt" 2>/dev/null || mount -o remount,bind,ro "$mnt" || exit 122
fi
if [ -n "$preload" ]; then
    env LD_PRELOAD="$preload" LUMEVAL_SHIM_MARKER="$marker" ASAN_OPTIONS="$asan" "$@"
else
    "$@"
fi
status=$?
ls -A "$mnt" > "$listing" || exit 123
if [ -e "$mnt/out.srt" ]; then cp "$mnt/out.srt" "$after" || exit 124; fi
exit $status
)";

MountedRun RunMounted(const ScratchDir& dir, const MountSetup& setup, const Args& args) {
    const fs::path root = dir.path().parent_path();  // outside work/ and outside the mount
    const fs::path mnt = dir / "mnt";
    const fs::path old = root / "old.srt";
    const fs::path listing = root / "listing";
    const fs::path after = root / "after.srt";
    const fs::path marker = root / "refusals";
    fs::create_directories(mnt);
    std::error_code ec;
    for (const auto& stale : {old, listing, after, marker}) fs::remove(stale, ec);
    if (setup.old) WriteFile(old, *setup.old);

    std::vector<std::string> wrapper = MountNamespace().unshare;
    wrapper.insert(wrapper.end(),
                   {"/bin/sh", "-c", kScript, "sh", mnt.string(), setup.size,
                    setup.old ? old.string() : "", setup.readOnly ? "ro" : "", listing.string(),
                    after.string(), setup.noTmpfile ? LUMEVAL_NO_TMPFILE_SHIM : "",
                    marker.string(), AsanOptionsForPreload()});
    MountedRun result;
    result.run = dir.Wait(dir.StartAs(wrapper, args));
    result.left = SplitLines(ReadFile(listing));
    if (fs::exists(after)) result.target = ReadFile(after);
    result.refusals = Refusals(marker);
    // The namespace ended with the run: the host never saw the mount.
    EXPECT_FALSE(MountedOnHost(mnt)) << mnt;
    EXPECT_TRUE(fs::is_empty(mnt)) << "written past the mount onto the host";
    return result;
}

#define SKIP_WITHOUT_MOUNTS()                                                                 \
    do {                                                                                      \
        if (MountNamespace().unshare.empty()) GTEST_SKIP() << MountNamespace().whyNot;        \
    } while (false)

const std::string kOldTarget = "1\r\n00:00:01,000 --> 00:00:02,000\r\nthe old file\r\n";

struct FailureCase {
    std::string what;
    int cues;
    Args args;                       ///< after the source
    std::optional<std::string> old;  ///< mnt/out.srt before the run
    std::string says;                ///< on standard error, the cause appended
};

std::vector<FailureCase> FailureCases() {
    return {
        {"new target, one go", kOneGo, {"-o", "mnt/out.srt"}, std::nullopt, "cannot write mnt/out.srt"},
        {"new target, in pieces", kPieces, {"-o", "mnt/out.srt"}, std::nullopt,
         "cannot write mnt/out.srt"},
        {"replacing, one go", kOneGo, {"-o", "mnt/out.srt", "--overwrite"}, kOldTarget,
         "cannot write mnt/out.srt"},
        {"replacing, in pieces", kPieces, {"-o", "mnt/out.srt", "--overwrite"}, kOldTarget,
         "cannot write mnt/out.srt"},
        {"beside an existing target", kOneGo, {"-o", "mnt/out.srt"}, kOldTarget,
         "cannot write mnt/out(1).srt"},
        {"batch", kOneGo, {"--to", "srt", "-d", "mnt"}, std::nullopt,
         "src.srt: failed: cannot write mnt/src.srt"},
    };
}

// Every case fails with exit status 1 and names the cause, and the folder
// holds afterwards exactly what it held before.
void ExpectFailures(const MountSetup& base, const std::string& cause) {
    ScratchDir dir;
    int lastCues = 0;
    for (const auto& c : FailureCases()) {
        SCOPED_TRACE(c.what);
        if (c.cues != lastCues) WriteFile(dir / "src.srt", Cues(lastCues = c.cues));
        Args args{"src.srt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        MountSetup setup = base;
        setup.old = c.old;
        const MountedRun r = RunMounted(dir, setup, args);
        ASSERT_LT(r.run.exitCode, 120) << "the tmpfs could not be set up: " << r.run.err;
        EXPECT_EQ(1, r.run.exitCode) << r.run.err;
        EXPECT_TRUE(Contains(r.run.err, c.says + ": " + cause + "\n")) << r.run.err;
        if (c.old) {
            EXPECT_EQ(std::vector<std::string>{"out.srt"}, r.left);
            EXPECT_EQ(*c.old, r.target.value_or("(gone)"));
        } else {
            EXPECT_TRUE(r.left.empty()) << Joined(r.left);
        }
        if (base.noTmpfile) {
            EXPECT_GE(r.refusals, 1) << "the shim refused nothing";
        }
    }
}

TEST(SaveFailures, AFullDiskNamesTheCauseAndLeavesTheFolderAsItWas) {
    SKIP_WITHOUT_MOUNTS();
    ExpectFailures(MountSetup{}, "No space left on device");
}

TEST(SaveFailures, AReadOnlyFileSystemNamesTheCauseAndCreatesNothing) {
    SKIP_WITHOUT_MOUNTS();
    MountSetup setup;
    setup.readOnly = true;
    ExpectFailures(setup, "Read-only file system");

    // A missing folder cannot be made there: that is the cause, not that the
    // folder is missing.
    ScratchDir dir;
    WriteFile(dir / "src.srt", Cues(3));
    const MountedRun r = RunMounted(dir, setup, {"src.srt", "-o", "mnt/sub/out.srt"});
    EXPECT_EQ(1, r.run.exitCode) << r.run.err;
    EXPECT_EQ("lumeval-convert: cannot write mnt/sub/out.srt: Read-only file system\n", r.run.err);
    EXPECT_TRUE(r.left.empty()) << Joined(r.left);
}

// Where unnamed files are not offered, the save writes a hidden named file;
// a full disk must not leave it behind.
TEST(SaveFailures, WithoutUnnamedFilesAFullDiskRemovesTheHiddenTemporary) {
    SKIP_WITHOUT_MOUNTS();
    MountSetup setup;
    setup.noTmpfile = true;
    ExpectFailures(setup, "No space left on device");
}

// The fallback on an ordinary folder: the output is the same as through an
// unnamed file, an old target is replaced, and no hidden file stays beside it.
TEST(SaveFailures, WithoutUnnamedFilesTheSaveGoesThroughAHiddenNamedFile) {
    ScratchDir dir;
    const fs::path marker = dir.path().parent_path() / "refusals";
    const std::vector<std::string> shim = {"/usr/bin/env", "LD_PRELOAD=" LUMEVAL_NO_TMPFILE_SHIM,
                                           "LUMEVAL_SHIM_MARKER=" + marker.string(),
                                           "ASAN_OPTIONS=" + AsanOptionsForPreload()};
    for (const int cues : {kOneGo, kPieces}) {
        SCOPED_TRACE(std::to_string(cues) + " cues");
        std::error_code ec;
        fs::remove_all(dir / "out", ec);
        fs::remove(marker, ec);
        WriteFile(dir / "src.srt", Cues(cues));
        const RunResult reference = dir.Run({"src.srt", "-o", "out/reference.srt"});
        ASSERT_EQ(0, reference.exitCode) << reference.err;
        EXPECT_EQ(0, Refusals(marker)) << "the shim is loaded where it was not asked for";

        const RunResult fresh = dir.Wait(dir.StartAs(shim, {"src.srt", "-o", "out/new.srt"}));
        EXPECT_EQ(0, fresh.exitCode) << fresh.err;
        EXPECT_EQ("wrote out/new.srt: " + std::to_string(cues) + " cues\n", fresh.err);
        EXPECT_GE(Refusals(marker), 1) << "the shim refused nothing: the fallback was not taken";

        WriteFile(dir / "out/old.srt", kOldTarget);
        fs::permissions(dir / "out/old.srt", fs::perms::owner_read | fs::perms::owner_write |
                                                 fs::perms::group_read);
        const RunResult replaced =
            dir.Wait(dir.StartAs(shim, {"src.srt", "-o", "out/old.srt", "--overwrite"}));
        EXPECT_EQ(0, replaced.exitCode) << replaced.err;

        const std::string expected = ReadFile(dir / "out/reference.srt");
        EXPECT_GT(expected.size(), std::size_t(cues) * 40);
        EXPECT_TRUE(ReadFile(dir / "out/new.srt") == expected) << "the output differs";
        EXPECT_TRUE(ReadFile(dir / "out/old.srt") == expected) << "the replaced file differs";
        EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                  fs::status(dir / "out/old.srt").permissions() & fs::perms::mask);
        EXPECT_EQ((std::vector<std::string>{"new.srt", "old.srt", "reference.srt"}), Names(dir / "out"));
    }
}

}  // namespace
}  // namespace lumeval::clitest
