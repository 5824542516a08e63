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

namespace {
// The real engine, with a seam in its recovery reports: the first report of a file part-way
// written stops the run, as a confirmed Cancel does at that moment.
class CStopMidCopyEngine : public IFileRecoveryParse {
public:
    CStopMidCopyEngine(IFileRecoveryParse* pEngine, DRUI& window)
        : m_pEngine(pEngine), m_window(window) {}
    ~CStopMidCopyEngine() override { delete m_pEngine; }
    int Init(int nDisk, long long llStart, long long llCount, char16_t wc) override {
        return m_pEngine->Init(nDisk, llStart, llCount, wc);
    }
    int Init(const char16_t* pPath, char16_t wc) override { return m_pEngine->Init(pPath, wc); }
    int InitCallBack(ScanProgressCallback pScan, RecoveryProgressCallback pRecovery, void*,
                     int nWeight) override {
        m_pScan = pScan;
        m_pRecovery = pRecovery;
        return m_pEngine->InitCallBack(&CStopMidCopyEngine::ScanReport, &CStopMidCopyEngine::Report,
                                       this, nWeight);
    }
    int ScanDevice(const char16_t* pName) override { return m_pEngine->ScanDevice(pName); }
    int GetChildrenFileNode(FILE_NODE* p, unsigned int n, std::vector<FILE_NODE>& v) override {
        return m_pEngine->GetChildrenFileNode(p, n, v);
    }
    int GetChildrenFileCount(FILE_NODE* p, unsigned int n, unsigned int& c) override {
        return m_pEngine->GetChildrenFileCount(p, n, c);
    }
    unsigned int GetLostFileCount() override { return m_pEngine->GetLostFileCount(); }
    int GetFileNodeParentDirPath(FILE_NODE* p, char16_t* pOut, int n) override {
        return m_pEngine->GetFileNodeParentDirPath(p, pOut, n);
    }
    int SaveFileData(FILE_NODE* p, const char16_t* pPath, int nDepth) override {
        return m_pEngine->SaveFileData(p, pPath, nDepth);
    }
    int GetUnUsedSectorCount(unsigned long long& a, unsigned long long& b) override {
        return m_pEngine->GetUnUsedSectorCount(a, b);
    }
    int InitSearchCallBack(SearchProgressCallback pSearch, void* pParam) override {
        return m_pEngine->InitSearchCallBack(pSearch, pParam);
    }
    int SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& v) override {
        return m_pEngine->SearchFileNode(pKey, v);
    }
    int BuildBitMapInfo() override { return m_pEngine->BuildBitMapInfo(); }
    int PreView(FILE_NODE* p, char16_t* pTemp, unsigned char* pBuf, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) override {
        return m_pEngine->PreView(p, pTemp, pBuf, nLength, pCallback, pParam);
    }
    int m_nStoppedAt = -1;

private:
    static int ScanReport(void* pParam, int nPercent, int nWeight, int nSeconds, uint64_t u64At,
                          uint64_t u64Total, uint64_t u64Found, const char16_t* pText) {
        auto* pThis = static_cast<CStopMidCopyEngine*>(pParam);
        return pThis->m_pScan(&pThis->m_window, nPercent, nWeight, nSeconds, u64At, u64Total,
                              u64Found, pText);
    }
    static int Report(void* pParam, int nPercent, int nWeight, int nStatus, const char16_t* pPath) {
        auto* pThis = static_cast<CStopMidCopyEngine*>(pParam);
        if (nPercent > 0 && nPercent < 100 && pThis->m_nStoppedAt < 0) {
            pThis->m_nStoppedAt = nPercent;
            pThis->m_window.m_bRecoveryStop = true;
        }
        return pThis->m_pRecovery(&pThis->m_window, nPercent, nWeight, nStatus, pPath);
    }
    IFileRecoveryParse* m_pEngine;
    DRUI& m_window;
    ScanProgressCallback m_pScan = nullptr;
    RecoveryProgressCallback m_pRecovery = nullptr;
};

class CStopMidCopyWindow : public DRUI {
public:
    CStopMidCopyEngine* m_pSeam = nullptr;

protected:
    IFileRecoveryParse* CreateEngine(int nDisk, long long llStart, long long llCount, char16_t wc,
                                     RECOVERY_TYPE nType) override {
        IFileRecoveryParse* pEngine = DRUI::CreateEngine(nDisk, llStart, llCount, wc, nType);
        return m_pSeam = pEngine != nullptr ? new CStopMidCopyEngine(pEngine, *this) : nullptr;
    }
};
} // namespace

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
        CStopMidCopyWindow window;
        ScanFirstPartition(window, nDiskNo);
        FindItem(window.findChild<QTreeWidget*>("resultTree"), "Photo(")
            ->setCheckState(0, Qt::Checked);
        CTempDir out;
        const RECOVERY_VIEW view = RecoverAndWatch(window, QString::fromStdString(out.Path()));
        QVERIFY(window.m_pSeam->m_nStoppedAt > 0);
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
