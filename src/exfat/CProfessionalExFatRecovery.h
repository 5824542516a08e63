// The deep exFAT engine: fed directory sectors (recognised by entry sets whose checksum holds)
// by the deep scan's sector pass, it finds each volume's geometry (boot region, or inferred when
// that is gone), rebuilds the folder trees with "LostFolder%d" for folders whose own entry is
// gone, and reads files back as their sets describe.
#pragma once

#include "device/CDiskReader.h"
#include "engine/CFolderRecoveryQueue.h"
#include "engine/IFileRecoveryParse.h"
#include "exfat/CExFatGeometryFinder.h"
#include "exfat/CExFatVolume.h"
#include "formats/exfat/ExFatEntrySet.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class CScanResultFileManager;

class CProfessionalExFatRecovery : public IFileRecoveryParse {
public:
    CProfessionalExFatRecovery();
    ~CProfessionalExFatRecovery() override;
    CProfessionalExFatRecovery(const CProfessionalExFatRecovery&) = delete;
    CProfessionalExFatRecovery& operator=(const CProfessionalExFatRecovery&) = delete;

    int Init(int nDiskNo, long long llStartSector, long long llSectorCount,
             char16_t wcDriveLetter) override;
    int Init(const char16_t* pDevicePath, char16_t wcDriveLetter) override;
    int InitCallBack(ScanProgressCallback pScanCallback, RecoveryProgressCallback pRecoveryCallback,
                     void* pParam, int nWeight) override;
    // Fed by the deep scan's sector pass; it never scans on its own.
    int ScanDevice(const char16_t*) override { return 0; }
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
    int OpenSearchCursor(const char16_t* pKey, std::unique_ptr<ISearchCursor>& pCursor) override;
    int BuildBitMapInfo() override { return 0; }
    int PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) override;
    bool GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) override;
    int GetFileNodeByIndex(unsigned int nEngineType, unsigned int nFileIndex,
                           FILE_NODE* pOut) override;

    // Before the pass: empties the working state and starts a fresh "Pro_ExFat_" store (null
    // name) or reopens the stored one. 0 or the store's error.
    int ClearProfessionalVec(const char16_t* pName);
    // Sector pass: takes the 512-byte sector at the absolute sector (nAvailable bytes from it are
    // readable, so sets may run on) when it is an exFAT boot sector, the start of an up-case
    // table or a directory sector; true when it was one.
    bool ParseExFatSector(const uint8_t* pSector, size_t nAvailable, uint64_t u64Sector);
    // After the pass (also after a stop): finds the volumes and stores the rebuilt trees.
    int DealProfessionalRecordVec();

    const std::vector<EXFAT_DEEP_VOLUME>& GetVolumes() const { return m_vecVolumes; }

private:
    // An entry set seen in the pass, with the sector its file entry lies in.
    struct DEEP_SET {
        uint64_t u64Sector;
        EXFAT_ENTRY_SET set;
    };
    // A folder of the rebuilt tree: a set's folder, a volume's root, or a lost folder.
    struct DEEP_FOLDER {
        uint32_t nKey;     // filing key; 0 is the top level (every volume's root)
        int nSet;          // index in m_vecSets, -1 for a lost folder or a root
        uint32_t nCluster; // first cluster
        uint32_t nParentKey;
        uint32_t nLevel; // 0 for the top level
    };

    int OpenVolume(long long llStartSector, long long llSectorCount, char16_t wcDriveLetter);
    void RebuildVolume(size_t nVolume, const std::vector<size_t>& vecSets);
    uint32_t LevelOf(std::map<uint32_t, DEEP_FOLDER>& mapFolders, uint32_t nKey) const;
    void FillNode(FILE_NODE& node, const EXFAT_DEEP_VOLUME& volume, const DEEP_SET* pSet,
                  uint32_t nCluster) const;
    CExFatVolume& VolumeOf(const FILE_NODE& node);
    unsigned int GetFolderGroup(const FILE_NODE& folder);

    CDiskReader m_diskReader;
    bool m_bIsOpen = false;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    char16_t m_wcDriveLetter = 0;
    ScanProgressCallback m_pScanCallback = nullptr;
    RecoveryProgressCallback m_pRecoveryCallback = nullptr;
    void* m_pParam = nullptr;
    SearchProgressCallback m_pSearchCallback = nullptr;
    void* m_pSearchParam = nullptr;

    std::unique_ptr<CScanResultFileManager> m_pStore;
    CExFatGeometryFinder m_finder;
    std::vector<DEEP_SET> m_vecSets;
    std::vector<EXFAT_DEEP_VOLUME> m_vecVolumes;
    std::map<uint64_t, std::unique_ptr<CExFatVolume>> m_mapReadVolumes; // by heap sector
    uint32_t m_nNextKey = 1;

    CFolderRecoveryQueue m_folderRecovery;
};
