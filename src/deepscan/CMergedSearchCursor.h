// The deep scan's engines' search cursors merged into one in node order, less the hits that
// repeat an earlier engine's file. Equal names keep the order of the sources, so the hits come
// out as the stable sort of the sources' hits one after the other.
#pragma once

#include "deepscan/CDuplicateHitFilter.h"
#include "engine/ISearchCursor.h"

#include <memory>
#include <vector>

class CMergedSearchCursor : public ISearchCursor {
public:
    CMergedSearchCursor(std::vector<std::unique_ptr<ISearchCursor>> vecSources,
                        CDuplicateHitFilter filter);

    bool Next(SEARCH_FILE_INFO& hit) override;
    void Rewind() override;
    int GetResult() const override { return m_nResult; }

private:
    struct SOURCE {
        std::unique_ptr<ISearchCursor> pCursor;
        SEARCH_FILE_INFO head;
        bool bHasHead = false;
    };

    void Advance(SOURCE& source);

    std::vector<SOURCE> m_vecSources;
    CDuplicateHitFilter m_filter;
    int m_nResult = 0;
};
