// FAT window refills and the chain rule that lets deleted items be read as contiguous clusters.
#include "fat/CFatTable.h"

#include "device/CDiskReader.h"
#include "engine/FileRecoveryTypes.h"
#include "util/ByteView.h"

#include <algorithm>
#include <new>

int CFatTable::Init(CDiskReader* pReader, const FAT_GEOMETRY& geometry) {
    m_pReader = pReader;
    m_geometry = geometry;
    // Only the FAT itself is worth holding; a small volume's FAT is far below 16 MiB.
    uint64_t u64FatBytes = geometry.u64FatSectors * FAT_SECTOR_BYTES;
    m_nWindowBytes = static_cast<uint32_t>(std::min<uint64_t>(u64FatBytes, FAT_WINDOW_BYTES));
    m_pWindow.reset(new (std::nothrow) uint8_t[m_nWindowBytes]);
    if (!m_pWindow)
        return 0;
    return FillWindow(0);
}

int CFatTable::FillWindow(uint64_t u64FatSector) {
    uint64_t u64Sectors = std::min<uint64_t>(m_nWindowBytes / FAT_SECTOR_BYTES,
                                             m_geometry.u64FatSectors - u64FatSector);
    unsigned int nRead = 0;
    int rc =
        m_pReader->ReadData(m_pWindow.get(), static_cast<int>(u64Sectors),
                            static_cast<long long>(m_geometry.u64FirstFatSector + u64FatSector),
                            FAT_SECTOR_BYTES, &nRead);
    // A short read still leaves the sectors that arrived usable.
    m_u64WindowStart = u64FatSector;
    m_nValidBytes = nRead * FAT_SECTOR_BYTES;
    return rc;
}

bool CFatTable::IsInWindow(uint64_t u64Offset, uint64_t u64Bytes) const {
    uint64_t u64WindowOffset = m_u64WindowStart * FAT_SECTOR_BYTES;
    return u64Offset >= u64WindowOffset &&
           InBounds(m_nValidBytes, u64Offset - u64WindowOffset, u64Bytes);
}

int CFatTable::GetNextClusterNO(uint32_t nCluster, uint32_t& nNext) {
    if (!m_pWindow) {
        nNext = nCluster + 1;
        return 0;
    }
    // A FAT12 entry is 12 bits of the byte pair at 1.5 bytes per cluster; it may straddle two
    // sectors, so the window must hold both bytes.
    const uint32_t nBits = m_geometry.nFatBits;
    const uint64_t u64Offset = uint64_t(nCluster) * nBits / 8;
    const uint64_t u64EntryBytes = nBits == 32 ? 4 : 2;
    if (!InBounds(m_geometry.u64FatSectors * FAT_SECTOR_BYTES, u64Offset, u64EntryBytes))
        return ERROR_INVALID_PARAMETER;
    if (!IsInWindow(u64Offset, u64EntryBytes)) {
        int rc = FillWindow(u64Offset / FAT_SECTOR_BYTES);
        if (!IsInWindow(u64Offset, u64EntryBytes))
            return rc != 0 ? rc : ERROR_READ_SHORT;
    }
    const uint8_t* pEntry = m_pWindow.get() + (u64Offset - m_u64WindowStart * FAT_SECTOR_BYTES);
    if (nBits == 32)
        nNext = LoadU32LE(pEntry);
    else if (nBits == 16)
        nNext = LoadU16LE(pEntry);
    else
        nNext =
            (nCluster % 2 == 0 ? LoadU16LE(pEntry) : LoadU16LE(pEntry) >> 4) & FAT12_CLUSTER_MASK;
    return 0;
}

uint32_t CFatTable::ReduceEntry(uint32_t nEntry) const {
    switch (m_geometry.nFatBits) {
    case 32:
        return nEntry & FAT32_CLUSTER_MASK;
    case 16:
        return nEntry & FAT16_CLUSTER_MASK;
    default:
        return nEntry & FAT12_CLUSTER_MASK;
    }
}

bool CFatTable::IsEndOfChain(uint32_t nReduced) const {
    switch (m_geometry.nFatBits) {
    case 32:
        return nReduced >= FAT32_END_OF_CHAIN;
    case 16:
        return nReduced >= FAT16_END_OF_CHAIN;
    default:
        return nReduced >= FAT12_END_OF_CHAIN;
    }
}

bool CFatTable::GetChainNextCluster(uint32_t nCluster, uint32_t& nNext) {
    uint32_t nEntry = 0;
    if (GetNextClusterNO(nCluster, nEntry) != 0)
        return false;
    uint32_t nCandidate = ReduceEntry(nEntry);
    if (nCandidate == 0) {
        uint32_t nFollowing = 0;
        if (nCluster + 1 >= m_geometry.nClusterLimit ||
            GetNextClusterNO(nCluster + 1, nFollowing) != 0 || ReduceEntry(nFollowing) != 0)
            return false;
        nCandidate = nCluster + 1;
    } else if (IsEndOfChain(nCandidate)) {
        return false;
    }
    if (nCandidate == nCluster || nCandidate < FAT_FIRST_DATA_CLUSTER ||
        nCandidate >= m_geometry.nClusterLimit)
        return false;
    nNext = nCandidate;
    return true;
}
