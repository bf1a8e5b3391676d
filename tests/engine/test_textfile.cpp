// Loading and saving whole text files: marks, detection, atomic saves.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "engine/encoding/codepage.h"
#include "engine/encoding/textfile.h"
#include "test_util.h"

namespace lumeval {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(char(b));
    return s;
}

const std::string kReplacementChar = "\xEF\xBF\xBD";

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

// ---- marks ----

TEST(ByteOrderMark, DetectsInTheDesignatedOrder) {
    struct Case {
        std::string first;
        int32_t code;
        int32_t length;
    };
    const Case cases[] = {
        {B({0xFF, 0xFE, 0, 0}), 4, 4},
        {B({0, 0, 0xFE, 0xFF}), 5, 4},
        {B({0xFF, 0xFE, 0x41, 0}), 2, 2},
        {B({0xFF, 0xFE}), 4, 4},  // zero-filled: a bare FF FE reads as UTF-32
        {B({0xFE, 0xFF, 0, 0x41}), 3, 2},
        {B({0xEF, 0xBB, 0xBF, 0x41}), 1, 3},
        {B({0xEF, 0xBB, 0xBF}), 1, 3},
        {B({0xEF, 0xBB}), 0, 0},
        {B({0, 0, 0xFF, 0xFE}), 0, 0},
        {"", 0, 0},
    };
    for (const Case& c : cases) {
        unsigned char first4[4] = {0, 0, 0, 0};
        for (std::size_t i = 0; i < c.first.size() && i < 4; ++i) first4[i] = c.first[i];
        const ByteOrderMark mark = DetectByteOrderMark(first4);
        EXPECT_EQ(c.code, mark.code) << testing::PrintToString(c.first);
        EXPECT_EQ(c.length, mark.length) << testing::PrintToString(c.first);
    }
    EXPECT_EQ("", ByteOrderMarkFor(-1));
    EXPECT_EQ("", ByteOrderMarkFor(0));
    EXPECT_EQ(B({0xEF, 0xBB, 0xBF}), ByteOrderMarkFor(1));
    EXPECT_EQ(B({0xFF, 0xFE}), ByteOrderMarkFor(2));
    EXPECT_EQ(B({0xFE, 0xFF}), ByteOrderMarkFor(3));
    EXPECT_EQ(B({0xFF, 0xFE, 0, 0}), ByteOrderMarkFor(4));
    EXPECT_EQ(B({0, 0, 0xFE, 0xFF}), ByteOrderMarkFor(5));
    EXPECT_EQ("", ByteOrderMarkFor(6));
}

TEST(CheckTextFileFormat, ReportsMarksOnly) {
    TempDir dir;
    const std::string f = dir.file("f.txt");
    EXPECT_EQ(-1, UEFCheckTextFileFormat(dir.file("missing.txt")));
    EXPECT_EQ(-1, UEFCheckTextFileFormat(dir.path().string()));
    EXPECT_EQ(-1, UEFCheckTextFileFormat(""));
    EXPECT_EQ(-1, UEFCheckTextFileFormat(std::string("a\0b", 3)));
    struct Case {
        std::string bytes;
        int32_t code;
    };
    const Case cases[] = {
        {"", 0},
        {"\xE4\xB8\xAD valid UTF-8 without a mark", 0},
        {B({0xEF, 0xBB, 0xBF}) + "x", 1},
        {B({0xFF, 0xFE}), 4},
        {B({0xFF, 0xFE, 0, 0, 0x41, 0}), 4},
        {B({0xFE, 0xFF, 0, 0x41}), 3},
        {B({0, 0, 0xFE, 0xFF}), 5},
    };
    for (const Case& c : cases) {
        writeBytes(f, c.bytes);
        EXPECT_EQ(c.code, UEFCheckTextFileFormat(f)) << testing::PrintToString(c.bytes);
    }
}

// ---- loading ----

TEST(LoadTextFile, DetectsEncoding) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
        int32_t fmt;
        LoadReason reason;
    };
    const Case cases[] = {
        {"utf-8 mark", B({0xEF, 0xBB, 0xBF}) + "hi 中", "hi 中", 1, LoadReason::ByteOrderMark},
        {"bare FF FE", B({0xFF, 0xFE}), "", 4, LoadReason::ByteOrderMark},
        {"mark only", B({0xEF, 0xBB, 0xBF}), "", 1, LoadReason::ByteOrderMark},
        {"utf-16 le", B({0xFF, 0xFE, 'a', 0, 0x2D, 0x4E}), "a中", 2, LoadReason::ByteOrderMark},
        {"utf-16 be", B({0xFE, 0xFF, 0, 'a', 0x4E, 0x2D}), "a中", 3, LoadReason::ByteOrderMark},
        {"utf-32 le", B({0xFF, 0xFE, 0, 0, 'a', 0, 0, 0, 0x00, 0xF6, 0x01, 0}), "a\xF0\x9F\x98\x80",
         4, LoadReason::ByteOrderMark},
        {"utf-32 be", B({0, 0, 0xFE, 0xFF, 0, 0, 0x4E, 0x2D, 0, 0, 0, 'z'}), "中z", 5,
         LoadReason::ByteOrderMark},
        {"utf-8 no mark", "1\r\n中文字幕\r\n", "1\r\n中文字幕\r\n", 1, LoadReason::ValidUtf8},
        {"gbk", B({0xD6, 0xD0, 0xCE, 0xC4}), "中文", 0, LoadReason::AnsiFallback},
        {"broken utf-8", "ok \xE4\xB8", "ok \xE4\xB8", 0, LoadReason::AnsiFallback},
        {"ascii", "plain", "plain", 0, LoadReason::AnsiFallback},
        {"empty", "", "", 0, LoadReason::AnsiFallback},
        // UTF-16 without a mark, told by where its zero bytes are.
        {"utf-16 le, no mark", B({'1', 0, '\r', 0, '\n', 0, '0', 0, '0', 0, ':', 0, '0', 0, '1', 0, 0x2D, 0x4E}),
         "1\r\n00:01中", 2, LoadReason::Utf16Pattern},
        {"utf-16 be, no mark", B({0, '1', 0, '\r', 0, '\n', 0, '0', 0, '0', 0, ':', 0, '0', 0, '1', 0x4E, 0x2D}),
         "1\r\n00:01中", 3, LoadReason::Utf16Pattern},
        // A stray zero or two in ANSI text, and UTF-32's zeros on both sides,
        // are not UTF-16.
        {"ansi with a zero", std::string("00:00:01,000 --> 00:00:02,000\0xy", 32),
         std::string("00:00:01,000 --> 00:00:02,000\0xy", 32), 0, LoadReason::AnsiFallback},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string f = dir.file("f.txt");
        writeBytes(f, c.bytes);
        int32_t fmt = -1;
        LoadReason reason = LoadReason::None;
        const std::string text = UEFLoadTextFile(f, fmt, 0, &reason);
        if (std::string(c.what) == "broken utf-8") {
            // GBK takes the last two bytes as one character.
            std::string expected;
            ASSERT_TRUE(DecodeCodePage(c.bytes, 936, expected));
            EXPECT_EQ(expected, text) << c.what;
        } else {
            EXPECT_EQ(c.text, text) << c.what;
        }
        EXPECT_EQ(c.fmt, fmt) << c.what;
        EXPECT_EQ(c.reason, reason) << c.what;
    }
}

// Legacy text is read through the page its content shows; a page the caller
// set, or an encoding it named, is used without asking the content.
TEST(LoadTextFile, TellsTheLegacyCodePageFromTheContent) {
    const std::string srt =
        "1\r\n00:00:01,000 --> 00:00:02,000\r\n這個城市的夜晚非常安靜，\r\n只有遠處傳來的汽車聲。\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,000\r\n我不知道他為什麼沒有來。\r\n";
    std::string big5;
    ASSERT_TRUE(EncodeCodePage(srt, 950, big5, true).ok);
    std::string gbkShort;
    ASSERT_TRUE(EncodeCodePage("1\r\n00:00:01,000 --> 00:00:02,000\r\n你好\r\n", 936, gbkShort, true).ok);
    std::string big5AsGbk;
    ASSERT_TRUE(DecodeCodePage(big5, 936, big5AsGbk));
    struct Case {
        const char* what;
        std::string bytes;
        int32_t fmtIn;
        int32_t ansiPage;
        std::string text;
        LoadReason reason;
        LoadedCodePage page;
    };
    const Case cases[] = {
        {"BIG5, detected", big5, -1, 0, srt, LoadReason::DetectedCodePage, {950, true, false}},
        {"too short to tell: the default page", gbkShort, -1, 0, "1\r\n00:00:01,000 --> 00:00:02,000\r\n你好\r\n",
         LoadReason::AnsiFallback, {936, false, false}},
        {"a page set by the caller is not second-guessed", big5, -1, 936, big5AsGbk,
         LoadReason::AnsiFallback, {936, false, false}},
        {"ANSI named by the caller", big5, 0, 0, big5AsGbk, LoadReason::Explicit, {936, false, false}},
        {"ASCII", "1\r\nplain\r\n", -1, 0, "1\r\nplain\r\n", LoadReason::AnsiFallback, {936, false, true}},
        {"UTF-8 is no legacy page", srt, -1, 0, srt, LoadReason::ValidUtf8, {0, false, false}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string f = dir.file("f.srt");
        writeBytes(f, c.bytes);
        int32_t fmt = c.fmtIn;
        LoadReason reason = LoadReason::None;
        LoadedCodePage page{-1, true, true};
        EXPECT_EQ(c.text, UEFLoadTextFile(f, fmt, c.ansiPage, &reason, &page)) << c.what;
        EXPECT_EQ(c.reason, reason) << c.what;
        EXPECT_EQ(c.page.codePage, page.codePage) << c.what;
        EXPECT_EQ(c.page.detected, page.detected) << c.what;
        EXPECT_EQ(c.page.asciiOnly, page.asciiOnly) << c.what;
        EXPECT_EQ(c.reason == LoadReason::ValidUtf8 ? kEncodingUtf8 : kEncodingAnsi, fmt) << c.what;
    }
}

// UTF-8 with one stray byte further on is read as UTF-8, the byte replaced.
TEST(LoadTextFile, MostlyUtf8IsUtf8) {
    TempDir dir;
    const std::string f = dir.file("f.srt");
    const std::string good = "1\r\n00:00:01,000 --> 00:00:02,000\r\n你好，欢迎来到我们的节目。\r\n\r\n";
    writeBytes(f, good + "2\r\n00:00:03,000 --> 00:00:04,000\r\nbad \xFF byte\r\n");
    int32_t fmt = -1;
    LoadReason reason = LoadReason::None;
    const std::string text = UEFLoadTextFile(f, fmt, 0, &reason);
    EXPECT_EQ(good + "2\r\n00:00:03,000 --> 00:00:04,000\r\nbad \xEF\xBF\xBD byte\r\n", text);
    EXPECT_EQ(kEncodingUtf8, fmt);
    EXPECT_EQ(LoadReason::DetectedCodePage, reason);
}

TEST(LoadTextFile, Utf16WithoutMarkNeedsItsZerosOnOneSide) {
    std::string le, be, utf32;
    for (const char c : std::string("1\r\n00:00:01,000 --> 00:00:02,000\r\n")) {
        le += {c, '\0'};
        be += {'\0', c};
        utf32 += {c, '\0', '\0', '\0'};
    }
    EXPECT_EQ(kEncodingUtf16LE, LooksLikeUtf16(le));
    EXPECT_EQ(kEncodingUtf16BE, LooksLikeUtf16(be));
    EXPECT_EQ(0, LooksLikeUtf16(utf32));
    EXPECT_EQ(0, LooksLikeUtf16(le.substr(0, 14)));  // too short to tell
    EXPECT_EQ(0, LooksLikeUtf16(le + "x"));          // odd length
    // Chinese text in UTF-16 has few zero bytes; a subtitle's times carry it.
    std::string cjk;
    for (int i = 0; i < 30; ++i) cjk += {'\x2D', '\x4E'};
    EXPECT_EQ(0, LooksLikeUtf16(cjk));
    EXPECT_EQ(kEncodingUtf16LE, LooksLikeUtf16(le + cjk));
}

TEST(LoadTextFile, ExplicitEncodingDecodesForeignMarksAsContent) {
    TempDir dir;
    const std::string f = dir.file("f.txt");
    const std::string withMark = B({0xEF, 0xBB, 0xBF}) + "hello";
    writeBytes(f, withMark);

    int32_t fmt = 0;
    LoadReason reason = LoadReason::None;
    std::string text = UEFLoadTextFile(f, fmt, 0, &reason);
    EXPECT_EQ(DecodeText(withMark, 0, 936), text);
    EXPECT_NE("hello", text);
    EXPECT_EQ(0, fmt);
    EXPECT_EQ(LoadReason::Explicit, reason);

    fmt = 1;  // matches the mark: the mark is skipped
    EXPECT_EQ("hello", UEFLoadTextFile(f, fmt));

    // Explicit ANSI is ANSI even for valid UTF-8.
    writeBytes(f, "\xE4\xB8\xAD");
    fmt = 0;
    EXPECT_EQ(DecodeText("\xE4\xB8\xAD", 0, 936), UEFLoadTextFile(f, fmt));
    EXPECT_NE("中", UEFLoadTextFile(f, fmt));

    // Explicit UTF-8 on GBK bytes: every bad byte shows as U+FFFD.
    writeBytes(f, B({0xD6, 0xD0, 'x'}));
    fmt = 1;
    EXPECT_EQ(kReplacementChar + kReplacementChar + "x", UEFLoadTextFile(f, fmt));
}

TEST(LoadTextFile, Utf16AndUtf32Edges) {
    struct Case {
        const char* what;
        std::string content;  // without a mark
        int32_t fmt;
        std::string text;
    };
    const Case cases[] = {
        {"le exact, no trailing NULs", B({'a', 0, 'b', 0}), 2, "ab"},
        {"le odd byte is a last unit", B({'a', 0, 'b'}), 2, "ab"},
        {"be odd byte is dropped", B({0, 'a', 0, 'b', 0x4E}), 3, "ab"},
        {"le pair", B({0x3D, 0xD8, 0x00, 0xDE}), 2, "\xF0\x9F\x98\x80"},
        {"le high at end", B({'a', 0, 0x3D, 0xD8}), 2, "a" + kReplacementChar},
        {"le lone low", B({0x00, 0xDE, 'a', 0}), 2, kReplacementChar + "a"},
        {"le high then letter", B({0x3D, 0xD8, 'a', 0}), 2, kReplacementChar + "a"},
        {"le inner NUL kept", B({'a', 0, 0, 0, 'b', 0}), 2, std::string("a\0b", 3)},
        {"32 le past U+10FFFF", B({0, 0, 0x11, 0}), 4, kReplacementChar},
        {"32 le surrogate", B({0x00, 0xD8, 0, 0}), 4, kReplacementChar},
        {"32 be tail", B({0, 0, 0, 'a', 0, 0}), 5, "a" + kReplacementChar},
        {"32 le three-byte tail", B({'a', 0, 0}), 4, kReplacementChar},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string f = dir.file("f.txt");
        const std::string full = ByteOrderMarkFor(c.fmt) + c.content;
        writeBytes(f, full);
        int32_t fmt = c.fmt;
        EXPECT_EQ(c.text, UEFLoadTextFile(f, fmt)) << c.what;
        EXPECT_EQ(c.text, DecodeText(c.content, c.fmt, 0)) << c.what;
    }
}

TEST(LoadTextFile, FailuresLeaveFmtAlone) {
    TempDir dir;
    const std::string f = dir.file("f.txt");
    writeBytes(f, "abc");
    struct Case {
        std::string name;
        int32_t fmt;
    };
    const Case cases[] = {
        {dir.file("missing.txt"), -1},
        {dir.file("missing.txt"), 2},
        {dir.path().string(), -1},     // a folder
        {std::string("f\0x", 3), -1},  // embedded NUL
        {f, 6},                        // invalid codes do nothing
        {f, -2},
    };
    for (const Case& c : cases) {
        int32_t fmt = c.fmt;
        LoadReason reason = LoadReason::Explicit;
        EXPECT_EQ("", UEFLoadTextFile(c.name, fmt, 0, &reason));
        EXPECT_EQ(c.fmt, fmt);
        EXPECT_EQ(LoadReason::None, reason);
    }
    EXPECT_EQ("", DecodeText("abc", 9, 0));
    EXPECT_EQ("", DecodeText("abc", 0, 12345));  // no such code page
}

TEST(LoadTextFile, ArbitraryBytesGiveBoundedValidText) {
    TempDir dir;
    const std::string f = dir.file("f.bin");
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        std::string bytes(rng() % 2000, '\0');
        for (char& c : bytes) c = char(rng() % 4 == 0 ? 0 : rng());
        // Some rounds start with a mark so the Unicode decoders see garbage too.
        if (round % 6 != 0) bytes = ByteOrderMarkFor(round % 6) + bytes;
        writeBytes(f, bytes);
        for (int32_t fmt0 = -1; fmt0 <= 5; ++fmt0) {
            int32_t fmt = fmt0;
            const std::string text = UEFLoadTextFile(f, fmt);
            EXPECT_TRUE(IsValidUtf8(text)) << round << " fmt " << fmt0;
            EXPECT_LE(text.size(), bytes.size() * 3) << round << " fmt " << fmt0;
        }
    }
}

// ---- saving ----

TEST(SaveTextFile, WritesMarkAndEncodedText) {
    struct Case {
        int32_t fmt;
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {2, "abc", B({0xFF, 0xFE, 'a', 0, 'b', 0, 'c', 0})},
        {1, "", B({0xEF, 0xBB, 0xBF})},
        {2, "", B({0xFF, 0xFE})},
        {0, "", ""},
        {0, "中 a", B({0xD6, 0xD0, ' ', 'a'})},
        {1, "中", B({0xEF, 0xBB, 0xBF, 0xE4, 0xB8, 0xAD})},
        {3, "a\xF0\x9F\x98\x80", B({0xFE, 0xFF, 0, 'a', 0xD8, 0x3D, 0xDE, 0x00})},
        {4, "a中", B({0xFF, 0xFE, 0, 0, 'a', 0, 0, 0, 0x2D, 0x4E, 0, 0})},
        {5, "a\xF0\x9F\x98\x80", B({0, 0, 0xFE, 0xFF, 0, 0, 0, 'a', 0, 0x01, 0xF6, 0x00})},
        {2, "x\xFF", B({0xFF, 0xFE, 'x', 0, 0xFD, 0xFF})},  // ill-formed input
        {1, "x\xFF", B({0xEF, 0xBB, 0xBF, 'x', 0xEF, 0xBF, 0xBD})},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string f = dir.file("out.txt");
        writeBytes(f, "old content that is longer than the new");
        int32_t fmt = c.fmt;
        SaveFailure failure;
        EXPECT_TRUE(UEFSaveTextFile(f, c.text, false, fmt, 1, 0, &failure)) << c.fmt;
        EXPECT_EQ(SaveFailure::None, failure.kind);
        EXPECT_EQ(c.bytes, readBytes(f)) << c.fmt;
        EXPECT_EQ(c.fmt, fmt);
    }
    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::vector<std::string>{"out.txt"}, Listing(dir.path()));
}

TEST(SaveTextFile, RoundTripsThroughTheLoader) {
    const std::string text = "1\r\n00:00:01,000 --> 00:00:02,000\r\n中文字幕 abc\r\n";
    TempDir dir;
    for (int32_t code = 0; code <= 5; ++code) {
        const std::string f = dir.file("rt" + std::to_string(code) + ".srt");
        int32_t fmt = code;
        ASSERT_TRUE(UEFSaveTextFile(f, text, false, fmt, -1));
        int32_t detected = -1;
        EXPECT_EQ(text, UEFLoadTextFile(f, detected)) << code;
        EXPECT_EQ(code, detected);
    }
}

TEST(SaveTextFile, RefusesWithoutTouchingTheFile) {
    TempDir dir;
    const std::string f = dir.file("keep.txt");
    const std::string old = "old bytes";
    struct Case {
        const char* what;
        std::string name;
        int32_t fmt;
        bool append;
        SaveFailure::Kind kind;
    };
    const Case cases[] = {
        {"detect without append", f, -1, false, SaveFailure::InvalidEncoding},
        {"invalid code", f, 6, false, SaveFailure::InvalidEncoding},
        {"invalid code appending", f, -5, true, SaveFailure::InvalidEncoding},
        {"missing folder", dir.file("no/such/dir.txt"), 1, false, SaveFailure::OpenFailed},
        {"a folder", dir.path().string(), 1, false, SaveFailure::OpenFailed},
        {"embedded NUL", std::string("keep.txt\0x", 10), 1, false, SaveFailure::OpenFailed},
    };
    for (const Case& c : cases) {
        writeBytes(f, old);
        int32_t fmt = c.fmt;
        SaveFailure failure;
        EXPECT_FALSE(UEFSaveTextFile(c.name, "new", c.append, fmt, 1, 0, &failure)) << c.what;
        EXPECT_EQ(c.kind, failure.kind) << c.what;
        EXPECT_EQ(c.fmt, fmt) << c.what;
        EXPECT_EQ(old, readBytes(f)) << c.what;
    }
    EXPECT_TRUE(fs::is_directory(dir.path()));
    EXPECT_FALSE(fs::exists(dir.file("no")));
}

TEST(SaveTextFile, UnmappableAnsiTextFailsAndSaysWhere) {
    TempDir dir;
    const std::string f = dir.file("gbk.txt");
    const std::string old = "old";
    const std::string text = "line one\r\n中文\r\nbad \xF0\x9F\x98\x80 here\r\n";
    for (bool append : {false, true}) {
        writeBytes(f, old);
        int32_t fmt = 0;
        SaveFailure failure;
        EXPECT_FALSE(UEFSaveTextFile(f, text, append, fmt, 0, 0, &failure));
        EXPECT_EQ(SaveFailure::Unmappable, failure.kind);
        EXPECT_EQ(3u, failure.line);
        EXPECT_EQ(text.find("\xF0"), failure.byteOffset);
        EXPECT_EQ(old, readBytes(f));
    }
    // A best-fit-only character counts as unmappable too.
    int32_t fmt = 0;
    SaveFailure failure;
    EXPECT_FALSE(UEFSaveTextFile(f, "¢", false, fmt, 0, 0, &failure));
    EXPECT_EQ(1u, failure.line);
    EXPECT_EQ(0u, failure.byteOffset);
    // The same text is fine in a Unicode form.
    fmt = 2;
    EXPECT_TRUE(UEFSaveTextFile(f, text, false, fmt, 0));
}

TEST(SaveTextFile, AppendsInTheFilesOwnEncoding) {
    TempDir dir;
    const std::string f = dir.file("a.txt");

    // UTF-16 LE file, fmt -1: no second mark, fmt becomes 2.
    writeBytes(f, B({0xFF, 0xFE, 'a', 0}));
    int32_t fmt = -1;
    EXPECT_TRUE(UEFSaveTextFile(f, "b中", true, fmt, 1));
    EXPECT_EQ(2, fmt);
    EXPECT_EQ(B({0xFF, 0xFE, 'a', 0, 'b', 0, 0x2D, 0x4E}), readBytes(f));

    // No mark, GBK bytes: ANSI.
    writeBytes(f, B({0xD6, 0xD0}));
    fmt = -1;
    EXPECT_TRUE(UEFSaveTextFile(f, "文", true, fmt, 1));
    EXPECT_EQ(0, fmt);
    EXPECT_EQ(B({0xD6, 0xD0, 0xCE, 0xC4}), readBytes(f));

    // No mark but valid multi-byte UTF-8: appending GBK would corrupt it.
    writeBytes(f, "中");
    fmt = -1;
    EXPECT_TRUE(UEFSaveTextFile(f, "文", true, fmt, 0));
    EXPECT_EQ(1, fmt);
    EXPECT_EQ("中文", readBytes(f));

    // A known fmt appends without a mark.
    writeBytes(f, "x");
    fmt = 3;
    EXPECT_TRUE(UEFSaveTextFile(f, "y", true, fmt, 1));
    EXPECT_EQ(B({'x', 0, 'y'}), readBytes(f));

    // Nothing to append: true, file as it was.
    fmt = -1;
    EXPECT_TRUE(UEFSaveTextFile(f, "", true, fmt, 1));
    EXPECT_EQ(B({'x', 0, 'y'}), readBytes(f));
}

TEST(SaveTextFile, AppendingToMissingOrEmptyFileWritesAMark) {
    struct Case {
        bool exists;
        int32_t fmt;
        int32_t defFmt;
        int32_t expectedFmt;
    };
    const Case cases[] = {
        {false, -1, 2, 2}, {false, 1, 2, 1}, {true, -1, 1, 1}, {true, 4, 1, 4}, {false, -1, 0, 0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string f = dir.file("new.txt");
        std::error_code ec;
        fs::remove(f, ec);
        if (c.exists) writeBytes(f, "");
        int32_t fmt = c.fmt;
        EXPECT_TRUE(UEFSaveTextFile(f, "a", true, fmt, c.defFmt));
        EXPECT_EQ(c.expectedFmt, fmt);
        // The same text saved whole in that encoding, mark included.
        int32_t code = c.expectedFmt;
        const std::string tmp = dir.file("body.txt");
        ASSERT_TRUE(UEFSaveTextFile(tmp, "a", false, code, 0));
        EXPECT_EQ(readBytes(tmp), readBytes(f)) << c.fmt << "/" << c.defFmt;
    }
    // An invalid default creates nothing.
    const std::string f = dir.file("never.txt");
    int32_t fmt = -1;
    EXPECT_FALSE(UEFSaveTextFile(f, "a", true, fmt, 9));
    EXPECT_FALSE(fs::exists(f));
}

TEST(SaveTextFile, KeepsPermissionsAndSymlinks) {
    TempDir dir;
    const std::string real = dir.file("real.txt");
    writeBytes(real, "old");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string link = dir.file("link.txt");
    fs::create_symlink(real, link);

    int32_t fmt = 1;
    ASSERT_TRUE(UEFSaveTextFile(link, "new", false, fmt, 1));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ(B({0xEF, 0xBB, 0xBF}) + "new", readBytes(real));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
              fs::status(real).permissions() & fs::perms::all);
}

#if defined(__linux__)
// Runs `body` with writes limited to `limit` bytes per file, so a write fails
// part-way as on a full disk.
template <typename Body>
void WithFileSizeLimit(rlim_t limit, Body body) {
    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = old;
    tight.rlim_cur = limit;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &tight));
    body();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

TEST(SaveTextFile, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string f = dir.file("subs.srt");
    const std::string old = "old subtitle text";
    writeBytes(f, old);
    const std::string big(64 * 1024, 'x');

    WithFileSizeLimit(4096, [&] {
        int32_t fmt = 1;
        SaveFailure failure;
        EXPECT_FALSE(UEFSaveTextFile(f, big, false, fmt, 1, 0, &failure));
        EXPECT_EQ(SaveFailure::WriteFailed, failure.kind);

        fmt = 1;
        EXPECT_FALSE(UEFSaveTextFile(f, big, true, fmt, 1, 0, &failure));
        EXPECT_EQ(SaveFailure::WriteFailed, failure.kind);
    });
    EXPECT_EQ(old, readBytes(f));
    EXPECT_EQ(std::vector<std::string>{"subs.srt"}, Listing(dir.path()));
}
#endif

}  // namespace
}  // namespace lumeval
