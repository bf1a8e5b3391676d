// libFuzzer target: see FuzzWriteAhead in fuzz_entries.h for what the bytes mean.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = lumeval::fuzz::FuzzWriteAhead(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "FuzzWriteAhead: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
