// A deflate or zlib stream's end, found by inflating it with zlib (gzip members, compressed
// Flash movies).
#pragma once

#include "formats/carving/CCarvedFile.h"

struct INFLATE_END {
    uint64_t u64Consumed; // compressed bytes up to the end of the stream
    uint64_t u64Produced; // bytes they inflate to
};

// Inflates the stream at u64Start (nWindowBits as zlib's inflateInit2 takes them) up to
// u64Limit compressed bytes; nullopt when the data is no such stream or ends first.
std::optional<INFLATE_END> InflateToEnd(CCarvedFile& file, uint64_t u64Start, int nWindowBits,
                                        uint64_t u64Limit);
