// The fast exFAT engine: walks the volume's own directory tree from the root cluster, stores
// deleted entry sets (and everything inside deleted folders) with the folders above them, and
// reads their data back along surviving chains or as contiguous runs.
#pragma once

#include "device/CDiskReader.h"
#include "engine/CFolderRecoveryQueue.h"
#include "engine/IFileRecoveryParse.h"
#include "exfat/CExFatFreeSpaceMap.h"
#include "exfat/CExFatNodeData.h"
#include "exfat/CExFatVolume.h"
#include "formats/exfat/ExFatEntrySet.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class CScanResultFileManager;

class CFastExFatRecovery : public IFileRecoveryParse {
public:
    CFastExFatRecovery();
    ~CFastExFatRecovery() override;
    CFastExFatRecovery(const CFastExFatRecovery&) = delete;
    CFastExFatRecovery& operator=(const CFastExFatRecovery&) = delete;

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
    int BuildBitMapInfo() override;
    int PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) override;
    bool GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) override;
    int GetFileNodeByIndex(unsigned int nEngineType, unsigned int nFileIndex,
                           FILE_NODE* pOut) override;

    const EXFAT_GEOMETRY& GetGeometry() const { return m_volume.Geometry(); }
    EXFAT_DATA_LAYOUT GetDataLayout(const FILE_NODE& node) { return m_volume.GetDataLayout(node); }

private:
    // A folder waiting to be walked.
    struct EXFAT_FOLDER_WORK {
        uint32_t nCluster;
        bool bNoFatChain;
        uint64_t u64Bytes;
        bool bDeleted;
        uint32_t nDepth; // the group its children are filed under: 0 for the root
    };
    // A folder met as an entry set, kept until the end of the scan.
    struct EXFAT_FOLDER_SEEN {
        FILE_NODE node;
        uint32_t nParent;
        uint32_t nParentDepth;
    };

    int InitVolume(long long llStartSector, long long llSectorCount, char16_t wcDriveLetter);
    int ReportScan(int nPercent);
    int WalkFolders();
    void WalkFolder(const EXFAT_FOLDER_WORK& folder);
    void FillNode(FILE_NODE& node, const EXFAT_ENTRY_SET& set, uint64_t u64Sector) const;
    void StoreFile(const EXFAT_ENTRY_SET& set, uint64_t u64Sector, const EXFAT_FOLDER_WORK& folder);
    void AddFolder(const EXFAT_ENTRY_SET& set, uint64_t u64Sector, const EXFAT_FOLDER_WORK& folder);
    void NeedFolderChain(uint32_t nFolder);
    void StoreNeededFolders();
    unsigned int GetFolderGroup(const FILE_NODE& folder);
    uint64_t GetChildrenKey(const FILE_NODE* pParent, unsigned int nDepth) const;

    CDiskReader m_diskReader;
    CExFatVolume m_volume;
    CExFatFreeSpaceMap m_freeSpaceMap;
    bool m_bIsOpen = false;
    bool m_bHasGeometry = false;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    char16_t m_wcDriveLetter = 0;

    ScanProgressCallback m_pScanCallback = nullptr;
    RecoveryProgressCallback m_pRecoveryCallback = nullptr;
    void* m_pParam = nullptr;
    int m_nPercent = 0;
    SearchProgressCallback m_pSearchCallback = nullptr;
    void* m_pSearchParam = nullptr;

    std::unique_ptr<CScanResultFileManager> m_pStore;
    std::deque<EXFAT_FOLDER_WORK> m_dequeFolders;
    std::set<uint32_t> m_setWalked;
    std::map<uint32_t, EXFAT_FOLDER_SEEN> m_mapFolders;
    std::vector<uint32_t> m_vecNeeded;
    std::set<uint32_t> m_setNeeded;
    long long m_llLastReportMs = 0;

    CFolderRecoveryQueue m_folderRecovery;
};
