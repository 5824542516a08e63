// Formats debug lines and hands them to the sink the front end installed.
#include "util/DebugLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<DebugLogSink> g_pSink{nullptr};
}

void SetDebugLogSink(DebugLogSink pSink) {
    g_pSink.store(pSink);
}

void DebugLog(const char* pFormat, ...) {
    DebugLogSink pSink = g_pSink.load();
    if (pSink == nullptr)
        return;
    char szLine[1024];
    va_list args;
    va_start(args, pFormat);
    std::vsnprintf(szLine, sizeof(szLine), pFormat, args);
    va_end(args);
    pSink(szLine);
}
