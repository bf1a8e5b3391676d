// The converter's three runs: listing formats, one conversion of all sources
// (-o DEST), and the batch (--to KEY -d DIR).
#pragma once

#include "cli/options.h"

namespace lumeval::cli {

/// Runs what the options ask for and returns the exit status.
int RunConverter(const CliOptions& options);

}  // namespace lumeval::cli
