// Reads a volume's first 16 KiB and makes the engine its file system calls for.
#include "engine/CFileRecoveryFactory.h"

#include "device/CDiskRegistry.h"
#include "device/FileSystemRecognisers.h"
#include "engine/CFastExtRecovery.h"
#include "engine/CProfessionalRecovery.h"
#include "fat/CFastFatRecovery.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <unistd.h>
#include <vector>

namespace {

constexpr size_t PROBE_BYTES = 16384;
constexpr long long SECTOR_BYTES = 512;

enum class VolumeKind { Ntfs, Fat, Ext, Unknown };

VolumeKind Recognise(const uint8_t* pHead) {
    if (IsNtfs(pHead, PROBE_BYTES))
        return VolumeKind::Ntfs;
    if (IsFat(pHead, PROBE_BYTES))
        return VolumeKind::Fat;
    if (IsExt(pHead, PROBE_BYTES))
        return VolumeKind::Ext;
    return VolumeKind::Unknown;
}

// A deep scan suits every volume; a fast one only a file system it can walk.
IFileRecoveryParse* MakeEngine(VolumeKind kind, RECOVERY_TYPE nRecoveryType) {
    if (nRecoveryType != RECOVERY_TYPE_FAST)
        return new CProfessionalRecovery();
    switch (kind) {
    case VolumeKind::Ntfs:
        return new CFastNtfsRecovery();
    case VolumeKind::Fat:
        return new CFastFatRecovery();
    case VolumeKind::Ext:
        return new CFastExtRecovery();
    case VolumeKind::Unknown:
        return nullptr;
    }
    return nullptr;
}

// Reads the probe at the byte offset; false when fewer bytes arrive.
bool ReadProbe(int nFd, off_t llOffset, std::vector<uint8_t>& vecHead) {
    vecHead.assign(PROBE_BYTES, 0);
    return pread(nFd, vecHead.data(), PROBE_BYTES, llOffset) == static_cast<ssize_t>(PROBE_BYTES);
}

} // namespace

CFileRecoveryFactory* CFileRecoveryFactory::GetInstance() {
    static CFileRecoveryFactory factory;
    return &factory;
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(int nDiskNo,
                                                                     long long llStartSector,
                                                                     long long llSectorCount,
                                                                     char16_t wcDriveLetter,
                                                                     RECOVERY_TYPE nRecoveryType) {
    int nFd = CDiskRegistry::GetInstance().OpenDisk(nDiskNo);
    if (nFd < 0) {
        DebugLog("Open Failed\n");
        return nullptr;
    }
    std::vector<uint8_t> vecHead;
    bool bRead = llStartSector >= 0 && ReadProbe(nFd, llStartSector * SECTOR_BYTES, vecHead);
    close(nFd);
    if (!bRead) {
        DebugLog("read Failed\n");
        return nullptr;
    }
    IFileRecoveryParse* pEngine = MakeEngine(Recognise(vecHead.data()), nRecoveryType);
    if (pEngine != nullptr)
        pEngine->Init(nDiskNo, llStartSector, llSectorCount, wcDriveLetter);
    return pEngine;
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(const char16_t* pPath,
                                                                     char16_t wcDriveLetter,
                                                                     RECOVERY_TYPE nRecoveryType) {
    if (pPath == nullptr)
        return nullptr;
    int nFd = OpenDeviceReadOnly(Unicode2Ansi(pPath).c_str());
    if (nFd < 0)
        return nullptr;
    std::vector<uint8_t> vecHead;
    bool bRead = ReadProbe(nFd, 0, vecHead);
    close(nFd);
    if (!bRead)
        return nullptr;
    IFileRecoveryParse* pEngine = MakeEngine(Recognise(vecHead.data()), nRecoveryType);
    if (pEngine != nullptr)
        pEngine->Init(pPath, wcDriveLetter);
    return pEngine;
}
