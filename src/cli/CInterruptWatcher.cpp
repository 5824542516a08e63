// sigwait on a thread: no code runs in signal context, so the second signal can clean up freely.
#include "cli/CInterruptWatcher.h"

#include "cli/CliExit.h"
#include "util/CSafeOutputFile.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> g_bStopRequested{false};

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void WaitForSignals() {
    sigset_t set = StopSignals();
    for (;;) {
        int nSignal = 0;
        if (sigwait(&set, &nSignal) != 0)
            continue;
        if (!g_bStopRequested.exchange(true)) {
            std::fputs("\norvanne-cli: stopping (press Ctrl-C again to quit at once)\n", stderr);
            continue;
        }
        CSafeOutputFile::RemovePartialFiles();
        std::fputs("\norvanne-cli: stopped\n", stderr);
        _exit(EXIT_STOPPED);
    }
}

} // namespace

void CInterruptWatcher::Start() {
    sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(WaitForSignals).detach();
}

bool CInterruptWatcher::IsStopRequested() {
    return g_bStopRequested;
}

void CInterruptWatcher::AcknowledgeStop() {
    g_bStopRequested = false;
}
