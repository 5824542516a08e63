// Pure decoders of NTFS file records: attribute walk, fix-up, data runs, names, plausibility.
#include "formats/ntfs/NtfsRecord.h"

#include "util/ByteView.h"
#include "util/TextUtil.h"

#include <algorithm>

namespace {

constexpr size_t SECTOR_TAIL = 510;
constexpr size_t MAX_RUN_FIELD_BYTES = 7;
constexpr size_t RUN_LENGTH_KEPT_BYTES = 4;

// Little-endian value of nBytes bytes, sign-extended from the top bit of the last byte.
int64_t LoadSignedLE(const uint8_t* p, size_t nBytes) {
    uint64_t u64Value = 0;
    for (size_t i = 0; i < nBytes; ++i)
        u64Value |= uint64_t(p[i]) << (8 * i);
    if (nBytes > 0 && nBytes < 8 && (p[nBytes - 1] & 0x80) != 0)
        u64Value |= ~uint64_t(0) << (8 * nBytes);
    return static_cast<int64_t>(u64Value);
}

uint64_t LoadUnsignedLE(const uint8_t* p, size_t nBytes) {
    uint64_t u64Value = 0;
    for (size_t i = 0; i < nBytes; ++i)
        u64Value |= uint64_t(p[i]) << (8 * i);
    return u64Value;
}

} // namespace

CNtfsAttributeWalk::CNtfsAttributeWalk(const uint8_t* pRecord, size_t nSize, size_t nBound)
    : m_pRecord(pRecord), m_nBound(std::min(nBound, nSize)), m_nPos(nBound) {
    if (pRecord != nullptr && InBounds(m_nBound, FR_FIRST_ATTRIBUTE, 2))
        m_nPos = LoadU16LE(pRecord + FR_FIRST_ATTRIBUTE);
}

std::optional<NTFS_ATTRIBUTE> CNtfsAttributeWalk::Next() {
    if (!InBounds(m_nBound, m_nPos, ATTR_MIN_LENGTH))
        return std::nullopt;
    const uint8_t* p = m_pRecord + m_nPos;
    uint32_t nType = LoadU32LE(p + ATTR_TYPE);
    uint32_t nLength = LoadU32LE(p + ATTR_LENGTH);
    if (nType == 0 || nType >= ATTR_TYPE_FILL || nLength < ATTR_MIN_LENGTH ||
        !InBounds(m_nBound, m_nPos, nLength)) {
        m_nPos = m_nBound;
        return std::nullopt;
    }
    NTFS_ATTRIBUTE attr{m_nPos, nType, nLength, p[ATTR_NON_RESIDENT] != 0, p[ATTR_NAME_LENGTH]};
    m_nPos += nLength;
    return attr;
}

std::optional<NTFS_ATTRIBUTE> FindNtfsAttribute(const uint8_t* pRecord, size_t nSize, size_t nBound,
                                                uint32_t nType) {
    CNtfsAttributeWalk walk(pRecord, nSize, nBound);
    while (auto attr = walk.Next())
        if (attr->nType == nType && (nType != ATTR_TYPE_DATA || attr->nNameLength == 0))
            return attr;
    return std::nullopt;
}

bool HasNtfsFileSignature(const uint8_t* pData, size_t nSize) {
    return pData != nullptr && nSize >= 4 && LoadU32LE(pData + FR_SIGNATURE) == NTFS_FILE_SIGNATURE;
}

uint16_t GetNtfsRecordFlags(const uint8_t* pRecord, size_t nSize) {
    return InBounds(nSize, FR_FLAGS, 2) ? LoadU16LE(pRecord + FR_FLAGS) : 0;
}

size_t GetNtfsRecordBytesInUse(const uint8_t* pRecord, size_t nSize) {
    if (!InBounds(nSize, FR_BYTES_IN_USE, 4))
        return 0;
    return std::min<size_t>(LoadU32LE(pRecord + FR_BYTES_IN_USE), nSize);
}

uint32_t GetNtfsRecordNumber(const uint8_t* pRecord, size_t nSize) {
    return InBounds(nSize, FR_RECORD_NUMBER, 4) ? LoadU32LE(pRecord + FR_RECORD_NUMBER) : 0;
}

int FixUpNtfsRecord(uint8_t* pRecord, size_t nSize, size_t nRecordSize) {
    if (pRecord == nullptr || nSize == 0 || pRecord[0] == 0)
        return -1;
    size_t nSlots = nRecordSize / NTFS_FIXUP_STRIDE;
    if (nSlots == 0 || nRecordSize > nSize ||
        !InBounds(nSize, FR_UPDATE_SEQUENCE_ARRAY, nSlots * 2))
        return -1;
    for (size_t i = 0; i < nSlots; ++i) {
        const uint8_t* pSaved = pRecord + FR_UPDATE_SEQUENCE_ARRAY + 2 * i;
        uint8_t* pTail = pRecord + (i + 1) * NTFS_FIXUP_STRIDE - 2;
        pTail[0] = pSaved[0];
        pTail[1] = pSaved[1];
    }
    return 0;
}

void DecodeNtfsRunList(const uint8_t* pAttribute, size_t nSize, std::vector<RUNLIST>& vecRuns) {
    if (pAttribute == nullptr || !InBounds(nSize, ATTR_RUNS_OFFSET, 2))
        return;
    size_t nEnd = std::min<size_t>(LoadU32LE(pAttribute + ATTR_LENGTH), nSize);
    size_t nPos = LoadU16LE(pAttribute + ATTR_RUNS_OFFSET);
    while (nPos < nEnd) {
        uint8_t nHeader = pAttribute[nPos];
        size_t nLengthBytes = nHeader & 0x0F;
        size_t nOffsetBytes = nHeader >> 4;
        if (nHeader == 0 || nLengthBytes > MAX_RUN_FIELD_BYTES ||
            nOffsetBytes > MAX_RUN_FIELD_BYTES ||
            !InBounds(nEnd, nPos + 1, nLengthBytes + nOffsetBytes))
            return;
        const uint8_t* pField = pAttribute + nPos + 1;
        RUNLIST run;
        run.u64Length = LoadUnsignedLE(pField, std::min(nLengthBytes, RUN_LENGTH_KEPT_BYTES));
        run.i64Offset = LoadSignedLE(pField + nLengthBytes, nOffsetBytes);
        vecRuns.push_back(run);
        nPos += 1 + nLengthBytes + nOffsetBytes;
    }
}

void AppendNtfsRunExtent(std::vector<RUNLIST>& vecRuns, const std::vector<RUNLIST>& vecExtent) {
    int64_t i64Position = 0;
    for (const RUNLIST& run : vecRuns)
        i64Position += run.i64Offset;
    bool bRebased = false;
    for (RUNLIST run : vecExtent) {
        if (!bRebased && run.i64Offset != 0) {
            run.i64Offset -= i64Position;
            bRebased = true;
        }
        vecRuns.push_back(run);
    }
}

std::optional<std::vector<uint8_t>> GetNtfsResidentContent(const uint8_t* pRecord, size_t nSize,
                                                           const NTFS_ATTRIBUTE& attr) {
    if (attr.bNonResident || !InBounds(nSize, attr.nOffset, attr.nLength))
        return std::nullopt;
    const uint8_t* pAttr = pRecord + attr.nOffset;
    uint32_t nContentLength = LoadU32LE(pAttr + ATTR_CONTENT_LENGTH);
    uint16_t nContentOffset = LoadU16LE(pAttr + ATTR_CONTENT_OFFSET);
    if (!InBounds(attr.nLength, nContentOffset, nContentLength))
        return std::nullopt;
    return std::vector<uint8_t>(pAttr + nContentOffset, pAttr + nContentOffset + nContentLength);
}

std::optional<uint64_t> GetNtfsAttributeDataSize(const uint8_t* pRecord, size_t nSize,
                                                 const NTFS_ATTRIBUTE& attr) {
    if (!InBounds(nSize, attr.nOffset, attr.nLength))
        return std::nullopt;
    const uint8_t* pAttr = pRecord + attr.nOffset;
    if (!attr.bNonResident)
        return LoadU32LE(pAttr + ATTR_CONTENT_LENGTH);
    if (!InBounds(attr.nLength, ATTR_REAL_SIZE, 8))
        return std::nullopt;
    return LoadU64LE(pAttr + ATTR_REAL_SIZE);
}

std::optional<NTFS_FILE_NAME> DecodeNtfsFileName(const uint8_t* pRecord, size_t nSize,
                                                 const NTFS_ATTRIBUTE& attr) {
    auto content = GetNtfsResidentContent(pRecord, nSize, attr);
    if (!content || content->size() < FN_NAME)
        return std::nullopt;
    const uint8_t* p = content->data();
    size_t nNameUnits = p[FN_NAME_LENGTH];
    if (!InBounds(content->size(), FN_NAME, nNameUnits * 2))
        return std::nullopt;
    NTFS_FILE_NAME name;
    name.nParentRecord = LoadU32LE(p + FN_PARENT_REFERENCE);
    name.u64CreateTime = LoadU64LE(p + FN_CREATE_TIME);
    name.u64ModifyTime = LoadU64LE(p + FN_MODIFY_TIME);
    name.u64AccessTime = LoadU64LE(p + FN_ACCESS_TIME);
    name.u64RealSize = LoadU64LE(p + FN_REAL_SIZE);
    name.nNameSpace = p[FN_NAME_SPACE];
    name.strName = Utf16LEToUtf8(p + FN_NAME, nNameUnits);
    return name;
}

NTFS_RECORD_SUMMARY SummarizeNtfsRecord(const uint8_t* pRecord, size_t nSize) {
    NTFS_RECORD_SUMMARY summary;
    CNtfsAttributeWalk walk(pRecord, nSize, GetNtfsRecordBytesInUse(pRecord, nSize));
    while (auto attr = walk.Next()) {
        if (attr->nType == ATTR_TYPE_ATTRIBUTE_LIST && !summary.attributeList) {
            summary.attributeList = attr;
        } else if (attr->nType == ATTR_TYPE_DATA && attr->nNameLength == 0 &&
                   !summary.bHasDataSize) {
            // Only the first extent of a stream carries its size.
            const uint8_t* pAttr = pRecord + attr->nOffset;
            bool bFirstExtent = !attr->bNonResident || LoadU64LE(pAttr + ATTR_LOWEST_VCN) == 0;
            auto size = GetNtfsAttributeDataSize(pRecord, nSize, *attr);
            if (bFirstExtent && size) {
                summary.u64DataSize = *size;
                summary.bHasDataSize = true;
            }
        } else if (attr->nType == ATTR_TYPE_FILE_NAME) {
            if (auto name = DecodeNtfsFileName(pRecord, nSize, *attr))
                AddNtfsFileName(summary, std::move(*name));
        }
    }
    return summary;
}

void AddNtfsFileName(NTFS_RECORD_SUMMARY& summary, NTFS_FILE_NAME name) {
    if (!summary.bHasName) {
        summary.strDisplayName = name.strName;
        summary.firstName = std::move(name);
        summary.bHasName = true;
    } else if (name.nNameSpace == FN_NAME_SPACE_WIN32) {
        summary.strDisplayName = name.strName;
    }
}

bool IsNtfsExtensionRecord(const uint8_t* pRecord, size_t nSize) {
    return InBounds(nSize, FR_BASE_RECORD, 8) &&
           (LoadU64LE(pRecord + FR_BASE_RECORD) & NTFS_REFERENCE_RECORD_MASK) != 0;
}

std::vector<uint32_t> GetNtfsListedRecords(const uint8_t* pList, size_t nSize, uint32_t nType) {
    std::vector<uint32_t> vecRecords;
    for (size_t nPos = 0; pList != nullptr && InBounds(nSize, nPos, AL_MIN_LENGTH);) {
        const uint8_t* pEntry = pList + nPos;
        uint32_t nEntryType = LoadU32LE(pEntry + AL_TYPE);
        uint16_t nEntryLength = LoadU16LE(pEntry + AL_LENGTH);
        if (nEntryType == 0 || nEntryType == ATTR_TYPE_END || nEntryLength < AL_MIN_LENGTH)
            break;
        nPos += nEntryLength;
        if (nEntryType != nType || (nType == ATTR_TYPE_DATA && pEntry[AL_NAME_LENGTH] != 0))
            continue;
        uint32_t nRecord =
            static_cast<uint32_t>(LoadU64LE(pEntry + AL_REFERENCE) & NTFS_REFERENCE_RECORD_MASK);
        if (std::find(vecRecords.begin(), vecRecords.end(), nRecord) == vecRecords.end())
            vecRecords.push_back(nRecord);
    }
    return vecRecords;
}

bool IsNtfsFileRecord(const uint8_t* pData, size_t nSize, int nRecordSize) {
    if (!HasNtfsFileSignature(pData, nSize) || nRecordSize <= 0 || !InBounds(nSize, SECTOR_TAIL, 2))
        return false;
    uint32_t nRecordBytes = static_cast<uint32_t>(nRecordSize);
    return LoadU32LE(pData + FR_BYTES_IN_USE) <= nRecordBytes &&
           LoadU32LE(pData + FR_BYTES_ALLOCATED) == nRecordBytes &&
           LoadU16LE(pData + FR_UPDATE_SEQUENCE) == LoadU16LE(pData + SECTOR_TAIL);
}

int GetDefaultNtfsSectorPerCluster(uint64_t u64SectorCount, uint32_t nBytesPerSector) {
    double dMegabytes = static_cast<double>(u64SectorCount) * nBytesPerSector / 1048576.0;
    double k = nBytesPerSector / 512;
    if (dMegabytes <= 7 * k)
        return 8;
    if (dMegabytes <= 512 * k)
        return 1;
    if (dMegabytes <= 1024 * k)
        return 2;
    if (dMegabytes <= 2048 * k)
        return 4;
    return 8;
}
