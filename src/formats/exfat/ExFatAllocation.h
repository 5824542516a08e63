// The exFAT allocation structures: FAT entries (chains) and the allocation bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

constexpr uint32_t EXFAT_FAT_ENTRY_BYTES = 4;
constexpr uint32_t EXFAT_CLUSTER_FREE = 0;
constexpr uint32_t EXFAT_CLUSTER_BAD = 0xFFFFFFF7;
constexpr uint32_t EXFAT_CLUSTER_END = 0xFFFFFFFF;

struct EXFAT_CLUSTER_RUN {
    uint32_t nFirstCluster;
    uint32_t nClusterCount;
};

// The FAT entry of a cluster, from a buffer holding the FAT from its first entry; nullopt when
// the entry lies past the buffer.
std::optional<uint32_t> ReadExFatEntry(const uint8_t* pFat, size_t nSize, uint32_t nCluster);
// The cluster that a FAT entry value leads to, or nullopt when the chain cannot go on there:
// end mark, bad or free cluster, a value outside the heap, or the cluster itself.
std::optional<uint32_t> ExFatChainNext(uint32_t nValue, uint32_t nCluster, uint32_t nClusterCount);

// The bitmap bit of a heap cluster (bit 0 of byte 0 is cluster 2); nullopt past the buffer.
std::optional<bool> IsExFatClusterInUse(const uint8_t* pBitmap, size_t nSize, uint32_t nCluster);
// The first run of free clusters at or after nFromCluster among the nClusterCount heap clusters
// (clusters the bitmap does not cover count as free), or nullopt when none is left.
std::optional<EXFAT_CLUSTER_RUN> NextExFatFreeRun(const uint8_t* pBitmap, size_t nSize,
                                                  uint32_t nClusterCount, uint32_t nFromCluster);
