#include "controls/ctllistview.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QMimeDatabase>
#include <QResizeEvent>
#include <algorithm>
#include <string_view>

#include "controls/ctllistview_model.h"
#include "controls/ctllistview_view.h"
#include "controls/logsink.h"

namespace lumeval {

namespace {

QColor FromBgr(std::uint32_t color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

std::uint32_t ToBgr(const QColor& color) {
    return static_cast<std::uint32_t>(color.red()) |
           (static_cast<std::uint32_t>(color.green()) << 8) |
           (static_cast<std::uint32_t>(color.blue()) << 16);
}

std::string TrimmedCell(std::string_view cell) {
    return std::string(TrimCellSpaces(cell));
}

// The decimal value at the start of a text (sign and digits), 0 when none,
// as a user value to search for.
int LeadingInteger(const QString& text) {
    const QString t = text.trimmed();
    qsizetype end = 0;
    if (end < t.size() && (t[end] == QLatin1Char('-') || t[end] == QLatin1Char('+'))) ++end;
    while (end < t.size() && t[end].isDigit() && t[end].unicode() < 128) ++end;
    bool ok = false;
    const long long value = t.left(end).toLongLong(&ok);
    if (!ok) return 0;
    return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

int DropEffectFromQt(Qt::DropAction action) {
    switch (action) {
        case Qt::CopyAction:
            return 1;
        case Qt::MoveAction:
            return 2;
        case Qt::LinkAction:
            return 4;
        default:
            return 0;
    }
}

int ButtonMaskFromQt(Qt::MouseButtons buttons) {
    int mask = 0;
    if (buttons & Qt::LeftButton) mask |= 1;
    if (buttons & Qt::RightButton) mask |= 2;
    if (buttons & Qt::MiddleButton) mask |= 4;
    return mask;
}

// The small image list starts as the platform's system list did (0 unknown
// file, 1 document, 2 program, 3 folder, 4 open folder); the file types'
// own icons follow. Rows without a file show image 3.
constexpr int kImageUnknown = 0;
constexpr int kImageNoFile = 3;

}  // namespace

ctlListView::ctlListView(QWidget* parent) : QWidget(parent), m_model(new ListViewModel(this)) {
    qRegisterMetaType<const QMimeData*>("const QMimeData*");
    m_font = font();
    connect(m_model, &ListViewModel::RowStateChanged, this, &ctlListView::OnRowStateChanged);
    connect(m_model, &QAbstractItemModel::columnsInserted, this, &ctlListView::ApplyColumnWidths);
    connect(m_model, &QAbstractItemModel::columnsRemoved, this, &ctlListView::ApplyColumnWidths);
    connect(m_model, &QAbstractItemModel::modelReset, this, &ctlListView::ApplyColumnWidths);
    connect(m_model, &QAbstractItemModel::headerDataChanged, this, &ctlListView::ApplyColumnWidths);
}

ctlListView::~ctlListView() {
    // Header viewports report to this control; while the children go, this
    // control is half destroyed and must not hear from them.
    for (QHeaderView* header : findChildren<QHeaderView*>()) {
        header->viewport()->removeEventFilter(this);
    }
    // The views (with any replaced one still waiting for deletion) go before
    // the model they show.
    qDeleteAll(findChildren<QAbstractItemView*>(QString(), Qt::FindDirectChildrenOnly));
}

// ---- creation and views -----------------------------------------------------

bool ctlListView::Initialize(const QString& FormatsMask, const QString& MaskSeparator,
                             int ViewMode) {
    if (m_created) return false;
    m_viewMode = (ViewMode == ViewThumbnail || ViewMode == ViewList) ? ViewMode : ViewReport;
    if (!FormatsMask.isEmpty() && !MaskSeparator.isEmpty()) {
        BuildFileTypes(FormatsMask, MaskSeparator);
    } else {
        m_fileTypes.clear();
        m_model->SetSmallImages({});
    }
    ApplySystemColors();
    m_created = true;
    m_font = font();  // the host's font is watched from now on
    m_model->SetSingleSelection(true);
    BuildView();
    return true;
}

void ctlListView::BuildFileTypes(const QString& mask, const QString& separator) {
    QMimeDatabase mimes;
    QFileIconProvider provider;
    const QIcon file = provider.icon(QAbstractFileIconProvider::File);
    const QIcon folder = provider.icon(QAbstractFileIconProvider::Folder);
    std::vector<QIcon> images{file, file, file, folder, folder};
    m_fileTypes.clear();
    for (const QString& piece : mask.split(separator, Qt::SkipEmptyParts)) {
        FileType type{piece, QString(), kImageUnknown};
        const QString name = QStringLiteral("file.") + piece;
        const QMimeType mime = mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
        if (mime.isValid() && !mime.isDefault()) {
            type.description = mime.comment();
            QIcon icon = QIcon::fromTheme(mime.iconName());
            if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
            if (icon.isNull()) icon = provider.icon(QFileInfo(name));
            if (icon.isNull()) icon = file;
            type.icon = static_cast<int>(images.size());
            images.push_back(icon);
        }
        m_fileTypes.push_back(type);
    }
    m_model->SetSmallImages(std::move(images));
}

void ctlListView::ApplySystemColors() {
    const QPalette palette = QApplication::palette();
    m_backColor = ToBgr(palette.color(QPalette::Active, QPalette::Base));
    m_textBackColor = m_backColor;
    m_textColor = ToBgr(palette.color(QPalette::Active, QPalette::Text));
}

void ctlListView::BuildView() {
    QPointer<QAbstractItemView> old = m_view;
    if (m_binder != nullptr) {
        m_binder->disconnect();
        m_model->disconnect(m_binder);
        m_binder->deleteLater();
        m_binder = nullptr;
    }
    m_cellDelegate = nullptr;
    m_thumbDelegate = nullptr;

    ListViewHooks hooks;
    hooks.input = [this](QAbstractItemView* view, QEvent* event, bool after) {
        OnViewInput(view, event, after);
    };
    hooks.tip = [this](QAbstractItemView* view, const QPoint& at) { return OnViewTip(view, at); };

    QAbstractItemView* view = nullptr;
    if (m_viewMode == ViewReport) {
        auto* table = new ListReportView(this);
        table->SetHooks(hooks);
        table->setModel(m_model);
        table->setShowGrid(true);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setWordWrap(false);
        table->setCornerButtonEnabled(false);
        table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        table->verticalHeader()->hide();
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        QHeaderView* header = table->horizontalHeader();
        header->setSectionsClickable(true);
        header->setHighlightSections(false);
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::Interactive);
        header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        header->viewport()->installEventFilter(this);
        connect(header, &QHeaderView::sectionClicked, this, &ctlListView::OnHeaderClicked);
        connect(header, &QHeaderView::sectionResized, this, &ctlListView::OnHeaderResized);
        m_cellDelegate = new ListCellDelegate(table);
        table->setItemDelegate(m_cellDelegate);
        view = table;
    } else {
        auto* list = new ListIconsView(this);
        list->SetHooks(hooks);
        list->setModel(m_model);
        list->setModelColumn(0);
        list->setUniformItemSizes(true);
        list->setWrapping(true);
        list->setResizeMode(QListView::Adjust);
        if (m_viewMode == ViewThumbnail) {
            list->setViewMode(QListView::IconMode);
            list->setFlow(QListView::LeftToRight);
            m_thumbDelegate = new ThumbnailDelegate([this](int row) { return PictureForRow(row); },
                                                    [this] { m_labelHeight = 13; }, list);
            m_thumbDelegate->SetThumbnailSize(m_thumbWidth, m_thumbHeight);
            m_thumbDelegate->SetLabelHeight(m_labelHeight);
            list->setItemDelegate(m_thumbDelegate);
            list->setGridSize(m_thumbDelegate->CellSize());
        } else {
            list->setViewMode(QListView::ListMode);
            list->setFlow(QListView::TopToBottom);
            list->setIconSize(QSize(16, 16));
            m_cellDelegate = new ListCellDelegate(list);
            list->setItemDelegate(m_cellDelegate);
        }
        list->setMovement(QListView::Static);
        view = list;
    }
    // Drops belong to the host, never to the view.
    view->setDragDropMode(QAbstractItemView::NoDragDrop);
    view->setDragEnabled(false);
    view->setAcceptDrops(false);
    view->viewport()->setAcceptDrops(false);
    view->setEditTriggers(m_model->Source() ? QAbstractItemView::EditKeyPressed
                                            : QAbstractItemView::NoEditTriggers);
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ctlListView::OnCurrentChanged);
    view->setTextElideMode(Qt::ElideRight);
    view->setSelectionMode(m_multiSelect ? QAbstractItemView::ExtendedSelection
                                         : QAbstractItemView::SingleSelection);
    view->setFrameShape(m_borderStyle == 1 ? QFrame::StyledPanel : QFrame::NoFrame);
    view->setFrameShadow(QFrame::Sunken);
    view->setGeometry(rect());
    m_view = view;
    m_binder = new ListSelectionBinder(m_model, view, view);
    setFocusProxy(view);
    ApplyColors();
    ApplyViewSettings();
    ApplyColumnWidths();
    UpdateRowHeight();
    m_binder->SyncViewFromModel();
    if (!m_redraw) view->setUpdatesEnabled(false);
    view->show();

    if (!old.isNull()) {
        // Later: this may run inside one of the old view's own handlers.
        old->hide();
        old->deleteLater();
    }
}

void ctlListView::ApplyColors() {
    if (m_view.isNull()) return;
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Base, FromBgr(m_backColor));
    palette.setColor(QPalette::Text, FromBgr(m_textColor));
    palette.setColor(QPalette::WindowText, FromBgr(m_textColor));
    m_view->setPalette(palette);
    if (m_cellDelegate != nullptr) {
        m_cellDelegate->SetTextBackColor(m_textBackColor == m_backColor ? QColor()
                                                                        : FromBgr(m_textBackColor));
    }
    m_view->viewport()->update();
}

void ctlListView::ApplyViewSettings() {
    if (m_view.isNull()) return;
    QPalette palette = m_view->palette();
    if (m_hideSelection) {
        palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         palette.color(QPalette::Inactive, QPalette::Base));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Inactive, QPalette::Text));
    } else {
        // Show the selection always, also while the list has no focus.
        palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         palette.color(QPalette::Active, QPalette::Highlight));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Active, QPalette::HighlightedText));
    }
    m_view->setPalette(palette);
}

void ctlListView::ApplyColumnWidths() {
    QHeaderView* header = Header();
    if (header == nullptr || m_model->IsResetPending()) return;
    auto* table = static_cast<QTableView*>(m_view.data());
    const QSignalBlocker blocker(header);
    for (int column = 0; column < m_model->HeaderCount(); ++column) {
        header->resizeSection(column, m_model->ColumnWidth(column));
    }
    // With no header item the rows' own texts have no column to show in.
    table->setColumnHidden(0, m_model->HeaderCount() == 0);
}

void ctlListView::UpdateRowHeight() {
    auto* table = qobject_cast<QTableView*>(m_view.data());
    if (table == nullptr) return;
    const int height = table->fontMetrics().height() + 4;
    table->verticalHeader()->setMinimumSectionSize(
        std::min(height, table->verticalHeader()->minimumSectionSize()));
    table->verticalHeader()->setDefaultSectionSize(height);
}

QAbstractItemView* ctlListView::hwnd() const {
    return m_view.data();
}

QHeaderView* ctlListView::Header() const {
    if (m_viewMode != ViewReport) return nullptr;
    auto* table = qobject_cast<QTableView*>(m_view.data());
    return table != nullptr ? table->horizontalHeader() : nullptr;
}

void ctlListView::SetViewMode(int Mode) {
    if (!HasList() || Mode == m_viewMode) return;
    if (Mode != ViewThumbnail && Mode != ViewReport && Mode != ViewList) return;
    m_viewMode = Mode;
    ApplySystemColors();
    BuildView();
    if (m_lastSorted != -1 && m_lastSorted != m_reapplied) {
        m_reapplied = m_lastSorted;
        ApplySortMarks(m_lastSorted, false);
    }
}

void ctlListView::SetThumbnailSize(int NewWidth, int New_Height) {
    m_thumbWidth = std::clamp(NewWidth, kThumbnailMin, kThumbnailMax);
    m_thumbHeight = std::clamp(New_Height, kThumbnailMin, kThumbnailMax);
    if (m_thumbDelegate != nullptr) {
        m_thumbDelegate->SetThumbnailSize(m_thumbWidth, m_thumbHeight);
        m_thumbDelegate->SetLabelHeight(m_labelHeight);
        if (auto* list = qobject_cast<QListView*>(m_view.data()))
            list->setGridSize(m_thumbDelegate->CellSize());
    }
}

// ---- redraw, rows -------------------------------------------------------------

void ctlListView::SetRedraw(bool bRedraw) {
    if (!HasList()) return;
    m_redraw = bRedraw;
    if (!bRedraw) {
        m_model->SetFrozen(true);
        m_view->setUpdatesEnabled(false);
        return;
    }
    m_model->SetFrozen(false);
    m_view->setUpdatesEnabled(true);
    if (m_pendingEnsureVisible >= 0) {
        const int row = m_pendingEnsureVisible;
        m_pendingEnsureVisible = -1;
        ItemEnsureVisible(row);
    }
    m_view->viewport()->update();
}

void ctlListView::RefreshItems(int ItemFirst, int ItemLast) {
    if (!HasList() || Count() == 0 || m_model->IsChanging()) return;
    const int first = std::clamp(ItemFirst, 0, Count() - 1);
    const int last = std::clamp(ItemLast, 0, Count() - 1);
    if (first > last) return;
    emit m_model->dataChanged(m_model->index(first, 0),
                              m_model->index(last, m_model->columnCount() - 1));
}

bool ctlListView::Clear() {
    if (!HasList()) return false;
    m_model->RemoveAllRows();
    std::vector<ThumbInfo>().swap(m_thumbInfo);
    std::vector<QImage>().swap(m_pictures);
    for (int column = 0; column < kSortColumns; ++column) {
        m_sortMarks[static_cast<std::size_t>(column)] = 0;
        m_model->SetColumnImage(column, -1);
    }
    m_lastSorted = -1;
    m_reapplied = -1;
    m_itemIndex = -1;
    m_pendingEnsureVisible = -1;
    return true;
}

bool ctlListView::AddItem(const QString& ItemsText, const QString& FileName, const QImage& Picture,
                          int InsertLocation) {
    if (!HasList()) return false;
    const int n = Count();
    const int index = InsertLocation == -1 ? n : InsertLocation;

    QString description;
    int icon = 0;
    if (!FileName.isEmpty()) {
        const qsizetype dot = FileName.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot >= 0 ? FileName.mid(dot + 1) : FileName;
        for (const FileType& type : m_fileTypes) {
            if (type.extension.compare(extension, Qt::CaseInsensitive) == 0) {
                description = type.description;
                icon = type.icon;
                break;
            }
        }
    }
    const QByteArray text = ItemsText.toUtf8();
    const QByteArray descriptionUtf8 = description.toUtf8();
    const std::string_view all(text.constData(), static_cast<std::size_t>(text.size()));
    const std::string_view describe(descriptionUtf8.constData(),
                                    static_cast<std::size_t>(descriptionUtf8.size()));
    std::vector<std::string_view>& cells = m_cellScratch;  // reused: bulk filling makes many calls
    cells.clear();
    std::size_t start = 0;
    // The last column takes the rest of the text: a row's last cell (a cue's
    // text) may hold the separator itself.
    const std::size_t columns = static_cast<std::size_t>(std::max(1, m_model->HeaderCount()));
    for (;;) {
        const std::size_t bar =
            cells.size() + 1 >= columns ? std::string_view::npos : all.find('|', start);
        std::string_view cell =
            all.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
        if (!cells.empty() && cell.empty()) cell = describe;
        cells.push_back(cell);
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    const int image = (FileName.isEmpty() || icon == 0) ? kImageNoFile : icon;
    const int row = m_model->InsertRow(index, cells, image, index);
    if (row < 0) return false;
    if (!m_thumbInfo.empty()) m_thumbInfo.insert(m_thumbInfo.begin() + row, ThumbInfo{});
    // A picture follows only a row that exists, so positions stay paired.
    if (!Picture.isNull()) m_pictures.push_back(Picture);
    return true;
}

bool ctlListView::ItemRemove(int Item) {
    if (!HasList() || !m_model->RemoveRow(Item)) return false;
    if (static_cast<std::size_t>(Item) < m_pictures.size())
        m_pictures.erase(m_pictures.begin() + Item);
    if (static_cast<std::size_t>(Item) < m_thumbInfo.size())
        m_thumbInfo.erase(m_thumbInfo.begin() + Item);
    if (m_itemIndex == Item) m_itemIndex = -1;
    return true;
}

bool ctlListView::ItemEnsureVisible(int Item) {
    if (!HasList() || Item < 0 || Item >= Count()) return false;
    if (m_model->IsChanging()) {
        m_pendingEnsureVisible = Item;  // the view learns of the row with the next redraw
        return true;
    }
    m_view->scrollTo(m_model->index(Item, 0), QAbstractItemView::EnsureVisible);
    return true;
}

int ctlListView::Count() const {
    return HasList() ? m_model->RowCount() : 0;
}

QString ctlListView::ItemText(int Item, int ColumnID) const {
    if (!HasList() || Item < 0 || Item >= Count()) return QString();
    if (ColumnID >= 0) {
        if (ColumnID > 0 && ColumnID >= m_model->HeaderCount()) return QString();
        return ToQString(TrimCellSpaces(m_model->CellUtf8(Item, ColumnID)));
    }
    if (ColumnID != -1) return QString();
    std::string joined;
    for (int column = 0; column < m_model->HeaderCount(); ++column) {
        if (!joined.empty()) joined.push_back('|');
        joined.append(TrimCellSpaces(m_model->CellUtf8(Item, column)));
    }
    return ToQString(joined);
}

void ctlListView::SetItemText(int Item, int ColumnID, const QString& Text) {
    if (!HasList()) return;
    const QByteArray utf8 = Text.toUtf8();
    m_model->SetCell(Item, ColumnID,
                     std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

QString ctlListView::InfoTipText(int Item) const {
    QString tip = ItemText(Item, 0);
    tip.replace(QLatin1Char('|'), QStringLiteral("\r\n"));
    return tip;
}

// ---- states -------------------------------------------------------------------

bool ctlListView::ItemSelected(int Item) const {
    return HasList() && (m_model->RowState(Item) & ListViewModel::StateSelected) != 0;
}

void ctlListView::SetItemSelected(int Item, bool Selected) {
    if (!HasList()) return;
    constexpr int kBoth = ListViewModel::StateSelected | ListViewModel::StateFocused;
    m_model->SetRowState(Item, kBoth, Selected ? kBoth : 0);
}

bool ctlListView::ItemFocused(int Item) const {
    return HasList() && (m_model->RowState(Item) & ListViewModel::StateFocused) != 0;
}

void ctlListView::SetItemFocused(int Item, bool Focused) {
    if (!HasList()) return;
    m_model->SetRowState(Item, ListViewModel::StateFocused,
                         Focused ? ListViewModel::StateFocused : 0);
}

void ctlListView::OnRowStateChanged(int row, int oldState, int newState) {
    if (oldState == 0 && (newState & ListViewModel::StateSelected)) emit ItemClick(row);
    m_itemIndex = row;
}

int ctlListView::ItemFindText(const QString& SearchText, int StartItem, int Coincidence) const {
    if (!HasList()) return -1;
    const int n = Count();
    const int from = std::max(StartItem, -1) + 1;
    const bool byParam = (Coincidence & FindParam) != 0;
    const bool prefix = (Coincidence & FindPartial) != 0;
    const int value = byParam ? LeadingInteger(SearchText) : 0;
    auto matches = [&](int row) {
        if (byParam) return m_model->UserValue(row) == value;
        const QString text = m_model->Cell(row, 0);
        return prefix ? text.startsWith(SearchText, Qt::CaseInsensitive)
                      : text.compare(SearchText, Qt::CaseInsensitive) == 0;
    };
    for (int row = from; row < n; ++row) {
        if (matches(row)) return row;
    }
    if (Coincidence & FindWrap) {
        for (int row = 0; row < std::min(from, n); ++row) {
            if (matches(row)) return row;
        }
    }
    return -1;
}

int ctlListView::ItemFindState(int StartItem, int State) const {
    if (!HasList()) return -1;
    const int n = Count();
    const int from = std::max(StartItem, -1) + 1;
    if (State == StateAny) return from < n ? from : -1;
    if (State & ~(StateFocused | StateSelected)) return -1;  // no row carries other flags
    if (State == StateFocused) {
        const int focused = m_model->FocusedRow();
        return focused >= from ? focused : -1;
    }
    for (int row = from; row < n; ++row) {
        if ((m_model->RowState(row) & State) == State) return row;
    }
    return -1;
}

int ctlListView::ItemHitTest(float X, float Y) const {
    if (!HasList() || m_model->IsChanging()) return -1;
    const QPoint at = m_view->viewport()->mapFrom(this, QPoint(qRound(X), qRound(Y)));
    if (!m_view->viewport()->rect().contains(at)) return -1;
    const QModelIndex index = m_view->indexAt(at);
    return index.isValid() ? index.row() : -1;
}

// ---- thumbnail info and pictures ------------------------------------------------

const QImage* ctlListView::PictureForRow(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_pictures.size()) return nullptr;
    return &m_pictures[static_cast<std::size_t>(row)];
}

void ctlListView::EnsureThumbInfo() {
    if (m_thumbInfo.size() != static_cast<std::size_t>(Count()))
        m_thumbInfo.resize(static_cast<std::size_t>(Count()));
}

void ctlListView::ThumbnailInfo_SetTBIH(int Index, const QByteArray& aTBIH) {
    if (Index < 0 || Index >= Count()) return;
    EnsureThumbInfo();
    m_thumbInfo[static_cast<std::size_t>(Index)].tbih = aTBIH;
}

bool ctlListView::ThumbnailInfo_GetTBIH(int Index, QByteArray& aTBIH) const {
    aTBIH.clear();
    if (Index < 0 || Index >= Count()) return false;
    if (static_cast<std::size_t>(Index) < m_thumbInfo.size())
        aTBIH = m_thumbInfo[static_cast<std::size_t>(Index)].tbih;
    return true;
}

void ctlListView::ThumbnailInfo_SetData(int Index, const QByteArray& aData) {
    if (Index < 0 || Index >= Count()) return;
    EnsureThumbInfo();
    m_thumbInfo[static_cast<std::size_t>(Index)].data = aData;
}

bool ctlListView::ThumbnailInfo_GetData(int Index, QByteArray& aData) const {
    aData.clear();
    if (Index < 0 || Index >= Count()) return false;
    if (static_cast<std::size_t>(Index) < m_thumbInfo.size())
        aData = m_thumbInfo[static_cast<std::size_t>(Index)].data;
    return true;
}

// ---- columns and sort marks -----------------------------------------------------

bool ctlListView::AddColumn(int lColumn, const QString& Caption, int Width, int lAlign) {
    if (!HasList()) return false;
    const bool added = m_model->InsertColumn(lColumn, Caption, Width, lAlign);
    // The first header item only renames the always-shown column; the header
    // view keeps that change pending, and a column inserted before it settles
    // is counted twice (a spare empty column). Asking for the count settles it.
    if (QHeaderView* header = Header()) (void)header->count();
    return added;
}

bool ctlListView::ClearColumn() {
    while (HasList() && m_model->RemoveColumn(0)) {
    }
    return true;
}

int ctlListView::ColumnIcon(int ColumnID) const {
    return HasList() ? m_model->ColumnImage(ColumnID) : -1;
}

void ctlListView::SetColumnIcon(int ColumnID, int Icon) {
    if (HasList()) m_model->SetColumnImage(ColumnID, Icon);
}

int ctlListView::ColumnWidth(int ColumnID) const {
    return HasList() ? m_model->ColumnWidth(ColumnID) : 0;
}

void ctlListView::SetColumnWidth(int ColumnID, int Width) {
    if (!HasList() || !m_model->SetColumnWidth(ColumnID, Width)) return;
    if (QHeaderView* header = Header())
        header->resizeSection(ColumnID, m_model->ColumnWidth(ColumnID));
}

int ctlListView::SortMark(int ColumnID) const {
    return ColumnID >= 0 && ColumnID < kSortColumns
               ? m_sortMarks[static_cast<std::size_t>(ColumnID)]
               : 0;
}

bool ctlListView::Sort(int ColumnID) {
    if (!HasList()) return false;
    m_lastSorted = ColumnID;
    for (int column = 0; column < kSortColumns; ++column) {
        if (column == ColumnID) continue;
        m_sortMarks[static_cast<std::size_t>(column)] = 0;
        m_model->SetColumnImage(column, -1);
    }
    // Only ten columns carry a mark; another column is refused here.
    if (ColumnID < 0 || ColumnID >= kSortColumns) return false;
    int& mark = m_sortMarks[static_cast<std::size_t>(ColumnID)];
    if (mark == 1) {
        mark = -1;
        m_model->SetColumnImage(ColumnID, 1);
    } else {
        mark = 1;
        m_model->SetColumnImage(ColumnID, 0);
    }
    return ListViewSort(m_view.data(), ColumnID, mark, 0);
}

void ctlListView::ApplySortMarks(int column, bool flip) {
    if (flip) {
        Sort(column);
        return;
    }
    m_lastSorted = column;
    for (int other = 0; other < kSortColumns; ++other) {
        if (other == column) continue;
        m_sortMarks[static_cast<std::size_t>(other)] = 0;
        m_model->SetColumnImage(other, -1);
    }
    ListViewSort(m_view.data(), column, SortMark(column), 0);
}

bool ctlListView::ListViewSort(QAbstractItemView*, int, int, int) {
    return false;
}

void ctlListView::HeaderClickPass(int column) {
    // Each cell of the column is written back as it reads (trimmed).
    m_model->RewriteColumn(column, TrimmedCell);
    if (column >= 0 && column < kSortColumns) {
        m_sortMarks[static_cast<std::size_t>(column)] = 1;
        m_model->SetColumnImage(column, 0);
    }
}

void ctlListView::OnHeaderClicked(int section) {
    QHeaderView* header = Header();
    if (header == nullptr) return;
    const QPoint at = m_headerRelease;
    if (Count() > 1) {
        HeaderClickPass(header->logicalIndexAt(at));
        m_reapplied = -1;
    }
    const QPoint screen = header->viewport()->mapToGlobal(at);
    emit ColumnClick(section, static_cast<float>(screen.x()), static_cast<float>(screen.y()));
}

void ctlListView::OnHeaderResized(int section, int, int newSize) {
    m_model->SetColumnWidth(section, newSize);
    if (m_viewMode == ViewReport || m_viewMode == ViewList) emit ColumnResize(section);
}

// ---- appearance ---------------------------------------------------------------

void ctlListView::SetBackColor(std::uint32_t Color) {
    if (!HasList()) return;
    m_backColor = Color & 0xFFFFFF;
    ApplyColors();
    ApplyViewSettings();
}

void ctlListView::SetTextBackColor(std::uint32_t Color) {
    if (!HasList()) return;
    m_textBackColor = Color & 0xFFFFFF;
    ApplyColors();
}

void ctlListView::SetTextColor(std::uint32_t Color) {
    if (!HasList()) return;
    m_textColor = Color & 0xFFFFFF;
    ApplyColors();
    ApplyViewSettings();
}

int ctlListView::BorderStyle() const {
    return HasList() ? m_borderStyle : 0;
}

void ctlListView::SetBorderStyle(int Style) {
    if (!HasList() || (Style != 0 && Style != 1)) return;
    m_borderStyle = Style;
    m_view->setFrameShape(Style == 1 ? QFrame::StyledPanel : QFrame::NoFrame);
}

void ctlListView::SetOLEDropMode(int Mode) {
    if (Mode != 0 && Mode != 1) return;
    m_dropMode = Mode;
    setAcceptDrops(Mode == 1);
}

void ctlListView::SetEnabled(bool Enabled) {
    if (!HasList()) return;
    setEnabled(Enabled);
}

void ctlListView::SetFont(const QFont& Font) {
    if (!HasList()) return;
    m_font = Font;
    setFont(Font);
    UpdateRowHeight();
}

void ctlListView::SetHideSelection(bool Hide) {
    if (!HasList()) return;
    m_hideSelection = Hide;
    ApplyViewSettings();
}

void ctlListView::SetMultiSelect(bool Multi) {
    if (!HasList()) return;
    m_multiSelect = Multi;
    m_model->SetSingleSelection(!Multi);
    m_view->setSelectionMode(Multi ? QAbstractItemView::ExtendedSelection
                                   : QAbstractItemView::SingleSelection);
}

// ---- events -------------------------------------------------------------------

void ctlListView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!m_view.isNull()) m_view->setGeometry(0, 0, width(), height());
    emit Resize();
}

void ctlListView::dragEnterEvent(QDragEnterEvent* event) {
    if (m_dropMode == 1) event->acceptProposedAction();
}

void ctlListView::dragMoveEvent(QDragMoveEvent* event) {
    if (m_dropMode == 1) event->acceptProposedAction();
}

void ctlListView::dropEvent(QDropEvent* event) {
    if (m_dropMode != 1) return;
    event->acceptProposedAction();
    const QPointF at = event->position();
    emit OLEDragDrop(event->mimeData(), DropEffectFromQt(event->dropAction()),
                     static_cast<short>(ButtonMaskFromQt(event->buttons())),
                     static_cast<short>(ShiftMaskFromQt(event->modifiers())),
                     static_cast<float>(at.x()), static_cast<float>(at.y()));
}

bool ctlListView::eventFilter(QObject* watched, QEvent* event) {
    QHeaderView* header = Header();
    if (header != nullptr && watched == header->viewport()) {
        if (event->type() == QEvent::MouseButtonRelease) {
            m_headerRelease = static_cast<QMouseEvent*>(event)->position().toPoint();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ctlListView::OnViewInput(QAbstractItemView* view, QEvent* event, bool after) {
    if (view != m_view.data() || m_binder == nullptr) return;
    ListSelectionBinder* binder = m_binder;
    if (!after) binder->BeginInput();
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!after) {
                m_pressInViewport = true;
                m_releaseEndsDoubleClick = false;
                if (mouse->button() == Qt::RightButton) {
                    // Raised before the list's own handling of the button.
                    const QModelIndex index = view->indexAt(mouse->position().toPoint());
                    if (index.isValid()) emit ItemRightClick(index.row());
                }
            }
            break;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (after && m_pressInViewport) {
                if (m_releaseEndsDoubleClick) {
                    m_releaseEndsDoubleClick = false;
                } else if (mouse->button() == Qt::LeftButton) {
                    binder->EndInput();
                    emit ListClick(1, 0, 0.0f, 0.0f);
                    return;
                } else if (mouse->button() == Qt::RightButton) {
                    binder->EndInput();
                    emit ListClick(2, 0, 0.0f, 0.0f);
                    return;
                }
                if (mouse->buttons() == Qt::NoButton) m_pressInViewport = false;
            }
            break;
        }
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (after) {
                binder->EndInput();
                m_releaseEndsDoubleClick = true;
                m_pressInViewport = true;
                if (mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton) {
                    const QModelIndex index = view->indexAt(mouse->position().toPoint());
                    m_dblClickColumn = index.isValid() ? index.column() : -1;
                    if (index.isValid()) emit ItemDblClick(index.row());
                }
                return;
            }
            break;
        }
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!after) {
                emit KeyDown(static_cast<short>(VirtualKeyFromQt(key->key())),
                             static_cast<short>(ShiftMaskFromQt(key->modifiers())));
            } else if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                       key->modifiers() == Qt::NoModifier && m_model->Source() && !IsEditing()) {
                // Enter edits the current cell, as F2 does.
                binder->EndInput();
                EditCurrent();
                return;
            }
            break;
        }
        default:
            break;
    }
    if (after) binder->EndInput();
}

// ---- rows held elsewhere ------------------------------------------------------

void ctlListView::SetRowSource(ListRowSource* source) {
    m_model->AttachSource(source);
    if (HasList())
        m_view->setEditTriggers(source ? QAbstractItemView::EditKeyPressed : QAbstractItemView::NoEditTriggers);
}

void ctlListView::OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (!HasList() || !current.isValid() || m_defaultEditColumn < 0) return;
    int column = current.column();
    // A row reached by keys starts at the default cell; a click keeps its cell.
    if (current.row() != previous.row() && QApplication::mouseButtons() == Qt::NoButton)
        column = m_defaultEditColumn;
    // Cells that cannot be edited are passed over (the serial).
    const ListRowSource* source = m_model->Source();
    if (source && !source->SourceEditable(column)) {
        const bool left = previous.isValid() && previous.row() == current.row() && column < previous.column();
        column = left ? previous.column() : m_defaultEditColumn;
    }
    if (column != current.column())
        m_view->selectionModel()->setCurrentIndex(m_model->index(current.row(), column),
                                                  QItemSelectionModel::NoUpdate);
}

bool ctlListView::EditCell(int Item, int ColumnID) {
    if (!HasList() || !m_model->Source() || Item < 0 || Item >= Count()) return false;
    if (!m_model->Source()->SourceEditable(ColumnID)) return false;
    const QModelIndex index = m_model->index(Item, ColumnID);
    m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_view->scrollTo(index);
    m_view->edit(index);
    return IsEditing();
}

bool ctlListView::EditCurrent() {
    if (!HasList()) return false;
    const QModelIndex current = m_view->currentIndex();
    if (!current.isValid()) return false;
    const int column = current.column() > 0 ? current.column() : std::max(m_defaultEditColumn, 0);
    return EditCell(current.row(), column);
}

int ctlListView::CurrentColumn() const {
    return HasList() && m_view->currentIndex().isValid() ? m_view->currentIndex().column() : -1;
}

bool ctlListView::IsEditing() const { return m_cellDelegate != nullptr && m_cellDelegate->Editing(); }

QString ctlListView::LastEditRefusal() const {
    return m_cellDelegate != nullptr ? m_cellDelegate->LastRefusal() : QString();
}

int ctlListView::EditorCursor() const { return m_cellDelegate != nullptr ? m_cellDelegate->EditorCursor() : -1; }

QString ctlListView::OnViewTip(QAbstractItemView* view, const QPoint& at) const {
    const QModelIndex index = view->indexAt(at);
    if (!index.isValid()) return QString();
    if (m_viewMode == ViewThumbnail) {
        QString tip = InfoTipText(index.row());
        tip.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return tip;
    }
    // Label tip: the whole cell, only when the list shows it cut.
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = view->visualRect(index);
    const int iconRoom = index.data(Qt::DecorationRole).isNull() ? 0 : view->iconSize().width() + 4;
    if (view->fontMetrics().horizontalAdvance(text) + iconRoom + 8 <= cell.width())
        return QString();
    return text;
}

}  // namespace lumeval
