#include "document/findreplace.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "document/document.h"

namespace lumeval::doc {
namespace {

FindOptions Opt(bool matchCase = true, bool whole = false, bool regex = false, bool fold = false, bool wrap = false) {
    FindOptions o;
    o.matchCase = matchCase;
    o.wholeWords = whole;
    o.regex = regex;
    o.foldChinese = fold;
    o.wrap = wrap;
    return o;
}

void LoadTexts(SubtitleDocument& d, const std::vector<std::string>& texts) {
    d.BeginLoad();
    int64_t t = 0;
    for (const std::string& text : texts) {
        d.AppendLoaded(t, t + 500, text);
        t += 1000;
    }
    d.EndLoad();
}

std::vector<std::string> Texts(const SubtitleDocument& d) {
    std::vector<std::string> out;
    for (int i = 0; i < d.Count(); ++i) out.emplace_back(d.Text(i));
    return out;
}

// ---- one text ------------------------------------------------------------------

struct FindCase {
    const char* name;
    const char* pattern;
    FindOptions options;
    const char* text;
    int offset;  ///< -1: no match
    int length;
};

TEST(FindIn, MatchesWhatTheOptionsSayAndNothingElse) {
    const FindCase cases[] = {
        {"case counts", "abc", Opt(), "xx ABC", -1, 0},
        {"case ignored", "abc", Opt(false), "xx ABC", 3, 3},
        {"non-ASCII case ignored", "ä", Opt(false), "xÄy", 1, 2},
        {"non-ASCII case counts", "Ä", Opt(), "xäy", -1, 0},
        {"Greek case ignored", "σοφία", Opt(false), "ΣΟΦΊΑ", 0, 10},
        {"spaces at the ends count", " a ", Opt(), "a b", -1, 0},
        {"spaces at the ends found", " a ", Opt(), "b a b", 1, 3},
        {"regex syntax is text in plain mode", "a.c", Opt(), "abc a.c", 4, 3},
        {"regex", "\\d+", Opt(true, false, true), "ab12", 2, 2},
        {"regex ignoring case", "x[a-c]+", Opt(false, false, true), "..XABC", 2, 4},
        {"whole word alone", "cat", Opt(true, true), "concat cat", 7, 3},
        {"whole word not inside one", "cat", Opt(true, true), "cats concat", -1, 0},
        {"whole word shorter match later", "aa", Opt(true, true), "aaa aa", 4, 2},
        {"whole word next to Chinese", "cat", Opt(true, true), "我cat们", 3, 3},
        {"Chinese whole word in Chinese", "中文", Opt(true, true), "这是中文字幕", 6, 6},
        {"whole word after a line break", "foo", Opt(true, true), "abc\\Nfoo", 5, 3},
        {"whole word before a line break", "abc", Opt(true, true), "abc\\Nfoo", 0, 3},
        {"whole word: digits are word characters", "1", Opt(true, true), "10 1", 3, 1},
        {"whole word: punctuation edge", "-b", Opt(true, true), "a-b", 1, 2},
        {"whole word regex", "\\w+at", Opt(true, true, true), "concat, that", 0, 6},
        {"whole word: the longer alternative", "cat|category", Opt(true, true, true), "category", 0, 8},
        {"whole word, case ignored", "CAT", Opt(false, true), "concat Cat", 7, 3},
        {"whole word: \\E in plain text", "a\\Eb", Opt(true, true), "xa\\Eb a\\Eb", 6, 4},
        {"whole word: kana stand alone", "ok", Opt(true, true), "ですok", 6, 2},
        {"folding: traditional found by simplified", "这", Opt(true, false, false, true), "是這個", 3, 3},
        {"folding: simplified found by traditional", "發", Opt(true, false, false, true), "头发", 3, 3},
        {"folding: two traditional forms", "发", Opt(true, false, false, true), "頭髮", 3, 3},
        {"no folding unless asked", "这", Opt(), "是這個", -1, 0},
        {"folding in a regex class", "這[是裡]", Opt(true, false, true, true), "在这里", 3, 6},
        {"after an emoji", "abc", Opt(false), "😀ABC", 4, 3},
        {"case ignored beside Chinese", "abc", Opt(false), "中ABC", 3, 3},
        {"case ignored, a near miss beside Chinese", "abc", Opt(false), "中ABD ab", -1, 0},
        {"the Kelvin sign is a k", "k", Opt(false), "中\u212A", 3, 3},
        {"a long s is an s", "s", Opt(false), "中\u017F", 3, 2},
        {"sharp s is ss", "SS", Opt(false), "中ß", 3, 2},
        {"a ligature is its letters", "st", Opt(false), "中\uFB06", 3, 3},
        {"after bad UTF-8", "abc", Opt(), "\xFF\xFE" "abc", 2, 3},
        {"bad UTF-8 ignoring case", "abc", Opt(false), "\xC3" "ABC", 1, 3},
    };
    for (const FindCase& c : cases) {
        Searcher s(c.pattern, c.options);
        ASSERT_TRUE(s.Ok()) << c.name << ": " << s.Message().toStdString();
        const std::optional<TextMatch> m = s.FindIn(c.text);
        if (c.offset < 0) {
            EXPECT_FALSE(m.has_value()) << c.name;
        } else {
            ASSERT_TRUE(m.has_value()) << c.name;
            EXPECT_EQ(m->offset, static_cast<std::size_t>(c.offset)) << c.name;
            EXPECT_EQ(m->length, static_cast<std::size_t>(c.length)) << c.name;
        }
    }
}

TEST(FindIn, FromAnOffsetAndBackFromOne) {
    Searcher s("ab", Opt(false));
    EXPECT_EQ(s.FindIn("ab AB ab", 1)->offset, 3u);
    EXPECT_EQ(s.FindIn("ab AB ab", 3)->offset, 3u);
    EXPECT_FALSE(s.FindIn("ab AB ab", 7).has_value());
    EXPECT_EQ(s.FindLastIn("ab AB ab", 6)->offset, 3u);
    EXPECT_EQ(s.FindLastIn("ab AB ab", 100)->offset, 6u);
    EXPECT_FALSE(s.FindLastIn("ab AB ab", 0).has_value());
    EXPECT_EQ(s.AllIn("ab AB ab").size(), 3u);
}

struct ReplaceCase {
    const char* name;
    const char* pattern;
    const char* replacement;
    FindOptions options;
    const char* text;
    const char* expected;
    std::size_t count;
};

TEST(ReplaceIn, GroupsInRegexModeLiteralOtherwise) {
    const ReplaceCase cases[] = {
        {"groups swapped", "(\\w+)@(\\w+)", "$2 at $1", Opt(true, false, true), "me@home", "home at me", 1},
        {"whole match", "\\d+", "<$0>", Opt(true, false, true), "a1b22", "a<1>b<22>", 2},
        {"named group", "(?<n>\\d)", "#${n}", Opt(true, false, true), "a1", "a#1", 1},
        {"escaped dollar", "x", "\\$5", Opt(true, false, true), "x", "$5", 1},
        {"a line break stays one", ",", "\\N", Opt(true, false, true), "a,b", "a\\Nb", 1},
        {"more digits than groups", "(a)", "$10", Opt(true, false, true), "a", "a0", 1},
        {"plain mode takes $1 literally", "a", "$1", Opt(), "a", "$1", 1},
        {"case ignored, every match", "abc", "x", Opt(false), "ABC abc aBc", "x x x", 3},
        {"empty match at the start", "^", "- ", Opt(true, false, true), "line", "- line", 1},
        {"to nothing", "^.*$", "", Opt(true, false, true), "all of it", "", 1},
        {"folded match, original around it", "这", "那", Opt(true, false, false, true), "這個這", "那個那", 2},
        {"groups give the original text", "(這)個", "[$1]", Opt(true, false, true, true), "这个", "[这]", 1},
        {"whole words only", "cat", "dog", Opt(true, true), "cat concat cat", "dog concat dog", 2},
        {"no match leaves the text", "zz", "y", Opt(), "abc", "abc", 0},
    };
    for (const ReplaceCase& c : cases) {
        Searcher s(c.pattern, c.options);
        ASSERT_TRUE(s.SetReplacement(c.replacement)) << c.name << ": " << s.Message().toStdString();
        std::string out = "abc";
        EXPECT_EQ(s.ReplaceIn(c.text, &out), c.count) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(Searcher, InvalidPatternsAndGroupsSayWhereAndWhy) {
    Searcher paren("a(b", Opt(true, false, true));
    EXPECT_EQ(paren.Status(), FindStatus::Invalid);
    EXPECT_TRUE(paren.Message().contains(QStringLiteral("括号不成对"))) << paren.Message().toStdString();
    EXPECT_TRUE(paren.Message().contains(QStringLiteral("第 4 个字符"))) << paren.Message().toStdString();
    EXPECT_FALSE(paren.FindIn("a(b").has_value());

    Searcher bracket("[a", Opt(true, false, true));
    EXPECT_EQ(bracket.Status(), FindStatus::Invalid);
    EXPECT_FALSE(bracket.Message().isEmpty());

    // The same text is fine as plain text.
    EXPECT_TRUE(Searcher("a(b", Opt()).Ok());

    Searcher group("(a)", Opt(true, false, true));
    EXPECT_FALSE(group.SetReplacement("$2"));
    EXPECT_EQ(group.Status(), FindStatus::Invalid);
    EXPECT_TRUE(group.Message().contains(QStringLiteral("$2")));

    Searcher name("(a)", Opt(true, false, true));
    EXPECT_FALSE(name.SetReplacement("${nope}"));

    EXPECT_EQ(Searcher("", Opt()).Status(), FindStatus::Invalid);
}

TEST(Searcher, ACatastrophicPatternStopsWithTheMessage) {
    Searcher s("(a+)+$", Opt(true, false, true));
    s.SetLimits(20, std::chrono::milliseconds(5000));
    ASSERT_TRUE(s.SetReplacement("x"));
    const std::string text = std::string(64, 'a') + "!";
    std::string out;
    EXPECT_EQ(s.ReplaceIn(text, &out), 0u);
    EXPECT_EQ(s.Status(), FindStatus::TimedOut);
    EXPECT_TRUE(s.Message().contains(QStringLiteral("太长"))) << s.Message().toStdString();
}

TEST(FoldChinese, KeepsLengthsAndLeavesOthersAlone) {
    EXPECT_EQ(FoldChinese(U'這'), FoldChinese(U'这'));
    EXPECT_EQ(FoldChinese(U'發'), FoldChinese(U'发'));
    EXPECT_EQ(FoldChinese(U'a'), U'a');
    EXPECT_EQ(FoldChinese(U'ä'), U'ä');
    EXPECT_EQ(FoldChinese(U'😀'), U'😀');
    // Whatever the form, the UTF-16 length stays, so positions map back.
    for (char32_t c = 0x4E00; c < 0x9FFF; c += 97) EXPECT_EQ(FoldChinese(c) > 0xFFFF, false) << int(c);
}

// ---- documents -----------------------------------------------------------------

class DocumentFind : public ::testing::Test {
  protected:
    void SetUp() override { LoadTexts(d, {"one cat", "no", "cat cat", "dog", "last cat"}); }
    SubtitleDocument d;
};

TEST_F(DocumentFind, NextGoesOnInTheRowThenDownAndWrapsOnlyWhenAsked) {
    Searcher s("cat", Opt());
    FindOutcome r = FindNext(d, s, {-1, 0});
    ASSERT_TRUE(r.match);
    EXPECT_EQ(*r.match, (TextMatch{0, 4, 3}));
    r = FindNext(d, s, After(d, *r.match));
    EXPECT_EQ(*r.match, (TextMatch{2, 0, 3}));
    r = FindNext(d, s, After(d, *r.match));
    EXPECT_EQ(*r.match, (TextMatch{2, 4, 3}));
    // From the last match of the last row: nothing further without wrap.
    const TextPosition end{4, 8};
    EXPECT_FALSE(FindNext(d, s, end).match);
    Searcher wrapping("cat", Opt(true, false, false, false, true));
    r = FindNext(d, wrapping, end);
    ASSERT_TRUE(r.match);
    EXPECT_EQ(*r.match, (TextMatch{0, 4, 3}));
    EXPECT_TRUE(r.wrapped);
    // The only match, wrapped round to from just after it: found again.
    Searcher dog("dog", Opt(true, false, false, false, true));
    r = FindNext(d, dog, {3, 3});
    ASSERT_TRUE(r.match);
    EXPECT_EQ(r.match->row, 3);
    EXPECT_TRUE(r.wrapped);
    Searcher none("zebra", Opt(true, false, false, false, true));
    EXPECT_FALSE(FindNext(d, none, {2, 1}).match);
}

TEST_F(DocumentFind, PreviousGoesBackAndWrapsFromTheTop) {
    Searcher s("cat", Opt());
    FindOutcome r = FindPrevious(d, s, {d.Count(), 0});
    EXPECT_EQ(*r.match, (TextMatch{4, 5, 3}));
    r = FindPrevious(d, s, {4, 5});
    EXPECT_EQ(*r.match, (TextMatch{2, 4, 3}));
    r = FindPrevious(d, s, {2, 4});
    EXPECT_EQ(*r.match, (TextMatch{2, 0, 3}));
    r = FindPrevious(d, s, {0, 4});
    EXPECT_FALSE(r.match);
    Searcher wrapping("cat", Opt(true, false, false, false, true));
    r = FindPrevious(d, wrapping, {0, 4});
    ASSERT_TRUE(r.match);
    EXPECT_EQ(*r.match, (TextMatch{4, 5, 3}));
    EXPECT_TRUE(r.wrapped);
}

TEST_F(DocumentFind, TheSelectionBoundsTheSearch) {
    const std::vector<int> selection{1, 2, 3};
    Searcher s("cat", Opt(true, false, false, false, true));
    FindOutcome r = FindNext(d, s, {-1, 0}, &selection);
    EXPECT_EQ(*r.match, (TextMatch{2, 0, 3}));
    r = FindNext(d, s, {2, 7}, &selection);  // wraps within the selection, not to row 0
    EXPECT_EQ(*r.match, (TextMatch{2, 0, 3}));
    r = FindPrevious(d, s, {4, 0}, &selection);
    EXPECT_EQ(*r.match, (TextMatch{2, 4, 3}));
    std::vector<TextMatch> all;
    EXPECT_EQ(FindAll(d, s, &all, &selection), FindStatus::Ok);
    EXPECT_EQ(all.size(), 2u);
    ASSERT_TRUE(s.SetReplacement("cow"));
    const ReplaceOutcome out = ReplaceAll(d, s, &selection);
    EXPECT_EQ(out.count, 2u);
    EXPECT_EQ(Texts(d), (std::vector<std::string>{"one cat", "no", "cow cow", "dog", "last cat"}));
}

TEST_F(DocumentFind, ReplaceAllIsOneStepThatUndoesEveryText) {
    const std::vector<std::string> before = Texts(d);
    Searcher s("cat", Opt());
    ASSERT_TRUE(s.SetReplacement("bird"));
    const ReplaceOutcome out = ReplaceAll(d, s);
    EXPECT_EQ(out.status, FindStatus::Ok);
    EXPECT_EQ(out.count, 4u);
    EXPECT_EQ(out.documents, 1u);
    EXPECT_EQ(Texts(d), (std::vector<std::string>{"one bird", "no", "bird bird", "dog", "last bird"}));
    EXPECT_EQ(d.History()->count(), 1);
    EXPECT_TRUE(d.IsChanged());
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(Texts(d), before);
    EXPECT_FALSE(d.IsChanged());
    ASSERT_TRUE(d.Redo());
    EXPECT_EQ(d.Text(2), "bird bird");
}

TEST_F(DocumentFind, AReplacementMayEmptyACue) {
    Searcher s("^dog$", Opt(true, false, true));
    ASSERT_TRUE(s.SetReplacement(""));
    EXPECT_EQ(ReplaceAll(d, s).count, 1u);
    EXPECT_EQ(d.Count(), 5);
    EXPECT_EQ(d.Text(3), "");
}

TEST_F(DocumentFind, FailedSearchesChangeNothing) {
    Searcher bad("(cat", Opt(true, false, true));
    bad.SetReplacement("x");
    ReplaceOutcome out = ReplaceAll(d, bad);
    EXPECT_EQ(out.status, FindStatus::Invalid);
    EXPECT_FALSE(out.message.isEmpty());
    EXPECT_EQ(d.History()->count(), 0);

    // The last row times out after the first rows were replaced: none is.
    d.SetText(4, std::string(64, 'a') + "!");
    d.SetText(0, "aaa");
    const int steps = d.History()->count();
    Searcher slow("(a+)+$", Opt(true, false, true));
    slow.SetLimits(20, std::chrono::milliseconds(5000));
    slow.SetReplacement("x");
    out = ReplaceAll(d, slow);
    EXPECT_EQ(out.status, FindStatus::TimedOut);
    EXPECT_EQ(d.History()->count(), steps);
    EXPECT_EQ(d.Text(0), "aaa");
    Searcher slowFind("(a+)+$", Opt(true, false, true));
    slowFind.SetLimits(20, std::chrono::milliseconds(5000));
    const FindOutcome found = FindNext(d, slowFind, {1, 0});
    EXPECT_EQ(found.status, FindStatus::TimedOut);
    EXPECT_FALSE(found.match);
}

TEST_F(DocumentFind, ReplaceCurrentReplacesThatMatchOnlyWhileItIsThere) {
    Searcher s("cat", Opt());
    ASSERT_TRUE(s.SetReplacement("lion"));
    ReplaceOutcome out = ReplaceCurrent(d, s, {2, 4, 3});
    EXPECT_EQ(out.count, 1u);
    EXPECT_EQ(d.Text(2), "cat lion");
    EXPECT_EQ(out.next.row, 2);
    EXPECT_EQ(out.next.offset, 8u);
    EXPECT_EQ(d.History()->count(), 1);
    // No match at that place any more (it was replaced): nothing happens.
    out = ReplaceCurrent(d, s, {2, 4, 3});
    EXPECT_EQ(out.count, 0u);
    EXPECT_EQ(d.History()->count(), 1);
    // Out of range rows and offsets are harmless.
    EXPECT_EQ(ReplaceCurrent(d, s, {99, 0, 3}).count, 0u);
    EXPECT_EQ(ReplaceCurrent(d, s, {0, 999, 3}).count, 0u);
}

TEST(DocumentsReplace, EveryOpenDocumentOneStepEachAndTheTotal) {
    SubtitleDocument a, b, c;
    LoadTexts(a, {"red", "red red"});
    LoadTexts(b, {"blue"});
    LoadTexts(c, {"Red"});
    Searcher s("red", Opt());
    ASSERT_TRUE(s.SetReplacement("green"));
    const ReplaceOutcome out = ReplaceAll({&a, &b, &c}, s);
    EXPECT_EQ(out.count, 3u);
    EXPECT_EQ(out.documents, 1u);
    EXPECT_EQ(a.History()->count(), 1);
    EXPECT_EQ(b.History()->count(), 0);
    EXPECT_EQ(Texts(a), (std::vector<std::string>{"green", "green green"}));

    Searcher any("red", Opt(false));
    ASSERT_TRUE(any.SetReplacement("x"));
    a.Undo();
    const ReplaceOutcome both = ReplaceAll({&a, &b, &c}, any);
    EXPECT_EQ(both.count, 4u);
    EXPECT_EQ(both.documents, 2u);
    EXPECT_EQ(c.Text(0), "x");
    // Undoing one document leaves the other's step alone.
    ASSERT_TRUE(c.Undo());
    EXPECT_EQ(c.Text(0), "Red");
    EXPECT_EQ(a.Text(1), "x x");
}

}  // namespace
}  // namespace lumeval::doc
