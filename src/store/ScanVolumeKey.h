// What a deep scan is filed under in the scan index, so that it is taken up again, or reopened,
// only for the very volume it was made of.
#pragma once

#include <cstdint>
#include <string>

struct SCAN_VOLUME_KEY {
    std::string strDevicePath; // the device or image, symbolic links resolved
    uint64_t u64DeviceBytes;   // its size when the key was made
    uint64_t u64ModifyTime;    // its modification time, nanoseconds since 1970
    uint64_t u64StartSector;   // the volume's place on it
    uint64_t u64SectorCount;
};

// The key of the volume at u64StartSector of the device or image at the path: 0, or the errno of
// resolving or examining the path. Another image, or the same one changed since, has another key.
int MakeScanVolumeKey(const char* pDevicePath, uint64_t u64StartSector, uint64_t u64SectorCount,
                      SCAN_VOLUME_KEY& key);
