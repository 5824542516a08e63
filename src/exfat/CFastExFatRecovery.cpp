// Fast exFAT scan (breadth-first walk of the directory tree), tree queries, copy-out, preview and
// free space.
#include "exfat/CFastExFatRecovery.h"

#include "formats/exfat/ExFatDirectory.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr uint32_t UNIT = EXFAT_UNIT_BYTES;
constexpr long long REPORT_INTERVAL_MS = 5000;
constexpr int FIRST_REPORT_PERCENT = 1;
constexpr int WALK_DONE_PERCENT = 80;
constexpr int SCAN_DONE_PERCENT = 100;
constexpr int MAX_PERIODIC_PERCENT = 99;
// An exFAT directory never exceeds 256 MiB.
constexpr uint64_t MAX_DIRECTORY_BYTES = 256ull << 20;

void RemoveStoreFiles(const std::u16string& strName) {
    std::string strPath =
        CLogFileManager::GetInstance()->GetLogFileDirPath() + Unicode2Ansi(strName.c_str());
    unlink(strPath.c_str());
    unlink((strPath + RELATION_FILE_SUFFIX).c_str());
    unlink((strPath + DIR_INFO_FILE_SUFFIX).c_str());
}

uint64_t ClustersFor(uint64_t u64Bytes, uint32_t nClusterBytes) {
    return (u64Bytes + nClusterBytes - 1) / nClusterBytes;
}

} // namespace

CFastExFatRecovery::CFastExFatRecovery()
    : m_folderRecovery(
          *this,
          [this](FILE_NODE* pNode, const char16_t* pPath) {
              return pNode->bIsDir ? 0
                                   : m_volume.GetNodeData(*pNode).SaveToFile(
                                         *pNode, pPath, m_pRecoveryCallback, m_pParam);
          },
          [this](const FILE_NODE& folder) { return GetFolderGroup(folder); }) {}

CFastExFatRecovery::~CFastExFatRecovery() = default;

int CFastExFatRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
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

int CFastExFatRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    if (m_bIsOpen)
        return 0;
    if (pDevicePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    unsigned long long u64Sectors = 0;
    if (int rc = m_diskReader.InitWhole(pDevicePath, u64Sectors); rc != 0)
        return rc;
    return InitVolume(0, static_cast<long long>(u64Sectors), wcDriveLetter);
}

int CFastExFatRecovery::InitVolume(long long llStartSector, long long llSectorCount,
                                   char16_t wcDriveLetter) {
    m_bIsOpen = true;
    m_u64StartSector = static_cast<uint64_t>(llStartSector);
    m_u64SectorCount = static_cast<uint64_t>(llSectorCount);
    m_wcDriveLetter = wcDriveLetter;
    if (int rc = m_volume.Open(&m_diskReader, m_u64StartSector); rc != 0) {
        DebugLog("CFastExFatRecovery: no exFAT boot region at sector %llu (0x%llx)\n",
                 (unsigned long long)m_u64StartSector, (unsigned long long)m_u64StartSector);
        return rc;
    }
    m_bHasGeometry = true;
    return 0;
}

int CFastExFatRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                     RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                     int nWeight) {
    m_pScanCallback = pScanCallback;
    m_pRecoveryCallback = pRecoveryCallback;
    m_pParam = pParam;
    m_nPercent = nWeight;
    return 0;
}

int CFastExFatRecovery::ReportScan(int nPercent) {
    if (m_pScanCallback == nullptr)
        return 0;
    return m_pScanCallback(m_pParam, nPercent, m_nPercent, -1, 0, 0,
                           m_pStore ? m_pStore->GetFileIndex() : 0, nullptr);
}

// ---- scan ----

int CFastExFatRecovery::ScanDevice(const char16_t* pResultName) {
    m_dequeFolders.clear();
    m_setWalked.clear();
    m_mapFolders.clear();
    m_vecNeeded.clear();
    m_setNeeded.clear();
    m_pStore = std::make_unique<CScanResultFileManager>();
    m_pStore->InitSearchCallBack(m_pSearchCallback, m_pSearchParam);
    if (pResultName != nullptr)
        return m_pStore->Init(pResultName);
    if (!m_bHasGeometry)
        return m_bIsOpen ? ERROR_UNRECOGNIZED_VOLUME : ERROR_INVALID_PARAMETER;
    SYSTEMTIME now{};
    GetUtcSystemTime(&now);
    std::u16string strName =
        CLogFileManager::MakeStoreName(STORE_PREFIX_FAST, (long long)m_u64StartSector, now);
    RemoveStoreFiles(strName);
    if (int rc = m_pStore->Init(strName.c_str()); rc != 0)
        return rc;

    m_dequeFolders.push_back({GetGeometry().nRootCluster, false, MAX_DIRECTORY_BYTES, false, 0});
    m_llLastReportMs = GetTickCountMs();
    if (int rc = ReportScan(FIRST_REPORT_PERCENT); rc != 0)
        return rc;
    if (int rc = WalkFolders(); rc != 0)
        return rc;
    if (int rc = ReportScan(WALK_DONE_PERCENT); rc != 0)
        return rc;
    StoreNeededFolders();
    m_pStore->FlushBufToFile();
    return ReportScan(SCAN_DONE_PERCENT);
}

int CFastExFatRecovery::WalkFolders() {
    int nPercent = FIRST_REPORT_PERCENT + 1;
    while (!m_dequeFolders.empty()) {
        EXFAT_FOLDER_WORK folder = m_dequeFolders.front();
        m_dequeFolders.pop_front();
        if (m_setWalked.insert(folder.nCluster).second)
            WalkFolder(folder);
        if (GetTickCountMs() - m_llLastReportMs < REPORT_INTERVAL_MS)
            continue;
        m_llLastReportMs = GetTickCountMs();
        if (int rc = ReportScan(nPercent); rc != 0)
            return rc;
        nPercent = std::min(nPercent + 1, MAX_PERIODIC_PERCENT);
    }
    return 0;
}

void CFastExFatRecovery::WalkFolder(const EXFAT_FOLDER_WORK& folder) {
    const EXFAT_GEOMETRY& geo = GetGeometry();
    std::vector<uint8_t> vecDir;
    if (int rc =
            m_volume.ReadClusters(folder.nCluster, folder.bNoFatChain, folder.u64Bytes, vecDir);
        rc != 0)
        DebugLog("CFastExFatRecovery: folder at cluster %u (0x%x) read short: %d\n",
                 folder.nCluster, folder.nCluster, rc);
    const uint32_t nClusterBytes = geo.ClusterBytes();
    // Sector of an offset in the directory's bytes, along the same clusters the read took.
    std::vector<uint32_t> vecClusters{folder.nCluster};
    for (size_t i = 1; i < ClustersFor(vecDir.size(), nClusterBytes); ++i) {
        auto next = folder.bNoFatChain ? std::optional<uint32_t>(vecClusters.back() + 1)
                                       : m_volume.GetChainNext(vecClusters.back());
        vecClusters.push_back(next.value_or(vecClusters.back() + 1));
    }
    auto sectorOf = [&](size_t nOffset) {
        return geo.ClusterToSector(vecClusters[nOffset / nClusterBytes]) +
               nOffset % nClusterBytes / UNIT;
    };
    for (const EXFAT_DIR_SET& item : ParseExFatDirectory(vecDir.data(), vecDir.size()).vecSets) {
        if (item.set.bIsDir)
            AddFolder(item.set, sectorOf(item.nOffset), folder);
        else if (!item.set.bInUse || folder.bDeleted)
            StoreFile(item.set, sectorOf(item.nOffset), folder);
    }
}

void CFastExFatRecovery::FillNode(FILE_NODE& node, const EXFAT_ENTRY_SET& set,
                                  uint64_t u64Sector) const {
    const EXFAT_GEOMETRY& geo = GetGeometry();
    node.wcDriveLetter = m_wcDriveLetter;
    node.nEngineType = ENGINE_FAST_EXFAT;
    node.bIsDir = set.bIsDir ? 1 : 0;
    node.nClusterNo = set.nFirstCluster;
    node.nClusterBytes = geo.ClusterBytes();
    node.u64CreateTime = static_cast<uint64_t>(set.create.llUnixSeconds);
    node.u64AccessTime = static_cast<uint64_t>(set.access.llUnixSeconds);
    node.u64ModifyTime = static_cast<uint64_t>(set.modify.llUnixSeconds);
    node.u64FileSize = set.bIsDir ? 0 : set.u64DataLength;
    node.u64DataAreaSector = geo.u64HeapStart;
    node.u64LocationSector = u64Sector;
    node.u64PartitionStartSector = geo.u64PartitionStart;
    SetFileNodeName(node, set.strName);
}

void CFastExFatRecovery::StoreFile(const EXFAT_ENTRY_SET& set, uint64_t u64Sector,
                                   const EXFAT_FOLDER_WORK& folder) {
    FILE_NODE* pNode = m_pStore->CreateFileNode(sizeof(FILE_NODE));
    if (pNode == nullptr)
        return;
    FillNode(*pNode, set, u64Sector);
    pNode->nFileIndex = m_pStore->GetFileIndex();
    pNode->nDataHealth = m_volume.IsNodeDataHealthy(*pNode) ? m_volume.ProveNodeData(*pNode) : 0;
    m_pStore->AddChildren(folder.nCluster, folder.nDepth, pNode->nFileIndex, set.nFirstCluster,
                          nullptr);
    NeedFolderChain(folder.nCluster);
}

void CFastExFatRecovery::AddFolder(const EXFAT_ENTRY_SET& set, uint64_t u64Sector,
                                   const EXFAT_FOLDER_WORK& folder) {
    const EXFAT_GEOMETRY& geo = GetGeometry();
    const uint32_t nCluster = set.nFirstCluster;
    const bool bDeleted = !set.bInUse || folder.bDeleted;
    if (!geo.IsHeapCluster(nCluster) || nCluster == geo.nRootCluster ||
        m_mapFolders.count(nCluster) != 0)
        return;
    // A deleted folder whose first cluster is in use again no longer holds its own entries.
    if (bDeleted && m_volume.IsClusterInUse(nCluster).value_or(false))
        return;
    EXFAT_FOLDER_SEEN seen{};
    FillNode(seen.node, set, u64Sector);
    seen.node.bIsDeleted = bDeleted ? 1 : 0;
    seen.node.nDataHealth = 1;
    seen.nParent = folder.nCluster;
    seen.nParentDepth = folder.nDepth;
    m_mapFolders[nCluster] = seen;
    // A deleted folder's chain is gone when it had one: its clusters are read as one run.
    const bool bNoFatChain =
        set.bNoFatChain ||
        (bDeleted && !m_volume.IsChainTheirs(nCluster, set.u64DataLength, !bDeleted));
    m_dequeFolders.push_back({nCluster, bNoFatChain,
                              std::min(set.u64DataLength, MAX_DIRECTORY_BYTES), bDeleted,
                              folder.nDepth + 1});
}

void CFastExFatRecovery::NeedFolderChain(uint32_t nFolder) {
    // A folder already needed had its ancestors needed with it; this also ends loops.
    while (m_setNeeded.insert(nFolder).second) {
        auto it = m_mapFolders.find(nFolder);
        if (it == m_mapFolders.end())
            return;
        m_vecNeeded.push_back(nFolder);
        nFolder = it->second.nParent;
    }
}

void CFastExFatRecovery::StoreNeededFolders() {
    for (uint32_t nFolder : m_vecNeeded) {
        const EXFAT_FOLDER_SEEN& seen = m_mapFolders[nFolder];
        FILE_NODE* pNode = m_pStore->CreateFileNode(sizeof(FILE_NODE));
        if (pNode == nullptr)
            return;
        std::memcpy(pNode, &seen.node, sizeof(FILE_NODE));
        pNode->nFileIndex = m_pStore->GetFileIndex();
        m_pStore->AddChildren(seen.nParent, seen.nParentDepth, pNode->nFileIndex, nFolder,
                              pNode->szFileName);
    }
}

// ---- tree queries ----

uint64_t CFastExFatRecovery::GetChildrenKey(const FILE_NODE* pParent, unsigned int nDepth) const {
    const uint32_t nFolder = pParent != nullptr && pParent->nClusterNo != 0
                                 ? pParent->nClusterNo
                                 : GetGeometry().nRootCluster;
    return MakeRelationKey(nDepth, nFolder);
}

int CFastExFatRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                            std::vector<FILE_NODE>& vecChildren) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    m_pStore->FlushBufToFile();
    return m_pStore->GetChildrenFileNode(GetChildrenKey(pParent, nDepth), vecChildren);
}

int CFastExFatRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                             unsigned int& nCount) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    nCount = 0;
    if (!m_pStore)
        return 0;
    m_pStore->FlushBufToFile();
    return m_pStore->GetChildrenFileCount(GetChildrenKey(pParent, nDepth), nCount);
}

unsigned int CFastExFatRecovery::GetLostFileCount() {
    return m_pStore ? m_pStore->GetFileIndex() : 0;
}

int CFastExFatRecovery::GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut, int nCapacity) {
    if (pNode == nullptr || pOut == nullptr || !m_pStore)
        return ERROR_INVALID_PARAMETER;
    m_pStore->FlushBufToFile();
    return m_pStore->GetParentDirPath(pNode, pOut, nCapacity);
}

int CFastExFatRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback, void* pParam) {
    m_pSearchCallback = pSearchCallback;
    m_pSearchParam = pParam;
    if (m_pStore)
        m_pStore->InitSearchCallBack(pSearchCallback, pParam);
    return 0;
}

int CFastExFatRecovery::OpenSearchCursor(const char16_t* pKey,
                                         std::unique_ptr<ISearchCursor>& pCursor) {
    if (!m_pStore)
        return IFileRecoveryParse::OpenSearchCursor(pKey, pCursor);
    return m_pStore->OpenSearchCursor(pKey, pCursor);
}

int CFastExFatRecovery::SearchFileNode(const char16_t* pKey,
                                       std::vector<SEARCH_FILE_INFO>& vecOut) {
    return m_pStore ? m_pStore->SearchFileNodeInfo(pKey, vecOut) : 0;
}

unsigned int CFastExFatRecovery::GetFolderGroup(const FILE_NODE& folder) {
    if (folder.nClusterNo == 0 || folder.nClusterNo == GetGeometry().nRootCluster || !m_pStore)
        return 0;
    // The group is the folder's level: one more than its ancestors.
    std::vector<FILE_NODE> vecAncestors;
    m_pStore->FlushBufToFile();
    m_pStore->GetParentFileNode(&folder, vecAncestors);
    return static_cast<unsigned int>(vecAncestors.size() + 1);
}

// ---- data: copy-out and preview ----

int CFastExFatRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int) {
    if (pNode == nullptr || pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir != 0)
        return m_folderRecovery.SaveFolder(*pNode, pTargetPath);
    return m_volume.GetNodeData(*pNode).SaveToFile(*pNode, pTargetPath, m_pRecoveryCallback,
                                                   m_pParam);
}

int CFastExFatRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer,
                                int& nLength, PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_volume.GetNodeData(*pNode).PreView(*pNode, pTempPathOut, pBuffer, nLength, pCallback,
                                                pParam);
}

// ---- free space ----

int CFastExFatRecovery::BuildBitMapInfo() {
    if (!m_bHasGeometry)
        return 0;
    m_freeSpaceMap.Build(GetGeometry(), m_volume.Bitmap(), m_u64SectorCount);
    return 0;
}

int CFastExFatRecovery::GetUnUsedSectorCount(unsigned long long& u64Start,
                                             unsigned long long& u64Count) {
    return m_freeSpaceMap.GetUnUsedSectorCount(u64Start, u64Count);
}

bool CFastExFatRecovery::GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) {
    if (pNode == nullptr || pNode->bIsDir != 0)
        return false;
    vecRuns = m_volume.GetDataRuns(*pNode);
    return true;
}

int CFastExFatRecovery::GetFileNodeByIndex(unsigned int, unsigned int nFileIndex, FILE_NODE* pOut) {
    return m_pStore ? m_pStore->ReadFileNode(nFileIndex, pOut) : ERROR_INVALID_PARAMETER;
}
