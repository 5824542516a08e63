// Main window, scan side: the worker entries, the engine callbacks turned into signals, the scan
// and search sequence, and the result page they lead to.
#include "deepscan/CFileRecoveryFactory.h"
#include "ui/CMessageBox.h"
#include "ui/CMyThread.h"
#include "ui/CResultTableModel.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"
#include "util/DebugLog.h"
#include "util/FileCategory.h"
#include "util/StatusCodes.h"

#include <QCheckBox>
#include <QTreeWidget>

#include <algorithm>

namespace {
constexpr char16_t SCAN_DRIVE_LETTER = u'C';
constexpr int SCAN_WEIGHT = 100;
constexpr int SCAN_STOP_VALUE = 1;
constexpr int SEARCH_STOP_VALUE = 1;
constexpr int PREVIEW_STOP_VALUE = 1;
const char* const DEVICE_UNREADABLE_TEXT = "The selected device cannot be read.";
const char* const STALE_SCAN_TEXT =
    "That scan cannot be opened: its volume has changed since (or the scan's files are gone), "
    "so its results no longer match. Scan the volume again.";

QString FromWide(const char16_t* pText) {
    return pText == nullptr ? QString() : QString::fromUtf16(pText);
}
} // namespace

IFileRecoveryParse* DRUI::CreateEngine(int nDiskNo, long long llStartSector,
                                       long long llSectorCount, char16_t wcDriveLetter,
                                       RECOVERY_TYPE nRecoveryType) {
    return CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        nDiskNo, llStartSector, llSectorCount, wcDriveLetter, nRecoveryType);
}

void DRUI::DeleteEngine() {
    delete m_pEngine;
    m_pEngine = nullptr;
}

void DRUI::_ScanProcess(void* pParam, int& nResult) {
    static_cast<DRUI*>(pParam)->Scan(nullptr, nResult);
}

void DRUI::Scan(const char16_t*, int&) {
    m_bScanStop = false;
    m_bScanEnd = false;
    m_u64ItemsFound = 0;
    m_nScanPercent = 0;
    m_bScanStopped = false;
    DeleteEngine();
    DebugLog("m_partitionItem.u64StartSector = %lld\n",
             static_cast<long long>(m_partitionItem.u64StartSector));
    const long long llSectorCount =
        static_cast<long long>(m_partitionItem.u64EndSector + 1 - m_partitionItem.u64StartSector);
    m_pEngine = CreateEngine(static_cast<int>(m_partitionItem.nDiskNo),
                             static_cast<long long>(m_partitionItem.u64StartSector), llSectorCount,
                             SCAN_DRIVE_LETTER, RECOVERY_TYPE_DEEP);
    m_bScanFailed = m_pEngine == nullptr;
    // A scan starts afresh rather than taking up a stored scan of the volume; a reopened scan
    // takes it up and only loads it (it covered the volume), or, when it was stopped, goes on.
    IDeepScanControl* pDeep = CFileRecoveryFactory::GetDeepScanControl(m_pEngine);
    if (pDeep != nullptr && !m_bReopen)
        pDeep->SetNotLoadLogFile();
    if (m_bReopen && (pDeep == nullptr || pDeep->IsFindLogFile() == 0)) {
        DeleteEngine();
        m_bScanFailed = true;
    }
    if (m_pEngine != nullptr) {
        m_pEngine->InitCallBack(static_cast<ScanProgressCallback>(&DRUI::ScanCallBack),
                                static_cast<RecoveryProgressCallback>(&DRUI::RecoveryCallBack),
                                this, SCAN_WEIGHT);
        // A stop that came after the engine had finished leaves a whole scan.
        m_bScanStopped = m_pEngine->ScanDevice(nullptr) != 0 && m_bScanStop;
        // A stored scan that is only loaded reports no count of its own.
        if (m_bReopen)
            m_u64ItemsFound =
                std::max<unsigned long long>(m_u64ItemsFound, m_pEngine->GetLostFileCount());
    }
    m_bScanEnd = true;
    // Without an engine no report would ever close the dialog; the window says why instead.
    if (m_bScanFailed)
        ScanCallBack(this, 100, SCAN_WEIGHT, 0, 0, 0, 0, nullptr);
}

void DRUI::_SearchProcess(void* pParam, int&) {
    auto* pThis = static_cast<DRUI*>(pParam);
    pThis->m_bSearchStop = false;
    pThis->m_bSearchEnd = false;
    pThis->m_foundRows = CResultRowIndex();
    if (pThis->m_pEngine != nullptr) {
        pThis->m_pEngine->InitSearchCallBack(
            static_cast<SearchProgressCallback>(&DRUI::SearchCallBack), pThis);
        // The hits stream into the compact rows; a million of them never sit in memory whole.
        std::unique_ptr<ISearchCursor> pCursor;
        pThis->m_pEngine->OpenSearchCursor(pThis->m_strSearchPattern.c_str(), pCursor);
        if (pCursor)
            pThis->m_foundRows.Load(*pCursor);
    }
    pThis->m_bSearchEnd = true;
    SearchCallBack(pThis, 100, u"");
}

int DRUI::ScanCallBack(void* pParam, int nPercent, int nWeight, int nSecondsLeft,
                       uint64_t u64CurrentSector, uint64_t u64TotalSectors, uint64_t u64FilesFound,
                       const char16_t* pText) {
    auto* pThis = static_cast<DRUI*>(pParam);
    if (pThis->m_bScanStop)
        return SCAN_STOP_VALUE;
    // The closing report may carry no count; the largest one seen stands.
    if (u64FilesFound > pThis->m_u64ItemsFound)
        pThis->m_u64ItemsFound = u64FilesFound;
    pThis->m_nScanPercent = nPercent * nWeight / 100;
    emit pThis->ScanProcessCallBack(
        nPercent, nWeight, nSecondsLeft, QString::number(u64CurrentSector),
        QString::number(u64TotalSectors), QString::number(u64FilesFound), FromWide(pText));
    return 0;
}

int DRUI::RecoveryCallBack(void* pParam, int nPercent, int nWeight, int nStatus,
                           const char16_t* pPath) {
    auto* pThis = static_cast<DRUI*>(pParam);
    if (pThis->m_bRecoveryStop)
        return ERROR_CANCELLED_BY_USER;
    if (nPercent == 100 && nWeight != RECOVERY_DONE_WEIGHT)
        pThis->m_bFileReported = true;
    emit pThis->RecoveryCallBack(nPercent, nWeight, nStatus, FromWide(pPath));
    return 0;
}

int DRUI::SearchCallBack(void* pParam, int nPercent, const char16_t*) {
    auto* pThis = static_cast<DRUI*>(pParam);
    if (pThis->m_bSearchStop)
        return SEARCH_STOP_VALUE;
    emit pThis->SearchCallBack(nPercent, QString());
    return 0;
}

int DRUI::PreViewCallBack(void* pParam, int nPercent, int nStatus) {
    auto* pThis = static_cast<DRUI*>(pParam);
    if (pThis->m_bPreviewStop)
        return PREVIEW_STOP_VALUE;
    emit pThis->PreViewCallBackForSlot(nPercent, nStatus);
    return 0;
}

// Photo and Video end with a bar, Music does not: a bar is put between two kinds wherever one is
// missing, or the last extension of one kind and the first of the next would merge into one.
std::u16string DRUI::BuildSearchPattern() const {
    std::string strPattern;
    const char* const PATTERNS[] = {PHOTO_PATTERN,  MUSIC_PATTERN,   VIDEO_PATTERN,
                                    OFFICE_PATTERN, ARCHIVE_PATTERN, OTHER_PATTERN};
    const std::vector<QCheckBox*> vecBoxes = KindBoxes();
    for (size_t i = 0; i < vecBoxes.size(); ++i) {
        if (!vecBoxes[i]->isChecked())
            continue;
        const char* pPattern = PATTERNS[i];
        if (!strPattern.empty() && strPattern.back() != '|')
            strPattern += '|';
        strPattern += pPattern;
    }
    return QString::fromUtf8(strPattern).toStdU16String();
}

void DRUI::btnSlotScan() {
    QTreeWidgetItem* pItem = m_pDiskTree->currentItem();
    if (pItem == nullptr)
        return;
    m_partitionItem = pItem->data(0, Qt::UserRole).value<PARTITION_ITEM>();
    m_bWholeDiskScan = pItem->parent() == nullptr;
    ScanAndShowResults();
}

bool DRUI::ScanAndShowResults() {
    RunOperation(OPR_TYPE_SCAN, &DRUI::_ScanProcess);
    DebugLog("_ScanProcess end\n");
    if (m_bScanFailed) {
        CMessageBox::Ask(this, m_bReopen ? STALE_SCAN_TEXT : DEVICE_UNREADABLE_TEXT, true);
        return false;
    }
    m_strSearchPattern = BuildSearchPattern();
    DebugLog("_SearchProcess Start\n");
    RunOperation(OPR_TYPE_SEARCH, &DRUI::_SearchProcess);
    DebugLog("_SearchProcess end\n");
    InitLayout3Widget();
    return true;
}

// The dialog is connected before the worker starts, so an operation that ends at once still
// closes it.
void DRUI::RunOperation(int nOprType, void (*pEntry)(void*, int&),
                        const std::function<void(SCANUI&)>& prepare) {
    SCANUI dialog;
    dialog.InitSlot(this, nOprType);
    if (prepare)
        prepare(dialog);
    dialog.setGeometry(x() + (width() - SCANUI::DIALOG_WIDTH) / 2,
                       y() + (height() - SCANUI::DIALOG_HEIGHT) / 2, SCANUI::DIALOG_WIDTH,
                       SCANUI::DIALOG_HEIGHT);
    // Meanwhile the engine is the worker's: the table shows no path it has not read before.
    if (m_pResultModel != nullptr)
        m_pResultModel->SetEngineBusy(true);
    CMyThread thread;
    thread.SetFunc(pEntry, this);
    thread.start();
    dialog.exec();
    thread.exit(0);
    thread.wait();
    if (m_pResultModel != nullptr)
        m_pResultModel->SetEngineBusy(false);
}
