#include "document/recovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumeval::doc {
namespace {

// File layout, little-endian throughout:
//   magic "LUMEVALR", u32 version
//   path, format, extra: each u32 length + bytes; i32 encoding, i32 code page, u8 changed
//   u64 count, then per cue: i64 start, i64 end, u32 serial, u32 length, text bytes
//   trailer: u64 hash of every byte before it, end magic "LVREND\r\n"
// The hash catches a file that was cut or damaged after its rename; the
// rename itself means a reader never sees one half written.
constexpr char kMagic[8] = {'L', 'U', 'M', 'E', 'V', 'A', 'L', 'R'};
constexpr char kEndMagic[8] = {'L', 'V', 'R', 'E', 'N', 'D', '\r', '\n'};
constexpr uint32_t kVersion = 1;
constexpr std::size_t kCueHead = 24;
constexpr std::size_t kTrailer = 16;
constexpr std::size_t kSmallest = 8 + 4 + 3 * 4 + 4 + 4 + 1 + 8 + kTrailer;
// Far past any document (a million cues take about 80 MB); a bigger file is
// not one of ours, and reading it whole would only exhaust memory.
constexpr uint64_t kLargestFile = uint64_t{4} << 30;
constexpr std::size_t kChunk = std::size_t{1} << 20;
const char* const kSuffix = ".backup";

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// 64-bit words mixed into four lanes in turn (four lanes keep the
// multiplier busy: several GB/s), by steps that are one-to-one in both the
// lane and the word, so two inputs of one length that differ in one word
// always give different digests.
class Hasher {
  public:
    void Update(const char* p, std::size_t n) {
        m_total += n;
        if (m_tailLength) {
            const std::size_t take = std::min(n, kBlock - m_tailLength);
            std::memcpy(m_tail + m_tailLength, p, take);
            m_tailLength += take;
            p += take;
            n -= take;
            if (m_tailLength < kBlock) return;
            Block(m_tail);
            m_tailLength = 0;
        }
        for (; n >= kBlock; p += kBlock, n -= kBlock) Block(p);
        std::memcpy(m_tail, p, n);
        m_tailLength = n;
    }
    uint64_t Digest() const {
        uint64_t lanes[4] = {m_lanes[0], m_lanes[1], m_lanes[2], m_lanes[3]};
        for (std::size_t at = 0; at < m_tailLength; at += 8) {
            char word[8] = {};
            std::memcpy(word, m_tail + at, std::min<std::size_t>(8, m_tailLength - at));
            lanes[at / 8] = Mix(lanes[at / 8], qFromLittleEndian<quint64>(word));
        }
        uint64_t h = Mix(lanes[0], m_total);
        for (int i = 1; i < 4; ++i) h = Mix(h, lanes[i]);
        return h ^ (h >> 29);
    }

  private:
    static constexpr std::size_t kBlock = 32;
    static uint64_t Mix(uint64_t h, uint64_t w) {
        h ^= w * 0xff51afd7ed558ccdULL;
        h = (h << 29) | (h >> 35);
        return h * 0x9e3779b97f4a7c15ULL;
    }
    void Block(const char* p) {
        for (int i = 0; i < 4; ++i) m_lanes[i] = Mix(m_lanes[i], qFromLittleEndian<quint64>(p + 8 * i));
    }

    uint64_t m_lanes[4] = {0x243f6a8885a308d3ULL, 0x13198a2e03707344ULL, 0xa4093822299f31d0ULL, 0x082efa98ec4e6c89ULL};
    uint64_t m_total = 0;
    char m_tail[kBlock] = {};
    std::size_t m_tailLength = 0;
};

// Buffered writing to a file descriptor, hashing what it writes; gives up
// at the first error or when `cancel` is raised.
class Output {
  public:
    Output(int fd, const std::atomic<bool>& cancel) : m_fd(fd), m_cancel(cancel) { m_buffer.reserve(kChunk); }
    bool Failed() const { return m_failed; }
    const QString& Error() const { return m_error; }
    bool Cancelled() const { return m_cancelled; }

    void Put(const void* data, std::size_t n) {
        if (m_failed) return;
        const char* p = static_cast<const char*>(data);
        if (m_buffer.size() + n > kChunk) {
            Drain();
            if (n >= kChunk) {
                m_hash.Update(p, n);
                Raw(p, n);
                return;
            }
        }
        m_buffer.insert(m_buffer.end(), p, p + n);
    }
    template <typename T>
    void Number(T v) {
        char bytes[sizeof(T)];
        qToLittleEndian(v, bytes);
        Put(bytes, sizeof bytes);
    }
    void Field(const char* p, std::size_t n) {
        Number(static_cast<uint32_t>(n));
        Put(p, n);
    }
    /// Everything out, then the trailer (not part of the hash).
    void Finish() {
        Drain();
        char trailer[kTrailer];
        qToLittleEndian(m_hash.Digest(), trailer);
        std::memcpy(trailer + 8, kEndMagic, 8);
        Raw(trailer, kTrailer);
    }
    void Fail(QString why) {
        if (!m_failed) m_error = std::move(why);
        m_failed = true;
    }

  private:
    void Drain() {
        if (m_failed || m_buffer.empty()) return;
        m_hash.Update(m_buffer.data(), m_buffer.size());
        Raw(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }
    void Raw(const char* p, std::size_t n) {
        if (m_cancel.load(std::memory_order_relaxed)) {
            m_cancelled = true;
            Fail(QStringLiteral("removed while written"));
        }
        while (n && !m_failed) {
            const ssize_t done = ::write(m_fd, p, n);
            if (done < 0) {
                if (errno == EINTR) continue;
                Fail(ErrnoText(errno));
            } else {
                p += done;
                n -= static_cast<std::size_t>(done);
            }
        }
    }

    int m_fd;
    const std::atomic<bool>& m_cancel;
    std::vector<char> m_buffer;
    Hasher m_hash;
    bool m_failed = false;
    bool m_cancelled = false;
    QString m_error;
};

// Bounds-checked reading of a loaded file: every length is checked against
// what is left before anything is taken or allocated.
class Input {
  public:
    Input(const char* p, std::size_t n) : m_p(p), m_left(n) {}
    std::size_t Left() const { return m_left; }
    template <typename T>
    bool Number(T* v) {
        if (m_left < sizeof(T)) return false;
        *v = qFromLittleEndian<T>(m_p);
        Skip(sizeof(T));
        return true;
    }
    bool Bytes(std::size_t n, std::string_view* out) {
        if (n > m_left) return false;
        *out = std::string_view(m_p, n);
        Skip(n);
        return true;
    }
    bool Field(std::string_view* out) {
        uint32_t n = 0;
        return Number(&n) && Bytes(n, out);
    }

  private:
    void Skip(std::size_t n) {
        m_p += n;
        m_left -= n;
    }
    const char* m_p;
    std::size_t m_left;
};

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

// mkdir -p, each folder it makes 0700 (before the umask; fixed after).
bool MakeFolders(const QByteArray& path, int* error) {
    struct stat st {};
    if (::stat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        *error = ENOTDIR;
        return false;
    }
    if (errno != ENOENT) {
        *error = errno;
        return false;
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !MakeFolders(path.left(slash), error)) return false;
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *error = errno;
        return false;
    }
    ::chmod(path.constData(), 0700);
    return true;
}

void SyncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool Fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

uint64_t BackupChecksum(std::string_view bytes) {
    Hasher hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Digest();
}

RecoveryStore::RecoveryStore(QString root)
    : m_root(QDir::cleanPath(QDir::current().absoluteFilePath(root))), m_worker([this] { Run(); }) {}

RecoveryStore::~RecoveryStore() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
    if (m_lock) {
        ::rmdir(Native(m_folder).constData());  // only when empty: backups stay for the next start
        m_lock->unlock();
    }
}

QString RecoveryStore::DefaultRoot() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative value is invalid and is ignored, as the XDG rules say.
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/lumeval/recovery"));
}

bool RecoveryStore::Open(QString* error) {
    if (IsOpen()) return true;
    const QByteArray root = Native(m_root);
    int code = 0;
    if (!MakeFolders(root, &code))
        return Fail(error, QStringLiteral("cannot make the folder %1: %2").arg(m_root, ErrnoText(code)));
    struct stat st {};
    if (::stat(root.constData(), &st) != 0)
        return Fail(error, QStringLiteral("cannot read %1: %2").arg(m_root, ErrnoText(errno)));
    if (st.st_uid != ::geteuid())
        return Fail(error, QStringLiteral("%1 belongs to another user").arg(m_root));
    // Only the user may list whose documents are backed up; best effort, the
    // instance folders are closed in any case.
    if (st.st_mode & 077) ::chmod(root.constData(), st.st_mode & 0700);

    const QString name = QStringLiteral("%1-%2")
                             .arg(::getpid())
                             .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    const QString folder = m_root + QLatin1Char('/') + name;
    auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
    if (!lock->tryLock(0)) {
        return Fail(error, QStringLiteral("cannot lock in %1: %2")
                               .arg(m_root, lock->error() == QLockFile::PermissionError
                                                ? QStringLiteral("permission denied")
                                                : QStringLiteral("lock failed")));
    }
    ::chmod(Native(folder + QStringLiteral(".lock")).constData(), 0600);
    const QByteArray nativeFolder = Native(folder);
    if (::mkdir(nativeFolder.constData(), 0700) != 0) {
        const int e = errno;
        lock->unlock();
        return Fail(error, QStringLiteral("cannot make the folder %1: %2").arg(folder, ErrnoText(e)));
    }
    ::chmod(nativeFolder.constData(), 0700);
    m_lock = std::move(lock);
    m_folder = folder;
    std::lock_guard guard(m_mutex);
    m_folderBytes = nativeFolder.toStdString();
    return true;
}

std::vector<QString> RecoveryStore::ClaimOrphans() {
    std::vector<QString> claimed;
    if (!IsOpen()) return claimed;
    const QString own = QFileInfo(m_folder).fileName();
    const QDir root(m_root);
    const auto filters = QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System | QDir::NoSymLinks;
    for (const QFileInfo& entry : root.entryInfoList(filters, QDir::Name)) {
        const QString name = entry.fileName();
        if (name == own || name == own + QStringLiteral(".lock")) continue;
        if (entry.isFile()) {
            // A lock whose instance never made its folder, or left it between
            // our listing and now: drop it if its owner is gone.
            if (!name.endsWith(QStringLiteral(".lock")) || root.exists(name.chopped(5))) continue;
            QLockFile lock(entry.filePath());
            if (lock.tryLock(0)) lock.unlock();
            continue;
        }
        QLockFile lock(entry.filePath() + QStringLiteral(".lock"));
        if (!lock.tryLock(0)) continue;  // its instance is running
        const QDir orphan(entry.filePath());
        for (const QFileInfo& file : orphan.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                                                          QDir::Name)) {
            const QByteArray from = Native(file.filePath());
            if (file.fileName().endsWith(QLatin1String(kSuffix))) {
                const QString to = QStringLiteral("%1/orphan-%2%3").arg(m_folder).arg(++m_claimed).arg(QLatin1String(kSuffix));
                if (::rename(from.constData(), Native(to).constData()) == 0) claimed.push_back(to);
            } else if (file.fileName().endsWith(QStringLiteral(".tmp"))) {
                ::unlink(from.constData());  // cut short by the crash
            }
        }
        ::rmdir(Native(entry.filePath()).constData());
        lock.unlock();
    }
    if (!claimed.empty()) SyncFolder(Native(m_folder));
    return claimed;
}

bool RecoveryStore::Discard(const QString& file) {
    if (!IsOpen()) return false;
    const QFileInfo info(file);
    if (QDir::cleanPath(info.absolutePath()) != m_folder || !info.fileName().endsWith(QLatin1String(kSuffix)))
        return false;
    return ::unlink(Native(info.absoluteFilePath()).constData()) == 0;
}

QString RecoveryStore::FileFor(quint64 id) const {
    if (!IsOpen()) return {};
    return QStringLiteral("%1/%2%3").arg(m_folder).arg(id).arg(QLatin1String(kSuffix));
}

void RecoveryStore::Save(quint64 id, BackupInfo info, std::shared_ptr<const BackupSource> cues) {
    Job replaced;  // its snapshot may be the last reference: freed outside the lock
    {
        std::lock_guard lock(m_mutex);
        auto [it, added] = m_pending.try_emplace(id);
        if (added) m_order.push_back(id);
        std::swap(it->second, replaced);
        it->second = Job{false, std::move(info), std::move(cues)};
    }
    m_wake.notify_one();
}

void RecoveryStore::Remove(quint64 id) {
    std::shared_ptr<const BackupSource> dropped;  // freed outside the lock
    {
        std::lock_guard lock(m_mutex);
        auto [it, added] = m_pending.try_emplace(id);
        if (added) m_order.push_back(id);
        dropped = std::move(it->second.cues);
        it->second = Job{true, {}, {}};
        if (m_busy && m_current == id) m_cancel = true;
    }
    m_wake.notify_one();
}

void RecoveryStore::Flush() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_order.empty() && !m_busy; });
}

void RecoveryStore::Run() {
    // A batch thread: waking it must not take the processor from the thread
    // that queued the work (the window's), which it would on a busy machine.
    const sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_order.empty(); });
        if (m_order.empty()) break;  // stopping, and everything is written
        const quint64 id = m_order.front();
        m_order.pop_front();
        auto node = m_pending.extract(id);
        Job job = std::move(node.mapped());
        m_busy = true;
        m_current = id;
        m_cancel = false;
        const std::string folder = m_folderBytes;
        lock.unlock();

        if (job.remove) {
            if (!folder.empty()) ::unlink((folder + '/' + std::to_string(id) + kSuffix).c_str());
        } else {
            QString error;
            const bool ok = Write(folder, id, job, &error);
            job.cues.reset();
            if (!m_cancel) emit Written(id, ok, error);
        }

        lock.lock();
        m_busy = false;
        if (m_order.empty()) m_idle.notify_all();
    }
    m_busy = false;
    m_idle.notify_all();
}

bool RecoveryStore::Write(const std::string& folder, quint64 id, const Job& job, QString* error) {
    if (folder.empty()) return Fail(error, QStringLiteral("the recovery store is not open"));
    const std::string target = folder + '/' + std::to_string(id) + kSuffix;
    const std::string temporary = target + ".tmp";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Fail(error, QStringLiteral("cannot create %1: %2")
                               .arg(QFile::decodeName(temporary.c_str()), ErrnoText(errno)));
    }
    ::fchmod(fd, 0600);  // whatever the umask

    Output out(fd, m_cancel);
    out.Put(kMagic, sizeof kMagic);
    out.Number<uint32_t>(kVersion);
    const QByteArray path = job.info.path.toUtf8();
    out.Field(path.constData(), static_cast<std::size_t>(path.size()));
    out.Field(job.info.format.data(), job.info.format.size());
    out.Field(job.info.extra.constData(), static_cast<std::size_t>(job.info.extra.size()));
    out.Number<int32_t>(job.info.encoding);
    out.Number<int32_t>(job.info.codePage);
    out.Number<uint8_t>(job.info.changed ? 1 : 0);
    const BackupSource* cues = job.cues.get();
    const std::size_t count = cues ? cues->Count() : 0;
    out.Number<uint64_t>(count);
    for (std::size_t i = 0; i < count && !out.Failed(); ++i) {
        const std::string_view text = cues->Text(i);
        if (text.size() > UINT32_MAX) {
            out.Fail(QStringLiteral("the text of cue %1 is too long").arg(i + 1));
            break;
        }
        char head[kCueHead];
        qToLittleEndian<qint64>(cues->Start(i), head);
        qToLittleEndian<qint64>(cues->End(i), head + 8);
        qToLittleEndian<quint32>(cues->Serial(i), head + 16);
        qToLittleEndian<quint32>(static_cast<uint32_t>(text.size()), head + 20);
        out.Put(head, kCueHead);
        out.Put(text.data(), text.size());
    }
    out.Finish();
    bool ok = !out.Failed();
    QString why = out.Error();
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        why = ErrnoText(errno);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = ErrnoText(errno);
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        why = ErrnoText(errno);
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return Fail(error, QStringLiteral("cannot write %1: %2").arg(QFile::decodeName(target.c_str()), why));
    }
    SyncFolder(QByteArray::fromStdString(folder));
    return true;
}

Backup::Block& Backup::Block::operator=(Block&& other) noexcept {
    if (this != &other) {
        this->~Block();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

Backup::Block::~Block() {
    if (m_data) ::munmap(m_data, m_size);
}

bool Backup::Block::Allocate(std::size_t size) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    const std::size_t rounded = (std::max<std::size_t>(size, 1) + kHuge - 1) & ~(kHuge - 1);
    void* data = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) return false;
    ::madvise(data, rounded, MADV_HUGEPAGE);  // a hint: fine if refused
    *this = Block();
    m_data = data;
    m_size = rounded;
    return true;
}

const char* Backup::Head(std::size_t i) const {
    return m_bytes.Data() + qFromLittleEndian<quint64>(m_index.Data() + 8 * i);
}
int64_t Backup::Start(std::size_t i) const { return qFromLittleEndian<qint64>(Head(i)); }
int64_t Backup::End(std::size_t i) const { return qFromLittleEndian<qint64>(Head(i) + 8); }
uint32_t Backup::Serial(std::size_t i) const { return qFromLittleEndian<quint32>(Head(i) + 16); }
std::string_view Backup::Text(std::size_t i) const {
    const char* head = Head(i);
    return {head + kCueHead, qFromLittleEndian<quint32>(head + 20)};
}

std::optional<Backup> RecoveryStore::Read(const QString& file, QString* error) {
    auto fail = [error](const QString& why) -> std::optional<Backup> {
        if (error) *error = why;
        return std::nullopt;
    };
    // Non-blocking: a FIFO put in place of a backup must not hang the start.
    const int fd = ::open(Native(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return fail(QStringLiteral("cannot open %1: %2").arg(file, ErrnoText(errno)));
    Backup backup;
    std::size_t size = 0;
    {
        struct stat st {};
        const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (!regular || static_cast<uint64_t>(st.st_size) > kLargestFile) {
            ::close(fd);
            return fail(regular ? QStringLiteral("too large for a backup") : QStringLiteral("not a regular file"));
        }
        // Read, not mapped: a mapping of a file that someone cuts meanwhile
        // would crash the reader.
        size = static_cast<std::size_t>(st.st_size);
        if (!backup.m_bytes.Allocate(size)) {
            ::close(fd);
            return fail(QStringLiteral("not enough memory to read %1").arg(file));
        }
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::read(fd, backup.m_bytes.Data() + got, size - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        ::close(fd);
        if (got != size) return fail(QStringLiteral("cannot read %1 whole").arg(file));
    }

    const char* data = backup.m_bytes.Data();
    if (size < kSmallest) return fail(QStringLiteral("too short for a backup"));
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return fail(QStringLiteral("not a backup"));
    const uint32_t version = qFromLittleEndian<quint32>(data + 8);
    if (version != kVersion) return fail(QStringLiteral("backup version %1 is not known").arg(version));
    const std::size_t body = size - kTrailer;
    if (std::memcmp(data + body + 8, kEndMagic, 8) != 0) return fail(QStringLiteral("cut short"));
    if (BackupChecksum(std::string_view(data, body)) != qFromLittleEndian<quint64>(data + body))
        return fail(QStringLiteral("damaged"));

    // The checksum matched, but the bytes are still checked as if it had
    // not: a file made to match must not get past a length.
    Input in(data + 12, body - 12);
    std::string_view path, format, extra;
    uint8_t changed = 0;
    uint64_t count = 0;
    if (!in.Field(&path) || !in.Field(&format) || !in.Field(&extra) || !in.Number(&backup.info.encoding) ||
        !in.Number(&backup.info.codePage) || !in.Number(&changed) || !in.Number(&count))
        return fail(QStringLiteral("its header is damaged"));
    if (changed > 1) return fail(QStringLiteral("its header is damaged"));
    if (count > in.Left() / kCueHead) return fail(QStringLiteral("more cues than bytes"));
    backup.info.path = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    backup.info.format = std::string(format);
    backup.info.extra = QByteArray(extra.data(), static_cast<qsizetype>(extra.size()));
    backup.info.changed = changed != 0;
    if (!backup.m_index.Allocate(count * 8)) return fail(QStringLiteral("not enough memory to read %1").arg(file));
    for (std::size_t i = 0; i < count; ++i) {
        qToLittleEndian<quint64>(body - in.Left(), backup.m_index.Data() + 8 * i);
        std::string_view head, text;
        if (!in.Bytes(kCueHead - 4, &head) || !in.Field(&text)) return fail(QStringLiteral("a cue is damaged"));
    }
    backup.m_count = count;
    if (in.Left() != 0) return fail(QStringLiteral("bytes past the last cue"));
    return backup;
}

}  // namespace lumeval::doc
