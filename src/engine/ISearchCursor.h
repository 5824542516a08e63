// Search hits handed out one at a time in node order, so that a caller of a search over a
// million files never holds them all.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <vector>

class ISearchCursor {
public:
    // Copies the next hit; false at the end, or when a read failed (GetResult tells).
    virtual bool Next(SEARCH_FILE_INFO& hit) = 0;
    // Starts again from the first hit.
    virtual void Rewind() = 0;
    // 0, or the error that ended the hits early.
    virtual int GetResult() const = 0;
    virtual ~ISearchCursor() = default;

    // Appends every hit still ahead; GetResult().
    int AppendRemaining(std::vector<SEARCH_FILE_INFO>& vecOut) {
        SEARCH_FILE_INFO hit;
        while (Next(hit))
            vecOut.push_back(hit);
        return GetResult();
    }
};
