// The result browser's rows: 32 bytes and the name per hit, in the search's name order. Sorting
// and filtering move row numbers only; paths and everything else about a hit are read from the
// engine when a row is shown.
#pragma once

#include "engine/ISearchCursor.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

enum class RESULT_STATE : uint8_t { Present, Deleted, Damaged };

enum RESULT_COLUMN : int {
    COLUMN_NAME,
    COLUMN_SIZE,
    COLUMN_MODIFIED,
    COLUMN_PATH,
    COLUMN_STATE,
    COLUMN_ENGINE,
    COLUMN_COUNT,
};

struct RESULT_ROW {
    uint64_t u64FileSize;
    int64_t i64ModifySeconds; // since 1970; 0 when the engine records no date
    uint32_t nFileIndex;
    uint32_t nNameOffset;
    uint16_t nExtensionId; // into GetExtensions()
    uint8_t nEngineType;
    RESULT_STATE state;
};
static_assert(sizeof(RESULT_ROW) == 32);

// What the table shows; every part narrows. Names take the wildcards * ? [...] and match whole;
// a name without wildcards matches any part of the name. Case is ignored.
struct RESULT_FILTER {
    std::string strName;
    uint64_t u64MinSize = 0;
    uint64_t u64MaxSize = std::numeric_limits<uint64_t>::max();
    int64_t i64ModifiedFrom = std::numeric_limits<int64_t>::min();
    int64_t i64ModifiedTo = std::numeric_limits<int64_t>::max();
    int nCategory = -1;    // a FileCategory, or -1 for all
    int nExtensionId = -1; // one extension of that category, or -1 for all

    bool operator==(const RESULT_FILTER&) const = default;
    // True when every row this filter passes also passes the other.
    bool IsNarrowerThan(const RESULT_FILTER& other) const;
};

class CResultRowIndex {
public:
    using PathOfRow = std::function<std::string(uint32_t nRow)>;

    // Takes every hit the cursor has left; 0 or the cursor's error (the rows read stay).
    int Load(ISearchCursor& cursor);

    uint32_t GetRowCount() const { return static_cast<uint32_t>(m_vecRows.size()); }
    const RESULT_ROW& GetRow(uint32_t nRow) const { return m_vecRows[nRow]; }
    const char* GetName(uint32_t nRow) const { return &m_vecNames[m_vecRows[nRow].nNameOffset]; }
    // Lower-case extensions ("" for none) and the category of each.
    const std::vector<std::string>& GetExtensions() const { return m_vecExtensions; }
    int GetExtensionCategory(uint16_t nExtensionId) const {
        return m_vecExtensionCategory[nExtensionId];
    }

    // The rows that pass the filter, in the sort order.
    uint32_t GetVisibleCount() const { return static_cast<uint32_t>(m_vecVisible.size()); }
    uint32_t GetVisibleRow(uint32_t nPosition) const { return m_vecVisible[nPosition]; }

    // Equal keys keep name order. The paths are asked for once per row, at the first path sort.
    void Sort(RESULT_COLUMN column, bool bDescending, const PathOfRow& pathOfRow);
    void SetFilter(const RESULT_FILTER& filter);
    const RESULT_FILTER& GetFilter() const { return m_filter; }

    // Ticks: the one record of what Recover saves; every box is drawn from it.
    bool IsTicked(uint32_t nRow) const { return m_vecTicked[nRow] != 0; }
    void SetTicked(uint32_t nRow, bool bTicked);
    // Ticks or unticks every row of a category (-1: all) or of one extension of it.
    void SetKindTicked(int nCategory, int nExtensionId, bool bTicked);
    // Rows, and ticked rows, of a category (-1: all) or of one extension.
    uint64_t CountRows(int nCategory, int nExtensionId) const;
    uint64_t CountTicked(int nCategory, int nExtensionId) const;
    uint64_t GetTickedBytes() const { return m_u64TickedBytes; }
    // The ticked rows in row order.
    std::vector<uint32_t> GetTickedRows() const;

    static RESULT_STATE StateOf(const FILE_NODE& node);
    static int64_t ModifySecondsOf(const FILE_NODE& node);

private:
    uint16_t AddExtension(const std::string& strExt);
    bool Passes(uint32_t nRow) const;
    bool IsOfKind(uint16_t nExtensionId, int nCategory, int nExtensionIdWanted) const;
    uint64_t SumOverKind(const std::vector<uint64_t>& vecPerExtension, int nCategory,
                         int nExtensionId) const;
    void RankPaths(const PathOfRow& pathOfRow);
    void CollectVisible();

    std::vector<RESULT_ROW> m_vecRows;
    std::vector<char> m_vecNames;
    std::vector<std::string> m_vecExtensions;
    std::vector<int> m_vecExtensionCategory;
    std::vector<uint32_t> m_vecSorted; // every row in the sort order
    std::vector<uint32_t> m_vecVisible;
    std::vector<uint8_t> m_vecPasses; // per row: passes the filter
    std::vector<uint32_t> m_vecPathRank;
    std::vector<uint8_t> m_vecTicked;
    std::vector<uint64_t> m_vecRowsOfExtension;
    std::vector<uint64_t> m_vecTickedOfExtension;
    uint64_t m_u64TickedBytes = 0;
    RESULT_FILTER m_filter;
};
