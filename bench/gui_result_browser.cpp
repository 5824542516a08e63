// The result browser with a million hits: writes the million-BMP image to the path given, scans
// it deep, then times the table until its first rows are painted, a sort by every column, and
// a filter typed one key at a time; prints each figure and the peak resident size. Runs on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "MillionImage.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/CDiskRegistry.h"
#include "store/CLogFileManager.h"
#include "ui/CResultFolderModel.h"
#include "ui/CResultTableModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

using namespace million_image;

namespace {

// Wall time and this process's CPU time: on a shared machine the CPU time is what an idle
// machine's wall time would be. Figures print as "wall ms (cpu ms)" and targets are judged on
// the CPU time.
struct CStopwatch {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double dCpuStart = CpuMs();

    static double CpuMs() {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    }
    double WallMs() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall)
            .count();
    }
    double CpuSpentMs() const { return CpuMs() - dCpuStart; }
    std::string Text() const {
        char szText[64];
        std::snprintf(szText, sizeof(szText), "%.0f ms (cpu %.0f ms)", WallMs(), CpuSpentMs());
        return szText;
    }
};

// Lets the view lay out and paint what the model now holds.
void Settle(QTableView& view) {
    view.viewport()->repaint();
    QApplication::processEvents();
}

double TypeFilter(CResultTableModel& model, QTableView& view, const std::string& strText) {
    double dWorst = 0;
    RESULT_FILTER filter;
    for (size_t i = 1; i <= strText.size(); ++i) {
        filter.strName = strText.substr(0, i);
        CStopwatch watch;
        model.SetFilter(filter);
        Settle(view);
        std::printf("  filter \"%s\": %d rows in %s\n", filter.strName.c_str(), model.rowCount(),
                    watch.Text().c_str());
        dWorst = std::max(dWorst, watch.CpuSpentMs());
    }
    model.SetFilter(RESULT_FILTER{});
    return dWorst;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: bench_gui_result_browser IMAGE [SCREENSHOT_DIR]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::string strImage = argv[1];
    char szLogs[] = "/tmp/orvanne-bench-gui-XXXXXX";
    if (mkdtemp(szLogs) == nullptr || !WriteImage(strImage))
        return 1;
    setenv("ORVANNE_SCANLOG_DIR", szLogs, 1);
    CLogFileManager::GetInstance()->Init();
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    std::unique_ptr<IFileRecoveryParse> pEngine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            nDisk, 0, static_cast<long long>(FILE_COUNT), u'C', RECOVERY_TYPE_DEEP));
    if (!pEngine)
        return 1;
    static_cast<CProfessionalRecovery*>(pEngine.get())->SetNotLoadLogFile();
    pEngine->ScanDevice(nullptr);
    std::printf("scan: %u files; peak RSS %.1f MiB\n", pEngine->GetLostFileCount(),
                PeakRssKiB() / 1024.0);

    CStopwatch ready;
    std::unique_ptr<ISearchCursor> pCursor;
    pEngine->OpenSearchCursor(u"*.bmp|", pCursor);
    std::printf("  search cursor open: %s\n", ready.Text().c_str());
    CResultRowIndex index;
    index.Load(*pCursor);
    pCursor.reset();
    std::printf("  row index loaded: %s\n", ready.Text().c_str());
    CResultTableModel model(pEngine.get(), std::move(index));
    QTableView view;
    view.resize(1100, 600);
    view.setModel(&model);
    view.setSortingEnabled(false);
    view.verticalHeader()->hide();
    view.verticalHeader()->setDefaultSectionSize(22);
    view.horizontalHeader()->setStretchLastSection(true);
    view.setColumnWidth(COLUMN_NAME, 260);
    view.setColumnWidth(COLUMN_PATH, 220);
    view.show();
    Settle(view);
    std::printf("result page ready: %d rows, first rows shown in %s (target 1000)\n",
                model.rowCount(), ready.Text().c_str());

    double dWorstSort = 0;
    for (int nColumn = 0; nColumn < COLUMN_COUNT; ++nColumn) {
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            CStopwatch watch;
            model.sort(nColumn, order);
            Settle(view);
            std::printf("  sort by %s %s: %s\n",
                        model.headerData(nColumn, Qt::Horizontal, Qt::DisplayRole)
                            .toString()
                            .toUtf8()
                            .constData(),
                        order == Qt::AscendingOrder ? "up" : "down", watch.Text().c_str());
            dWorstSort = std::max(dWorstSort, watch.CpuSpentMs());
        }
    }
    std::printf("sort by any column: worst cpu %.0f ms (target 1000)\n", dWorstSort);
    model.sort(COLUMN_NAME, Qt::AscendingOrder);

    double dWorstKey =
        std::max(TypeFilter(model, view, "12345"), TypeFilter(model, view, "*7.bmp"));
    std::printf("filter as you type: worst cpu %.0f ms per key (target 200)\n", dWorstKey);
    CStopwatch treeWatch;
    CResultFolderModel folders(model);
    QTreeView tree;
    tree.resize(600, 600);
    tree.setUniformRowHeights(true);
    tree.header()->setStretchLastSection(true);
    tree.setModel(&folders);
    tree.setColumnWidth(0, 400);
    tree.expandToDepth(1);
    tree.show();
    tree.viewport()->repaint();
    QApplication::processEvents();
    std::printf("folder tree ready: %d top folders in %s\n", folders.rowCount(),
                treeWatch.Text().c_str());
    if (argc == 3) {
        view.horizontalHeader()->setSortIndicator(COLUMN_NAME, Qt::AscendingOrder);
        view.horizontalHeader()->setSortIndicatorShown(true);
        Settle(view);
        view.grab().save(QString(argv[2]) + "/result-browser-million.png");
        tree.expand(folders.index(0, 0, folders.index(0, 0)));
        tree.grab().save(QString(argv[2]) + "/folder-tree-million.png");
    }
    std::printf("GUI peak RSS %.1f MiB (target 256)\n", PeakRssKiB() / 1024.0);
    view.hide();
    pEngine.reset();
    std::error_code ec;
    std::filesystem::remove_all(szLogs, ec);
    return 0;
}
