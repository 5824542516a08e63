// Fake engine, fake-engine window, modal answering and image building for the UI tests.
#include "UiTestSupport.h"

#include "fixtures/FixtureUtil.h"
#include "util/CSafeOutputFile.h"
#include "util/TextUtil.h"

#include <QAbstractButton>
#include <QApplication>
#include <QThread>

#include <cerrno>
#include <cstring>

CFakeEngine::CFakeEngine(FAKE_ENGINE_LOG& log, EFakeScan nMode,
                         std::vector<std::string> vecHitNames)
    : m_log(log), m_nMode(nMode), m_vecHitNames(std::move(vecHitNames)) {
    ++m_log.nCreated;
}

CFakeEngine::~CFakeEngine() {
    ++m_log.nDeleted;
}

int CFakeEngine::InitCallBack(ScanProgressCallback pScan, RecoveryProgressCallback pRecovery,
                              void* pParam, int nWeight) {
    m_pScan = pScan;
    m_pRecovery = pRecovery;
    m_pParam = pParam;
    m_nWeight = nWeight;
    m_log.nWeight = nWeight;
    return 0;
}

int CFakeEngine::ScanDevice(const char16_t*) {
    int nResult = 0;
    if (m_nMode == EFakeScan::FinishAtOnce) {
        nResult = m_pScan(m_pParam, 100, m_nWeight, 0, 10, 10, m_vecHitNames.size(), nullptr);
    } else {
        for (uint64_t u64Sector = 0; nResult == 0; ++u64Sector) {
            nResult = m_pScan(m_pParam, 50, 90, 30, u64Sector, 1000000, 0, nullptr);
            QThread::msleep(5);
        }
    }
    m_log.nScanResult = nResult;
    return nResult;
}

int CFakeEngine::InitSearchCallBack(SearchProgressCallback pSearch, void* pParam) {
    m_pSearch = pSearch;
    m_pSearchParam = pParam;
    return 0;
}

int CFakeEngine::SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) {
    m_log.strSearchKey = pKey;
    m_pSearch(m_pSearchParam, 50, u"half way");
    for (size_t i = 0; i < m_vecHitNames.size(); ++i) {
        SEARCH_FILE_INFO info{};
        std::strncpy(info.szFileName, m_vecHitNames[i].c_str(), FILE_NODE_NAME_BYTES - 1);
        info.u64FileSize = 1024 * (i + 1);
        info.nFileIndex = static_cast<uint32_t>(i + 1);
        vecOut.push_back(info);
    }
    m_pSearch(m_pSearchParam, 100, nullptr);
    return 0;
}

IFileRecoveryParse* CFakeEngineWindow::CreateEngine(int nDiskNo, long long llStartSector,
                                                    long long llSectorCount, char16_t wcDriveLetter,
                                                    RECOVERY_TYPE nRecoveryType) {
    m_log.nDiskNo = nDiskNo;
    m_log.llStartSector = llStartSector;
    m_log.llSectorCount = llSectorCount;
    m_log.wcDriveLetter = wcDriveLetter;
    m_log.nRecoveryType = nRecoveryType;
    if (m_nMode == EFakeScan::NoEngine)
        return nullptr;
    return new CFakeEngine(m_log, m_nMode, m_vecHitNames);
}

CModalAnswer::CModalAnswer(const char* pClassName, const QString& strButton, int nDelayMs)
    : m_pClassName(pClassName), m_strButton(strButton) {
    connect(&m_timer, &QTimer::timeout, this, &CModalAnswer::Poll);
    m_timer.start(20);
    if (nDelayMs > 0) {
        m_timer.stop();
        QTimer::singleShot(nDelayMs, this, [this] { m_timer.start(20); });
    }
}

void CModalAnswer::Poll() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal == nullptr || !pModal->inherits(m_pClassName) || !pModal->isVisible())
        return;
    for (QAbstractButton* pButton : pModal->findChildren<QAbstractButton*>()) {
        if (pButton->text() == m_strButton) {
            m_timer.stop();
            m_bAnswered = true;
            pButton->click();
            return;
        }
    }
}

std::string MakePartitionedImage(const std::string& strPath, int nMiB,
                                 const std::string& strSfdiskLines) {
    const bool bOk = RunShell("truncate -s " + std::to_string(nMiB) + "M " + ShellQuote(strPath)) &&
                     RunShell("printf 'label: dos\\n" + strSfdiskLines +
                              "' | sfdisk -q --no-reread " + ShellQuote(strPath));
    return bOk ? strPath : std::string();
}

int CFakeEngine::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int nBaseDepth) {
    m_log.vecSavedPaths.push_back(pTargetPath);
    m_log.vecBaseDepths.push_back(nBaseDepth);
    int nStatus = 0;
    if (std::strncmp(pNode->szFileName, "silent", 6) == 0)
        return EIO;
    if (std::strncmp(pNode->szFileName, "bad", 3) == 0) {
        nStatus = EIO;
    } else {
        CSafeOutputFile file;
        nStatus = file.Create(Unicode2Ansi(pTargetPath));
        if (nStatus == 0)
            nStatus = file.Write(pNode->szFileName, std::strlen(pNode->szFileName));
        if (nStatus == 0)
            nStatus = file.Commit();
    }
    const int nStop = m_pRecovery(m_pParam, 100, 100, nStatus, pTargetPath);
    return nStop != 0 ? nStop : nStatus;
}

int CFakeEngine::PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer,
                         int& nLength, PreviewProgressCallback pCallback, void* pParam) {
    ++m_log.nPreviews;
    const std::string strName = pNode->szFileName;
    if (strName.size() > 4 && strName.compare(strName.size() - 4, 4, ".png") == 0) {
        std::copy(m_log.strPicturePath.begin(), m_log.strPicturePath.end(), pTempPathOut);
        pTempPathOut[m_log.strPicturePath.size()] = 0;
        nLength = 0;
    } else {
        nLength = std::min<int>(nLength, static_cast<int>(strName.size()));
        std::memcpy(pBuffer, strName.data(), nLength);
    }
    pCallback(pParam, 100, 0);
    return 0;
}
