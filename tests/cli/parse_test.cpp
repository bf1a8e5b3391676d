// The converter's value parsers: what a person may type for seconds, spans,
// colours and whole numbers, and the event-mode line format.
#include "cli/parse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace lumeval::cli {
namespace {

TEST(ParseSeconds, AcceptsPlainDecimalsOnly) {
    struct Case {
        const char* text;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"10", 10.0},     {"-2.5", -2.5},        {"+3", 3.0},        {".5", 0.5},
        {"5.", 5.0},      {"0", 0.0},            {"-0.001", -0.001}, {"", std::nullopt},
        {"-", std::nullopt},  {".", std::nullopt},   {"1e3", std::nullopt}, {"nan", std::nullopt},
        {"inf", std::nullopt}, {"0x10", std::nullopt}, {"1.2.3", std::nullopt}, {" 1", std::nullopt},
        {"1 ", std::nullopt},  {"1,5", std::nullopt},  {"--1", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = ParseSeconds(c.text);
        ASSERT_EQ(c.expected.has_value(), parsed.has_value());
        if (c.expected) {
            EXPECT_DOUBLE_EQ(*c.expected, *parsed);
        }
    }
}

TEST(ParseSpan, SplitsAtFirstColonAndKeepsOrder) {
    struct Case {
        const char* text;
        bool ok;
        double start, end;
    };
    const Case cases[] = {
        {"10:20", true, 10, 20},
        {"-5:10", true, -5, 10},
        {"0:0", true, 0, 0},          // an empty window is allowed: it means no window
        {"1.5:2.25", true, 1.5, 2.25},
        {"-10:-5", true, -10, -5},
        {"20:10", false, 0, 0},       // end before start
        {"10", false, 0, 0},
        {":10", false, 0, 0},
        {"10:", false, 0, 0},
        {"1:2:3", false, 0, 0},
        {"a:b", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto span = ParseSpan(c.text);
        ASSERT_EQ(c.ok, span.has_value());
        if (c.ok) {
            EXPECT_DOUBLE_EQ(c.start, span->first);
            EXPECT_DOUBLE_EQ(c.end, span->second);
        }
    }
}

TEST(ParseColour, DecimalOrHexUpToTwentyFourBits) {
    struct Case {
        const char* text;
        std::optional<uint32_t> expected;
    };
    const Case cases[] = {
        {"0", 0u},
        {"255", 255u},
        {"0xFF", 0xFFu},
        {"0Xff", 0xFFu},
        {"0xFFFFFF", 0xFFFFFFu},
        {"16777215", 0xFFFFFFu},
        {"0x1000000", std::nullopt},  // alpha byte: the writers take 0x00BBGGRR only
        {"16777216", std::nullopt},
        {"-1", std::nullopt},
        {"0x", std::nullopt},
        {"", std::nullopt},
        {"0xGG", std::nullopt},
        {"12abc", std::nullopt},
        {"0x0xFF", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.expected, ParseColour(c.text));
    }
}

TEST(FormatColour, UpperCaseHex) {
    EXPECT_EQ("0xFFFFFF", FormatColour(0xFFFFFF));
    EXPECT_EQ("0xFF", FormatColour(0xFF));
    EXPECT_EQ("0x0", FormatColour(0));
}

TEST(CanonicalDecimal, NeverOctalOrHex) {
    struct Case {
        const char* text;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"384", "384"},     {"010", "10"},       {"+7", "7"},        {"-007", "-7"},
        {"0", "0"},         {"-0", "0"},         {"000", "0"},       {"0x10", std::nullopt},
        {"", std::nullopt}, {"-", std::nullopt}, {"1.0", std::nullopt}, {" 1", std::nullopt},
        {"1e3", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.expected, CanonicalDecimal(c.text));
    }
}

TEST(AppendEventLine, RoundsTimesAndKeepsTextVerbatim) {
    std::string out;
    AppendEventLine(out, 1000.4, 2999.5, "Hello\\Nworld");
    AppendEventLine(out, 0, 0, "");
    AppendEventLine(out, 3600000.0 * 100, 3600000.0 * 100 + 1, "tab\tinside");
    EXPECT_EQ("1000\t3000\tHello\\Nworld\n"
              "0\t0\t\n"
              "360000000\t360000001\ttab\tinside\n",
              out);
}

}  // namespace
}  // namespace lumeval::cli
