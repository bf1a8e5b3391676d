// SubtitleDocument: one open subtitle file as the editor holds it. The
// cues are typed values (start and end in milliseconds, the end possibly
// absent, the text), kept once: the lists show them through a model that
// reads them here. Every change is one command on the document's undo
// stack, so the changed state is the stack's clean state.
//
// Storage is compact because documents reach a million cues: a cue is 32
// bytes and its text lives in an append-only pool of blocks, so shifting
// times never touches text, and a command that takes rows away keeps
// their texts by reference rather than by copy.
#pragma once

#include <QObject>
#include <QString>
#include <QUndoStack>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/recovery.h"

namespace lumeval {
class KeptFile;
}

namespace lumeval::doc {

/// An end that is absent (start-only formats: LRC, SAMI, XML lyrics).
inline constexpr int64_t kNoEnd = std::numeric_limits<int64_t>::min();

/// A cue as callers hand it in or get it out.
struct CueValue {
    int64_t start = 0;
    int64_t end = kNoEnd;
    std::string text;
    bool HasEnd() const { return end != kNoEnd; }
    friend bool operator==(const CueValue&, const CueValue&) = default;
};

/// The columns as the lists show them.
enum Column : int { ColSerial = 0, ColStart = 1, ColEnd = 2, ColText = 3 };

class SubtitleDocument;

/// A change spanning several documents (the in-window merges) is one step
/// in each: undoing it in any of them undoes it in all, and only while it
/// is the newest step of every one of them.
class LinkedChange;

class SubtitleDocument;

class DocumentSnapshot;

class SubtitleDocument : public QObject {
    Q_OBJECT

  public:
    explicit SubtitleDocument(QObject* parent = nullptr);
    ~SubtitleDocument() override;

    // ---- reading ------------------------------------------------------------
    int Count() const { return static_cast<int>(m_cues.size()); }
    bool ValidRow(int row) const { return row >= 0 && row < Count(); }
    int64_t Start(int row) const { return m_cues[Index(row)].start; }
    int64_t End(int row) const { return m_cues[Index(row)].end; }
    bool HasEnd(int row) const { return m_cues[Index(row)].end != kNoEnd; }
    std::string_view Text(int row) const;
    /// The serial given when the row was added (1-based; not renumbered).
    uint32_t Serial(int row) const { return m_cues[Index(row)].serial; }
    CueValue Cue(int row) const;
    /// The row's end before its start: marked in the lists.
    bool EndsBeforeStart(int row) const;

    /// The rows now, for a backup written on another thread. `room`, when
    /// it fits (DocumentSnapshot::WithRoom, made off the window thread), is
    /// filled instead of new memory: first touches of tens of megabytes
    /// cost more than the copy itself.
    std::shared_ptr<DocumentSnapshot> Snapshot(std::shared_ptr<DocumentSnapshot> room = nullptr) const;

    // ---- the file behind it -------------------------------------------------
    const QString& Path() const { return m_path; }
    void SetPath(const QString& path) { m_path = path; }
    /// The format key it was read as ("srt", "ass", ...); empty for none.
    const std::string& Format() const { return m_format; }
    void SetFormat(std::string key) { m_format = std::move(key); }
    /// How its text was stored: the engine's encoding number (0 ANSI,
    /// 1 UTF-8, 2 UTF-16, ...) and, for ANSI, the code page.
    int32_t Encoding() const { return m_encoding; }
    int32_t CodePage() const { return m_codePage; }
    void SetEncoding(int32_t encoding, int32_t codePage) {
        m_encoding = encoding;
        m_codePage = codePage;
    }
    /// The file began with a byte-order mark (a save in place keeps it so).
    /// How the encoding was come by: found in the file's bytes, the default
    /// code page taken because the bytes showed none, or picked by the user.
    enum class EncodingSource { Detected, Assumed, Picked };
    EncodingSource HowEncoded() const { return m_encodingSource; }
    void SetHowEncoded(EncodingSource how) { m_encodingSource = how; }
    bool ByteOrderMark() const { return m_byteOrderMark; }
    void SetByteOrderMark(bool mark) { m_byteOrderMark = mark; }
    /// The file as it was read or last saved, for a save in place that
    /// keeps everything outside the edited cues (null: the format or the
    /// reading does not allow it).
    const std::shared_ptr<KeptFile>& Kept() const { return m_kept; }
    /// `keptCues` cues in it. After a load, the row of serial s stems from
    /// its cue s - 1 (rows added later have later serials); after a save in
    /// place, `origins[s]` names the cue of serial s (-1: none).
    void SetKept(std::shared_ptr<KeptFile> kept, std::size_t keptCues = 0, std::vector<int32_t> origins = {}) {
        m_kept = std::move(kept);
        m_keptCues = m_kept ? keptCues : 0;
        m_keptOrigins = std::move(origins);
    }
    /// The kept file's cue a row of this serial stems from, or -1.
    int64_t KeptOrigin(uint32_t serial) const {
        if (!m_kept) return -1;
        if (m_keptOrigins.empty()) return serial >= 1 && serial <= m_keptCues ? int64_t{serial} - 1 : -1;
        return serial < m_keptOrigins.size() ? m_keptOrigins[serial] : -1;
    }
    /// Its file was written whole by this program (saved as): writing it
    /// whole again loses nothing.
    bool OwnWriting() const { return m_ownWriting; }
    void SetOwnWriting(bool own) { m_ownWriting = own; }

    // ---- history ------------------------------------------------------------
    QUndoStack* History() { return &m_history; }
    const QUndoStack* History() const { return &m_history; }
    /// Changed since it was loaded or saved: the history is not at its clean
    /// state (undoing back to the saved state is unchanged again).
    bool IsChanged() const { return !m_history.isClean(); }
    /// After a save: the present state is the saved one.
    void MarkSaved() { m_history.setClean(); }
    /// True while a step of a linked change can be undone here (it is the
    /// newest step of every document it touched); plain steps always can.
    bool CanUndo() const;
    bool CanRedo() const;
    /// Undo and redo through the links; false when nothing happened.
    bool Undo();
    bool Redo();

    // ---- loading (not undoable: a load starts a new history) ----------------
    /// `expectedRows`, when known, makes room up front, so a large load
    /// does not copy its rows each time the table grows.
    void BeginLoad(std::size_t expectedRows = 0);
    bool Loading() const { return m_loading; }
    void AppendLoaded(int64_t start, int64_t end, std::string_view text);
    /// A row of a backup being restored: its serial is kept (it says where
    /// the row stood in the file), later rows get serials after it.
    void AppendRestored(int64_t start, int64_t end, std::string_view text, uint32_t serial);
    /// Publishes the loaded rows and empties the history (clean).
    void EndLoad();
    /// Restored work is a change to the file, with no step to undo back to
    /// the file's state.
    void MarkChanged() { m_history.resetClean(); }

    // ---- changes, each one step ---------------------------------------------
    /// Cell edits. False (nothing changes) for a bad row or the serial.
    bool SetText(int row, std::string_view text);
    bool SetStart(int row, int64_t start);
    bool SetEnd(int row, int64_t end);
    /// Inserts cues before `position` (past the end appends); they get new
    /// serials. Returns the first row inserted.
    int Insert(int position, std::vector<CueValue> cues, const QString& step);
    /// Removes the rows (any order, duplicates ignored); false when none.
    bool Remove(std::vector<int> rows, const QString& step);
    /// Removes every row.
    bool Clear(const QString& step);
    /// Adds `amount` to the start and/or end of every row (or the given
    /// rows); a time that would fall below 0 becomes 0, and undo gives the
    /// exact old value back. Absent ends stay absent.
    bool Shift(int64_t amount, bool start, bool end, const QString& step,
               const std::vector<int>* rows = nullptr);
    /// Replaces the text of every row for which `edit` gives a different one.
    bool RewriteTexts(const std::function<std::string(std::string_view)>& edit, const QString& step);
    /// New texts for the given rows (row, text), one step; rows whose text
    /// is already that are left out. False when nothing changes.
    bool SetTexts(std::vector<std::pair<int, std::string>> texts, const QString& step);
    /// New times for several rows, one step (the checks' fixes). Rows whose
    /// times are already those, bad rows and repeats of a row are left out.
    /// False when nothing changes.
    struct TimeChange {
        int row = 0;
        int64_t start = 0;
        int64_t end = kNoEnd;
    };
    bool SetTimes(std::vector<TimeChange> times, const QString& step);
    /// Replaces the whole content (the merges): one step.
    bool ReplaceAll(std::vector<CueValue> cues, const QString& step);
    /// Splits row at byte offset `pos` of its text (see SplitCue); the
    /// second part is the row after it. False for a bad row.
    bool Split(int row, std::size_t pos, const QString& step);
    /// Joins rows first..last (neighbours): first start, last end, the
    /// texts joined by "\N". False for fewer than two rows.
    bool Join(int first, int last, const QString& step);

    /// Several documents changed as one step: `change` runs the changes of
    /// every document (each through its own calls above); what they push
    /// becomes one linked step per document.
    static void ChangeTogether(const std::vector<SubtitleDocument*>& docs, const QString& step,
                               const std::function<void()>& change);

  signals:
    // The shape of the rows changes; the lists' models follow these.
    void RowsAboutToBeInserted(int first, int last);
    void RowsInserted(int first, int last);
    void RowsAboutToBeRemoved(int first, int last);
    void RowsRemoved(int first, int last);
    /// Cells of rows first..last in columns firstColumn..lastColumn changed.
    void CellsChanged(int first, int last, int firstColumn, int lastColumn);
    void AboutToReset();
    void ResetDone();
    /// The changed state flipped (the title's "*").
    void ChangedStateChanged(bool changed);

  private:
    friend class DocumentCommand;
    friend class DocumentSnapshot;
    friend class LinkedChange;
    friend struct DocumentAccess;

    // A cue as stored: its text is `length` bytes at `offset` of the pool.
    struct Stored {
        int64_t start = 0;
        int64_t end = kNoEnd;
        uint64_t offset = 0;
        uint32_t length = 0;
        uint32_t serial = 0;
    };
    std::size_t Index(int row) const { return static_cast<std::size_t>(row); }
    Stored Store(int64_t start, int64_t end, std::string_view text);
    uint64_t Keep(std::string_view text);
    std::string_view TextOf(const Stored& s) const;

    // Raw changes, used by the commands; each announces itself.
    void RawInsert(int position, const std::vector<Stored>& cues);
    /// Removes the given sorted rows, appending what was there to `removed`.
    void RawRemove(const std::vector<int>& sortedRows, std::vector<Stored>* removed);
    void RawInsertAt(const std::vector<int>& sortedRows, const std::vector<Stored>& cues);
    void RawSwapAll(std::vector<Stored>& cues);
    void RawSet(int row, const Stored& s, int firstColumn, int lastColumn);
    void Push(class QUndoCommand* command);

    std::vector<Stored> m_cues;
    // The text pool: blocks that never move once written, so a view of a
    // text stays valid as the pool grows.
    std::vector<std::shared_ptr<char[]>> m_blocks;
    std::vector<std::size_t> m_blockSizes;
    std::size_t m_blockUsed = 0;
    uint32_t m_nextSerial = 1;

    QString m_path;
    std::string m_format;
    int32_t m_encoding = 0;
    int32_t m_codePage = 0;
    bool m_byteOrderMark = false;
    EncodingSource m_encodingSource = EncodingSource::Detected;
    std::shared_ptr<KeptFile> m_kept;
    std::size_t m_keptCues = 0;
    std::vector<int32_t> m_keptOrigins;
    bool m_ownWriting = false;
    QUndoStack m_history;
    bool m_loading = false;
    // While ChangeTogether runs: what this document pushed goes here.
    std::vector<class QUndoCommand*>* m_collect = nullptr;
};

/// The rows as they were at one moment, for another thread (the backups):
/// made in a few milliseconds for a million rows, the texts shared with the
/// document (its text blocks never change once written), never changed.
class DocumentSnapshot final : public BackupSource {
  public:
    std::size_t Count() const override { return m_cues.size(); }
    int64_t Start(std::size_t i) const override;
    int64_t End(std::size_t i) const override;
    std::string_view Text(std::size_t i) const override;
    uint32_t Serial(std::size_t i) const override;

    /// An empty snapshot with its memory made and touched for `rows` rows:
    /// for any thread, as it reads no document.
    static std::shared_ptr<DocumentSnapshot> WithRoom(std::size_t rows);
    /// Room for `rows` rows without new memory.
    bool Fits(std::size_t rows) const { return m_cues.capacity() >= rows; }

  private:
    friend class SubtitleDocument;
    std::vector<SubtitleDocument::Stored> m_cues;
    std::vector<std::shared_ptr<const char[]>> m_blocks;
};

}  // namespace lumeval::doc
