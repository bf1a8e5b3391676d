// lumeval-convert: the command-line client of the conversion engine.
#ifdef LUMEVAL_HAVE_MIMALLOC
#include <mimalloc.h>
#endif
#include <cstdio>
#include <exception>

#include "cli/convert.h"
#include "cli/options.h"

int main(int argc, char** argv) {
#ifdef LUMEVAL_HAVE_MIMALLOC
    // A conversion touches tens of megabytes once; 2 MiB pages (where the
    // kernel grants them) save most of the page faults of that first touch.
    mi_option_enable(mi_option_large_os_pages);
#endif
    try {
        auto parsed = lumeval::cli::ParseCommandLine(argc, argv);
        if (!parsed.options) return parsed.exitStatus;
        return lumeval::cli::RunConverter(*parsed.options);
    } catch (const std::exception& e) {
        // The engine reports failure as values; this is the last guard for
        // allocation failures and the like.
        std::fprintf(stderr, "lumeval-convert: %s\n", e.what());
        return lumeval::cli::kExitFailed;
    }
}
