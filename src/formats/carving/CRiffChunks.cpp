// The outer-size rule of RIFF and FORM files, checked against their first inner chunk.
#include "formats/carving/CRiffChunks.h"

namespace {

constexpr uint64_t CHUNK_HEADER_BYTES = 8;
// A streaming writer's size field, never filled in.
constexpr uint32_t UNKNOWN_SIZE = 0xFFFFFFFF;

std::optional<uint32_t> ChunkSize(CCarvedFile& file, uint64_t off, bool bBigEndian) {
    return bBigEndian ? file.U32BE(off) : file.U32LE(off);
}

uint64_t Padded(uint64_t u64Bytes) {
    return u64Bytes + (u64Bytes & 1);
}

} // namespace

bool CRiffChunks::IsChunkId(CByteView id) {
    if (id.Size() < 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if (id.Data()[i] < 0x20 || id.Data()[i] > 0x7E)
            return false;
    }
    return true;
}

uint64_t CRiffChunks::OuterEnd(CCarvedFile& file, uint64_t u64Start, bool bBigEndian) {
    auto size = ChunkSize(file, u64Start + 4, bBigEndian);
    if (!size || *size < 4 + CHUNK_HEADER_BYTES)
        return 0;
    const uint64_t u64Inner = u64Start + OUTER_HEADER_BYTES;
    auto inner = ChunkSize(file, u64Inner + 4, bBigEndian);
    if (!IsChunkId(file.View(u64Inner, 4)) || !inner || *inner > *size - 4 - CHUNK_HEADER_BYTES)
        return 0;
    return u64Start + CHUNK_HEADER_BYTES + Padded(*size);
}

uint64_t CRiffChunks::WalkInner(CCarvedFile& file, uint64_t u64From, uint64_t u64Limit,
                                bool bBigEndian) {
    uint64_t pos = u64From;
    while (pos < u64Limit && IsChunkId(file.View(pos, 4))) {
        auto size = ChunkSize(file, pos + 4, bBigEndian);
        if (!size || *size == UNKNOWN_SIZE || CHUNK_HEADER_BYTES + Padded(*size) > u64Limit - pos)
            break;
        pos += CHUNK_HEADER_BYTES + Padded(*size);
    }
    return pos;
}

CARVED_SIZE CRiffChunks::OuterSize(CCarvedFile& file, uint64_t u64Start, bool bBigEndian) {
    const uint64_t u64End = OuterEnd(file, u64Start, bBigEndian);
    if (u64End == 0)
        return Refused();
    const uint64_t u64Inner = u64Start + OUTER_HEADER_BYTES;
    const bool bWalked = WalkInner(file, u64Inner, u64End, bBigEndian) == u64End;
    return {u64End, bWalked ? u64End : u64Inner, FILE_TYPE_NONE};
}
