// Thin wrappers over the clock, sleep and fstat calls.
#include "util/TimeUtil.h"

#include "util/StatusCodes.h"

#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <sys/time.h>

namespace {

void FillSystemTime(const struct tm& tmValue, long nMicroseconds, SYSTEMTIME* pTime) {
    pTime->wYear = uint16_t(tmValue.tm_year + 1900);
    pTime->wMonth = uint16_t(tmValue.tm_mon + 1);
    pTime->wDay = uint16_t(tmValue.tm_mday);
    pTime->wDayOfWeek = uint16_t(tmValue.tm_wday);
    pTime->wHour = uint16_t(tmValue.tm_hour);
    pTime->wMinute = uint16_t(tmValue.tm_min);
    pTime->wSecond = uint16_t(tmValue.tm_sec);
    pTime->wMilliseconds = uint16_t(nMicroseconds / 1000);
}

int GetSystemTime(SYSTEMTIME* pTime, struct tm* (*convert)(const time_t*, struct tm*)) {
    if (pTime == nullptr)
        return ERROR_INVALID_PARAMETER;
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm tmValue;
    if (convert(&now.tv_sec, &tmValue) == nullptr)
        return ERROR_TIME_RANGE;
    FillSystemTime(tmValue, now.tv_usec, pTime);
    return 0;
}

} // namespace

int GetFileSizeByHandle(int nFd, int* pLow, int* pHigh) {
    struct stat st;
    if (pLow == nullptr || pHigh == nullptr || fstat(nFd, &st) != 0)
        return -1;
    uint64_t u64Size = static_cast<uint64_t>(st.st_size);
    *pLow = static_cast<int>(u64Size & 0xFFFFFFFF);
    *pHigh = static_cast<int>(u64Size >> 32);
    return 0;
}

long long GetTickCountMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMs(int nMilliseconds) {
    struct timespec delay = {nMilliseconds / 1000, (nMilliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

int GetLocalSystemTime(SYSTEMTIME* pTime) {
    return GetSystemTime(pTime, localtime_r);
}
int GetUtcSystemTime(SYSTEMTIME* pTime) {
    return GetSystemTime(pTime, gmtime_r);
}
