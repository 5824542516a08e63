// Whole-file proofs: zlib for PNG, ZIP packages and gzip, libjpeg-turbo for JPEG, the carving
// walkers for the media containers, the cross-reference table for PDF.
#include "formats/proof/CFileProof.h"

#include "formats/carving/CAudioFormats.h"
#include "formats/carving/CMemoryCarvingReader.h"
#include "formats/carving/CPictureFormats.h"
#include "formats/carving/CVideoFormats.h"
#include "formats/carving/CarvingCrc.h"
#include "formats/carving/FileDataHealth.h"
#include "formats/proof/CIsoMediaSamples.h"
#include "formats/proof/CJpegStructure.h"
#include "util/ByteView.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <turbojpeg.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr size_t SECTOR_BYTES = 512;
constexpr size_t INFLATE_SCRATCH_BYTES = 64 * 1024;

// PNG: signature, then chunks of length (4), type (4), data, CRC-32 of type and data (4).
constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t PNG_CHUNK_OVERHEAD = 12;
constexpr uint32_t PNG_MAX_CHUNK_LENGTH = 0x7FFFFFFF;

// ZIP: end of central directory, central directory entries, local headers.
constexpr uint8_t ZIP_EOCD_SIGNATURE[] = {'P', 'K', 5, 6};
constexpr uint8_t ZIP_CENTRAL_SIGNATURE[] = {'P', 'K', 1, 2};
constexpr uint8_t ZIP_LOCAL_SIGNATURE[] = {'P', 'K', 3, 4};
constexpr size_t ZIP_EOCD_BYTES = 22;
constexpr size_t ZIP_MAX_COMMENT = 0xFFFF;
constexpr size_t EOCD_ENTRIES = 10, EOCD_CD_SIZE = 12, EOCD_CD_OFFSET = 16, EOCD_COMMENT = 20;
constexpr size_t CD_FLAGS = 8, CD_METHOD = 10, CD_CRC = 16, CD_PACKED = 20, CD_SIZE = 24,
                 CD_NAME = 28, CD_EXTRA = 30, CD_COMMENT = 32,
                 CD_LOCAL_OFFSET = CFileProof::ZIP_CENTRAL_LOCAL_OFFSET;
constexpr size_t ZIP_LOCAL_BYTES = 30;
constexpr size_t LH_FLAGS = 6, LH_METHOD = 8, LH_CRC = 14, LH_PACKED = 18, LH_SIZE = 22,
                 LH_NAME = 26, LH_EXTRA = 28;
constexpr uint16_t ZIP_FLAG_DESCRIPTOR = 8;
constexpr uint16_t ZIP_FLAG_ENCRYPTED = 1;
constexpr uint16_t ZIP_STORED = 0, ZIP_DEFLATED = 8;
constexpr uint32_t ZIP64_MARK = 0xFFFFFFFF;

// gzip member header fields (RFC 1952).
constexpr uint8_t GZIP_MAGIC[] = {0x1F, 0x8B, 0x08};
constexpr size_t GZIP_HEADER_BYTES = 10, GZIP_FLAGS = 3, GZIP_TRAILER_BYTES = 8;
constexpr uint8_t GZIP_FHCRC = 2, GZIP_FEXTRA = 4, GZIP_FNAME = 8, GZIP_FCOMMENT = 16;

// PDF: the last startxref near the end, classic tables of 20-byte entries.
constexpr size_t PDF_TAIL_BYTES = 2048;
constexpr size_t PDF_XREF_ENTRY_BYTES = 20;
constexpr size_t PDF_OBJ_HEADER_BYTES = 40;

// Ogg page header: capture pattern, CRC-32 (computed with the field zeroed), segment table.
constexpr size_t OGG_HEADER_BYTES = 27, OGG_CRC = 22, OGG_SEGMENTS = 26;

// FLAC: "fLaC", metadata blocks (last-block flag, type, 24-bit length), then frames that each
// end with the CRC-16 of their bytes.
constexpr size_t FLAC_MARKER_BYTES = 4, FLAC_BLOCK_HEADER_BYTES = 4;
constexpr size_t FLAC_MIN_FRAME_BYTES = 10;
constexpr size_t FLAC_MAX_FRAME_BYTES = 16 * 1024 * 1024;

// Views the whole buffer: the file's bytes and nothing past them.
struct BUFFER {
    const uint8_t* pData;
    size_t nSize;
    CByteView View() const { return CByteView(pData, nSize); }
};

// One deflate or zlib stream fed in pieces; its output counted and checked by CRC-32.
class CInflateCheck {
public:
    explicit CInflateCheck(int nWindowBits) {
        m_bReady = inflateInit2(&m_stream, nWindowBits) == Z_OK;
    }
    ~CInflateCheck() { inflateEnd(&m_stream); }
    CInflateCheck(const CInflateCheck&) = delete;
    CInflateCheck& operator=(const CInflateCheck&) = delete;

    // False when the data is no such stream or goes on after its end.
    bool Feed(const uint8_t* pData, size_t nSize) {
        if (!m_bReady || (m_bEnded && nSize > 0))
            return false;
        m_stream.next_in = const_cast<uint8_t*>(pData);
        m_stream.avail_in = static_cast<uInt>(nSize);
        static thread_local std::vector<uint8_t> scratch(INFLATE_SCRATCH_BYTES);
        while (m_stream.avail_in > 0 && !m_bEnded) {
            m_stream.next_out = scratch.data();
            m_stream.avail_out = static_cast<uInt>(scratch.size());
            const int nResult = inflate(&m_stream, Z_NO_FLUSH);
            const size_t nOut = scratch.size() - m_stream.avail_out;
            m_u32Crc = static_cast<uint32_t>(crc32(m_u32Crc, scratch.data(), uInt(nOut)));
            m_u64Produced += nOut;
            if (nResult == Z_STREAM_END)
                m_bEnded = true;
            else if (nResult != Z_OK && !(nResult == Z_BUF_ERROR && nOut > 0))
                return false;
        }
        return true;
    }
    bool Ended() const { return m_bEnded; }
    uint64_t Consumed() const { return m_stream.total_in; }
    uint32_t Crc() const { return m_u32Crc; }
    uint64_t Produced() const { return m_u64Produced; }

private:
    z_stream m_stream = {};
    bool m_bReady = false;
    bool m_bEnded = false;
    uint32_t m_u32Crc = 0;
    uint64_t m_u64Produced = 0;
};

// Every chunk's CRC-32, and the IDAT stream inflated to its end when pImage is given: the
// CRCs alone already show any foreign byte, the stream only what the encoder itself got wrong.
// pBreak, when given, is set to the chunk where a damaged file fails.
PROOF_STATE WalkPngChunks(CByteView file, CInflateCheck* pImage, PROOF_BREAK* pBreak = nullptr) {
    PROOF_BREAK unused;
    PROOF_BREAK& brk = pBreak != nullptr ? *pBreak : unused;
    brk = {0, 0};
    if (!file.Matches(0, PNG_SIGNATURE, sizeof(PNG_SIGNATURE)))
        return PROOF_STATE::DAMAGED;
    size_t nOff = sizeof(PNG_SIGNATURE);
    for (; file.Has(nOff, PNG_CHUNK_OVERHEAD);) {
        const uint32_t u32Length = *file.U32BE(nOff);
        const size_t nChunkEnd = nOff + PNG_CHUNK_OVERHEAD + size_t(u32Length);
        brk = {nOff,
               std::min(file.Size(), u32Length > PNG_MAX_CHUNK_LENGTH ? nOff + 8 : nChunkEnd)};
        if (u32Length > PNG_MAX_CHUNK_LENGTH || !file.Has(nOff + 8, size_t(u32Length) + 4))
            return PROOF_STATE::DAMAGED;
        const uint8_t* pType = file.Data() + nOff + 4;
        if (crc32_z(0, pType, size_t(u32Length) + 4) != *file.U32BE(nOff + 8 + u32Length))
            return PROOF_STATE::DAMAGED;
        if (pImage != nullptr && std::memcmp(pType, "IDAT", 4) == 0 &&
            !pImage->Feed(pType + 4, u32Length))
            return PROOF_STATE::DAMAGED;
        if (std::memcmp(pType, "IEND", 4) == 0)
            return pImage == nullptr || pImage->Ended() ? PROOF_STATE::WHOLE : PROOF_STATE::DAMAGED;
        nOff = nChunkEnd;
    }
    brk = {nOff, file.Size()};
    return PROOF_STATE::DAMAGED;
}

PROOF_STATE ProveWithWalker(const uint8_t* pData, size_t nSize,
                            CARVED_SIZE (*pfnWalk)(CCarvedFile&)) {
    CMemoryCarvingReader reader(pData, nSize);
    CCarvedFile file(reader, SECTOR_BYTES, nullptr);
    const CARVED_SIZE found = pfnWalk(file);
    return found.u64Size == nSize && found.u64Checked == nSize ? PROOF_STATE::WHOLE
                                                               : PROOF_STATE::DAMAGED;
}

// Top-level boxes from the first byte to the last, then the movie box's samples: each video
// sample must hold NAL units whose lengths add up to its size. A file without a movie box does
// not play. Neither walk sees what the units hold, so at best nothing is found wrong.
PROOF_STATE CheckIsoMedia(const uint8_t* pData, size_t nSize, PROOF_BREAK& brk) {
    uint64_t u64Pos = 0, u64Last = 0;
    std::optional<ISO_BOX> moov;
    bool bFragments = false;
    for (std::optional<ISO_BOX> box = CIsoMediaSamples::ReadBox(pData, nSize, 0);
         box && CIsoMediaSamples::IsTopLevel(*box) && box->u64Size <= nSize - u64Pos;
         box = CIsoMediaSamples::ReadBox(pData, nSize, u64Pos)) {
        if (std::memcmp(box->szType, "moov", 4) == 0)
            moov = box;
        bFragments |= std::memcmp(box->szType, "moof", 4) == 0;
        u64Last = u64Pos;
        u64Pos += box->u64Size;
    }
    brk = {size_t(u64Last), std::min<size_t>(nSize, size_t(u64Pos) + 8)};
    if (u64Pos != nSize || ProveWithWalker(pData, nSize, CVideoFormats::GetIsoMediaFileBytesSize) !=
                               PROOF_STATE::WHOLE)
        return PROOF_STATE::DAMAGED;
    if (!moov)
        return bFragments ? PROOF_STATE::UNCHECKED : PROOF_STATE::DAMAGED;
    std::vector<ISO_SAMPLE> vecSamples;
    if (!CIsoMediaSamples::Read(pData + moov->u64Payload,
                                size_t(moov->u64Offset + moov->u64Size - moov->u64Payload),
                                vecSamples))
        return PROOF_STATE::UNCHECKED;
    const CByteView file(pData, nSize);
    const CIsoMediaSamples::ReadFunc read = [&](uint64_t u64Offset, uint8_t* pOut, size_t nBytes) {
        std::optional<CByteView> bytes = file.Slice(size_t(u64Offset), nBytes);
        if (!bytes)
            return false;
        std::memcpy(pOut, bytes->Data(), nBytes);
        return true;
    };
    uint64_t u64Good = 0;
    for (const ISO_SAMPLE& sample : vecSamples) {
        const uint64_t u64End = sample.u64Offset + sample.u32Size;
        if (u64End > nSize) {
            brk = {size_t(u64Good), nSize};
            return PROOF_STATE::DAMAGED;
        }
        if (sample.u8LengthBytes == 0)
            continue;
        // Only the length fields and unit headers are seen: the break may lie anywhere behind
        // the last of them that checked out.
        if (!CIsoMediaSamples::IsWholeSample(sample, read, &u64Good)) {
            brk = {size_t(u64Good), size_t(u64End)};
            return PROOF_STATE::DAMAGED;
        }
    }
    return PROOF_STATE::UNCHECKED;
}

PROOF_STATE ProveIsoMedia(const uint8_t* pData, size_t nSize) {
    PROOF_BREAK brk;
    return CheckIsoMedia(pData, nSize, brk);
}
PROOF_STATE ProveMp3(const uint8_t* pData, size_t nSize) {
    return ProveWithWalker(pData, nSize, CAudioFormats::GetMP3FileBytesSize);
}

struct PROVER {
    std::string_view svExtension;
    PROOF_STATE (*pfnProve)(const uint8_t*, size_t);
    // The cheaper check at PROOF_DEPTH::STRUCTURE; null when the format has only one.
    PROOF_STATE (*pfnProveStructure)(const uint8_t*, size_t) = nullptr;
};

constexpr PROVER PROVERS[] = {
    {"png", CFileProof::ProvePng, CFileProof::ProvePngStructure},
    {"jpg", CFileProof::ProveJpeg, CFileProof::ProveJpegStructure},
    {"jpeg", CFileProof::ProveJpeg, CFileProof::ProveJpegStructure},
    {"jpe", CFileProof::ProveJpeg, CFileProof::ProveJpegStructure},
    {"jfif", CFileProof::ProveJpeg, CFileProof::ProveJpegStructure},
    {"zip", CFileProof::ProveZip},
    {"docx", CFileProof::ProveZip},
    {"xlsx", CFileProof::ProveZip},
    {"pptx", CFileProof::ProveZip},
    {"odt", CFileProof::ProveZip},
    {"ods", CFileProof::ProveZip},
    {"odp", CFileProof::ProveZip},
    {"odg", CFileProof::ProveZip},
    {"epub", CFileProof::ProveZip},
    {"jar", CFileProof::ProveZip},
    {"xps", CFileProof::ProveZip},
    {"gz", CFileProof::ProveGzip},
    {"tgz", CFileProof::ProveGzip},
    {"pdf", CFileProof::ProvePdf},
    {"flac", CFileProof::ProveFlac},
    {"mp4", ProveIsoMedia},
    {"mov", ProveIsoMedia},
    {"m4a", ProveIsoMedia},
    {"m4v", ProveIsoMedia},
    {"m4b", ProveIsoMedia},
    {"3gp", ProveIsoMedia},
    {"3g2", ProveIsoMedia},
    {"ogg", CFileProof::ProveOgg},
    {"oga", CFileProof::ProveOgg},
    {"opus", CFileProof::ProveOgg},
    {"spx", CFileProof::ProveOgg},
    {"mp3", ProveMp3},
};

const PROVER* FindProver(const char* pExtension) {
    if (pExtension == nullptr)
        return nullptr;
    const std::string_view svExtension(pExtension);
    for (const PROVER& prover : PROVERS)
        if (prover.svExtension == svExtension)
            return &prover;
    return nullptr;
}

PROOF_STATE Worse(PROOF_STATE a, PROOF_STATE b) {
    if (a == PROOF_STATE::DAMAGED || b == PROOF_STATE::DAMAGED)
        return PROOF_STATE::DAMAGED;
    return a == PROOF_STATE::UNCHECKED || b == PROOF_STATE::UNCHECKED ? PROOF_STATE::UNCHECKED
                                                                      : PROOF_STATE::WHOLE;
}

// A member's data, stored or deflated, against the CRC-32 and size its records state.
PROOF_STATE ProveZipData(CByteView data, uint16_t u16Method, uint32_t u32Crc, uint64_t u64Size) {
    uint32_t u32Found = 0;
    uint64_t u64Produced = data.Size();
    if (u16Method == ZIP_STORED) {
        u32Found = static_cast<uint32_t>(crc32_z(0, data.Data(), data.Size()));
    } else {
        CInflateCheck inflater(-MAX_WBITS);
        if (!inflater.Feed(data.Data(), data.Size()) || !inflater.Ended())
            return PROOF_STATE::DAMAGED;
        u32Found = inflater.Crc();
        u64Produced = inflater.Produced();
    }
    return u32Found == u32Crc && u64Produced == u64Size ? PROOF_STATE::WHOLE : PROOF_STATE::DAMAGED;
}

// One member of a ZIP package, from its central directory entry: its data inflated (or taken
// as stored) must give the CRC-32 and size the directory states.
PROOF_STATE ProveZipMember(CByteView file, CByteView entry) {
    const uint16_t u16Flags = *entry.U16LE(CD_FLAGS);
    const uint16_t u16Method = *entry.U16LE(CD_METHOD);
    const uint32_t u32Packed = *entry.U32LE(CD_PACKED);
    const uint32_t u32Size = *entry.U32LE(CD_SIZE);
    const uint32_t u32Local = *entry.U32LE(CD_LOCAL_OFFSET);
    if ((u16Flags & ZIP_FLAG_ENCRYPTED) != 0 || u32Packed == ZIP64_MARK || u32Size == ZIP64_MARK ||
        u32Local == ZIP64_MARK || (u16Method != ZIP_STORED && u16Method != ZIP_DEFLATED))
        return PROOF_STATE::UNCHECKED;
    if (!file.Matches(u32Local, ZIP_LOCAL_SIGNATURE, sizeof(ZIP_LOCAL_SIGNATURE)) ||
        !file.Has(u32Local, ZIP_LOCAL_BYTES))
        return PROOF_STATE::DAMAGED;
    const uint64_t u64Data = uint64_t(u32Local) + ZIP_LOCAL_BYTES +
                             *file.U16LE(u32Local + LH_NAME) + *file.U16LE(u32Local + LH_EXTRA);
    std::optional<CByteView> data = file.Slice(u64Data, u32Packed);
    if (!data)
        return PROOF_STATE::DAMAGED;
    return ProveZipData(*data, u16Method, *entry.U32LE(CD_CRC), u32Size);
}

// The end of central directory record whose comment ends exactly at the end of the file.
std::optional<size_t> FindZipEnd(CByteView file) {
    if (file.Size() < ZIP_EOCD_BYTES)
        return std::nullopt;
    const size_t nLast = file.Size() - ZIP_EOCD_BYTES;
    const size_t nFirst = nLast > ZIP_MAX_COMMENT ? nLast - ZIP_MAX_COMMENT : 0;
    for (size_t nPos = nLast + 1; nPos-- > nFirst;)
        if (file.Matches(nPos, ZIP_EOCD_SIGNATURE, sizeof(ZIP_EOCD_SIGNATURE)) &&
            *file.U16LE(nPos + EOCD_COMMENT) == nLast - nPos)
            return nPos;
    return std::nullopt;
}

// Skips a NUL-terminated text of a gzip header; false when the data ends first.
bool SkipText(CByteView file, size_t& nOff) {
    std::optional<size_t> nEnd = file.Find("", 1, nOff);
    if (!nEnd)
        return false;
    nOff = *nEnd + 1;
    return true;
}

// One gzip member at nOff; nOff moves past its trailer.
PROOF_STATE ProveGzipMember(CByteView file, size_t& nOff) {
    if (!file.Has(nOff, GZIP_HEADER_BYTES))
        return PROOF_STATE::DAMAGED;
    const uint8_t u8Flags = *file.U8(nOff + GZIP_FLAGS);
    size_t nPos = nOff + GZIP_HEADER_BYTES;
    if ((u8Flags & GZIP_FEXTRA) != 0) {
        std::optional<uint16_t> u16Extra = file.U16LE(nPos);
        if (!u16Extra)
            return PROOF_STATE::DAMAGED;
        nPos += 2 + *u16Extra;
    }
    if (((u8Flags & GZIP_FNAME) != 0 && !SkipText(file, nPos)) ||
        ((u8Flags & GZIP_FCOMMENT) != 0 && !SkipText(file, nPos)))
        return PROOF_STATE::DAMAGED;
    if ((u8Flags & GZIP_FHCRC) != 0)
        nPos += 2;
    if (nPos > file.Size())
        return PROOF_STATE::DAMAGED;
    CInflateCheck inflater(-MAX_WBITS);
    if (!inflater.Feed(file.Data() + nPos, file.Size() - nPos) || !inflater.Ended())
        return PROOF_STATE::DAMAGED;
    const size_t nTrailer = nPos + size_t(inflater.Consumed());
    std::optional<uint32_t> u32Crc = file.U32LE(nTrailer);
    std::optional<uint32_t> u32Size = file.U32LE(nTrailer + 4);
    if (!u32Crc || !u32Size || *u32Crc != inflater.Crc() ||
        *u32Size != static_cast<uint32_t>(inflater.Produced()))
        return PROOF_STATE::DAMAGED;
    nOff = nTrailer + GZIP_TRAILER_BYTES;
    return PROOF_STATE::WHOLE;
}

bool IsAllZero(const uint8_t* pData, size_t nSize) {
    return std::all_of(pData, pData + nSize, [](uint8_t c) { return c == 0; });
}

// The decimal number at nOff (spaces before it skipped); nOff moves past it.
std::optional<uint64_t> ReadNumber(CByteView file, size_t& nOff) {
    while (nOff < file.Size() &&
           (file.Data()[nOff] == ' ' || file.Data()[nOff] == '\r' || file.Data()[nOff] == '\n'))
        ++nOff;
    uint64_t u64Value = 0;
    size_t nDigits = 0;
    for (; nOff < file.Size() && file.Data()[nOff] >= '0' && file.Data()[nOff] <= '9'; ++nOff) {
        if (++nDigits > 12)
            return std::nullopt;
        u64Value = u64Value * 10 + uint64_t(file.Data()[nOff] - '0');
    }
    return nDigits == 0 ? std::nullopt : std::optional<uint64_t>(u64Value);
}

// "N G obj" at the offset.
bool LandsOnObject(CByteView file, uint64_t u64Offset) {
    if (u64Offset >= file.Size())
        return false;
    size_t nPos = static_cast<size_t>(u64Offset);
    if (!ReadNumber(file, nPos) || !ReadNumber(file, nPos))
        return false;
    std::optional<CByteView> tail =
        file.Slice(nPos, std::min(PDF_OBJ_HEADER_BYTES, file.Size() - nPos));
    return tail && tail->Find("obj", 3).has_value();
}

// A frame starts with the sync code 0xFFF8 or 0xFFF9 (fixed or variable block size).
bool IsFlacFrameStart(CByteView file, size_t nPos) {
    return file.Has(nPos, FLAC_MIN_FRAME_BYTES) && file.Data()[nPos] == 0xFF &&
           (file.Data()[nPos + 1] & 0xFE) == 0xF8;
}

std::optional<PROOF_BREAK> PngBreak(const uint8_t* pData, size_t nSize) {
    PROOF_BREAK brk;
    return WalkPngChunks(CByteView(pData, nSize), nullptr, &brk) == PROOF_STATE::DAMAGED
               ? std::optional<PROOF_BREAK>(brk)
               : std::nullopt;
}

// The member whose local header is at nPos; nNext is set past its data.
PROOF_STATE ProveLocalMember(CByteView file, size_t nPos, size_t& nNext) {
    std::optional<CByteView> local = file.Slice(nPos, ZIP_LOCAL_BYTES);
    if (!local || !local->Matches(0, ZIP_LOCAL_SIGNATURE, sizeof(ZIP_LOCAL_SIGNATURE)))
        return PROOF_STATE::DAMAGED;
    const uint16_t u16Method = *local->U16LE(LH_METHOD);
    const uint32_t u32Packed = *local->U32LE(LH_PACKED);
    if ((*local->U16LE(LH_FLAGS) & (ZIP_FLAG_DESCRIPTOR | ZIP_FLAG_ENCRYPTED)) != 0 ||
        u32Packed == ZIP64_MARK || (u16Method != ZIP_STORED && u16Method != ZIP_DEFLATED))
        return PROOF_STATE::UNCHECKED;
    const size_t nData = nPos + ZIP_LOCAL_BYTES + *local->U16LE(LH_NAME) + *local->U16LE(LH_EXTRA);
    nNext = nData + u32Packed;
    std::optional<CByteView> data = file.Slice(nData, u32Packed);
    if (!data)
        return PROOF_STATE::DAMAGED;
    return ProveZipData(*data, u16Method, *local->U32LE(LH_CRC), *local->U32LE(LH_SIZE));
}

// Members walked by their local headers: the first whose data fails its CRC or whose sizes do
// not lead to another record holds the break. Streamed members state no sizes there.
std::optional<PROOF_BREAK> ZipBreak(const uint8_t* pData, size_t nSize) {
    const CByteView file(pData, nSize);
    size_t nPos = 0;
    while (file.Matches(nPos, ZIP_LOCAL_SIGNATURE, sizeof(ZIP_LOCAL_SIGNATURE))) {
        size_t nNext = nSize;
        const PROOF_STATE state = ProveLocalMember(file, nPos, nNext);
        if (state == PROOF_STATE::UNCHECKED)
            return std::nullopt;
        if (state == PROOF_STATE::DAMAGED || !file.Has(nNext, 4) || pData[nNext] != 'P' ||
            pData[nNext + 1] != 'K')
            return PROOF_BREAK{nPos, std::min(nSize, nNext + 4)};
        nPos = nNext;
    }
    return file.Matches(nPos, ZIP_CENTRAL_SIGNATURE, sizeof(ZIP_CENTRAL_SIGNATURE))
               ? std::nullopt
               : std::optional<PROOF_BREAK>(PROOF_BREAK{nPos, std::min(nSize, nPos + 4)});
}

} // namespace

bool CFileProof::CanFindBreak(const char* pExtension) {
    const PROVER* pProver = FindProver(pExtension);
    return pProver != nullptr &&
           (pProver->pfnProve == ProvePng || pProver->pfnProve == ProveZip ||
            pProver->pfnProve == ProveJpeg || pProver->pfnProve == ProveIsoMedia);
}

std::optional<PROOF_BREAK> CFileProof::FindBreak(const uint8_t* pData, size_t nSize,
                                                 const char* pExtension) {
    const PROVER* pProver = FindProver(pExtension);
    if (pProver == nullptr || pData == nullptr)
        return std::nullopt;
    if (pProver->pfnProve == ProvePng)
        return PngBreak(pData, nSize);
    if (pProver->pfnProve == ProveZip)
        return ZipBreak(pData, nSize);
    if (pProver->pfnProve == ProveIsoMedia) {
        PROOF_BREAK brk;
        return CheckIsoMedia(pData, nSize, brk) == PROOF_STATE::DAMAGED
                   ? std::optional<PROOF_BREAK>(brk)
                   : std::nullopt;
    }
    if (pProver->pfnProve == ProveJpeg) {
        const JPEG_WALK walk = CJpegStructure::Walk(pData, nSize, true);
        return walk.bWhole ? std::nullopt
                           : std::optional<PROOF_BREAK>(PROOF_BREAK{walk.nIntact, walk.nEnd});
    }
    return std::nullopt;
}

bool CFileProof::CanProve(const char* pExtension) {
    return FindProver(pExtension) != nullptr;
}

PROOF_STATE CFileProof::Prove(const uint8_t* pData, size_t nSize, const char* pExtension,
                              PROOF_DEPTH depth) {
    const PROVER* pProver = FindProver(pExtension);
    if (pProver == nullptr || pData == nullptr || nSize == 0)
        return PROOF_STATE::UNCHECKED;
    if (depth == PROOF_DEPTH::STRUCTURE && pProver->pfnProveStructure != nullptr)
        return pProver->pfnProveStructure(pData, nSize);
    return pProver->pfnProve(pData, nSize);
}

uint32_t CFileProof::HealthOf(PROOF_STATE state) {
    switch (state) {
    case PROOF_STATE::WHOLE:
        return DATA_HEALTH_WHOLE;
    case PROOF_STATE::DAMAGED:
        return DATA_HEALTH_DAMAGED;
    default:
        return 1;
    }
}

const char* CFileProof::GetStateName(uint32_t nDataHealth) {
    if (nDataHealth == DATA_HEALTH_WHOLE)
        return "whole";
    return nDataHealth == DATA_HEALTH_INTACT_OR_UNKNOWN ? "unchecked" : "damaged";
}

PROOF_STATE CFileProof::ProvePng(const uint8_t* pData, size_t nSize) {
    CInflateCheck image(MAX_WBITS);
    return WalkPngChunks(CByteView(pData, nSize), &image);
}

PROOF_STATE CFileProof::ProvePngStructure(const uint8_t* pData, size_t nSize) {
    return WalkPngChunks(CByteView(pData, nSize), nullptr);
}

PROOF_STATE CFileProof::ProveZip(const uint8_t* pData, size_t nSize) {
    const CByteView file(pData, nSize);
    std::optional<size_t> nEnd = FindZipEnd(file);
    if (!nEnd)
        return PROOF_STATE::DAMAGED;
    const uint16_t u16Entries = *file.U16LE(*nEnd + EOCD_ENTRIES);
    const uint32_t u32DirSize = *file.U32LE(*nEnd + EOCD_CD_SIZE);
    const uint32_t u32DirOffset = *file.U32LE(*nEnd + EOCD_CD_OFFSET);
    if (u16Entries == 0xFFFF || u32DirOffset == ZIP64_MARK || u32DirSize == ZIP64_MARK)
        return PROOF_STATE::UNCHECKED;
    if (uint64_t(u32DirOffset) + u32DirSize > *nEnd)
        return PROOF_STATE::DAMAGED;
    PROOF_STATE state = PROOF_STATE::WHOLE;
    size_t nPos = u32DirOffset;
    for (uint32_t i = 0; i < u16Entries && state != PROOF_STATE::DAMAGED; ++i) {
        std::optional<CByteView> entry = file.Slice(nPos, ZIP_CENTRAL_BYTES);
        if (!entry || !entry->Matches(0, ZIP_CENTRAL_SIGNATURE, sizeof(ZIP_CENTRAL_SIGNATURE)))
            return PROOF_STATE::DAMAGED;
        state = Worse(state, ProveZipMember(file, *entry));
        nPos += ZIP_CENTRAL_BYTES + *entry->U16LE(CD_NAME) + *entry->U16LE(CD_EXTRA) +
                *entry->U16LE(CD_COMMENT);
    }
    return state;
}

PROOF_STATE CFileProof::ProveZipEntry(const uint8_t* pData, size_t nSize, const uint8_t* pEntry) {
    return ProveZipMember(CByteView(pData, nSize), CByteView(pEntry, ZIP_CENTRAL_BYTES));
}

PROOF_STATE CFileProof::ProveGzip(const uint8_t* pData, size_t nSize) {
    const CByteView file(pData, nSize);
    size_t nOff = 0;
    do {
        if (!file.Matches(nOff, GZIP_MAGIC, sizeof(GZIP_MAGIC)))
            return PROOF_STATE::DAMAGED;
        if (ProveGzipMember(file, nOff) != PROOF_STATE::WHOLE)
            return PROOF_STATE::DAMAGED;
    } while (file.Matches(nOff, GZIP_MAGIC, sizeof(GZIP_MAGIC)));
    // Only zeros may follow the last member (tape and block padding).
    return IsAllZero(pData + nOff, nSize - nOff) ? PROOF_STATE::WHOLE : PROOF_STATE::DAMAGED;
}

namespace {

// Decoded at the smallest scale: every Huffman code is still read, the picture stays tiny. Any
// warning (corrupt data, a marker in the wrong place, data ending early) stops the decoding.
PROOF_STATE DecodeJpeg(const uint8_t* pData, size_t nSize) {
    tjhandle hDecoder = tjInitDecompress();
    if (hDecoder == nullptr)
        return PROOF_STATE::UNCHECKED;
    int nWidth = 0, nHeight = 0, nSubsampling = 0, nColorspace = 0;
    unsigned char* pJpeg = const_cast<unsigned char*>(pData);
    const unsigned long ulSize = static_cast<unsigned long>(nSize);
    PROOF_STATE state = PROOF_STATE::DAMAGED;
    if (tjDecompressHeader3(hDecoder, pJpeg, ulSize, &nWidth, &nHeight, &nSubsampling,
                            &nColorspace) == 0) {
        int nFactors = 0;
        tjscalingfactor* pFactors = tjGetScalingFactors(&nFactors);
        tjscalingfactor smallest = {1, 1};
        for (int i = 0; pFactors != nullptr && i < nFactors; ++i)
            if (pFactors[i].num * smallest.denom < smallest.num * pFactors[i].denom)
                smallest = pFactors[i];
        const int nScaledWidth = TJSCALED(nWidth, smallest);
        const int nScaledHeight = TJSCALED(nHeight, smallest);
        std::vector<unsigned char> pixels(size_t(nScaledWidth) * size_t(nScaledHeight));
        if (tjDecompress2(hDecoder, pJpeg, ulSize, pixels.data(), nScaledWidth, 0, nScaledHeight,
                          TJPF_GRAY, TJFLAG_STOPONWARNING) == 0)
            state = PROOF_STATE::WHOLE;
    }
    tjDestroy(hDecoder);
    return state;
}

} // namespace

PROOF_STATE CFileProof::ProveJpeg(const uint8_t* pData, size_t nSize) {
    if (!CJpegStructure::Walk(pData, nSize).bWhole)
        return PROOF_STATE::DAMAGED;
    return DecodeJpeg(pData, nSize);
}

// The last cross-reference table: each object in use must stand where its entry says.
PROOF_STATE CFileProof::ProvePdf(const uint8_t* pData, size_t nSize) {
    const CByteView file(pData, nSize);
    const size_t nTail = nSize > PDF_TAIL_BYTES ? nSize - PDF_TAIL_BYTES : 0;
    std::optional<size_t> nStart;
    for (std::optional<size_t> nFound = file.Find("startxref", 9, nTail); nFound;
         nFound = file.Find("startxref", 9, *nFound + 1))
        nStart = nFound;
    if (!nStart)
        return PROOF_STATE::DAMAGED;
    size_t nPos = *nStart + 9;
    std::optional<uint64_t> u64Xref = ReadNumber(file, nPos);
    if (!u64Xref || *u64Xref >= nSize)
        return PROOF_STATE::DAMAGED;
    if (!file.Matches(*u64Xref, "xref", 4))
        return LandsOnObject(file, *u64Xref) ? PROOF_STATE::UNCHECKED : PROOF_STATE::DAMAGED;
    nPos = size_t(*u64Xref) + 4;
    for (;;) {
        size_t nHeader = nPos;
        std::optional<uint64_t> u64First = ReadNumber(file, nHeader);
        std::optional<uint64_t> u64Count = ReadNumber(file, nHeader);
        if (!u64First || !u64Count)
            break;
        while (nHeader < nSize &&
               (pData[nHeader] == ' ' || pData[nHeader] == '\r' || pData[nHeader] == '\n'))
            ++nHeader;
        if (*u64Count > (nSize - nHeader) / PDF_XREF_ENTRY_BYTES)
            return PROOF_STATE::DAMAGED;
        for (uint64_t i = 0; i < *u64Count; ++i) {
            const size_t nEntry = nHeader + size_t(i) * PDF_XREF_ENTRY_BYTES;
            size_t nField = nEntry;
            std::optional<uint64_t> u64Offset = ReadNumber(file, nField);
            if (!u64Offset || nEntry + 17 >= nSize)
                return PROOF_STATE::DAMAGED;
            if (pData[nEntry + 17] == 'n' && !LandsOnObject(file, *u64Offset))
                return PROOF_STATE::DAMAGED;
        }
        nPos = nHeader + size_t(*u64Count) * PDF_XREF_ENTRY_BYTES;
    }
    return file.Matches(nPos, "trailer", 7) ? PROOF_STATE::WHOLE : PROOF_STATE::DAMAGED;
}

// Every frame's CRC-16, frame by frame from the first to the last byte of the file.
PROOF_STATE CFileProof::ProveFlac(const uint8_t* pData, size_t nSize) {
    const CByteView file(pData, nSize);
    if (!file.Matches(0, "fLaC", FLAC_MARKER_BYTES))
        return PROOF_STATE::DAMAGED;
    size_t nPos = FLAC_MARKER_BYTES;
    for (bool bLast = false; !bLast;) {
        std::optional<uint32_t> u32Header = file.U32BE(nPos);
        if (!u32Header)
            return PROOF_STATE::DAMAGED;
        bLast = (*u32Header >> 31) != 0;
        nPos += FLAC_BLOCK_HEADER_BYTES + (*u32Header & 0xFFFFFF);
    }
    if (!IsFlacFrameStart(file, nPos))
        return PROOF_STATE::DAMAGED;
    while (nPos < nSize) {
        // The frame ends where its running CRC-16 equals the two bytes that follow, at the end
        // of the file or just before the next frame header.
        uint16_t u16Crc = FlacCrc16Update(0, pData + nPos, FLAC_MIN_FRAME_BYTES - 2);
        size_t nEnd = nPos + FLAC_MIN_FRAME_BYTES - 2;
        const size_t nLimit = std::min(nSize, nPos + FLAC_MAX_FRAME_BYTES);
        bool bFound = false;
        for (; nEnd + 2 <= nLimit; u16Crc = FlacCrc16Update(u16Crc, pData + nEnd, 1), ++nEnd) {
            if (LoadU16BE(pData + nEnd) == u16Crc &&
                (nEnd + 2 == nSize || IsFlacFrameStart(file, nEnd + 2))) {
                bFound = true;
                break;
            }
        }
        if (!bFound)
            return PROOF_STATE::DAMAGED;
        nPos = nEnd + 2;
    }
    return PROOF_STATE::WHOLE;
}

// Pages end to end from the first byte to the last, every one with its CRC.
PROOF_STATE CFileProof::ProveOgg(const uint8_t* pData, size_t nSize) {
    const CByteView file(pData, nSize);
    size_t nPos = 0;
    while (nPos < nSize) {
        if (!file.Matches(nPos, "OggS", 4) || !file.Has(nPos, OGG_HEADER_BYTES))
            return PROOF_STATE::DAMAGED;
        const size_t nSegments = *file.U8(nPos + OGG_SEGMENTS);
        std::optional<CByteView> lacing = file.Slice(nPos + OGG_HEADER_BYTES, nSegments);
        if (!lacing)
            return PROOF_STATE::DAMAGED;
        size_t nPage = OGG_HEADER_BYTES + nSegments;
        for (size_t i = 0; i < nSegments; ++i)
            nPage += lacing->Data()[i];
        if (!file.Has(nPos, nPage))
            return PROOF_STATE::DAMAGED;
        const uint8_t zeros[4] = {};
        uint32_t u32Crc = OggCrcUpdate(0, pData + nPos, OGG_CRC);
        u32Crc = OggCrcUpdate(u32Crc, zeros, sizeof(zeros));
        u32Crc = OggCrcUpdate(u32Crc, pData + nPos + OGG_CRC + 4, nPage - OGG_CRC - 4);
        if (u32Crc != *file.U32LE(nPos + OGG_CRC))
            return PROOF_STATE::DAMAGED;
        nPos += nPage;
    }
    return PROOF_STATE::WHOLE;
}

// Text or fill between the pieces of a JPEG read in a row passes every structural check: a
// file with such a stretch is decoded.
PROOF_STATE CFileProof::ProveJpegStructure(const uint8_t* pData, size_t nSize) {
    const JPEG_WALK walk = CJpegStructure::Walk(pData, nSize);
    if (!walk.bWhole)
        return PROOF_STATE::DAMAGED;
    if (walk.state.nLongestUnmarked > CPictureFormats::JPEG_MAX_UNMARKED_STRETCH)
        return DecodeJpeg(pData, nSize);
    return PROOF_STATE::WHOLE;
}
