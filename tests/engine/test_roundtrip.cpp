// Every format written and read back: times to the precision the format
// writes, texts unchanged (apart from the override prefix SSA adds).
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

struct Cue {
    double start;
    double end;
    std::string text;
};

struct Format {
    const char* key;
    bool hasEnd;
    double precisionMs;  ///< a read-back time may differ by less than this
};

void PrintTo(const Format& f, std::ostream* os) { *os << f.key; }

// Drops the override blocks the SSA writer puts before the text.
std::string WithoutLeadingOverrides(std::string text) {
    while (!text.empty() && text.front() == '{') {
        const auto close = text.find('}');
        if (close == std::string::npos) break;
        text.erase(0, close + 1);
    }
    return text;
}

class RoundTrip : public ::testing::TestWithParam<Format> {};

TEST_P(RoundTrip, KeepsTimesAndTexts) {
    const Format f = GetParam();
    const std::vector<Cue> cues = {
        {1000, 2500, "Hello world"},
        {3500, 4000, "你好，世界"},
        {62345, 64000, "mixed 中文 and English"},
        {3723004, 3725678, "an hour later"},
        {3725678, 3730000, "简体字 stays"},
    };
    std::vector<std::string> table = {"0"};
    for (const Cue& c : cues) {
        table.push_back(MSecsToTime(c.start, 0) + "->" + MSecsToTime(c.end, 0) + "|" + c.text);
    }

    test::TempDir dir;
    const std::string path = dir.file(std::string("roundtrip.") + f.key);
    clsSubtitle engine;
    SaveSettings save;
    save.s_SubtitleEncodeFormat = 1;  // UTF-8
    ASSERT_TRUE(engine.SaveArrayToSubtitle(table, path, save)) << f.key;

    std::vector<Cue> read;
    std::vector<double> clears;  // blank lines of a start-only format: where the screen clears
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
        // LRC's header tags ([ti:], [ar:], ...) read as one empty line at 0.
        if (std::string(f.key) == "lrc" && s == 0 && t.empty()) return;
        if (!f.hasEnd && t.empty()) {
            clears.push_back(s);
            return;
        }
        read.push_back({s, e, t});
    };
    ConvertSettings convert;
    convert.dst_SubFile = "stxt";  // event mode
    ASSERT_TRUE(engine.ConvertSubtitle(path, convert)) << f.key;

    ASSERT_EQ(cues.size(), read.size()) << f.key;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        SCOPED_TRACE(std::string(f.key) + " cue " + std::to_string(i));
        EXPECT_LT(std::fabs(read[i].start - cues[i].start), f.precisionMs) << read[i].start;
        if (f.hasEnd) {
            EXPECT_LT(std::fabs(read[i].end - cues[i].end), f.precisionMs) << read[i].end;
        } else {
            EXPECT_EQ(0, read[i].end);
        }
        EXPECT_EQ(cues[i].text, WithoutLeadingOverrides(read[i].text));
    }
    // SAMI clears the screen where a cue ends before the next one starts,
    // and after the last.
    const std::string key = f.key;
    if (key == "smi" || key == "sami") {
        EXPECT_EQ((std::vector<double>{2500, 4000, 64000, 3730000}), clears);
    } else if (!f.hasEnd) {
        EXPECT_TRUE(clears.empty()) << clears.size();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RoundTrip,
    ::testing::Values(Format{"srt", true, 1}, Format{"utf", true, 1}, Format{"ass", true, 10},
                      Format{"ssa", true, 10}, Format{"ksc", true, 1}, Format{"stl", true, 10},
                      Format{"vsf", true, 1}, Format{"dks", true, 1000}, Format{"stxt", true, 1},
                      Format{"lrc", false, 10}, Format{"krc", false, 10}, Format{"smi", false, 1},
                      Format{"sami", false, 1}, Format{"snc", false, 10},
                      Format{"qly", false, 1000}, Format{"vtt", true, 1}),
    [](const auto& info) { return std::string(info.param.key); });

}  // namespace
}  // namespace lumeval
