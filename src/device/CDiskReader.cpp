// Bounded sector reads in 64 KiB system calls.
#include "device/CDiskReader.h"

#include "device/CDiskRegistry.h"
#include "engine/FileRecoveryTypes.h"
#include "util/DebugLog.h"
#include "util/FdIo.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr unsigned int READ_CHUNK_BYTES = 65536;
constexpr unsigned long long LENGTH_SECTOR_BYTES = 512;

constexpr off_t AT_FILE_POSITION = -1;

// Reads nBytes to pBuffer at llOffset (or the file position); returns the bytes that arrived.
// nStatus: 0, ERROR_READ_SHORT when the device ended first, or the errno of a failed read.
// Positioned reads leave no shared file offset behind.
unsigned int ReadChunked(int nFd, unsigned char* pBuffer, unsigned int nBytes, off_t llOffset,
                         int& nStatus) {
    unsigned int nDone = 0;
    nStatus = 0;
    while (nDone < nBytes && nStatus == 0) {
        unsigned int nChunk = std::min(READ_CHUNK_BYTES, nBytes - nDone);
        size_t nArrived = 0;
        nStatus = llOffset == AT_FILE_POSITION ? ReadFull(nFd, pBuffer + nDone, nChunk, nArrived)
                                               : ReadFullAt(nFd, pBuffer + nDone, nChunk,
                                                            uint64_t(llOffset) + nDone, nArrived);
        nDone += static_cast<unsigned int>(nArrived);
    }
    return nDone;
}

} // namespace

CDiskReader::~CDiskReader() {
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
}

int CDiskReader::Open(const char* pPath, unsigned long long u64Limit) {
    int nFd = OpenDeviceReadOnly(pPath);
    if (nFd < 0)
        return errno;
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = nFd;
    m_u64Limit = u64Limit;
    return 0;
}

int CDiskReader::Init(int nDiskNo, unsigned long long u64Limit) {
    std::string strPath = CDiskRegistry::GetInstance().GetDevicePath(nDiskNo);
    if (strPath.empty())
        return ENOENT;
    return Open(strPath.c_str(), u64Limit);
}

int CDiskReader::Init(const char16_t* pPath, unsigned long long u64Limit) {
    if (pPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    return Open(Unicode2Ansi(pPath).c_str(), u64Limit);
}

int CDiskReader::InitWhole(const char16_t* pPath, unsigned long long& u64Sectors) {
    u64Sectors = 0;
    if (int rc = Init(pPath, 0); rc != 0)
        return rc;
    // The end offset, unlike st_size, is also the length of a block device.
    const off_t llBytes = lseek(m_nFd, 0, SEEK_END);
    if (llBytes < 0)
        return errno;
    u64Sectors = static_cast<unsigned long long>(llBytes) / LENGTH_SECTOR_BYTES;
    m_u64Limit = u64Sectors;
    return 0;
}

int CDiskReader::ReadData(unsigned char* pBuffer, int nSectors, long long llStartSector,
                          int nBytesPerSector, unsigned int* pSectorsRead) {
    if (nSectors < 0 || nBytesPerSector <= 0 || llStartSector < 0 || pBuffer == nullptr)
        return ERROR_INVALID_PARAMETER;
    unsigned long long u64Start = static_cast<unsigned long long>(llStartSector);
    if (u64Start > m_u64Limit || static_cast<unsigned long long>(nSectors) > m_u64Limit - u64Start)
        return ERROR_INVALID_PARAMETER;
    if (m_nFd < 0)
        return EBADF;
    off_t llOffset = static_cast<off_t>(u64Start * nBytesPerSector);
    unsigned long long u64Bytes = static_cast<unsigned long long>(nSectors) * nBytesPerSector;
    if (u64Bytes > 0xFFFFFFFFull)
        return ERROR_INVALID_PARAMETER;
    int nStatus = 0;
    unsigned int nDone =
        ReadChunked(m_nFd, pBuffer, static_cast<unsigned int>(u64Bytes), llOffset, nStatus);
    if (pSectorsRead != nullptr)
        *pSectorsRead = nDone / nBytesPerSector;
    if (nStatus != 0)
        DebugLog("read %d at sector %llu (0x%llx)\n", nStatus, u64Start + nDone / nBytesPerSector,
                 u64Start + nDone / nBytesPerSector);
    return nStatus;
}

int CDiskReader::ReadDataTolerant(unsigned char* pBuffer, int nSectors, long long llStartSector,
                                  int nBytesPerSector, unsigned int* pSectorsRead,
                                  uint64_t& u64Unreadable) {
    unsigned int nRead = 0;
    int nResult = ReadData(pBuffer, nSectors, llStartSector, nBytesPerSector, &nRead);
    bool bDeviceError = nResult != 0 && nResult != ERROR_READ_SHORT &&
                        nResult != ERROR_INVALID_PARAMETER && nResult != EBADF;
    for (int i = static_cast<int>(nRead); bDeviceError && i < nSectors; ++i, ++nRead) {
        unsigned char* pSector = pBuffer + size_t(i) * nBytesPerSector;
        unsigned int nOne = 0;
        nResult = ReadData(pSector, 1, llStartSector + i, nBytesPerSector, &nOne);
        if (nResult == ERROR_READ_SHORT)
            break;
        if (nResult != 0) {
            DebugLog("unreadable sector %llu (0x%llx): %d\n",
                     static_cast<unsigned long long>(llStartSector + i),
                     static_cast<unsigned long long>(llStartSector + i), nResult);
            std::memset(pSector, 0, nBytesPerSector);
            ++u64Unreadable;
            nResult = 0;
        }
    }
    if (pSectorsRead != nullptr)
        *pSectorsRead = nRead;
    return nResult;
}

void CDiskReader::Prefetch(long long llStartSector, int nSectors, int nBytesPerSector) const {
    if (m_nFd < 0 || llStartSector < 0 || nSectors <= 0 || nBytesPerSector <= 0)
        return;
    posix_fadvise(m_nFd, static_cast<off_t>(llStartSector) * nBytesPerSector,
                  static_cast<off_t>(nSectors) * nBytesPerSector, POSIX_FADV_WILLNEED);
}

int ReadData(int nFd, unsigned char* pBuffer, int nBytes, unsigned int* pBytesRead) {
    if (nBytes < 0 || pBuffer == nullptr)
        return ERROR_INVALID_PARAMETER;
    int nStatus = 0;
    unsigned int nDone =
        ReadChunked(nFd, pBuffer, static_cast<unsigned int>(nBytes), AT_FILE_POSITION, nStatus);
    if (pBytesRead != nullptr)
        *pBytesRead = nDone;
    return nStatus;
}
