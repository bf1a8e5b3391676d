// lumeval-convert: the command-line client of the conversion engine.
#include <cstdio>
#include <exception>

#include "cli/convert.h"
#include "cli/options.h"

int main(int argc, char** argv) {
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
