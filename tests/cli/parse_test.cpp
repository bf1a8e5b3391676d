// The converter's value parsers: what a person may type for seconds, spans,
// colours and whole numbers, and the event-mode line format.
#include "cli/parse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace lumeval::cli {
namespace {

TEST(ParseSeconds, PlainDecimalsOnly) {
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"10", 10.0},
        {"-2.5", -2.5},
        {"+3", 3.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1e3", std::nullopt},
        {"nan", std::nullopt},
        {"inf", std::nullopt},
        {"0x10", std::nullopt},
        {"1.2.3", std::nullopt},
        {" 1", std::nullopt},
        {"1,5", std::nullopt},
        {"--1", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(expected, ParseSeconds(text));
    }
}

TEST(ParseSpan, SplitsAtFirstColonAndKeepsOrder) {
    using Span = std::optional<std::pair<double, double>>;
    const std::pair<const char*, Span> cases[] = {
        {"10:20", std::pair{10.0, 20.0}},
        {"-5:10", std::pair{-5.0, 10.0}},
        {"0:0", std::pair{0.0, 0.0}},  // empty window: no window
        {"1.5:2.25", std::pair{1.5, 2.25}},
        {"20:10", std::nullopt},  // end before start
        {"10", std::nullopt},
        {":10", std::nullopt},
        {"10:", std::nullopt},
        {"1:2:3", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(expected, ParseSpan(text));
    }
}

TEST(ParseColour, DecimalOrHexUpToTwentyFourBits) {
    const std::pair<const char*, std::optional<uint32_t>> cases[] = {
        {"0", 0u},
        {"255", 255u},
        {"0Xff", 0xFFu},
        {"0xFFFFFF", 0xFFFFFFu},
        {"16777215", 0xFFFFFFu},
        {"0x1000000", std::nullopt},  // an alpha byte: the writers take 0x00BBGGRR
        {"-1", std::nullopt},
        {"0x", std::nullopt},
        {"0xGG", std::nullopt},
        {"12abc", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(expected, ParseColour(text));
    }
}

TEST(CanonicalDecimal, NeverOctalOrHex) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"384", "384"},         {"010", "10"},        {"+7", "7"},
        {"-007", "-7"},         {"-0", "0"},          {"000", "0"},
        {"0x10", std::nullopt}, {"", std::nullopt},   {"-", std::nullopt},
        {"1.0", std::nullopt},  {" 1", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(expected, CanonicalDecimal(text));
    }
}

TEST(AppendEventLine, RoundsTimesAndKeepsTextVerbatim) {
    std::string out;
    AppendEventLine(out, 1000.4, 2999.5, "Hello\\Nworld");
    AppendEventLine(out, 0, 0, "");
    AppendEventLine(out, 360000000.0, 360000001.0, "tab\tinside");
    EXPECT_EQ("1000\t3000\tHello\\Nworld\n0\t0\t\n360000000\t360000001\ttab\tinside\n", out);
}

}  // namespace
}  // namespace lumeval::cli
