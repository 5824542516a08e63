// The progress dialog and the question dialog: bar and status texts from the reports, closing at
// the end, the cancel question with its wait for the worker, and the whole-run recovery progress
// with its outcome.
#include "ui/SCANUI.h"
#include "UiTestSupport.h"
#include "ui/CMessageBox.h"
#include "util/StatusCodes.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

class ScanUiTest : public QObject {
    Q_OBJECT
private slots:
    // Yes answers 1, No and a close 0; the box sits below its owner's title strip, inside it.
    void QuestionAnswersAndPlace() {
        for (const char* pButton : {"Yes", "No", ""}) {
            CMessageBox box;
            box.InitQuestionDialog("Are you sure to cancel the scanning?", false);
            CModalAnswer answer("CMessageBox", pButton);
            if (*pButton == '\0')
                QTimer::singleShot(0, &box, &QWidget::close);
            box.exec();
            QCOMPARE(box.GetMessageBoxRet(), QString(pButton) == "Yes" ? 1 : 0);
        }
        CMessageBox info;
        info.InitQuestionDialog("The image file cannot be opened.", true);
        QCOMPARE(info.findChildren<QPushButton*>().size(), 1);
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        dialog.move(40, 40);
        info.PlaceOver(&dialog);
        QCOMPARE(info.size(), QSize(400, 150));
        QVERIFY(info.y() >= dialog.y() + 70);
        QVERIFY(dialog.geometry().contains(info.geometry().center()));
        QVERIFY(info.styleSheet().contains("border: 2px solid"));
    }

    void ScanReportsShowSectorsItemsAndTimeLeft() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_SCAN);
        QCOMPARE(SCANUI::m_progressBar->value(), 0);
        QVERIFY(!SCANUI::m_progressBar->isTextVisible());
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Current Process: 0%\n  Estimated Time Left: 0 second\n"));
        QCOMPARE(dialog.GetTitleText(), QString("  Scan File\n  scanning drive for deleted files"));
        DRUI::ScanCallBack(&owner, 50, 90, 125, 1000, 2000, 7, nullptr);
        QTRY_COMPARE(SCANUI::m_progressBar->value(), 45);
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Current Process: 45%\n  Reading Sector: 1000/2000\n  Total Items "
                         "Found: 7\n  Estimated Time Left: 2 Min 5 Sec\n"));
        dialog.ScanProcessCallBackSlot(10, 90, -1, "1", "2", "0", QString());
        QVERIFY(dialog.GetStatusText().endsWith("  Estimated time is calculating\n"));
        dialog.ScanProcessCallBackSlot(50, 9, 40, "0", "0", "0", QString());
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Current Process: 4%\n  Estimated time is calculating\n"));
        dialog.show();
        // No, by button or by Escape, leaves the scan running (Yes: DruiScanTest).
        CModalAnswer no("CMessageBox", "No");
        QVERIFY(!dialog.close());
        CModalAnswer escapeNo("CMessageBox", "No");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(no.Answered() && escapeNo.Answered());
        QVERIFY(dialog.isVisible() && !owner.m_bScanStop);
        dialog.ScanProcessCallBackSlot(100, 90, 0, "1", "1", "0", QString());
        QVERIFY(dialog.isVisible());
        dialog.ScanProcessCallBackSlot(100, 100, 0, "1", "1", "0", QString());
        QVERIFY(!dialog.isVisible() && SCANUI::m_bIsFinished && !owner.m_bScanStop);
        // A search closes at 100 % only once its worker has ended.
        SCANUI search;
        search.InitSlot(&owner, OPR_TYPE_SEARCH);
        search.show();
        search.SearchCallBackSlot(100, QString());
        QCOMPARE(search.GetStatusText(),
                 QString("  Process: 100%\n  Searching drive for recovery files"));
        QVERIFY(search.isVisible());
        owner.m_bSearchEnd = true;
        search.SearchCallBackSlot(100, QString());
        QVERIFY(!search.isVisible());
    }

    // The bar, "file n of m" and the bytes are the whole run's; the end counts what happened.
    void RecoveryProgressIsTheWholeRuns() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_RECOVERY);
        dialog.SetRecoveryTotals(2, 4096);
        dialog.show();
        QVERIFY(FindButton(dialog, "Open Folder") && FindButton(dialog, "Detail"));
        dialog.RecoveryFileStartSlot(1, 2, "/out/photo/a.jpg", 1024);
        dialog.RecoveryCallBackSlot(100, 100, 0, "/out/photo/a.jpg");
        dialog.RecoveryFileStartSlot(2, 2, "/out/photo/b.jpg", 3072);
        dialog.RecoveryCallBackSlot(50, 100, 0, "/out/photo/b.jpg");
        QCOMPARE(SCANUI::m_progressBar->value(), 62);
        QCOMPARE(dialog.GetStatusText(),
                 QString("  File 2 of 2, 2.50 KB of 4.00 KB written\n  "
                         "Estimated time is calculating\n  /out/photo/b.jpg"));
        dialog.RecoveryCallBackSlot(100, 100, EIO, "/out/photo/b.jpg");
        dialog.RecoveryCallBackSlot(100, 1000, 0, QString());
        QVERIFY(FindButton(dialog, "Finished") && dialog.isVisible());
        QCOMPARE(dialog.GetStatusText(),
                 QString("  1 recovered, 1 failed\n  Press Detail to see why each file failed."));
        for (QLabel* pLabel : dialog.findChildren<QLabel*>())
            if (pLabel->text() == dialog.GetStatusText())
                QVERIFY(pLabel->styleSheet().contains("color: rgb(200, 0, 0)"));
        QVERIFY(dialog.close());
        QVERIFY(!owner.m_bRecoveryStop);
    }

    // A stopped recovery keeps its dialog open with what was and was not written; a damaged file
    // is counted as written and marked.
    void StoppedRecoveryStaysWithItsOutcome() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, OPR_TYPE_RECOVERY);
        dialog.SetRecoveryTotals(3, 3072);
        dialog.show();
        dialog.RecoveryFileStartSlot(1, 3, "/out/photo/a.jpg", 1024);
        dialog.RecoveryCallBackSlot(100, 100, ERROR_FILE_DAMAGED, "/out/photo/a.jpg");
        dialog.RecoveryFileStartSlot(2, 3, "/nowhere/b.jpg", 1024);
        owner.m_bRecoveryEnd = true;
        CModalAnswer yes("CMessageBox", "Yes");
        QVERIFY(!dialog.close());
        QVERIFY(owner.m_bRecoveryStop && dialog.isVisible());
        emit owner.RecoveryCallBack(100, 100, -9527, "/nowhere/b.jpg");
        emit owner.RecoveryCallBack(100, 1000, -9527, QString());
        QCOMPARE(dialog.GetStatusText(),
                 QString("  Stopped: 1 recovered (1 damaged), 1 failed, 1 not tried\n  "
                         "Press Detail to see why each file failed."));
        QCOMPARE(dialog.GetDetail().GetTable()->item(0, 1)->text(),
                 QString("Stopped: nothing was kept"));
        QCOMPARE(dialog.GetDetail().GetTable()->item(1, 1)->text(),
                 QString("Damaged: unreadable sectors written as zeros"));
        QVERIFY(dialog.close());
    }
};

UI_TEST_CLASS(ScanUiTest);

#include "ScanUiTest.moc"
