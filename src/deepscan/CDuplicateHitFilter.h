// Which hits of the deep scan's engines repeat a file an earlier engine listed: a deep FAT,
// NTFS or exFAT hit with the first data sector and size of a fast-walk file, and a carved hit at
// the first data sector of a file-system hit with the same extension (or a carved "jpg" at a
// "thm"). Sixteen bytes per file-system hit; nothing per carved hit.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <cstdint>
#include <utility>
#include <vector>

class CDuplicateHitFilter {
public:
    // Every fast-walk hit whose first data sector is known, before any deep one.
    void AddFastHit(const SEARCH_FILE_INFO& hit, uint64_t u64FirstSector);
    // A deep FAT, NTFS or exFAT hit whose first data sector is known; dropped when a fast hit had
    // the same first sector and size.
    void AddDeepHit(const SEARCH_FILE_INFO& hit, uint64_t u64FirstSector);
    // After the last Add: makes the tables searchable.
    void Seal();

    bool IsDuplicate(const SEARCH_FILE_INFO& hit) const;

private:
    // A lower-case extension of up to eight bytes; longer ones never equal a carved one.
    using ExtensionCode = uint64_t;
    struct SECTOR_EXTENSION {
        uint64_t u64Sector;
        ExtensionCode extension;
        auto operator<=>(const SECTOR_EXTENSION&) const = default;
    };

    void AddFileSystemSector(const SEARCH_FILE_INFO& hit, uint64_t u64FirstSector);
    static bool EncodeExtension(const char* pName, ExtensionCode& code);

    std::vector<std::pair<uint64_t, uint64_t>> m_vecFastFiles; // first sector, size
    bool m_bFastSorted = false;
    std::vector<std::pair<uint32_t, uint32_t>> m_vecDroppedDeep; // engine type, node number
    std::vector<SECTOR_EXTENSION> m_vecFileSystemSectors;
};
