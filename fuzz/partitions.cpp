// Arbitrary disk heads through partition discovery and every boot-sector recogniser.
#include "device/CPartitionManager.h"
#include "device/FileSystemRecognisers.h"

#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    IsNtfs(pData, nSize);
    IsFat(pData, nSize);
    IsExt(pData, nSize);
    IsBitlockerDBR(pData, nSize);
    int nFd = memfd_create("fuzz-disk", 0);
    if (nFd < 0)
        return 0;
    if (write(nFd, pData, nSize) == static_cast<ssize_t>(nSize)) {
        CPartitionManager manager;
        manager.GetDiskPartitions(nFd, 0);
    }
    close(nFd);
    return 0;
}
