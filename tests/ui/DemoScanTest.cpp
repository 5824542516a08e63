// The whole road with the real engines: the demo disk scanned and searched through btnSlotScan,
// its deleted photos recovered byte for byte; and a large file whose copy is stopped part-way,
// which leaves nothing under its name and a dialog that says so.
#include "UiTestSupport.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

class DemoScanTest : public QObject {
    Q_OBJECT
private slots:
    void ScanOfTheDemoImageFindsAndRecoversItsDeletedFiles() {
        CTempDir dir;
        const std::string strScript = TestDataPath("../../scripts/make-demo-image");
        const std::string strImage = dir.File("demo.img");
        QVERIFY(RunShell(ShellQuote(strScript) + " " + ShellQuote(strImage) + " >/dev/null"));
        const int nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        QVERIFY(nDiskNo >= 0);

        DRUI window;
        ScanFirstPartition(window, nDiskNo);

        QStringList listNames;
        for (const SEARCH_FILE_INFO& info : window.GetSearchResults())
            listNames << QString::fromUtf8(info.szFileName);
        for (const char* pDeleted : {"Sunset.jpg", "Scan.tif", "Ringtone.mp3", "Garden.avi"})
            QVERIFY2(listNames.filter(pDeleted, Qt::CaseInsensitive).size() >= 1, pDeleted);

        QTreeWidgetItem* pPhoto = FindItem(window.findChild<QTreeWidget*>("resultTree"), "Photo(");
        QVERIFY(pPhoto);
        pPhoto->setCheckState(0, Qt::Checked);
        QVERIFY(!window.GetSelection().empty());

        CTempDir out;
        const RECOVERY_VIEW view = RecoverAndWatch(window, QString::fromStdString(out.Path()));
        QVERIFY(view.strStatus.contains(" recovered, 0 failed"));
        const QByteArray original =
            ReadAll(QString::fromStdString(TestDataPath("samples/sample_jfif.jpg")));
        QVERIFY(!original.isEmpty());
        QStringList listRecovered =
            QDir(QString::fromStdString(out.File("photo"))).entryList(QDir::Files);
        const QStringList listSunset = listRecovered.filter("Sunset", Qt::CaseInsensitive);
        QVERIFY2(!listSunset.isEmpty(), qPrintable(listRecovered.join(", ")));
        QCOMPARE(
            ReadAll(QString::fromStdString(out.File("photo/" + listSunset.front().toStdString()))),
            original);
    }

    void StoppedCopyLeavesNothingUnderItsName() {
        CTempDir dir;
        const std::string strImage =
            MakePartitionedImage(dir.File("big.img"), 40, "start=2048, type=c\\n");
        const std::string strPart = strImage + "@@1M";
        QVERIFY(RunShell("mkfs.vfat -F 32 --offset 2048 " + ShellQuote(strImage) + " >/dev/null"));
        // A real JPEG of noise, several MiB: its copy takes many reports.
        QImage noise(2000, 1500, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, (x * 2654435761u) ^ (y * 40503u) ^ (x * y));
        QVERIFY(noise.save(QString::fromStdString(dir.File("Big.jpg")), "JPEG", 100));
        QVERIFY(RunShell("MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(strPart) + " " +
                         ShellQuote(dir.File("Big.jpg")) +
                         " ::/Big.jpg && MTOOLS_SKIP_CHECK=1 mdel -i " + ShellQuote(strPart) +
                         " ::/Big.jpg"));
        const int nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        DRUI window;
        ScanFirstPartition(window, nDiskNo);
        // Runs on the worker at the engine's report: the first report of a file part-way written
        // stops the run, as a confirmed Cancel does at that moment.
        int nStoppedAt = -1;
        QObject::connect(
            &window, qOverload<int, int, int, QString>(&DRUI::RecoveryCallBack), &window,
            [&](int nPercent, int nWeight, int, QString) {
                if (nWeight == 100 && nPercent > 0 && nPercent < 100 && nStoppedAt < 0) {
                    nStoppedAt = nPercent;
                    window.m_bRecoveryStop = true;
                }
            },
            Qt::DirectConnection);
        FindItem(window.findChild<QTreeWidget*>("resultTree"), "Photo(")
            ->setCheckState(0, Qt::Checked);
        CTempDir out;
        const RECOVERY_VIEW view = RecoverAndWatch(window, QString::fromStdString(out.Path()));
        QVERIFY(nStoppedAt > 0);
        QVERIFY2(view.strStatus.startsWith("  Stopped: 0 recovered, 1 failed"),
                 qPrintable(view.strStatus));
        QCOMPARE(view.listRows, QStringList({"Stopped: nothing was kept photo/Big.jpg"}));
        QCOMPARE(FilesBelow(QString::fromStdString(out.Path())), QStringList());
    }
};

int RunDemoScanTest(int argc, char** argv) {
    DemoScanTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DemoScanTest.moc"
