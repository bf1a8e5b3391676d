#include "document/recovery.h"

#include "document/document.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>
#include <vector>

namespace lumeval::doc {
namespace {

std::shared_ptr<const BackupSource> Source(std::vector<BackupCue> cues) {
    return std::make_shared<CueVectorSource>(std::move(cues));
}

std::vector<BackupCue> SomeCues(int n, const std::string& tag = "cue") {
    std::vector<BackupCue> cues;
    for (int i = 0; i < n; ++i) cues.push_back({i * 1000, i * 1000 + 500, tag + " " + std::to_string(i), uint32_t(i + 1)});
    return cues;
}

BackupInfo SomeInfo(const QString& path = QStringLiteral("/home/u/a.srt")) {
    return BackupInfo{path, "srt", 1, 0, true, QByteArray("app state")};
}

// What the worker reported, in order; the signal comes from its thread.
struct Reports {
    std::mutex mutex;
    std::vector<std::tuple<quint64, bool, QString>> list;
    explicit Reports(RecoveryStore& store) {
        QObject::connect(
            &store, &RecoveryStore::Written, &store,
            [this](quint64 id, bool ok, const QString& error) {
                std::lock_guard lock(mutex);
                list.emplace_back(id, ok, error);
            },
            Qt::DirectConnection);
    }
    std::vector<std::tuple<quint64, bool, QString>> Take() {
        std::lock_guard lock(mutex);
        return std::exchange(list, {});
    }
};

// Holds the worker inside a source until the test lets it go.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool reached = false, open = false;
    void Arrive() {
        std::unique_lock lock(mutex);
        reached = true;
        cv.notify_all();
        cv.wait(lock, [this] { return open; });
    }
    void AwaitArrival() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return reached; });
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
};

class GatedSource final : public BackupSource {
  public:
    GatedSource(std::vector<BackupCue> cues, std::size_t at, Gate* gate) : m_cues(std::move(cues)), m_at(at), m_gate(gate) {}
    std::size_t Count() const override { return m_cues.size(); }
    int64_t Start(std::size_t i) const override { return m_cues[i].start; }
    int64_t End(std::size_t i) const override { return m_cues[i].end; }
    std::string_view Text(std::size_t i) const override {
        if (i == m_at) m_gate->Arrive();
        return m_cues[i].text;
    }
    uint32_t Serial(std::size_t i) const override { return m_cues[i].serial; }

  private:
    std::vector<BackupCue> m_cues;
    std::size_t m_at;
    Gate* m_gate;
};

std::vector<BackupCue> Cues(const BackupSource& source) {
    std::vector<BackupCue> cues;
    for (std::size_t i = 0; i < source.Count(); ++i)
        cues.push_back({source.Start(i), source.End(i), std::string(source.Text(i)), source.Serial(i)});
    return cues;
}

std::vector<BackupCue> Cues(const std::optional<Backup>& backup) { return backup ? Cues(*backup) : std::vector<BackupCue>{}; }

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

std::string Bytes(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

void Put(const QString& file, const std::string& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), qint64(bytes.size()));
}

mode_t Mode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(Recovery, BackupsComeBackExactly) {
    const int64_t big = std::numeric_limits<int64_t>::max();
    struct Case {
        const char* name;
        BackupInfo info;
        std::vector<BackupCue> cues;
    };
    const std::vector<Case> cases = {
        {"no cues", BackupInfo{}, {}},
        {"edge values",
         BackupInfo{QStringLiteral("/home/u/字幕 Ω.lrc"), "lrc", 0, 936, false, QByteArray("\0x\xff", 3)},
         {{0, kNoEnd, "", 1},
          {-5000, -1, "negative", 2},
          {big - 1, big, "far out", 0xFFFFFFFFu},
          {std::numeric_limits<int64_t>::min() + 1, 0, "first", 7},
          {1000, 2000, "你好，世界 🎬 مرحبا\\Nline two", 3},
          {3000, 4000, std::string("nul\0inside", 10), 4}}},
        {"a long text", SomeInfo(), {{1, 2, std::string(3u << 20, 'x'), 9}}},
        {"many cues", SomeInfo(QString()), SomeCues(5000)},
    };
    QTemporaryDir dir;
    RecoveryStore store(dir.path());
    Reports reports(store);
    ASSERT_TRUE(store.Open());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        store.Save(i, cases[i].info, Source(cases[i].cues));
        store.Flush();
        EXPECT_EQ((std::vector<std::tuple<quint64, bool, QString>>{{i, true, QString()}}), reports.Take());
        QString error;
        auto backup = RecoveryStore::Read(store.FileFor(i), &error);
        ASSERT_TRUE(backup) << error.toStdString();
        EXPECT_EQ(cases[i].info, backup->info);
        EXPECT_EQ(cases[i].cues, Cues(*backup));
        // A backup read back is itself a source: saved again, it is the same.
        const quint64 again = 1000 + i;
        BackupInfo info = backup->info;
        store.Save(again, std::move(info), std::make_shared<Backup>(std::move(*backup)));
        store.Flush();
        EXPECT_TRUE(Bytes(store.FileFor(i)) == Bytes(store.FileFor(again)));
        reports.Take();
    }
    // A save with no source is a backup with no cues, not a crash.
    store.Save(99, SomeInfo(), nullptr);
    store.Flush();
    ASSERT_TRUE(RecoveryStore::Read(store.FileFor(99)));
    EXPECT_EQ(0u, RecoveryStore::Read(store.FileFor(99))->Count());
}

TEST(Recovery, NewerSaveReplacesQueuedOneAndOverwritesTheFile) {
    QTemporaryDir dir;
    RecoveryStore store(dir.path());
    Reports reports(store);
    ASSERT_TRUE(store.Open());
    Gate gate;
    store.Save(1, SomeInfo(), std::make_shared<GatedSource>(SomeCues(3), 1, &gate));
    gate.AwaitArrival();  // the worker is busy with 1
    store.Save(2, SomeInfo(), Source(SomeCues(2, "old")));
    store.Save(2, SomeInfo(), Source(SomeCues(4, "new")));
    gate.Open();
    store.Flush();
    const auto written = reports.Take();
    ASSERT_EQ(2u, written.size());  // 2 written once, with the newer cues
    EXPECT_EQ(SomeCues(4, "new"), Cues(RecoveryStore::Read(store.FileFor(2))));
    store.Save(2, SomeInfo(), Source(SomeCues(1, "newest")));
    store.Flush();
    EXPECT_EQ(SomeCues(1, "newest"), Cues(RecoveryStore::Read(store.FileFor(2))));
    EXPECT_EQ((QStringList{"1.backup", "2.backup"}), Entries(store.Folder()));
}

TEST(Recovery, RemoveLeavesNothingHoweverItMeetsTheWrite) {
    QTemporaryDir dir;
    RecoveryStore store(dir.path());
    Reports reports(store);
    ASSERT_TRUE(store.Open());

    // Queued and not written yet.
    store.Save(1, SomeInfo(), Source(SomeCues(10)));
    store.Remove(1);
    // Written, then removed.
    store.Save(2, SomeInfo(), Source(SomeCues(10)));
    store.Flush();
    store.Remove(2);
    // Removed while the worker is inside its write, with an older backup on disk.
    store.Save(3, SomeInfo(), Source(SomeCues(2)));
    store.Flush();
    Gate gate;
    store.Save(3, SomeInfo(), std::make_shared<GatedSource>(SomeCues(50), 25, &gate));
    gate.AwaitArrival();
    store.Remove(3);
    gate.Open();
    store.Flush();
    EXPECT_EQ(QStringList(), Entries(store.Folder()));
    // Nothing reported for 1 (never written) nor for the write Remove stopped.
    const auto written = reports.Take();
    ASSERT_EQ(2u, written.size());
    EXPECT_EQ(2u, std::get<0>(written[0]));
    EXPECT_EQ(3u, std::get<0>(written[1]));
    // Removed, then saved again: the save wins.
    store.Remove(4);
    store.Save(4, SomeInfo(), Source(SomeCues(1)));
    store.Flush();
    EXPECT_TRUE(RecoveryStore::Read(store.FileFor(4)));
}

TEST(Recovery, RunningInstancesNeverTakeEachOthersBackups) {
    QTemporaryDir dir;
    auto first = std::make_unique<RecoveryStore>(dir.path());
    ASSERT_TRUE(first->Open());
    first->Save(1, SomeInfo(), Source(SomeCues(3)));
    first->Flush();
    // However long it has been running: its lock, an hour old, still holds.
    const timeval hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(0, ::utimes(QFile::encodeName(first->Folder() + ".lock").constData(), hourAgo));
    RecoveryStore second(dir.path());
    ASSERT_TRUE(second.Open());
    EXPECT_NE(first->Folder(), second.Folder());
    EXPECT_TRUE(second.ClaimOrphans().empty());
    EXPECT_TRUE(first->ClaimOrphans().empty());
    EXPECT_TRUE(QFileInfo::exists(first->FileFor(1)));

    // The first quits normally: its queue is written, its backups stay for
    // the next claim, and it leaves no lock.
    first->Save(2, SomeInfo(), Source(SomeCues(5)));
    const QString firstFolder = first->Folder();
    first.reset();
    EXPECT_FALSE(QFileInfo::exists(firstFolder + ".lock"));
    const auto claimed = second.ClaimOrphans();
    ASSERT_EQ(2u, claimed.size());
    EXPECT_EQ(SomeCues(3), Cues(RecoveryStore::Read(claimed[0])));
    EXPECT_EQ(SomeCues(5), Cues(RecoveryStore::Read(claimed[1])));
    EXPECT_FALSE(QFileInfo::exists(firstFolder));
    // Claimed backups are the second's own, apart from its documents' ones.
    second.Save(1, SomeInfo(), Source(SomeCues(1)));
    second.Flush();
    for (const QString& file : claimed) EXPECT_EQ(second.Folder(), QFileInfo(file).absolutePath());
    EXPECT_EQ(3, Entries(second.Folder()).size());
}

TEST(Recovery, AStoreThatQuitsWithNothingLeavesNothing) {
    QTemporaryDir dir;
    {
        RecoveryStore store(dir.path());
        ASSERT_TRUE(store.Open());
        store.Save(1, SomeInfo(), Source(SomeCues(1)));
        store.Remove(1);
    }
    EXPECT_EQ(QStringList(), Entries(dir.path()));
}

// A process that dies without unwinding: its backups are orphans for the
// next instance, and only for one.
TEST(Recovery, ACrashedInstancesBackupsAreClaimedOnce) {
    QTemporaryDir dir;
    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        auto* store = new RecoveryStore(dir.path());  // never destroyed
        if (!store->Open()) ::_exit(1);
        store->Save(7, SomeInfo(QStringLiteral("/x/seven.ass")), Source(SomeCues(7)));
        store->Save(8, SomeInfo(), Source(SomeCues(8)));
        store->Flush();
        // A write the crash cut short.
        QFile torn(store->FileFor(9) + ".tmp");
        if (!torn.open(QIODevice::WriteOnly) || torn.write("LUMEVALR\1") < 0) ::_exit(2);
        torn.close();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    ASSERT_EQ(2, Entries(dir.path()).size());  // the dead one's folder and lock

    std::vector<QString> claimed;
    {
        RecoveryStore next(dir.path());
        RecoveryStore alongside(dir.path());
        ASSERT_TRUE(next.Open());
        ASSERT_TRUE(alongside.Open());
        claimed = next.ClaimOrphans();
        EXPECT_TRUE(alongside.ClaimOrphans().empty());
        ASSERT_EQ(2u, claimed.size());
        const auto seven = RecoveryStore::Read(claimed[0]);
        ASSERT_TRUE(seven);
        EXPECT_EQ(QStringLiteral("/x/seven.ass"), seven->info.path);
        EXPECT_EQ(SomeCues(7), Cues(*seven));
        EXPECT_EQ(SomeCues(8), Cues(RecoveryStore::Read(claimed[1])));
        EXPECT_EQ(QStringList({QFileInfo(claimed[0]).fileName(), QFileInfo(claimed[1]).fileName()}),
                  Entries(next.Folder()));  // the torn one is gone
        // Only these two instances are left in the root.
        EXPECT_EQ(4, Entries(dir.path()).size());
        EXPECT_FALSE(next.Discard(dir.path() + "/elsewhere.backup"));
        EXPECT_TRUE(next.Discard(claimed[0]));
        EXPECT_FALSE(QFileInfo::exists(claimed[0]));
    }
    // Not discarded before quitting: claimed again next time.
    RecoveryStore later(dir.path());
    ASSERT_TRUE(later.Open());
    const auto again = later.ClaimOrphans();
    ASSERT_EQ(1u, again.size());
    EXPECT_EQ(SomeCues(8), Cues(RecoveryStore::Read(again[0])));
    EXPECT_TRUE(later.ClaimOrphans().empty());
}

// Tells a pipe when the worker reaches cue `at`, then holds it there for good.
class StallingSource final : public BackupSource {
  public:
    StallingSource(std::vector<BackupCue> cues, std::size_t at, int fd) : m_cues(std::move(cues)), m_at(at), m_fd(fd) {}
    std::size_t Count() const override { return m_cues.size(); }
    int64_t Start(std::size_t i) const override { return m_cues[i].start; }
    int64_t End(std::size_t i) const override { return m_cues[i].end; }
    std::string_view Text(std::size_t i) const override {
        if (i == m_at) {
            if (::write(m_fd, "x", 1) != 1) ::_exit(3);
            for (;;) ::pause();
        }
        return m_cues[i].text;
    }
    uint32_t Serial(std::size_t i) const override { return m_cues[i].serial; }

  private:
    std::vector<BackupCue> m_cues;
    std::size_t m_at;
    int m_fd;
};

// Another process, alive and then killed in the middle of writing: while it
// runs its backups are not taken; after the kill the backup it had before is
// whole, and its torn write is gone.
TEST(Recovery, KilledMidWriteLeavesTheBackupBefore) {
    QTemporaryDir dir;
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        ::close(ready[0]);
        auto* store = new RecoveryStore(dir.path());
        if (!store->Open()) ::_exit(1);
        store->Save(1, SomeInfo(), Source(SomeCues(3, "before")));
        store->Flush();
        // Stops past its first megabyte, so part of it is on disk.
        store->Save(1, SomeInfo(), std::make_shared<StallingSource>(SomeCues(100000, "after"), 60000, ready[1]));
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    const bool stalled = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (stalled) {
        RecoveryStore other(dir.path());
        ASSERT_TRUE(other.Open());
        EXPECT_TRUE(other.ClaimOrphans().empty());
    }
    ::kill(child, SIGKILL);
    ASSERT_EQ(child, ::waitpid(child, nullptr, 0));
    ASSERT_TRUE(stalled);
    QStringList torn;
    for (const QString& folder : QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        torn += QDir(dir.path() + "/" + folder).entryList({"*.tmp"}, QDir::Files);
    ASSERT_EQ(QStringList{"1.backup.tmp"}, torn);

    RecoveryStore next(dir.path());
    ASSERT_TRUE(next.Open());
    const auto claimed = next.ClaimOrphans();
    ASSERT_EQ(1u, claimed.size());
    EXPECT_EQ(SomeCues(3, "before"), Cues(RecoveryStore::Read(claimed[0])));
    EXPECT_EQ(1, Entries(next.Folder()).size());
    EXPECT_EQ(2, Entries(dir.path()).size());  // next's folder and lock, nothing else
}

TEST(Recovery, OnlyTheUserCanReadBackups) {
    QTemporaryDir dir;
    const mode_t old = ::umask(0);  // the modes must not come from the umask
    const QString root = dir.path() + "/state/lumeval/recovery";
    RecoveryStore store(root);
    const bool opened = store.Open();
    store.Save(1, SomeInfo(), Source(SomeCues(2)));
    store.Flush();
    ::umask(old);
    ASSERT_TRUE(opened);
    EXPECT_EQ(0700u, Mode(dir.path() + "/state"));
    EXPECT_EQ(0700u, Mode(dir.path() + "/state/lumeval"));
    EXPECT_EQ(0700u, Mode(root));
    EXPECT_EQ(0700u, Mode(store.Folder()));
    EXPECT_EQ(0600u, Mode(store.FileFor(1)));
    EXPECT_EQ(0600u, Mode(store.Folder() + ".lock"));

    // An existing root open to others is closed.
    QTemporaryDir other;
    ASSERT_EQ(0, ::chmod(QFile::encodeName(other.path()).constData(), 0755));
    RecoveryStore second(other.path());
    ASSERT_TRUE(second.Open());
    EXPECT_EQ(0700u, Mode(other.path()));
}

TEST(Recovery, AnUnusableRootFailsOpenAndSavesFailQuietly) {
    QTemporaryDir dir;
    Put(dir.path() + "/file", "x");
    ASSERT_EQ(0, ::mkdir(QFile::encodeName(dir.path() + "/readonly").constData(), 0500));
    // Permissions do not stop root; procfs refuses new files even to root.
    const QString readOnly = ::geteuid() == 0 ? QStringLiteral("/proc/self") : dir.path() + "/readonly";
    for (const QString& root : {dir.path() + "/file/recovery", dir.path() + "/file", readOnly,
                                readOnly + "/lumeval/recovery"}) {
        SCOPED_TRACE(root.toStdString());
        RecoveryStore store(root);
        Reports reports(store);
        QString error;
        EXPECT_FALSE(store.Open(&error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(store.IsOpen());
        store.Save(1, SomeInfo(), Source(SomeCues(2)));
        store.Remove(2);
        store.Flush();
        const auto written = reports.Take();
        ASSERT_EQ(1u, written.size());
        EXPECT_FALSE(std::get<1>(written[0]));
        EXPECT_FALSE(std::get<2>(written[0]).isEmpty());
        EXPECT_TRUE(store.ClaimOrphans().empty());
        EXPECT_FALSE(store.Discard(root + "/x.backup"));
    }
    if (::geteuid() == 0) {  // a root that another user owns
        QTemporaryDir theirs;
        ASSERT_EQ(0, ::chown(QFile::encodeName(theirs.path()).constData(), 65534, 65534));
        RecoveryStore store(theirs.path());
        QString error;
        EXPECT_FALSE(store.Open(&error));
        EXPECT_TRUE(error.contains("another user")) << error.toStdString();
    }
}

// A valid backup made by the store, to be spoiled.
std::string GoodBackup() {
    QTemporaryDir dir;
    RecoveryStore store(dir.path());
    if (!store.Open()) return {};
    store.Save(1, SomeInfo(), Source({{0, kNoEnd, "", 1}, {5, 6, "文字", 2}}));
    store.Flush();
    return Bytes(store.FileFor(1));
}

// Replaces the trailer's checksum so that a hand-made body passes it.
std::string Seal(std::string body) {
    char sum[8];
    qToLittleEndian<quint64>(BackupChecksum(body), sum);
    return body + std::string(sum, 8) + "LVREND\r\n";
}

std::string Le32(uint32_t v) {
    char b[4];
    qToLittleEndian(v, b);
    return std::string(b, 4);
}

std::string Le64(uint64_t v) {
    char b[8];
    qToLittleEndian(v, b);
    return std::string(b, 8);
}

TEST(Recovery, DamagedFilesReadAsNothing) {
    const std::string good = GoodBackup();
    ASSERT_GT(good.size(), 60u);
    const std::string body = good.substr(0, good.size() - 16);
    const std::string header = std::string("LUMEVALR") + Le32(1);
    // Path "", format "", extra "", encoding, code page, changed.
    const std::string info = Le32(0) + Le32(0) + Le32(0) + Le32(1) + Le32(0) + std::string(1, '\1');
    const std::string cue = Le64(0) + Le64(1) + Le32(1);

    std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"wrong magic", "X" + good.substr(1)},
        {"newer version", Seal(std::string("LUMEVALR") + Le32(2) + body.substr(12))},
        {"trailer missing", body},
        {"bytes appended", good + "x"},
        {"absurd cue count", Seal(header + info + Le64(uint64_t{1} << 60))},
        {"one cue more than there is", Seal(header + info + Le64(2) + cue + Le32(3) + "abc")},
        {"absurd path length", Seal(header + Le32(0xFFFFFFFFu) + info.substr(4) + Le64(0))},
        {"absurd text length", Seal(header + info + Le64(1) + cue + Le32(0xFFFFFFF0u) + "abc")},
        {"a cue cut in its head", Seal(header + info + Le64(1) + cue.substr(0, 10))},
        {"changed flag not 0 or 1", Seal(header + info.substr(0, info.size() - 1) + "\2" + Le64(0))},
        {"bytes after the last cue", Seal(header + info + Le64(0) + "junk")},
    };
    // Every shorter length, and one bit flipped at every byte.
    for (std::size_t n = 1; n < good.size(); ++n) cases.emplace_back("cut to " + std::to_string(n), good.substr(0, n));
    for (std::size_t i = 0; i < good.size(); ++i) {
        std::string flipped = good;
        flipped[i] = char(flipped[i] ^ (1 << (i % 8)));
        cases.emplace_back("bit flipped at " + std::to_string(i), flipped);
    }
    std::mt19937 rng(20261210);
    for (int i = 0; i < 200; ++i) {
        std::string noise(rng() % 300, '\0');
        for (char& c : noise) c = char(rng());
        if (i % 2) noise.replace(0, std::min<std::size_t>(12, noise.size()), header.substr(0, std::min<std::size_t>(12, noise.size())));
        cases.emplace_back("random " + std::to_string(i), i % 4 == 1 ? Seal(noise) : noise);
    }

    QTemporaryDir dir;
    const QString file = dir.path() + "/f.backup";
    Put(file, good);
    ASSERT_TRUE(RecoveryStore::Read(file));
    Put(file, Seal(header + info + Le64(1) + cue + Le32(3) + "abc"));
    ASSERT_TRUE(RecoveryStore::Read(file)) << "the hand-made layout is a valid backup";
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        Put(file, bytes);
        QString error;
        EXPECT_FALSE(RecoveryStore::Read(file, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    // Not files at all: missing, a folder, a FIFO (must not block).
    ASSERT_EQ(0, ::mkfifo(QFile::encodeName(dir.path() + "/fifo").constData(), 0600));
    for (const char* name : {"/missing", "/", "/fifo"}) {
        SCOPED_TRACE(name);
        QString error;
        EXPECT_FALSE(RecoveryStore::Read(dir.path() + name, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(Recovery, DefaultRootFollowsTheStateHome) {
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    const bool hadState = qEnvironmentVariableIsSet("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/tmp/state");
    EXPECT_EQ(QStringLiteral("/tmp/state/lumeval/recovery"), RecoveryStore::DefaultRoot());
    qputenv("XDG_STATE_HOME", "relative/state");  // not absolute: ignored
    EXPECT_EQ(QDir::homePath() + "/.local/state/lumeval/recovery", RecoveryStore::DefaultRoot());
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(QDir::homePath() + "/.local/state/lumeval/recovery", RecoveryStore::DefaultRoot());
    if (hadState) qputenv("XDG_STATE_HOME", savedState);
}

}  // namespace
}  // namespace lumeval::doc
