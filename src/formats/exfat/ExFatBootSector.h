// The exFAT boot region: main boot sector fields, the region checksum, and the volume geometry.
#pragma once

#include "device/BootSectorLayout.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// The boot region: main boot, eight extended boot, OEM parameters, reserved, then the checksum
// sector; the backup region repeats it right after.
constexpr uint32_t EXFAT_BOOT_REGION_SECTORS = 12;

constexpr uint32_t EXFAT_FIRST_CLUSTER = 2;
// Engines count in 512-byte sectors, whatever the volume's own sector size.
constexpr uint32_t EXFAT_UNIT_BYTES = 512;

struct EXFAT_GEOMETRY {
    uint64_t u64PartitionStart; // absolute 512-byte sector of the boot sector
    uint64_t u64TotalSectors;   // volume length, 512-byte sectors
    uint64_t u64FatStart;       // first FAT, 512-byte sectors from the partition start
    uint64_t u64FatSectors;     // one FAT, 512-byte sectors
    uint64_t u64HeapStart;      // cluster 2, 512-byte sectors from the partition start
    uint32_t nClusterCount;     // clusters in the heap
    uint32_t nRootCluster;
    uint32_t nSectorsPerCluster; // 512-byte sectors
    uint32_t nBytesPerSector;    // the volume's own sector size
    uint32_t nVolumeSerial;

    uint32_t ClusterBytes() const { return nSectorsPerCluster * EXFAT_UNIT_BYTES; }
    bool IsHeapCluster(uint32_t nCluster) const {
        return nCluster >= EXFAT_FIRST_CLUSTER && nCluster - EXFAT_FIRST_CLUSTER < nClusterCount;
    }
    // True when an absolute 512-byte sector lies inside the volume.
    bool ContainsSector(uint64_t u64Sector) const {
        return u64Sector >= u64PartitionStart && u64Sector - u64PartitionStart < u64TotalSectors;
    }
    // Absolute 512-byte sector where a heap cluster begins.
    uint64_t ClusterToSector(uint32_t nCluster) const {
        return u64PartitionStart + u64HeapStart +
               uint64_t(nCluster - EXFAT_FIRST_CLUSTER) * nSectorsPerCluster;
    }
};

// One step of the 32-bit rotating checksum of the boot region and the up-case table.
inline uint32_t ExFatChecksumStep32(uint32_t nSum, uint8_t nByte) {
    return ((nSum & 1) ? 0x80000000u : 0u) + (nSum >> 1) + nByte;
}

// The region checksum over the first 11 sectors (volume flags and percent in use left out).
// nullopt when the buffer does not hold 11 sectors of nBytesPerSector.
std::optional<uint32_t> ExFatBootChecksum(const uint8_t* pData, size_t nSize,
                                          uint32_t nBytesPerSector);
// True when the buffer holds a boot region (12 sectors) whose checksum sector matches.
bool IsExFatBootRegionValid(const uint8_t* pData, size_t nSize);
// The geometry of the main (or backup) boot sector of a volume starting at u64PartitionStart, or
// nullopt when a field lies outside what exFAT allows; the checksum is not looked at.
std::optional<EXFAT_GEOMETRY> ParseExFatBootSector(const uint8_t* pData, size_t nSize,
                                                   uint64_t u64PartitionStart);
