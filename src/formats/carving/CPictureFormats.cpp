// Picture formats: JPEG, PNG, GIF, BMP, PSD, TIFF and its camera raws, ICO/CUR, WebP, RAF.
#include "formats/carving/CPictureFormats.h"

#include "formats/carving/CRiffChunks.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;
constexpr uint64_t MIB = 1024 * 1024;
constexpr uint64_t GIB = 1024 * MIB;

// ---- JPEG

constexpr uint64_t JPEG_LIMIT = 512 * MIB;
constexpr uint8_t JPEG_MARK = 0xFF;
constexpr uint8_t JPEG_SOI = 0xD8;
constexpr uint8_t JPEG_EOI = 0xD9;
constexpr uint8_t JPEG_SOS = 0xDA;
constexpr uint8_t JPEG_DQT = 0xDB;
constexpr uint8_t JPEG_DHT = 0xC4;
constexpr uint8_t JPEG_DRI = 0xDD;
constexpr uint8_t JPEG_APP0 = 0xE0;
constexpr uint8_t JPEG_APP1 = 0xE1;
constexpr uint8_t JPEG_APP2 = 0xE2;
constexpr uint8_t JPEG_FIRST_SEGMENT_MARKER = 0xC0; // below it only reserved markers
constexpr size_t JPEG_FIRST_SEGMENT = 4;            // the first segment's length field
constexpr uint16_t JPEG_MIN_DQT = 67;               // one 8-bit table
constexpr uint16_t JPEG_MIN_DHT = 19;               // class/id and 16 counts
constexpr uint16_t JPEG_MIN_SOF = 11;
constexpr uint16_t JPEG_DRI_LENGTH = 4;
// Multi-Picture Format (APP2 "MPF"): the MP entries name images stored behind the first EOI.
constexpr char szMpfId[] = "MPF";
constexpr uint16_t MPF_ENTRY_TAG = 0xB002;
constexpr size_t MPF_ENTRY_BYTES = 16;
constexpr uint32_t MPF_MAX_ENTRIES = 64;

bool IsRestartMarker(uint8_t m) {
    return m >= 0xD0 && m <= 0xD7;
}

bool IsStartOfFrame(uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != JPEG_DHT && m != 0xC8 && m != 0xCC;
}

// Markers without a length field: they cannot start a segment.
bool IsStandaloneMarker(uint8_t m) {
    return m == 0x00 || m == 0x01 || m == JPEG_MARK || (m >= 0xD0 && m <= 0xD9);
}

// The first segment of a JPEG: any marker with a length, whose length fits what it holds.
bool IsPlausibleFirstSegment(CByteView head) {
    const uint8_t m = head.Data()[3];
    const uint16_t u16Length = LoadU16BE(head.Data() + JPEG_FIRST_SEGMENT);
    const uint8_t u8First = head.Data()[6];
    if (m < 0xC0 || IsStandaloneMarker(m) || m == JPEG_SOS || u16Length < 2)
        return false;
    if (m == JPEG_DQT)
        return u16Length >= JPEG_MIN_DQT && (u8First >> 4) <= 1 && (u8First & 0x0F) <= 3;
    if (m == JPEG_DHT)
        return u16Length >= JPEG_MIN_DHT && (u8First >> 4) <= 1 && (u8First & 0x0F) <= 3;
    if (IsStartOfFrame(m))
        return u16Length >= JPEG_MIN_SOF && u8First >= 2 && u8First <= 16;
    if (m == JPEG_DRI)
        return u16Length == JPEG_DRI_LENGTH;
    return true;
}

// What the walk through a scan's entropy data saw that a whole file never shows: a restart
// marker without a DRI interval or out of turn (RST0..RST7 in turn), or a long stretch without
// any FF, which coded data has about every 256 bytes but text and fill never have.
struct JPEG_ENTROPY_CHECKS {
    bool bRestartsEnabled = false;
    uint8_t u8NextRestart = 0;
    bool bInTurn = true;
    bool bDense = true;

    void MeetRestart(uint8_t u8Marker) {
        bInTurn = bInTurn && bRestartsEnabled && u8Marker == 0xD0 + u8NextRestart;
        u8NextRestart = (u8NextRestart + 1) & 7;
    }
    void MeetStretch(uint64_t u64BytesWithoutMark) {
        bDense = bDense && u64BytesWithoutMark <= CPictureFormats::JPEG_MAX_UNMARKED_STRETCH;
    }
};

// The first marker behind entropy-coded data from u64From: an FF that is neither stuffing
// (FF 00), a restart marker nor fill. nullopt when the data ends first.
std::optional<uint64_t> SkipEntropyData(CCarvedFile& file, uint64_t u64From,
                                        JPEG_ENTROPY_CHECKS& checks) {
    uint64_t pos = u64From;
    uint64_t u64LastMark = u64From;
    while (pos < JPEG_LIMIT) {
        CByteView view = file.View(pos, 2);
        if (view.Size() < 2)
            return std::nullopt;
        const auto* pHit =
            static_cast<const uint8_t*>(std::memchr(view.Data(), JPEG_MARK, view.Size() - 1));
        if (pHit == nullptr) {
            pos += view.Size() - 1;
            continue;
        }
        const size_t i = static_cast<size_t>(pHit - view.Data());
        checks.MeetStretch(pos + i - u64LastMark);
        u64LastMark = pos + i;
        const uint8_t next = view.Data()[i + 1];
        if (IsRestartMarker(next))
            checks.MeetRestart(next);
        if (next == 0x00 || next == JPEG_MARK || IsRestartMarker(next)) {
            pos += i + 1;
            continue;
        }
        return pos + i;
    }
    return std::nullopt;
}

// The end of the images an MPF segment (payload at u64Payload) lists behind the first one,
// each checked to start with SOI; 0 when there are none.
uint64_t MultiPictureEnd(CCarvedFile& file, uint64_t u64Payload, uint16_t u16Length) {
    if (u16Length < 16 || !file.MatchesText(u64Payload, szMpfId) || file.U8(u64Payload + 3) != 0)
        return 0;
    const uint64_t u64Tiff = u64Payload + 4;
    const bool bBig = file.MatchesText(u64Tiff, "MM");
    auto u16 = [&](uint64_t off) { return bBig ? file.U16BE(off) : file.U16LE(off); };
    auto u32 = [&](uint64_t off) { return bBig ? file.U32BE(off) : file.U32LE(off); };
    auto ifd = u32(u64Tiff + 4);
    auto count = ifd ? u16(u64Tiff + *ifd) : std::nullopt;
    if (!count || *count > 64)
        return 0;
    uint64_t u64End = 0;
    for (uint32_t i = 0; i < *count; ++i) {
        const uint64_t u64Entry = u64Tiff + *ifd + 2 + 12 * uint64_t(i);
        if (u16(u64Entry) != MPF_ENTRY_TAG)
            continue;
        auto bytes = u32(u64Entry + 4);
        auto at = u32(u64Entry + 8);
        if (!bytes || !at || *bytes % MPF_ENTRY_BYTES != 0 ||
            *bytes / MPF_ENTRY_BYTES > MPF_MAX_ENTRIES)
            return 0;
        for (uint32_t e = 0; e < *bytes / MPF_ENTRY_BYTES; ++e) {
            const uint64_t u64Mp = u64Tiff + *at + MPF_ENTRY_BYTES * e;
            auto size = u32(u64Mp + 4);
            auto offset = u32(u64Mp + 8);
            if (!size || !offset || *offset == 0)
                continue;
            const uint8_t soi[] = {JPEG_MARK, JPEG_SOI, JPEG_MARK};
            if (file.Matches(u64Tiff + *offset, soi, sizeof(soi)))
                u64End = std::max(u64End, u64Tiff + *offset + *size);
        }
    }
    return u64End;
}

// ---- PNG

constexpr uint8_t szPngHead[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint64_t PNG_LIMIT = 1 * GIB;
constexpr uint32_t PNG_MAX_CHUNK = 0x7FFFFFFF;
constexpr uint32_t PNG_IHDR_BYTES = 13;
constexpr uint64_t PNG_CHUNK_OVERHEAD = 12; // length, type, CRC

bool IsLetterId(CByteView id) {
    if (id.Size() < 4)
        return false;
    return std::all_of(id.Data(), id.Data() + 4,
                       [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// ---- GIF

constexpr uint8_t GIF_EXTENSION = 0x21;
constexpr uint8_t GIF_IMAGE = 0x2C;
constexpr uint8_t GIF_TRAILER = 0x3B;
constexpr uint64_t GIF_SCREEN_END = 13;
constexpr uint8_t GIF_COLOUR_TABLE = 0x80;
constexpr uint64_t GIF_IMAGE_DESCRIPTOR = 10;
constexpr uint64_t GIF_LIMIT = 256 * MIB;

uint64_t ColourTableBytes(uint8_t u8Flags) {
    return (u8Flags & GIF_COLOUR_TABLE) ? 3ull << ((u8Flags & 7) + 1) : 0;
}

// Past the data sub-blocks at u64Pos; nullopt when the data ends first.
std::optional<uint64_t> SkipSubBlocks(CCarvedFile& file, uint64_t u64Pos) {
    while (u64Pos < GIF_LIMIT) {
        auto size = file.U8(u64Pos);
        if (!size)
            return std::nullopt;
        u64Pos += 1 + *size;
        if (*size == 0)
            return u64Pos;
    }
    return std::nullopt;
}

// ---- BMP

constexpr size_t BMP_FILE_SIZE = 2;
constexpr size_t BMP_PIXEL_OFFSET = 10;
constexpr size_t BMP_DIB_SIZE = 14;
constexpr uint32_t BMP_CORE_HEADER = 12;
constexpr uint32_t szBmpDibSizes[] = {12, 40, 52, 56, 64, 108, 124};
constexpr uint32_t BMP_MAX_DIMENSION = 65536;
constexpr uint32_t BMP_RGB = 0, BMP_BITFIELDS = 3, BMP_ALPHA_BITFIELDS = 6;
constexpr uint32_t BMP_MAX_COMPRESSION = 13;
// Writers round the pixel data or add a few bytes; no real file holds a megabyte more.
constexpr uint64_t BMP_SLACK = 1 * MIB;

struct BMP_HEADER {
    uint32_t u32FileSize;
    uint32_t u32PixelOffset;
    uint32_t u32DibSize;
    uint64_t u64Width;
    uint64_t u64Height;
    uint32_t u32Bits;
    uint32_t u32Compression;
    uint32_t u32ImageSize;
};

std::optional<BMP_HEADER> ParseBmpHeader(CByteView head) {
    if (!HeadMatchesText(head, 0, "BM") || !head.Has(0, 54) || LoadU32LE(head.Data() + 6) != 0)
        return std::nullopt;
    const uint8_t* p = head.Data();
    BMP_HEADER bmp = {LoadU32LE(p + BMP_FILE_SIZE),
                      LoadU32LE(p + BMP_PIXEL_OFFSET),
                      LoadU32LE(p + BMP_DIB_SIZE),
                      0,
                      0,
                      0,
                      BMP_RGB,
                      0};
    if (std::find(std::begin(szBmpDibSizes), std::end(szBmpDibSizes), bmp.u32DibSize) ==
        std::end(szBmpDibSizes))
        return std::nullopt;
    uint16_t u16Planes = 0;
    if (bmp.u32DibSize == BMP_CORE_HEADER) {
        bmp.u64Width = LoadU16LE(p + 18);
        bmp.u64Height = LoadU16LE(p + 20);
        u16Planes = LoadU16LE(p + 22);
        bmp.u32Bits = LoadU16LE(p + 24);
    } else {
        const int32_t i32Height = static_cast<int32_t>(LoadU32LE(p + 22));
        bmp.u64Width = LoadU32LE(p + 18);
        bmp.u64Height = i32Height < 0 ? uint64_t(-int64_t(i32Height)) : uint64_t(i32Height);
        u16Planes = LoadU16LE(p + 26);
        bmp.u32Bits = LoadU16LE(p + 28);
        bmp.u32Compression = LoadU32LE(p + 30);
        bmp.u32ImageSize = LoadU32LE(p + 34);
    }
    const uint32_t u32Bits = bmp.u32Bits;
    const bool bBitsOk = u32Bits == 0 || u32Bits == 1 || u32Bits == 2 || u32Bits == 4 ||
                         u32Bits == 8 || u32Bits == 16 || u32Bits == 24 || u32Bits == 32 ||
                         u32Bits == 64;
    if (u16Planes != 1 || !bBitsOk || bmp.u64Width == 0 || bmp.u64Height == 0 ||
        bmp.u64Width > BMP_MAX_DIMENSION || bmp.u64Height > BMP_MAX_DIMENSION ||
        bmp.u32Compression > BMP_MAX_COMPRESSION || bmp.u32PixelOffset < 14 + bmp.u32DibSize)
        return std::nullopt;
    return bmp;
}

// The file size the header's fields agree on: its own size field, or (for writers that leave
// it 0) the pixel offset plus the pixel data. 0 when they disagree.
uint64_t BmpFileSize(const BMP_HEADER& bmp) {
    const bool bPlain = bmp.u32Compression == BMP_RGB || bmp.u32Compression == BMP_BITFIELDS ||
                        bmp.u32Compression == BMP_ALPHA_BITFIELDS;
    if (bPlain && bmp.u32Bits != 0) {
        const uint64_t u64Row = (bmp.u64Width * bmp.u32Bits + 31) / 32 * 4;
        const uint64_t u64Pixels = bmp.u32PixelOffset + u64Row * bmp.u64Height;
        if (bmp.u32FileSize == 0)
            return u64Pixels;
        return bmp.u32FileSize >= u64Pixels && bmp.u32FileSize <= u64Pixels + BMP_SLACK
                   ? bmp.u32FileSize
                   : 0;
    }
    if (bmp.u32ImageSize != 0 && bmp.u32FileSize == 0)
        return uint64_t(bmp.u32PixelOffset) + bmp.u32ImageSize;
    return bmp.u32FileSize > bmp.u32PixelOffset ? bmp.u32FileSize : 0;
}

// ---- PSD

constexpr uint64_t PSD_HEADER_BYTES = 26;
constexpr uint16_t PSD_MAX_CHANNELS = 56;
constexpr uint32_t PSD_MAX_SIDE = 30000;
constexpr uint32_t PSB_MAX_SIDE = 300000;
constexpr uint16_t PSD_RAW = 0, PSD_RLE = 1;
constexpr uint64_t PSD_LIMIT = 64 * GIB;

// ---- TIFF

constexpr uint16_t TIFF_MAGIC = 42;
constexpr uint16_t BIGTIFF_MAGIC = 43;
constexpr uint16_t ORF_MAGIC = 0x4F52;  // "RO"
constexpr uint16_t ORF_MAGIC2 = 0x5352; // "RS"
constexpr uint16_t RW2_MAGIC = 0x55;
constexpr uint64_t TIFF_LIMIT = 4 * GIB;
constexpr uint64_t BIGTIFF_LIMIT = 1024 * GIB;
constexpr int TIFF_MAX_IFDS = 256;
constexpr uint64_t TIFF_MAX_ENTRIES = 4096;
constexpr uint64_t TIFF_MAX_VALUES = 1 << 20;
constexpr uint16_t TAG_MAKE = 271;
constexpr uint16_t TAG_STRIP_OFFSETS = 273, TAG_STRIP_BYTE_COUNTS = 279;
constexpr uint16_t TAG_FREE_OFFSETS = 288, TAG_FREE_BYTE_COUNTS = 289;
constexpr uint16_t TAG_TILE_OFFSETS = 324, TAG_TILE_BYTE_COUNTS = 325;
constexpr uint16_t TAG_SUB_IFDS = 330;
constexpr uint16_t TAG_JPEG_OFFSET = 513, TAG_JPEG_LENGTH = 514;
constexpr uint16_t TAG_EXIF_IFD = 34665, TAG_GPS_IFD = 34853, TAG_INTEROP_IFD = 40965;
constexpr uint16_t TAG_DNG_VERSION = 50706;
// CR2: "CR", version 2.0 and the raw IFD's offset after the TIFF header.
constexpr size_t CR2_SIGNATURE = 8;
constexpr size_t CR2_RAW_IFD = 12;
constexpr uint64_t CR2_HEADER_END = 16;

// Bytes per value of each TIFF field type (0: unknown type).
uint32_t TiffTypeBytes(uint16_t u16Type) {
    static constexpr std::array<uint8_t, 19> BYTES = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                                      8, 4, 8, 4, 0, 0, 8, 8, 8};
    return u16Type < BYTES.size() ? BYTES[u16Type] : 0;
}

struct TIFF_ENTRY {
    uint16_t u16Tag;
    uint16_t u16Type;
    uint64_t u64Count;
    uint64_t u64ValueAt; // where the values are: inline in the entry or at its offset
};

// An IFD walk over a TIFF or BigTIFF in either byte order: the furthest byte reached.
class CTiffWalk {
public:
    CTiffWalk(CCarvedFile& file, bool bBigEndian, bool bBigTiff)
        : m_file(file), m_bBig(bBigEndian), m_bBigTiff(bBigTiff),
          m_u64Limit(bBigTiff ? BIGTIFF_LIMIT : TIFF_LIMIT) {}

    std::optional<uint64_t> U16(uint64_t off) {
        auto v = m_bBig ? m_file.U16BE(off) : m_file.U16LE(off);
        return v ? std::optional<uint64_t>(*v) : std::nullopt;
    }
    std::optional<uint64_t> U32(uint64_t off) {
        auto v = m_bBig ? m_file.U32BE(off) : m_file.U32LE(off);
        return v ? std::optional<uint64_t>(*v) : std::nullopt;
    }
    std::optional<uint64_t> Offset(uint64_t off) {
        if (!m_bBigTiff)
            return U32(off);
        return m_bBig ? m_file.U64BE(off) : m_file.U64LE(off);
    }

    // Walks the IFD at u64Ifd and everything it leads to; false when that IFD is no IFD.
    bool Walk(uint64_t u64Ifd) {
        m_queue.push_back(u64Ifd);
        bool bFirst = true;
        while (!m_queue.empty() && m_nWalked < TIFF_MAX_IFDS) {
            const uint64_t u64At = m_queue.back();
            m_queue.pop_back();
            if (std::find(m_seen.begin(), m_seen.end(), u64At) != m_seen.end())
                continue;
            m_seen.push_back(u64At);
            ++m_nWalked;
            const bool bOk = WalkIfd(u64At);
            if (bFirst && !bOk)
                return false;
            bFirst = false;
        }
        return true;
    }

    void Reach(uint64_t u64Offset, uint64_t u64Bytes) {
        if (u64Offset <= m_u64Limit && u64Bytes <= m_u64Limit - u64Offset)
            m_u64End = std::max(m_u64End, u64Offset + u64Bytes);
    }

    uint64_t End() const { return m_u64End; }
    const std::vector<TIFF_ENTRY>& FirstIfd() const { return m_firstIfd; }
    std::optional<uint64_t> Value(const TIFF_ENTRY& entry, uint64_t i) {
        const uint64_t u64At = entry.u64ValueAt + i * TiffTypeBytes(entry.u16Type);
        if (entry.u16Type == 3)
            return U16(u64At);
        if (entry.u16Type == 4 || entry.u16Type == 13)
            return U32(u64At);
        if (entry.u16Type == 16 || entry.u16Type == 18)
            return m_bBig ? m_file.U64BE(u64At) : m_file.U64LE(u64At);
        return std::nullopt;
    }

private:
    bool WalkIfd(uint64_t u64Ifd) {
        const uint64_t u64CountBytes = m_bBigTiff ? 8 : 2;
        const uint64_t u64EntryBytes = m_bBigTiff ? 20 : 12;
        const uint64_t u64InlineBytes = m_bBigTiff ? 8 : 4;
        const std::optional<uint64_t> count = m_bBigTiff ? Offset(u64Ifd) : U16(u64Ifd);
        if (!count || *count == 0 || *count > TIFF_MAX_ENTRIES || u64Ifd > m_u64Limit)
            return false;
        std::vector<TIFF_ENTRY> entries;
        for (uint64_t i = 0; i < *count; ++i) {
            const uint64_t u64Entry = u64Ifd + u64CountBytes + i * u64EntryBytes;
            auto tag = U16(u64Entry);
            auto type = U16(u64Entry + 2);
            const std::optional<uint64_t> values =
                m_bBigTiff ? Offset(u64Entry + 4) : U32(u64Entry + 4);
            if (!tag || !type || !values)
                return false;
            const uint32_t u32Each = TiffTypeBytes(uint16_t(*type));
            if (u32Each == 0 || *values > m_u64Limit / u32Each)
                continue;
            const uint64_t u64Bytes = *values * u32Each;
            const uint64_t u64Field = u64Entry + 4 + (m_bBigTiff ? 8 : 4);
            TIFF_ENTRY entry = {uint16_t(*tag), uint16_t(*type), *values, u64Field};
            if (u64Bytes > u64InlineBytes) {
                auto at = Offset(u64Field);
                if (!at)
                    return false;
                entry.u64ValueAt = *at;
                Reach(*at, u64Bytes);
            }
            entries.push_back(entry);
        }
        const uint64_t u64Next = u64Ifd + u64CountBytes + *count * u64EntryBytes;
        Reach(u64Ifd, u64Next + (m_bBigTiff ? 8 : 4) - u64Ifd);
        if (auto next = Offset(u64Next); next && *next != 0)
            m_queue.push_back(*next);
        FollowEntries(entries);
        if (m_firstIfd.empty())
            m_firstIfd = entries;
        return true;
    }

    void FollowEntries(const std::vector<TIFF_ENTRY>& entries) {
        auto find = [&entries](uint16_t u16Tag) -> const TIFF_ENTRY* {
            for (const TIFF_ENTRY& e : entries)
                if (e.u16Tag == u16Tag)
                    return &e;
            return nullptr;
        };
        const std::pair<uint16_t, uint16_t> pairs[] = {{TAG_STRIP_OFFSETS, TAG_STRIP_BYTE_COUNTS},
                                                       {TAG_TILE_OFFSETS, TAG_TILE_BYTE_COUNTS},
                                                       {TAG_FREE_OFFSETS, TAG_FREE_BYTE_COUNTS},
                                                       {TAG_JPEG_OFFSET, TAG_JPEG_LENGTH}};
        for (const auto& [u16Offsets, u16Counts] : pairs) {
            const TIFF_ENTRY* pOffsets = find(u16Offsets);
            const TIFF_ENTRY* pCounts = find(u16Counts);
            if (pOffsets == nullptr || pCounts == nullptr)
                continue;
            const uint64_t n = std::min({pOffsets->u64Count, pCounts->u64Count, TIFF_MAX_VALUES});
            for (uint64_t i = 0; i < n; ++i) {
                auto offset = Value(*pOffsets, i);
                auto bytes = Value(*pCounts, i);
                if (offset && bytes)
                    Reach(*offset, *bytes);
            }
        }
        for (uint16_t u16Tag : {TAG_SUB_IFDS, TAG_EXIF_IFD, TAG_GPS_IFD, TAG_INTEROP_IFD}) {
            const TIFF_ENTRY* pEntry = find(u16Tag);
            for (uint64_t i = 0; pEntry != nullptr && i < std::min<uint64_t>(pEntry->u64Count, 64);
                 ++i) {
                if (auto at = Value(*pEntry, i); at && *at != 0)
                    m_queue.push_back(*at);
            }
        }
    }

    CCarvedFile& m_file;
    bool m_bBig;
    bool m_bBigTiff;
    uint64_t m_u64Limit;
    uint64_t m_u64End = 0;
    int m_nWalked = 0;
    std::vector<uint64_t> m_queue;
    std::vector<uint64_t> m_seen;
    std::vector<TIFF_ENTRY> m_firstIfd;
};

// The camera raw a TIFF's maker names.
EXTEND_NAME_TYPE RawTypeOfMake(const std::string& strMake) {
    static const std::pair<const char*, EXTEND_NAME_TYPE> MAKERS[] = {
        {"NIKON", FILE_TYPE_NEF}, {"SONY", FILE_TYPE_ARW},      {"PENTAX", FILE_TYPE_PEF},
        {"RICOH", FILE_TYPE_PEF}, {"OLYMPUS", FILE_TYPE_ORF},   {"OM Digital", FILE_TYPE_ORF},
        {"Canon", FILE_TYPE_CR2}, {"Panasonic", FILE_TYPE_RW2},
    };
    for (const auto& [pPrefix, nType] : MAKERS) {
        if (strMake.rfind(pPrefix, 0) == 0)
            return nType;
    }
    return FILE_TYPE_TIF;
}

// ---- ICO / CUR

constexpr size_t ICO_DIRECTORY = 6;
constexpr size_t ICO_ENTRY_BYTES = 16;
constexpr uint16_t ICO_TYPE = 1, CUR_TYPE = 2;
constexpr uint32_t ICO_MAX_IMAGE = 64 * MIB;
constexpr uint8_t szIcoBitmapHeader[] = {40, 0, 0, 0};

// ---- WebP, RAF

constexpr char szRafMagic[] = "FUJIFILMCCD-RAW ";
constexpr size_t RAF_OFFSETS = 84;
constexpr int RAF_SECTIONS = 3; // preview JPEG, CFA header, CFA data
constexpr uint64_t RAF_LIMIT = 4 * GIB;

} // namespace

// ---- JPEG

EXTEND_NAME_TYPE CPictureFormats::IsJpgType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    const uint8_t soi[] = {JPEG_MARK, JPEG_SOI, JPEG_MARK};
    if (head.Size() < 16 || !head.Matches(0, soi, sizeof(soi)) || !IsPlausibleFirstSegment(head))
        return NONE;
    // The JFIF and Exif identifiers are proof enough; other first segments must lead to the
    // next marker.
    if ((pBuf[3] == JPEG_APP0 && head.Matches(6, "JFIF\0", 5)) ||
        (pBuf[3] == JPEG_APP1 && head.Matches(6, "Exif\0", 5)))
        return FILE_TYPE_JPG;
    const size_t nNext = JPEG_FIRST_SEGMENT + LoadU16BE(pBuf + JPEG_FIRST_SEGMENT);
    if (head.Has(nNext, 2) && (pBuf[nNext] != JPEG_MARK || IsStandaloneMarker(pBuf[nNext + 1])))
        return NONE;
    return FILE_TYPE_JPG;
}

CARVED_SIZE CPictureFormats::GetJPGFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 2;
    // Where a broken file is cut: at a marker that is none, or at the segment whose length led
    // to bytes that are no marker.
    uint64_t u64Cut = pos;
    uint64_t u64MpfEnd = 0;
    bool bFrame = false;
    bool bScan = false;
    JPEG_ENTROPY_CHECKS checks;
    bool bKnownMarkers = true;
    while (pos < JPEG_LIMIT) {
        CByteView marker = file.View(pos, 4);
        if (marker.Size() < 2 || marker.Data()[0] != JPEG_MARK)
            break;
        u64Cut = pos;
        const uint8_t m = marker.Data()[1];
        if (m == JPEG_MARK) {
            ++pos; // fill byte
            continue;
        }
        if (m == JPEG_EOI) {
            if (!bScan)
                break;
            const uint64_t u64End = std::max(pos + 2, u64MpfEnd);
            const bool bProved = checks.bInTurn && checks.bDense && bKnownMarkers;
            return bProved ? ProvedSize(u64End) : WalkedSize(u64End);
        }
        auto length = marker.U16BE(2);
        if (IsStandaloneMarker(m) || !length || *length < 2)
            break;
        bFrame |= IsStartOfFrame(m);
        bKnownMarkers = bKnownMarkers && m >= JPEG_FIRST_SEGMENT_MARKER;
        if (m == JPEG_DRI)
            checks.bRestartsEnabled = file.U16BE(pos + 4).value_or(0) != 0;
        if (m == JPEG_APP2)
            u64MpfEnd = std::max(u64MpfEnd, MultiPictureEnd(file, pos + 4, *length));
        pos += 2 + *length;
        if (m == JPEG_SOS) {
            if (!bFrame)
                break;
            bScan = true;
            checks.u8NextRestart = 0;
            auto next = SkipEntropyData(file, pos, checks);
            if (!next)
                break;
            pos = *next;
        }
    }
    // A photo whose data breaks off (overwritten or fragmented) is kept up to the break.
    return bScan ? WalkedSize(u64Cut) : Refused();
}

// ---- PNG

EXTEND_NAME_TYPE CPictureFormats::IsPngType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Matches(0, szPngHead, sizeof(szPngHead)))
        return NONE;
    // IHDR first; iPhone PNGs put a CgBI chunk before it.
    const size_t nIhdr = HeadMatchesText(head, 12, "CgBI") ? 8 + PNG_CHUNK_OVERHEAD + 4 : 8;
    return head.U32BE(nIhdr) == PNG_IHDR_BYTES && HeadMatchesText(head, nIhdr + 4, "IHDR")
               ? FILE_TYPE_PNG
               : NONE;
}

CARVED_SIZE CPictureFormats::GetPNGFileBytesSize(CCarvedFile& file) {
    uint64_t pos = sizeof(szPngHead);
    bool bData = false;
    while (pos < PNG_LIMIT) {
        CByteView chunk = file.View(pos, 8);
        auto length = chunk.U32BE(0);
        auto id = chunk.Slice(4, 4);
        if (!length || *length > PNG_MAX_CHUNK || !id || !IsLetterId(*id))
            break;
        pos += PNG_CHUNK_OVERHEAD + *length;
        if (id->Matches(0, "IEND", 4))
            return WalkedSize(pos);
        bData |= id->Matches(0, "IDAT", 4);
    }
    return bData ? WalkedSize(pos) : Refused();
}

// ---- GIF

EXTEND_NAME_TYPE CPictureFormats::IsGifType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, GIF_SCREEN_END) ||
        (!HeadMatchesText(head, 0, "GIF87a") && !HeadMatchesText(head, 0, "GIF89a")))
        return NONE;
    if (LoadU16LE(pBuf + 6) == 0 || LoadU16LE(pBuf + 8) == 0)
        return NONE;
    const uint64_t u64First = GIF_SCREEN_END + ColourTableBytes(pBuf[10]);
    if (head.Has(u64First, 1) && pBuf[u64First] != GIF_EXTENSION && pBuf[u64First] != GIF_IMAGE)
        return NONE;
    return FILE_TYPE_GIF;
}

CARVED_SIZE CPictureFormats::GetGIFFileBytesSize(CCarvedFile& file) {
    auto flags = file.U8(10);
    if (!flags)
        return Refused();
    uint64_t pos = GIF_SCREEN_END + ColourTableBytes(*flags);
    bool bImage = false;
    while (pos < GIF_LIMIT) {
        auto block = file.U8(pos);
        if (!block)
            break;
        if (*block == GIF_TRAILER)
            return bImage ? WalkedSize(pos + 1) : Refused();
        std::optional<uint64_t> next;
        if (*block == GIF_EXTENSION) {
            next = SkipSubBlocks(file, pos + 2);
        } else if (*block == GIF_IMAGE) {
            auto local = file.U8(pos + 9);
            auto codeSize = local ? file.U8(pos + GIF_IMAGE_DESCRIPTOR + ColourTableBytes(*local))
                                  : std::nullopt;
            if (!codeSize || *codeSize > 12)
                break;
            next = SkipSubBlocks(file, pos + GIF_IMAGE_DESCRIPTOR + ColourTableBytes(*local) + 1);
            bImage = true;
        }
        if (!next)
            break;
        pos = *next;
    }
    return bImage ? WalkedSize(pos) : Refused();
}

// ---- BMP

EXTEND_NAME_TYPE CPictureFormats::IsBmpType(const unsigned char* pBuf, int nLength) {
    auto bmp = ParseBmpHeader(HeadView(pBuf, nLength));
    return bmp && BmpFileSize(*bmp) != 0 ? FILE_TYPE_BMP : NONE;
}

CARVED_SIZE CPictureFormats::GetBMPFileBytesSize(CCarvedFile& file) {
    CByteView head = file.View(0, 54);
    auto bmp = ParseBmpHeader(head);
    return bmp ? ClaimedSize(BmpFileSize(*bmp), 14 + bmp->u32DibSize) : Refused();
}

// ---- PSD

EXTEND_NAME_TYPE CPictureFormats::IsPsdType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, PSD_HEADER_BYTES) || !HeadMatchesText(head, 0, "8BPS"))
        return NONE;
    const uint16_t u16Version = LoadU16BE(pBuf + 4);
    const uint32_t u32MaxSide = u16Version == 1 ? PSD_MAX_SIDE : PSB_MAX_SIDE;
    const uint16_t u16Channels = LoadU16BE(pBuf + 12);
    const uint32_t u32Height = LoadU32BE(pBuf + 14);
    const uint32_t u32Width = LoadU32BE(pBuf + 18);
    const uint16_t u16Depth = LoadU16BE(pBuf + 22);
    const uint16_t u16Mode = LoadU16BE(pBuf + 24);
    const bool bReservedZero = std::all_of(pBuf + 6, pBuf + 12, [](uint8_t c) { return c == 0; });
    const bool bDepthOk = u16Depth == 1 || u16Depth == 8 || u16Depth == 16 || u16Depth == 32;
    return (u16Version == 1 || u16Version == 2) && bReservedZero && u16Channels >= 1 &&
                   u16Channels <= PSD_MAX_CHANNELS && u32Height >= 1 && u32Height <= u32MaxSide &&
                   u32Width >= 1 && u32Width <= u32MaxSide && bDepthOk && u16Mode <= 9 &&
                   u16Mode != 5 && u16Mode != 6
               ? FILE_TYPE_PSD
               : NONE;
}

CARVED_SIZE CPictureFormats::GetPSDFileBytesSize(CCarvedFile& file) {
    CByteView head = file.View(0, PSD_HEADER_BYTES);
    if (!head.Has(0, PSD_HEADER_BYTES))
        return Refused();
    const bool bLarge = LoadU16BE(head.Data() + 4) == 2;
    const uint64_t u64Channels = LoadU16BE(head.Data() + 12);
    const uint64_t u64Height = LoadU32BE(head.Data() + 14);
    const uint64_t u64Width = LoadU32BE(head.Data() + 18);
    const uint64_t u64Depth = LoadU16BE(head.Data() + 22);
    uint64_t pos = PSD_HEADER_BYTES;
    auto colourMode = file.U32BE(pos);
    if (!colourMode)
        return Refused();
    pos += 4 + *colourMode;
    auto resources = file.U32BE(pos);
    if (!resources || (*resources >= 4 && !file.MatchesText(pos + 4, "8BIM")))
        return Refused();
    pos += 4 + *resources;
    const std::optional<uint64_t> layers =
        bLarge ? file.U64BE(pos) : std::optional<uint64_t>(file.U32BE(pos));
    if (!layers || *layers > PSD_LIMIT)
        return Refused();
    pos += (bLarge ? 8 : 4) + *layers;
    auto compression = file.U16BE(pos);
    if (!compression)
        return Refused();
    pos += 2;
    const uint64_t u64Rows = u64Height * u64Channels;
    if (*compression == PSD_RAW)
        return WalkedSize(pos + u64Rows * ((u64Width * u64Depth + 7) / 8));
    if (*compression != PSD_RLE)
        return WalkedSize(file.NextFileStart(pos, PSD_LIMIT, true));
    // RLE: a table of each row's compressed length, then the rows.
    const uint64_t u64Each = bLarge ? 4 : 2;
    uint64_t u64Data = 0;
    for (uint64_t i = 0; i < u64Rows; ++i) {
        const std::optional<uint32_t> count =
            bLarge ? file.U32BE(pos + i * u64Each)
                   : std::optional<uint32_t>(file.U16BE(pos + i * u64Each));
        if (!count)
            return WalkedSize(pos);
        u64Data += *count;
    }
    return WalkedSize(pos + u64Rows * u64Each + u64Data);
}

// ---- TIFF and camera raw

EXTEND_NAME_TYPE CPictureFormats::IsTifType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 16))
        return NONE;
    const bool bLittle = HeadMatchesText(head, 0, "II");
    if (!bLittle && !HeadMatchesText(head, 0, "MM"))
        return NONE;
    const uint16_t u16Magic = bLittle ? LoadU16LE(pBuf + 2) : LoadU16BE(pBuf + 2);
    if (u16Magic == BIGTIFF_MAGIC) {
        const uint16_t u16OffsetBytes = bLittle ? LoadU16LE(pBuf + 4) : LoadU16BE(pBuf + 4);
        return u16OffsetBytes == 8 && LoadU16LE(pBuf + 6) == 0 ? FILE_TYPE_TIF : NONE;
    }
    if (u16Magic != TIFF_MAGIC && u16Magic != ORF_MAGIC && u16Magic != ORF_MAGIC2 &&
        !(bLittle && u16Magic == RW2_MAGIC))
        return NONE;
    const uint32_t u32Ifd = bLittle ? LoadU32LE(pBuf + 4) : LoadU32BE(pBuf + 4);
    if (u32Ifd < 8 || u32Ifd >= TIFF_LIMIT / 2)
        return NONE;
    if (head.Has(u32Ifd, 2 + 12)) {
        const uint16_t u16Count = bLittle ? LoadU16LE(pBuf + u32Ifd) : LoadU16BE(pBuf + u32Ifd);
        const uint16_t u16Type =
            bLittle ? LoadU16LE(pBuf + u32Ifd + 4) : LoadU16BE(pBuf + u32Ifd + 4);
        if (u16Count == 0 || u16Count > TIFF_MAX_ENTRIES || TiffTypeBytes(u16Type) == 0)
            return NONE;
    }
    return FILE_TYPE_TIF;
}

CARVED_SIZE CPictureFormats::GetTIFFileBytesSize(CCarvedFile& file) {
    CByteView head = file.View(0, CR2_HEADER_END);
    if (!head.Has(0, CR2_HEADER_END))
        return Refused();
    const bool bBig = HeadMatchesText(head, 0, "MM");
    const uint16_t u16Magic = bBig ? LoadU16BE(head.Data() + 2) : LoadU16LE(head.Data() + 2);
    const bool bBigTiff = u16Magic == BIGTIFF_MAGIC;
    CTiffWalk walk(file, bBig, bBigTiff);
    auto ifd0 = walk.Offset(bBigTiff ? 8 : 4);
    const bool bCr2 =
        !bBig && HeadMatchesText(head, CR2_SIGNATURE, "CR") && head.Data()[CR2_SIGNATURE + 2] == 2;
    walk.Reach(0, bCr2 ? CR2_HEADER_END : bBigTiff ? 16 : 8);
    if (!ifd0 || !walk.Walk(*ifd0))
        return Refused();
    if (bCr2)
        walk.Walk(LoadU32LE(head.Data() + CR2_RAW_IFD));

    EXTEND_NAME_TYPE nType = FILE_TYPE_TIF;
    if (u16Magic == RW2_MAGIC)
        nType = FILE_TYPE_RW2;
    else if (u16Magic == ORF_MAGIC || u16Magic == ORF_MAGIC2)
        nType = FILE_TYPE_ORF;
    else if (bCr2)
        nType = FILE_TYPE_CR2;
    for (const TIFF_ENTRY& entry : walk.FirstIfd()) {
        if (entry.u16Tag == TAG_DNG_VERSION) {
            nType = FILE_TYPE_DNG;
            break;
        }
        if (entry.u16Tag == TAG_MAKE && nType == FILE_TYPE_TIF && entry.u64Count > 1) {
            CByteView make = file.View(entry.u64ValueAt, std::min<uint64_t>(entry.u64Count, 32));
            const size_t nText = std::min<size_t>(make.Size(), entry.u64Count);
            nType = RawTypeOfMake(std::string(reinterpret_cast<const char*>(make.Data()), nText));
        }
    }
    return WalkedSize(walk.End(), nType);
}

// ---- ICO / CUR

EXTEND_NAME_TYPE CPictureFormats::IsIcoType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 16) || LoadU16LE(pBuf) != 0)
        return NONE;
    const uint16_t u16Kind = LoadU16LE(pBuf + 2);
    const size_t nCount = LoadU16LE(pBuf + 4);
    if ((u16Kind != ICO_TYPE && u16Kind != CUR_TYPE) || nCount == 0 ||
        !head.Has(ICO_DIRECTORY, ICO_ENTRY_BYTES * nCount))
        return NONE;
    const uint32_t u32Directory = uint32_t(ICO_DIRECTORY + ICO_ENTRY_BYTES * nCount);
    for (size_t i = 0; i < nCount; ++i) {
        const unsigned char* pEntry = pBuf + ICO_DIRECTORY + ICO_ENTRY_BYTES * i;
        const uint16_t u16Planes = LoadU16LE(pEntry + 4);
        const uint16_t u16Bits = LoadU16LE(pEntry + 6);
        const uint32_t u32Bytes = LoadU32LE(pEntry + 8);
        const uint32_t u32Offset = LoadU32LE(pEntry + 12);
        const bool bIconFields =
            u16Planes <= 1 && (u16Bits == 0 || u16Bits == 1 || u16Bits == 4 || u16Bits == 8 ||
                               u16Bits == 16 || u16Bits == 24 || u16Bits == 32);
        if (pEntry[3] != 0 || (u16Kind == ICO_TYPE && !bIconFields) || u32Bytes == 0 ||
            u32Bytes > ICO_MAX_IMAGE || u32Offset < u32Directory || u32Offset > ICO_MAX_IMAGE)
            return NONE;
    }
    return u16Kind == ICO_TYPE ? FILE_TYPE_ICO : FILE_TYPE_CUR;
}

CARVED_SIZE CPictureFormats::GetICOFileBytesSize(CCarvedFile& file) {
    auto kind = file.U16LE(2);
    auto count = file.U16LE(4);
    if (!kind || !count || *count == 0)
        return Refused();
    uint64_t u64End = 0;
    uint64_t u64First = UINT64_MAX;
    for (uint64_t i = 0; i < *count; ++i) {
        const uint64_t u64Entry = ICO_DIRECTORY + ICO_ENTRY_BYTES * i;
        auto bytes = file.U32LE(u64Entry + 8);
        auto offset = file.U32LE(u64Entry + 12);
        if (!bytes || !offset)
            return Refused();
        u64End = std::max(u64End, uint64_t(*offset) + *bytes);
        u64First = std::min<uint64_t>(u64First, *offset);
    }
    // Every image is a DIB or a PNG.
    if (!file.Matches(u64First, szIcoBitmapHeader, sizeof(szIcoBitmapHeader)) &&
        !file.Matches(u64First, szPngHead, sizeof(szPngHead)))
        return Refused();
    const EXTEND_NAME_TYPE nType = *kind == CUR_TYPE ? FILE_TYPE_CUR : FILE_TYPE_ICO;
    return ClaimedSize(u64End, ICO_DIRECTORY + ICO_ENTRY_BYTES * *count, nType);
}

// ---- WebP

EXTEND_NAME_TYPE CPictureFormats::IsWebpType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!HeadMatchesText(head, 0, "RIFF") || !HeadMatchesText(head, 8, "WEBP"))
        return NONE;
    return HeadMatchesText(head, 12, "VP8 ") || HeadMatchesText(head, 12, "VP8L") ||
                   HeadMatchesText(head, 12, "VP8X")
               ? FILE_TYPE_WEBP
               : NONE;
}

CARVED_SIZE CPictureFormats::GetWEBPFileBytesSize(CCarvedFile& file) {
    return CRiffChunks::OuterSize(file, 0, false);
}

// ---- RAF

EXTEND_NAME_TYPE CPictureFormats::IsRafType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!HeadMatchesText(head, 0, szRafMagic) || !head.Has(RAF_OFFSETS, 8 * RAF_SECTIONS))
        return NONE;
    const uint32_t u32Jpeg = LoadU32BE(pBuf + RAF_OFFSETS);
    return u32Jpeg >= RAF_OFFSETS + 8 * RAF_SECTIONS ? FILE_TYPE_RAF : NONE;
}

CARVED_SIZE CPictureFormats::GetRAFFileBytesSize(CCarvedFile& file) {
    uint64_t u64End = 0;
    for (int i = 0; i < RAF_SECTIONS; ++i) {
        auto offset = file.U32BE(RAF_OFFSETS + 8 * i);
        auto bytes = file.U32BE(RAF_OFFSETS + 8 * i + 4);
        if (!offset || !bytes || uint64_t(*offset) + *bytes > RAF_LIMIT)
            return Refused();
        u64End = std::max(u64End, uint64_t(*offset) + *bytes);
    }
    const uint8_t soi[] = {JPEG_MARK, JPEG_SOI, JPEG_MARK};
    auto jpeg = file.U32BE(RAF_OFFSETS);
    return jpeg && file.Matches(*jpeg, soi, sizeof(soi)) ? WalkedSize(u64End) : Refused();
}
