// Carved files as result nodes: storing them, listing and searching, copy-out and preview.
#include "carving/CFileTypeRecovery.h"

#include "engine/CCopyOutFile.h"
#include "formats/carving/CArchiveFormats.h"
#include "formats/carving/CMemoryCarvingReader.h"
#include "formats/carving/FileDataHealth.h"
#include "formats/proof/CFileProof.h"
#include "formats/proof/CTwoPieceJoin.h"
#include "formats/proof/DiskDataProof.h"
#include "store/CLogFileManager.h"
#include "util/CSafeOutputFile.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int COPY_CHUNK_BYTES = 65536;
constexpr size_t TEMP_PATH_MAX = 256;
constexpr const char* TEMP_FILE_PREFIX = "tmp.";

int Percent(uint64_t u64Done, uint64_t u64Total) {
    return u64Total == 0 ? 100 : static_cast<int>(u64Done * 100 / u64Total);
}

} // namespace

int CFileTypeRecovery::InitResultStore(const char16_t* pResultName) {
    m_mapSecondPieces.clear();
    m_joinTime = std::chrono::milliseconds(0);
    m_pResultStore = std::make_unique<CScanResultFileManager>();
    int nResult = m_pResultStore->Init(pResultName);
    if (nResult != 0)
        DebugLog("carving result store init failed: %d\n", nResult);
    return nResult;
}

int CFileTypeRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                            char16_t wcDriveLetter) {
    m_pResultStore.reset();
    m_wcDriveLetter = wcDriveLetter;
    m_u64StartSector = static_cast<unsigned long long>(llStartSector);
    m_u64SectorCount = static_cast<unsigned long long>(llSectorCount);
    int nResult = m_diskReader.Init(nDiskNo, m_u64StartSector + m_u64SectorCount);
    SYSTEMTIME now = {};
    GetLocalSystemTime(&now);
    std::u16string strName =
        CLogFileManager::MakeStoreName(STORE_PREFIX_FILE_TYPE, llStartSector, now);
    int nStore = InitResultStore(strName.c_str());
    return nResult != 0 ? nResult : nStore;
}

int CFileTypeRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    m_pResultStore.reset();
    m_wcDriveLetter = wcDriveLetter;
    m_u64StartSector = 0;
    // The path form knows no sector count; the device's own length bounds the reads.
    unsigned long long u64Sectors = 0;
    int nResult = m_diskReader.InitWhole(pDevicePath, u64Sectors);
    m_u64SectorCount = u64Sectors;
    SYSTEMTIME now = {};
    GetLocalSystemTime(&now);
    std::u16string strName = CLogFileManager::MakeStoreName(STORE_PREFIX_FILE_TYPE, 0, now);
    int nStore = InitResultStore(strName.c_str());
    return nResult != 0 ? nResult : nStore;
}

int CFileTypeRecovery::InitLogFile(const char16_t* pResultName, char16_t wcDriveLetter,
                                   const char16_t* pDevicePath, int nBytesPerSector,
                                   unsigned long long u64SectorCount) {
    m_wcDriveLetter = wcDriveLetter;
    m_nBytesPerSector = nBytesPerSector;
    m_u64SectorCount = u64SectorCount;
    int nResult = m_diskReader.Init(pDevicePath, u64SectorCount);
    int nStore = InitResultStore(pResultName);
    return nResult != 0 ? nResult : nStore;
}

int CFileTypeRecovery::InitLogFile(const char16_t* pResultName, char16_t wcDriveLetter, int nDiskNo,
                                   int nBytesPerSector, unsigned long long u64SectorCount) {
    m_wcDriveLetter = wcDriveLetter;
    m_nBytesPerSector = nBytesPerSector;
    m_u64SectorCount = u64SectorCount;
    int nResult = m_diskReader.Init(nDiskNo, u64SectorCount);
    int nStore = InitResultStore(pResultName);
    return nResult != 0 ? nResult : nStore;
}

int CFileTypeRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                    RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                    int nWeight) {
    m_callbacks.Init(pScanCallback, pRecoveryCallback, pParam, nWeight);
    return CFileTypeJudge::InitCallBack(pScanCallback, pRecoveryCallback, pParam, nWeight);
}

int CFileTypeRecovery::ScanDevice(const char16_t*) {
    return 0;
}

int CFileTypeRecovery::ParseFileBuf(const unsigned char* pBuf, int nLength,
                                    unsigned long long u64Sector,
                                    unsigned long long u64ScanSectorCount,
                                    unsigned long long u64SectorTotalCount, int nRemaidSecond,
                                    CDiskReader* pDiskReader, int nBytesPerSector,
                                    unsigned long long& u64SkipSectors,
                                    unsigned long long& u64FileCount) {
    m_nBytesPerSector = nBytesPerSector;
    if (IsInsideSecondPiece(u64Sector))
        return ERROR_INVALID_PARAMETER;
    char szName[FILE_NODE_NAME_BYTES] = {};
    EXTEND_NAME_TYPE nType = FILE_TYPE_NONE;
    unsigned long long u64Size = 0;
    unsigned long long u64Checked = 0;
    bool bProvedWhole = false;
    int nResult = CFileTypeJudge::ParseFileBuf(pBuf, nLength, u64Sector, u64ScanSectorCount,
                                               u64SectorTotalCount, nRemaidSecond, u64FileCount,
                                               pDiskReader, nBytesPerSector, szName, nType, u64Size,
                                               u64Checked, bProvedWhole);
    if (nResult != 0)
        return nResult;
    if (!m_pResultStore)
        return ERROR_INVALID_PARAMETER;
    CARVED_FILE carved;
    carved.u64Sector = u64Sector;
    carved.u64Size = u64Size;
    carved.nDataHealth = bProvedWhole ? DATA_HEALTH_WHOLE : DATA_HEALTH_INTACT_OR_UNKNOWN;
    if (!bProvedWhole && pDiskReader != nullptr) {
        carved.nDataHealth = ProveDiskData(*pDiskReader, u64Sector, nBytesPerSector, u64Size,
                                           GetLowerExtension(szName).c_str());
        if (carved.nDataHealth == DATA_HEALTH_DAMAGED)
            u64Checked = std::min<uint64_t>(
                u64Checked, MendDamagedFile(*pDiskReader, nBytesPerSector, szName, carved));
    }
    StoreCarvedFile(szName, carved);
    // The scan goes on behind what the file's structure proved its own; only a header's claim
    // of more hides nothing. A skip of 0 would offer the same sector again for ever.
    const unsigned long long u64Sectors =
        (u64Checked + unsigned(nBytesPerSector) - 1) / unsigned(nBytesPerSector);
    u64SkipSectors = std::max(1ull, u64Sectors);
    ++u64FileCount;
    return 0;
}

// One line per file under --verbose: what the search tried and what came of it.
void CFileTypeRecovery::ReportJoinTrial(const char* pName, uint64_t u64Sector,
                                        const TWO_PIECE_TRIAL& trial, const std::string& strOutcome,
                                        uint64_t u64Ms) {
    DebugLog("two pieces: %s (sector %llu): failed at byte %llu; %u grids, %llu candidates, "
             "%llu proved; %s; %llu ms\n",
             pName, static_cast<unsigned long long>(u64Sector),
             static_cast<unsigned long long>(trial.u64FailAt), trial.nGrids,
             static_cast<unsigned long long>(trial.u64Candidates),
             static_cast<unsigned long long>(trial.u64Proved), strOutcome.c_str(),
             static_cast<unsigned long long>(u64Ms));
}

void CFileTypeRecovery::SetKnownFileStarts(std::vector<uint64_t> vecSortedSectors) {
    m_vecKnownFileStarts = std::move(vecSortedSectors);
}

bool CFileTypeRecovery::IsInsideSecondPiece(uint64_t u64Sector) const {
    auto it = m_mapSecondPieces.upper_bound(u64Sector);
    return it != m_mapSecondPieces.begin() && u64Sector < std::prev(it)->second;
}

uint64_t CFileTypeRecovery::MendDamagedFile(CDiskReader& reader, int nBytesPerSector, char* pName,
                                            CARVED_FILE& carved) {
    const std::string strExt = GetLowerExtension(pName);
    if (!CFileProof::CanFindBreak(strExt.c_str()))
        return carved.u64Size;
    const uint64_t u64SectorBytes = unsigned(nBytesPerSector);
    const uint64_t u64Limit = reader.GetLimit();
    const uint64_t u64Readable = u64Limit > carved.u64Sector ? u64Limit - carved.u64Sector : 0;
    const bool bSearch = m_joinTime < TWO_PIECE_SCAN_BUDGET &&
                         !std::binary_search(m_vecKnownFileStarts.begin(),
                                             m_vecKnownFileStarts.end(), carved.u64Sector);
    const uint64_t u64Window =
        carved.u64Size +
        (bSearch ? CTwoPieceJoin::MAX_GAP_BYTES + CTwoPieceJoin::MAX_TAIL_BYTES : 0);
    const CTimeBudget budget(std::min(TWO_PIECE_FILE_BUDGET, TWO_PIECE_SCAN_BUDGET - m_joinTime));
    const uint64_t u64Sectors =
        std::min(u64Readable, (u64Window + u64SectorBytes - 1) / u64SectorBytes);
    std::vector<uint8_t> vecWindow(size_t(u64Sectors * u64SectorBytes));
    unsigned int nRead = 0;
    if (reader.ReadData(vecWindow.data(), static_cast<int>(u64Sectors),
                        static_cast<long long>(carved.u64Sector), nBytesPerSector, &nRead) != 0 ||
        nRead != u64Sectors || vecWindow.size() < carved.u64Size)
        return carved.u64Size;
    std::optional<PROOF_BREAK> brk =
        CFileProof::FindBreak(vecWindow.data(), size_t(carved.u64Size), strExt.c_str());
    const uint64_t u64Intact = brk ? brk->nIntact : carved.u64Size;
    if (!bSearch || !CTwoPieceJoin::CanJoin(strExt.c_str()))
        return u64Intact;
    TWO_PIECE_JOIN join;
    TWO_PIECE_TRIAL trial;
    const bool bJoined = CTwoPieceJoin::Find(vecWindow.data(), vecWindow.size(), strExt.c_str(),
                                             size_t(u64SectorBytes), budget, join, trial);
    const uint64_t u64Ms = budget.ElapsedMs();
    m_joinTime += std::chrono::milliseconds(u64Ms);
    if (!bJoined) {
        const char* pWhy = trial.bBudgetSpent ? " (time budget spent)"
                           : trial.bAmbiguous ? " (several breaks fit alike)"
                                              : "";
        ReportJoinTrial(pName, carved.u64Sector, trial, "none proved whole" + std::string(pWhy),
                        u64Ms);
        return u64Intact;
    }
    if (CFileTypeJudge::GetExtendNameType(strExt.c_str()) == FILE_TYPE_ZIP) {
        const std::vector<uint8_t> vecJoined = CTwoPieceJoin::Join(vecWindow.data(), join);
        CMemoryCarvingReader joined(vecJoined.data(), vecJoined.size());
        CCarvedFile file(joined, size_t(u64SectorBytes), nullptr);
        const EXTEND_NAME_TYPE nPackage = CArchiveFormats::GetZIPFileBytesSize(file).nType;
        if (nPackage != FILE_TYPE_NONE)
            std::snprintf(pName, FILE_NODE_NAME_BYTES, "%llu.%s",
                          static_cast<unsigned long long>(carved.u64Sector),
                          CFileTypeJudge::GetTypeExtendName(nPackage));
    }
    char szOutcome[128];
    std::snprintf(szOutcome, sizeof(szOutcome), "joined at B=%llu C=%llu, %llu bytes, %s",
                  static_cast<unsigned long long>(join.u64Break),
                  static_cast<unsigned long long>(join.u64Resume),
                  static_cast<unsigned long long>(join.u64Size),
                  CFileProof::GetStateName(CFileProof::HealthOf(join.state)));
    ReportJoinTrial(pName, carved.u64Sector, trial, szOutcome, u64Ms);
    carved.u64Size = join.u64Size;
    carved.nDataHealth = CFileProof::HealthOf(join.state);
    carved.u64FirstPieceSectors = join.u64Break / u64SectorBytes;
    carved.u64SecondPieceSector = carved.u64Sector + join.u64Resume / u64SectorBytes;
    const uint64_t u64SecondBytes = join.u64Size - join.u64Break;
    m_mapSecondPieces.emplace(carved.u64SecondPieceSector,
                              carved.u64SecondPieceSector +
                                  (u64SecondBytes + u64SectorBytes - 1) / u64SectorBytes);
    return join.u64Break;
}

void CFileTypeRecovery::StoreCarvedFile(const char* pName, const CARVED_FILE& carved) {
    FILE_NODE* pNode = m_pResultStore->CreateFileNode(sizeof(FILE_NODE));
    if (pNode == nullptr)
        return;
    std::memset(pNode, 0, sizeof(FILE_NODE));
    pNode->wcDriveLetter = m_wcDriveLetter;
    pNode->nEngineType = ENGINE_FILE_TYPE;
    pNode->nDataHealth = carved.nDataHealth;
    pNode->nFileIndex = m_pResultStore->GetFileIndex();
    pNode->nClusterBytes = CLUSTER_BYTES_NONE;
    pNode->nClusterNo = static_cast<uint32_t>(carved.u64FirstPieceSectors);
    pNode->u64DataAreaSector = carved.u64SecondPieceSector;
    pNode->u64FileSize = carved.u64Size;
    pNode->u64LocationSector = carved.u64Sector;
    std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), "%s", pName);
    m_pResultStore->AddChildren(0, 0, pNode->nFileIndex, 0, nullptr);
}

int CFileTypeRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                           std::vector<FILE_NODE>& vecChildren) {
    if (!m_pResultStore)
        return 0;
    m_pResultStore->FlushBufToFile();
    if (pParent != nullptr || nDepth != 0)
        return 0;
    return m_pResultStore->GetChildrenFileNode(0, vecChildren);
}

int CFileTypeRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                            unsigned int& nCount) {
    nCount = 0;
    if (!m_pResultStore)
        return 0;
    m_pResultStore->FlushBufToFile();
    if (pParent != nullptr || nDepth != 0)
        return 0;
    return m_pResultStore->GetChildrenFileCount(0, nCount);
}

unsigned int CFileTypeRecovery::GetLostFileCount() {
    return m_pResultStore ? m_pResultStore->GetFileIndex() : 0;
}

int CFileTypeRecovery::GetFileNodeParentDirPath(FILE_NODE*, char16_t*, int) {
    return 0;
}

int CFileTypeRecovery::GetUnUsedSectorCount(unsigned long long&, unsigned long long&) {
    return 0;
}

int CFileTypeRecovery::BuildBitMapInfo() {
    return 0;
}

int CFileTypeRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback, void* pParam) {
    m_callbacks.InitSearch(pSearchCallback, pParam);
    if (!m_pResultStore)
        return ERROR_INVALID_PARAMETER;
    return m_pResultStore->InitSearchCallBack(pSearchCallback, pParam);
}

int CFileTypeRecovery::SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) {
    if (!m_pResultStore)
        return 0;
    return m_pResultStore->SearchFileNodeInfo(pKey, vecOut);
}

int CFileTypeRecovery::OpenSearchCursor(const char16_t* pKey,
                                        std::unique_ptr<ISearchCursor>& pCursor) {
    if (!m_pResultStore)
        return IFileRecoveryParse::OpenSearchCursor(pKey, pCursor);
    return m_pResultStore->OpenSearchCursor(pKey, pCursor);
}

int CFileTypeRecovery::GetFileNodeByIndex(unsigned int, unsigned int nFileIndex, FILE_NODE* pOut) {
    return m_pResultStore ? m_pResultStore->ReadFileNode(nFileIndex, pOut)
                          : ERROR_INVALID_PARAMETER;
}

// The path is used whole: a path cut to a buffer would name another file.
int CFileTypeRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int) {
    return SaveDataToTargetFile(pNode, pTargetPath);
}

std::vector<FILE_DATA_RUN> CFileTypeRecovery::DataRunsOf(const FILE_NODE& node) const {
    const uint64_t u64SectorBytes = static_cast<uint64_t>(std::max(m_nBytesPerSector, 0));
    const uint64_t u64First = uint64_t(node.nClusterNo) * u64SectorBytes;
    if (node.u64DataAreaSector == 0 || u64First == 0 || u64First >= node.u64FileSize)
        return {{0, node.u64LocationSector * u64SectorBytes, node.u64FileSize, false}};
    return {
        {0, node.u64LocationSector * u64SectorBytes, u64First, false},
        {u64First, node.u64DataAreaSector * u64SectorBytes, node.u64FileSize - u64First, false}};
}

bool CFileTypeRecovery::GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) {
    if (pNode == nullptr || m_nBytesPerSector <= 0)
        return false;
    vecRuns = DataRunsOf(*pNode);
    return true;
}

template <typename Sink>
int CFileTypeRecovery::ReadNodeData(const FILE_NODE& node, uint64_t u64Bytes, Sink sink) {
    if (m_nBytesPerSector <= 0 || COPY_CHUNK_BYTES % m_nBytesPerSector != 0)
        return ERROR_INVALID_PARAMETER;
    const uint64_t u64SectorBytes = static_cast<uint64_t>(m_nBytesPerSector);
    std::vector<unsigned char> chunk(COPY_CHUNK_BYTES);
    uint64_t u64Done = 0;
    for (const FILE_DATA_RUN& run : DataRunsOf(node)) {
        uint64_t u64Sector = run.u64DiskOffset / u64SectorBytes;
        const uint64_t u64RunEnd = std::min(u64Bytes, run.u64FileOffset + run.u64Bytes);
        while (u64Done < u64RunEnd) {
            const uint64_t u64Want = std::min<uint64_t>(COPY_CHUNK_BYTES, u64RunEnd - u64Done);
            const int nSectors = static_cast<int>((u64Want + u64SectorBytes - 1) / u64SectorBytes);
            unsigned int nRead = 0;
            int nResult = m_diskReader.ReadDataTolerant(chunk.data(), nSectors,
                                                        static_cast<long long>(u64Sector),
                                                        m_nBytesPerSector, &nRead, m_u64Unreadable);
            if (nRead == 0)
                return nResult != 0 ? nResult : ERROR_READ_SHORT;
            const uint64_t u64Got = std::min<uint64_t>(u64Want, nRead * u64SectorBytes);
            u64Done += u64Got;
            u64Sector += nRead;
            if (int nStop = sink(chunk.data(), static_cast<size_t>(u64Got), u64Done))
                return nStop;
            if (nResult != 0)
                return nResult;
        }
    }
    return 0;
}

int CFileTypeRecovery::SaveDataToTargetFile(const FILE_NODE* pNode, const char16_t* pTargetPath) {
    CCopyOutFile copy(pTargetPath, pNode == nullptr ? 0 : pNode->u64FileSize,
                      m_callbacks.RecoveryCallback(), m_callbacks.Param());
    if (pNode == nullptr)
        return copy.Finish(ERROR_INVALID_PARAMETER);
    m_u64Unreadable = 0;
    int nResult = copy.Open();
    if (nResult == 0)
        nResult = ReadNodeData(*pNode, pNode->u64FileSize,
                               [&](const unsigned char* pData, size_t nBytes, uint64_t) {
                                   return copy.Write(pData, nBytes);
                               });
    copy.AddUnreadableSectors(m_u64Unreadable);
    return copy.Finish(nResult);
}

int CFileTypeRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer,
                               int& nLength, PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    const std::string strExt = GetLowerExtension(pNode->szFileName);
    int nResult = 0;
    if (!strExt.empty() && CScanResultFileManager::IsPictureFileName(pNode->szFileName)) {
        nResult = PreviewToTempFile(*pNode, strExt, pTempPathOut, pCallback, pParam);
        nLength = 0;
    } else {
        nResult = PreviewToBuffer(*pNode, pBuffer, nLength, pCallback, pParam);
    }
    if (pCallback != nullptr)
        pCallback(pParam, 100, nResult);
    return nResult;
}

int CFileTypeRecovery::PreviewToTempFile(const FILE_NODE& node, const std::string& strExt,
                                         char16_t* pTempPathOut, PreviewProgressCallback pCallback,
                                         void* pParam) {
    const std::string strRoot = CLogFileManager::GetScanLogRoot();
    if (int nDir = CLogFileManager::MakeLogDir(strRoot))
        return nDir;
    const std::string strTemp = strRoot + TEMP_FILE_PREFIX + strExt;
    if (strTemp.size() >= TEMP_PATH_MAX)
        return ERROR_INVALID_PARAMETER;
    if (pTempPathOut != nullptr)
        Ansi2Unicode(strTemp.c_str(), pTempPathOut, PREVIEW_PATH_CAPACITY);
    // The previous preview's scratch copy is ours to replace; the copy itself is a new file.
    unlink(strTemp.c_str());
    CSafeOutputFile file;
    int nResult = file.Create(strTemp);
    if (nResult != 0) {
        DebugLog("open Recovery File  erro = %d\n", nResult);
        return nResult;
    }
    const uint64_t u64Size = node.u64FileSize;
    nResult = ReadNodeData(
        node, u64Size, [&](const unsigned char* pData, size_t nBytes, uint64_t u64Done) {
            if (int nWrite = file.Write(pData, nBytes))
                return nWrite;
            return pCallback == nullptr ? 0 : pCallback(pParam, Percent(u64Done, u64Size), 0);
        });
    if (nResult == 0)
        nResult = file.Commit();
    return nResult;
}

int CFileTypeRecovery::PreviewToBuffer(const FILE_NODE& node, unsigned char* pBuffer, int& nLength,
                                       PreviewProgressCallback pCallback, void* pParam) {
    if (pBuffer == nullptr || nLength < 0) {
        nLength = 0;
        return ERROR_INVALID_PARAMETER;
    }
    const uint64_t u64Bytes = std::min<uint64_t>(node.u64FileSize, uint64_t(nLength));
    size_t nPlaced = 0;
    int nResult = ReadNodeData(
        node, u64Bytes, [&](const unsigned char* pData, size_t nBytes, uint64_t u64Done) {
            std::memcpy(pBuffer + nPlaced, pData, nBytes);
            nPlaced += nBytes;
            return pCallback == nullptr ? 0 : pCallback(pParam, Percent(u64Done, u64Bytes), 0);
        });
    nLength = static_cast<int>(nPlaced);
    return nResult;
}
