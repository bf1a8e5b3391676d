// Files kept as written: read as the engine reads them, written back with
// only the edited, inserted and deleted cues changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/keeper.h"
#include "engine/subtitle.h"
#include "test_util.h"

#if defined(LUMEVAL_HAVE_LIBASS)
#include <ass/ass.h>
#endif

namespace lumeval {
namespace {

using test::TempDir;

const char* const kSrt =
    "1\n"
    "00:00:01,000 --> 00:00:02,500\n"
    "Hello\n"
    "World\n"
    "\n"
    "2\n"
    "00:00:03,000 --> 00:00:04,000  X1:100 X2:200 Y1:10 Y2:20\n"
    "Second <i>cue</i>\n"
    "\n"
    "\n"
    "3\n"
    "00:00:05,000 --> 00:00:06,000\n"
    "Third\n";

// Sloppy but common: no blank line between two blocks, a text with an
// empty line inside, spaces around the times, a cue out of time order, a
// cue given twice and one of no length.
const char* const kSloppySrt =
    "1\n"
    " 00:00:01,000  -->  00:00:02,000 \n"
    "One\n"
    "2\n"
    "00:00:03,000 --> 00:00:04,000\n"
    "Two\n"
    "\n"
    "after a blank\n"
    "\n"
    "3\n"
    "00:00:02,500 --> 00:00:02,900\n"
    "Early\n"
    "\n"
    "4\n"
    "00:00:03,000 --> 00:00:04,000\n"
    "TWO\n"
    "AFTER A BLANK\n"
    "\n"
    "5\n"
    "00:00:09,000 --> 00:00:09,000\n"
    "nothing\n"
    "\n"
    "6\n"
    "00:00:10,000 --> 00:00:11,000\n"
    "Ten\n";

// Lines the reading prepares: "<br>" is a line break, control characters
// are no text (a line of them alone is blank).
const char* const kPreparedSrt =
    "1\n"
    "00:00:01,000 --> 00:00:02,000\n"
    "A<br>B\n"
    "\n"
    "2\n"
    "00:00:03,000 --> 00:00:04,000\n"
    "C\x01" "D\n"
    "\x01\n"
    "3\n"
    "00:00:05,000 --> 00:00:06,000\n"
    "E\n";

const char* const kAss =
    "[Script Info]\n"
    "; made by hand\n"
    "Title: Test\n"
    "ScriptType: v4.00+\n"
    "PlayResX: 640\n"
    "PlayResY: 480\n"
    "\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
    "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, "
    "Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,2,2,10,"
    "10,10,1\n"
    "Style: Sign,Arial,30,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,2,8,10,10,"
    "10,1\n"
    "\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,Hello, world\n"
    "Comment: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,a note\n"
    "Dialogue: 1,0:00:03.00,0:00:04.00,Sign,Bob,12,34,56,Scroll up;5,{\\pos(10,10)}Sign\\Ntext\n"
    "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,Last\n"
    "\n"
    "[Fonts]\n"
    "fontname: x.ttf\n"
    "ABCDEFGH\n"
    "\n"
    "[Graphics]\n"
    "filename: y.png\n"
    "IJKLMNOP\n";

const char* const kVttScript =
    "WEBVTT - a title\n"
    "\n"
    "NOTE a note\n"
    "over two lines\n"
    "\n"
    "STYLE\n"
    "::cue { color: yellow }\n"
    "\n"
    "REGION\n"
    "id:r1 width:40%\n"
    "\n"
    "intro\n"
    "00:00:01.000 --> 00:00:02.500 align:start line:0\n"
    "<v Bob>Hello</v> &amp; welcome\n"
    "<i>second</i>\n"
    "\n"
    "00:03.000 --> 00:04.000\n"
    "Short form\n"
    "\n"
    "NOTE between cues\n"
    "\n"
    "last\n"
    "00:00:05.000 --> 00:00:06.000 region:r1\n"
    "Last\n";

// LRC: metadata first, a line with two time tags (cues the engine sorts
// apart), tags of three precisions, word timing.
const char* const kLrc =
    "[ti:Song]\n"
    "[ar:Singer]\n"
    "[00:01.00]First\n"
    "[00:05.50][00:30.00]Chorus\n"
    "[00:10.123]Third\n"
    "[00:20.0]<00:20.00>Wo<00:20.50>rd\n"
    "\n"
    "[by:someone]\n";

// Sloppy scripts, cue files and lyrics as they come: SSA v4 with "Marked=",
// no events format line before the first dialogue, spaces around fields; a
// WebVTT without blank lines between cues, an empty cue and an unreadable
// timing line; lyrics with an offset, blanks between tags, a singer tag and
// times out of order.
const char* const kSloppySsa =
    "[Script Info]\n"
    "ScriptType: v4.00\n"
    "\n"
    "[Events]\n"
    "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0000,0000,0000,,Before the format line\n"
    "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: Marked=0, 0:00:03.5 ,0:00:04.25,Default,,0000,0000,0000,,  Spaced , text\n"
    "Dialogue: Marked=0,0:00:05.00,0:00:05.00,Default,,0000,0000,0000,,No length\n"
    "Dialogue: Marked=0,0:00:00.50,0:00:01.00,Default,,0000,0000,0000,,Early<br>line\n";

const char* const kSloppyVtt =
    "WEBVTT\n"
    "00:00:01.000 --> 00:00:02.000\n"
    "Right after the header\n"
    "00:00:02.000 --> 00:00:03.000\n"
    "No blank line before\n"
    "\n"
    "00:00:04.000 --> 00:00:05.000\n"
    "\n"
    "00:00:06.000 -> 00:00:07.000\n"
    "not a cue\n"
    "\n"
    "00:00:08.000 --> 00:00:09.000 line:10%\n"
    "Last &lt;one&gt;\n";

const char* const kSloppyLrc =
    "[ar: Someone ]\n"
    "[offset:+250]\n"
    " [00:03.00] [00:01.00]Two tags\n"
    "[00:02.5]Short fraction\n"
    "[Alba][00:09.00]not a tag first\n"
    "[00:04.00]Line[00:05.00]\n"
    "plain text line\n";

struct KeptSample {
    const char* name;
    const char* key;
    const char* text;
};

const KeptSample kSamples[] = {
    {"srt", "srt", kSrt}, {"sloppy", "srt", kSloppySrt}, {"prepared", "srt", kPreparedSrt}, {"ass", "ass", kAss},
    {"vtt", "vtt", kVttScript}, {"lrc", "lrc", kLrc}, {"sloppy ssa", "ssa", kSloppySsa},
    {"sloppy vtt", "vtt", kSloppyVtt}, {"sloppy lrc", "lrc", kSloppyLrc},
};

std::string withEnds(std::string_view text, int style) {
    // 0: LF, 1: CRLF, 2: mixed (every other line CRLF), 3: CR alone (old Mac files).
    std::string out;
    int line = 0;
    for (char c : text) {
        if (c == '\n' && style == 3) {
            out += '\r';
            continue;
        }
        if (c == '\n' && (style == 1 || (style == 2 && line++ % 2 == 0))) out += '\r';
        out += c;
    }
    return out;
}

std::string withoutFinalEnd(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// Every variant of a sample: line ends and final line end.
std::vector<std::string> variants(std::string_view text) {
    std::vector<std::string> out;
    for (int style = 0; style < 4; ++style) {
        out.push_back(withEnds(text, style));
        out.push_back(withoutFinalEnd(withEnds(text, style)));
    }
    return out;
}

std::vector<KeptCue> engineCues(const std::string& text, const std::string& key) {
    TempDir dir;
    const std::string path = dir.file("cues." + key);
    test::writeBytes(path, text);
    clsSubtitle engine;
    std::vector<KeptCue> cues;
    engine.SubtitleCueLoaded = [&](double start, std::optional<double> end, std::string_view t) {
        cues.push_back({static_cast<int64_t>(start), end ? static_cast<int64_t>(*end) : kKeptNoEnd, std::string(t)});
    };
    ConvertSettings settings;
    engine.ConvertSubtitle(path, settings);
    return cues;
}

std::vector<KeptCue> keptCues(const KeptFile& f) {
    std::vector<KeptCue> out;
    for (std::size_t i = 0; i < f.Count(); ++i) out.push_back(f.Cue(i));
    return out;
}

// The document as loaded: every cue with its origin.
std::vector<KeptFile::Out> outsOf(const std::vector<KeptCue>& cues) {
    std::vector<KeptFile::Out> out;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        out.push_back({static_cast<int64_t>(i), cues[i].start, cues[i].end, cues[i].text});
    }
    return out;
}

std::string written(const KeptFile& f, const std::vector<KeptFile::Out>& cues) {
    std::string out;
    f.Write(cues, [&](std::string_view piece) { out.append(piece); });
    return out;
}

std::vector<std::string> linesOf(std::string_view s) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from < s.size()) {
        auto at = s.find('\n', from);
        if (at == std::string_view::npos) at = s.size() - 1;
        out.emplace_back(s.substr(from, at + 1 - from));
        from = at + 1;
    }
    return out;
}

// The lines that differ between two texts (a longest-common-subsequence
// diff): what was taken out and what was put in, each in order.
struct Change {
    std::vector<std::string> removed;
    std::vector<std::string> added;
};
Change changeOf(std::string_view before, std::string_view after) {
    auto a = linesOf(before);
    auto b = linesOf(after);
    // The common first and last lines first, so the table covers only the middle.
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    a = {a.begin() + static_cast<std::ptrdiff_t>(head), a.end() - static_cast<std::ptrdiff_t>(tail)};
    b = {b.begin() + static_cast<std::ptrdiff_t>(head), b.end() - static_cast<std::ptrdiff_t>(tail)};
    std::vector<std::vector<int>> lcs(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;) {
        for (std::size_t j = b.size(); j-- > 0;) {
            lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
        }
    }
    Change c;
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            ++i;
            ++j;
        } else if (j < b.size() && (i == a.size() || lcs[i][j + 1] >= lcs[i + 1][j])) {
            c.added.push_back(b[j++]);
        } else {
            c.removed.push_back(a[i++]);
        }
    }
    return c;
}

using Lines = std::vector<std::string>;

TEST(Keeper, OnlyTheseFormatKeys) {
    EXPECT_NE(KeptFile::Parse("SRT", ""), nullptr);
    EXPECT_NE(KeptFile::Parse("ssa", ""), nullptr);
    EXPECT_EQ(KeptFile::Parse("smi", ""), nullptr);
    EXPECT_EQ(KeptFile::Parse("txt", "x"), nullptr);
    EXPECT_EQ(KeptFile::Parse("", "x"), nullptr);
}

TEST(Keeper, UnchangedDocumentWritesTheFileByteForByte) {
    for (const KeptSample& s : kSamples) {
        for (const std::string& text : variants(s.text)) {
            const auto kept = KeptFile::Parse(s.key, text);
            ASSERT_NE(kept, nullptr);
            const auto cues = keptCues(*kept);
            EXPECT_EQ(written(*kept, outsOf(cues)), text) << s.name;
        }
    }
}

// The editor lets the text go while it edits and reads the file again to
// save: the same text is taken back, a changed one is refused.
TEST(Keeper, TextLetGoComesBackOnlyUnchanged) {
    for (const KeptSample& s : kSamples) {
        const auto kept = KeptFile::Parse(s.key, s.text);
        ASSERT_NE(kept, nullptr);
        const auto cues = keptCues(*kept);
        const std::size_t count = kept->Count();
        kept->ReleaseText();
        EXPECT_FALSE(kept->HasText());
        EXPECT_EQ(count, kept->Count()) << s.name;
        EXPECT_EQ(written(*kept, outsOf(cues)), "") << s.name;  // nothing without its text
        std::string changed = s.text;
        changed[changed.size() / 2] ^= 0x01;
        EXPECT_FALSE(kept->RestoreText(changed)) << s.name;
        EXPECT_FALSE(kept->RestoreText(std::string(s.text) + "\n")) << s.name;
        EXPECT_TRUE(kept->RestoreText(s.text)) << s.name;
        EXPECT_EQ(written(*kept, outsOf(cues)), s.text) << s.name;
    }
}

TEST(Keeper, CuesAgreeWithTheEngine) {
    for (const KeptSample& s : kSamples) {
        for (const std::string& text : variants(s.text)) {
            const auto kept = KeptFile::Parse(s.key, text);
            ASSERT_NE(kept, nullptr);
            const auto engine = engineCues(text, s.key);
            EXPECT_FALSE(engine.empty()) << s.name;
            EXPECT_EQ(keptCues(*kept), engine) << s.name << "\n" << text;
        }
    }
}

TEST(Keeper, SortedDuplicateAndEmptyCuesAsTheEngineHasThem) {
    const auto kept = KeptFile::Parse("srt", kSloppySrt);
    const auto cues = keptCues(*kept);
    ASSERT_EQ(cues.size(), 4u);  // the fourth block repeats the second, the 9 s cue has no length
    EXPECT_EQ(cues[0].text, "One");
    EXPECT_EQ(cues[1].text, "Early");
    EXPECT_EQ(cues[2].text, "Two\\Nafter a blank");
    EXPECT_EQ(cues[3].text, "Ten");

    const auto lrc = KeptFile::Parse("lrc", kLrc);
    const auto lyrics = keptCues(*lrc);
    ASSERT_EQ(lyrics.size(), 5u);
    EXPECT_EQ(lyrics[1].start, 5500);
    EXPECT_EQ(lyrics[4].start, 30000);
    EXPECT_EQ(lyrics[4].text, "Chorus");
    EXPECT_EQ(lyrics[4].end, kKeptNoEnd);
    EXPECT_EQ(lyrics[3].text, "Word");
}

struct EditCase {
    const char* name;
    const char* key;
    const char* text;
    std::size_t cue;
    int64_t start;     // -1: as it was
    int64_t end;       // -1: as it was
    const char* newText;  // nullptr: as it was
    Lines removed;
    Lines added;
};

TEST(Keeper, AnEditedCueChangesOnlyItsOwnLines) {
    const EditCase cases[] = {
        {"srt text", "srt", kSrt, 0, -1, -1, "Hi\\Nthere", {"Hello\n", "World\n"}, {"Hi\n", "there\n"}},
        {"srt time keeps coordinates", "srt", kSrt, 1, 3200, 4100, nullptr,
         {"00:00:03,000 --> 00:00:04,000  X1:100 X2:200 Y1:10 Y2:20\n"},
         {"00:00:03,200 --> 00:00:04,100  X1:100 X2:200 Y1:10 Y2:20\n"}},
        {"srt last cue", "srt", kSrt, 2, -1, -1, "Fin", {"Third\n"}, {"Fin\n"}},
        {"ass text", "ass", kAss, 0, -1, -1, "Hi, all",
         {"Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,Hello, world\n"},
         {"Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,Hi, all\n"}},
        {"ass keeps the fields", "ass", kAss, 1, 3010, 4567, "Moved\\Nsign",
         {"Dialogue: 1,0:00:03.00,0:00:04.00,Sign,Bob,12,34,56,Scroll up;5,{\\pos(10,10)}Sign\\Ntext\n"},
         {"Dialogue: 1,0:00:03.01,0:00:04.56,Sign,Bob,12,34,56,Scroll up;5,Moved\\Nsign\n"}},
        {"vtt keeps identifier and settings", "vtt", kVttScript, 0, 1500, -1, "New & <b>bold</b>",
         {"00:00:01.000 --> 00:00:02.500 align:start line:0\n", "<v Bob>Hello</v> &amp; welcome\n",
          "<i>second</i>\n"},
         {"00:00:01.500 --> 00:00:02.500 align:start line:0\n", "New &amp; <b>bold</b>\n"}},
        {"vtt short form", "vtt", kVttScript, 1, 3500, 4000, nullptr, {"00:03.000 --> 00:04.000\n"},
         {"00:03.500 --> 00:04.000\n"}},
        {"lrc precision", "lrc", kLrc, 2, 10456, -1, "Drei", {"[00:10.123]Third\n"}, {"[00:10.456]Drei\n"}},
        {"lrc line of two tags", "lrc", kLrc, 4, 31000, -1, nullptr, {"[00:05.50][00:30.00]Chorus\n"},
         {"[00:05.50]Chorus\n", "[00:31.00]Chorus\n"}},
    };
    for (const EditCase& c : cases) {
        for (int style : {0, 1}) {
            const std::string text = withEnds(c.text, style);
            const auto kept = KeptFile::Parse(c.key, text);
            auto cues = keptCues(*kept);
            ASSERT_LT(c.cue, cues.size()) << c.name;
            if (c.start >= 0) cues[c.cue].start = c.start;
            if (c.end >= 0) cues[c.cue].end = c.end;
            if (c.newText) cues[c.cue].text = c.newText;
            const std::string out = written(*kept, outsOf(cues));
            const Change change = changeOf(text, out);
            Lines removed = c.removed, added = c.added;
            for (auto* lines : {&removed, &added}) {
                for (auto& l : *lines) l = withEnds(l, style);
            }
            EXPECT_EQ(change.removed, removed) << c.name << "\n" << out;
            EXPECT_EQ(change.added, added) << c.name << "\n" << out;
        }
    }
}

TEST(Keeper, EditedFilesReadBackAsTheDocument) {
    // A changed time and text read back through the engine give what was
    // typed (times on the format's own grid).
    for (const KeptSample& s : kSamples) {
        const auto kept = KeptFile::Parse(s.key, s.text);
        auto cues = keptCues(*kept);
        cues[0].text = "changed";
        cues[0].start += 10;
        const std::string out = written(*kept, outsOf(cues));
        const auto back = engineCues(out, s.key);
        ASSERT_EQ(back.size(), cues.size()) << s.name << "\n" << out;
        std::vector<KeptCue> expected = cues;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const KeptCue& a, const KeptCue& b) { return a.start < b.start; });
        EXPECT_EQ(back, expected) << s.name << "\n" << out;
        EXPECT_EQ(keptCues(*KeptFile::Parse(s.key, out)), back) << s.name;
    }
}

TEST(Keeper, DeletedAndInsertedCuesChangeOnlyTheirLines) {
    struct Case {
        const char* name;
        const char* key;
        const char* text;
        Lines removed;
        Lines added;
    };
    // The first cue deleted, one inserted after the (old) second.
    const Case cases[] = {
        {"srt", "srt", kSrt,
         {"00:00:01,000 --> 00:00:02,500\n", "Hello\n", "World\n", "\n", "2\n", "3\n"},
         {"2\n"}},
        {"ass", "ass", kAss, {"Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,Hello, world\n"}, {}},
        {"vtt", "vtt", kVttScript,
         {"intro\n", "00:00:01.000 --> 00:00:02.500 align:start line:0\n", "<v Bob>Hello</v> &amp; welcome\n",
          "<i>second</i>\n", "\n"},
         {}},
        {"lrc", "lrc", kLrc, {"[00:01.00]First\n"}, {}},
    };
    for (const Case& c : cases) {
        const auto kept = KeptFile::Parse(c.key, c.text);
        const auto cues = keptCues(*kept);
        auto outs = outsOf(cues);
        outs.erase(outs.begin());
        const std::string out = written(*kept, outs);
        const Change change = changeOf(c.text, out);
        EXPECT_EQ(change.removed, c.removed) << c.name << "\n" << out;
        EXPECT_EQ(change.added, c.added) << c.name << "\n" << out;
    }

    // SubRip: an insert renumbers only the counters after it.
    {
        const auto kept = KeptFile::Parse("srt", kSrt);
        const auto cues = keptCues(*kept);
        auto outs = outsOf(cues);
        outs.insert(outs.begin() + 1, {-1, 2600, 2900, "New\\Nline"});
        const std::string out = written(*kept, outs);
        const Change change = changeOf(kSrt, out);
        EXPECT_EQ(change.removed, (Lines{"3\n"})) << out;
        EXPECT_EQ(change.added,
                  (Lines{"00:00:02,600 --> 00:00:02,900\n", "New\n", "line\n", "\n", "3\n", "4\n"}))
            << out;
        EXPECT_NE(out.find("\n4\n00:00:05,000"), std::string::npos) << out;
        EXPECT_EQ(engineCues(out, "srt").size(), 4u);
    }
    // ASS: a new event takes the fields of the event before it.
    {
        const auto kept = KeptFile::Parse("ass", kAss);
        const auto cues = keptCues(*kept);
        auto outs = outsOf(cues);
        outs.insert(outs.begin() + 2, {-1, 4500, 4800, "Inserted"});
        const Change change = changeOf(kAss, written(*kept, outs));
        EXPECT_TRUE(change.removed.empty());
        EXPECT_EQ(change.added, (Lines{"Dialogue: 1,0:00:04.50,0:00:04.80,Sign,Bob,12,34,56,Scroll up;5,Inserted\n"}));
    }
    // WebVTT and LRC: the new cue in the file's style.
    {
        const auto kept = KeptFile::Parse("vtt", kVttScript);
        const auto cues = keptCues(*kept);
        auto outs = outsOf(cues);
        outs.push_back({-1, 7000, kKeptNoEnd, "After"});
        const std::string out = written(*kept, outs);
        const Change change = changeOf(kVttScript, out);
        EXPECT_TRUE(change.removed.empty());
        EXPECT_EQ(change.added, (Lines{"\n", "00:00:07.000 --> 00:00:12.000\n", "After\n"})) << out;
    }
    {
        const auto kept = KeptFile::Parse("lrc", kLrc);
        const auto cues = keptCues(*kept);
        auto outs = outsOf(cues);
        outs.insert(outs.begin() + 3, {-1, 12340, kKeptNoEnd, "Between"});
        const Change change = changeOf(kLrc, written(*kept, outs));
        EXPECT_TRUE(change.removed.empty());
        EXPECT_EQ(change.added, (Lines{"[00:12.340]Between\n"}));
    }
}

TEST(Keeper, CommentBeforeADeletedDialogueStaysInPlace) {
    const auto kept = KeptFile::Parse("ass", kAss);
    const auto cues = keptCues(*kept);
    auto outs = outsOf(cues);
    outs.erase(outs.begin() + 1);  // the dialogue after the Comment: line
    const std::string out = written(*kept, outs);
    const Change change = changeOf(kAss, out);
    EXPECT_EQ(change.removed,
              (Lines{"Dialogue: 1,0:00:03.00,0:00:04.00,Sign,Bob,12,34,56,Scroll up;5,{\\pos(10,10)}Sign\\Ntext\n"}));
    EXPECT_TRUE(change.added.empty());
    EXPECT_NE(out.find("Comment: 0,0:00:02.00"), std::string::npos);
}

TEST(Keeper, AnEditedLastLineKeepsItsMissingLineEnd) {
    for (const KeptSample& s : {kSamples[0], kSamples[3], kSamples[5]}) {
        const std::string text = withoutFinalEnd(withEnds(s.text, 1));
        const auto kept = KeptFile::Parse(s.key, text);
        auto cues = keptCues(*kept);
        // The file's last line holds the cue of the latest start, but for LRC.
        const std::size_t last = s.key == std::string("lrc") ? 0 : cues.size() - 1;
        cues[last].text = "edited";
        const std::string out = written(*kept, outsOf(cues));
        EXPECT_EQ(out.back() == '\n', text.back() == '\n') << s.name;
        EXPECT_EQ(keptCues(*KeptFile::Parse(s.key, out))[last].text, "edited") << s.name;
    }
}

TEST(Keeper, CountersRenumberedOnlyWhereTheyWereInSequence) {
    // A file numbered its own way keeps its numbers; a deletion renumbers
    // the blocks after it only where the number was the block's place.
    const std::string own = "7\n00:00:01,000 --> 00:00:02,000\nA\n\n8\n00:00:03,000 --> 00:00:04,000\nB\n";
    const auto kept = KeptFile::Parse("srt", own);
    const auto cues = keptCues(*kept);
    EXPECT_EQ(written(*kept, outsOf(cues)), own);
    auto outs = outsOf(cues);
    outs.erase(outs.begin());
    EXPECT_EQ(written(*kept, outs), "8\n00:00:03,000 --> 00:00:04,000\nB\n");

    const auto seq = KeptFile::Parse("srt", kSrt);
    const auto seqCues = keptCues(*seq);
    auto seqOuts = outsOf(seqCues);
    seqOuts.erase(seqOuts.begin() + 1);
    // The blank line that stood apart between the two blocks stays.
    EXPECT_EQ(written(*seq, seqOuts),
              "1\n00:00:01,000 --> 00:00:02,500\nHello\nWorld\n\n\n2\n00:00:05,000 --> 00:00:06,000\nThird\n");
}

TEST(Keeper, LrcOffsetStaysWithTheTimes) {
    // A cue moved under an [offset:] tag is written with the offset added
    // back, so it reads as typed.
    const std::string text = "[offset:500]\n[00:02.00]A\n[00:04.00]B\n";
    const auto kept = KeptFile::Parse("lrc", text);
    auto cues = keptCues(*kept);
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].start, 1500);
    EXPECT_EQ(cues, engineCues(text, "lrc"));
    cues[1].start = 3000;
    const std::string out = written(*kept, outsOf(cues));
    EXPECT_EQ(out, "[offset:500]\n[00:02.00]A\n[00:03.50]B\n");
    EXPECT_EQ(engineCues(out, "lrc")[1].start, 3000);
}

TEST(Keeper, ALargeFileIsWrittenInPiecesOfWholeLines) {
    std::string text;
    for (int i = 0; i < 6000; ++i) {
        text += std::to_string(i + 1) + "\r\n" + MSecsToTime(i * 1000) + " --> " + MSecsToTime(i * 1000 + 500) +
                "\r\nLine " + std::to_string(i) + "\r\n\r\n";
    }
    const auto kept = KeptFile::Parse("srt", text);
    const auto cues = keptCues(*kept);
    ASSERT_EQ(cues.size(), 6000u);
    auto outs = outsOf(cues);
    outs[3000].text = "edited";
    std::vector<std::string> pieces;
    kept->Write(outs, [&](std::string_view p) { pieces.emplace_back(p); });
    EXPECT_GT(pieces.size(), 1u);
    std::string joined;
    for (const std::string& p : pieces) {
        EXPECT_TRUE(p.ends_with("\r\n"));
        joined += p;
    }
    const Change change = changeOf(text, joined);
    EXPECT_EQ(change.removed, (Lines{"Line 3000\r\n"}));
    EXPECT_EQ(change.added, (Lines{"edited\r\n"}));
}

TEST(Keeper, LinesOfManyTimeTagsStayLinear) {
    // Two lines of 20,000 tags each, their times interleaved: each cue is
    // read without reading its whole line again (which would take the
    // square of the line's length over all cues).
    std::string text;
    for (int line = 0; line < 2; ++line) {
        for (int i = 0; i < 20000; ++i) text += "[" + MSecsToTime((2 * i + line) * 10, 3).substr(0, 9) + "]";
        text += line == 0 ? "even\n" : "odd\n";
    }
    const auto kept = KeptFile::Parse("lrc", text);
    const auto cues = keptCues(*kept);
    ASSERT_EQ(cues.size(), 40000u);
    EXPECT_EQ(cues[0].text, "even");
    EXPECT_EQ(cues[1].text, "odd");
    EXPECT_EQ(cues[39999].start, 399990);
    auto outs = outsOf(cues);
    EXPECT_EQ(written(*kept, outs), text);
    outs[1].text = "changed";
    outs[2].start += 1;  // both lines are written cue by cue now
    std::reverse(outs.begin(), outs.end());
    const std::string out = written(*kept, outs);
    EXPECT_NE(out.find("changed"), std::string::npos);
    EXPECT_EQ(engineCues(out, "lrc").size(), 40000u);
}

TEST(Keeper, ReorderedCuesFollowTheGivenOrder) {
    const auto kept = KeptFile::Parse("srt", kSrt);
    const auto cues = keptCues(*kept);
    auto outs = outsOf(cues);
    std::swap(outs[0], outs[2]);
    const std::string out = written(*kept, outs);
    EXPECT_LT(out.find("Third"), out.find("Hello")) << out;
    EXPECT_NE(out.find("1\n00:00:05,000 --> 00:00:06,000\nThird\n\n2\n"), std::string::npos) << out;
    EXPECT_EQ(engineCues(out, "srt").size(), 3u);
}

TEST(Keeper, AllCuesReplaced) {
    for (const KeptSample& s : kSamples) {
        if (s.name == std::string("sloppy")) continue;  // its repeated block stays, as written
        const auto kept = KeptFile::Parse(s.key, s.text);
        const std::vector<KeptFile::Out> outs{{-1, 1000, 2000, "only"}, {-1, 3000, 4000, "two"}};
        const std::string out = written(*kept, outs);
        const auto back = engineCues(out, s.key);
        ASSERT_EQ(back.size(), 2u) << s.name << "\n" << out;
        EXPECT_EQ(back[0].text, "only") << s.name;
    }
}

TEST(Keeper, NewCuesInFilesWithoutAnyToCopy) {
    // A script without events gets them after its events format line (its
    // columns), a WebVTT file of short times gets short times.
    const std::string script =
        "[Script Info]\nScriptType: v4.00\n\n[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, "
        "MarginV, Effect, Text\n";
    const auto kept = KeptFile::Parse("ssa", script);
    EXPECT_EQ(kept->Count(), 0u);
    const std::vector<KeptFile::Out> outs{{-1, 1000, 2000, "one, with a comma"}, {-1, 3000, kKeptNoEnd, "two"}};
    const std::string out = written(*kept, outs);
    EXPECT_EQ(out, script +
                       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,one, with a comma\n"
                       "Dialogue: 0,0:00:03.00,0:00:08.00,Default,,0,0,0,,two\n");
    const auto back = engineCues(out, "ssa");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].text, "one, with a comma");

    const std::string vtt = "WEBVTT\n\n00:01.000 --> 00:02.000\nA\n";
    const auto shortVtt = KeptFile::Parse("vtt", vtt);
    const auto cues = keptCues(*shortVtt);
    auto vttOuts = outsOf(cues);
    vttOuts.push_back({-1, 5000, 6000, "B"});
    EXPECT_EQ(written(*shortVtt, vttOuts), vtt + "\n00:05.000 --> 00:06.000\nB\n");
}

TEST(Keeper, ArbitraryBytesNeitherCrashNorLoseTheText) {
    std::mt19937 rng(7);
    const std::vector<std::string> pieces{
        "-->", "\n", "\r", "\r\n", "[", "]", "00:01.00", "00:00:01,000", "0:00:02.00", ",", "1", "\n\n",
        "Dialogue:", "Format: Start, End, Text", "WEBVTT", " ", "\t", "\x01", "<br>", "\xC2\x85", "\xFF",
        "[offset:500]", "NOTE", "a", "|", "\\N", "[ti:x]", "00:00:03.000 --> 00:00:04.000"};
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
        for (const char* key : {"srt", "ass", "vtt", "lrc"}) {
            const auto kept = KeptFile::Parse(key, text);
            ASSERT_NE(kept, nullptr);
            const auto cues = keptCues(*kept);
            auto outs = outsOf(cues);
            EXPECT_EQ(written(*kept, outs), text) << key;
            if (!outs.empty()) outs.erase(outs.begin());
            outs.push_back({-1, 500, kKeptNoEnd, "x"});
            written(*kept, outs);
        }
    }
}

TEST(Keeper, RandomSubRipAgreesWithTheEngine) {
    // Well-formed files with random times (ties and disorder included) and
    // random line ends.
    std::mt19937 rng(11);
    for (int round = 0; round < 30; ++round) {
        std::string text;
        const int n = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) {
            const int start = static_cast<int>(rng() % 5) * 1000;
            text += std::to_string(i + 1) + "\n" + MSecsToTime(start) + " --> " + MSecsToTime(start + 500) +
                    "\n" + (rng() % 2 ? "same" : "text " + std::to_string(rng() % 3)) + "\n\n";
        }
        text = withEnds(text, static_cast<int>(rng() % 3));
        const auto kept = KeptFile::Parse("srt", text);
        EXPECT_EQ(keptCues(*kept), engineCues(text, "srt")) << text;
        const auto cues = keptCues(*kept);
        EXPECT_EQ(written(*kept, outsOf(cues)), text);
    }
}

TEST(Keeper, RandomLyricsAndScriptsAgreeWithTheEngine) {
    // Lines of several tags, shared times, texts equal but for letter case:
    // the engine's order and its removal of repeats.
    std::mt19937 rng(5);
    const char* const words[] = {"la", "LA", "La la", "b", "\u00c9t\u00e9", "\u00e9T\u00c9"};
    for (int round = 0; round < 40; ++round) {
        std::string lrc, ass = "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
        const int n = 1 + static_cast<int>(rng() % 10);
        for (int i = 0; i < n; ++i) {
            const int tags = 1 + static_cast<int>(rng() % 3);
            for (int t = 0; t < tags; ++t) lrc += "[00:0" + std::to_string(rng() % 4) + ".00]";
            const std::string word = words[rng() % std::size(words)];
            lrc += word + "\n";
            const int start = static_cast<int>(rng() % 3);
            ass += "Dialogue: 0,0:00:0" + std::to_string(start) + ".00,0:00:0" + std::to_string(start + 1 + rng() % 2) +
                   ".00,Default,,0,0,0,," + word + "\n";
        }
        for (const auto& [key, text] : {std::pair<std::string, std::string>{"lrc", lrc}, {"ass", ass}}) {
            const auto kept = KeptFile::Parse(key, text);
            const auto cues = keptCues(*kept);
            EXPECT_EQ(cues, engineCues(text, key)) << text;
            EXPECT_EQ(written(*kept, outsOf(cues)), text);
            // Every other cue deleted: what is left reads back as it was.
            std::vector<KeptFile::Out> half;
            for (std::size_t i = 0; i < cues.size(); i += 2) {
                half.push_back({static_cast<int64_t>(i), cues[i].start, cues[i].end, cues[i].text});
            }
            const auto back = engineCues(written(*kept, half), key);
            std::vector<KeptCue> expected;
            for (const auto& o : half) expected.push_back({o.start, o.end, std::string(o.text)});
            // Lines the reading left out as repeats stay, so they may come back.
            for (const KeptCue& c : expected) {
                EXPECT_NE(std::find(back.begin(), back.end(), c), back.end()) << key << " " << c.text << "\n" << text;
            }
        }
    }
}

#if defined(LUMEVAL_HAVE_LIBASS)
TEST(Keeper, AnEditedScriptStillReadsInLibass) {
    const auto kept = KeptFile::Parse("ass", kAss);
    auto cues = keptCues(*kept);
    cues[1].text = "{\\i1}edited{\\i0}";
    cues[2].end = 9000;
    auto outs = outsOf(cues);
    outs.push_back({-1, 10000, 11000, "new"});
    std::string out = written(*kept, outs);
    ASS_Library* lib = ass_library_init();
    ASS_Track* track = ass_read_memory(lib, out.data(), out.size(), nullptr);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->n_events, 4);  // three dialogues and the new one
    ass_free_track(track);
    ass_library_done(lib);
}
#endif

}  // namespace
}  // namespace lumeval
