// Renders a document list of a few hundred rows above the editor's status bar
// to a PNG, so a person can look at the controls without a display.
//
//   lumeval_screenshot [out.png]      (default: screenshot.png here)
#include <QAbstractItemView>
#include <QApplication>
#include <QPixmap>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"

namespace {

QString timeText(long long ms) {
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60,
                             ms / 1000 % 60, ms % 1000);
}

const char* const kLines[] = {
    "我们明天早上八点在车站见面。",
    "你听到刚才的声音了吗？",
    "这件事情没有你想象的那么简单。",
    "Where did you put the keys?",
    "别担心，一切都会好起来的。",
    "他说他会在周末之前完成。",
    "I never said that.",
    "雨下得越来越大了，我们回去吧。",
};

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png");

    // The editor's window font; fontconfig substitutes a CJK face where it is missing.
    QFont windowFont(QStringLiteral("微软雅黑"), 9);
    windowFont.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("WenQuanYi Micro Hei")});

    QWidget window;
    window.setFont(windowFont);
    window.setWindowTitle(QStringLiteral("Lumeval"));
    window.resize(900, 560);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // A document list prepared as the editor prepares each one.
    const int rows = 400;
    auto* list = new lumeval::ctlListView(&window);
    list->SetRedraw(false);
    list->ClearColumn();
    list->Initialize(QString(), QStringLiteral("|"), lumeval::ctlListView::ViewReport);
    list->SetFont(windowFont);
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
    for (int r = 0; r < rows; ++r) {
        const long long start = 1000LL + r * 3170LL;
        list->AddItem(
            QStringLiteral("%1|%2|%3|%4")
                .arg(r + 1)
                .arg(timeText(start), timeText(start + 2400), QString::fromUtf8(kLines[r % 8])));
    }
    list->SetRedraw(true);
    list->SetColumnWidth(0, 40);
    list->SetColumnWidth(1, 100);
    list->SetColumnWidth(2, 100);
    list->SetItemSelected(3, true);
    layout->addWidget(list, 1);

    auto* status = new lumeval::ucStatusbar(&window);
    layout->addWidget(status);
    status->ClearPanel();
    status->Initialize(true, true);
    status->Font(windowFont);
    status->AddPanel(0, 100, 0, 1, QStringLiteral(" /home/user/字幕/示例影片.srt"), QString(), -1);
    status->AddPanel(0, 100, 0, 2, QStringLiteral(" %1 行").arg(rows), QString(), -1);
    status->AddPanel(0, 70, 0, 2, QStringLiteral("软件主页"),
                     QStringLiteral("访问软件主页了解更多"), -1);
    status->AddPanel(0, 70, 0, 2, QStringLiteral("提交建议"), QStringLiteral("提交建议与意见"), -1);

    window.show();
    QApplication::processEvents();
    // The text column takes the rest of the list's visible width.
    if (auto* view = qobject_cast<QAbstractScrollArea*>(list->hwnd())) {
        list->SetColumnWidth(3, view->viewport()->width() - 40 - 100 - 100);
        QApplication::processEvents();
    }
    const QPixmap shot = window.grab();
    if (!shot.save(out, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}
