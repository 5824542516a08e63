// Null-safe forwarding of an engine's progress reports.
#include "engine/CEngineCallbacks.h"

void CEngineCallbacks::Init(ScanProgressCallback pScanCallback,
                            RecoveryProgressCallback pRecoveryCallback, void* pParam, int nWeight) {
    m_pScanCallback = pScanCallback;
    m_pRecoveryCallback = pRecoveryCallback;
    m_pParam = pParam;
    m_nWeight = nWeight;
}

void CEngineCallbacks::InitSearch(SearchProgressCallback pSearchCallback, void* pParam) {
    m_pSearchCallback = pSearchCallback;
    m_pSearchParam = pParam;
}

int CEngineCallbacks::ReportScan(int nPercent, int nWeight, int nSecondsLeft,
                                 uint64_t u64CurrentSector, uint64_t u64TotalSectors,
                                 uint64_t u64FilesFound, const char16_t* pText) const {
    if (m_pScanCallback == nullptr)
        return 0;
    return m_pScanCallback(m_pParam, nPercent, nWeight, nSecondsLeft, u64CurrentSector,
                           u64TotalSectors, u64FilesFound, pText);
}

int CEngineCallbacks::ReportRecovery(int nPercent, int nWeight, int nStatus,
                                     const char16_t* pPath) const {
    if (m_pRecoveryCallback == nullptr)
        return 0;
    return m_pRecoveryCallback(m_pParam, nPercent, nWeight, nStatus, pPath);
}
