// The one loop that continues interrupted and short reads and writes.
#include "util/FdIo.h"

#include "util/StatusCodes.h"

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr int64_t AT_FILE_POSITION = -1;

ssize_t TransferOnce(int nFd, uint8_t* pRead, const uint8_t* pWrite, size_t nBytes,
                     int64_t llOffset) {
    if (pRead != nullptr)
        return llOffset == AT_FILE_POSITION ? read(nFd, pRead, nBytes)
                                            : pread(nFd, pRead, nBytes, llOffset);
    return llOffset == AT_FILE_POSITION ? write(nFd, pWrite, nBytes)
                                        : pwrite(nFd, pWrite, nBytes, llOffset);
}

int Transfer(int nFd, uint8_t* pRead, const uint8_t* pWrite, size_t nBytes, int64_t llOffset,
             size_t& nDone) {
    nDone = 0;
    while (nDone < nBytes) {
        const int64_t llAt = llOffset == AT_FILE_POSITION ? llOffset : llOffset + int64_t(nDone);
        ssize_t n = TransferOnce(nFd, pRead ? pRead + nDone : nullptr,
                                 pWrite ? pWrite + nDone : nullptr, nBytes - nDone, llAt);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return pRead != nullptr ? ERROR_READ_SHORT : EIO;
        nDone += static_cast<size_t>(n);
    }
    return 0;
}

} // namespace

int ReadFull(int nFd, void* pData, size_t nBytes, size_t& nDone) {
    return Transfer(nFd, static_cast<uint8_t*>(pData), nullptr, nBytes, AT_FILE_POSITION, nDone);
}

int ReadFullAt(int nFd, void* pData, size_t nBytes, uint64_t u64Offset, size_t& nDone) {
    return Transfer(nFd, static_cast<uint8_t*>(pData), nullptr, nBytes,
                    static_cast<int64_t>(u64Offset), nDone);
}

int ReadFullAt(int nFd, void* pData, size_t nBytes, uint64_t u64Offset) {
    size_t nDone = 0;
    return ReadFullAt(nFd, pData, nBytes, u64Offset, nDone);
}

int WriteFull(int nFd, const void* pData, size_t nBytes) {
    size_t nDone = 0;
    return Transfer(nFd, nullptr, static_cast<const uint8_t*>(pData), nBytes, AT_FILE_POSITION,
                    nDone);
}

int WriteFullAt(int nFd, const void* pData, size_t nBytes, uint64_t u64Offset) {
    size_t nDone = 0;
    return Transfer(nFd, nullptr, static_cast<const uint8_t*>(pData), nBytes,
                    static_cast<int64_t>(u64Offset), nDone);
}
