// One bit per data cluster of a FAT volume, set when the FAT marks the cluster as used, and the
// walk over it that hands out runs of unallocated sectors.
#pragma once

#include "formats/fat/FatGeometry.h"

#include <cstdint>
#include <vector>

class CFatTable;

class CFatFreeSpaceMap {
public:
    // Rebuilds the map from the FAT (bit i is cluster i + 2); a FAT entry that cannot be read
    // leaves its cluster clear. u64PartitionSectors bounds every run handed out.
    void Build(CFatTable& fatTable, uint64_t u64PartitionSectors);

    // Advances start (sectors from the partition start; 0 means the data area's start) to the
    // next run of unallocated sectors at or after it and sets count to the run's length, clipped
    // to the partition. Sectors before the data area are file-system metadata, never free.
    // Returns 1.
    int GetUnUsedSectorCount(unsigned long long& u64Start, unsigned long long& u64Count) const;

    bool IsAllocated(uint32_t nCluster) const;
    uint64_t GetMapBytes() const { return m_vecMap.size(); }

private:
    void SetCluster(uint32_t nCluster);
    bool IsBitSet(uint64_t u64Bit) const;

    std::vector<uint8_t> m_vecMap;
    FAT_GEOMETRY m_geometry{};
    uint64_t m_u64PartitionSectors = 0;
};
