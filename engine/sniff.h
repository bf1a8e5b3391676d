// Telling a subtitle format by its content, for files whose extension names
// another format (a MicroDVD file named .srt is common in real collections).
#pragma once

#include <string_view>

namespace lumeval {

/// The formats a text can be told as.
enum class SniffedFormat {
    None,
    SubRip,
    Ssa,  ///< SSA or ASS: one reader
    WebVtt,
    Sami,
    Lrc,
    MicroDvd,
    SubViewer,  ///< SubViewer 2
};

/// The format of a decoded text, from cheap and strict signatures in its
/// first lines (the first few KiB): a SubRip time line, "[Script Info]" or
/// "Dialogue:", "WEBVTT" as the first line, "<SAMI" or "<SYNC", LRC time
/// tags at line starts, MicroDVD "{n}{n}" at line starts, SubViewer's
/// "[INFORMATION]" or its time lines. The first line that bears a
/// signature decides. None when no line does.
SniffedFormat SniffFormat(std::string_view text);

/// The format key whose reader reads `format` ("srt", "ass", "vtt", "smi",
/// "lrc", "sub"); empty for None.
std::string_view SniffedKey(SniffedFormat format);

/// The name to tell a person ("MicroDVD", "SubViewer 2", ...); empty for None.
std::string_view SniffedName(SniffedFormat format);

/// "{digits}{digits}" or "{digits}{}" at the start of a line: a MicroDVD line.
bool IsMicroDvdLine(std::string_view line);

/// "hh:mm:ss.cc,hh:mm:ss.cc" (hours one or two digits) and nothing but
/// spaces after it: a SubViewer 2 time line.
bool IsSubViewerTimeLine(std::string_view line);

/// "[INFORMATION]" (any case, spaces around it allowed): SubViewer's header.
bool IsSubViewerHeader(std::string_view line);

}  // namespace lumeval
