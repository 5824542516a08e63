// Field offsets of the FAT, NTFS and exFAT boot sectors, from the first byte of the volume: the one
// table the recognisers, the engines, the fuzz targets and the tests read boot sectors by.
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

// exFAT main boot sector (the name stands where the OEM name does).
constexpr size_t EXFAT_FILE_SYSTEM_NAME = 3;
constexpr size_t EXFAT_MUST_BE_ZERO = 11;
constexpr size_t EXFAT_MUST_BE_ZERO_BYTES = 53;
constexpr size_t EXFAT_PARTITION_OFFSET = 64;
constexpr size_t EXFAT_VOLUME_LENGTH = 72;
constexpr size_t EXFAT_FAT_OFFSET = 80;
constexpr size_t EXFAT_FAT_LENGTH = 84;
constexpr size_t EXFAT_CLUSTER_HEAP_OFFSET = 88;
constexpr size_t EXFAT_CLUSTER_COUNT = 92;
constexpr size_t EXFAT_FIRST_CLUSTER_OF_ROOT = 96;
constexpr size_t EXFAT_VOLUME_SERIAL = 100;
constexpr size_t EXFAT_VOLUME_FLAGS = 106;
constexpr size_t EXFAT_BYTES_PER_SECTOR_SHIFT = 108;
constexpr size_t EXFAT_SECTORS_PER_CLUSTER_SHIFT = 109;
constexpr size_t EXFAT_NUMBER_OF_FATS = 110;
constexpr size_t EXFAT_PERCENT_IN_USE = 112;
constexpr char EXFAT_NAME_TEXT[] = "EXFAT   ";
// The first 11 sectors are checksummed; sector 11 repeats the sum. Shifts in whitelist range.
constexpr unsigned EXFAT_CHECKSUMMED_SECTORS = 11;
constexpr unsigned EXFAT_BACKUP_BOOT_SECTOR = 12; // the backup region follows the main one
constexpr unsigned EXFAT_MIN_SECTOR_SHIFT = 9;
constexpr unsigned EXFAT_MAX_SECTOR_SHIFT = 12;
constexpr unsigned EXFAT_MAX_CLUSTER_SHIFT = 25; // 32 MiB clusters, both shifts together

// Sector size-independent marks.
constexpr size_t BPB_ENCRYPTED_PATTERN = 480;
constexpr size_t BOOT_SIGNATURE = 510;
