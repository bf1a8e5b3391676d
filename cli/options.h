// The converter's command line: what was asked for, after validation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/subtitle.h"

namespace lumeval::cli {

/// Exit statuses scripts rely on.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,  ///< the run failed: no readable source, no lines, save failed, ...
    kExitUsage = 2,   ///< unknown option, bad number, missing DEST, DEST equal to a SOURCE
};

enum class Mode {
    ListFormats,
    Single,  ///< -o DEST: all sources into one table, then event or file mode
    Batch,   ///< --to KEY -d DIR: every source on its own
};

struct CliOptions {
    Mode mode = Mode::Single;
    std::vector<std::string> sources;
    std::string dest;    ///< -o
    std::string toKey;   ///< --to, lower-cased
    std::string outDir;  ///< -d
    unsigned jobs = 1;   ///< -j (batch)
    bool quiet = false;
    bool progress = false;     ///< resolved: explicit flag, else "stderr is a terminal"
    int32_t codePage = 0;      ///< the engine's AnsiCodePage; 0: detected on reading, 936 for writing
    std::string windowText;    ///< --window as typed (for messages); empty: none
    ConvertSettings settings;  ///< everything the engine takes; dst_SubFile set per run
};

/// Parses argv. On --help, --version or a usage error the message has been
/// printed and the returned int is the exit status; otherwise the options.
struct ParseResult {
    std::optional<CliOptions> options;
    int exitStatus = kExitOk;
};
ParseResult ParseCommandLine(int argc, char** argv);

}  // namespace lumeval::cli
