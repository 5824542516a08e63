// Boot-sector and superblock field tests; each reads fixed offsets inside the given buffer.
#include "device/FileSystemRecognisers.h"

#include "device/BootSectorLayout.h"
#include "util/ByteView.h"

#include <cstring>

namespace {

constexpr char NTFS_OEM_NAME[] = "NTFS    ";
constexpr char BITLOCKER_OEM_NAME[] = "-FVE-FS-";
constexpr char FAT32_TYPE_LABEL[] = "FAT32   ";
constexpr uint32_t MAX_FAT_CLUSTERS = 0x0FFFFFF0;

// The FAT-only BPB bytes that an NTFS boot sector keeps zero (the media byte at 21 is not).
constexpr size_t NTFS_ZERO_BYTES[] = {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35};

// ext superblock fields, by offset from the volume start.
constexpr size_t EXT_INODE_COUNT = 1024;
constexpr size_t EXT_BLOCK_COUNT = 1028;
constexpr size_t EXT_FIRST_DATA_BLOCK = 1044;
constexpr size_t EXT_LOG_BLOCK_SIZE = 1048;
constexpr size_t EXT_BLOCKS_PER_GROUP = 1056;
constexpr size_t EXT_INODES_PER_GROUP = 1064;
constexpr size_t EXT_MAGIC = 1080;
constexpr size_t EXT_FIRST_INODE = 1108;
constexpr uint16_t EXT_SUPER_MAGIC = 0xEF53;

bool HasBootSignature(const uint8_t* p) {
    return p[BOOT_SIGNATURE] == 0x55 && p[BOOT_SIGNATURE + 1] == 0xAA;
}

bool IsBootSector(const uint8_t* pBuffer, size_t nSize) {
    return pBuffer != nullptr && nSize >= BOOT_SECTOR_BYTES;
}

bool MatchesEncryptedPattern(const uint8_t* p) {
    uint8_t pattern[30];
    std::memset(pattern, 'x', 8);
    std::memset(pattern + 8, 0xFF, 19);
    pattern[27] = 0x00;
    pattern[28] = 0x1F;
    pattern[29] = 0x2C;
    return std::memcmp(p + BPB_ENCRYPTED_PATTERN, pattern, sizeof(pattern)) == 0;
}

} // namespace

bool IsValidSectorsPerCluster(uint8_t n) {
    return n != 0 && n <= 64 && (n & (n - 1)) == 0;
}

bool IsNtfs(const uint8_t* p, size_t nSize) {
    if (!IsBootSector(p, nSize) || std::memcmp(p + BPB_OEM_NAME, NTFS_OEM_NAME, 8) != 0)
        return false;
    if ((LoadU16LE(p + BPB_BYTS_PER_SEC) & 0x1FF) != 0)
        return false;
    if (LoadU16LE(p + BPB_RSVD_SEC_CNT) != 0 || !IsValidSectorsPerCluster(p[BPB_SEC_PER_CLUS]))
        return false;
    if (LoadU64LE(p + NTFS_TOTAL_SECTORS) == 0)
        return false;
    for (size_t nOffset : NTFS_ZERO_BYTES)
        if (p[nOffset] != 0)
            return false;
    return HasBootSignature(p);
}

bool IsBitlockerDBR(const uint8_t* p, size_t nSize) {
    if (!IsBootSector(p, nSize))
        return false;
    return std::memcmp(p + BPB_OEM_NAME, BITLOCKER_OEM_NAME, 8) == 0 || MatchesEncryptedPattern(p);
}

bool IsFullValidFAT16DBR(const uint8_t* p, size_t nSize) {
    if (!IsBootSector(p, nSize))
        return false;
    bool bHasTotal = LoadU16LE(p + BPB_TOT_SEC16) != 0 || LoadU32LE(p + BPB_TOT_SEC32) != 0;
    return p[BPB_NUM_FATS] != 0 && bHasTotal && IsValidSectorsPerCluster(p[BPB_SEC_PER_CLUS]) &&
           LoadU16LE(p + BPB_FAT_SZ16) != 0 && HasBootSignature(p);
}

bool IsFullValidFAT32DBR(const uint8_t* p, size_t nSize) {
    if (!IsBootSector(p, nSize))
        return false;
    return std::memcmp(p + BS_FIL_SYS_TYPE, FAT32_TYPE_LABEL, 8) == 0 && p[BPB_NUM_FATS] != 0 &&
           LoadU32LE(p + BPB_TOT_SEC32) != 0 && IsValidSectorsPerCluster(p[BPB_SEC_PER_CLUS]) &&
           LoadU32LE(p + BPB_FAT_SZ32) != 0 && HasBootSignature(p);
}

bool IsFat(const uint8_t* p, size_t nSize) {
    if (!IsBootSector(p, nSize) || IsBitlockerDBR(p, nSize))
        return false;
    uint32_t nBytesPerSector = LoadU16LE(p + BPB_BYTS_PER_SEC);
    uint32_t nSectorsPerCluster = p[BPB_SEC_PER_CLUS];
    if (nBytesPerSector == 0 || nBytesPerSector % 512 != 0 || nSectorsPerCluster == 0)
        return false;
    uint32_t nFatSize = LoadU16LE(p + BPB_FAT_SZ16);
    if (nFatSize == 0)
        nFatSize = LoadU32LE(p + BPB_FAT_SZ32);
    uint32_t nTotal = LoadU32LE(p + BPB_TOT_SEC32);
    if (nTotal == 0)
        nTotal = LoadU16LE(p + BPB_TOT_SEC16);
    uint32_t nRootSectors = LoadU16LE(p + BPB_ROOT_ENT_CNT) * 32u / nBytesPerSector;
    // Unsigned arithmetic on purpose: an impossible layout wraps to a huge cluster count.
    uint32_t nClusters =
        (nTotal - LoadU16LE(p + BPB_RSVD_SEC_CNT) - nFatSize * p[BPB_NUM_FATS] - nRootSectors) /
        nSectorsPerCluster;
    if (nClusters >= MAX_FAT_CLUSTERS)
        return false;
    return IsFullValidFAT16DBR(p, nSize) || IsFullValidFAT32DBR(p, nSize);
}

bool IsExFat(const uint8_t* p, size_t nSize) {
    if (!IsBootSector(p, nSize) ||
        std::memcmp(p + EXFAT_FILE_SYSTEM_NAME, EXFAT_NAME_TEXT, 8) != 0 || !HasBootSignature(p))
        return false;
    for (size_t i = EXFAT_MUST_BE_ZERO; i < EXFAT_MUST_BE_ZERO + EXFAT_MUST_BE_ZERO_BYTES; ++i)
        if (p[i] != 0)
            return false;
    const uint32_t nSectorShift = p[EXFAT_BYTES_PER_SECTOR_SHIFT];
    const uint32_t nFats = p[EXFAT_NUMBER_OF_FATS];
    if (nSectorShift < EXFAT_MIN_SECTOR_SHIFT || nSectorShift > EXFAT_MAX_SECTOR_SHIFT ||
        p[EXFAT_SECTORS_PER_CLUSTER_SHIFT] > EXFAT_MAX_CLUSTER_SHIFT - nSectorShift ||
        (nFats != 1 && nFats != 2) ||
        LoadU32LE(p + EXFAT_FAT_OFFSET) >= LoadU32LE(p + EXFAT_CLUSTER_HEAP_OFFSET))
        return false;
    const size_t nSectorBytes = size_t(1) << nSectorShift;
    const size_t nChecksumAt = EXFAT_CHECKSUMMED_SECTORS * nSectorBytes;
    if (!InBounds(nSize, nChecksumAt, nSectorBytes))
        return true;
    const uint32_t nSum = LoadU32LE(p + nChecksumAt);
    for (size_t i = 4; i < nSectorBytes; i += 4)
        if (LoadU32LE(p + nChecksumAt + i) != nSum)
            return false;
    return true;
}

bool IsExFatVolume(const uint8_t* p, size_t nSize) {
    // The backup follows the main region of 512-byte sectors (larger sectors: past the probe).
    constexpr size_t BACKUP_AT = EXFAT_BACKUP_BOOT_SECTOR * BOOT_SECTOR_BYTES;
    return IsExFat(p, nSize) || (nSize > BACKUP_AT && IsExFat(p + BACKUP_AT, nSize - BACKUP_AT));
}

bool IsExt(const uint8_t* p, size_t nSize) {
    if (p == nullptr || nSize < EXT_PROBE_BYTES || LoadU16LE(p + EXT_MAGIC) != EXT_SUPER_MAGIC)
        return false;
    uint32_t nInodes = LoadU32LE(p + EXT_INODE_COUNT);
    uint32_t nBlocks = LoadU32LE(p + EXT_BLOCK_COUNT);
    uint32_t nBlocksPerGroup = LoadU32LE(p + EXT_BLOCKS_PER_GROUP);
    uint32_t nInodesPerGroup = LoadU32LE(p + EXT_INODES_PER_GROUP);
    uint32_t nFirstDataBlock = LoadU32LE(p + EXT_FIRST_DATA_BLOCK);
    uint32_t nFirstInode = LoadU32LE(p + EXT_FIRST_INODE);
    if (nInodes == 0 || nBlocks == 0 || nBlocksPerGroup == 0 || nInodesPerGroup == 0)
        return false;
    if (nFirstInode < 3 || nInodes <= nFirstInode)
        return false;
    if ((nInodes - 1) / nInodesPerGroup != (nBlocks - 1 - nFirstDataBlock) / nBlocksPerGroup)
        return false;
    uint32_t nLogBlockSize = LoadU32LE(p + EXT_LOG_BLOCK_SIZE) & 0x1F;
    uint32_t nExpectedFirstBlock = (1024ull << nLogBlockSize) == 1024 ? 1 : 0;
    return nFirstDataBlock == nExpectedFirstBlock;
}

const char* GetFileSystemName(const uint8_t* p, size_t nSize) {
    if (IsNtfs(p, nSize))
        return "NTFS";
    if (IsBitlockerDBR(p, nSize))
        return "BitLocker";
    if (IsFat(p, nSize))
        return IsFullValidFAT32DBR(p, nSize) ? "FAT32" : "FAT16";
    if (IsExFatVolume(p, nSize))
        return "exFAT";
    return IsExt(p, nSize) ? "ext" : "";
}
