// The deep scan: the volume's fast engine first, then one pass over the unallocated sectors in
// which NTFS records, FAT directory sectors and file signatures are all looked for. A whole disk
// with a partition table gets the fast engine of every partition it holds, a deep FAT engine of
// its own for each FAT partition, and one pass over all of its sectors.
#pragma once

#include "carving/CFileTypeRecovery.h"
#include "deepscan/CDuplicateHitFilter.h"
#include "deepscan/CEngineGroup.h"
#include "deepscan/IDeepScanControl.h"
#include "device/CDiskReader.h"
#include "engine/CEngineCallbacks.h"
#include "engine/IFileRecoveryParse.h"
#include "exfat/CProfessionalExFatRecovery.h"
#include "fat/CProfessionalFatRecovery.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "store/CLogFileManager.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CProfessionalRecovery : public IFileRecoveryParse, public IDeepScanControl {
public:
    static constexpr int IMAGE_DISK_NO = 128;
    static constexpr int SCAN_WEIGHT = 90;
    static constexpr int FAST_ENGINE_WEIGHT = 9;
    static constexpr int READ_CHUNK_BYTES = 65536;

    CProfessionalRecovery();
    CProfessionalRecovery(const CProfessionalRecovery&) = delete;
    CProfessionalRecovery& operator=(const CProfessionalRecovery&) = delete;
    ~CProfessionalRecovery() override;

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
    int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    int InitSearchCallBack(SearchProgressCallback pSearchCallback, void* pParam) override;
    int SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) override;
    int BuildBitMapInfo() override { return 0; }
    int PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) override;
    bool GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) override;

    int IsFindLogFile() const override { return m_bLoaded ? 1 : 0; }
    void SetNotLoadLogFile() override;
    // Offers every sector of the buffer, which starts at the absolute sector, to the NTFS
    // record parser, the FAT directory parsers or the carver; u64Overrun receives the sectors
    // past the buffer that a carved file already covers. The last parser result.
    int ParseProfessionalFileInfo(const uint8_t* pBuffer, uint32_t nBytes, uint64_t u64Sector,
                                  uint64_t u64SectorsDone, uint64_t u64TotalSectors,
                                  int nSecondsLeft, uint64_t& u64Overrun, uint64_t& u64FilesFound);
    // The hits of the fast, deep FAT, deep NTFS and carving engines merged in node order, a
    // file that an earlier engine listed given once.
    int OpenSearchCursor(const char16_t* pKey, std::unique_ptr<ISearchCursor>& pCursor) override;
    int GetFileNodeByIndex(unsigned int nEngineType, unsigned int nFileIndex,
                           FILE_NODE* pOut) override;

private:
    // A partition of a whole disk that the factory recognised.
    struct PARTITION_ENGINES {
        uint64_t u64StartSector = 0; // absolute
        uint64_t u64SectorCount = 0;
        std::unique_ptr<IFileRecoveryParse> pFastEngine;
        std::unique_ptr<CProfessionalFatRecovery> pDeepFat; // FAT partitions only
    };

    // A run of sectors of the volume still to scan, relative to its start.
    struct SCAN_RUN {
        uint64_t u64Start = 0;
        uint64_t u64Length = 0;
    };

    // The engine that made a node of the type and number, and the number in that engine.
    IFileRecoveryParse* EngineOf(uint32_t nEngineType, uint32_t nFileIndex, uint32_t& nEngineIndex);
    // The engine that made the node, and the node as that engine numbers it.
    IFileRecoveryParse* EngineOfNode(const FILE_NODE& node, FILE_NODE& engineNode);
    CEngineGroup* GroupOf(uint32_t nEngineType);
    void OpenPartitionEngines(int nDiskNo);
    void RebuildGroups();
    std::vector<CProfessionalFatRecovery*> DeepFatEngines();
    std::vector<IFileRecoveryParse*> ListedEngines();
    // The deep FAT engine of the partition that holds the sector, else the disk's.
    CProfessionalFatRecovery& FatEngineFor(uint64_t u64Sector);
    int RunFastEngine(bool bResumed, bool& bUseMap);
    void RunPartitionFastEngines(bool bResumed);
    int OpenPassStores(bool bResumed);
    uint64_t CountSectorsToScan(bool bUseMap);
    SCAN_RUN NextRun(bool bUseMap, uint64_t u64From);
    int RunSectorPass(bool bUseMap, bool bResumed, uint64_t u64TotalSectors);
    int ScanRun(const SCAN_RUN& run, uint64_t u64TotalSectors, uint64_t& u64SectorsDone);
    void ReadChunk(uint64_t u64Sector, uint32_t nSectors);
    int ParseNtfsCandidate(const uint8_t* pSector, size_t nAvail, uint32_t nRecordSize,
                           uint64_t u64Sector);
    bool ParseExFatCandidate(const uint8_t* pSector, size_t nAvail, uint64_t u64Sector);
    void UpdateEstimate(uint64_t u64SectorsDone, uint64_t u64TotalSectors);
    int ReportPassProgress(uint64_t u64SectorsDone, uint64_t u64TotalSectors);
    void RecordScan(bool bEndedInFastEngine, bool bResumed);
    std::string StoredStoreName(const char* pPrefix) const;
    std::string StoredStoreName(const char* pPrefix, uint64_t u64StartSector) const;
    void LoadStoredScan(const std::string& strDevicePath);
    uint64_t GetFileDataStartSector(FILE_NODE& node, bool& bKnown);
    std::vector<uint64_t> CollectWalkedFileStarts();
    CDuplicateHitFilter
    BuildDuplicateFilter(std::vector<std::unique_ptr<ISearchCursor>>& vecSources,
                         size_t nFastSources);

    int m_nFd = -1;
    char16_t m_wcDriveLetter = u'C';
    int m_nBytesPerSector = 512;
    int m_nDiskNo = IMAGE_DISK_NO;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    CDiskReader m_diskReader;
    CProfessionalFatRecovery m_fatRecovery;
    CProfessionalNtfsRecovery m_ntfsRecovery;
    CProfessionalExFatRecovery m_exfatRecovery;
    CFileTypeRecovery m_fileTypeRecovery;
    std::unique_ptr<IFileRecoveryParse> m_pFastEngine;
    std::vector<PARTITION_ENGINES> m_vecPartitions; // sorted by start, never overlapping
    CEngineGroup m_fastEngines;                     // m_pFastEngine, or those of the partitions
    CEngineGroup m_deepFatEngines;                  // m_fatRecovery, then the partitions' own
    bool m_bLoaded = false;
    LOG_FILE_INFO m_storedScan = {};
    SCAN_VOLUME_KEY m_volumeKey{};
    bool m_bHasVolumeKey = false;
    std::string m_strImagePath;

    // Position of the sector pass, recorded in the scan index when the scan ends.
    SCAN_RUN m_currentRun;
    uint64_t m_u64RunDone = 0;
    uint64_t m_u64SectorsDone = 0;
    int m_nSecondsLeft = -1;
    long long m_llPassStartMs = 0;
    long long m_llLastEstimateMs = 0;
    std::vector<uint8_t> m_vecReadBuf;
    std::vector<uint8_t> m_vecRecordBuf;
    CEngineCallbacks m_callbacks;
};
