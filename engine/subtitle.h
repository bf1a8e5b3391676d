// clsSubtitle: the conversion engine's facade.
//
// Naming: the members that callers see keep the names the editor and the
// converter were written against (`ConvertSubtitle`, `s_TimeOffset`, ...);
// their prefixes say the kind: `s_` a conversion setting, `src_`/`dst_` a file
// argument, `str`/`b`/`l` a text, Boolean or integer parameter. Everything
// behind the facade is ordinary camelCase code in namespace lumeval.
//
// Line table: entry 0 is a placeholder; entries 1..N are
//   "HH:MM:SS,mmm->HH:MM:SS,mmm|text"  or  "HH:MM:SS,mmm|text"
// with "\N" for a line break inside a cue.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/encoding/chinese.h"
#include "engine/encoding/textfile.h"
#include "engine/linetable.h"
#include "engine/formats.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {

/// The script and style parameters both a conversion and a save carry (a
/// conversion hands them to the writer unchanged), in the order callers know
/// them. Defaults are the editor's settings.
struct StyleSettings {
    int32_t s_ScreenWidth = 384;
    int32_t s_ScreenHeight = 288;
    std::string s_TitleString;
    std::string s_BannerString;
    std::string s_FontName = "Arial";
    int32_t s_FontSize = 18;
    int32_t s_FontBold = 0;
    int32_t s_FontItalic = 0;
    int32_t s_FontOutline = 0;
    int32_t s_FontShadow = 0;
    int32_t s_FontAlphaLevel = 0;
    int32_t s_FontEncoding = 134;
    int32_t s_EffectStyle = 0;
    double s_EffectSpeed = 2.6;
    uint32_t s_ForeColor = 0xFFFFFF;       ///< 0x00BBGGRR
    uint32_t s_EffectColor = 0xFF;
    uint32_t s_ShadowColor = 0;
};

/// The conversion parameters after the source: the destination, the shared
/// style parameters, then the rest in the order callers know them. Defaults
/// are the editor's load settings. Times are seconds.
struct ConvertSettings : StyleSettings {
    std::string dst_SubFile = "ass";       ///< bare format key (event mode) or destination path
    double s_TimeOffset = 0;               ///< seconds added to every start and end
    bool s_Sort = true;
    int32_t s_SubtitleAlign = 2;
    bool s_RaiseCompleteEvent = true;
    bool s_Overwrite = false;
    double s_TimeStartPoint = 0;           ///< window, seconds; active when end > start
    double s_TimeEndPoint = 0;
    std::string s_AddCopyRightString;      ///< credit line text; empty: none
    double s_AddCopyRightTimeStartPoint = 0;
    double s_AddCopyRightTimeEndPoint = 0;
    int32_t s_InternalCodeConversion = 0;  ///< 0 none, 1 BIG5->GB, 2 GB->BIG5, 3 auto
    int32_t s_RaiseEventInterval = 1000;   ///< lines between progress events (below 1: 1)
    int16_t s_SplitMode = 0;               ///< 0: windowed times re-based; other: absolute
    bool s_MergeSamePosition = false;
    int32_t s_SubtitleEncodeFormat = 0;    ///< encoding code of the written file
    std::string s_RemoveSubFilters;        ///< filter words separated by U+0000
    bool s_RaiseAllEvent = true;           ///< master switch of ProgressChange
    /// Frames a second of frame-counted sources and outputs (MicroDVD); 0:
    /// a source's own rate line, else 23.976. Wins over a source's rate line.
    double s_FrameRate = 0;
    /// Retiming of every source time before the window and the offset:
    /// t * s_RetimeFactor + s_RetimeShift (seconds). A frame-rate change
    /// (FROM/TO) or a two-point synchronisation sets them.
    double s_RetimeFactor = 1;
    double s_RetimeShift = 0;
};

/// The parameters of `SaveArrayToSubtitle` after the entries and the file
/// name: the shared style parameters, then the rest in the order callers know
/// them. Defaults are the editor's save settings.
struct SaveSettings : StyleSettings {
    int32_t s_SubtitleAlign = 2;
    bool s_RaiseCompleteEvent = true;      ///< not used by the writers
    bool s_Overwrite = false;              ///< not used by the writers
    double s_TimeStartPoint = 0;           ///< not used by the writers
    double s_TimeEndPoint = 0;             ///< not used by the writers
    std::string s_AddCopyRightString;      ///< not used by the writers
    double s_AddCopyRightTimeStartPoint = 0;
    double s_AddCopyRightTimeEndPoint = 0;
    int32_t s_InternalCodeConversion = 0;  ///< not used by the writers
    int32_t s_RaiseEventInterval = 1000;
    int32_t s_SubtitleEncodeFormat = 0;
    bool s_RaiseAllEvent = true;
    int32_t src_Format = 0;                ///< kind of the source the entries came from
    double s_FrameRate = 0;                ///< frame-counted outputs (MicroDVD); 0: 23.976
};

/// Progress status codes of ProgressChange.
enum ProgressStatus : int32_t {
    kStatusFileStart = 0,
    kStatusReading = 1,
    kStatusWriting = 2,
    kStatusSaved = 3,
    kStatusComplete = 4,
    kStatusFailed = 5,
    kStatusCancelled = 6,
};

/// Why the last run or save returned False (for callers that explain it).
struct RunFailure {
    enum Kind {
        None,
        NoSource,     ///< no source list, or no source could be read
        NoLines,      ///< the sources gave no cue (LastRun says whether the window took them)
        AllFiltered,  ///< the filter words removed every cue
        NothingToWrite,
        SaveFailed,   ///< the file could not be written
        Unmappable,   ///< a character the ANSI code page cannot hold (line says where)
        Cancelled,
        Busy,         ///< a run was already in progress on this object
        ChineseUnavailable,  ///< the conversion mode needs an OpenCC dictionary that did not load
        Internal,     ///< an exception inside the run (allocation, a handler's); `message` says which
    } kind = None;
    std::size_t line = 0;  ///< Unmappable: 1-based line of the written text
    std::string path;      ///< the file concerned, when there is one
    int error = 0;         ///< SaveFailed: the system's errno of the failing call, 0 if none
    std::string message;   ///< Internal, ChineseUnavailable: what went wrong
};

/// How one source of a run was read, for a caller that tells the user.
struct SourceInfo {
    std::string path;
    int32_t encoding = -1;          ///< encoding code it was decoded with
    int32_t codePage = 0;           ///< encoding 0: the legacy code page used (0: none, or ASCII text)
    bool codePageDetected = false;  ///< that page was found by content, not assumed or forced
    /// Non-empty when the file was read by its content instead of its
    /// extension: the description of the format it was read as.
    std::string readByContent;
    bool readInPieces = false;  ///< read a piece at a time, never whole in memory
};

/// What one run read, for summaries.
struct RunInfo {
    int32_t sourcesRead = 0;      ///< sources that existed and had a known key
    std::size_t linesLoaded = 0;  ///< table entries after post-processing
    int32_t lastEncoding = -1;    ///< encoding code detected for the last source
    LoadReason lastReason = LoadReason::None;
    std::size_t timesRefused = 0; ///< lines left out for a time beyond kMaxTimeMs
    std::size_t outsideWindow = 0;///< lines left out because they lie outside the window
    std::size_t cuesWritten = 0;  ///< file mode: cues the writer wrote
    std::size_t cuesDelivered = 0;///< event mode: cues handed to SubtitleLineLoaded
    /// The format is written in UTF-8 only, so another requested encoding was
    /// replaced by UTF-8.
    bool encodingReplaced = false;
    /// The file was written while its source was read (a piece at a time).
    bool writtenWhileReading = false;
    /// Every source that was read, in order.
    std::vector<SourceInfo> sources;
    /// Sources that exist but could not be read, with the reason (per file).
    std::vector<std::pair<std::string, std::string>> unreadable;
};

class clsSubtitle {
public:
    /// (ProgressValue, ProgressMax, Status, StatusText, Cancel). Setting Cancel
    /// stops the running conversion or save: it raises status 6 and returns
    /// False without writing.
    using ProgressChangeHandler =
        std::function<void(int32_t, int32_t, int32_t, const std::string&, bool&)>;
    /// (TimeStartPoint, TimeEndPoint, SubtitleText), times in milliseconds.
    using SubtitleLineLoadedHandler = std::function<void(double, double, const std::string&)>;

    /// As SubtitleLineLoaded, and says whether the line has an end at all
    /// (start-only formats have none; SubtitleLineLoaded gives 0 then).
    using SubtitleCueLoadedHandler = std::function<void(double start, std::optional<double> end, std::string_view text)>;

    ProgressChangeHandler ProgressChange;
    SubtitleLineLoadedHandler SubtitleLineLoaded;
    SubtitleCueLoadedHandler SubtitleCueLoaded;
    /// Called every `s_RaiseEventInterval` lines so a user interface can
    /// process pending messages.
    std::function<void()> YieldCallback;

    /// Code page of encoding 0 (ANSI); 0 means the default, 936.
    int32_t AnsiCodePage = 0;
    /// Encoding code sources are read in; -1 (the default) detects it. A
    /// person who saw a file misread picks one (a mark of that encoding is
    /// still skipped).
    int32_t SourceEncoding = -1;
    /// Sources of at least this many bytes that are their text as they stand
    /// (UTF-8, or ASCII) and need no conversion are read a piece of about
    /// `PieceBytes` at a time, never whole.
    std::uint64_t PiecewiseFromBytes = std::uint64_t{4} << 20;
    std::size_t PieceBytes = kDefaultPieceBytes;
    /// Such a source whose start looks right is read while another thread
    /// surveys it (when the process may run on two processors); the reading
    /// is undone when the survey disagrees, and progress is raised once the
    /// survey has counted the lines.
    bool SurveyWhileReading = true;

    /// Output beyond this many bytes is written as it is made, a piece at a
    /// time (through a temporary file that replaces the target at the end),
    /// so a large file is never held whole.
    std::size_t OutputPieceBytes = std::size_t{1} << 20;
    /// A run of one such source in time order (SubRip, WebVTT) to SubRip or
    /// SSA without a karaoke effect, with no merging, filter or credit line,
    /// writes its entries while it reads, whenever this many have been read:
    /// the same file and events as a save at the end, with a small part of
    /// the memory. 0 never writes while reading.
    std::size_t WriteWhileReadingEntries = 8192;

    // ---- conversion ----
    bool ConvertSubtitle(const std::string& src_SubFile, const ConvertSettings& settings);
    /// An empty list counts as no list (the run fails). File mode returns True
    /// when the save succeeded.
    bool ConvertSubtitle_Array(const std::vector<std::string>& src_SubFile,
                               const ConvertSettings& settings);

    // ---- writing ----
    bool SaveArrayToSubtitle(std::vector<std::string>& LrcList, const std::string& strFileName,
                             const SaveSettings& settings);

    // ---- sorting ----
    /// Sorts `arr[First..Last]` in time order: start, then end, then the
    /// text in UTF-16 code unit order; elements without "|" come first.
    static void QuickSort(std::vector<std::string>& arr, int64_t First, int64_t Last);

    // ---- companion subtitles ----
    /// The first subtitle file belonging to a media file, or empty (engine/companion.h).
    static std::string CheckSubtitle(const std::string& strFile, bool bAPIMode);

    // ---- time codes ----
    static std::string MSecsToTime(double LngMSecs, int16_t TimeStyle = 0) {
        return lumeval::MSecsToTime(LngMSecs, TimeStyle);
    }
    static double TimeToMSecs(std::string_view TimeString, std::string_view MSecString = ",") {
        return lumeval::TimeToMSecs(TimeString, MSecString);
    }
    static double TimeToSec(std::string_view TimeString, bool MSecUse,
                            std::string_view MSecString = ",") {
        return lumeval::TimeToSec(TimeString, MSecUse, MSecString);
    }

    // ---- text utilities ----
    static std::string FindText(std::string_view s, std::string_view tag, int32_t n) {
        return lumeval::FindText(s, tag, n);
    }
    static std::string FindTextBetween(std::string_view s, std::string_view t1, std::string_view t2,
                                       int32_t n1, int32_t n2) {
        return lumeval::FindTextBetween(s, t1, t2, n1, n2);
    }
    static std::string FindTextRev(std::string_view s, std::string_view tag, int32_t n) {
        return lumeval::FindTextRev(s, tag, n);
    }
    static std::string KillTag(std::string_view s, bool bFull) { return lumeval::KillTag(s, bFull); }
    static std::string KillTagFor(std::string_view s, std::string_view t1, std::string_view t2) {
        return lumeval::KillTagFor(s, t1, t2);
    }
    static std::string GetFileString(std::string_view p, std::string_view d, int32_t style) {
        return lumeval::GetFileString(p, d, style);
    }
    static bool FileExists(const std::string& f, bool useUnicode = true) {
        return lumeval::FileExists(f, useUnicode);
    }
    static bool DirExists(const std::string& d) { return lumeval::DirExists(d); }
    static bool PathExistsFSO(const std::string& p) { return lumeval::PathExistsFSO(p); }
    static bool MakedPath(const std::string& p) { return lumeval::MakedPath(p); }
    static std::string RenameExists(const std::string& f, bool bOverwrite) {
        return lumeval::RenameExists(f, bOverwrite);
    }
    static std::string cPath(std::string_view p) { return lumeval::cPath(p); }
    static std::string StripNulls(std::string& s) { return lumeval::StripNulls(s); }
    static void AppendStringArray(std::vector<std::string>& a, const std::vector<std::string>& b) {
        lumeval::AppendStringArray(a, b);
    }
    static std::string JoinEx(const std::vector<std::string>& arr, std::string_view delim,
                              std::optional<int64_t> Index = std::nullopt,
                              std::optional<int64_t> Count = std::nullopt,
                              JoinError* err = nullptr) {
        return lumeval::JoinEx(arr, delim, Index, Count, err);
    }

    // ---- text files ----
    int32_t UEFCheckTextFileFormat(const std::string& FileName) const {
        return lumeval::UEFCheckTextFileFormat(FileName);
    }
    std::string UEFLoadTextFile(const std::string& FileName, int32_t& fmt) const {
        return lumeval::UEFLoadTextFile(FileName, fmt, AnsiCodePage);
    }
    bool UEFSaveTextFile(const std::string& FileName, const std::string& sText, bool IsAppend,
                         int32_t& fmt, int32_t DefFmt) const {
        return lumeval::UEFSaveTextFile(FileName, sText, IsAppend, fmt, DefFmt, AnsiCodePage);
    }

    // ---- Chinese character sets ----
    int32_t CheckChineseInternalCodeSpecification(const std::string& text) const {
        return lumeval::CheckChineseInternalCodeSpecification(text, AnsiCodePage);
    }
    bool CheckBIG5(const std::string& text) const { return lumeval::CheckBIG5(text, AnsiCodePage); }

    // ---- diagnostics ----
    const RunFailure& LastFailure() const { return m_lastFailure; }
    const RunInfo& LastRun() const { return m_lastRun; }
    bool IsBusy() const { return m_busy; }

private:
    /// One conversion run's state (subtitle.cpp).
    struct ConvertRun;
    /// The pipeline of a conversion, one named step each.
    bool convertArray(const std::vector<std::string>& sources, const ConvertSettings& s);
    bool readSource(ConvertRun& run, const std::string& path);
    /// `releasable`: the text itself, when its pages behind the reading may
    /// be given back to the system once the source has added an entry (and
    /// so will not be read again by its content).
    bool readText(ConvertRun& run, const std::string& text, const ConversionContext& cctx,
                  LineReader reader, const std::string& path, std::string* releasable = nullptr);
    /// What reading one source can change besides adding entries (subtitle.cpp).
    struct SourceMark;
    /// Takes back what reading one source added and changed.
    void undoReading(ConvertRun& run, const SourceMark& mark);
    /// One reading of a source's lines (subtitle.cpp).
    struct LineFeed;
    void recordSource(const std::string& path, int32_t fmt, LoadReason reason,
                      const LoadedCodePage& page);
    std::optional<bool> readPiecewise(ConvertRun& run, const std::string& path, int32_t kind,
                                      const ConversionContext& cctx, LineReader reader);
    void startReading(ConvertRun& run, std::size_t lineEnds);
    /// The survey of a source on a thread of its own (subtitle.cpp).
    struct SurveyAlongside;
    bool reportReading(ConvertRun& run, LineFeed& feed, std::size_t index);
    bool raiseKeptProgress(ConvertRun& run, LineFeed& feed);
    bool feedLines(ConvertRun& run, std::string_view text, char sep, bool final, LineFeed& feed);
    bool readByContent(ConvertRun& run, const std::string& text, const ConversionContext& cctx,
                       LineReader tried, const std::string& path, const SourceMark& mark);
    /// The RunInfo entry of the source being read (made on first use).
    SourceInfo& sourceInfo(const std::string& path);
    bool postProcess(ConvertRun& run);
    bool deliverEvents(ConvertRun& run);
    bool deliverFile(ConvertRun& run);
    /// Ends a run as failed (status 5) or, after a cancel, cancelled (status 6).
    bool failRun(ConvertRun& run, RunFailure::Kind kind);
    /// `trustedText`: the entries were built by this engine from decoded
    /// text, so they are valid UTF-8.
    bool saveArray(const LineTable& entries, const std::string& fileName,
                   const SaveSettings& s, bool trustedText);
    /// A save under way, and a run's writing while it reads (engine/run.h).
    struct Save;
    struct WriteAhead;
    /// Hands `entries` to the save's writer; `more`: a later piece follows,
    /// and the last entry is only looked ahead to. False when stopped.
    bool writePiece(Save& save, const LineTable& entries, bool more,
                    const std::function<bool(std::size_t)>& onProgress);
    /// Ends a save: the file put in place, or the failure raised.
    bool finishSave(Save& save, bool written);
    void writeWhileReading(ConvertRun& run);
    void stopWritingAhead(ConvertRun& run);
    /// After the reading: false when what was written ahead must be given
    /// up (the source is then read again).
    bool keepWritingAhead(ConvertRun& run);
    bool finishWritingAhead(ConvertRun& run);
    void readWrittenAgain(ConvertRun& run, const std::string& path, const PiecewiseSource& source,
                          LineReader reader, const ConversionContext& cctx);
    /// The source read again, without events, for a save of the whole table.
    bool readAgain(ConvertRun& run, const std::string& path, const RunInfo& before);
    /// Raises ProgressChange when `raise`; returns false when the handler cancelled.
    bool progress(bool raise, int32_t value, int32_t max, int32_t status, const std::string& text);
    void yieldToCaller();
    /// Records an exception that escaped a run as its failure (status 5).
    bool internalFailure(bool raise, std::exception_ptr error);

    bool m_busy = false;
    bool m_cancelled = false;
    RunFailure m_lastFailure;
    RunInfo m_lastRun;
};

/// Builds the save parameters a conversion hands to the writer.
SaveSettings SaveSettingsFrom(const ConvertSettings& s, int32_t width, int32_t height,
                              int32_t srcFormat);

}  // namespace lumeval
