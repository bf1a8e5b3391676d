// Code-page detection of legacy text without a mark.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/encoding/codepage.h"
#include "engine/encoding/detect.h"
#include "codepage_test_util.h"

namespace lumeval {
namespace {

using test::Decode;
using test::Encode;

// SubRip blocks of two lines each, numbered, with time lines.
std::string Subtitle(const std::vector<std::string>& lines) {
    std::string srt;
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        const std::string n = std::to_string(i / 2 + 1);
        srt += n + "\r\n00:00:0" + n + ",000 --> 00:00:0" + n + ",900\r\n" + lines[i] + "\r\n";
        if (i + 1 < lines.size()) srt += lines[i + 1] + "\r\n";
        srt += "\r\n";
    }
    return srt;
}

struct Sample {
    const char* what;
    int32_t savedIn;
    std::vector<std::string> lines;
};

const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = {
        {"simplified Chinese, GBK", 936,
         {"你好，欢迎来到我们的节目。", "今天我们要讨论一个很有意思的问题。",
          "这个城市的夜晚非常安静，", "只有远处传来的汽车声。"}},
        {"traditional Chinese, BIG5", 950,
         {"你好，歡迎來到我們的節目。", "今天我們要討論一個很有意思的問題。",
          "這個城市的夜晚非常安靜，", "只有遠處傳來的汽車聲。"}},
        {"Japanese, Shift-JIS", 932,
         {"こんにちは、私たちの番組へようこそ。", "今日はとても面白い問題について話します。",
          "この街の夜はとても静かで、", "遠くから車の音だけが聞こえる。"}},
        {"Japanese, EUC-JP", 51932,
         {"こんにちは、私たちの番組へようこそ。", "今日はとても面白い問題について話します。"}},
        {"Korean, CP949", 949,
         {"안녕하세요, 우리 프로그램에 오신 것을 환영합니다.",
          "오늘은 아주 재미있는 문제에 대해 이야기하겠습니다."}},
        {"French, windows-1252", 1252,
         {"Bonjour, bienvenue dans notre émission.",
          "Aujourd'hui, nous allons parler d'un problème très intéressant.",
          "Je ne sais pas pourquoi il n'est pas venu à la fête.",
          "Ne t'inquiète pas, tout ira bien. Ça va s'arranger, c'est sûr."}},
        {"German, windows-1252", 1252,
         {"Heute sprechen wir über eine sehr spannende Frage.", "Man hört nur die Autos in der Ferne.",
          "Ich weiß nicht, warum er nicht gekommen ist.", "Schöne Grüße und bis bald, Jürgen!"}},
        {"Polish, ISO-8859-2", 28592,
         {"Dzień dobry, witamy w naszym programie.", "Nocą to miasto jest bardzo ciche,",
          "słychać tylko samochody w oddali.", "Nie martw się, wszystko będzie dobrze. Zażółć gęślą jaźń."}},
        {"Czech, windows-1250", 1250,
         {"Dobrý den, vítejte v našem pořadu.", "Dnes budeme mluvit o velmi zajímavém problému.",
          "V noci je toto město velmi tiché,", "Příliš žluťoučký kůň úpěl ďábelské ódy."}},
        {"Hebrew, windows-1255", 1255,
         {"שלום, ברוכים הבאים לתוכנית שלנו.", "היום נדבר על שאלה מעניינת מאוד.",
          "בלילה העיר הזאת שקטה מאוד,", "אל תדאג, הכול יהיה בסדר."}},
        {"Hebrew, ISO-8859-8", 28598,
         {"שלום, ברוכים הבאים לתוכנית שלנו.", "היום נדבר על שאלה מעניינת מאוד.",
          "בלילה העיר הזאת שקטה מאוד,", "אל תדאג, הכול יהיה בסדר."}},
        {"Russian, windows-1251", 1251,
         {"Здравствуйте, добро пожаловать в нашу программу.",
          "Сегодня мы поговорим об очень интересном вопросе.", "Я не знаю, почему он не пришёл."}},
        {"Russian, KOI8-R", 20866,
         {"Здравствуйте, добро пожаловать в нашу программу.",
          "Сегодня мы поговорим об очень интересном вопросе.", "Я не знаю, почему он не пришёл."}},
        {"Greek, ISO-8859-7", 28597,
         {"Καλησπέρα σας και καλώς ήρθατε στην εκπομπή μας.",
          "Σήμερα θα μιλήσουμε για ένα πολύ ενδιαφέρον θέμα."}},
    };
    return samples;
}

// The page found must read the file back as it was written; which of two
// equivalent pages it names (ISO-8859-8 and windows-1255 for plain Hebrew)
// does not matter.
TEST(DetectCodePage, ReadsSubtitlesInEveryLanguageBackAsWritten) {
    for (const Sample& s : Samples()) {
        const std::string text = Subtitle(s.lines);
        const std::string bytes = Encode(text, s.savedIn);
        const CodePageGuess guess = DetectCodePage(bytes);
        ASSERT_NE(0, guess.codePage) << s.what << ": detector said " << guess.charset;
        EXPECT_TRUE(CodePageAvailable(guess.codePage)) << s.what;
        EXPECT_EQ(text, Decode(bytes, guess.codePage))
            << s.what << ": read as " << CodePageDisplayName(guess.codePage);
    }
}

// One line of CJK text is enough for the detector; a single-byte page needs
// more evidence, since short CJK text often looks like one.
TEST(DetectCodePage, ShortTextsAndTheLimitsOfTrust) {
    struct Case {
        const char* what;
        std::string bytes;
        int32_t expected;
    };
    const std::string cue = "1\r\n00:00:01,000 --> 00:00:02,000\r\n";
    const Case cases[] = {
        {"one line of BIG5", cue + Encode("這是中文，還有繁體", 950), 950},
        {"one line of GBK", cue + Encode("这是中文，还有繁体", 936), 936},
        {"one line of Shift-JIS", cue + Encode("ありがとう", 932), 932},
        {"one line of CP949", cue + Encode("감사합니다", 949), 949},
        {"ASCII only", cue + "Hello", 0},
        {"nothing", "", 0},
        {"two GBK characters", cue + Encode("你好", 936), 0},
        {"a French word", cue + Encode("Café crème", 1252), 0},
        // The detector takes these four characters for windows-1252; they
        // pair up as double-byte text does, so the guess is not trusted.
        {"a short BIG5 line", cue + Encode("你好嗎？", 950), 0},
        // "о" before the line end can lead no pair: no CJK text.
        {"a short Russian line", cue + Encode("Да, конечно", 1251), 1251},
        {"a long Russian line", cue + Encode("Да, конечно, я приду завтра утром", 1251), 1251},
    };
    for (const Case& c : cases) {
        const CodePageGuess guess = DetectCodePage(c.bytes);
        EXPECT_EQ(c.expected, guess.codePage) << c.what << ": detector said " << guess.charset;
    }
}

TEST(DetectCodePage, Gb18030FourByteSequencesNeedItsTable) {
    // U+20000 exists in GB18030 only as a four-byte sequence.
    const std::string text = Subtitle({"你好，欢迎来到我们的节目。", "今天我们要讨论一个很有意思的问题。",
                                       "这个城市的夜晚非常安静，𠀀 café"});
    const std::string bytes = Encode(text, 54936);
    const CodePageGuess guess = DetectCodePage(bytes);
    EXPECT_EQ(54936, guess.codePage) << guess.charset;
    EXPECT_EQ(text, Decode(bytes, guess.codePage));
}

// Text that is UTF-8 but for a stray byte is UTF-8; GBK whose first
// characters happen to form UTF-8 is not.
TEST(DetectCodePage, Utf8OnlyWhenTheSampleIsUtf8) {
    const std::string utf8 = Subtitle({"你好，欢迎来到我们的节目。", "今天我们要讨论一个很有意思的问题。"});
    EXPECT_EQ(65001, DetectCodePage(utf8 + "\xFF\r\n").codePage);
    // 谢谢 in GBK is D0 BB D0 BB, which is also the UTF-8 of "лл".
    const std::string gbk = "1\r\n00:00:01,000 --> 00:00:02,000\r\n" + Encode("谢谢你们来了", 936);
    EXPECT_NE(65001, DetectCodePage(gbk).codePage);
}

// Only lines with non-ASCII bytes are looked at: a file whose text starts
// late, or sits on one huge line, is still told.
TEST(DetectCodePage, FindsTheTextWhereverItIs) {
    std::string lead;
    for (int i = 0; i < 20000; ++i) lead += std::to_string(i) + "\r\n00:00:01,000 --> 00:00:02,000\r\nHello\r\n\r\n";
    const std::string big5 = Encode(Subtitle(Samples()[1].lines), 950);
    EXPECT_EQ(950, DetectCodePage(lead + big5).codePage);

    std::string oneLine(200000, 'x');
    for (int i = 0; i < 50; ++i) oneLine += Encode("這個城市的夜晚非常安靜，只有遠處傳來的汽車聲。", 950);
    EXPECT_EQ(950, DetectCodePage(oneLine).codePage);

    // Long ASCII runs before each character: the sample's budget runs out
    // part way into one of them.
    std::string sparse;
    for (int i = 0; i < 1000; ++i) {
        sparse += std::string(300 + i % 7, 'a') + Encode("夜晚非常安靜", 950) + "\r\n";
    }
    const CodePageGuess guess = DetectCodePage(sparse);
    EXPECT_EQ(950, guess.codePage);
    EXPECT_LE(guess.nonAscii, kDetectSampleBytes);
}

TEST(DetectCodePage, SurvivesArbitraryBytes) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(rng() % 4096, '\0');
        for (char& c : bytes) c = char(rng() % 7 == 0 ? '\n' : rng());
        const CodePageGuess guess = DetectCodePage(bytes);
        if (guess.codePage != 0) {
            std::string text;
            EXPECT_TRUE(DecodeCodePage(bytes, guess.codePage, text)) << guess.charset;
            EXPECT_TRUE(IsValidUtf8(text));
        }
    }
}

// Every name the detector can give maps to a page with a converter here.
TEST(CodePageOfCharset, EveryMappedNameHasAConverter) {
    const char* names[] = {
        "GB18030",      "BIG5",         "SHIFT_JIS",    "EUC-JP",       "UHC",
        "EUC-KR",       "TIS-620",      "WINDOWS-1250", "WINDOWS-1251", "WINDOWS-1252",
        "WINDOWS-1253", "WINDOWS-1254", "WINDOWS-1255", "WINDOWS-1256", "WINDOWS-1257",
        "WINDOWS-1258", "ISO-8859-1",   "ISO-8859-2",   "ISO-8859-3",   "ISO-8859-4",
        "ISO-8859-5",   "ISO-8859-6",   "ISO-8859-7",   "ISO-8859-8",   "ISO-8859-8-I",
        "ISO-8859-9",   "ISO-8859-13",  "ISO-8859-15",  "KOI8-R",       "KOI8-U",
        "IBM866",       "big5",         "Shift_JIS",    "windows-1252",
    };
    for (const char* name : names) {
        const int32_t page = CodePageOfCharset(name);
        EXPECT_NE(0, page) << name;
        EXPECT_TRUE(CodePageAvailable(page)) << name << " -> " << page;
    }
    EXPECT_EQ(0, CodePageOfCharset("VISCII"));
    EXPECT_EQ(0, CodePageOfCharset("ASCII"));
    EXPECT_EQ(0, CodePageOfCharset(""));
    EXPECT_EQ("Big5", CodePageDisplayName(950));
    EXPECT_EQ("windows-1252", CodePageDisplayName(1252));
    EXPECT_EQ("ISO-8859-2", CodePageDisplayName(28592));
}

}  // namespace
}  // namespace lumeval
