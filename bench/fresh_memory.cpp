// What memory first touched costs this machine, apart from any conversion:
//
//   lumeval-fresh-memory touch MIB [small] [ahead]   heap pages first written
//   lumeval-fresh-memory write MIB DIR               an output file's pages
//
// `touch` maps MIB MiB (in huge pages unless `small`) and writes one byte
// per page, then writes it all again; with `ahead` a second thread
// populates it 2 MiB at a time while the first writes 64 KiB and computes
// a while per step, as a reading thread fills its table. `write` writes an
// unnamed file in DIR in 1 MiB pieces and links it over DIR/fresh.out, as
// lumeval-convert --overwrite saves. Run it right after another process and
// after some seconds idle: a virtual machine that hands free memory back to
// its host pays for the second on first touch.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

constexpr std::size_t kHuge = std::size_t{2} << 20;

int touch(std::size_t bytes, bool huge, bool ahead) {
    void* mapped = mmap(nullptr, bytes + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return std::perror("mmap"), 1;
    char* p = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(mapped) + kHuge - 1) & ~(kHuge - 1));
    if (huge) madvise(p, bytes, MADV_HUGEPAGE);
    const auto t0 = std::chrono::steady_clock::now();
    if (!ahead) {
        for (std::size_t i = 0; i < bytes; i += 4096) p[i] = 1;
        const double first = msSince(t0);
        const auto t1 = std::chrono::steady_clock::now();
        std::memset(p, 2, bytes);
        std::printf("first touch %.2f ms, again %.2f ms\n", first, msSince(t1));
        return 0;
    }
#ifdef MADV_POPULATE_WRITE
    std::thread helper([&] {
        for (std::size_t off = 0; off < bytes; off += kHuge) madvise(p + off, kHuge, MADV_POPULATE_WRITE);
    });
#else
    std::thread helper([] {});
#endif
    volatile std::uint64_t sink = 0;
    for (std::size_t off = 0; off < bytes; off += 65536) {
        std::memset(p + off, 1, 65536);
        for (std::uint64_t k = 0; k < 20000; ++k) sink = sink + k * off;
    }
    const double work = msSince(t0);
    helper.join();
    std::printf("work with the pages populated ahead %.2f ms\n", work);
    return 0;
}

int write(std::size_t mib, const std::string& dir) {
    std::vector<char> piece(std::size_t{1} << 20, 'a');
    const int fd = open(dir.c_str(), O_WRONLY | O_TMPFILE, 0644);
    if (fd < 0) return std::perror("open"), 1;
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < mib; ++i) {
        if (::write(fd, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) return std::perror("write"), 1;
    }
    const double written = msSince(t0);
    const auto t1 = std::chrono::steady_clock::now();
    const std::string target = dir + "/fresh.out";
    unlink(target.c_str());
    const double unlinked = msSince(t1);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) return std::perror("linkat"), 1;
    close(fd);
    std::printf("writes %.2f ms, unlink of the previous file %.2f ms\n", written, unlinked);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    const std::size_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0;
    if (mode == "touch" && mib > 0) {
        bool huge = true, ahead = false;
        for (int i = 3; i < argc; ++i) {
            huge = huge && std::strcmp(argv[i], "small") != 0;
            ahead = ahead || std::strcmp(argv[i], "ahead") == 0;
        }
        return touch(mib << 20, huge, ahead);
    }
    if (mode == "write" && mib > 0 && argc > 3) return write(mib, argv[3]);
    std::fprintf(stderr, "usage: %s touch MIB [small] [ahead] | write MIB DIR\n", argv[0]);
    return 2;
}
