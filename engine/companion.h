// Finding the subtitle file that belongs to a media file.
#pragma once

#include <string>

namespace lumeval {

/// Path of the first companion subtitle of the media file `path`, or an
/// empty text when there is none.
///
/// `bAPIMode` true: the media file's folder is searched for names that begin
/// with its base name (ASCII case ignored, names in sorted order); the first
/// whose extension appears in the list of subtitle extensions wins. The
/// extension test is a substring test against "*.ssa; *.srt; ...", so an
/// extension such as "s" matches too.
///
/// `bAPIMode` false: fixed suffixes (".srt", ".chs.srt", ..., then every
/// subtitle extension) replace the media file's extension; the first name
/// that exists wins.
std::string CheckSubtitle(const std::string& path, bool bAPIMode);

}  // namespace lumeval
