// The editor's window-free decisions: command words, time-shift amounts,
// menu texts, the layout rule, entries and the timeline merge.
#include <gtest/gtest.h>

#include "app/editorlogic.h"

using namespace lumeval::editor;

TEST(EditorCommands, WordsMatchInTableOrder) {
    struct Case {
        const char* word;
        Command command;
    };
    const Case cases[] = {
        {"  FindNext ", Command::FindNext},
        {"find", Command::Find},
        {"findx", Command::None},  // exact words take no suffix
        {"FINDALL", Command::FindAll},
        {"timeoffsetall-500", Command::TimeOffsetAll},
        {"timeoffsetstart", Command::TimeOffsetStart},
        {"TimeOffsetEnd+20", Command::TimeOffsetEnd},
        {"opensubtitle", Command::OpenSubtitle},
        {"openvideo", Command::OpenVideo},
        {"save", Command::Save},
        {"saveas", Command::None},
        {"combinesubtitle_to_file", Command::CombineToFile},
        {"combinesubtitle_by_file", Command::CombineByFile},
        {"combinesubtitle_by_timeline", Command::CombineByTimeline},
        {"about", Command::About},
        {"initsetting", Command::InitSetting},
        {"exit", Command::Exit},
        {"-", Command::None},  // the Help menu's separator carries this word
        {"", Command::None},
        {"   ", Command::None},
    };
    for (const auto& c : cases) EXPECT_EQ(MatchCommand(QString::fromUtf8(c.word)).command, c.command) << c.word;
}

TEST(EditorCommands, OffsetAmountReadsTheRestOfTheWord) {
    struct Case {
        const char* word;
        const char* prefix;
        int32_t amount;
    };
    const Case cases[] = {
        {"timeoffsetall-500", "timeoffsetall", -500},
        {"timeoffsetall1000", "timeoffsetall", 1000},
        {"timeoffsetstart", "timeoffsetstart", 0},
        {"timeoffsetstartabc", "timeoffsetstart", 0},
        {"timeoffsetend  +20ms", "timeoffsetend", 20},
        {"timeoffsetall2.5", "timeoffsetall", 2},    // halves to even
        {"timeoffsetall3.5", "timeoffsetall", 4},
        {"timeoffsetall-0.5", "timeoffsetall", 0},
        {"timeoffsetall1e3", "timeoffsetall", 1000},
        {"timeoffsetall1e", "timeoffsetall", 1},     // an exponent without digits is not read
        {"timeoffsetall12timeoffsetall3", "timeoffsetall", 123},  // every occurrence removed
        {"timeoffsetall99999999999", "timeoffsetall", 2147483647},
        {"timeoffsetall-99999999999", "timeoffsetall", -2147483647 - 1},
        {"timeoffsetall1e999", "timeoffsetall", 2147483647},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OffsetAmount(QString::fromUtf8(c.word), QString::fromUtf8(c.prefix)), c.amount) << c.word;
}

TEST(EditorMenus, TimeShiftGroupAndAmounts) {
    const QStringList items = TimeShiftGroup().split(u'|');
    ASSERT_EQ(items.size(), 15);
    EXPECT_EQ(items[0], QStringLiteral("减少10秒"));
    EXPECT_EQ(items[3], QStringLiteral("-"));
    EXPECT_EQ(items[14], QStringLiteral("增加500毫秒"));
    int shifts = 0;
    for (const QString& item : items) {
        if (item == QStringLiteral("-")) {
            EXPECT_FALSE(TimeShiftAmount(item));
            continue;
        }
        ASSERT_TRUE(TimeShiftAmount(item)) << item.toStdString();
        ++shifts;
    }
    EXPECT_EQ(shifts, 12);
    EXPECT_EQ(*TimeShiftAmount(QStringLiteral("减少50毫秒")), -50);
    EXPECT_EQ(*TimeShiftAmount(QStringLiteral("增加10秒")), 10000);
}

TEST(EditorMenus, ListMenuGroupsInOrder) {
    const QString empty = ListMenuText(false, false);
    EXPECT_EQ(empty, QStringLiteral("关闭|关闭全部"));
    EXPECT_EQ(ListMenuText(false, true), QStringLiteral("关闭|关闭全部|-|基于文件合并字幕|基于时间合并字幕"));

    const QString full = ListMenuText(true, true);
    EXPECT_TRUE(full.startsWith(TimeShiftGroup() + QStringLiteral("|-|复制开始位置|复制结束位置|复制文本|-|删除|清除|-|清除样式|-|保存|-|关闭|关闭全部|-|基于文件合并字幕")));
    // Positions count separators: the chosen item is found by its place in the text.
    EXPECT_EQ(MenuItemAt(full, 0), QStringLiteral("减少10秒"));
    EXPECT_EQ(MenuItemAt(full, 3), QStringLiteral("-"));
    EXPECT_EQ(MenuItemAt(full, 16), QStringLiteral("复制开始位置"));
    EXPECT_EQ(MenuItemAt(full, -1), QString());
    EXPECT_EQ(MenuItemAt(full, 1000), QString());
    EXPECT_EQ(MenuItemAt(kVideoMenu, 2), QStringLiteral("关闭"));
}

TEST(EditorLayout, ListsSideBySideAndPreviewOnTop) {
    // Three lists share 900 pixels; the text column gets the rest of each third.
    Layout l = ComputeLayout(900, 600, 20, 3, false);
    ASSERT_EQ(l.lists.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(l.lists[i].rect, QRect(300 * i, 0, 300, 580)) << i;
        EXPECT_EQ(l.lists[i].textWidth, 300 - 240 - 17);
    }
    EXPECT_TRUE(l.seekBar.IsEmpty());

    // A medium open: the lists take the lower half, the picture and its bar the upper.
    l = ComputeLayout(901, 601, 20, 2, true);
    EXPECT_EQ(l.splitY, 300);  // 300.5 halves to even
    EXPECT_EQ(l.lists[0].rect, QRect(0, 300, 450, 281));
    EXPECT_EQ(l.lists[1].rect, QRect(450, 300, 450, 281));  // x = 450.5 -> 450
    EXPECT_EQ(l.video, QRect(0, 0, 900, 280));
    EXPECT_EQ(l.seekBar, (WinRect{0, 280, 900, 300}));

    // No list visible: the preview takes the whole height above the status bar.
    l = ComputeLayout(800, 600, 20, 0, true);
    EXPECT_TRUE(l.lists.empty());
    EXPECT_EQ(l.splitY, 580);
    EXPECT_EQ(l.video, QRect(0, 0, 799, 560));
    EXPECT_EQ(l.seekBar, (WinRect{0, 560, 799, 580}));

    // A window smaller than its status bar gives no negative sizes.
    l = ComputeLayout(100, 10, 20, 1, false);
    EXPECT_EQ(l.lists[0].rect.height(), 0);
    EXPECT_EQ(l.lists[0].textWidth, 0);
}

TEST(EditorLayout, RectanglesExcludeTheirFarEdges) {
    const WinRect r{0, 280, 900, 300};
    EXPECT_TRUE(r.Contains(0, 280));
    EXPECT_FALSE(r.Contains(900, 290));
    EXPECT_FALSE(r.Contains(10, 300));
    EXPECT_FALSE(WinRect{}.Contains(0, 0));
}

TEST(EditorEntries, RowsBecomeEntriesAndBack) {
    const std::string e = EntryFromCells(QStringLiteral("00:00:01,000"), QStringLiteral("00:00:02,000"),
                                         QStringLiteral("你好\\N世界"));
    EXPECT_EQ(e, "00:00:01,000->00:00:02,000|你好\\N世界");
    // A "|" in the text is text; a KSC entry's durations follow the unit separator.
    const EntryCells c = CellsFromEntry(" 00:00:01,000 -> 00:00:02,000 | text | more\x1F" "100,200");
    EXPECT_EQ(c.start, QStringLiteral("00:00:01,000"));
    EXPECT_EQ(c.end, QStringLiteral("00:00:02,000"));
    EXPECT_EQ(c.text, QStringLiteral("text | more"));
    const EntryCells lone = CellsFromEntry("00:00:05,000|only start");
    EXPECT_EQ(lone.start, QStringLiteral("00:00:05,000"));
    EXPECT_TRUE(lone.end.isEmpty());
    EXPECT_EQ(lone.text, QStringLiteral("only start"));
    EXPECT_TRUE(CellsFromEntry("").start.isEmpty());
}

namespace {
std::vector<TimelineRow> rows(std::initializer_list<std::tuple<double, double, const char*>> list) {
    std::vector<TimelineRow> v;
    int i = 0;
    for (const auto& [s, e, t] : list) v.push_back({s, e, QString::fromUtf8(t), i++});
    return v;
}
}  // namespace

TEST(EditorMerge, TimelineJoinsRowsStrictlyWithinTheThreshold) {
    auto active = rows({{1000, 3000, "a"}, {5000, 6000, "b"}});
    auto other = rows({{1020, 3010, "A"}, {5050, 6000, "B"}, {9000, 9500, "late"}});
    MergeByTimeline(active, {&other}, 50);
    EXPECT_EQ(active[0].text, QStringLiteral("a\\NA"));
    EXPECT_EQ(active[1].text, QStringLiteral("b"));  // 50 ms apart: not below 50
    ASSERT_EQ(other.size(), 2u);
    EXPECT_EQ(other[0].row, 1);
    EXPECT_EQ(other[1].row, 2);
}

TEST(EditorMerge, EqualTextsAreNotRepeatedAndEveryListTakesPart) {
    auto active = rows({{1000, 2000, "same"}});
    auto one = rows({{1010, 2010, " same "}});
    auto two = rows({{990, 1990, "two"}, {1005, 2005, "three"}});
    std::vector<int> ticks;
    MergeByTimeline(active, {&one, &two}, 50, [&](int j) { ticks.push_back(j); });
    EXPECT_EQ(active[0].text, QStringLiteral("same\\Nthree\\Ntwo"));  // each list from its last row
    EXPECT_TRUE(one.empty());
    EXPECT_TRUE(two.empty());
    EXPECT_EQ(ticks, std::vector<int>{0});
}

TEST(EditorMerge, ScanStopsAtTheFirstRowFarBefore) {
    // The early stop relies on time order: a row far before ends the scan,
    // so a matching row before it (out of order) is left alone.
    auto active = rows({{5000, 6000, "a"}});
    auto other = rows({{5000, 6000, "hidden"}, {1000, 2000, "far"}});
    MergeByTimeline(active, {&other}, 50);
    EXPECT_EQ(active[0].text, QStringLiteral("a"));
    EXPECT_EQ(other.size(), 2u);
}

TEST(EditorWindow, AboutTextAndTwips) {
    const QStringList lines = AboutText(QStringLiteral("Lumeval"), 0, 1, 0).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 17);
    EXPECT_EQ(lines[0], QStringLiteral("Lumeval 0.1"));
    EXPECT_EQ(lines[16], QStringLiteral("是否立即访问软件更新日志及下载页面？"));
    EXPECT_TRUE(AboutText(QStringLiteral("Lumeval"), 1, 2, 7).startsWith(QStringLiteral("Lumeval 1.2 Build 7\r\n")));
    EXPECT_DOUBLE_EQ(TwipsPerPixel(96), 15.0);
    EXPECT_DOUBLE_EQ(TwipsPerPixel(0), 15.0);
}

TEST(EditorCommands, OnlyCommandsThatChangeNothingRunDuringARun) {
    for (const char* word : {"find", "findnext", "findall", "openvideo", "about", "exit", "nonsense"})
        EXPECT_FALSE(ChangesDocuments(MatchCommand(QString::fromLatin1(word)).command)) << word;
    for (const char* word : {"opensubtitle", "save", "combinesubtitle_to_file", "combinesubtitle_by_file",
                             "combinesubtitle_by_timeline", "timeoffsetall100", "timeoffsetstart-5", "timeoffsetend5",
                             "initsetting"})
        EXPECT_TRUE(ChangesDocuments(MatchCommand(QString::fromLatin1(word)).command)) << word;
}

TEST(EditorProgress, PercentRoundsHalfToEvenAndStaysInRange) {
    struct Case {
        double value, max;
        int percent;
    };
    const Case cases[] = {
        {0, 0, 0}, {5, 0, 0}, {1, -3, 0}, {0, 10, 0}, {1, 8, 12},  // 12.5 -> 12
        {3, 8, 38},                                                 // 37.5 -> 38
        {10, 10, 100}, {11, 10, 100}, {-1, 10, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Percent(c.value, c.max), c.percent) << c.value << "/" << c.max;
}

TEST(EditorSave, EntriesFitTheCodePageOrNot) {
    struct Case {
        std::vector<std::string> entries;
        int32_t codePage;
        bool fits;
    };
    const Case cases[] = {
        {{}, 936, true},
        {{"00:00:01,000->00:00:02,000|plain"}, 936, true},
        {{"00:00:01,000->00:00:02,000|简体 繁體 かな"}, 936, true},
        {{"00:00:01,000->00:00:02,000|ok", "00:00:03,000->00:00:04,000|smile \xF0\x9F\x98\x80"}, 936, false},
        {{"00:00:01,000->00:00:02,000|\xED\x95\x9C"}, 936, false},   // hangul
        {{"00:00:01,000->00:00:02,000|繁體"}, 950, true},
        {{"00:00:01,000->00:00:02,000|简体"}, 950, false},           // BIG5 holds no simplified forms
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitsCodePage(c.entries, c.codePage), c.fits)
            << (c.entries.empty() ? std::string("(none)") : c.entries.back()) << " in " << c.codePage;
    }
    EXPECT_EQ(CodePageName(936), QStringLiteral("GBK"));
    EXPECT_EQ(CodePageName(950), QStringLiteral("BIG5"));
    EXPECT_EQ(CodePageName(1252), QStringLiteral("windows-1252"));
    EXPECT_EQ(CodePageName(28592), QStringLiteral("ISO-8859-2"));
    EXPECT_EQ(CodePageName(932), QStringLiteral("Shift-JIS"));
    EXPECT_EQ(CodePageName(437), QStringLiteral("代码页 437"));
}

namespace lumeval::editor {
namespace {

TEST(TimingTools, AmountsRatesAndSyncPointsAsTyped) {
    const struct {
        const char* typed;
        std::optional<int64_t> ms;
    } amounts[] = {
        {"-1500", -1500}, {"2000", 2000}, {"-0:01.5", -1500}, {"+00:00:02,000", 2000}, {"62.5", 62500},
        {"abc", std::nullopt}, {"--5", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& a : amounts) EXPECT_EQ(a.ms, ParseShiftAmount(QString::fromUtf8(a.typed))) << a.typed;

    ASSERT_TRUE(ParseRateChange(QStringLiteral("25:23.976")));
    EXPECT_EQ(10427, ParseRateChange(QStringLiteral("25:23.976"))->Apply(10000));
    for (const char* bad : {"25", "0:25", "25:0", "25:1001", "a:b", "25:24:23", "-25:24"})
        EXPECT_FALSE(ParseRateChange(QString::fromLatin1(bad))) << bad;

    QString why;
    const auto sync = SyncRetime(60000, 130000, 10000, 20000, &why);  // the order does not matter
    ASSERT_TRUE(sync);
    EXPECT_EQ(20000, sync->Apply(10000));
    EXPECT_EQ(75000, sync->Apply(35000));
    EXPECT_EQ(0, sync->Apply(0));  // never below 0
    EXPECT_FALSE(SyncRetime(10000, 20000, 10000, 30000, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("相同")));
    EXPECT_FALSE(SyncRetime(10000, 20000, 60000, 15000, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("颠倒")));
}

}  // namespace
}  // namespace lumeval::editor

namespace lumeval::editor {
namespace {

TEST(CheckSettings, LimitsComeFromTheStoreAndNonsenseKeepsTheDefaults) {
    const doc::CheckLimits defaults;
    EXPECT_EQ(defaults, CheckLimitsFrom({}));
    const doc::CheckLimits set = CheckLimitsFrom({QStringLiteral("500"), QStringLiteral("8000"), QStringLiteral("80"),
                                                  QStringLiteral("17.5"), QStringLiteral("37"), QStringLiteral("3")});
    EXPECT_EQ(500, set.minDurationMs);
    EXPECT_EQ(8000, set.maxDurationMs);
    EXPECT_EQ(80, set.minGapMs);
    EXPECT_DOUBLE_EQ(17.5, set.maxCharsPerSecond);
    EXPECT_EQ(37, set.maxLineWidth);
    EXPECT_EQ(3, set.maxLines);
    const doc::CheckLimits bad = CheckLimitsFrom({QStringLiteral("abc"), QStringLiteral("-5"), QStringLiteral("1e9"),
                                                  QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("")});
    EXPECT_EQ(defaults, bad);
    // A maximum below the minimum keeps the default maximum.
    EXPECT_EQ(defaults.maxDurationMs, CheckLimitsFrom({QStringLiteral("5000"), QStringLiteral("1000"), {}, {}, {}, {}}).maxDurationMs);
}

}  // namespace
}  // namespace lumeval::editor

TEST(Playhead, ClockTextsAndTimesSetFromThePlayhead) {
    using namespace lumeval::editor;
    EXPECT_EQ(ClockText(83.456), QStringLiteral("00:01:23.456"));
    EXPECT_EQ(ClockText(36000.0), QStringLiteral("10:00:00.000"));
    EXPECT_EQ(ClockText(-3.0), QStringLiteral("00:00:00.000"));
    EXPECT_EQ(ClockText(0.0005), QStringLiteral("00:00:00.001"));
    EXPECT_EQ(SeekBarTime(83.456, 600.0), QStringLiteral("00:01:23.456 / 00:10:00.000"));
    EXPECT_EQ(SeekBarTime(2.0, 0.0), QStringLiteral("00:00:02.000"));  // length unknown

    struct Case {
        int64_t start, end;
        bool hasEnd;
        int64_t playhead;
        bool setStart;
        bool ok;
        int64_t newStart, newEnd;
    } cases[] = {
        {1000, 2000, true, 1500, true, true, 1500, 2000},
        {1000, 2000, true, 500, true, true, 500, 2000},
        {1000, 2000, true, 2500, true, true, 2500, 3500},  // past the end: the length moves along
        {1000, 2000, true, 2500, false, true, 1000, 2500},
        {1000, 2000, true, 1000, false, true, 1000, 1000},
        {1000, 2000, true, 999, false, false, 0, 0},
        {1000, 0, false, 4000, true, true, 4000, 0},  // a start-only cue keeps having no end
        {1000, 0, false, 4000, false, true, 1000, 4000},
    };
    for (const Case& c : cases) {
        QString why;
        const auto t = TimesAtPlayhead(c.start, c.end, c.hasEnd, c.playhead, c.setStart, &why);
        ASSERT_EQ(t.has_value(), c.ok) << c.playhead;
        if (!c.ok) {
            EXPECT_FALSE(why.isEmpty());
            continue;
        }
        EXPECT_EQ(t->start, c.newStart) << c.playhead;
        EXPECT_EQ(t->end, c.newEnd) << c.playhead;
    }
}

TEST(Layout, TheWaveformLiesUnderTheBarAndAMediumWithoutAPictureGivesItAll) {
    using namespace lumeval::editor;
    // 900 x 600 client, status 20, one list: the split at 300.
    Layout withPicture = ComputeLayout(900, 600, 20, 1, true);
    const QRect list = withPicture.lists[0].rect;
    PlaceWaveform(withPicture, true, 100);
    EXPECT_EQ(withPicture.lists[0].rect, list);  // the lists keep their place
    EXPECT_EQ(withPicture.waveform, QRect(0, 200, 899, 100));
    EXPECT_EQ(withPicture.seekBar, (WinRect{0, 180, 899, 200}));
    EXPECT_EQ(withPicture.video.height(), 180);

    Layout small = ComputeLayout(900, 200, 20, 1, true);  // a picture of 80: the waveform takes at most half
    PlaceWaveform(small, true, 100);
    EXPECT_EQ(small.waveform.height(), 40);
    EXPECT_EQ(small.video.height(), 40);

    Layout audio = ComputeLayout(900, 600, 20, 1, true);
    PlaceWaveform(audio, false, 100);
    EXPECT_EQ(audio.seekBar, (WinRect{0, 0, 899, 20}));
    EXPECT_EQ(audio.waveform, QRect(0, 20, 899, 280));
    EXPECT_EQ(audio.video.height(), 0);

    Layout none = ComputeLayout(900, 600, 20, 1, false);
    PlaceWaveform(none, false, 100);
    EXPECT_TRUE(none.waveform.isEmpty());
}
