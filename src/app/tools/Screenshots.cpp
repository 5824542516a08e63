// orvanne-screenshots DIR: renders the main window's pages and the dialogs to PNG files in DIR
// (run through scripts/screenshots, under the offscreen platform, with the demo image listed).
#include "ui/CDetail.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"
#include "util/TextUtil.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

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

// Answers the modal dialogs of the recovery run: grabs and confirms the destination question,
// grabs the finished progress dialog and its detail list, then presses Finished.
class CRecoveryDriver : public QObject {
public:
    CRecoveryDriver(const QString& strDir) : m_strDir(strDir) {
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
            m_bOk = SaveGrab(*pQuestion, m_strDir + "/recover-question.png") && m_bOk;
            FindButton(pQuestion, "Yes")->click();
        } else if (auto* pDetail = qobject_cast<CDetail*>(pModal)) {
            m_bOk = SaveGrab(*pDetail, m_strDir + "/recover-detail.png") && m_bOk;
            FindButton(pDetail, "OK")->click();
            m_bDetailShown = true;
        } else if (auto* pProgress = qobject_cast<SCANUI*>(pModal)) {
            QPushButton* pFinished = FindButton(pProgress, "Finished");
            if (pFinished == nullptr)
                return;
            if (!m_bDetailShown) {
                m_bOk = SaveGrab(*pProgress, m_strDir + "/recover-progress.png") && m_bOk;
                QTimer::singleShot(0, pProgress, [pProgress] { pProgress->btnDetail(); });
                return;
            }
            m_timer.stop();
            pFinished->click();
        }
    }
    QString m_strDir;
    QTimer m_timer;
    bool m_bDetailShown = false;
};

// Scans the listed demo partition and shows its photos with the first one previewed and all
// of them ticked.
bool ShowPhotos(DRUI& window) {
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

    DRUI window;
    window.Init();
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

    if (!ShowPhotos(window)) {
        std::fprintf(stderr, "orvanne-screenshots: the scan found no photos\n");
        return 1;
    }
    bOk = SaveGrab(window, strDir + "/page3-results.png") && bOk;

    QTemporaryDir recoveryDir;
    CRecoveryDriver driver(strDir);
    window.RecoverSelectionTo(recoveryDir.path());
    return bOk && driver.m_bOk ? 0 : 1;
}
