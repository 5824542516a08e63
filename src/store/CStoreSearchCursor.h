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
    // Nodes are read a few at a time: hits in name order often lie close together in the store.
    static constexpr uint32_t READ_WINDOW_NODES = 16;

    int ReadWindowAt(uint32_t nNodeNo);

    CScanResultFileManager& m_store;
    std::vector<uint32_t> m_vecNodeNos;
    size_t m_nNext = 0;
    int m_nResult = 0;
    std::vector<FILE_NODE> m_vecWindow;
    uint32_t m_nWindowFirst = 0;
    uint32_t m_nWindowCount = 0;
};
