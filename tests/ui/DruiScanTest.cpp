// The scan side of the main window: callbacks turned into signals, the search key of the ticked
// kinds, and the whole scan-and-search sequence over a scriptable engine.
#include "UiTestSupport.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "ui/CMyThread.h"
#include "util/FileCategory.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include <limits>

namespace {
QCheckBox* FindCheckBox(QWidget& window, const QString& strText) {
    for (QCheckBox* pBox : window.findChildren<QCheckBox*>())
        if (pBox->text() == strText)
            return pBox;
    return nullptr;
}

QTreeWidgetItem* FindDiskItem(QTreeWidget* pTree, int nDiskNo) {
    const QString strLabel = QString("Physical Driver %1").arg(nDiskNo);
    for (int i = 0; i < pTree->topLevelItemCount(); ++i)
        if (pTree->topLevelItem(i)->text(0) == strLabel)
            return pTree->topLevelItem(i);
    return nullptr;
}

// The file names the visible result page lists, extension node by extension node.
QStringList ResultNames(QWidget& window) {
    auto* pTree = window.findChild<QTreeWidget*>("resultTree");
    auto* pTable = window.findChild<QTableWidget*>("resultTable");
    if (pTree == nullptr || pTable == nullptr || !pTree->isVisible())
        return {"<no visible result page>"};
    QStringList listNames;
    for (int i = 0; i < pTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pCategory = pTree->topLevelItem(i);
        for (int j = 0; j < pCategory->childCount(); ++j) {
            pTree->setCurrentItem(pCategory->child(j));
            for (int nRow = 0; nRow < pTable->rowCount(); ++nRow)
                listNames << pTable->item(nRow, 0)->text();
        }
    }
    return listNames;
}
} // namespace

class DruiScanTest : public QObject {
    Q_OBJECT
private:
    CTempDir m_dir;
    int m_nDiskNo = -1;

private slots:
    void initTestCase() {
        const std::string strImage =
            MakePartitionedImage(m_dir.File("scan.img"), 8, "start=2048, size=8192\\n");
        QVERIFY(!strImage.empty());
        m_nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        QVERIFY(m_nDiskNo >= 0);
    }

    void ScanCallbackPassesValuesAsDecimalTextUntilStopped() {
        DRUI window;
        QSignalSpy spy(&window, &DRUI::ScanProcessCallBack);
        const uint64_t u64Max = std::numeric_limits<uint64_t>::max();
        QCOMPARE(DRUI::ScanCallBack(&window, 10, 90, 5, 4096, 0, 7, u"Reading"), 0);
        QCOMPARE(DRUI::ScanCallBack(&window, 11, 90, -1, u64Max, 1, 2, nullptr), 0);
        QCOMPARE(spy.count(), 2);
        const QList<QVariant> listFirst = spy.at(0);
        QCOMPARE(listFirst.at(0).toInt(), 10);
        QCOMPARE(listFirst.at(1).toInt(), 90);
        QCOMPARE(listFirst.at(2).toInt(), 5);
        QCOMPARE(listFirst.at(3).toString(), QString("4096"));
        QCOMPARE(listFirst.at(4).toString(), QString("0"));
        QCOMPARE(listFirst.at(5).toString(), QString("7"));
        QCOMPARE(listFirst.at(6).toString(), QString("Reading"));
        QCOMPARE(spy.at(1).at(3).toString(), QString("18446744073709551615"));
        QCOMPARE(spy.at(1).at(6).toString(), QString());

        window.m_bScanStop = true;
        QCOMPARE(DRUI::ScanCallBack(&window, 12, 90, 5, 1, 2, 3, nullptr), 1);
        QCOMPARE(spy.count(), 2);
    }

    void RecoveryCallbackAnswersCancelledOnceStopped() {
        DRUI window;
        QSignalSpy spy(&window, qOverload<int, int, int, QString>(&DRUI::RecoveryCallBack));
        QCOMPARE(DRUI::RecoveryCallBack(&window, 100, 100, 0, u"/out/photo/a.jpg"), 0);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(3).toString(), QString("/out/photo/a.jpg"));
        window.m_bRecoveryStop = true;
        QCOMPARE(DRUI::RecoveryCallBack(&window, 100, 100, 0, u"x"), -9527);
        QCOMPARE(spy.count(), 1);
    }

    void SearchAndPreviewCallbacks() {
        DRUI window;
        QSignalSpy searchSpy(&window, qOverload<int, QString>(&DRUI::SearchCallBack));
        QSignalSpy previewSpy(&window, &DRUI::PreViewCallBackForSlot);
        QCOMPARE(DRUI::SearchCallBack(&window, 40, u"not shown"), 0);
        QCOMPARE(searchSpy.count(), 1);
        QCOMPARE(searchSpy.at(0).at(0).toInt(), 40);
        QCOMPARE(searchSpy.at(0).at(1).toString(), QString());
        QCOMPARE(DRUI::PreViewCallBack(&window, 100, 0), 0);
        QCOMPARE(previewSpy.count(), 1);
        window.m_bSearchStop = true;
        window.m_bPreviewStop = true;
        QCOMPARE(DRUI::SearchCallBack(&window, 50, nullptr), 1);
        QCOMPARE(DRUI::PreViewCallBack(&window, 50, 0), 1);
        QCOMPARE(searchSpy.count(), 1);
        QCOMPARE(previewSpy.count(), 1);
    }

    void ThreadWithoutWorkReturnsAtOnce() {
        CMyThread thread;
        thread.start();
        QVERIFY(thread.wait(2000));
    }

    void SearchKeyOfEveryCombinationOfKinds() {
        DRUI window;
        window.Init();
        const std::u16string strPhoto = QString(PHOTO_PATTERN).toStdU16String();
        const std::u16string strMusic = QString(MUSIC_PATTERN).toStdU16String();
        const std::u16string strVideo = QString(VIDEO_PATTERN).toStdU16String();
        for (int nMask = 0; nMask < 8; ++nMask) {
            FindCheckBox(window, "Photo")->setChecked(nMask & 1);
            FindCheckBox(window, "Music")->setChecked(nMask & 2);
            FindCheckBox(window, "Video")->setChecked(nMask & 4);
            std::u16string strExpected;
            if (nMask & 1)
                strExpected += strPhoto;
            if (nMask & 2)
                strExpected += strMusic;
            if (nMask & 4)
                strExpected += (nMask & 2) ? u"|" + strVideo : strVideo;
            QCOMPARE(QString::fromStdU16String(window.BuildSearchPattern()),
                     QString::fromStdU16String(strExpected));
        }
        FindCheckBox(window, "Music")->setChecked(true);
        FindCheckBox(window, "Video")->setChecked(true);
        QVERIFY(window.BuildSearchPattern().find(u"*.mmf|*.rmvb|") != std::u16string::npos);
    }

    void ScanOfAPartitionEndsOnTheResultPage() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a.jpg", "b.mp3", "c"});
        window.Init();
        window.btnSlot();
        window.show();
        auto* pTree = window.findChild<QTreeWidget*>();
        QTreeWidgetItem* pDisk = FindDiskItem(pTree, m_nDiskNo);
        QVERIFY(pDisk);
        pTree->setCurrentItem(pDisk->child(0));
        window.btnSlotScan();

        QCOMPARE(window.m_log.nDiskNo, m_nDiskNo);
        QCOMPARE(window.m_log.llStartSector, 2048LL);
        QCOMPARE(window.m_log.llSectorCount, 8192LL);
        QCOMPARE(window.m_log.wcDriveLetter, u'C');
        QCOMPARE(window.m_log.nRecoveryType, int(RECOVERY_TYPE_DEEP));
        QCOMPARE(window.m_log.nWeight, 100);
        QCOMPARE(window.m_log.nScanResult, 0);
        QCOMPARE(QString::fromStdU16String(window.m_log.strSearchKey),
                 QString::fromStdU16String(window.BuildSearchPattern()));
        QCOMPARE(ResultNames(window), QStringList({"a.jpg", "b.mp3", "c"}));
        QCOMPARE(window.m_log.nPreviews, 3);
        QCOMPARE(window.GetSearchResults().size(), size_t(3));

        window.btnSlotBack();
        QCOMPARE(window.m_log.nDeleted, 1);
        QVERIFY(pTree->isVisible());
    }

    void DoubleClickOnADiskScansTheWholeDisk() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {});
        window.Init();
        window.btnSlot();
        window.show();
        auto* pTree = window.findChild<QTreeWidget*>();
        QTreeWidgetItem* pDisk = FindDiskItem(pTree, m_nDiskNo);
        const QPoint ptDisk = pTree->visualItemRect(pDisk).center();
        QTest::mouseClick(pTree->viewport(), Qt::LeftButton, {}, ptDisk);
        QTest::mouseDClick(pTree->viewport(), Qt::LeftButton, {}, ptDisk);
        QCOMPARE(window.m_log.nDiskNo, m_nDiskNo);
        QCOMPARE(window.m_log.llStartSector, 0LL);
        QCOMPARE(window.m_log.llSectorCount, 8LL * 2048);
        QCOMPARE(ResultNames(window), QStringList());
    }

    void CancelledScanStillSearchesWhatWasFound() {
        CFakeEngineWindow window(EFakeScan::RunUntilStopped, {"kept.png"});
        window.Init();
        window.btnSlot();
        window.show();
        CModalAnswer cancel("SCANUI", "Cancel", 200);
        CModalAnswer confirm("CMessageBox", "Yes");
        window.btnSlotScan();
        QVERIFY(cancel.Answered() && confirm.Answered());
        QCOMPARE(window.m_log.nScanResult, 1);
        QVERIFY(window.m_bScanStop && window.m_bScanEnd);
        QCOMPARE(ResultNames(window), QStringList({"kept.png"}));
    }

    void UnreadableDeviceSaysSoAndStaysOnTheDevicePage() {
        CFakeEngineWindow window(EFakeScan::NoEngine, {});
        window.Init();
        window.btnSlot();
        window.show();
        CModalAnswer message("CMessageBox", "OK");
        window.btnSlotScan();
        QVERIFY(message.Answered());
        QVERIFY(window.m_bScanFailed);
        QVERIFY(window.findChild<QTreeWidget*>()->isVisible());
        QCOMPARE(window.findChild<QTreeWidget*>("resultTree"), nullptr);
    }

    void NewScanReplacesEngineAndResultPage() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"one.jpg"});
        window.Init();
        window.btnSlot();
        window.show();
        window.btnSlotScan();
        QCOMPARE(window.m_log.nCreated, 1);
        window.btnSlotBack();
        window.btnSlotScan();
        QCOMPARE(window.m_log.nCreated, 2);
        QCOMPARE(window.m_log.nDeleted, 1);
        QCOMPARE(ResultNames(window), QStringList({"one.jpg"}));
    }
};

int RunDruiScanTest(int argc, char** argv) {
    DruiScanTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DruiScanTest.moc"
