// Loading and saving whole text files with byte-order-mark detection.
//
// Encoding codes (the `fmt` of every call): -1 detect / default, 0 ANSI (the
// engine's code page), 1 UTF-8, 2 UTF-16 LE, 3 UTF-16 BE, 4 UTF-32 LE,
// 5 UTF-32 BE. Text in memory is always UTF-8.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <string_view>

namespace lumeval {

enum TextEncoding : int32_t {
    kEncodingDetect = -1,
    kEncodingAnsi = 0,
    kEncodingUtf8 = 1,
    kEncodingUtf16LE = 2,
    kEncodingUtf16BE = 3,
    kEncodingUtf32LE = 4,
    kEncodingUtf32BE = 5,
};

struct ByteOrderMark {
    int32_t code = 0;     ///< encoding code the mark declares (0: no mark)
    int32_t length = 0;   ///< bytes of the mark
};

/// The one home of the mark table. `first4` is the file's first bytes,
/// zero-filled when the file is shorter than four bytes.
ByteOrderMark DetectByteOrderMark(const unsigned char first4[4]);

/// The mark of an encoding code; invalid codes and 0 give an empty text.
std::string ByteOrderMarkFor(int32_t code);

/// Which rule decided the encoding of a loaded file.
enum class LoadReason {
    None,          ///< nothing loaded
    Explicit,      ///< the caller named the encoding
    ByteOrderMark, ///< a mark at the start of the file
    ValidUtf8,     ///< no mark, but valid UTF-8 with multi-byte sequences
    Utf16Pattern,  ///< no mark, but the zero bytes of UTF-16 text on one side
    DetectedCodePage, ///< no mark: decoded through the legacy page its content shows
    AnsiFallback,  ///< no mark: decoded through the ANSI code page (set, or the
                   ///< default when the content showed no page)
    OutOfMemory,   ///< nothing loaded: the text did not fit in memory
};

/// The legacy code page behind a load, for callers that tell the user.
struct LoadedCodePage {
    int32_t codePage = 0;   ///< page the text was decoded with (0: not decoded through one)
    bool detected = false;  ///< found from the content, not assumed or set by the caller
    bool asciiOnly = false; ///< every byte was ASCII: any page reads it alike
};

/// Why an existing path cannot be read as a source ("not a regular file", or
/// the system's message such as "Permission denied"); empty when it can be
/// opened for reading, and for a path that does not exist.
std::string UnreadableReason(const std::string& FileName);

/// Encoding code the file's first bytes declare (0 without a mark), or -1
/// when the file cannot be opened.
int32_t UEFCheckTextFileFormat(const std::string& FileName);

/// Loads a whole file as UTF-8 text; "" on every failure. With `fmt` -1 the
/// encoding is detected and written back (a mark, else valid multi-byte UTF-8
/// gives 1, else the zero bytes of UTF-16 give 2 or 3, else 0 for ANSI).
/// ANSI text read with `AnsiCodePage` 0 is decoded through the page its
/// content shows (DetectCodePage), or the default page 936 when it shows
/// none; a non-zero `AnsiCodePage` is used as it is. `page` says which page
/// was used and whether it was detected.
std::string UEFLoadTextFile(const std::string& FileName, int32_t& fmt, int32_t AnsiCodePage = 0,
                            LoadReason* reason = nullptr, LoadedCodePage* page = nullptr);

/// A large source read a piece at a time, so that it is never whole in
/// memory: what a first pass through the file found. Only a file whose bytes
/// are its text as they stand can be read so (`usable`): UTF-8, with a mark or
/// valid multi-byte text without one, or ASCII without zero bytes in an ANSI
/// page that reads ASCII as itself. `fmt`, `reason` and `page` are what
/// UEFLoadTextFile with `fmt` -1 gives for the same file.
struct PiecewiseSource {
    bool usable = false;
    int32_t fmt = kEncodingDetect;
    LoadReason reason = LoadReason::None;
    LoadedCodePage page;
    std::uint64_t skip = 0;     ///< bytes of the mark
    std::uint64_t size = 0;     ///< bytes of text after it
    char sep = '\n';            ///< line end: LF, or CR in a text without LF
    std::size_t lineEnds = 0;   ///< how many the text holds
    // The file as it was surveyed; a second pass refuses a changed one.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modifiedNs = 0;
};

/// Pieces of about this size keep a pass over them in the processor's cache.
inline constexpr std::size_t kDefaultPieceBytes = std::size_t{256} << 10;

/// The first pass: reads the file through in pieces of `pieceBytes`. A file
/// shorter than `minBytes` is not read, and not usable.
/// `stop`: when it turns true the survey ends early, not usable.
/// `scratch`: room for the pieces, used when it holds `pieceBytes` + 4 bytes
/// (a survey on another thread then touches no memory of its own).
/// `observe`: shown every byte of the text after the mark once, in order,
/// and told which bytes are the last.
using SurveyObserver = std::function<void(std::string_view bytes, bool last)>;
PiecewiseSource SurveySource(const std::string& FileName, int32_t AnsiCodePage = 0,
                             std::size_t pieceBytes = kDefaultPieceBytes,
                             std::uint64_t minBytes = 0,
                             const std::atomic<bool>* stop = nullptr,
                             std::vector<char>* scratch = nullptr,
                             const SurveyObserver* observe = nullptr);

/// The start of a source, to decide whether it can be read while it is
/// surveyed: `promising` when the file is at least `minBytes`, has no mark or
/// a UTF-8 one, and its first `pieceBytes` after the mark hold a line feed,
/// no zero byte and valid UTF-8 (a character cut at their end aside). The
/// survey still decides; this only tells a source not worth the try.
struct SourceHead {
    bool promising = false;
    std::uint64_t skip = 0;       ///< bytes of the mark
    std::uint64_t size = 0;       ///< bytes of text after it
    std::size_t headBytes = 0;    ///< bytes of text looked at
    std::size_t headLineEnds = 0; ///< line feeds among them
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modifiedNs = 0;
};
SourceHead PeekSource(const std::string& FileName, std::size_t pieceBytes = kDefaultPieceBytes,
                      std::uint64_t minBytes = 0);

enum class PieceRead {
    Done,       ///< every piece was handed on
    Stopped,    ///< `onPiece` returned false
    Changed,    ///< the file is not the one surveyed, or could not be read again
};

/// The second pass: hands the surveyed text on in pieces that end just after
/// a line end (`sep`); the last one (`last` true) runs to the end of the
/// file. A line longer than a piece makes its piece longer.
PieceRead ReadSourcePieces(const std::string& FileName, const PiecewiseSource& source,
                           const std::function<bool(std::string_view piece, bool last)>& onPiece,
                           std::size_t pieceBytes = kDefaultPieceBytes);

/// Why a save failed, for a caller that wants to say so.
struct SaveFailure {
    enum Kind { None, InvalidEncoding, OpenFailed, WriteFailed, Unmappable } kind = None;
    std::size_t line = 0;        ///< Unmappable: 1-based line of the first such character
    std::size_t byteOffset = 0;  ///< Unmappable: its byte offset in the text
    int error = 0;               ///< OpenFailed, WriteFailed: errno of the failing call (0: none)
};

/// Writes `sText` in encoding `fmt` (see the codes above), replacing the file
/// or appending to it. A replacing save goes through a temporary file in the
/// same folder that is renamed over the target only when everything was
/// written, so a failed save leaves the old file untouched. Text that the ANSI
/// code page cannot hold fails the save (`failure` says where).
/// `textIsValidUtf8`: the caller vouches that `sText` is valid UTF-8 (text
/// the engine decoded itself), which spares a second check of a large text.
bool UEFSaveTextFile(const std::string& FileName, const std::string& sText, bool IsAppend,
                     int32_t& fmt, int32_t DefFmt, int32_t AnsiCodePage = 0,
                     SaveFailure* failure = nullptr, bool textIsValidUtf8 = false);

/// A replacing save written piece by piece, so a large output is never held
/// whole: the same bytes as UEFSaveTextFile with IsAppend false and the
/// pieces joined, written to a temporary file that replaces the target only
/// on Commit. Destroyed without a successful Commit, it leaves the target as
/// it was. Pieces should end at line boundaries (a character split between
/// two pieces counts as invalid).
class TextFileWriter {
public:
    TextFileWriter();
    ~TextFileWriter();
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;

    /// Creates the temporary file and writes the mark of `fmt` (0 to 5);
    /// `withMark` false leaves the mark out (a file saved as it was read,
    /// UTF-8 without one).
    bool Open(const std::string& FileName, int32_t fmt, int32_t AnsiCodePage, SaveFailure& failure,
              bool withMark = true);
    /// Encodes and writes one piece; an unmappable character fails with its
    /// line and offset counted over all pieces.
    bool Write(std::string_view text, bool textIsValidUtf8, SaveFailure& failure);
    /// Puts the file in place of the target.
    bool Commit(SaveFailure& failure);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// Decodes bytes of a known encoding code (no mark handling) to UTF-8.
/// Exposed for the loader's tests and the fuzz targets.
std::string DecodeText(std::string_view bytes, int32_t fmt, int32_t AnsiCodePage);

/// True when `bytes` is valid UTF-8 and holds at least one multi-byte sequence.
bool LooksLikeUtf8(std::string_view bytes);

/// The UTF-16 code (2 little-endian, 3 big-endian) of text without a mark
/// whose zero bytes say so: a quarter of the units or more have a zero high
/// byte, and the other side has almost none (ANSI and UTF-8 text has no zero
/// bytes, UTF-32 has them on both sides). 0 otherwise.
int32_t LooksLikeUtf16(std::string_view bytes);

}  // namespace lumeval
