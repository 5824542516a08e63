// Chunked containers whose outer chunk states the file's size: RIFF (little-endian sizes: WAV,
// AVI, WebP) and IFF FORM (big-endian: AIFF).
#pragma once

#include "formats/carving/CCarvedFile.h"

class CRiffChunks {
public:
    static constexpr uint64_t OUTER_HEADER_BYTES = 12; // id, size, form type

    // The end of the outer chunk at u64Start: its size + 8, plus the pad byte an odd size
    // leaves. 0 when the size field is unusable or the first inner chunk is no chunk.
    static uint64_t OuterEnd(CCarvedFile& file, uint64_t u64Start, bool bBigEndian);
    // The end of the inner chunks walked from u64From while their ids are printable text and
    // their sizes known, up to u64Limit: for streamed files whose outer size was never filled in.
    static uint64_t WalkInner(CCarvedFile& file, uint64_t u64From, uint64_t u64Limit,
                              bool bBigEndian);
    // Four printable ASCII characters: a chunk id, box type or tag.
    static bool IsChunkId(CByteView id);
};
