// What a size finder sees of a candidate file: its bytes through a reader, bounded loads and
// searches over them, and the end check of formats whose structure does not state their end.
#pragma once

#include "formats/carving/ExtendNameType.h"
#include "formats/carving/ICarvingReader.h"

#include <algorithm>
#include <cstring>
#include <optional>

// A size finder's answer. A size of 0 refuses the candidate: its structure shows it is not the
// format its first sector looked like.
struct CARVED_SIZE {
    uint64_t u64Size = 0;
    // Leading bytes the finder read as this file's structure, not only took from a header
    // field: the scan skips these and looks at the rest again.
    uint64_t u64Checked = 0;
    // The format the structure showed (a sub-type of the detected one); NONE keeps the detector's.
    EXTEND_NAME_TYPE nType = FILE_TYPE_NONE;
    // The walk reached the format's own end and every check on the way held, so the file's
    // structure is proved whole and need not be read a second time for it.
    bool bProvedWhole = false;
};

// A size found by walking the whole structure.
inline CARVED_SIZE WalkedSize(uint64_t u64Size, EXTEND_NAME_TYPE nType = FILE_TYPE_NONE) {
    return {u64Size, u64Size, nType};
}
// A size found by a walk that also proved the structure whole.
inline CARVED_SIZE ProvedSize(uint64_t u64Size, EXTEND_NAME_TYPE nType = FILE_TYPE_NONE) {
    return {u64Size, u64Size, nType, true};
}
// A size a header states, of which only the header itself was read.
inline CARVED_SIZE ClaimedSize(uint64_t u64Size, uint64_t u64HeaderBytes,
                               EXTEND_NAME_TYPE nType = FILE_TYPE_NONE) {
    return {u64Size, u64Size == 0 ? 0 : std::min(u64Size, u64HeaderBytes), nType};
}
inline CARVED_SIZE Refused() {
    return {};
}

// Moves a walk on by a length a file states, never past u64Limit (a wrapped sum would send the
// walk back to where it has been): false when the length does not fit.
inline bool StepWithin(uint64_t& u64Pos, uint64_t u64Length, uint64_t u64Limit) {
    if (u64Pos > u64Limit || u64Length > u64Limit - u64Pos)
        return false;
    u64Pos += u64Length;
    return true;
}

// The bytes of a detector's buffer, bounded.
inline CByteView HeadView(const unsigned char* pBuf, int nLength) {
    return pBuf != nullptr && nLength > 0 ? CByteView(pBuf, size_t(nLength)) : CByteView();
}
inline bool HeadMatchesText(CByteView head, size_t off, const char* pText) {
    return head.Matches(off, pText, std::strlen(pText));
}

class CCarvedFile {
public:
    // True for a sector where another file or file-system metadata begins.
    using SectorTest = bool (*)(const uint8_t* pSector, size_t nBytes);

    CCarvedFile(ICarvingReader& reader, size_t nSectorBytes, SectorTest pfnStartsOther)
        : m_reader(reader), m_nSectorBytes(nSectorBytes), m_pfnStartsOther(pfnStartsOther) {}

    size_t SectorBytes() const { return m_nSectorBytes; }

    // The bytes from u64Offset, at least min(nWant, MAX_VIEW_BYTES) unless the data ends.
    CByteView View(uint64_t u64Offset, size_t nWant);
    // Exactly nBytes into pOut; false when the data ends first.
    bool Read(uint64_t u64Offset, void* pOut, size_t nBytes);
    std::optional<uint8_t> U8(uint64_t off) { return View(off, 1).U8(0); }
    std::optional<uint16_t> U16LE(uint64_t off) { return View(off, 2).U16LE(0); }
    std::optional<uint16_t> U16BE(uint64_t off) { return View(off, 2).U16BE(0); }
    std::optional<uint32_t> U32LE(uint64_t off) { return View(off, 4).U32LE(0); }
    std::optional<uint32_t> U32BE(uint64_t off) { return View(off, 4).U32BE(0); }
    std::optional<uint64_t> U64LE(uint64_t off) { return View(off, 8).U64LE(0); }
    std::optional<uint64_t> U64BE(uint64_t off) { return View(off, 8).U64BE(0); }
    bool Matches(uint64_t off, const void* pPattern, size_t nPattern) {
        return View(off, nPattern).Matches(0, pPattern, nPattern);
    }
    bool MatchesText(uint64_t off, const char* pText) {
        return Matches(off, pText, std::strlen(pText));
    }
    // The first occurrence of the pattern starting in [u64From, u64To).
    std::optional<uint64_t> Find(const void* pPattern, size_t nPattern, uint64_t u64From,
                                 uint64_t u64To);

    // True once a view came back short: the file's data ended (volume end, read error, stop).
    bool DataEnded() const { return m_bDataEnded; }

    // The first sector boundary in [u64From, u64To) where another file or file-system metadata
    // starts, or where the data ends; u64To when there is none. Media data is never a whole
    // sector of zeros: with bZerosEnd such a sector ends it too.
    uint64_t NextFileStart(uint64_t u64From, uint64_t u64To, bool bZerosEnd = false);

private:
    ICarvingReader& m_reader;
    size_t m_nSectorBytes;
    SectorTest m_pfnStartsOther;
    bool m_bDataEnded = false;
};
