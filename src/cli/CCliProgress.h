// Scan and recovery progress on stderr, and a stop request turned into the engines' stop answer.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <string>

class CCliProgress {
public:
    CCliProgress();
    ~CCliProgress();

    // Ends a progress line left open on a terminal.
    void FinishLine();

    // Each answers ERROR_CANCELLED_BY_USER once a stop was requested (CInterruptWatcher).
    static int ScanCallBack(void* pParam, int nPercent, int nWeight, int nSecondsLeft,
                            uint64_t u64CurrentSector, uint64_t u64TotalSectors,
                            uint64_t u64FilesFound, const char16_t* pText);
    static int RecoveryCallBack(void* pParam, int nPercent, int nWeight, int nStatus,
                                const char16_t* pPath);
    static int SearchCallBack(void* pParam, int nPercent, const char16_t* pText);

private:
    void ShowScan(int nShownPercent, int nSecondsLeft, uint64_t u64Current, uint64_t u64Total,
                  uint64_t u64Files);
    bool IsTimeToPrint();

    bool m_bTerminal;
    bool m_bLineOpen = false;
    long long m_llLastPrintMs;
};
