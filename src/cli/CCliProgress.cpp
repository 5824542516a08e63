// A one-line bar on a terminal, a plain line every few seconds otherwise.
#include "cli/CCliProgress.h"

#include "cli/CInterruptWatcher.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr long long TERMINAL_REFRESH_MS = 200;
constexpr long long PLAIN_LINE_MS = 5000;
constexpr int BAR_WIDTH = 30;

int StopAnswer() {
    return CInterruptWatcher::IsStopRequested() ? ERROR_CANCELLED_BY_USER : 0;
}

} // namespace

// The first line comes after one interval, so short runs print nothing but their result.
CCliProgress::CCliProgress()
    : m_bTerminal(isatty(STDERR_FILENO) != 0), m_llLastPrintMs(GetTickCountMs()) {}

CCliProgress::~CCliProgress() {
    FinishLine();
}

void CCliProgress::FinishLine() {
    if (m_bLineOpen)
        std::fputc('\n', stderr);
    m_bLineOpen = false;
}

bool CCliProgress::IsTimeToPrint() {
    long long llNow = GetTickCountMs();
    if (llNow - m_llLastPrintMs < (m_bTerminal ? TERMINAL_REFRESH_MS : PLAIN_LINE_MS))
        return false;
    m_llLastPrintMs = llNow;
    return true;
}

void CCliProgress::ShowScan(int nShownPercent, int nSecondsLeft, uint64_t u64Current,
                            uint64_t u64Total, uint64_t u64Files) {
    std::string strLeft = nSecondsLeft < 0 ? "estimating" : GetTimeString(nSecondsLeft) + " left";
    if (!m_bTerminal) {
        std::fprintf(stderr, "scan %3d%%  sector %llu of %llu  %llu files  %s\n", nShownPercent,
                     static_cast<unsigned long long>(u64Current),
                     static_cast<unsigned long long>(u64Total),
                     static_cast<unsigned long long>(u64Files), strLeft.c_str());
        return;
    }
    int nFilled = nShownPercent * BAR_WIDTH / 100;
    std::string strBar(nFilled, '#');
    strBar.append(BAR_WIDTH - nFilled, '.');
    std::fprintf(stderr, "\r[%s] %3d%%  %llu/%llu sectors  %llu files  %s\033[K", strBar.c_str(),
                 nShownPercent, static_cast<unsigned long long>(u64Current),
                 static_cast<unsigned long long>(u64Total),
                 static_cast<unsigned long long>(u64Files), strLeft.c_str());
    m_bLineOpen = true;
}

int CCliProgress::ScanCallBack(void* pParam, int nPercent, int nWeight, int nSecondsLeft,
                               uint64_t u64CurrentSector, uint64_t u64TotalSectors,
                               uint64_t u64FilesFound, const char16_t*) {
    auto* pProgress = static_cast<CCliProgress*>(pParam);
    if (int nStop = StopAnswer(); nStop != 0)
        return nStop;
    int nShown = std::clamp(nPercent * nWeight / 100, 0, 100);
    if (pProgress->IsTimeToPrint())
        pProgress->ShowScan(nShown, nSecondsLeft, u64CurrentSector, u64TotalSectors, u64FilesFound);
    return 0;
}

int CCliProgress::RecoveryCallBack(void*, int, int, int, const char16_t*) {
    return StopAnswer();
}

int CCliProgress::SearchCallBack(void*, int, const char16_t*) {
    return StopAnswer();
}
