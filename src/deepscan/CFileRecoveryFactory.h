// Picks and creates the engine for a volume from what its first 16 KiB hold.
#pragma once

#include "deepscan/IDeepScanControl.h"
#include "engine/IFileRecoveryParse.h"

class CFileRecoveryFactory {
public:
    static CFileRecoveryFactory* GetInstance();

    // The engine for the volume on a registered disk (owned by the caller), or null when the
    // volume cannot be read or, for a fast scan, holds no NTFS, FAT or ext file system.
    IFileRecoveryParse* CreateFileRecoveryInstance(int nDiskNo, long long llStartSector,
                                                   long long llSectorCount, char16_t wcDriveLetter,
                                                   RECOVERY_TYPE nRecoveryType);
    // The same for a device or image file given by path.
    IFileRecoveryParse* CreateFileRecoveryInstance(const char16_t* pPath, char16_t wcDriveLetter,
                                                   RECOVERY_TYPE nRecoveryType);

    // The deep-scan controls of an engine this factory made, or null for a fast engine.
    static IDeepScanControl* GetDeepScanControl(IFileRecoveryParse* pEngine);

private:
    CFileRecoveryFactory() = default;
};
