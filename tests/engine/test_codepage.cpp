// Code-page conversion and the UTF-8 primitives under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/encoding/codepage.h"

namespace lumeval {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

// The vector counts against a byte at a time, at lengths around its 16-byte
// steps and its 255-step rounds, with the bytes it looks for anywhere.
TEST(ByteCensus, CountsWhatAByteAtATimeCounts) {
    std::mt19937 random(7);
    for (const std::size_t length : {0, 1, 15, 16, 17, 255 * 16 - 1, 255 * 16, 255 * 16 + 33, 9000}) {
        for (int trial = 0; trial < 20; ++trial) {
            std::string text(length, 'a');
            const char kinds[] = {'\n', '\r', '\0', '\x80', '\xFF', 'z'};
            for (char& c : text) {
                if (random() % 8 == 0) c = kinds[random() % std::size(kinds)];
            }
            const ByteCensus census = TakeByteCensus(text);
            EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), census.lf);
            EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')), census.cr);
            EXPECT_EQ(text.find('\0') != std::string::npos, census.zero) << length;
            EXPECT_EQ(std::any_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; }),
                      census.high)
                << length;
        }
    }
}

TEST(CodePage, ResolvesDefaultAndKnowsItsPages) {
    EXPECT_EQ(936, ResolveCodePage(0));
    EXPECT_EQ(950, ResolveCodePage(950));
    EXPECT_EQ(1252, ResolveCodePage(1252));
    for (int32_t page : {0, 936, 950, 1252, 65001, 932, 949}) {
        EXPECT_TRUE(CodePageAvailable(page)) << page;
    }
    // 1200 is UTF-16 to ICU: no byte-oriented page stands behind it.
    for (int32_t page : {12345, -7, 1200}) {
        EXPECT_FALSE(CodePageAvailable(page)) << page;
        std::string out = "x";
        EXPECT_FALSE(DecodeCodePage("abc", page, out)) << page;
        EncodeResult r = EncodeCodePage("abc", page, out, false);
        EXPECT_FALSE(r.ok) << page;
    }
}

struct RoundTripCase {
    int32_t page;
    const char* bytes;
    const char* text;
};

TEST(CodePage, DecodesAndEncodesKnownText) {
    const RoundTripCase cases[] = {
        {936, "\xD6\xD0\xCE\xC4 abc", "中文 abc"},
        {0, "\xBC\xF2\xCC\xE5", "简体"},
        {950, "\xA4\xA4\xA4\xE5", "中文"},
        {950, "\xC1\x63\xC5\xE9", "繁體"},
        {1252, "caf\xE9 \x80", "café €"},
        {65001, "\xE4\xB8\xAD", "中"},
        {936, "", ""},
        // The pages a detected legacy file can be read with.
        {932, "\x82\xA0\x93\xFA", "あ日"},
        {51932, "\xA4\xA2\xC6\xFC", "あ日"},
        {949, "\xB0\xA1\x81\x41", "가갂"},  // 갂 exists in CP949 only, not EUC-KR
        {54936, "\x81\x30\x81\x30", "\xC2\x80"},  // a four-byte sequence
        {28591, "caf\xE9", "café"},
        {28592, "\xB1\xE6", "ąć"},
        {1250, "\xB9\xE6", "ąć"},
        {28598, "\xF9\xEC", "של"},
        {1255, "\xF9\xEC", "של"},
        {1251, "\xC4\xE0", "Да"},
        {20866, "\xE4\xC1", "Да"},
        {28597, "\xE1\xE2", "αβ"},
    };
    for (const RoundTripCase& c : cases) {
        std::string text;
        ASSERT_TRUE(DecodeCodePage(c.bytes, c.page, text)) << c.page;
        EXPECT_EQ(c.text, text) << c.page;
        std::string bytes;
        const EncodeResult r = EncodeCodePage(c.text, c.page, bytes, true);
        EXPECT_TRUE(r.ok) << c.page;
        EXPECT_EQ(c.bytes, bytes) << c.page;
    }
}

TEST(CodePage, AsciiDecodesToItselfWithoutAConverterOnlyWhereTheConverterAgrees) {
    // Text of ASCII alone skips the converter in the pages said to map it to
    // itself: each such page must exist and map every byte below 0x80 so.
    std::string ascii;
    for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
    int pages = 0;
    for (int32_t page = 1; page < 70000; ++page) {
        if (!AsciiIsItself(page)) continue;
        ++pages;
        ASSERT_TRUE(CodePageAvailable(page)) << page;
        std::string out;
        ASSERT_TRUE(DecodeCodePage(ascii, page, out)) << page;  // the short way
        EXPECT_EQ(ascii, out) << page;
        // With a byte above 0x7F the converter reads it all: its ASCII is
        // the same.
        ASSERT_TRUE(DecodeCodePage(ascii + "\xA4", page, out)) << page;
        EXPECT_EQ(ascii, out.substr(0, ascii.size())) << page;
    }
    EXPECT_EQ(28, pages);
    // Pages that do not (a converter that is missing stays missing).
    std::string out;
    EXPECT_FALSE(DecodeCodePage("abc", 12345, out));
    EXPECT_FALSE(AsciiIsItself(932));  // 0x5C is a yen sign to some readers
}

TEST(CodePage, InvalidBytesBecomeReplacementNotNothing) {
    std::string out;
    // A lead byte cut off by the end of the text, and one followed by a byte
    // that cannot trail it.
    ASSERT_TRUE(DecodeCodePage("ab\xD6", 936, out));
    EXPECT_EQ("ab" + kFffd, out);
    ASSERT_TRUE(DecodeCodePage("\xA4\x0A", 950, out));
    EXPECT_EQ(kFffd + "\n", out);
}

TEST(CodePage, GarbageDecodesToValidUtf8OfBoundedSize) {
    std::mt19937 rng(7);
    for (int32_t page : {936, 950, 1252, 65001}) {
        for (int round = 0; round < 50; ++round) {
            std::string bytes(rng() % 3000, '\0');
            for (char& c : bytes) c = char(rng());
            std::string out;
            ASSERT_TRUE(DecodeCodePage(bytes, page, out));
            EXPECT_TRUE(IsValidUtf8(out));
            EXPECT_LE(out.size(), bytes.size() * 3);
        }
    }
    // Every byte a lone invalid lead: the output triples, all of it kept.
    const std::string leads(5000, '\xFF');
    std::string out;
    ASSERT_TRUE(DecodeCodePage(leads, 950, out));
    EXPECT_EQ(leads.size() * 3, out.size());
}

TEST(CodePage, StrictEncodingNamesTheFirstUnmappableCharacter) {
    struct Case {
        const char* text;
        std::size_t offset;
    };
    const Case cases[] = {
        {"abc\xF0\x9F\x98\x80", 3},       // emoji
        {"中文\n¢ and more", 7},          // best fit only: must not pass
        {"ok \xFF tail", 3},              // ill-formed input byte
        {"\xE3\x81\x82\xE0\xB8\x81", 3},  // kana is in GBK, Thai is not
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        const EncodeResult r = EncodeCodePage(c.text, 936, out, true);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_EQ(c.offset, r.badOffset) << c.text;
    }
    // Past the first chunk of the converter's buffer the offset still counts
    // from the start of the text.
    const std::string longText = std::string(20000, 'a') + "中" + "\xF0\x9F\x98\x80" + "b";
    std::string out;
    const EncodeResult r = EncodeCodePage(longText, 936, out, true);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(20003u, r.badOffset);
}

TEST(CodePage, LenientEncodingWritesQuestionMarks) {
    std::string out;
    const EncodeResult r = EncodeCodePage(
        "a\xF0\x9F\x98\x80"
        "b¢中",
        936, out, false);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ("a?b?\xD6\xD0", out);
}

TEST(CodePage, EncodesSingleCodePoints) {
    struct Case {
        char32_t cp;
        int32_t page;
        std::string bytes;
    };
    const Case cases[] = {
        {U'A', 936, "A"},         {U'中', 936, "\xD6\xD0"}, {U'中', 950, "\xA4\xA4"},
        {U'丂', 936, "\x81\x40"}, {U'€', 936, "\x80"},      {U'中', 65001, "\xE4\xB8\xAD"},
        {0x1F600, 936, ""},       {0xD800, 936, ""},        {0x110000, 65001, ""},
        {U'A', 12345, ""},
    };
    for (const Case& c : cases) {
        unsigned char buf[8];
        const std::size_t n = EncodeCodePoint(c.cp, c.page, buf);
        EXPECT_EQ(c.bytes, std::string(reinterpret_cast<char*>(buf), n))
            << std::hex << uint32_t(c.cp) << " in " << std::dec << c.page;
    }
}

TEST(CodePage, ConvertersAreIndependentPerThread) {
    auto work = [](int32_t page, const std::string& bytes, const std::string& text, bool& ok) {
        ok = true;
        for (int i = 0; i < 2000 && ok; ++i) {
            std::string out;
            ok = DecodeCodePage(bytes, page, out) && out == text;
            ok = ok && EncodeCodePage(text, page, out, true).ok && out == bytes;
        }
    };
    bool ok1 = false;
    bool ok2 = false;
    std::thread t1(work, 936, std::string("\xD6\xD0\xCE\xC4"), std::string("中文"), std::ref(ok1));
    std::thread t2(work, 950, std::string("\xA4\xA4\xA4\xE5"), std::string("中文"), std::ref(ok2));
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

// ---- UTF-8 primitives ----

TEST(Utf8, DecodesOneStepWithMaximalSubparts) {
    struct Case {
        std::string bytes;
        char32_t cp;
        uint32_t length;
        bool valid;
    };
    const Case cases[] = {
        {"A", U'A', 1, true},
        {"\xC3\xA9", 0xE9, 2, true},
        {"\xE4\xB8\xAD", 0x4E2D, 3, true},
        {"\xF0\x9F\x98\x80", 0x1F600, 4, true},
        {"\xC0\x80", 0xFFFD, 1, false},          // overlong
        {"\xE0\x80\x80", 0xFFFD, 1, false},      // overlong
        {"\xED\xA0\x80", 0xFFFD, 1, false},      // surrogate
        {"\xF4\x90\x80\x80", 0xFFFD, 1, false},  // past U+10FFFF
        {"\xE4\xB8", 0xFFFD, 2, false},          // truncated
        {"\xE4\xB8"
         "A",
         0xFFFD, 2, false},
        {"\xF0\x9F\x98", 0xFFFD, 3, false},
        {"\x80", 0xFFFD, 1, false},
        {"\xFF", 0xFFFD, 1, false},
    };
    for (const Case& c : cases) {
        const Utf8Char got = DecodeUtf8At(c.bytes, 0);
        EXPECT_EQ(uint32_t(c.cp), uint32_t(got.cp)) << testing::PrintToString(c.bytes);
        EXPECT_EQ(c.length, got.length) << testing::PrintToString(c.bytes);
        EXPECT_EQ(c.valid, got.valid) << testing::PrintToString(c.bytes);
        EXPECT_EQ(c.valid, IsValidUtf8(c.bytes)) << testing::PrintToString(c.bytes);
    }
}

// The validator takes sixteen-byte blocks of ASCII and common CJK as a whole;
// every text must get the verdict (and SanitizeUtf8 the result) that reading
// it one DecodeUtf8At step at a time gives.
TEST(Utf8, BlockValidationAgreesWithStepwiseDecoding) {
    const auto stepwise = [](const std::string& s) {
        std::string out;
        for (std::size_t i = 0; i < s.size();) {
            const Utf8Char c = DecodeUtf8At(s, i);
            AppendUtf8(out, c.cp);
            i += c.length;
        }
        return out;
    };
    // Pieces that sit at every offset of a block: CJK (leads E4..E9), the
    // leads with tighter second bytes (E0, ED), two- and four-byte forms,
    // lone and misplaced continuation bytes, truncated sequences, surrogates.
    const std::vector<std::string> pieces{
        "a", " ", "0123456789", "中", "文字", "\xE1\x80\x80", "\xEC\xBF\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF",
        "\xE0\xA0\x80", "\xE0\x80\x80", "\xED\x9F\xBF", "\xED\xA0\x80", "é", "\xF0\x9F\x98\x80",
        "\x80", "\xBF", "\xE4\xB8", "\xE4", "\xC0\x80", "\xF5\x80\x80\x80", "\xFF", "\xE4\xB8\xE4"};
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int count = static_cast<int>(rng() % 40);
        // Mostly valid CJK and ASCII, now and then a piece that may not be.
        for (int k = 0; k < count; ++k) {
            const std::size_t pick = rng() % 8 == 0 ? rng() % pieces.size() : rng() % 5;
            s += pieces[pick];
        }
        const std::string expected = stepwise(s);
        ASSERT_EQ(expected == s, IsValidUtf8(s)) << testing::PrintToString(s);
        ASSERT_EQ(expected, SanitizeUtf8(s)) << testing::PrintToString(s);
    }
}

TEST(Utf8, SanitizesAndAppends) {
    EXPECT_EQ("abc", SanitizeUtf8("abc"));
    EXPECT_EQ("a" + kFffd + "b", SanitizeUtf8("a\xFF"
                                              "b"));
    EXPECT_EQ(kFffd + kFffd + "x", SanitizeUtf8("\xE4\xB8\xC0x"));
    EXPECT_EQ(std::string("a\0b", 3), SanitizeUtf8(std::string("a\0b", 3)));
    EXPECT_TRUE(IsAscii(std::string(100, 'a')));
    EXPECT_FALSE(IsAscii(std::string(100, 'a') + "\x80"));

    std::string out;
    AppendUtf8(out, 0x24);
    AppendUtf8(out, 0x20AC);
    AppendUtf8(out, 0x1F600);
    AppendUtf8(out, 0xDC00);
    AppendUtf8(out, 0x110000);
    EXPECT_EQ("$€\xF0\x9F\x98\x80" + kFffd + kFffd, out);
}

}  // namespace
}  // namespace lumeval
