// libFuzzer target: see FuzzTextFile in fuzz_entries.h for what the bytes
// mean. The same bytes also go through the code-page detector on their own.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/encoding/codepage.h"
#include "engine/encoding/detect.h"
#include "fuzz/fuzz_entries.h"

namespace {

// A page the detector names must have a converter and read the bytes into
// valid UTF-8; the sample it counted never exceeds the bytes.
std::string CheckDetection(std::string_view bytes) {
    const lumeval::CodePageGuess guess = lumeval::DetectCodePage(bytes);
    if (guess.nonAscii > bytes.size()) return "more non-ASCII bytes counted than there are";
    if (guess.codePage == 0) return {};
    if (!lumeval::CodePageAvailable(guess.codePage)) {
        return "detected page " + std::to_string(guess.codePage) + " has no converter";
    }
    std::string text;
    if (!lumeval::DecodeCodePage(bytes, guess.codePage, text) || !lumeval::IsValidUtf8(text)) {
        return "detected page " + std::to_string(guess.codePage) + " does not decode to UTF-8";
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string problem = lumeval::fuzz::FuzzTextFile(data, size);
    if (problem.empty()) {
        problem = CheckDetection(std::string_view(reinterpret_cast<const char*>(data), size));
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "FuzzTextFile: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
