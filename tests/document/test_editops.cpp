#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "document/editops.h"

namespace lumeval::doc {
namespace {

struct AcceptedTime {
    const char* text;
    int64_t ms;
};

TEST(ParseTypedTime, AcceptedForms) {
    const AcceptedTime cases[] = {
        {"00:01:02,500", 62500},
        {"1:02:03.5", 3723500},
        {"01:02,5", 62500},
        {"1:02.5", 62500},
        {"62.5", 62500},
        {"62", 62000},
        {"0:00:00.04", 40},
        {"0", 0},
        {"  1:02 \t", 62000},
        {"\xE3\x80\x80"
         "3\xE3\x80\x80",
         3000},                       // ideographic spaces around
        {"0001:0002:0003", 3723000},  // any width of digits
        {"120:00", 7200000},          // the first field may pass 59
        {"7200", 7200000},
        {"999:59:59.999", 3599999999},
        {"3599999.999", 3599999999},
        {"1.2345", 1234},
        {"1.2346", 1235},
        {"1.0005", 1000},  // halves go to the even millisecond
        {"1.0015", 1002},
        {"1.00050000000000001", 1001},  // just above a half
        {"1.0004999", 1000},
        {"59.9995", 60000},  // rounding carries into the next second
        {"1:59.9999", 120000},
        {"0.000000000000000000000000000000000000000001", 0},
    };
    for (const auto& c : cases) {
        const TypedTime t = ParseTypedTime(c.text);
        ASSERT_TRUE(t.ms.has_value()) << c.text << ": " << t.error;
        EXPECT_EQ(c.ms, *t.ms) << c.text;
        EXPECT_TRUE(t.error.empty()) << c.text;
    }
}

struct RefusedTime {
    std::string text;
    const char* reasonPart;  // a piece the reason must contain
};

TEST(ParseTypedTime, RefusedWithAReason) {
    const RefusedTime cases[] = {
        {"", "请输入时间"},
        {"   \t", "请输入时间"},
        {"1a", "无法识别的时间：1a"},
        {"abc", "无法识别的时间：abc"},
        {"-1", "无法识别"},
        {"+1", "无法识别"},
        {"1: 02", "无法识别"},  // blanks only around
        {"1::2", "无法识别"},   // empty field
        {":30", "无法识别"},
        {"30:", "无法识别"},
        {"62.", "无法识别"},  // empty fraction
        {".5", "无法识别"},
        {"1.2.3", "无法识别"},
        {"1,5:00", "无法识别"},  // a fraction only ends the text
        {"1:2:3:4", "三段"},
        {"0:0:0:0:0:0", "三段"},
        {"1:60", "分钟和秒必须小于 60"},
        {"1:00:60", "分钟和秒必须小于 60"},
        {"1:60:00", "分钟和秒必须小于 60"},
        {"0:100", "分钟和秒必须小于 60"},
        {"1000:00:00", "时间太大"},
        {"999:59:59.9995", "时间太大"},  // rounds up past the largest time
        {"3600000", "时间太大"},
        {"99999999999999999999999999999", "时间太大"},  // far beyond int64
        {std::string(65, '0'), "太长"},
        {std::string(10 << 20, '9'), "太长"},
        {"1" + std::string(1000, ' ') + "2", "太长"},
        {std::string("1\0", 2), "无法识别"},
        {"１：０２", "无法识别"},  // full-width digits are not read
    };
    for (const auto& c : cases) {
        const TypedTime t = ParseTypedTime(c.text);
        const std::string shown = c.text.substr(0, 40);
        EXPECT_FALSE(t.ms.has_value()) << shown;
        EXPECT_NE(std::string::npos, t.error.find(c.reasonPart)) << shown << " -> " << t.error;
        EXPECT_LT(t.error.size(), 200u) << shown;  // never echoes a huge paste
    }
}

struct SplitPointCase {
    const char* name;
    std::string text;
    std::size_t offset;
};

TEST(SplitPoint, NearestPlaceToTheMiddle) {
    const SplitPointCase cases[] = {
        {"latin, one space", "abc def", 3},
        {"latin, space nearest the middle", "a bcdefgh ij", 9},
        {"latin, equal spaces pick the earlier", "ab cd ef", 2},
        {"latin, no place", "abcdef", 0},
        {"break in the middle", "Hello\\Nthere", 5},
        {"space nearer than a break", "ab\\Ncd ef g", 6},
        {"break beats an equally near boundary", "ab你cd\\Nef", 7},
        {"space nearer than a break before it", "a\\Nbcdef ghijkl", 8},
        {"cjk, even length", "你好世界", 6},
        {"cjk, odd length", "你好世界啊", 6},
        {"cjk with a break", "你好\\N世界", 6},
        {"cjk with a space", "你好 世界", 6},
        {"cjk beside latin", "abc你", 3},
        {"latin beside cjk", "你abc", 3},
        {"kana", "こんにちは", 6},
        {"hangul", "안녕하세요", 6},
        {"full-width comma", "ab，cd", 2},
        {"extension b", "\xF0\xA0\x80\x80\xF0\xA0\x80\x81", 4},
        {"empty", "", 0},
        {"one cjk character", "你", 0},
        {"only spaces", "   ", 0},
        {"spaces at the ends only", " abc ", 0},
        {"break at the ends only", "\\Nabc\\N", 0},
        {"break with nothing after", "abc\\N ", 0},
        {"a single character", "a", 0},
        {"backslash without N", "ab\\cd", 0},
        {"stray bytes are characters", "ab\xFF\xFE cd", 4},
        {"truncated sequence", "\xE4\xBD", 0},
        {"cjk after a stray byte", "\xFF你", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.offset, SplitPoint(c.text)) << c.name;
    }
}

// Whatever the text, the place lies inside it, on a code point boundary, and
// not between the two characters of a break.
TEST(SplitPoint, NeverInsideACodePointOrABreak) {
    const std::string texts[] = {
        "你\\N好",
        "a\\N\\Nb",
        "\\\\N\\\\N",
        "\xE4\xBD\xA0\xE4\xBD",
        "\x80\x80\x80 \x80",
        "ab\\ Ncd",
        "混合 mixed 文本\\Nline two",
        std::string("a\0b c", 5),
    };
    for (const std::string& t : texts) {
        const std::size_t at = SplitPoint(t);
        ASSERT_LE(at, t.size()) << t;
        if (at == 0) continue;
        EXPECT_LT(at, t.size()) << t;
        const auto byte = static_cast<unsigned char>(t[at]);
        const auto before = static_cast<unsigned char>(t[at - 1]);
        const bool insideSequence = (byte & 0xC0) == 0x80 && before >= 0xC0;
        EXPECT_FALSE(insideSequence) << t;
        EXPECT_FALSE(t[at - 1] == '\\' && t[at] == 'N') << t;
    }
}

struct SplitCueCase {
    const char* name;
    int64_t start, end;
    std::string text;
    std::size_t pos;
    const char* first;
    const char* second;
    int64_t at;
};

TEST(SplitCue, PartsAndProportionalTimes) {
    const SplitCueCase cases[] = {
        {"space trimmed at the cut", 0, 7000, "abc def", 3, "abc", "def", 3500},
        {"cut after the space", 0, 7000, "abc def", 4, "abc", "def", 3500},
        {"break dropped", 1000, 3000, "Hello\\Nthere", 5, "Hello", "there", 2000},
        {"cut just after the break", 1000, 3000, "Hello\\Nthere", 7, "Hello", "there", 2000},
        {"cut between backslash and N", 1000, 3000, "Hello\\Nthere", 6, "Hello", "there", 2000},
        {"spaces around the break", 0, 900, "ab \\N cd", 3, "ab", "cd", 450},
        {"several breaks at the cut", 0, 900, "ab\\N\\Ncd", 4, "ab", "cd", 450},
        {"other breaks stay", 0, 400, "a\\Nb c\\Nd", 5, "a\\Nb", "c\\Nd", 200},
        {"uneven parts", 0, 1000, "a bcd", 1, "a", "bcd", 250},
        {"rounded down", 0, 1000, "ab c", 2, "ab", "c", 666},
        {"cjk counted by code point", 0, 4000, "你好世界", 3, "你", "好世界", 1000},
        {"pos inside a code point moves back", 0, 4000, "你好世界", 4, "你", "好世界", 1000},
        {"pos inside the first code point", 0, 4000, "你好世界", 2, "", "你好世界", 0},
        {"pos beyond the text", 0, 1000, "abc", 99, "abc", "", 1000},
        {"pos at zero", 500, 1500, "abc", 0, "", "abc", 500},
        {"empty text splits in the middle", 1000, 2001, "", 0, "", "", 1500},
        {"only spaces split in the middle", 0, 100, "   ", 1, "", "", 50},
        {"end before start", 5000, 4000, "ab cd", 2, "ab", "cd", 5000},
        {"zero length", 5000, 5000, "ab cd", 2, "ab", "cd", 5000},
        {"stray bytes count once each", 0, 300, "\xFF\xFE z", 2, "\xFF\xFE", "z", 200},
        {"huge span does not overflow", INT64_MIN / 2, INT64_MAX / 2, "ab", 1, "a", "b", -1},
    };
    for (const auto& c : cases) {
        const SplitParts p = SplitCue(c.start, c.end, c.text, c.pos);
        EXPECT_EQ(c.first, p.first) << c.name;
        EXPECT_EQ(c.second, p.second) << c.name;
        EXPECT_EQ(c.at, p.at) << c.name;
    }
}

// The split the document makes without a cursor: the proposed place then
// the cut, on texts that mix scripts.
TEST(SplitCue, AtTheProposedPlace) {
    const std::string text = "我们走吧 let's go";
    const SplitParts p = SplitCue(0, 1300, text, SplitPoint(text));
    EXPECT_EQ("我们走吧", p.first);
    EXPECT_EQ("let's go", p.second);
    EXPECT_EQ(1300 * 4 / 12, p.at);
}

}  // namespace
}  // namespace lumeval::doc
