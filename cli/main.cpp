// lumeval-convert: the command-line client of the conversion engine.
#ifdef LUMEVAL_HAVE_MIMALLOC
#include <mimalloc.h>
#include <sys/mman.h>
#endif
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <new>

#include "cli/convert.h"
#include "cli/options.h"

namespace {

#ifdef LUMEVAL_HAVE_MIMALLOC
// mimalloc maps its first segment (32 MiB in mimalloc 2.0) while the process
// starts, before the option below is on, and a conversion's small blocks (a
// line table of 200,000 cues is some 26 MB of them) fill that segment first.
// Asking for transparent huge pages there too turns thousands of 4 KiB page
// faults into a few dozen, which halves a run on a virtual machine. It is a
// hint: where the kernel declines, or the segment is laid out differently,
// nothing changes but the speed.
constexpr std::uintptr_t kSegment = std::uintptr_t{1} << 25;

std::uintptr_t FirstSegment() {
    void* probe = mi_malloc(16);
    if (probe == nullptr) return 0;
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(probe) & ~(kSegment - 1);
    mi_free(probe);
    return base;
}

void AdviseHugePagesForFirstSegment() {
    if (const std::uintptr_t base = FirstSegment()) {
        madvise(reinterpret_cast<void*>(base), kSegment, MADV_HUGEPAGE);
    }
}

// The segment's first 2 MiB were touched before the advice, so they fill one
// small page at a time: some 300 faults in a large conversion, each a trip
// to the hypervisor on a virtual machine. Made one huge page at once, they
// cost one; a small conversion, which touches few of them, would pay more
// for the copy than it saves. Batch workers on threads of their own do the
// work elsewhere, in segments committed whole.
void CollapseFirstHugePageForLargeWork(const lumeval::cli::CliOptions& options) {
    constexpr std::uintmax_t kLargeWork = std::uintmax_t{4} << 20;
    constexpr int kMadvCollapse = 25;  // Linux 6.1; older systems refuse it, harmlessly
    if (options.mode == lumeval::cli::Mode::Batch && options.jobs > 1 && options.sources.size() > 1) {
        return;
    }
    std::uintmax_t bytes = 0;
    for (const std::string& source : options.sources) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(source, ec);
        if (!ec) bytes += size;
    }
    if (bytes < kLargeWork) return;
    if (const std::uintptr_t base = FirstSegment()) {
        madvise(reinterpret_cast<void*>(base), std::uintptr_t{2} << 20, kMadvCollapse);
    }
}
#endif

}  // namespace

#ifdef LUMEVAL_HAVE_MIMALLOC
// mimalloc's own operator new calls abort() when memory runs out (its C
// build cannot see a new handler), which would end the program before the
// engine could report the failure. These throw std::bad_alloc instead, as
// the language promises; the engine and the batch workers catch it.
void* operator new(std::size_t n) {
    if (void* p = mi_malloc(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = mi_malloc(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t a) {
    if (void* p = mi_malloc_aligned(n, static_cast<std::size_t>(a))) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) {
    if (void* p = mi_malloc_aligned(n, static_cast<std::size_t>(a))) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return mi_malloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return mi_malloc(n); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return mi_malloc_aligned(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return mi_malloc_aligned(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { mi_free(p); }
void operator delete[](void* p) noexcept { mi_free(p); }
void operator delete(void* p, std::size_t) noexcept { mi_free(p); }
void operator delete[](void* p, std::size_t) noexcept { mi_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { mi_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { mi_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { mi_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { mi_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { mi_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { mi_free(p); }
#endif

int main(int argc, char** argv) {
#ifdef LUMEVAL_HAVE_MIMALLOC
    // A conversion touches tens of megabytes once; 2 MiB pages (where the
    // kernel grants them) save most of the page faults of that first touch.
    mi_option_enable(mi_option_large_os_pages);
    // The allocator commits a new thread's first segment lazily and then in
    // small pages; a batch worker converting a large file faulted some
    // 6,000 times for it (12,249 faults for two files, 343 with this).
    mi_option_set(mi_option_eager_commit_delay, 0);
    AdviseHugePagesForFirstSegment();
#endif
    try {
        auto parsed = lumeval::cli::ParseCommandLine(argc, argv);
        if (!parsed.options) return parsed.exitStatus;
#ifdef LUMEVAL_HAVE_MIMALLOC
        CollapseFirstHugePageForLargeWork(*parsed.options);
#endif
        return lumeval::cli::RunConverter(*parsed.options);
    } catch (const std::exception& e) {
        // The engine reports failure as values; this is the last guard for
        // allocation failures and the like.
        std::fprintf(stderr, "lumeval-convert: %s\n", e.what());
        return lumeval::cli::kExitFailed;
    }
}
