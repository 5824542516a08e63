// Hits handed out from a vector in its order.
#include "engine/CVectorSearchCursor.h"

bool CVectorSearchCursor::Next(SEARCH_FILE_INFO& hit) {
    if (m_nNext >= m_vecHits.size())
        return false;
    hit = m_vecHits[m_nNext++];
    return true;
}
