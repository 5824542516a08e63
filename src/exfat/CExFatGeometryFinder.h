// Works out where exFAT volumes lie on a disk from what the deep scan's sector pass saw: boot
// sectors that survive, and otherwise pairs of a folder's cluster number and the sector where
// that folder's entries begin, backed by the root's up-case table.
#pragma once

#include "formats/exfat/ExFatBootSector.h"

#include <cstdint>
#include <set>
#include <vector>

class CDiskReader;

struct EXFAT_DEEP_VOLUME {
    EXFAT_GEOMETRY geometry; // an inferred volume's partition start is the scanned volume's
    bool bFromBoot;          // read from a boot region: its FAT and bitmap can be used
    uint64_t u64RootSector;  // absolute first sector of the root directory; 0 when unknown
};

class CExFatGeometryFinder {
public:
    static constexpr uint32_t MAX_VOLUMES = 8;

    void Clear();
    // A sector holding an exFAT main or backup boot sector.
    void AddBootSector(uint64_t u64Sector) { m_setBootSectors.insert(u64Sector); }
    // A directory sector; bBeginsWithSet: its first entry is a file entry (as a folder's is).
    void AddDirectorySector(uint64_t u64Sector, bool bBeginsWithSet);
    // A folder's entry set naming its first cluster, found in the sector.
    void AddFolder(uint32_t nCluster, uint64_t u64SetSector);
    // A root directory sector, with its up-case table entry.
    void AddRoot(uint64_t u64Sector, uint32_t nUpcaseCluster, uint64_t u64UpcaseBytes,
                 uint32_t nUpcaseChecksum);
    // A sector that begins like an up-case table.
    void AddUpcaseCandidate(uint64_t u64Sector) { m_vecUpcaseSectors.push_back(u64Sector); }

    // The volumes, boot-read ones first, then inferred ones in order of evidence; u64ScanStart
    // is the first sector of the scanned volume (inferred volumes are taken to start there).
    std::vector<EXFAT_DEEP_VOLUME> Find(CDiskReader& reader, uint64_t u64ScanStart);

    // True when the bytes begin like an up-case table (the identity over the first code units).
    static bool BeginsLikeUpcaseTable(const uint8_t* pData, size_t nSize);

private:
    struct FOLDER_HINT {
        uint32_t nCluster;
        uint64_t u64SetSector;
    };
    struct ROOT_HINT {
        uint64_t u64Sector;
        uint32_t nUpcaseCluster;
        uint64_t u64UpcaseBytes;
        uint32_t nUpcaseChecksum;
    };
    // A candidate: heap start (absolute cluster-2 sector) and sectors per cluster.
    struct CANDIDATE {
        uint64_t u64Heap;
        uint32_t nSpc;
        bool operator<(const CANDIDATE& o) const {
            return u64Heap != o.u64Heap ? u64Heap < o.u64Heap : nSpc < o.nSpc;
        }
    };

    void AddBootVolumes(CDiskReader& reader, std::vector<EXFAT_DEEP_VOLUME>& vecOut);
    std::vector<std::pair<uint32_t, uint64_t>> VerifiedUpcasePairs(CDiskReader& reader) const;
    int Score(const CANDIDATE& candidate, const std::vector<FOLDER_HINT>& vecFolders,
              const std::vector<std::pair<uint32_t, uint64_t>>& vecUpcase) const;
    bool InferOne(const std::vector<FOLDER_HINT>& vecFolders,
                  const std::vector<std::pair<uint32_t, uint64_t>>& vecUpcase,
                  CANDIDATE& best) const;
    uint64_t RootSectorOf(const CANDIDATE& candidate) const;

    std::set<uint64_t> m_setBootSectors;
    std::set<uint64_t> m_setDirSectors;
    std::set<uint64_t> m_setSetStarts;
    std::vector<FOLDER_HINT> m_vecFolders;
    std::vector<ROOT_HINT> m_vecRoots;
    std::vector<uint64_t> m_vecUpcaseSectors;
};
