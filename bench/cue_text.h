// Cue text shared by the benchmark generators: a PRNG that gives the same
// numbers everywhere and Chinese and English lines like those of real
// subtitles and lyrics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace lumeval_bench {

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

inline constexpr std::string_view kChinese[] = {
    "我们", "今天", "不知道", "你好", "这个", "什么", "时候", "一起", "回家", "朋友",
    "真的", "没有", "可以", "因为", "所以", "但是", "已经", "喜欢", "电影", "世界",
    "问题", "我们走吧", "别担心", "怎么了", "谢谢你", "对不起", "明天见", "快点",
    "小心", "等一下", "他说", "她在哪里", "为什么", "相信我", "这里", "那边", "晚上",
    "早上好", "工作", "学校", "妈妈", "爸爸", "孩子", "城市", "车站", "飞机", "电话",
    "时间", "钱", "吃饭", "睡觉", "听着", "看看", "知道了", "没关系", "当然", "一定",
};

inline constexpr std::string_view kEnglish[] = {
    "the", "you", "we", "they", "know", "what", "where", "time", "home", "friend",
    "really", "never", "always", "because", "but", "already", "like", "movie", "world",
    "problem", "let's", "go", "don't", "worry", "thank", "sorry", "tomorrow", "hurry",
    "careful", "wait", "said", "why", "believe", "me", "here", "there", "night", "morning",
    "work", "school", "mother", "father", "child", "city", "station", "plane", "phone",
    "money", "eat", "sleep", "listen", "look", "okay", "of", "course", "sure", "right",
};

// ASCII that turns up inside Chinese subtitles: names, numbers, brands.
inline constexpr std::string_view kAsciiInChinese[] = {
    "OK", "Tom", "iPhone", "2024", "CEO", "Wi-Fi", "100", "DNA", "Anna", "NBA",
};

template <std::size_t N>
inline std::string_view pick(Rng& rng, const std::string_view (&words)[N]) {
    return words[rng.below(static_cast<uint32_t>(N))];
}

inline std::string chineseLine(Rng& rng, bool shortLine) {
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

inline std::string englishLine(Rng& rng, bool shortLine) {
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

/// A whole count in decimal, no sign; false for anything else.
inline bool parseCount(const char* text, uint64_t& value) {
    if (*text == '\0' || *text == '-') return false;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return *end == '\0';
}

}  // namespace lumeval_bench
