// Telling a format by its content: each signature, the near misses that must
// not pass for one, and where the look stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/sniff.h"

namespace lumeval {
namespace {

using F = SniffedFormat;

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(Sniff, SignaturesAndNearMisses) {
    struct Case {
        const char* name;
        std::string text;
        F expected;
    };
    const std::vector<Case> cases = {
        {"SubRip", "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n", F::SubRip},
        {"SubRip, one hour digit, no space before the arrow", "0:00:01,000-->0:00:02,000\nHi\n",
         F::SubRip},
        {"SubRip with dots is not told as SubRip", "1\n00:00:01.000 --> 00:00:02.000\nHi\n",
         F::None},
        {"SubRip time without an arrow", "00:00:01,000 00:00:02,000\nHi\n", F::None},
        {"SSA script", "[Script Info]\nTitle: x\nScriptType: v4.00+\n", F::Ssa},
        {"events only", "\n[Events]\nFormat: Layer, Start, End, Text\n", F::Ssa},
        {"a bare Dialogue line", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi\n", F::Ssa},
        {"WebVTT", "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nHi\n", F::WebVtt},
        {"WebVTT with a title", "WEBVTT - Title\n\n", F::WebVtt},
        {"WEBVTT not on the first line", "\nWEBVTT\n", F::None},
        {"WEBVTTX is no header", "WEBVTTX\n", F::None},
        {"SAMI", "<SAMI>\n<BODY>\n<SYNC Start=1000><P>Hi\n", F::Sami},
        {"SAMI after an XML declaration", "<?xml version=\"1.0\"?><sami>\n", F::Sami},
        {"a bare sync line", "  <sync start=1000>hi\n", F::Sami},
        {"LRC after metadata", "[ar:Someone]\n[ti:Song]\n[00:12.34]Line\n", F::Lrc},
        {"LRC metadata only", "[ar:Someone]\n[ti:Song]\n", F::None},
        {"MicroDVD", "{1}{1}25.000\n{25}{50}Hi\n", F::MicroDvd},
        {"MicroDVD without an end frame", "{100}{}Hi\n", F::MicroDvd},
        {"negative frames are no MicroDVD", "{-1}{10}Hi\n", F::None},
        {"a style code alone is no MicroDVD", "{y:i}Hi\n", F::None},
        {"SubViewer header", "[INFORMATION]\n[TITLE]x\n", F::SubViewer},
        {"SubViewer time line", "00:00:01.00,00:00:02.50\nHi\n", F::SubViewer},
        {"SubViewer time with milliseconds is no SubViewer", "00:00:01.000,00:00:02.500\nHi\n",
         F::None},
        {"plain text", "Hello\nworld\n", F::None},
        {"empty", "", F::None},
        {"UTF-8 mark before the header", "\xEF\xBB\xBFWEBVTT\n", F::WebVtt},
        {"UTF-8 mark before MicroDVD", "\xEF\xBB\xBF{1}{2}Hi\n", F::MicroDvd},
        {"classic Mac line ends", "Title\r{10}{20}Hi\r", F::MicroDvd},
        {"the first signature decides", "{1}{2}a\n00:00:01,000 --> 00:00:02,000\n", F::MicroDvd},
        {"a signature past the first 8 KiB is not looked for",
         std::string(9000, 'x') + "\n{1}{2}Hi\n", F::None},
        {"nor one after two hundred lines", repeat("a\n", 250) + "{1}{2}Hi\n", F::None},
        {"blank lines are not counted", repeat("\n", 300) + "{1}{2}Hi\n", F::MicroDvd},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(SniffFormat(c.text))) << c.name;
    }
}

TEST(Sniff, EveryFormatHasAReaderRow) {
    for (const F f : {F::SubRip, F::Ssa, F::WebVtt, F::Sami, F::Lrc, F::MicroDvd, F::SubViewer}) {
        const FormatKey* row = RowOfKey(SniffedKey(f));
        ASSERT_NE(nullptr, row) << SniffedName(f);
        EXPECT_NE(nullptr, row->reader) << SniffedName(f);
        EXPECT_FALSE(SniffedName(f).empty());
    }
    EXPECT_TRUE(SniffedKey(F::None).empty());
}

}  // namespace
}  // namespace lumeval
