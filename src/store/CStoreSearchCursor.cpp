// Search hits read back from a store's node file in the order the search sorted them.
#include "store/CStoreSearchCursor.h"

#include "store/CScanResultFileManager.h"

#include <algorithm>
#include <utility>

CStoreSearchCursor::CStoreSearchCursor(CScanResultFileManager& store,
                                       std::vector<uint32_t> vecNodeNos)
    : m_store(store), m_vecNodeNos(std::move(vecNodeNos)), m_vecSpan(READ_SPAN_NODES) {}

void CStoreSearchCursor::Rewind() {
    m_nNext = 0;
    m_nBatchFirst = 0;
    m_vecBatch.clear();
    m_nResult = 0;
}

int CStoreSearchCursor::ReadBatch() {
    m_nBatchFirst = m_nNext;
    size_t nCount = std::min(BATCH_HITS, m_vecNodeNos.size() - m_nNext);
    // (node number, slot in the batch), in node-file order.
    std::vector<std::pair<uint32_t, uint32_t>> vecWanted(nCount);
    for (size_t i = 0; i < nCount; ++i)
        vecWanted[i] = {m_vecNodeNos[m_nNext + i], static_cast<uint32_t>(i)};
    std::sort(vecWanted.begin(), vecWanted.end());
    // A store opened afresh since the search no longer holds these nodes.
    if (vecWanted.front().first == 0 || vecWanted.back().first > m_store.GetFileIndex())
        return ERROR_INVALID_PARAMETER;
    m_vecBatch.resize(nCount);
    for (size_t i = 0; i < nCount;) {
        uint32_t nFirst = vecWanted[i].first;
        size_t nEnd = i + 1;
        while (nEnd < nCount && vecWanted[nEnd].first - nFirst < READ_SPAN_NODES)
            ++nEnd;
        uint32_t nSpan = vecWanted[nEnd - 1].first - nFirst + 1;
        if (int nErr = m_store.ReadFileNodes(nFirst, nSpan, m_vecSpan.data()); nErr != 0)
            return nErr;
        for (; i < nEnd; ++i)
            m_vecBatch[vecWanted[i].second] = m_vecSpan[vecWanted[i].first - nFirst];
    }
    return 0;
}

bool CStoreSearchCursor::Next(SEARCH_FILE_INFO& hit) {
    if (m_nResult != 0 || m_nNext >= m_vecNodeNos.size())
        return false;
    if (m_nNext - m_nBatchFirst >= m_vecBatch.size()) {
        m_nResult = ReadBatch();
        if (m_nResult != 0)
            return false;
    }
    hit = m_vecBatch[m_nNext - m_nBatchFirst];
    ++m_nNext;
    return true;
}
