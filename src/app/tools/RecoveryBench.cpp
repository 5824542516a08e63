// orvanne-recovery-bench OUTDIR: scans the first partition of the first listed image (named in
// ORVANNE_IMAGES) in the real window, ticks every photo and recovers them into OUTDIR, then prints
// the recovery's time and what its progress dialog showed while it ran (bench/gui-recovery).
#include "ui/CResultTableModel.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"
#include "util/TextUtil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <set>

namespace {
constexpr int SAMPLE_MS = 10;

// Samples the recovery dialog: the distinct bar values and status texts, then presses Finished.
class CProgressSampler : public QObject {
public:
    CProgressSampler() {
        connect(&m_timer, &QTimer::timeout, this, [this] { Sample(); });
        m_timer.start(SAMPLE_MS);
    }
    std::set<int> m_setBarValues;
    int m_nStatusTexts = 0;
    QString m_strLastRunning;
    QString m_strOutcome;

private:
    void Sample() {
        auto* pDialog = qobject_cast<SCANUI*>(QApplication::activeModalWidget());
        if (pDialog == nullptr || SCANUI::m_nOprType != OPR_TYPE_RECOVERY)
            return;
        m_setBarValues.insert(SCANUI::m_progressBar->value());
        const QString strStatus = pDialog->GetStatusText();
        if (strStatus != m_strLast && !strStatus.isEmpty()) {
            ++m_nStatusTexts;
            m_strLast = strStatus;
        }
        for (QPushButton* pButton : pDialog->findChildren<QPushButton*>()) {
            if (pButton->text() == "Finished") {
                m_strOutcome = strStatus;
                m_timer.stop();
                pButton->click();
                return;
            }
        }
        m_strLastRunning = strStatus;
    }
    QTimer m_timer;
    QString m_strLast;
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvanne-recovery-bench OUTDIR\n");
        return 2;
    }
    inner_initUnicodeMap("UTF-8");
    DRUI window;
    window.Init();
    window.btnSlot();
    window.show();
    auto* pDisks = window.findChild<QTreeWidget*>("diskTree");
    QTreeWidgetItem* pDisk = pDisks->topLevelItem(pDisks->topLevelItemCount() - 1);
    pDisks->setCurrentItem(pDisk->childCount() > 0 ? pDisk->child(0) : pDisk);
    QElapsedTimer timer;
    timer.start();
    window.btnSlotScan();
    const qint64 llScanMs = timer.restart();
    auto* pTree = window.findChild<QTreeWidget*>("resultTree");
    for (int i = 0; pTree != nullptr && i < pTree->topLevelItemCount(); ++i)
        if (pTree->topLevelItem(i)->text(0).startsWith("Photo("))
            pTree->topLevelItem(i)->setCheckState(0, Qt::Checked);
    const size_t nFiles =
        static_cast<size_t>(window.GetResultModel()->GetIndex().CountTicked(-1, -1));
    CProgressSampler sampler;
    timer.restart();
    window.RecoverSelectionTo(QString::fromLocal8Bit(argv[1]));
    const qint64 llRecoveryMs = timer.elapsed();
    std::printf("scan and search: %lld ms\n", static_cast<long long>(llScanMs));
    std::printf("recovery of %zu files: %lld ms (%.1f files/s)\n", nFiles,
                static_cast<long long>(llRecoveryMs),
                llRecoveryMs > 0 ? nFiles * 1000.0 / llRecoveryMs : 0.0);
    std::printf("overall bar: %zu distinct values from %d to %d; %d status texts shown\n",
                sampler.m_setBarValues.size(),
                sampler.m_setBarValues.empty() ? 0 : *sampler.m_setBarValues.begin(),
                sampler.m_setBarValues.empty() ? 0 : *sampler.m_setBarValues.rbegin(),
                sampler.m_nStatusTexts);
    std::printf("last running status:\n%s\noutcome:\n%s\n", qPrintable(sampler.m_strLastRunning),
                qPrintable(sampler.m_strOutcome));
    window.hide();
    return 0;
}
