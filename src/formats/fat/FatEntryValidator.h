// The 32-byte FAT directory entry, the tests that judge whether bytes are directory entries or a
// directory sector, the long-name checksum and the conversion of entry dates into time values.
#pragma once

#include <cstddef>
#include <cstdint>

// Short directory entry (FAT16 and FAT32), little-endian on disk; decode with ReadFatEntry.
struct FAT32_Entry {
    uint8_t DIR_Name[8];
    uint8_t DIR_Ext[3];
    uint8_t DIR_Attr;
    uint8_t DIR_NTRes;
    uint8_t DIR_CrtTimeTenth; // the long-name checksum in a long-name entry
    uint16_t DIR_CrtTime;
    uint16_t DIR_CrtDate;
    uint16_t DIR_LstAccDate;
    uint16_t DIR_FstClusHI;
    uint16_t DIR_WrtTime;
    uint16_t DIR_WrtDate;
    uint16_t DIR_FstClusLO;
    uint32_t DIR_FileSize;
};

static_assert(sizeof(FAT32_Entry) == 32);
static_assert(offsetof(FAT32_Entry, DIR_Ext) == 8);
static_assert(offsetof(FAT32_Entry, DIR_Attr) == 11);
static_assert(offsetof(FAT32_Entry, DIR_CrtTimeTenth) == 13);
static_assert(offsetof(FAT32_Entry, DIR_CrtTime) == 14);
static_assert(offsetof(FAT32_Entry, DIR_CrtDate) == 16);
static_assert(offsetof(FAT32_Entry, DIR_LstAccDate) == 18);
static_assert(offsetof(FAT32_Entry, DIR_FstClusHI) == 20);
static_assert(offsetof(FAT32_Entry, DIR_WrtTime) == 22);
static_assert(offsetof(FAT32_Entry, DIR_WrtDate) == 24);
static_assert(offsetof(FAT32_Entry, DIR_FstClusLO) == 26);
static_assert(offsetof(FAT32_Entry, DIR_FileSize) == 28);

constexpr size_t FAT_ENTRY_BYTES = 32;
constexpr size_t FAT_SHORT_NAME_BYTES = 11;

constexpr uint8_t FAT_ENTRY_END = 0x00;
constexpr uint8_t FAT_ENTRY_DELETED = 0xE5;

constexpr uint8_t FAT_ATTR_READ_ONLY = 0x01;
constexpr uint8_t FAT_ATTR_HIDDEN = 0x02;
constexpr uint8_t FAT_ATTR_SYSTEM = 0x04;
constexpr uint8_t FAT_ATTR_VOLUME_ID = 0x08;
constexpr uint8_t FAT_ATTR_DIRECTORY = 0x10;
constexpr uint8_t FAT_ATTR_ARCHIVE = 0x20;
constexpr uint8_t FAT_ATTR_LONG_NAME = 0x0F;
constexpr uint8_t FAT_ATTR_RESERVED_BITS = 0xC0;

// Long-name entry fields that differ from the short entry.
constexpr uint8_t LDIR_LAST_PART = 0x40;
constexpr uint8_t LDIR_MAX_ORDINAL = 20; // 255 characters, 13 per entry
constexpr size_t LDIR_CHKSUM_OFFSET = 13;
constexpr size_t LDIR_FSTCLUSLO_OFFSET = 26;
constexpr size_t LDIR_CHARS_PER_ENTRY = 13;

// The 32 bytes at pData as an entry, fields in host order; pData must hold 32 bytes.
FAT32_Entry ReadFatEntry(const uint8_t* pData);

// The long-name checksum of the 11 short-name bytes at pName.
uint8_t GetShortNameCheckSum(const uint8_t* pName);

// 1 when the 32 bytes at pEntry are a plausible directory entry, else 0. nAvail is the number of
// readable bytes from pEntry to the end of its buffer (at least 32); a "." entry is compared with
// the entry after it only when that entry lies inside those bytes.
int IsFatEntyValid(const uint8_t* pEntry, size_t nAvail);

// 1 when the buffer begins with the "." and ".." entries of a directory, else 0.
int IsFatFileRecord(const uint8_t* pSector, size_t nSize);

// 1 when the buffer (whole 32-byte entries) is a sector of directory entries that does not begin
// a directory, else 0.
int IsFatFDTRecord(const uint8_t* pBuffer, size_t nLength);

// 1 when a short entry found in a sector anywhere on the disk could name a real file or folder:
// every name byte one a FAT short name allows (a deleted entry's first byte aside), not a run of
// one or two repeated bytes such as file contents leave, and every date and time word valid or
// zero. "." and ".." entries are not judged here.
int IsPlausibleFoundEntry(const uint8_t* pEntry);

// Local midnight of an entry date word as seconds since 1970 (may be negative).
int64_t FatDateToTimeValue(uint16_t u16Date);

// The entry's creation, last-access and last-write dates as time values (seconds since 1970,
// stored in a 64-bit FILETIME-shaped field).
void Fat32GetFileCreateTime(const FAT32_Entry* pEntry, uint64_t* pOut);
void Fat32GetFileLastAccessTime(const FAT32_Entry* pEntry, uint64_t* pOut);
void Fat32GetFileLastChangeTime(const FAT32_Entry* pEntry, uint64_t* pOut);
