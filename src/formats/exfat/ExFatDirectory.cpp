// Walks exFAT directory entries: sets, root entries, and the deep scan's sector test.
#include "formats/exfat/ExFatDirectory.h"

#include "formats/exfat/ExFatBootSector.h"
#include "util/ByteView.h"
#include "util/TextUtil.h"

namespace {

bool IsExFatEntryType(uint8_t nType) {
    switch (nType | EXFAT_ENTRY_IN_USE) {
    case EXFAT_TYPE_BITMAP:
    case EXFAT_TYPE_UPCASE:
    case EXFAT_TYPE_LABEL:
    case EXFAT_TYPE_FILE:
    case EXFAT_TYPE_GUID:
    case EXFAT_TYPE_STREAM:
    case EXFAT_TYPE_NAME:
    case EXFAT_TYPE_VENDOR_EXTENSION:
    case EXFAT_TYPE_VENDOR_ALLOCATION:
        return true;
    default:
        return false;
    }
}

EXFAT_TABLE_ENTRY ReadTableEntry(const uint8_t* pEntry, size_t nOffset) {
    return {nOffset, LoadU32LE(pEntry + EXFAT_CRITICAL_FIRST_CLUSTER),
            LoadU64LE(pEntry + EXFAT_CRITICAL_DATA_LENGTH),
            LoadU32LE(pEntry + EXFAT_UPCASE_TABLE_CHECKSUM)};
}

std::string ReadLabel(const uint8_t* pEntry) {
    size_t nUnits = pEntry[EXFAT_LABEL_COUNT];
    if (nUnits > EXFAT_MAX_LABEL_UNITS)
        nUnits = EXFAT_MAX_LABEL_UNITS;
    return Utf16LEToUtf8(pEntry + EXFAT_LABEL_UNITS_AT, nUnits);
}

// Reads the entries that begin before nLimit; sets may extend to nSize.
EXFAT_DIRECTORY WalkEntries(const uint8_t* pData, size_t nSize, size_t nLimit) {
    EXFAT_DIRECTORY dir;
    size_t nOff = 0;
    while (nOff < nLimit && InBounds(nSize, nOff, EXFAT_ENTRY_BYTES)) {
        const uint8_t* pEntry = pData + nOff;
        const uint8_t nType = pEntry[0];
        size_t nStep = EXFAT_ENTRY_BYTES;
        if (nType == EXFAT_TYPE_END) {
            dir.bEndSeen = true;
            break;
        }
        if (!IsExFatEntryType(nType))
            ++dir.nForeignEntries;
        else if ((nType | EXFAT_ENTRY_IN_USE) == EXFAT_TYPE_FILE) {
            if (auto set = ParseExFatEntrySet(pEntry, nSize - nOff)) {
                nStep = set->nEntryCount * EXFAT_ENTRY_BYTES;
                dir.vecSets.push_back({nOff, std::move(*set)});
            }
        } else if (nType == EXFAT_TYPE_BITMAP && (pEntry[EXFAT_BITMAP_FLAGS] & 1) == 0) {
            dir.bitmap = ReadTableEntry(pEntry, nOff);
        } else if (nType == EXFAT_TYPE_UPCASE) {
            dir.upcase = ReadTableEntry(pEntry, nOff);
        } else if (nType == EXFAT_TYPE_LABEL) {
            dir.strLabel = ReadLabel(pEntry);
        }
        nOff += nStep;
    }
    return dir;
}

bool IsZero(const uint8_t* pData, size_t nBytes) {
    for (size_t i = 0; i < nBytes; ++i)
        if (pData[i] != 0)
            return false;
    return true;
}

} // namespace

EXFAT_DIRECTORY ParseExFatDirectory(const uint8_t* pData, size_t nSize) {
    if (pData == nullptr)
        return {};
    return WalkEntries(pData, nSize, nSize);
}

std::optional<EXFAT_DIRECTORY> ParseExFatDirectorySector(const uint8_t* pData, size_t nSize,
                                                         size_t nSectorBytes) {
    if (pData == nullptr || nSectorBytes == 0 || nSectorBytes % EXFAT_ENTRY_BYTES != 0 ||
        !InBounds(nSize, 0, nSectorBytes) || pData[0] == EXFAT_TYPE_END)
        return std::nullopt;
    for (size_t nOff = 0; nOff < nSectorBytes; nOff += EXFAT_ENTRY_BYTES) {
        const uint8_t nType = pData[nOff];
        if (nType == EXFAT_TYPE_END) {
            if (!IsZero(pData + nOff, nSectorBytes - nOff))
                return std::nullopt;
            break;
        }
        if (!IsExFatEntryType(nType))
            return std::nullopt;
    }
    EXFAT_DIRECTORY dir = WalkEntries(pData, nSize, nSectorBytes);
    if (dir.vecSets.empty() && !(dir.bitmap && dir.upcase))
        return std::nullopt;
    return dir;
}

uint32_t ExFatUpcaseTableChecksum(const uint8_t* pData, size_t nSize) {
    uint32_t nSum = 0;
    for (size_t i = 0; pData != nullptr && i < nSize; ++i)
        nSum = ExFatChecksumStep32(nSum, pData[i]);
    return nSum;
}
