// The scan side of the main window: callbacks turned into signals, the search key of the ticked
// kinds, and the whole scan-and-search sequence over a scriptable engine, ended, stopped, empty
// or impossible.
#include "UiTestSupport.h"
#include "fixtures/FixtureUtil.h"
#include "ui/CMyThread.h"
#include "ui/SCANUI.h"
#include "util/FileCategory.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <limits>

namespace {
// The result page's category nodes, or a note when no result page is in view.
QStringList ResultNodes(QWidget& window) {
    auto* pTree = window.findChild<QTreeWidget*>("resultTree");
    QStringList listNodes;
    for (int i = 0; pTree != nullptr && pTree->isVisible() && i < pTree->topLevelItemCount(); ++i)
        listNodes << pTree->topLevelItem(i)->text(0);
    return listNodes.isEmpty() ? QStringList({"<no result>"}) : listNodes;
}

} // namespace

class DruiScanTest : public QObject {
    Q_OBJECT
private slots:
    // Each callback emits its values until its stop flag is set, then answers its stop value.
    void CallbacksBecomeSignalsUntilStopped() {
        DRUI window;
        QSignalSpy scanSpy(&window, &DRUI::ScanProcessCallBack);
        QSignalSpy recoverySpy(&window, qOverload<int, int, int, QString>(&DRUI::RecoveryCallBack));
        QSignalSpy searchSpy(&window, qOverload<int, QString>(&DRUI::SearchCallBack));
        QSignalSpy previewSpy(&window, &DRUI::PreViewCallBackForSlot);
        const uint64_t u64Max = std::numeric_limits<uint64_t>::max();
        QCOMPARE(DRUI::ScanCallBack(&window, 10, 90, 5, 4096, 0, 7, u"Reading"), 0);
        QCOMPARE(DRUI::ScanCallBack(&window, 11, 90, -1, u64Max, 1, 2, nullptr), 0);
        QCOMPARE(DRUI::RecoveryCallBack(&window, 100, 100, 0, u"/out/photo/a.jpg"), 0);
        QCOMPARE(DRUI::SearchCallBack(&window, 40, u"not shown"), 0);
        QCOMPARE(DRUI::PreViewCallBack(&window, 100, 0), 0);
        QCOMPARE(scanSpy.at(0), QVariantList({10, 90, 5, "4096", "0", "7", "Reading"}));
        QCOMPARE(scanSpy.at(1).at(3).toString(), QString("18446744073709551615"));
        QCOMPARE(scanSpy.at(1).at(6).toString(), QString());
        QCOMPARE(recoverySpy.at(0).at(3).toString(), QString("/out/photo/a.jpg"));
        QCOMPARE(searchSpy.at(0), QVariantList({40, QString()}));
        QCOMPARE(previewSpy.count(), 1);

        window.m_bScanStop = window.m_bRecoveryStop = true;
        window.m_bSearchStop = window.m_bPreviewStop = true;
        QCOMPARE(DRUI::ScanCallBack(&window, 12, 90, 5, 1, 2, 3, nullptr), 1);
        QCOMPARE(DRUI::RecoveryCallBack(&window, 100, 100, 0, u"x"), -9527);
        QCOMPARE(DRUI::SearchCallBack(&window, 50, nullptr), 1);
        QCOMPARE(DRUI::PreViewCallBack(&window, 50, 0), 1);
        QCOMPARE(scanSpy.count() + recoverySpy.count() + searchSpy.count(), 4);
        QCOMPARE(previewSpy.count(), 1);
        CMyThread thread;
        thread.start();
        QVERIFY(thread.wait(2000));
    }

    // Music does not end with a bar: one is put before Video, or two extensions would merge.
    void SearchKeyOfTheTickedKinds() {
        DRUI window;
        window.Init();
        FindCheckBox(window, "Music")->setChecked(false);
        QCOMPARE(QString::fromStdU16String(window.BuildSearchPattern()),
                 QString(PHOTO_PATTERN) + VIDEO_PATTERN);
        FindCheckBox(window, "Photo")->setChecked(false);
        FindCheckBox(window, "Music")->setChecked(true);
        QCOMPARE(QString::fromStdU16String(window.BuildSearchPattern()),
                 QString(MUSIC_PATTERN) + "|" + VIDEO_PATTERN);
        FindCheckBox(window, "Video")->setChecked(false);
        FindCheckBox(window, "Office")->setChecked(true);
        FindCheckBox(window, "Other")->setChecked(true);
        QCOMPARE(QString::fromStdU16String(window.BuildSearchPattern()),
                 QString(MUSIC_PATTERN) + "|" + OFFICE_PATTERN + "|" + OTHER_PATTERN);
    }

    void ScanOfAPartitionEndsOnTheResultPage() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a.jpg", "b.mp3", "c"});
        ScanFirstPartition(window, TestDiskNo());
        QCOMPARE(window.m_log.nDiskNo, TestDiskNo());
        QCOMPARE(window.m_log.llStartSector, 2048LL);
        QCOMPARE(window.m_log.llSectorCount, 8192LL);
        QCOMPARE(window.m_log.wcDriveLetter, u'C');
        QCOMPARE(window.m_log.nRecoveryType, int(RECOVERY_TYPE_DEEP));
        QCOMPARE(window.m_log.nWeight, 100);
        QCOMPARE(window.m_log.nScanResult, 0);
        QCOMPARE(QString::fromStdU16String(window.m_log.strSearchKey),
                 QString::fromStdU16String(window.BuildSearchPattern()));
        QCOMPARE(ResultNodes(window),
                 QStringList({"All files(3)", "Photo(1)", "Music(1)", "Other(1)"}));

        // Back asks before the results go; No keeps them, Yes drops them with the engine.
        CModalAnswer keep("CMessageBox", "No");
        window.btnSlotBack();
        QVERIFY(keep.Answered() && window.HasResults());
        CModalAnswer drop("CMessageBox", "Yes");
        window.btnSlotBack();
        QCOMPARE(window.m_log.nDeleted, 1);
        QVERIFY(window.findChild<QTreeWidget*>("diskTree")->isVisible());
        window.btnSlotScan();
        QCOMPARE(window.m_log.nCreated, 2);
        QCOMPARE(ResultNodes(window),
                 QStringList({"All files(3)", "Photo(1)", "Music(1)", "Other(1)"}));
    }

    // An empty result says what was searched: a partition suggests its whole disk by name, and
    // the whole disk (a double click on it) suggests more kinds.
    void EmptyResultSaysWhatToTryNext() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {});
        ScanFirstPartition(window, TestDiskNo());
        const QString strDisk = QString("Physical Driver %1").arg(TestDiskNo());
        QVERIFY(FindLabel(window, "No Photo, Music, Video files were found on ")
                    .contains("Try a whole-disk scan: press Back, choose \"" + strDisk + "\""));
        QVERIFY(!window.HasResults());
        window.btnSlotBack();
        auto* pTree = window.findChild<QTreeWidget*>("diskTree");
        const QPoint ptDisk = pTree->visualItemRect(FindItem(pTree, strDisk)).center();
        QTest::mouseClick(pTree->viewport(), Qt::LeftButton, {}, ptDisk);
        QTest::mouseDClick(pTree->viewport(), Qt::LeftButton, {}, ptDisk);
        QCOMPARE(window.m_log.llStartSector, 0LL);
        QCOMPARE(window.m_log.llSectorCount, 8LL * 2048);
        QVERIFY(FindLabel(window, "No Photo, Music, Video files were found on " + strDisk + ".")
                    .contains("more kinds of files"));
    }

    // A stopped scan still searches what it found, and its page says the scan was partial.
    void StoppedScanIsMarkedPartial() {
        CFakeEngineWindow window(EFakeScan::RunUntilStopped, {"kept.png"});
        CModalAnswer cancel("SCANUI", "Cancel",
                            [](QWidget*) { return SCANUI::m_progressBar->value() == 36; });
        CModalAnswer confirm("CMessageBox", "Yes");
        ScanFirstPartition(window, TestDiskNo());
        QVERIFY(cancel.Answered() && confirm.Answered());
        QCOMPARE(window.m_log.nScanResult, 1);
        QCOMPARE(ResultNodes(window), QStringList({"All files(1)", "Photo(1)"}));
        QVERIFY2(FindLabel(window, "Select Desired")
                     .contains("Found 1 recoverable files after a partial scan "
                               "(stopped at 36%), among 9 items found."),
                 qPrintable(FindLabel(window, "Select Desired")));
    }

    void UnreadableDeviceSaysSoAndStaysOnTheDevicePage() {
        CFakeEngineWindow window(EFakeScan::NoEngine, {});
        CModalAnswer message("CMessageBox", "OK");
        ScanFirstPartition(window, TestDiskNo());
        QVERIFY(message.Answered() && window.m_bScanFailed);
        QVERIFY(window.findChild<QTreeWidget*>("diskTree")->isVisible());
        QCOMPARE(window.findChild<QTreeWidget*>("resultTree"), nullptr);
    }
};

UI_TEST_CLASS(DruiScanTest);

#include "DruiScanTest.moc"
