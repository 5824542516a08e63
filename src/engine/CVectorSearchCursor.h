// A cursor over hits already held in memory: what an engine without a result store hands out.
#pragma once

#include "engine/ISearchCursor.h"

#include <cstddef>
#include <vector>

class CVectorSearchCursor : public ISearchCursor {
public:
    explicit CVectorSearchCursor(std::vector<SEARCH_FILE_INFO> vecHits)
        : m_vecHits(std::move(vecHits)) {}

    bool Next(SEARCH_FILE_INFO& hit) override;
    void Rewind() override { m_nNext = 0; }
    int GetResult() const override { return 0; }

private:
    std::vector<SEARCH_FILE_INFO> m_vecHits;
    size_t m_nNext = 0;
};
