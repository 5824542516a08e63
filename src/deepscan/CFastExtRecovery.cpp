// Keeps the ext volume open so the engine behaves like the others; it never reports a file.
#include "deepscan/CFastExtRecovery.h"

#include "device/CDiskRegistry.h"

#include <cerrno>
#include <unistd.h>

CFastExtRecovery::~CFastExtRecovery() {
    if (m_nFd >= 0)
        close(m_nFd);
}

int CFastExtRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                           char16_t) {
    int nFd = CDiskRegistry::GetInstance().OpenDisk(nDiskNo);
    if (nFd < 0)
        return errno;
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = nFd;
    m_u64StartSector = static_cast<uint64_t>(llStartSector);
    m_u64SectorCount = static_cast<uint64_t>(llSectorCount);
    return 0;
}

int CFastExtRecovery::Init(const char16_t*, char16_t) {
    return 0;
}
