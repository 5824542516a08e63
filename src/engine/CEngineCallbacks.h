// The progress callbacks an engine was handed, with its weight, and the reports made through
// them: every engine holds one instead of keeping the pointers itself.
#pragma once

#include "engine/FileRecoveryTypes.h"

class CEngineCallbacks {
public:
    void Init(ScanProgressCallback pScanCallback, RecoveryProgressCallback pRecoveryCallback,
              void* pParam, int nWeight);
    void InitSearch(SearchProgressCallback pSearchCallback, void* pParam);

    bool HasScan() const { return m_pScanCallback != nullptr; }
    ScanProgressCallback ScanCallback() const { return m_pScanCallback; }
    int Weight() const { return m_nWeight; }
    RecoveryProgressCallback RecoveryCallback() const { return m_pRecoveryCallback; }
    void* Param() const { return m_pParam; }
    SearchProgressCallback SearchCallback() const { return m_pSearchCallback; }
    void* SearchParam() const { return m_pSearchParam; }

    // Each passes the callback's answer back (non-zero: stop), or 0 when there is no callback.
    int ReportScan(int nPercent, int nWeight, int nSecondsLeft, uint64_t u64CurrentSector = 0,
                   uint64_t u64TotalSectors = 0, uint64_t u64FilesFound = 0,
                   const char16_t* pText = nullptr) const;
    int ReportRecovery(int nPercent, int nWeight, int nStatus, const char16_t* pPath) const;

private:
    ScanProgressCallback m_pScanCallback = nullptr;
    RecoveryProgressCallback m_pRecoveryCallback = nullptr;
    void* m_pParam = nullptr;
    int m_nWeight = 0;
    SearchProgressCallback m_pSearchCallback = nullptr;
    void* m_pSearchParam = nullptr;
};
