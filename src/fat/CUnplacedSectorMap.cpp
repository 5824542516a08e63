// Unplaced directory sectors: copies in memory up to a bound, then in an unnamed temporary file.
#include "fat/CUnplacedSectorMap.h"

#include "util/DebugLog.h"
#include "util/FdIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr const char* SPILL_FILE_PATTERN = "unplaced.XXXXXX";

} // namespace

CUnplacedSectorMap::CUnplacedSectorMap(uint64_t u64MemoryLimit)
    : m_u64MemoryLimit(u64MemoryLimit) {}

CUnplacedSectorMap::~CUnplacedSectorMap() {
    Clear();
}

void CUnplacedSectorMap::Add(uint64_t u64Sector, const uint8_t* pData, size_t nSize) {
    if (pData == nullptr || nSize == 0 || nSize > UINT32_MAX)
        return;
    if (auto it = m_mapSectors.find(u64Sector); it != m_mapSectors.end())
        Forget(it);
    UNDEAL_FILE record;
    record.nSize = static_cast<uint32_t>(nSize);
    std::memcpy(record.firstEntry, pData, std::min(nSize, UNPLACED_FIRST_ENTRY_BYTES));
    if (m_u64MemoryBytes + nSize <= m_u64MemoryLimit) {
        record.pCopy = std::make_unique<uint8_t[]>(nSize);
        std::memcpy(record.pCopy.get(), pData, nSize);
        m_u64MemoryBytes += nSize;
    } else if (!Spill(record, pData, nSize)) {
        ++m_u64DroppedCount;
        DebugLog("deep FAT: unplaced sector %llu (0x%llx) dropped: memory bound reached\n",
                 static_cast<unsigned long long>(u64Sector),
                 static_cast<unsigned long long>(u64Sector));
        return;
    }
    m_mapSectors.emplace(u64Sector, std::move(record));
}

bool CUnplacedSectorMap::OpenSpillFile() {
    if (m_nSpillFd >= 0)
        return true;
    if (m_strSpillDir.empty())
        return false;
    std::string strPath = m_strSpillDir;
    if (strPath.back() != '/')
        strPath += '/';
    strPath += SPILL_FILE_PATTERN;
    m_nSpillFd = mkstemp(strPath.data());
    if (m_nSpillFd < 0)
        return false;
    // Unnamed from the start, so nothing is left behind however the scan ends.
    unlink(strPath.c_str());
    m_llSpillEnd = 0;
    return true;
}

bool CUnplacedSectorMap::Spill(UNDEAL_FILE& record, const uint8_t* pData, size_t nSize) {
    if (!OpenSpillFile() || WriteFullAt(m_nSpillFd, pData, nSize, m_llSpillEnd) != 0)
        return false;
    record.llSpillOffset = m_llSpillEnd;
    m_llSpillEnd += static_cast<int64_t>(nSize);
    ++m_u64SpilledCount;
    return true;
}

std::optional<uint64_t> CUnplacedSectorMap::FindFirst(
    const std::function<bool(uint64_t u64Sector, const uint8_t* pFirstEntry)>& test) const {
    for (const auto& [u64Sector, record] : m_mapSectors)
        if (test(u64Sector, record.firstEntry))
            return u64Sector;
    return std::nullopt;
}

const uint8_t* CUnplacedSectorMap::GetFirstEntry(uint64_t u64Sector) const {
    auto it = m_mapSectors.find(u64Sector);
    return it != m_mapSectors.end() ? it->second.firstEntry : nullptr;
}

std::optional<uint64_t> CUnplacedSectorMap::FindNext(uint64_t u64From) const {
    auto it = m_mapSectors.lower_bound(u64From);
    if (it == m_mapSectors.end())
        return std::nullopt;
    return it->first;
}

bool CUnplacedSectorMap::Take(uint64_t u64Sector, std::vector<uint8_t>& vecOut) {
    auto it = m_mapSectors.find(u64Sector);
    if (it == m_mapSectors.end())
        return false;
    const UNDEAL_FILE& record = it->second;
    vecOut.resize(record.nSize);
    bool bOk = true;
    if (record.pCopy)
        std::memcpy(vecOut.data(), record.pCopy.get(), record.nSize);
    else
        bOk = ReadFullAt(m_nSpillFd, vecOut.data(), record.nSize, record.llSpillOffset) == 0;
    Forget(it);
    return bOk;
}

void CUnplacedSectorMap::Forget(std::map<uint64_t, UNDEAL_FILE>::iterator it) {
    if (it->second.pCopy)
        m_u64MemoryBytes -= it->second.nSize;
    m_mapSectors.erase(it);
}

void CUnplacedSectorMap::Clear() {
    m_mapSectors.clear();
    m_u64MemoryBytes = 0;
    m_u64SpilledCount = 0;
    m_u64DroppedCount = 0;
    if (m_nSpillFd >= 0)
        close(m_nSpillFd);
    m_nSpillFd = -1;
    m_llSpillEnd = 0;
}
