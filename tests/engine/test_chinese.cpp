// GB / BIG5 classification, simplified / traditional mapping, the per-line
// conversion step.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/encoding/chinese.h"
#include "engine/encoding/codepage.h"
#include "engine/subtitle.h"
#include "codepage_test_util.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::Decode;
using test::Encode;

// ---- classification ----

TEST(ChineseClass, FirstDecidingDoubleByteCharacterWins) {
    struct Case {
        std::string text;
        int32_t page;
        int32_t cls;
    };
    const std::string big5Read = Decode("\xA7\x41", 936);  // BIG5 "你" read as GBK
    const Case cases[] = {
        {"", 0, 0},
        {"only ASCII 123", 0, 0},
        {"中文", 0, 2},
        {"丂", 0, 1},                        // GBK 81 40
        {"a \xF0\x9F\x98\x80 丂 中", 0, 1},  // the emoji is not in GBK: skipped
        {"\xFF\xE4\xB8 丂", 0, 1},           // stray bytes: skipped
        {"€ 中", 0, 2},                      // one byte in GBK: next
        {big5Read + "中", 936, 1},
        {"你", 950, 1},                        // BIG5 A7 41
        {"中", 950, 2},                        // BIG5 A4 A4
        {"\xE0\xB8\x81\xE0\xB8\x82", 936, 0},  // Thai: nothing GBK holds
        {"é", 65001, 2},                       // C3 A9
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.cls, CheckChineseInternalCodeSpecification(c.text, c.page))
            << testing::PrintToString(c.text) << " in " << c.page;
        EXPECT_EQ(c.cls == 1, CheckBIG5(c.text, c.page)) << testing::PrintToString(c.text);
    }
}

TEST(ChineseClass, LongRunsOfForeignCharactersStillReachTheDecider) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "\xE0\xB8\x81";  // Thai, not in GBK
    EXPECT_EQ(0, CheckChineseInternalCodeSpecification(text));
    text += "丂";
    EXPECT_EQ(1, CheckChineseInternalCodeSpecification(text));
}

// ---- mapping ----

TEST(ChineseMapping, MapsPlainTextAndLeavesMarkupAlone) {
    struct Case {
        std::string in;
        std::string simplified;
    };
    const Case cases[] = {
        {"漢字", "汉字"},
        {"一目瞭然", "一目了然"},  // a phrase whose key holds no single-character change
        {"plain ASCII {\\b1}", "plain ASCII {\\b1}"},
        {"{\\fn微軟正黑體}漢字<font color=\"#ff0000\">體</font>",
         "{\\fn微軟正黑體}汉字<font color=\"#ff0000\">体</font>"},
        {"<i>後來</i>\\N{\\i1}發現", "<i>后来</i>\\N{\\i1}发现"},
        {"{漢字", "{汉字"},  // nothing closes it: plain text
        {"<漢字 {體", "<汉字 {体"},
        {"漢}字>體", "汉}字>体"},
        {"{{{{體", "{{{{体"},
        {std::string("漢\0體\xFF後", 11), std::string("汉\0体\xFF后", 11)},
        {"漢\xE5\xAD", "汉\xE5\xAD"},  // truncated character at the end
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.simplified, ToSimplifiedChinese(c.in)) << c.in;
    }
    EXPECT_EQ("漢字", ToTraditionalChinese("汉字"));
    EXPECT_EQ("{\\fn微软}漢字", ToTraditionalChinese("{\\fn微软}汉字"));
    EXPECT_EQ("頭髮", ToTraditionalChinese("头发"));
}

// The shortcut that skips OpenCC must never change a result.
TEST(ChineseMapping, ShortcutAgreesWithOpenCC) {
    std::vector<std::string> lines = {
        "一目瞭然", "不瞭解", "沈默", "乾隆",     "著作", "頭髮", "理髮", "發展", "乾燥",
        "一只",     "一周",   "上梁", "七情六欲", "头发", "理发", "皇后", "后来", "鍾意",
    };
    // Every CJK code point, in small windows.
    for (char32_t start = 0x3000; start < 0xA000; start += 5) {
        std::string line;
        for (char32_t cp = start; cp < start + 5; ++cp) AppendUtf8(line, cp);
        lines.push_back(line);
    }
    // Random phrases over a mixed pool, so dictionary phrases turn up.
    const std::string pool =
        "一不了么了著乾干後后發发頭头理髮只隻周週面麵的是我你他她們们來来中文字幕體体";
    std::vector<char32_t> cps;
    for (std::size_t i = 0; i < pool.size();) {
        const Utf8Char c = DecodeUtf8At(pool, i);
        cps.push_back(c.cp);
        i += c.length;
    }
    std::mt19937 rng(5);
    for (int i = 0; i < 3000; ++i) {
        std::string line;
        const int n = 1 + int(rng() % 6);
        for (int k = 0; k < n; ++k) AppendUtf8(line, cps[rng() % cps.size()]);
        lines.push_back(line);
    }
    for (const std::string& line : lines) {
        ASSERT_EQ(detail::ToSimplifiedChineseDirect(line), ToSimplifiedChinese(line)) << line;
        ASSERT_EQ(detail::ToTraditionalChineseDirect(line), ToTraditionalChinese(line)) << line;
    }
}

// Long texts are searched for a character the mapping changes sixteen bytes
// at a time: one such character must be found at every offset, also when its
// bytes straddle two blocks, and a text without one must pass.
TEST(ChineseMapping, ChangingCharacterFoundAtEveryOffset) {
    const ConversionContext gb{.mode = kConvertAuto, .cls = kClassGb, .AnsiCodePage = 936};
    const std::string filler = "中文字幕 abc 我们 12";
    std::string plain;
    while (plain.size() < 96) plain += filler;
    ASSERT_FALSE(InternalCodeConversionMayChange(plain, gb));
    for (std::size_t pad = 0; pad < 40; ++pad) {
        const std::string lead(pad, 'x');
        for (const char* changing : {"體", "發"}) {
            EXPECT_TRUE(InternalCodeConversionMayChange(lead + plain + changing + plain, gb)) << pad;
            EXPECT_TRUE(InternalCodeConversionMayChange(lead + changing + plain, gb)) << pad;
            EXPECT_TRUE(InternalCodeConversionMayChange(plain + lead + changing, gb)) << pad;
        }
        EXPECT_FALSE(InternalCodeConversionMayChange(lead + plain + plain, gb)) << pad;
        // A lead cut short by the end of the text, or by a byte that cannot
        // continue it, is no character.
        EXPECT_FALSE(InternalCodeConversionMayChange(plain + lead + "\xE9\xAB", gb)) << pad;
        EXPECT_FALSE(InternalCodeConversionMayChange(plain + lead + "\xE9\xAB" + plain, gb)) << pad;
    }
}

TEST(ChineseMapping, ConcurrentFirstUseIsSafe) {
    std::vector<std::thread> threads;
    std::vector<int> ok(2, 0);
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([t, &ok] {
            bool good = true;
            for (int i = 0; i < 200; ++i) {
                good = good && ToSimplifiedChinese("<b>漢字</b>後") == "<b>汉字</b>后";
                good = good && ToTraditionalChinese("汉字") == "漢字";
            }
            ok[t] = good ? 1 : 0;
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(1, ok[0]);
    EXPECT_EQ(1, ok[1]);
}

// ---- per-line conversion ----

TEST(InternalCodeConversion, RowsOfTheTable) {
    const std::string big5Bytes = "\xC1\x63\xC5\xE9\xA4\xA4\xA4\xE5";  // 繁體中文 in BIG5
    const std::string readAsGbk = Decode(big5Bytes, 936);
    struct Case {
        const char* what;
        std::string line;
        ConversionContext ctx;
        std::string expected;
    };
    const Case cases[] = {
        {"mode 1 repairs BIG5 read as GBK",
         readAsGbk,
         {.mode = 1, .cls = 1, .big5ReadAsGbk = true},
         "繁体中文"},
        {"mode 3 with class 1 repairs too",
         readAsGbk,
         {.mode = 3, .cls = 1, .big5ReadAsGbk = true, .AnsiCodePage = 936},
         "繁体中文"},
        {"mode 2 repairs and stays traditional",
         readAsGbk,
         {.mode = 2, .cls = 1, .big5ReadAsGbk = true},
         "繁體中文"},
        {"mode 0 never repairs", readAsGbk, {.mode = 0, .cls = 1, .big5ReadAsGbk = true}, readAsGbk},
        {"mode 1 on correctly read text only maps", "繁體中文", {.mode = 1, .cls = 1}, "繁体中文"},
        {"mode 1 maps GB-style text too", "漢字", {.mode = 1, .cls = 2}, "汉字"},
        {"mode 0 leaves GB-style text", "漢字{\\b1}體", {.mode = 0, .cls = 2}, "漢字{\\b1}體"},
        {"mode 0 leaves Japanese", "傷つき 夢 僕", {.mode = 0, .cls = 2}, "傷つき 夢 僕"},
        {"mode 0 with class 1 leaves it", "漢字", {.mode = 0, .cls = 1}, "漢字"},
        {"mode 0 with class 0 leaves it", "漢字", {.mode = 0, .cls = 0}, "漢字"},
        {"mode 3 with class 1 maps to simplified", "漢字", {.mode = 3, .cls = 1}, "汉字"},
        {"mode 3 with class 2 maps to simplified", "漢字{\\b1}體", {.mode = 3, .cls = 2},
         "汉字{\\b1}体"},
        {"mode 3 with class 0 leaves it", "漢字", {.mode = 3, .cls = 0}, "漢字"},
        {"mode 2 into Unicode stays Unicode", "汉字", {.mode = 2, .cls = 2}, "漢字"},
        {"mode 2 with class 1 maps to traditional", "汉字", {.mode = 2, .cls = 1}, "漢字"},
        {"mode 2 keeps traditional text", "還有繁體", {.mode = 2, .cls = 1}, "還有繁體"},
        {"unknown mode acts as 0", "漢字", {.mode = 9, .cls = 2}, "漢字"},
        {"ASCII passes every row",
         "00:00:01,000 --> x",
         {.mode = 1, .cls = 1, .big5ReadAsGbk = true},
         "00:00:01,000 --> x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ApplyInternalCodeConversion(c.line, c.ctx)) << c.what;
        // The shortcut never skips a line the step would change.
        if (!InternalCodeConversionMayChange(c.line, c.ctx)) {
            EXPECT_EQ(c.line, c.expected) << c.what;
        }
    }
}

TEST(InternalCodeConversion, TellsBig5ReadAsGbkByItsBytes) {
    struct Case {
        const char* what;
        std::string text;
        bool expected;
    };
    const Case cases[] = {
        {"BIG5 bytes read as GBK", Decode("\xC1\x63\xC5\xE9\xA4\xA4\xA4\xE5", 936), true},
        {"GBK text (GB-style)", "这是中文，還有繁體", false},
        // 丂 classifies as BIG5-style, but its GBK lead 0x81 is no BIG5 lead.
        {"BIG5-style GBK text that is not BIG5", Decode("\x81\x40\xD6\xD0", 936), false},
        {"bytes GBK could not read", Decode("\xC1\x63\xC5\xE9\xFF", 936), false},
        {"ASCII", "plain", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, LooksLikeBig5ReadAsGbk(c.text)) << c.what;
}

TEST(InternalCodeConversion, GbToBig5ForAGbkWriterHoldsBig5Bytes) {
    const ConversionContext ctx{.mode = 2, .cls = 2, .writesAnsi = true, .AnsiCodePage = 0};
    const std::string line = ApplyInternalCodeConversion("汉字", ctx);
    // Saved through GBK, the text gives the BIG5 bytes of "漢字".
    EXPECT_EQ(Encode("漢字", 950), Encode(line, 936));
}

TEST(InternalCodeConversion, SurvivesArbitraryBytes) {
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        std::string line(rng() % 64, '\0');
        for (char& c : line) c = char(rng());
        for (int32_t mode = 0; mode <= 3; ++mode) {
            ConversionContext ctx{.mode = mode,
                                  .cls = int32_t(rng() % 3),
                                  .big5ReadAsGbk = (rng() & 1) != 0,
                                  .writesAnsi = (rng() & 1) != 0};
            (void)ApplyInternalCodeConversion(line, ctx);
        }
        EXPECT_LE(CheckChineseInternalCodeSpecification(line), 2);
        // Bytes OpenCC cannot read pass through untouched.
        const std::string mapped = ToSimplifiedChinese(line);
        if (!IsValidUtf8(line)) {
            EXPECT_FALSE(IsValidUtf8(mapped));
        }
    }
}

// ---- whole loads ----

// The texts of a conversion in event mode.
std::vector<std::string> LoadedTexts(clsSubtitle& engine, const std::string& path, int32_t mode) {
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_InternalCodeConversion = mode;
    std::vector<std::string> texts;
    engine.SubtitleLineLoaded = [&](double, double, const std::string& text) { texts.push_back(text); };
    EXPECT_TRUE(engine.ConvertSubtitle(path, s)) << path << " mode " << mode;
    return texts;
}

std::string ThreeCues(const std::string& text) {
    std::string srt;
    for (int i = 1; i <= 3; ++i) {
        srt += std::to_string(i) + "\r\n00:00:0" + std::to_string(i) + ",000 --> 00:00:0" +
               std::to_string(i) + ",500\r\n" + text + "\r\n\r\n";
    }
    return srt;
}

// Whatever a file's encoding and whatever the mode, a load gives the text
// itself (mode 0), its simplified form (modes 1 and 3) or its traditional
// form (mode 2): never bytes read through the wrong table.
TEST(ChineseLoad, EveryModeOnEveryEncodingGivesTheTextOrItsMappedForm) {
    struct Saved {
        const char* what;
        int32_t fmt;
        int32_t page;  ///< the page written with (encoding 0)
        int32_t expectedPage;  ///< the page the load must report (0: Unicode)
    };
    const Saved encodings[] = {
        {"GBK", kEncodingAnsi, 936, 936},
        {"BIG5", kEncodingAnsi, 950, 950},
        {"UTF-8", kEncodingUtf8, 0, 0},
        {"UTF-16", kEncodingUtf16LE, 0, 0},
    };
    // Traditional only, so BIG5 holds it too; then mixed, which BIG5 cannot.
    const std::string texts[] = {"這是中文，還有繁體字幕。", "这是中文，還有繁體"};
    test::TempDir dir;
    clsSubtitle engine;
    for (const std::string& text : texts) {
        const std::string expected[] = {text, ToSimplifiedChinese(text), ToTraditionalChinese(text),
                                        ToSimplifiedChinese(text)};
        ASSERT_NE(expected[0], expected[1]);
        for (const Saved& e : encodings) {
            const std::string path = dir.file(std::string(e.what) + ".srt");
            int32_t fmt = e.fmt;
            std::string ignored;
            if (e.page == 950 && !EncodeCodePage(text, 950, ignored, true).ok) continue;
            ASSERT_TRUE(UEFSaveTextFile(path, ThreeCues(text), false, fmt, fmt, e.page)) << e.what;
            for (int32_t mode = 0; mode <= 3; ++mode) {
                const std::vector<std::string> got = LoadedTexts(engine, path, mode);
                ASSERT_EQ(3u, got.size()) << e.what << " mode " << mode;
                for (const std::string& line : got) {
                    EXPECT_EQ(expected[mode], line) << e.what << " mode " << mode << " of " << text;
                }
                ASSERT_EQ(1u, engine.LastRun().sources.size());
                const SourceInfo& info = engine.LastRun().sources[0];
                EXPECT_EQ(path, info.path);
                EXPECT_EQ(e.fmt, info.encoding) << e.what;
                EXPECT_EQ(e.expectedPage, info.codePage) << e.what;
                EXPECT_EQ(e.expectedPage != 0, info.codePageDetected) << e.what;
            }
        }
    }
}

// A BIG5 file read through GBK (the page forced, or nothing showed another)
// is read again as BIG5 by a conversion; mode 0 leaves what was read.
TEST(ChineseLoad, Big5ReadAsGbkIsRepairedOnlyByAConversion) {
    test::TempDir dir;
    const std::string text = "這是中文，還有繁體字幕。";
    std::string big5;
    ASSERT_TRUE(EncodeCodePage(ThreeCues(text), 950, big5, true).ok);
    const std::string path = dir.file("b.srt");
    test::writeBytes(path, big5);
    clsSubtitle engine;
    engine.AnsiCodePage = 936;
    // Mode 0: the line as GBK made it.
    EXPECT_EQ(Decode(Encode(text, 950), 936), LoadedTexts(engine, path, 0).at(0));
    EXPECT_EQ(ToSimplifiedChinese(text), LoadedTexts(engine, path, 1).at(0));
    EXPECT_EQ(ToTraditionalChinese(text), LoadedTexts(engine, path, 2).at(0));
    EXPECT_EQ(ToSimplifiedChinese(text), LoadedTexts(engine, path, 3).at(0));
    const SourceInfo& info = engine.LastRun().sources.at(0);
    EXPECT_EQ(936, info.codePage);
    EXPECT_FALSE(info.codePageDetected);
}

}  // namespace
}  // namespace lumeval
