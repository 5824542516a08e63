// Field offsets of the FAT and NTFS boot sectors, from the first byte of the volume: the one table
// the recognisers, the engines, the fuzz targets and the tests read boot sectors by.
#pragma once

#include <cstddef>

constexpr size_t BOOT_SECTOR_BYTES = 512;

// BIOS parameter block, common to FAT and NTFS.
constexpr size_t BPB_OEM_NAME = 3;
constexpr size_t BPB_BYTS_PER_SEC = 11;
constexpr size_t BPB_SEC_PER_CLUS = 13;
constexpr size_t BPB_RSVD_SEC_CNT = 14;
constexpr size_t BPB_NUM_FATS = 16;
constexpr size_t BPB_ROOT_ENT_CNT = 17;
constexpr size_t BPB_TOT_SEC16 = 19;
constexpr size_t BPB_MEDIA = 21;
constexpr size_t BPB_FAT_SZ16 = 22;
constexpr size_t BPB_TOT_SEC32 = 32;

// FAT32 only.
constexpr size_t BPB_FAT_SZ32 = 36;
constexpr size_t BPB_ROOT_CLUS = 44;
constexpr size_t BPB_FS_INFO = 48;
constexpr size_t BS_FIL_SYS_TYPE = 82; // "FAT32   "

// NTFS only.
constexpr size_t NTFS_TOTAL_SECTORS = 40;
constexpr size_t NTFS_MFT_CLUSTER = 48;
constexpr size_t NTFS_CLUSTERS_PER_RECORD = 64;

// Sector size-independent marks.
constexpr size_t BPB_ENCRYPTED_PATTERN = 480;
constexpr size_t BOOT_SIGNATURE = 510;
