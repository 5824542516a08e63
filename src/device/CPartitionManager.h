// Finds the registry's disks and the partitions on each: GPT, Apple partition map, MBR chains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

constexpr int PARTITION_NAME_UNITS = 36;
constexpr int DISK_NAME_BYTES = 16;

#pragma pack(push, 1)
struct PARTITION_ITEM {
    uint64_t u64StartSector; // absolute, 512-byte sectors
    uint64_t u64EndSector;   // absolute, inclusive
    uint32_t nDiskNo;
    char16_t wszName[PARTITION_NAME_UNITS];
    char szDiskName[DISK_NAME_BYTES]; // "/dev/disk%d": the registry's name for the disk
};
#pragma pack(pop)
static_assert(sizeof(PARTITION_ITEM) == 108);
static_assert(offsetof(PARTITION_ITEM, u64StartSector) == 0);
static_assert(offsetof(PARTITION_ITEM, u64EndSector) == 8);
static_assert(offsetof(PARTITION_ITEM, nDiskNo) == 16);
static_assert(offsetof(PARTITION_ITEM, wszName) == 20);
static_assert(offsetof(PARTITION_ITEM, szDiskName) == 92);

// A table entry that ran past the end of its disk: clamped to the disk, or left out when it
// starts beyond it.
struct CLAMPED_PARTITION {
    uint32_t nDiskNo;
    uint64_t u64StartSector;
    uint64_t u64TableEndSector; // the end the table gives
    uint64_t u64DiskSectors;    // 512-byte sectors the disk really has
    bool bLeftOut;
};

class CPartitionManager {
public:
    CPartitionManager() = default;

    // Probes every registered disk; disks with no partition found have no entry. Returns 1.
    int GetPartitionItems(std::map<int, std::vector<PARTITION_ITEM>>& mapItems);
    // The partitions of one open disk, in table order (MBR names continue the running count),
    // each clamped to the disk's size (see GetClampedPartitions).
    std::vector<PARTITION_ITEM> GetDiskPartitions(int nFd, int nDiskNo);
    // The file system at the partition's start (GetFileSystemName), "" when unknown or unreadable.
    static std::string GetPartitionFileSystem(const PARTITION_ITEM& item);
    // The entries clamped or left out by the discoveries so far.
    const std::vector<CLAMPED_PARTITION>& GetClampedPartitions() const { return m_vecClamped; }
    // Reads the MBR or extended boot record at the base sector and follows its extended links.
    void GetMBRPartition(int nFd, unsigned int nBaseSector, std::vector<PARTITION_ITEM>& vecItems,
                         int nDiskNo, const char* pDevicePath);

private:
    void ReadGpt(const uint8_t* pHead, std::vector<PARTITION_ITEM>& vecItems);
    void ReadApm(int nFd, const uint8_t* pHead, std::vector<PARTITION_ITEM>& vecItems);
    void AddBareVolume(int nFd, std::vector<PARTITION_ITEM>& vecItems);
    void WalkMbr(int nFd, unsigned int nBaseSector, std::vector<PARTITION_ITEM>& vecItems,
                 unsigned int nDepth);
    PARTITION_ITEM MakeNumberedItem(uint64_t u64Start, uint64_t u64End);
    void ClampToDisk(std::vector<PARTITION_ITEM>& vecItems, uint64_t u64DiskSectors, int nDiskNo);

    int m_nBytesPerSector = 512;
    int m_nNextPartitionNo = 1;
    uint32_t m_nExtendedBase = 0;
    std::set<uint32_t> m_setVisitedEbr;
    std::vector<CLAMPED_PARTITION> m_vecClamped;
};

bool IsMBR(const uint8_t* pBuffer, size_t nSize);
bool IsAPM(const uint8_t* pBuffer, size_t nSize);
bool IsEFI(const uint8_t* pBuffer, size_t nSize);
