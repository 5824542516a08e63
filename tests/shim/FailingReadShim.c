// Test seam preloaded into a process (LD_PRELOAD): reads of one file fail with EIO on chosen
// 512-byte sectors, as a damaged disk's do. ORVANNE_FAIL_FILE names the file and
// ORVANNE_FAIL_SECTORS the sectors ("7,100-131"). A read that reaches a bad sector stops short
// before it; a read that starts on one fails. ORVANNE_READ_DELAY_US makes every read of the file
// that many microseconds slow, as a failing disk's are (tests stop copies while they run).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

enum { SHIM_SECTOR_BYTES = 512, SHIM_MAX_RANGES = 64 };

struct SectorRange {
    uint64_t u64First;
    uint64_t u64Last;
};

static struct SectorRange g_ranges[SHIM_MAX_RANGES];
static int g_nRanges = -1;
static useconds_t g_nDelayUs;
static dev_t g_device;
static ino_t g_inode;

static void LoadSettings(void) {
    if (g_nRanges >= 0)
        return;
    g_nRanges = 0;
    const char* pFile = getenv("ORVANNE_FAIL_FILE");
    const char* pList = getenv("ORVANNE_FAIL_SECTORS");
    const char* pDelay = getenv("ORVANNE_READ_DELAY_US");
    g_nDelayUs = pDelay != NULL ? (useconds_t)strtoul(pDelay, NULL, 10) : 0;
    struct stat st;
    if (pFile == NULL || stat(pFile, &st) != 0)
        return;
    if (pList == NULL)
        pList = "";
    g_device = st.st_dev;
    g_inode = st.st_ino;
    while (g_nRanges < SHIM_MAX_RANGES) {
        char* pEnd = NULL;
        uint64_t u64First = strtoull(pList, &pEnd, 10);
        if (pEnd == pList)
            break;
        uint64_t u64Last = u64First;
        if (*pEnd == '-')
            u64Last = strtoull(pEnd + 1, &pEnd, 10);
        g_ranges[g_nRanges].u64First = u64First;
        g_ranges[g_nRanges].u64Last = u64Last;
        ++g_nRanges;
        if (*pEnd != ',')
            break;
        pList = pEnd + 1;
    }
}

static int IsFailingFile(int nFd) {
    LoadSettings();
    struct stat st;
    if ((g_nRanges == 0 && g_nDelayUs == 0) || fstat(nFd, &st) != 0 || st.st_dev != g_device ||
        st.st_ino != g_inode)
        return 0;
    if (g_nDelayUs > 0)
        usleep(g_nDelayUs);
    return 1;
}

// Bytes of [llOffset, llOffset + nBytes) readable before the first bad sector.
static size_t ReadableBytes(off_t llOffset, size_t nBytes) {
    uint64_t u64Begin = (uint64_t)llOffset;
    uint64_t u64End = u64Begin + nBytes;
    uint64_t u64Stop = u64End;
    for (int i = 0; i < g_nRanges; ++i) {
        uint64_t u64BadBegin = g_ranges[i].u64First * SHIM_SECTOR_BYTES;
        uint64_t u64BadEnd = (g_ranges[i].u64Last + 1) * SHIM_SECTOR_BYTES;
        if (u64BadBegin >= u64End || u64BadEnd <= u64Begin)
            continue;
        uint64_t u64At = u64BadBegin > u64Begin ? u64BadBegin : u64Begin;
        if (u64At < u64Stop)
            u64Stop = u64At;
    }
    return (size_t)(u64Stop - u64Begin);
}

typedef ssize_t (*PreadFn)(int, void*, size_t, off_t);
typedef ssize_t (*ReadFn)(int, void*, size_t);

static ssize_t FailingPread(const char* pName, int nFd, void* pBuffer, size_t nBytes,
                            off_t llOffset) {
    PreadFn pReal = (PreadFn)dlsym(RTLD_NEXT, pName);
    if (nBytes > 0 && IsFailingFile(nFd)) {
        size_t nGood = ReadableBytes(llOffset, nBytes);
        if (nGood == 0) {
            errno = EIO;
            return -1;
        }
        nBytes = nGood;
    }
    return pReal(nFd, pBuffer, nBytes, llOffset);
}

ssize_t pread(int nFd, void* pBuffer, size_t nBytes, off_t llOffset) {
    return FailingPread("pread", nFd, pBuffer, nBytes, llOffset);
}

ssize_t pread64(int nFd, void* pBuffer, size_t nBytes, off_t llOffset) {
    return FailingPread("pread64", nFd, pBuffer, nBytes, llOffset);
}

ssize_t read(int nFd, void* pBuffer, size_t nBytes) {
    ReadFn pReal = (ReadFn)dlsym(RTLD_NEXT, "read");
    if (nBytes > 0 && IsFailingFile(nFd)) {
        off_t llOffset = lseek(nFd, 0, SEEK_CUR);
        if (llOffset >= 0) {
            size_t nGood = ReadableBytes(llOffset, nBytes);
            if (nGood == 0) {
                errno = EIO;
                return -1;
            }
            nBytes = nGood;
        }
    }
    return pReal(nFd, pBuffer, nBytes);
}
