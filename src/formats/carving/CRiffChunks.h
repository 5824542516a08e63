// Chunked containers whose outer chunk states the file's size: RIFF (little-endian sizes: WAV,
// AVI, WebP) and IFF FORM (big-endian: AIFF).
#pragma once

#include "formats/carving/CCarvedFile.h"

class CRiffChunks {
public:
    static constexpr uint64_t OUTER_HEADER_BYTES = 12; // id, size, form type

    // The outer chunk's size, read as the file's structure when its inner chunks lead exactly
    // to its end (else only its header was): refused when the size field is unusable.
    static CARVED_SIZE OuterSize(CCarvedFile& file, uint64_t u64Start, bool bBigEndian);
    // Where the inner chunks walked from u64From end, while their ids are printable text and
    // their sizes known, stopping at u64Limit or the first chunk that reaches past it.
    static uint64_t WalkInner(CCarvedFile& file, uint64_t u64From, uint64_t u64Limit,
                              bool bBigEndian);
    // Four printable ASCII characters: a chunk id, box type or tag.
    static bool IsChunkId(CByteView id);

private:
    // The end of the outer chunk at u64Start: its size + 8, plus the pad byte an odd size
    // leaves. 0 when the size field is unusable or the first inner chunk is no chunk.
    static uint64_t OuterEnd(CCarvedFile& file, uint64_t u64Start, bool bBigEndian);
};
