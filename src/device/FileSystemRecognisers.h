// Pure boot-sector predicates: NTFS, FAT12/16/32, exFAT, ext2/3/4 and BitLocker-encrypted volumes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t EXT_PROBE_BYTES = 1112; // the superblock fields read, from the volume's start

// Each takes the volume's first bytes and their length; a short or null buffer is never a match.
bool IsNtfs(const uint8_t* pBuffer, size_t nSize);
bool IsFat(const uint8_t* pBuffer, size_t nSize);
bool IsExt(const uint8_t* pBuffer, size_t nSize);
// "EXFAT   " with plausible shifts and layout; when the buffer holds the boot region, its
// checksum sector must be one repeated value (the decoder checks the sum itself).
bool IsExFat(const uint8_t* pBuffer, size_t nSize);
// An exFAT volume by its main boot sector or, when that is damaged, the backup after it.
bool IsExFatVolume(const uint8_t* pBuffer, size_t nSize);
bool IsBitlockerDBR(const uint8_t* pBuffer, size_t nSize);
bool IsFullValidFAT16DBR(const uint8_t* pBuffer, size_t nSize);
bool IsFullValidFAT32DBR(const uint8_t* pBuffer, size_t nSize);
// The file system the volume's first bytes show ("NTFS", "FAT32", "FAT16", "exFAT", "ext",
// "BitLocker"), or "" when none is recognised.
const char* GetFileSystemName(const uint8_t* pBuffer, size_t nSize);
// 1, 2, 4, ..., 64: the sectors-per-cluster values every boot-sector test accepts.
bool IsValidSectorsPerCluster(uint8_t nSectorsPerCluster);
