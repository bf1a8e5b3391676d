// lumeval-gen-lrc: writes a large, realistic LRC lyric file for benchmarks.
//
//   lumeval-gen-lrc N OUT [--seed S] [--lf]
//
// A short header ([ti:], [ar:], [al:], [by:], [offset:0]), then N lyric lines
// "[mm:ss.xx]text", UTF-8 without a mark, CRLF line ends (LF with --lf).
// About 60% of the lines are simplified Chinese (often with some ASCII), the
// rest English, without the closing punctuation subtitles carry. After every
// tenth lyric line a bare "[mm:ss.xx]" marks where the singing stops, as real
// files do before an instrumental break.
//
// Lines start about 3.7 s apart (breaks included), close to the SubRip
// generator's cues without --max-hours: the minutes pass 99 near line 1,650
// and then keep growing, since LRC has no hour field (200,000 lines end near
// "[12203:51.39]"). Times increase strictly, at least 0.9 s per line. The same
// N, seed and options always give the same bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cue_text.h"

namespace {

using lumeval_bench::kAsciiInChinese;
using lumeval_bench::kChinese;
using lumeval_bench::kEnglish;
using lumeval_bench::pick;
using lumeval_bench::parseCount;
using lumeval_bench::Rng;

// Chinese lyrics split a line into phrases with spaces rather than commas.
std::string chineseLyric(Rng& rng) {
    std::string line;
    const uint32_t phrases = 1 + rng.below(2);
    for (uint32_t p = 0; p < phrases; ++p) {
        if (p > 0) line += ' ';
        const uint32_t words = 2 + rng.below(3);
        for (uint32_t w = 0; w < words; ++w) {
            line += rng.chance(10) ? pick(rng, kAsciiInChinese) : pick(rng, kChinese);
        }
    }
    return line;
}

std::string englishLyric(Rng& rng) {
    std::string line;
    const uint32_t words = 4 + rng.below(5);
    for (uint32_t w = 0; w < words; ++w) {
        const std::string_view word = pick(rng, kEnglish);
        if (w == 0) {
            line += static_cast<char>(word[0] >= 'a' && word[0] <= 'z' ? word[0] - 32 : word[0]);
            line += word.substr(1);
        } else {
            line += (w == words / 2 && rng.chance(25)) ? ", " : " ";
            line += word;
        }
    }
    return line;
}

// Minutes are not wrapped: LRC has no hour field.
void appendStamp(std::string& out, uint64_t ms) {
    const uint64_t cs = ms / 10;
    char buf[32];
    std::snprintf(buf, sizeof buf, "[%02llu:%02u.%02u]", static_cast<unsigned long long>(cs / 6000),
                  static_cast<unsigned>(cs / 100 % 60), static_cast<unsigned>(cs % 100));
    out += buf;
}

int usage() {
    std::fprintf(stderr, "usage: lumeval-gen-lrc N OUT [--seed S] [--lf]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    uint64_t count = 0;
    uint64_t seed = 1;
    const char* eol = "\r\n";
    if (!parseCount(argv[1], count) || count == 0) return usage();
    const char* outPath = argv[2];
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            if (!parseCount(argv[++i], seed)) return usage();
        } else if (std::strcmp(argv[i], "--lf") == 0) {
            eol = "\n";
        } else {
            return usage();
        }
    }

    std::FILE* out = std::fopen(outPath, "wb");
    if (!out) {
        std::perror(outPath);
        return 1;
    }

    std::string buffer;
    buffer.reserve(1 << 20);
    for (const char* tag : {"[ti:夜空 Night Sky]", "[ar:林小雨 & Tom]", "[al:城市的灯 City Lights]",
                            "[by:lumeval-gen-lrc]", "[offset:0]"}) {
        buffer += tag;
        buffer += eol;
    }

    Rng rng(seed);
    uint64_t start = 1000;
    for (uint64_t n = 1; n <= count; ++n) {
        appendStamp(buffer, start);
        buffer += rng.chance(60) ? chineseLyric(rng) : englishLyric(rng);
        buffer += eol;
        const uint64_t end = start + 800 + rng.below(3200);
        if (n % 10 == 0) {
            appendStamp(buffer, end);
            buffer += eol;
            // An instrumental break follows the end marker.
            start = end + 2000 + rng.below(6000);
        } else {
            start = end + 100 + rng.below(1500);
        }
        if (buffer.size() >= (1u << 20)) {
            if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) break;
            buffer.clear();
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
