// The progress dialog: bar and status texts from the reports, closing at the end, and the cancel
// question with its wait for the worker.
#include "ui/SCANUI.h"
#include "UiTestSupport.h"
#include "ui/CMyThread.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {
QPushButton* FindButton(QWidget& widget, const QString& strText) {
    for (QPushButton* pButton : widget.findChildren<QPushButton*>())
        if (pButton->text() == strText)
            return pButton;
    return nullptr;
}

// A worker that runs until the dialog asks it to stop, then reports its end.
void RunUntilStopped(void* pParam, int&) {
    auto* pOwner = static_cast<DRUI*>(pParam);
    while (!pOwner->m_bScanStop)
        QThread::msleep(10);
    QThread::msleep(150);
    pOwner->m_bScanEnd = true;
}
} // namespace

class ScanUiTest : public QObject {
    Q_OBJECT
private slots:
    void StartsAtZeroWithTheScanTexts() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        QCOMPARE(SCANUI::m_progressBar->value(), 0);
        QVERIFY(!SCANUI::m_progressBar->isTextVisible());
        QCOMPARE(SCANUI::m_progressBar->objectName(), QString("progressBar"));
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Current Process: 0%\n  Estimated Time Left: 0 second\n"));
        QCOMPARE(dialog.GetTitleText(), QString("  Scan File\n  scanning drive for deleted files"));
        QCOMPARE(dialog.size(), QSize(500, 250));
    }

    void ScanReportOfTheDeepPassShowsSectorsFilesAndTimeLeft() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        dialog.ScanProcessCallBackSlot(50, 90, 125, "1000", "2000", "7", QString());
        QCOMPARE(SCANUI::m_progressBar->value(), 45);
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Current Process: 45%\n  Reading Sector: 1000/2000\n  Total Files "
                         "Found: 7\n  Estimated Time Left: 2 Min 5 Sec\n"));
    }

    void UnknownTimeLeftKeepsCalculating() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        dialog.ScanProcessCallBackSlot(10, 90, -1, "1", "2", "0", QString());
        QVERIFY(dialog.GetStatusText().endsWith("  Estimated time is calculating\n"));
        dialog.ScanProcessCallBackSlot(50, 9, 40, "0", "0", "0", QString());
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Current Process: 4%\n  Estimated time is calculating\n"));
    }

    void LastScanReportClosesWithoutAQuestion() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        dialog.show();
        dialog.ScanProcessCallBackSlot(100, 90, 0, "1", "1", "0", QString());
        QVERIFY(dialog.isVisible());
        dialog.ScanProcessCallBackSlot(100, 100, 0, "1", "1", "0", QString());
        QVERIFY(!dialog.isVisible());
        QVERIFY(SCANUI::m_bIsFinished);
        QVERIFY(!owner.m_bScanStop);
    }

    void CancelAnsweredNoKeepsTheOperationRunning() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        dialog.show();
        CModalAnswer answer("CMessageBox", "No");
        QVERIFY(!dialog.close());
        QVERIFY(answer.Answered());
        QVERIFY(dialog.isVisible());
        QVERIFY(!owner.m_bScanStop);
    }

    void CancelAnsweredYesStopsAndWaitsForTheWorker() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        dialog.show();
        dialog.ScanProcessCallBackSlot(50, 90, 10, "1", "2", "0", QString());
        CMyThread thread;
        thread.SetFunc(RunUntilStopped, &owner);
        thread.start();
        CModalAnswer answer("CMessageBox", "Yes");
        QVERIFY(dialog.close());
        QVERIFY(owner.m_bScanStop);
        QVERIFY(owner.m_bScanEnd);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(SCANUI::m_progressBar->value(), 0);
    }

    void EscapeAsksLikeCancel() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        dialog.show();
        CModalAnswer answer("CMessageBox", "No");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(answer.Answered());
        QVERIFY(dialog.isVisible());
    }

    void SearchClosesAtHundredOnlyAfterTheWorkerEnded() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SEARCH);
        QCOMPARE(dialog.GetStatusText(), QString());
        dialog.show();
        dialog.SearchCallBackSlot(100, QString());
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Process: 100%\n  Searching drive for recovery files"));
        QVERIFY(dialog.isVisible());
        owner.m_bSearchEnd = true;
        dialog.SearchCallBackSlot(100, QString());
        QVERIFY(!dialog.isVisible());
    }

    void RecoveryEndTurnsCancelIntoFinished() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_RECOVERY);
        dialog.show();
        QVERIFY(FindButton(dialog, "Open Folder") != nullptr);
        dialog.RecoveryCallBackSlot(100, 100, 0, "/tmp/out/photo/a.jpg");
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Process: 100%\n  Destination: /tmp/out/photo/a.jpg"));
        dialog.RecoveryCallBackSlot(100, 1000, 0, QString());
        QVERIFY(FindButton(dialog, "Finished") != nullptr);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.close());
        QVERIFY(!owner.m_bRecoveryStop);
    }

    void OwnerSignalsReachTheSlots() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SEARCH);
        DRUI::SearchCallBack(&owner, 30, u"ignored");
        QCOMPARE(SCANUI::m_progressBar->value(), 30);
    }
};

int RunScanUiTest(int argc, char** argv) {
    ScanUiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ScanUiTest.moc"
