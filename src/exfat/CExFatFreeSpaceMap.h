// The unallocated sectors of an exFAT volume, from its allocation bitmap, handed out as runs for
// the deep scan's sector pass.
#pragma once

#include "formats/exfat/ExFatBootSector.h"

#include <cstdint>
#include <vector>

class CExFatFreeSpaceMap {
public:
    // Keeps the bitmap (bit 0 is cluster 2); u64PartitionSectors bounds every run handed out.
    void Build(const EXFAT_GEOMETRY& geometry, std::vector<uint8_t> vecBitmap,
               uint64_t u64PartitionSectors);

    // Advances start (sectors from the partition start) to the next unallocated run at or after
    // it and sets count to its length (0: none left). Sectors before the cluster heap are
    // metadata, never free; those past its last cluster are. Returns 1.
    int GetUnUsedSectorCount(unsigned long long& u64Start, unsigned long long& u64Count) const;

private:
    EXFAT_GEOMETRY m_geometry{};
    std::vector<uint8_t> m_vecBitmap;
    uint64_t m_u64PartitionSectors = 0;
};
