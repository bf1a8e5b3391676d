#include "app/documentrows.h"

#include <algorithm>

#include <QBrush>
#include <QColor>

#include "document/checks.h"
#include "document/editops.h"
#include "engine/subtitle.h"

namespace lumeval {

namespace {

const QString kEndBeforeStart = QStringLiteral("结束位置早于开始位置");

}  // namespace

std::string TimeCell(int64_t ms) { return clsSubtitle::MSecsToTime(static_cast<double>(ms), 0); }

std::string CueTextFromTyped(const QString& typed) {
    const std::string utf8 = typed.toStdString();
    std::string text;
    text.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
            text += "\\N";
        } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
            continue;
        } else {
            text.push_back(static_cast<char>(c));
        }
    }
    return text;
}

DocumentRows::DocumentRows(doc::SubtitleDocument* document, ListViewModel* model, QObject* parent)
    : QObject(parent), m_doc(document), m_model(model) {
    using D = doc::SubtitleDocument;
    connect(m_doc, &D::RowsAboutToBeInserted, m_model, &ListViewModel::SourceAboutToInsert);
    connect(m_doc, &D::RowsInserted, m_model, &ListViewModel::SourceInserted);
    connect(m_doc, &D::RowsAboutToBeRemoved, m_model, &ListViewModel::SourceAboutToRemove);
    connect(m_doc, &D::RowsRemoved, m_model, &ListViewModel::SourceRemoved);
    connect(m_doc, &D::CellsChanged, m_model, &ListViewModel::SourceCellsChanged);
    connect(m_doc, &D::AboutToReset, m_model, &ListViewModel::SourceAboutToReset);
    connect(m_doc, &D::ResetDone, m_model, &ListViewModel::SourceReset);
}

std::string_view DocumentRows::SourceCell(int row, int column, std::string& scratch) const {
    // The list may ask for a row a running load has not announced yet or
    // has just taken away: nothing is there for it.
    if (!m_doc->ValidRow(row)) return {};
    switch (column) {
        case doc::ColSerial:
            scratch = std::to_string(m_doc->Serial(row));
            return scratch;
        case doc::ColStart:
            scratch = TimeCell(m_doc->Start(row));
            return scratch;
        case doc::ColEnd:
            // A start-only cue ends where the next begins: no end of its own.
            if (!m_doc->HasEnd(row)) return {};
            scratch = TimeCell(m_doc->End(row));
            return scratch;
        case doc::ColText:
            return m_doc->Text(row);
        default:
            return {};
    }
}

void DocumentRows::SetChecks(const doc::DocumentChecks* checks) {
    if (m_checks) disconnect(m_checks, nullptr, this, nullptr);
    m_checks = checks;
    if (m_checks) {
        connect(m_checks, &doc::DocumentChecks::ProblemsChanged, this, [this](int first, int last) {
            if (first <= last) m_model->SourceCellsChanged(first, last, doc::ColSerial, doc::ColText);
        });
        connect(m_checks, &QObject::destroyed, this, [this] { m_checks = nullptr; });
    }
    if (m_doc->Count() > 0) m_model->SourceCellsChanged(0, m_doc->Count() - 1, doc::ColSerial, doc::ColText);
}

void DocumentRows::SetPlaying(std::vector<int> rows) {
    if (rows == m_playing) return;
    std::swap(rows, m_playing);
    // Repaint the rows that stopped playing and the ones that started.
    for (const std::vector<int>* set : {&rows, &m_playing})
        for (int row : *set)
            if (m_doc->ValidRow(row)) m_model->SourceCellsChanged(row, row, doc::ColSerial, doc::ColText);
}

QVariant DocumentRows::SourceRole(int row, int column, int role) const {
    if (!m_doc->ValidRow(row)) return {};
    // The playing cue stands out over everything but a broken time.
    if (role == Qt::BackgroundRole && !m_doc->EndsBeforeStart(row) &&
        std::binary_search(m_playing.begin(), m_playing.end(), row))
        return QBrush(QColor(0xC6, 0xE2, 0xFF));
    if (m_doc->EndsBeforeStart(row)) {
        if (role == Qt::BackgroundRole) return QBrush(QColor(0xFF, 0xD6, 0xD6));
        if (role == Qt::ToolTipRole && (column == doc::ColStart || column == doc::ColEnd)) return kEndBeforeStart;
        return {};
    }
    // The other findings of the checks: a pale mark, and what they are.
    const doc::ProblemMask marks = m_checks ? m_checks->ProblemsOf(row) : 0;
    if (marks == 0) return {};
    if (role == Qt::BackgroundRole) return QBrush(QColor(0xFF, 0xF3, 0xC4));
    if (role == Qt::ToolTipRole) {
        QStringList said;
        for (int k = 0; k < doc::kCheckKinds; ++k)
            if (marks & doc::MaskOf(static_cast<doc::CheckKind>(k)))
                said << doc::DocumentChecks::Message(static_cast<doc::CheckKind>(k));
        return said.join(QStringLiteral("；"));
    }
    return {};
}

QString DocumentRows::SourceEdit(int row, int column, const QString& typed) {
    if (m_gate) {
        const QString refused = m_gate();
        if (!refused.isEmpty()) return refused;
    }
    if (!m_doc->ValidRow(row)) return QStringLiteral("这一行已不存在");
    if (column == doc::ColText) {
        m_doc->SetText(row, CueTextFromTyped(typed));
        return QString();
    }
    if (column != doc::ColStart && column != doc::ColEnd) return QStringLiteral("不能编辑");
    if (column == doc::ColEnd && typed.trimmed().isEmpty() && !m_doc->HasEnd(row)) return QString();
    const doc::TypedTime time = doc::ParseTypedTime(typed.toStdString());
    if (!time.ms) return QString::fromStdString(time.error);
    if (column == doc::ColStart) {
        if (m_doc->HasEnd(row) && *time.ms > m_doc->End(row)) return QStringLiteral("开始位置不能晚于结束位置");
        m_doc->SetStart(row, *time.ms);
    } else {
        if (*time.ms < m_doc->Start(row)) return QStringLiteral("结束位置不能早于开始位置");
        m_doc->SetEnd(row, *time.ms);
    }
    return QString();
}

}  // namespace lumeval
