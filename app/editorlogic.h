// The editor's decisions that need no window: which command a word names,
// the amount inside a time-shift word, the context-menu texts, the layout
// of the document lists, the entries built from rows and the timeline
// merge. frmMain applies them to its controls; tests call them directly.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "document/checks.h"

namespace lumeval::editor {

// ---- command words ----------------------------------------------------------

enum class Command {
    None,
    Find,
    FindNext,
    FindAll,
    TimeOffsetAll,
    TimeOffsetStart,
    TimeOffsetEnd,
    OpenSubtitle,
    OpenVideo,
    Save,
    CombineToFile,
    CombineByFile,
    CombineByTimeline,
    About,
    InitSetting,
    Exit,
};

struct CommandMatch {
    Command command = Command::None;
    QString word;  ///< lower-cased and trimmed
};

/// The first entry of the word table the word matches (exact words, then the
/// three time-offset prefixes, in the table's order); None for an empty or
/// unknown word.
CommandMatch MatchCommand(const QString& word);

/// True for the commands that need the engine or change rows, which wait
/// for a running load, save or merge to end (find, about, the preview and
/// exit do not).
bool ChangesDocuments(Command command);

/// The prefix of a time-offset command ("timeoffsetall", ...); empty otherwise.
QString OffsetPrefix(Command command);

/// The amount of a time-offset word: every occurrence of `prefix` removed,
/// the rest read as a decimal number from its start (blanks skipped, reading
/// stops where a number cannot go on, nothing readable is 0), rounded to a
/// whole number, halves to even. Beyond 32 bits it is clamped.
int32_t OffsetAmount(const QString& word, const QString& prefix);

/// A number read from the start of a text the way the classic runtime's Val
/// does: blanks skipped, a sign, digits with one decimal point, an exponent.
double LeadingNumber(const QString& text);

// ---- context menus ----------------------------------------------------------

/// "减少10秒|...|增加500毫秒": the time-shift group.
const QString& TimeShiftGroup();
/// The amount of a time-shift item in milliseconds, nullopt for other texts.
std::optional<int32_t> TimeShiftAmount(const QString& item);

/// The right-click menu of a list: the groups joined by "|-|".
QString ListMenuText(bool listHasRows, bool mergeOffered);
/// The item at `position` of a menu text split at "|" (separators count);
/// empty when the position is outside it.
QString MenuItemAt(const QString& menuText, int position);

/// The preview's own menu.
inline const QString kVideoMenu = QStringLiteral("暂停/恢复|-|关闭");

// ---- layout -----------------------------------------------------------------

/// A rectangle by its edges, as the window keeps `VideoRect` and
/// `SeekBarRect`: right and bottom lie outside it.
struct WinRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool Contains(int x, int y) const {
        return !IsEmpty() && x >= Left && x < Right && y >= Top && y < Bottom;
    }
    friend bool operator==(const WinRect&, const WinRect&) = default;
};

struct ListPlacement {
    QRect rect;        ///< where the list goes (client pixels)
    int textWidth = 0; ///< width of column 3
};

struct Layout {
    int splitY = 0;
    std::vector<ListPlacement> lists;  ///< one per visible list, in index order
    QRect video;                       ///< target of the picture when a medium is open
    WinRect seekBar;                   ///< the bar under the picture; empty without a medium
    QRect waveform;                    ///< the audio under the bar (PlaceWaveform); empty without
};

/// The rule of the window's resize: visible lists side by side, each with
/// columns 40, 100, 100 and the rest for the text (17 pixels left for the
/// scroll bar); with a medium open the picture takes the upper half (all of
/// it when no list is visible), a 20-pixel seek bar at its foot.
/// `fixedWidths` are the three widths read back from a list (40+100+100).
Layout ComputeLayout(int clientWidth, int clientHeight, int statusHeight, int visibleLists,
                     bool mediaOpen, int fixedWidths = 240);

/// The waveform under the seek bar, above the lists (which keep their
/// place): it takes `height` pixels from the picture, at most half of it;
/// a medium without a picture gives it all of the picture's room.
void PlaceWaveform(Layout& layout, bool picture, int height);

/// Halves to even, as the window's rounding does.
int RoundHalfEven(double value);

// ---- rows and entries -------------------------------------------------------

/// "start->end|text".
std::string EntryFromCells(const QString& start, const QString& end, const QString& text);

struct EntryCells {
    QString start, end, text;
};
/// The cells of a merged entry: span before the first "|" split at "->",
/// text up to the second "|", each trimmed.
EntryCells CellsFromEntry(const std::string& entry);

struct TimelineRow {
    double start = 0;  ///< milliseconds
    double end = 0;
    QString text;
    int row = 0;       ///< the row's index in its list before the merge
};

/// Merges rows of the other documents into the active one: for each active
/// row from the last, each other list is scanned from its last row until a
/// row lies more than `threshold` before it; a row within the threshold on
/// both times (strictly) is removed from its list, and its text joins the
/// active text after "\N" unless the trimmed texts are equal. Removed rows
/// leave the vectors of `others`; `row` says which list rows survived.
/// `progress(j)` is called at every active row j that is a multiple of 100.
void MergeByTimeline(std::vector<TimelineRow>& active,
                     std::vector<std::vector<TimelineRow>*> others, int64_t threshold,
                     const std::function<void(int)>& progress = {});

/// round(value / max x 100), halves to even, held to 0..100; 0 when max <= 0.
int Percent(double value, double max);

// ---- saving -----------------------------------------------------------------

/// True when every entry can be written in the code page (an ANSI save
/// would hold all of it).
bool FitsCodePage(const std::vector<std::string>& entries, int32_t codePage);
/// "GBK", "BIG5", or "代码页 N".
QString CodePageName(int32_t codePage);
/// The encoding a document was read with, as the user knows it: "UTF-8",
/// "UTF-8（带 BOM）", "UTF-16 LE", ..., or the code page's name for ANSI.
QString EncodingName(int32_t encoding, int32_t codePage, bool byteOrderMark);
/// An encoding a person may pick (to reopen a file, or to save one): the
/// engine's code (0 ANSI, 1 UTF-8, 2/3 UTF-16 LE/BE) and, for ANSI, the
/// code page.
struct EncodingChoice {
    QString name;
    int32_t encoding = 0;
    int32_t codePage = 0;
};
/// UTF-8, UTF-16, GBK, GB18030, BIG5, Shift-JIS, EUC-KR, windows-1250 to
/// 1258 and ISO-8859-x: those this system can convert.
const std::vector<EncodingChoice>& EncodingChoices();
/// Why a save could not be made, from the system's error number: a folder
/// that cannot be written, a full disk, a target that is a folder, ...
QString SaveFailureCause(int error);

// ---- timing tools ---------------------------------------------------------------

/// An amount to shift by as a person types it: whole milliseconds ("-1500")
/// or a time text with an optional sign ("-0:01.5", "+00:00:02,000").
std::optional<int64_t> ParseShiftAmount(const QString& typed);

/// Every time becomes t * factor + shiftMs (rounded, never below 0).
struct Retime {
    double factor = 1;
    double shiftMs = 0;
    int64_t Apply(int64_t ms) const;
};
/// "FROM:TO", two frame rates above 0 and at most 1000: a subtitle timed
/// for FROM frames a second shown with a TO video (every time x FROM/TO).
std::optional<Retime> ParseRateChange(const QString& typed);
/// The retiming that takes the two OLD times to their NEW ones; or the
/// reason there is none (one OLD time twice, or reversed).
std::optional<Retime> SyncRetime(int64_t oldA, int64_t newA, int64_t oldB, int64_t newB, QString* why);

// ---- playback -----------------------------------------------------------------

/// A play position as the seek bar shows it: "00:01:23.456" (never negative).
QString ClockText(double seconds);
/// The seek bar's time: "position / duration", the position alone while
/// the duration is unknown (0).
QString SeekBarTime(double position, double duration);

/// A cue's times after its start or end was set to the playhead: the new
/// start and end, or the reason it cannot be (`why`). A start set past the
/// end takes the end along, keeping the cue's length; an end set before
/// the start is refused.
struct CueTimes {
    int64_t start = 0, end = 0;
};
std::optional<CueTimes> TimesAtPlayhead(int64_t start, int64_t end, bool hasEnd, int64_t playhead,
                                        bool setStart, QString* why);

// ---- quality checks ---------------------------------------------------------------

/// The checks' limits from the settings store's text values (value name to
/// text): "CheckMinDuration", "CheckMaxDuration", "CheckMinGap" in
/// milliseconds, "CheckMaxCps", "CheckMaxLineWidth", "CheckMaxLines". A
/// value missing, unreadable or out of its sensible range keeps the default.
struct CheckLimitTexts {
    QString minDuration, maxDuration, minGap, maxCps, maxLineWidth, maxLines;
};
doc::CheckLimits CheckLimitsFrom(const CheckLimitTexts& texts);

// ---- recent files -------------------------------------------------------------

/// The recent files after `path` was opened: it goes first, once (paths
/// compared as the system compares them), and at most `limit` are kept.
QStringList WithRecent(QStringList list, const QString& path, int limit = 10);

// ---- window placement -------------------------------------------------------

/// Twips per pixel at a logical DPI (1440 twips to the inch).
double TwipsPerPixel(double logicalDpi);

// ---- about box --------------------------------------------------------------

/// The about text, lines joined by CR LF.
QString AboutText(const QString& productName, int major, int minor, int revision);
/// The product's pages (download, web site, message board).
extern const QString kDownloadPage;
extern const QString kHomePage;
extern const QString kFeedbackPage;

}  // namespace lumeval::editor
