// Validators of FAT directory entries and directory sectors, and FAT date conversion.
#include "formats/fat/FatEntryValidator.h"

#include "util/ByteView.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

// Plausible entry dates: 1991-05-03 00:38:05 UTC to 2080-01-23 10:24:45 UTC.
constexpr int64_t FAT_DATE_MIN = 673231085;
constexpr int64_t FAT_DATE_MAX = 3473231085;
constexpr int64_t SECONDS_PER_DAY = 86400;

constexpr uint8_t FAT_NAME_DOT = '.';
constexpr uint8_t FAT_NAME_BLANK = ' ';
constexpr uint8_t FAT_NAME_MIN_CHAR = 0x20;
constexpr size_t FAT_BASE_NAME_BYTES = 8;
constexpr size_t FAT_EXT_BYTES = 3;
// Double-byte characters are only looked for in name bytes 0..9.
constexpr size_t FAT_DBCS_LAST_LEAD = 9;
// A name of at least this many characters drawn from one or two byte values is file content.
constexpr size_t FAT_REPEATED_RUN_CHARS = 6;
constexpr uint8_t FAT_KANJI_E5 = 0x05; // a first name byte 0xE5 stored in place of the mark
constexpr uint8_t FAT_MAX_TENTHS = 199;

bool IsLongNameAttr(uint8_t u8Attr) {
    return u8Attr == FAT_ATTR_LONG_NAME;
}

uint32_t FirstClusterHi(const uint8_t* pEntry) {
    return LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_FstClusHI));
}
uint32_t FirstClusterLo(const uint8_t* pEntry) {
    return LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_FstClusLO));
}
uint32_t FileSize(const uint8_t* pEntry) {
    return LoadU32LE(pEntry + offsetof(FAT32_Entry, DIR_FileSize));
}
uint16_t CreateDate(const uint8_t* pEntry) {
    return LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_CrtDate));
}
uint16_t AccessDate(const uint8_t* pEntry) {
    return LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_LstAccDate));
}
uint16_t WriteDate(const uint8_t* pEntry) {
    return LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_WrtDate));
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian), any year.
int64_t DaysFromCivil(int64_t llYear, unsigned nMonth, unsigned nDay) {
    llYear -= nMonth <= 2;
    const int64_t llEra = (llYear >= 0 ? llYear : llYear - 399) / 400;
    const unsigned nYearOfEra = static_cast<unsigned>(llYear - llEra * 400);
    const unsigned nDayOfYear = (153 * (nMonth > 2 ? nMonth - 3 : nMonth + 9) + 2) / 5 + nDay - 1;
    const unsigned nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
    return llEra * 146097 + static_cast<int64_t>(nDayOfEra) - 719468;
}

// The broken-down date that the date word stands for: an impossible month leaves month and day
// at 0 (31 December of the year before); day 0 and days past the month's end roll over.
void SplitFatDate(uint16_t u16Date, int& nYear, int& nMonth, int& nDay) {
    nYear = 1980 + (u16Date >> 9);
    nMonth = (u16Date >> 5) & 0x0F;
    nDay = u16Date & 0x1F;
    if (nMonth < 1 || nMonth > 12) {
        nMonth = 0;
        nDay = 0;
    }
}

// UTC midnight of the date, normalised the same way as the local conversion.
int64_t FatDateToUtcValue(uint16_t u16Date) {
    int nYear, nMonth, nDay;
    SplitFatDate(u16Date, nYear, nMonth, nDay);
    int64_t llDays = nMonth == 0 ? DaysFromCivil(nYear, 1, 1) - 1
                                 : DaysFromCivil(nYear, unsigned(nMonth), 1) + nDay - 1;
    return llDays * SECONDS_PER_DAY;
}

// Local time differs from UTC by less than a day, so only dates next to a bound need the
// (slow) local conversion.
bool IsFatDateInRange(uint16_t u16Date) {
    int64_t llUtc = FatDateToUtcValue(u16Date);
    if (llUtc < FAT_DATE_MIN - SECONDS_PER_DAY || llUtc > FAT_DATE_MAX + SECONDS_PER_DAY)
        return false;
    if (llUtc > FAT_DATE_MIN + SECONDS_PER_DAY && llUtc < FAT_DATE_MAX - SECONDS_PER_DAY)
        return true;
    int64_t llLocal = FatDateToTimeValue(u16Date);
    return llLocal >= FAT_DATE_MIN && llLocal <= FAT_DATE_MAX;
}

bool AreEntryDatesInRange(const uint8_t* pEntry) {
    return IsFatDateInRange(CreateDate(pEntry)) && IsFatDateInRange(AccessDate(pEntry)) &&
           IsFatDateInRange(WriteDate(pEntry));
}

// Distinct dates stay distinct in local time, so the UTC values compare the same way.
bool HaveSameDates(const uint8_t* pFirst, const uint8_t* pSecond) {
    return FatDateToUtcValue(CreateDate(pFirst)) == FatDateToUtcValue(CreateDate(pSecond)) &&
           FatDateToUtcValue(AccessDate(pFirst)) == FatDateToUtcValue(AccessDate(pSecond)) &&
           FatDateToUtcValue(WriteDate(pFirst)) == FatDateToUtcValue(WriteDate(pSecond));
}

bool IsForbiddenNameByte(uint8_t u8Byte) {
    if (u8Byte < FAT_NAME_MIN_CHAR || (u8Byte >= 'a' && u8Byte <= 'z'))
        return true;
    return std::strchr("\\:*?\"<>|.", u8Byte) != nullptr;
}

bool HasValidNameBytes(const uint8_t* pEntry) {
    for (size_t i = 0; i < FAT_SHORT_NAME_BYTES; ++i) {
        if (IsForbiddenNameByte(pEntry[i]))
            return false;
    }
    return true;
}

// Steps that only concern which attribute combinations and cluster fields can exist together.
bool HasPlausibleAttributes(const uint8_t* pEntry) {
    const uint8_t u8Attr = pEntry[offsetof(FAT32_Entry, DIR_Attr)];
    const bool bIsDir = (u8Attr & FAT_ATTR_DIRECTORY) != 0;
    if (!bIsDir && FileSize(pEntry) == 0 &&
        (FirstClusterHi(pEntry) != 0 || FirstClusterLo(pEntry) != 0))
        return false;
    if (u8Attr == FAT_ATTR_VOLUME_ID) {
        if (FileSize(pEntry) != 0 || FirstClusterHi(pEntry) != 0 || FirstClusterLo(pEntry) != 0)
            return false;
    } else if (!IsLongNameAttr(u8Attr) && (u8Attr & FAT_ATTR_VOLUME_ID) != 0) {
        return false;
    }
    if (bIsDir && (u8Attr & FAT_ATTR_READ_ONLY) != 0)
        return false;
    return (u8Attr & FAT_ATTR_RESERVED_BITS) == 0;
}

// A run of blanks may only pad the end of a name part.
bool IsBlankPadded(const uint8_t* pPart, size_t nBytes) {
    bool bSeenBlank = false;
    for (size_t i = 0; i < nBytes; ++i) {
        if (pPart[i] == FAT_NAME_BLANK)
            bSeenBlank = true;
        else if (bSeenBlank)
            return false;
    }
    return true;
}

bool HasPairedDoubleByteChars(const uint8_t* pName) {
    size_t i = pName[0] == FAT_ENTRY_DELETED ? 1 : 0;
    while (i <= FAT_DBCS_LAST_LEAD) {
        if ((pName[i] & 0x80) == 0) {
            ++i;
            continue;
        }
        if ((pName[i + 1] & 0x80) == 0)
            return false;
        i += 2;
    }
    return true;
}

bool IsPlausibleShortName(const uint8_t* pEntry) {
    for (size_t i = 0; i < FAT_SHORT_NAME_BYTES; ++i) {
        if (pEntry[i] < FAT_NAME_MIN_CHAR || pEntry[i] == FAT_NAME_DOT)
            return false;
    }
    return IsBlankPadded(pEntry, FAT_BASE_NAME_BYTES) &&
           IsBlankPadded(pEntry + FAT_BASE_NAME_BYTES, FAT_EXT_BYTES) &&
           HasPairedDoubleByteChars(pEntry);
}

// The entries after a long-name entry at nIndex must belong to the same name and end in the
// short entry whose checksum it carries.
bool IsLongNameRunValid(const uint8_t* pBuffer, size_t nCount, size_t nIndex) {
    const uint8_t u8CheckSum = pBuffer[nIndex * FAT_ENTRY_BYTES + LDIR_CHKSUM_OFFSET];
    const size_t nLast = nIndex + LDIR_MAX_ORDINAL;
    for (size_t j = nIndex + 1; j < nCount && j <= nLast; ++j) {
        const uint8_t* pEntry = pBuffer + j * FAT_ENTRY_BYTES;
        if (!IsFatEntyValid(pEntry, (nCount - j) * FAT_ENTRY_BYTES))
            return false;
        if (IsLongNameAttr(pEntry[offsetof(FAT32_Entry, DIR_Attr)])) {
            if (pEntry[LDIR_CHKSUM_OFFSET] != u8CheckSum)
                return false;
            continue;
        }
        return pEntry[0] == FAT_ENTRY_DELETED || GetShortNameCheckSum(pEntry) == u8CheckSum;
    }
    return true;
}

bool IsZeroFilled(const uint8_t* pData, size_t nBytes) {
    for (size_t i = 0; i < nBytes; ++i) {
        if (pData[i] != 0)
            return false;
    }
    return true;
}

// Characters no FAT short name holds: controls, lower case, and those FAT reserves.
bool IsForbiddenShortNameByte(uint8_t u8Byte) {
    if (u8Byte < FAT_NAME_MIN_CHAR || u8Byte == 0x7F || (u8Byte >= 'a' && u8Byte <= 'z'))
        return true;
    return std::strchr("\"*+,./:;<=>?[\\]|", u8Byte) != nullptr;
}

bool HasShortNameCharacters(const uint8_t* pEntry) {
    if (pEntry[0] == FAT_NAME_BLANK)
        return false;
    for (size_t i = 0; i < FAT_SHORT_NAME_BYTES; ++i) {
        const bool bMark = i == 0 && (pEntry[0] == FAT_ENTRY_DELETED || pEntry[0] == FAT_KANJI_E5);
        if (!bMark && IsForbiddenShortNameByte(pEntry[i]))
            return false;
    }
    return true;
}

bool IsRepeatedByteRun(const uint8_t* pEntry) {
    uint8_t values[2] = {};
    size_t nValues = 0;
    size_t nChars = 0;
    for (size_t i = pEntry[0] == FAT_ENTRY_DELETED ? 1 : 0; i < FAT_SHORT_NAME_BYTES; ++i) {
        const uint8_t u8Byte = pEntry[i];
        if (u8Byte == FAT_NAME_BLANK)
            continue;
        ++nChars;
        if (std::find(values, values + nValues, u8Byte) != values + nValues)
            continue;
        if (nValues == 2)
            return false;
        values[nValues++] = u8Byte;
    }
    return nChars >= FAT_REPEATED_RUN_CHARS;
}

bool IsValidOrZeroDate(uint16_t u16Date) {
    const unsigned nMonth = (u16Date >> 5) & 0x0F;
    const unsigned nDay = u16Date & 0x1F;
    return u16Date == 0 || (nMonth >= 1 && nMonth <= 12 && nDay >= 1);
}

bool IsValidOrZeroTime(uint16_t u16Time) {
    const unsigned nHours = u16Time >> 11;
    const unsigned nMinutes = (u16Time >> 5) & 0x3F;
    const unsigned nTwoSeconds = u16Time & 0x1F;
    return nHours <= 23 && nMinutes <= 59 && nTwoSeconds <= 29;
}

bool HasValidOrZeroStamps(const uint8_t* pEntry) {
    return pEntry[offsetof(FAT32_Entry, DIR_CrtTimeTenth)] <= FAT_MAX_TENTHS &&
           IsValidOrZeroTime(LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_CrtTime))) &&
           IsValidOrZeroTime(LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_WrtTime))) &&
           IsValidOrZeroDate(CreateDate(pEntry)) && IsValidOrZeroDate(AccessDate(pEntry)) &&
           IsValidOrZeroDate(WriteDate(pEntry));
}

} // namespace

FAT32_Entry ReadFatEntry(const uint8_t* pData) {
    FAT32_Entry entry;
    std::memcpy(entry.DIR_Name, pData, sizeof(entry.DIR_Name));
    std::memcpy(entry.DIR_Ext, pData + offsetof(FAT32_Entry, DIR_Ext), sizeof(entry.DIR_Ext));
    entry.DIR_Attr = pData[offsetof(FAT32_Entry, DIR_Attr)];
    entry.DIR_NTRes = pData[offsetof(FAT32_Entry, DIR_NTRes)];
    entry.DIR_CrtTimeTenth = pData[offsetof(FAT32_Entry, DIR_CrtTimeTenth)];
    entry.DIR_CrtTime = LoadU16LE(pData + offsetof(FAT32_Entry, DIR_CrtTime));
    entry.DIR_CrtDate = CreateDate(pData);
    entry.DIR_LstAccDate = AccessDate(pData);
    entry.DIR_FstClusHI = uint16_t(FirstClusterHi(pData));
    entry.DIR_WrtTime = LoadU16LE(pData + offsetof(FAT32_Entry, DIR_WrtTime));
    entry.DIR_WrtDate = WriteDate(pData);
    entry.DIR_FstClusLO = uint16_t(FirstClusterLo(pData));
    entry.DIR_FileSize = FileSize(pData);
    return entry;
}

uint8_t GetShortNameCheckSum(const uint8_t* pName) {
    uint8_t u8Sum = 0;
    for (size_t i = 0; i < FAT_SHORT_NAME_BYTES; ++i)
        u8Sum = uint8_t(((u8Sum & 1) << 7) + (u8Sum >> 1) + pName[i]);
    return u8Sum;
}

int IsFatEntyValid(const uint8_t* pEntry, size_t nAvail) {
    if (pEntry == nullptr || nAvail < FAT_ENTRY_BYTES)
        return 0;
    if (IsFatFileRecord(pEntry, nAvail))
        return 1;
    if (!HasPlausibleAttributes(pEntry))
        return 0;
    const uint8_t u8First = pEntry[0];
    const uint8_t u8Attr = pEntry[offsetof(FAT32_Entry, DIR_Attr)];
    const bool bIsDir = (u8Attr & FAT_ATTR_DIRECTORY) != 0;
    const bool bIsLive = u8First != FAT_ENTRY_DELETED;
    if (IsLongNameAttr(u8Attr)) {
        if (bIsLive && (u8First & ~LDIR_LAST_PART) > LDIR_MAX_ORDINAL)
            return 0;
        return LoadU16LE(pEntry + LDIR_FSTCLUSLO_OFFSET) == 0 ? 1 : 0;
    }
    if (bIsLive && !bIsDir && !AreEntryDatesInRange(pEntry))
        return 0;
    if (u8Attr != FAT_ATTR_VOLUME_ID && !HasValidNameBytes(pEntry))
        return 0;
    if (bIsLive && bIsDir && FileSize(pEntry) != 0)
        return 0;
    if (u8Attr == FAT_ATTR_VOLUME_ID || bIsDir)
        return 1;
    return (u8Attr & FAT_ATTR_ARCHIVE) != 0 ? 1 : 0;
}

int IsFatFileRecord(const uint8_t* pSector, size_t nSize) {
    if (pSector == nullptr || nSize < 2 * FAT_ENTRY_BYTES)
        return 0;
    const uint8_t* pDot = pSector;
    const uint8_t* pDotDot = pSector + FAT_ENTRY_BYTES;
    const size_t nAttr = offsetof(FAT32_Entry, DIR_Attr);
    if (pDot[0] != '.' || (pDot[nAttr] & FAT_ATTR_DIRECTORY) == 0 || FileSize(pDot) != 0)
        return 0;
    if (pDotDot[0] != '.' || pDotDot[1] != '.' || (pDotDot[nAttr] & FAT_ATTR_DIRECTORY) == 0 ||
        FileSize(pDotDot) != 0)
        return 0;
    return HaveSameDates(pDot, pDotDot) ? 1 : 0;
}

int IsFatFDTRecord(const uint8_t* pBuffer, size_t nLength) {
    if (pBuffer == nullptr)
        return 0;
    const size_t nCount = nLength / FAT_ENTRY_BYTES;
    if (nCount == 0)
        return 0;
    for (size_t i = 0; i < nCount; ++i) {
        const uint8_t* pEntry = pBuffer + i * FAT_ENTRY_BYTES;
        if (pEntry[0] == FAT_ENTRY_END) {
            if (i == 0)
                return 0;
            return IsZeroFilled(pEntry, nLength - i * FAT_ENTRY_BYTES) ? 1 : 0;
        }
        if (!IsFatEntyValid(pEntry, nLength - i * FAT_ENTRY_BYTES))
            return 0;
        if (std::memcmp(pEntry + 1, pEntry + 17, 14) == 0)
            return 0;
        if (IsLongNameAttr(pEntry[offsetof(FAT32_Entry, DIR_Attr)])) {
            if (!IsLongNameRunValid(pBuffer, nCount, i))
                return 0;
        } else if (!IsPlausibleShortName(pEntry)) {
            return 0;
        }
    }
    return 1;
}

int IsPlausibleFoundEntry(const uint8_t* pEntry) {
    if (pEntry == nullptr)
        return 0;
    return HasShortNameCharacters(pEntry) && !IsRepeatedByteRun(pEntry) &&
                   HasValidOrZeroStamps(pEntry)
               ? 1
               : 0;
}

int64_t FatDateToTimeValue(uint16_t u16Date) {
    int nYear, nMonth, nDay;
    SplitFatDate(u16Date, nYear, nMonth, nDay);
    struct tm tmValue = {};
    tmValue.tm_year = nYear - 1900;
    tmValue.tm_mon = nMonth == 0 ? 0 : nMonth - 1;
    tmValue.tm_mday = nDay;
    tmValue.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&tmValue));
}

void Fat32GetFileCreateTime(const FAT32_Entry* pEntry, uint64_t* pOut) {
    *pOut = static_cast<uint64_t>(FatDateToTimeValue(pEntry->DIR_CrtDate));
}

void Fat32GetFileLastAccessTime(const FAT32_Entry* pEntry, uint64_t* pOut) {
    *pOut = static_cast<uint64_t>(FatDateToTimeValue(pEntry->DIR_LstAccDate));
}

void Fat32GetFileLastChangeTime(const FAT32_Entry* pEntry, uint64_t* pOut) {
    *pOut = static_cast<uint64_t>(FatDateToTimeValue(pEntry->DIR_WrtDate));
}
