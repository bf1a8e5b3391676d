#include "engine/timecode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace lumeval {
namespace {

struct StyleCase {
    double ms;
    int16_t style;
    const char* expected;
};

TEST(MSecsToTime, Styles) {
    const StyleCase cases[] = {
        {3723004, 0, "01:02:03,004"},  {3723004, 1, "1:02:03.00"},   {3723004, 2, "62:03.00"},
        {3723004, 3, "62:03.004"},     {3723004, 4, "62:03"},        {3723004, 5, "01:02:03:00"},
        {3723004, 98, "01:02:03.004"}, {3723004, 99, "01:02:03"},    {3723004, 7, "01:02:03,004"},
        {3723004, -1, "01:02:03,004"}, {1999, 1, "0:00:01.99"},      {1999, 5, "00:00:01:99"},
        {0, 0, "00:00:00,000"},        {-5, 0, "00:00:00,000"},      {-5, 3, "00:00.000"},
        {360000000, 0, "100:00:00,000"}, {360000000, 4, "6000:00"},  {36000000, 1, "10:00:00.00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, MSecsToTime(c.ms, c.style)) << c.ms << " style " << c.style;
    }
}

// The count is rounded once (half to even) before it is split, so a rest of
// 999.5 or more carries into the seconds instead of printing "1000".
TEST(MSecsToTime, RoundsWholeCountBeforeSplitting) {
    const StyleCase cases[] = {
        {999.6, 0, "00:00:01,000"},      {999.5, 0, "00:00:01,000"},  {999.4, 0, "00:00:00,999"},
        {0.5, 0, "00:00:00,000"},        {1.5, 0, "00:00:00,002"},    {2.5, 0, "00:00:00,002"},
        {59999.5, 98, "00:01:00.000"},   {3599999.5, 3, "60:00.000"}, {3599999.7, 0, "01:00:00,000"},
        {-0.4, 0, "00:00:00,000"},       {1009.6, 1, "0:00:01.01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, MSecsToTime(c.ms, c.style)) << c.ms << " style " << c.style;
    }
}

TEST(MSecsToTime, NonFiniteAndHugeInputsAreClamped) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ("00:00:00,000", MSecsToTime(std::nan(""), 0));
    EXPECT_EQ("00:00:00,000", MSecsToTime(-inf, 0));
    EXPECT_EQ("00:00:00,000", MSecsToTime(-1e300, 0));
    // Clamped to the largest double below 2^63 ms.
    const std::string top = MSecsToTime(inf, 0);
    EXPECT_EQ("2562047788015:12:54,784", top);
    EXPECT_EQ(top, MSecsToTime(1e300, 0));
    EXPECT_EQ("153722867280912:54.784", MSecsToTime(1e300, 3));
}

TEST(MSecsToCueTime, FormsAndClamps) {
    EXPECT_EQ("62:03:00", MSecsToCueTime(3723004));
    EXPECT_EQ("01:01:23", MSecsToCueTime(61230));
    EXPECT_EQ("00:01:00", MSecsToCueTime(999.6));
    EXPECT_EQ("00:00:00", MSecsToCueTime(-1));
    EXPECT_EQ("00:00:00", MSecsToCueTime(std::nan("")));
    EXPECT_EQ("6000:00:00", MSecsToCueTime(360000000));
}

TEST(CueTimeToMSecs, OnlyTheTwoDigitForm) {
    EXPECT_EQ(3723000, CueTimeToMSecs("62:03:00"));
    EXPECT_EQ(61230, CueTimeToMSecs("01:01:23"));
    EXPECT_EQ(0, CueTimeToMSecs("1:01:23"));
    EXPECT_EQ(0, CueTimeToMSecs("01:01:23,5"));
    EXPECT_EQ(0, CueTimeToMSecs("aa:bb:cc"));
    EXPECT_EQ(0, CueTimeToMSecs(""));
    for (int ms = 0; ms < 6000000; ms += 7919) {
        EXPECT_EQ(ms / 10 * 10, CueTimeToMSecs(MSecsToCueTime(ms))) << ms;
    }
}

TEST(FormatTime, FieldsAndSeparator) {
    EXPECT_EQ("01:02:03,004", FormatTime(3723004, true, ","));
    EXPECT_EQ("01:02:03.004", FormatTime(3723004, true, "."));
    EXPECT_EQ("01:02:03", FormatTime(3723004, false, ","));
    EXPECT_EQ("00:00:01", FormatTime(999.6, false, ","));
    EXPECT_EQ("100:00:00", FormatTime(360000000, false, ","));
    // Not clamped: each field carries its own sign.
    EXPECT_EQ("-01:-02:-03,-004", FormatTime(-3723004, true, ","));
    EXPECT_EQ("00:00:00,-004", FormatTime(-4, true, ","));
    EXPECT_EQ("00:00:00,000", FormatTime(std::nan(""), true, ","));
    EXPECT_FALSE(FormatTime(-1e300, true, ",").empty());
}

struct TimeCase {
    const char* text;
    double ms;
};

TEST(TimeToMSecs, EveryForm) {
    const TimeCase cases[] = {
        {"00:00:01,500", 1500},       // 1
        {"0:00:01,500", 1500},        // 1, one-digit hours
        {"1:02:03.45", 3723450},      // 2
        {"00:00:01.500", 1500},       // dotted SubRip
        {"0:00:01.500", 1500},        // dotted SubRip, one-digit hours
        {"00:00:01.50", 1500},        // dotted SubRip, hundredths
        {"01:02.34", 62340},          // 3
        {"01:02.345", 62345},         // 4
        {"100:02.345", 6002345},      // 4, three-digit minutes
        {"01:02", 62000},             // 5
        {"01:02:03:04", 3723040},     // 6
        {"01:02:03", 3723000},        // 7
        {"12.5", 12500},              // 8
        {"12", 12000},                // 8
        {"-3", -3000},                // 8
        {"+.5", 500},                 // 8
        {"0.0025", 2},                // 8, exact half to even
        {"0.0035", 4},                // 8
        {"0.00250001", 3},            // 8, above half
        {"100:00:00,000", 360000000}, // 9
        {"1:2:3,4", 3723004},         // 9, the fraction is milliseconds as written
        {"12x:30", 45000000},         // 9, fields read as far as they are numbers
        {"1:2", 3720000},             // 9, missing seconds count as 0
        {"1e3", 3600000},             // 9: no exponents, "1" is the hours field
        {"00:00:01, 50", 1050},       // spaces read as zeros
        {"ar:Artist", 0},
        {"", 0},
        {":::,,,", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.ms, TimeToMSecs(c.text)) << '"' << c.text << '"';
    }
}

TEST(TimeToMSecs, SixtyFourBitsUpToTheLimitThenZero) {
    // 596 hours was once where 32 bits wrapped; it is an ordinary time now.
    const TimeCase cases[] = {
        {"596:31:23,647", 2147483647},
        {"596:31:23,648", 2147483648.0},
        {"600:00:00,000", 2160000000.0},
        {"2147483.648", 2147483648.0},
        {"-00:00:05,000", -5000},  // a leading "-" makes the time negative
        {"-596:31:23,648", -2147483648.0},
        {"-1.5", -1500},
        {"--5", 0},
        {"999999999:59:59,999", 3599999999999999.0},  // the longest time a text holds
        {"1000000000:00:00,000", 0},
        {"999999999:59:59,1000", 0},  // one millisecond past it
        {"3599999999999.999", 3599999999999999.0},
        {"3599999999999.9995", 0},  // rounds up past the limit
        {"1000000000000000000000000000000", 0},
        {"1000000000000000000000000000000:00:00", 0},
        {"0:0:0,1000000000000000000000000000000", 0},
        {"00000000000000000000000000000001:00", 3600000},  // leading zeros are no overflow
        {"0:35792:0", 2147520000.0},
        // Hours past 99 in every fixed form, fractions kept.
        {"100:05:03,450", 360303450.0},
        {"100:05:03.45", 360303450.0},
        {"1000:05:03.456", 3600303456.0},
        {"100:05:03:45", 360303450.0},
        {"123456789:00:00,001", 444444440400001.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.ms, TimeToMSecs(c.text)) << '"' << c.text << '"';
    }
    EXPECT_FALSE(TimeToMSecsChecked("1000000000:00:00,000").has_value());
    EXPECT_EQ(0, TimeToMSecsChecked("ar:Artist").value_or(-1));  // unreadable is 0, not refused
    EXPECT_FALSE(TimeToSecChecked("99999999999:00:00", true).has_value());
    EXPECT_DOUBLE_EQ(-5, TimeToSecChecked("-00:00:05,000", true).value_or(0));
}

TEST(TimeToMSecs, FallbackSeparator) {
    EXPECT_EQ(3723045, TimeToMSecs("1:2:3.45", "."));
    EXPECT_EQ(3723000, TimeToMSecs("1:2:3,45", "."));  // "3,45" reads as 3
    EXPECT_EQ(3723000, TimeToMSecs("1:2:3,4", ""));    // nothing splits off
    EXPECT_EQ(3723004, TimeToMSecs("1:2:3->4", "->"));
    // The separator only matters to the fallback form.
    EXPECT_EQ(1500, TimeToMSecs("00:00:01,500", "."));
}

TEST(TimeToSec, FormsAndFractions) {
    struct Case {
        const char* text;
        bool msecUse;
        const char* sep;
        double seconds;
    };
    const Case cases[] = {
        {"00:12.34", true, ",", 12.34},
        {"00:12.345", true, ",", 12.345},
        {"00:00:01,500", false, ",", 1},
        {"00:00:01,500", true, ",", 1.5},
        {"00:00:01.500", true, ",", 1.5},
        {"0:00:01.500", true, ",", 1.5},
        {"00:00:01.50", true, ",", 1.5},
        {"1:02:03.45", true, ",", 3723.45},
        {"01:02:03:04", true, ",", 3723.04},
        {"01:02:03:04", false, ",", 3723},
        {"01:02", true, ",", 62},
        {"12.5", true, ",", 12.5},
        {"12.5", false, ",", 12},
        {"-12.5", false, ",", -12},
        {"1:2:3,4", true, ",", 3723.004},
        {"1:2:3.45", true, ".", 3723.45},
        {"12x:30", true, ",", 1800},  // a field must be a number throughout
        {"1:30.5:0", true, ",", 3600 + 30 * 60},  // 30.5 rounds to 30 (half to even)
        {"ar:Artist", true, ",", 0},
        {"596:31:24", true, ",", 2147484},
        {"99999999999:00:00", true, ",", 0},
        {"0:0:0,99999999999", true, ",", 99999999.999},
        {"-00:00:05,000", true, ",", -5},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(c.seconds, TimeToSec(c.text, c.msecUse, c.sep))
            << '"' << c.text << "\" " << c.msecUse;
    }
}

TEST(TimeReaders, RoundTripThroughEveryMillisecondForm) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int32_t> dist(0, 99 * 3600000 + 59 * 60000 + 59999);
    for (int i = 0; i < 20000; ++i) {
        const int32_t ms = dist(rng);
        ASSERT_EQ(ms, TimeToMSecs(MSecsToTime(ms, 0))) << ms;
        ASSERT_EQ(ms, TimeToMSecs(MSecsToTime(ms, 98))) << ms;
        ASSERT_EQ(ms / 10 * 10, TimeToMSecs(MSecsToTime(ms, 5))) << ms;
        // Two-digit hours of style 1 read through the dotted hundredths form.
        ASSERT_EQ(ms / 10 * 10, TimeToMSecs(MSecsToTime(ms, 1))) << ms;
        if (ms < 100 * 60000) {
            ASSERT_EQ(ms / 10 * 10, TimeToMSecs(MSecsToTime(ms, 2))) << ms;
        }
        if (ms < 1000 * 60000) {
            ASSERT_EQ(ms, TimeToMSecs(MSecsToTime(ms, 3))) << ms;
        }
    }
    // Beyond 99 hours the fallback form still reads the line-table form.
    for (int32_t ms : {360000000, 2147483647, 1000000007}) {
        EXPECT_EQ(ms, TimeToMSecs(MSecsToTime(ms, 0))) << ms;
    }
}

TEST(TimeReaders, SurviveArbitraryBytes) {
    std::mt19937 rng(7);
    std::string alphabet = "0123456789:,.+- x\xff\x80";
    alphabet += '\0';
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> len(0, 48);
    for (int i = 0; i < 50000; ++i) {
        std::string s;
        for (int n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
        const double ms = TimeToMSecs(s, i % 2 ? "," : ".");
        ASSERT_TRUE(std::isfinite(ms)) << s;
        ASSERT_EQ(ms, std::trunc(ms)) << s;
        ASSERT_TRUE(std::isfinite(TimeToSec(s, true, ","))) << s;
        ASSERT_TRUE(std::isfinite(TimeToSec(s, false, "."))) << s;
        (void)CueTimeToMSecs(s);
    }
    // Long texts, with and without spaces (read as zeros).
    EXPECT_EQ(1000, TimeToMSecs(std::string(100, ' ') + "1"));
    EXPECT_EQ(0, TimeToMSecs(std::string(1 << 20, '9')));
    EXPECT_EQ(0, TimeToMSecs(std::string(1 << 20, ':')));
    EXPECT_EQ(0, TimeToSec(std::string(1 << 20, '7'), true));
    EXPECT_EQ(0, TimeToSec("1" + std::string(400, '0'), true));
}

TEST(RoundHalfEven, TiesGoToEven) {
    EXPECT_EQ(0, RoundHalfEven(0.5));
    EXPECT_EQ(2, RoundHalfEven(1.5));
    EXPECT_EQ(2, RoundHalfEven(2.5));
    EXPECT_EQ(-2, RoundHalfEven(-2.5));
    EXPECT_EQ(3, RoundHalfEven(2.6));
    // Whole numbers come back as they are, signs and all; past 2^53 every
    // double is whole.
    for (double v : {0.0, -0.0, 7.0, -7.0, 4503599627370497.0, 9.0e15, 9.5e15, -1e300}) {
        EXPECT_EQ(v, RoundHalfEven(v)) << v;
        EXPECT_EQ(std::signbit(v), std::signbit(RoundHalfEven(v))) << v;
    }
    EXPECT_EQ(4503599627370496.0, RoundHalfEven(4503599627370496.5));
    EXPECT_EQ(-4503599627370496.0, RoundHalfEven(-4503599627370496.5));
    EXPECT_TRUE(std::isnan(RoundHalfEven(std::numeric_limits<double>::quiet_NaN())));
}

}  // namespace
}  // namespace lumeval

namespace lumeval {
namespace {

TEST(CanonicalTime, AcceptsExactlyTheTableForm) {
    const struct {
        const char* text;
        bool canonical;
    } cases[] = {
        {"00:00:00,000", true},  {"99:59:59,999", true},  {"12:34:56,789", true},
        {"00:60:00,000", false}, {"00:00:60,000", false}, {"00:0a:00,000", false},
        {"00:00:00.000", false}, {"0:00:00,000", false},  {"100:00:00,000", true},
        {"499:59:59,999", true}, {"500:00:00,000", false}, {"099:00:00,000", false},
        {"1000:00:00,000", false}, {"100:60:00,000", false}, {"1x0:00:00,000", false},
        {"00:00:00,00:", false}, {"00;00:00,000", false}, {"00:00:00,0/0", false},
        {"/0:00:00,000", false}, {" 0:00:00,000", false}, {"00:00:00,000 ", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.canonical, IsCanonicalTime(c.text)) << c.text;
        if (c.canonical) {
            // Copying a canonical text must equal reading and writing it back.
            EXPECT_EQ(c.text, MSecsToTime(CanonicalTimeMs(c.text), 0));
            EXPECT_EQ(TimeToMSecs(c.text, ","), CanonicalTimeMs(c.text)) << c.text;
        }
    }
    // Every byte value in every position: only digits and the separators pass.
    std::string t = "12:34:56,789";
    for (std::size_t pos = 0; pos < t.size(); ++pos) {
        for (int v = 0; v < 256; ++v) {
            std::string u = t;
            u[pos] = static_cast<char>(v);
            const bool digit = v >= '0' && v <= '9';
            bool expect;
            if (pos == 2 || pos == 5) expect = v == ':';
            else if (pos == 8) expect = v == ',';
            else if (pos == 3 || pos == 6) expect = v >= '0' && v <= '5';
            else expect = digit;
            ASSERT_EQ(expect, IsCanonicalTime(u)) << pos << " " << v;
        }
    }
}

TEST(TableTime, ExactlyTheTextsTheTableFormatterWrites) {
    const struct {
        const char* text;
        int64_t ms;
    } cases[] = {
        {"00:00:00,000", 0},
        {"09:59:59,999", 35999999},
        {"499:59:59,999", 1799999999},
        {"500:00:00,000", 1800000000},
        {"1000:00:01,250", 3600001250},
        {"999999999:59:59,999", kMaxTimeMs},
        {"0:00:00,000", -1},         // one hour digit
        {"0100:00:00,000", -1},      // a leading zero before three digits
        {"1000000000:00:00,000", -1},  // ten hour digits
        {"100:60:00,000", -1},
        {"100:00:60,000", -1},
        {"100:00:00.000", -1},
        {"100:00:00,00", -1},
        {"1x0:00:00,000", -1},
        {" 100:00:00,000", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.ms, TableTimeMs(c.text)) << c.text;
        if (c.ms >= 0) {
            EXPECT_EQ(c.text, MSecsToTime(static_cast<double>(c.ms), 0)) << c.text;
        }
    }
    // Whatever the table formatter writes reads back to its value, through
    // TableTimeMs and through the general reader alike.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(rng() % 15);
        int64_t ms = static_cast<int64_t>(rng() % 1000000000000000ULL);
        for (int k = digits; k < 15; ++k) ms /= 10;
        if (ms > kMaxTimeMs) ms = kMaxTimeMs;
        std::string t;
        AppendTimeStyle0(t, static_cast<double>(ms));
        ASSERT_EQ(ms, TableTimeMs(t)) << t;
        ASSERT_EQ(static_cast<double>(ms), TimeToMSecs(t, ",")) << t;
        // A changed byte either leaves no table time or one that is again
        // exactly what the formatter writes.
        std::string u = t;
        u[rng() % u.size()] = static_cast<char>(rng() % 64 + 32);
        const int64_t v = TableTimeMs(u);
        if (v >= 0) {
            ASSERT_EQ(u, MSecsToTime(static_cast<double>(v), 0)) << u;
            ASSERT_EQ(static_cast<double>(v), TimeToMSecs(u, ",")) << u;
        }
    }
}

TEST(AppendTimeStyle0, MatchesTheGeneralFormatter) {
    for (double ms : {0.0, 1.0, 999.4, 999.5, 1000.5, 59999.0, 3599999.0, 359999999.4, 359999999.5,
                      360000000.0, 1e12, -3.0}) {
        std::string out = "x";
        AppendTimeStyle0(out, ms);
        std::string general = MSecsToTime(ms, 98);  // the same fields with "." before mmm
        general[general.rfind('.')] = ',';
        EXPECT_EQ("x" + general, out) << ms;
    }
}

TEST(AppendTimeStyle1, MatchesTheGeneralFormatter) {
    for (double ms : {0.0, 9.0, 10.0, 999.4, 999.5, 1000.5, 59999.0, 3599999.0, 35999999.0, 36000000.0,
                      359999999.4, 359999999.5, 360000000.0, 360000005.5, 3600000009.99, 1e12,
                      static_cast<double>(kMaxTimeMs), 9.3e18, 1e300, -3.0, -1e300,
                      std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        std::string out = "x";
        AppendTimeStyle1(out, ms);
        EXPECT_EQ("x" + MSecsToTime(ms, 1), out) << ms;
    }
}

}  // namespace
}  // namespace lumeval

namespace lumeval {
namespace {

// The check-and-read of splitting: the value of every valid text (what the
// general reader gives), -1 for each single byte that breaks the form.
TEST(CanonicalTime12Ms, ReadsWhatTheGeneralReaderReadsAndRefusesTheRest) {
    std::mt19937 random(1210);
    for (int round = 0; round < 20000; ++round) {
        char t[13];
        std::snprintf(t, sizeof t, "%02u:%02u:%02u,%03u", unsigned(random() % 100), unsigned(random() % 60),
                      unsigned(random() % 60), unsigned(random() % 1000));
        const std::string text(t, 12);
        ASSERT_EQ(TimeToMSecs(text, ","), CanonicalTime12Ms(t)) << text;
        const std::size_t pos = random() % 12;
        const char was = t[pos];
        t[pos] = static_cast<char>(random() % 256);
        const bool digit = t[pos] >= '0' && t[pos] <= '9';
        const bool stillValid = pos == 2 || pos == 5 ? t[pos] == ':'
                                : pos == 8           ? t[pos] == ','
                                : pos == 3 || pos == 6 ? t[pos] >= '0' && t[pos] <= '5'
                                                       : digit;
        if (!stillValid) {
            ASSERT_EQ(-1, CanonicalTime12Ms(t)) << std::string(t, 12) << " at " << pos;
        }
        t[pos] = was;
    }
}

}  // namespace
}  // namespace lumeval
