// Both NTFS engines on one volume written and pruned by the real ntfs-3g driver (skipped where
// FUSE cannot mount): folder trees and depth groups, a reused parent record, long and DOS names,
// fragmented, sparse and attribute-list files, a hundred files in nested folders, the free map,
// and the deep scan of the same volume with its boot sector zeroed.
#include "NtfsTestUtil.h"

#include "device/CDiskRegistry.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sys/xattr.h>

namespace {

constexpr uint64_t IMAGE_BYTES = 32 << 20;
constexpr int CLUSTER_BYTES = 4096;
constexpr uint64_t SECTOR = 512;
constexpr size_t RECORD = 1024;
constexpr uint32_t HUGE_FRAGMENTS = 400;
constexpr int BULK_FILES = 120;
constexpr int BULK_FOLDERS = 8;
constexpr int BULK_FRAGMENTED = 12;
const std::string FAILED = "fixture failed: ";

std::string BulkPath(int i) {
    return "dir" + std::to_string(i % BULK_FOLDERS) + (i % 3 == 1 ? "/sub" : "") + "/file" +
           std::to_string(i) + (i % 2 == 0 ? ".txt" : ".bin");
}

std::string FragmentedPath(int i) {
    return "dir" + std::to_string(i % BULK_FOLDERS) + "/sub/frag" + std::to_string(i) + ".bin";
}

class NtfsMountedTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pDir = new CTempDir();
        s_pBuilder = new CNtfsImageBuilder(s_pDir->File("tree.img"));
        s_strSkip = Build();
    }
    static void TearDownTestSuite() {
        delete s_pBuilder;
        delete s_pDir;
    }
    void SetUp() override {
        if (s_strSkip.rfind(FAILED, 0) == 0)
            FAIL() << s_strSkip;
        if (!s_strSkip.empty())
            SKIP_WITHOUT(s_strSkip);
    }

    static bool Put(const std::string& strMount, const std::string& strPath,
                    std::vector<uint8_t> vecBytes) {
        s_files[strPath] = std::move(vecBytes);
        return WriteFileBytes(strMount + "/" + strPath, s_files[strPath]);
    }
    static bool Append(const std::string& strMount, const std::string& strPath,
                       const std::vector<uint8_t>& vecChunk) {
        s_files[strPath].insert(s_files[strPath].end(), vecChunk.begin(), vecChunk.end());
        return AppendFileBytes(strMount + "/" + strPath, vecChunk);
    }

    // The files of the first mount; bIsLive tells whether the second one removed them.
    static bool WriteEverything(const std::string& m) {
        std::string strDirs = " " + ShellQuote(m + "/R") + " " + ShellQuote(m + "/A/B") + " " +
                              ShellQuote(m + "/C") + " " + ShellQuote(m + "/album.jpg");
        for (int f = 0; f < BULK_FOLDERS; ++f)
            strDirs += " " + ShellQuote(m + "/dir" + std::to_string(f) + "/sub");
        std::vector<uint8_t> vecBare = ReadFileBytes(TestDataPath("samples/sample_bare.jpg"));
        bool bOk = !vecBare.empty() && RunShell("mkdir -p" + strDirs) &&
                   Put(m, "album.jpg/pic.txt", PatternBytes(700, 22)) &&
                   Put(m, "R/lost.txt", PatternBytes(300, 11)) &&
                   Put(m, "A/a1.txt", PatternBytes(1000, 12)) &&
                   Put(m, "A/a2.txt", PatternBytes(20000, 13)) &&
                   Put(m, "A/B/deep.txt", PatternBytes(50000, 14)) &&
                   Put(m, "C/c.txt", PatternBytes(3000, 15)) &&
                   Put(m, "C/stay.bin", PatternBytes(20000, 16)) &&
                   Put(m, "top.txt", PatternBytes(4000, 17)) && Put(m, "bare.jpg", vecBare) &&
                   Put(m, "Long File Name.txt", PatternBytes(500, 18)) &&
                   setxattr((m + "/Long File Name.txt").c_str(), "system.ntfs_dos_name",
                            "LONGFI~1.TXT", 12, 0) == 0;
        // Appending to files in turn interleaves their clusters.
        for (uint32_t i = 0; bOk && i < 6; ++i)
            bOk = Append(m, "frag.bin", PatternBytes(CLUSTER_BYTES, 100 + i)) &&
                  Append(m, "other.bin", PatternBytes(CLUSTER_BYTES, 200 + i));
        for (int nChunk = 0; bOk && nChunk < 5; ++nChunk)
            for (int i = 0; bOk && i < BULK_FRAGMENTED; ++i)
                bOk = Append(m, FragmentedPath(i), PatternBytes(CLUSTER_BYTES, 100 * i + nChunk));
        // Hundreds of fragments: its name and part of its data move to extension records
        // behind an attribute list, and the run list left in its base record passes 512 bytes.
        for (uint32_t i = 0; bOk && i < HUGE_FRAGMENTS; ++i)
            bOk = Append(m, "huge.bin", PatternBytes(CLUSTER_BYTES, 1000 + i)) &&
                  Append(m, "huge-other.bin", PatternBytes(CLUSTER_BYTES, 1000 + i));
        for (int i = 0; bOk && i < BULK_FILES; ++i)
            bOk = Put(m, BulkPath(i),
                      PatternBytes(i % 5 == 0 ? 200 + i : 3000 + size_t(i) * 1531, 1000 + i));
        // 64 KiB of data, a 256 KiB hole, 64 KiB of data.
        std::vector<uint8_t> vecSparse = PatternBytes(65536, 19);
        vecSparse.resize(65536 + 262144, 0);
        std::vector<uint8_t> vecTail = PatternBytes(65536, 20);
        vecSparse.insert(vecSparse.end(), vecTail.begin(), vecTail.end());
        s_files["sparse.bin"] = vecSparse;
        std::string strHost = s_pDir->File("sparse.host");
        return bOk && WriteFileBytes(strHost, vecSparse) &&
               RunShell("cp --sparse=always " + ShellQuote(strHost) + " " +
                        ShellQuote(m + "/sparse.bin"));
    }

    // "" when the image was built, else why the tests skip.
    static std::string Build() {
        if (!HaveTool("mkntfs") || !s_pBuilder->Format(IMAGE_BYTES, CLUSTER_BYTES))
            return FAILED + "mkntfs not usable";
        std::string strMount = s_pDir->File("mnt");
        std::string strWhy;
        auto pMount = CNtfsImageMount::Mount(s_pBuilder->Image(), strMount, strWhy);
        if (!pMount)
            return "an ntfs-3g mount: " + strWhy;
        if (!WriteEverything(strMount) || !pMount->Unmount())
            return FAILED + "could not fill the mounted image";
        if (s_pBuilder->GetDataRuns(s_pBuilder->GetRecordNumber("/frag.bin")).size() < 2)
            return FAILED + "frag.bin did not fragment";
        if (ShellOutput("ntfsinfo -F /huge.bin " + ShellQuote(s_pBuilder->Image()))
                .find("$ATTRIBUTE_LIST") == std::string::npos)
            return FAILED + "huge.bin has no attribute list";
        s_llReusedRecord = s_pBuilder->GetRecordNumber("/R");

        std::string strRemove = "cd " + ShellQuote(strMount) +
                                " && rm -rf A R && rm C/c.txt top.txt 'Long File Name.txt' "
                                "frag.bin sparse.bin album.jpg/pic.txt bare.jpg";
        for (int i = 0; i < BULK_FILES; i += 3)
            strRemove += " " + ShellQuote(BulkPath(i));
        for (int i = 0; i < BULK_FRAGMENTED; i += 2)
            strRemove += " " + ShellQuote(FragmentedPath(i));
        pMount = CNtfsImageMount::Mount(s_pBuilder->Image(), strMount, strWhy);
        if (!pMount || !RunShell(strRemove) || !pMount->Unmount())
            return FAILED + "could not delete in the mounted image";
        // A new mount hands out the lowest free record first: the one R had.
        pMount = CNtfsImageMount::Mount(s_pBuilder->Image(), strMount, strWhy);
        if (!pMount || !WriteFileBytes(strMount + "/reuse.txt", PatternBytes(50, 21)) ||
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

    void ExpectRecovered(IFileRecoveryParse& engine, const FILE_NODE& node,
                         const std::string& strPath) {
        int rc = -1;
        EXPECT_TRUE(CopyOutNode(engine, node, rc) == s_files[strPath]) << strPath;
        EXPECT_EQ(rc, 0) << strPath;
    }

    static CTempDir* s_pDir;
    static CNtfsImageBuilder* s_pBuilder;
    static std::map<std::string, std::vector<uint8_t>> s_files;
    static std::string s_strSkip;
    static int64_t s_llReusedRecord;

    CScanLogDirScope m_scanLog;
    CTempDir m_out;
};

CTempDir* NtfsMountedTest::s_pDir = nullptr;
CNtfsImageBuilder* NtfsMountedTest::s_pBuilder = nullptr;
std::map<std::string, std::vector<uint8_t>> NtfsMountedTest::s_files;
std::string NtfsMountedTest::s_strSkip;
int64_t NtfsMountedTest::s_llReusedRecord = -1;

TEST_F(NtfsMountedTest, FastScanFilesAndRecoversEachDeletionAndOffersOnlyFreeClusters) {
    auto pEngine = ScanNtfsImage(s_pBuilder->Image());
    ASSERT_TRUE(pEngine);
    std::map<std::string, FILE_NODE> mapTree = CollectTree(*pEngine);
    const std::string strLost = "LostFolder" + std::to_string(s_llReusedRecord) + "/";
    for (const char* pPath : {"A/", "A/a1.txt", "A/a2.txt", "A/B/", "A/B/deep.txt", "C/c.txt",
                              "album.jpg/pic.txt", "top.txt", "bare.jpg", "Long File Name.txt"})
        EXPECT_EQ(mapTree.count(pPath), 1u) << pPath;
    for (const char* pLive : {"C/stay.bin", "reuse.txt", "other.bin"})
        EXPECT_EQ(mapTree.count(pLive), 0u) << pLive;
    char16_t szPath[256] = {};
    ASSERT_EQ(pEngine->GetFileNodeParentDirPath(&mapTree["A/B/deep.txt"], szPath, 256), 0);
    EXPECT_EQ(Unicode2Ansi(szPath), "A/B/");
    std::vector<FILE_NODE> vecB;
    ASSERT_EQ(pEngine->GetChildrenFileNode(&mapTree["A/B/"], 1, vecB), 0);
    EXPECT_TRUE(vecB.empty()) << "wrong depth, wrong key";
    unsigned int nCount = 0;
    EXPECT_EQ(pEngine->GetChildrenFileCount(&mapTree["A/"], 1, nCount), 0);
    EXPECT_EQ(nCount, 3u);

    // R's record now holds reuse.txt: its file hangs under a LostFolder named for the record.
    ASSERT_EQ(mapTree.count(strLost), 1u);
    EXPECT_EQ(mapTree[strLost].nClusterBytes, CLUSTER_BYTES_NONE);
    ASSERT_EQ(mapTree.count(strLost + "lost.txt"), 1u);
    ExpectRecovered(*pEngine, mapTree[strLost + "lost.txt"], "R/lost.txt");

    // Every deleted file of the nested folders, at its path, byte for byte.
    int nListed = 0;
    for (int i = 0; i < BULK_FILES; i += 3) {
        auto it = mapTree.find(BulkPath(i));
        if (it == mapTree.end()) {
            ADD_FAILURE() << "not listed: " << BulkPath(i);
            continue;
        }
        ++nListed;
        ExpectRecovered(*pEngine, it->second, BulkPath(i));
    }
    EXPECT_EQ(nListed, (BULK_FILES + 2) / 3);

    // Fragmented, sparse, attribute-list and long-named files, and a whole folder.
    for (const char* pName :
         {"frag.bin", "huge.bin", "sparse.bin", "top.txt", "Long File Name.txt", "bare.jpg"}) {
        ASSERT_EQ(mapTree.count(pName), 1u) << pName;
        ExpectRecovered(*pEngine, mapTree[pName], pName);
    }
    EXPECT_EQ(mapTree["bare.jpg"].nDataHealth, 1u) << "a JPEG without JFIF or Exif is intact";
    std::string strTarget = m_out.File("copy");
    EXPECT_EQ(pEngine->SaveFileData(&mapTree["A/"], Ansi2Unicode(strTarget.c_str()).c_str(), 0), 0);
    for (const char* pPath : {"A/a1.txt", "A/a2.txt", "A/B/deep.txt"})
        EXPECT_TRUE(ReadFileBytes(strTarget + "/" + (pPath + 2)) == s_files[pPath]) << pPath;

    // The free runs agree with the clusters in use.
    ASSERT_EQ(pEngine->BuildBitMapInfo(), 0);
    const uint64_t u64Sectors = IMAGE_BYTES / SECTOR;
    const uint64_t u64PerCluster = CLUSTER_BYTES / SECTOR;
    std::vector<bool> vecFree(u64Sectors / u64PerCluster, false);
    unsigned long long u64Start = 0, u64Count = 0;
    uint64_t u64FreeSectors = 0;
    while (pEngine->GetUnUsedSectorCount(u64Start, u64Count) == 1 && u64Count != 0) {
        for (uint64_t s = u64Start; s < u64Start + u64Count; s += u64PerCluster)
            vecFree[s / u64PerCluster] = true;
        u64FreeSectors += u64Count;
        u64Start += u64Count;
    }
    EXPECT_EQ(u64FreeSectors / u64PerCluster, s_pBuilder->GetFreeClusters());
    u64Start = u64Sectors + 100;
    EXPECT_EQ(pEngine->GetUnUsedSectorCount(u64Start, u64Count), 1);
    EXPECT_EQ(u64Start, u64Sectors);
    EXPECT_EQ(u64Count, 0u);
    for (const NTFS_IMAGE_RUN& run :
         s_pBuilder->GetDataRuns(s_pBuilder->GetRecordNumber("/other.bin")))
        for (uint64_t c = run.u64Lcn; c < run.u64Lcn + run.u64Length; ++c) {
            EXPECT_FALSE(vecFree[c]) << "cluster in use reported free: " << c;
            // frag.bin's clusters sat between these and were released.
            EXPECT_TRUE(c == 0 || vecFree[c - 1]) << c;
        }
}

TEST_F(NtfsMountedTest, DeepScanWithTheBootSectorZeroedTakesItsCopyAndRecoversEveryFile) {
    std::string strImage = m_out.File("noboot.img");
    ASSERT_TRUE(WriteFileBytes(strImage, ReadFileBytes(s_pBuilder->Image())));
    ASSERT_TRUE(PatchFileBytes(strImage, 0, std::vector<uint8_t>(SECTOR, 0)));
    CLogFileManager::GetInstance()->AddDirIndex();
    CProfessionalNtfsRecovery engine;
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    ASSERT_EQ(engine.Init(nDisk, 0, IMAGE_BYTES / SECTOR, u'C'), 0);
    EXPECT_EQ(engine.GetMftMap().size(), 1u) << "the $MFT named by the boot sector's copy";
    EXPECT_EQ(engine.GetSectorPerCluster(), CLUSTER_BYTES / SECTOR);
    ASSERT_EQ(engine.InitProfessionalScan(nullptr), 0);
    std::vector<uint8_t> vecImage = ReadFileBytes(strImage);
    for (uint64_t off = 0; off + RECORD <= vecImage.size(); off += SECTOR)
        if (IsNtfsFileRecord(vecImage.data() + off, RECORD, RECORD))
            engine.ParseNtfsFileRecord(vecImage.data() + off, RECORD, off / SECTOR);
    EXPECT_EQ(engine.ParseProfessionalRecordVec(), 0);

    std::map<std::string, FILE_NODE> mapTree = CollectTree(engine);
    std::set<std::string> setExpected;
    for (int i = 0; i < BULK_FILES; ++i)
        setExpected.insert(BulkPath(i));
    for (int i = 0; i < BULK_FRAGMENTED; ++i)
        setExpected.insert(FragmentedPath(i));
    for (const std::string& strPath : setExpected) {
        auto it = mapTree.find(strPath);
        if (it == mapTree.end())
            ADD_FAILURE() << "not found at its path: " << strPath;
        else
            ExpectRecovered(engine, it->second, strPath);
    }
}

} // namespace
