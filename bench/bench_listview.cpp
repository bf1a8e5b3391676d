// Fills a report list the way the editor loads a document: redraw off, N rows
// of four cells, redraw on; then selects and scrolls. Prints the times and
// the memory the rows cost against the size of their texts.
//
//   lumeval-bench-listview [N ...]      default: 200000 1000000
#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTableView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "controls/ctllistview.h"
#include "proc_status.h"

namespace {

QString RowText(long i) {
    // Cells as the editor fills them: number, start, end, text.
    const long ms = i * 3100;
    const QString start = QString::asprintf("%02ld:%02ld:%02ld,%03ld", ms / 3600000 % 100,
                                            ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    const long endMs = ms + 2500;
    const QString end = QString::asprintf("%02ld:%02ld:%02ld,%03ld", endMs / 3600000 % 100,
                                          endMs / 60000 % 60, endMs / 1000 % 60, endMs % 1000);
    static const QString texts[] = {QString::fromUtf8("你好，世界！这是第一行字幕。"),
                                    QStringLiteral("This is a line of dialogue, fairly ordinary."),
                                    QString::fromUtf8("第二行\\NSecond line")};
    return QString::number(i + 1) + '|' + start + '|' + end + '|' + texts[i % 3];
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::strtol(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {200000, 1000000};

    std::printf("| Rows | Fill (s) | Select last + scroll (ms) | Cell text (MiB) | RSS growth (MiB) | Limit (MiB) |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    for (long n : sizes) {
        // Texts built first, so the timing covers the list alone.
        std::vector<QString> rows;
        rows.reserve(static_cast<std::size_t>(n));
        double textBytes = 0;
        for (long i = 0; i < n; ++i) {
            rows.push_back(RowText(i));
            textBytes += static_cast<double>(rows.back().size() - 3) * 2;  // UTF-16, bars excluded
        }
        const long before = StatusKb("VmRSS");
        {
            lumeval::ctlListView list;
            list.resize(800, 600);
            list.Initialize(QString(), QStringLiteral("|"), 1);
            list.AddColumn(0, QString::fromUtf8("序号"), 60);
            list.AddColumn(1, QString::fromUtf8("开始时间"), 100);
            list.AddColumn(2, QString::fromUtf8("结束时间"), 100);
            list.AddColumn(3, QString::fromUtf8("字幕"), 400);
            list.show();
            app.processEvents();

            const auto t0 = std::chrono::steady_clock::now();
            list.SetRedraw(false);
            for (const QString& r : rows) list.AddItem(r);
            list.SetRedraw(true);
            app.processEvents();
            const double fill = Seconds(t0);
            const long after = StatusKb("VmRSS");

            const auto t1 = std::chrono::steady_clock::now();
            list.SetItemSelected(static_cast<int>(n - 1), true);
            list.ItemEnsureVisible(static_cast<int>(n - 1));
            app.processEvents();
            const double select = Seconds(t1) * 1000;

            const double textMiB = textBytes / 1048576.0;
            const double growth = static_cast<double>(after - before) / 1024.0;
            std::printf("| %ld | %.3f | %.1f | %.1f | %.1f | %.1f |\n", n, fill, select, textMiB, growth,
                        3 * textMiB + 50);
            std::fflush(stdout);
        }
    }
    return 0;
}
