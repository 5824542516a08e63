// The FAT boot-sector fields the engines read and the volume geometry derived from them.
#pragma once

#include "device/BootSectorLayout.h"
#include "engine/FileRecoveryTypes.h"
#include "util/StatusCodes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// The engines count every sector in 512-byte units, whatever the boot sector's sector size, so
// that a partition start from the partition table and a cluster address agree.
constexpr uint32_t FAT_SECTOR_BYTES = 512;
constexpr uint32_t FAT_FIRST_DATA_CLUSTER = 2;
// The FAT12/FAT16 root directory is addressed as cluster 0.
constexpr uint32_t FAT16_ROOT_CLUSTER = 0;

struct FAT_GEOMETRY {
    uint64_t u64PartitionStart;  // absolute sector of the boot sector
    uint64_t u64TotalSectors;    // sectors of the volume (boot sector's count, 16-bit if 32 is 0)
    uint32_t nSectorsPerCluster; // in 512-byte sectors
    uint32_t nFatBits;           // 12, 16 or 32: the width of one FAT entry
    uint32_t bIsFat32;           // 1 FAT32, 0 FAT12 or FAT16
    uint32_t nRootCluster;       // FAT32 BPB_RootClus; 0 (the fixed root area) on FAT12/16
    uint32_t nDataStart;         // sector of cluster 2, relative to the partition start
    uint32_t nRootSectors;       // FAT12/16: the fixed root area just before cluster 2; FAT32: 0
    uint64_t u64FirstFatSector;  // absolute
    uint64_t u64FatSectors;      // sectors of one FAT copy
    uint32_t nClusterLimit;      // one past the highest cluster number the volume can hold

    uint32_t ClusterBytes() const { return nSectorsPerCluster * FAT_SECTOR_BYTES; }
    // Absolute first sector of a cluster; cluster 0 is the FAT16 root area.
    uint64_t ClusterToSector(uint32_t nCluster) const;
    // Bytes read at once for a folder cluster: one cluster, or the whole FAT16 root area.
    uint32_t FolderUnitBytes(uint32_t nCluster) const;
    // Number of data clusters as the free-space map counts them.
    uint64_t DataClusterCount() const;
};

// Absolute first sector of one of a FAT node's data clusters, from the node's own fields (data
// area, partition start, cluster size in 512-byte sectors). Cluster 0, the FAT16 root area, lies a
// number of sectors before cluster 2 that a node does not carry, and clusters 1 and unknown sizes
// have no place at all: nullopt for those, each caller says what it assumes.
std::optional<uint64_t> GetFatNodeClusterSector(const FILE_NODE& node, uint32_t nCluster);

// Reads the geometry from the boot sector of a volume starting at u64PartitionStart: 0, or
// ERROR_UNRECOGNIZED_VOLUME when a field is outside what FAT12/FAT16/FAT32 allow. The FAT's
// width follows from the cluster count, as every FAT driver decides it, not from the type label.
int ParseFatBootSector(const uint8_t* pData, size_t nSize, uint64_t u64PartitionStart,
                       FAT_GEOMETRY& geometry);
