// Delimiter, markup, path, file and array helpers.
//
// The searches here run on whole subtitle lines that may be megabytes long and
// on tags that come from the caller, so every search is linear in the text:
// short needles use the library search, long ones a KMP matcher.

#include "engine/textutil.h"

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace lumeval {

namespace {

constexpr auto npos = std::string_view::npos;

// Successive occurrences of a needle in a text, left to right. Overlapping
// occurrences are reported when asked for (each search then resumes one byte
// after the previous hit), otherwise the search resumes after the hit.
class Matcher {
public:
    Matcher(std::string_view hay, std::string_view needle, bool overlapping)
        : hay_(hay), needle_(needle), overlapping_(overlapping) {
        if (needle_.size() > kShortNeedle) {
            fail_.resize(needle_.size());
            fail_[0] = 0;
            std::size_t k = 0;
            for (std::size_t i = 1; i < needle_.size(); ++i) {
                while (k > 0 && needle_[i] != needle_[k]) k = fail_[k - 1];
                if (needle_[i] == needle_[k]) ++k;
                fail_[i] = k;
            }
        }
    }

    // Restarts at byte `pos` with no partial match.
    void Seek(std::size_t pos) {
        pos_ = pos;
        state_ = 0;
    }

    // Start of the next occurrence, or npos. An empty needle never occurs.
    std::size_t Next() {
        if (needle_.empty() || pos_ >= hay_.size()) return npos;
        if (fail_.empty()) {
            const std::size_t at = hay_.find(needle_, pos_);
            if (at == npos) {
                pos_ = hay_.size();
                return npos;
            }
            pos_ = at + (overlapping_ ? 1 : needle_.size());
            return at;
        }
        const std::size_t m = needle_.size();
        while (pos_ < hay_.size()) {
            if (state_ == 0) {
                const void* hit = std::memchr(hay_.data() + pos_, needle_[0], hay_.size() - pos_);
                if (hit == nullptr) break;
                pos_ = static_cast<std::size_t>(static_cast<const char*>(hit) - hay_.data());
            }
            const char c = hay_[pos_++];
            while (state_ > 0 && c != needle_[state_]) state_ = fail_[state_ - 1];
            if (c == needle_[state_]) ++state_;
            if (state_ == m) {
                state_ = overlapping_ ? fail_[m - 1] : 0;
                return pos_ - m;
            }
        }
        pos_ = hay_.size();
        return npos;
    }

private:
    // Up to this length the library search costs at most a few compares per
    // byte even on hostile input.
    static constexpr std::size_t kShortNeedle = 16;

    std::string_view hay_;
    std::string_view needle_;
    bool overlapping_;
    std::vector<std::size_t> fail_;
    std::size_t pos_ = 0;
    std::size_t state_ = 0;
};

std::size_t FindFrom(std::string_view hay, std::string_view needle, std::size_t from) {
    if (from > hay.size()) return npos;
    Matcher m(hay, needle, false);
    m.Seek(from);
    return m.Next();
}

// Byte position of the `count`-th hit when each search starts one character
// after the previous hit and a failed search restarts from the beginning.
// Hits then cycle through all k (overlapping) occurrences, so a count beyond k
// is the same as ((count - 1) mod k) + 1 and no count makes this loop long.
std::size_t NthOccurrence(std::string_view hay, std::string_view tag, int32_t count) {
    if (tag.empty() || count < 1) return npos;
    Matcher m(hay, tag, true);
    std::size_t hit = m.Next();
    if (hit == npos) return npos;
    int64_t seen = 1;
    while (seen < count) {
        const std::size_t next = m.Next();
        if (next == npos) break;
        hit = next;
        ++seen;
    }
    if (seen == count) return hit;
    const int64_t target = (count - 1) % seen + 1;
    m.Seek(0);
    for (int64_t i = 0; i < target; ++i) hit = m.Next();
    return hit;
}

// One markup kind: while the opening delimiter occurs before the first closing
// one (`anyOrder`: both merely occur), remove every copy of the first
// delimited span, at most 100 passes. Each pass removes at least the span it
// found, so the text shrinks every time; each pass is linear.
void KillPasses(std::string& s, std::string_view open, std::string_view close, bool anyOrder) {
    if (open.empty() || close.empty()) return;
    std::string next;
    for (int pass = 0; pass < 100; ++pass) {
        const std::size_t a = FindFrom(s, open, 0);
        if (a == npos) return;
        const std::size_t firstClose = FindFrom(s, close, 0);
        if (firstClose == npos) return;
        if (!anyOrder && a >= firstClose) return;
        // The span ends at the first closing delimiter after the opening one;
        // when there is none (possible for entities, "x;y&z") nothing is left
        // that this kind could remove.
        const std::size_t b = FindFrom(s, close, a + open.size());
        if (b == npos) return;
        const std::string_view span = std::string_view(s).substr(a, b + close.size() - a);
        next = ReplaceAll(s, span, {});
        s.swap(next);
    }
}

bool IsFolderSeparator(char c) { return c == '/' || c == '\\'; }

std::size_t LastFolderSeparator(std::string_view s) { return s.find_last_of("/\\"); }

}  // namespace

// ---- delimiter operations ----

std::string FindText(std::string_view InString, std::string_view FindTAG, int32_t findcount) {
    const std::size_t p = NthOccurrence(InString, FindTAG, findcount);
    if (p == npos) return {};
    return std::string(InString.substr(p + FindTAG.size()));
}

std::string FindTextBetween(std::string_view InString, std::string_view FindTAG1,
                            std::string_view FindTAG2, int32_t findcount1, int32_t findcount2) {
    if (findcount2 < 1 || FindTAG2.empty()) return {};
    const std::size_t p = NthOccurrence(InString, FindTAG1, findcount1);
    if (p == npos) return {};
    // The end tag is looked for after the whole start tag, so the two never
    // overlap and the result is what lies strictly between them.
    const std::size_t from = p + FindTAG1.size();
    const std::size_t q = FindFrom(InString, FindTAG2, from);
    if (q == npos) return {};
    return std::string(InString.substr(from, q - from));
}

std::string FindTextRev(std::string_view InString, std::string_view FindTAG, int32_t) {
    if (FindTAG.empty()) return std::string(InString);
    const std::size_t p = InString.rfind(FindTAG);
    if (p == npos) return std::string(InString);
    return std::string(InString.substr(p + FindTAG.size()));
}

// ---- markup removal ----

std::string KillTag(std::string_view InString, bool bFull) {
    std::string s(InString);
    KillPasses(s, "<", ">", false);
    KillPasses(s, "{", "}", false);
    if (bFull) KillPasses(s, "(", ")", false);
    KillPasses(s, "&", ";", true);
    return s;
}

std::string KillTagFor(std::string_view InString, std::string_view strTag1,
                       std::string_view strTag2) {
    std::string s(InString);
    KillPasses(s, strTag1, strTag2, false);
    return s;
}

// ---- paths and files ----

std::string GetFileString(std::string_view strPath, std::string_view strDelim, int32_t StrStyle) {
    if (!strPath.empty() && strPath.back() == ':') {
        return std::string(strPath.substr(0, strPath.size() - 1));
    }
    if (StrStyle < 0 || StrStyle > 2) return {};
    // Either folder separator stands for the other.
    std::size_t p = npos;
    if (strDelim.size() == 1 && IsFolderSeparator(strDelim[0])) {
        p = LastFolderSeparator(strPath);
    } else if (!strDelim.empty()) {
        p = strPath.rfind(strDelim);
    }
    if (p == npos) return std::string(strPath);
    if (StrStyle == 1) return std::string(strPath.substr(p + strDelim.size()));
    if (StrStyle == 0 && strDelim == ".") {
        // The bare file name: after the last folder separator (the last "/"
        // of a web address), before the last "." - unless that "." belongs
        // to a folder name, in which case the file name has no extension.
        const bool web = strPath.starts_with("http://");
        const std::size_t sep = web ? strPath.rfind('/') : LastFolderSeparator(strPath);
        const std::size_t start = sep == npos ? 0 : sep + 1;
        if (p < start) return std::string(strPath.substr(start));
        return std::string(strPath.substr(start, p - start));
    }
    return std::string(strPath.substr(0, p));
}

bool FileExists(const std::string& strFileName, bool) {
    if (strFileName.empty()) return false;
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(strFileName), ec);
}

bool DirExists(const std::string& DirectoryName) {
    if (DirectoryName.empty()) return false;
    std::error_code ec;
    return std::filesystem::is_directory(std::filesystem::path(DirectoryName), ec);
}

bool PathExistsFSO(const std::string& Path) {
    if (Path.empty()) return false;
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(Path), ec);
}

bool MakedPath(const std::string& Path, std::error_code* why) {
    if (TrimSpaces(Path).empty()) return false;
    // Split at both separators; create_directories builds every missing prefix.
    std::string native = ReplaceAll(Path, "\\", "/");
    std::error_code ec;
    const std::filesystem::path p(native);
    std::filesystem::create_directories(p, ec);
    if (!ec && std::filesystem::is_directory(p, ec)) return true;
    if (why) *why = ec;
    return false;
}

std::string RenameExists(const std::string& inFile, bool bOverwrite) {
    if (bOverwrite || !FileExists(inFile)) return inFile;
    // Base and extension split at the last "." of the file name itself: a dot
    // in a folder name or a leading dot (".profile") starts no extension.
    const std::string_view name(inFile);
    const std::size_t sep = LastFolderSeparator(name);
    const std::size_t nameStart = sep == npos ? 0 : sep + 1;
    std::size_t dot = name.rfind('.');
    if (dot == npos || dot <= nameStart) dot = name.size();
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext = name.substr(dot);  // "" or ".ext"
    std::string candidate;
    for (int n = 1; n <= 99999; ++n) {
        candidate.assign(base);
        candidate += '(';
        candidate += std::to_string(n);
        candidate += ')';
        candidate += ext;
        if (!FileExists(candidate)) return candidate;
    }
    // Every name is taken. Handing back the original would let a caller
    // delete and overwrite a file it was told to keep, so give no name.
    return {};
}

std::string cPath(std::string_view Path) {
    if (TrimSpaces(Path).empty()) return {};
    std::string out(Path);
    if (!IsFolderSeparator(out.back())) out += '/';
    return out;
}

std::string StripNulls(std::string& OriginalStr) {
    const std::size_t nul = OriginalStr.find('\0');
    if (nul != std::string::npos) OriginalStr.resize(nul);
    return OriginalStr;
}

// ---- arrays ----

void AppendStringArray(std::vector<std::string>& strArray1,
                       const std::vector<std::string>& strArray2) {
    if (&strArray1 == &strArray2) {
        // Appending an array to itself: copy first, the insert would reallocate.
        const std::vector<std::string> copy(strArray2);
        strArray1.insert(strArray1.end(), copy.begin(), copy.end());
        return;
    }
    strArray1.insert(strArray1.end(), strArray2.begin(), strArray2.end());
}

std::string JoinEx(const std::vector<std::string>& arr, std::string_view Delimeter,
                   std::optional<int64_t> Index, std::optional<int64_t> Count, JoinError* err) {
    auto fail = [err](int32_t number, const char* text) {
        if (err != nullptr) {
            err->Number = number;
            err->Description = text;
        }
        return std::string();
    };
    if (err != nullptr) *err = JoinError{};
    if (arr.empty()) return {};
    const int64_t size = static_cast<int64_t>(arr.size());
    // Index first: a Count is only meaningful relative to a valid start.
    const int64_t index = Index.value_or(0);
    if (index < 0 || index >= size) return fail(9, "Subscript out of range");
    const int64_t count = Count.value_or(size - index);
    if (count < 0) return fail(5, "Count cannot be less than zero.");
    if (count > size - index) return fail(5, "Index plus Count extend passed the end of the array.");
    if (count == 0) return {};
    const auto first = static_cast<std::size_t>(index);
    const auto last = static_cast<std::size_t>(index + count);  // one past
    std::size_t total = Delimeter.size() * static_cast<std::size_t>(count - 1);
    for (std::size_t i = first; i < last; ++i) total += arr[i].size();
    std::string out;
    out.reserve(total);
    for (std::size_t i = first; i < last; ++i) {
        if (i != first) out += Delimeter;
        out += arr[i];
    }
    return out;
}

// ---- small string helpers ----

std::string_view TrimSpaces(std::string_view s) {
    const std::size_t b = s.find_first_not_of(' ');
    if (b == npos) return {};
    const std::size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(s);
    Matcher m(s, from, false);
    std::size_t at = m.Next();
    if (at == npos) return std::string(s);
    std::string out;
    out.reserve(s.size());
    std::size_t done = 0;
    for (; at != npos; at = m.Next()) {
        out.append(s, done, at - done);
        out += to;
        done = at + from.size();
    }
    out.append(s, done, npos);
    return out;
}

}  // namespace lumeval
