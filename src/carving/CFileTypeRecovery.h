// The carving engine: files recognised by their content become flat FILE_NODE results that can
// be listed, searched, previewed and copied out. The deep scan drives it sector by sector.
#pragma once

#include "device/CDiskReader.h"
#include "engine/CEngineCallbacks.h"
#include "engine/IFileRecoveryParse.h"
#include "formats/carving/CFileTypeJudge.h"
#include "store/CScanResultFileManager.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>

struct TWO_PIECE_TRIAL;

class CFileTypeRecovery : public IFileRecoveryParse {
public:
    CFileTypeRecovery() = default;
    ~CFileTypeRecovery() override = default;
    CFileTypeRecovery(const CFileTypeRecovery&) = delete;
    CFileTypeRecovery& operator=(const CFileTypeRecovery&) = delete;

    int Init(int nDiskNo, long long llStartSector, long long llSectorCount,
             char16_t wcDriveLetter) override;
    int Init(const char16_t* pDevicePath, char16_t wcDriveLetter) override;
    int InitCallBack(ScanProgressCallback pScanCallback, RecoveryProgressCallback pRecoveryCallback,
                     void* pParam, int nWeight) override;
    // Carving is driven from outside through ParseFileBuf.
    int ScanDevice(const char16_t* pResultName) override;
    int GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                            std::vector<FILE_NODE>& vecChildren) override;
    int GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                             unsigned int& nCount) override;
    unsigned int GetLostFileCount() override;
    int GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut, int nCapacity) override;
    int SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int nBaseDepth) override;
    int GetUnUsedSectorCount(unsigned long long& u64Start, unsigned long long& u64Count) override;
    int InitSearchCallBack(SearchProgressCallback pSearchCallback, void* pParam) override;
    int SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) override;
    int OpenSearchCursor(const char16_t* pKey, std::unique_ptr<ISearchCursor>& pCursor) override;
    int GetFileNodeByIndex(unsigned int nEngineType, unsigned int nFileIndex,
                           FILE_NODE* pOut) override;
    int BuildBitMapInfo() override;
    int PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) override;
    // One run, or two for a file joined from two pieces.
    bool GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) override;

    // Reopen or continue a stored carving result under a name the caller chose.
    int InitLogFile(const char16_t* pResultName, char16_t wcDriveLetter,
                    const char16_t* pDevicePath, int nBytesPerSector,
                    unsigned long long u64SectorCount);
    int InitLogFile(const char16_t* pResultName, char16_t wcDriveLetter, int nDiskNo,
                    int nBytesPerSector, unsigned long long u64SectorCount);

    // Offers one sector to carving: 0 with a new node and the sectors the scan may skip, 87 when
    // no file starts there, ERROR_CANCELLED_BY_USER when the user cancelled during sizing.
    int ParseFileBuf(const unsigned char* pBuf, int nLength, unsigned long long u64Sector,
                     unsigned long long u64ScanSectorCount, unsigned long long u64SectorTotalCount,
                     int nRemaidSecond, CDiskReader* pDiskReader, int nBytesPerSector,
                     unsigned long long& u64SkipSectors, unsigned long long& u64FileCount);

    // Sorted absolute sectors where files a file-system walk listed begin: a damaged file
    // carved there is that file read on in a row, which the walk already reads right, so no
    // two-piece search is spent on it.
    void SetKnownFileStarts(std::vector<uint64_t> vecSortedSectors);

    // Copies the node's bytes into a new file at the UTF-16 target path.
    int SaveDataToTargetFile(const FILE_NODE* pNode, const char16_t* pTargetPath);

    // Time one file's two-piece search may take, and all of them in one scan.
    static constexpr std::chrono::milliseconds TWO_PIECE_FILE_BUDGET{1500};
    static constexpr std::chrono::milliseconds TWO_PIECE_SCAN_BUDGET{60000};

private:
    // What carving found at a sector: a size, and for a file joined from two pieces the first
    // piece's sectors and the absolute sector of the second.
    struct CARVED_FILE {
        uint64_t u64Sector = 0;
        uint64_t u64Size = 0;
        uint32_t nDataHealth = 1;
        uint64_t u64FirstPieceSectors = 0;
        uint64_t u64SecondPieceSector = 0;
    };

    int InitResultStore(const char16_t* pResultName);
    void StoreCarvedFile(const char* pName, const CARVED_FILE& carved);
    // A damaged file of a format that shows where it broke: the bytes its structure still
    // vouches for (the scan skips no further), and a join of two pieces that proves whole.
    // A joined ZIP is renamed after the package (docx, odt...) its central directory names.
    uint64_t MendDamagedFile(CDiskReader& reader, int nBytesPerSector, char* pName,
                             CARVED_FILE& carved);
    static void ReportJoinTrial(const char* pName, uint64_t u64Sector, const TWO_PIECE_TRIAL& trial,
                                const std::string& strOutcome, uint64_t u64Ms);
    bool IsInsideSecondPiece(uint64_t u64Sector) const;
    std::vector<FILE_DATA_RUN> DataRunsOf(const FILE_NODE& node) const;
    // Reads u64Bytes of the node's data chunk by chunk; the sink takes each chunk (bytes, count,
    // bytes done) and answers 0 to go on. 0, 30, the reader's or the sink's code.
    template <typename Sink> int ReadNodeData(const FILE_NODE& node, uint64_t u64Bytes, Sink sink);
    int PreviewToTempFile(const FILE_NODE& node, const std::string& strExt, char16_t* pTempPathOut,
                          PreviewProgressCallback pCallback, void* pParam);
    int PreviewToBuffer(const FILE_NODE& node, unsigned char* pBuffer, int& nLength,
                        PreviewProgressCallback pCallback, void* pParam);

    char16_t m_wcDriveLetter = 0;
    unsigned long long m_u64StartSector = 0;
    unsigned long long m_u64SectorCount = 0;
    int m_nBytesPerSector = 512;
    CDiskReader m_diskReader;
    CFileTypeJudge m_fileTypeJudge;
    std::unique_ptr<CScanResultFileManager> m_pResultStore;
    CEngineCallbacks m_callbacks;
    uint64_t m_u64Unreadable = 0; // sectors of the current copy read as zeros
    // Absolute sectors [first, end) of joined second pieces, by first sector: no file starts
    // inside them. Asked for every sector the pass offers, so looked up rather than walked.
    std::map<uint64_t, uint64_t> m_mapSecondPieces;
    std::chrono::milliseconds m_joinTime{0}; // spent on two-piece searches this scan
    std::vector<uint64_t> m_vecKnownFileStarts;
};
