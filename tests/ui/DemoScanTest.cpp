// The whole road on the demo disk with the real engines: scan and search through btnSlotScan,
// the result page, and recovery of the deleted photos byte for byte.
#include "UiTestSupport.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"

#include <QDir>
#include <QFile>
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
};

int RunDemoScanTest(int argc, char** argv) {
    DemoScanTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DemoScanTest.moc"
