// Fast FAT scan (breadth-first directory walk), tree queries, copy-out, preview and free space.
#include "fat/CFastFatRecovery.h"

#include "formats/carving/CFileTypeJudge.h"
#include "formats/carving/FileDataHealth.h"
#include "formats/fat/FatEntryValidator.h"
#include "formats/fat/FatName.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/ByteView.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

constexpr long long REPORT_INTERVAL_MS = 5000;
constexpr int FIRST_REPORT_PERCENT = 1;
constexpr int WALK_DONE_PERCENT = 80;
constexpr int WALK_DONE_SECONDS_LEFT = 10;
constexpr int SCAN_DONE_PERCENT = 100;
// Below 100 until the scan has really ended: a report of 100 closes the progress dialog.
constexpr int MAX_PERIODIC_PERCENT = 99;
constexpr int PERIODIC_START_PERCENT = 2;
constexpr int PERIODIC_START_SECONDS = 99;
constexpr int INNER_START_PERCENT = 21;
constexpr int WEIGHT_ALONE = 100;
constexpr int WEIGHT_INSIDE_DEEP_SCAN = 9;

// A FAT32 cluster number's high word is searched among 0..256.
constexpr uint32_t MAX_HIGH_WORD = 256;

constexpr size_t DOT_DOT_ENTRY = FAT_ENTRY_BYTES;

bool IsDeletedEntry(const uint8_t* pEntry) {
    return pEntry[0] == FAT_ENTRY_DELETED;
}

uint8_t EntryAttr(const uint8_t* pEntry) {
    return pEntry[offsetof(FAT32_Entry, DIR_Attr)];
}

uint16_t EntryClusterLow(const uint8_t* pEntry) {
    return LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_FstClusLO));
}

uint16_t EntryClusterHigh(const uint8_t* pEntry) {
    return LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_FstClusHI));
}

// The first bytes of a subdirectory: "." then "..", the directory bit on the first.
bool BeginsLikeSubdirectory(const uint8_t* pData) {
    return pData[0] == '.' && pData[1] == ' ' && (EntryAttr(pData) & FAT_ATTR_DIRECTORY) != 0 &&
           pData[DOT_DOT_ENTRY] == '.' && pData[DOT_DOT_ENTRY + 1] == '.';
}

// A store opened under an existing name keeps its nodes; a scan of the same volume in the same
// minute must start from an empty one.
void RemoveStoreFiles(const std::u16string& strName) {
    std::string strPath =
        CLogFileManager::GetInstance()->GetLogFileDirPath() + Unicode2Ansi(strName.c_str());
    unlink(strPath.c_str());
    unlink((strPath + RELATION_FILE_SUFFIX).c_str());
    unlink((strPath + DIR_INFO_FILE_SUFFIX).c_str());
}

} // namespace

CFastFatRecovery::CFastFatRecovery()
    : m_folderRecovery(
          *this,
          [this](FILE_NODE* pNode, const char16_t* pPath) {
              return pNode->bIsDir
                         ? 0
                         : m_chainReader.GetNodeData(*pNode).SaveToFile(
                               *pNode, pPath, m_callbacks.RecoveryCallback(), m_callbacks.Param());
          },
          [this](const FILE_NODE& folder) { return GetFolderGroup(folder); }) {}

CFastFatRecovery::~CFastFatRecovery() = default;

int CFastFatRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                           char16_t wcDriveLetter) {
    if (m_bIsOpen)
        return 0;
    if (llStartSector < 0 || llSectorCount <= 0)
        return ERROR_INVALID_PARAMETER;
    if (int rc = m_diskReader.Init(nDiskNo, uint64_t(llStartSector) + uint64_t(llSectorCount));
        rc != 0)
        return rc;
    return InitVolume(llStartSector, llSectorCount, wcDriveLetter);
}

int CFastFatRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    if (m_bIsOpen)
        return 0;
    if (pDevicePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    // An image scanned by path is set up from its boot sector like a partition of a disk.
    unsigned long long u64Sectors = 0;
    if (int rc = m_diskReader.InitWhole(pDevicePath, u64Sectors); rc != 0)
        return rc;
    return InitVolume(0, static_cast<long long>(u64Sectors), wcDriveLetter);
}

int CFastFatRecovery::InitVolume(long long llStartSector, long long llSectorCount,
                                 char16_t wcDriveLetter) {
    m_bIsOpen = true;
    m_u64StartSector = static_cast<uint64_t>(llStartSector);
    m_u64SectorCount = static_cast<uint64_t>(llSectorCount);
    m_wcDriveLetter = wcDriveLetter;
    uint8_t bootSector[BOOT_SECTOR_BYTES];
    if (int rc = ReadSector(m_u64StartSector, bootSector); rc != 0)
        return rc;
    if (int rc = ParseFatBootSector(bootSector, sizeof(bootSector), m_u64StartSector, m_geometry);
        rc != 0) {
        DebugLog("CFastFatRecovery: no FAT16/FAT32 boot sector at sector %llu (0x%llx)\n",
                 static_cast<unsigned long long>(m_u64StartSector),
                 static_cast<unsigned long long>(m_u64StartSector));
        return rc;
    }
    m_bHasGeometry = true;
    if (int rc = m_fatTable.Init(&m_diskReader, m_geometry); rc != 0)
        DebugLog("CFastFatRecovery: FAT at sector %llu not read whole: %d\n",
                 static_cast<unsigned long long>(m_geometry.u64FirstFatSector), rc);
    return 0;
}

int CFastFatRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                   RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                   int nWeight) {
    m_callbacks.Init(pScanCallback, pRecoveryCallback, pParam, nWeight);
    return 0;
}

int CFastFatRecovery::ReadSector(uint64_t u64Sector, uint8_t* pBuffer) {
    unsigned int nRead = 0;
    int rc = m_diskReader.ReadData(pBuffer, 1, static_cast<long long>(u64Sector), FAT_SECTOR_BYTES,
                                   &nRead);
    if (rc == 0 && nRead != 1)
        rc = ERROR_READ_SHORT;
    return rc;
}

int CFastFatRecovery::GetNextClusterNO(unsigned int nCluster, unsigned int& nNext) {
    uint32_t nValue = 0;
    int rc = m_fatTable.GetNextClusterNO(nCluster, nValue);
    if (rc == 0)
        nNext = nValue;
    return rc;
}

// ---- scan ----

void CFastFatRecovery::ResetScanState() {
    m_dequeDir.clear();
    m_setWalkedDir.clear();
    m_mapFolder.clear();
    m_vecLostFolder.clear();
    m_setLostFolder.clear();
    m_mapDepth.clear();
    m_chainReader.Clear();
    m_pStore = std::make_unique<CScanResultFileManager>();
    m_pStore->InitSearchCallBack(m_callbacks.SearchCallback(), m_callbacks.SearchParam());
}

int CFastFatRecovery::ReportScan(int nPercent, int nSecondsLeft) {
    return m_callbacks.ReportScan(nPercent, m_callbacks.Weight(), nSecondsLeft);
}

int CFastFatRecovery::ReportPeriodic(int& nPercent, int& nSecondsLeft, int& nInnerPercent) {
    int rc = 0;
    if (m_callbacks.HasScan() && m_callbacks.Weight() == WEIGHT_ALONE) {
        rc = ReportScan(nPercent, nSecondsLeft);
        nPercent = std::min(nPercent + 1, MAX_PERIODIC_PERCENT);
        nSecondsLeft = std::max(nSecondsLeft - 1, 0);
    } else if (m_callbacks.HasScan() && m_callbacks.Weight() == WEIGHT_INSIDE_DEEP_SCAN) {
        rc = ReportScan(nInnerPercent, -1);
        nInnerPercent = std::min(nInnerPercent + 1, MAX_PERIODIC_PERCENT);
    }
    return rc;
}

int CFastFatRecovery::ScanDevice(const char16_t* pResultName) {
    ResetScanState();
    if (pResultName != nullptr)
        return m_pStore->Init(pResultName);
    if (!m_bHasGeometry)
        return m_bIsOpen ? ERROR_UNRECOGNIZED_VOLUME : ERROR_INVALID_PARAMETER;
    SYSTEMTIME now{};
    GetUtcSystemTime(&now);
    std::u16string strName = CLogFileManager::MakeStoreName(
        STORE_PREFIX_FAST, static_cast<long long>(m_u64StartSector), now);
    RemoveStoreFiles(strName);
    if (int rc = m_pStore->Init(strName.c_str()); rc != 0)
        return rc;

    m_dequeDir.push_back(m_geometry.nRootCluster);
    m_llLastReportMs = m_pfnNowMs();
    // The interface promises that a stop asked for at any report ends the scan at once.
    if (int rc = ReportScan(FIRST_REPORT_PERCENT, -1); rc != 0)
        return rc;
    if (int rc = WalkDirectoryQueue(); rc != 0)
        return rc;
    if (int rc = ReportScan(WALK_DONE_PERCENT, WALK_DONE_SECONDS_LEFT); rc != 0)
        return rc;
    StoreLostFolders();
    m_pStore->FlushBufToFile();
    return ReportScan(SCAN_DONE_PERCENT, 0);
}

int CFastFatRecovery::WalkDirectoryQueue() {
    int nPercent = PERIODIC_START_PERCENT;
    int nSecondsLeft = PERIODIC_START_SECONDS;
    int nInnerPercent = INNER_START_PERCENT;
    while (!m_dequeDir.empty()) {
        uint32_t nCluster = m_dequeDir.front();
        m_dequeDir.pop_front();
        if (!m_setWalkedDir.insert(nCluster).second)
            continue;
        if (int rc = InitDirInfo(nCluster); rc != 0)
            DebugLog("CFastFatRecovery: folder at cluster %u (0x%x) not read: %d\n", nCluster,
                     nCluster, rc);
        long long llNow = m_pfnNowMs();
        if (llNow - m_llLastReportMs < REPORT_INTERVAL_MS)
            continue;
        int rc = ReportPeriodic(nPercent, nSecondsLeft, nInnerPercent);
        m_llLastReportMs = m_pfnNowMs();
        if (rc != 0) {
            m_dequeDir.clear();
            return rc;
        }
    }
    return 0;
}

void CFastFatRecovery::StoreLostFolders() {
    for (uint32_t nFolder : m_vecLostFolder) {
        auto it = m_mapFolder.find(nFolder);
        if (it == m_mapFolder.end())
            continue;
        const uint32_t nParent = it->second.nFileIndex;
        FILE_NODE* pNode = m_pStore->CreateFileNode(sizeof(FILE_NODE));
        if (pNode == nullptr)
            return;
        std::memcpy(pNode, &it->second, sizeof(FILE_NODE));
        pNode->nDataHealth = 1;
        pNode->nFileIndex = m_pStore->GetFileIndex();
        int nDepth = 0;
        std::map<uint32_t, uint32_t> mapVisited;
        GetRootParentDirIndex(nParent, nDepth, mapVisited);
        m_pStore->AddChildren(nParent, static_cast<unsigned int>(nDepth), pNode->nFileIndex,
                              nFolder, pNode->szFileName);
    }
}

int CFastFatRecovery::InitDirInfo(uint32_t nCluster) {
    const uint32_t nUnitBytes = m_geometry.FolderUnitBytes(nCluster);
    const uint32_t nUnitSectors = nUnitBytes / FAT_SECTOR_BYTES;
    std::unique_ptr<uint8_t[]> pUnit(new (std::nothrow) uint8_t[nUnitBytes]);
    if (!pUnit)
        return ENOMEM;
    auto it = m_mapFolder.find(nCluster);
    const bool bKnown = it != m_mapFolder.end() && it->second.bIsDir != 0;
    const bool bFolderDeleted = bKnown && it->second.bIsDeleted != 0;
    const bool bIsRootArea = !m_geometry.bIsFat32 && nCluster == FAT16_ROOT_CLUSTER;
    uint32_t nParent = nCluster;
    CFatLongName longName;
    bool bLongNamePending = false;

    uint32_t nCurrent = nCluster;
    uint64_t u64Sector = m_geometry.ClusterToSector(nCluster);
    for (uint32_t nWalked = 0; nWalked < m_geometry.nClusterLimit; ++nWalked) {
        unsigned int nRead = 0;
        int rc = m_diskReader.ReadData(pUnit.get(), static_cast<int>(nUnitSectors),
                                       static_cast<long long>(u64Sector), FAT_SECTOR_BYTES, &nRead);
        if (rc != 0)
            return rc;
        // A deleted folder's first cluster may hold something else by now.
        if (bKnown && nCluster != m_geometry.nRootCluster && nWalked == 0 &&
            !BeginsLikeSubdirectory(pUnit.get()))
            return 0;
        bool bEnd = false;
        for (uint32_t nOff = 0; nOff < nUnitBytes && !bEnd; nOff += FAT_ENTRY_BYTES) {
            const uint8_t* pEntry = pUnit.get() + nOff;
            const uint64_t u64EntrySector = u64Sector + nOff / FAT_SECTOR_BYTES;
            const bool bNameFollows = bLongNamePending;
            bLongNamePending = false;
            if (pEntry[0] == FAT_ENTRY_END) {
                bEnd = true;
                continue;
            }
            if (!IsFatEntyValid(pEntry, nUnitBytes - nOff)) {
                longName.Reset();
                continue;
            }
            const uint8_t u8Attr = EntryAttr(pEntry);
            if (u8Attr == FAT_ATTR_LONG_NAME) {
                // Too many parts in a row is damage: start the name afresh, keep walking.
                if (!longName.AddPart(pEntry)) {
                    longName.Reset();
                    longName.AddPart(pEntry);
                }
                bLongNamePending = true;
                continue;
            }
            const bool bIsDir = (u8Attr & FAT_ATTR_DIRECTORY) != 0;
            const bool bIsFile = !bIsDir && (u8Attr & FAT_ATTR_ARCHIVE) != 0;
            // Live files of live folders are never stored: no need to decode their names.
            if (!bIsDir && (!bIsFile || (!IsDeletedEntry(pEntry) && !bFolderDeleted))) {
                longName.Reset();
                continue;
            }
            std::string strName = bNameFollows && !longName.IsEmpty()
                                      ? longName.GetName()
                                      : GetFatShortName(pEntry, bIsDir);
            longName.Reset();
            if (bIsDir)
                HandleFolderEntry(pEntry, strName, u64EntrySector, bFolderDeleted, nParent);
            else
                HandleFileEntry(pEntry, strName, u64EntrySector, nParent);
        }
        if (bEnd || bIsRootArea)
            return 0;
        uint32_t nNext = 0;
        if (!m_fatTable.GetChainNextCluster(nCurrent, nNext))
            return 0;
        nCurrent = nNext;
        u64Sector = m_geometry.ClusterToSector(nCurrent);
    }
    return 0;
}

uint32_t CFastFatRecovery::GetEntryCluster(const uint8_t* pEntry, const char* pName, bool bIsDir) {
    const uint16_t u16Low = EntryClusterLow(pEntry);
    unsigned short u16High = EntryClusterHigh(pEntry);
    if (!m_geometry.bIsFat32)
        return u16Low;
    // Some systems clear the high word when they delete an entry; find where the data lies.
    if (IsDeletedEntry(pEntry) && u16High == 0) {
        if (bIsDir)
            GetDirRealHighClusterNO(u16Low, u16High);
        else if (u16Low != 0)
            GetFileRealHighClusterNO(u16Low, u16High, pName);
    }
    return uint32_t(u16High) << 16 | u16Low;
}

void CFastFatRecovery::FillEntryNode(FILE_NODE& node, const uint8_t* pEntry,
                                     const std::string& strName, uint32_t nCluster) {
    const FAT32_Entry entry = ReadFatEntry(pEntry);
    node.wcDriveLetter = m_wcDriveLetter;
    node.nEngineType = m_nEngineType;
    node.nClusterNo = nCluster;
    node.nClusterBytes = m_geometry.ClusterBytes();
    Fat32GetFileCreateTime(&entry, &node.u64CreateTime);
    Fat32GetFileLastAccessTime(&entry, &node.u64AccessTime);
    Fat32GetFileLastChangeTime(&entry, &node.u64ModifyTime);
    node.u64DataAreaSector = m_geometry.nDataStart;
    node.u64PartitionStartSector = m_geometry.u64PartitionStart;
    SetFileNodeName(node, strName);
}

void CFastFatRecovery::HandleFolderEntry(const uint8_t* pEntry, const std::string& strName,
                                         uint64_t u64Sector, bool bFolderDeleted,
                                         uint32_t& nParent) {
    if (strName == ".") {
        nParent = uint32_t(EntryClusterHigh(pEntry)) << 16 | EntryClusterLow(pEntry);
        return;
    }
    if (strName.starts_with(".."))
        return;
    const uint32_t nCluster = GetEntryCluster(pEntry, strName.c_str(), true);
    // The root is never inside a folder; an entry pointing at it would put the tree inside itself.
    if (nCluster < FAT_FIRST_DATA_CLUSTER || nCluster == nParent ||
        nCluster == m_geometry.nRootCluster || nCluster >= m_geometry.nClusterLimit)
        return;
    FILE_NODE node{};
    FillEntryNode(node, pEntry, strName, nCluster);
    node.bIsDir = 1;
    node.bIsDeleted = IsDeletedEntry(pEntry) || bFolderDeleted ? 1 : 0;
    node.nFileIndex = nParent;
    node.u64LocationSector = u64Sector;
    m_dequeDir.push_back(nCluster);
    m_mapFolder[nCluster] = node;
}

void CFastFatRecovery::HandleFileEntry(const uint8_t* pEntry, const std::string& strName,
                                       uint64_t u64Sector, uint32_t nParent) {
    const uint32_t nCluster = GetEntryCluster(pEntry, strName.c_str(), false);
    FILE_NODE* pNode = m_pStore->CreateFileNode(sizeof(FILE_NODE));
    if (pNode == nullptr)
        return;
    FillEntryNode(*pNode, pEntry, strName, nCluster);
    // Only deleted files and the files of deleted folders are stored.
    pNode->bIsDeleted = 1;
    pNode->nFileIndex = m_pStore->GetFileIndex();
    pNode->u64FileSize = LoadU32LE(pEntry + offsetof(FAT32_Entry, DIR_FileSize));
    pNode->u64LocationSector = u64Sector;
    int nDepth = 0;
    _GetRootParentDirIndex(nParent, nDepth);
    m_pStore->AddChildren(nParent, static_cast<unsigned int>(nDepth), pNode->nFileIndex, nCluster,
                          nullptr);
    pNode->nDataHealth =
        static_cast<uint32_t>(IsFileDataHealth(pNode, m_geometry.nSectorsPerCluster));
    if (pNode->nDataHealth == DATA_HEALTH_INTACT_OR_UNKNOWN &&
        m_chainReader.IsReleasedChain(*pNode))
        pNode->nDataHealth = m_chainReader.ChooseReleasedClusters(*pNode).nDataHealth;
    AddLostFolderChain(nParent);
}

void CFastFatRecovery::AddLostFolderChain(uint32_t nParent) {
    uint32_t nFolder = nParent;
    // A folder already listed had its ancestors listed with it; this also ends loops.
    while (m_setLostFolder.insert(nFolder).second) {
        m_vecLostFolder.push_back(nFolder);
        auto it = m_mapFolder.find(nFolder);
        if (it == m_mapFolder.end())
            return;
        const uint32_t nUp = it->second.nFileIndex;
        if (nUp == nFolder || nUp <= m_geometry.nRootCluster)
            return;
        nFolder = nUp;
    }
}

int CFastFatRecovery::GetDirRealHighClusterNO(unsigned short u16Low, unsigned short& u16High) {
    uint8_t sector[FAT_SECTOR_BYTES];
    for (uint32_t nHigh = 0; nHigh <= MAX_HIGH_WORD; ++nHigh) {
        const uint32_t nCandidate = nHigh << 16 | u16Low;
        if (nCandidate < FAT_FIRST_DATA_CLUSTER)
            continue;
        if (nCandidate >= m_geometry.nClusterLimit)
            return 0;
        const uint64_t u64Sector = m_geometry.ClusterToSector(nCandidate);
        if (u64Sector >= m_u64StartSector + m_u64SectorCount)
            return 0;
        if (int rc = ReadSector(u64Sector, sector); rc != 0)
            return rc;
        // The "." entry names its own cluster, which tells this folder from any other.
        const uint32_t nSelf = uint32_t(EntryClusterHigh(sector)) << 16 | EntryClusterLow(sector);
        if (BeginsLikeSubdirectory(sector) && nSelf == nCandidate) {
            u16High = static_cast<unsigned short>(nHigh);
            return 0;
        }
    }
    return 0;
}

int CFastFatRecovery::GetFileRealHighClusterNO(unsigned short u16Low, unsigned short& u16High,
                                               const char* pName) {
    const std::string strExt = GetLowerExtension(pName);
    if (strExt.empty())
        return 0;
    uint8_t sector[FAT_SECTOR_BYTES];
    for (uint32_t nHigh = 0; nHigh <= MAX_HIGH_WORD; ++nHigh) {
        const uint32_t nCandidate = nHigh << 16 | u16Low;
        if (nCandidate < FAT_FIRST_DATA_CLUSTER)
            continue;
        if (nCandidate >= m_geometry.nClusterLimit)
            return 0;
        const uint64_t u64Sector = m_geometry.ClusterToSector(nCandidate);
        if (u64Sector >= m_u64StartSector + m_u64SectorCount)
            return 0;
        if (int rc = ReadSector(u64Sector, sector); rc != 0)
            return rc;
        if (CFileTypeJudge::IsFileTypeMatching(sector, sizeof(sector), strExt.c_str(),
                                               &m_diskReader, FAT_SECTOR_BYTES, u64Sector)) {
            u16High = static_cast<unsigned short>(nHigh);
            return 0;
        }
    }
    return 0;
}

int CFastFatRecovery::GetRootParentDirIndex(unsigned int nCluster, int& nDepth,
                                            std::map<uint32_t, uint32_t>& mapVisited) {
    uint8_t sector[FAT_SECTOR_BYTES];
    uint32_t nFolder = nCluster;
    for (;;) {
        mapVisited[nFolder] = nFolder;
        if (int rc = ReadSector(m_geometry.ClusterToSector(nFolder), sector); rc != 0)
            return rc;
        if (EntryAttr(sector) == FAT_ATTR_VOLUME_ID || nFolder == m_geometry.nRootCluster ||
            sector[0] != '.' || sector[DOT_DOT_ENTRY] != '.' || sector[DOT_DOT_ENTRY + 1] != '.')
            return 0;
        ++nDepth;
        const uint8_t* pDotDot = sector + DOT_DOT_ENTRY;
        const uint32_t nUp = uint32_t(EntryClusterHigh(pDotDot)) << 16 | EntryClusterLow(pDotDot);
        if (nFolder == 0 || mapVisited.count(nUp) != 0)
            return 0;
        nFolder = nUp;
    }
}

int CFastFatRecovery::_GetRootParentDirIndex(unsigned int nCluster, int& nDepth) {
    // Every file of a folder asks for the same count; the disk does not change during a scan.
    if (auto it = m_mapDepth.find(nCluster); it != m_mapDepth.end()) {
        nDepth = it->second;
        return 0;
    }
    std::map<uint32_t, uint32_t> mapVisited;
    int rc = GetRootParentDirIndex(nCluster, nDepth, mapVisited);
    if (rc == 0)
        m_mapDepth[nCluster] = nDepth;
    return rc;
}

int CFastFatRecovery::IsFileDataHealth(FILE_NODE* pNode, unsigned int) {
    const std::optional<uint64_t> u64Sector = GetFatNodeClusterSector(*pNode, pNode->nClusterNo);
    uint8_t sector[FAT_SECTOR_BYTES];
    if (!u64Sector || ReadSector(*u64Sector, sector) != 0)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    return static_cast<int>(JudgeFileDataHealth(sector, sizeof(sector),
                                                GetLowerExtension(pNode->szFileName).c_str(),
                                                &m_diskReader, FAT_SECTOR_BYTES, *u64Sector));
}

// ---- tree queries ----

uint64_t CFastFatRecovery::GetChildrenKey(const FILE_NODE* pParent, unsigned int nDepth) const {
    uint32_t nFolder = pParent != nullptr && pParent->nClusterNo != 0 ? pParent->nClusterNo
                                                                      : m_geometry.nRootCluster;
    return MakeRelationKey(nDepth, nFolder);
}

int CFastFatRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                          std::vector<FILE_NODE>& vecChildren) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    m_pStore->FlushBufToFile();
    const uint64_t u64Key = GetChildrenKey(pParent, nDepth);
    // The store reads key 0 as "the lowest key"; the FAT16 root is key 0 in its own right.
    if (u64Key == 0 && !m_pStore->IsDirFileNodeExist(0, 0))
        return 0;
    return m_pStore->GetChildrenFileNode(u64Key, vecChildren);
}

int CFastFatRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                           unsigned int& nCount) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    nCount = 0;
    if (!m_pStore)
        return 0;
    m_pStore->FlushBufToFile();
    const uint64_t u64Key = GetChildrenKey(pParent, nDepth);
    if (u64Key == 0 && !m_pStore->IsDirFileNodeExist(0, 0))
        return 0;
    return m_pStore->GetChildrenFileCount(u64Key, nCount);
}

unsigned int CFastFatRecovery::GetLostFileCount() {
    return m_pStore ? m_pStore->GetFileIndex() : 0;
}

int CFastFatRecovery::GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut, int nCapacity) {
    if (pNode == nullptr || pOut == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return ERROR_INVALID_PARAMETER;
    m_pStore->FlushBufToFile();
    return m_pStore->GetParentDirPath(pNode, pOut, nCapacity);
}

int CFastFatRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback, void* pParam) {
    m_callbacks.InitSearch(pSearchCallback, pParam);
    if (m_pStore)
        m_pStore->InitSearchCallBack(pSearchCallback, pParam);
    return 0;
}

int CFastFatRecovery::SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) {
    if (!m_pStore)
        return 0;
    return m_pStore->SearchFileNodeInfo(pKey, vecOut);
}

int CFastFatRecovery::OpenSearchCursor(const char16_t* pKey,
                                       std::unique_ptr<ISearchCursor>& pCursor) {
    if (!m_pStore)
        return IFileRecoveryParse::OpenSearchCursor(pKey, pCursor);
    return m_pStore->OpenSearchCursor(pKey, pCursor);
}

int CFastFatRecovery::GetFileNodeByIndex(unsigned int, unsigned int nFileIndex, FILE_NODE* pOut) {
    return m_pStore ? m_pStore->ReadFileNode(nFileIndex, pOut) : ERROR_INVALID_PARAMETER;
}

unsigned int CFastFatRecovery::GetFolderGroup(const FILE_NODE& folder) {
    if (folder.nClusterNo == 0 || folder.nClusterNo == m_geometry.nRootCluster)
        return 0;
    int nDepth = 0;
    std::map<uint32_t, uint32_t> mapVisited;
    GetRootParentDirIndex(folder.nClusterNo, nDepth, mapVisited);
    return static_cast<unsigned int>(nDepth);
}

// ---- data: copy-out and preview ----

bool CFastFatRecovery::GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) {
    if (pNode == nullptr || !m_chainReader.IsReleasedChain(*pNode))
        return false;
    vecRuns = m_chainReader.GetNodeData(*pNode).GetDataRuns(*pNode);
    return true;
}

int CFastFatRecovery::SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pPath) {
    if (pNode == nullptr || pPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir != 0)
        return m_folderRecovery.SaveFolder(*pNode, pPath);
    return m_chainReader.GetNodeData(*pNode).SaveToFile(
        *pNode, pPath, m_callbacks.RecoveryCallback(), m_callbacks.Param());
}

int CFastFatRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int) {
    // Folder groups come from the tree itself, so the destination's depth is not needed.
    return SaveDataToTargetFile(pNode, pTargetPath);
}

int CFastFatRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer,
                              int& nLength, PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_chainReader.GetNodeData(*pNode).PreView(*pNode, pTempPathOut, pBuffer, nLength,
                                                     pCallback, pParam);
}

// ---- free space ----

int CFastFatRecovery::BuildBitMapInfo() {
    if (!m_bHasGeometry)
        return 0;
    m_freeSpaceMap.Build(m_fatTable, m_u64SectorCount);
    return 0;
}

int CFastFatRecovery::GetUnUsedSectorCount(unsigned long long& u64Start,
                                           unsigned long long& u64Count) {
    return m_freeSpaceMap.GetUnUsedSectorCount(u64Start, u64Count);
}
