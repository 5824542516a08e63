// Search hits read back from a store's node file in the order the search sorted them.
#include "store/CStoreSearchCursor.h"

#include "store/CScanResultFileManager.h"

#include <algorithm>

CStoreSearchCursor::CStoreSearchCursor(CScanResultFileManager& store,
                                       std::vector<uint32_t> vecNodeNos)
    : m_store(store), m_vecNodeNos(std::move(vecNodeNos)), m_vecWindow(READ_WINDOW_NODES) {}

void CStoreSearchCursor::Rewind() {
    m_nNext = 0;
    m_nResult = 0;
}

int CStoreSearchCursor::ReadWindowAt(uint32_t nNodeNo) {
    uint32_t nLast = m_store.GetFileIndex();
    if (nNodeNo == 0 || nNodeNo > nLast)
        return ERROR_INVALID_PARAMETER;
    uint32_t nCount = std::min(READ_WINDOW_NODES, nLast - nNodeNo + 1);
    m_nWindowCount = 0;
    if (int nErr = m_store.ReadFileNodes(nNodeNo, nCount, m_vecWindow.data()); nErr != 0)
        return nErr;
    m_nWindowFirst = nNodeNo;
    m_nWindowCount = nCount;
    return 0;
}

bool CStoreSearchCursor::Next(SEARCH_FILE_INFO& hit) {
    if (m_nResult != 0 || m_nNext >= m_vecNodeNos.size())
        return false;
    uint32_t nNodeNo = m_vecNodeNos[m_nNext];
    bool bInWindow = nNodeNo >= m_nWindowFirst && nNodeNo - m_nWindowFirst < m_nWindowCount;
    if (!bInWindow) {
        m_nResult = ReadWindowAt(nNodeNo);
        if (m_nResult != 0)
            return false;
    }
    hit = m_vecWindow[nNodeNo - m_nWindowFirst];
    ++m_nNext;
    return true;
}
