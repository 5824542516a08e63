// Folder copy over an in-memory engine: breadth-first order, groups, free names, stops.
#include "engine/CFolderRecoveryQueue.h"

#include "fixtures/FixtureUtil.h"
#include "util/CSafeOutputFile.h"
#include "util/TextUtil.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <vector>

namespace {

FILE_NODE MakeNode(uint32_t nIndex, uint32_t nCluster, bool bDir, const char* pName) {
    FILE_NODE node{};
    node.nFileIndex = nIndex;
    node.nClusterNo = nCluster;
    node.bIsDir = bDir ? 1 : 0;
    std::snprintf(node.szFileName, sizeof(node.szFileName), "%s", pName);
    return node;
}

// Children filed under (group << 32 | cluster), as the engines file them.
class CTreeEngine : public IFileRecoveryParse {
public:
    std::map<uint64_t, std::vector<FILE_NODE>> m_mapChildren;
    std::map<uint32_t, unsigned int> m_mapGroup; // folder cluster -> group of its children
    std::vector<uint64_t> m_vecAskedKeys;
    std::vector<std::string> m_vecSaved;
    std::string m_strCancelAt;
    std::string m_strFailAt;

    CFolderRecoveryQueue m_queue{
        *this, [this](FILE_NODE* pNode, const char16_t* pPath) { return SaveFile(pNode, pPath); },
        [this](const FILE_NODE& folder) { return m_mapGroup[folder.nClusterNo]; }};

    void Add(unsigned int nGroup, uint32_t nParent, const FILE_NODE& child) {
        m_mapChildren[uint64_t(nGroup) << 32 | nParent].push_back(child);
        if (child.bIsDir)
            m_mapGroup[child.nClusterNo] = nGroup + 1;
    }

    int SaveFile(FILE_NODE* pNode, const char16_t* pPath) {
        std::string strPath = Unicode2Ansi(pPath);
        if (!m_strCancelAt.empty() && strPath.ends_with(m_strCancelAt))
            return ERROR_CANCELLED_BY_USER;
        if (!m_strFailAt.empty() && strPath.ends_with(m_strFailAt))
            return EIO;
        m_vecSaved.push_back(strPath);
        CSafeOutputFile file;
        if (int rc = file.Create(strPath); rc != 0)
            return rc;
        if (int rc = file.Write(pNode->szFileName, std::strlen(pNode->szFileName)); rc != 0)
            return rc;
        return file.Commit();
    }

    int GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                            std::vector<FILE_NODE>& vec) override {
        uint64_t key = uint64_t(nDepth) << 32 | pParent->nClusterNo;
        m_vecAskedKeys.push_back(key);
        auto it = m_mapChildren.find(key);
        if (it != m_mapChildren.end())
            vec.insert(vec.end(), it->second.begin(), it->second.end());
        return 0;
    }

    int Init(int, long long, long long, char16_t) override { return 0; }
    int Init(const char16_t*, char16_t) override { return 0; }
    int InitCallBack(ScanProgressCallback, RecoveryProgressCallback, void*, int) override {
        return 0;
    }
    int ScanDevice(const char16_t*) override { return 0; }
    int GetChildrenFileCount(FILE_NODE*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(FILE_NODE*, char16_t*, int) override { return 0; }
    int SaveFileData(FILE_NODE*, const char16_t*, int) override { return 0; }
    int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    int InitSearchCallBack(SearchProgressCallback, void*) override { return 0; }
    int SearchFileNode(const char16_t*, std::vector<SEARCH_FILE_INFO>&) override { return 0; }
    int BuildBitMapInfo() override { return 0; }
    int PreView(FILE_NODE*, char16_t*, unsigned char*, int&, PreviewProgressCallback,
                void*) override {
        return 0;
    }
};

// docs (depth 1, cluster 10) holds two files and two deleted folders of the same name; the first
// holds a file and a folder with a hostile name.
class FolderRecoveryQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_engine.m_mapGroup[10] = 1;
        m_engine.Add(1, 10, MakeNode(2, 20, false, "a.txt"));
        m_engine.Add(1, 10, MakeNode(3, 21, false, "b.txt"));
        m_engine.Add(1, 10, MakeNode(4, 11, true, "!OLD"));
        m_engine.Add(1, 10, MakeNode(5, 12, true, "!OLD"));
        m_engine.Add(2, 11, MakeNode(6, 22, false, "c.txt"));
        m_engine.Add(2, 11, MakeNode(7, 13, true, "../x/.."));
        m_engine.Add(3, 13, MakeNode(8, 23, false, "d.txt"));
        m_engine.Add(2, 12, MakeNode(9, 24, false, "c.txt"));
    }

    int Save(const std::string& strTarget) {
        return m_engine.m_queue.SaveFolder(m_docs, Ansi2Unicode(strTarget.c_str()).c_str());
    }

    CTempDir m_dir;
    CTreeEngine m_engine;
    FILE_NODE m_docs = MakeNode(1, 10, true, "docs");
};

TEST_F(FolderRecoveryQueueTest, WritesTreeBreadthFirstWithEachFoldersGroupAndEachFolderOnce) {
    // The extra "others" level must not shift the groups: they come from the tree, not the path.
    // The deepest folder lists the first !OLD again: it is not copied a second time.
    m_engine.m_mapChildren[3ull << 32 | 13].push_back(MakeNode(4, 11, true, "back"));
    std::string strTarget = m_dir.File("others/docs");
    ASSERT_EQ(0, MakeRecoveryDir(m_dir.File("others")));
    ASSERT_EQ(0, Save(strTarget));

    std::vector<uint64_t> expectKeys = {1ull << 32 | 10, 2ull << 32 | 11, 2ull << 32 | 12,
                                        3ull << 32 | 13};
    EXPECT_EQ(expectKeys, m_engine.m_vecAskedKeys);
    EXPECT_EQ("a.txt", ReadFileText(strTarget + "/a.txt"));
    EXPECT_EQ("b.txt", ReadFileText(strTarget + "/b.txt"));
    EXPECT_EQ("c.txt", ReadFileText(strTarget + "/!OLD/c.txt"));
    EXPECT_EQ("c.txt", ReadFileText(strTarget + "/!OLD(1)/c.txt"));
    EXPECT_EQ("d.txt", ReadFileText(strTarget + "/!OLD/.._x_../d.txt"));
    EXPECT_FALSE(std::filesystem::exists(strTarget + "/!OLD/.._x_../back"));

    struct stat st;
    ASSERT_EQ(0, stat((strTarget + "/!OLD").c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 0777);
}

TEST_F(FolderRecoveryQueueTest, TakenNamesGetTheNextFreeNameAndAreLeftUntouched) {
    std::string strTarget = m_dir.File("docs");
    ASSERT_EQ(0, MakeRecoveryDir(strTarget));
    ASSERT_TRUE(WriteFileBytes(strTarget + "/a.txt", {'o', 'l', 'd'}));

    ASSERT_EQ(0, Save(strTarget));
    EXPECT_EQ("old", ReadFileText(strTarget + "/a.txt"));
    EXPECT_EQ("a.txt", ReadFileText(strTarget + "/a(1).txt"));

    ASSERT_EQ(0, Save(strTarget));
    EXPECT_EQ("a.txt", ReadFileText(strTarget + "/a(2).txt"));
    EXPECT_EQ("c.txt", ReadFileText(strTarget + "/!OLD(2)/c.txt"));
}

TEST_F(FolderRecoveryQueueTest, CancelStopsAtOnceAndTheNextCopyStartsAfresh) {
    m_engine.m_strCancelAt = "/b.txt";
    EXPECT_EQ(ERROR_CANCELLED_BY_USER, Save(m_dir.File("first")));
    EXPECT_EQ(1u, m_engine.m_vecSaved.size());

    m_engine.m_strCancelAt.clear();
    m_engine.m_vecAskedKeys.clear();
    FILE_NODE other = MakeNode(9, 12, true, "other");
    ASSERT_EQ(
        0, m_engine.m_queue.SaveFolder(other, Ansi2Unicode(m_dir.File("second").c_str()).c_str()));
    std::vector<uint64_t> expectKeys = {2ull << 32 | 12};
    EXPECT_EQ(expectKeys, m_engine.m_vecAskedKeys);
}

TEST_F(FolderRecoveryQueueTest, AFailedFileIsReportedAndTheOthersAreStillWritten) {
    m_engine.m_strFailAt = "/a.txt";
    EXPECT_EQ(EIO, Save(m_dir.File("docs")));
    EXPECT_EQ("b.txt", ReadFileText(m_dir.File("docs/b.txt")));
    EXPECT_EQ("d.txt", ReadFileText(m_dir.File("docs/!OLD/.._x_../d.txt")));
}

} // namespace
