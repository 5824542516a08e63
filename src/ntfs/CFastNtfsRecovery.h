// The fast NTFS engine: walks the master file table through its own runs, files every deleted
// record under its folder, and copies found files out, previews them and maps free clusters.
#pragma once

#include "device/CDiskReader.h"
#include "engine/CEngineCallbacks.h"
#include "engine/CFolderRecoveryQueue.h"
#include "engine/IFileRecoveryParse.h"
#include "ntfs/CNtfsParse.h"
#include "ntfs/INtfsNodeDataSource.h"
#include "store/CScanResultFileManager.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CFastNtfsRecovery : public IFileRecoveryParse, private INtfsNodeDataSource {
public:
    static constexpr int RECORDS_PER_CHUNK = 1024;
    static constexpr int BOOT_READ_BYTES = 4096;
    static constexpr uint32_t NO_PARENT = 0xFFFFFFFF;

    enum PARSE_MODE : int {
        PARSE_FILE = 0,
        PARSE_DIRECTORY = 1,
    };

    CFastNtfsRecovery();
    ~CFastNtfsRecovery() override;
    CFastNtfsRecovery(const CFastNtfsRecovery&) = delete;
    CFastNtfsRecovery& operator=(const CFastNtfsRecovery&) = delete;

    int Init(int nDiskNo, long long llStartSector, long long llSectorCount,
             char16_t wcDriveLetter) override;
    int Init(const char16_t* pDevicePath, char16_t wcDriveLetter) override;
    int InitCallBack(ScanProgressCallback pScanCallback, RecoveryProgressCallback pRecoveryCallback,
                     void* pParam, int nWeight) override;
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

    // Copies one file node to a new file at the path, or creates the folder of a folder node.
    int SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pTargetPath);
    // Absolute sector of record n through the $MFT runs, or false when no run holds it.
    bool GetRecordSector(uint32_t nRecord, uint64_t& u64Sector) const;
    // Reads record n (one record size) into the buffer; 0, -1 when unmapped, or the read error.
    int GetFileRecordBuf(uint32_t nRecord, std::vector<uint8_t>& vecRecord);
    // Runs of the record's first attribute of the type (the unnamed stream for data), following
    // an attribute list when the record holds none; 0, -1, -100 or a read error.
    int GetRunListInfo(uint64_t u64RecordSector, uint32_t nType, std::vector<RUNLIST>& vecRuns);
    // Content of the record's resident data attribute; 0, -101 when non-resident, or an error.
    int GetAttr0x80Data(uint64_t u64RecordSector, std::vector<uint8_t>& vecData);
    // Real size of the record's data stream; 0, -1, 87 when it has none, or a read error.
    int GetBitMapRealBytesSize(uint64_t u64RecordSector, uint64_t& u64Size);

private:
    int SetUpVolume(const uint8_t* pBoot, uint64_t u64StartSector, uint64_t u64SectorCount,
                    char16_t wcDriveLetter);
    void ReadMftRuns();
    int ReadRecordAt(uint64_t u64Sector, std::vector<uint8_t>& vecRecord);
    int FastScanDevice();
    int ReportScan(int nPercent, int nSecondsLeft, uint64_t u64Done, uint64_t u64Total);
    int ReadFileAndParseRecordInfo(uint64_t u64Sector, uint32_t nSectors);
    // Parses one record read at the absolute sector; nRecord is its number in the $MFT.
    int ParseRecordInfo(uint8_t* pRecord, size_t nSize, PARSE_MODE nMode, uint32_t nRecord,
                        uint64_t u64Sector);
    void CreateLostFolderNode(uint32_t nRecord, uint32_t nHealth);
    uint32_t GetRootParentDirIndex(uint32_t nDirRecord);
    uint32_t GetDirParent(uint32_t nDirRecord);
    uint32_t IsFileDataHealth(const FILE_NODE& node, const uint8_t* pRecord, size_t nSize);
    int Get0X20RunList(const uint8_t* pRecord, size_t nSize, const NTFS_ATTRIBUTE& list,
                       uint32_t nType, uint32_t nOwnRecord, std::vector<RUNLIST>& vecRuns);
    void AddListedFileNames(const uint8_t* pRecord, size_t nSize, const NTFS_ATTRIBUTE& list,
                            NTFS_RECORD_SUMMARY& summary);
    int ReadFixedUpRecord(uint32_t nRecord, std::vector<uint8_t>& vecRecord);
    int ReadAttributeListBytes(const uint8_t* pRecord, size_t nSize, const NTFS_ATTRIBUTE& list,
                               std::vector<uint8_t>& vecList);
    int ReadClusters(const std::vector<RUNLIST>& vecRuns, uint64_t u64MaxBytes,
                     std::vector<uint8_t>& vecOut);
    unsigned int GetFolderChildGroup(const FILE_NODE& folder);
    void FillNodeBase(FILE_NODE& node) const;

    int GetResidentData(const FILE_NODE& node, std::vector<uint8_t>& vecData) override;
    int GetDataRuns(const FILE_NODE& node, std::vector<RUNLIST>& vecRuns) override;

    uint64_t m_u64PartitionStart = 0;
    uint64_t m_u64SectorCount = 0;
    uint64_t m_u64MftStart = 0;
    char16_t m_wcDriveLetter = 0;
    int m_nBytesPerSector = CNtfsParse::DEFAULT_BYTES_PER_SECTOR;
    int m_nRecordSize = 1024;
    int m_nSectorsPerRecord = 2;
    int m_nSectorPerCluster = 0;
    std::vector<uint8_t> m_vecChunk;
    std::vector<uint8_t> m_vecBitmap;
    std::vector<RUNLIST> m_vecMftRuns;
    std::vector<uint32_t> m_vecPendingDirs;
    std::unordered_set<uint32_t> m_setPendingDirs;
    std::unordered_map<uint32_t, uint32_t> m_mapDirParent;
    CDiskReader m_diskReader;
    CNtfsParse m_ntfsParse;
    std::unique_ptr<CScanResultFileManager> m_pStore;
    std::unique_ptr<CFolderRecoveryQueue> m_pFolderQueue;
    CEngineCallbacks m_callbacks;
};
