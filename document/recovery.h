// RecoveryStore: crash backups of the open documents, so that a crash or a
// kill loses at most the last few seconds of work.
//
// Layout under the root (`$XDG_STATE_HOME/lumeval/recovery`, else
// `~/.local/state/lumeval/recovery`), every folder 0700, every file 0600:
//
//   <pid>-<random>.lock    the QLockFile of a running instance
//   <pid>-<random>/        that instance's backups:
//       <id>.backup        the newest backup of its document `id`
//       orphan-<n>.backup  a backup it claimed from an instance that died
//
// The lock sits beside its folder, not inside it, and an instance takes it
// before it makes the folder: a folder is never seen without its owner's
// lock, so one being made cannot be taken for an orphan.
//
// Claiming: a folder is an orphan when its lock can be taken (the lock is
// gone, or stale because its process is gone; a running instance holds an
// OS lock on it, so a live one is never taken, whatever its age). The
// claiming instance takes that lock, moves each backup into its own folder
// by rename (atomic: a file moved by one instance cannot be moved by
// another), deletes the half-written temporary files, removes the folder
// and drops the lock. Claimed backups are then this instance's files: if it
// dies before discarding them, the next start claims them again, so a crash
// during a restore loses nothing. Discard them once the restored document
// is saved or has its own backup written (Written with ok).
//
// A store that goes away normally (destructor) writes what is queued,
// keeps its backups and drops its lock, so they are orphans for the next
// start; an empty folder is removed.
//
// Use at start: Open; ClaimOrphans; Read each (one that reads as nullopt
// is damaged: Discard it); if there are any, ask. Yes: load each into a
// document (path, format, encoding from its info) and Discard it once that
// document is saved or its own backup is written. No: Discard them all.
//
// Threads: every method is for the thread that owns the store (the window
// thread). Save and Remove only queue; one worker thread writes, so the
// caller never waits on the disk. Open, ClaimOrphans and Discard touch the
// disk directly (a few small calls, at start and after the user's answer).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

class QLockFile;

namespace lumeval::doc {

/// What a backup holds besides the cues; `extra` is the app's own (opaque
/// to the store).
struct BackupInfo {
    QString path;
    std::string format;
    int32_t encoding = 0;
    int32_t codePage = 0;
    bool changed = true;
    QByteArray extra;
    friend bool operator==(const BackupInfo&, const BackupInfo&) = default;
};

/// The cues a backup is written from. Read on the worker thread, so an
/// implementation must be an immutable snapshot.
class BackupSource {
  public:
    virtual ~BackupSource() = default;
    virtual std::size_t Count() const = 0;
    virtual int64_t Start(std::size_t i) const = 0;
    virtual int64_t End(std::size_t i) const = 0;  // kNoEnd: absent
    virtual std::string_view Text(std::size_t i) const = 0;
    virtual uint32_t Serial(std::size_t i) const = 0;
};

/// A cue as plain values.
struct BackupCue {
    int64_t start = 0;
    int64_t end = 0;
    std::string text;
    uint32_t serial = 0;
    friend bool operator==(const BackupCue&, const BackupCue&) = default;
};

/// A backup read back. It keeps the file's bytes as one block and reads
/// its cues in place, so reading a million cues allocates twice, not a
/// million times; its texts are views valid while it lives. A
/// BackupSource, so it can be saved again as it is. Move-only.
class Backup final : public BackupSource {
  public:
    BackupInfo info;

    std::size_t Count() const override { return m_count; }
    int64_t Start(std::size_t i) const override;
    int64_t End(std::size_t i) const override;
    std::string_view Text(std::size_t i) const override;
    uint32_t Serial(std::size_t i) const override;
    BackupCue Cue(std::size_t i) const { return {Start(i), End(i), std::string(Text(i)), Serial(i)}; }

  private:
    friend class RecoveryStore;
    // Memory straight from the system, in huge pages where it can: first
    // touches of tens of thousands of small pages cost more than reading
    // the file.
    class Block {
      public:
        Block() = default;
        Block(Block&& other) noexcept : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
        Block& operator=(Block&& other) noexcept;
        ~Block();
        bool Allocate(std::size_t size);
        char* Data() const { return static_cast<char*>(m_data); }

      private:
        void* m_data = nullptr;
        std::size_t m_size = 0;
    };
    const char* Head(std::size_t i) const;

    Block m_bytes;  // the file
    Block m_index;  // where each cue starts in it, 8 bytes a cue
    std::size_t m_count = 0;
};

/// A snapshot held as plain cues.
class CueVectorSource final : public BackupSource {
  public:
    explicit CueVectorSource(std::vector<BackupCue> cues) : m_cues(std::move(cues)) {}
    std::size_t Count() const override { return m_cues.size(); }
    int64_t Start(std::size_t i) const override { return m_cues[i].start; }
    int64_t End(std::size_t i) const override { return m_cues[i].end; }
    std::string_view Text(std::size_t i) const override { return m_cues[i].text; }
    uint32_t Serial(std::size_t i) const override { return m_cues[i].serial; }

  private:
    std::vector<BackupCue> m_cues;
};

/// The checksum a backup's trailer holds over every byte before it (for
/// tests that make files by hand).
uint64_t BackupChecksum(std::string_view bytes);

class RecoveryStore : public QObject {
    Q_OBJECT

  public:
    explicit RecoveryStore(QString root = DefaultRoot());
    /// Writes what is queued, waits for the worker; leaves backups in place.
    ~RecoveryStore() override;

    static QString DefaultRoot();

    /// Makes the root if needed and this instance's own folder under it,
    /// behind its lock. False with a reason when either cannot be made (or
    /// the root belongs to another user). Once open, stays open.
    bool Open(QString* error = nullptr);
    bool IsOpen() const { return !m_folder.isEmpty(); }
    /// This instance's folder; empty before Open.
    const QString& Folder() const { return m_folder; }
    const QString& Root() const { return m_root; }

    /// Backups left by instances that are not running, moved into this
    /// instance's folder (see the top of this file), in the order claimed.
    std::vector<QString> ClaimOrphans();

    /// Reads a backup; nullopt with a reason for anything that is not a
    /// whole, intact backup. Never crashes, whatever the bytes.
    static std::optional<Backup> Read(const QString& file, QString* error = nullptr);

    /// Deletes a backup in this instance's folder (a claimed one); false
    /// for a file elsewhere or one that could not be deleted.
    bool Discard(const QString& file);

    /// Queues a backup of document `id`; a queued one not yet written is
    /// replaced. Written on the worker thread: a temporary file in the same
    /// folder, fsync, rename, mode 0600. Reported by Written.
    void Save(quint64 id, BackupInfo info, std::shared_ptr<const BackupSource> cues);
    /// After a save or a close unchanged: the backup of `id` goes. Cancels
    /// a queued one, and stops one being written.
    void Remove(quint64 id);
    /// Waits until everything queued is written or removed.
    void Flush();

    /// The file that holds (or will hold) the backup of `id`; empty before Open.
    QString FileFor(quint64 id) const;

  signals:
    /// After each backup written (or failed); emitted from the worker
    /// thread, so connect it queued. Not emitted for one that Remove stopped.
    void Written(quint64 id, bool ok, QString error);

  private:
    struct Job {
        bool remove = false;
        BackupInfo info;
        std::shared_ptr<const BackupSource> cues;
    };
    void Run();
    bool Write(const std::string& folder, quint64 id, const Job& job, QString* error);

    QString m_root;
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    uint64_t m_claimed = 0;  // numbers the claimed backups

    std::mutex m_mutex;
    std::condition_variable m_wake;  // work arrived, or stopping
    std::condition_variable m_idle;  // the queue ran empty
    std::deque<quint64> m_order;
    std::unordered_map<quint64, Job> m_pending;
    std::string m_folderBytes;  // the folder for the worker, under m_mutex
    bool m_busy = false;
    quint64 m_current = 0;
    bool m_stop = false;
    std::atomic<bool> m_cancel{false};
    std::thread m_worker;
};

}  // namespace lumeval::doc
