// The fast FAT16/FAT32 engine: walks the volume's own directory tree and FAT chains, stores
// deleted files (and files inside deleted folders) with the folders above them, and reads their
// data back along released chains.
#pragma once

#include "device/CDiskReader.h"
#include "engine/CEngineCallbacks.h"
#include "engine/CFolderRecoveryQueue.h"
#include "engine/IFileRecoveryParse.h"
#include "fat/CFatChainReader.h"
#include "fat/CFatFreeSpaceMap.h"
#include "fat/CFatNodeData.h"
#include "fat/CFatTable.h"
#include "formats/fat/FatGeometry.h"
#include "util/TimeUtil.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CScanResultFileManager;

class CFastFatRecovery : public IFileRecoveryParse {
public:
    CFastFatRecovery();
    ~CFastFatRecovery() override;
    CFastFatRecovery(const CFastFatRecovery&) = delete;
    CFastFatRecovery& operator=(const CFastFatRecovery&) = delete;

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
    // A deleted file's runs along the clusters its proof chose (one run per piece).
    bool GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) override;

    // Writes one file node to a new file at the path (a folder node: the whole folder).
    int SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pPath);
    // The FAT entry of the cluster as stored.
    int GetNextClusterNO(unsigned int nCluster, unsigned int& nNext);

    const FAT_GEOMETRY& GetGeometry() const { return m_geometry; }
    // The clock that times the periodic scan reports (milliseconds); the tick counter by default.
    void SetClock(long long (*pfnNowMs)()) { m_pfnNowMs = pfnNowMs; }

private:
    int InitVolume(long long llStartSector, long long llSectorCount, char16_t wcDriveLetter);
    void ResetScanState();
    int ReportScan(int nPercent, int nSecondsLeft);
    int ReportPeriodic(int& nPercent, int& nSecondsLeft, int& nInnerPercent);
    int WalkDirectoryQueue();
    void StoreLostFolders();

    int InitDirInfo(uint32_t nCluster);
    void HandleFolderEntry(const uint8_t* pEntry, const std::string& strName, uint64_t u64Sector,
                           bool bFolderDeleted, uint32_t& nParent);
    // Stores a node for a deleted file or a file inside a deleted folder.
    void HandleFileEntry(const uint8_t* pEntry, const std::string& strName, uint64_t u64Sector,
                         uint32_t nParent);
    void FillEntryNode(FILE_NODE& node, const uint8_t* pEntry, const std::string& strName,
                       uint32_t nCluster);
    uint32_t GetEntryCluster(const uint8_t* pEntry, const char* pName, bool bIsDir);
    void AddLostFolderChain(uint32_t nParent);

    int GetDirRealHighClusterNO(unsigned short u16Low, unsigned short& u16High);
    int GetFileRealHighClusterNO(unsigned short u16Low, unsigned short& u16High, const char* pName);
    int GetRootParentDirIndex(unsigned int nCluster, int& nDepth,
                              std::map<uint32_t, uint32_t>& mapVisited);
    int _GetRootParentDirIndex(unsigned int nCluster, int& nDepth);
    int IsFileDataHealth(FILE_NODE* pNode, unsigned int nSectorsPerCluster);
    unsigned int GetFolderGroup(const FILE_NODE& folder);
    uint64_t GetChildrenKey(const FILE_NODE* pParent, unsigned int nDepth) const;

    int ReadSector(uint64_t u64Sector, uint8_t* pBuffer);
    CDiskReader m_diskReader;
    bool m_bIsOpen = false;
    bool m_bHasGeometry = false;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    char16_t m_wcDriveLetter = 0;
    uint32_t m_nEngineType = ENGINE_FAST_FAT;
    FAT_GEOMETRY m_geometry{};
    CFatTable m_fatTable;
    CFatChainReader m_chainReader{m_diskReader, m_fatTable};
    CFatFreeSpaceMap m_freeSpaceMap;

    std::unique_ptr<CScanResultFileManager> m_pStore;
    std::deque<uint32_t> m_dequeDir;
    std::set<uint32_t> m_setWalkedDir;
    std::map<uint32_t, FILE_NODE> m_mapFolder; // folder cluster -> node; nFileIndex = parent
    std::vector<uint32_t> m_vecLostFolder;
    std::set<uint32_t> m_setLostFolder;
    std::map<uint32_t, int> m_mapDepth; // depth of a folder cluster, counted once per scan
    long long m_llLastReportMs = 0;
    long long (*m_pfnNowMs)() = GetTickCountMs;

    CFolderRecoveryQueue m_folderRecovery;
    CEngineCallbacks m_callbacks;
};
