// Boot-sector decode into the geometry both FAT engines address clusters with.
#include "formats/fat/FatGeometry.h"

#include "util/ByteView.h"

#include <cstring>

namespace {

constexpr uint32_t FAT_ENTRY_SIZE = 32;
// The highest cluster number each FAT width can address.
constexpr uint32_t FAT32_MAX_CLUSTER = 0x0FFFFFF6;
constexpr uint32_t FAT16_MAX_CLUSTER = 0xFFF6;
constexpr uint32_t FAT12_MAX_CLUSTER = 0xFF6;
// Fewer data clusters than this make a FAT12 volume, fewer than the next a FAT16 one.
constexpr uint64_t FAT12_CLUSTER_BOUND = 4085;

bool IsSupportedSectorSize(uint32_t nBytes) {
    return nBytes == 512 || nBytes == 1024 || nBytes == 2048 || nBytes == 4096;
}

bool IsPowerOfTwo(uint32_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

uint32_t MaxClusterOf(uint32_t nFatBits) {
    return nFatBits == 32   ? FAT32_MAX_CLUSTER
           : nFatBits == 16 ? FAT16_MAX_CLUSTER
                            : FAT12_MAX_CLUSTER;
}

} // namespace

uint64_t FAT_GEOMETRY::ClusterToSector(uint32_t nCluster) const {
    uint64_t u64DataSector = u64PartitionStart + nDataStart;
    if (nCluster < FAT_FIRST_DATA_CLUSTER)
        return u64DataSector - nRootSectors;
    return u64DataSector + uint64_t(nCluster - FAT_FIRST_DATA_CLUSTER) * nSectorsPerCluster;
}

uint32_t FAT_GEOMETRY::FolderUnitBytes(uint32_t nCluster) const {
    if (!bIsFat32 && nCluster == FAT16_ROOT_CLUSTER)
        return nRootSectors * FAT_SECTOR_BYTES;
    return ClusterBytes();
}

uint64_t FAT_GEOMETRY::DataClusterCount() const {
    if (u64TotalSectors <= nDataStart)
        return 0;
    uint64_t u64Count = (u64TotalSectors - nDataStart) / nSectorsPerCluster;
    // A partial cluster at the end still gets a bit, so its sectors are offered to the carver.
    if (u64TotalSectors % nSectorsPerCluster != 0)
        ++u64Count;
    return u64Count;
}

std::optional<uint64_t> GetFatNodeClusterSector(const FILE_NODE& node, uint32_t nCluster) {
    if (nCluster < FAT_FIRST_DATA_CLUSTER || node.nClusterBytes == CLUSTER_BYTES_NONE ||
        node.nClusterBytes < FAT_SECTOR_BYTES)
        return std::nullopt;
    return node.u64DataAreaSector + node.u64PartitionStartSector +
           uint64_t(nCluster - FAT_FIRST_DATA_CLUSTER) * (node.nClusterBytes / FAT_SECTOR_BYTES);
}

int ParseFatBootSector(const uint8_t* pData, size_t nSize, uint64_t u64PartitionStart,
                       FAT_GEOMETRY& geometry) {
    if (pData == nullptr || nSize < BOOT_SECTOR_BYTES)
        return ERROR_UNRECOGNIZED_VOLUME;
    const uint32_t nBytesPerSector = LoadU16LE(pData + BPB_BYTS_PER_SEC);
    const uint32_t nSecPerClus = pData[BPB_SEC_PER_CLUS];
    const uint32_t nReserved = LoadU16LE(pData + BPB_RSVD_SEC_CNT);
    const uint32_t nNumFats = pData[BPB_NUM_FATS];
    // A zero 16-bit FAT size is what marks the FAT32 layout of the parameter block.
    const uint32_t nFatSize16 = LoadU16LE(pData + BPB_FAT_SZ16);
    const bool bIsFat32 = nFatSize16 == 0;
    const uint32_t nFatSize = bIsFat32 ? LoadU32LE(pData + BPB_FAT_SZ32) : nFatSize16;
    uint32_t nTotal = LoadU32LE(pData + BPB_TOT_SEC32);
    if (nTotal == 0)
        nTotal = LoadU16LE(pData + BPB_TOT_SEC16);
    if (!IsSupportedSectorSize(nBytesPerSector) || !IsPowerOfTwo(nSecPerClus) || nReserved == 0 ||
        nNumFats == 0 || nFatSize == 0 || nTotal == 0)
        return ERROR_UNRECOGNIZED_VOLUME;

    const uint64_t u64Scale = nBytesPerSector / FAT_SECTOR_BYTES;
    FAT_GEOMETRY geo{};
    geo.u64PartitionStart = u64PartitionStart;
    geo.u64TotalSectors = nTotal * u64Scale;
    geo.nSectorsPerCluster = static_cast<uint32_t>(nSecPerClus * u64Scale);
    geo.bIsFat32 = bIsFat32 ? 1 : 0;
    geo.nRootCluster = bIsFat32 ? LoadU32LE(pData + BPB_ROOT_CLUS) : 0;
    geo.u64FatSectors = nFatSize * u64Scale;
    geo.u64FirstFatSector = u64PartitionStart + nReserved * u64Scale;
    uint64_t u64DataStart = (nReserved + uint64_t(nNumFats) * nFatSize) * u64Scale;
    if (!bIsFat32) {
        // The root area's size comes from its entry count rather than an assumed 512 entries,
        // or every cluster of a volume made with another count would be misplaced.
        const uint32_t nRootBytes = LoadU16LE(pData + BPB_ROOT_ENT_CNT) * uint32_t(FAT_ENTRY_SIZE);
        if (nRootBytes == 0)
            return ERROR_UNRECOGNIZED_VOLUME;
        geo.nRootSectors =
            static_cast<uint32_t>((nRootBytes + nBytesPerSector - 1) / nBytesPerSector * u64Scale);
        u64DataStart += geo.nRootSectors;
    }
    if (u64DataStart >= geo.u64TotalSectors)
        return ERROR_UNRECOGNIZED_VOLUME;
    geo.nDataStart = static_cast<uint32_t>(u64DataStart);

    const uint64_t u64Clusters = (geo.u64TotalSectors - u64DataStart) / geo.nSectorsPerCluster;
    geo.nFatBits = bIsFat32 ? 32 : u64Clusters < FAT12_CLUSTER_BOUND ? 12 : 16;
    const uint64_t u64FatEntries = geo.u64FatSectors * FAT_SECTOR_BYTES * 8 / geo.nFatBits;
    uint64_t u64Limit = u64Clusters + FAT_FIRST_DATA_CLUSTER;
    if (u64Limit > u64FatEntries)
        u64Limit = u64FatEntries;
    const uint64_t u64Max = MaxClusterOf(geo.nFatBits) + 1ull;
    geo.nClusterLimit = static_cast<uint32_t>(u64Limit < u64Max ? u64Limit : u64Max);
    if (geo.nClusterLimit <= FAT_FIRST_DATA_CLUSTER)
        return ERROR_UNRECOGNIZED_VOLUME;
    geometry = geo;
    return 0;
}
