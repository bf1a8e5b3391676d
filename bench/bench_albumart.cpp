// Counts the pictures of an MP3 whose ID3v2 tag is about 5 MB, the way the
// media class does on every call (open, read the tag, walk it). Three tag
// shapes: one big picture, many small pictures, and a small picture followed
// by megabytes of padding (walked as empty frames, ten bytes at a time).
// Prints the median and the slowest of the runs, warm page cache.
//
//   lumeval-bench-albumart [runs]      default: 200
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "media/albumart.h"

namespace {

QByteArray SynchSafe(uint32_t v) {
    QByteArray out(4, '\0');
    out[0] = char((v >> 21) & 0x7F);
    out[1] = char((v >> 14) & 0x7F);
    out[2] = char((v >> 7) & 0x7F);
    out[3] = char(v & 0x7F);
    return out;
}

QByteArray Apic(qsizetype dataSize) {
    QByteArray body;
    body.append('\0');
    body.append("image/jpeg");
    body.append('\0');
    body.append('\x03');
    body.append('\0');
    body.append(QByteArray(dataSize, '\x5A'));
    QByteArray frame("APIC");
    frame.append(SynchSafe(uint32_t(body.size())));  // version 4
    frame.append(QByteArray(2, '\0'));
    return frame + body;
}

QByteArray Tag(const QByteArray& frames, qsizetype padding) {
    QByteArray tag("ID3\x04\x00\x00", 6);
    tag.append(SynchSafe(uint32_t(frames.size() + padding)));
    return tag + frames + QByteArray(padding, '\0');
}

// Two seconds of MP3 from ffmpeg, or MP3-looking bytes without it.
QByteArray Audio(const QTemporaryDir& dir) {
    const QString path = dir.filePath("audio.mp3");
    QProcess p;
    p.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=d=2", "-c:a", "libmp3lame", path});
    if (p.waitForFinished(60000) && p.exitCode() == 0) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = f.readAll();
            if (!bytes.isEmpty()) return bytes;
        }
    }
    std::fprintf(stderr, "ffmpeg unavailable, using synthetic MP3 frames\n");
    QByteArray fake;
    for (int i = 0; i < 80; ++i) fake.append(QByteArray("\xFF\xFB\x90\x64", 4) + QByteArray(413, '\x55'));
    return fake;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    const QByteArray audio = Audio(dir);
    constexpr qsizetype kTag = 5 * 1024 * 1024;

    struct Case {
        const char* name;
        QByteArray tag;
        int expected;
    };
    QByteArray many;
    const int manyCount = 1000;
    for (int i = 0; i < manyCount; ++i) many.append(Apic(kTag / manyCount - 32));
    const Case cases[] = {
        {"one 5 MB picture", Tag(Apic(kTag), 0), 1},
        {"1000 pictures of 5 KB", Tag(many, 0), manyCount},
        {"one picture + 5 MB padding", Tag(Apic(20000), kTag), 1},
    };

    std::printf("| Tag shape | Tag (MiB) | File (MiB) | Pictures | Median (ms) | Max (ms) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    int status = 0;
    for (const Case& c : cases) {
        const QString path = dir.filePath("bench.mp3");
        {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(c.tag + audio) != c.tag.size() + audio.size())
                return 1;
        }
        int count = 0;
        std::vector<double> ms;
        count = lumeval::GetAlbumArtCount(path);  // warms the page cache
        for (int i = 0; i < runs; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            count = lumeval::GetAlbumArtCount(path);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        std::sort(ms.begin(), ms.end());
        if (count != c.expected) {
            std::fprintf(stderr, "%s: counted %d, expected %d\n", c.name, count, c.expected);
            status = 1;
        }
        std::printf("| %s | %.2f | %.2f | %d | %.3f | %.3f |\n", c.name, c.tag.size() / 1048576.0,
                    (c.tag.size() + audio.size()) / 1048576.0, count, ms[ms.size() / 2], ms.back());
    }
    return status;
}
