// Scan and recovery progress on stderr, and Ctrl-C turned into a stop answer to the engine.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <string>

class CCliProgress {
public:
    CCliProgress();
    ~CCliProgress();

    // Installs the Ctrl-C handler; a first Ctrl-C asks the running operation to stop.
    void CatchInterrupt();
    bool WasInterrupted() const;
    // Forgets an earlier Ctrl-C, so the next operation runs (the scan's finds are still used).
    void ClearInterrupt();
    // Ends a progress line left open on a terminal.
    void FinishLine();

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
