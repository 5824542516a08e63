// Archive formats: ZIP, 7z, RAR 4/5, gzip, bzip2, xz, zstd, tar, CAB; PE executables, Ghost.
#include "formats/carving/CArchiveFormats.h"

#include "formats/carving/CDocumentFormats.h"
#include "formats/carving/CarvingInflate.h"

#include <algorithm>
#include <zlib.h>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;
constexpr uint64_t KIB = 1024;
constexpr uint64_t MIB = 1024 * KIB;
constexpr uint64_t GIB = 1024 * MIB;
constexpr uint64_t ARCHIVE_LIMIT = 64 * GIB;
constexpr int RAW_DEFLATE = -MAX_WBITS;

uint32_t Crc32Over(CByteView view) {
    return uint32_t(crc32(0L, view.Data(), static_cast<uInt>(view.Size())));
}

// zlib's CRC-32 over [u64From, u64From + u64Bytes) of the file; nullopt when the data ends.
std::optional<uint32_t> Crc32Of(CCarvedFile& file, uint64_t u64From, uint64_t u64Bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (u64Bytes > 0) {
        CByteView view = file.View(u64From, 1);
        if (view.Size() == 0)
            return std::nullopt;
        const size_t nTake = size_t(std::min<uint64_t>(view.Size(), u64Bytes));
        crc = crc32(crc, view.Data(), static_cast<uInt>(nTake));
        u64From += nTake;
        u64Bytes -= nTake;
    }
    return uint32_t(crc);
}

bool IsAllZero(CByteView view) {
    return std::all_of(view.Data(), view.Data() + view.Size(), [](uint8_t c) { return c == 0; });
}

uint64_t RoundUp(uint64_t u64Value, uint64_t u64Unit) {
    return (u64Value + u64Unit - 1) / u64Unit * u64Unit;
}

// ---- ZIP

constexpr uint8_t szZipLocal[] = {'P', 'K', 3, 4};
constexpr uint8_t szZipCentral[] = {'P', 'K', 1, 2};
constexpr uint8_t szZipEnd[] = {'P', 'K', 5, 6};
constexpr uint8_t szZip64End[] = {'P', 'K', 6, 6};
constexpr uint8_t szZip64Locator[] = {'P', 'K', 6, 7};
constexpr size_t ZIP_LOCAL_HEADER = 30;
constexpr uint64_t ZIP_END_BYTES = 22;
constexpr uint64_t ZIP64_LOCATOR_BYTES = 20;
constexpr uint8_t szZipDescriptor[] = {'P', 'K', 7, 8};
constexpr uint16_t ZIP_DATA_DESCRIPTOR = 0x0008;
constexpr uint16_t ZIP_DEFLATED = 8;
// How far a stored streamed entry's descriptor is searched for.
constexpr uint64_t ZIP_STORED_SEARCH = 256 * MIB;
// How far the end record may lie behind the start of the central directory.
constexpr uint64_t ZIP_DIRECTORY_SEARCH = 256 * MIB;
constexpr uint16_t ZIP_RESERVED_FLAGS = 0xD780;
constexpr uint8_t ZIP_MAX_VERSION = 63;
constexpr uint16_t ZIP_MAX_NAME = 1024;
constexpr uint16_t ZIP64_EXTRA = 0x0001;
constexpr uint32_t ZIP64_MARK32 = 0xFFFFFFFF;
constexpr uint16_t ZIP64_MARK16 = 0xFFFF;

bool IsZipMethod(uint16_t u16Method) {
    return u16Method <= 20 || (u16Method >= 93 && u16Method <= 99);
}

// The ZIP64 extra field of an entry: its compressed size, when it has one.
std::optional<uint64_t> Zip64CompressedSize(CCarvedFile& file, uint64_t u64Extra,
                                            uint16_t u16ExtraBytes) {
    for (uint64_t off = 0; off + 4 <= u16ExtraBytes;) {
        auto id = file.U16LE(u64Extra + off);
        auto size = file.U16LE(u64Extra + off + 2);
        if (!id || !size)
            return std::nullopt;
        if (*id == ZIP64_EXTRA && *size >= 16)
            return file.U64LE(u64Extra + off + 4 + 8);
        off += 4 + *size;
    }
    return std::nullopt;
}

bool IsZipRecord(CCarvedFile& file, uint64_t u64Pos) {
    return file.Matches(u64Pos, szZipLocal, 4) || file.Matches(u64Pos, szZipCentral, 4) ||
           file.Matches(u64Pos, szZipEnd, 4) || file.Matches(u64Pos, szZip64End, 4);
}

// The end of a streamed entry's data (sizes only in the data descriptor behind it) and of that
// descriptor: deflated data is inflated to its end; stored data ends at the descriptor whose
// size names it.
std::optional<uint64_t> StreamedEntryEnd(CCarvedFile& file, uint64_t u64Data, uint16_t u16Method,
                                         bool bZip64) {
    uint64_t u64DataEnd = 0;
    if (u16Method == ZIP_DEFLATED) {
        auto deflated = InflateToEnd(file, u64Data, RAW_DEFLATE, ARCHIVE_LIMIT);
        if (!deflated)
            return std::nullopt;
        u64DataEnd = u64Data + deflated->u64Consumed;
    } else {
        for (auto hit = file.Find(szZipDescriptor, 4, u64Data, u64Data + ZIP_STORED_SEARCH); hit;
             hit = file.Find(szZipDescriptor, 4, *hit + 1, u64Data + ZIP_STORED_SEARCH)) {
            if (file.U32LE(*hit + 8) == *hit - u64Data) {
                u64DataEnd = *hit;
                break;
            }
        }
        if (u64DataEnd == 0)
            return std::nullopt;
    }
    // The descriptor: an optional signature, the CRC, and both sizes (64-bit for ZIP64).
    const uint64_t u64Signature = file.Matches(u64DataEnd, szZipDescriptor, 4) ? 4 : 0;
    const uint64_t u64End = u64DataEnd + u64Signature + 4 + (bZip64 ? 16 : 8);
    return IsZipRecord(file, u64End) ? std::optional<uint64_t>(u64End) : std::nullopt;
}

struct ZIP_END {
    uint64_t u64End;
    uint64_t u64CentralDirectory;
    uint64_t u64Entries;
};

// The end record at u64At when the central directory it names lies just before it.
std::optional<ZIP_END> CheckZipEnd(CCarvedFile& file, uint64_t u64At) {
    CByteView end = file.View(u64At, ZIP_END_BYTES);
    if (!end.Has(0, ZIP_END_BYTES))
        return std::nullopt;
    const uint8_t* p = end.Data();
    const uint16_t u16Disk = LoadU16LE(p + 4), u16CdDisk = LoadU16LE(p + 6);
    const uint16_t u16DiskEntries = LoadU16LE(p + 8), u16Entries = LoadU16LE(p + 10);
    const uint32_t u32CdSize = LoadU32LE(p + 12), u32CdOffset = LoadU32LE(p + 16);
    const uint64_t u64Past = u64At + ZIP_END_BYTES + LoadU16LE(p + 20);
    const bool bZip64 =
        u16Entries == ZIP64_MARK16 || u32CdSize == ZIP64_MARK32 || u32CdOffset == ZIP64_MARK32;
    // Writers that learn sizes late (zip reading stdin) add the ZIP64 records even when every
    // field of the end record fits.
    const bool bLocator = u64At >= ZIP64_LOCATOR_BYTES &&
                          file.Matches(u64At - ZIP64_LOCATOR_BYTES, szZip64Locator, 4);
    if (!bZip64 && !bLocator) {
        if (u16Disk != 0 || u16CdDisk != 0 || u16DiskEntries != u16Entries ||
            uint64_t(u32CdOffset) + u32CdSize != u64At ||
            (u16Entries != 0 && !file.Matches(u32CdOffset, szZipCentral, 4)))
            return std::nullopt;
        return ZIP_END{u64Past, u32CdOffset, u16Entries};
    }
    if (!bLocator)
        return std::nullopt;
    auto record = file.U64LE(u64At - ZIP64_LOCATOR_BYTES + 8);
    if (!record || *record >= u64At || !file.Matches(*record, szZip64End, 4))
        return std::nullopt;
    auto entries = file.U64LE(*record + 32);
    auto cdSize = file.U64LE(*record + 40);
    auto cdOffset = file.U64LE(*record + 48);
    if (!entries || !cdSize || !cdOffset || *cdOffset > *record || *record - *cdOffset != *cdSize)
        return std::nullopt;
    return ZIP_END{u64Past, *cdOffset, *entries};
}

// ---- 7z

constexpr uint8_t sz7zHead[] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t SEVEN_ZIP_START_HEADER = 32;
constexpr uint8_t SEVEN_ZIP_HEADER = 0x01, SEVEN_ZIP_ENCODED_HEADER = 0x17;
constexpr uint64_t SEVEN_ZIP_MAX_NEXT_HEADER = 1 * GIB;

// ---- RAR

constexpr uint8_t szRar4Head[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint8_t szRar5Head[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
constexpr uint8_t RAR4_MARK = 0x72, RAR4_MAIN = 0x73, RAR4_FILE = 0x74, RAR4_END = 0x7B;
constexpr uint16_t RAR4_LONG_BLOCK = 0x8000;
constexpr uint16_t RAR4_LARGE_FILE = 0x0100;
constexpr uint64_t RAR4_BLOCK_HEADER = 7;
constexpr uint64_t RAR5_END = 5;
constexpr uint64_t RAR5_EXTRA_AREA = 0x0001, RAR5_DATA_AREA = 0x0002;
constexpr uint64_t RAR5_MAX_HEADER = 2 * MIB;

// A RAR 5 variable-length integer (7 bits a byte, low first) at the view's offset.
std::optional<uint64_t> ReadVint(CByteView view, size_t* pPos) {
    uint64_t u64Value = 0;
    for (int nShift = 0; nShift < 64 && *pPos < view.Size(); nShift += 7) {
        const uint8_t b = view.Data()[(*pPos)++];
        u64Value |= uint64_t(b & 0x7F) << nShift;
        if ((b & 0x80) == 0)
            return u64Value;
    }
    return std::nullopt;
}

// The RAR 5 header at u64Pos when its CRC holds: its type and the bytes it spans with its data.
std::optional<std::pair<uint64_t, uint64_t>> ReadRar5Header(CCarvedFile& file, uint64_t u64Pos) {
    CByteView head = file.View(u64Pos, 4 + 3);
    auto crc = head.U32LE(0);
    size_t nSize = 4;
    auto size = ReadVint(head, &nSize);
    if (!crc || !size || *size == 0 || *size > RAR5_MAX_HEADER)
        return std::nullopt;
    CByteView header = file.View(u64Pos + 4, nSize - 4 + *size);
    if (header.Size() < nSize - 4 + *size ||
        Crc32Over(CByteView(header.Data(), nSize - 4 + *size)) != *crc)
        return std::nullopt;
    size_t pos = nSize - 4;
    auto type = ReadVint(header, &pos);
    auto flags = ReadVint(header, &pos);
    if (!type || !flags)
        return std::nullopt;
    if (*flags & RAR5_EXTRA_AREA && !ReadVint(header, &pos))
        return std::nullopt;
    uint64_t u64Data = 0;
    if (*flags & RAR5_DATA_AREA) {
        auto data = ReadVint(header, &pos);
        if (!data)
            return std::nullopt;
        u64Data = *data;
    }
    return std::make_pair(*type, nSize + *size + u64Data);
}

// ---- gzip

constexpr uint8_t szGzipHead[] = {0x1F, 0x8B, 0x08};
constexpr uint8_t GZIP_HEADER_CRC = 0x02, GZIP_EXTRA = 0x04, GZIP_NAME = 0x08, GZIP_COMMENT = 0x10,
                  GZIP_RESERVED = 0xE0;
constexpr uint64_t GZIP_HEADER_BYTES = 10;
constexpr uint64_t GZIP_TRAILER_BYTES = 8;
constexpr uint64_t GZIP_MAX_TEXT = 64 * KIB;

// Past a zero-terminated header text at u64Pos.
std::optional<uint64_t> SkipText(CCarvedFile& file, uint64_t u64Pos) {
    const uint8_t zero = 0;
    auto end = file.Find(&zero, 1, u64Pos, u64Pos + GZIP_MAX_TEXT);
    return end ? std::optional<uint64_t>(*end + 1) : std::nullopt;
}

// The deflate data's offset after a gzip member header at u64Pos.
std::optional<uint64_t> GzipDataStart(CCarvedFile& file, uint64_t u64Pos) {
    auto flags = file.U8(u64Pos + 3);
    if (!flags || (*flags & GZIP_RESERVED) != 0)
        return std::nullopt;
    std::optional<uint64_t> pos = u64Pos + GZIP_HEADER_BYTES;
    if (*flags & GZIP_EXTRA) {
        auto extra = file.U16LE(*pos);
        pos = extra ? std::optional<uint64_t>(*pos + 2 + *extra) : std::nullopt;
    }
    if (pos && (*flags & GZIP_NAME))
        pos = SkipText(file, *pos);
    if (pos && (*flags & GZIP_COMMENT))
        pos = SkipText(file, *pos);
    if (pos && (*flags & GZIP_HEADER_CRC))
        *pos += 2;
    return pos;
}

// ---- bzip2

constexpr uint64_t BZIP2_BLOCK_MAGIC = 0x314159265359;
constexpr uint64_t BZIP2_END_MAGIC = 0x177245385090;
constexpr uint64_t BZIP2_MAGIC_MASK = 0xFFFFFFFFFFFF;
constexpr uint64_t BZIP2_HEADER_BYTES = 4;
// A compressed block never exceeds its uncompressed size by this factor.
constexpr uint64_t BZIP2_BLOCK_SLACK = 2;

bool IsBzip2Head(CByteView head) {
    return head.Has(0, 10) && head.Matches(0, "BZh", 3) && head.Data()[3] >= '1' &&
           head.Data()[3] <= '9' &&
           ((LoadU64BE(head.Data() + 2) & BZIP2_MAGIC_MASK) == BZIP2_BLOCK_MAGIC ||
            (LoadU64BE(head.Data() + 2) & BZIP2_MAGIC_MASK) == BZIP2_END_MAGIC);
}

// nBits (at most 57) bits from bit offset u64Bit, most significant first.
std::optional<uint64_t> BitsAt(CCarvedFile& file, uint64_t u64Bit, int nBits) {
    CByteView view = file.View(u64Bit / 8, 8);
    if (!view.Has(0, 8))
        return std::nullopt;
    const uint64_t u64Word = LoadU64BE(view.Data());
    return (u64Word << (u64Bit % 8)) >> (64 - nBits);
}

// The bit offset of the next block or end-of-stream magic at or after u64FromBit, within
// u64WindowBytes.
std::optional<uint64_t> FindBzip2Magic(CCarvedFile& file, uint64_t u64FromBit,
                                       uint64_t u64WindowBytes) {
    uint64_t u64Byte = u64FromBit / 8;
    const uint64_t u64Stop = u64Byte + u64WindowBytes;
    uint64_t u64Register = 0;
    int nLoaded = 0;
    while (u64Byte < u64Stop) {
        CByteView view = file.View(u64Byte, 1);
        if (view.Size() == 0)
            return std::nullopt;
        for (size_t i = 0; i < view.Size(); ++i, ++u64Byte) {
            u64Register = u64Register << 8 | view.Data()[i];
            if (++nLoaded < 7)
                continue;
            for (int s = 0; s < 8; ++s) {
                const uint64_t u64Candidate = (u64Register >> s) & BZIP2_MAGIC_MASK;
                if (u64Candidate != BZIP2_BLOCK_MAGIC && u64Candidate != BZIP2_END_MAGIC)
                    continue;
                const uint64_t u64Bit = (u64Byte + 1) * 8 - uint64_t(s) - 48;
                if (u64Bit >= u64FromBit)
                    return u64Bit;
            }
        }
    }
    return std::nullopt;
}

// One bzip2 stream at u64Pos: its end, nullopt when it breaks off.
std::optional<uint64_t> WalkBzip2Stream(CCarvedFile& file, uint64_t u64Pos) {
    if (!IsBzip2Head(file.View(u64Pos, 10)))
        return std::nullopt;
    auto level = file.U8(u64Pos + 3);
    const uint64_t u64Window = uint64_t(*level - '0') * 100000 * BZIP2_BLOCK_SLACK;
    uint64_t u64Bit = (u64Pos + BZIP2_HEADER_BYTES) * 8;
    uint32_t u32Combined = 0;
    while (true) {
        auto magic = BitsAt(file, u64Bit, 48);
        auto crc = BitsAt(file, u64Bit + 48, 32);
        if (!magic || !crc)
            return std::nullopt;
        if (*magic == BZIP2_END_MAGIC) {
            // The stored combined CRC closes the stream; the stream ends on a byte boundary.
            if (uint32_t(*crc) != u32Combined)
                return std::nullopt;
            return (u64Bit + 48 + 32 + 7) / 8;
        }
        if (*magic != BZIP2_BLOCK_MAGIC)
            return std::nullopt;
        u32Combined = (u32Combined << 1 | u32Combined >> 31) ^ uint32_t(*crc);
        auto next = FindBzip2Magic(file, u64Bit + 80, u64Window);
        if (!next)
            return std::nullopt;
        u64Bit = *next;
    }
}

// ---- xz

constexpr uint8_t szXzHead[] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr uint64_t XZ_HEADER_BYTES = 12;
constexpr uint64_t XZ_FOOTER_BYTES = 12;
constexpr uint64_t XZ_MAX_PADDING = 64 * KIB;

// One xz stream at u64Pos: the end of the footer whose backward size names this stream's index.
std::optional<uint64_t> WalkXzStream(CCarvedFile& file, uint64_t u64Pos) {
    CByteView header = file.View(u64Pos, XZ_HEADER_BYTES);
    if (!header.Has(0, XZ_HEADER_BYTES) || !header.Matches(0, szXzHead, sizeof(szXzHead)) ||
        Crc32Over(*header.Slice(6, 2)) != LoadU32LE(header.Data() + 8))
        return std::nullopt;
    const uint16_t u16Flags = LoadU16LE(header.Data() + 6);
    // Compressed data holds neither a zero sector nor another file's start: a stream that
    // breaks off is not searched further than that.
    const uint64_t u64Reach = file.NextFileStart(u64Pos + XZ_HEADER_BYTES, ARCHIVE_LIMIT, true);
    for (auto hit = file.Find("YZ", 2, u64Pos + XZ_HEADER_BYTES, u64Reach); hit;
         hit = file.Find("YZ", 2, *hit + 1, u64Reach)) {
        const uint64_t u64End = *hit + 2;
        if ((u64End - u64Pos) % 4 != 0 || u64End < u64Pos + XZ_HEADER_BYTES + XZ_FOOTER_BYTES)
            continue;
        const uint64_t u64Footer = u64End - XZ_FOOTER_BYTES;
        CByteView footer = file.View(u64Footer, XZ_FOOTER_BYTES);
        if (!footer.Has(0, XZ_FOOTER_BYTES) || LoadU16LE(footer.Data() + 8) != u16Flags ||
            Crc32Over(*footer.Slice(4, 6)) != LoadU32LE(footer.Data()))
            continue;
        const uint64_t u64Index = (uint64_t(LoadU32LE(footer.Data() + 4)) + 1) * 4;
        if (u64Footer < u64Pos + XZ_HEADER_BYTES + u64Index)
            continue;
        const uint64_t u64IndexAt = u64Footer - u64Index;
        auto stored = file.U32LE(u64Footer - 4);
        if (file.U8(u64IndexAt) == 0 && stored &&
            Crc32Of(file, u64IndexAt, u64Index - 4) == *stored)
            return u64End;
    }
    return std::nullopt;
}

// ---- zstd

constexpr uint32_t ZSTD_MAGIC = 0xFD2FB528;
constexpr uint32_t ZSTD_SKIPPABLE_MAGIC = 0x184D2A50;
constexpr uint32_t ZSTD_SKIPPABLE_MASK = 0xFFFFFFF0;
constexpr uint8_t ZSTD_RESERVED_BIT = 0x08;
constexpr uint32_t ZSTD_MAX_BLOCK = 128 * 1024;
constexpr uint32_t ZSTD_RLE_BLOCK = 1, ZSTD_RESERVED_BLOCK = 3;

// One zstd frame at u64Pos: its end, nullopt when it is none or breaks off.
std::optional<uint64_t> WalkZstdFrame(CCarvedFile& file, uint64_t u64Pos) {
    auto descriptor = file.U8(u64Pos + 4);
    if (!descriptor || (*descriptor & ZSTD_RESERVED_BIT))
        return std::nullopt;
    static constexpr uint64_t DICTIONARY_BYTES[] = {0, 1, 2, 4};
    static constexpr uint64_t CONTENT_SIZE_BYTES[] = {0, 2, 4, 8};
    const bool bSingleSegment = (*descriptor & 0x20) != 0;
    const uint64_t u64ContentSize =
        (*descriptor >> 6) == 0 ? (bSingleSegment ? 1 : 0) : CONTENT_SIZE_BYTES[*descriptor >> 6];
    uint64_t pos =
        u64Pos + 5 + (bSingleSegment ? 0 : 1) + DICTIONARY_BYTES[*descriptor & 3] + u64ContentSize;
    while (true) {
        CByteView block = file.View(pos, 3);
        if (!block.Has(0, 3))
            return std::nullopt;
        const uint32_t u32Header = block.Data()[0] | block.Data()[1] << 8 | block.Data()[2] << 16;
        const uint32_t u32Type = (u32Header >> 1) & 3;
        const uint32_t u32Size = u32Header >> 3;
        if (u32Type == ZSTD_RESERVED_BLOCK || u32Size > ZSTD_MAX_BLOCK)
            return std::nullopt;
        pos += 3 + (u32Type == ZSTD_RLE_BLOCK ? 1 : u32Size);
        if (u32Header & 1)
            break;
    }
    return pos + ((*descriptor & 0x04) ? 4 : 0);
}

// ---- tar

constexpr uint64_t TAR_BLOCK = 512;
constexpr uint64_t TAR_RECORD = 20 * TAR_BLOCK;
constexpr size_t TAR_SIZE = 124;
constexpr size_t TAR_CHECKSUM = 148;
constexpr size_t TAR_CHECKSUM_BYTES = 8;
constexpr size_t TAR_TYPE = 156;
constexpr size_t TAR_MAGIC = 257;
constexpr size_t TAR_SPARSE_EXTENDED = 482;
constexpr size_t TAR_SPARSE_MORE = 504;

// An octal field (spaces and NULs around it), or a base-256 one (high bit of its first byte).
std::optional<uint64_t> TarNumber(const uint8_t* pField, size_t nBytes) {
    uint64_t u64Value = 0;
    if (pField[0] & 0x80) {
        for (size_t i = 1; i < nBytes; ++i)
            u64Value = u64Value << 8 | pField[i];
        return u64Value;
    }
    size_t i = 0;
    while (i < nBytes && pField[i] == ' ')
        ++i;
    const size_t nStart = i;
    for (; i < nBytes && pField[i] >= '0' && pField[i] <= '7'; ++i)
        u64Value = u64Value * 8 + (pField[i] - '0');
    if (i == nStart)
        return std::nullopt;
    for (; i < nBytes; ++i) {
        if (pField[i] != ' ' && pField[i] != 0)
            return std::nullopt;
    }
    return u64Value;
}

bool IsTarHeader(CByteView block) {
    if (!block.Has(0, TAR_BLOCK) || !block.Matches(TAR_MAGIC, "ustar", 5))
        return false;
    auto stored = TarNumber(block.Data() + TAR_CHECKSUM, TAR_CHECKSUM_BYTES);
    if (!stored)
        return false;
    uint64_t u64Unsigned = 0;
    int64_t i64Signed = 0;
    for (size_t i = 0; i < TAR_BLOCK; ++i) {
        const bool bChecksum = i >= TAR_CHECKSUM && i < TAR_CHECKSUM + TAR_CHECKSUM_BYTES;
        const uint8_t c = bChecksum ? ' ' : block.Data()[i];
        u64Unsigned += c;
        i64Signed += static_cast<int8_t>(c);
    }
    return *stored == u64Unsigned || int64_t(*stored) == i64Signed;
}

// Link, device, folder and FIFO entries carry no data whatever their size field says.
bool TarEntryHasData(uint8_t u8Type) {
    return u8Type < '1' || u8Type > '6';
}

// ---- CAB, PE, Ghost

constexpr uint64_t CAB_HEADER_BYTES = 36;
constexpr uint8_t szGhoHead[] = {0xFE, 0xEF, 0x00, 0x00};

constexpr size_t PE_OFFSET_FIELD = 60;
constexpr uint32_t PE_MAX_HEADER_OFFSET = 488;
constexpr uint8_t szPeSignature[] = {'P', 'E', 0, 0};
constexpr size_t PE_SECTION_COUNT = 6;
constexpr size_t PE_SYMBOL_TABLE = 12;
constexpr uint64_t PE_SYMBOL_BYTES = 18;
constexpr size_t PE_OPTIONAL_SIZE = 20;
constexpr size_t PE_CHARACTERISTICS = 22;
constexpr uint64_t PE_FILE_HEADER = 24;
constexpr uint16_t PE_EXECUTABLE_IMAGE = 0x0002;
constexpr uint16_t PE_SYSTEM = 0x1000;
constexpr uint16_t PE_DLL = 0x2000;
constexpr uint16_t PE32_MAGIC = 0x10B, PE32_PLUS_MAGIC = 0x20B;
constexpr size_t PE_SIZE_OF_HEADERS = 60;
constexpr uint64_t PE_SECTION_BYTES = 40;
constexpr uint16_t PE_MAX_SECTIONS = 96;
constexpr int PE_SECURITY_DIRECTORY = 4;
constexpr uint64_t PE_LIMIT = 4 * GIB;

// The end of the COFF symbol table and the string table behind it, which unstripped MinGW and
// GNU ld images keep after their sections; 0 when there is none.
uint64_t PeSymbolsEnd(CCarvedFile& file, uint64_t u64Header) {
    auto offset = file.U32LE(u64Header + PE_SYMBOL_TABLE);
    auto count = file.U32LE(u64Header + PE_SYMBOL_TABLE + 4);
    if (!offset || !count || *offset == 0 || *offset + PE_SYMBOL_BYTES * *count > PE_LIMIT)
        return 0;
    const uint64_t u64Strings = *offset + PE_SYMBOL_BYTES * *count;
    auto strings = file.U32LE(u64Strings);
    // A pointer no writer would leave is ignored rather than refusing the image.
    return strings && *strings >= 4 && u64Strings + *strings <= PE_LIMIT ? u64Strings + *strings
                                                                         : 0;
}

} // namespace

// ---- ZIP

EXTEND_NAME_TYPE CArchiveFormats::IsZipType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, ZIP_LOCAL_HEADER + 1) || !head.Matches(0, szZipLocal, 4))
        return NONE;
    const uint16_t u16Name = LoadU16LE(pBuf + 26);
    return pBuf[4] <= ZIP_MAX_VERSION && (LoadU16LE(pBuf + 6) & ZIP_RESERVED_FLAGS) == 0 &&
                   IsZipMethod(LoadU16LE(pBuf + 8)) && u16Name >= 1 && u16Name <= ZIP_MAX_NAME &&
                   pBuf[ZIP_LOCAL_HEADER] >= 0x20 && pBuf[ZIP_LOCAL_HEADER] != 0x7F
               ? FILE_TYPE_ZIP
               : NONE;
}

CARVED_SIZE CArchiveFormats::GetZIPFileBytesSize(CCarvedFile& file) {
    // The entries, each to the next, then the end record behind the central directory.
    uint64_t pos = 0;
    int nEntries = 0;
    while (file.Matches(pos, szZipLocal, 4)) {
        CByteView local = file.View(pos, ZIP_LOCAL_HEADER);
        if (!local.Has(0, ZIP_LOCAL_HEADER))
            break;
        const uint16_t u16Flags = LoadU16LE(local.Data() + 6);
        const uint16_t u16Name = LoadU16LE(local.Data() + 26);
        const uint16_t u16Extra = LoadU16LE(local.Data() + 28);
        uint64_t u64Data = pos;
        if (!StepWithin(u64Data, ZIP_LOCAL_HEADER + u16Name + u16Extra, ARCHIVE_LIMIT))
            break;
        const bool bZip64 = LoadU32LE(local.Data() + 18) == ZIP64_MARK32;
        std::optional<uint64_t> next;
        if (u16Flags & ZIP_DATA_DESCRIPTOR) {
            next = StreamedEntryEnd(file, u64Data, LoadU16LE(local.Data() + 8), bZip64);
        } else {
            auto compressed =
                bZip64 ? Zip64CompressedSize(file, pos + ZIP_LOCAL_HEADER + u16Name, u16Extra)
                       : std::optional<uint64_t>(LoadU32LE(local.Data() + 18));
            if (compressed && StepWithin(u64Data, *compressed, ARCHIVE_LIMIT))
                next = u64Data;
        }
        if (!next)
            break;
        pos = *next;
        ++nEntries;
    }
    if (nEntries == 0)
        return Refused();
    // An archive whose entries break off (overwritten, fragmented) keeps the entries walked.
    if (!file.Matches(pos, szZipCentral, 4) && !file.Matches(pos, szZip64End, 4) &&
        !file.Matches(pos, szZipEnd, 4))
        return WalkedSize(pos);
    for (auto hit = file.Find(szZipEnd, 4, pos, pos + ZIP_DIRECTORY_SEARCH); hit;
         hit = file.Find(szZipEnd, 4, *hit + 1, pos + ZIP_DIRECTORY_SEARCH)) {
        if (auto end = CheckZipEnd(file, *hit)) {
            return WalkedSize(end->u64End, CDocumentFormats::ZipPackageType(
                                               file, end->u64CentralDirectory, end->u64Entries));
        }
    }
    return WalkedSize(pos);
}

// ---- 7z

EXTEND_NAME_TYPE CArchiveFormats::Is7zType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, SEVEN_ZIP_START_HEADER) || !head.Matches(0, sz7zHead, sizeof(sz7zHead)) ||
        pBuf[6] != 0 || pBuf[7] > 4)
        return NONE;
    return Crc32Over(*head.Slice(12, 20)) == LoadU32LE(pBuf + 8) ? FILE_TYPE_7Z : NONE;
}

CARVED_SIZE CArchiveFormats::Get7ZFileBytesSize(CCarvedFile& file) {
    auto offset = file.U64LE(12);
    auto size = file.U64LE(20);
    auto crc = file.U32LE(28);
    if (!offset || !size || !crc || *offset > ARCHIVE_LIMIT || *size > SEVEN_ZIP_MAX_NEXT_HEADER)
        return Refused();
    const uint64_t u64Header = SEVEN_ZIP_START_HEADER + *offset;
    const uint64_t u64End = u64Header + *size;
    if (*size == 0)
        return WalkedSize(u64End);
    auto kind = file.U8(u64Header);
    if (kind && (*kind == SEVEN_ZIP_HEADER || *kind == SEVEN_ZIP_ENCODED_HEADER) &&
        Crc32Of(file, u64Header, *size) == *crc)
        return WalkedSize(u64End);
    return ClaimedSize(u64End, SEVEN_ZIP_START_HEADER);
}

// ---- RAR

EXTEND_NAME_TYPE CArchiveFormats::IsRarType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (head.Matches(0, szRar5Head, sizeof(szRar5Head)))
        return FILE_TYPE_RAR;
    if (!head.Matches(0, szRar4Head, sizeof(szRar4Head)) || !head.Has(7, RAR4_BLOCK_HEADER))
        return NONE;
    const uint16_t u16Size = LoadU16LE(pBuf + 12);
    return pBuf[9] == RAR4_MAIN && u16Size >= RAR4_BLOCK_HEADER &&
                   (!head.Has(7, u16Size) ||
                    (Crc32Over(*head.Slice(9, u16Size - 2)) & 0xFFFF) == LoadU16LE(pBuf + 7))
               ? FILE_TYPE_RAR
               : NONE;
}

CARVED_SIZE CArchiveFormats::GetRARFileBytesSize(CCarvedFile& file) {
    if (file.Matches(0, szRar5Head, sizeof(szRar5Head))) {
        uint64_t pos = sizeof(szRar5Head);
        while (pos < ARCHIVE_LIMIT) {
            auto header = ReadRar5Header(file, pos);
            if (!header || !StepWithin(pos, header->second, ARCHIVE_LIMIT))
                break;
            if (header->first == RAR5_END)
                return WalkedSize(pos);
        }
        return pos > sizeof(szRar5Head) ? WalkedSize(pos) : Refused();
    }
    uint64_t pos = sizeof(szRar4Head);
    while (pos < ARCHIVE_LIMIT) {
        CByteView block = file.View(pos, 36);
        if (!block.Has(0, RAR4_BLOCK_HEADER))
            break;
        const uint8_t u8Type = block.Data()[2];
        const uint16_t u16Flags = LoadU16LE(block.Data() + 3);
        const uint16_t u16Size = LoadU16LE(block.Data() + 5);
        if (u8Type < RAR4_MARK || u8Type > RAR4_END || u16Size < RAR4_BLOCK_HEADER)
            break;
        CByteView header = file.View(pos, u16Size);
        if (header.Size() < u16Size || (Crc32Over(CByteView(header.Data() + 2, u16Size - 2u)) &
                                        0xFFFF) != LoadU16LE(block.Data()))
            break;
        uint64_t u64Added = 0;
        if ((u16Flags & RAR4_LONG_BLOCK) || u8Type == RAR4_FILE)
            u64Added = block.U32LE(7).value_or(0);
        if (u8Type == RAR4_FILE && (u16Flags & RAR4_LARGE_FILE))
            u64Added |= uint64_t(block.U32LE(32).value_or(0)) << 32;
        if (!StepWithin(pos, u16Size, ARCHIVE_LIMIT) || !StepWithin(pos, u64Added, ARCHIVE_LIMIT))
            break;
        if (u8Type == RAR4_END)
            return WalkedSize(pos);
    }
    // Old archivers wrote no end block: the archive ends with its last whole block.
    return pos > sizeof(szRar4Head) ? WalkedSize(pos) : Refused();
}

// ---- gzip

EXTEND_NAME_TYPE CArchiveFormats::IsGzipType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 16) || !head.Matches(0, szGzipHead, sizeof(szGzipHead)))
        return NONE;
    const uint8_t u8ExtraFlags = pBuf[8];
    const uint8_t u8Os = pBuf[9];
    return (pBuf[3] & GZIP_RESERVED) == 0 &&
                   (u8ExtraFlags == 0 || u8ExtraFlags == 2 || u8ExtraFlags == 4) &&
                   (u8Os <= 13 || u8Os == 0xFF)
               ? FILE_TYPE_GZ
               : NONE;
}

CARVED_SIZE CArchiveFormats::GetGZFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    int nMembers = 0;
    while (file.Matches(pos, szGzipHead, sizeof(szGzipHead)) && pos < ARCHIVE_LIMIT) {
        auto data = GzipDataStart(file, pos);
        auto deflated = data ? InflateToEnd(file, *data, RAW_DEFLATE, ARCHIVE_LIMIT) : std::nullopt;
        if (!deflated)
            break;
        const uint64_t u64Trailer = *data + deflated->u64Consumed;
        // The trailer's length field: the inflated bytes modulo 2^32.
        if (file.U32LE(u64Trailer + 4) != uint32_t(deflated->u64Produced))
            break;
        pos = u64Trailer + GZIP_TRAILER_BYTES;
        ++nMembers;
    }
    return nMembers > 0 ? WalkedSize(pos) : Refused();
}

// ---- bzip2

EXTEND_NAME_TYPE CArchiveFormats::IsBzip2Type(const unsigned char* pBuf, int nLength) {
    return IsBzip2Head(HeadView(pBuf, nLength)) ? FILE_TYPE_BZ2 : NONE;
}

CARVED_SIZE CArchiveFormats::GetBZ2FileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    while (auto end = WalkBzip2Stream(file, pos))
        pos = *end;
    return pos > 0 ? WalkedSize(pos) : Refused();
}

// ---- xz

EXTEND_NAME_TYPE CArchiveFormats::IsXzType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return head.Has(0, XZ_HEADER_BYTES) && head.Matches(0, szXzHead, sizeof(szXzHead)) &&
                   Crc32Over(*head.Slice(6, 2)) == LoadU32LE(pBuf + 8)
               ? FILE_TYPE_XZ
               : NONE;
}

CARVED_SIZE CArchiveFormats::GetXZFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    while (auto end = WalkXzStream(file, pos)) {
        pos = *end;
        // Stream padding (zeros, a multiple of four) belongs to the file only before another
        // stream.
        uint64_t u64Next = pos;
        while (u64Next - pos < XZ_MAX_PADDING && file.U32LE(u64Next) == 0u)
            u64Next += 4;
        if (!file.Matches(u64Next, szXzHead, sizeof(szXzHead)))
            break;
        pos = u64Next;
    }
    return pos > 0 ? WalkedSize(pos) : Refused();
}

// ---- zstd

EXTEND_NAME_TYPE CArchiveFormats::IsZstdType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    auto magic = head.U32LE(0);
    if (!magic || !head.Has(0, 8))
        return NONE;
    if (*magic == ZSTD_MAGIC)
        return (pBuf[4] & ZSTD_RESERVED_BIT) == 0 ? FILE_TYPE_ZST : NONE;
    // A skippable frame counts only with a frame of data right behind it.
    if ((*magic & ZSTD_SKIPPABLE_MASK) != ZSTD_SKIPPABLE_MAGIC)
        return NONE;
    return head.U32LE(8 + uint64_t(LoadU32LE(pBuf + 4))) == ZSTD_MAGIC ? FILE_TYPE_ZST : NONE;
}

CARVED_SIZE CArchiveFormats::GetZSTFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    uint64_t u64Framed = 0; // the end of the last data frame
    while (pos < ARCHIVE_LIMIT) {
        auto magic = file.U32LE(pos);
        if (magic && (*magic & ZSTD_SKIPPABLE_MASK) == ZSTD_SKIPPABLE_MAGIC) {
            auto size = file.U32LE(pos + 4);
            if (!size)
                break;
            pos += 8 + uint64_t(*size);
            continue;
        }
        auto end = magic == ZSTD_MAGIC ? WalkZstdFrame(file, pos) : std::nullopt;
        if (!end)
            break;
        pos = u64Framed = *end;
    }
    return u64Framed > 0 ? WalkedSize(std::max(u64Framed, pos)) : Refused();
}

// ---- tar

EXTEND_NAME_TYPE CArchiveFormats::IsTarType(const unsigned char* pBuf, int nLength) {
    return IsTarHeader(HeadView(pBuf, nLength)) ? FILE_TYPE_TAR : NONE;
}

CARVED_SIZE CArchiveFormats::GetTARFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    int nMembers = 0;
    while (pos < ARCHIVE_LIMIT) {
        CByteView block = file.View(pos, TAR_BLOCK);
        if (!block.Has(0, TAR_BLOCK))
            break;
        if (IsAllZero(*block.Slice(0, TAR_BLOCK))) {
            CByteView second = file.View(pos + TAR_BLOCK, TAR_BLOCK);
            if (!second.Has(0, TAR_BLOCK) || !IsAllZero(*second.Slice(0, TAR_BLOCK)))
                break;
            // Two zero blocks end the archive; writers then pad it with zeros to a record.
            uint64_t u64End = pos + 2 * TAR_BLOCK;
            const uint64_t u64Record = RoundUp(u64End, TAR_RECORD);
            CByteView padding = file.View(u64End, u64Record - u64End);
            if (padding.Size() >= u64Record - u64End &&
                IsAllZero(*padding.Slice(0, u64Record - u64End)))
                u64End = u64Record;
            return nMembers > 0 ? WalkedSize(u64End) : Refused();
        }
        if (!IsTarHeader(block))
            break;
        const uint8_t u8Type = block.Data()[TAR_TYPE];
        auto size = TarNumber(block.Data() + TAR_SIZE, 12);
        if (!size)
            break;
        bool bMoreSparse = u8Type == 'S' && block.Data()[TAR_SPARSE_EXTENDED] != 0;
        pos += TAR_BLOCK;
        // GNU sparse entries: extension blocks before the data.
        while (bMoreSparse) {
            auto more = file.U8(pos + TAR_SPARSE_MORE);
            if (!more)
                break;
            bMoreSparse = *more != 0;
            pos += TAR_BLOCK;
        }
        if (TarEntryHasData(u8Type) &&
            (*size > ARCHIVE_LIMIT || !StepWithin(pos, RoundUp(*size, TAR_BLOCK), ARCHIVE_LIMIT)))
            break;
        ++nMembers;
    }
    return nMembers > 0 ? WalkedSize(pos) : Refused();
}

// ---- CAB

EXTEND_NAME_TYPE CArchiveFormats::IsCabType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, CAB_HEADER_BYTES) || !HeadMatchesText(head, 0, "MSCF"))
        return NONE;
    const uint32_t u32Cabinet = LoadU32LE(pBuf + 8);
    return LoadU32LE(pBuf + 4) == 0 && LoadU32LE(pBuf + 12) == 0 && LoadU32LE(pBuf + 20) == 0 &&
                   u32Cabinet >= CAB_HEADER_BYTES && LoadU32LE(pBuf + 16) < u32Cabinet &&
                   pBuf[24] == 3 && pBuf[25] == 1 && LoadU16LE(pBuf + 26) > 0 &&
                   LoadU16LE(pBuf + 28) > 0
               ? FILE_TYPE_CAB
               : NONE;
}

CARVED_SIZE CArchiveFormats::GetCABFileBytesSize(CCarvedFile& file) {
    auto size = file.U32LE(8);
    return size ? ClaimedSize(*size, CAB_HEADER_BYTES) : Refused();
}

// ---- PE

EXTEND_NAME_TYPE CArchiveFormats::IsPeType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, 512) || !HeadMatchesText(head, 0, "MZ"))
        return NONE;
    const uint32_t u32PeOffset = LoadU32LE(pBuf + PE_OFFSET_FIELD);
    if (u32PeOffset > PE_MAX_HEADER_OFFSET || !head.Matches(u32PeOffset, szPeSignature, 4))
        return NONE;
    const uint16_t u16Characteristics = LoadU16LE(pBuf + u32PeOffset + PE_CHARACTERISTICS);
    if ((u16Characteristics & PE_EXECUTABLE_IMAGE) == 0)
        return NONE;
    if (u16Characteristics & PE_SYSTEM)
        return FILE_TYPE_SYS;
    return u16Characteristics & PE_DLL ? FILE_TYPE_DLL : FILE_TYPE_EXE;
}

CARVED_SIZE CArchiveFormats::GetPEFileBytesSize(CCarvedFile& file) {
    auto peOffset = file.U32LE(PE_OFFSET_FIELD);
    if (!peOffset)
        return Refused();
    auto sections = file.U16LE(*peOffset + PE_SECTION_COUNT);
    auto optionalSize = file.U16LE(*peOffset + PE_OPTIONAL_SIZE);
    const uint64_t u64Optional = *peOffset + PE_FILE_HEADER;
    auto magic = file.U16LE(u64Optional);
    if (!sections || !optionalSize || *sections > PE_MAX_SECTIONS ||
        (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC))
        return Refused();
    auto headers = file.U32LE(u64Optional + PE_SIZE_OF_HEADERS);
    if (!headers)
        return Refused();
    uint64_t u64End = *headers;
    const uint64_t u64Sections = u64Optional + *optionalSize;
    for (uint64_t i = 0; i < *sections; ++i) {
        auto rawSize = file.U32LE(u64Sections + PE_SECTION_BYTES * i + 16);
        auto rawOffset = file.U32LE(u64Sections + PE_SECTION_BYTES * i + 20);
        if (!rawSize || !rawOffset)
            return Refused();
        if (*rawSize != 0)
            u64End = std::max(u64End, uint64_t(*rawOffset) + *rawSize);
    }
    // The certificate table lies behind the sections, at a file offset.
    const uint64_t u64Directories = u64Optional + (magic == PE32_MAGIC ? 96 : 112);
    auto directoryCount = file.U32LE(u64Directories - 4);
    if (directoryCount && *directoryCount > PE_SECURITY_DIRECTORY) {
        auto offset = file.U32LE(u64Directories + 8 * PE_SECURITY_DIRECTORY);
        auto bytes = file.U32LE(u64Directories + 8 * PE_SECURITY_DIRECTORY + 4);
        if (offset && bytes && *offset != 0)
            u64End = std::max(u64End, uint64_t(*offset) + *bytes);
    }
    u64End = std::max(u64End, PeSymbolsEnd(file, *peOffset));
    if (u64End > PE_LIMIT || u64End < u64Sections)
        return Refused();
    return ClaimedSize(u64End, u64Sections + PE_SECTION_BYTES * *sections);
}

// ---- Ghost

EXTEND_NAME_TYPE CArchiveFormats::IsGhoType(const unsigned char* pBuf, int nLength) {
    return HeadView(pBuf, nLength).Matches(0, szGhoHead, sizeof(szGhoHead)) ? FILE_TYPE_GHO : NONE;
}
