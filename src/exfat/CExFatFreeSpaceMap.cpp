// Free runs of an exFAT volume's allocation bitmap, in 512-byte sectors from the partition start.
#include "exfat/CExFatFreeSpaceMap.h"

#include "formats/exfat/ExFatAllocation.h"

#include <algorithm>

void CExFatFreeSpaceMap::Build(const EXFAT_GEOMETRY& geometry, std::vector<uint8_t> vecBitmap,
                               uint64_t u64PartitionSectors) {
    m_geometry = geometry;
    m_vecBitmap = std::move(vecBitmap);
    m_u64PartitionSectors = u64PartitionSectors;
}

int CExFatFreeSpaceMap::GetUnUsedSectorCount(unsigned long long& u64Start,
                                             unsigned long long& u64Count) const {
    u64Count = 0;
    const uint64_t u64Spc = m_geometry.nSectorsPerCluster;
    const uint64_t u64Heap = m_geometry.u64HeapStart;
    const uint64_t u64HeapEnd = u64Heap + uint64_t(m_geometry.nClusterCount) * u64Spc;
    uint64_t u64From = std::max<uint64_t>(u64Start, u64Heap);
    if (u64Spc == 0 || u64From >= m_u64PartitionSectors) {
        u64Start = std::min<uint64_t>(u64From, m_u64PartitionSectors);
        return 1;
    }
    uint64_t u64End = m_u64PartitionSectors;
    if (u64From < u64HeapEnd) {
        const uint32_t nCluster = uint32_t((u64From - u64Heap) / u64Spc) + EXFAT_FIRST_CLUSTER;
        auto run = NextExFatFreeRun(m_vecBitmap.data(), m_vecBitmap.size(),
                                    m_geometry.nClusterCount, nCluster);
        if (run) {
            const uint64_t u64RunStart =
                u64Heap + uint64_t(run->nFirstCluster - EXFAT_FIRST_CLUSTER) * u64Spc;
            u64From = std::max(u64From, u64RunStart);
            u64End = u64RunStart + uint64_t(run->nClusterCount) * u64Spc;
            // A run that reaches the heap's end goes on over the sectors past it.
            if (u64End >= u64HeapEnd)
                u64End = m_u64PartitionSectors;
        } else {
            u64From = u64HeapEnd;
        }
    }
    u64End = std::min(u64End, m_u64PartitionSectors);
    u64Start = std::min(u64From, m_u64PartitionSectors);
    u64Count = u64End > u64Start ? u64End - u64Start : 0;
    return 1;
}
