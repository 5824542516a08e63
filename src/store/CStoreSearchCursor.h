// The search hits of one result store in node order: only their node numbers are held, and the
// nodes are read back from the store as they are taken.
#pragma once

#include "engine/ISearchCursor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CScanResultFileManager;

class CStoreSearchCursor : public ISearchCursor {
public:
    // The store must outlive the cursor.
    CStoreSearchCursor(CScanResultFileManager& store, std::vector<uint32_t> vecNodeNos);

    bool Next(SEARCH_FILE_INFO& hit) override;
    void Rewind() override;
    int GetResult() const override { return m_nResult; }

private:
    // Hits are read a batch at a time in node-file order, neighbours with one read: names in
    // order often lie close together in the store, and one read per hit would cost a system
    // call each.
    static constexpr size_t BATCH_HITS = 2048;
    static constexpr uint32_t READ_SPAN_NODES = 64;

    int ReadBatch();

    CScanResultFileManager& m_store;
    std::vector<uint32_t> m_vecNodeNos;
    size_t m_nBatchFirst = 0; // position in m_vecNodeNos of m_vecBatch[0]
    size_t m_nNext = 0;
    int m_nResult = 0;
    std::vector<FILE_NODE> m_vecBatch;
    std::vector<FILE_NODE> m_vecSpan;
};
