// Clock, sleep, calendar-time and file-size wrappers over the platform.
#pragma once

#include <cstdint>

struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth; // 1-12
    uint16_t wDay;
    uint16_t wDayOfWeek; // 0 = Sunday
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

// Size of the open file split into its low and high 32 bits; 0, or -1.
int GetFileSizeByHandle(int nFd, int* pLow, int* pHigh);
// Milliseconds on a monotonic clock, for measuring intervals.
long long GetTickCountMs();
void SleepMs(int nMilliseconds);
// 0, or 34 when the conversion fails.
int GetLocalSystemTime(SYSTEMTIME* pTime);
int GetUtcSystemTime(SYSTEMTIME* pTime);
