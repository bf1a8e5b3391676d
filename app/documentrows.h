// DocumentRows: a document shown in a list. It hands the list the cells of
// the document's cues (serial, start, end, text) as the list has always
// shown them, marks rows whose end comes before their start, turns the
// document's change signals into the list model's, and takes the cells the
// user edits in place back into the document as undoable steps.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

#include "controls/ctllistview_model.h"
#include "document/document.h"

namespace lumeval::doc {
class DocumentChecks;
}

namespace lumeval {

class DocumentRows final : public QObject, public ListRowSource {
    Q_OBJECT

  public:
    DocumentRows(doc::SubtitleDocument* document, ListViewModel* model, QObject* parent = nullptr);

    /// Asked before every edit: a reason to refuse it now (a load is
    /// running), or empty.
    void SetGate(std::function<QString()> gate) { m_gate = std::move(gate); }
    /// The quality checks whose findings mark the rows (null: none shown).
    void SetChecks(const doc::DocumentChecks* checks);
    /// The rows under the playhead, highlighted (sorted; empty: none).
    /// Only the rows that change are repainted.
    void SetPlaying(std::vector<int> rows);
    const std::vector<int>& Playing() const { return m_playing; }

    int SourceRows() const override { return m_doc->Count(); }
    std::string_view SourceCell(int row, int column, std::string& scratch) const override;
    QVariant SourceRole(int row, int column, int role) const override;
    bool SourceEditable(int column) const override { return column >= doc::ColStart && column <= doc::ColText; }
    bool SourceMultiLine(int column) const override { return column == doc::ColText; }
    QString SourceEdit(int row, int column, const QString& text) override;

  private:
    doc::SubtitleDocument* m_doc;
    ListViewModel* m_model;
    std::function<QString()> m_gate;
    const doc::DocumentChecks* m_checks = nullptr;
    std::vector<int> m_playing;
};

/// A time as the lists show it: "HH:MM:SS,mmm".
std::string TimeCell(int64_t ms);
/// Text typed into a cell as a cue keeps it: line ends as "\N", other
/// control characters (but tab) removed.
std::string CueTextFromTyped(const QString& typed);

}  // namespace lumeval
