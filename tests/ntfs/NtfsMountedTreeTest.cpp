// Fast NTFS scan of real deletions made through the ntfs-3g driver: folder tree and groups, a
// reused parent record, long and DOS names, fragmented and sparse files, folder copy, free map.
#include "NtfsTestUtil.h"

#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sys/xattr.h>

namespace {

constexpr uint64_t IMAGE_BYTES = 32 << 20;
constexpr int CLUSTER_BYTES = 4096;
constexpr uint32_t HUGE_FRAGMENTS = 400;
const std::string FAILED = "fixture failed: ";

bool AppendFileBytes(const std::string& strPath, const std::vector<uint8_t>& vecBytes) {
    std::ofstream file(strPath, std::ios::binary | std::ios::app);
    file.write(reinterpret_cast<const char*>(vecBytes.data()), vecBytes.size());
    return static_cast<bool>(file);
}

// Files written in the first mount; the paths removed in the second; one file in the third.
class CNtfsMountedTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pDir = new CTempDir();
        s_pBuilder = new CNtfsImageBuilder(s_pDir->File("tree.img"));
        s_pFiles = new std::map<std::string, std::vector<uint8_t>>();
        s_strSkip = Build();
    }
    static void TearDownTestSuite() {
        delete s_pFiles;
        delete s_pBuilder;
        delete s_pDir;
    }
    void SetUp() override {
        if (s_strSkip.rfind(FAILED, 0) == 0)
            FAIL() << s_strSkip;
        if (!s_strSkip.empty())
            SKIP_WITHOUT(s_strSkip);
        m_pEngine = ScanNtfsImage(s_pBuilder->Image());
        ASSERT_TRUE(m_pEngine);
    }

    static bool Put(const std::string& strMount, const std::string& strPath, size_t nBytes,
                    uint32_t nSeed) {
        (*s_pFiles)[strPath] = PatternBytes(nBytes, nSeed);
        return WriteFileBytes(strMount + "/" + strPath, (*s_pFiles)[strPath]);
    }

    // "" when the image was built, else why the tests skip.
    static std::string Build() {
        if (!HaveTool("mkntfs") || !s_pBuilder->Format(IMAGE_BYTES, CLUSTER_BYTES))
            return FAILED + "mkntfs not usable";
        std::string strMount = s_pDir->File("mnt");
        std::string strWhy;
        auto pMount = CNtfsImageMount::Mount(s_pBuilder->Image(), strMount, strWhy);
        if (!pMount)
            return "ntfs-3g mount tests skipped: " + strWhy;
        const std::string& m = strMount;
        bool bOk = RunShell("mkdir -p " + ShellQuote(m + "/R") + " " + ShellQuote(m + "/A/B") +
                            " " + ShellQuote(m + "/C") + " " + ShellQuote(m + "/album.jpg")) &&
                   Put(m, "album.jpg/pic.txt", 700, 22) && Put(m, "R/lost.txt", 300, 11) &&
                   Put(m, "A/a1.txt", 1000, 12) && Put(m, "A/a2.txt", 20000, 13) &&
                   Put(m, "A/B/deep.txt", 50000, 14) && Put(m, "C/c.txt", 3000, 15) &&
                   Put(m, "C/stay.bin", 20000, 16) && Put(m, "top.txt", 4000, 17) &&
                   Put(m, "Long File Name.txt", 500, 18);
        bOk = bOk && setxattr((m + "/Long File Name.txt").c_str(), "system.ntfs_dos_name",
                              "LONGFI~1.TXT", 12, 0) == 0;
        // Appending to two files in turn interleaves their clusters.
        std::vector<uint8_t> vecFrag;
        for (uint32_t i = 0; bOk && i < 6; ++i) {
            std::vector<uint8_t> vecA = PatternBytes(CLUSTER_BYTES, 100 + i);
            std::vector<uint8_t> vecB = PatternBytes(CLUSTER_BYTES, 200 + i);
            vecFrag.insert(vecFrag.end(), vecA.begin(), vecA.end());
            bOk = AppendFileBytes(m + "/frag.bin", vecA) && AppendFileBytes(m + "/other.bin", vecB);
        }
        (*s_pFiles)["frag.bin"] = vecFrag;
        // Hundreds of fragments: its name and part of its data move to extension records
        // behind an attribute list, and the run list left in its base record passes 512 bytes.
        std::vector<uint8_t> vecHuge;
        for (uint32_t i = 0; bOk && i < HUGE_FRAGMENTS; ++i) {
            std::vector<uint8_t> vecA = PatternBytes(CLUSTER_BYTES, 1000 + i);
            vecHuge.insert(vecHuge.end(), vecA.begin(), vecA.end());
            bOk = AppendFileBytes(m + "/huge.bin", vecA) &&
                  AppendFileBytes(m + "/huge-other.bin", vecA);
        }
        (*s_pFiles)["huge.bin"] = vecHuge;
        // 64 KiB of data, a 256 KiB hole, 64 KiB of data.
        std::vector<uint8_t> vecSparse = PatternBytes(65536, 19);
        vecSparse.resize(65536 + 262144, 0);
        std::vector<uint8_t> vecTail = PatternBytes(65536, 20);
        vecSparse.insert(vecSparse.end(), vecTail.begin(), vecTail.end());
        (*s_pFiles)["sparse.bin"] = vecSparse;
        std::string strHost = s_pDir->File("sparse.host");
        bOk = bOk && WriteFileBytes(strHost, vecSparse) &&
              RunShell("cp --sparse=always " + ShellQuote(strHost) + " " +
                       ShellQuote(m + "/sparse.bin"));
        if (!bOk || !pMount->Unmount())
            return FAILED + "could not fill the mounted image";
        if (s_pBuilder->GetDataRuns(s_pBuilder->GetRecordNumber("/frag.bin")).size() < 2)
            return FAILED + "frag.bin did not fragment";
        if (ShellOutput("ntfsinfo -F /huge.bin " + ShellQuote(s_pBuilder->Image()))
                .find("$ATTRIBUTE_LIST") == std::string::npos)
            return FAILED + "huge.bin has no attribute list";
        s_llReusedRecord = s_pBuilder->GetRecordNumber("/R");

        pMount = CNtfsImageMount::Mount(s_pBuilder->Image(), strMount, strWhy);
        if (!pMount ||
            !RunShell("cd " + ShellQuote(m) +
                      " && rm -rf A R && rm C/c.txt top.txt 'Long File Name.txt' frag.bin "
                      "sparse.bin album.jpg/pic.txt") ||
            !pMount->Unmount())
            return FAILED + "could not delete in the mounted image";
        // A new mount hands out the lowest free record first: the one R had.
        pMount = CNtfsImageMount::Mount(s_pBuilder->Image(), strMount, strWhy);
        if (!pMount || !WriteFileBytes(m + "/reuse.txt", PatternBytes(50, 21)) ||
            !pMount->Unmount())
            return FAILED + "could not reuse a record";
        if (s_pBuilder->GetRecordNumber("/reuse.txt") != s_llReusedRecord)
            return FAILED + "ntfs-3g did not reuse the folder's record";
        // ntfs-3g strips the names out of extension records when it deletes; marking the
        // base record alone deleted keeps them, as a deletion by Windows does.
        if (!s_pBuilder->DeleteInPlace("/huge.bin"))
            return FAILED + "could not delete huge.bin in place";
        return "";
    }

    void ExpectRecovered(const FILE_NODE& node, const std::string& strPath) {
        CTempDir out;
        int rc = -1;
        std::vector<uint8_t> vecData = RecoverNode(*m_pEngine, node, out.Path(), rc);
        EXPECT_EQ(rc, 0) << strPath;
        EXPECT_TRUE(vecData == (*s_pFiles)[strPath]) << strPath << ": " << vecData.size();
    }

    static CTempDir* s_pDir;
    static CNtfsImageBuilder* s_pBuilder;
    static std::map<std::string, std::vector<uint8_t>>* s_pFiles;
    static std::string s_strSkip;
    static int64_t s_llReusedRecord;

    CScanLogDirScope m_scanLog;
    std::unique_ptr<CFastNtfsRecovery> m_pEngine;
};

CTempDir* CNtfsMountedTree::s_pDir = nullptr;
CNtfsImageBuilder* CNtfsMountedTree::s_pBuilder = nullptr;
std::map<std::string, std::vector<uint8_t>>* CNtfsMountedTree::s_pFiles = nullptr;
std::string CNtfsMountedTree::s_strSkip;
int64_t CNtfsMountedTree::s_llReusedRecord = -1;

} // namespace

TEST_F(CNtfsMountedTree, BuildsTheFolderTreeWithDepthGroups) {
    std::vector<FILE_NODE> vecTop = ListChildren(*m_pEngine, nullptr, 0);
    std::string strLost = "LostFolder" + std::to_string(s_llReusedRecord);
    EXPECT_EQ(NodeNames(vecTop),
              (std::vector<std::string>{"frag.bin", "huge.bin", "Long File Name.txt", "sparse.bin",
                                        "top.txt", "A", "album.jpg", "C", strLost}));
    const FILE_NODE* pA = FindNode(vecTop, "A");
    ASSERT_NE(pA, nullptr);
    EXPECT_EQ(pA->bIsDir, 1u);
    FILE_NODE a = *pA;
    std::vector<FILE_NODE> vecA = ListChildren(*m_pEngine, &a, 1);
    EXPECT_EQ(NodeNames(vecA), (std::vector<std::string>{"a1.txt", "a2.txt", "B"}));
    ASSERT_NE(FindNode(vecA, "B"), nullptr);
    FILE_NODE b = *FindNode(vecA, "B");
    std::vector<FILE_NODE> vecB = ListChildren(*m_pEngine, &b, 2);
    ASSERT_EQ(NodeNames(vecB), std::vector<std::string>{"deep.txt"});
    EXPECT_EQ(ParentPath(*m_pEngine, vecB[0]), "A/B/");
    EXPECT_EQ(vecB[0].u64FileSize, 50000u);
    EXPECT_TRUE(ListChildren(*m_pEngine, &b, 1).empty());

    // A folder is never judged as a picture, whatever its name says.
    ASSERT_NE(FindNode(vecTop, "album.jpg"), nullptr);
    FILE_NODE album = *FindNode(vecTop, "album.jpg");
    EXPECT_EQ(NodeNames(ListChildren(*m_pEngine, &album, 1)), std::vector<std::string>{"pic.txt"});
    FILE_NODE c = *FindNode(vecTop, "C");
    EXPECT_EQ(NodeNames(ListChildren(*m_pEngine, &c, 1)), std::vector<std::string>{"c.txt"});
    unsigned int nCount = 0;
    EXPECT_EQ(m_pEngine->GetChildrenFileCount(&a, 1, nCount), 0);
    EXPECT_EQ(nCount, 3u);
}

TEST_F(CNtfsMountedTree, ReusedParentRecordBecomesALostFolderHoldingTheFile) {
    std::vector<FILE_NODE> vecTop = ListChildren(*m_pEngine, nullptr, 0);
    const FILE_NODE* pLost = FindNode(vecTop, "LostFolder" + std::to_string(s_llReusedRecord));
    ASSERT_NE(pLost, nullptr);
    EXPECT_EQ(pLost->bIsDir, 1u);
    EXPECT_EQ(pLost->nClusterBytes, CLUSTER_BYTES_NONE);
    EXPECT_EQ(pLost->nClusterNo, static_cast<uint32_t>(s_llReusedRecord));
    FILE_NODE lost = *pLost;
    std::vector<FILE_NODE> vecLost = ListChildren(*m_pEngine, &lost, 1);
    ASSERT_EQ(NodeNames(vecLost), std::vector<std::string>{"lost.txt"});
    ExpectRecovered(vecLost[0], "R/lost.txt");
    EXPECT_EQ(FindNode(vecTop, "reuse.txt"), nullptr);
}

TEST_F(CNtfsMountedTree, RecoversFragmentedSparseAndLongNamedFiles) {
    std::vector<FILE_NODE> vecTop = ListChildren(*m_pEngine, nullptr, 0);
    for (const char* pName :
         {"frag.bin", "huge.bin", "sparse.bin", "top.txt", "Long File Name.txt"}) {
        const FILE_NODE* pNode = FindNode(vecTop, pName);
        ASSERT_NE(pNode, nullptr) << pName;
        ExpectRecovered(*pNode, pName);
    }
}

TEST_F(CNtfsMountedTree, FolderCopyWritesTheWholeSubtree) {
    std::vector<FILE_NODE> vecTop = ListChildren(*m_pEngine, nullptr, 0);
    FILE_NODE a = *FindNode(vecTop, "A");
    CTempDir out;
    std::string strTarget = out.File("copy");
    EXPECT_EQ(m_pEngine->SaveFileData(&a, Ansi2Unicode(strTarget.c_str()).c_str(), 0), 0);
    for (const char* pPath : {"A/a1.txt", "A/a2.txt", "A/B/deep.txt"})
        EXPECT_TRUE(ReadFileBytes(strTarget + "/" + (pPath + 2)) == (*s_pFiles)[pPath]) << pPath;
}

TEST_F(CNtfsMountedTree, FreeRunsAgreeWithTheClustersInUse) {
    ASSERT_EQ(m_pEngine->BuildBitMapInfo(), 0);
    const uint64_t u64Sectors = IMAGE_BYTES / 512;
    const uint64_t u64PerCluster = CLUSTER_BYTES / 512;
    std::vector<bool> vecFree(u64Sectors / u64PerCluster, false);
    unsigned long long u64Start = 0, u64Count = 0;
    uint64_t u64FreeSectors = 0;
    while (u64Start < u64Sectors) {
        EXPECT_EQ(m_pEngine->GetUnUsedSectorCount(u64Start, u64Count), 1);
        if (u64Count == 0)
            break;
        for (uint64_t s = u64Start; s < u64Start + u64Count; s += u64PerCluster)
            vecFree[s / u64PerCluster] = true;
        u64FreeSectors += u64Count;
        u64Start += u64Count;
    }
    EXPECT_EQ(u64FreeSectors / u64PerCluster, s_pBuilder->GetFreeClusters());
    u64Start = u64Sectors + 100;
    EXPECT_EQ(m_pEngine->GetUnUsedSectorCount(u64Start, u64Count), 1);
    EXPECT_EQ(u64Start, u64Sectors);
    EXPECT_EQ(u64Count, 0u);
    for (const NTFS_IMAGE_RUN& run :
         s_pBuilder->GetDataRuns(s_pBuilder->GetRecordNumber("/C/stay.bin")))
        for (uint64_t c = run.u64Lcn; c < run.u64Lcn + run.u64Length; ++c)
            EXPECT_FALSE(vecFree[c]) << "cluster in use reported free: " << c;
    for (const NTFS_IMAGE_RUN& run :
         s_pBuilder->GetDataRuns(s_pBuilder->GetRecordNumber("/other.bin")))
        for (uint64_t c = run.u64Lcn; c < run.u64Lcn + run.u64Length; ++c) {
            EXPECT_FALSE(vecFree[c]) << c;
            // frag.bin's clusters sat between these and were released.
            EXPECT_TRUE(c == 0 || vecFree[c - 1]) << c;
        }
}
