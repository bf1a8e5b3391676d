#include "engine/textutil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace lumeval {
namespace {

namespace fs = std::filesystem;

// Reference for the counted search: one character after each hit, restart
// from the beginning when nothing is found.
std::string NaiveFindText(const std::string& s, const std::string& tag, int count) {
    if (tag.empty() || s.find(tag) == std::string::npos || count < 1) return {};
    std::size_t p = std::string::npos;
    for (int i = 0; i < count; ++i) {
        p = s.find(tag, p == std::string::npos ? 0 : p + 1);
        if (p == std::string::npos) p = s.find(tag);
    }
    return s.substr(p + tag.size());
}

TEST(FindText, CountsWrapAround) {
    struct Case {
        const char* text;
        const char* tag;
        int32_t count;
        const char* expected;
    };
    const Case cases[] = {
        {"a=1, b=2", "=", 1, "1, b=2"},
        {"a=1, b=2", "=", 2, "2"},
        {"a=1, b=2", "=", 3, "1, b=2"},  // wraps to the first
        {"a=1, b=2", "=", std::numeric_limits<int32_t>::max(), "1, b=2"},
        {"a=1", "=", 2, "1"},  // one occurrence: the same one again
        {"aaaa", "aa", 2, "a"},  // hits overlap, one character apart
        {"aaaa", "aa", 4, "aa"},
        {"a=1", ";", 1, ""},
        {"a=1", "", 1, ""},
        {"a=1", "=", 0, ""},
        {"a=1", "=", -5, ""},
        {"", "=", 1, ""},
        {"x=", "=", 1, ""},
        {"名字=值", "=", 1, "值"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, FindText(c.text, c.tag, c.count))
            << c.text << " / " << c.tag << " / " << c.count;
    }
}

// Long tags go through the linear matcher; it must agree with the plain search.
TEST(FindText, AgreesWithPlainSearchForShortAndLongTags) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> bit(0, 1);
    std::uniform_int_distribution<int> tagLen(1, 40);
    std::uniform_int_distribution<int> count(1, 30);
    for (int i = 0; i < 3000; ++i) {
        std::string hay(200, 'a');
        for (char& c : hay) c = bit(rng) ? 'a' : 'b';
        std::string tag;
        if (i % 2) {
            // A piece of the text, so long tags do occur.
            const int n = tagLen(rng);
            tag = hay.substr(static_cast<std::size_t>(count(rng)), static_cast<std::size_t>(n));
        } else {
            for (int n = tagLen(rng) % 4 + 1; n > 0; --n) tag += bit(rng) ? 'a' : 'b';
        }
        const int c = count(rng);
        ASSERT_EQ(NaiveFindText(hay, tag, c), FindText(hay, tag, c)) << hay << " / " << tag;
    }
    const std::string periodic = std::string(60, 'a');
    const std::string longTag(20, 'a');
    for (int c = 1; c < 100; ++c) {
        ASSERT_EQ(NaiveFindText(periodic, longTag, c), FindText(periodic, longTag, c)) << c;
    }
}

TEST(FindTextBetween, TakesTheTextBetweenTheTags) {
    EXPECT_EQ("x", FindTextBetween(R"(<sync a="x" b="y">)", "\"", "\"", 1, 2));
    EXPECT_EQ("hi", FindTextBetween("<p class=a>hi</p>", ">", "<", 1, 2));
    EXPECT_EQ("y", FindTextBetween(R"(a="x" b="y")", "\"", "\"", 3, 1));
    EXPECT_EQ("", FindTextBetween("<p>hi</p>", ">", "<", 1, 0));
    EXPECT_EQ("", FindTextBetween("<p>hi", ">", "]", 1, 1));
    EXPECT_EQ("", FindTextBetween("<p>hi", "[", ">", 1, 1));
    EXPECT_EQ("", FindTextBetween("b<a", "a", "<", 1, 1));  // end tag only before the start
    EXPECT_EQ("", FindTextBetween("[[]]", "[[", "]]", 1, 1));
    EXPECT_EQ("", FindTextBetween("ab", "ab", "b", 1, 1));  // the tags never overlap
    EXPECT_EQ("mid", FindTextBetween("abc-mid-abc", "abc-", "-abc", 1, 1));
    EXPECT_EQ("", FindTextBetween("a", "", "a", 1, 1));
}

TEST(FindTextRev, AfterTheLastOccurrence) {
    EXPECT_EQ("c", FindTextRev("a/b/c", "/", 1));
    EXPECT_EQ("c", FindTextRev("a/b/c", "/", 7));
    EXPECT_EQ("a/b/c", FindTextRev("a/b/c", "|", 1));
    EXPECT_EQ("", FindTextRev("a/b/", "/", 1));
    EXPECT_EQ("abc", FindTextRev("abc", "", 1));
}

TEST(KillTag, RemovesMarkupKinds) {
    struct Case {
        const char* text;
        bool full;
        const char* expected;
    };
    const Case cases[] = {
        {"<font color=red>Hi</font> &nbsp;there", false, "Hi there"},
        {"(laughs) Hi", true, " Hi"},
        {"(laughs) Hi", false, "(laughs) Hi"},
        {"{\\an8}top", false, "top"},
        {"<i>a</i><i>b</i>", false, "ab"},  // one pass removes every copy
        {"x&amp;y&amp;z", false, "xyz"},
        {"a;b&c", false, "a;b&c"},  // no ";" after the "&": nothing to remove
        {"a;b&c;d", false, "a;bd"},
        {">a<b>", false, ">a<b>"},  // a stray ">" first stops the kind
        {"a < b", false, "a < b"},
        {"<>x", false, "x"},
        {"\\N<b>line</b>\\N", false, "\\Nline\\N"},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, KillTag(c.text, c.full)) << c.text;
    }
}

TEST(KillTag, AtMostHundredPassesPerKind) {
    std::string angles;
    std::string braces;
    std::string rest;
    for (int i = 0; i < 150; ++i) {
        angles += "<t" + std::to_string(i) + ">";
        braces += "{b" + std::to_string(i) + "}";
        if (i >= 100) rest += "<t" + std::to_string(i) + ">";
    }
    EXPECT_EQ(rest + "x", KillTag(angles + "x", false));
    // The counter starts again for braces.
    std::string restBraces;
    for (int i = 100; i < 150; ++i) restBraces += "{b" + std::to_string(i) + "}";
    EXPECT_EQ(rest + restBraces, KillTag(angles + braces, false));
}

TEST(KillTag, LargeLinesStayLinear) {
    // Each pass is one linear sweep even when the span found is megabytes
    // long and the rest of the line nearly repeats it.
    const std::size_t n = 1 << 20;
    const std::string hostile = "<" + std::string(n, '<') + ">" + std::string(n, '<');
    EXPECT_EQ(std::string(n, '<'), KillTag(hostile, true));
    std::string many;
    for (int i = 0; i < 200000; ++i) many += "<b>x";
    EXPECT_EQ(std::string(200000, 'x'), KillTag(many, false));
    const std::string bytes(1 << 22, '\xff');
    EXPECT_EQ(bytes, KillTag(bytes, true));
}

TEST(KillTagFor, OnePairOfDelimiters) {
    EXPECT_EQ("Hi <b>", KillTagFor("{\\b1}Hi <b>{\\b0}", "{", "}"));
    EXPECT_EQ("x", KillTagFor("[[a]]x[[b]]", "[[", "]]"));
    EXPECT_EQ("ab", KillTagFor("ab", "", "}"));
    EXPECT_EQ("ab", KillTagFor("ab", "{", ""));
    EXPECT_EQ("ab", KillTagFor("ab", "ab", "b"));  // the close overlapping the open is no span
    EXPECT_EQ("", KillTagFor("abb", "ab", "b"));
}

TEST(ReplaceAll, NonOverlappingLeftToRight) {
    EXPECT_EQ("ba", ReplaceAll("aaa", "aa", "b"));
    EXPECT_EQ("x-y-z", ReplaceAll("x, y, z", ", ", "-"));
    EXPECT_EQ("abc", ReplaceAll("abc", "", "x"));
    EXPECT_EQ("", ReplaceAll("", "a", "b"));
    EXPECT_EQ("aXXa", ReplaceAll("aba", "b", "XX"));
    const std::string longNeedle(20, 'a');
    EXPECT_EQ("bba", ReplaceAll(std::string(41, 'a'), longNeedle, "b"));
    EXPECT_EQ("x" + std::string(19, 'a'), ReplaceAll(std::string(39, 'a'), longNeedle, "x"));
}

TEST(SmallHelpers, TrimLowerStrip) {
    EXPECT_EQ("a b", TrimSpaces("  a b  "));
    EXPECT_EQ("\ta\t", TrimSpaces(" \ta\t "));
    EXPECT_EQ("", TrimSpaces("   "));
    EXPECT_EQ("", TrimSpaces(""));
    EXPECT_EQ("abc xyz \xc3\x84", LowerAscii("ABC xYz \xc3\x84"));

    std::string withNul("ab\0cd", 5);
    EXPECT_EQ("ab", StripNulls(withNul));
    EXPECT_EQ("ab", withNul);
    std::string plain = "abc";
    EXPECT_EQ("abc", StripNulls(plain));
}

TEST(GetFileString, StylesAndDelimiters) {
    struct Case {
        const char* path;
        const char* delim;
        int32_t style;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\movies\\film.en.srt", ".", 0, "film.en"},
        {"C:\\movies\\film.en.srt", ".", 1, "srt"},
        {"C:\\movies\\film.en.srt", ".", 2, "C:\\movies\\film.en"},
        {"C:\\movies\\film.en.srt", "\\", 0, "C:\\movies"},
        {"C:\\movies\\film.en.srt", "\\", 1, "film.en.srt"},
        {"C:\\movies\\film.en.srt", ".", 3, ""},
        {"/home/u/film.srt", "\\", 0, "/home/u"},  // either separator
        {"/home/u/film.srt", "/", 1, "film.srt"},
        {"/home/u\\film.srt", "/", 0, "/home/u"},
        {"/home/u/film.srt", ".", 0, "film"},
        {"/a.b/film", ".", 0, "film"},  // the dot is in a folder name
        {"film", ".", 0, "film"},
        {"film", ".", 1, "film"},
        {"film.srt", ".", 0, "film"},
        {"http://host/a/b\\c.mp4", ".", 0, "b\\c"},  // web addresses split at "/" only
        {"C:", "\\", 1, "C"},
        {"C:", ".", 9, "C"},
        {"abc", "", 1, "abc"},
        {"", ".", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, GetFileString(c.path, c.delim, c.style))
            << c.path << " / " << c.delim << " / " << c.style;
    }
}

TEST(CPath, AppendsOneSeparator) {
    EXPECT_EQ("", cPath(""));
    EXPECT_EQ("", cPath("   "));
    EXPECT_EQ("/a/", cPath("/a"));
    EXPECT_EQ("/a/", cPath("/a/"));
    EXPECT_EQ("C:\\a\\", cPath("C:\\a\\"));
}

class FileHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("lumeval_textutil_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Touch(const std::string& name) {
        const std::string p = (dir_ / name).string();
        std::ofstream(p) << "x";
        return p;
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(FileHelpers, ExistenceTests) {
    const std::string file = Touch("a.srt");
    const std::string folder = dir_.string();
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(folder, false));
    EXPECT_FALSE(FileExists(Path("missing")));
    EXPECT_FALSE(DirExists(""));
    EXPECT_TRUE(DirExists(folder));
    EXPECT_FALSE(DirExists(file));
    EXPECT_FALSE(DirExists(Path("missing")));
    EXPECT_TRUE(PathExistsFSO(file));
    EXPECT_TRUE(PathExistsFSO(folder));
    EXPECT_FALSE(PathExistsFSO(Path("missing")));
    EXPECT_FALSE(PathExistsFSO(""));
}

TEST_F(FileHelpers, MakedPathCreatesEveryMissingFolder) {
    EXPECT_TRUE(MakedPath(Path("a/b/c")));
    EXPECT_TRUE(DirExists(Path("a/b/c")));
    EXPECT_TRUE(MakedPath(Path("a/b/c")));  // already there
    EXPECT_TRUE(MakedPath(Path("x\\y")));   // either separator splits
    EXPECT_TRUE(DirExists(Path("x/y")));
    Touch("file");
    EXPECT_FALSE(MakedPath(Path("file")));
    EXPECT_FALSE(MakedPath(Path("file/sub")));
    EXPECT_FALSE(MakedPath(""));
    // The reason goes to a caller that asks for it, for its error message.
    std::error_code why;
    EXPECT_FALSE(MakedPath(Path("file/sub"), &why));
    EXPECT_EQ(std::make_error_code(std::errc::not_a_directory), why) << why.message();
    why.clear();
    EXPECT_TRUE(MakedPath(Path("a/b/d"), &why));
    EXPECT_FALSE(why);
}

TEST_F(FileHelpers, RenameExistsFindsAFreeName) {
    const std::string out = Path("out.srt");
    EXPECT_EQ(out, RenameExists(out, false));  // free
    Touch("out.srt");
    EXPECT_EQ(out, RenameExists(out, true));
    EXPECT_EQ(Path("out(1).srt"), RenameExists(out, false));
    Touch("out(1).srt");
    EXPECT_EQ(Path("out(2).srt"), RenameExists(out, false));

    Touch("plain");
    EXPECT_EQ(Path("plain(1)"), RenameExists(Path("plain"), false));
    Touch(".profile");
    EXPECT_EQ(Path(".profile(1)"), RenameExists(Path(".profile"), false));
    ASSERT_TRUE(MakedPath(Path("d.x")));
    Touch("d.x/name");
    EXPECT_EQ(Path("d.x/name(1)"), RenameExists(Path("d.x/name"), false));
    EXPECT_EQ("", RenameExists("", false));
}

TEST(AppendStringArray, AppendsInOrder) {
    std::vector<std::string> a{"1", "2"};
    AppendStringArray(a, {"3", "4"});
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4"}), a);
    AppendStringArray(a, {});
    EXPECT_EQ(4u, a.size());
    AppendStringArray(a, a);
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4", "1", "2", "3", "4"}), a);
}

TEST(JoinEx, RangesAndErrors) {
    const std::vector<std::string> arr{"a", "b", "c"};
    struct Case {
        std::optional<int64_t> index;
        std::optional<int64_t> count;
        const char* expected;
        int32_t number;
        const char* description;
    };
    const char* kExtend = "Index plus Count extend passed the end of the array.";
    const char* kNegative = "Count cannot be less than zero.";
    const Case cases[] = {
        {std::nullopt, std::nullopt, "a, b, c", 0, ""},
        {1, std::nullopt, "b, c", 0, ""},
        {1, 1, "b", 0, ""},
        {2, 1, "c", 0, ""},
        {0, 0, "", 0, ""},
        {std::nullopt, 2, "a, b", 0, ""},
        {3, std::nullopt, "", 9, "Subscript out of range"},
        {-1, 1, "", 9, "Subscript out of range"},
        {0, -1, "", 5, kNegative},
        {1, 3, "", 5, kExtend},
        {1, std::numeric_limits<int64_t>::max(), "", 5, kExtend},
        {std::nullopt, std::numeric_limits<int64_t>::min(), "", 5, kNegative},
    };
    for (const auto& c : cases) {
        JoinError err{77, "stale"};
        EXPECT_EQ(c.expected, JoinEx(arr, ", ", c.index, c.count, &err));
        EXPECT_EQ(c.number, err.Number);
        EXPECT_EQ(c.description, err.Description);
    }
    EXPECT_EQ("abc", JoinEx(arr, ""));
    JoinError err{77, "stale"};
    EXPECT_EQ("", JoinEx({}, ",", 5, -1, &err));  // nothing allocated: no error
    EXPECT_EQ(0, err.Number);
}

TEST(TextHelpers, SurviveArbitraryBytes) {
    std::mt19937 rng(3);
    std::string alphabet = "<>{}()&;=\"/\\.:ab \xff\x80";
    alphabet += '\0';
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> len(0, 40);
    auto random = [&] {
        std::string s;
        for (int n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string s = random();
        const std::string t = random().substr(0, 3);
        const std::string u = random().substr(0, 3);
        (void)FindText(s, t, i % 7 - 1);
        (void)FindTextBetween(s, t, u, i % 5, i % 3);
        (void)FindTextRev(s, t, 1);
        const std::string k = KillTag(s, i % 2 == 0);
        ASSERT_LE(k.size(), s.size());
        ASSERT_LE(KillTagFor(s, t, u).size(), s.size());
        (void)GetFileString(s, t, i % 4);
        (void)cPath(s);
        ASSERT_EQ(s, ReplaceAll(ReplaceAll(s, "\x01", "\x02\x02"), "\x02\x02", "\x01"));
    }
}

}  // namespace
}  // namespace lumeval
