// 查找和替换 (Ctrl+H): a non-modal dialog that finds forwards and back
// within the selected rows, the active document or every open document,
// replaces one match or all of them (one undoable step per document), and
// whose options the find commands (Ctrl+F, F3, find all) search with too.
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "document/document.h"
#include "document/findreplace.h"
#include "system/clssystem.h"

namespace lumeval {

struct frmMain::ReplaceState {
    // What every search of the window goes by: the find box and the
    // dialog show and change the same options.
    doc::FindOptions options;
    QAction* action = nullptr;
    QDialog* dialog = nullptr;
    QLineEdit* find = nullptr;
    QLineEdit* replace = nullptr;
    QCheckBox* matchCase = nullptr;
    QCheckBox* wholeWords = nullptr;
    QCheckBox* regex = nullptr;
    QCheckBox* wrap = nullptr;
    QCheckBox* fold = nullptr;
    QRadioButton* inSelection = nullptr;
    QRadioButton* inDocument = nullptr;
    QRadioButton* inAll = nullptr;
    QLabel* result = nullptr;

    // The last match shown (or where a replacement left off): the next
    // search goes on from there while its row still has the focus.
    doc::SubtitleDocument* at = nullptr;
    doc::TextMatch match;
    bool hasMatch = false;
    doc::TextPosition next;
    doc::TextPosition previous;

    // The rows 选定行 searches: taken when the dialog opens or that scope
    // is chosen, as each match found selects its row alone.
    doc::SubtitleDocument* selectionOf = nullptr;
    std::vector<int> selection;

    void Forget() { at = nullptr; hasMatch = false; }
};

void frmMain::ReplaceStateDeleter::operator()(ReplaceState* state) const { delete state; }

QAction* frmMain::ReplaceAction() const { return m_replace ? m_replace->action : nullptr; }
QDialog* frmMain::ReplaceDialog() const { return m_replace ? m_replace->dialog : nullptr; }

doc::FindOptions frmMain::FindOptionsNow() const { return m_replace ? m_replace->options : doc::FindOptions{}; }

QString frmMain::AskFindText() {
    doc::FindOptions& o = m_replace->options;
    const FindBoxOptions proposed{.matchCase = o.matchCase,
                                  .wholeWords = o.wholeWords,
                                  .regex = o.regex,
                                  .wrap = o.wrap,
                                  .foldChinese = o.foldChinese};
    const std::optional<FindBoxAnswer> answer =
        m_system->FindBox(QStringLiteral("查找内容："), QStringLiteral("查找"), m_lastFindText, proposed, this);
    if (!answer) return QString();
    const FindBoxOptions& c = answer->Options;
    o = doc::FindOptions{.regex = c.regex,
                         .matchCase = c.matchCase,
                         .wholeWords = c.wholeWords,
                         .wrap = c.wrap,
                         .foldChinese = c.foldChinese};
    if (ReplaceState& st = *m_replace; st.dialog) {
        st.matchCase->setChecked(o.matchCase);
        st.wholeWords->setChecked(o.wholeWords);
        st.regex->setChecked(o.regex);
        st.wrap->setChecked(o.wrap);
        st.fold->setChecked(o.foldChinese);
    }
    return answer->Text;
}

void frmMain::BuildReplaceMenu(QMenu* edit) {
    m_replace.reset(new ReplaceState);
    m_replace->action = edit->addAction(QStringLiteral("查找和替换(&H)..."));
    m_replace->action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    m_replace->action->setShortcutContext(Qt::WindowShortcut);
    connect(m_replace->action, &QAction::triggered, this, [this] { CmdReplace(); });
}

namespace {

// The selected rows of a list, in order.
std::vector<int> Selected(const ctlListView* l) {
    std::vector<int> rows;
    if (!l) return rows;
    for (int i = l->ItemFindState(-1, ctlListView::StateSelected); i >= 0;
         i = l->ItemFindState(i, ctlListView::StateSelected))
        rows.push_back(i);
    return rows;
}

}  // namespace

void frmMain::CmdReplace() {
    ReplaceState& st = *m_replace;
    if (!st.dialog) {
        st.dialog = new QDialog(this);
        st.dialog->setObjectName(QStringLiteral("replaceDialog"));
        st.dialog->setWindowTitle(QStringLiteral("查找和替换"));
        auto* layout = new QVBoxLayout(st.dialog);
        auto* fields = new QFormLayout;
        st.find = new QLineEdit(st.dialog);
        st.find->setObjectName(QStringLiteral("findText"));
        st.replace = new QLineEdit(st.dialog);
        st.replace->setObjectName(QStringLiteral("replaceText"));
        fields->addRow(QStringLiteral("查找内容(&N)："), st.find);
        fields->addRow(QStringLiteral("替换为(&P)："), st.replace);
        layout->addLayout(fields);

        auto* options = new QHBoxLayout;
        const auto box = [&](const char* name, const QString& text, bool doc::FindOptions::*option) {
            auto* b = new QCheckBox(text, st.dialog);
            b->setObjectName(QString::fromLatin1(name));
            b->setChecked(st.options.*option);
            options->addWidget(b);
            // Another search starts afresh from the focused row.
            connect(b, &QCheckBox::toggled, this, [this, option](bool on) {
                m_replace->options.*option = on;
                m_replace->Forget();
            });
            return b;
        };
        st.matchCase = box("matchCase", QStringLiteral("区分大小写(&C)"), &doc::FindOptions::matchCase);
        st.wholeWords = box("wholeWords", QStringLiteral("全字匹配(&W)"), &doc::FindOptions::wholeWords);
        st.regex = box("regex", QStringLiteral("正则表达式(&E)"), &doc::FindOptions::regex);
        st.wrap = box("wrap", QStringLiteral("循环查找(&G)"), &doc::FindOptions::wrap);
        st.fold = box("foldChinese", QStringLiteral("简繁通配(&T)"), &doc::FindOptions::foldChinese);
        layout->addLayout(options);

        auto* scope = new QGroupBox(QStringLiteral("范围"), st.dialog);
        auto* scopes = new QHBoxLayout(scope);
        st.inSelection = new QRadioButton(QStringLiteral("选定行(&L)"), scope);
        st.inSelection->setObjectName(QStringLiteral("scopeSelection"));
        st.inDocument = new QRadioButton(QStringLiteral("当前文档(&D)"), scope);
        st.inDocument->setObjectName(QStringLiteral("scopeDocument"));
        st.inAll = new QRadioButton(QStringLiteral("全部文档(&O)"), scope);
        st.inAll->setObjectName(QStringLiteral("scopeAll"));
        st.inDocument->setChecked(true);
        scopes->addWidget(st.inSelection);
        scopes->addWidget(st.inDocument);
        scopes->addWidget(st.inAll);
        layout->addWidget(scope);

        st.result = new QLabel(st.dialog);
        st.result->setObjectName(QStringLiteral("replaceResult"));
        st.result->setWordWrap(true);
        st.result->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(st.result);

        auto* buttons = new QDialogButtonBox(st.dialog);
        const auto button = [&](const char* name, const QString& text) {
            QPushButton* b = buttons->addButton(text, QDialogButtonBox::ActionRole);
            b->setObjectName(QString::fromLatin1(name));
            b->setAutoDefault(false);
            return b;
        };
        QPushButton* next = button("findNext", QStringLiteral("查找下一个(&F)"));
        QPushButton* previous = button("findPrevious", QStringLiteral("查找上一个(&V)"));
        QPushButton* one = button("replaceOne", QStringLiteral("替换(&R)"));
        QPushButton* all = button("replaceAll", QStringLiteral("全部替换(&A)"));
        QPushButton* close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
        close->setObjectName(QStringLiteral("close"));
        next->setDefault(true);
        layout->addWidget(buttons);

        connect(next, &QPushButton::clicked, this, [this] { ReplaceFind(true); });
        connect(previous, &QPushButton::clicked, this, [this] { ReplaceFind(false); });
        connect(one, &QPushButton::clicked, this, [this] { ReplaceOne(); });
        connect(all, &QPushButton::clicked, this, [this] { ReplaceEverywhere(); });
        connect(buttons, &QDialogButtonBox::rejected, st.dialog, &QDialog::hide);
        connect(st.find, &QLineEdit::textEdited, this, [this] { m_replace->Forget(); });
        connect(st.inSelection, &QRadioButton::toggled, this, [this](bool on) {
            m_replace->Forget();
            if (!on) return;
            m_replace->selectionOf = Document(m_activeList);
            m_replace->selection = Selected(List(m_activeList));
        });
    }
    // The rows selected now are the ones 选定行 means.
    st.selectionOf = Document(m_activeList);
    st.selection = Selected(List(m_activeList));
    if (!m_lastFindText.isEmpty()) st.find->setText(m_lastFindText);
    st.result->clear();
    st.Forget();
    st.dialog->show();
    st.dialog->raise();
    st.dialog->activateWindow();
    st.find->setFocus();
    st.find->selectAll();
}

void frmMain::ReplaceResult(const QString& text) { m_replace->result->setText(text); }

namespace {

bool Before(const doc::TextMatch& m, const doc::TextPosition& p) {
    return m.row < p.row || (m.row == p.row && m.offset < p.offset);
}

}  // namespace

void frmMain::ReplaceFind(bool forward) {
    ReplaceState& st = *m_replace;
    const QString pattern = st.find->text();
    if (pattern.isEmpty()) {
        ReplaceResult(QStringLiteral("请输入查找内容"));
        return;
    }
    m_lastFindText = pattern;
    doc::FindOptions options = FindOptionsNow();
    const bool everywhere = st.inAll->isChecked();
    // Over several documents the going round is done here, document by document.
    const bool wrap = options.wrap;
    if (everywhere) options.wrap = false;
    doc::Searcher searcher(pattern.toStdString(), options);
    if (!searcher.Ok()) {
        ReplaceResult(searcher.Message());
        return;
    }

    // The documents in the order the search visits them, from the active
    // one (or, when it shows none, the first open one from its top).
    std::vector<int> order;
    if (everywhere) {
        for (int i = 0; i < ListCount(); ++i)
            if (ListOpen(i) && Document(i)) order.push_back(i);
    } else if (ListHasRows(m_activeList) && Document(m_activeList)) {
        order.push_back(m_activeList);
    }
    if (order.empty()) {
        ReplaceResult(QStringLiteral("未找到搜索文本"));
        return;
    }
    const auto at = std::find(order.begin(), order.end(), m_activeList);
    const int first = at == order.end() ? 0 : static_cast<int>(at - order.begin());
    const int home = order[static_cast<std::size_t>(first)];

    // Where the search starts there: after (or before) the last match
    // while its row keeps the focus, else the focused row.
    doc::SubtitleDocument* active = Document(home);
    const ctlListView* list = List(home);
    const int focused = home == m_activeList ? list->ItemIndex() : -1;
    doc::TextPosition from;
    if (st.at == active && focused >= 0 && focused == (st.hasMatch ? st.match.row : st.next.row)) {
        from = forward ? st.next : st.previous;
    } else {
        from = forward ? doc::TextPosition{focused, 0} : doc::TextPosition{focused >= 0 ? focused : active->Count(), 0};
    }
    const bool inSelection = st.inSelection->isChecked();
    if (inSelection && (st.selectionOf != active || st.selection.empty())) {
        ReplaceResult(QStringLiteral("没有选定的行"));
        return;
    }
    const doc::RowScope rows = inSelection ? &st.selection : nullptr;

    const int n = static_cast<int>(order.size());
    std::optional<doc::TextMatch> found;
    int foundList = -1;
    bool wrapped = false;
    const auto search = [&](int index, doc::TextPosition start) {
        const doc::SubtitleDocument* d = Document(index);
        return forward ? doc::FindNext(*d, searcher, start, rows) : doc::FindPrevious(*d, searcher, start, rows);
    };
    for (int step = 0; step < n && !found; ++step) {
        const int k = forward ? first + step : first - step;
        if (!wrap && (k >= n || k < 0)) break;
        const int index = order[static_cast<std::size_t>(((k % n) + n) % n)];
        const doc::TextPosition start = step == 0 ? from : forward ? doc::TextPosition{-1, 0}
                                                                    : doc::TextPosition{Document(index)->Count(), 0};
        const doc::FindOutcome r = search(index, start);
        if (r.status != doc::FindStatus::Ok) {
            ReplaceResult(r.message);
            return;
        }
        if (r.match) {
            found = r.match;
            foundList = index;
            wrapped = r.wrapped || k >= n || k < 0;
        }
    }
    // Round every document and back into the first one, up to where it began.
    if (!found && everywhere && wrap) {
        const doc::FindOutcome r = search(home, forward ? doc::TextPosition{-1, 0} : doc::TextPosition{active->Count(), 0});
        if (r.status != doc::FindStatus::Ok) {
            ReplaceResult(r.message);
            return;
        }
        if (r.match && (forward ? Before(*r.match, from) : !Before(*r.match, from))) {
            found = r.match;
            foundList = home;
            wrapped = true;
        }
    }
    if (!found) {
        // The place stays: another click says the same, rather than
        // starting over at the focused row.
        ReplaceResult(QStringLiteral("未找到搜索文本"));
        return;
    }
    if (foundList != m_activeList) {
        m_activeList = foundList;
        UpdateListStatus(foundList);
    }
    FocusRow(found->row);
    st.at = Document(foundList);
    st.match = *found;
    st.hasMatch = true;
    st.next = doc::After(*st.at, *found);
    st.previous = {found->row, found->offset};
    QString where = QStringLiteral("第 %1 行").arg(found->row + 1);
    if (everywhere) where = QStringLiteral("%1，").arg(List(foundList)->Tag().section(u'/', -1)) + where;
    if (wrapped) where += QStringLiteral("（已从另一端继续查找）");
    ReplaceResult(where);
}

void frmMain::ReplaceOne() {
    ReplaceState& st = *m_replace;
    doc::SubtitleDocument* active = Document(m_activeList);
    // Without a match on the focused row, the first click finds one.
    if (!st.hasMatch || st.at != active || List(m_activeList)->ItemIndex() != st.match.row) {
        ReplaceFind(true);
        return;
    }
    if (RefuseRowCommand()) return;
    doc::Searcher searcher(st.find->text().toStdString(), FindOptionsNow());
    if (!searcher.SetReplacement(st.replace->text().toStdString())) {
        ReplaceResult(searcher.Message());
        return;
    }
    const doc::ReplaceOutcome out = doc::ReplaceCurrent(*active, searcher, st.match);
    if (out.status != doc::FindStatus::Ok) {
        ReplaceResult(out.message);
        return;
    }
    if (out.count > 0) {
        // Go on from after what was put in, at the next match.
        st.hasMatch = false;
        st.next = out.next;
        st.previous = {st.match.row, st.match.offset};
    }
    ReplaceFind(true);
    if (out.count > 0) ReplaceResult(QStringLiteral("已替换 1 处；") + m_replace->result->text());
}

void frmMain::ReplaceEverywhere() {
    ReplaceState& st = *m_replace;
    if (RunInProgress()) {
        RefuseWhileRunning();
        return;
    }
    const QString pattern = st.find->text();
    if (pattern.isEmpty()) {
        ReplaceResult(QStringLiteral("请输入查找内容"));
        return;
    }
    m_lastFindText = pattern;
    doc::Searcher searcher(pattern.toStdString(), FindOptionsNow());
    if (!searcher.SetReplacement(st.replace->text().toStdString())) {
        ReplaceResult(searcher.Message());
        return;
    }
    doc::ReplaceOutcome out;
    if (st.inAll->isChecked()) {
        std::vector<doc::SubtitleDocument*> docs;
        for (int i = 0; i < ListCount(); ++i)
            if (ListOpen(i) && Document(i)) docs.push_back(Document(i));
        out = doc::ReplaceAll(docs, searcher);
    } else {
        doc::SubtitleDocument* active = Document(m_activeList);
        if (!active || RefuseRowCommand()) {
            ReplaceResult(QStringLiteral("未找到搜索文本"));
            return;
        }
        if (st.inSelection->isChecked()) {
            if (st.selectionOf != active || st.selection.empty()) {
                ReplaceResult(QStringLiteral("没有选定的行"));
                return;
            }
            out = doc::ReplaceAll(*active, searcher, &st.selection);
        } else {
            out = doc::ReplaceAll(*active, searcher);
        }
    }
    st.Forget();
    if (out.status != doc::FindStatus::Ok) {
        ReplaceResult(out.message);
    } else if (out.count == 0) {
        ReplaceResult(QStringLiteral("未找到搜索文本"));
    } else {
        ReplaceResult(QStringLiteral("已替换 %1 处").arg(out.count));
    }
}

}  // namespace lumeval
