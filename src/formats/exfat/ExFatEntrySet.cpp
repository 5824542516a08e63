// Decodes and checks exFAT file entry sets; bytes in, a record out.
#include "formats/exfat/ExFatEntrySet.h"

#include "util/ByteView.h"
#include "util/TextUtil.h"

namespace {

constexpr uint8_t UTC_OFFSET_VALID = 0x80;
constexpr int64_t SECONDS_PER_DAY = 86400;
constexpr int64_t SECONDS_PER_OFFSET_STEP = 15 * 60;
constexpr uint32_t TIMESTAMP_YEAR_BASE = 1980;
constexpr uint8_t MAX_10MS_INCREMENT = 199;

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, uint32_t m, uint32_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

uint8_t TypeOf(const uint8_t* pEntry) {
    return pEntry[0];
}

bool HasType(const uint8_t* pEntry, uint8_t nInUseType, bool bInUse) {
    return TypeOf(pEntry) == (bInUse ? nInUseType : uint8_t(nInUseType & ~EXFAT_ENTRY_IN_USE));
}

} // namespace

uint16_t ExFatSetChecksum(const uint8_t* pSet, size_t nBytes) {
    uint16_t nSum = 0;
    for (size_t i = 0; i < nBytes; ++i) {
        if (i == EXFAT_FILE_SET_CHECKSUM || i == EXFAT_FILE_SET_CHECKSUM + 1)
            continue;
        uint8_t nByte = pSet[i];
        if (i % EXFAT_ENTRY_BYTES == 0)
            nByte |= EXFAT_ENTRY_IN_USE;
        nSum = uint16_t(((nSum & 1) ? 0x8000u : 0u) + (nSum >> 1) + nByte);
    }
    return nSum;
}

EXFAT_TIMESTAMP DecodeExFatTimestamp(uint32_t nTimestamp, uint8_t n10ms, uint8_t nUtcOffset) {
    EXFAT_TIMESTAMP t{};
    const uint32_t nSecond = (nTimestamp & 0x1F) * 2;
    const uint32_t nMinute = nTimestamp >> 5 & 0x3F;
    const uint32_t nHour = nTimestamp >> 11 & 0x1F;
    const uint32_t nDay = nTimestamp >> 16 & 0x1F;
    const uint32_t nMonth = nTimestamp >> 21 & 0x0F;
    const uint32_t nYear = (nTimestamp >> 25) + TIMESTAMP_YEAR_BASE;
    if (nMonth < 1 || nMonth > 12 || nDay < 1 || nHour > 23 || nMinute > 59 || nSecond > 59)
        return t;
    if (n10ms > MAX_10MS_INCREMENT)
        n10ms = 0;
    t.llUnixSeconds = DaysFromCivil(nYear, nMonth, nDay) * SECONDS_PER_DAY + nHour * 3600 +
                      nMinute * 60 + nSecond + n10ms / 100;
    t.nMilliseconds = uint16_t(n10ms % 100 * 10);
    t.bUtcOffsetValid = (nUtcOffset & UTC_OFFSET_VALID) != 0;
    if (t.bUtcOffsetValid) {
        // Seven-bit two's complement count of 15-minute steps east of UTC.
        const int nSteps = (nUtcOffset & 0x40) ? int(nUtcOffset & 0x7F) - 128 : nUtcOffset & 0x7F;
        t.llUnixSeconds -= nSteps * SECONDS_PER_OFFSET_STEP;
    }
    return t;
}

std::optional<EXFAT_ENTRY_SET> ParseExFatEntrySet(const uint8_t* pData, size_t nSize) {
    if (pData == nullptr || !InBounds(nSize, 0, EXFAT_ENTRY_BYTES) ||
        (TypeOf(pData) | EXFAT_ENTRY_IN_USE) != EXFAT_TYPE_FILE)
        return std::nullopt;
    EXFAT_ENTRY_SET set{};
    set.bInUse = (TypeOf(pData) & EXFAT_ENTRY_IN_USE) != 0;
    const uint32_t nSecondaries = pData[EXFAT_FILE_SECONDARY_COUNT];
    set.nEntryCount = nSecondaries + 1;
    const size_t nSetBytes = set.nEntryCount * EXFAT_ENTRY_BYTES;
    if (nSecondaries < EXFAT_MIN_SECONDARY_COUNT || nSecondaries > EXFAT_MAX_SECONDARY_COUNT ||
        !InBounds(nSize, 0, nSetBytes))
        return std::nullopt;

    const uint8_t* pStream = pData + EXFAT_ENTRY_BYTES;
    if (!HasType(pStream, EXFAT_TYPE_STREAM, set.bInUse))
        return std::nullopt;
    const size_t nNameUnits = pStream[EXFAT_STREAM_NAME_LENGTH];
    const size_t nNameEntries =
        (nNameUnits + EXFAT_NAME_UNITS_PER_ENTRY - 1) / EXFAT_NAME_UNITS_PER_ENTRY;
    if (nNameUnits == 0 || nNameEntries > nSecondaries - 1)
        return std::nullopt;
    for (uint32_t i = 2; i < set.nEntryCount; ++i) {
        const uint8_t* pEntry = pData + i * EXFAT_ENTRY_BYTES;
        const bool bNameSlot = i < 2 + nNameEntries;
        if (bNameSlot ? !HasType(pEntry, EXFAT_TYPE_NAME, set.bInUse)
                      : (TypeOf(pEntry) & EXFAT_ENTRY_SECONDARY) == 0 ||
                            ((TypeOf(pEntry) & EXFAT_ENTRY_IN_USE) != 0) != set.bInUse)
            return std::nullopt;
    }
    if (ExFatSetChecksum(pData, nSetBytes) != LoadU16LE(pData + EXFAT_FILE_SET_CHECKSUM))
        return std::nullopt;

    const uint8_t nFlags = pStream[EXFAT_STREAM_FLAGS];
    set.bNoFatChain = (nFlags & EXFAT_FLAG_NO_FAT_CHAIN) != 0;
    set.bAllocationPossible = (nFlags & EXFAT_FLAG_ALLOCATION_POSSIBLE) != 0;
    set.nNameHash = LoadU16LE(pStream + EXFAT_STREAM_NAME_HASH);
    set.u64ValidDataLength = LoadU64LE(pStream + EXFAT_STREAM_VALID_DATA_LENGTH);
    set.nFirstCluster = LoadU32LE(pStream + EXFAT_STREAM_FIRST_CLUSTER);
    set.u64DataLength = LoadU64LE(pStream + EXFAT_STREAM_DATA_LENGTH);
    if (set.u64ValidDataLength > set.u64DataLength)
        return std::nullopt;

    set.nAttributes = LoadU16LE(pData + EXFAT_FILE_ATTRIBUTES);
    set.bIsDir = (set.nAttributes & EXFAT_ATTR_DIRECTORY) != 0;
    set.create =
        DecodeExFatTimestamp(LoadU32LE(pData + EXFAT_FILE_CREATE_TIMESTAMP),
                             pData[EXFAT_FILE_CREATE_10MS], pData[EXFAT_FILE_CREATE_UTC_OFFSET]);
    set.modify = DecodeExFatTimestamp(LoadU32LE(pData + EXFAT_FILE_MODIFIED_TIMESTAMP),
                                      pData[EXFAT_FILE_MODIFIED_10MS],
                                      pData[EXFAT_FILE_MODIFIED_UTC_OFFSET]);
    set.access = DecodeExFatTimestamp(LoadU32LE(pData + EXFAT_FILE_ACCESSED_TIMESTAMP), 0,
                                      pData[EXFAT_FILE_ACCESSED_UTC_OFFSET]);

    std::basic_string<uint8_t> nameBytes;
    for (size_t u = 0; u < nNameUnits; ++u) {
        const uint8_t* pUnit = pData + (2 + u / EXFAT_NAME_UNITS_PER_ENTRY) * EXFAT_ENTRY_BYTES +
                               EXFAT_NAME_UNITS_AT + u % EXFAT_NAME_UNITS_PER_ENTRY * 2;
        set.strName16.push_back(char16_t(LoadU16LE(pUnit)));
        nameBytes.append(pUnit, 2);
    }
    set.strName = Utf16LEToUtf8(nameBytes.data(), nNameUnits);
    return set;
}
