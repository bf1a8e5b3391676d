#include "engine/timeorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {

void TimeOrderScan::timeLine(std::string_view line, std::size_t arrow) {
    const std::string_view start = TrimSpaces(line.substr(0, arrow));
    // Words before an arrow in a cue's text read as no time worth a look.
    if (start.empty() || start.front() < '0' || start.front() > '9') return;
    double ms = 0;
    if (IsCanonicalTime(start)) {
        ms = CanonicalTimeMs(start);
    } else if (const std::optional<double> sec = TimeToSecChecked(start, true, ",")) {
        ms = *sec * 1000;
    } else {
        return;
    }
    if (ms < m_behind) m_inOrder = false;
    double& slot = m_recent[m_count % kSlack];
    if (m_count >= kSlack) m_behind = std::max(m_behind, slot);
    slot = ms;
    m_earliest = m_count == 0 ? ms : std::min(m_earliest, ms);
    m_latest = std::max(m_latest, ms);
    ++m_count;
}

void TimeOrderScan::Feed(std::string_view bytes, bool last) {
    if (!m_inOrder) return;
    // The line the piece before cut: finished by this piece's first line end.
    std::size_t from = 0;
    if (m_headSize > 0 || m_headDone) {
        const std::size_t nl = bytes.find('\n');
        if (!m_headDone) {
            const std::string_view more = bytes.substr(0, std::min(nl, kMaxHead + 1));
            std::memcpy(m_head + m_headSize, more.data(), more.size());
            m_headSize += more.size();
            const std::string_view head(m_head, m_headSize);
            if (const std::size_t arrow = head.find("-->"); arrow != std::string_view::npos) {
                timeLine(head, arrow);
                m_headDone = true;
            } else if (m_headSize > kMaxHead) {
                m_headDone = true;  // too long to start with a time
            }
        }
        if (nl == std::string_view::npos) return;  // it goes on in the next piece, or ends the text
        m_headSize = 0;
        m_headDone = false;
        from = nl + 1;
    }
    // Only the lines with an arrow are looked at: found by its ">", the
    // rarest of its bytes in a subtitle's text.
    const char* const base = bytes.data();
    const char* p = base + from;
    const char* const end = base + bytes.size();
    while (p < end) {
        const char* gt = static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
        if (gt == nullptr) break;
        if (gt - p < 2 || gt[-1] != '-' || gt[-2] != '-') {
            p = gt + 1;
            continue;
        }
        const std::size_t at = static_cast<std::size_t>(gt - 2 - base);
        const std::size_t nl = bytes.rfind('\n', at);
        const std::size_t lineStart = nl == std::string_view::npos || nl < from ? from : nl + 1;
        timeLine(bytes.substr(lineStart, at - lineStart + 3), at - lineStart);
        if (!m_inOrder) return;
        // The rest of the line holds no other time line.
        const char* next = static_cast<const char*>(std::memchr(gt, '\n', static_cast<std::size_t>(end - gt)));
        if (next == nullptr) {
            from = bytes.size();
            break;
        }
        from = static_cast<std::size_t>(next + 1 - base);
        p = next + 1;
    }
    if (last) return;
    // The piece's last line, when it has no end yet, is finished by the next.
    const std::size_t nl = bytes.rfind('\n');
    const std::size_t tail = nl == std::string_view::npos ? from : std::max(from, nl + 1);
    if (tail < bytes.size()) {
        const std::string_view cut = bytes.substr(tail, kMaxHead + 1);
        std::memcpy(m_head, cut.data(), cut.size());
        m_headSize = cut.size();
        m_headDone = m_headSize > kMaxHead;
    }
}

namespace {
// `bytes` bytes at `offset`, or nothing when they cannot all be read.
std::optional<std::string> readAt(int fd, std::uint64_t offset, std::size_t bytes) {
    std::string out(bytes, '\0');
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t r = ::pread(fd, out.data() + got, bytes - got, static_cast<off_t>(offset + got));
        if (r <= 0) return std::nullopt;
        got += static_cast<std::size_t>(r);
    }
    return out;
}
}  // namespace

bool EndsInTimeOrder(const std::string& path, std::uint64_t skip, std::uint64_t size,
                     std::size_t pieceBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    const std::size_t headBytes = std::max<std::size_t>(pieceBytes, 1);
    const std::size_t tailBytes = std::max<std::size_t>(pieceBytes / 4, 1);
    if (size <= headBytes + tailBytes) {
        const auto all = readAt(fd, skip, static_cast<std::size_t>(size));
        if (!all) return false;
        TimeOrderScan scan;
        scan.Feed(*all, true);
        return scan.InOrder();
    }
    const auto head = readAt(fd, skip, headBytes);
    const auto tail = readAt(fd, skip + size - tailBytes, tailBytes);
    if (!head || !tail) return false;
    TimeOrderScan first;
    first.Feed(*head, true);  // a time line cut at its end has its start whole, or no arrow
    TimeOrderScan last;
    const std::size_t cut = tail->find('\n');  // the line the tail starts in is cut
    if (cut != std::string::npos) last.Feed(std::string_view(*tail).substr(cut + 1), true);
    return first.InOrder() && last.InOrder() && (last.Earliest() < 0 || last.Earliest() >= first.Latest());
}

}  // namespace lumeval
