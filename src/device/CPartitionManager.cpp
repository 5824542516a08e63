// Partition discovery over the disk registry.
#include "device/CPartitionManager.h"

#include "device/CDiskRegistry.h"
#include "device/FileSystemRecognisers.h"
#include "util/ByteView.h"
#include "util/FdIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr size_t HEAD_BYTES = 4096;
constexpr uint64_t SECTOR_BYTES = 512;

constexpr size_t MBR_SIGNATURE = 510;
constexpr uint16_t MBR_SIGNATURE_VALUE = 0xAA55;
constexpr size_t MBR_TABLE = 446;
constexpr size_t MBR_ENTRY_BYTES = 16;
constexpr size_t MBR_ENTRY_TYPE = 4;
constexpr size_t MBR_ENTRY_FIRST = 8;
constexpr size_t MBR_ENTRY_COUNT = 12;
constexpr uint8_t MBR_TYPE_EXTENDED = 0x05;
constexpr uint8_t MBR_TYPE_EXTENDED_LBA = 0x0F;
// Real disks hold far fewer logical drives; the bound ends chains that run in circles.
constexpr unsigned int MAX_EBR_DEPTH = 128;

constexpr size_t GPT_HEADER = 512;
constexpr char GPT_SIGNATURE[] = "EFI PART";
constexpr size_t GPT_ENTRIES = 1024;
constexpr size_t GPT_ENTRY_BYTES = 128;
constexpr size_t GPT_ENTRY_FIRST_LBA = 32;
constexpr size_t GPT_ENTRY_LAST_LBA = 40;
constexpr size_t GPT_ENTRY_NAME = 56;

constexpr size_t APM_BLOCK_BYTES = 512;
constexpr size_t APM_MAP_COUNT = 516; // offset 4 of the first map entry (block 1)
constexpr uint32_t APM_MAX_ENTRIES = 128;
constexpr size_t APM_PHYSICAL_START = 8;
constexpr size_t APM_NAME = 16;
constexpr size_t APM_NAME_BYTES = 32;
constexpr size_t APM_DATA_START = 80;
constexpr size_t APM_DATA_COUNT = 84;

// Reads up to nBytes at the offset; the bytes that arrived.
size_t ReadAt(int nFd, uint8_t* pBuffer, size_t nBytes, uint64_t u64Offset) {
    size_t nDone = 0;
    ReadFullAt(nFd, pBuffer, nBytes, u64Offset, nDone);
    return nDone;
}

void SetName(PARTITION_ITEM& item, const std::u16string& strName) {
    size_t nUnits = std::min<size_t>(strName.size(), PARTITION_NAME_UNITS - 1);
    std::memcpy(item.wszName, strName.data(), nUnits * sizeof(char16_t));
}

std::u16string AsciiToWide(const std::string& strText) {
    return std::u16string(strText.begin(), strText.end());
}

} // namespace

bool IsMBR(const uint8_t* p, size_t nSize) {
    return p != nullptr && InBounds(nSize, MBR_SIGNATURE, 2) &&
           LoadU16LE(p + MBR_SIGNATURE) == MBR_SIGNATURE_VALUE;
}

bool IsAPM(const uint8_t* p, size_t nSize) {
    return p != nullptr && nSize >= 2 && p[0] == 'E' && p[1] == 'R';
}

bool IsEFI(const uint8_t* p, size_t nSize) {
    return p != nullptr && nSize >= 8 && std::memcmp(p, GPT_SIGNATURE, 8) == 0;
}

int CPartitionManager::GetPartitionItems(std::map<int, std::vector<PARTITION_ITEM>>& mapItems) {
    mapItems.clear();
    m_vecClamped.clear();
    m_nNextPartitionNo = 1;
    CDiskRegistry& registry = CDiskRegistry::GetInstance();
    for (int nDisk = 0; nDisk < CDiskRegistry::MAX_DISKS; ++nDisk) {
        int nFd = registry.OpenDisk(nDisk);
        if (nFd < 0)
            continue;
        std::vector<PARTITION_ITEM> vecItems = GetDiskPartitions(nFd, nDisk);
        close(nFd);
        if (!vecItems.empty())
            mapItems[nDisk] = std::move(vecItems);
    }
    return 1;
}

std::vector<PARTITION_ITEM> CPartitionManager::GetDiskPartitions(int nFd, int nDiskNo) {
    std::vector<PARTITION_ITEM> vecItems;
    uint8_t head[HEAD_BYTES] = {};
    if (ReadAt(nFd, head, HEAD_BYTES, 0) == 0)
        return vecItems;
    m_nExtendedBase = 0;
    m_setVisitedEbr.clear();
    char szDevice[DISK_NAME_BYTES];
    std::snprintf(szDevice, sizeof(szDevice), "/dev/disk%d", nDiskNo);
    if (IsEFI(head + GPT_HEADER, HEAD_BYTES - GPT_HEADER))
        ReadGpt(head, vecItems);
    else if (IsAPM(head, HEAD_BYTES))
        ReadApm(nFd, head, vecItems);
    else if (IsNtfs(head, HEAD_BYTES) || IsFat(head, HEAD_BYTES) || IsExFatVolume(head, HEAD_BYTES))
        AddBareVolume(nFd, vecItems);
    else if (IsMBR(head, HEAD_BYTES))
        WalkMbr(nFd, 0, vecItems, 0);
    ClampToDisk(vecItems, GetDeviceBytes(nFd) / SECTOR_BYTES, nDiskNo);
    for (PARTITION_ITEM& item : vecItems) {
        item.nDiskNo = static_cast<uint32_t>(nDiskNo);
        std::memcpy(item.szDiskName, szDevice, sizeof(szDevice));
    }
    return vecItems;
}

// A table may describe more disk than there is (a damaged entry, a truncated image): scanning
// sectors that do not exist would take hours and find nothing.
void CPartitionManager::ClampToDisk(std::vector<PARTITION_ITEM>& vecItems, uint64_t u64DiskSectors,
                                    int nDiskNo) {
    if (u64DiskSectors == 0)
        return; // size unknown: nothing to clamp to
    std::erase_if(vecItems, [&](PARTITION_ITEM& item) {
        if (item.u64EndSector < u64DiskSectors)
            return false;
        bool bLeftOut = item.u64StartSector >= u64DiskSectors;
        m_vecClamped.push_back({static_cast<uint32_t>(nDiskNo), item.u64StartSector,
                                item.u64EndSector, u64DiskSectors, bLeftOut});
        item.u64EndSector = u64DiskSectors - 1;
        return bLeftOut;
    });
}

void CPartitionManager::ReadGpt(const uint8_t* pHead, std::vector<PARTITION_ITEM>& vecItems) {
    for (size_t nEntry = GPT_ENTRIES; nEntry + GPT_ENTRY_BYTES <= HEAD_BYTES;
         nEntry += GPT_ENTRY_BYTES) {
        uint64_t u64First = LoadU64LE(pHead + nEntry + GPT_ENTRY_FIRST_LBA);
        uint64_t u64Last = LoadU64LE(pHead + nEntry + GPT_ENTRY_LAST_LBA);
        if (u64First == 0 || u64Last == 0)
            break;
        PARTITION_ITEM item = {};
        item.u64StartSector = u64First;
        item.u64EndSector = u64Last;
        for (int i = 0; i < PARTITION_NAME_UNITS; ++i)
            item.wszName[i] = LoadU16LE(pHead + nEntry + GPT_ENTRY_NAME + 2 * i);
        item.wszName[PARTITION_NAME_UNITS - 1] = 0;
        vecItems.push_back(item);
    }
}

void CPartitionManager::ReadApm(int nFd, const uint8_t* pHead,
                                std::vector<PARTITION_ITEM>& vecItems) {
    uint32_t nEntries = LoadU32BE(pHead + APM_MAP_COUNT);
    if (nEntries > APM_MAX_ENTRIES)
        return;
    std::vector<uint8_t> vecMap(size_t(nEntries) * APM_BLOCK_BYTES);
    if (ReadAt(nFd, vecMap.data(), vecMap.size(), APM_BLOCK_BYTES) != vecMap.size())
        return;
    for (uint32_t i = 0; i < nEntries; ++i) {
        const uint8_t* pEntry = vecMap.data() + size_t(i) * APM_BLOCK_BYTES;
        PARTITION_ITEM item = {};
        item.u64StartSector =
            uint64_t(LoadU32BE(pEntry + APM_DATA_START)) + LoadU32BE(pEntry + APM_PHYSICAL_START);
        item.u64EndSector = item.u64StartSector + LoadU32BE(pEntry + APM_DATA_COUNT) - 1;
        // The map's name is ASCII, not UTF-16: show it as text.
        const char* pName = reinterpret_cast<const char*>(pEntry + APM_NAME);
        SetName(item, AsciiToWide(std::string(pName, strnlen(pName, APM_NAME_BYTES))));
        vecItems.push_back(item);
    }
}

// A disk that starts with a boot sector has no table: its one volume is the whole disk.
std::string CPartitionManager::GetPartitionFileSystem(const PARTITION_ITEM& item) {
    constexpr size_t PROBE_BYTES = 16384;
    constexpr uint64_t SECTOR_BYTES = 512; // partition items count 512-byte sectors
    const int nFd = CDiskRegistry::GetInstance().OpenDisk(int(item.nDiskNo));
    if (nFd < 0)
        return "";
    std::vector<uint8_t> head(PROBE_BYTES);
    const size_t nRead = ReadAt(nFd, head.data(), head.size(), item.u64StartSector * SECTOR_BYTES);
    close(nFd);
    return GetFileSystemName(head.data(), nRead);
}

void CPartitionManager::AddBareVolume(int nFd, std::vector<PARTITION_ITEM>& vecItems) {
    uint64_t u64Sectors = GetDeviceBytes(nFd) / m_nBytesPerSector;
    if (u64Sectors == 0)
        return;
    vecItems.push_back(MakeNumberedItem(0, u64Sectors - 1));
}

PARTITION_ITEM CPartitionManager::MakeNumberedItem(uint64_t u64Start, uint64_t u64End) {
    PARTITION_ITEM item = {};
    item.u64StartSector = u64Start;
    item.u64EndSector = u64End;
    SetName(item, AsciiToWide("Partition " + std::to_string(m_nNextPartitionNo++)));
    return item;
}

void CPartitionManager::GetMBRPartition(int nFd, unsigned int nBaseSector,
                                        std::vector<PARTITION_ITEM>& vecItems, int nDiskNo,
                                        const char* pDevicePath) {
    size_t nFirstNew = vecItems.size();
    m_setVisitedEbr.clear();
    WalkMbr(nFd, nBaseSector, vecItems, 0);
    for (size_t i = nFirstNew; i < vecItems.size(); ++i) {
        vecItems[i].nDiskNo = static_cast<uint32_t>(nDiskNo);
        std::snprintf(vecItems[i].szDiskName, DISK_NAME_BYTES, "%s",
                      pDevicePath != nullptr ? pDevicePath : "");
    }
}

void CPartitionManager::WalkMbr(int nFd, unsigned int nBaseSector,
                                std::vector<PARTITION_ITEM>& vecItems, unsigned int nDepth) {
    if (nDepth > MAX_EBR_DEPTH || !m_setVisitedEbr.insert(nBaseSector).second)
        return;
    uint8_t record[HEAD_BYTES];
    off_t llOffset = off_t(m_nBytesPerSector) * nBaseSector;
    if (ReadAt(nFd, record, HEAD_BYTES, llOffset) < MBR_TABLE + 4 * MBR_ENTRY_BYTES)
        return;
    for (int i = 0; i < 4; ++i) {
        const uint8_t* pEntry = record + MBR_TABLE + i * MBR_ENTRY_BYTES;
        uint8_t nType = pEntry[MBR_ENTRY_TYPE];
        uint32_t nFirst = LoadU32LE(pEntry + MBR_ENTRY_FIRST);
        uint32_t nCount = LoadU32LE(pEntry + MBR_ENTRY_COUNT);
        if (nType == MBR_TYPE_EXTENDED || nType == MBR_TYPE_EXTENDED_LBA) {
            if (m_nExtendedBase == 0 && nBaseSector != 0)
                m_nExtendedBase = nBaseSector;
            WalkMbr(nFd, nFirst + m_nExtendedBase, vecItems, nDepth + 1);
            continue;
        }
        if (nType == 0 && nFirst == 0 && nCount == 0)
            break;
        // A slot without sectors describes no partition; listing it would wrap its end.
        if (nCount == 0)
            continue;
        uint64_t u64Start = uint32_t(nFirst + nBaseSector);
        vecItems.push_back(MakeNumberedItem(u64Start, u64Start + nCount - 1));
    }
}
