// Font and database formats: TrueType/OpenType, collections, WOFF, SQLite.
#include "formats/carving/CFontDatabaseFormats.h"

#include <algorithm>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;
constexpr uint64_t GIB = 1024ull * 1024 * 1024;

// ---- sfnt fonts

constexpr uint32_t SFNT_TRUETYPE = 0x00010000;
constexpr uint32_t SFNT_OPENTYPE = 0x4F54544F; // "OTTO"
constexpr uint32_t SFNT_APPLE = 0x74727565;    // "true"
constexpr uint64_t SFNT_DIRECTORY = 12;
constexpr uint64_t SFNT_RECORD_BYTES = 16;
constexpr uint16_t SFNT_MAX_TABLES = 256;
constexpr uint64_t FONT_LIMIT = 1 * GIB;
constexpr uint32_t TTC_MAX_FONTS = 1024;
constexpr uint64_t TTC_HEADER = 12;

bool IsSfntVersion(uint32_t u32Version) {
    return u32Version == SFNT_TRUETYPE || u32Version == SFNT_OPENTYPE || u32Version == SFNT_APPLE;
}

// searchRange, entrySelector and rangeShift follow from the table count.
bool HasConsistentDirectory(CByteView head, size_t off) {
    auto tables = head.U16BE(off + 4);
    if (!tables || *tables == 0 || *tables > SFNT_MAX_TABLES || !head.Has(off, 12))
        return false;
    uint16_t u16Selector = 0;
    while ((2u << u16Selector) <= *tables)
        ++u16Selector;
    const uint16_t u16Range = uint16_t(16u << u16Selector);
    return head.U16BE(off + 6) == u16Range && head.U16BE(off + 8) == u16Selector &&
           head.U16BE(off + 10) == uint16_t(*tables * 16 - u16Range);
}

// The furthest byte the table directory at u64Directory reaches; 0 when it does not parse.
uint64_t TablesEnd(CCarvedFile& file, uint64_t u64Directory) {
    auto tables = file.U16BE(u64Directory + 4);
    if (!tables || *tables == 0 || *tables > SFNT_MAX_TABLES)
        return 0;
    uint64_t u64End = u64Directory + SFNT_DIRECTORY + SFNT_RECORD_BYTES * *tables;
    for (uint64_t i = 0; i < *tables; ++i) {
        const uint64_t u64Record = u64Directory + SFNT_DIRECTORY + SFNT_RECORD_BYTES * i;
        auto offset = file.U32BE(u64Record + 8);
        auto length = file.U32BE(u64Record + 12);
        if (!offset || !length || uint64_t(*offset) + *length > FONT_LIMIT)
            return 0;
        u64End = std::max(u64End, uint64_t(*offset) + *length);
    }
    return u64End;
}

uint64_t PaddedToFour(uint64_t u64Bytes) {
    return (u64Bytes + 3) & ~uint64_t(3);
}

// ---- WOFF

constexpr uint64_t WOFF_HEADER = 44;
constexpr uint64_t WOFF2_HEADER = 48;

// ---- SQLite

constexpr uint8_t szSqliteHead[] = "SQLite format 3"; // with its 00
constexpr size_t SQLITE_PAGE_SIZE = 16;
constexpr size_t SQLITE_PAYLOAD_FRACTIONS = 21;
constexpr uint8_t szSqlitePayloadFractions[] = {64, 32, 32};
constexpr size_t SQLITE_CHANGE_COUNTER = 24;
constexpr size_t SQLITE_PAGE_COUNT = 28;
constexpr size_t SQLITE_VALID_FOR = 92;
constexpr uint64_t SQLITE_HEADER = 100;
constexpr uint64_t SQLITE_LIMIT = 1024 * GIB;
constexpr uint64_t SQLITE_END_CHECK_LIMIT = 6 * GIB;

uint64_t SqlitePageSize(uint16_t u16Field) {
    return u16Field == 1 ? 65536 : u16Field;
}

} // namespace

// ---- sfnt fonts

EXTEND_NAME_TYPE CFontDatabaseFormats::IsTtfType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    auto version = head.U32BE(0);
    if (!version || !IsSfntVersion(*version) || !HasConsistentDirectory(head, 0))
        return NONE;
    return *version == SFNT_OPENTYPE ? FILE_TYPE_OTF : FILE_TYPE_TTF;
}

CARVED_SIZE CFontDatabaseFormats::GetTTFFileBytesSize(CCarvedFile& file) {
    const uint64_t u64End = TablesEnd(file, 0);
    auto version = file.U32BE(0);
    const EXTEND_NAME_TYPE nType = version == SFNT_OPENTYPE ? FILE_TYPE_OTF : FILE_TYPE_TTF;
    return u64End != 0 ? ClaimedSize(PaddedToFour(u64End), SFNT_DIRECTORY, nType) : Refused();
}

EXTEND_NAME_TYPE CFontDatabaseFormats::IsTtcType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    auto fonts = head.U32BE(8);
    auto first = head.U32BE(TTC_HEADER);
    if (!HeadMatchesText(head, 0, "ttcf") || !fonts || *fonts == 0 || *fonts > TTC_MAX_FONTS ||
        !first || (head.U16BE(4) != 1 && head.U16BE(4) != 2) || head.U16BE(6) != 0)
        return NONE;
    auto version = head.U32BE(*first);
    return !version || IsSfntVersion(*version) ? FILE_TYPE_TTC : NONE;
}

CARVED_SIZE CFontDatabaseFormats::GetTTCFileBytesSize(CCarvedFile& file) {
    auto major = file.U16BE(4);
    auto fonts = file.U32BE(8);
    if (!major || !fonts || *fonts == 0 || *fonts > TTC_MAX_FONTS)
        return Refused();
    uint64_t u64End = TTC_HEADER + 4 * uint64_t(*fonts);
    for (uint64_t i = 0; i < *fonts; ++i) {
        auto directory = file.U32BE(TTC_HEADER + 4 * i);
        const uint64_t u64Font = directory ? TablesEnd(file, *directory) : 0;
        if (u64Font == 0)
            return Refused();
        u64End = std::max(u64End, u64Font);
    }
    // Version 2 headers name a digital signature after the offsets.
    if (*major == 2 && file.U32BE(TTC_HEADER + 4 * uint64_t(*fonts)) != 0u) {
        auto offset = file.U32BE(TTC_HEADER + 4 * uint64_t(*fonts) + 4);
        auto length = file.U32BE(TTC_HEADER + 4 * uint64_t(*fonts) + 8);
        if (offset && length)
            u64End = std::max(u64End, uint64_t(*offset) + *length);
    }
    return ClaimedSize(PaddedToFour(u64End), TTC_HEADER);
}

EXTEND_NAME_TYPE CFontDatabaseFormats::IsWoffType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    const bool bWoff2 = HeadMatchesText(head, 0, "wOF2");
    if ((!bWoff2 && !HeadMatchesText(head, 0, "wOFF")) || !head.Has(0, WOFF2_HEADER))
        return NONE;
    auto flavor = head.U32BE(4);
    const uint32_t u32Length = LoadU32BE(pBuf + 8);
    const uint16_t u16Tables = LoadU16BE(pBuf + 12);
    const bool bFlavorOk = IsSfntVersion(*flavor) || HeadMatchesText(head, 4, "ttcf");
    return bFlavorOk && u16Tables > 0 && LoadU16BE(pBuf + 14) == 0 &&
                   u32Length >= (bWoff2 ? WOFF2_HEADER : WOFF_HEADER)
               ? (bWoff2 ? FILE_TYPE_WOFF2 : FILE_TYPE_WOFF)
               : NONE;
}

CARVED_SIZE CFontDatabaseFormats::GetWOFFFileBytesSize(CCarvedFile& file) {
    auto length = file.U32BE(8);
    const EXTEND_NAME_TYPE nType = file.MatchesText(0, "wOF2") ? FILE_TYPE_WOFF2 : FILE_TYPE_WOFF;
    return length ? ClaimedSize(*length, WOFF_HEADER, nType) : Refused();
}

// ---- SQLite

EXTEND_NAME_TYPE CFontDatabaseFormats::IsSqlType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, SQLITE_HEADER) || !head.Matches(0, szSqliteHead, sizeof(szSqliteHead)))
        return NONE;
    const uint64_t u64Page = SqlitePageSize(LoadU16BE(pBuf + SQLITE_PAGE_SIZE));
    const bool bPowerOfTwo = u64Page >= 512 && (u64Page & (u64Page - 1)) == 0;
    return bPowerOfTwo && head.Matches(SQLITE_PAYLOAD_FRACTIONS, szSqlitePayloadFractions, 3)
               ? FILE_TYPE_DB
               : NONE;
}

CARVED_SIZE CFontDatabaseFormats::GetDBFileBytesSize(CCarvedFile& file) {
    CByteView head = file.View(0, SQLITE_HEADER);
    if (!head.Has(0, SQLITE_HEADER))
        return Refused();
    const uint64_t u64Page = SqlitePageSize(LoadU16BE(head.Data() + SQLITE_PAGE_SIZE));
    const uint64_t u64Pages = LoadU32BE(head.Data() + SQLITE_PAGE_COUNT);
    // The header's page count is current only when the change counter says so (3.7.0 on).
    const bool bCurrent =
        LoadU32BE(head.Data() + SQLITE_CHANGE_COUNTER) == LoadU32BE(head.Data() + SQLITE_VALID_FOR);
    if (bCurrent && u64Pages > 0 && u64Page * u64Pages <= SQLITE_LIMIT)
        return WalkedSize(u64Page * u64Pages);
    return WalkedSize(file.NextFileStart(file.SectorBytes(), SQLITE_END_CHECK_LIMIT));
}
