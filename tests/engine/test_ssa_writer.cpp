// The SSA v4 writer: golden scripts compared byte for byte, the karaoke
// timing rules, number formatting and the guards against bad settings.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"
#include "test_util.h"

namespace lumeval {
namespace {

using Table = std::vector<std::string>;
using test::readBytes;
using test::TempDir;

std::string golden(const std::string& name) {
    return readBytes(std::string(LUMEVAL_TEST_DATA) + "/ssa/" + name);
}

// The first line where two scripts differ, for a readable failure.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    std::size_t line = 1;
    std::size_t from = 0;
    for (;;) {
        const auto e = expected.find("\r\n", from);
        const auto a = actual.find("\r\n", from);
        const std::string el = expected.substr(from, e == std::string::npos ? e : e - from);
        const std::string al = actual.substr(from, a == std::string::npos ? a : a - from);
        if (el != al || e != a) {
            return "line " + std::to_string(line) + "\n  expected: " + el + "\n  actual:   " + al;
        }
        if (e == std::string::npos) return "no difference";
        from = e + 2;
        ++line;
    }
}

struct GoldenCase {
    const char* file;
    Table entries;
    SaveSettings settings;
};

SaveSettings utf8(SaveSettings s) {
    s.s_SubtitleEncodeFormat = 1;
    return s;
}

TEST(SsaWriter, GoldenScripts) {
    std::vector<GoldenCase> cases;
    {
        // Plain styles: brackets dropped, a missing end, blank and start-only
        // cues left out, "->" inside a text, truncated centiseconds.
        SaveSettings s;
        cases.push_back({"plain.ass",
                         {"", "00:00:01,000->00:00:03,200|你好，世界！\\NHello, world!",
                          "00:00:03,500->00:00:05,000|[这是]演示", "00:00:05,400|no arrow, skipped",
                          "00:00:01,000->00:00:00,000|  zero end  ", "00:00:12,345->00:00:13,999|   ",
                          "00:00:15,000|x->y", "00:01:02,999->01:02:03,004|a\\nb",
                          "00:02:00,000|last->one"},
                         utf8(s)});
    }
    {
        SaveSettings s;
        s.s_BannerString = "横幅 Banner";
        s.s_TitleString = "标题 Title\r\nSecond line";
        s.s_FontName = "微软雅黑";
        s.s_FontBold = 1;
        s.s_FontOutline = 2;
        s.s_FontShadow = 1;
        cases.push_back({"banner_title.ass", {"", "00:00:01,000->00:00:02,000|cue"}, utf8(s)});
    }
    {
        // Lead-ins 3000 (first cue), capped at 3000, 1500 (last cue, which
        // also gets 5 s more); 12.5 centiseconds round to 12.
        SaveSettings s;
        s.s_ScreenWidth = 640;
        s.s_ScreenHeight = 480;
        s.s_FontSize = 20;
        s.s_EffectStyle = 1;
        s.s_EffectSpeed = 2;
        s.s_EffectColor = 0x00FFFF;
        s.s_ShadowColor = 0x123456;
        cases.push_back({"effect_kf.ass",
                         {"", "00:00:10,000->00:00:12,000|ABCD", "00:00:14,000->00:00:16,000|一二三",
                          "00:00:21,000->00:00:22,000|x\\Ny", "00:00:22,500->00:00:23,500|la[s]t"},
                         utf8(s)});
    }
    {
        // Rows from index 0 as the editor saves them; the second row's next
        // start is its own, so its durations would be negative and become 0.
        SaveSettings s;
        s.s_EffectStyle = 2;
        s.s_ForeColor = 0xFF00;
        s.s_EffectColor = 0;
        s.s_ShadowColor = 0x808080;
        s.s_FontBold = 1;
        s.s_FontItalic = 1;
        s.s_FontOutline = 1;
        s.s_FontShadow = 2;
        s.s_SubtitleAlign = 8;
        cases.push_back({"effect_ko.ass",
                         {"00:00:04,000->00:00:06,000|Hi", "00:00:06,000->00:00:08,000|OK"},
                         utf8(s)});
    }
    {
        // KSC source: bracketed syllables, per-character durations with a
        // short list, an empty list, an empty text.
        SaveSettings s;
        s.s_EffectStyle = 1;
        s.src_Format = kKindKsc;
        cases.push_back({"ksc_source.ass",
                         {"", "00:00:10,000->00:00:12,000|[你][好][吗]\x1F" "'300,450,250'",
                          "00:00:13,000->00:00:15,000|abc\x1F" "100,205",
                          "00:00:16,000->00:00:18,000|[Hey][you]\x1F", "00:00:19,000->00:00:20,000|"},
                         utf8(s)});
    }
    TempDir dir;
    for (auto& c : cases) {
        clsSubtitle engine;
        const std::string path = dir.file(c.file);
        ASSERT_TRUE(engine.SaveArrayToSubtitle(c.entries, path, c.settings)) << c.file;
        const std::string actual = readBytes(path);
        if (test::updateGolden(std::string(LUMEVAL_TEST_DATA) + "/ssa/" + c.file, actual)) continue;
        const std::string expected = golden(c.file);
        ASSERT_FALSE(expected.empty()) << c.file;
        EXPECT_EQ(expected, actual) << c.file << ": " << firstDifference(expected, actual);
    }
}

// The writer's output for `entries`, without saving.
std::string writeSsa(const Table& entries, const SaveSettings& s, std::vector<std::size_t>* progress = nullptr,
                     bool stopAtFirst = false) {
    OutputLines out;
    WriterProgress onProgress = [&](std::size_t j) {
        if (progress) progress->push_back(j);
        return !stopAtFirst;
    };
    const LineTable ctxTable(entries);
    WriterContext ctx{ctxTable, s, 1000, onProgress, out};
    const bool done = WriteEntries(kKindSsa, ctx);
    EXPECT_EQ(!stopAtFirst, done);
    return out.text();
}

std::vector<std::string> dialogues(const std::string& script) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const auto nl = script.find("\r\n", from);
        const std::string line = script.substr(from, nl == std::string::npos ? nl : nl - from);
        if (line.starts_with("Dialogue:")) out.push_back(line);
        if (nl == std::string::npos) return out;
        from = nl + 2;
    }
}

std::string styleLine(const std::string& script, const std::string& name) {
    const auto at = script.find("Style: " + name + ",");
    if (at == std::string::npos) return {};
    return script.substr(at, script.find("\r\n", at) - at);
}

TEST(SsaWriter, NumbersAndColours) {
    struct Case {
        int32_t height;
        const char* bannerSize;
        const char* bannerMargin;
        const char* titleSize;
        const char* titleBreak;
    };
    const Case cases[] = {
        {288, "14.4", "259.2", "23.04", "{\\fs20}"},
        {300, "15", "270", "24", "{\\fs21}"},
        {333, "16.65", "299.7", "26.64", "{\\fs23}"},
        {100, "5", "90", "8", "{\\fs7}"},
    };
    for (const auto& c : cases) {
        SaveSettings s;
        s.s_ScreenHeight = c.height;
        s.s_BannerString = "b";
        s.s_TitleString = "t\r\nu";
        const std::string script = writeSsa({}, s);
        EXPECT_EQ(std::string("Style: Default2,Arial,") + c.bannerSize +
                      ",&HFFFFFF,&H0,&H0,&H0,1,0,1,2,1,1,15,15," + c.bannerMargin + ",0,134",
                  styleLine(script, "Default2"))
            << c.height;
        EXPECT_EQ(std::string("Style: Default3,Arial,") + c.titleSize +
                      ",&HFFFFFF,&HFFFFFF,&H0,&H0,1,0,1,2,1,10,35,35,0,0,134",
                  styleLine(script, "Default3"))
            << c.height;
        EXPECT_NE(std::string::npos, script.find(std::string("t\\N\\N") + c.titleBreak + "u")) << c.height;
    }

    // MarginV of the left karaoke style: size x 1.5, ties to even, plus 20.
    const std::pair<int32_t, const char*> margins[] = {{18, "47"}, {19, "48"}, {17, "46"}, {0, "20"}};
    for (const auto& [size, margin] : margins) {
        SaveSettings s;
        s.s_EffectStyle = 1;
        s.s_FontSize = size;
        s.s_ForeColor = 0;
        s.s_EffectColor = 0xABCDEF;
        s.s_ShadowColor = 0xFFFFFFFF;
        s.s_FontAlphaLevel = 128;
        s.s_FontEncoding = 1;
        EXPECT_EQ("Style: Default0,Arial," + std::to_string(size) + ",&H0,&HABCDEF,&H0,&HFFFFFFFF," +
                      "0,0,1,0,0,1,15,15," + margin + ",128,1",
                  styleLine(writeSsa({}, s), "Default0"));
    }
}

TEST(SsaWriter, OverridePrefix) {
    struct Case {
        int32_t outline, shadow;
        const char* prefix;
    };
    const Case cases[] = {
        {0, 0, "{\\b0\\i0}"},
        {3, 0, "{\\b0\\i0\\bord3\\3c&HFF}"},
        {0, 2, "{\\b0\\i0\\shad2\\4c&H10}"},
        {-1, -1, "{\\b0\\i0}"},
    };
    for (const auto& c : cases) {
        SaveSettings s;
        s.s_FontOutline = c.outline;
        s.s_FontShadow = c.shadow;
        s.s_ShadowColor = 0x10;
        const auto lines = dialogues(writeSsa({"00:00:01,000->00:00:02,000|x"}, s));
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(std::string("Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default0,,0000,0000,0000,,") +
                      c.prefix + "{\\fnArial}{\\an2}x",
                  lines[0]);
    }
}

TEST(SsaWriter, BadEffectSettingsAreTamed) {
    const Table entries{"", "00:00:01,000->00:00:02,000|ab", "00:00:03,000->00:00:04,000|cd",
                        "00:00:05,000->00:00:06,000|ef"};
    // Effect kinds other than 1 and 2 write plain styles.
    SaveSettings plain;
    const std::string plainScript = writeSsa(entries, plain);
    for (const int32_t effect : {3, -1, 99}) {
        SaveSettings s;
        s.s_EffectStyle = effect;
        EXPECT_EQ(plainScript, writeSsa(entries, s)) << effect;
    }
    // A speed of 0 or less (or not a number) counts as 1.
    SaveSettings one;
    one.s_EffectStyle = 1;
    one.s_EffectSpeed = 1;
    const std::string oneScript = writeSsa(entries, one);
    for (const double speed : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN()}) {
        SaveSettings s = one;
        s.s_EffectSpeed = speed;
        EXPECT_EQ(oneScript, writeSsa(entries, s)) << speed;
    }
    // Cue 2: (5000 - 1000 - 2000) / 2 / 10 = 100 per character.
    EXPECT_EQ(
        "Dialogue: Marked=0,0:00:01.00,0:00:04.00,Default0,,0000,0000,0000,,{\\b0\\i0}"
        "{\\t(0,1,\\fsp20)}{\\t(1,200,\\fsp1)}{\\fad(500,200)}{\\fnArial}{\\an2}{\\k200}{\\kf100}c{\\kf100}d",
        dialogues(oneScript).at(1));
}

TEST(SsaWriter, SingleRowWithEffect) {
    // Upper index 0: no cue before it (lead-in 0) and no cue 1 to count down to.
    SaveSettings s;
    s.s_EffectStyle = 1;
    s.s_EffectSpeed = 1;
    const auto lines = dialogues(writeSsa({"00:00:09,000->00:00:10,000|ab"}, s));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(
        "Dialogue: Marked=0,0:00:09.00,0:00:15.00,Default0,,0000,0000,0000,,{\\b0\\i0}"
        "{\\t(0,1,\\fsp20)}{\\t(1,200,\\fsp1)}{\\fad(500,200)}{\\fnArial}{\\an2}{\\kf0}a{\\kf0}b",
        lines[0]);
    // The placeholder alone: header and styles, no event at all.
    EXPECT_TRUE(dialogues(writeSsa({""}, s)).empty());
    EXPECT_TRUE(dialogues(writeSsa({}, s)).empty());
}

TEST(SsaWriter, EmptyTextsWriteNoEvent) {
    for (const int32_t effect : {0, 1}) {
        for (const int32_t source : {0, int32_t(kKindKsc)}) {
            SaveSettings s;
            s.s_EffectStyle = effect;
            s.src_Format = source;
            const auto lines =
                dialogues(writeSsa({"", "00:00:01,000->00:00:02,000|", "00:00:03,000->00:00:04,000|  []  ",
                                    "00:00:05,000->00:00:06,000|\\N"},
                                   s));
            // Only the "\N" cue has a character; the count-down needs a start above 3 s.
            EXPECT_EQ(1u, lines.size()) << effect << " " << source;
        }
    }
}

// "[" and "]" go wherever they stand, in texts of every length (the search
// runs in blocks of sixteen and eight bytes, then byte by byte).
TEST(SsaWriter, BracketsGoAtEveryOffset) {
    for (std::size_t length = 2; length <= 40; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            std::string text(length, 'x');
            text[at] = (at % 2) ? ']' : '[';
            const auto lines = dialogues(writeSsa({"", "00:00:01,000->00:00:02,000|" + text}, SaveSettings{}));
            ASSERT_EQ(1u, lines.size());
            EXPECT_EQ(std::string(length - 1, 'x'), lines[0].substr(lines[0].rfind('}') + 1))
                << length << " " << at;
        }
    }
}

// Times in the table's own form are rewritten as text; every other form, and
// every end the writer works out, goes through the number. Both must agree.
TEST(SsaWriter, EventTimesFromEveryForm) {
    const struct {
        const char* name;
        Table entries;
        std::vector<std::string> times;  // "start,end" of each event
    } cases[] = {
        {"one-digit hours lose the zero", {"", "00:00:01,234->09:59:59,999|a"}, {"0:00:01.23,9:59:59.99"}},
        {"two- and three-digit hours", {"", "10:00:00,005->123:04:05,678|a"}, {"10:00:00.00,123:04:05.67"}},
        {"forms outside the table's", {"", "1:02:03.50->600:00:00,000|a"}, {"1:02:03.50,600:00:00.00"}},
        {"an end of 0 lasts five seconds", {"", "00:00:07,000->00:00:00,000|a"}, {"0:00:07.00,0:00:12.00"}},
        {"a start alone ends at the next start",
         {"", "00:00:01,000|a", "120:00:00,000|b", "00:00:02,000|c"},
         {"0:00:01.00,120:00:00.00", "120:00:00.00,120:00:05.00", "0:00:02.00,0:00:07.00"}},
        {"the next start looked past an entry without a bar",
         {"", "00:00:01,000|a", "no bar", "00:00:03,000->00:00:04,000|b"},
         {"0:00:01.00,0:00:03.00", "0:00:03.00,0:00:04.00"}},
        {"end markers end the cue before them",
         {"", "00:00:01,000|a", "00:00:02,500|", "00:00:04,000|b"}, {"0:00:01.00,0:00:02.50", "0:00:04.00,0:00:09.00"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> times;
        for (const std::string& line : dialogues(writeSsa(c.entries, SaveSettings{}))) {
            const auto from = line.find(',') + 1;
            const auto to = line.find(',', line.find(',', from) + 1);
            times.push_back(line.substr(from, to - from));
        }
        EXPECT_EQ(c.times, times) << c.name;
    }
}

TEST(SsaWriter, KscSourceWithoutEffectKeepsSyllableBrackets) {
    SaveSettings s;
    s.src_Format = kKindKsc;
    const auto lines = dialogues(writeSsa(
        {"", "00:00:01,000->00:00:02,000|[a][b]\x1F" "1,2", "00:00:03,000->00:00:04,000|[c]d\x1F" "5"}, s));
    ASSERT_EQ(2u, lines.size());
    EXPECT_TRUE(lines[0].ends_with("{\\an2}[a][b]")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("{\\an2}cd")) << lines[1];
}

TEST(SsaWriter, CountDownWindow) {
    struct Case {
        const char* firstStart;
        const char* line;  // empty: no count-down
    };
    const Case cases[] = {
        {"00:00:10,000", "Dialogue: Marked=0,0:00:02.00,0:00:07.00,Default1"},
        {"00:00:06,000", "Dialogue: Marked=0,0:00:00.00,0:00:03.00,Default1"},
        {"00:00:04,000", "Dialogue: Marked=0,0:00:00.00,0:00:01.00,Default1"},
        {"00:00:03,000", ""},
    };
    for (const auto& c : cases) {
        SaveSettings s;
        s.s_EffectStyle = 2;
        const auto lines = dialogues(writeSsa({"", std::string(c.firstStart) + "->00:00:20,000|x",
                                               "00:00:30,000->00:00:31,000|y"},
                                              s));
        if (*c.line == 0) {
            EXPECT_EQ(2u, lines.size()) << c.firstStart;
        } else {
            ASSERT_EQ(3u, lines.size()) << c.firstStart;
            EXPECT_EQ(std::string(c.line) +
                          ",,0000,0000,0000,,{\\fad(80,150)}{\\fnArial}{\\k100}{\\ko50}..{\\ko50}..{\\ko50}.. "
                          "{\\ko50}>{\\ko50}>{\\ko50}>{\\ko50}>{\\ko50}>",
                      lines[2]);
        }
    }
}

TEST(SsaWriter, ProgressAfterQualifyingEntriesOnly) {
    Table entries;
    for (int i = 0; i < 2500; ++i) entries.push_back("00:00:01,000->00:00:02,000|x");
    std::vector<std::size_t> progress;
    writeSsa(entries, SaveSettings{}, &progress);
    EXPECT_EQ((std::vector<std::size_t>{0, 1000, 2000}), progress);

    // Start-only cues are cues too; end markers (blank start-only) are not.
    progress.clear();
    writeSsa(Table(2500, "00:00:01,000|no span"), SaveSettings{}, &progress);
    EXPECT_EQ((std::vector<std::size_t>{0, 1000, 2000}), progress);
    progress.clear();
    writeSsa(Table(2500, "00:00:01,000| "), SaveSettings{}, &progress);
    EXPECT_TRUE(progress.empty());

    // Blank cues qualify too: they write nothing but still count.
    progress.clear();
    writeSsa(Table(1001, "00:00:01,000->00:00:02,000|"), SaveSettings{}, &progress);
    EXPECT_EQ((std::vector<std::size_t>{0, 1000}), progress);

    // A cancelled save stops at once.
    writeSsa(entries, SaveSettings{}, nullptr, /*stopAtFirst=*/true);
}

TEST(SsaWriter, ReadsBackThroughTheEngine) {
    // What the writer saves, the reader reads: times to the centisecond, the
    // text behind the override prefix.
    TempDir dir;
    Table entries{"", "00:00:01,234->00:00:02,345|甲, one", "00:00:03,000->00:00:04,500|two\\Nlines"};
    clsSubtitle engine;
    const std::string path = dir.file("round.ass");
    ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, utf8(SaveSettings{})));
    std::vector<std::string> read;
    engine.SubtitleLineLoaded = [&](double start, double end, const std::string& text) {
        read.push_back(std::to_string(int(start)) + "-" + std::to_string(int(end)) + " " + text);
    };
    ConvertSettings c;
    c.dst_SubFile = "srt";
    ASSERT_TRUE(engine.ConvertSubtitle(path, c));
    EXPECT_EQ((std::vector<std::string>{"1230-2340 {\\b0\\i0}{\\fnArial}{\\an2}甲, one",
                                        "3000-4500 {\\b0\\i0}{\\fnArial}{\\an2}two\\Nlines"}),
              read);
}

TEST(SsaWriter, KaraokeFromAKscFile) {
    // The conversion hands the source kind to the writer: syllable durations
    // from the KSC calls time the karaoke tags.
    TempDir dir;
    const std::string src = dir.file("song.ksc");
    test::writeBytes(src,
                     "karaoke.add('00:01.000', '00:03.500', '[你][好]', '500,1000');\r\n"
                     "karaoke.add('00:04.000', '00:05.000', 'ab', '300');\r\n");
    clsSubtitle engine;
    ConvertSettings c;
    c.dst_SubFile = dir.file("song.ass");
    c.s_EffectStyle = 1;
    c.s_Overwrite = true;
    c.s_SubtitleEncodeFormat = 1;
    ASSERT_TRUE(engine.ConvertSubtitle(src, c));
    const auto lines = dialogues(readBytes(dir.file("song.ass")));
    ASSERT_EQ(2u, lines.size());
    EXPECT_TRUE(lines[0].starts_with("Dialogue: Marked=0,0:00:00.00,0:00:03.50,Default1,")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("{\\k300}{\\kf50}你{\\kf100}好")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("{\\k300}{\\kf30}a{\\kf0}b")) << lines[1];
}

}  // namespace
}  // namespace lumeval
