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

namespace {

// splitmix64: tiny, fast, and the same everywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    /// Uniform in [0, n); the modulo bias is irrelevant for n this small.
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    /// True with probability percent / 100.
    bool chance(uint32_t percent) { return below(100) < percent; }

private:
    uint64_t m_state;
};

constexpr std::string_view kChinese[] = {
    "我们", "今天", "不知道", "你好", "这个", "什么", "时候", "一起", "回家", "朋友",
    "真的", "没有", "可以", "因为", "所以", "但是", "已经", "喜欢", "电影", "世界",
    "问题", "我们走吧", "别担心", "怎么了", "谢谢你", "对不起", "明天见", "快点",
    "小心", "等一下", "他说", "她在哪里", "为什么", "相信我", "这里", "那边", "晚上",
    "早上好", "工作", "学校", "妈妈", "爸爸", "孩子", "城市", "车站", "飞机", "电话",
    "时间", "钱", "吃饭", "睡觉", "听着", "看看", "知道了", "没关系", "当然", "一定",
};

constexpr std::string_view kEnglish[] = {
    "the", "you", "we", "they", "know", "what", "where", "time", "home", "friend",
    "really", "never", "always", "because", "but", "already", "like", "movie", "world",
    "problem", "let's", "go", "don't", "worry", "thank", "sorry", "tomorrow", "hurry",
    "careful", "wait", "said", "why", "believe", "me", "here", "there", "night", "morning",
    "work", "school", "mother", "father", "child", "city", "station", "plane", "phone",
    "money", "eat", "sleep", "listen", "look", "okay", "of", "course", "sure", "right",
};

// ASCII that turns up inside Chinese subtitles: names, numbers, brands.
constexpr std::string_view kAsciiInChinese[] = {
    "OK", "Tom", "iPhone", "2024", "CEO", "Wi-Fi", "100", "DNA", "Anna", "NBA",
};

template <std::size_t N>
std::string_view pick(Rng& rng, const std::string_view (&words)[N]) {
    return words[rng.below(static_cast<uint32_t>(N))];
}

std::string chineseLine(Rng& rng, bool shortLine) {
    std::string line;
    const uint32_t words = shortLine ? 2 + rng.below(3) : 4 + rng.below(5);
    for (uint32_t w = 0; w < words; ++w) {
        if (rng.chance(12)) {
            line += pick(rng, kAsciiInChinese);
        } else {
            line += pick(rng, kChinese);
        }
        if (w + 1 < words && rng.chance(20)) line += "，";
    }
    line += rng.chance(50) ? "。" : (rng.chance(50) ? "？" : "！");
    return line;
}

std::string englishLine(Rng& rng, bool shortLine) {
    std::string line;
    const uint32_t words = shortLine ? 3 + rng.below(3) : 5 + rng.below(5);
    for (uint32_t w = 0; w < words; ++w) {
        std::string_view word = pick(rng, kEnglish);
        if (w == 0) {
            line += static_cast<char>(word[0] >= 'a' && word[0] <= 'z' ? word[0] - 32 : word[0]);
            line += word.substr(1);
        } else {
            line += ' ';
            line += word;
        }
    }
    line += rng.chance(70) ? "." : "?";
    return line;
}

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

bool parseCount(const char* text, uint64_t& value) {
    if (*text == '\0' || *text == '-') return false;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return *end == '\0';
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
