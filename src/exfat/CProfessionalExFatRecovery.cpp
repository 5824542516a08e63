// Deep exFAT scan: directory sectors from the sector pass, volume geometry, tree rebuild,
// queries, copy-out and preview.
#include "exfat/CProfessionalExFatRecovery.h"

#include "formats/exfat/ExFatDirectory.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr uint32_t UNIT = EXFAT_UNIT_BYTES;
constexpr uint32_t TOP_KEY = 0;
constexpr uint32_t MAX_LEVEL = 64;

} // namespace

CProfessionalExFatRecovery::CProfessionalExFatRecovery()
    : m_folderRecovery(
          *this,
          [this](FILE_NODE* pNode, const char16_t* pPath) {
              return pNode->bIsDir ? 0
                                   : VolumeOf(*pNode).GetNodeData(*pNode).SaveToFile(
                                         *pNode, pPath, m_pRecoveryCallback, m_pParam);
          },
          [this](const FILE_NODE& folder) { return GetFolderGroup(folder); }) {}

CProfessionalExFatRecovery::~CProfessionalExFatRecovery() = default;

int CProfessionalExFatRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                                     char16_t wcDriveLetter) {
    if (llStartSector < 0 || llSectorCount <= 0)
        return ERROR_INVALID_PARAMETER;
    if (int rc = m_diskReader.Init(nDiskNo, uint64_t(llStartSector) + uint64_t(llSectorCount));
        rc != 0)
        return rc;
    return OpenVolume(llStartSector, llSectorCount, wcDriveLetter);
}

int CProfessionalExFatRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    if (pDevicePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    unsigned long long u64Sectors = 0;
    if (int rc = m_diskReader.InitWhole(pDevicePath, u64Sectors); rc != 0)
        return rc;
    return OpenVolume(0, static_cast<long long>(u64Sectors), wcDriveLetter);
}

int CProfessionalExFatRecovery::OpenVolume(long long llStartSector, long long llSectorCount,
                                           char16_t wcDriveLetter) {
    m_bIsOpen = true;
    m_u64StartSector = uint64_t(llStartSector);
    m_u64SectorCount = uint64_t(llSectorCount);
    m_wcDriveLetter = wcDriveLetter;
    return 0;
}

int CProfessionalExFatRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                             RecoveryProgressCallback pRecoveryCallback,
                                             void* pParam, int) {
    m_pScanCallback = pScanCallback;
    m_pRecoveryCallback = pRecoveryCallback;
    m_pParam = pParam;
    return 0;
}

int CProfessionalExFatRecovery::ClearProfessionalVec(const char16_t* pName) {
    m_finder.Clear();
    m_vecSets.clear();
    m_vecVolumes.clear();
    m_mapReadVolumes.clear();
    m_nNextKey = TOP_KEY + 1;
    // The scanned volume's own boot region lies outside the free sectors the pass reads.
    if (m_bIsOpen)
        m_finder.AddBootSector(m_u64StartSector);
    m_pStore = std::make_unique<CScanResultFileManager>();
    m_pStore->InitSearchCallBack(m_pSearchCallback, m_pSearchParam);
    if (pName != nullptr && pName[0] != 0)
        return m_pStore->Init(pName);
    SYSTEMTIME now{};
    GetUtcSystemTime(&now);
    std::u16string strName =
        CLogFileManager::MakeStoreName(STORE_PREFIX_PRO_EXFAT, (long long)m_u64StartSector, now);
    const std::string strPath =
        CLogFileManager::GetInstance()->GetLogFileDirPath() + Unicode2Ansi(strName.c_str());
    unlink(strPath.c_str());
    unlink((strPath + RELATION_FILE_SUFFIX).c_str());
    unlink((strPath + DIR_INFO_FILE_SUFFIX).c_str());
    return m_pStore->Init(strName.c_str());
}

bool CProfessionalExFatRecovery::ParseExFatSector(const uint8_t* pSector, size_t nAvailable,
                                                  uint64_t u64Sector) {
    if (pSector == nullptr || nAvailable < UNIT)
        return false;
    if (std::memcmp(pSector + EXFAT_FILE_SYSTEM_NAME, EXFAT_NAME_TEXT, 8) == 0 &&
        ParseExFatBootSector(pSector, nAvailable, 0)) {
        m_finder.AddBootSector(u64Sector);
        return true;
    }
    if (CExFatGeometryFinder::BeginsLikeUpcaseTable(pSector, nAvailable)) {
        m_finder.AddUpcaseCandidate(u64Sector);
        return true;
    }
    std::optional<EXFAT_DIRECTORY> dir = ParseExFatDirectorySector(pSector, nAvailable, UNIT);
    if (!dir)
        return false;
    for (EXFAT_DIR_SET& item : dir->vecSets) {
        if (item.set.bIsDir)
            m_finder.AddFolder(item.set.nFirstCluster, u64Sector);
        m_vecSets.push_back({u64Sector, std::move(item.set)});
    }
    m_finder.AddDirectorySector(u64Sector, (pSector[0] | EXFAT_ENTRY_IN_USE) == EXFAT_TYPE_FILE);
    if (dir->bitmap && dir->upcase)
        m_finder.AddRoot(u64Sector, dir->upcase->nFirstCluster, dir->upcase->u64DataLength,
                         dir->upcase->nChecksum);
    return true;
}

// ---- rebuild ----

int CProfessionalExFatRecovery::DealProfessionalRecordVec() {
    if (!m_pStore)
        return 0;
    m_vecVolumes = m_finder.Find(m_diskReader, m_u64StartSector);
    std::vector<std::vector<size_t>> vecPerVolume(m_vecVolumes.size());
    for (size_t i = 0; i < m_vecSets.size(); ++i) {
        // A set belongs to the volume whose cluster heap begins nearest before it.
        int nBest = -1;
        uint64_t u64BestHeap = 0;
        for (size_t v = 0; v < m_vecVolumes.size(); ++v) {
            const EXFAT_GEOMETRY& geo = m_vecVolumes[v].geometry;
            const uint64_t u64Heap = geo.u64PartitionStart + geo.u64HeapStart;
            if (geo.ContainsSector(m_vecSets[i].u64Sector) && u64Heap <= m_vecSets[i].u64Sector &&
                (nBest < 0 || u64Heap > u64BestHeap)) {
                nBest = int(v);
                u64BestHeap = u64Heap;
            }
        }
        if (nBest >= 0)
            vecPerVolume[size_t(nBest)].push_back(i);
    }
    for (size_t v = 0; v < m_vecVolumes.size(); ++v) {
        const EXFAT_GEOMETRY& geo = m_vecVolumes[v].geometry;
        DebugLog("CProfessionalExFatRecovery: volume %s at sector %llu: cluster heap at %llu "
                 "(0x%llx), %u sectors per cluster, %zu entry sets\n",
                 m_vecVolumes[v].bFromBoot ? "from its boot region" : "inferred",
                 (unsigned long long)geo.u64PartitionStart,
                 (unsigned long long)(geo.u64PartitionStart + geo.u64HeapStart),
                 (unsigned long long)(geo.u64PartitionStart + geo.u64HeapStart),
                 geo.nSectorsPerCluster, vecPerVolume[v].size());
        RebuildVolume(v, vecPerVolume[v]);
    }
    m_vecSets.clear();
    m_pStore->FlushBufToFile();
    return 0;
}

uint32_t CProfessionalExFatRecovery::LevelOf(std::map<uint32_t, DEEP_FOLDER>& mapFolders,
                                             uint32_t nKey) const {
    uint32_t nLevel = 0;
    for (uint32_t nAt = nKey; nAt != TOP_KEY && nLevel < MAX_LEVEL; ++nLevel) {
        auto it = mapFolders.find(nAt);
        if (it == mapFolders.end())
            break;
        nAt = it->second.nParentKey;
    }
    return nLevel;
}

void CProfessionalExFatRecovery::RebuildVolume(size_t nVolume, const std::vector<size_t>& vecSets) {
    const EXFAT_DEEP_VOLUME& volume = m_vecVolumes[nVolume];
    const EXFAT_GEOMETRY& geo = volume.geometry;
    const uint64_t u64Heap = geo.u64PartitionStart + geo.u64HeapStart;
    const uint32_t nSpc = geo.nSectorsPerCluster;
    auto clusterOf = [&](uint64_t u64Sector) {
        return uint32_t((u64Sector - u64Heap) / nSpc) + EXFAT_FIRST_CLUSTER;
    };
    // Clusters each folder's entries occupy: [first, end) -> key.
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> mapRanges;
    std::map<uint32_t, DEEP_FOLDER> mapFolders;
    std::map<uint32_t, uint32_t> mapFolderOfCluster;
    if (volume.bFromBoot) {
        CExFatVolume& root =
            *m_mapReadVolumes.try_emplace(u64Heap, std::make_unique<CExFatVolume>()).first->second;
        if (!root.IsOpen())
            root.Open(&m_diskReader, geo, true);
        uint32_t nCluster = geo.nRootCluster;
        for (uint32_t i = 0; i < geo.nClusterCount && geo.IsHeapCluster(nCluster); ++i) {
            mapRanges[nCluster] = {nCluster + 1, TOP_KEY};
            std::optional<uint32_t> next = root.GetChainNext(nCluster);
            if (!next || mapRanges.count(*next) != 0)
                break;
            nCluster = *next;
        }
    } else if (geo.nRootCluster != 0) {
        mapRanges[geo.nRootCluster] = {geo.nRootCluster + 1, TOP_KEY};
    }
    for (size_t i : vecSets) {
        const EXFAT_ENTRY_SET& set = m_vecSets[i].set;
        if (!set.bIsDir || !geo.IsHeapCluster(set.nFirstCluster) ||
            mapRanges.count(set.nFirstCluster) != 0)
            continue;
        const uint32_t nKey = m_nNextKey++;
        uint64_t u64Clusters = 1;
        if (set.bNoFatChain)
            u64Clusters = std::max<uint64_t>(1, (set.u64DataLength + geo.ClusterBytes() - 1) /
                                                    geo.ClusterBytes());
        mapRanges[set.nFirstCluster] = {
            uint32_t(std::min<uint64_t>(set.nFirstCluster + u64Clusters, UINT32_MAX)), nKey};
        mapFolders[nKey] = {nKey, int(i), set.nFirstCluster, TOP_KEY, 0};
        mapFolderOfCluster[set.nFirstCluster] = nKey;
    }
    // The folder whose entries a sector holds; a cluster no folder claims is a lost folder.
    std::map<uint32_t, uint32_t> mapLost;
    auto ownerOf = [&](uint64_t u64Sector) -> uint32_t {
        const uint32_t nCluster = clusterOf(u64Sector);
        auto it = mapRanges.upper_bound(nCluster);
        if (it != mapRanges.begin() && nCluster < std::prev(it)->second.first)
            return std::prev(it)->second.second;
        auto [lost, bNew] = mapLost.try_emplace(nCluster, 0);
        if (bNew) {
            lost->second = m_nNextKey++;
            mapFolders[lost->second] = {lost->second, -1, nCluster, TOP_KEY, 0};
        }
        return lost->second;
    };
    for (auto& [nKey, folder] : mapFolders)
        if (folder.nSet >= 0) {
            const uint32_t nParent = ownerOf(m_vecSets[size_t(folder.nSet)].u64Sector);
            folder.nParentKey = nParent == nKey ? TOP_KEY : nParent;
        }
    std::vector<std::pair<size_t, uint32_t>> vecFiles;
    for (size_t i : vecSets)
        if (!m_vecSets[i].set.bIsDir)
            vecFiles.push_back({i, ownerOf(m_vecSets[i].u64Sector)});
    for (auto& [nKey, folder] : mapFolders)
        folder.nLevel = LevelOf(mapFolders, nKey);

    // Folders that hold nothing found are not worth a node; the others are stored first.
    std::set<uint32_t> setUsed;
    auto markUsed = [&](uint32_t nKey) {
        for (uint32_t nLevel = 0;
             nKey != TOP_KEY && nLevel < MAX_LEVEL && setUsed.insert(nKey).second; ++nLevel)
            nKey = mapFolders[nKey].nParentKey;
    };
    for (const auto& [i, nParent] : vecFiles)
        markUsed(nParent);
    for (const auto& [nKey, folder] : mapFolders) {
        if (setUsed.count(nKey) == 0 && folder.nSet < 0)
            continue;
        FILE_NODE* pNode = m_pStore->CreateFileNode(sizeof(FILE_NODE));
        if (pNode == nullptr)
            return;
        FillNode(*pNode, volume, folder.nSet >= 0 ? &m_vecSets[size_t(folder.nSet)] : nullptr,
                 folder.nCluster);
        pNode->nClusterNo = nKey;
        pNode->nDataHealth = 1;
        pNode->nFileIndex = m_pStore->GetFileIndex();
        const uint32_t nParentLevel = folder.nParentKey == TOP_KEY ? 0 : folder.nLevel - 1;
        m_pStore->AddChildren(folder.nParentKey, nParentLevel, pNode->nFileIndex, nKey,
                              pNode->szFileName);
    }
    for (const auto& [i, nParent] : vecFiles) {
        FILE_NODE* pNode = m_pStore->CreateFileNode(sizeof(FILE_NODE));
        if (pNode == nullptr)
            return;
        FillNode(*pNode, volume, &m_vecSets[i], m_vecSets[i].set.nFirstCluster);
        pNode->nFileIndex = m_pStore->GetFileIndex();
        // Deleted files are the ones whose reading is in doubt; they are proved.
        pNode->nDataHealth = !VolumeOf(*pNode).IsNodeDataHealthy(*pNode) ? 0
                             : m_vecSets[i].set.bInUse                   ? 1
                                                       : VolumeOf(*pNode).ProveNodeData(*pNode);
        m_pStore->AddChildren(nParent, nParent == TOP_KEY ? 0 : mapFolders[nParent].nLevel,
                              pNode->nFileIndex, pNode->nClusterNo, nullptr);
    }
}

void CProfessionalExFatRecovery::FillNode(FILE_NODE& node, const EXFAT_DEEP_VOLUME& volume,
                                          const DEEP_SET* pSet, uint32_t nCluster) const {
    const EXFAT_GEOMETRY& geo = volume.geometry;
    node.wcDriveLetter = m_wcDriveLetter;
    node.nEngineType = ENGINE_DEEP_EXFAT;
    node.nClusterNo = nCluster;
    node.nClusterBytes = geo.ClusterBytes();
    node.u64DataAreaSector = geo.u64HeapStart;
    node.u64PartitionStartSector = geo.u64PartitionStart;
    if (pSet == nullptr) {
        node.bIsDir = 1;
        char szName[FILE_NODE_NAME_BYTES];
        std::snprintf(szName, sizeof(szName), "LostFolder%u", nCluster);
        SetFileNodeName(node, szName);
        return;
    }
    const EXFAT_ENTRY_SET& set = pSet->set;
    node.bIsDir = set.bIsDir ? 1 : 0;
    node.bIsDeleted = set.bInUse ? 0 : 1;
    node.u64CreateTime = uint64_t(set.create.llUnixSeconds);
    node.u64AccessTime = uint64_t(set.access.llUnixSeconds);
    node.u64ModifyTime = uint64_t(set.modify.llUnixSeconds);
    node.u64FileSize = set.bIsDir ? 0 : set.u64DataLength;
    node.u64LocationSector = pSet->u64Sector;
    SetFileNodeName(node, set.strName);
}

// ---- queries, copy-out and preview ----

CExFatVolume& CProfessionalExFatRecovery::VolumeOf(const FILE_NODE& node) {
    const uint64_t u64Heap = node.u64PartitionStartSector + node.u64DataAreaSector;
    auto [it, bNew] = m_mapReadVolumes.try_emplace(u64Heap, std::make_unique<CExFatVolume>());
    if (bNew) {
        // A stored node carries all the geometry its data needs; a FAT only a boot region gives.
        EXFAT_GEOMETRY geo{};
        geo.u64PartitionStart = node.u64PartitionStartSector;
        geo.u64HeapStart = node.u64DataAreaSector;
        geo.nSectorsPerCluster = std::max<uint32_t>(1, node.nClusterBytes / UNIT);
        geo.nBytesPerSector = UNIT;
        const uint64_t u64Limit = m_diskReader.GetLimit();
        geo.nClusterCount = u64Limit > u64Heap
                                ? uint32_t(std::min<uint64_t>(
                                      (u64Limit - u64Heap) / geo.nSectorsPerCluster, 0xFFFFFFF5))
                                : 0;
        it->second->Open(&m_diskReader, geo, false);
    }
    return *it->second;
}

unsigned int CProfessionalExFatRecovery::GetFolderGroup(const FILE_NODE& folder) {
    if (!m_pStore)
        return 0;
    std::vector<FILE_NODE> vecAncestors;
    m_pStore->FlushBufToFile();
    m_pStore->GetParentFileNode(&folder, vecAncestors);
    return static_cast<unsigned int>(vecAncestors.size() + 1);
}

int CProfessionalExFatRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                                    std::vector<FILE_NODE>& vecChildren) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    m_pStore->FlushBufToFile();
    const uint64_t u64Key = MakeRelationKey(nDepth, pParent != nullptr ? pParent->nClusterNo : 0);
    if (u64Key == 0 && !m_pStore->IsDirFileNodeExist(0, 0))
        return 0;
    return m_pStore->GetChildrenFileNode(u64Key, vecChildren);
}

int CProfessionalExFatRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                                     unsigned int& nCount) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    nCount = 0;
    if (!m_pStore)
        return 0;
    m_pStore->FlushBufToFile();
    const uint64_t u64Key = MakeRelationKey(nDepth, pParent != nullptr ? pParent->nClusterNo : 0);
    if (u64Key == 0 && !m_pStore->IsDirFileNodeExist(0, 0))
        return 0;
    return m_pStore->GetChildrenFileCount(u64Key, nCount);
}

unsigned int CProfessionalExFatRecovery::GetLostFileCount() {
    return m_pStore ? m_pStore->GetFileIndex() : 0;
}

int CProfessionalExFatRecovery::GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut,
                                                         int nCapacity) {
    if (pNode == nullptr || pOut == nullptr || !m_pStore)
        return ERROR_INVALID_PARAMETER;
    m_pStore->FlushBufToFile();
    return m_pStore->GetParentDirPath(pNode, pOut, nCapacity);
}

int CProfessionalExFatRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback,
                                                   void* pParam) {
    m_pSearchCallback = pSearchCallback;
    m_pSearchParam = pParam;
    if (m_pStore)
        m_pStore->InitSearchCallBack(pSearchCallback, pParam);
    return 0;
}

int CProfessionalExFatRecovery::OpenSearchCursor(const char16_t* pKey,
                                                 std::unique_ptr<ISearchCursor>& pCursor) {
    if (!m_pStore)
        return IFileRecoveryParse::OpenSearchCursor(pKey, pCursor);
    return m_pStore->OpenSearchCursor(pKey, pCursor);
}

int CProfessionalExFatRecovery::SearchFileNode(const char16_t* pKey,
                                               std::vector<SEARCH_FILE_INFO>& vecOut) {
    return m_pStore ? m_pStore->SearchFileNodeInfo(pKey, vecOut) : 0;
}

int CProfessionalExFatRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int) {
    if (pNode == nullptr || pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir != 0)
        return m_folderRecovery.SaveFolder(*pNode, pTargetPath);
    return VolumeOf(*pNode).GetNodeData(*pNode).SaveToFile(*pNode, pTargetPath, m_pRecoveryCallback,
                                                           m_pParam);
}

int CProfessionalExFatRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut,
                                        unsigned char* pBuffer, int& nLength,
                                        PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    return VolumeOf(*pNode).GetNodeData(*pNode).PreView(*pNode, pTempPathOut, pBuffer, nLength,
                                                        pCallback, pParam);
}

bool CProfessionalExFatRecovery::GetFileDataRuns(FILE_NODE* pNode,
                                                 std::vector<FILE_DATA_RUN>& vecRuns) {
    if (pNode == nullptr || pNode->bIsDir != 0)
        return false;
    vecRuns = VolumeOf(*pNode).GetDataRuns(*pNode);
    return true;
}

int CProfessionalExFatRecovery::GetFileNodeByIndex(unsigned int, unsigned int nFileIndex,
                                                   FILE_NODE* pOut) {
    return m_pStore ? m_pStore->ReadFileNode(nFileIndex, pOut) : ERROR_INVALID_PARAMETER;
}
