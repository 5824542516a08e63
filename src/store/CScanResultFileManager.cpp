// Node file, relation file and folder-info file of one engine's scan, and the queries on them.
#include "store/CScanResultFileManager.h"

#include "store/CLogFileManager.h"
#include "store/CStoreSearchCursor.h"
#include "store/StoreFileFormat.h"
#include "util/DebugLog.h"
#include "util/FdIo.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr mode_t STORE_FILE_MODE = 0644;
constexpr size_t STORE_NAME_BYTES = 256;
constexpr size_t SEARCH_KEY_BYTES = 4096;
// Beyond this node-file size a search for files of unknown type is not offered.
constexpr uint64_t OTHER_SEARCH_MAX_BYTES = 0x7FFFFFF;
// A folder path longer than any the system can open keeps only its nearest folders.
constexpr size_t MAX_FOLDER_PATH_BYTES = 4096;

// Pictures whose data is gone are hidden from lists and searches: previews of them only show
// garbage. The extension must be a picture's whole, not a part of one ("p" is not "jpg").
bool IsDamagedPicture(const FILE_NODE& node) {
    return node.nDataHealth == 0 && CScanResultFileManager::IsPictureFileName(node.szFileName);
}

int ReadWholeFile(int nFd, std::vector<uint8_t>& vecOut) {
    struct stat st;
    if (fstat(nFd, &st) != 0)
        return errno;
    vecOut.resize(static_cast<size_t>(st.st_size));
    return ReadFullAt(nFd, vecOut.data(), vecOut.size(), 0);
}

int RewriteFile(int nFd, const void* pData, size_t nBytes) {
    if (nFd < 0)
        return EBADF;
    if (int nErr = WriteFullAt(nFd, pData, nBytes, 0); nErr != 0)
        return nErr;
    return ftruncate(nFd, static_cast<off_t>(nBytes)) == 0 ? 0 : errno;
}

int OpenStoreFile(const std::string& strPath) {
    return open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, STORE_FILE_MODE);
}

void CloseFd(int& nFd) {
    if (nFd >= 0)
        close(nFd);
    nFd = -1;
}

FILE_NODE MakeFolderNode(const char* pName, uint32_t nFileIndex, uint32_t nClusterNo) {
    FILE_NODE node{};
    node.bIsDir = 1;
    node.nFileIndex = nFileIndex;
    node.nClusterNo = nClusterNo;
    std::snprintf(node.szFileName, sizeof(node.szFileName), "%s", pName);
    return node;
}

} // namespace

CScanResultFileManager::CScanResultFileManager() = default;

CScanResultFileManager::~CScanResultFileManager() {
    Close();
    delete[] m_pWriteBuf;
}

void CScanResultFileManager::Close() {
    if (m_nNodeFd >= 0)
        FlushBufToFile();
    CloseFd(m_nNodeFd);
    CloseFd(m_nRelationFd);
    CloseFd(m_nDirInfoFd);
    m_nBufferedBytes = 0;
    m_nNodeCount = 0;
    m_u64CreatedBytes = 0;
    m_mapRelation.clear();
    m_vecDirInfo.clear();
    m_bIndexesStale = true;
}

int CScanResultFileManager::Init(const char16_t* pName) {
    Close();
    char szName[STORE_NAME_BYTES];
    inner_uni2str(szName, pName, sizeof(szName), -1);
    if (pName == nullptr || szName[0] == '\0' || std::strchr(szName, '/') != nullptr ||
        std::strcmp(szName, ".") == 0 || std::strcmp(szName, "..") == 0)
        return ERROR_INVALID_PARAMETER;

    if (int nRootError = CLogFileManager::GetInstance()->GetRootError(); nRootError != 0)
        return NoteFailure(nRootError);
    std::string strDir = CLogFileManager::GetInstance()->GetLogFileDirPath();
    if (int nErr = CLogFileManager::MakeLogDir(strDir); nErr != 0)
        DebugLog("create scan directory %s failed: %d\n", strDir.c_str(), nErr);
    m_strNodePath = strDir + szName;
    m_strRelationPath = m_strNodePath + RELATION_FILE_SUFFIX;
    m_strDirInfoPath = m_strNodePath + DIR_INFO_FILE_SUFFIX;

    m_nNodeFd = OpenStoreFile(m_strNodePath);
    if (m_nNodeFd < 0)
        return NoteFailure(errno);
    m_nRelationFd = OpenStoreFile(m_strRelationPath);
    if (m_nRelationFd < 0) {
        int nErr = errno;
        CloseFd(m_nNodeFd);
        return NoteFailure(nErr);
    }
    struct stat st;
    if (fstat(m_nNodeFd, &st) != 0)
        return errno;
    // New nodes continue the existing numbering; a torn trailing record is overwritten.
    uint64_t u64WholeNodes = static_cast<uint64_t>(st.st_size) / NODE_BYTES;
    m_nNodeCount = static_cast<uint32_t>(std::min<uint64_t>(u64WholeNodes, UINT32_MAX));
    m_u64CreatedBytes = uint64_t(m_nNodeCount) * NODE_BYTES;

    int nLoadResult = LoadRelationFile();
    if (m_pWriteBuf == nullptr)
        m_pWriteBuf = new (std::nothrow) uint8_t[m_nBufferCapacity];
    int nResult = m_pWriteBuf == nullptr ? ERROR_NOT_ENOUGH_MEMORY : 0;

    m_nDirInfoFd = OpenStoreFile(m_strDirInfoPath);
    int nDirResult = m_nDirInfoFd >= 0 ? LoadDirInfoFile() : 0;
    if (nResult == 0)
        nResult = nLoadResult != 0 ? nLoadResult : nDirResult;
    return nResult;
}

int CScanResultFileManager::LoadRelationFile() {
    std::vector<uint8_t> vecText;
    int nErr = ReadWholeFile(m_nRelationFd, vecText);
    if (nErr != 0)
        return nErr;
    nErr = ParseRelationText(reinterpret_cast<const char*>(vecText.data()), vecText.size(),
                             m_mapRelation);
    if (nErr != 0)
        DebugLog("relation file %s is damaged; %zu folders loaded\n", m_strRelationPath.c_str(),
                 m_mapRelation.size());
    return nErr;
}

int CScanResultFileManager::LoadDirInfoFile() {
    std::vector<uint8_t> vecBytes;
    int nErr = ReadWholeFile(m_nDirInfoFd, vecBytes);
    if (nErr != 0)
        return nErr;
    ParseDirInfoRecords(vecBytes.data(), vecBytes.size(), m_vecDirInfo);
    return 0;
}

FILE_NODE* CScanResultFileManager::CreateFileNode(int nSize) {
    if (nSize != static_cast<int>(NODE_BYTES) || m_pWriteBuf == nullptr || m_nNodeFd < 0 ||
        m_nNodeCount == UINT32_MAX)
        return nullptr;
    if (m_nBufferedBytes + NODE_BYTES > m_nBufferCapacity)
        WriteBufferedNodes();
    auto* pNode = reinterpret_cast<FILE_NODE*>(m_pWriteBuf + m_nBufferedBytes);
    std::memset(pNode, 0, NODE_BYTES);
    m_nBufferedBytes += NODE_BYTES;
    m_u64CreatedBytes += NODE_BYTES;
    ++m_nNodeCount;
    m_bIndexesStale = true;
    return pNode;
}

int CScanResultFileManager::WriteBufferedNodes() {
    if (m_nBufferedBytes == 0)
        return 0;
    // Written at the nodes' own offsets: a failed write leaves a gap, never shifts later nodes.
    uint64_t u64Offset = m_u64CreatedBytes - m_nBufferedBytes;
    int nErr = WriteFullAt(m_nNodeFd, m_pWriteBuf, m_nBufferedBytes, u64Offset);
    if (nErr != 0) {
        DebugLog("write of %u node bytes at %llu failed: %d\n", m_nBufferedBytes,
                 static_cast<unsigned long long>(u64Offset), nErr);
        CLogFileManager::GetInstance()->NoteStoreFailure(nErr);
    }
    m_nBufferedBytes = 0;
    return nErr;
}

void CScanResultFileManager::AddChildren(unsigned int nParentKey, unsigned int nParentDepth,
                                         unsigned int nChildIndex, unsigned int nChildKey,
                                         const char* pFolderName) {
    m_mapRelation[MakeRelationKey(nParentDepth, nParentKey)].push_back(nChildIndex);
    m_bIndexesStale = true;
    if (pFolderName == nullptr)
        return;
    DIR_FILE_INFO info{};
    info.nClusterNo = nChildKey;
    info.nFileIndex = nChildIndex;
    std::snprintf(info.szFileName, sizeof(info.szFileName), "%s", pFolderName);
    m_vecDirInfo.push_back(info);
}

bool CScanResultFileManager::IsDirFileNodeExist(long long llKey, unsigned int nDepth) const {
    uint64_t u64Key = (uint64_t(nDepth) << 32) + static_cast<uint64_t>(llKey);
    return m_mapRelation.count(u64Key) != 0;
}

int CScanResultFileManager::FlushBufToFile() {
    if (int nErr = FlushFileNodeToFile(); nErr != 0)
        return nErr;
    int nErr = FlushRelationToFile();
    int nDirErr = FlushDirFileInfoVec();
    return nErr != 0 ? nErr : nDirErr;
}

int CScanResultFileManager::FlushFileNodeToFile() {
    if (m_nNodeFd < 0)
        return EBADF;
    return WriteBufferedNodes();
}

int CScanResultFileManager::FlushRelationToFile() {
    std::string strText = FormatRelationText(m_mapRelation);
    return NoteFailure(RewriteFile(m_nRelationFd, strText.data(), strText.size()));
}

int CScanResultFileManager::FlushDirFileInfoVec() {
    return NoteFailure(RewriteFile(m_nDirInfoFd, m_vecDirInfo.data(),
                                   m_vecDirInfo.size() * sizeof(DIR_FILE_INFO)));
}

// A store that cannot be written loses results: the scan must not end as if it had them all.
int CScanResultFileManager::NoteFailure(int nError) {
    if (nError != 0)
        CLogFileManager::GetInstance()->NoteStoreFailure(nError);
    return nError;
}

int CScanResultFileManager::ReadNodeRange(uint64_t u64First, uint32_t nCount, uint8_t* pOut) {
    if (m_nNodeFd < 0)
        return EBADF;
    if (u64First == 0 || u64First > m_nNodeCount || nCount > m_nNodeCount - (u64First - 1))
        return ERROR_INVALID_PARAMETER;
    uint64_t u64Begin = (u64First - 1) * NODE_BYTES;
    uint64_t u64End = u64Begin + uint64_t(nCount) * NODE_BYTES;
    uint64_t u64Flushed = m_u64CreatedBytes - m_nBufferedBytes;
    if (u64Begin < u64Flushed) {
        uint64_t u64FromFile = std::min(u64End, u64Flushed) - u64Begin;
        if (int nErr = ReadFullAt(m_nNodeFd, pOut, u64FromFile, u64Begin); nErr != 0)
            return nErr;
        pOut += u64FromFile;
        u64Begin += u64FromFile;
    }
    if (u64Begin < u64End)
        std::memcpy(pOut, m_pWriteBuf + (u64Begin - u64Flushed), u64End - u64Begin);
    return 0;
}

int CScanResultFileManager::ReadFileNode(unsigned int nFileIndex, FILE_NODE* pOut) {
    return ReadFileNodes(nFileIndex, 1, pOut);
}

int CScanResultFileManager::ReadFileNodes(unsigned int nFirst, unsigned int nCount,
                                          FILE_NODE* pOut) {
    if (pOut == nullptr)
        return ERROR_INVALID_PARAMETER;
    int nErr = ReadNodeRange(nFirst, nCount, reinterpret_cast<uint8_t*>(pOut));
    for (unsigned int i = 0; nErr == 0 && i < nCount; ++i)
        pOut[i].szFileName[FILE_NODE_NAME_BYTES - 1] = '\0';
    return nErr;
}

const std::vector<uint32_t>* CScanResultFileManager::SelectChildren(uint64_t u64Key) const {
    if (m_mapRelation.empty())
        return nullptr;
    auto it = u64Key == 0 ? m_mapRelation.begin() : m_mapRelation.find(u64Key);
    return it == m_mapRelation.end() ? nullptr : &it->second;
}

int CScanResultFileManager::GetChildrenFileNode(unsigned long long u64Key,
                                                std::vector<FILE_NODE>& vecOut) {
    const std::vector<uint32_t>* pChildren = SelectChildren(u64Key);
    if (pChildren == nullptr)
        return 0;
    size_t nFrom = vecOut.size();
    int nResult = 0;
    for (uint32_t nIndex : *pChildren) {
        FILE_NODE node;
        int nErr = ReadFileNode(nIndex, &node);
        if (nErr == ERROR_INVALID_PARAMETER)
            continue; // filed but never written: a scan that stopped before its flush
        if (nErr != 0) {
            nResult = nErr;
            break;
        }
        if (!IsDamagedPicture(node))
            vecOut.push_back(node);
    }
    SortFileNodes(vecOut, nFrom);
    return nResult;
}

int CScanResultFileManager::GetChildrenFileCount(unsigned long long u64Key, unsigned int& nCount) {
    nCount = 0;
    uint64_t u64Count = 0;
    int nResult = 0;
    // Each level's keys with the number of times they were reached: a folder key shared by
    // several folders counts its subtree once per folder without walking it again.
    std::map<uint64_t, uint64_t> mapLevel{{u64Key, 1}};
    while (!mapLevel.empty()) {
        std::map<uint64_t, uint64_t> mapNext;
        for (const auto& [u64Taken, u64Times] : mapLevel) {
            const std::vector<uint32_t>* pChildren = SelectChildren(u64Taken);
            if (pChildren == nullptr)
                continue;
            uint32_t nDepth = static_cast<uint32_t>(u64Taken >> 32);
            for (uint32_t nIndex : *pChildren) {
                FILE_NODE node;
                int nErr = ReadFileNode(nIndex, &node);
                if (nErr == ERROR_INVALID_PARAMETER)
                    continue;
                if (nErr != 0) {
                    nResult = nErr;
                    continue;
                }
                if (node.bIsDir == 0)
                    u64Count += u64Times;
                else if (nDepth != UINT32_MAX)
                    mapNext[MakeRelationKey(nDepth + 1, node.nClusterNo)] += u64Times;
            }
        }
        mapLevel.swap(mapNext);
    }
    nCount = static_cast<unsigned int>(std::min<uint64_t>(u64Count, UINT32_MAX));
    return nResult;
}

int CScanResultFileManager::GetFileNodeByClusterNO(unsigned int nKey, FILE_NODE* pOut) {
    if (pOut == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (m_nNodeFd < 0)
        return EBADF;
    std::vector<FILE_NODE> vecChunk(WRITE_BUFFER_NODES);
    for (uint64_t u64First = 1; u64First <= m_nNodeCount; u64First += WRITE_BUFFER_NODES) {
        uint32_t nChunk = static_cast<uint32_t>(
            std::min<uint64_t>(WRITE_BUFFER_NODES, m_nNodeCount - u64First + 1));
        int nErr = ReadNodeRange(u64First, nChunk, reinterpret_cast<uint8_t*>(vecChunk.data()));
        if (nErr != 0)
            return nErr;
        for (uint32_t i = 0; i < nChunk; ++i) {
            if (vecChunk[i].nClusterNo != nKey)
                continue;
            *pOut = vecChunk[i];
            pOut->szFileName[FILE_NODE_NAME_BYTES - 1] = '\0';
            if (pOut->bIsDir != 0)
                return 0;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

// The lookups of the parent walk, built once after the store last changed: each walk step is
// then a hash lookup instead of a pass over every child list or over the node file.
void CScanResultFileManager::RefreshIndexes() {
    if (!m_bIndexesStale)
        return;
    m_mapParentKey.clear();
    for (const auto& [u64Key, vecChildren] : m_mapRelation)
        for (uint32_t nIndex : vecChildren)
            m_mapParentKey.emplace(nIndex, u64Key); // the first key in key order wins
    m_mapDirInfoIndex.clear();
    for (size_t i = 0; i < m_vecDirInfo.size(); ++i)
        m_mapDirInfoIndex.emplace(m_vecDirInfo[i].nClusterNo, i);
    m_mapFolderIndex.clear();
    m_bFolderIndexBuilt = false;
    m_mapPathMemo.clear();
    m_bIndexesStale = false;
}

bool CScanResultFileManager::FindParentKey(uint32_t nFileIndex, uint64_t& u64Key) {
    RefreshIndexes();
    auto it = m_mapParentKey.find(nFileIndex);
    if (it == m_mapParentKey.end())
        return false;
    u64Key = it->second;
    return true;
}

const DIR_FILE_INFO* CScanResultFileManager::FindDirInfo(uint32_t nClusterNo) {
    RefreshIndexes();
    auto it = m_mapDirInfoIndex.find(nClusterNo);
    return it == m_mapDirInfoIndex.end() ? nullptr : &m_vecDirInfo[it->second];
}

// The first folder node of each cluster number, found in one pass over the node file.
int CScanResultFileManager::FindFolderIndex(uint32_t nClusterNo, uint32_t& nFileIndex) {
    RefreshIndexes();
    if (!m_bFolderIndexBuilt) {
        std::vector<FILE_NODE> vecChunk(WRITE_BUFFER_NODES);
        for (uint64_t u64First = 1; u64First <= m_nNodeCount; u64First += WRITE_BUFFER_NODES) {
            uint32_t nChunk = static_cast<uint32_t>(
                std::min<uint64_t>(WRITE_BUFFER_NODES, m_nNodeCount - u64First + 1));
            if (int nErr =
                    ReadNodeRange(u64First, nChunk, reinterpret_cast<uint8_t*>(vecChunk.data()));
                nErr != 0) {
                m_mapFolderIndex.clear();
                return nErr;
            }
            for (uint32_t i = 0; i < nChunk; ++i)
                if (vecChunk[i].bIsDir != 0)
                    m_mapFolderIndex.emplace(vecChunk[i].nClusterNo,
                                             static_cast<uint32_t>(u64First + i));
        }
        m_bFolderIndexBuilt = true;
    }
    auto it = m_mapFolderIndex.find(nClusterNo);
    if (it == m_mapFolderIndex.end())
        return ERROR_INVALID_PARAMETER;
    nFileIndex = it->second;
    return 0;
}

// The folder a relation key files children under: its folder-info name, else its folder node,
// else a "LostFolder%u" stand-in (bLost).
int CScanResultFileManager::ResolveFolder(uint64_t u64Key, FILE_NODE& folder, bool& bLost) {
    uint32_t nFolderKey = static_cast<uint32_t>(u64Key);
    bLost = false;
    if (const DIR_FILE_INFO* pInfo = FindDirInfo(nFolderKey)) {
        folder = MakeFolderNode(pInfo->szFileName, pInfo->nFileIndex, nFolderKey);
        return 0;
    }
    uint32_t nFileIndex = 0;
    int nErr = FindFolderIndex(nFolderKey, nFileIndex);
    if (nErr == 0)
        return ReadFileNode(nFileIndex, &folder);
    if (nErr != ERROR_INVALID_PARAMETER)
        return nErr;
    char szLost[FILE_NODE_NAME_BYTES];
    std::snprintf(szLost, sizeof(szLost), "LostFolder%u", nFolderKey);
    folder = MakeFolderNode(szLost, 0, nFolderKey);
    bLost = true;
    return 0;
}

bool CScanResultFileManager::IsTopKey(uint64_t u64Key) const {
    return !m_mapRelation.empty() && u64Key == m_mapRelation.begin()->first;
}

int CScanResultFileManager::GetParentFileNode(const FILE_NODE* pNode,
                                              std::vector<FILE_NODE>& vecOut) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    // Parent links come from disk data and may loop; each node is visited once.
    std::unordered_set<uint32_t> setSeen{pNode->nFileIndex};
    uint32_t nCurrent = pNode->nFileIndex;
    for (;;) {
        uint64_t u64Key = 0;
        if (!FindParentKey(nCurrent, u64Key) || IsTopKey(u64Key))
            return 0;
        FILE_NODE ancestor{};
        bool bLost = false;
        if (int nErr = ResolveFolder(u64Key, ancestor, bLost); nErr != 0)
            return nErr;
        if (bLost) {
            vecOut.push_back(ancestor);
            return 0;
        }
        if (!setSeen.insert(ancestor.nFileIndex).second)
            return 0;
        vecOut.push_back(ancestor);
        nCurrent = ancestor.nFileIndex;
    }
}

// The path "a/b/" of the folder filed under the key, each folder's path built once: walks up
// only to the nearest folder already known, then fills in the path of every folder passed.
int CScanResultFileManager::GetFolderPath(uint64_t u64Key, std::string& strPath) {
    struct CStep {
        uint64_t u64Key;
        std::string strName;
    };
    std::vector<CStep> vecSteps;
    std::unordered_set<uint32_t> setSeen;
    std::string strBase;
    int nResult = 0;
    for (uint64_t u64At = u64Key;;) {
        if (auto it = m_mapPathMemo.find(u64At); it != m_mapPathMemo.end()) {
            strBase = it->second;
            break;
        }
        FILE_NODE folder{};
        bool bLost = false;
        if (nResult = ResolveFolder(u64At, folder, bLost); nResult != 0)
            break;
        if (!bLost && !setSeen.insert(folder.nFileIndex).second)
            break;
        vecSteps.push_back({u64At, folder.szFileName});
        uint64_t u64Parent = 0;
        if (bLost || !FindParentKey(folder.nFileIndex, u64Parent) || IsTopKey(u64Parent))
            break;
        u64At = u64Parent;
    }
    for (auto it = vecSteps.rbegin(); it != vecSteps.rend(); ++it) {
        strBase += it->strName + "/";
        // Deeper than any real path: the farthest folders give way.
        if (strBase.size() > MAX_FOLDER_PATH_BYTES)
            strBase.erase(0, strBase.find('/', strBase.size() - MAX_FOLDER_PATH_BYTES) + 1);
        if (nResult == 0)
            m_mapPathMemo.emplace(it->u64Key, strBase);
    }
    strPath = strBase;
    return nResult;
}

int CScanResultFileManager::GetParentDirPath(const FILE_NODE* pNode, char16_t* pOut,
                                             int nCapacity) {
    if (pNode == nullptr || pOut == nullptr || nCapacity <= 0)
        return ERROR_INVALID_PARAMETER;
    pOut[0] = 0;
    uint64_t u64Key = 0;
    if (!FindParentKey(pNode->nFileIndex, u64Key) || IsTopKey(u64Key))
        return 0;
    std::string strPath;
    int nResult = GetFolderPath(u64Key, strPath);
    Ansi2Unicode(strPath.c_str(), pOut, nCapacity);
    return nResult;
}

int CScanResultFileManager::InitSearchCallBack(SearchProgressCallback pCallback, void* pParam) {
    m_pSearchCallback = pCallback;
    m_pSearchParam = pParam;
    return 0;
}

int CScanResultFileManager::VisitSearchMatches(
    const char16_t* pKey, const std::function<void(uint32_t, const FILE_NODE&)>& onMatch) {
    if (pKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    char szKey[SEARCH_KEY_BYTES];
    inner_uni2str(szKey, pKey, sizeof(szKey), -1);
    FlushBufToFile();
    if (m_nNodeFd < 0)
        return EBADF;
    uint64_t u64FileBytes = uint64_t(m_nNodeCount) * NODE_BYTES;
    bool bOther =
        std::strstr(szKey, OTHER_PATTERN) != nullptr && u64FileBytes <= OTHER_SEARCH_MAX_BYTES;
    const std::string& strKnown = GetKnownExtensionList();

    // Verdict per lower-case extension: the key and the lists are tested once per extension.
    struct CVerdict {
        bool bMatch;
        bool bPicture;
    };
    std::unordered_map<std::string, CVerdict> mapVerdict;
    auto Matches = [&](const FILE_NODE& node) {
        std::string strExt = GetLowerExtension(node.szFileName);
        if (strExt.empty())
            return bOther;
        auto [it, bNew] = mapVerdict.try_emplace(strExt, CVerdict{false, false});
        if (bNew) {
            std::string strDotExt = "." + strExt;
            it->second.bPicture = IsPictureFileName(node.szFileName);
            it->second.bMatch = std::strstr(szKey, strDotExt.c_str()) != nullptr ||
                                (bOther && strKnown.find(strDotExt) == std::string::npos);
        }
        return it->second.bMatch && !(it->second.bPicture && node.nDataHealth == 0);
    };

    std::vector<FILE_NODE> vecChunk(WRITE_BUFFER_NODES);
    for (uint64_t u64First = 1; u64First <= m_nNodeCount; u64First += WRITE_BUFFER_NODES) {
        uint32_t nChunk = static_cast<uint32_t>(
            std::min<uint64_t>(WRITE_BUFFER_NODES, m_nNodeCount - u64First + 1));
        if (int nErr = ReadFileNodes(static_cast<uint32_t>(u64First), nChunk, vecChunk.data());
            nErr != 0)
            return nErr;
        for (uint32_t i = 0; i < nChunk; ++i) {
            if (vecChunk[i].bIsDir == 0 && Matches(vecChunk[i]))
                onMatch(static_cast<uint32_t>(u64First + i), vecChunk[i]);
        }
        if (m_pSearchCallback != nullptr) {
            uint64_t u64Done = (u64First - 1 + nChunk) * NODE_BYTES;
            int nPercent = static_cast<int>(u64Done * 100 / u64FileBytes);
            if (int nStop = m_pSearchCallback(m_pSearchParam, nPercent, nullptr); nStop != 0)
                return nStop;
        }
    }
    return 0;
}

int CScanResultFileManager::SearchFileNodeInfo(const char16_t* pKey,
                                               std::vector<SEARCH_FILE_INFO>& vecOut) {
    size_t nFrom = vecOut.size();
    int nResult =
        VisitSearchMatches(pKey, [&](uint32_t, const FILE_NODE& node) { vecOut.push_back(node); });
    SortFileNodes(vecOut, nFrom);
    return nResult;
}

// The names are held only while the hits are sorted; the cursor keeps the node numbers.
int CScanResultFileManager::OpenSearchCursor(const char16_t* pKey,
                                             std::unique_ptr<ISearchCursor>& pCursor) {
    struct CNamedHit {
        uint64_t
            u64Prefix; // the first bytes, folded as strcasecmp folds them, most significant first
        uint32_t nNodeNo;
        uint32_t nNameOffset; // a store's names fit: 12,485,371 nodes of at most 256 bytes
    };
    std::vector<CNamedHit> vecHits;
    std::vector<char> vecNames;
    int nResult = VisitSearchMatches(pKey, [&](uint32_t nNodeNo, const FILE_NODE& node) {
        uint64_t u64Prefix = 0;
        for (size_t i = 0, nShift = 56; i < sizeof(u64Prefix) && node.szFileName[i] != '\0';
             ++i, nShift -= 8)
            u64Prefix |= uint64_t(std::tolower(static_cast<unsigned char>(node.szFileName[i])))
                         << nShift;
        vecHits.push_back({u64Prefix, nNodeNo, static_cast<uint32_t>(vecNames.size())});
        vecNames.insert(vecNames.end(), node.szFileName,
                        node.szFileName + std::strlen(node.szFileName) + 1);
    });
    // Search hits are files only, so node order is the order of their names; equal names keep
    // the store's order.
    std::sort(vecHits.begin(), vecHits.end(), [&](const CNamedHit& a, const CNamedHit& b) {
        if (a.u64Prefix != b.u64Prefix)
            return a.u64Prefix < b.u64Prefix;
        int nOrder = strcasecmp(&vecNames[a.nNameOffset], &vecNames[b.nNameOffset]);
        return nOrder != 0 ? nOrder < 0 : a.nNodeNo < b.nNodeNo;
    });
    std::vector<char>().swap(vecNames);
    std::vector<uint32_t> vecOrder(vecHits.size());
    for (size_t i = 0; i < vecHits.size(); ++i)
        vecOrder[i] = vecHits[i].nNodeNo;
    pCursor = std::make_unique<CStoreSearchCursor>(*this, std::move(vecOrder));
    return nResult;
}

bool CScanResultFileManager::IsPictureFileName(const char* pFileName) {
    if (pFileName == nullptr)
        return false;
    std::string strExt = GetLowerExtension(pFileName);
    if (strExt.empty())
        return false;
    std::string strEntry = "*." + strExt + "|";
    return std::strstr(PHOTO_PATTERN, strEntry.c_str()) != nullptr;
}

const char* CScanResultFileManager::GetPictureExtensionList() {
    return PHOTO_PATTERN;
}

const std::string& CScanResultFileManager::GetKnownExtensionList() {
    static const std::string strKnown = std::string(PHOTO_PATTERN) + "|" + MUSIC_PATTERN + "|" +
                                        OFFICE_PATTERN + "|" + VIDEO_PATTERN + "|" +
                                        ARCHIVE_PATTERN;
    return strKnown;
}

bool CScanResultFileManager::NodeOrderLess(const FILE_NODE& a, const FILE_NODE& b) {
    if ((a.bIsDir == 0) != (b.bIsDir == 0))
        return a.bIsDir == 0;
    return strcasecmp(a.szFileName, b.szFileName) < 0;
}

// Sorts an index permutation and applies it in place: 344-byte records move once, and no
// second copy of a large hit list is made.
void CScanResultFileManager::SortFileNodes(std::vector<FILE_NODE>& vecNodes, size_t nFrom) {
    size_t nCount = vecNodes.size() - nFrom;
    FILE_NODE* pNodes = vecNodes.data() + nFrom;
    std::vector<uint32_t> vecOrder(nCount);
    for (size_t i = 0; i < nCount; ++i)
        vecOrder[i] = static_cast<uint32_t>(i);
    std::stable_sort(vecOrder.begin(), vecOrder.end(),
                     [&](uint32_t a, uint32_t b) { return NodeOrderLess(pNodes[a], pNodes[b]); });
    for (size_t i = 0; i < nCount; ++i) {
        if (vecOrder[i] == i)
            continue;
        FILE_NODE hold = pNodes[i];
        size_t nTo = i;
        while (vecOrder[nTo] != i) {
            size_t nFromPos = vecOrder[nTo];
            pNodes[nTo] = pNodes[nFromPos];
            vecOrder[nTo] = static_cast<uint32_t>(nTo);
            nTo = nFromPos;
        }
        pNodes[nTo] = hold;
        vecOrder[nTo] = static_cast<uint32_t>(nTo);
    }
}
