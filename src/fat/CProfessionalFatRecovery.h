// The deep FAT engine: infers volume geometries from directory sectors found anywhere on the disk,
// stores the files their entries describe, rebuilds the folder tree at the end of the sector pass
// and reads files back along the FAT of a volume whose boot sector it met, else as consecutive
// clusters.
#pragma once

#include "device/CDiskReader.h"
#include "engine/CEngineCallbacks.h"
#include "engine/CFolderRecoveryQueue.h"
#include "engine/IFileRecoveryParse.h"
#include "fat/CFatChainReader.h"
#include "fat/CFatNodeData.h"
#include "fat/CFatTable.h"
#include "fat/CUnplacedSectorMap.h"
#include "fat/ProFatRecords.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

class CScanResultFileManager;

class CProfessionalFatRecovery : public IFileRecoveryParse {
public:
    CProfessionalFatRecovery();
    ~CProfessionalFatRecovery() override;
    CProfessionalFatRecovery(const CProfessionalFatRecovery&) = delete;
    CProfessionalFatRecovery& operator=(const CProfessionalFatRecovery&) = delete;

    int Init(int nDiskNo, long long llStartSector, long long llSectorCount,
             char16_t wcDriveLetter) override;
    int Init(const char16_t* pDevicePath, char16_t wcDriveLetter) override;
    int InitCallBack(ScanProgressCallback pScanCallback, RecoveryProgressCallback pRecoveryCallback,
                     void* pParam, int nWeight) override;
    // The deep engine is fed by the deep-scan engine's sector pass; it never scans on its own.
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
    // A file's runs along the clusters its copy-out reads (one run per piece).
    bool GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) override;

    // Deep-scan engine, first step of a scan: empties all working state and starts a fresh
    // "Pro_Fat_" store (null or empty name), or reopens the stored result of that name.
    // 0 or the store's error.
    int ClearProfessionalVec(const char16_t* pName);
    // Deep-scan engine, after ClearProfessionalVec and before the sector pass: takes the geometry
    // of an intact boot sector at the start sector, so files are placed from the first sector
    // on. 0, or the read error (a volume without a FAT boot sector is not an error).
    int InitVirtualDbrInfo();
    // Deep-scan engine, sector pass: a 512-byte sector that IsFat accepts, at its absolute
    // sector. A volume inside a partitioned disk is placed by its own boot sector (or FAT32's
    // copy) when nothing else has given a geometry yet and its first FAT starts where the sector
    // says. Returns 0.
    int ParseBootRecord(const unsigned char* pSector, unsigned long long u64Sector);
    // Deep-scan engine, sector pass (increasing sectors): a 512-byte sector that IsFatFileRecord
    // accepts (a folder's first sector, "." and ".."), at its absolute sector. Returns 0.
    int ParseFatFileRecord(const unsigned char* pSector, unsigned long long u64Sector);
    // Deep-scan engine, sector pass: a 512-byte sector that IsFatFDTRecord accepts (any other
    // directory sector), at its absolute sector. Returns 0.
    int ParseFDTFileRecord(const unsigned char* pSector, unsigned long long u64Sector);
    // Deep-scan engine, once after the sector pass (also after a stop): places what was kept,
    // stores the folders above stored items ("LostFolder%d" when a folder's own entry was never
    // seen) and the files found before any geometry. Returns 0.
    int DealProfessionalRecordVec();

    // Writes one file node to a new file at the path (a folder node: the whole folder).
    int SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pPath);

    const std::vector<VIRTUAL_DBR_INFO>& GetVirtualDbrInfo() const { return m_vecDbrInfo; }
    uint32_t GetRootCluster() const { return m_nRootCluster; }
    const CUnplacedSectorMap& GetUnplacedSectors() const { return m_unplaced; }

    // The geometry to place a sector with when none places it exactly: the only one; else the
    // closest whose cluster 2 is not after the sector (a real boot sector's is left out), or
    // the first one; none without any geometry.
    std::optional<VIRTUAL_DBR_INFO> GetNearestDbrInfo(uint64_t u64Sector) const;
    // Two folder starts fix a geometry when the sectors between them are a whole number of
    // clusters; appends it and returns 1, else 0. Needs c1 > c2 and s1 > s2.
    int CalcVirtualDbr(uint32_t nCluster1, uint64_t u64Sector1, uint32_t nCluster2,
                       uint64_t u64Sector2);

private:
    struct CLUSTER_START {
        VIRTUAL_DBR_INFO dbrInfo;
        uint32_t nClusterNo;
        uint64_t u64Sector;
    };
    // A cut-off long name and the sector its buffer ended with.
    struct PENDING_LONG_NAME {
        LONG_FILE_INFO info;
        uint64_t u64CutSector;
    };
    struct FOLDER_START_CHECK {
        VIRTUAL_DBR_INFO dbrInfo;
        uint32_t nClusterNo;
        bool bIsFolderStart;
    };
    using Geometry = std::optional<VIRTUAL_DBR_INFO>;

    int OpenVolume(long long llStartSector, long long llSectorCount, char16_t wcDriveLetter);
    void ResetScanState();

    // Sector parsing.
    std::optional<VIRTUAL_DBR_INFO> FindFolderStartGeometry(uint32_t nCluster,
                                                            uint64_t u64Sector) const;
    void InferGeometryFromFolderStart(uint32_t nCluster, uint64_t u64Sector);
    void InferRootCluster(const VIRTUAL_DBR_INFO& dbr);
    uint32_t InferRootAreaSectors(const VIRTUAL_DBR_INFO& dbr) const;
    void ParseFolderStartBuffer(const uint8_t* pBuf, size_t nLen, uint64_t u64Sector,
                                uint32_t nCluster);
    bool GetParentDirCluster(const uint8_t* pSector, uint64_t u64Sector);
    void DoParseFileOrAddUndelFileMap(const uint8_t* pSector, uint64_t u64Sector);
    void ParseFatFDTRecord(const uint8_t* pBuf, size_t nLen, uint64_t u64Sector, uint32_t nCluster,
                           Geometry dbr, uint64_t u64LastSector);
    void ParseWithContinuation(const uint8_t* pBuf, size_t nLen, uint64_t u64Sector,
                               uint32_t nCluster, Geometry dbr, uint64_t u64LastSector);
    bool ContinuePendingFromUnplaced(const PENDING_LONG_NAME& pending,
                                     std::vector<uint8_t>& vecJoined, uint64_t& u64LastSector);
    void DealProfessionalFatFileEntry(const uint8_t* pBuf, size_t nLen, uint64_t u64Sector,
                                      uint32_t nCluster, LONG_FILE_INFO& pending, Geometry dbr);
    void GetParentClusterNO(const uint8_t* pBuf, size_t nLen, uint32_t nCluster,
                            const Geometry& dbr, uint32_t& nParent, uint64_t& u64RecordSector);
    void RecordFolderEntry(const uint8_t* pEntry, const std::string& strName, uint32_t nParent,
                           uint64_t u64RecordSector, const Geometry& dbr);
    void RecordFileEntry(const uint8_t* pEntry, const std::string& strName, uint32_t nParent,
                         uint64_t u64RecordSector, const Geometry& dbr);
    bool IsInsideVolume(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster, uint64_t u64Size) const;
    void AdoptBootGeometry(const FAT_GEOMETRY& geometry);
    bool StartsWithFat(const FAT_GEOMETRY& geometry, uint8_t u8Media);
    void AddNeededFolders(uint32_t nParent, const Geometry& dbr, uint64_t u64RecordSector);
    void StoreFileNode(const FILE_NODE& source, uint32_t nParent, const VIRTUAL_DBR_INFO& dbr);
    void FillEntryNode(FILE_NODE& node, const uint8_t* pEntry, const std::string& strName,
                       uint32_t nParent, uint64_t u64RecordSector, bool bIsDir);
    uint32_t GetEntryCluster(const uint8_t* pEntry, bool bIsDir, const char* pName,
                             const Geometry& dbr);
    bool IsFolderStartAt(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster);
    // A folder met so far whose own entry, or an ancestor's, is deleted.
    bool IsDeletedFolder(uint32_t nCluster) const;

    // Tree rebuild.
    void ParseUnDealFileMap();
    void UpdateNoDbrFileVec();
    void StoreNeededFolders();
    void StoreNeededFolder(uint32_t nFolder, const PRO_NEED_ADD_DIR_INFO& need,
                           std::set<uint32_t>& setQueued, std::vector<uint32_t>& vecWork);
    std::optional<VIRTUAL_DBR_INFO> FindGeometryHoldingSector(uint32_t nCluster,
                                                              uint64_t u64Sector) const;
    void FileFolderNode(FILE_NODE& node, uint32_t nParent, const VIRTUAL_DBR_INFO& dbr,
                        const char* pName);

    // Reading the volume.
    int GetParentClusterNO(const VIRTUAL_DBR_INFO& dbr, unsigned int nCluster,
                           unsigned int& nParent);
    int GetRootParentDirIndex(const VIRTUAL_DBR_INFO& dbr, unsigned int nCluster, int& nDepth,
                              std::map<uint32_t, uint32_t>& mapVisited);
    int CountDepth(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster);
    int GetDirRealHighClusterNO(const VIRTUAL_DBR_INFO& dbr, unsigned short u16Low,
                                unsigned short& u16High);
    int GetFileRealHighClusterNO(const VIRTUAL_DBR_INFO& dbr, unsigned short u16Low,
                                 unsigned short& u16High, const char* pName);
    int IsFileDataHealth(FILE_NODE* pNode, unsigned int nSectorsPerCluster);
    uint32_t ProveNodeData(const FILE_NODE& node);
    int ReadSectors(uint64_t u64Sector, uint32_t nSectors, uint8_t* pBuffer);
    bool ReadFolderStart(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster,
                         std::vector<uint8_t>& vecOut);

    // Queries and extraction.
    bool IsBootVolumeNode(const FILE_NODE& node) const;
    void FindNodeBootGeometry(const FILE_NODE& node);
    // The node's data reader: for a node of the volume whose boot sector (or its copy) was read,
    // along its FAT chain, or a deleted file's free clusters as its proof chose them; else the
    // clusters that follow on disk.
    CFatNodeData NodeData(const FILE_NODE& node);
    uint64_t GetChildrenKey(const FILE_NODE* pParent, unsigned int nDepth) const;
    unsigned int GetFolderGroup(const FILE_NODE& folder);

    CDiskReader m_diskReader;
    // Without a boot sector there is no FAT: a node's data is read from the clusters that follow.
    CFatNodeData m_nodeData;
    std::optional<FAT_GEOMETRY> m_bootGeometry;
    CFatTable m_fatTable;
    CFatChainReader m_chainReader{m_diskReader, m_fatTable};
    bool m_bIsOpen = false;
    int m_nDiskNo = -1;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    char16_t m_wcDriveLetter = 0;
    int m_nBytesPerSector = PRO_FAT_SECTOR_BYTES;
    uint32_t m_nEngineType = ENGINE_DEEP_FAT;

    std::vector<VIRTUAL_DBR_INFO> m_vecDbrInfo; // a real boot sector's geometry comes first
    uint32_t m_bRealDbr = 0;
    uint32_t m_nRootCluster = 0;
    std::vector<FAT_SECTOR_OFFSET> m_vecFolderStart;
    std::vector<PENDING_LONG_NAME> m_vecLongFile;
    CUnplacedSectorMap m_unplaced;
    std::map<uint32_t, PRO_DIR_INFO> m_mapDirSeen;
    std::map<uint32_t, PRO_NEED_ADD_DIR_INFO> m_mapDirNeeded;
    std::vector<NO_DBR_FILE_NODE> m_vecNoDbrFile;
    size_t m_nNoDbrCheckedDbr = 0; // geometries already tried on the files without geometry
    std::optional<CLUSTER_START> m_clusterStart;
    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, int> m_mapDepth; // counted depths
    std::set<uint32_t> m_setClimbed; // folders whose ancestors are recorded as needed
    std::optional<FOLDER_START_CHECK> m_folderStartCheck;

    std::unique_ptr<CScanResultFileManager> m_pStore;
    CFolderRecoveryQueue m_folderRecovery;
    CEngineCallbacks m_callbacks;
};
