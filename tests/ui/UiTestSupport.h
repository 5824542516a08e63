// Shared pieces of the desktop-application tests: a scriptable engine, a window that uses it,
// partitioned disk images, and a hand that answers modal dialogs.
#pragma once

#include "device/CPartitionManager.h"
#include "engine/IFileRecoveryParse.h"
#include "ui/DRUI.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <string>
#include <vector>

// What the last fake engine was asked, kept after the window deleted it.
struct FAKE_ENGINE_LOG {
    int nDiskNo = -1;
    long long llStartSector = -1;
    long long llSectorCount = -1;
    char16_t wcDriveLetter = 0;
    int nRecoveryType = -1;
    int nWeight = 0;
    int nScanResult = -100;
    std::u16string strSearchKey;
    std::vector<std::u16string> vecSavedPaths;
    std::vector<int> vecBaseDepths;
    int nPreviews = 0;
    std::u16string strPicturePath; // what a ".png" preview hands out
    int nCreated = 0;
    int nDeleted = 0;
};

enum class EFakeScan {
    FinishAtOnce,    // one closing report of 100 %
    RunUntilStopped, // reports every few milliseconds until the callback says stop
    NoEngine         // the device cannot be read: no engine at all
};

class CFakeEngine : public IFileRecoveryParse {
public:
    CFakeEngine(FAKE_ENGINE_LOG& log, EFakeScan nMode, std::vector<std::string> vecHitNames);
    ~CFakeEngine() override;

    int Init(int, long long, long long, char16_t) override { return 0; }
    int Init(const char16_t*, char16_t) override { return 0; }
    int InitCallBack(ScanProgressCallback pScan, RecoveryProgressCallback pRecovery, void* pParam,
                     int nWeight) override;
    int ScanDevice(const char16_t* pResultName) override;
    int GetChildrenFileNode(FILE_NODE*, unsigned int, std::vector<FILE_NODE>&) override {
        return 0;
    }
    int GetChildrenFileCount(FILE_NODE*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(FILE_NODE*, char16_t*, int) override { return 0; }
    // Writes the node's name as the file's bytes; names starting with "bad" fail with EIO, and
    // "silent" ones fail without any report.
    int SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int nBaseDepth) override;
    int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    int InitSearchCallBack(SearchProgressCallback pSearch, void* pParam) override;
    int SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) override;
    int BuildBitMapInfo() override { return 0; }
    // Fills the buffer with the node's name, or names a picture file for ".png" nodes.
    int PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) override;

private:
    FAKE_ENGINE_LOG& m_log;
    EFakeScan m_nMode;
    std::vector<std::string> m_vecHitNames;
    ScanProgressCallback m_pScan = nullptr;
    RecoveryProgressCallback m_pRecovery = nullptr;
    SearchProgressCallback m_pSearch = nullptr;
    void* m_pParam = nullptr;
    void* m_pSearchParam = nullptr;
    int m_nWeight = 0;
};

// The main window with the fake engine in place of the factory's.
class CFakeEngineWindow : public DRUI {
public:
    CFakeEngineWindow(EFakeScan nMode, std::vector<std::string> vecHitNames)
        : m_nMode(nMode), m_vecHitNames(std::move(vecHitNames)) {}
    FAKE_ENGINE_LOG m_log;

protected:
    IFileRecoveryParse* CreateEngine(int nDiskNo, long long llStartSector, long long llSectorCount,
                                     char16_t wcDriveLetter, RECOVERY_TYPE nRecoveryType) override;

private:
    EFakeScan m_nMode;
    std::vector<std::string> m_vecHitNames;
};

// Presses a button of the next modal dialog of the class that opens (polled on the GUI thread).
class CModalAnswer : public QObject {
    Q_OBJECT
public:
    CModalAnswer(const char* pClassName, const QString& strButton, int nDelayMs = 0);
    bool Answered() const { return m_bAnswered; }

private slots:
    void Poll();

private:
    const char* m_pClassName;
    QString m_strButton;
    QTimer m_timer;
    bool m_bAnswered = false;
};

// A sparse image of nMiB with an MBR holding the given sfdisk lines; empty path on failure.
std::string MakePartitionedImage(const std::string& strPath, int nMiB,
                                 const std::string& strSfdiskLines);

int RunCMessageBoxTest(int argc, char** argv);
int RunScanUiTest(int argc, char** argv);
int RunDruiPagesTest(int argc, char** argv);
int RunDruiScanTest(int argc, char** argv);
int RunAppStartupTest(int argc, char** argv);
int RunResultPageTest(int argc, char** argv);
int RunDemoScanTest(int argc, char** argv);
int RunResultBrowserTest(int argc, char** argv);
