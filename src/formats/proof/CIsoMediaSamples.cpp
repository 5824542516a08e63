// Sample tables of ISO base media files: stsd (which tracks carry length-prefixed NAL units),
// stsz, stsc and stco/co64, turned into each sample's place in the file.
#include "formats/proof/CIsoMediaSamples.h"

#include "formats/carving/CVideoFormats.h"
#include "util/ByteView.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t BOX_HEADER = 8, BOX_LARGE_HEADER = 16;
constexpr uint32_t BOX_LARGE_SIZE = 1;
constexpr size_t FULL_BOX_HEADER = 4; // version and flags
// A visual sample entry's fields before its child boxes (avcC, hvcC).
constexpr size_t VISUAL_ENTRY_FIELDS = 78;
constexpr size_t AVCC_LENGTH_SIZE = 4, HVCC_LENGTH_SIZE = 21;
constexpr uint8_t LENGTH_SIZE_MASK = 3;
constexpr uint8_t NAL_FORBIDDEN_BIT = 0x80;
// More samples than this in one file are not believed (the tables would take gigabytes).
constexpr uint64_t MAX_SAMPLES = 1u << 22;

// A box's payload inside a parent's payload; nullopt at the end or when it does not fit.
struct CHILD {
    CByteView payload;
    size_t nNext;
    const uint8_t* pType;
};

std::optional<CHILD> ChildAt(CByteView parent, size_t nOff) {
    std::optional<uint32_t> u32Size = parent.U32BE(nOff);
    if (!u32Size || !parent.Has(nOff, BOX_HEADER))
        return std::nullopt;
    uint64_t u64Size = *u32Size;
    size_t nHeader = BOX_HEADER;
    if (u64Size == BOX_LARGE_SIZE) {
        std::optional<uint64_t> u64Large = parent.U64BE(nOff + BOX_HEADER);
        if (!u64Large)
            return std::nullopt;
        u64Size = *u64Large;
        nHeader = BOX_LARGE_HEADER;
    } else if (u64Size == 0) {
        u64Size = parent.Size() - nOff;
    }
    if (u64Size < nHeader || !parent.Has(nOff, size_t(u64Size)))
        return std::nullopt;
    return CHILD{*parent.Slice(nOff + nHeader, size_t(u64Size) - nHeader), nOff + size_t(u64Size),
                 parent.Data() + nOff + 4};
}

std::optional<CByteView> FindChild(CByteView parent, const char* pType) {
    for (std::optional<CHILD> child = ChildAt(parent, 0); child;
         child = ChildAt(parent, child->nNext))
        if (std::memcmp(child->pType, pType, 4) == 0)
            return child->payload;
    return std::nullopt;
}

// The NAL length size of the track's first sample entry: 0 unless it is H.264 or H.265 in
// length-prefixed form.
uint8_t NalLengthBytes(CByteView stsd) {
    std::optional<CHILD> entry = ChildAt(stsd, FULL_BOX_HEADER + 4);
    if (!entry)
        return 0;
    const bool bAvc =
        std::memcmp(entry->pType, "avc1", 4) == 0 || std::memcmp(entry->pType, "avc3", 4) == 0;
    const bool bHevc =
        std::memcmp(entry->pType, "hvc1", 4) == 0 || std::memcmp(entry->pType, "hev1", 4) == 0;
    if ((!bAvc && !bHevc) || entry->payload.Size() < VISUAL_ENTRY_FIELDS)
        return 0;
    const CByteView children(entry->payload.Data() + VISUAL_ENTRY_FIELDS,
                             entry->payload.Size() - VISUAL_ENTRY_FIELDS);
    std::optional<CByteView> config = FindChild(children, bAvc ? "avcC" : "hvcC");
    std::optional<uint8_t> u8Field =
        config ? config->U8(bAvc ? AVCC_LENGTH_SIZE : HVCC_LENGTH_SIZE) : std::nullopt;
    const uint8_t u8Bytes = u8Field ? uint8_t((*u8Field & LENGTH_SIZE_MASK) + 1) : 0;
    return u8Bytes == 3 ? 0 : u8Bytes;
}

// One track's samples from its sample table.
bool ReadTrack(CByteView stbl, std::vector<ISO_SAMPLE>& vecSamples) {
    std::optional<CByteView> stsd = FindChild(stbl, "stsd");
    std::optional<CByteView> stsz = FindChild(stbl, "stsz");
    std::optional<CByteView> stsc = FindChild(stbl, "stsc");
    std::optional<CByteView> stco = FindChild(stbl, "stco");
    std::optional<CByteView> co64 = FindChild(stbl, "co64");
    if (!stsd || !stsz || !stsc || (!stco && !co64))
        return false;
    const uint8_t u8LengthBytes = NalLengthBytes(*stsd);
    const CByteView chunks = stco ? *stco : *co64;
    const size_t nOffsetBytes = stco ? 4 : 8;
    std::optional<uint32_t> u32Fixed = stsz->U32BE(FULL_BOX_HEADER);
    std::optional<uint32_t> u32Samples = stsz->U32BE(FULL_BOX_HEADER + 4);
    std::optional<uint32_t> u32Chunks = chunks.U32BE(FULL_BOX_HEADER);
    std::optional<uint32_t> u32Runs = stsc->U32BE(FULL_BOX_HEADER);
    if (!u32Fixed || !u32Samples || !u32Chunks || !u32Runs || *u32Samples > MAX_SAMPLES ||
        vecSamples.size() + *u32Samples > MAX_SAMPLES ||
        (*u32Fixed == 0 && !stsz->Has(FULL_BOX_HEADER + 8, size_t(*u32Samples) * 4)) ||
        !chunks.Has(FULL_BOX_HEADER + 4, size_t(*u32Chunks) * nOffsetBytes) ||
        !stsc->Has(FULL_BOX_HEADER + 4, size_t(*u32Runs) * 12))
        return false;
    uint32_t nSample = 0;
    for (uint32_t nRun = 0; nRun < *u32Runs; ++nRun) {
        const size_t nEntry = FULL_BOX_HEADER + 4 + size_t(nRun) * 12;
        const uint32_t u32First = *stsc->U32BE(nEntry);
        const uint32_t u32PerChunk = *stsc->U32BE(nEntry + 4);
        const uint32_t u32End = nRun + 1 < *u32Runs ? *stsc->U32BE(nEntry + 12) : *u32Chunks + 1;
        if (u32First == 0 || u32End < u32First || u32End > *u32Chunks + 1)
            return false;
        for (uint32_t nChunk = u32First; nChunk < u32End; ++nChunk) {
            const size_t nField = FULL_BOX_HEADER + 4 + size_t(nChunk - 1) * nOffsetBytes;
            uint64_t u64Offset = stco ? *chunks.U32BE(nField) : *chunks.U64BE(nField);
            for (uint32_t i = 0; i < u32PerChunk && nSample < *u32Samples; ++i, ++nSample) {
                const uint32_t u32Size =
                    *u32Fixed != 0 ? *u32Fixed
                                   : *stsz->U32BE(FULL_BOX_HEADER + 8 + size_t(nSample) * 4);
                vecSamples.push_back({u64Offset, u32Size, u8LengthBytes});
                u64Offset += u32Size;
            }
        }
    }
    return nSample == *u32Samples;
}

} // namespace

std::optional<ISO_BOX> CIsoMediaSamples::ReadBox(const uint8_t* pData, size_t nSize,
                                                 uint64_t u64Offset) {
    const CByteView file(pData, nSize);
    if (u64Offset > nSize || !file.Has(size_t(u64Offset), BOX_HEADER))
        return std::nullopt;
    ISO_BOX box;
    box.u64Offset = u64Offset;
    box.u64Size = *file.U32BE(size_t(u64Offset));
    box.u64Payload = u64Offset + BOX_HEADER;
    std::memcpy(box.szType, pData + u64Offset + 4, 4);
    if (box.u64Size == BOX_LARGE_SIZE) {
        std::optional<uint64_t> u64Large = file.U64BE(size_t(u64Offset) + BOX_HEADER);
        if (!u64Large)
            return std::nullopt;
        box.u64Size = *u64Large;
        box.u64Payload = u64Offset + BOX_LARGE_HEADER;
    } else if (box.u64Size == 0) {
        box.u64Size = nSize - u64Offset;
    }
    if (box.u64Size < box.u64Payload - u64Offset)
        return std::nullopt;
    return box;
}

bool CIsoMediaSamples::IsTopLevel(const ISO_BOX& box) {
    if (std::memcmp(box.szType, "ftyp", 4) == 0)
        return box.u64Offset == 0;
    return CVideoFormats::IsTopLevelBoxType(reinterpret_cast<const uint8_t*>(box.szType));
}

bool CIsoMediaSamples::Read(const uint8_t* pMoov, size_t nMoov,
                            std::vector<ISO_SAMPLE>& vecSamples) {
    vecSamples.clear();
    const CByteView moov(pMoov, nMoov);
    for (std::optional<CHILD> trak = ChildAt(moov, 0); trak; trak = ChildAt(moov, trak->nNext)) {
        if (std::memcmp(trak->pType, "trak", 4) != 0)
            continue;
        std::optional<CByteView> mdia = FindChild(trak->payload, "mdia");
        std::optional<CByteView> minf = mdia ? FindChild(*mdia, "minf") : std::nullopt;
        std::optional<CByteView> stbl = minf ? FindChild(*minf, "stbl") : std::nullopt;
        if (!stbl || !ReadTrack(*stbl, vecSamples))
            return false;
    }
    std::sort(vecSamples.begin(), vecSamples.end(),
              [](const ISO_SAMPLE& a, const ISO_SAMPLE& b) { return a.u64Offset < b.u64Offset; });
    return true;
}

bool CIsoMediaSamples::IsWholeSample(const ISO_SAMPLE& sample, const ReadFunc& read,
                                     uint64_t* pVerified) {
    const uint64_t u64End = sample.u64Offset + sample.u32Size;
    for (uint64_t u64Pos = sample.u64Offset; u64Pos < u64End;) {
        uint8_t field[4 + 1];
        if (sample.u8LengthBytes == 0 || sample.u8LengthBytes > 4 ||
            u64End - u64Pos <= sample.u8LengthBytes ||
            !read(u64Pos, field, size_t(sample.u8LengthBytes) + 1))
            return false;
        uint32_t u32Length = 0;
        for (uint8_t i = 0; i < sample.u8LengthBytes; ++i)
            u32Length = u32Length << 8 | field[i];
        u64Pos += sample.u8LengthBytes;
        if (u32Length == 0 || u32Length > u64End - u64Pos ||
            (field[sample.u8LengthBytes] & NAL_FORBIDDEN_BIT) != 0)
            return false;
        if (pVerified != nullptr)
            *pVerified = u64Pos + 1;
        u64Pos += u32Length;
    }
    return true;
}
