// The bytes of a candidate file as its size finder reads them: from the disk while carving,
// from memory in tests and fuzzers.
#pragma once

#include "util/ByteView.h"

#include <cstddef>
#include <cstdint>

class ICarvingReader {
public:
    // The most a single view is asked to hold.
    static constexpr size_t MAX_VIEW_BYTES = 65536;

    virtual ~ICarvingReader() = default;
    // The file's bytes from u64Offset: at least min(nWant, MAX_VIEW_BYTES) of them unless the
    // data ends first (end of the volume, a read error, a stop the scan asked for), in which
    // case what there is; often more, as much as is at hand (scans ask for little and take
    // what comes). Valid until the next call.
    virtual CByteView View(uint64_t u64Offset, size_t nWant) = 0;
};
