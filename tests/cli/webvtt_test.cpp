// WebVTT through the converter: written in UTF-8 whatever was asked (and said
// so), and read back in every mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_support.h"

namespace lumeval::clitest {
namespace {

TEST(WebVtt, AlwaysUtf8AndTheConverterSaysSo) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const RunResult asked = dir.Run({"demo.srt", "-o", "a.vtt", "--encoding", "utf16le"});
    ASSERT_EQ(0, asked.exitCode) << asked.err;
    EXPECT_EQ(
        "lumeval-convert: note: vtt is always UTF-8; --encoding is ignored\n"
        "wrote a.vtt: 7 cues\n",
        asked.err);
    const std::string head = "\xEF\xBB\xBFWEBVTT\r\n\r\n00:00:01.000 --> 00:00:03.200\r\n";
    EXPECT_EQ(head, ReadFile(dir / "a.vtt").substr(0, head.size()));

    // The default (UTF-8) needs no note; --quiet silences it.
    EXPECT_EQ("wrote b.vtt: 7 cues\n", dir.Run({"demo.srt", "-o", "b.vtt"}).err);
    EXPECT_EQ("", dir.Run({"demo.srt", "-o", "c.vtt", "--encoding", "ansi", "--quiet"}).err);
    EXPECT_EQ(ReadFile(dir / "a.vtt"), ReadFile(dir / "b.vtt"));
    EXPECT_EQ(ReadFile(dir / "a.vtt"), ReadFile(dir / "c.vtt"));

    // Batch mode says it per file.
    const RunResult batch = dir.Run({"demo.srt", "--to", "vtt", "-d", "out", "--encoding", "2"});
    ASSERT_EQ(0, batch.exitCode) << batch.err;
    EXPECT_EQ(
        "demo.srt -> out/demo.vtt: 7 cues\n"
        "lumeval-convert: note: vtt is always UTF-8; --encoding is ignored\n",
        batch.err);

    // What was written reads back as the same events as the source.
    const RunResult source = dir.Run({"demo.srt", "-o", "srt"});
    const RunResult again = dir.Run({"a.vtt", "-o", "srt"});
    ASSERT_EQ(0, again.exitCode) << again.err;
    EXPECT_EQ(source.out, again.out);
}

}  // namespace
}  // namespace lumeval::clitest
