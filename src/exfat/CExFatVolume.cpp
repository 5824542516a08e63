// Boot-region choice, FAT window and bitmap of an exFAT volume on a disk reader.
#include "exfat/CExFatVolume.h"

#include "device/CDiskReader.h"
#include "formats/carving/CFileTypeJudge.h"
#include "formats/exfat/ExFatDirectory.h"
#include "formats/proof/CFileProof.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <algorithm>

namespace {

constexpr uint32_t UNIT = EXFAT_UNIT_BYTES;
// The largest boot region: 12 sectors of 4096 bytes.
constexpr uint32_t MAX_REGION_BYTES = EXFAT_BOOT_REGION_SECTORS << EXFAT_MAX_SECTOR_SHIFT;
// A set begins in its recorded sector and may run on into the next two.
constexpr int ENTRY_SET_SECTORS = 3;
constexpr size_t EXT_BYTES_MAX = 64;

uint64_t ClustersFor(uint64_t u64Bytes, uint32_t nClusterBytes) {
    return (u64Bytes + nClusterBytes - 1) / nClusterBytes;
}

} // namespace

std::optional<EXFAT_GEOMETRY> CExFatVolume::ReadRegion(uint64_t u64Sector, uint32_t nRegionBytes) {
    std::vector<uint8_t> region(nRegionBytes);
    unsigned int nRead = 0;
    m_pReader->ReadData(region.data(), int(nRegionBytes / UNIT), (long long)u64Sector, UNIT,
                        &nRead);
    region.resize(size_t(nRead) * UNIT);
    auto geometry = ParseExFatBootSector(region.data(), region.size(), 0);
    if (!geometry || !IsExFatBootRegionValid(region.data(), region.size()))
        return std::nullopt;
    return geometry;
}

int CExFatVolume::Open(CDiskReader* pReader, uint64_t u64PartitionStart) {
    m_pReader = pReader;
    std::optional<EXFAT_GEOMETRY> geometry = ReadRegion(u64PartitionStart, MAX_REGION_BYTES);
    // The backup region follows the main one, whose sector size is then unknown: try each.
    for (uint32_t nShift = EXFAT_MIN_SECTOR_SHIFT; !geometry && nShift <= EXFAT_MAX_SECTOR_SHIFT;
         ++nShift) {
        const uint32_t nRegionBytes = EXFAT_BOOT_REGION_SECTORS << nShift;
        geometry = ReadRegion(u64PartitionStart + nRegionBytes / UNIT, nRegionBytes);
        if (geometry && geometry->nBytesPerSector != (1u << nShift))
            geometry.reset();
        if (geometry)
            DebugLog("CExFatVolume: main boot region at sector %llu (0x%llx) damaged, backup "
                     "used\n",
                     (unsigned long long)u64PartitionStart, (unsigned long long)u64PartitionStart);
    }
    if (!geometry) {
        m_pReader = nullptr;
        return ERROR_UNRECOGNIZED_VOLUME;
    }
    geometry->u64PartitionStart = u64PartitionStart;
    Open(pReader, *geometry, true);
    return 0;
}

void CExFatVolume::Open(CDiskReader* pReader, const EXFAT_GEOMETRY& geometry, bool bHasFat) {
    m_pReader = pReader;
    m_geometry = geometry;
    m_vecWindow.clear();
    m_vecBitmap.clear();
    if (!bHasFat) {
        m_geometry.u64FatSectors = 0;
        return;
    }
    if (LoadBitmap() != 0)
        DebugLog("CExFatVolume: allocation bitmap of the volume at sector %llu not read\n",
                 (unsigned long long)m_geometry.u64PartitionStart);
}

int CExFatVolume::FillWindow(uint64_t u64FatByte) {
    const uint64_t u64FatBytes = m_geometry.u64FatSectors * UNIT;
    const uint64_t u64Start = u64FatByte / UNIT * UNIT;
    const uint64_t u64Bytes = std::min<uint64_t>(FAT_WINDOW_BYTES, u64FatBytes - u64Start);
    m_vecWindow.assign(u64Bytes, 0);
    unsigned int nRead = 0;
    int rc = m_pReader->ReadData(
        m_vecWindow.data(), int(u64Bytes / UNIT),
        (long long)(m_geometry.u64PartitionStart + m_geometry.u64FatStart + u64Start / UNIT), UNIT,
        &nRead);
    m_vecWindow.resize(size_t(nRead) * UNIT);
    m_u64WindowStart = u64Start;
    return rc;
}

std::optional<uint32_t> CExFatVolume::GetFatEntry(uint32_t nCluster) {
    const uint64_t u64Byte = uint64_t(nCluster) * EXFAT_FAT_ENTRY_BYTES;
    if (!IsOpen() || u64Byte + EXFAT_FAT_ENTRY_BYTES > m_geometry.u64FatSectors * UNIT)
        return std::nullopt;
    if (u64Byte < m_u64WindowStart ||
        u64Byte + EXFAT_FAT_ENTRY_BYTES > m_u64WindowStart + m_vecWindow.size())
        FillWindow(u64Byte);
    return ReadExFatEntry(m_vecWindow.data(), m_vecWindow.size(),
                          uint32_t((u64Byte - m_u64WindowStart) / EXFAT_FAT_ENTRY_BYTES));
}

std::optional<uint32_t> CExFatVolume::GetChainNext(uint32_t nCluster) {
    std::optional<uint32_t> value = GetFatEntry(nCluster);
    return value ? ExFatChainNext(*value, nCluster, m_geometry.nClusterCount) : std::nullopt;
}

int CExFatVolume::LoadBitmap() {
    // The bitmap's entry stands in the root directory's first cluster.
    std::vector<uint8_t> vecRoot;
    ReadClusters(m_geometry.nRootCluster, false, m_geometry.ClusterBytes(), vecRoot);
    EXFAT_DIRECTORY root = ParseExFatDirectory(vecRoot.data(), vecRoot.size());
    const uint64_t u64Needed = (uint64_t(m_geometry.nClusterCount) + 7) / 8;
    if (!root.bitmap || root.bitmap->u64DataLength < u64Needed)
        return ERROR_UNRECOGNIZED_VOLUME;
    // The bitmap is allocated contiguously by every formatter; its chain is not followed.
    return ReadClusters(root.bitmap->nFirstCluster, true, u64Needed, m_vecBitmap);
}

std::optional<bool> CExFatVolume::IsClusterInUse(uint32_t nCluster) const {
    return IsExFatClusterInUse(m_vecBitmap.data(), m_vecBitmap.size(), nCluster);
}

int CExFatVolume::ReadClusters(uint32_t nFirstCluster, bool bNoFatChain, uint64_t u64Bytes,
                               std::vector<uint8_t>& vecOut) {
    vecOut.clear();
    const uint32_t nClusterBytes = m_geometry.ClusterBytes();
    uint32_t nCluster = nFirstCluster;
    for (uint32_t nSteps = 0; vecOut.size() < u64Bytes && nSteps < m_geometry.nClusterCount;
         ++nSteps) {
        if (!m_geometry.IsHeapCluster(nCluster))
            break;
        const size_t nAt = vecOut.size();
        vecOut.resize(nAt + nClusterBytes);
        unsigned int nRead = 0;
        int rc = m_pReader->ReadData(vecOut.data() + nAt, int(m_geometry.nSectorsPerCluster),
                                     (long long)m_geometry.ClusterToSector(nCluster), UNIT, &nRead);
        if (rc != 0) {
            vecOut.resize(nAt + size_t(nRead) * UNIT);
            return rc;
        }
        std::optional<uint32_t> next =
            bNoFatChain ? std::optional<uint32_t>(nCluster + 1) : GetChainNext(nCluster);
        if (!next)
            break;
        nCluster = *next;
    }
    if (vecOut.size() > u64Bytes)
        vecOut.resize(u64Bytes);
    return 0;
}

bool CExFatVolume::IsChainTheirs(uint32_t nFirst, uint64_t u64Bytes, bool bInUse) {
    const uint64_t u64Clusters = ClustersFor(u64Bytes, m_geometry.ClusterBytes());
    uint32_t nCluster = nFirst;
    for (uint64_t i = 0; i < u64Clusters; ++i) {
        if (!m_geometry.IsHeapCluster(nCluster) ||
            IsClusterInUse(nCluster).value_or(bInUse) != bInUse)
            return false;
        if (i + 1 == u64Clusters)
            return GetFatEntry(nCluster) == EXFAT_CLUSTER_END;
        std::optional<uint32_t> next = GetChainNext(nCluster);
        if (!next)
            return false;
        nCluster = *next;
    }
    return true;
}

std::optional<EXFAT_ENTRY_SET> CExFatVolume::ReadEntrySet(const FILE_NODE& node) {
    uint8_t sectors[ENTRY_SET_SECTORS * UNIT] = {};
    unsigned int nRead = 0;
    m_pReader->ReadData(sectors, ENTRY_SET_SECTORS, (long long)node.u64LocationSector, UNIT,
                        &nRead);
    const size_t nBytes = size_t(nRead) * UNIT;
    for (size_t nOff = 0; nOff < UNIT && nOff < nBytes; nOff += EXFAT_ENTRY_BYTES) {
        auto set = ParseExFatEntrySet(sectors + nOff, nBytes - nOff);
        if (set && set->nFirstCluster == node.nClusterNo &&
            set->u64DataLength == node.u64FileSize && !set->bIsDir == !node.bIsDir)
            return set;
    }
    return std::nullopt;
}

EXFAT_DATA_LAYOUT CExFatVolume::GetDataLayout(const FILE_NODE& node) {
    EXFAT_DATA_LAYOUT layout{false, node.u64FileSize, false};
    std::optional<EXFAT_ENTRY_SET> set = ReadEntrySet(node);
    if (!set)
        return layout;
    layout.u64ValidLength = set->u64ValidDataLength;
    if (set->bNoFatChain)
        return layout;
    layout.bChained = IsChainTheirs(set->nFirstCluster, set->u64DataLength, set->bInUse);
    layout.bPossiblyDamaged =
        !layout.bChained && ClustersFor(set->u64DataLength, m_geometry.ClusterBytes()) > 1;
    if (layout.bPossiblyDamaged && !m_vecBitmap.empty())
        ChooseReleasedClusters(node, layout);
    if (layout.bPossiblyDamaged)
        DebugLog("CExFatVolume: chain of \"%s\" at cluster %u is gone; read as one run, possibly "
                 "damaged\n",
                 node.szFileName, node.nClusterNo);
    return layout;
}

std::optional<uint32_t> CExFatVolume::NextOf(const EXFAT_DATA_LAYOUT& layout, uint32_t nCluster) {
    if (!layout.vecClusters.empty()) {
        uint32_t nNext = 0;
        return CFreeClusterFollower::NextInList(layout.vecClusters, nCluster, nNext)
                   ? std::optional<uint32_t>(nNext)
                   : std::nullopt;
    }
    return layout.bChained ? GetChainNext(nCluster) : std::optional<uint32_t>(nCluster + 1);
}

CFreeClusterFollower CExFatVolume::GetFollower() const {
    return CFreeClusterFollower(EXFAT_FIRST_CLUSTER, EXFAT_FIRST_CLUSTER + m_geometry.nClusterCount,
                                [this](uint32_t nCluster) {
                                    return IsClusterInUse(nCluster) == std::optional<bool>(false);
                                });
}

int CExFatVolume::ReadNodeBytes(const FILE_NODE& node, const EXFAT_DATA_LAYOUT& layout,
                                uint64_t u64Bytes, std::vector<uint8_t>& vecData) {
    vecData.clear();
    if (u64Bytes > PROOF_BYTES_LIMIT + uint64_t(CFreeClusterFollower::MAX_SKIPPED_CLUSTERS) *
                                           m_geometry.ClusterBytes())
        return ERROR_INVALID_PARAMETER;
    vecData.reserve(u64Bytes);
    EXFAT_DATA_LAYOUT reading = layout;
    reading.bChained = true; // the reader asks NextOf for every cluster
    reading.u64ValidLength = std::max(layout.u64ValidLength, u64Bytes);
    CExFatNodeData data(*m_pReader, reading, m_geometry.nClusterCount,
                        [this, &layout](uint32_t nCluster, uint32_t& nNext) {
                            std::optional<uint32_t> next = NextOf(layout, nCluster);
                            nNext = next.value_or(0);
                            return next.has_value();
                        });
    uint64_t u64Unreadable = 0;
    return data.Read(
        node, u64Bytes,
        [&](const uint8_t* pData, uint32_t nBytes) {
            vecData.insert(vecData.end(), pData, pData + nBytes);
            return 0;
        },
        u64Unreadable);
}

void CExFatVolume::ChooseReleasedClusters(const FILE_NODE& node, EXFAT_DATA_LAYOUT& layout) {
    CFreeClusterFollower::CHOICE choice =
        GetFollower().Choose(node.nClusterNo, node.u64FileSize, m_geometry.ClusterBytes(),
                             GetLowerExtension(node.szFileName).c_str(),
                             [&](const std::vector<uint32_t>& vecClusters, uint64_t u64Bytes,
                                 std::vector<uint8_t>& vecData) {
                                 EXFAT_DATA_LAYOUT candidate = layout;
                                 candidate.vecClusters = vecClusters;
                                 return ReadNodeBytes(node, candidate, u64Bytes, vecData);
                             });
    layout.vecClusters = std::move(choice.vecClusters);
    layout.nDataHealth = choice.nDataHealth;
    // Only a proof makes the reading sure.
    layout.bPossiblyDamaged = choice.nDataHealth != DATA_HEALTH_WHOLE;
}

CExFatNodeData CExFatVolume::GetNodeData(const FILE_NODE& node) {
    const EXFAT_DATA_LAYOUT layout = GetDataLayout(node);
    EXFAT_DATA_LAYOUT reading = layout;
    reading.bChained = layout.bChained || !layout.vecClusters.empty();
    return CExFatNodeData(*m_pReader, reading, m_geometry.nClusterCount,
                          [this, layout](uint32_t nCluster, uint32_t& nNext) {
                              std::optional<uint32_t> next = NextOf(layout, nCluster);
                              nNext = next.value_or(0);
                              return next.has_value();
                          });
}

uint32_t CExFatVolume::ProveNodeData(const FILE_NODE& node) {
    const EXFAT_DATA_LAYOUT layout = GetDataLayout(node);
    if (layout.nDataHealth != 1 || node.bIsDir != 0 ||
        !CFileProof::CanProve(GetLowerExtension(node.szFileName).c_str()))
        return layout.nDataHealth;
    std::vector<uint8_t> vecData;
    if (node.u64FileSize > PROOF_BYTES_LIMIT ||
        ReadNodeBytes(node, layout, node.u64FileSize, vecData) != 0 ||
        vecData.size() != node.u64FileSize)
        return 1;
    return CFileProof::HealthOf(CFileProof::Prove(vecData.data(), vecData.size(),
                                                  GetLowerExtension(node.szFileName).c_str(),
                                                  PROOF_DEPTH::STRUCTURE));
}

bool CExFatVolume::IsNodeDataHealthy(const FILE_NODE& node) {
    char szExt[EXT_BYTES_MAX] = {};
    if (GetExtendName(node.szFileName, szExt, sizeof(szExt)) != 0 ||
        !m_geometry.IsHeapCluster(node.nClusterNo))
        return true;
    const uint64_t u64Sector = m_geometry.ClusterToSector(node.nClusterNo);
    uint8_t sector[UNIT];
    unsigned int nRead = 0;
    if (m_pReader->ReadData(sector, 1, (long long)u64Sector, UNIT, &nRead) != 0 || nRead != 1)
        return true;
    return CFileTypeJudge::IsFileTypeMatching(sector, sizeof(sector), szExt, m_pReader, UNIT,
                                              u64Sector) != 0;
}

std::vector<FILE_DATA_RUN> CExFatVolume::GetDataRuns(const FILE_NODE& node) {
    std::vector<FILE_DATA_RUN> vecRuns;
    const EXFAT_DATA_LAYOUT layout = GetDataLayout(node);
    const uint64_t u64ClusterBytes = node.nClusterBytes;
    const uint64_t u64Valid = std::min(layout.u64ValidLength, node.u64FileSize);
    const uint64_t u64First = node.u64PartitionStartSector + node.u64DataAreaSector;
    uint32_t nCluster = node.nClusterNo;
    for (uint64_t u64Done = 0; u64Done < u64Valid && nCluster >= EXFAT_FIRST_CLUSTER;) {
        const uint64_t u64Disk =
            (u64First + uint64_t(nCluster - EXFAT_FIRST_CLUSTER) * (u64ClusterBytes / UNIT)) * UNIT;
        const uint64_t u64Bytes = std::min(u64ClusterBytes, u64Valid - u64Done);
        if (!vecRuns.empty() && vecRuns.back().u64DiskOffset + vecRuns.back().u64Bytes == u64Disk)
            vecRuns.back().u64Bytes += u64Bytes;
        else
            vecRuns.push_back({u64Done, u64Disk, u64Bytes, false});
        u64Done += u64Bytes;
        std::optional<uint32_t> next = NextOf(layout, nCluster);
        if (!next)
            return vecRuns;
        nCluster = *next;
    }
    if (u64Valid < node.u64FileSize)
        vecRuns.push_back({u64Valid, 0, node.u64FileSize - u64Valid, true});
    return vecRuns;
}
