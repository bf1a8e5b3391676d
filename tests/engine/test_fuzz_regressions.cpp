// Replays every input a fuzzer once failed on through the same entry the fuzz
// target uses, so a fixed crash stays fixed in the ordinary test run (which
// has no libFuzzer and usually no sanitizers: a memory error then shows as a
// crash or not at all, a broken property as a failure naming the file).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"

namespace {

namespace fs = std::filesystem;
using Entry = std::string (*)(const uint8_t*, std::size_t);

std::string RunBytes(Entry entry, const std::string& bytes) {
    return entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

struct Target {
    const char* folder;
    Entry entry;
};

class FuzzRegressions : public ::testing::TestWithParam<Target> {};

// Notes kept beside the inputs (README, .gitkeep) are not inputs.
bool IsInput(const fs::directory_entry& e) {
    const std::string name = e.path().filename().string();
    return e.is_regular_file() && !name.starts_with(".") && !name.starts_with("README");
}

TEST_P(FuzzRegressions, EveryKeptInputPasses) {
    const fs::path folder = fs::path(LUMEVAL_FUZZ_REGRESSIONS) / GetParam().folder;
    ASSERT_TRUE(fs::is_directory(folder)) << folder << " is missing";
    std::vector<fs::path> inputs;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (IsInput(e)) inputs.push_back(e.path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ("", RunBytes(GetParam().entry, bytes)) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressions,
                         ::testing::Values(Target{"fuzz_timecode", lumeval::fuzz::FuzzTimecode},
                                           Target{"fuzz_textfile", lumeval::fuzz::FuzzTextFile},
                                           Target{"fuzz_convert_srt",
                                                  lumeval::fuzz::FuzzConvertSrt},
                                           Target{"fuzz_convert_any",
                                                  lumeval::fuzz::FuzzConvertAny},
                                           Target{"fuzz_convert_vtt",
                                                  lumeval::fuzz::FuzzConvertVtt},
                                           Target{"fuzz_piecewise",
                                                  lumeval::fuzz::FuzzPiecewise}),
                         [](const auto& info) { return std::string(info.param.folder); });

// The properties the entries check must hold for ordinary input; an entry that
// complains about good input would bury every real finding under false ones.
TEST(FuzzEntries, AcceptOrdinaryInput) {
    for (const char* time : {"00:00:01,000", "1:02:03.45", "62:03.004", "100:00:00,000",
                             "01:02:03:04", "12.5", "ar:Artist", "", "00:00:01, 50"}) {
        EXPECT_EQ("", RunBytes(lumeval::fuzz::FuzzTimecode, time)) << time;
    }

    const std::string srt =
        "1\r\n00:00:01,000 --> 00:00:02,500\r\n你好\r\nWorld\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,000\r\n<i>again</i>\r\n";
    for (char mode = 0; mode < 4; ++mode) {
        // Header: mode, flags (window, merge, UTF-8 out), window 1..4 s, offset -0.5 s.
        const std::string input = std::string{mode, 0x0D, 1, 3, static_cast<char>(-2)} + srt;
        EXPECT_EQ("", RunBytes(lumeval::fuzz::FuzzConvertSrt, input)) << int(mode);
    }

    for (const char format : {0, 1, 2, 5}) {
        EXPECT_EQ("", RunBytes(lumeval::fuzz::FuzzPiecewise, std::string{format, 3} + srt)) << int(format);
    }

    const std::string vtt =
        "WEBVTT\n\nNOTE x\n\n1\n00:00:01.000 --> 00:00:02.500 align:start\n<v A>你好</v>\n<i>World</i> "
        "&amp;\n\n00:03.000 --> 00:04.000\na\n\nb\n";
    for (char flags = 0; flags < 0x40; flags += 7) {
        EXPECT_EQ("", RunBytes(lumeval::fuzz::FuzzConvertVtt, std::string(1, flags) + vtt))
            << int(flags);
    }

    const std::string utf16le("\xFF\xFE" "A\0\x60\x4F", 6);  // mark, "A", U+4F60
    for (char code = 0; code < 7; ++code) {
        EXPECT_EQ("", RunBytes(lumeval::fuzz::FuzzTextFile, std::string(1, code) + utf16le))
            << int(code);
        EXPECT_EQ("", RunBytes(lumeval::fuzz::FuzzTextFile, std::string(1, code) + srt))
            << int(code);
    }
}

// The validator decides whether a decoder is reported, so it must be exact.
TEST(FuzzEntries, Utf8ValidatorIsStrict) {
    struct Case {
        std::string bytes;
        bool valid;
    } const cases[] = {
        {"", true},
        {std::string("a\0b", 3), true},
        {"\xC2\x80", true},
        {"\xE4\xBD\xA0", true},
        {"\xED\x9F\xBF", true},        // U+D7FF, last before the surrogates
        {"\xEE\x80\x80", true},        // U+E000, first after them
        {"\xF4\x8F\xBF\xBF", true},    // U+10FFFF
        {"\xC0\x80", false},           // overlong NUL
        {"\xC1\xBF", false},           // overlong
        {"\xE0\x9F\xBF", false},       // overlong three-byte form
        {"\xED\xA0\x80", false},       // surrogate U+D800
        {"\xF0\x8F\xBF\xBF", false},   // overlong four-byte form
        {"\xF4\x90\x80\x80", false},   // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xE4\xBD", false},           // cut short
        {"\x80", false},               // lone continuation byte
        {"\xE4\x41\xA0", false},       // ASCII inside a sequence
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.valid, lumeval::fuzz::IsValidUtf8(c.bytes)) << testing::PrintToString(c.bytes);
    }
}

}  // namespace
