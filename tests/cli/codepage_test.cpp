// lumeval-convert on legacy sources: each read through the code page its
// content shows, named on standard error; text left as written unless a
// Chinese conversion is asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_support.h"
#include "engine/encoding/codepage.h"

namespace lumeval::clitest {
namespace {

std::string Encode(const std::string& text, int32_t page) {
    std::string out;
    EXPECT_TRUE(EncodeCodePage(text, page, out, true).ok) << page;
    return out;
}

std::string Cues(const std::vector<std::string>& texts) {
    std::string srt;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        srt += n + "\r\n00:00:0" + n + ",000 --> 00:00:0" + n + ",500\r\n" + texts[i] + "\r\n\r\n";
    }
    return srt;
}

// Event mode's text column, one entry per cue.
std::vector<std::string> Texts(const RunResult& r) {
    std::vector<std::string> texts;
    for (const std::string& line : SplitLines(r.out)) texts.push_back(line.substr(line.rfind('\t') + 1));
    return texts;
}

const std::vector<std::string> kTraditional = {"這個城市的夜晚非常安靜，", "只有遠處傳來的汽車聲。"};
const std::vector<std::string> kJapanese = {"この街の夜はとても静かで、", "遠くから車の音だけが聞こえる。"};
const std::vector<std::string> kRussian = {"Здравствуйте, добро пожаловать в нашу программу.",
                                           "Сегодня мы поговорим об очень интересном вопросе."};

TEST(CodePages, EachLegacySourceIsReadAsItsContentShowsAndNamed) {
    ScratchDir dir;
    WriteFile(dir / "b.srt", Encode(Cues(kTraditional), 950));
    WriteFile(dir / "j.srt", Encode(Cues(kJapanese), 932));
    WriteFile(dir / "r.srt", Encode(Cues(kRussian), 1251));
    WriteFile(dir / "u.srt", Cues({"Unicode 中文"}));
    WriteFile(dir / "a.srt", Cues({"plain ASCII"}));
    const RunResult r = dir.Run({"b.srt", "j.srt", "r.srt", "u.srt", "a.srt", "-o", "srt", "--no-sort"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::vector<std::string> expected = {kTraditional[0], kTraditional[1], kJapanese[0], kJapanese[1],
                                               kRussian[0],     kRussian[1],     "Unicode 中文", "plain ASCII"};
    EXPECT_EQ(expected, Texts(r));
    // Unicode and ASCII sources say nothing.
    EXPECT_EQ((std::vector<std::string>{"b.srt: read as Big5", "j.srt: read as Shift-JIS",
                                        "r.srt: read as windows-1251"}),
              SplitLines(r.err));
}

TEST(CodePages, TheDefaultPageIsNamedAsSuch) {
    ScratchDir dir;
    WriteFile(dir / "s.srt", Encode(Cues({"你好"}), 936));
    const RunResult r = dir.Run({"s.srt", "-o", "srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(std::vector<std::string>{"你好"}, Texts(r));
    EXPECT_EQ(std::vector<std::string>{"s.srt: read as GBK (the default; --codepage N picks another)"},
              SplitLines(r.err));
    // --quiet keeps it to errors.
    EXPECT_EQ("", dir.Run({"s.srt", "-o", "srt", "--quiet"}).err);
}

// --codepage forces its page: nothing is detected, nothing said.
TEST(CodePages, ForcedPageIsUsedAsItIs) {
    ScratchDir dir;
    const std::string bytes = Encode(Cues(kTraditional), 950);
    WriteFile(dir / "b.srt", bytes);
    const RunResult asGbk = dir.Run({"b.srt", "-o", "srt", "--codepage", "936"});
    ASSERT_EQ(0, asGbk.exitCode) << asGbk.err;
    EXPECT_EQ("", asGbk.err);
    std::string misread;
    ASSERT_TRUE(DecodeCodePage(Encode(kTraditional[0], 950), 936, misread));
    EXPECT_EQ(misread, Texts(asGbk).at(0));
    // Yes to the conversion repairs BIG5 that was read as GBK.
    const RunResult repaired = dir.Run({"b.srt", "-o", "srt", "--codepage", "936", "--chinese", "1"});
    EXPECT_EQ("这个城市的夜晚非常安静，", Texts(repaired).at(0));
    const RunResult asBig5 = dir.Run({"b.srt", "-o", "srt", "--codepage", "950"});
    EXPECT_EQ(kTraditional[0], Texts(asBig5).at(0));
}

// No conversion asked for: Japanese and traditional text come out as written.
TEST(CodePages, TextIsLeftAsWrittenWithoutAConversion) {
    ScratchDir dir;
    WriteFile(dir / "j.srt", "1\n00:00:01,000 --> 00:00:02,000\n傷つき 夢 僕\n");
    WriteFile(dir / "b.srt", Encode(Cues(kTraditional), 950));
    for (const Args& extra : {Args{}, Args{"--chinese", "none"}}) {
        Args args = {"j.srt", "b.srt", "-o", "srt", "--no-sort"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = dir.Run(args);
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ((std::vector<std::string>{"傷つき 夢 僕", kTraditional[0], kTraditional[1]}), Texts(r))
            << Joined(args);
    }
    // Automatic conversion simplifies the detected BIG5 text.
    const RunResult automatic = dir.Run({"b.srt", "-o", "srt", "--chinese", "auto"});
    EXPECT_EQ((std::vector<std::string>{"这个城市的夜晚非常安静，", "只有远处传来的汽车声。"}), Texts(automatic));
}

}  // namespace
}  // namespace lumeval::clitest
