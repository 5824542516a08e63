// Identification in table order, the first-sector health check, the file-system sector test
// and ParseFileBuf, which sizes an identified file through the disk.
#include "formats/carving/CFileTypeJudge.h"

#include "formats/carving/CDiskCarvingReader.h"
#include "formats/carving/CMemoryCarvingReader.h"
#include "formats/carving/CarvingSignatures.h"

#include "device/CDiskReader.h"
#include "formats/fat/FatEntryValidator.h"
#include "util/StatusCodes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <strings.h>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;

// File-system sectors.
constexpr uint8_t szNTFS[] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
constexpr uint8_t szStaName[] = {'$', 0, 'S', 0, 'T', 0, 'A', 0};
constexpr const char* szBootOemNames[] = {"MSDOS5.0", "MSWIN4.0", "MSWIN4.1", "EXFAT   ",
                                          "NTFS    "};
constexpr int FILE_SYSTEM_SECTOR_MIN = 32;

// Sizing progress goes to the scan callback once per this many bytes read.
constexpr uint64_t REPORT_EVERY_BYTES = 65536;

bool IsSupportedSectorSize(int nBytes) {
    return nBytes >= 512 && nBytes <= 4096 && (nBytes & (nBytes - 1)) == 0;
}

// For each value of a sector's first byte, the rows worth trying, in table order. A row whose
// detector an earlier row already has is left out: the same detector gives the same answer.
using ROW_LIST = std::vector<uint16_t>;

std::array<ROW_LIST, 256> BuildRowsByLeadByte() {
    std::array<ROW_LIST, 256> rows;
    const EXTEND_NAME_AND_TYPE* pTable = CFileTypeTable::Rows();
    const int nRows = CFileTypeTable::RowCount() - 1;
    for (int i = 0; i < nRows; ++i) {
        const auto& row = pTable[i];
        bool bRepeated = false;
        for (int j = 0; j < i && !bRepeated; ++j)
            bRepeated = pTable[j].pfnDetect == row.pfnDetect;
        if (bRepeated)
            continue;
        for (int nByte = 0; nByte < 256; ++nByte) {
            if (row.leadBytes.Accepts(nByte))
                rows[size_t(nByte)].push_back(uint16_t(i));
        }
    }
    return rows;
}

const ROW_LIST& RowsForLeadByte(uint8_t u8Lead) {
    static const std::array<ROW_LIST, 256> rows = BuildRowsByLeadByte();
    return rows[u8Lead];
}

// For each first byte, the most bytes any of its rows' detectors would judge.
int LookAheadForLeadByte(uint8_t u8Lead) {
    static const std::array<int, 256> bytes = [] {
        std::array<int, 256> most{};
        for (int nByte = 0; nByte < 256; ++nByte) {
            for (uint16_t u16Row : RowsForLeadByte(uint8_t(nByte)))
                most[size_t(nByte)] =
                    std::max(most[size_t(nByte)], CFileTypeTable::Rows()[u16Row].nLookAheadBytes);
        }
        return most;
    }();
    return bytes[u8Lead];
}

} // namespace

// Class-wide state; see the header.
int CFileTypeJudge::m_nBytesPerSector = 512;
uint64_t CFileTypeJudge::m_u64StartSector = 0;
CDiskReader* CFileTypeJudge::m_pDiskReader = nullptr;
uint64_t CFileTypeJudge::m_u64ScanSectorCount = 0;
uint64_t CFileTypeJudge::m_u64SectorTotalCount = 0;
int CFileTypeJudge::m_nRemaidSecond = 0;
uint64_t CFileTypeJudge::m_u64FileCount = 0;
uint64_t CFileTypeJudge::m_u64ReportedSectors = 0;
ScanProgressCallback CFileTypeJudge::m_progressFunc = nullptr;
RecoveryProgressCallback CFileTypeJudge::m_pRecoveryFunc = nullptr;
void* CFileTypeJudge::m_pParam = nullptr;
int CFileTypeJudge::m_nPercent = 0;
int CFileTypeJudge::m_ErrorCode = 0;
unsigned char* CFileTypeJudge::m_pReadBuf = nullptr;
int CFileTypeJudge::m_nJudgeCount = 0;
std::vector<TS_FILE_RANGE> CFileTypeJudge::m_tsFileRangeVec;

CFileTypeJudge::CFileTypeJudge() {
    if (m_nJudgeCount++ == 0)
        m_pReadBuf = new unsigned char[READ_BUF_BYTES];
}

CFileTypeJudge::~CFileTypeJudge() {
    if (--m_nJudgeCount == 0) {
        delete[] m_pReadBuf;
        m_pReadBuf = nullptr;
    }
}

void CFileTypeJudge::ResetClassState() {
    m_nBytesPerSector = 512;
    m_u64StartSector = 0;
    m_pDiskReader = nullptr;
    m_u64ScanSectorCount = m_u64SectorTotalCount = m_u64FileCount = m_u64ReportedSectors = 0;
    m_nRemaidSecond = 0;
    InitCallBack(nullptr, nullptr, nullptr, 0);
    m_ErrorCode = 0;
    m_tsFileRangeVec.clear();
}

int CFileTypeJudge::IdentifyRow(const unsigned char* pBuf, int nLength, EXTEND_NAME_TYPE& nType) {
    nType = NONE;
    if (pBuf == nullptr || nLength <= 0)
        return -1;
    const EXTEND_NAME_AND_TYPE* pTable = CFileTypeTable::Rows();
    for (uint16_t u16Row : RowsForLeadByte(pBuf[0])) {
        nType = pTable[u16Row].pfnDetect(pBuf, nLength);
        if (nType != NONE)
            return u16Row;
    }
    return -1;
}

int CFileTypeJudge::IdentifyRowLookingAhead(const unsigned char* pBuf, int nLength,
                                            std::vector<unsigned char>& longer,
                                            EXTEND_NAME_TYPE& nType) {
    nType = NONE;
    const int nWanted = LookAheadForLeadByte(pBuf[0]);
    if (nWanted <= nLength || m_pDiskReader == nullptr ||
        m_pDiskReader->GetLimit() <= m_u64StartSector)
        return -1;
    const uint64_t u64Limit = m_pDiskReader->GetLimit();
    const int nSectors =
        std::min<int>(nWanted / m_nBytesPerSector,
                      int(std::min<uint64_t>(INT32_MAX, u64Limit - m_u64StartSector)));
    longer.resize(size_t(nSectors) * size_t(m_nBytesPerSector));
    unsigned int nRead = 0;
    m_pDiskReader->ReadData(longer.data(), nSectors, static_cast<long long>(m_u64StartSector),
                            m_nBytesPerSector, &nRead);
    if (int(nRead) * m_nBytesPerSector <= nLength)
        return -1;
    return IdentifyRow(longer.data(), int(nRead) * m_nBytesPerSector, nType);
}

EXTEND_NAME_TYPE CFileTypeJudge::GetDataBufType(const unsigned char* pBuf, int nLength) {
    EXTEND_NAME_TYPE nType = NONE;
    IdentifyRow(pBuf, nLength, nType);
    return nType;
}

const EXTEND_NAME_AND_TYPE* CFileTypeJudge::FindRow(const char* pExtendName) {
    if (pExtendName == nullptr)
        return nullptr;
    const EXTEND_NAME_AND_TYPE* pTable = CFileTypeTable::Rows();
    for (int i = 0; pTable[i].szExtendName != nullptr; ++i) {
        if (strcasecmp(pTable[i].szExtendName, pExtendName) == 0)
            return &pTable[i];
    }
    return nullptr;
}

EXTEND_NAME_TYPE CFileTypeJudge::GetExtendNameType(const char* pExtendName) {
    const EXTEND_NAME_AND_TYPE* pRow = FindRow(pExtendName);
    return pRow != nullptr ? pRow->nType : NONE;
}

const char* CFileTypeJudge::GetTypeExtendName(EXTEND_NAME_TYPE nType) {
    const EXTEND_NAME_AND_TYPE* pTable = CFileTypeTable::Rows();
    for (int i = 0; pTable[i].szExtendName != nullptr; ++i) {
        if (pTable[i].nType == nType)
            return pTable[i].szExtendName;
    }
    return "";
}

int CFileTypeJudge::IsFileTypeMatching(const unsigned char* pBuf, int nLength,
                                       const char* pExtendName, CDiskReader*, int,
                                       unsigned long long) {
    const EXTEND_NAME_AND_TYPE* pRow = FindRow(pExtendName);
    if (pRow == nullptr)
        return 1;
    return pRow->pfnDetect(pBuf, nLength) != NONE ? 1 : 0;
}

int CFileTypeJudge::IsFileSystemSector(const unsigned char* pBuf, int nLength) {
    CByteView sector = HeadView(pBuf, nLength);
    if (sector.Size() < FILE_SYSTEM_SECTOR_MIN)
        return 0;
    if (HeadMatchesText(sector, 0, "FILE") || HeadMatchesText(sector, 0, "INDX"))
        return 1;
    if (HeadMatchesText(sector, 0, "RSTR") && sector.Find(szNTFS, sizeof(szNTFS)))
        return 1;
    if (sector.Matches(0, szStaName, sizeof(szStaName)))
        return 1;
    if (pBuf[0] == 0xEB && pBuf[2] == 0x90) {
        for (const char* pOem : szBootOemNames) {
            if (HeadMatchesText(sector, 3, pOem))
                return 1;
        }
    }
    return IsFatFDTRecord(pBuf, static_cast<size_t>(nLength));
}

bool CFileTypeJudge::StartsAnotherFile(const uint8_t* pSector, size_t nBytes) {
    EXTEND_NAME_TYPE nType = NONE;
    return IdentifyRow(pSector, int(nBytes), nType) >= 0 ||
           IsFileSystemSector(pSector, int(nBytes)) != 0;
}

int CFileTypeJudge::InitCallBack(ScanProgressCallback pScanCallback,
                                 RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                 int nWeight) {
    m_progressFunc = pScanCallback;
    m_pRecoveryFunc = pRecoveryCallback;
    m_pParam = pParam;
    m_nPercent = nWeight;
    return 0;
}

bool CFileTypeJudge::ReportSizingProgress(uint64_t u64SectorsRead) {
    const uint64_t u64Every = std::max<uint64_t>(1, REPORT_EVERY_BYTES / m_nBytesPerSector);
    if (m_progressFunc == nullptr || u64SectorsRead - m_u64ReportedSectors < u64Every)
        return true;
    m_u64ReportedSectors = u64SectorsRead;
    const uint64_t u64Done = m_u64ScanSectorCount + u64SectorsRead;
    const uint64_t u64Percent =
        m_u64SectorTotalCount == 0 ? 0 : u64Done * 100 / m_u64SectorTotalCount;
    const int nAnswer =
        m_progressFunc(m_pParam, static_cast<int>(u64Percent + 10), m_nPercent, m_nRemaidSecond,
                       u64Done, m_u64SectorTotalCount, m_u64FileCount, nullptr);
    if (nAnswer == 0)
        return true;
    m_ErrorCode = nAnswer;
    return false;
}

bool CFileTypeJudge::IsInsideEarlierStream(EXTEND_NAME_TYPE nType) {
    for (const TS_FILE_RANGE& range : m_tsFileRangeVec) {
        if (range.u64StartSector <= m_u64StartSector && m_u64StartSector <= range.u64EndSector)
            return true;
    }
    if (m_u64StartSector == 0 || m_pDiskReader == nullptr)
        return false;
    // The packet grid of a stream that began earlier lands on every packet start the previous
    // sector can hold.
    const int nPacket = nType == FILE_TYPE_TS ? TS_PACKET_BYTES : M2TS_PACKET_BYTES;
    const int nSync = nType == FILE_TYPE_TS ? 0 : M2TS_SYNC_OFFSET;
    std::vector<unsigned char> previous(static_cast<size_t>(m_nBytesPerSector));
    unsigned int nRead = 0;
    if (m_pDiskReader->ReadData(previous.data(), 1, static_cast<long long>(m_u64StartSector - 1),
                                m_nBytesPerSector, &nRead) != 0 ||
        nRead != 1)
        return false;
    bool bAnyPacket = false;
    for (int off = m_nBytesPerSector - nPacket + nSync; off >= 0; off -= nPacket) {
        if (previous[size_t(off)] != TS_SYNC_BYTE)
            return false;
        bAnyPacket = true;
    }
    return bAnyPacket;
}

void CFileTypeJudge::RememberStream(uint64_t u64Size) {
    const uint64_t u64SectorBytes = static_cast<uint64_t>(m_nBytesPerSector);
    uint64_t u64Last = m_u64StartSector + u64Size / u64SectorBytes;
    if (u64Size % u64SectorBytes == 0 && u64Last > m_u64StartSector)
        --u64Last;
    m_tsFileRangeVec.push_back({m_u64StartSector, u64Last});
}

int CFileTypeJudge::ParseFileBuf(const unsigned char* pBuf, int nLength,
                                 unsigned long long u64StartSector,
                                 unsigned long long u64ScanSectorCount,
                                 unsigned long long u64SectorTotalCount, int nRemaidSecond,
                                 unsigned long long u64FileCount, CDiskReader* pDiskReader,
                                 int nBytesPerSector, char* szName, EXTEND_NAME_TYPE& nType,
                                 unsigned long long& u64Size, unsigned long long& u64Checked,
                                 bool& bProvedWhole) {
    bProvedWhole = false;
    if (pBuf == nullptr || szName == nullptr || !IsSupportedSectorSize(nBytesPerSector) ||
        nLength < nBytesPerSector || m_pReadBuf == nullptr)
        return ERROR_INVALID_PARAMETER;
    m_nBytesPerSector = nBytesPerSector;
    m_u64StartSector = u64StartSector;
    m_pDiskReader = pDiskReader;
    EXTEND_NAME_TYPE nFound = NONE;
    std::vector<unsigned char> longer;
    int nRow = IdentifyRow(pBuf, nLength, nFound);
    if (nRow < 0)
        nRow = IdentifyRowLookingAhead(pBuf, nLength, longer, nFound);
    if (nRow < 0 || CFileTypeTable::Rows()[nRow].pfnGetSize == nullptr) {
        m_pDiskReader = nullptr;
        return ERROR_INVALID_PARAMETER;
    }
    m_u64ScanSectorCount = u64ScanSectorCount;
    m_u64SectorTotalCount = u64SectorTotalCount;
    m_nRemaidSecond = nRemaidSecond;
    m_u64FileCount = u64FileCount;
    m_u64ReportedSectors = 0;
    m_ErrorCode = 0;
    const bool bStream = nFound == FILE_TYPE_TS || nFound == FILE_TYPE_MTS;
    if (bStream && IsInsideEarlierStream(nFound)) {
        m_pDiskReader = nullptr;
        return ERROR_INVALID_PARAMETER;
    }

    const CByteView head(pBuf, size_t(nLength));
    CMemoryCarvingReader headOnly(pBuf, size_t(nLength));
    std::optional<CDiskCarvingReader> disk;
    if (pDiskReader != nullptr)
        disk.emplace(*pDiskReader, u64StartSector, size_t(nBytesPerSector), head, m_pReadBuf,
                     READ_BUF_BYTES, ReportSizingProgress);
    ICarvingReader& reader = disk ? static_cast<ICarvingReader&>(*disk) : headOnly;
    CCarvedFile file(reader, size_t(nBytesPerSector), StartsAnotherFile);
    const CARVED_SIZE sized = CFileTypeTable::Rows()[nRow].pfnGetSize(file);
    m_pDiskReader = nullptr;
    if (m_ErrorCode == ERROR_CANCELLED_BY_USER)
        return ERROR_CANCELLED_BY_USER;
    if (sized.u64Size == 0)
        return ERROR_INVALID_PARAMETER;

    nType = sized.nType != NONE ? sized.nType : nFound;
    // A size past the end of the volume cannot be read back: the file is cut there.
    u64Size = sized.u64Size;
    if (pDiskReader != nullptr) {
        const uint64_t u64Limit = pDiskReader->GetLimit();
        const uint64_t u64Readable =
            (u64Limit > u64StartSector ? u64Limit - u64StartSector : 1) * uint64_t(nBytesPerSector);
        u64Size = std::min<uint64_t>(u64Size, u64Readable);
    }
    u64Checked = std::min(sized.u64Checked, sized.u64Size);
    bProvedWhole = sized.bProvedWhole && u64Size == sized.u64Size;
    std::snprintf(szName, FILE_NODE_NAME_BYTES, "%lld.%s", static_cast<long long>(u64StartSector),
                  GetTypeExtendName(nType));
    if (bStream)
        RememberStream(u64Size);
    return 0;
}

void CFileTypeJudge::ClearTsFileRanges() {
    m_tsFileRangeVec.clear();
}

const std::vector<TS_FILE_RANGE>& CFileTypeJudge::GetTsFileRanges() {
    return m_tsFileRangeVec;
}
