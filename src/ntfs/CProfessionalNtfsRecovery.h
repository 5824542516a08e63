// The deep NTFS engine: places "FILE" records found anywhere on a disk in their master file
// table and volume, files them under their folders and copies found files out.
#pragma once

#include "device/CDiskReader.h"
#include "engine/CEngineCallbacks.h"
#include "engine/CFolderRecoveryQueue.h"
#include "engine/IFileRecoveryParse.h"
#include "ntfs/CNtfsDataExtractor.h"
#include "ntfs/CNtfsParse.h"
#include "ntfs/INtfsNodeDataSource.h"
#include "store/CScanResultFileManager.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

// A directory to resolve after the sweep, with what is needed to find its record again.
struct SPECIAL_RECOVERY_DIR {
    uint32_t nRecordNo;
    uint32_t nSectorPerCluster;
    uint64_t u64PartitionStartSector;
    std::vector<RUNLIST> vecMftRuns; // that volume's $MFT runs, or one contiguous run
};

class CProfessionalNtfsRecovery : public IFileRecoveryParse, private INtfsNodeDataSource {
public:
    static constexpr int BYTES_PER_SECTOR = 512;
    static constexpr int SECTORS_PER_RECORD = 2;
    static constexpr int RECORD_SIZE = BYTES_PER_SECTOR * SECTORS_PER_RECORD;
    static constexpr int BOOT_READ_BYTES = 4096;
    static constexpr uint32_t MAX_SECTORS_PER_CLUSTER = 4096; // 2 MiB clusters

    enum PARSE_MODE : int {
        PARSE_FILE = 0,
        PARSE_DIRECTORY = 1,
    };

    CProfessionalNtfsRecovery();
    ~CProfessionalNtfsRecovery() override;
    CProfessionalNtfsRecovery(const CProfessionalNtfsRecovery&) = delete;
    CProfessionalNtfsRecovery& operator=(const CProfessionalNtfsRecovery&) = delete;

    // Opens the disk for the area to sweep; an NTFS boot sector at its start gives the $MFT
    // and the cluster size. 0, or the read error of the boot sector.
    int Init(int nDiskNo, long long llStartSector, long long llSectorCount,
             char16_t wcDriveLetter) override;
    int Init(const char16_t* pDevicePath, char16_t wcDriveLetter) override;
    int InitCallBack(ScanProgressCallback pScanCallback, RecoveryProgressCallback pRecoveryCallback,
                     void* pParam, int nWeight) override;
    // The deep-scan engine sweeps the disk and feeds this engine; nothing to do here.
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

    // Deep-scan engine, before its sweep (after ClearProfessionalVec): starts a fresh
    // "Pro_Ntfs_" store, or reopens the stored result of that name; the store's Init result.
    int InitProfessionalScan(const char16_t* pResultName);
    // Deep-scan engine, before InitProfessionalScan: forgets the directories of an earlier sweep.
    // The $MFT tables learnt so far stay: they describe the same disk. 0.
    int ClearProfessionalVec();
    // Deep-scan engine, for every sector that passes IsNtfsFileRecord: the record's bytes (at
    // least one record long; never modified) and its absolute sector. Directory records are
    // left for ParseProfessionalRecordVec; others become file nodes, in use or not, and record
    // 0 of a $MFT teaches where that table lies. 0, -1 not a record, 87 a record whose sizes
    // do not fit, or the store's error.
    int ParseNtfsFileRecord(const uint8_t* pRecord, size_t nSize, uint64_t u64Sector);
    // Deep-scan engine, once after the sweep: reads back every directory the files hang under
    // and files it under its own parent ("LostFolder%d" in the root when it is gone). The last
    // parse result, or the first read error (the other directories are resolved all the same).
    int ParseProfessionalRecordVec();
    // Deep-scan engine, to find a node's first data sector: the runs of the first attribute of
    // the type (the unnamed stream for data) in the record at the absolute sector, cleared
    // first; empty for a resident attribute. Attribute lists are not followed. 0, -1 not a
    // record, 87 a record whose first attribute lies outside it, -100 not found, a read error.
    int GetRunListInfo(uint64_t u64RecordSector, uint32_t nType, std::vector<RUNLIST>& vecRuns);

    // GetRunListInfo for the record a node was found at.
    int GetFileNodeRunListInfo(const FILE_NODE& node, uint32_t nType,
                               std::vector<RUNLIST>& vecRuns);
    // Content of the node record's resident unnamed data; 0, -101 when it lives in runs or is
    // absent, -1, 87 or a read error.
    int GetFileNodeAttr0x80Data(const FILE_NODE& node, std::vector<uint8_t>& vecData);
    // Copies one file node to a new file at the path, or creates the folder of a folder node.
    int SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pTargetPath);

    // Learns the sectors per cluster from a record's non-resident data attribute (allocated
    // bytes over clusters). 0, or 87 for a record without "FILE" or a first attribute outside.
    int GetFileRecordSectorPerClusterByRecordBuf(const uint8_t* pRecord, size_t nSize);
    // The key of the $MFT whose runs place record nRecordNo exactly at the sector, with its runs
    // copied out; 0 when no known table does.
    uint64_t GetFileRecordIndexMftRunList(uint64_t u64RecordSector, uint32_t nRecordNo,
                                          uint32_t nSectorPerCluster,
                                          std::vector<RUNLIST>& vecRuns) const;
    // The first sector of the volume of the record at the sector, with that volume's $MFT runs;
    // without a known table the $MFT is taken to run contiguously up to the record.
    uint64_t GetSpecialFileRecordPartitionStartSector(uint64_t u64RecordSector, uint32_t nRecordNo,
                                                      std::vector<RUNLIST>& vecRuns) const;

    // Sector of record nRecordNo relative to its volume through $MFT runs; a run of length 0
    // holds the rest of the table contiguously. Nullopt when no run holds it.
    static std::optional<uint64_t> MapMftRecordSector(const std::vector<RUNLIST>& vecRuns,
                                                      uint32_t nRecordNo,
                                                      uint32_t nSectorPerCluster);

    const std::map<uint64_t, std::vector<RUNLIST>>& GetMftMap() const { return m_mapMftRunList; }
    uint32_t GetSectorPerCluster() const { return m_nSectorPerCluster; }
    size_t GetPendingDirCount() const { return m_vecSpecialDirs.size(); }

private:
    // What the attribute walk of one record gathered.
    struct RECORD_INFO;

    int SetUpDisk(uint64_t u64StartSector, uint64_t u64SectorCount, char16_t wcDriveLetter);
    void LearnBootSectorMft(const uint8_t* pBoot, size_t nSize);
    int ReadRecordAt(uint64_t u64Sector, std::vector<uint8_t>& vecRecord);
    int ReadFixedRecord(uint64_t u64Sector, std::vector<uint8_t>& vecRecord);
    int ParseProfessionalRecordInfo(uint8_t* pRecord, size_t nSize, uint64_t u64Sector,
                                    PARSE_MODE nMode, uint32_t nRecordNo);
    int CreateRecordNode(const RECORD_INFO& info, uint64_t u64Sector, PARSE_MODE nMode);
    int CreateLostFolderNode(uint32_t nRecordNo);
    void LearnMftRecord(const uint8_t* pRecord, size_t nSize, uint64_t u64Sector);
    // Queues the folders from nDirRecord up to the root, counting them in nGroup; true when
    // the climb meets one of the volume's system folders.
    bool GetProfessionalRootParentDirIndex(uint32_t nDirRecord, uint64_t u64PartitionStart,
                                           uint32_t nSectorPerCluster,
                                           const std::vector<RUNLIST>& vecRuns, uint32_t& nGroup);
    void AddSpecialDir(uint32_t nRecordNo, uint32_t nSectorPerCluster, uint64_t u64PartitionStart,
                       const std::vector<RUNLIST>& vecRuns);
    unsigned int GetFolderChildGroup(const FILE_NODE& folder);

    int GetResidentData(const FILE_NODE& node, std::vector<uint8_t>& vecData) override;
    int GetDataRuns(const FILE_NODE& node, std::vector<RUNLIST>& vecRuns) override;

    uint64_t m_u64PartitionStart = 0;
    uint64_t m_u64SectorCount = 0;
    char16_t m_wcDriveLetter = 0;
    std::vector<SPECIAL_RECOVERY_DIR> m_vecSpecialDirs;
    std::unordered_set<uint32_t> m_setSpecialDirs;
    CDiskReader m_diskReader;
    CNtfsParse m_ntfsParse;
    std::unique_ptr<CScanResultFileManager> m_pStore;
    std::map<uint64_t, std::vector<RUNLIST>> m_mapMftRunList; // key: sector of a $MFT record 0
    uint32_t m_nSectorPerCluster = 8;
    CNtfsDataExtractor m_extractor;
    CFolderRecoveryQueue m_folderQueue;
    CEngineCallbacks m_callbacks;
};
