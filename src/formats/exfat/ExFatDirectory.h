// An exFAT directory's bytes as entry sets plus the root's bitmap, up-case and label entries;
// and the deep scan's test of whether a sector holds directory entries.
#pragma once

#include "formats/exfat/ExFatEntrySet.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Allocation bitmap (0x81) and up-case table (0x82) entry fields.
constexpr size_t EXFAT_BITMAP_FLAGS = 1;
constexpr size_t EXFAT_UPCASE_TABLE_CHECKSUM = 4;
constexpr size_t EXFAT_CRITICAL_FIRST_CLUSTER = 20;
constexpr size_t EXFAT_CRITICAL_DATA_LENGTH = 24;
// Volume label (0x83): character count, then up to 11 UTF-16 units.
constexpr size_t EXFAT_LABEL_COUNT = 1;
constexpr size_t EXFAT_LABEL_UNITS_AT = 2;
constexpr size_t EXFAT_MAX_LABEL_UNITS = 11;

struct EXFAT_DIR_SET {
    size_t nOffset; // of the file entry, from the start of the parsed bytes
    EXFAT_ENTRY_SET set;
};

struct EXFAT_TABLE_ENTRY {
    size_t nOffset;
    uint32_t nFirstCluster;
    uint64_t u64DataLength;
    uint32_t nChecksum; // up-case table only
};

struct EXFAT_DIRECTORY {
    std::vector<EXFAT_DIR_SET> vecSets;      // in-use and deleted sets whose checksum holds
    std::optional<EXFAT_TABLE_ENTRY> bitmap; // the first FAT's bitmap
    std::optional<EXFAT_TABLE_ENTRY> upcase;
    std::string strLabel;
    bool bEndSeen = false;        // an end-of-directory entry was met
    uint32_t nForeignEntries = 0; // entries whose type byte no exFAT entry has
};

// Every entry set and root entry in a directory's bytes, up to its end-of-directory entry.
EXFAT_DIRECTORY ParseExFatDirectory(const uint8_t* pData, size_t nSize);
// The deep scan's sector test: the entries of the sector's nSectorBytes (sets may run on into
// the nSize bytes available) when every entry has an exFAT type (an end entry only with zeros
// after it) and at least one checksummed set, or the root's bitmap and up-case entries, begin in
// it; else nullopt.
std::optional<EXFAT_DIRECTORY> ParseExFatDirectorySector(const uint8_t* pData, size_t nSize,
                                                         size_t nSectorBytes);
// The up-case table's 32-bit checksum, to match against the root's up-case entry.
uint32_t ExFatUpcaseTableChecksum(const uint8_t* pData, size_t nSize);
