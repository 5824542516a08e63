// Directory sectors the deep FAT engine could not place yet, kept by absolute sector until the
// end of the scan, with a bound on the memory their copies take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

constexpr size_t UNPLACED_FIRST_ENTRY_BYTES = 32;

class CUnplacedSectorMap {
public:
    static constexpr uint64_t DEFAULT_MEMORY_LIMIT = 256ull * 1024 * 1024;

    explicit CUnplacedSectorMap(uint64_t u64MemoryLimit = DEFAULT_MEMORY_LIMIT);
    ~CUnplacedSectorMap();
    CUnplacedSectorMap(const CUnplacedSectorMap&) = delete;
    CUnplacedSectorMap& operator=(const CUnplacedSectorMap&) = delete;

    // Where copies go once the memory bound is reached: an unnamed temporary file in that
    // folder. Without one, or when it cannot be written, further sectors are dropped.
    void SetSpillDir(const std::string& strDir) { m_strSpillDir = strDir; }

    // Keeps a copy of the sector (a sector already kept is replaced).
    void Add(uint64_t u64Sector, const uint8_t* pData, size_t nSize);
    // The first kept sector, in increasing order, whose first 32 bytes satisfy the test.
    std::optional<uint64_t> FindFirst(
        const std::function<bool(uint64_t u64Sector, const uint8_t* pFirstEntry)>& test) const;
    // The first 32 bytes of a kept sector, or null.
    const uint8_t* GetFirstEntry(uint64_t u64Sector) const;
    // The first kept sector at or after the given one.
    std::optional<uint64_t> FindNext(uint64_t u64From) const;
    // Moves the sector's bytes out and forgets the sector; false when it is not kept or its copy
    // could not be read back.
    bool Take(uint64_t u64Sector, std::vector<uint8_t>& vecOut);
    void Clear();

    size_t GetCount() const { return m_mapSectors.size(); }
    uint64_t GetMemoryBytes() const { return m_u64MemoryBytes; }
    uint64_t GetSpilledCount() const { return m_u64SpilledCount; }
    uint64_t GetDroppedCount() const { return m_u64DroppedCount; }

private:
    struct UNDEAL_FILE {
        std::unique_ptr<uint8_t[]> pCopy; // null when the bytes lie in the spill file
        int64_t llSpillOffset = -1;
        uint32_t nSize = 0;
        uint8_t firstEntry[UNPLACED_FIRST_ENTRY_BYTES] = {};
    };

    bool Spill(UNDEAL_FILE& record, const uint8_t* pData, size_t nSize);
    bool OpenSpillFile();
    void Forget(std::map<uint64_t, UNDEAL_FILE>::iterator it);

    uint64_t m_u64MemoryLimit;
    uint64_t m_u64MemoryBytes = 0;
    uint64_t m_u64SpilledCount = 0;
    uint64_t m_u64DroppedCount = 0;
    std::string m_strSpillDir;
    int m_nSpillFd = -1;
    int64_t m_llSpillEnd = 0;
    std::map<uint64_t, UNDEAL_FILE> m_mapSectors;
};
