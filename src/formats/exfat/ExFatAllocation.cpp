// FAT entry reads, chain steps and allocation-bitmap runs; bytes in, values out.
#include "formats/exfat/ExFatAllocation.h"

#include "formats/exfat/ExFatBootSector.h"
#include "util/ByteView.h"

std::optional<uint32_t> ReadExFatEntry(const uint8_t* pFat, size_t nSize, uint32_t nCluster) {
    const size_t nOffset = size_t(nCluster) * EXFAT_FAT_ENTRY_BYTES;
    if (pFat == nullptr || !InBounds(nSize, nOffset, EXFAT_FAT_ENTRY_BYTES))
        return std::nullopt;
    return LoadU32LE(pFat + nOffset);
}

std::optional<uint32_t> ExFatChainNext(uint32_t nValue, uint32_t nCluster, uint32_t nClusterCount) {
    if (nValue < EXFAT_FIRST_CLUSTER || nValue - EXFAT_FIRST_CLUSTER >= nClusterCount ||
        nValue == nCluster)
        return std::nullopt;
    return nValue;
}

std::optional<bool> IsExFatClusterInUse(const uint8_t* pBitmap, size_t nSize, uint32_t nCluster) {
    if (pBitmap == nullptr || nCluster < EXFAT_FIRST_CLUSTER)
        return std::nullopt;
    const uint32_t nBit = nCluster - EXFAT_FIRST_CLUSTER;
    if (!InBounds(nSize, nBit / 8, 1))
        return std::nullopt;
    return (pBitmap[nBit / 8] >> (nBit % 8) & 1) != 0;
}

std::optional<EXFAT_CLUSTER_RUN> NextExFatFreeRun(const uint8_t* pBitmap, size_t nSize,
                                                  uint32_t nClusterCount, uint32_t nFromCluster) {
    const uint64_t u64End = uint64_t(nClusterCount) + EXFAT_FIRST_CLUSTER;
    uint64_t c = nFromCluster < EXFAT_FIRST_CLUSTER ? EXFAT_FIRST_CLUSTER : nFromCluster;
    auto isFree = [&](uint64_t u64Cluster) {
        return !IsExFatClusterInUse(pBitmap, nSize, uint32_t(u64Cluster)).value_or(false);
    };
    while (c < u64End && !isFree(c)) {
        // Whole used bytes are skipped at once: a full volume's bitmap is mostly 0xFF.
        const uint64_t u64Bit = c - EXFAT_FIRST_CLUSTER;
        if (u64Bit % 8 == 0 && InBounds(nSize, u64Bit / 8, 1) && pBitmap[u64Bit / 8] == 0xFF)
            c += 8;
        else
            ++c;
    }
    if (c >= u64End)
        return std::nullopt;
    uint64_t u64RunEnd = c;
    while (u64RunEnd < u64End && isFree(u64RunEnd))
        ++u64RunEnd;
    return EXFAT_CLUSTER_RUN{uint32_t(c), uint32_t(u64RunEnd - c)};
}
