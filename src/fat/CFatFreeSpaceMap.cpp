// Building the cluster map from the FAT and finding free runs in it for the carving pass.
#include "fat/CFatFreeSpaceMap.h"

#include "fat/CFatTable.h"

#include <algorithm>

namespace {

constexpr uint8_t ALL_ALLOCATED = 0xFF;
constexpr uint8_t ALL_FREE = 0x00;

} // namespace

void CFatFreeSpaceMap::Build(CFatTable& fatTable, uint64_t u64PartitionSectors) {
    m_geometry = fatTable.Geometry();
    m_u64PartitionSectors = u64PartitionSectors;
    const uint64_t u64Clusters = m_geometry.DataClusterCount();
    // Rounded up: the clusters of a last partial byte still get their bits.
    m_vecMap.assign((u64Clusters + 7) / 8, 0);
    const uint64_t u64End =
        std::min<uint64_t>(u64Clusters + FAT_FIRST_DATA_CLUSTER, m_geometry.nClusterLimit);
    for (uint64_t c = FAT_FIRST_DATA_CLUSTER; c < u64End; ++c) {
        uint32_t nEntry = 0;
        if (fatTable.GetNextClusterNO(static_cast<uint32_t>(c), nEntry) != 0)
            continue;
        const uint32_t nValue = fatTable.ReduceEntry(nEntry);
        if (nValue == 0)
            continue;
        SetCluster(static_cast<uint32_t>(c));
        // A link to a cluster outside the map is damage; it must not end the build.
        if (!fatTable.IsEndOfChain(nValue) && nValue >= FAT_FIRST_DATA_CLUSTER)
            SetCluster(nValue);
    }
}

void CFatFreeSpaceMap::SetCluster(uint32_t nCluster) {
    uint64_t u64Bit = nCluster - FAT_FIRST_DATA_CLUSTER;
    if (u64Bit / 8 < m_vecMap.size())
        m_vecMap[u64Bit / 8] |= uint8_t(1u << (u64Bit % 8));
}

bool CFatFreeSpaceMap::IsBitSet(uint64_t u64Bit) const {
    return (m_vecMap[u64Bit / 8] >> (u64Bit % 8) & 1) != 0;
}

bool CFatFreeSpaceMap::IsAllocated(uint32_t nCluster) const {
    if (nCluster < FAT_FIRST_DATA_CLUSTER)
        return true;
    uint64_t u64Bit = nCluster - FAT_FIRST_DATA_CLUSTER;
    return u64Bit / 8 < m_vecMap.size() && IsBitSet(u64Bit);
}

int CFatFreeSpaceMap::GetUnUsedSectorCount(unsigned long long& u64Start,
                                           unsigned long long& u64Count) const {
    u64Count = 0;
    if (u64Start > m_u64PartitionSectors) {
        u64Start = m_u64PartitionSectors;
        return 1;
    }
    const uint64_t u64Spc = m_geometry.nSectorsPerCluster;
    const uint64_t u64Bits = m_vecMap.size() * 8;
    uint64_t u64Rel = u64Start > m_geometry.nDataStart ? u64Start - m_geometry.nDataStart : 0;
    uint64_t u64Bit = u64Spc == 0 ? u64Bits : u64Rel / u64Spc;
    if (u64Bit < u64Bits) {
        uint64_t u64Free = u64Bit;
        while (u64Free < u64Bits && IsBitSet(u64Free)) {
            if (u64Free % 8 == 0 && m_vecMap[u64Free / 8] == ALL_ALLOCATED)
                u64Free += 7;
            ++u64Free;
        }
        if (u64Free < u64Bits) {
            u64Rel += (u64Free - u64Bit) * u64Spc;
            uint64_t u64End = u64Free;
            while (u64End < u64Bits && !IsBitSet(u64End)) {
                if (u64End % 8 == 0 && m_vecMap[u64End / 8] == ALL_FREE)
                    u64End += 7;
                ++u64End;
            }
            // A start inside a free cluster must not carry the run into the next used one.
            u64Count = (u64End - u64Free) * u64Spc - u64Rel % u64Spc;
        }
    }
    u64Start = u64Rel + m_geometry.nDataStart;
    if (u64Start >= m_u64PartitionSectors)
        u64Count = 0;
    else if (u64Count > m_u64PartitionSectors - u64Start)
        u64Count = m_u64PartitionSectors - u64Start;
    return 1;
}
