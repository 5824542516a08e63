// Reads a volume's first 16 KiB and makes the engine its file system calls for.
#include "deepscan/CFileRecoveryFactory.h"

#include "deepscan/CFastExtRecovery.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/CDiskRegistry.h"
#include "device/FileSystemRecognisers.h"
#include "exfat/CFastExFatRecovery.h"
#include "fat/CFastFatRecovery.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t PROBE_BYTES = 16384;
constexpr long long SECTOR_BYTES = 512;

enum class VolumeKind { Ntfs, Fat, ExFat, Ext, Unknown };

VolumeKind Recognise(const uint8_t* pHead) {
    if (IsNtfs(pHead, PROBE_BYTES))
        return VolumeKind::Ntfs;
    if (IsFat(pHead, PROBE_BYTES))
        return VolumeKind::Fat;
    if (IsExFatVolume(pHead, PROBE_BYTES))
        return VolumeKind::ExFat;
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
    case VolumeKind::ExFat:
        return new CFastExFatRecovery();
    case VolumeKind::Ext:
        return new CFastExtRecovery();
    case VolumeKind::Unknown:
        return nullptr;
    }
    return nullptr;
}

enum class ProbeResult { Read, VolumeTooShort, Unreadable };

// Reads the probe at the byte offset. Where the disk fails to read it, sector by sector: the
// unreadable sectors stay zero and only an unreadable first sector leaves the head unknown. A
// damaged head is told apart from a volume that ends before the probe does.
ProbeResult ReadProbe(int nFd, off_t llOffset, std::vector<uint8_t>& vecHead) {
    vecHead.assign(PROBE_BYTES, 0);
    ssize_t n = pread(nFd, vecHead.data(), PROBE_BYTES, llOffset);
    if (n == static_cast<ssize_t>(PROBE_BYTES))
        return ProbeResult::Read;
    bool bFirstRead = true;
    for (size_t nOff = 0; nOff < PROBE_BYTES; nOff += SECTOR_BYTES) {
        n = pread(nFd, vecHead.data() + nOff, SECTOR_BYTES, llOffset + static_cast<off_t>(nOff));
        if (n == 0 || (n > 0 && n < SECTOR_BYTES))
            return ProbeResult::VolumeTooShort;
        if (n < 0) {
            DebugLog("unreadable sector %lld of the volume head: %d\n",
                     static_cast<long long>((llOffset + static_cast<off_t>(nOff)) / SECTOR_BYTES),
                     errno);
            std::fill_n(vecHead.data() + nOff, SECTOR_BYTES, 0);
            bFirstRead &= nOff != 0;
        }
    }
    return bFirstRead ? ProbeResult::Read : ProbeResult::Unreadable;
}

// The engine for what the probe found: a head that cannot be read still gets a deep scan.
IFileRecoveryParse* MakeEngineFromProbe(ProbeResult nProbe, const std::vector<uint8_t>& vecHead,
                                        RECOVERY_TYPE nRecoveryType) {
    switch (nProbe) {
    case ProbeResult::Read:
        return MakeEngine(Recognise(vecHead.data()), nRecoveryType);
    case ProbeResult::Unreadable:
        return MakeEngine(VolumeKind::Unknown, nRecoveryType);
    case ProbeResult::VolumeTooShort:
        return nullptr;
    }
    return nullptr;
}

// A volume is never longer than its device: a damaged partition entry would otherwise have the
// deep pass read hours of sectors that do not exist.
long long ClampToDevice(int nFd, long long llStartSector, long long llSectorCount) {
    const long long llDeviceSectors = static_cast<long long>(GetDeviceBytes(nFd) / SECTOR_BYTES);
    if (llDeviceSectors == 0 || llStartSector < 0 ||
        llSectorCount <= llDeviceSectors - llStartSector)
        return llSectorCount;
    long long llClamped = std::max(0LL, llDeviceSectors - llStartSector);
    DebugLog("volume at sector %lld: %lld sectors asked, the device ends after %lld\n",
             llStartSector, llSectorCount, llClamped);
    return llClamped;
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
    llSectorCount = ClampToDevice(nFd, llStartSector, llSectorCount);
    std::vector<uint8_t> vecHead;
    ProbeResult nProbe = llStartSector >= 0 && llSectorCount > 0
                             ? ReadProbe(nFd, llStartSector * SECTOR_BYTES, vecHead)
                             : ProbeResult::VolumeTooShort;
    close(nFd);
    IFileRecoveryParse* pEngine = MakeEngineFromProbe(nProbe, vecHead, nRecoveryType);
    if (pEngine == nullptr) {
        DebugLog("read Failed\n");
        return nullptr;
    }
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
    ProbeResult nProbe = ReadProbe(nFd, 0, vecHead);
    close(nFd);
    IFileRecoveryParse* pEngine = MakeEngineFromProbe(nProbe, vecHead, nRecoveryType);
    if (pEngine != nullptr)
        pEngine->Init(pPath, wcDriveLetter);
    return pEngine;
}

IDeepScanControl* CFileRecoveryFactory::GetDeepScanControl(IFileRecoveryParse* pEngine) {
    return dynamic_cast<CProfessionalRecovery*>(pEngine);
}
