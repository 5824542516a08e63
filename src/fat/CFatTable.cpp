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

bool CFatTable::IsInWindow(uint64_t u64Offset) const {
    uint64_t u64WindowOffset = m_u64WindowStart * FAT_SECTOR_BYTES;
    return u64Offset >= u64WindowOffset && u64Offset - u64WindowOffset < m_nValidBytes;
}

int CFatTable::GetNextClusterNO(uint32_t nCluster, uint32_t& nNext) {
    if (!m_pWindow) {
        nNext = nCluster + 1;
        return 0;
    }
    const uint64_t u64EntryBytes = m_geometry.bIsFat32 ? 4 : 2;
    const uint64_t u64Offset = nCluster * u64EntryBytes;
    if (!InBounds(m_geometry.u64FatSectors * FAT_SECTOR_BYTES, u64Offset, u64EntryBytes))
        return ERROR_INVALID_PARAMETER;
    if (!IsInWindow(u64Offset)) {
        int rc = FillWindow(u64Offset / FAT_SECTOR_BYTES);
        if (!IsInWindow(u64Offset))
            return rc != 0 ? rc : ERROR_READ_SHORT;
    }
    const uint8_t* pEntry = m_pWindow.get() + (u64Offset - m_u64WindowStart * FAT_SECTOR_BYTES);
    nNext = m_geometry.bIsFat32 ? LoadU32LE(pEntry) : LoadU16LE(pEntry);
    return 0;
}

uint32_t CFatTable::ReduceEntry(uint32_t nEntry) const {
    return nEntry & (m_geometry.bIsFat32 ? FAT32_CLUSTER_MASK : FAT16_CLUSTER_MASK);
}

bool CFatTable::IsEndOfChain(uint32_t nReduced) const {
    return nReduced >= (m_geometry.bIsFat32 ? FAT32_END_OF_CHAIN : FAT16_END_OF_CHAIN);
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
