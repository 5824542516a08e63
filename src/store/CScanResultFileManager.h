// One engine's scan results kept on disk: the node file, the relation file of child lists and
// the folder-name file, in the scan-log directory, so scans run in bounded memory.
#pragma once

#include "engine/FileRecoveryTypes.h"
#include "engine/ISearchCursor.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

constexpr const char* RELATION_FILE_SUFFIX = "_Relation";
constexpr const char* DIR_INFO_FILE_SUFFIX = "_DirInfo";

// A folder's name, keyed by its cluster number; the record of the "_DirInfo" file.
struct DIR_FILE_INFO {
    uint32_t nClusterNo;
    uint32_t nFileIndex;
    char szFileName[FILE_NODE_NAME_BYTES];
};

static_assert(sizeof(DIR_FILE_INFO) == 264);
static_assert(offsetof(DIR_FILE_INFO, nClusterNo) == 0);
static_assert(offsetof(DIR_FILE_INFO, nFileIndex) == 4);
static_assert(offsetof(DIR_FILE_INFO, szFileName) == 8);

// The key under which children are filed: (depth << 32) | folder key.
constexpr uint64_t MakeRelationKey(uint32_t nDepth, uint32_t nFolderKey) {
    return uint64_t(nDepth) << 32 | nFolderKey;
}

// Owned by one engine and used by one thread at a time. Node i (1-based, its nFileIndex) lies
// at byte (i - 1) * 344 of the node file; nodes not yet flushed are read from the buffer.
class CScanResultFileManager {
public:
    static constexpr uint32_t NODE_BYTES = sizeof(FILE_NODE);
    static constexpr uint32_t WRITE_BUFFER_NODES = 200;
    static constexpr uint32_t WRITE_BUFFER_BYTES = NODE_BYTES * WRITE_BUFFER_NODES; // 68800

    CScanResultFileManager();
    ~CScanResultFileManager(); // flushes; the files stay on disk
    CScanResultFileManager(const CScanResultFileManager&) = delete;
    CScanResultFileManager& operator=(const CScanResultFileManager&) = delete;

    // Opens (creating) store N, N_Relation, N_DirInfo in CLogFileManager's current scan
    // directory and loads them; new nodes continue after those already in N. 0, errno,
    // ERROR_NOT_ENOUGH_MEMORY or ERROR_FILE_CORRUPT. May be called again to switch stores.
    int Init(const char16_t* pName);

    // A cleared 344-byte node in the write buffer (the full buffer is written out first); fill
    // it and set its nFileIndex to GetFileIndex(). Null for another size or before Init.
    FILE_NODE* CreateFileNode(int nSize = sizeof(FILE_NODE));
    // Nodes created so far, which is also the nFileIndex of the newest node.
    unsigned int GetFileIndex() const { return m_nNodeCount; }

    // Files child node nChildIndex under key (parent depth << 32) | parent key; a non-null
    // folder name also records (child key, child index, name) for parent-path lookups.
    void AddChildren(unsigned int nParentKey, unsigned int nParentDepth, unsigned int nChildIndex,
                     unsigned int nChildKey, const char* pFolderName);
    // True when children were filed under (depth << 32) | key.
    bool IsDirFileNodeExist(long long llKey, unsigned int nDepth) const;

    // Writes buffered nodes, then rewrites the relation and folder-info files; 0 or errno.
    int FlushBufToFile();
    // Writes buffered nodes only; 0 or errno.
    int FlushFileNodeToFile();
    // Rewrites the relation file from the in-memory map; 0 or errno.
    int FlushRelationToFile();
    // Rewrites the folder-info file from the in-memory list; 0 or errno.
    int FlushDirFileInfoVec();

    // Appends the children filed under the key (0: the lowest key in the store), files first,
    // names case-insensitively, leaving out damaged pictures; 0 or errno.
    int GetChildrenFileNode(unsigned long long u64Key, std::vector<FILE_NODE>& vecOut);
    // Number of files (not folders, damaged pictures included) in the key's whole subtree.
    int GetChildrenFileCount(unsigned long long u64Key, unsigned int& nCount);
    // Reads node nFileIndex (1-based); 0, 87 when out of range, or errno.
    int ReadFileNode(unsigned int nFileIndex, FILE_NODE* pOut);
    // Reads nCount nodes from nFirst (1-based) on; 0, 87 when out of range, or errno.
    int ReadFileNodes(unsigned int nFirst, unsigned int nCount, FILE_NODE* pOut);
    // The first folder node whose nClusterNo is the key; 0, 87 when there is none, or errno.
    int GetFileNodeByClusterNO(unsigned int nKey, FILE_NODE* pOut);
    // The node's ancestors, nearest first (a "LostFolder%d" stands in for an unknown folder).
    int GetParentFileNode(const FILE_NODE* pNode, std::vector<FILE_NODE>& vecOut);
    // The parent folder path "a/b/" of the node (empty at the top level), within nCapacity units.
    int GetParentDirPath(const FILE_NODE* pNode, char16_t* pOut, int nCapacity);

    // The callback SearchFileNodeInfo reports percent of the node file searched through.
    int InitSearchCallBack(SearchProgressCallback pCallback, void* pParam);
    // Appends the files whose "." + lower-case extension occurs in the key ("*.jpg|*.png|");
    // ".other" in the key also takes files of unknown or no extension. Sorted like child lists.
    // 0, errno, or the callback's non-zero stop value.
    int SearchFileNodeInfo(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut);
    // The same hits in the same order through a cursor that keeps four bytes per hit and reads
    // the nodes back as they are taken; the store must outlive it. Same results as above.
    int OpenSearchCursor(const char16_t* pKey, std::unique_ptr<ISearchCursor>& pCursor);

    // True when the file name's extension is in the picture list (what PreView writes out).
    static bool IsPictureFileName(const char* pFileName);
    // Node order: files before folders, then names without regard to case.
    static bool NodeOrderLess(const FILE_NODE& a, const FILE_NODE& b);
    // Sorts the nodes from nFrom on in node order: files before folders, then names without
    // regard to case.
    static void SortFileNodes(std::vector<FILE_NODE>& vecNodes, size_t nFrom = 0);
    // "*.bmp|*.gif|*.jpg|..." : the picture category list.
    static const char* GetPictureExtensionList();
    // The five category lists joined by "|" (pictures, music, documents, video, archives).
    static const std::string& GetKnownExtensionList();

    const std::string& GetNodeFilePath() const { return m_strNodePath; }
    const std::string& GetRelationFilePath() const { return m_strRelationPath; }
    const std::string& GetDirInfoFilePath() const { return m_strDirInfoPath; }

private:
    void Close();
    int NoteFailure(int nError);
    int WriteBufferedNodes();
    int ReadNodeRange(uint64_t u64First, uint32_t nCount, uint8_t* pOut);
    // Calls back every file the search key takes (node number, node), in node-file order.
    int VisitSearchMatches(const char16_t* pKey,
                           const std::function<void(uint32_t, const FILE_NODE&)>& onMatch);
    const std::vector<uint32_t>* SelectChildren(uint64_t u64Key) const;
    void RefreshIndexes();
    bool FindParentKey(uint32_t nFileIndex, uint64_t& u64Key);
    const DIR_FILE_INFO* FindDirInfo(uint32_t nClusterNo);
    int FindFolderIndex(uint32_t nClusterNo, uint32_t& nFileIndex);
    int ResolveFolder(uint64_t u64Key, FILE_NODE& folder, bool& bLost);
    bool IsTopKey(uint64_t u64Key) const;
    int GetFolderPath(uint64_t u64Key, std::string& strPath);
    int LoadRelationFile();
    int LoadDirInfoFile();

    uint32_t m_nBufferedBytes = 0;
    uint32_t m_nBufferCapacity = WRITE_BUFFER_BYTES;
    uint32_t m_nNodeCount = 0;
    uint64_t m_u64CreatedBytes = 0; // bytes of all nodes, flushed or not: 64-bit offsets
    uint8_t* m_pWriteBuf = nullptr;
    int m_nNodeFd = -1;
    int m_nRelationFd = -1;
    int m_nDirInfoFd = -1;
    SearchProgressCallback m_pSearchCallback = nullptr;
    void* m_pSearchParam = nullptr;
    std::string m_strNodePath;
    std::string m_strRelationPath;
    std::string m_strDirInfoPath;
    std::map<uint64_t, std::vector<uint32_t>> m_mapRelation;
    std::vector<DIR_FILE_INFO> m_vecDirInfo;

    // Lookups of the parent walk, rebuilt after the store changes.
    bool m_bIndexesStale = true;
    std::unordered_map<uint32_t, uint64_t> m_mapParentKey; // file index -> its first key
    std::unordered_map<uint32_t, size_t> m_mapDirInfoIndex;
    bool m_bFolderIndexBuilt = false;
    std::unordered_map<uint32_t, uint32_t> m_mapFolderIndex; // cluster -> first folder node
    std::unordered_map<uint64_t, std::string> m_mapPathMemo; // key -> "a/b/"
};
