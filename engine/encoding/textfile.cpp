// Whole-file text loading and saving with byte-order marks.
#include "engine/encoding/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/encoding/codepage.h"
#include "engine/encoding/detect.h"

namespace lumeval {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kUtf8CodePage = 65001;

// Sizes that do not fit in 31 bits are refused, as the classic loader did.
constexpr std::uint64_t kMaxLoadSize = 0x7FFFFFFFULL;

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool IsValidCode(int32_t fmt) {
    return fmt >= kEncodingAnsi && fmt <= kEncodingUtf32BE;
}

// A name with an embedded NUL would silently open a different file.
bool UsableName(const std::string& name) {
    return !name.empty() && name.find('\0') == std::string::npos;
}

// Opens an existing regular file for reading. FIFOs and devices are refused:
// opening a FIFO blocks and a device may never end.
FilePtr OpenForReading(const std::string& name, std::uint64_t& size) {
    if (!UsableName(name)) return nullptr;
    std::error_code ec;
    const fs::file_status st = fs::status(name, ec);
    if (ec || !fs::is_regular_file(st)) return nullptr;
    FilePtr f(std::fopen(name.c_str(), "rb"));
    if (!f) return nullptr;
    size = fs::file_size(name, ec);
    if (ec) return nullptr;
    return f;
}

// Reads up to `n` bytes; a file that shrank meanwhile gives what it has.
bool ReadBytes(std::FILE* f, std::size_t n, std::string& out) {
    // Read a piece at a time and appended: resize would first fill the whole
    // string with zeros, one more pass over a large file's worth of memory.
    out.clear();
    out.reserve(n);
    constexpr std::size_t kPiece = std::size_t{1} << 18;
    const std::unique_ptr<char[]> piece(new char[std::min(n, kPiece) + 1]);
    while (out.size() < n) {
        const std::size_t r = std::fread(piece.get(), 1, std::min(n - out.size(), kPiece), f);
        if (r == 0) break;
        out.append(piece.get(), r);
    }
    return !std::ferror(f);
}

ByteOrderMark ReadMark(std::FILE* f) {
    unsigned char first4[4] = {0, 0, 0, 0};
    const std::size_t got = std::fread(first4, 1, 4, f);
    (void)got;  // a shorter file leaves the rest zero
    return DetectByteOrderMark(first4);
}

// ---- decoders of the Unicode forms ----


// UTF-16: a little-endian odd final byte is a last unit with a zero high
// byte; a big-endian one is dropped (only complete pairs are swapped).
std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t units = bytes.size() / 2;
    const bool oddTail = !bigEndian && (bytes.size() % 2) != 0;
    const int hi = bigEndian ? 0 : 1;  // index of the high byte within a pair
    std::string out;
    out.resize(units * 3 + (oddTail ? 3 : 0));  // a unit never needs more than three bytes
    char* p = out.data();
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned char* q = b + 2 * i;
        const char16_t u = char16_t((q[hi] << 8) | q[1 - hi]);
        if (u < 0x80) {
            *p++ = char(u);
        } else if (u < 0xD800 || u > 0xDFFF) {
            p = PutUtf8(p, u);
        } else if (u <= 0xDBFF && i + 1 < units) {
            const char16_t low = char16_t((q[2 + hi] << 8) | q[3 - hi]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                p = PutUtf8(p, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                ++i;
            } else {
                p = PutUtf8(p, kReplacementChar);
            }
        } else {
            p = PutUtf8(p, kReplacementChar);
        }
    }
    if (oddTail) p = PutUtf8(p, b[bytes.size() - 1]);
    out.resize(std::size_t(p - out.data()));
    return out;
}

// UTF-32: invalid units and an incomplete tail of 1 to 3 bytes give U+FFFD.
std::string DecodeUtf32(std::string_view bytes, bool bigEndian) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t units = bytes.size() / 4;
    const bool tail = bytes.size() % 4 != 0;
    std::string out;
    out.resize(units * 4 + (tail ? 3 : 0));
    char* p = out.data();
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned char* q = b + 4 * i;
        const char32_t cp =
            bigEndian
                ? (char32_t(q[0]) << 24) | (char32_t(q[1]) << 16) | (char32_t(q[2]) << 8) | q[3]
                : (char32_t(q[3]) << 24) | (char32_t(q[2]) << 16) | (char32_t(q[1]) << 8) | q[0];
        const bool valid = cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        p = PutUtf8(p, valid ? cp : kReplacementChar);
    }
    if (tail) p = PutUtf8(p, kReplacementChar);
    out.resize(std::size_t(p - out.data()));
    return out;
}

// UTF-8 that is already valid is returned as it came: no second copy.
std::string DecodeUtf8Owned(std::string&& bytes) {
    if (IsValidUtf8(bytes)) return std::move(bytes);
    return SanitizeUtf8(bytes);
}

std::string DecodeOwned(std::string&& bytes, int32_t fmt, int32_t ansiCodePage, bool& ok) {
    ok = true;
    switch (fmt) {
        case kEncodingAnsi: {
            std::string out;
            ok = DecodeCodePage(bytes, ansiCodePage, out);
            return out;
        }
        case kEncodingUtf8:
            return DecodeUtf8Owned(std::move(bytes));
        case kEncodingUtf16LE:
        case kEncodingUtf16BE:
            return DecodeUtf16(bytes, fmt == kEncodingUtf16BE);
        case kEncodingUtf32LE:
        case kEncodingUtf32BE:
            return DecodeUtf32(bytes, fmt == kEncodingUtf32BE);
        default:
            ok = false;
            return {};
    }
}

// ---- encoders ----

// Reads UTF-8 as code points for the Unicode encoders; ill-formed input
// becomes U+FFFD.
template <typename Put>
void ForEachCodePoint(std::string_view text, Put put) {
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        if (b[i] < 0x80) {
            put(char32_t(b[i]));
            ++i;
            continue;
        }
        const Utf8Char c = DecodeUtf8At(text, i);
        put(c.cp);
        i += c.length;
    }
}

void AppendUtf16(std::string& out, std::string_view text, bool bigEndian) {
    const std::size_t start = out.size();
    out.resize(start + text.size() * 2);  // two bytes per input byte at most
    char* p = out.data() + start;
    auto putUnit = [&](char16_t u) {
        if (bigEndian) {
            *p++ = char(u >> 8);
            *p++ = char(u & 0xFF);
        } else {
            *p++ = char(u & 0xFF);
            *p++ = char(u >> 8);
        }
    };
    ForEachCodePoint(text, [&](char32_t cp) {
        if (cp >= 0x10000) {
            putUnit(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            putUnit(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            putUnit(char16_t(cp));
        }
    });
    out.resize(std::size_t(p - out.data()));
}

void AppendUtf32(std::string& out, std::string_view text, bool bigEndian) {
    const std::size_t start = out.size();
    out.resize(start + text.size() * 4);  // four bytes per input byte at most
    char* p = out.data() + start;
    ForEachCodePoint(text, [&](char32_t cp) {
        if (bigEndian) {
            *p++ = char(cp >> 24);
            *p++ = char((cp >> 16) & 0xFF);
            *p++ = char((cp >> 8) & 0xFF);
            *p++ = char(cp & 0xFF);
        } else {
            *p++ = char(cp & 0xFF);
            *p++ = char((cp >> 8) & 0xFF);
            *p++ = char((cp >> 16) & 0xFF);
            *p++ = char(cp >> 24);
        }
    });
    out.resize(std::size_t(p - out.data()));
}

// Appends the encoded text to `out`; false (with `failure` filled) when the
// ANSI page cannot hold a character or has no converter.
bool EncodeInto(std::string& out, const std::string& text, int32_t fmt, int32_t ansiCodePage,
                SaveFailure& failure) {
    switch (fmt) {
        case kEncodingAnsi: {
            std::string bytes;
            const EncodeResult r = EncodeCodePage(text, ansiCodePage, bytes, true);
            if (!r.ok) {
                if (!CodePageAvailable(ansiCodePage)) {
                    failure.kind = SaveFailure::InvalidEncoding;
                    return false;
                }
                failure.kind = SaveFailure::Unmappable;
                failure.byteOffset = r.badOffset;
                failure.line = 1;
                for (std::size_t i = 0; i < r.badOffset && i < text.size(); ++i) {
                    if (text[i] == '\n') ++failure.line;
                }
                return false;
            }
            if (out.empty()) {
                out = std::move(bytes);
            } else {
                out += bytes;
            }
            return true;
        }
        case kEncodingUtf8:
            if (IsValidUtf8(text)) {
                out += text;
            } else {
                out += SanitizeUtf8(text);
            }
            return true;
        case kEncodingUtf16LE:
        case kEncodingUtf16BE:
            AppendUtf16(out, text, fmt == kEncodingUtf16BE);
            return true;
        case kEncodingUtf32LE:
        case kEncodingUtf32BE:
            AppendUtf32(out, text, fmt == kEncodingUtf32BE);
            return true;
        default:
            failure.kind = SaveFailure::InvalidEncoding;
            return false;
    }
}

// ---- writing ----

bool WriteAll(std::FILE* f, std::string_view head, std::string_view body = {}) {
    for (std::string_view piece : {head, body}) {
        if (!piece.empty() && std::fwrite(piece.data(), 1, piece.size(), f) != piece.size()) {
            return false;
        }
    }
    return std::fflush(f) == 0 && !std::ferror(f);
}

// Records why a call failed; errno 0 (a short write that set nothing) stays 0.
void Fail(SaveFailure& failure, SaveFailure::Kind kind, int error) {
    failure.kind = kind;
    if (failure.error == 0) failure.error = error;
}

std::string TempSuffix() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::size_t mix = std::hash<std::thread::id>{}(std::this_thread::get_id()) ^
                            std::size_t(now) ^ (std::size_t(counter.fetch_add(1)) << 20);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016zx", mix);
    return buf;
}

// Where a replacing save writes: the target (a symbolic link resolved to the
// file it points to) and what it had, so the new file keeps its permissions.
struct ReplaceTarget {
    fs::path target;
    bool existed = false;
    fs::perms perms = fs::perms::none;
};

bool PrepareTarget(const fs::path& name, ReplaceTarget& t, SaveFailure& failure) {
    std::error_code ec;
    t.target = name;
    // Saving through a symbolic link updates the file it points to and keeps
    // the link.
    if (fs::is_symlink(fs::symlink_status(t.target, ec))) {
        const fs::path resolved = fs::canonical(t.target, ec);
        if (!ec) t.target = resolved;
    }
    const fs::file_status st = fs::status(t.target, ec);
    t.existed = fs::exists(st);
    t.perms = st.permissions();
    if (t.existed && !fs::is_regular_file(st)) {
        Fail(failure, SaveFailure::OpenFailed, fs::is_directory(st) ? EISDIR : EINVAL);
        return false;
    }
    if (t.existed) {
        // A file we may not write stays refused, as opening it for writing would be.
        const int probe = ::open(t.target.c_str(), O_WRONLY | O_CLOEXEC);
        if (probe < 0) {
            Fail(failure, SaveFailure::OpenFailed, errno);
            return false;
        }
        ::close(probe);
    }
    if (t.target.filename().empty()) {
        Fail(failure, SaveFailure::OpenFailed, EISDIR);
        return false;
    }
    return true;
}

fs::path FolderOf(const fs::path& target) {
    fs::path dir = target.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

// The file a replacing save writes into. Where the file system offers it,
// the file has no name until it is complete (O_TMPFILE): a process killed
// mid-write leaves nothing behind. Elsewhere it is a hidden file beside the
// target, removed on every failure this process lives to see.
struct TempFile {
    FilePtr file;
    fs::path named;       // the hidden name, once the file has one
    bool unnamed = false; // still without a name (O_TMPFILE)
};

bool CreateTemp(const ReplaceTarget& t, TempFile& temp, SaveFailure& failure) {
    const fs::path dir = FolderOf(t.target);
#ifdef O_TMPFILE
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        temp.file.reset(::fdopen(fd, "wb"));
        if (!temp.file) {
            Fail(failure, SaveFailure::OpenFailed, errno);
            ::close(fd);
            return false;
        }
        temp.unnamed = true;
        return true;
    }
    // Not offered here (EOPNOTSUPP, EISDIR on old kernels, ...): a named file.
    // A missing or unwritable folder fails the same way below.
#endif
    const std::string base = t.target.filename().string();
    for (int attempt = 0; attempt < 16 && !temp.file; ++attempt) {
        temp.named = dir / ("." + base + ".lumeval-" + TempSuffix());
        temp.file.reset(std::fopen(temp.named.c_str(), "wbx"));  // exclusive: never reuse a stranger's file
        if (!temp.file && errno != EEXIST) break;
    }
    if (!temp.file) {
        Fail(failure, SaveFailure::OpenFailed, errno);
        temp.named.clear();
        return false;
    }
    return true;
}

// Gives an unnamed file a hidden name beside the target, just before the
// rename: rename needs a name.
bool NameTemp(const ReplaceTarget& t, TempFile& temp, SaveFailure& failure) {
    if (!temp.unnamed) return true;
    const std::string proc = "/proc/self/fd/" + std::to_string(::fileno(temp.file.get()));
    const fs::path dir = FolderOf(t.target);
    const std::string base = t.target.filename().string();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path name = dir / ("." + base + ".lumeval-" + TempSuffix());
        if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp.named = name;
            temp.unnamed = false;
            return true;
        }
        if (errno != EEXIST) break;
    }
    Fail(failure, SaveFailure::WriteFailed, errno);
    return false;
}

// Makes the folder's new entry survive a power cut; a folder that cannot be
// opened or synced (some network file systems) is not worth a failed save.
void SyncFolder(const fs::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Completes the temporary file and, when everything was written, puts it in
// place of the target: its bytes reach the disk (fsync) before the rename, and
// the folder's entry after it, so a power cut leaves the old file or the new
// one, never an empty or partial one. On failure the temporary is removed.
bool FinishTemp(TempFile temp, const ReplaceTarget& t, bool ok, SaveFailure& failure) {
    std::error_code ec;
    std::FILE* f = temp.file.get();
    if (ok && (std::fflush(f) != 0 || std::ferror(f))) {
        Fail(failure, SaveFailure::WriteFailed, errno);
        ok = false;
    }
    if (ok && ::fsync(::fileno(f)) != 0) {
        Fail(failure, SaveFailure::WriteFailed, errno);
        ok = false;
    }
    if (ok && t.existed) {
        // Keep the old file's permissions; failing to is not worth a failed save.
        ::fchmod(::fileno(f), static_cast<mode_t>(t.perms) & 07777);
    }
    if (ok) ok = NameTemp(t, temp, failure);
    if (std::fclose(temp.file.release()) != 0 && ok) {
        Fail(failure, SaveFailure::WriteFailed, errno);
        ok = false;
    }
    if (ok) {
        if (::rename(temp.named.c_str(), t.target.c_str()) != 0) {
            Fail(failure, SaveFailure::WriteFailed, errno);
            ok = false;
        } else {
            SyncFolder(FolderOf(t.target));
        }
    }
    if (!ok) {
        if (!temp.named.empty()) fs::remove(temp.named, ec);
        if (failure.kind == SaveFailure::None) failure.kind = SaveFailure::WriteFailed;
    }
    return ok;
}

// Writes a new file next to the target and renames it over the target only
// when every byte is on disk, so a failed save leaves the old file as it was.
// Writes `head` then `body` (a mark and a text that needs no encoding are
// written as they are, without joining them first).
bool ReplaceFile(const fs::path& name, std::string_view head, std::string_view body,
                 SaveFailure& failure) {
    ReplaceTarget t;
    if (!PrepareTarget(name, t, failure)) return false;
    TempFile temp;
    if (!CreateTemp(t, temp, failure)) return false;
    errno = 0;
    const bool ok = WriteAll(temp.file.get(), head, body);
    if (!ok) Fail(failure, SaveFailure::WriteFailed, errno);
    return FinishTemp(std::move(temp), t, ok, failure);
}

// Appends in place; a failed write cuts the file back to its old length.
bool AppendToFile(const fs::path& name, const std::string& bytes, std::uint64_t oldSize,
                  SaveFailure& failure) {
    if (bytes.empty()) return true;
    FilePtr f(std::fopen(name.c_str(), "ab"));
    if (!f) {
        Fail(failure, SaveFailure::OpenFailed, errno);
        return false;
    }
    errno = 0;
    bool ok = WriteAll(f.get(), bytes) && ::fsync(::fileno(f.get())) == 0;
    const int writeError = errno;
    ok = (std::fclose(f.release()) == 0) && ok;
    if (!ok) {
        std::error_code ec;
        fs::resize_file(name, oldSize, ec);
        Fail(failure, SaveFailure::WriteFailed, writeError != 0 ? writeError : errno);
    }
    return ok;
}

// The encoding of an existing file that is appended to with fmt -1: its mark,
// else UTF-8 when its bytes are valid multi-byte UTF-8 (appending GBK bytes
// to such a file would corrupt it), else ANSI.
int32_t DetectForAppend(const std::string& name) {
    std::uint64_t size = 0;
    FilePtr f = OpenForReading(name, size);
    if (!f) return kEncodingAnsi;
    const ByteOrderMark mark = ReadMark(f.get());
    if (mark.code != 0 || size > kMaxLoadSize) return mark.code;
    std::string bytes;
    if (std::fseek(f.get(), 0, SEEK_SET) != 0 || !ReadBytes(f.get(), std::size_t(size), bytes)) {
        return kEncodingAnsi;
    }
    return LooksLikeUtf8(bytes) ? kEncodingUtf8 : kEncodingAnsi;
}

}  // namespace

ByteOrderMark DetectByteOrderMark(const unsigned char first4[4]) {
    const uint32_t v = uint32_t(first4[0]) | (uint32_t(first4[1]) << 8) |
                       (uint32_t(first4[2]) << 16) | (uint32_t(first4[3]) << 24);
    if (v == 0x0000FEFFu) return {kEncodingUtf32LE, 4};
    if (v == 0xFFFE0000u) return {kEncodingUtf32BE, 4};
    if ((v & 0xFFFFu) == 0xFEFFu) return {kEncodingUtf16LE, 2};
    if ((v & 0xFFFFu) == 0xFFFEu) return {kEncodingUtf16BE, 2};
    if ((v & 0xFFFFFFu) == 0xBFBBEFu) return {kEncodingUtf8, 3};
    return {0, 0};
}

std::string ByteOrderMarkFor(int32_t code) {
    switch (code) {
        case kEncodingUtf8:
            return "\xEF\xBB\xBF";
        case kEncodingUtf16LE:
            return "\xFF\xFE";
        case kEncodingUtf16BE:
            return "\xFE\xFF";
        case kEncodingUtf32LE:
            return std::string("\xFF\xFE\0\0", 4);
        case kEncodingUtf32BE:
            return std::string("\0\0\xFE\xFF", 4);
        default:
            return {};
    }
}

bool LooksLikeUtf8(std::string_view bytes) {
    // All-ASCII text is as much ANSI as UTF-8: it takes the ANSI road.
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i + 8 <= n && IsAscii(bytes.substr(i, 8))) i += 8;
    while (i < n && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
    if (i == n) return false;
    return IsValidUtf8(bytes.substr(i));
}

int32_t LooksLikeUtf16(std::string_view bytes) {
    // Subtitle text is rich in ASCII (times, digits, punctuation), whose
    // UTF-16 units carry a zero byte; a short text proves nothing.
    if (bytes.size() < 16 || bytes.size() % 2 != 0) return 0;
    std::size_t zeroEven = 0;
    std::size_t zeroOdd = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        zeroEven += bytes[i] == '\0' ? 1 : 0;
        zeroOdd += bytes[i + 1] == '\0' ? 1 : 0;
    }
    const std::size_t units = bytes.size() / 2;
    if (zeroOdd * 4 >= units && zeroEven * 16 <= zeroOdd) return kEncodingUtf16LE;
    if (zeroEven * 4 >= units && zeroOdd * 16 <= zeroEven) return kEncodingUtf16BE;
    return 0;
}

std::string DecodeText(std::string_view bytes, int32_t fmt, int32_t AnsiCodePage) {
    try {
        bool ok = false;
        std::string out = DecodeOwned(std::string(bytes), fmt, AnsiCodePage, ok);
        return ok ? out : std::string();
    } catch (...) {
        return {};
    }
}

namespace {

// The length of `v` without a last character that the piece's end cuts
// short: a lead byte followed by fewer continuation bytes than it announces.
// Anything else (ill-formed bytes included) is left to the validation.
std::size_t WithoutCutCharacter(std::string_view v) {
    const auto* p = reinterpret_cast<const unsigned char*>(v.data());
    const std::size_t n = v.size();
    for (std::size_t k = 1; k <= 3 && k <= n; ++k) {
        const unsigned char b = p[n - k];
        if (b < 0x80) return n;
        if (b >= 0xC0) {
            const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
            return length > k ? n - k : n;
        }
    }
    return n;
}

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads until `size` bytes are in or the file ends; -1 on an error.
ssize_t ReadFully(int fd, char* into, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, into + got, size - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += std::size_t(r);
    }
    return ssize_t(got);
}

std::int64_t ModifiedNs(const struct stat& st) {
    return std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Opens a regular file of `minBytes` to kMaxLoadSize bytes for a pass over
// it: its size, and in `pass` what tells it from a file put in its place.
template <typename Pass>
bool OpenForPass(const std::string& FileName, std::uint64_t minBytes, FdCloser& file, std::uint64_t& size,
                 Pass& pass) {
    if (!UsableName(FileName)) return false;
    file.fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = std::uint64_t(st.st_size);
    if (size > kMaxLoadSize || size < minBytes) return false;
    pass.device = std::uint64_t(st.st_dev);
    pass.inode = std::uint64_t(st.st_ino);
    pass.modifiedNs = ModifiedNs(st);
    return true;
}

}  // namespace

PiecewiseSource SurveySource(const std::string& FileName, int32_t AnsiCodePage,
                             std::size_t pieceBytes, std::uint64_t minBytes,
                             const std::atomic<bool>* stop, std::vector<char>* scratch,
                             const SurveyObserver* observe) {
    PiecewiseSource source;
    try {
        FdCloser file;
        std::uint64_t size = 0;
        if (!OpenForPass(FileName, minBytes, file, size, source)) return source;

        pieceBytes = std::max<std::size_t>(pieceBytes, 4);
        std::unique_ptr<char[]> own;
        char* const buf = scratch != nullptr && scratch->size() >= pieceBytes + 4
                              ? scratch->data()
                              : (own.reset(new char[pieceBytes + 4]), own.get());
        unsigned char first4[4] = {0, 0, 0, 0};
        const ssize_t head = ReadFully(file.fd, reinterpret_cast<char*>(first4), 4);
        if (head < 0) return source;
        const ByteOrderMark mark = DetectByteOrderMark(first4);
        if (mark.code != 0 && mark.code != kEncodingUtf8) return source;
        source.skip = std::uint64_t(mark.length);
        // The bytes after the mark that the first read already holds.
        std::size_t carry = std::size_t(head) - std::min<std::size_t>(std::size_t(head), mark.length);
        std::memcpy(buf, first4 + mark.length, carry);

        bool valid = true, high = false, zero = false;
        bool cutCarried = false;  // the buffer starts with the rest of a cut character
        std::size_t lf = 0, cr = 0;
        std::uint64_t total = 0;
        std::size_t uncounted = carry;  // bytes at the buffer's end not yet counted
        for (;;) {
            if (stop != nullptr && stop->load(std::memory_order_relaxed)) return source;
            const ssize_t r = ReadFully(file.fd, buf + carry, pieceBytes);
            if (r < 0) return source;
            uncounted += std::size_t(r);
            const bool end = std::size_t(r) < pieceBytes;
            const std::string_view all(buf, carry + std::size_t(r));
            const std::string_view fresh = all.substr(all.size() - uncounted);
            total += fresh.size();
            if (observe != nullptr) (*observe)(fresh, end);
            const ByteCensus census = TakeByteCensus(fresh);
            lf += census.lf;
            cr += census.cr;
            zero = zero || census.zero;
            uncounted = 0;
            // A character cut by the piece's end is checked whole with the next.
            const std::size_t whole = end ? all.size() : WithoutCutCharacter(all);
            if (valid && (census.high || cutCarried)) {
                high = true;
                valid = IsValidUtf8(all.substr(0, whole));
            }
            carry = all.size() - whole;
            cutCarried = carry > 0;
            std::memmove(buf, buf + whole, carry);
            if (end) break;
        }
        if (!valid || total > kMaxLoadSize) return source;
        source.size = total;
        source.sep = lf > 0 ? '\n' : '\r';
        source.lineEnds = lf > 0 ? lf : cr;
        if (mark.code == kEncodingUtf8 || high) {
            source.fmt = kEncodingUtf8;
            source.reason = mark.code != 0 ? LoadReason::ByteOrderMark : LoadReason::ValidUtf8;
            source.usable = true;
            return source;
        }
        // ASCII alone is ANSI to the loader; zero bytes could make it UTF-16,
        // and a page that does not read ASCII as itself would change it.
        const int32_t page = ResolveCodePage(AnsiCodePage);
        if (zero || !AsciiIsItself(page)) return source;
        source.fmt = kEncodingAnsi;
        source.reason = LoadReason::AnsiFallback;
        source.page.codePage = page;
        source.page.asciiOnly = true;
        source.usable = true;
    } catch (...) {
        source = PiecewiseSource{};
    }
    return source;
}

SourceHead PeekSource(const std::string& FileName, std::size_t pieceBytes, std::uint64_t minBytes) {
    SourceHead head;
    try {
        FdCloser file;
        std::uint64_t size = 0;
        if (!OpenForPass(FileName, std::max<std::uint64_t>(minBytes, 4), file, size, head)) return head;

        // A piece's worth after a mark of up to four bytes.
        const std::size_t want = std::size_t(std::min<std::uint64_t>(size, std::uint64_t(pieceBytes) + 4));
        std::unique_ptr<char[]> buffer(new char[want]);
        const ssize_t got = ReadFully(file.fd, buffer.get(), want);
        if (got < 4) return head;
        unsigned char first4[4];
        std::memcpy(first4, buffer.get(), 4);
        const ByteOrderMark mark = DetectByteOrderMark(first4);
        if (mark.code != 0 && mark.code != kEncodingUtf8) return head;
        head.skip = std::uint64_t(mark.length);
        head.size = size - head.skip;
        const std::string_view text(buffer.get() + mark.length, std::size_t(got) - mark.length);
        const bool toEnd = std::uint64_t(got) == size;
        const ByteCensus census = TakeByteCensus(text);
        const std::size_t whole = toEnd ? text.size() : WithoutCutCharacter(text);
        if (census.lf == 0 || census.zero || (census.high && !IsValidUtf8(text.substr(0, whole)))) {
            return head;
        }
        head.headBytes = text.size();
        head.headLineEnds = census.lf;
        head.promising = true;
    } catch (...) {
        head = SourceHead{};
    }
    return head;
}

PieceRead ReadSourcePieces(const std::string& FileName, const PiecewiseSource& source,
                           const std::function<bool(std::string_view piece, bool last)>& onPiece,
                           std::size_t pieceBytes) {
    if (!source.usable || !UsableName(FileName)) return PieceRead::Changed;
    FdCloser file{::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) return PieceRead::Changed;
    if (std::uint64_t(st.st_dev) != source.device || std::uint64_t(st.st_ino) != source.inode ||
        ModifiedNs(st) != source.modifiedNs ||
        std::uint64_t(st.st_size) != source.skip + source.size) {
        return PieceRead::Changed;
    }
    if (::lseek(file.fd, off_t(source.skip), SEEK_SET) < 0) return PieceRead::Changed;

    pieceBytes = std::max<std::size_t>(pieceBytes, 1);
    std::vector<char> buffer(pieceBytes);
    std::size_t held = 0;             // bytes in the buffer not yet handed on
    std::uint64_t left = source.size;  // bytes of the file not yet read
    for (;;) {
        // A line longer than the room left makes the buffer longer.
        if (buffer.size() - held < pieceBytes / 2 + 1) buffer.resize(buffer.size() * 2);
        const std::size_t want = std::size_t(std::min<std::uint64_t>(left, buffer.size() - held));
        const ssize_t r = ReadFully(file.fd, buffer.data() + held, want);
        if (r < 0 || std::size_t(r) != want) return PieceRead::Changed;
        held += want;
        left -= want;
        if (left == 0) {
            return onPiece(std::string_view(buffer.data(), held), true) ? PieceRead::Done
                                                                         : PieceRead::Stopped;
        }
        const void* lastEnd = ::memrchr(buffer.data(), source.sep, held);
        if (lastEnd == nullptr) continue;
        const std::size_t piece = std::size_t(static_cast<const char*>(lastEnd) - buffer.data()) + 1;
        if (!onPiece(std::string_view(buffer.data(), piece), false)) return PieceRead::Stopped;
        std::memmove(buffer.data(), buffer.data() + piece, held - piece);
        held -= piece;
    }
}

std::string UnreadableReason(const std::string& FileName) {
    if (FileName.find('\0') != std::string::npos) return "the name holds a NUL character";
    struct stat st {};
    if (::stat(FileName.c_str(), &st) != 0) {
        return errno == ENOENT ? std::string() : std::string(std::strerror(errno));
    }
    // A FIFO would block the run and a device may never end.
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}

int32_t UEFCheckTextFileFormat(const std::string& FileName) {
    try {
        std::uint64_t size = 0;
        FilePtr f = OpenForReading(FileName, size);
        if (!f) return -1;
        return ReadMark(f.get()).code;
    } catch (...) {
        return -1;
    }
}

std::string UEFLoadTextFile(const std::string& FileName, int32_t& fmt, int32_t AnsiCodePage,
                            LoadReason* reason, LoadedCodePage* page) {
    if (reason) *reason = LoadReason::None;
    if (page) *page = LoadedCodePage{};
    if (fmt != kEncodingDetect && !IsValidCode(fmt)) return {};
    try {
        std::uint64_t size = 0;
        FilePtr f = OpenForReading(FileName, size);
        if (!f || size > kMaxLoadSize) return {};

        const ByteOrderMark mark = ReadMark(f.get());
        int32_t use = fmt;
        std::size_t skip = 0;
        LoadReason why = LoadReason::Explicit;
        if (fmt == kEncodingDetect) {
            use = mark.code;
            skip = std::size_t(mark.length);
            why = LoadReason::ByteOrderMark;
        } else if (fmt == mark.code) {
            skip = std::size_t(mark.length);
        }
        // A two-byte file FF FE claims a four-byte mark: nothing is left.
        const std::size_t n = size > skip ? std::size_t(size) - skip : 0;
        std::string bytes;
        if (n > 0) {
            if (std::fseek(f.get(), long(skip), SEEK_SET) != 0) return {};
            if (!ReadBytes(f.get(), n, bytes)) return {};
        }
        f.reset();

        std::string text;
        bool decoded = false;
        LoadedCodePage used;
        used.codePage = ResolveCodePage(AnsiCodePage);
        if (fmt == kEncodingDetect && mark.code == 0) {
            if (LooksLikeUtf8(bytes)) {
                use = kEncodingUtf8;
                why = LoadReason::ValidUtf8;
                text = std::move(bytes);  // just validated: no second pass
                decoded = true;
            } else if (const int32_t utf16 = LooksLikeUtf16(bytes); utf16 != 0) {
                // Written without a mark (some tools do): read as ANSI, every
                // other byte would be a zero and no line would have a time.
                use = utf16;
                why = LoadReason::Utf16Pattern;
            } else {
                use = kEncodingAnsi;
                why = LoadReason::AnsiFallback;
                // A page the caller set is used as it is; the default one
                // only when the content does not show another.
                if (AnsiCodePage == 0) {
                    const CodePageGuess guess = DetectCodePage(bytes);
                    if (guess.codePage == kUtf8CodePage) {
                        // UTF-8 with a stray ill-formed byte further on.
                        use = kEncodingUtf8;
                        why = LoadReason::DetectedCodePage;
                    } else if (guess.codePage != 0) {
                        used.codePage = guess.codePage;
                        used.detected = true;
                        why = LoadReason::DetectedCodePage;
                    }
                }
            }
        }
        if (use == kEncodingAnsi) used.asciiOnly = IsAscii(bytes);
        if (!decoded) {
            bool ok = false;
            text = DecodeOwned(std::move(bytes), use, used.codePage, ok);
            if (!ok) return {};
        }
        fmt = use;
        if (reason) *reason = why;
        if (page && use == kEncodingAnsi) *page = used;
        return text;
    } catch (const std::bad_alloc&) {
        if (reason) *reason = LoadReason::OutOfMemory;
        return {};
    } catch (...) {
        if (reason) *reason = LoadReason::None;
        return {};
    }
}

bool UEFSaveTextFile(const std::string& FileName, const std::string& sText, bool IsAppend,
                     int32_t& fmt, int32_t DefFmt, int32_t AnsiCodePage, SaveFailure* failure,
                     bool textIsValidUtf8) {
    SaveFailure local;
    SaveFailure& fail = failure ? *failure : local;
    fail = SaveFailure{};
    if (!IsValidCode(fmt) && !(fmt == kEncodingDetect && IsAppend)) {
        fail.kind = SaveFailure::InvalidEncoding;
        return false;
    }
    if (!UsableName(FileName)) {
        fail.kind = SaveFailure::OpenFailed;
        return false;
    }
    try {
        const fs::path path(FileName);
        bool append = IsAppend;
        int32_t use = fmt;
        std::uint64_t oldSize = 0;
        if (append) {
            std::error_code ec;
            const fs::file_status st = fs::status(path, ec);
            if (fs::exists(st) && !fs::is_regular_file(st)) {
                fail.kind = SaveFailure::OpenFailed;
                return false;
            }
            oldSize = fs::exists(st) ? fs::file_size(path, ec) : 0;
            if (ec) oldSize = 0;
            if (oldSize == 0) {
                // A missing or empty file is written whole, mark included.
                append = false;
                if (use == kEncodingDetect) use = DefFmt;
            } else if (use == kEncodingDetect) {
                use = DetectForAppend(FileName);
            }
        }
        if (!IsValidCode(use)) {
            fail.kind = SaveFailure::InvalidEncoding;
            return false;
        }
        // Valid UTF-8 is written straight from the caller's text.
        if (use == kEncodingUtf8 && !append && (textIsValidUtf8 || IsValidUtf8(sText))) {
            const std::string mark = ByteOrderMarkFor(use);
            const bool ok = ReplaceFile(path, mark, sText, fail);
            if (ok) fmt = use;
            return ok;
        }
        // Encode before touching the disk: text the page cannot hold leaves
        // every file as it was.
        std::string bytes = append ? std::string() : ByteOrderMarkFor(use);
        if (!EncodeInto(bytes, sText, use, AnsiCodePage, fail)) return false;
        const bool ok =
            append ? AppendToFile(path, bytes, oldSize, fail) : ReplaceFile(path, bytes, {}, fail);
        if (ok) fmt = use;
        return ok;
    } catch (...) {
        if (fail.kind == SaveFailure::None) fail.kind = SaveFailure::WriteFailed;
        return false;
    }
}

// ---- TextFileWriter ----

struct TextFileWriter::State {
    ReplaceTarget target;
    TempFile temp;
    int32_t fmt = kEncodingUtf8;
    int32_t ansiCodePage = 0;
    std::size_t linesBefore = 0;  // line breaks in the pieces already written
    std::size_t bytesBefore = 0;
    std::string encoded;          // reused for every piece
    bool startWriteback = true;   // false on a file system held in memory
};

namespace {
// tmpfs and ramfs have no disk to start writing to.
bool InMemoryFileSystem(std::FILE* file) {
    struct statfs fs {};
    if (::fstatfs(::fileno(file), &fs) != 0) return false;
    constexpr unsigned long kTmpfs = 0x01021994, kRamfs = 0x858458f6;
    const auto type = static_cast<unsigned long>(fs.f_type);
    return type == kTmpfs || type == kRamfs;
}
}  // namespace

TextFileWriter::TextFileWriter() = default;

TextFileWriter::~TextFileWriter() {
    if (m_state && m_state->temp.file) {
        std::error_code ec;
        std::fclose(m_state->temp.file.release());
        if (!m_state->temp.named.empty()) fs::remove(m_state->temp.named, ec);
    }
}

bool TextFileWriter::Open(const std::string& FileName, int32_t fmt, int32_t AnsiCodePage,
                          SaveFailure& failure, bool withMark) {
    failure = SaveFailure{};
    if (m_state || !IsValidCode(fmt)) {
        failure.kind = SaveFailure::InvalidEncoding;
        return false;
    }
    if (!UsableName(FileName)) {
        failure.kind = SaveFailure::OpenFailed;
        return false;
    }
    try {
        auto state = std::make_unique<State>();
        state->fmt = fmt;
        state->ansiCodePage = AnsiCodePage;
        if (fmt == kEncodingAnsi && !CodePageAvailable(AnsiCodePage)) {
            failure.kind = SaveFailure::InvalidEncoding;
            return false;
        }
        if (!PrepareTarget(fs::path(FileName), state->target, failure)) return false;
        if (!CreateTemp(state->target, state->temp, failure)) return false;
        // Pieces are large and whole: each goes to the system in one call
        // instead of a buffer's worth and the rest.
        std::setvbuf(state->temp.file.get(), nullptr, _IONBF, 0);
        state->startWriteback = !InMemoryFileSystem(state->temp.file.get());
        m_state = std::move(state);
        const std::string mark = withMark ? ByteOrderMarkFor(fmt) : std::string();
        errno = 0;
        if (!mark.empty() && std::fwrite(mark.data(), 1, mark.size(), m_state->temp.file.get()) != mark.size()) {
            Fail(failure, SaveFailure::WriteFailed, errno);
            return false;
        }
        return true;
    } catch (...) {
        failure.kind = SaveFailure::WriteFailed;
        return false;
    }
}

bool TextFileWriter::Write(std::string_view text, bool textIsValidUtf8, SaveFailure& failure) {
    if (!m_state || !m_state->temp.file) {
        if (failure.kind == SaveFailure::None) failure.kind = SaveFailure::WriteFailed;
        return false;
    }
    State& st = *m_state;
    try {
        std::string_view bytes = text;
        if (st.fmt != kEncodingUtf8 || !(textIsValidUtf8 || IsValidUtf8(text))) {
            st.encoded.clear();
            const std::string piece(text);
            if (!EncodeInto(st.encoded, piece, st.fmt, st.ansiCodePage, failure)) {
                // Lines and offsets count from the start of the whole text.
                failure.line += st.linesBefore;
                failure.byteOffset += st.bytesBefore;
                return false;
            }
            bytes = st.encoded;
        }
        errno = 0;
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), st.temp.file.get()) != bytes.size()) {
            Fail(failure, SaveFailure::WriteFailed, errno);
            return false;
        }
#ifdef SYNC_FILE_RANGE_WRITE
        // Start the disk write of each piece now, while the next is made, so
        // the fsync before the rename only waits for the last piece.
        if (st.startWriteback && std::fflush(st.temp.file.get()) == 0) {
            ::sync_file_range(::fileno(st.temp.file.get()), 0, 0, SYNC_FILE_RANGE_WRITE);
        }
#endif
        // Only the code page can refuse a character, and only then is a line
        // number reported.
        if (st.fmt == kEncodingAnsi) {
            for (const char* p = text.data(); (p = static_cast<const char*>(std::memchr(
                                                 p, '\n', text.size() - std::size_t(p - text.data())))) != nullptr;
                 ++p) {
                ++st.linesBefore;
            }
        }
        st.bytesBefore += text.size();
        return true;
    } catch (...) {
        failure.kind = SaveFailure::WriteFailed;
        return false;
    }
}

bool TextFileWriter::Commit(SaveFailure& failure) {
    if (!m_state || !m_state->temp.file) {
        if (failure.kind == SaveFailure::None) failure.kind = SaveFailure::WriteFailed;
        return false;
    }
    State& st = *m_state;
    return FinishTemp(std::move(st.temp), st.target, true, failure);
}


}  // namespace lumeval
