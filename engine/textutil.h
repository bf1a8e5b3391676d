// Text, path, file and array helpers shared by the readers, the conversion
// entry and the editor.
//
// Texts are UTF-8. Searches are case-sensitive and work on bytes, which is
// exact for the ASCII and whole-code-point delimiters used here. Folder
// separators: both "/" and "\" are accepted where a helper looks for the last
// folder separator; helpers that add one add the platform's "/".
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace lumeval {

// ---- delimiter operations ----

/// Text after the `findcount`-th occurrence of `FindTAG`; empty when the tag
/// does not occur. Each search starts one character after the previous hit and
/// restarts from the beginning when it finds nothing. Empty for a count below 1.
std::string FindText(std::string_view InString, std::string_view FindTAG, int32_t findcount);

/// Text strictly between the `findcount1`-th `FindTAG1` and the next `FindTAG2`
/// after it. Empty when either tag is missing or `findcount2` is below 1.
std::string FindTextBetween(std::string_view InString, std::string_view FindTAG1,
                            std::string_view FindTAG2, int32_t findcount1, int32_t findcount2);

/// Text after the last occurrence of `FindTAG` (the whole text when missing).
std::string FindTextRev(std::string_view InString, std::string_view FindTAG, int32_t findcount);

// ---- markup removal ----

/// Removes <...>, {...}, (...) when `bFull`, and &...; in that order, at most
/// 100 passes per kind.
std::string KillTag(std::string_view InString, bool bFull);

/// The same passes for one pair of delimiters.
std::string KillTagFor(std::string_view InString, std::string_view strTag1, std::string_view strTag2);

// ---- paths and files (UTF-8 paths) ----

/// Style 0: text before the last `strDelim` (for "." the bare file name);
/// style 1: text after it; style 2: text before it; other styles: empty.
std::string GetFileString(std::string_view strPath, std::string_view strDelim, int32_t StrStyle);
bool FileExists(const std::string& strFileName, bool useUnicode = true);
bool DirExists(const std::string& DirectoryName);
bool PathExistsFSO(const std::string& Path);
/// Creates every missing folder of `Path`; true when no error occurred.
/// `why`, when given, receives the system's reason for a failure.
bool MakedPath(const std::string& Path, std::error_code* why = nullptr);
/// The name itself, or base(n).ext for the first free n in 1..99999; empty when
/// all are taken (never an existing name the caller might overwrite).
std::string RenameExists(const std::string& inFile, bool bOverwrite);
/// Empty for a blank path; otherwise the path ending in a folder separator.
std::string cPath(std::string_view Path);
/// Cuts the text (and the argument) at the first U+0000.
std::string StripNulls(std::string& OriginalStr);

// ---- arrays ----

void AppendStringArray(std::vector<std::string>& strArray1, const std::vector<std::string>& strArray2);

/// Error of `JoinEx`, numbered as the classic runtime errors (9 subscript out
/// of range, 5 invalid argument); number 0 means no error.
struct JoinError {
    int32_t Number = 0;
    std::string Description;
};

/// Joins `Count` elements from `Index` with `Delimeter` without copying them.
/// Defaults: `Index` the first element, `Count` the rest. On error the result
/// is empty and `err` (when given) says why.
std::string JoinEx(const std::vector<std::string>& arr, std::string_view Delimeter,
                   std::optional<int64_t> Index = std::nullopt,
                   std::optional<int64_t> Count = std::nullopt, JoinError* err = nullptr);

/// Sorts ascending by operator< with exchanges of neighbours. Kept for callers
/// that want it; nothing in the engine relies on it.
template <typename T>
void cBubbleSort(std::vector<T>& inputArray) {
    for (std::size_t n = inputArray.size(); n > 1; --n) {
        bool swapped = false;
        for (std::size_t i = 1; i < n; ++i) {
            if (inputArray[i] < inputArray[i - 1]) {
                std::swap(inputArray[i], inputArray[i - 1]);
                swapped = true;
            }
        }
        if (!swapped) break;
    }
}

// ---- small string helpers used across the engine ----

/// Spaces removed at both ends (only U+0020, as the formats were written).
std::string_view TrimSpaces(std::string_view s);
/// ASCII lower case.
std::string LowerAscii(std::string_view s);
/// Replaces every occurrence of `from` by `to`.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

}  // namespace lumeval
