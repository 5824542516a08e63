// The search for the join of a carved file's two pieces: where its proof fails gives the range
// of the break B; each candidate C on a grid behind it passes cheap checks (no other file
// starts there; the PNG chunk or ZIP member straddling B checks out across the join; JPEG
// entropy data runs on with its restart markers in turn) before the whole file is proved.
#include "formats/proof/CTwoPieceJoin.h"

#include "formats/carving/CFileTypeJudge.h"
#include "formats/proof/CFileProof.h"
#include "formats/proof/CIsoMediaSamples.h"
#include "formats/proof/CJpegStructure.h"
#include "util/ByteView.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <zlib.h>

namespace {

constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G'};
constexpr uint8_t JPEG_SOI[] = {0xFF, 0xD8};
constexpr uint8_t ZIP_LOCAL_SIGNATURE[] = {'P', 'K', 3, 4};
constexpr uint8_t ZIP_CENTRAL_SIGNATURE[] = {'P', 'K', 1, 2};
constexpr uint8_t ZIP_EOCD_SIGNATURE[] = {'P', 'K', 5, 6};

// PNG chunk: length (4), type (4), data, CRC-32 of type and data (4).
constexpr size_t PNG_CHUNK_HEADER = 8, PNG_CHUNK_OVERHEAD = 12;
constexpr uint32_t PNG_MAX_CHUNK_LENGTH = 0x7FFFFFFF;

// ZIP end of central directory and local header fields.
constexpr size_t ZIP_EOCD_BYTES = 22, EOCD_CD_SIZE = 12, EOCD_CD_OFFSET = 16, EOCD_COMMENT = 20;
constexpr size_t CD_NAME = 28, CD_EXTRA = 30, CD_COMMENT = 32;
constexpr uint32_t ZIP64_MARK = 0xFFFFFFFF;

// Nearest-first searches try the small gaps behind every break before the larger ones.
constexpr uint64_t GAP_BANDS[] = {64 * 1024, 512 * 1024, CTwoPieceJoin::MAX_GAP_BYTES};

// At most one byte in this many of a text sector is binary.
constexpr size_t TEXT_BINARY_SHARE = 16;

// Entropy-coded data a JPEG candidate must carry without a wrong byte before its full walk.
constexpr size_t JPEG_FILTER_BYTES = 16 * 1024;

// The joined file seen through the window: bytes below B from the first piece, the rest from C.
struct JOINED {
    const uint8_t* pData;
    size_t nSize;
    uint64_t u64Break;
    uint64_t u64Resume;

    std::optional<size_t> Raw(uint64_t u64Off) const {
        const uint64_t u64Raw = u64Off < u64Break ? u64Off : u64Off - u64Break + u64Resume;
        return u64Raw < nSize ? std::optional<size_t>(size_t(u64Raw)) : std::nullopt;
    }
    // Calls fn on the one or two raw stretches of [u64Off, u64Off + u64Len); false when a part
    // lies outside the window.
    template <typename Fn> bool ForEachPart(uint64_t u64Off, uint64_t u64Len, Fn fn) const {
        while (u64Len > 0) {
            std::optional<size_t> nRaw = Raw(u64Off);
            if (!nRaw)
                return false;
            uint64_t u64Part = u64Off < u64Break ? std::min(u64Len, u64Break - u64Off) : u64Len;
            if (u64Part > nSize - *nRaw)
                return false;
            fn(pData + *nRaw, size_t(u64Part));
            u64Off += u64Part;
            u64Len -= u64Part;
        }
        return true;
    }
    bool Copy(uint64_t u64Off, size_t nLen, uint8_t* pOut) const {
        return ForEachPart(u64Off, nLen, [&](const uint8_t* p, size_t n) {
            std::memcpy(pOut, p, n);
            pOut += n;
        });
    }
    std::optional<uint32_t> U32BE(uint64_t u64Off) const {
        uint8_t bytes[4];
        return Copy(u64Off, sizeof(bytes), bytes) ? std::optional<uint32_t>(LoadU32BE(bytes))
                                                  : std::nullopt;
    }
    std::optional<uint32_t> Crc(uint64_t u64Off, uint64_t u64Len) const {
        uLong crc = crc32_z(0, nullptr, 0);
        if (!ForEachPart(u64Off, u64Len,
                         [&](const uint8_t* p, size_t n) { crc = crc32_z(crc, p, n); }))
            return std::nullopt;
        return static_cast<uint32_t>(crc);
    }
};

class CJoinSearch {
public:
    using PairTest = std::function<bool(uint64_t u64Break, uint64_t u64Resume)>;

    CJoinSearch(const uint8_t* pData, size_t nSize, const char* pExtension, size_t nSectorBytes,
                const CTimeBudget& budget, TWO_PIECE_JOIN& join, TWO_PIECE_TRIAL& trial)
        : m_pData(pData), m_nSize(nSize), m_pExtension(pExtension), m_nSectorBytes(nSectorBytes),
          m_budget(budget), m_join(join), m_trial(trial) {}

    bool Png();
    bool Jpeg();
    bool Zip();
    bool IsoMedia();

private:
    // Every (B, C) with B in [u64First, u64Last] and C behind it, both on a grid, coarse grids
    // first; a pair a coarser grid held is not tried again. Breaks nearest the failure first.
    bool ForEachPair(uint64_t u64First, uint64_t u64Last, const PairTest& test,
                     uint64_t u64FixedGap = 0);
    // The same pairs with the breaks in turn from the failure back, each break's grids coarse
    // first: for formats whose proof fails just behind the break (JPEG entropy data).
    bool ForEachPairNearestFirst(uint64_t u64First, uint64_t u64Last, const PairTest& test);
    // The pairs of one break on one grid with C - B in (u64GapFrom, u64GapTo], skipping those
    // the next coarser grid holds.
    std::optional<bool> TryResumes(uint64_t u64Break, uint64_t u64Grid, bool bSkipCoarser,
                                   const PairTest& test, uint64_t u64GapFrom = 0,
                                   uint64_t u64GapTo = CTwoPieceJoin::MAX_GAP_BYTES);
    // Every pair on the sector grid: true when exactly one passes (kept in m_join).
    bool OnlyPair(uint64_t u64First, uint64_t u64Last, const PairTest& test, uint64_t u64FixedGap);
    // The candidate counts, and false once the budget is spent or another file starts at C.
    bool IsCandidate(uint64_t u64Resume);
    // The joined file proves whole (or, with bUnchecked, is at least not found damaged).
    bool Proves(uint64_t u64Break, uint64_t u64Resume, uint64_t u64Size, bool bUnchecked = false);
    JOINED View(uint64_t u64Break, uint64_t u64Resume) const {
        return {m_pData, m_nSize, u64Break, u64Resume};
    }
    bool PngChunkJoins(uint64_t u64Chunk, const JOINED& joined) const;
    std::optional<uint64_t> PngEnd(uint64_t u64Chunk, const JOINED& joined) const;
    bool ZipMemberJoins(const uint8_t* pEntry, uint64_t u64End, const JOINED& joined) const;
    // The movie box's samples joined at a fixed gap (or at any, when 0) from where the first
    // video sample fails read on from the first piece.
    bool JoinSamples(const ISO_BOX& moov, uint64_t u64Size, uint64_t u64FixedGap);

    const uint8_t* m_pData;
    size_t m_nSize;
    const char* m_pExtension;
    size_t m_nSectorBytes;
    const CTimeBudget& m_budget;
    TWO_PIECE_JOIN& m_join;
    TWO_PIECE_TRIAL& m_trial;
};

bool CJoinSearch::IsCandidate(uint64_t u64Resume) {
    ++m_trial.u64Candidates;
    if (m_budget.IsSpent()) {
        m_trial.bBudgetSpent = true;
        return false;
    }
    return !(InBounds(m_nSize, size_t(u64Resume), m_nSectorBytes) &&
             CFileTypeJudge::StartsAnotherFile(m_pData + u64Resume, m_nSectorBytes));
}

std::optional<bool> CJoinSearch::TryResumes(uint64_t u64Break, uint64_t u64Grid, bool bSkipCoarser,
                                            const PairTest& test, uint64_t u64GapFrom,
                                            uint64_t u64GapTo) {
    const uint64_t u64LastResume = std::min<uint64_t>(u64Break + u64GapTo, m_nSize - 1);
    for (uint64_t u64Resume = (u64Break + u64GapFrom) / u64Grid * u64Grid + u64Grid;
         u64Resume <= u64LastResume; u64Resume += u64Grid) {
        if (bSkipCoarser && u64Resume % (u64Grid * 2) == 0)
            continue;
        if (!IsCandidate(u64Resume)) {
            if (m_trial.bBudgetSpent)
                return std::nullopt;
            continue;
        }
        if (test(u64Break, u64Resume))
            return true;
    }
    return false;
}

bool CJoinSearch::ForEachPair(uint64_t u64First, uint64_t u64Last, const PairTest& test,
                              uint64_t u64FixedGap) {
    for (uint64_t u64Grid = CTwoPieceJoin::MAX_GRID_BYTES; u64Grid >= m_nSectorBytes;
         u64Grid /= 2) {
        if (u64FixedGap % u64Grid != 0)
            continue;
        ++m_trial.nGrids;
        const bool bCoarser = u64Grid * 2 <= CTwoPieceJoin::MAX_GRID_BYTES;
        for (uint64_t u64Break = u64Last / u64Grid * u64Grid;
             u64Break >= std::max(u64First, u64Grid); u64Break -= u64Grid) {
            const bool bSkipCoarser = bCoarser && u64Break % (u64Grid * 2) == 0;
            std::optional<bool> found;
            if (u64FixedGap == 0) {
                found = TryResumes(u64Break, u64Grid, bSkipCoarser, test);
            } else if (bSkipCoarser && (u64Break + u64FixedGap) % (u64Grid * 2) == 0) {
                found = false;
            } else if (u64Break + u64FixedGap < m_nSize && IsCandidate(u64Break + u64FixedGap)) {
                found = test(u64Break, u64Break + u64FixedGap);
            } else {
                found = m_trial.bBudgetSpent ? std::nullopt : std::optional<bool>(false);
            }
            if (!found || *found)
                return found.value_or(false);
        }
    }
    return false;
}

bool CJoinSearch::ForEachPairNearestFirst(uint64_t u64First, uint64_t u64Last,
                                          const PairTest& test) {
    uint64_t u64Grids = 0; // one bit per grid tried
    uint64_t u64GapFrom = 0;
    for (uint64_t u64GapTo : GAP_BANDS) {
        for (uint64_t u64Break = u64Last / m_nSectorBytes * m_nSectorBytes;
             u64Break >= std::max<uint64_t>(u64First, m_nSectorBytes); u64Break -= m_nSectorBytes) {
            // The coarsest grid the break lies on, down to the sector.
            uint64_t u64Top = m_nSectorBytes;
            while (u64Top * 2 <= CTwoPieceJoin::MAX_GRID_BYTES && u64Break % (u64Top * 2) == 0)
                u64Top *= 2;
            for (uint64_t u64Grid = u64Top; u64Grid >= m_nSectorBytes; u64Grid /= 2) {
                u64Grids |= u64Grid;
                m_trial.nGrids = uint32_t(__builtin_popcountll(u64Grids));
                std::optional<bool> found =
                    TryResumes(u64Break, u64Grid, u64Grid != u64Top, test, u64GapFrom, u64GapTo);
                if (!found || *found)
                    return found.value_or(false);
            }
        }
        u64GapFrom = u64GapTo;
    }
    return false;
}

bool CJoinSearch::Proves(uint64_t u64Break, uint64_t u64Resume, uint64_t u64Size, bool bUnchecked) {
    if (u64Size <= u64Break || u64Size - u64Break > m_nSize - u64Resume)
        return false;
    ++m_trial.u64Proved;
    TWO_PIECE_JOIN join{u64Break, u64Resume, u64Size, PROOF_STATE::UNCHECKED};
    const std::vector<uint8_t> vecJoined = CTwoPieceJoin::Join(m_pData, join);
    join.state =
        CFileProof::Prove(vecJoined.data(), vecJoined.size(), m_pExtension, PROOF_DEPTH::DECODE);
    if (join.state != PROOF_STATE::WHOLE && !(bUnchecked && join.state == PROOF_STATE::UNCHECKED))
        return false;
    m_join = join;
    return true;
}

bool CJoinSearch::OnlyPair(uint64_t u64First, uint64_t u64Last, const PairTest& test,
                           uint64_t u64FixedGap) {
    ++m_trial.nGrids;
    std::optional<TWO_PIECE_JOIN> found;
    for (uint64_t u64Break = u64Last / m_nSectorBytes * m_nSectorBytes;
         u64Break >= std::max<uint64_t>(u64First, m_nSectorBytes); u64Break -= m_nSectorBytes) {
        const uint64_t u64LastResume =
            u64FixedGap != 0 ? u64Break + u64FixedGap
                             : std::min<uint64_t>(u64Break + CTwoPieceJoin::MAX_GAP_BYTES, m_nSize);
        for (uint64_t u64Resume = u64FixedGap != 0 ? u64LastResume : u64Break + m_nSectorBytes;
             u64Resume <= u64LastResume && u64Resume < m_nSize; u64Resume += m_nSectorBytes) {
            if (!IsCandidate(u64Resume)) {
                if (m_trial.bBudgetSpent)
                    return false;
                continue;
            }
            if (!test(u64Break, u64Resume))
                continue;
            if (found) {
                m_trial.bAmbiguous = true;
                return false;
            }
            found = m_join;
        }
    }
    if (found)
        m_join = *found;
    return found.has_value();
}

// The chunk where the proof failed, read across the join, has the CRC it states.
bool CJoinSearch::PngChunkJoins(uint64_t u64Chunk, const JOINED& joined) const {
    std::optional<uint32_t> u32Length = joined.U32BE(u64Chunk);
    if (!u32Length || *u32Length > PNG_MAX_CHUNK_LENGTH)
        return false;
    std::optional<uint32_t> u32Crc = joined.Crc(u64Chunk + 4, uint64_t(*u32Length) + 4);
    return u32Crc && u32Crc == joined.U32BE(u64Chunk + PNG_CHUNK_HEADER + *u32Length);
}

// The end of the IEND chunk, walking the chunks on from the one that joins.
std::optional<uint64_t> CJoinSearch::PngEnd(uint64_t u64Chunk, const JOINED& joined) const {
    for (uint64_t u64Off = u64Chunk;;) {
        uint8_t header[PNG_CHUNK_HEADER];
        if (!joined.Copy(u64Off, sizeof(header), header))
            return std::nullopt;
        const uint32_t u32Length = LoadU32BE(header);
        if (u32Length > PNG_MAX_CHUNK_LENGTH)
            return std::nullopt;
        u64Off += PNG_CHUNK_OVERHEAD + u32Length;
        if (std::memcmp(header + 4, "IEND", 4) == 0)
            return u64Off;
    }
}

bool CJoinSearch::Png() {
    std::optional<PROOF_BREAK> brk = CFileProof::FindBreak(m_pData, m_nSize, m_pExtension);
    if (!brk || brk->nFailAt <= brk->nIntact)
        return false;
    m_trial.u64FailAt = brk->nFailAt;
    const uint64_t u64Chunk = brk->nIntact;
    return ForEachPair(u64Chunk, brk->nFailAt - 1, [&](uint64_t u64Break, uint64_t u64Resume) {
        const JOINED joined = View(u64Break, u64Resume);
        if (!PngChunkJoins(u64Chunk, joined))
            return false;
        std::optional<uint64_t> u64End = PngEnd(u64Chunk, joined);
        return u64End && Proves(u64Break, u64Resume, *u64End);
    });
}

// A sector of text (a few binary bytes allowed, as a PDF's second line), or of one byte
// repeated: Huffman-coded data never is one (half its bytes have the high bit).
bool IsTextOrFill(const uint8_t* pSector, size_t nBytes) {
    if (std::all_of(pSector, pSector + nBytes, [&](uint8_t c) { return c == pSector[0]; }))
        return true;
    const size_t nText = size_t(std::count_if(pSector, pSector + nBytes, [](uint8_t c) {
        return (c >= 0x20 && c < 0x7F) || (c >= '\t' && c <= '\r');
    }));
    return nText >= nBytes - nBytes / TEXT_BINARY_SHARE;
}

// The second piece goes on where the structure broke: inside entropy-coded data (with the
// restart marker the first piece expects next), or at the marker a segment length leads to.
bool CJoinSearch::Jpeg() {
    const JPEG_WALK walk = CJpegStructure::Walk(m_pData, m_nSize, true);
    if (walk.bWhole || walk.bDataEnded || !walk.state.bScanned)
        return false;
    m_trial.u64FailAt = walk.nEnd;
    // Foreign text or zeros can pass for entropy-coded data a long way (no 0xFF in them): the
    // break lies before the first sector of them.
    uint64_t u64Last = walk.nEnd;
    if (walk.state.bInEntropy)
        for (uint64_t u64Sector =
                 (walk.nIntact + m_nSectorBytes - 1) / m_nSectorBytes * m_nSectorBytes;
             u64Sector + m_nSectorBytes <= walk.nEnd; u64Sector += m_nSectorBytes)
            if (IsTextOrFill(m_pData + u64Sector, m_nSectorBytes)) {
                u64Last = u64Sector;
                break;
            }
    return ForEachPairNearestFirst(
        walk.nIntact, u64Last, [&](uint64_t u64Break, uint64_t u64Resume) {
            const uint64_t u64From =
                walk.state.bInEntropy ? u64Resume : u64Resume + (walk.nEnd - u64Break);
            if (u64From >= m_nSize)
                return false;
            const JPEG_WALK head = CJpegStructure::WalkFrom(
                m_pData, std::min<size_t>(m_nSize, u64From + JPEG_FILTER_BYTES), u64From,
                walk.state, true);
            if (!head.bWhole && !head.bDataEnded)
                return false;
            const JPEG_WALK tail =
                head.bWhole ? head
                            : CJpegStructure::WalkFrom(m_pData, m_nSize, u64From, walk.state, true);
            return tail.bWhole && Proves(u64Break, u64Resume, u64Break + (tail.nEnd - u64Resume));
        });
}

// The central directory's entries (in the window at u64Directory) in the order of their
// members; empty when an entry is not there.
std::vector<const uint8_t*> ZipEntriesInOrder(CByteView window, uint64_t u64Directory,
                                              uint32_t u32DirSize) {
    std::vector<const uint8_t*> vecEntries;
    std::optional<CByteView> dir = window.Slice(size_t(u64Directory), u32DirSize);
    for (size_t nPos = 0; dir && dir->Matches(nPos, ZIP_CENTRAL_SIGNATURE, 4);) {
        std::optional<CByteView> entry = dir->Slice(nPos, CFileProof::ZIP_CENTRAL_BYTES);
        if (!entry)
            return {};
        vecEntries.push_back(entry->Data());
        nPos += CFileProof::ZIP_CENTRAL_BYTES + *entry->U16LE(CD_NAME) + *entry->U16LE(CD_EXTRA) +
                *entry->U16LE(CD_COMMENT);
    }
    std::sort(vecEntries.begin(), vecEntries.end(), [](const uint8_t* a, const uint8_t* b) {
        return LoadU32LE(a + CFileProof::ZIP_CENTRAL_LOCAL_OFFSET) <
               LoadU32LE(b + CFileProof::ZIP_CENTRAL_LOCAL_OFFSET);
    });
    return vecEntries;
}

uint64_t LocalOffset(const uint8_t* pEntry) {
    return LoadU32LE(pEntry + CFileProof::ZIP_CENTRAL_LOCAL_OFFSET);
}

// The member, read across the join up to where the next one starts, proves by its entry.
bool CJoinSearch::ZipMemberJoins(const uint8_t* pEntry, uint64_t u64End,
                                 const JOINED& joined) const {
    const uint64_t u64Local = LocalOffset(pEntry);
    if (u64End <= u64Local || u64End - u64Local > m_nSize)
        return false;
    std::vector<uint8_t> vecMember(static_cast<size_t>(u64End - u64Local));
    uint8_t entry[CFileProof::ZIP_CENTRAL_BYTES];
    std::memcpy(entry, pEntry, sizeof(entry));
    std::memset(entry + CFileProof::ZIP_CENTRAL_LOCAL_OFFSET, 0, 4);
    return joined.Copy(u64Local, vecMember.size(), vecMember.data()) &&
           CFileProof::ProveZipEntry(vecMember.data(), vecMember.size(), entry) ==
               PROOF_STATE::WHOLE;
}

// Each end record fixes the gap: it stands where the central directory's offset and size put
// it in the joined file. The directory (in the second piece) names the member that fails when
// read on from the first piece: the break lies inside it.
bool CJoinSearch::Zip() {
    const CByteView window(m_pData, m_nSize);
    for (std::optional<size_t> nEnd = window.Find(ZIP_EOCD_SIGNATURE, 4); nEnd;
         nEnd = window.Find(ZIP_EOCD_SIGNATURE, 4, *nEnd + 1)) {
        std::optional<uint32_t> u32DirSize = window.U32LE(*nEnd + EOCD_CD_SIZE);
        std::optional<uint32_t> u32DirOffset = window.U32LE(*nEnd + EOCD_CD_OFFSET);
        std::optional<uint16_t> u16Comment = window.U16LE(*nEnd + EOCD_COMMENT);
        if (!u32DirSize || !u32DirOffset || !u16Comment || *u32DirOffset == ZIP64_MARK ||
            !window.Has(*nEnd, ZIP_EOCD_BYTES + *u16Comment))
            continue;
        const uint64_t u64JoinedEnd = uint64_t(*u32DirOffset) + *u32DirSize;
        if (*nEnd <= u64JoinedEnd)
            continue;
        const uint64_t u64Gap = *nEnd - u64JoinedEnd;
        if (u64Gap % m_nSectorBytes != 0 || u64Gap > CTwoPieceJoin::MAX_GAP_BYTES)
            continue;
        const std::vector<const uint8_t*> vecEntries =
            ZipEntriesInOrder(window, *u32DirOffset + u64Gap, *u32DirSize);
        size_t k = 0;
        while (k < vecEntries.size() &&
               CFileProof::ProveZipEntry(m_pData, m_nSize, vecEntries[k]) != PROOF_STATE::DAMAGED)
            ++k;
        if (k == vecEntries.size())
            continue;
        const uint64_t u64Member = LocalOffset(vecEntries[k]);
        const uint64_t u64MemberEnd =
            k + 1 < vecEntries.size() ? LocalOffset(vecEntries[k + 1]) : *u32DirOffset;
        const uint64_t u64Size = u64JoinedEnd + ZIP_EOCD_BYTES + *u16Comment;
        m_trial.u64FailAt = u64Member;
        if (ForEachPair(
                u64Member, std::min<uint64_t>(u64MemberEnd, *u32DirOffset),
                [&](uint64_t u64Break, uint64_t u64Resume) {
                    return ZipMemberJoins(vecEntries[k], u64MemberEnd, View(u64Break, u64Resume)) &&
                           Proves(u64Break, u64Resume, u64Size);
                },
                u64Gap))
            return true;
        if (m_trial.bBudgetSpent)
            return false;
    }
    return false;
}

// Top-level boxes from u64From while their headers are plausible and they fit the window.
struct ISO_WALK {
    uint64_t u64End = 0;
    std::optional<ISO_BOX> moov;
};

ISO_WALK WalkBoxes(const uint8_t* pData, size_t nSize, uint64_t u64From) {
    ISO_WALK walk{u64From, std::nullopt};
    for (std::optional<ISO_BOX> box = CIsoMediaSamples::ReadBox(pData, nSize, u64From);
         box && CIsoMediaSamples::IsTopLevel(*box) && box->u64Size <= nSize - walk.u64End;
         box = CIsoMediaSamples::ReadBox(pData, nSize, walk.u64End)) {
        if (std::memcmp(box->szType, "moov", 4) == 0)
            walk.moov = box;
        walk.u64End += box->u64Size;
    }
    return walk;
}

bool CJoinSearch::JoinSamples(const ISO_BOX& moov, uint64_t u64Size, uint64_t u64FixedGap) {
    std::vector<ISO_SAMPLE> vecSamples;
    if (!CIsoMediaSamples::Read(m_pData + moov.u64Payload,
                                size_t(moov.u64Offset + moov.u64Size - moov.u64Payload),
                                vecSamples))
        return false;
    const JOINED contiguous = View(m_nSize, m_nSize);
    const auto readFrom = [](const JOINED& joined) {
        return [&joined](uint64_t u64Offset, uint8_t* pOut, size_t nBytes) {
            return joined.Copy(u64Offset, nBytes, pOut);
        };
    };
    // Only the length fields and unit headers are seen: the break lies behind the last of them
    // that checked out, up to the end of the sample that fails.
    uint64_t u64Good = 0;
    size_t k = 0;
    for (; k < vecSamples.size(); ++k)
        if (vecSamples[k].u8LengthBytes != 0 &&
            !CIsoMediaSamples::IsWholeSample(vecSamples[k], readFrom(contiguous), &u64Good))
            break;
    if (k == vecSamples.size())
        return false;
    const ISO_SAMPLE failed = vecSamples[k];
    m_trial.u64FailAt = failed.u64Offset + failed.u32Size;
    return OnlyPair(
        u64Good, m_trial.u64FailAt,
        [&](uint64_t u64Break, uint64_t u64Resume) {
            const JOINED joined = View(u64Break, u64Resume);
            return CIsoMediaSamples::IsWholeSample(failed, readFrom(joined)) &&
                   Proves(u64Break, u64Resume, u64Size, true);
        },
        u64FixedGap);
}

// The movie box ahead of the media data (its samples show the break; the gap is free), or
// behind it: the box after the media data then stands a gap further on in the window, which
// fixes the gap.
bool CJoinSearch::IsoMedia() {
    const ISO_WALK walk = WalkBoxes(m_pData, m_nSize, 0);
    if (walk.moov)
        return JoinSamples(*walk.moov, walk.u64End, 0);
    for (uint64_t u64Gap = m_nSectorBytes;
         u64Gap <= CTwoPieceJoin::MAX_GAP_BYTES && walk.u64End + u64Gap < m_nSize;
         u64Gap += m_nSectorBytes) {
        std::optional<ISO_BOX> box =
            CIsoMediaSamples::ReadBox(m_pData, m_nSize, walk.u64End + u64Gap);
        if (m_budget.IsSpent()) {
            m_trial.bBudgetSpent = true;
            return false;
        }
        if (!box || !CIsoMediaSamples::IsTopLevel(*box))
            continue;
        const ISO_WALK tail = WalkBoxes(m_pData, m_nSize, walk.u64End + u64Gap);
        if (tail.moov && JoinSamples(*tail.moov, tail.u64End - u64Gap, u64Gap))
            return true;
        if (m_trial.bBudgetSpent)
            return false;
    }
    return false;
}

} // namespace

bool CTwoPieceJoin::CanJoin(const char* pExtension) {
    return CFileProof::CanFindBreak(pExtension);
}

bool CTwoPieceJoin::Find(const uint8_t* pData, size_t nSize, const char* pExtension,
                         size_t nSectorBytes, const CTimeBudget& budget, TWO_PIECE_JOIN& join,
                         TWO_PIECE_TRIAL& trial) {
    trial = {};
    if (pData == nullptr || nSectorBytes == 0 || !CanJoin(pExtension))
        return false;
    const CByteView window(pData, nSize);
    CJoinSearch search(pData, nSize, pExtension, nSectorBytes, budget, join, trial);
    if (window.Matches(0, PNG_SIGNATURE, sizeof(PNG_SIGNATURE)))
        return search.Png();
    if (window.Matches(0, JPEG_SOI, sizeof(JPEG_SOI)))
        return search.Jpeg();
    if (window.Matches(0, ZIP_LOCAL_SIGNATURE, sizeof(ZIP_LOCAL_SIGNATURE)))
        return search.Zip();
    std::optional<ISO_BOX> first = CIsoMediaSamples::ReadBox(pData, nSize, 0);
    if (first && CIsoMediaSamples::IsTopLevel(*first))
        return search.IsoMedia();
    return false;
}

std::vector<uint8_t> CTwoPieceJoin::Join(const uint8_t* pData, const TWO_PIECE_JOIN& join) {
    std::vector<uint8_t> vecJoined(join.u64Size);
    std::memcpy(vecJoined.data(), pData, join.u64Break);
    std::memcpy(vecJoined.data() + join.u64Break, pData + join.u64Resume,
                join.u64Size - join.u64Break);
    return vecJoined;
}
