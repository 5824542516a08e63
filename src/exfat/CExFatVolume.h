// An exFAT volume opened on a disk reader: the geometry from the main boot region or, when that
// is damaged, the backup; FAT entries through a window; and the allocation bitmap.
#pragma once

#include "engine/FileRecoveryTypes.h"
#include "exfat/CExFatNodeData.h"
#include "formats/exfat/ExFatAllocation.h"
#include "formats/exfat/ExFatBootSector.h"
#include "formats/exfat/ExFatEntrySet.h"
#include "formats/proof/CFreeClusterFollower.h"
#include "util/StatusCodes.h"

#include <cstdint>
#include <optional>
#include <vector>

class CDiskReader;

class CExFatVolume {
public:
    static constexpr uint32_t FAT_WINDOW_BYTES = 4 * 1024 * 1024;

    // Reads the boot regions at u64PartitionStart (the main one, else the backup) and the
    // allocation bitmap the root names: 0, or 1005 when neither region holds a valid geometry.
    int Open(CDiskReader* pReader, uint64_t u64PartitionStart);
    // Takes a geometry from a boot sector (bHasFat: its FAT and bitmap are read too) or inferred
    // by the deep scan (no FAT: every chain counts as gone).
    void Open(CDiskReader* pReader, const EXFAT_GEOMETRY& geometry, bool bHasFat);
    bool IsOpen() const { return m_pReader != nullptr; }
    const EXFAT_GEOMETRY& Geometry() const { return m_geometry; }

    // The FAT entry of a cluster, or nullopt when it cannot be read.
    std::optional<uint32_t> GetFatEntry(uint32_t nCluster);
    // The next cluster of a chain, or nullopt at its end (see ExFatChainNext).
    std::optional<uint32_t> GetChainNext(uint32_t nCluster);

    // True when a chain from the first cluster covers u64Bytes and ends there, and every
    // cluster's bitmap bit agrees with bInUse (a deleted file's clusters are free).
    bool IsChainTheirs(uint32_t nFirst, uint64_t u64Bytes, bool bInUse);
    // The entry set a node was made from, read again at its sector.
    std::optional<EXFAT_ENTRY_SET> ReadEntrySet(const FILE_NODE& node);
    // How the node's data lies: valid data length and chain flag from its set; a chain is
    // followed only while it still reads as the file's own, else one run, possibly damaged.
    EXFAT_DATA_LAYOUT GetDataLayout(const FILE_NODE& node);
    // The node's data reader along that layout.
    CExFatNodeData GetNodeData(const FILE_NODE& node);
    // The node's data as device byte runs along that layout (a zero-filled run past the valid
    // data length).
    std::vector<FILE_DATA_RUN> GetDataRuns(const FILE_NODE& node);
    // False when the first data sector does not match the type the name's extension names.
    bool IsNodeDataHealthy(const FILE_NODE& node);
    // The data health of the node's data read along its layout, proved by its format.
    uint32_t ProveNodeData(const FILE_NODE& node);
    // Nullopt without a bitmap or past it.
    std::optional<bool> IsClusterInUse(uint32_t nCluster) const;
    const std::vector<uint8_t>& Bitmap() const { return m_vecBitmap; }

    // Reads nBytes of a chain (or of consecutive clusters) from its first cluster into vecOut,
    // stopping early where the chain ends or a read fails; 0 or the first read error.
    int ReadClusters(uint32_t nFirstCluster, bool bNoFatChain, uint64_t u64Bytes,
                     std::vector<uint8_t>& vecOut);

private:
    std::optional<EXFAT_GEOMETRY> ReadRegion(uint64_t u64Sector, uint32_t nRegionBytes);
    int LoadBitmap();
    int FillWindow(uint64_t u64FatByte);
    // The cluster after one of the node's clusters along the layout.
    std::optional<uint32_t> NextOf(const EXFAT_DATA_LAYOUT& layout, uint32_t nCluster);
    CFreeClusterFollower GetFollower() const;
    // A chained file whose chain is gone: on from its first cluster, along the free ones, or in
    // two pieces of them.
    void ChooseReleasedClusters(const FILE_NODE& node, EXFAT_DATA_LAYOUT& layout);
    // u64Bytes of the node's clusters along the layout (about PROOF_BYTES_LIMIT at most): 0 or
    // the read's error.
    int ReadNodeBytes(const FILE_NODE& node, const EXFAT_DATA_LAYOUT& layout, uint64_t u64Bytes,
                      std::vector<uint8_t>& vecData);

    CDiskReader* m_pReader = nullptr;
    EXFAT_GEOMETRY m_geometry{};
    std::vector<uint8_t> m_vecWindow;
    uint64_t m_u64WindowStart = 0; // FAT byte at which the window begins
    std::vector<uint8_t> m_vecBitmap;
};
