// Video formats: ISO base media, Matroska/WebM, AVI, FLV, MPEG PS/ES, TS/M2TS, MXF,
// RealMedia, ASF, SWF.
#include "formats/carving/CVideoFormats.h"

#include "formats/carving/CRiffChunks.h"
#include "formats/carving/CarvingInflate.h"
#include "formats/carving/CarvingSignatures.h"

#include <algorithm>
#include <iterator>
#include <zlib.h>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;
constexpr uint64_t MIB = 1024 * 1024;
constexpr uint64_t GIB = 1024 * MIB;
constexpr uint64_t VIDEO_LIMIT = 256 * GIB;
// How far the end check may take a stream whose structure states no end.
constexpr uint64_t STREAM_LIMIT = 4 * GIB;

// ---- ISO base media

constexpr uint64_t BOX_HEADER = 8;
constexpr uint64_t BOX_LARGE_HEADER = 16;
constexpr uint32_t BOX_LARGE_SIZE = 1;
constexpr uint32_t BOX_TO_END = 0;
constexpr uint32_t FTYP_MIN = 16;
constexpr uint32_t FTYP_MAX = 4096;
// Boxes that stand at the top level of a file. ftyp only as the first.
constexpr const char* szTopLevelBoxes[] = {"moov", "mdat", "free", "skip", "wide", "uuid",
                                           "meta", "moof", "mfra", "styp", "sidx", "ssix",
                                           "prft", "emsg", "pdin", "pnot", "udta", "imda"};
// Boxes a QuickTime file without ftyp may start with, and how large that first box may be.
constexpr uint32_t QUICKTIME_MAX_FIRST_BOX = 0x40000000;
constexpr const char* szQuickTimeFirstBoxes[] = {"moov", "mdat", "wide", "free", "skip", "pnot"};

bool IsOneOf(CByteView type, const char* const* ppNames, size_t nNames) {
    return std::any_of(ppNames, ppNames + nNames,
                       [&type](const char* pName) { return type.Matches(0, pName, 4); });
}

bool IsTopLevelBox(CByteView type) {
    return IsOneOf(type, szTopLevelBoxes, std::size(szTopLevelBoxes));
}

// The format an ftyp box's major and compatible brands name.
EXTEND_NAME_TYPE BrandType(CByteView ftyp) {
    static const std::pair<const char*, EXTEND_NAME_TYPE> MAJOR[] = {
        {"qt  ", FILE_TYPE_MOV},  {"3gp", FILE_TYPE_3GP},   {"3g2", FILE_TYPE_3G2},
        {"M4A ", FILE_TYPE_M4A},  {"M4P ", FILE_TYPE_M4A},  {"M4B ", FILE_TYPE_M4B},
        {"M4V", FILE_TYPE_M4V},   {"crx ", FILE_TYPE_CR3},  {"heic", FILE_TYPE_HEIC},
        {"heix", FILE_TYPE_HEIC}, {"heim", FILE_TYPE_HEIC}, {"heis", FILE_TYPE_HEIC},
        {"hevc", FILE_TYPE_HEIC}, {"hevx", FILE_TYPE_HEIC}, {"hevm", FILE_TYPE_HEIC},
        {"hevs", FILE_TYPE_HEIC}, {"avif", FILE_TYPE_AVIF}, {"avis", FILE_TYPE_AVIF},
    };
    for (const auto& [pBrand, nType] : MAJOR) {
        if (ftyp.Matches(8, pBrand, std::strlen(pBrand)))
            return nType;
    }
    // A generic image brand: the compatible brands tell which coding it holds.
    if (ftyp.Matches(8, "mif1", 4) || ftyp.Matches(8, "msf1", 4)) {
        for (size_t off = 16; ftyp.Has(off, 4); off += 4) {
            if (ftyp.Matches(off, "heic", 4) || ftyp.Matches(off, "heix", 4))
                return FILE_TYPE_HEIC;
            if (ftyp.Matches(off, "avif", 4) || ftyp.Matches(off, "avis", 4))
                return FILE_TYPE_AVIF;
        }
        return FILE_TYPE_HEIF;
    }
    return FILE_TYPE_MP4;
}

// ---- Matroska

constexpr uint32_t EBML_ID = 0x1A45DFA3;
constexpr uint32_t SEGMENT_ID = 0x18538067;
constexpr uint32_t CLUSTER_ID = 0x1F43B675;
constexpr uint32_t szSegmentChildren[] = {0x114D9B74, 0x1549A966, 0x1654AE6B, CLUSTER_ID,
                                          0x1C53BB6B, 0x1941A469, 0x1043A770, 0x1254C367,
                                          0xEC,       0xBF};
constexpr uint32_t szClusterChildren[] = {0xE7, 0xA3, 0xA0, 0xA7, 0xAB, 0x5854, 0xEC, 0xBF, 0xAF};
constexpr uint8_t szDocType[] = {0x42, 0x82};
constexpr uint64_t EBML_MAX_HEADER = 256;

struct EBML_NUMBER {
    uint64_t u64Value;
    uint32_t u32Bytes;
    bool bUnknown; // a size of all ones: unknown
};

// An element ID (1-4 bytes, marker bits kept) or a size (1-8 bytes, marker removed).
std::optional<EBML_NUMBER> ReadEbml(CByteView view, bool bId) {
    if (!view.Has(0, 1) || view.Data()[0] == 0)
        return std::nullopt;
    const uint32_t u32Bytes = uint32_t(__builtin_clz(uint32_t(view.Data()[0]) << 24)) + 1;
    if ((bId && u32Bytes > 4) || !view.Has(0, u32Bytes))
        return std::nullopt;
    uint64_t u64Value = bId ? view.Data()[0] : view.Data()[0] & (0xFF >> u32Bytes);
    const uint64_t u64Ones = (uint64_t(1) << (7 * u32Bytes)) - 1;
    for (uint32_t i = 1; i < u32Bytes; ++i)
        u64Value = u64Value << 8 | view.Data()[i];
    return EBML_NUMBER{u64Value, u32Bytes, !bId && u64Value == u64Ones};
}

struct EBML_ELEMENT {
    uint32_t u32Id;
    uint64_t u64Data; // offset of the element's data
    uint64_t u64Size;
    bool bUnknownSize;
};

std::optional<EBML_ELEMENT> ReadElement(CCarvedFile& file, uint64_t u64Pos) {
    CByteView view = file.View(u64Pos, 12);
    auto id = ReadEbml(view, true);
    auto size = id ? view.Slice(id->u32Bytes, view.Size() - id->u32Bytes) : std::nullopt;
    auto length = size ? ReadEbml(*size, false) : std::nullopt;
    if (!length)
        return std::nullopt;
    return EBML_ELEMENT{uint32_t(id->u64Value), u64Pos + id->u32Bytes + length->u32Bytes,
                        length->u64Value, length->bUnknown};
}

template <size_t N> bool IsIdIn(uint32_t u32Id, const uint32_t (&ids)[N]) {
    return std::find(std::begin(ids), std::end(ids), u32Id) != std::end(ids);
}

// Past the children of an unknown-size cluster from u64Pos: where the next top-level element
// begins.
uint64_t SkipClusterChildren(CCarvedFile& file, uint64_t u64Pos) {
    while (u64Pos < VIDEO_LIMIT) {
        auto element = ReadElement(file, u64Pos);
        if (!element || element->bUnknownSize || !IsIdIn(element->u32Id, szClusterChildren))
            break;
        u64Pos = element->u64Data + element->u64Size;
    }
    return u64Pos;
}

// The Segment's children from u64Pos while they are Segment children, up to u64End.
uint64_t WalkSegmentChildren(CCarvedFile& file, uint64_t u64Pos, uint64_t u64End) {
    while (u64Pos < u64End) {
        auto element = ReadElement(file, u64Pos);
        if (!element || !IsIdIn(element->u32Id, szSegmentChildren))
            break;
        if (element->bUnknownSize) {
            if (element->u32Id != CLUSTER_ID)
                break;
            u64Pos = SkipClusterChildren(file, element->u64Data);
            continue;
        }
        u64Pos = element->u64Data + element->u64Size;
    }
    return std::min(u64Pos, u64End);
}

// ---- AVI, FLV

constexpr uint64_t FLV_HEADER_BYTES = 9;
constexpr uint64_t FLV_TAG_HEADER = 11;
constexpr uint8_t FLV_AUDIO = 8, FLV_VIDEO = 9, FLV_SCRIPT = 18;
constexpr uint32_t FLV_MAX_HEADER = 1024;

bool IsFlvTagType(uint8_t u8Type) {
    return (u8Type & 0xC0) == 0 && ((u8Type & 0x1F) == FLV_AUDIO || (u8Type & 0x1F) == FLV_VIDEO ||
                                    (u8Type & 0x1F) == FLV_SCRIPT);
}

// ---- MPEG program and elementary streams

constexpr uint8_t szStartCode[] = {0x00, 0x00, 0x01};
constexpr uint8_t MPEG_PACK = 0xBA;
constexpr uint8_t MPEG_SYSTEM = 0xBB;
constexpr uint8_t MPEG_PROGRAM_END = 0xB9;
constexpr uint8_t MPEG_SEQUENCE = 0xB3;
constexpr uint8_t MPEG_SEQUENCE_END = 0xB7;
constexpr uint8_t MPEG_GOP = 0xB8;
constexpr uint64_t MPEG2_PACK_BYTES = 14;
constexpr uint64_t MPEG1_PACK_BYTES = 12;
constexpr size_t MPEG_PROBE_BYTES = 32;
constexpr int MPEG_MIN_PACKS = 1;

bool IsMpeg2Pack(uint8_t u8Marker) {
    return (u8Marker & 0xC4) == 0x44;
}
bool IsMpeg1Pack(uint8_t u8Marker) {
    return (u8Marker & 0xF1) == 0x21;
}
// A start code a video elementary stream may hold: picture, slices, user data, sequence
// header, extension, sequence end, group of pictures.
bool IsVideoStartCode(uint8_t u8Code) {
    return u8Code <= 0xAF || u8Code == 0xB2 || u8Code == MPEG_SEQUENCE || u8Code == 0xB5 ||
           u8Code == MPEG_SEQUENCE_END || u8Code == MPEG_GOP;
}

// ---- transport streams

constexpr int TS_MIN_PACKETS = 22;

// A packet whose sync byte, error flag and adaptation-field control hold.
bool IsTsPacket(const uint8_t* pPacket) {
    return pPacket[0] == TS_SYNC_BYTE && (pPacket[1] & 0x80) == 0 && (pPacket[3] & 0x30) != 0;
}

bool HasPacketGrid(CByteView head, size_t nPacket, size_t nSync) {
    if (!head.Has(nSync, TS_PACKET_BYTES))
        return false;
    for (size_t off = nSync; head.Has(off, 4); off += nPacket) {
        if (!IsTsPacket(head.Data() + off))
            return false;
    }
    return true;
}

CARVED_SIZE WalkPackets(CCarvedFile& file, uint64_t u64Packet, uint64_t u64Sync) {
    uint64_t u64Count = 0;
    for (;; ++u64Count) {
        CByteView packet = file.View(u64Count * u64Packet + u64Sync, 4);
        if (!packet.Has(0, 4) || !IsTsPacket(packet.Data()) || u64Count * u64Packet >= VIDEO_LIMIT)
            break;
    }
    // A packet that starts must also be whole.
    if (u64Count > 0 && file.View((u64Count - 1) * u64Packet, u64Packet).Size() < u64Packet)
        --u64Count;
    return u64Count >= TS_MIN_PACKETS ? WalkedSize(u64Count * u64Packet) : Refused();
}

// ---- MXF

constexpr uint8_t szSmpteKey[] = {0x06, 0x0E, 0x2B, 0x34};
constexpr uint8_t szHeaderPartition[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01,
                                         0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02};
constexpr size_t MXF_PARTITION_KIND = 14;
constexpr uint64_t MXF_KEY_BYTES = 16;

// ---- RealMedia

constexpr const char* szRealChunks[] = {".RMF", "PROP", "MDPR", "CONT",
                                        "DATA", "INDX", "RMMD", "RJMD"};
constexpr uint32_t REAL_MIN_CHUNK = 10;
constexpr uint64_t REAL_DATA_HEADER = 18;  // id, size, version, packet count, next DATA
constexpr uint64_t REAL_PACKET_COUNT = 10; // in the DATA header
constexpr uint16_t REAL_MIN_PACKET = 12;   // a packet's own header
// ffmpeg's muxer closes a file with 8 zero bytes behind the packets.
constexpr size_t REAL_MUXER_END_BYTES = 8;

// The end of the packets of the DATA chunk at u64Data, walked by their lengths within
// u64Limit; nullopt when they break off.
std::optional<uint64_t> RealPacketsEnd(CCarvedFile& file, uint64_t u64Data, uint64_t u64Limit) {
    auto count = file.U32BE(u64Data + REAL_PACKET_COUNT);
    if (!count)
        return std::nullopt;
    uint64_t pos = u64Data + REAL_DATA_HEADER;
    for (uint32_t i = 0; i < *count; ++i) {
        auto version = file.U16BE(pos);
        auto length = file.U16BE(pos + 2);
        if (!version || !length || *version > 1 || *length < REAL_MIN_PACKET ||
            !StepWithin(pos, *length, u64Limit))
            return std::nullopt;
    }
    return pos;
}

// ---- ASF

constexpr uint8_t szAsfHeaderGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t szAsfDataGuid[] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t szAsfIndexGuids[][16] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49,
     0xCB}, // simple index
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49,
     0xBE}, // index
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4,
     0x8C}, // media object index
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F,
     0x0C}, // timecode index
};
constexpr uint8_t szAsfStreamPropertiesGuid[] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t szAsfVideoMediaGuid[] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                           0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr uint64_t ASF_OBJECT_HEADER = 24;
constexpr uint64_t ASF_HEADER_OBJECT_BYTES = 30;
constexpr uint32_t ASF_MAX_HEADER_OBJECTS = 1024;
constexpr uint64_t ASF_MAX_HEADER = 64 * MIB;

// ---- SWF

constexpr uint64_t SWF_HEADER_BYTES = 8;
constexpr uint8_t SWF_MAX_VERSION = 50;
constexpr uint64_t SWF_LZMA_PROPERTIES = 5;
constexpr uint64_t SWF_LZMA_HEADER = 12;
constexpr uint16_t SWF_LONG_TAG = 0x3F;
constexpr uint64_t SWF_LIMIT = 2 * GIB;

} // namespace

// ---- ISO base media

EXTEND_NAME_TYPE CVideoFormats::IsIsoMediaType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 16))
        return NONE;
    const uint32_t u32Size = LoadU32BE(pBuf);
    CByteView type(pBuf + 4, 4);
    if (type.Matches(0, "ftyp", 4)) {
        CByteView brand(pBuf + 8, 4);
        return u32Size >= FTYP_MIN && u32Size <= FTYP_MAX && (u32Size - FTYP_MIN) % 4 == 0 &&
                       CRiffChunks::IsChunkId(brand)
                   ? BrandType(head)
                   : NONE;
    }
    if (!IsOneOf(type, szQuickTimeFirstBoxes, std::size(szQuickTimeFirstBoxes)) ||
        (u32Size < BOX_HEADER && u32Size != BOX_LARGE_SIZE) || u32Size > QUICKTIME_MAX_FIRST_BOX)
        return NONE;
    // Without a brand, the box after the first must be a top-level box too.
    if (u32Size == BOX_LARGE_SIZE || !head.Has(u32Size, BOX_HEADER))
        return type.Matches(0, "wide", 4) ? NONE : FILE_TYPE_MOV;
    return IsTopLevelBox(CByteView(pBuf + u32Size + 4, 4)) ? FILE_TYPE_MOV : NONE;
}

bool CVideoFormats::IsTopLevelBoxType(const uint8_t* pType) {
    return IsTopLevelBox(CByteView(pType, 4));
}

CARVED_SIZE CVideoFormats::GetIsoMediaFileBytesSize(CCarvedFile& file) {
    CByteView first = file.View(0, FTYP_MAX);
    if (!first.Has(0, 16))
        return Refused();
    const bool bBranded = first.Matches(4, "ftyp", 4);
    const EXTEND_NAME_TYPE nType =
        bBranded
            ? BrandType(*first.Slice(0, std::min<size_t>(first.Size(), LoadU32BE(first.Data()))))
            : FILE_TYPE_MOV;
    uint64_t pos = 0;
    int nBoxes = 0;
    bool bMovie = false;
    while (pos < VIDEO_LIMIT) {
        CByteView box = file.View(pos, BOX_LARGE_HEADER);
        if (!box.Has(0, BOX_HEADER))
            break;
        CByteView type(box.Data() + 4, 4);
        const bool bFtyp = type.Matches(0, "ftyp", 4);
        if ((bFtyp && nBoxes > 0) || (!bFtyp && !IsTopLevelBox(type)))
            break;
        uint64_t u64Size = LoadU32BE(box.Data());
        if (u64Size == BOX_TO_END) {
            // The last box runs to the end of the file, which only the next file's start tells.
            pos = file.NextFileStart(pos + BOX_HEADER, VIDEO_LIMIT, true);
            ++nBoxes;
            break;
        }
        if (u64Size == BOX_LARGE_SIZE) {
            auto large = box.U64BE(8);
            if (!large || *large < BOX_LARGE_HEADER)
                break;
            u64Size = *large;
        }
        if (u64Size < BOX_HEADER)
            break;
        bMovie |=
            type.Matches(0, "moov", 4) || type.Matches(0, "moof", 4) || type.Matches(0, "meta", 4);
        if (!StepWithin(pos, u64Size, VIDEO_LIMIT))
            break;
        ++nBoxes;
    }
    return bMovie || nBoxes >= 2 ? WalkedSize(pos, nType) : Refused();
}

// ---- Matroska / WebM

EXTEND_NAME_TYPE CVideoFormats::IsMkvType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (head.U32BE(0) != EBML_ID)
        return NONE;
    auto size = ReadEbml(*head.Slice(4, head.Size() - 4), false);
    if (!size || size->bUnknown || size->u64Value > EBML_MAX_HEADER)
        return NONE;
    const size_t nEnd = std::min<size_t>(head.Size(), 4 + size->u32Bytes + size->u64Value);
    CByteView header(pBuf, nEnd);
    for (auto at = header.Find(szDocType, sizeof(szDocType)); at;
         at = header.Find(szDocType, sizeof(szDocType), *at + 1)) {
        if (header.Matches(*at + 2, "\x88matroska", 9))
            return FILE_TYPE_MKV;
        if (header.Matches(*at + 2, "\x84webm", 5))
            return FILE_TYPE_WEBM;
    }
    return NONE;
}

CARVED_SIZE CVideoFormats::GetMKVFileBytesSize(CCarvedFile& file) {
    auto header = ReadElement(file, 0);
    if (!header || header->u32Id != EBML_ID || header->bUnknownSize)
        return Refused();
    const EXTEND_NAME_TYPE nType =
        file.Find("\x84webm", 5, header->u64Data, header->u64Data + header->u64Size)
            ? FILE_TYPE_WEBM
            : FILE_TYPE_MKV;
    auto segment = ReadElement(file, header->u64Data + header->u64Size);
    if (!segment || segment->u32Id != SEGMENT_ID)
        return Refused();
    if (!segment->bUnknownSize) {
        const uint64_t u64End = segment->u64Data + segment->u64Size;
        const uint64_t u64Walked = WalkSegmentChildren(file, segment->u64Data, u64End);
        return {u64End, u64Walked, nType};
    }
    return WalkedSize(WalkSegmentChildren(file, segment->u64Data, VIDEO_LIMIT), nType);
}

// ---- AVI

EXTEND_NAME_TYPE CVideoFormats::IsAviType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return HeadMatchesText(head, 0, "RIFF") && HeadMatchesText(head, 8, "AVI ") &&
                   HeadMatchesText(head, 12, "LIST")
               ? FILE_TYPE_AVI
               : NONE;
}

CARVED_SIZE CVideoFormats::GetAVIFileBytesSize(CCarvedFile& file) {
    CARVED_SIZE size = CRiffChunks::OuterSize(file, 0, false);
    // OpenDML files go on in RIFF AVIX chunks.
    while (size.u64Size != 0 && file.MatchesText(size.u64Size, "RIFF") &&
           file.MatchesText(size.u64Size + 8, "AVIX")) {
        const CARVED_SIZE next = CRiffChunks::OuterSize(file, size.u64Size, false);
        if (next.u64Size == 0)
            break;
        if (size.u64Checked == size.u64Size && next.u64Checked == next.u64Size)
            size.u64Checked = next.u64Size;
        size.u64Size = next.u64Size;
    }
    return size;
}

// ---- FLV

EXTEND_NAME_TYPE CVideoFormats::IsFlvType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 16) || !HeadMatchesText(head, 0, "FLV") || pBuf[3] != 1 ||
        (pBuf[4] & 0xFA) != 0)
        return NONE;
    const uint32_t u32Data = LoadU32BE(pBuf + 5);
    if (u32Data < FLV_HEADER_BYTES || u32Data > FLV_MAX_HEADER)
        return NONE;
    if (head.Has(u32Data, 5) &&
        (LoadU32BE(pBuf + u32Data) != 0 || !IsFlvTagType(pBuf[u32Data + 4])))
        return NONE;
    return FILE_TYPE_FLV;
}

CARVED_SIZE CVideoFormats::GetFLVFileBytesSize(CCarvedFile& file) {
    auto data = file.U32BE(5);
    if (!data)
        return Refused();
    uint64_t pos = *data + 4;
    int nTags = 0;
    while (pos < VIDEO_LIMIT) {
        CByteView tag = file.View(pos, FLV_TAG_HEADER);
        if (!tag.Has(0, FLV_TAG_HEADER) || !IsFlvTagType(tag.Data()[0]) ||
            (LoadU32BE(tag.Data() + 7) & 0xFFFFFF) != 0)
            break;
        const uint64_t u64Data = LoadU32BE(tag.Data()) & 0xFFFFFF;
        if (file.U32BE(pos + FLV_TAG_HEADER + u64Data) != FLV_TAG_HEADER + u64Data)
            break;
        pos += FLV_TAG_HEADER + u64Data + 4;
        ++nTags;
    }
    return nTags > 0 ? WalkedSize(pos) : Refused();
}

// ---- MPEG PS / ES

EXTEND_NAME_TYPE CVideoFormats::IsMpgType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 16) || !head.Matches(0, szStartCode, sizeof(szStartCode)))
        return NONE;
    CByteView probe(pBuf, std::min<size_t>(head.Size(), MPEG_PROBE_BYTES));
    const uint8_t gop[] = {0x00, 0x00, 0x01, MPEG_GOP};
    const uint8_t system[] = {0x00, 0x00, 0x01, MPEG_SYSTEM};
    if (pBuf[3] == MPEG_SEQUENCE)
        return probe.Find(gop, sizeof(gop)) ? FILE_TYPE_MPEG : NONE;
    if (pBuf[3] == MPEG_PACK && (IsMpeg2Pack(pBuf[4]) || IsMpeg1Pack(pBuf[4])))
        return probe.Find(system, sizeof(system)) ? FILE_TYPE_MPEG : NONE;
    return NONE;
}

CARVED_SIZE CVideoFormats::GetMPGFileBytesSize(CCarvedFile& file) {
    if (file.U8(3) == MPEG_SEQUENCE) {
        // An elementary stream states no lengths: its sequence end code, within what the end
        // check leaves it.
        const uint64_t u64Reach = file.NextFileStart(file.SectorBytes(), STREAM_LIMIT, true);
        for (auto code = file.Find(szStartCode, 3, 0, u64Reach); code;
             code = file.Find(szStartCode, 3, *code + 3, u64Reach)) {
            auto value = file.U8(*code + 3);
            if (!value || !IsVideoStartCode(*value))
                break;
            if (*value == MPEG_SEQUENCE_END)
                return WalkedSize(*code + 4);
        }
        return WalkedSize(u64Reach);
    }
    uint64_t pos = 0;
    int nPacks = 0;
    while (pos < VIDEO_LIMIT) {
        CByteView packet = file.View(pos, MPEG2_PACK_BYTES);
        if (!packet.Has(0, 6) || !packet.Matches(0, szStartCode, sizeof(szStartCode)))
            break;
        const uint8_t u8Code = packet.Data()[3];
        if (u8Code == MPEG_PROGRAM_END)
            return WalkedSize(pos + 4);
        if (u8Code == MPEG_PACK) {
            if (packet.Has(0, MPEG2_PACK_BYTES) && IsMpeg2Pack(packet.Data()[4]))
                pos += MPEG2_PACK_BYTES + (packet.Data()[13] & 7);
            else if (IsMpeg1Pack(packet.Data()[4]))
                pos += MPEG1_PACK_BYTES;
            else
                break;
            ++nPacks;
        } else if (u8Code >= MPEG_SYSTEM) {
            pos += 6 + uint64_t(LoadU16BE(packet.Data() + 4));
        } else {
            break;
        }
    }
    // Streams written without an end code end with their last whole packet.
    return nPacks >= MPEG_MIN_PACKS ? WalkedSize(pos) : Refused();
}

// ---- TS / M2TS

EXTEND_NAME_TYPE CVideoFormats::IsTsType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 4) || (pBuf[1] == 0 && pBuf[2] == 0 && pBuf[3] == 0))
        return NONE;
    return HasPacketGrid(head, TS_PACKET_BYTES, 0) ? FILE_TYPE_TS : NONE;
}

EXTEND_NAME_TYPE CVideoFormats::IsMtsType(const unsigned char* pBuf, int nLength) {
    return HasPacketGrid(HeadView(pBuf, nLength), M2TS_PACKET_BYTES, M2TS_SYNC_OFFSET)
               ? FILE_TYPE_MTS
               : NONE;
}

CARVED_SIZE CVideoFormats::GetTSFileBytesSize(CCarvedFile& file) {
    return WalkPackets(file, TS_PACKET_BYTES, 0);
}

CARVED_SIZE CVideoFormats::GetMTSFileBytesSize(CCarvedFile& file) {
    return WalkPackets(file, M2TS_PACKET_BYTES, M2TS_SYNC_OFFSET);
}

// ---- MXF

EXTEND_NAME_TYPE CVideoFormats::IsMxfType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Matches(0, szHeaderPartition, sizeof(szHeaderPartition)) || !head.Has(0, 16))
        return NONE;
    const uint8_t u8Kind = pBuf[MXF_PARTITION_KIND];
    return u8Kind >= 1 && u8Kind <= 4 && pBuf[15] == 0 ? FILE_TYPE_MXF : NONE;
}

CARVED_SIZE CVideoFormats::GetMXFFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    while (pos < VIDEO_LIMIT) {
        CByteView klv = file.View(pos, MXF_KEY_BYTES + 9);
        if (!klv.Has(0, MXF_KEY_BYTES + 1) || !klv.Matches(0, szSmpteKey, sizeof(szSmpteKey)))
            break;
        const uint8_t u8Length = klv.Data()[MXF_KEY_BYTES];
        uint64_t u64Value = u8Length;
        uint64_t u64LengthBytes = 1;
        if (u8Length >= 0x80) {
            const uint32_t u32Bytes = u8Length & 0x7F;
            if (u32Bytes == 0 || u32Bytes > 8 || !klv.Has(MXF_KEY_BYTES + 1, u32Bytes))
                break;
            u64Value = 0;
            for (uint32_t i = 0; i < u32Bytes; ++i)
                u64Value = u64Value << 8 | klv.Data()[MXF_KEY_BYTES + 1 + i];
            u64LengthBytes += u32Bytes;
        }
        if (!StepWithin(pos, MXF_KEY_BYTES + u64LengthBytes, VIDEO_LIMIT) ||
            !StepWithin(pos, u64Value, VIDEO_LIMIT))
            break;
    }
    return pos > 0 ? WalkedSize(pos) : Refused();
}

// ---- RealMedia

EXTEND_NAME_TYPE CVideoFormats::IsRmvbType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!HeadMatchesText(head, 0, ".RMF") || !head.Has(0, 10))
        return NONE;
    return LoadU32BE(pBuf + 4) >= REAL_MIN_CHUNK && LoadU16BE(pBuf + 8) <= 1 ? FILE_TYPE_RMVB
                                                                             : NONE;
}

CARVED_SIZE CVideoFormats::GetRMVBFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    while (pos < VIDEO_LIMIT) {
        CByteView chunk = file.View(pos, 8);
        auto size = chunk.U32BE(4);
        if (!chunk.Has(0, 8) || !IsOneOf(chunk, szRealChunks, std::size(szRealChunks)) || !size ||
            *size < REAL_MIN_CHUNK)
            break;
        // ffmpeg states a DATA size 18 bytes past its packets: they end the chunk.
        auto packets =
            chunk.Matches(0, "DATA", 4) ? RealPacketsEnd(file, pos, pos + *size) : std::nullopt;
        if (packets && *packets < pos + *size) {
            CByteView end = file.View(*packets, REAL_MUXER_END_BYTES);
            const bool bMuxerEnd = end.Has(0, REAL_MUXER_END_BYTES) &&
                                   std::all_of(end.Data(), end.Data() + REAL_MUXER_END_BYTES,
                                               [](uint8_t c) { return c == 0; });
            if (bMuxerEnd)
                return WalkedSize(*packets + REAL_MUXER_END_BYTES);
            pos = *packets;
            continue;
        }
        pos += *size;
    }
    return pos > 0 ? WalkedSize(pos) : Refused();
}

// ---- ASF

EXTEND_NAME_TYPE CVideoFormats::IsAsfType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Matches(0, szAsfHeaderGuid, sizeof(szAsfHeaderGuid)) ||
        !head.Has(0, ASF_HEADER_OBJECT_BYTES))
        return NONE;
    const uint64_t u64Size = LoadU64LE(pBuf + 16);
    const uint32_t u32Objects = LoadU32LE(pBuf + 24);
    return u64Size >= ASF_HEADER_OBJECT_BYTES && u64Size <= ASF_MAX_HEADER && u32Objects > 0 &&
                   u32Objects <= ASF_MAX_HEADER_OBJECTS
               ? FILE_TYPE_WMV
               : NONE;
}

CARVED_SIZE CVideoFormats::GetASFFileBytesSize(CCarvedFile& file) {
    auto headerSize = file.U64LE(16);
    auto objects = file.U32LE(24);
    if (!headerSize || !objects)
        return Refused();
    // Audio-only files are WMA: no stream of the header is video.
    EXTEND_NAME_TYPE nType = FILE_TYPE_WMA;
    uint64_t child = ASF_HEADER_OBJECT_BYTES;
    for (uint32_t i = 0; i < *objects && child < *headerSize; ++i) {
        auto size = file.U64LE(child + 16);
        if (!size || *size < ASF_OBJECT_HEADER)
            break;
        if (file.Matches(child, szAsfStreamPropertiesGuid, 16) &&
            file.Matches(child + ASF_OBJECT_HEADER, szAsfVideoMediaGuid, 16))
            nType = FILE_TYPE_WMV;
        if (!StepWithin(child, *size, *headerSize))
            break;
    }
    uint64_t pos = *headerSize;
    bool bData = false;
    while (pos < VIDEO_LIMIT) {
        auto size = file.U64LE(pos + 16);
        const bool bIsData = file.Matches(pos, szAsfDataGuid, 16);
        const bool bIsIndex =
            std::any_of(std::begin(szAsfIndexGuids), std::end(szAsfIndexGuids),
                        [&](const uint8_t(&guid)[16]) { return file.Matches(pos, guid, 16); });
        if ((!bIsData && !bIsIndex) || !size || *size < ASF_OBJECT_HEADER ||
            !StepWithin(pos, *size, VIDEO_LIMIT))
            break;
        bData |= bIsData;
    }
    return bData ? WalkedSize(pos, nType) : Refused();
}

// ---- SWF

EXTEND_NAME_TYPE CVideoFormats::IsSwfType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, SWF_LZMA_HEADER + SWF_LZMA_PROPERTIES) || pBuf[1] != 'W' || pBuf[2] != 'S')
        return NONE;
    const uint8_t u8Version = pBuf[3];
    const uint32_t u32Length = LoadU32LE(pBuf + 4);
    if (u8Version > SWF_MAX_VERSION || u32Length < SWF_HEADER_BYTES + 13)
        return NONE;
    if (pBuf[0] == 'F')
        return u8Version >= 1 ? FILE_TYPE_SWF : NONE;
    if (pBuf[0] == 'C')
        return u8Version >= 6 && pBuf[8] == 0x78 ? FILE_TYPE_SWF : NONE; // zlib header
    if (pBuf[0] == 'Z')
        return u8Version >= 13 ? FILE_TYPE_SWF : NONE;
    return NONE;
}

CARVED_SIZE CVideoFormats::GetSWFFileBytesSize(CCarvedFile& file) {
    auto signature = file.U8(0);
    auto length = file.U32LE(4);
    if (!signature || !length)
        return Refused();
    if (*signature == 'C') {
        auto end = InflateToEnd(file, SWF_HEADER_BYTES, MAX_WBITS, SWF_LIMIT);
        return end && end->u64Produced + SWF_HEADER_BYTES == *length
                   ? WalkedSize(SWF_HEADER_BYTES + end->u64Consumed)
                   : Refused();
    }
    if (*signature == 'Z') {
        auto compressed = file.U32LE(SWF_HEADER_BYTES);
        return compressed ? ClaimedSize(SWF_LZMA_HEADER + SWF_LZMA_PROPERTIES + *compressed,
                                        SWF_LZMA_HEADER)
                          : Refused();
    }
    // Uncompressed: the frame rectangle, rate and count, then tags to the End tag.
    auto rect = file.U8(SWF_HEADER_BYTES);
    if (!rect)
        return Refused();
    const uint64_t u64RectBits = 5 + 4 * uint64_t(*rect >> 3);
    uint64_t pos = SWF_HEADER_BYTES + (u64RectBits + 7) / 8 + 4;
    while (pos < *length) {
        auto tag = file.U16LE(pos);
        if (!tag)
            return Refused();
        uint64_t u64Body = *tag & SWF_LONG_TAG;
        uint64_t u64Header = 2;
        if (u64Body == SWF_LONG_TAG) {
            auto body = file.U32LE(pos + 2);
            if (!body)
                return Refused();
            u64Body = *body;
            u64Header = 6;
        }
        pos += u64Header + u64Body;
        if ((*tag >> 6) == 0)
            return pos <= *length ? WalkedSize(*length) : Refused();
    }
    return Refused();
}
