// MicroDVD through the converter: a misnamed file read by its content (and
// said so), and --fps for reading and writing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_support.h"

namespace lumeval::clitest {
namespace {

const std::string kMicroDvd = "{1}{1}25.000\r\n{25}{50}Hello|world\r\n{75}{100}Bye\r\n";

TEST(MicroDvd, AMisnamedFileIsReadByItsContentAndSaidSo) {
    ScratchDir dir;
    WriteFile(dir / "m.srt", kMicroDvd);
    const RunResult events = dir.Run({"m.srt", "-o", "srt"});
    ASSERT_EQ(0, events.exitCode) << events.err;
    EXPECT_EQ("m.srt: read as MicroDVD by its content\n", events.err);
    EXPECT_EQ("1000\t2000\tHello\\Nworld\n3000\t4000\tBye\n", events.out);

    EXPECT_EQ("", dir.Run({"m.srt", "-o", "srt", "--quiet"}).err);

    const RunResult batch = dir.Run({"m.srt", "--to", "vtt", "-d", "out"});
    ASSERT_EQ(0, batch.exitCode) << batch.err;
    EXPECT_EQ("m.srt: read as MicroDVD by its content\nm.srt -> out/m.vtt: 2 cues\n", batch.err);

    // A rightly named file says nothing of the kind; text that shows no
    // format fails as before.
    WriteFile(dir / "m.sub", kMicroDvd);
    EXPECT_EQ("", dir.Run({"m.sub", "-o", "srt"}).err);
    WriteFile(dir / "notes.srt", "just\nsome notes\n");
    const RunResult plain = dir.Run({"notes.srt", "-o", "srt"});
    EXPECT_EQ(1, plain.exitCode);
    EXPECT_EQ("lumeval-convert: notes.srt: no timed lines\n", plain.err);
}

TEST(MicroDvd, FpsSetsTheRateOfSourcesAndOutput) {
    ScratchDir dir;
    WriteFile(dir / "m.sub", kMicroDvd);
    // The option wins over the file's own rate line.
    const RunResult fast = dir.Run({"m.sub", "-o", "srt", "--fps", "50"});
    ASSERT_EQ(0, fast.exitCode) << fast.err;
    EXPECT_EQ("500\t1000\tHello\\Nworld\n1500\t2000\tBye\n", fast.out);

    ASSERT_EQ(0, dir.Run({"m.sub", "-o", "out.sub", "--fps", "25"}).exitCode);
    EXPECT_EQ("\xEF\xBB\xBF{1}{1}25.000\r\n{25}{50}Hello|world\r\n{75}{100}Bye",
              ReadFile(dir / "out.sub"));
    // Without --fps a written file carries the common rate.
    ASSERT_EQ(0, dir.Run({"m.sub", "-o", "default.sub"}).exitCode);
    EXPECT_EQ("\xEF\xBB\xBF{1}{1}23.976\r\n{24}{48}Hello|world\r\n{72}{96}Bye",
              ReadFile(dir / "default.sub"));

    const std::string help = dir.Run({"--help"}).out;
    EXPECT_TRUE(Contains(help, "--fps")) << help;
    EXPECT_TRUE(Contains(help, "wins over")) << help;
}

TEST(MicroDvd, FpsValuesThatAreNoRateAreUsageErrors) {
    ScratchDir dir;
    WriteFile(dir / "m.sub", kMicroDvd);
    for (const char* bad : {"0", "-25", "abc", "1e2", "1001", "nan", "", "25:", ":25", "0:25", "25:0", "25:1001"}) {
        const RunResult r = dir.Run({"m.sub", "-o", "srt", "--fps", bad});
        EXPECT_EQ(2, r.exitCode) << bad;
        EXPECT_EQ("", r.out) << bad;
    }
    EXPECT_EQ(0, dir.Run({"m.sub", "-o", "srt", "--fps", "29.97"}).exitCode);
}

}  // namespace
}  // namespace lumeval::clitest
