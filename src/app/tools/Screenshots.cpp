// orvanne-screenshots DIR: renders the main window's pages and the dialogs to PNG files in DIR
// (run through scripts/screenshots, under the offscreen platform, with the demo image listed).
#include "ui/CDetail.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"
#include "util/TextUtil.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <utility>

namespace {
constexpr int POLL_MS = 50;
constexpr int GIVE_UP_MS = 120000;

bool SaveGrab(QWidget& widget, const QString& strPath) {
    widget.show();
    QApplication::processEvents();
    if (widget.grab().save(strPath))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(strPath));
    return false;
}

QPushButton* FindButton(QWidget* pWidget, const QString& strText) {
    for (QPushButton* pButton : pWidget->findChildren<QPushButton*>())
        if (pButton->text() == strText && pButton->isVisible())
            return pButton;
    return nullptr;
}

QTreeWidgetItem* FindItemStartingWith(QTreeWidgetItem* pParent, const QString& strPrefix) {
    for (int i = 0; i < pParent->childCount(); ++i)
        if (pParent->child(i)->text(0).startsWith(strPrefix))
            return pParent->child(i);
    return nullptr;
}

// Answers the modal dialogs that open while it lives: grabs and confirms questions, cancels a
// scan when asked to, and for a recovery grabs the finished dialog and its
// detail list before pressing Finished. Pictures are named with the prefix.
class CDialogDriver : public QObject {
public:
    CDialogDriver(const QString& strPrefix, bool bCancelScan = false)
        : m_strPrefix(strPrefix), m_bCancelScan(bCancelScan) {
        connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start(POLL_MS);
    }
    bool m_bOk = true;

private:
    void Poll() {
        QWidget* pModal = QApplication::activeModalWidget();
        if (pModal == nullptr)
            return;
        if (auto* pQuestion = qobject_cast<CMessageBox*>(pModal)) {
            m_bOk = SaveGrab(*pQuestion, m_strPrefix + "-question.png") && m_bOk;
            FindButton(pQuestion, "Yes")->click();
        } else if (auto* pDetail = qobject_cast<CDetail*>(pModal)) {
            m_bOk = SaveGrab(*pDetail, m_strPrefix + "-detail.png") && m_bOk;
            FindButton(pDetail, "OK")->click();
            m_bDetailShown = true;
        } else if (auto* pProgress = qobject_cast<SCANUI*>(pModal)) {
            if (m_bCancelScan && SCANUI::m_nOprType == OPR_TYPE_SCAN) {
                m_bCancelScan = false;
                QTimer::singleShot(0, pProgress, [pProgress] { pProgress->close(); });
                return;
            }
            QPushButton* pFinished = FindButton(pProgress, "Finished");
            if (pFinished == nullptr)
                return;
            if (!m_bDetailShown) {
                m_bOk = SaveGrab(*pProgress, m_strPrefix + "-progress.png") && m_bOk;
                QTimer::singleShot(0, pProgress, [pProgress] { pProgress->btnDetail(); });
                return;
            }
            m_timer.stop();
            pFinished->click();
        }
    }
    QString m_strPrefix;
    bool m_bCancelScan;
    QTimer m_timer;
    bool m_bDetailShown = false;
};

// The main window whose next scan is stopped at its first report, as a user's early Cancel
// does on a disk far larger than the demo.
class CStoppingWindow : public DRUI {
public:
    bool m_bStopNextScan = false;

protected:
    IFileRecoveryParse* CreateEngine(int nDiskNo, long long llStartSector, long long llSectorCount,
                                     char16_t wcDriveLetter, RECOVERY_TYPE nRecoveryType) override {
        m_bScanStop = std::exchange(m_bStopNextScan, false);
        return DRUI::CreateEngine(nDiskNo, llStartSector, llSectorCount, wcDriveLetter,
                                  nRecoveryType);
    }
};

// Scans the disk's first partition and shows its photos with the first one previewed and all
// of them ticked.
bool ShowPhotos(DRUI& window, int nDisk) {
    auto* pDisks = window.findChild<QTreeWidget*>("diskTree");
    pDisks->setCurrentItem(pDisks->topLevelItem(nDisk)->child(0));
    window.btnSlotScan();
    auto* pTree = window.findChild<QTreeWidget*>("resultTree");
    if (pTree == nullptr)
        return false;
    QTreeWidgetItem* pPhoto = FindItemStartingWith(pTree->invisibleRootItem(), "Photo(");
    if (pPhoto == nullptr)
        return false;
    pPhoto->setCheckState(0, Qt::Checked);
    QTreeWidgetItem* pJpg = FindItemStartingWith(pPhoto, "jpg ");
    pTree->setCurrentItem(pJpg != nullptr ? pJpg : pPhoto->child(0));
    return true;
}

// Shows the first file that is not a picture, in the hex and text view.
void ShowHexPreview(DRUI& window) {
    auto* pTree = window.findChild<QTreeWidget*>("resultTree");
    for (const char* pCategory : {"Music(", "Video("})
        if (QTreeWidgetItem* pNode = FindItemStartingWith(pTree->invisibleRootItem(), pCategory)) {
            pTree->setCurrentItem(pNode->child(0));
            return;
        }
}

// Goes back to the device page and scans the disk's first partition again.
void Rescan(CStoppingWindow& window, int nDisk, const QString& strPrefix, bool bStop) {
    CDialogDriver driver(strPrefix, bStop);
    window.m_bStopNextScan = bStop;
    window.btnSlotBack();
    auto* pDisks = window.findChild<QTreeWidget*>("diskTree");
    pDisks->setCurrentItem(pDisks->topLevelItem(nDisk)->child(0));
    window.btnSlotScan();
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvanne-screenshots DIR\n");
        return 2;
    }
    inner_initUnicodeMap("UTF-8");
    const QString strDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(strDir);
    QTimer::singleShot(GIVE_UP_MS, [] {
        std::fprintf(stderr, "orvanne-screenshots: gave up waiting for the scan\n");
        std::exit(1);
    });

    CStoppingWindow window;
    window.Init();
    window.resize(DRUI::WINDOW_WIDTH, DRUI::WINDOW_HEIGHT);
    bool bOk = SaveGrab(window, strDir + "/page1-file-kinds.png");
    window.btnSlot();
    bOk = SaveGrab(window, strDir + "/page2-devices.png") && bOk;

    SCANUI progress;
    progress.InitSlot(&window, OPR_TYPE_SCAN);
    progress.ScanProcessCallBackSlot(62, 90, 185, "1302528", "2097152", "23", QString());
    bOk = SaveGrab(progress, strDir + "/scan-progress.png") && bOk;
    progress.hide();

    CMessageBox question;
    question.InitQuestionDialog("Are you sure to cancel the scanning?", false);
    bOk = SaveGrab(question, strDir + "/question.png") && bOk;
    question.hide();

    if (!ShowPhotos(window, 0)) {
        std::fprintf(stderr, "orvanne-screenshots: the scan found no photos\n");
        return 1;
    }
    bOk = SaveGrab(window, strDir + "/page3-results.png") && bOk;
    ShowHexPreview(window);
    bOk = SaveGrab(window, strDir + "/page3-hex-preview.png") && bOk;
    FindButton(&window, "Folder view")->click();
    if (auto* pFolders = window.findChild<QTreeView*>("folderView"))
        pFolders->expandAll();
    bOk = SaveGrab(window, strDir + "/page3-folder-view.png") && bOk;
    FindButton(&window, "Folder view")->click();

    QTemporaryDir recoveryDir;
    {
        CDialogDriver driver(strDir + "/recover");
        window.RecoverSelectionTo(recoveryDir.path());
        bOk = driver.m_bOk && bOk;
    }
    // A plain file where the photo folder belongs: every photo fails, and the dialog says so.
    QTemporaryDir blockedDir;
    QFile blocker(blockedDir.path() + "/photo");
    bOk = blocker.open(QIODevice::WriteOnly) && bOk;
    blocker.close();
    {
        CDialogDriver driver(strDir + "/recover-failed");
        window.RecoverSelectionTo(blockedDir.path());
        bOk = driver.m_bOk && bOk;
    }

    {
        CDialogDriver driver(strDir + "/leave-results");
        window.btnSlotBack();
    }
    window.btnEarlierScansSlot();
    bOk = SaveGrab(window, strDir + "/page4-earlier-scans.png") && bOk;

    Rescan(window, 0, strDir + "/partial", true);
    bOk = SaveGrab(window, strDir + "/page3-partial-scan.png") && bOk;
    Rescan(window, 1, strDir + "/empty", false);
    bOk = SaveGrab(window, strDir + "/page3-empty-result.png") && bOk;
    window.hide();
    return bOk ? 0 : 1;
}
