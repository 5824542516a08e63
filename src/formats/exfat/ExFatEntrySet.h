// exFAT directory entry sets: a file entry, its stream extension and its file-name entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

constexpr size_t EXFAT_ENTRY_BYTES = 32;
// Entry type bits: in use, secondary (else primary); a deleted entry keeps its type, bit 7 clear.
constexpr uint8_t EXFAT_ENTRY_IN_USE = 0x80;
constexpr uint8_t EXFAT_ENTRY_SECONDARY = 0x40;
constexpr uint8_t EXFAT_TYPE_END = 0x00;
constexpr uint8_t EXFAT_TYPE_BITMAP = 0x81;
constexpr uint8_t EXFAT_TYPE_UPCASE = 0x82;
constexpr uint8_t EXFAT_TYPE_LABEL = 0x83;
constexpr uint8_t EXFAT_TYPE_FILE = 0x85;
constexpr uint8_t EXFAT_TYPE_GUID = 0xA0;
constexpr uint8_t EXFAT_TYPE_STREAM = 0xC0;
constexpr uint8_t EXFAT_TYPE_NAME = 0xC1;
constexpr uint8_t EXFAT_TYPE_VENDOR_EXTENSION = 0xE0;
constexpr uint8_t EXFAT_TYPE_VENDOR_ALLOCATION = 0xE1;

// File entry (0x85) fields.
constexpr size_t EXFAT_FILE_SECONDARY_COUNT = 1;
constexpr size_t EXFAT_FILE_SET_CHECKSUM = 2;
constexpr size_t EXFAT_FILE_ATTRIBUTES = 4;
constexpr size_t EXFAT_FILE_CREATE_TIMESTAMP = 8;
constexpr size_t EXFAT_FILE_MODIFIED_TIMESTAMP = 12;
constexpr size_t EXFAT_FILE_ACCESSED_TIMESTAMP = 16;
constexpr size_t EXFAT_FILE_CREATE_10MS = 20;
constexpr size_t EXFAT_FILE_MODIFIED_10MS = 21;
constexpr size_t EXFAT_FILE_CREATE_UTC_OFFSET = 22;
constexpr size_t EXFAT_FILE_MODIFIED_UTC_OFFSET = 23;
constexpr size_t EXFAT_FILE_ACCESSED_UTC_OFFSET = 24;
constexpr uint16_t EXFAT_ATTR_DIRECTORY = 0x10;
// Stream extension (0xC0) fields.
constexpr size_t EXFAT_STREAM_FLAGS = 1;
constexpr size_t EXFAT_STREAM_NAME_LENGTH = 3;
constexpr size_t EXFAT_STREAM_NAME_HASH = 4;
constexpr size_t EXFAT_STREAM_VALID_DATA_LENGTH = 8;
constexpr size_t EXFAT_STREAM_FIRST_CLUSTER = 20;
constexpr size_t EXFAT_STREAM_DATA_LENGTH = 24;
constexpr uint8_t EXFAT_FLAG_ALLOCATION_POSSIBLE = 0x01;
constexpr uint8_t EXFAT_FLAG_NO_FAT_CHAIN = 0x02;
// File-name entry (0xC1): 15 UTF-16 units from offset 2.
constexpr size_t EXFAT_NAME_UNITS_AT = 2;
constexpr size_t EXFAT_NAME_UNITS_PER_ENTRY = 15;
constexpr size_t EXFAT_MAX_NAME_UNITS = 255;
constexpr uint32_t EXFAT_MIN_SECONDARY_COUNT = 2;
constexpr uint32_t EXFAT_MAX_SECONDARY_COUNT = 18;

struct EXFAT_TIMESTAMP {
    int64_t llUnixSeconds;  // UTC when the offset is valid, else the local time read as UTC
    uint16_t nMilliseconds; // from the 10 ms increment
    bool bUtcOffsetValid;
};

struct EXFAT_ENTRY_SET {
    bool bInUse;          // the file entry's in-use bit: clear for a deleted file or folder
    uint32_t nEntryCount; // the file entry and its secondaries
    uint16_t nAttributes;
    bool bIsDir;
    EXFAT_TIMESTAMP create;
    EXFAT_TIMESTAMP modify;
    EXFAT_TIMESTAMP access;
    bool bNoFatChain; // the data is one contiguous run; the FAT is not used for it
    bool bAllocationPossible;
    uint32_t nFirstCluster;
    uint64_t u64ValidDataLength; // bytes past it read as zeros
    uint64_t u64DataLength;
    uint16_t nNameHash;
    std::u16string strName16;
    std::string strName; // UTF-8
};

// The 16-bit checksum of a set's bytes, skipping the checksum field itself; bit 7 of every type
// byte is taken as set, so a deleted set checks against the sum written while it was in use.
uint16_t ExFatSetChecksum(const uint8_t* pSet, size_t nBytes);
// Decodes the entry set beginning at pData (a file entry, in use or deleted): nullopt unless its
// shape holds (stream extension, name entries for the name length, all of one in-use state,
// valid data length not past the data length) and its set checksum matches.
std::optional<EXFAT_ENTRY_SET> ParseExFatEntrySet(const uint8_t* pData, size_t nSize);
// A 32-bit exFAT timestamp with its 10 ms increment and UTC offset byte.
EXFAT_TIMESTAMP DecodeExFatTimestamp(uint32_t nTimestamp, uint8_t n10ms, uint8_t nUtcOffset);
