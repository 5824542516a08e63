// Loading, sorting and filtering the result browser's rows.
#include "ui/CResultRowIndex.h"

#include "formats/carving/FileDataHealth.h"
#include "formats/proof/CFileProof.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fnmatch.h>
#include <unordered_map>

namespace {

constexpr uint16_t EXTENSION_ID_LIMIT = UINT16_MAX;
constexpr const char* EXTENSION_OVERFLOW_KEY = "*";
// NTFS keeps 100 ns ticks since 1601; FAT and exFAT engines keep seconds since 1970.
constexpr uint64_t FILETIME_TICKS_PER_SECOND = 10000000;
constexpr int64_t FILETIME_UNIX_EPOCH_SECONDS = 11644473600;

bool HasWildcard(const std::string& strName) {
    return strName.find_first_of("*?[") != std::string::npos;
}

// "*" and "?" without regard to case, far quicker than fnmatch over a million names; sets
// ("[...]") go to fnmatch.
bool MatchesWildcard(const char* pPattern, const char* pName) {
    if (std::strchr(pPattern, '[') != nullptr)
        return fnmatch(pPattern, pName, FNM_CASEFOLD) == 0;
    const char* pStar = nullptr; // the last star seen, and where its match ends so far
    const char* pStarName = nullptr;
    while (*pName != '\0') {
        if (*pPattern == '*') {
            pStar = pPattern++;
            pStarName = pName;
        } else if (*pPattern == '?' ||
                   (*pPattern != '\0' && std::tolower(static_cast<unsigned char>(*pPattern)) ==
                                             std::tolower(static_cast<unsigned char>(*pName)))) {
            ++pPattern;
            ++pName;
        } else if (pStar != nullptr) {
            pPattern = pStar + 1;
            pName = ++pStarName;
        } else {
            return false;
        }
    }
    while (*pPattern == '*')
        ++pPattern;
    return *pPattern == '\0';
}

bool ContainsCaseless(const std::string& strText, const std::string& strPart) {
    return strcasestr(strText.c_str(), strPart.c_str()) != nullptr;
}

} // namespace

bool RESULT_FILTER::IsNarrowerThan(const RESULT_FILTER& other) const {
    bool bNameNarrower =
        strName == other.strName || (!HasWildcard(strName) && !HasWildcard(other.strName) &&
                                     ContainsCaseless(strName, other.strName));
    bool bKindNarrower =
        other.nCategory == -1 || (nCategory == other.nCategory &&
                                  (other.nExtensionId == -1 || nExtensionId == other.nExtensionId));
    return bNameNarrower && bKindNarrower && u64MinSize >= other.u64MinSize &&
           u64MaxSize <= other.u64MaxSize && i64ModifiedFrom >= other.i64ModifiedFrom &&
           i64ModifiedTo <= other.i64ModifiedTo;
}

RESULT_STATE CResultRowIndex::StateOf(const FILE_NODE& node) {
    if (node.nDataHealth == DATA_HEALTH_GONE || node.nDataHealth == DATA_HEALTH_DAMAGED)
        return RESULT_STATE::Damaged;
    // Every file-system engine says whether its entry is deleted; a carved file has no entry, and
    // the carver reads only sectors the live file system does not use.
    if (node.bIsDeleted != 0 || node.nEngineType == ENGINE_FILE_TYPE)
        return RESULT_STATE::Deleted;
    return RESULT_STATE::Present;
}

int64_t CResultRowIndex::ModifySecondsOf(const FILE_NODE& node) {
    if (node.u64ModifyTime == 0)
        return 0;
    switch (node.nEngineType) {
    case ENGINE_FAST_NTFS:
    case ENGINE_DEEP_NTFS:
        return static_cast<int64_t>(node.u64ModifyTime / FILETIME_TICKS_PER_SECOND) -
               FILETIME_UNIX_EPOCH_SECONDS;
    case ENGINE_FAST_FAT:
    case ENGINE_DEEP_FAT:
    case ENGINE_FAST_EXFAT:
    case ENGINE_DEEP_EXFAT:
        return static_cast<int64_t>(node.u64ModifyTime);
    default:
        return 0;
    }
}

// A new extension's id; past the limit the last id gathers the rarest rest.
uint16_t CResultRowIndex::AddExtension(const std::string& strExt) {
    if (m_vecExtensions.size() == EXTENSION_ID_LIMIT)
        return EXTENSION_ID_LIMIT - 1;
    bool bFull = m_vecExtensions.size() == EXTENSION_ID_LIMIT - 1;
    m_vecExtensions.push_back(bFull ? std::string(EXTENSION_OVERFLOW_KEY) : strExt);
    m_vecExtensionCategory.push_back(
        static_cast<int>(strExt.empty() || bFull ? FileCategory::Other : GetFileCategory(strExt)));
    return static_cast<uint16_t>(m_vecExtensions.size() - 1);
}

int CResultRowIndex::Load(ISearchCursor& cursor) {
    std::unordered_map<std::string, uint16_t> mapIds; // only while loading
    SEARCH_FILE_INFO hit;
    while (cursor.Next(hit)) {
        std::string strExt = GetLowerExtension(hit.szFileName);
        auto itId = mapIds.find(strExt);
        if (itId == mapIds.end())
            itId = mapIds.emplace(strExt, AddExtension(strExt)).first;
        RESULT_ROW row{};
        row.u64FileSize = hit.u64FileSize;
        row.i64ModifySeconds = ModifySecondsOf(hit);
        row.nFileIndex = hit.nFileIndex;
        row.nNameOffset = static_cast<uint32_t>(m_vecNames.size());
        row.nExtensionId = itId->second;
        row.nEngineType = static_cast<uint8_t>(hit.nEngineType);
        row.state = StateOf(hit);
        m_vecRows.push_back(row);
        m_vecNames.insert(m_vecNames.end(), hit.szFileName,
                          hit.szFileName + std::strlen(hit.szFileName) + 1);
    }
    m_vecRows.shrink_to_fit();
    m_vecNames.shrink_to_fit();
    m_vecSorted.resize(m_vecRows.size());
    for (uint32_t i = 0; i < m_vecSorted.size(); ++i)
        m_vecSorted[i] = i;
    m_vecPasses.assign(m_vecRows.size(), 1);
    m_vecVisible = m_vecSorted;
    m_vecTicked.assign(m_vecRows.size(), 0);
    m_vecRowsOfExtension.assign(m_vecExtensions.size(), 0);
    m_vecTickedOfExtension.assign(m_vecExtensions.size(), 0);
    for (const RESULT_ROW& row : m_vecRows)
        ++m_vecRowsOfExtension[row.nExtensionId];
    return cursor.GetResult();
}

void CResultRowIndex::RankPaths(const PathOfRow& pathOfRow) {
    std::unordered_map<std::string, uint32_t> mapPathIds;
    std::vector<uint32_t> vecPathId(m_vecRows.size());
    for (uint32_t nRow = 0; nRow < m_vecRows.size(); ++nRow)
        vecPathId[nRow] =
            mapPathIds.try_emplace(pathOfRow(nRow), uint32_t(mapPathIds.size())).first->second;
    std::vector<const std::string*> vecPaths(mapPathIds.size());
    for (const auto& [strPath, nId] : mapPathIds)
        vecPaths[nId] = &strPath;
    std::vector<uint32_t> vecIds(vecPaths.size());
    for (uint32_t i = 0; i < vecIds.size(); ++i)
        vecIds[i] = i;
    std::sort(vecIds.begin(), vecIds.end(), [&](uint32_t a, uint32_t b) {
        return strcasecmp(vecPaths[a]->c_str(), vecPaths[b]->c_str()) < 0;
    });
    std::vector<uint32_t> vecRankOfId(vecIds.size());
    for (uint32_t nRank = 0; nRank < vecIds.size(); ++nRank)
        vecRankOfId[vecIds[nRank]] = nRank;
    m_vecPathRank.resize(m_vecRows.size());
    for (uint32_t nRow = 0; nRow < m_vecRows.size(); ++nRow)
        m_vecPathRank[nRow] = vecRankOfId[vecPathId[nRow]];
}

void CResultRowIndex::Sort(RESULT_COLUMN column, bool bDescending, const PathOfRow& pathOfRow) {
    if (column == COLUMN_PATH && m_vecPathRank.size() != m_vecRows.size())
        RankPaths(pathOfRow);
    auto SortBy = [&](auto keyOf) {
        std::sort(m_vecSorted.begin(), m_vecSorted.end(), [&](uint32_t a, uint32_t b) {
            auto keyA = keyOf(a), keyB = keyOf(b);
            if (keyA != keyB)
                return bDescending ? keyB < keyA : keyA < keyB;
            return a < b;
        });
    };
    switch (column) {
    case COLUMN_SIZE:
        SortBy([&](uint32_t n) { return m_vecRows[n].u64FileSize; });
        break;
    case COLUMN_MODIFIED:
        SortBy([&](uint32_t n) { return m_vecRows[n].i64ModifySeconds; });
        break;
    case COLUMN_PATH:
        SortBy([&](uint32_t n) { return m_vecPathRank[n]; });
        break;
    case COLUMN_STATE:
        SortBy([&](uint32_t n) { return static_cast<int>(m_vecRows[n].state); });
        break;
    case COLUMN_ENGINE:
        SortBy([&](uint32_t n) { return m_vecRows[n].nEngineType; });
        break;
    default: // rows are in name order already
        for (uint32_t i = 0; i < m_vecSorted.size(); ++i)
            m_vecSorted[i] = bDescending ? uint32_t(m_vecSorted.size() - 1 - i) : i;
        break;
    }
    CollectVisible();
}

bool CResultRowIndex::Passes(uint32_t nRow) const {
    const RESULT_ROW& row = m_vecRows[nRow];
    if (row.u64FileSize < m_filter.u64MinSize || row.u64FileSize > m_filter.u64MaxSize ||
        row.i64ModifySeconds < m_filter.i64ModifiedFrom ||
        row.i64ModifySeconds > m_filter.i64ModifiedTo)
        return false;
    if (!IsOfKind(row.nExtensionId, m_filter.nCategory, m_filter.nExtensionId))
        return false;
    if (m_filter.strName.empty())
        return true;
    const char* pName = GetName(nRow);
    return HasWildcard(m_filter.strName) ? MatchesWildcard(m_filter.strName.c_str(), pName)
                                         : strcasestr(pName, m_filter.strName.c_str()) != nullptr;
}

// Typing one more letter only tests the rows that passed before.
void CResultRowIndex::SetFilter(const RESULT_FILTER& filter) {
    bool bNarrower = filter.IsNarrowerThan(m_filter);
    m_filter = filter;
    for (uint32_t nRow = 0; nRow < m_vecRows.size(); ++nRow)
        if (m_vecPasses[nRow] != 0 || !bNarrower)
            m_vecPasses[nRow] = Passes(nRow) ? 1 : 0;
    CollectVisible();
}

void CResultRowIndex::CollectVisible() {
    m_vecVisible.clear();
    for (uint32_t nRow : m_vecSorted)
        if (m_vecPasses[nRow] != 0)
            m_vecVisible.push_back(nRow);
}

bool CResultRowIndex::IsOfKind(uint16_t nExtensionId, int nCategory, int nExtensionIdWanted) const {
    if (nExtensionIdWanted != -1)
        return nExtensionId == nExtensionIdWanted;
    return nCategory == -1 || m_vecExtensionCategory[nExtensionId] == nCategory;
}

void CResultRowIndex::SetTicked(uint32_t nRow, bool bTicked) {
    if (IsTicked(nRow) == bTicked)
        return;
    m_vecTicked[nRow] = bTicked ? 1 : 0;
    const RESULT_ROW& row = m_vecRows[nRow];
    if (bTicked) {
        ++m_vecTickedOfExtension[row.nExtensionId];
        m_u64TickedBytes += row.u64FileSize;
    } else {
        --m_vecTickedOfExtension[row.nExtensionId];
        m_u64TickedBytes -= row.u64FileSize;
    }
}

void CResultRowIndex::SetKindTicked(int nCategory, int nExtensionId, bool bTicked) {
    for (uint32_t nRow = 0; nRow < m_vecRows.size(); ++nRow)
        if (IsOfKind(m_vecRows[nRow].nExtensionId, nCategory, nExtensionId))
            SetTicked(nRow, bTicked);
}

uint64_t CResultRowIndex::SumOverKind(const std::vector<uint64_t>& vecPerExtension, int nCategory,
                                      int nExtensionId) const {
    uint64_t u64Sum = 0;
    for (uint16_t nId = 0; nId < vecPerExtension.size(); ++nId)
        if (IsOfKind(nId, nCategory, nExtensionId))
            u64Sum += vecPerExtension[nId];
    return u64Sum;
}

uint64_t CResultRowIndex::CountRows(int nCategory, int nExtensionId) const {
    return SumOverKind(m_vecRowsOfExtension, nCategory, nExtensionId);
}

uint64_t CResultRowIndex::CountTicked(int nCategory, int nExtensionId) const {
    return SumOverKind(m_vecTickedOfExtension, nCategory, nExtensionId);
}

std::vector<uint32_t> CResultRowIndex::GetTickedRows() const {
    std::vector<uint32_t> vecRows;
    for (uint32_t nRow = 0; nRow < m_vecTicked.size(); ++nRow)
        if (m_vecTicked[nRow] != 0)
            vecRows.push_back(nRow);
    return vecRows;
}
