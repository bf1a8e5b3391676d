#include "engine/companion.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/subtitle.h"
#include "engine/formats.h"
#include "engine/textutil.h"

namespace lumeval {
namespace {

// Every extension the format table has a reader for, in the form of a file
// dialog's filter ("*.srt; *.utf; ..."), in table order. The directory search
// tests "*." + extension as a substring of this text.
const std::string& extensionList() {
    static const std::string list = [] {
        std::string text;
        for (const FormatKey& row : kFormatKeys) {
            if (row.reader == nullptr) continue;  // txt: nothing to read a time from
            if (!text.empty()) text += "; ";
            text += "*.";
            text += row.key;
        }
        return text;
    }();
    return list;
}

// Names that subtitle releases put after the video's base name, most wanted
// first; the plain extensions of every readable format follow them.
constexpr std::string_view kPreferredSuffixes =
    ".srt|.ssa|.ass"
    "|.chs&eng.srt|.chs&eng.ssa|.chs&eng.ass"
    "|.chn&eng.srt|.chn&eng.ssa|.chn&eng.ass"
    "|.chs.srt|.chs.ssa|.chs.ass"
    "|.chn.srt|.chn.ssa|.chn.ass"
    "|.cn.srt|.cn.ssa|.cn.ass"
    "|.gb.srt|.gb.ssa|.gb.ass"
    "|.cht.srt|.cht.ssa|.cht.ass"
    "|.eng.srt|.eng.ssa|.eng.ass";

std::size_t lastFolderSeparator(std::string_view path) { return path.find_last_of("/\\"); }

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// File names compare as the Windows file systems list them: ordinal, with
// ASCII letters upper-cased.
bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(upperAscii(x)) < static_cast<unsigned char>(upperAscii(y));
    });
}

bool startsWithIgnoringCase(std::string_view name, std::string_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upperAscii(name[i]) != upperAscii(prefix[i])) return false;
    }
    return true;
}

bool isRegularFileLike(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::exists(p, ec) && !std::filesystem::is_directory(p, ec);
}

// A VobSub ".sub" beside its ".idx" holds pictures in an MPEG program
// stream, not text: it starts with a pack header. Offering it would only
// end in "no timed lines" where a text subtitle may come next.
bool isPictureSubtitle(const std::string& path) {
    if (LowerAscii(GetFileString(path, ".", 1)) != "sub") return false;
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    char head[4] = {};
    in.read(head, sizeof head);
    return in.gcount() == 4 && head[0] == 0 && head[1] == 0 && head[2] == 1 &&
           static_cast<unsigned char>(head[3]) == 0xBA;
}

std::vector<std::string> suffixList() {
    std::string all(kPreferredSuffixes);
    all += '|';
    for (const char c : extensionList()) {
        if (c == ';') {
            all += '|';
        } else if (c != ' ' && c != '*') {
            all += c;
        }
    }
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const auto bar = all.find('|', from);
        out.push_back(all.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
        if (bar == std::string::npos) break;
        from = bar + 1;
    }
    return out;
}

std::string searchFolder(const std::string& path) {
    const std::size_t sep = lastFolderSeparator(path);
    // A bare file name lives in the current folder.
    const std::string folder = sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
    const std::string base = GetFileString(path, ".", 0);

    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? std::filesystem::path(".")
                                                          : std::filesystem::path(folder),
                                           ec);
    if (ec) return {};
    std::vector<std::string> names;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::string name = it->path().filename().string();
        StripNulls(name);
        if (startsWithIgnoringCase(name, base)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), lessIgnoringCase);

    for (const std::string& name : names) {
        if (name == "." || name == "..") continue;
        std::string candidate = folder + name;
        if (candidate == path) continue;
        // A folder named like a subtitle is no subtitle.
        std::error_code dirEc;
        if (std::filesystem::is_directory(std::filesystem::path(candidate), dirEc)) continue;
        std::string pattern = "*.";
        pattern += LowerAscii(GetFileString(candidate, ".", 1));
        if (extensionList().find(pattern) != std::string::npos && !isPictureSubtitle(candidate)) {
            return candidate;
        }
    }
    return {};
}

std::string searchSuffixes(const std::string& path) {
    // The base is the path without its extension; a "." inside a folder name
    // is not an extension.
    const std::size_t dot = path.rfind('.');
    const std::size_t sep = lastFolderSeparator(path);
    const bool hasExtension = dot != std::string::npos && (sep == std::string::npos || dot > sep);
    const std::string base = hasExtension ? path.substr(0, dot) : path;
    for (const std::string& suffix : suffixList()) {
        std::string candidate = base + suffix;
        if (isRegularFileLike(std::filesystem::path(candidate)) && !isPictureSubtitle(candidate)) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

std::string CheckSubtitle(const std::string& path, bool bAPIMode) {
    if (path.empty()) return {};
    return bAPIMode ? searchFolder(path) : searchSuffixes(path);
}

std::string clsSubtitle::CheckSubtitle(const std::string& strFile, bool bAPIMode) {
    return lumeval::CheckSubtitle(strFile, bAPIMode);
}

}  // namespace lumeval
