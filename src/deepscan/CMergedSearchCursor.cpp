// A k-way merge of sorted search cursors that skips duplicate hits.
#include "deepscan/CMergedSearchCursor.h"

#include "store/CScanResultFileManager.h"

CMergedSearchCursor::CMergedSearchCursor(std::vector<std::unique_ptr<ISearchCursor>> vecSources,
                                         CDuplicateHitFilter filter)
    : m_filter(std::move(filter)) {
    for (std::unique_ptr<ISearchCursor>& pCursor : vecSources)
        if (pCursor)
            m_vecSources.push_back(SOURCE{std::move(pCursor), {}, false});
    Rewind();
}

void CMergedSearchCursor::Advance(SOURCE& source) {
    source.bHasHead = false;
    while (source.pCursor->Next(source.head)) {
        if (!m_filter.IsDuplicate(source.head)) {
            source.bHasHead = true;
            return;
        }
    }
    if (m_nResult == 0)
        m_nResult = source.pCursor->GetResult();
}

void CMergedSearchCursor::Rewind() {
    m_nResult = 0;
    for (SOURCE& source : m_vecSources) {
        source.pCursor->Rewind();
        Advance(source);
    }
}

bool CMergedSearchCursor::Next(SEARCH_FILE_INFO& hit) {
    SOURCE* pFirst = nullptr;
    for (SOURCE& source : m_vecSources) {
        if (source.bHasHead &&
            (pFirst == nullptr || CScanResultFileManager::NodeOrderLess(source.head, pFirst->head)))
            pFirst = &source;
    }
    if (pFirst == nullptr)
        return false;
    hit = pFirst->head;
    Advance(*pFirst);
    return true;
}
