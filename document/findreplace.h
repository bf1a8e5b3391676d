// Find and replace over the documents' texts, without a window: plain text
// or ICU regular expressions, case, whole words, wrapping, simplified and
// traditional Chinese taken as one, and replacements as undoable steps.
//
// Offsets are byte offsets into a row's UTF-8 text (what the document
// stores); every match starts and ends on a character boundary.
#pragma once

#include <QString>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumeval::doc {

class SubtitleDocument;

struct FindOptions {
    bool regex = false;        ///< a regular expression (ICU syntax); else the text as it is
    bool matchCase = true;     ///< off: Ä finds ä, abc finds ABC
    bool wholeWords = false;   ///< a match may not run on into a word on either side
    bool wrap = false;         ///< past the last row the search goes on from the first
    bool foldChinese = false;  ///< 这 finds 這, 发 finds 發 and 髮 (and back)
    friend bool operator==(const FindOptions&, const FindOptions&) = default;
};

enum class FindStatus {
    Ok,
    Invalid,   ///< the pattern (or the replacement's group) is wrong: nothing searched
    TimedOut,  ///< the expression ran too long on some text: stopped, nothing changed
};

/// A match: row, and the bytes [offset, offset + length) of its text.
struct TextMatch {
    int row = -1;
    std::size_t offset = 0;
    std::size_t length = 0;
    friend bool operator==(const TextMatch&, const TextMatch&) = default;
};

/// Where a search starts: a row and a byte offset into its text. Row -1
/// is before the first row; a row past the last is after it.
struct TextPosition {
    int row = -1;
    std::size_t offset = 0;
};

/// A compiled search (and, once given, a replacement). Not copyable; one
/// thread at a time.
class Searcher {
  public:
    Searcher(std::string_view pattern, const FindOptions& options);
    ~Searcher();
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    const FindOptions& Options() const { return m_options; }
    FindStatus Status() const { return m_status; }
    /// Why the search is invalid or stopped, in the user's words; empty when Ok.
    const QString& Message() const { return m_message; }
    bool Ok() const { return m_status == FindStatus::Ok; }

    /// The replacement text: `$1`..`$99` and `${name}` stand for groups and
    /// `\$` for a dollar in regex mode; taken literally otherwise. False
    /// (and Invalid, with the reason) for a group the pattern lacks.
    bool SetReplacement(std::string_view replacement);

    /// The first match in `text` starting at byte `from` or later.
    std::optional<TextMatch> FindIn(std::string_view text, std::size_t from = 0);
    /// The last match in `text` starting before byte `before`.
    std::optional<TextMatch> FindLastIn(std::string_view text, std::size_t before);
    /// Every match of `text`, in order.
    std::vector<TextMatch> AllIn(std::string_view text);
    /// `text` with every match replaced; the count of replacements (0:
    /// `out` untouched). Needs SetReplacement.
    std::size_t ReplaceIn(std::string_view text, std::string* out);
    /// The text that replaces the match at exactly [offset, offset+length)
    /// of `text`; nullopt when no match is there now.
    std::optional<std::string> ReplacementAt(std::string_view text, std::size_t offset, std::size_t length);

    /// How long one expression may run on one text, in ICU's own steps
    /// (2000, the default, are about half a second), and a wall-clock
    /// budget for a whole operation over many rows (20 s).
    void SetLimits(int32_t regexSteps, std::chrono::milliseconds operation);
    /// Starts the wall-clock budget of one operation over many rows.
    void StartOperation();
    /// False (and TimedOut) once the operation's budget is spent.
    bool WithinBudget();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    FindOptions m_options;
    FindStatus m_status = FindStatus::Ok;
    QString m_message;
    friend struct Impl;
};

/// Everything a document search says.
struct FindOutcome {
    FindStatus status = FindStatus::Ok;
    QString message;                 ///< the searcher's message when not Ok
    std::optional<TextMatch> match;  ///< none: not found
    bool wrapped = false;            ///< found only by going round
};

/// Rows to search: all of them (nullptr) or these, sorted and unique.
using RowScope = const std::vector<int>*;

/// The first match at or after `from` in the scope; with the searcher's
/// wrap, then from the scope's first row up to `from`.
FindOutcome FindNext(const SubtitleDocument& doc, Searcher& searcher, TextPosition from, RowScope rows = nullptr);
/// The last match before `from` (a row past the last: from the very end);
/// with wrap, then from the scope's last row back down to `from`.
FindOutcome FindPrevious(const SubtitleDocument& doc, Searcher& searcher, TextPosition from, RowScope rows = nullptr);
/// Every match in the scope, in order (status says whether it finished).
FindStatus FindAll(const SubtitleDocument& doc, Searcher& searcher, std::vector<TextMatch>* matches,
                   RowScope rows = nullptr);
/// Where a search goes on after `m`: its end, or one character on for an
/// empty match (so a pattern like ^ does not find the same place forever).
TextPosition After(const SubtitleDocument& doc, const TextMatch& m);

struct ReplaceOutcome {
    FindStatus status = FindStatus::Ok;
    QString message;
    std::size_t count = 0;       ///< replacements made
    std::size_t documents = 0;   ///< documents that took a step
    /// ReplaceCurrent: where to go on from (after the replacement).
    TextPosition next;
};

/// Replaces the match `m` if the searcher still finds exactly it there:
/// one step "替换". count 0 when it is not there any more.
ReplaceOutcome ReplaceCurrent(SubtitleDocument& doc, Searcher& searcher, const TextMatch& m);
/// Every match in the scope replaced as one step "全部替换"; nothing
/// changes when the search is invalid or runs out of time.
ReplaceOutcome ReplaceAll(SubtitleDocument& doc, Searcher& searcher, RowScope rows = nullptr);
/// The same over several documents: one step in each that changes, the
/// total count; nothing changes anywhere when any of them fails.
ReplaceOutcome ReplaceAll(const std::vector<SubtitleDocument*>& docs, Searcher& searcher);

/// A character folded to one form of Chinese (simplified), or itself: the
/// same UTF-16 length, so positions in folded text are positions in the
/// original.
char32_t FoldChinese(char32_t c);

}  // namespace lumeval::doc
