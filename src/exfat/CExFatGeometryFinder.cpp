// Geometry of exFAT volumes from boot sectors, or inferred from folder starts and the up-case
// table when the boot regions are gone.
#include "exfat/CExFatGeometryFinder.h"

#include "device/CDiskReader.h"
#include "exfat/CExFatVolume.h"
#include "formats/exfat/ExFatDirectory.h"
#include "util/ByteView.h"

#include <algorithm>
#include <unordered_map>

namespace {

constexpr uint32_t UNIT = EXFAT_UNIT_BYTES;
// Sectors per cluster tried: 1 to 65536 (32 MiB clusters of 512-byte sectors).
constexpr uint32_t MAX_SPC_SHIFT = 16;
// Folders that vote for candidates; every folder is counted when candidates are scored.
constexpr size_t VOTING_FOLDERS = 128;
constexpr size_t SCORED_CANDIDATES = 64;
constexpr int UPCASE_VOTE = 4;
constexpr int UPCASE_SCORE = 2;
constexpr int ROOT_AFTER_UPCASE_SCORE = 2;
constexpr int MIN_SCORE = 2;
constexpr uint64_t MAX_UPCASE_BYTES = 128 * 1024;
constexpr uint32_t MAX_CLUSTER_COUNT = 0xFFFFFFF5;
constexpr size_t UPCASE_SIGNATURE_UNITS = 16;

struct CandidateHash {
    size_t operator()(const std::pair<uint64_t, uint32_t>& c) const {
        return std::hash<uint64_t>()(c.first * 131 + c.second);
    }
};

} // namespace

void CExFatGeometryFinder::Clear() {
    m_setBootSectors.clear();
    m_setDirSectors.clear();
    m_setSetStarts.clear();
    m_vecFolders.clear();
    m_vecRoots.clear();
    m_vecUpcaseSectors.clear();
}

bool CExFatGeometryFinder::BeginsLikeUpcaseTable(const uint8_t* pData, size_t nSize) {
    if (pData == nullptr || !InBounds(nSize, 0, UPCASE_SIGNATURE_UNITS * 2))
        return false;
    for (size_t i = 0; i < UPCASE_SIGNATURE_UNITS; ++i)
        if (LoadU16LE(pData + 2 * i) != i)
            return false;
    return true;
}

void CExFatGeometryFinder::AddDirectorySector(uint64_t u64Sector, bool bBeginsWithSet) {
    m_setDirSectors.insert(u64Sector);
    if (bBeginsWithSet)
        m_setSetStarts.insert(u64Sector);
}

void CExFatGeometryFinder::AddFolder(uint32_t nCluster, uint64_t u64SetSector) {
    if (nCluster >= EXFAT_FIRST_CLUSTER)
        m_vecFolders.push_back({nCluster, u64SetSector});
}

void CExFatGeometryFinder::AddRoot(uint64_t u64Sector, uint32_t nUpcaseCluster,
                                   uint64_t u64UpcaseBytes, uint32_t nUpcaseChecksum) {
    m_vecRoots.push_back({u64Sector, nUpcaseCluster, u64UpcaseBytes, nUpcaseChecksum});
}

void CExFatGeometryFinder::AddBootVolumes(CDiskReader& reader,
                                          std::vector<EXFAT_DEEP_VOLUME>& vecOut) {
    for (uint64_t u64Sector : m_setBootSectors) {
        CExFatVolume volume;
        if (volume.Open(&reader, u64Sector) != 0)
            continue;
        const EXFAT_GEOMETRY& geo = volume.Geometry();
        const uint64_t u64Backup = EXFAT_BACKUP_BOOT_SECTOR * (geo.nBytesPerSector / UNIT);
        // A backup boot sector whose main one survives adds nothing; one whose main is gone
        // places the volume 12 sectors earlier, where its root directory then lies.
        if (u64Sector >= u64Backup && m_setBootSectors.count(u64Sector - u64Backup) != 0)
            continue;
        EXFAT_GEOMETRY placed = geo;
        if (m_setDirSectors.count(geo.ClusterToSector(geo.nRootCluster)) == 0 &&
            u64Sector >= u64Backup) {
            placed.u64PartitionStart = u64Sector - u64Backup;
            if (m_setDirSectors.count(placed.ClusterToSector(placed.nRootCluster)) == 0)
                placed = geo;
        }
        const bool bKnown = std::any_of(vecOut.begin(), vecOut.end(), [&](const auto& v) {
            return v.geometry.u64PartitionStart == placed.u64PartitionStart;
        });
        if (!bKnown)
            vecOut.push_back({placed, true, placed.ClusterToSector(placed.nRootCluster)});
    }
}

std::vector<std::pair<uint32_t, uint64_t>>
CExFatGeometryFinder::VerifiedUpcasePairs(CDiskReader& reader) const {
    std::vector<std::pair<uint32_t, uint64_t>> vecPairs;
    for (const ROOT_HINT& root : m_vecRoots) {
        if (root.u64UpcaseBytes == 0 || root.u64UpcaseBytes > MAX_UPCASE_BYTES)
            continue;
        const uint32_t nSectors = uint32_t((root.u64UpcaseBytes + UNIT - 1) / UNIT);
        std::vector<uint8_t> table(size_t(nSectors) * UNIT);
        for (uint64_t u64Sector : m_vecUpcaseSectors) {
            unsigned int nRead = 0;
            if (reader.ReadData(table.data(), int(nSectors), (long long)u64Sector, UNIT, &nRead) !=
                    0 ||
                nRead != nSectors)
                continue;
            if (ExFatUpcaseTableChecksum(table.data(), root.u64UpcaseBytes) == root.nUpcaseChecksum)
                vecPairs.emplace_back(root.nUpcaseCluster, u64Sector);
        }
    }
    return vecPairs;
}

uint64_t CExFatGeometryFinder::RootSectorOf(const CANDIDATE& c) const {
    for (const ROOT_HINT& root : m_vecRoots)
        if (root.u64Sector >= c.u64Heap && (root.u64Sector - c.u64Heap) % c.nSpc == 0)
            return root.u64Sector;
    return 0;
}

int CExFatGeometryFinder::Score(const CANDIDATE& c, const std::vector<FOLDER_HINT>& vecFolders,
                                const std::vector<std::pair<uint32_t, uint64_t>>& vecUpcase) const {
    int nScore = 0;
    for (const FOLDER_HINT& folder : vecFolders) {
        const uint64_t u64Start =
            c.u64Heap + uint64_t(folder.nCluster - EXFAT_FIRST_CLUSTER) * c.nSpc;
        if (c.u64Heap <= folder.u64SetSector && u64Start != folder.u64SetSector &&
            m_setSetStarts.count(u64Start) != 0)
            ++nScore;
    }
    for (const auto& [nCluster, u64Sector] : vecUpcase) {
        if (c.u64Heap + uint64_t(nCluster - EXFAT_FIRST_CLUSTER) * c.nSpc != u64Sector)
            continue;
        nScore += UPCASE_SCORE;
        // Formatters put the root right after the up-case table.
        for (const ROOT_HINT& root : m_vecRoots) {
            const uint64_t u64Clusters =
                (root.u64UpcaseBytes + uint64_t(c.nSpc) * UNIT - 1) / (uint64_t(c.nSpc) * UNIT);
            if (root.nUpcaseCluster == nCluster &&
                root.u64Sector == u64Sector + u64Clusters * c.nSpc)
                nScore += ROOT_AFTER_UPCASE_SCORE;
        }
    }
    return nScore;
}

bool CExFatGeometryFinder::InferOne(const std::vector<FOLDER_HINT>& vecFolders,
                                    const std::vector<std::pair<uint32_t, uint64_t>>& vecUpcase,
                                    CANDIDATE& best) const {
    std::unordered_map<std::pair<uint64_t, uint32_t>, int, CandidateHash> mapVotes;
    auto vote = [&](uint32_t nCluster, uint64_t u64Start, uint64_t u64NotAfter, int nWeight) {
        for (uint32_t nShift = 0; nShift <= MAX_SPC_SHIFT; ++nShift) {
            const uint32_t nSpc = 1u << nShift;
            const uint64_t u64Offset = uint64_t(nCluster - EXFAT_FIRST_CLUSTER) * nSpc;
            if (u64Offset <= u64Start && u64Start - u64Offset <= u64NotAfter)
                mapVotes[{u64Start - u64Offset, nSpc}] += nWeight;
        }
    };
    const size_t nStep = std::max<size_t>(1, vecFolders.size() / VOTING_FOLDERS);
    for (size_t i = 0; i < vecFolders.size(); i += nStep)
        for (uint64_t u64Start : m_setSetStarts)
            if (u64Start != vecFolders[i].u64SetSector)
                vote(vecFolders[i].nCluster, u64Start, vecFolders[i].u64SetSector, 1);
    for (const auto& [nCluster, u64Sector] : vecUpcase)
        vote(nCluster, u64Sector, UINT64_MAX, UPCASE_VOTE);

    std::vector<std::pair<int, CANDIDATE>> vecRanked;
    for (const auto& [key, nVotes] : mapVotes)
        vecRanked.push_back({nVotes, CANDIDATE{key.first, key.second}});
    const size_t nKeep = std::min(SCORED_CANDIDATES, vecRanked.size());
    std::partial_sort(vecRanked.begin(), vecRanked.begin() + nKeep, vecRanked.end(),
                      [](const auto& a, const auto& b) {
                          return a.first != b.first ? a.first > b.first : a.second < b.second;
                      });
    int nBest = MIN_SCORE - 1;
    for (size_t i = 0; i < nKeep; ++i) {
        const int nScore = Score(vecRanked[i].second, vecFolders, vecUpcase);
        if (nScore > nBest) {
            nBest = nScore;
            best = vecRanked[i].second;
        }
    }
    return nBest >= MIN_SCORE;
}

std::vector<EXFAT_DEEP_VOLUME> CExFatGeometryFinder::Find(CDiskReader& reader,
                                                          uint64_t u64ScanStart) {
    std::vector<EXFAT_DEEP_VOLUME> vecOut;
    AddBootVolumes(reader, vecOut);
    auto isExplained = [&](const FOLDER_HINT& folder, const EXFAT_GEOMETRY& geo) {
        return geo.ContainsSector(folder.u64SetSector) &&
               geo.u64PartitionStart + geo.u64HeapStart <= folder.u64SetSector &&
               m_setSetStarts.count(geo.ClusterToSector(folder.nCluster)) != 0;
    };
    std::vector<FOLDER_HINT> vecLeft;
    for (const FOLDER_HINT& folder : m_vecFolders)
        if (std::none_of(vecOut.begin(), vecOut.end(),
                         [&](const auto& v) { return isExplained(folder, v.geometry); }))
            vecLeft.push_back(folder);
    std::vector<std::pair<uint32_t, uint64_t>> vecUpcase = VerifiedUpcasePairs(reader);
    std::erase_if(vecUpcase, [&](const auto& pair) {
        return std::any_of(vecOut.begin(), vecOut.end(), [&](const auto& v) {
            return v.geometry.ClusterToSector(pair.first) == pair.second;
        });
    });
    CANDIDATE best{};
    while (vecOut.size() < MAX_VOLUMES && InferOne(vecLeft, vecUpcase, best)) {
        EXFAT_GEOMETRY geo{};
        geo.u64PartitionStart = std::min(u64ScanStart, best.u64Heap);
        geo.u64HeapStart = best.u64Heap - geo.u64PartitionStart;
        geo.nSectorsPerCluster = best.nSpc;
        geo.nBytesPerSector = UNIT;
        const uint64_t u64Limit = reader.GetLimit();
        geo.u64TotalSectors =
            u64Limit > geo.u64PartitionStart ? u64Limit - geo.u64PartitionStart : 0;
        const uint64_t u64Clusters =
            u64Limit > best.u64Heap ? (u64Limit - best.u64Heap) / best.nSpc : 0;
        geo.nClusterCount = uint32_t(std::min<uint64_t>(u64Clusters, MAX_CLUSTER_COUNT));
        const uint64_t u64Root = RootSectorOf(best);
        geo.nRootCluster =
            u64Root != 0 ? uint32_t((u64Root - best.u64Heap) / best.nSpc) + EXFAT_FIRST_CLUSTER : 0;
        vecOut.push_back({geo, false, u64Root});
        // The folders this volume explains take no part in finding the next one.
        const size_t nExplained =
            std::erase_if(vecLeft,
                          [&](const FOLDER_HINT& folder) { return isExplained(folder, geo); }) +
            std::erase_if(vecUpcase, [&](const auto& pair) {
                return geo.ClusterToSector(pair.first) == pair.second;
            });
        if (nExplained == 0)
            break;
    }
    return vecOut;
}
