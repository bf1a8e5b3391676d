// lumeval-gen-srt: writes a large, realistic SubRip file for benchmarks.
//
//   lumeval-gen-srt N OUT [--seed S] [--shared-spans] [--max-hours H]
//
// N cues, UTF-8 without a mark, CRLF line ends. About 60% of the cues hold
// simplified Chinese (often with some ASCII), the rest English; some carry
// <i>..</i> or {\an8}; about 30% have two lines. Times increase, with an
// occasional overlap, and average about 90 bytes per cue. The same N and seed
// always give the same bytes: the generator uses its own PRNG and no standard
// distribution, whose results differ between standard libraries.
//
// --shared-spans gives every second cue the span of the cue before it, so the
// converter's merge of shared spans has as much work as it can get.
//
// At about 3.3 s per cue, a file passes 100 hours near cue 110,000; from there
// on the hours have three digits, which is no longer the fixed-width form of
// the line table. --max-hours H shrinks every time by one factor so that the
// last cue ends before H hours (cues get shorter, the order stays the same).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "cue_text.h"

namespace {

using lumeval_bench::chineseLine;
using lumeval_bench::englishLine;
using lumeval_bench::parseCount;
using lumeval_bench::Rng;

void appendTime(std::string& out, uint64_t ms) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u,%03u", static_cast<unsigned>(ms / 3600000),
                  static_cast<unsigned>(ms / 60000 % 60), static_cast<unsigned>(ms / 1000 % 60),
                  static_cast<unsigned>(ms % 1000));
    out += buf;
}

int usage() {
    std::fprintf(stderr,
                 "usage: lumeval-gen-srt N OUT [--seed S] [--shared-spans] [--max-hours H]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    uint64_t count = 0;
    uint64_t seed = 1;
    bool sharedSpans = false;
    uint64_t maxHours = 0;
    if (!parseCount(argv[1], count) || count == 0) return usage();
    const char* outPath = argv[2];
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            if (!parseCount(argv[++i], seed)) return usage();
        } else if (std::strcmp(argv[i], "--max-hours") == 0 && i + 1 < argc) {
            if (!parseCount(argv[++i], maxHours) || maxHours == 0) return usage();
        } else if (std::strcmp(argv[i], "--shared-spans") == 0) {
            sharedSpans = true;
        } else {
            return usage();
        }
    }

    std::FILE* out = std::fopen(outPath, "wb");
    if (!out) {
        std::perror(outPath);
        return 1;
    }

    // The largest advance from one cue's start to the next is below 5600 ms.
    double scale = 1.0;
    if (maxHours > 0) {
        const double bound = 1000.0 + static_cast<double>(count) * 5600.0;
        scale = std::min(1.0, static_cast<double>(maxHours) * 3600000.0 / bound);
    }
    auto scaled = [scale](uint64_t ms) {
        return static_cast<uint64_t>(static_cast<double>(ms) * scale);
    };

    Rng rng(seed);
    std::string block;
    std::string buffer;
    buffer.reserve(1 << 20);
    uint64_t start = 1000;
    uint64_t prevStart = 0;
    uint64_t prevEnd = 0;
    for (uint64_t n = 1; n <= count; ++n) {
        uint64_t cueStart = start;
        uint64_t cueEnd = start + 800 + rng.below(3200);
        const bool reuseSpan = sharedSpans && n % 2 == 0;
        if (reuseSpan) {
            cueStart = prevStart;
            cueEnd = prevEnd;
        }

        block.clear();
        block += std::to_string(n);
        block += "\r\n";
        appendTime(block, scaled(cueStart));
        block += " --> ";
        appendTime(block, scaled(cueEnd));
        block += "\r\n";

        const bool chinese = rng.chance(60);
        const bool twoLines = rng.chance(30);
        if (rng.chance(4)) block += "{\\an8}";
        const bool italic = rng.chance(8);
        if (italic) block += "<i>";
        block += chinese ? chineseLine(rng, twoLines) : englishLine(rng, twoLines);
        if (twoLines) {
            block += "\r\n";
            block += chinese ? chineseLine(rng, true) : englishLine(rng, true);
        }
        if (italic) block += "</i>";
        block += "\r\n\r\n";
        buffer += block;
        if (buffer.size() >= (1u << 20)) {
            if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) break;
            buffer.clear();
        }

        prevStart = cueStart;
        prevEnd = cueEnd;
        if (!reuseSpan) {
            // Mostly a gap after the cue; one in ten starts before it ends.
            start = rng.chance(10) ? cueEnd - 300 - rng.below(400) : cueEnd + 100 + rng.below(1500);
        }
    }
    const bool written = std::fwrite(buffer.data(), 1, buffer.size(), out) == buffer.size() &&
                         std::fflush(out) == 0 && !std::ferror(out);
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "%s: write failed\n", outPath);
        return 1;
    }
    return 0;
}
