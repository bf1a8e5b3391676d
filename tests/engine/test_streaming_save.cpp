// Saves written a piece at a time must give exactly the bytes of a save in
// one go, and fail as safely: the old file untouched, no temporary left.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/encoding/textfile.h"
#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

std::vector<std::string> StreamedCues(int cues, const std::string& lastText = "the end") {
    std::vector<std::string> t{"0"};
    for (int i = 1; i <= cues; ++i) {
        const std::string text = i == cues ? lastText : (i % 2 ? "你好，世界 " : "line\\Nbreak ") + std::to_string(i);
        t.push_back(MSecsToTime(i * 1000.0, 0) + "->" + MSecsToTime(i * 1000.0 + 800, 0) + "|" + text);
    }
    return t;
}

std::size_t FilesIn(const std::filesystem::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

TEST(StreamingSave, SameBytesAsOneGoForEveryEncodingAndWriter) {
    TempDir dir;
    for (const char* key : {"srt", "ass", "lrc", "stl", "stxt"}) {
        for (int32_t enc = 0; enc <= 5; ++enc) {
            std::vector<std::string> entries = StreamedCues(300);
            SaveSettings s;
            s.s_SubtitleEncodeFormat = enc;
            clsSubtitle whole;
            const std::string a = dir.file(std::string("whole.") + key);
            ASSERT_TRUE(whole.SaveArrayToSubtitle(entries, a, s)) << key << " " << enc;
            clsSubtitle pieces;
            pieces.OutputPieceBytes = 100;  // dozens of pieces
            const std::string b = dir.file(std::string("pieces.") + key);
            ASSERT_TRUE(pieces.SaveArrayToSubtitle(entries, b, s)) << key << " " << enc;
            EXPECT_EQ(readBytes(a), readBytes(b)) << key << " " << enc;
        }
    }
}

TEST(StreamingSave, FailuresLeaveTheOldFileAndNoTemporary) {
    TempDir dir;
    const std::string path = dir.file("out.srt");
    writeBytes(path, "old contents");

    // A character GBK cannot hold, in the last cue, after many pieces went out.
    std::vector<std::string> entries = StreamedCues(300, "snow \xE2\x98\x83 man");
    SaveSettings s;
    s.s_SubtitleEncodeFormat = kEncodingAnsi;
    clsSubtitle one;
    EXPECT_FALSE(one.SaveArrayToSubtitle(entries, path, s));
    clsSubtitle streamed;
    streamed.OutputPieceBytes = 100;
    EXPECT_FALSE(streamed.SaveArrayToSubtitle(entries, path, s));
    EXPECT_EQ(RunFailure::Unmappable, streamed.LastFailure().kind);
    EXPECT_EQ(one.LastFailure().line, streamed.LastFailure().line);
    EXPECT_GT(streamed.LastFailure().line, 1000u);
    EXPECT_EQ("old contents", readBytes(path));

    // Cancelled half-way: the pieces already written go with the temporary.
    std::vector<std::string> good = StreamedCues(300);
    SaveSettings u;
    u.s_SubtitleEncodeFormat = kEncodingUtf8;
    u.s_RaiseEventInterval = 1;
    clsSubtitle cancelled;
    cancelled.OutputPieceBytes = 100;
    cancelled.ProgressChange = [](int32_t value, int32_t, int32_t status, const std::string&, bool& cancel) {
        if (status == 2 && value == 200) cancel = true;
    };
    EXPECT_FALSE(cancelled.SaveArrayToSubtitle(good, path, u));
    EXPECT_EQ(RunFailure::Cancelled, cancelled.LastFailure().kind);
    EXPECT_EQ("old contents", readBytes(path));

    // An encoding code outside 0 to 5 writes nothing at all.
    SaveSettings bad;
    bad.s_SubtitleEncodeFormat = 9;
    clsSubtitle invalid;
    invalid.OutputPieceBytes = 100;
    EXPECT_FALSE(invalid.SaveArrayToSubtitle(good, path, bad));
    EXPECT_EQ("old contents", readBytes(path));
    EXPECT_EQ(1u, FilesIn(dir.path()));
}

}  // namespace
}  // namespace lumeval
