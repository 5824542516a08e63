// Working records of the deep FAT engine: candidate volume geometries (virtual boot sectors),
// folder starts, cut-off long names, folders seen and needed, and files found before a geometry.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

constexpr uint32_t PRO_FAT_SECTOR_BYTES = 512;
// A FAT12/FAT16 root area found without a boot sector is taken to be the usual 512 entries
// until the directory sectors before cluster 2 tell its real size.
constexpr uint32_t PRO_FAT_DEFAULT_ROOT_SECTORS = 32;
// 65535 entries of 32 bytes: the largest root area a boot sector can describe.
constexpr uint32_t PRO_FAT_MAX_ROOT_SECTORS = 4096;
constexpr uint32_t PRO_FAT_MAX_SECTORS_PER_CLUSTER = 128;

// One candidate geometry: where cluster 2 lies, how many sectors a cluster has and how long the
// FAT12/FAT16 root area before cluster 2 is.
struct VIRTUAL_DBR_INFO {
    uint32_t nSectorsPerCluster; // 0: no geometry
    uint32_t nDataStart;         // sectors from u64StartSector to cluster 2
    uint64_t u64StartSector;     // the engine's start sector
    uint32_t nRootSectors;       // the root area (cluster 0) just before cluster 2; 0 on FAT32
    uint32_t nPadding;
};
static_assert(sizeof(VIRTUAL_DBR_INFO) == 24);
static_assert(offsetof(VIRTUAL_DBR_INFO, nDataStart) == 4);
static_assert(offsetof(VIRTUAL_DBR_INFO, u64StartSector) == 8);
static_assert(offsetof(VIRTUAL_DBR_INFO, nRootSectors) == 16);

// A folder's first sector seen while no geometry placed it.
struct FAT_SECTOR_OFFSET {
    uint32_t nClusterNo;
    uint32_t nPadding;
    uint64_t u64Sector;
};
static_assert(sizeof(FAT_SECTOR_OFFSET) == 16);
static_assert(offsetof(FAT_SECTOR_OFFSET, u64Sector) == 8);

constexpr uint32_t LONG_FILE_KEPT_BYTES = 512;

// A long name cut off at the end of a buffer, waiting for the sector that continues it.
struct LONG_FILE_INFO {
    uint8_t u8CheckSum;
    uint8_t u8Padding[3];
    uint32_t nSectorsPerCluster; // of the geometry in use, 0 without one
    uint32_t nStartSectorLow;
    uint32_t nDataStart;
    uint32_t nFolderCluster;
    uint32_t nLength; // bytes kept; 0 means no cut-off name
    uint64_t u64Sector;
    uint8_t data[LONG_FILE_KEPT_BYTES];
};
static_assert(sizeof(LONG_FILE_INFO) == 544);
static_assert(offsetof(LONG_FILE_INFO, nSectorsPerCluster) == 4);
static_assert(offsetof(LONG_FILE_INFO, nStartSectorLow) == 8);
static_assert(offsetof(LONG_FILE_INFO, nDataStart) == 12);
static_assert(offsetof(LONG_FILE_INFO, nFolderCluster) == 16);
static_assert(offsetof(LONG_FILE_INFO, nLength) == 20);
static_assert(offsetof(LONG_FILE_INFO, u64Sector) == 24);
static_assert(offsetof(LONG_FILE_INFO, data) == 32);

// A folder seen as an entry: its node (parent cluster in nFileIndex) and the geometry in use.
struct PRO_DIR_INFO {
    FILE_NODE fileNode;
    VIRTUAL_DBR_INFO dbrInfo;
};
static_assert(sizeof(PRO_DIR_INFO) == 368);
static_assert(offsetof(PRO_DIR_INFO, dbrInfo) == 344);

// A folder that some stored item lies below, with the geometry and directory sector it was
// reached through.
struct PRO_NEED_ADD_DIR_INFO {
    VIRTUAL_DBR_INFO dbrInfo;
    uint64_t u64Sector;
};
static_assert(sizeof(PRO_NEED_ADD_DIR_INFO) == 32);
static_assert(offsetof(PRO_NEED_ADD_DIR_INFO, u64Sector) == 24);

// A file entry found while no geometry was known (parent cluster in nFileIndex). Kept in memory
// only, so the node stays naturally aligned.
struct NO_DBR_FILE_NODE {
    uint32_t bIsStored;
    uint32_t nPadding;
    FILE_NODE fileNode;
};
static_assert(sizeof(NO_DBR_FILE_NODE) == 352);
static_assert(offsetof(NO_DBR_FILE_NODE, fileNode) == 8);

// Absolute first sector of cluster c under the geometry (cluster 0: the root area), or nullopt
// when that would lie before the disk's first sector or the geometry has no root area.
std::optional<uint64_t> GetVirtualClusterSector(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster);
// Sectors of one folder unit at cluster c: the root area for cluster 0, else one cluster.
uint32_t GetVirtualUnitSectors(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster);
// The cluster whose unit holds the sector under the geometry, if any (cluster 0: root area).
std::optional<uint32_t> GetVirtualSectorCluster(const VIRTUAL_DBR_INFO& dbr, uint64_t u64Sector);
bool IsValidVirtualSectorsPerCluster(uint32_t nSectorsPerCluster);
