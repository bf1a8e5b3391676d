// frmMain: start-up, layout, menus, status bar and shut-down.
#include "app/frmmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QThreadPool>

#include "app/documentrows.h"
#include "app/modregistry.h"
#include "controls/clscontrols.h"
#include "controls/ctllistview.h"
#include "controls/ctllistview_model.h"
#include "document/checks.h"
#include "document/document.h"
#include "document/recovery.h"
#include "controls/ucstatusbar.h"
#include "controls/waveformview.h"
#include "engine/subtitle.h"
#include "media/clsdirectshow.h"
#include "system/clssystem.h"
#include "taskbar/clstaskbar.h"

// The resources live in a static library: nothing would pull them in.
static void initEditorResources() { Q_INIT_RESOURCE(lumeval); }

namespace lumeval {

namespace {

struct MenuItem {
    const char16_t* caption;
    const char* tag;
};

// Captions and command words of the three menus; "-" is a separator.
const MenuItem kFileItems[] = {
    {u"打开字幕(&Open Subtitle)", "opensubtitle"},
    {u"保存字幕(&Save Subtitles)", "save"},
    {u"-", ""},
    {u"打开视频(Open &Video)", "openvideo"},
    {u"-", ""},
    {u"退出(E&xit)", "exit"},
};
constexpr int kPlayheadTickMs = 40;
/// The waveform's height under a picture.
constexpr int kWaveformHeight = 110;

const MenuItem kEditItems[] = {
    {u"查找\tCtrl-F", "find"},
    {u"查找下一个\tF3", "findnext"},
    {u"-", ""},
    {u"查找全部并选中(Find and &Select)", "findall"},
};
const MenuItem kHelpItems[] = {
    {u"初始化设置(&Reset)", "initsetting"},
    {u"-", "-"},
    {u"关于(&About)", "about"},
};

// The design's window font, where the system has it; Qt's fallback chain for
// Chinese text covers the rest.
QFont windowFont() {
    QFont font(QStringLiteral("微软雅黑"), 9);
    font.setBold(false);
    if (!QFontDatabase::families().contains(QStringLiteral("微软雅黑"))) {
        font = QApplication::font();
        font.setPointSize(9);
        font.setBold(false);
    }
    return font;
}

constexpr int kLeastTextWidth = 200;

double twipsPerPixel(const QWidget* w) {
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    return editor::TwipsPerPixel(screen ? screen->logicalDotsPerInch() : 96.0);
}

}  // namespace

frmMain::frmMain(frmMainOptions options) {
    initEditorResources();
    m_pendingPlayback = std::move(options.playback);
    m_system = options.systemUi ? std::make_unique<clsSystem>(std::move(options.systemUi))
                                : std::make_unique<clsSystem>();
    Form_Load();
}

frmMain::~frmMain() {
    // Indexing and backup memory made on pool threads report back to this
    // window: none may still be on its way while it goes.
    QThreadPool::globalInstance()->waitForDone();
    Form_Unload();
    // The lists go with the window; their sources before the documents,
    // which say nothing more to a window that is going.
    for (ctlListView* l : m_lists) l->SetRowSource(nullptr);
    for (auto& d : m_docs) d->disconnect(this);
}

QString frmMain::ProductName() { return QStringLiteral("Lumeval"); }

ctlListView* frmMain::List(int index) const {
    return index >= 0 && index < ListCount() ? m_lists[static_cast<std::size_t>(index)] : nullptr;
}

int frmMain::HotKeyCount() const { return m_hotKeys; }

doc::SubtitleDocument* frmMain::Document(int index) const {
    return index >= 0 && index < static_cast<int>(m_docs.size()) ? m_docs[static_cast<std::size_t>(index)].get()
                                                                  : nullptr;
}

void frmMain::Form_Load() {
    // 1. The objects the window owns.
    StartBackups();
    m_subtitle = std::make_unique<clsSubtitle>();
    ConnectEngine();
    m_taskBar = std::make_unique<clsTaskBar>();
    m_controls = std::make_unique<clsControls>();

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setAutoFillBackground(true);
    QPalette pal = m_client->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    m_client->setPalette(pal);
    setCentralWidget(m_client);

    // 2. Every message of the client through the routing layer; files dropped on it arrive too.
    if (m_controls->ssc_Subclass(m_client, 0, 1, nullptr, true, nullptr, false, 1)) {
        m_controls->ssc_AddMsg(m_client, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);
        m_hotKeys += m_controls->HotKeyActivate(m_client, 2, 70) != 0 ? 1 : 0;   // Ctrl+F
        m_hotKeys += m_controls->HotKeyActivate(m_client, 0, 112) != 0 ? 1 : 0;  // F1
        m_hotKeys += m_controls->HotKeyActivate(m_client, 0, 114) != 0 ? 1 : 0;  // F3
    }
    m_controls->CallBackProc = [this](bool bBefore, bool&, qint32&, QWidget* hwnd, qint32 uMsg,
                                      qint32 wParam, qint32 lParam, qint32&) {
        if (!bBefore && hwnd == m_client) ClientMessage(uMsg, wParam, lParam);
    };
    m_controls->OLEDragDrop = [this](const QString& FileName, bool bBefore) {
        OLEDragDrop(bBefore, FileName);
    };

    // 3. The playback object.
    m_directShow = std::make_unique<clsDirectShow>(std::move(m_pendingPlayback));
    // The playing cue and the seek bar follow the picture 25 times a second.
    m_directShow->TimerElapse(kPlayheadTickMs);
    m_directShow->PlayStatus = [this](double Position, double Duration, int Status) {
        PlayStatus(Position, Duration, Status);
    };
    m_directShow->PlayRect = [this](int Left, int Top, int Width, int Height) {
        PlayRect(Left, Top, Width, Height);
    };
    m_saveWindowPlacement = true;

    // 4. The window's icon.
    m_system->SetIcon(this, QStringLiteral("APPICON"), false);

    // 5. Menus.
    BuildMenus();

    // 6. Status bar with its four panels.
    const QFont font = windowFont();
    setFont(font);
    m_status = new ucStatusbar(m_client);
    m_status->ClearPanel();
    m_status->Initialize(true, true);
    m_status->Font(font);
    struct Panel {
        int minWidth, autoSize;
        const char16_t* text;
        const char16_t* tip;
    };
    const Panel panels[] = {
        {100, 1, u" 就绪", nullptr},
        {100, 2, nullptr, nullptr},
        {70, 2, u"软件主页", u"访问软件主页了解更多"},
        {70, 2, u"提交建议", u"提交建议与意见"},
    };
    for (const Panel& p : panels) {
        m_status->AddPanel(0, p.minWidth, 0, p.autoSize, p.text ? QString::fromUtf16(p.text) : QString(),
                           p.tip ? QString::fromUtf16(p.tip) : QString(), 0);
    }
    AddEncodingPanel();
    m_status->SizeGrip(!isMaximized());
    connect(m_status, &ucStatusbar::PanelClick, this, [this](int Panel, int Button) { PanelClick(Panel, Button); });

    // 7. Document list 0.
    AddList();

    // 8. Window colours and title: the product name, and the active file.
    UpdateTitle();
    qApp->installEventFilter(this);
    // The list with the keyboard focus is the active one: commands, the
    // status bar and the title always name the list the arrows move in.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (int i = 0; now && i < ListCount(); ++i) {
            if (m_lists[static_cast<std::size_t>(i)]->isAncestorOf(now) && i != m_activeList) {
                m_activeList = i;
                UpdateListStatus(i);
                break;
            }
        }
    });

    // 9. The stored placement.
    RestorePlacement();
}

void frmMain::BuildMenus() {
    struct Top {
        const char16_t* caption;
        const MenuItem* items;
        std::size_t count;
    };
    const Top tops[] = {
        {u"文件(&File)", kFileItems, std::size(kFileItems)},
        {u"编辑(&Edit)", kEditItems, std::size(kEditItems)},
        {u"帮助(&Help)", kHelpItems, std::size(kHelpItems)},
    };
    for (const Top& t : tops) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf16(t.caption));
        m_menus << menu;
        const bool edit = t.items == kEditItems;
        for (std::size_t i = 0; i < t.count; ++i) {
            const QString caption = QString::fromUtf16(t.items[i].caption);
            const QString tag = QString::fromLatin1(t.items[i].tag);
            if (caption == QStringLiteral("-")) {
                menu->addSeparator()->setData(tag);
                continue;
            }
            QAction* action = menu->addAction(caption);
            action->setData(tag);
            connect(action, &QAction::triggered, this, [this, action] { RunCommand(action->data().toString()); });
        }
        if (edit) {
            BuildReplaceMenu(menu);
            BuildEditingMenu(menu);
            BuildChecksMenu(menu);
            BuildTimingMenu(menu);
        }
        if (t.items == kFileItems) {
            BuildSavingMenu(menu);
            BuildEncodingMenu(menu);
        }
    }
    BuildPlayMenu();
}

void frmMain::PrepareList(ctlListView* list) {
    list->SetRedraw(false);
    list->ClearColumn();
    list->Clear();
    list->Initialize(QString(), QStringLiteral("|"), 1);
    list->SetFont(font());
    list->SetBackColor(0xFFFFFF);
    list->SetTextColor(0);
    list->SetTextBackColor(list->BackColor());
    list->SetThumbnailSize(64, 64);
    list->SetOLEDropMode(0);
    list->SetBorderStyle(0);
    list->SetMultiSelect(true);
    list->AddColumn(0, QStringLiteral("序号"), 30);
    list->AddColumn(1, QStringLiteral("开始位置"), 120);
    list->AddColumn(2, QStringLiteral("结束位置"), 120);
    list->AddColumn(3, QStringLiteral("字幕内容"), 250);
    list->SetRedraw(true);
    list->setVisible(true);
}

ctlListView* frmMain::AddList() {
    auto* list = new ctlListView(m_client);
    const int index = ListCount();
    list->setObjectName(QStringLiteral("ctlListView1_%1").arg(index));
    m_lists.push_back(list);
    PrepareList(list);
    // The list shows a document: its rows live there, edits are undoable steps.
    auto document = std::make_unique<doc::SubtitleDocument>();
    auto* rows = new DocumentRows(document.get(), list->Model(), list);
    rows->SetGate([this] { return RunInProgress() ? QStringLiteral("正在处理，请稍候") : QString(); });
    list->SetRowSource(rows);
    list->SetDefaultEditColumn(doc::ColText);
    connect(document.get(), &doc::SubtitleDocument::ChangedStateChanged, this, [this] { UpdateTitle(); });
    // The status bar's row count follows every change of the active document.
    auto recount = [this, index] {
        if (index == m_activeList && !Document(index)->Loading()) UpdateListStatus(index);
    };
    connect(document.get(), &doc::SubtitleDocument::RowsInserted, this, recount);
    connect(document.get(), &doc::SubtitleDocument::RowsRemoved, this, recount);
    connect(document.get(), &doc::SubtitleDocument::ResetDone, this, recount);
    m_docs.push_back(std::move(document));
    m_sources.push_back(rows);
    WatchForBackups(index);
    CheckDocument(index);
    // Drops on a list reach the window like drops on the window itself.
    list->setAcceptDrops(false);
    connect(list, &ctlListView::ListClick, this,
            [this, index](short Button, short, float, float) { ListClick(index, Button); });
    connect(list, &ctlListView::ColumnClick, this,
            [this, index](int Column, float, float) { ColumnClick(index, Column); });
    connect(list, &ctlListView::ItemDblClick, this, [this, index](int Item) { ItemDblClick(index, Item); });
    if (m_status) m_status->raise();
    return list;
}

bool frmMain::ListHasRows(int index) const {
    const ctlListView* l = List(index);
    return l && l->Count() > 0;
}

bool frmMain::ListOpen(int index) const {
    const ctlListView* l = List(index);
    return l && !l->isHidden() && l->Count() > 0;
}

void frmMain::UpdateListStatus(int index) {
    if (index == m_activeList) {
        UpdateTitle();
        UpdateEncodingPanel();
    }
    const ctlListView* l = List(index);
    if (!l || l->Tag().isEmpty()) return;
    m_status->PanelText(1, QStringLiteral(" ") + l->Tag());
    m_status->PanelText(2, QStringLiteral(" ") + QString::number(l->Count()) + QStringLiteral(" 行"));
}

bool frmMain::PreviewOpen() const { return m_directShow && m_directShow->Status() != 0; }

void frmMain::Form_Resize() {
    if (!m_client || !m_status) return;
    const int clientWidth = m_client->width();
    const int clientHeight = m_client->height();
    std::vector<ctlListView*> visible;
    for (ctlListView* l : m_lists)
        if (!l->isHidden()) visible.push_back(l);
    const bool media = PreviewOpen();

    // Six-digit serials fit; the design's 40 pixels stay the least.
    const int serialWidth = std::max(40, fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 8);
    int fixed = 240;
    if (!visible.empty()) {
        ctlListView* first = visible.front();
        first->SetColumnWidth(0, serialWidth);
        first->SetColumnWidth(1, 100);
        first->SetColumnWidth(2, 100);
        fixed = first->ColumnWidth(0) + first->ColumnWidth(1) + first->ColumnWidth(2);
    }
    editor::Layout layout = editor::ComputeLayout(
        clientWidth, clientHeight, m_status->height(), static_cast<int>(visible.size()), media, fixed);
    if (media && m_waveform)
        editor::PlaceWaveform(layout, m_directShow->VideoWidth() > 0 && m_directShow->VideoHeight() > 0, kWaveformHeight);
    for (std::size_t i = 0; i < visible.size(); ++i) {
        ctlListView* l = visible[i];
        l->SetColumnWidth(0, serialWidth);
        l->SetColumnWidth(1, 100);
        l->SetColumnWidth(2, 100);
        // Text stays readable: a narrow list scrolls sideways instead.
        l->SetColumnWidth(3, std::max(kLeastTextWidth, layout.lists[i].textWidth));
        l->setGeometry(layout.lists[i].rect);
    }
    if (media) {
        m_directShow->DS_ChangeTarget(layout.video.x(), layout.video.y(), layout.video.width(),
                                      layout.video.height(), m_client);
        m_seekBarRect = layout.seekBar;
        if (m_waveform && !layout.waveform.isEmpty()) {
            m_waveform->setGeometry(layout.waveform);
            m_waveform->show();
            m_waveform->raise();
            const QRect& w = layout.waveform;
            m_waveformRect = editor::WinRect{w.left(), w.top(), w.left() + w.width(), w.top() + w.height()};
        }
        if (m_directShow->Status() == 2) DrawSeekBar();
    }
    m_status->SizeGrip(!isMaximized());
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::RestorePlacement() {
    if (windowState() != Qt::WindowNoState) return;
    const double tpp = twipsPerPixel(this);
    const QRect screen = (this->screen() ? this->screen() : QGuiApplication::primaryScreen())->geometry();
    const double screenW = screen.width() * tpp, screenH = screen.height() * tpp;
    // With no stored placement the window opens big enough for three
    // documents side by side (1280 x 720 where the screen has room).
    const double firstWidth = std::max(12000.0, std::min(1280.0 * tpp, screenW));
    const double firstHeight = std::max(7500.0, std::min(720.0 * tpp, screenH));
    const double width = editor::LeadingNumber(
        modRegistry::ReadSetting(QStringLiteral("WindowWidth"), QString::number(firstWidth)));
    const double height = editor::LeadingNumber(
        modRegistry::ReadSetting(QStringLiteral("WindowHeight"), QString::number(firstHeight)));
    const double left = editor::LeadingNumber(modRegistry::ReadSetting(
        QStringLiteral("WindowPosX"), QString::number((screenW - width) / 2)));
    const double top = editor::LeadingNumber(modRegistry::ReadSetting(
        QStringLiteral("WindowPosY"), QString::number((screenH - height) / 2)));
    // The placement is the frame's, as the stored twips were measured.
    resize(std::max(1, editor::RoundHalfEven(width / tpp)), std::max(1, editor::RoundHalfEven(height / tpp)));
    move(editor::RoundHalfEven(left / tpp), editor::RoundHalfEven(top / tpp));
}

void frmMain::StorePlacement() {
    if (!m_saveWindowPlacement || windowState() != Qt::WindowNoState) return;
    const double tpp = twipsPerPixel(this);
    modRegistry::WriteSetting(QStringLiteral("WindowPosX"), QString::number(pos().x() * tpp));
    modRegistry::WriteSetting(QStringLiteral("WindowPosY"), QString::number(pos().y() * tpp));
    modRegistry::WriteSetting(QStringLiteral("WindowWidth"), QString::number(width() * tpp));
    modRegistry::WriteSetting(QStringLiteral("WindowHeight"), QString::number(height() * tpp));
}

void frmMain::closeEvent(QCloseEvent* event) {
    // A run in progress is cancelled first; the window closes once it has
    // returned, since the engine is still on the stack below this handler.
    if (RunInProgress()) {
        CancelRun();
        m_closeAfterRun = true;
        event->ignore();
        return;
    }
    if (!m_discardConfirmed && !ConfirmDiscardAll()) {
        event->ignore();
        return;
    }
    m_discardConfirmed = true;
    // Every changed document was saved or given up by the user's answers.
    DropAllBackups();
    Form_Unload();
    event->accept();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && m_running > 0 &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        const auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this) {
            CancelRun();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::Form_Unload() {
    if (m_unloaded) return;
    m_unloaded = true;
    qApp->removeEventFilter(this);
    // 1. The medium goes first: its events still reach a whole window.
    if (m_directShow) {
        if (PreviewOpen()) m_directShow->DS_Remove(true);
        m_directShow->PlayStatus = nullptr;
        m_directShow->PlayRect = nullptr;
        m_directShow.reset();
    }
    // 2. Lists 1 to last.
    while (m_lists.size() > 1) {
        delete m_lists.back();
        m_lists.pop_back();
    }
    // 3. The rest of the objects.
    m_videoRect = {};
    m_seekBarRect = {};
    if (m_controls) {
        m_controls->CallBackProc = nullptr;
        m_controls->OLEDragDrop = nullptr;
        m_controls->ssc_Terminate();
    }
    // 4. The placement, only for a normal window.
    StorePlacement();
    m_controls.reset();
    m_taskBar.reset();
    m_subtitle.reset();
}

void frmMain::PanelClick(int Panel, int Button) {
    if (Button != 1) return;
    if (Panel == 3) m_system->ShellOpen(editor::kHomePage);
    if (Panel == 4) m_system->ShellOpen(editor::kFeedbackPage);
    if (Panel == kEncodingPanel && m_reopenMenu) m_reopenMenu->popup(QCursor::pos());
}

}  // namespace lumeval
