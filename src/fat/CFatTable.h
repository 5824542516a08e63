// The first FAT of a volume read through a 16 MiB window, and the rule that follows a chain.
#pragma once

#include "formats/fat/FatGeometry.h"

#include <cstdint>
#include <memory>

class CDiskReader;

constexpr uint32_t FAT_WINDOW_BYTES = 16 * 1024 * 1024;
constexpr uint32_t FAT32_CLUSTER_MASK = 0x0FFFFFFF;
constexpr uint32_t FAT32_END_OF_CHAIN = 0x0FFFFFF8;
constexpr uint32_t FAT16_CLUSTER_MASK = 0xFFFF;
constexpr uint32_t FAT16_END_OF_CHAIN = 0xFFF8;
constexpr uint32_t FAT12_CLUSTER_MASK = 0x0FFF;
constexpr uint32_t FAT12_END_OF_CHAIN = 0x0FF8;

class CFatTable {
public:
    // Fills the window from the first FAT sector; 0 or the reader's error. Without a window
    // (allocation failed) every cluster is taken to continue at the next one.
    int Init(CDiskReader* pReader, const FAT_GEOMETRY& geometry);

    // The FAT entry of the cluster as stored (FAT32: all 32 bits; FAT12: the cluster's 12 bits
    // of its byte pair): 0, the reader's error, 30 when a refill delivered nothing, or 87 when
    // the entry lies beyond the FAT.
    int GetNextClusterNO(uint32_t nCluster, uint32_t& nNext);

    // The entry with the bits that carry the cluster number only (28, 16 or 12).
    uint32_t ReduceEntry(uint32_t nEntry) const;
    bool IsEndOfChain(uint32_t nReduced) const;

    // Follows one link: a used entry leads where it points; a free entry (a released chain) leads
    // to the next cluster while that one is free too. False when the chain ends at the cluster:
    // end mark, a read error, a link to itself, to 0 or 1, or past the volume.
    bool GetChainNextCluster(uint32_t nCluster, uint32_t& nNext);

    const FAT_GEOMETRY& Geometry() const { return m_geometry; }

private:
    int FillWindow(uint64_t u64FatSector);
    bool IsInWindow(uint64_t u64FatOffset, uint64_t u64Bytes) const;

    CDiskReader* m_pReader = nullptr;
    FAT_GEOMETRY m_geometry{};
    std::unique_ptr<uint8_t[]> m_pWindow;
    uint32_t m_nWindowBytes = 0;   // capacity: the FAT's size, at most 16 MiB
    uint32_t m_nValidBytes = 0;    // bytes of the window that the last fill delivered
    uint64_t m_u64WindowStart = 0; // FAT-relative sector at which the window begins
};
