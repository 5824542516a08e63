// Scan-index keys from the device or image itself: its real path, size and modification time.
#include "store/ScanVolumeKey.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t NANOSECONDS_PER_SECOND = 1000000000;

} // namespace

int MakeScanVolumeKey(const char* pDevicePath, uint64_t u64StartSector, uint64_t u64SectorCount,
                      SCAN_VOLUME_KEY& key) {
    if (pDevicePath == nullptr)
        return EINVAL;
    char szReal[PATH_MAX];
    if (realpath(pDevicePath, szReal) == nullptr)
        return errno;
    struct stat st;
    if (stat(szReal, &st) != 0)
        return errno;
    uint64_t u64Bytes = static_cast<uint64_t>(st.st_size);
    // A block device reports no size of its own; its end offset is its size.
    if (S_ISBLK(st.st_mode)) {
        int nFd = open(szReal, O_RDONLY | O_CLOEXEC);
        if (nFd < 0)
            return errno;
        off_t llEnd = lseek(nFd, 0, SEEK_END);
        close(nFd);
        if (llEnd < 0)
            return errno;
        u64Bytes = static_cast<uint64_t>(llEnd);
    }
    key.strDevicePath = szReal;
    key.u64DeviceBytes = u64Bytes;
    key.u64ModifyTime =
        uint64_t(st.st_mtim.tv_sec) * NANOSECONDS_PER_SECOND + uint64_t(st.st_mtim.tv_nsec);
    key.u64StartSector = u64StartSector;
    key.u64SectorCount = u64SectorCount;
    return 0;
}
