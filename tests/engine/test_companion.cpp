// Finding a media file's companion subtitle, by folder search and by suffixes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/companion.h"
#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::TempDir;

void touch(const TempDir& dir, const std::vector<std::string>& names) {
    for (const auto& name : names) test::writeBytes(dir.file(name), "x");
}

TEST(CheckSubtitle, FolderSearch) {
    struct Case {
        const char* name;
        std::vector<std::string> files;  // besides film.mp4
        const char* expected;            // file name, or "" for none
    };
    const Case cases[] = {
        {"picture skipped by its extension", {"film.chs.srt", "film.jpg"}, "film.chs.srt"},
        {"the video itself is no companion", {}, ""},
        {"names are taken in sorted order", {"film.srt", "film.ass", "film.zh.lrc"}, "film.ass"},
        {"an extension that is part of the list matches", {"film.s"}, "film.s"},
        {"the base name followed by anything", {"filmography.srt"}, "filmography.srt"},
        {"other names do not", {"movie.srt", "afilm.srt"}, ""},
        {"case of the name ignored", {"FILM.SRT"}, "FILM.SRT"},
        {"extension compared in lower case", {"film.Sami"}, "film.Sami"},
        {"no extension", {"film"}, ""},
        {"WebVTT, from the format table", {"film.vtt"}, "film.vtt"},
        {"txt is write only: no companion", {"film.txt"}, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        touch(dir, {"film.mp4"});
        touch(dir, c.files);
        const std::string expected = *c.expected ? dir.file(c.expected) : "";
        EXPECT_EQ(expected, CheckSubtitle(dir.file("film.mp4"), true)) << c.name;
    }
}

TEST(CheckSubtitle, PictureSubtitlesAreNoCompanions) {
    // A VobSub pair: the .sub holds MPEG pictures (a pack header first), the
    // .idx their index. A MicroDVD .sub is text and is taken.
    const std::string vobSub("\x00\x00\x01\xBA\x44\x00\x04\x00", 8);
    for (const bool folderSearch : {true, false}) {
        TempDir dir;
        touch(dir, {"film.mp4", "film.idx"});
        test::writeBytes(dir.file("film.sub"), vobSub);
        EXPECT_EQ("", CheckSubtitle(dir.file("film.mp4"), folderSearch)) << folderSearch;
        touch(dir, {"film.vtt"});
        EXPECT_EQ(dir.file("film.vtt"), CheckSubtitle(dir.file("film.mp4"), folderSearch)) << folderSearch;

        TempDir text;
        touch(text, {"film.mp4"});
        test::writeBytes(text.file("film.sub"), "{1}{1}25.000\n{25}{50}Hello\n");
        EXPECT_EQ(text.file("film.sub"), CheckSubtitle(text.file("film.mp4"), folderSearch)) << folderSearch;
    }
}

TEST(CheckSubtitle, FolderSearchSkipsFoldersAndMissingPlaces) {
    TempDir dir;
    touch(dir, {"film.mp4"});
    std::filesystem::create_directory(dir.path() / "film.ass");
    EXPECT_EQ("", CheckSubtitle(dir.file("film.mp4"), true));
    touch(dir, {"film.srt"});
    EXPECT_EQ(dir.file("film.srt"), CheckSubtitle(dir.file("film.mp4"), true));
    // A folder that does not exist, and an empty path.
    EXPECT_EQ("", CheckSubtitle(dir.file("nowhere/film.mp4"), true));
    EXPECT_EQ("", CheckSubtitle("", true));
    EXPECT_EQ("", CheckSubtitle("", false));
}

TEST(CheckSubtitle, Suffixes) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        const char* expected;
    };
    const Case cases[] = {
        {"plain name first", {"film.srt", "film.chs.srt"}, "film.srt"},
        {"traditional before English", {"film.eng.srt", "film.cht.srt"}, "film.cht.srt"},
        {"bilingual before Chinese only", {"film.chs.ass", "film.chs&eng.ass"}, "film.chs&eng.ass"},
        {"other formats after the preferred names", {"film.lrc", "film.gb.ssa"}, "film.gb.ssa"},
        {"any readable extension", {"film.stxt"}, "film.stxt"},
        {"WebVTT, from the format table", {"film.vtt"}, "film.vtt"},
        {"txt is write only: no companion", {"film.txt"}, ""},
        {"nothing found", {"film.jpg", "filmography.srt"}, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        touch(dir, {"film.mp4"});
        touch(dir, c.files);
        const std::string expected = *c.expected ? dir.file(c.expected) : "";
        EXPECT_EQ(expected, CheckSubtitle(dir.file("film.mp4"), false)) << c.name;
    }
}

TEST(CheckSubtitle, SuffixesKeepDottedFolders) {
    // "my.dir/film": the dot belongs to the folder, so the candidates are
    // "my.dir/film.srt" and so on, never "my.srt".
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "my.dir");
    touch(dir, {"my.srt"});
    EXPECT_EQ("", CheckSubtitle(dir.file("my.dir/film"), false));
    touch(dir, {"my.dir/film.ssa"});
    EXPECT_EQ(dir.file("my.dir/film.ssa"), CheckSubtitle(dir.file("my.dir/film"), false));
    EXPECT_EQ(dir.file("my.dir/film.ssa"), CheckSubtitle(dir.file("my.dir/film"), true));
}

TEST(CheckSubtitle, EngineMember) {
    TempDir dir;
    touch(dir, {"clip.mkv", "clip.chs.srt"});
    EXPECT_EQ(dir.file("clip.chs.srt"), clsSubtitle::CheckSubtitle(dir.file("clip.mkv"), true));
    EXPECT_EQ(dir.file("clip.chs.srt"), clsSubtitle::CheckSubtitle(dir.file("clip.mkv"), false));
}

}  // namespace
}  // namespace lumeval
