// Result store: node buffering, child lists, counts, parent paths, search, damaged store files.
#include "store/CScanResultFileManager.h"
#include "fixtures/FixtureUtil.h"
#include "store/CLogFileManager.h"
#include "store/StoreFileFormat.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr uint32_t ROOT_KEY = 5;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { CLogFileManager::GetInstance(); }

    // Creates a node and files it under (depth, parent key); folders also get a name record.
    uint32_t AddNode(CScanResultFileManager& store, const char* pName, bool bDir,
                     uint32_t nParentKey, uint32_t nDepth, uint32_t nClusterNo = 0,
                     uint32_t nHealth = 1) {
        FILE_NODE* pNode = store.CreateFileNode(sizeof(FILE_NODE));
        EXPECT_NE(pNode, nullptr);
        pNode->bIsDir = bDir ? 1 : 0;
        pNode->nDataHealth = nHealth;
        pNode->nClusterNo = nClusterNo;
        pNode->nFileIndex = store.GetFileIndex();
        std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), "%s", pName);
        store.AddChildren(nParentKey, nDepth, pNode->nFileIndex, nClusterNo,
                          bDir ? pName : nullptr);
        return pNode->nFileIndex;
    }

    static std::vector<std::string> Names(const std::vector<FILE_NODE>& vecNodes) {
        std::vector<std::string> vecNames;
        for (const FILE_NODE& node : vecNodes)
            vecNames.emplace_back(node.szFileName);
        return vecNames;
    }

    static std::string ParentPath(CScanResultFileManager& store, const FILE_NODE& node) {
        char16_t szPath[512];
        EXPECT_EQ(store.GetParentDirPath(&node, szPath, 512), 0);
        return Unicode2Ansi(szPath);
    }

    CScanLogDirScope m_scope;
};

TEST_F(StoreTest, BufferFlushesWhenFullAndReopenListsSameChildren) {
    std::vector<FILE_NODE> vecBefore;
    {
        CScanResultFileManager store;
        ASSERT_EQ(store.Init(u"Fast_2048_2024139 5"), 0);
        for (int i = 0; i < 200; ++i)
            AddNode(store, ("f" + std::to_string(i) + ".txt").c_str(), false, ROOT_KEY, 0);
        struct stat st;
        ASSERT_EQ(stat(store.GetNodeFilePath().c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);
        AddNode(store, "last.txt", false, ROOT_KEY, 0);
        ASSERT_EQ(stat(store.GetNodeFilePath().c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 68800);
        EXPECT_EQ(store.GetFileIndex(), 201u);
        // The 201st node is still buffered but listed all the same.
        ASSERT_EQ(store.GetChildrenFileNode(ROOT_KEY, vecBefore), 0);
        EXPECT_EQ(vecBefore.size(), 201u);
    }
    CScanResultFileManager reopened;
    ASSERT_EQ(reopened.Init(u"Fast_2048_2024139 5"), 0);
    EXPECT_EQ(reopened.GetFileIndex(), 201u);
    std::vector<FILE_NODE> vecAfter;
    ASSERT_EQ(reopened.GetChildrenFileNode(ROOT_KEY, vecAfter), 0);
    ASSERT_EQ(vecAfter.size(), vecBefore.size());
    EXPECT_EQ(std::memcmp(vecAfter.data(), vecBefore.data(), vecAfter.size() * sizeof(FILE_NODE)),
              0);
    // New nodes of a reopened store continue the numbering.
    EXPECT_EQ(AddNode(reopened, "more.txt", false, ROOT_KEY, 0), 202u);
}

TEST_F(StoreTest, KeyZeroPicksLowestKeyAndDepthKeysStaySeparate) {
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"keys"), 0);
    AddNode(store, "top.txt", false, ROOT_KEY, 0);
    AddNode(store, "deep.txt", false, ROOT_KEY, 1);
    std::vector<FILE_NODE> vecTop, vecDeep, vecMissing;
    ASSERT_EQ(store.GetChildrenFileNode(0, vecTop), 0);
    EXPECT_EQ(Names(vecTop), std::vector<std::string>{"top.txt"});
    ASSERT_EQ(store.GetChildrenFileNode(MakeRelationKey(1, ROOT_KEY), vecDeep), 0);
    EXPECT_EQ(Names(vecDeep), std::vector<std::string>{"deep.txt"});
    EXPECT_TRUE(store.IsDirFileNodeExist(ROOT_KEY, 1));
    EXPECT_FALSE(store.IsDirFileNodeExist(ROOT_KEY, 2));
    // Asking for an absent key leaves the lowest key alone.
    ASSERT_EQ(store.GetChildrenFileNode(3, vecMissing), 0);
    EXPECT_TRUE(vecMissing.empty());
    EXPECT_FALSE(store.IsDirFileNodeExist(3, 0));
    vecTop.clear();
    ASSERT_EQ(store.GetChildrenFileNode(0, vecTop), 0);
    EXPECT_EQ(Names(vecTop), std::vector<std::string>{"top.txt"});
}

TEST_F(StoreTest, DamagedPicturesHiddenButCountedAndOrderIsFilesFirstCaseless) {
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"pictures"), 0);
    AddNode(store, "broken.jpg", false, ROOT_KEY, 0, 0, 0);
    AddNode(store, "b.txt", false, ROOT_KEY, 0);
    AddNode(store, "A.txt", false, ROOT_KEY, 0);
    AddNode(store, "noext", false, ROOT_KEY, 0, 0, 0);
    AddNode(store, "Album", true, ROOT_KEY, 0, 40);
    AddNode(store, "inner.JPG", false, 40, 1);
    AddNode(store, "damaged.png", false, 40, 1, 0, 0);

    std::vector<FILE_NODE> vecTop;
    ASSERT_EQ(store.GetChildrenFileNode(ROOT_KEY, vecTop), 0);
    EXPECT_EQ(Names(vecTop), (std::vector<std::string>{"A.txt", "b.txt", "noext", "Album"}));
    unsigned int nCount = 0;
    ASSERT_EQ(store.GetChildrenFileCount(ROOT_KEY, nCount), 0);
    EXPECT_EQ(nCount, 6u);

    std::vector<SEARCH_FILE_INFO> vecHits;
    ASSERT_EQ(store.SearchFileNodeInfo(u"*.jpg|*.png|", vecHits), 0);
    EXPECT_EQ(Names(vecHits), std::vector<std::string>{"inner.JPG"});
}

TEST_F(StoreTest, SearchUsesSubstringRulesAndOtherMode) {
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"search"), 0);
    AddNode(store, "song.rm", false, ROOT_KEY, 0);
    AddNode(store, "clip.rmvb", false, ROOT_KEY, 0);
    AddNode(store, "data.xyz", false, ROOT_KEY, 0);
    AddNode(store, "README", false, ROOT_KEY, 0);
    AddNode(store, "zeta.doc", false, ROOT_KEY, 0);
    AddNode(store, "Folder.rm", true, ROOT_KEY, 0, 9);

    std::vector<SEARCH_FILE_INFO> vecVideo;
    ASSERT_EQ(store.SearchFileNodeInfo(u"*.rmvb|", vecVideo), 0);
    EXPECT_EQ(Names(vecVideo), (std::vector<std::string>{"clip.rmvb", "song.rm"}));

    std::vector<SEARCH_FILE_INFO> vecOther;
    ASSERT_EQ(store.SearchFileNodeInfo(u"*.other|", vecOther), 0);
    EXPECT_EQ(Names(vecOther), (std::vector<std::string>{"data.xyz", "README"}));
}

// The cursor holds node numbers only; it must hand out exactly the vector form's hits, in the
// same order (equal names keep store order), flushed or still buffered, and again after Rewind.
TEST_F(StoreTest, SearchCursorYieldsTheVectorFormsHitsInOrder) {
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"cursor"), 0);
    for (int i = 0; i < 530; ++i) {
        std::string strName = (i % 3 == 0 ? "Z" : "z") + std::to_string((i * 7919) % 101) +
                              (i % 5 == 0 ? ".txt" : ".doc");
        AddNode(store, strName.c_str(), i % 50 == 0, ROOT_KEY, 0);
    }
    std::vector<SEARCH_FILE_INFO> vecHits;
    ASSERT_EQ(store.SearchFileNodeInfo(u"*.doc|", vecHits), 0);
    AddNode(store, "late.doc", false, ROOT_KEY, 0);
    vecHits.clear();
    ASSERT_EQ(store.SearchFileNodeInfo(u"*.doc|", vecHits), 0);
    std::unique_ptr<ISearchCursor> pCursor;
    ASSERT_EQ(store.OpenSearchCursor(u"*.doc|", pCursor), 0);
    for (int nPass = 0; nPass < 2; ++nPass) {
        std::vector<SEARCH_FILE_INFO> vecStreamed;
        EXPECT_EQ(pCursor->AppendRemaining(vecStreamed), 0);
        ASSERT_EQ(vecStreamed.size(), vecHits.size());
        for (size_t i = 0; i < vecHits.size(); ++i)
            EXPECT_EQ(vecStreamed[i].nFileIndex, vecHits[i].nFileIndex) << i;
        pCursor->Rewind();
    }
}

TEST_F(StoreTest, SearchCallbackStopsTheSearch) {
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"cancel"), 0);
    for (int i = 0; i < 450; ++i)
        AddNode(store, "x.doc", false, ROOT_KEY, 0);
    std::vector<int> vecPercents;
    store.InitSearchCallBack(
        [](void* pParam, int nPercent, const char16_t*) {
            auto* pVec = static_cast<std::vector<int>*>(pParam);
            pVec->push_back(nPercent);
            return pVec->size() == 2 ? 7 : 0;
        },
        &vecPercents);
    std::vector<SEARCH_FILE_INFO> vecHits;
    EXPECT_EQ(store.SearchFileNodeInfo(u"*.doc|", vecHits), 7);
    EXPECT_EQ(vecHits.size(), 400u);
    EXPECT_EQ(vecPercents, (std::vector<int>{44, 88}));
    vecPercents.clear();
    std::unique_ptr<ISearchCursor> pCursor;
    EXPECT_EQ(store.OpenSearchCursor(u"*.doc|", pCursor), 7);
    vecHits.clear();
    EXPECT_EQ(pCursor->AppendRemaining(vecHits), 0);
    EXPECT_EQ(vecHits.size(), 400u);
}

TEST_F(StoreTest, ParentPathsThroughFoldersLostFolderAndCycles) {
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"paths"), 0);
    AddNode(store, "Docs", true, ROOT_KEY, 0, 10);
    AddNode(store, "Work", true, 10, 1, 11);
    uint32_t nFile = AddNode(store, "plan.txt", false, 11, 2);
    AddNode(store, "orphan.txt", false, 77, 3);
    uint32_t nTop = AddNode(store, "top.txt", false, ROOT_KEY, 0);

    FILE_NODE node;
    ASSERT_EQ(store.ReadFileNode(nFile, &node), 0);
    EXPECT_EQ(ParentPath(store, node), "Docs/Work/");
    ASSERT_EQ(store.ReadFileNode(nTop, &node), 0);
    EXPECT_EQ(ParentPath(store, node), "");
    ASSERT_EQ(store.ReadFileNode(4, &node), 0);
    EXPECT_EQ(ParentPath(store, node), "LostFolder77/");

    // Two folders filed inside each other: the walk ends instead of looping.
    CScanResultFileManager loop;
    ASSERT_EQ(loop.Init(u"loop"), 0);
    AddNode(loop, "top.txt", false, 1, 0);
    AddNode(loop, "A", true, 21, 1, 20);
    AddNode(loop, "B", true, 20, 1, 21);
    uint32_t nInner = AddNode(loop, "in.txt", false, 20, 2);
    ASSERT_EQ(loop.ReadFileNode(nInner, &node), 0);
    EXPECT_EQ(ParentPath(loop, node), "B/A/");
}

TEST_F(StoreTest, SharedFolderKeysCountOncePerFolderWithoutRewalking) {
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"shared"), 0);
    // Every level holds two folders with the same key: 2^30 paths lead to the last file.
    constexpr uint32_t LEVELS = 30;
    for (uint32_t nDepth = 0; nDepth < LEVELS; ++nDepth) {
        uint32_t nParent = nDepth == 0 ? ROOT_KEY : 100 + nDepth - 1;
        AddNode(store, "twin", true, nParent, nDepth, 100 + nDepth);
        AddNode(store, "twin", true, nParent, nDepth, 100 + nDepth);
    }
    AddNode(store, "leaf.txt", false, 100 + LEVELS - 1, LEVELS);
    unsigned int nCount = 0;
    ASSERT_EQ(store.GetChildrenFileCount(ROOT_KEY, nCount), 0);
    EXPECT_EQ(nCount, 1u << LEVELS);
}

TEST_F(StoreTest, NodesPastFourGibibytesAreReadAtTheirOwnOffset) {
    // Node 12,485,372 is the first whose offset does not fit in 32 bits.
    constexpr uint32_t FAR_INDEX = 12485372;
    constexpr uint64_t FAR_OFFSET = uint64_t(FAR_INDEX - 1) * sizeof(FILE_NODE);
    static_assert(FAR_OFFSET > UINT32_MAX);
    std::string strDir = CLogFileManager::GetInstance()->GetLogFileDirPath();
    ASSERT_EQ(CLogFileManager::MakeLogDir(strDir), 0);
    FILE_NODE far{};
    far.nFileIndex = FAR_INDEX;
    far.nDataHealth = 1;
    std::snprintf(far.szFileName, sizeof(far.szFileName), "far.txt");
    std::vector<uint8_t> vecFar(sizeof(far));
    std::memcpy(vecFar.data(), &far, sizeof(far));
    ASSERT_TRUE(WriteFileBytes(strDir + "big", {}));
    ASSERT_TRUE(PatchFileBytes(strDir + "big", FAR_OFFSET, vecFar)); // sparse below

    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"big"), 0);
    ASSERT_EQ(store.GetFileIndex(), FAR_INDEX);
    uint32_t nNext = AddNode(store, "next.txt", false, ROOT_KEY, 0);
    EXPECT_EQ(nNext, FAR_INDEX + 1);
    store.AddChildren(ROOT_KEY, 0, FAR_INDEX, 0, nullptr);
    ASSERT_EQ(store.FlushBufToFile(), 0);

    std::vector<FILE_NODE> vecTop;
    ASSERT_EQ(store.GetChildrenFileNode(ROOT_KEY, vecTop), 0);
    EXPECT_EQ(Names(vecTop), (std::vector<std::string>{"far.txt", "next.txt"}));
    struct stat st;
    ASSERT_EQ(stat(store.GetNodeFilePath().c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), FAR_OFFSET + 2 * sizeof(FILE_NODE));
}

TEST_F(StoreTest, DamagedRelationFileReportedByInit) {
    std::string strDir = CLogFileManager::GetInstance()->GetLogFileDirPath();
    {
        CScanResultFileManager store;
        ASSERT_EQ(store.Init(u"damaged"), 0);
        for (uint32_t nParent : {5, 5, 8})
            AddNode(store, "n.txt", false, nParent, 0);
    }
    std::string strRelation = strDir + "damaged_Relation";
    ASSERT_EQ(ReadFileBytes(strRelation).size(), std::string(" | 5 - [1,2] | 8 - [3]").size());
    ASSERT_TRUE(PatchFileBytes(strRelation, 17, {'?'}));

    CScanResultFileManager store;
    EXPECT_EQ(store.Init(u"damaged"), ERROR_FILE_CORRUPT);
    std::vector<FILE_NODE> vecNodes;
    ASSERT_EQ(store.GetChildrenFileNode(5, vecNodes), 0);
    EXPECT_EQ(vecNodes.size(), 2u);
    EXPECT_EQ(store.Init(u"../escape"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(store.CreateFileNode(100), nullptr);
}

TEST_F(StoreTest, ChildrenPastTheWrittenNodesAreSkipped) {
    std::string strDir = CLogFileManager::GetInstance()->GetLogFileDirPath();
    ASSERT_EQ(CLogFileManager::MakeLogDir(strDir), 0);
    // The relation file names nodes that a stopped scan never wrote.
    std::string strText = " | 5 - [1,2,7]";
    ASSERT_TRUE(WriteFileBytes(strDir + "short_Relation",
                               std::vector<uint8_t>(strText.begin(), strText.end())));
    FILE_NODE node{};
    node.nDataHealth = 1;
    std::vector<uint8_t> vecNodes(sizeof(FILE_NODE) * 2 + 20);
    for (int i = 0; i < 2; ++i) {
        node.nFileIndex = i + 1;
        std::memset(node.szFileName, 'z', sizeof(node.szFileName)); // no terminator on disk
        std::memcpy(vecNodes.data() + i * sizeof(FILE_NODE), &node, sizeof(node));
    }
    ASSERT_TRUE(WriteFileBytes(strDir + "short", vecNodes));

    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"short"), 0);
    EXPECT_EQ(store.GetFileIndex(), 2u);
    std::vector<FILE_NODE> vecOut;
    ASSERT_EQ(store.GetChildrenFileNode(5, vecOut), 0);
    ASSERT_EQ(vecOut.size(), 2u);
    EXPECT_EQ(std::strlen(vecOut[0].szFileName), 255u);
    unsigned int nCount = 0;
    ASSERT_EQ(store.GetChildrenFileCount(5, nCount), 0);
    EXPECT_EQ(nCount, 2u);
}

} // namespace
