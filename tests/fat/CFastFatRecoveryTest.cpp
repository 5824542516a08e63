// The fast FAT engine on mkfs.vfat + mtools images: what the scan finds and files where, which
// pictures it hides, copy-out, preview, folder recovery, free space, FAT12/16/32 and large
// sectors, lost high words, progress reports and stored results.
#include "fat/CFastFatRecovery.h"
#include "device/CDiskRegistry.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/proof/CFileProof.h"
#include "util/CSafeOutputFile.h"
#include "util/TextUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {

std::vector<uint8_t> JpegBytes(size_t nBytes, uint32_t nSeed) {
    std::vector<uint8_t> bytes = PatternBytes(nBytes, nSeed);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    std::copy(std::begin(head), std::end(head), bytes.begin());
    return bytes;
}

std::vector<uint8_t> Sample(const std::string& strName) {
    return ReadFileBytes(TestDataPath("samples/" + strName));
}

std::set<std::string> Keys(const std::map<std::string, FILE_NODE>& map) {
    std::set<std::string> keys;
    for (const auto& [strKey, node] : map)
        keys.insert(strKey);
    return keys;
}

struct REPORTS {
    std::vector<std::pair<int, int>> vecScan;     // percent, weight
    std::vector<std::pair<int, int>> vecRecovery; // percent, status
    int nStopAtScan = -1;
    int nStopValue = 0;
    int nStopAtRecovery = -1; // answers ERROR_CANCELLED_BY_USER there
};

int RecordScan(void* pParam, int nPercent, int nWeight, int, uint64_t, uint64_t, uint64_t,
               const char16_t*) {
    auto* pLog = static_cast<REPORTS*>(pParam);
    pLog->vecScan.emplace_back(nPercent, nWeight);
    return int(pLog->vecScan.size()) - 1 == pLog->nStopAtScan ? pLog->nStopValue : 0;
}

int RecordRecovery(void* pParam, int nPercent, int, int nStatus, const char16_t*) {
    auto* pLog = static_cast<REPORTS*>(pParam);
    pLog->vecRecovery.emplace_back(nPercent, nStatus);
    return int(pLog->vecRecovery.size()) - 1 == pLog->nStopAtRecovery ? ERROR_CANCELLED_BY_USER : 0;
}

// Every reading of this clock is five seconds after the last one.
long long s_llFakeNowMs = 0;
long long FiveSecondsLater() {
    return s_llFakeNowMs += 5000;
}

class FastFatTest : public CFatToolsTest {
protected:
    // Scans the image through the disk registry; 0 or the scan's result.
    int Scan(const std::string& strImage, int nWeight = 100) {
        int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
        uint64_t u64Sectors = std::filesystem::file_size(strImage) / 512;
        if (int rc = m_engine.Init(nDisk, 0, static_cast<long long>(u64Sectors), u'C'); rc != 0)
            return rc;
        m_engine.InitCallBack(RecordScan, RecordRecovery, &m_log, nWeight);
        int rc = m_engine.ScanDevice(nullptr);
        if (rc == 0)
            m_mapFound = CollectTree(m_engine);
        return rc;
    }

    std::vector<uint8_t> CopyOut(const std::string& strFound) {
        int rc = -1;
        std::vector<uint8_t> bytes = CopyOutNode(m_engine, m_mapFound.at(strFound), rc);
        EXPECT_EQ(0, rc) << strFound;
        return bytes;
    }

    CScanLogDirScope m_logDir;
    CTempDir m_dir;
    CTempDir m_out;
    CFastFatRecovery m_engine;
    REPORTS m_log;
    std::map<std::string, FILE_NODE> m_mapFound;
    std::vector<uint8_t> m_gone = PatternBytes(5000, 11);
    std::vector<uint8_t> m_picture = JpegBytes(4500, 13);
    std::vector<uint8_t> m_old = PatternBytes(2500, 14);
};

// One FAT32 volume of 512-byte clusters holding the cases the scan must tell apart.
class FastFatScanTest : public FastFatTest {
protected:
    static void SetUpTestSuite() {
        if (!CFatImageBuilder::HaveTools())
            return;
        s_pDir = new CTempDir;
        auto& orig = s_originals;
        orig["readme.txt"] = PatternBytes(100, 1);
        orig["photo.jpg"] = JpegBytes(3000, 1);
        orig["Müller.jpg"] = JpegBytes(5000, 2);
        orig["bare.jpg"] = Sample("sample_bare.jpg");
        orig["v5.bmp"] = Sample("sample_v5.bmp");
        orig["reused.jpg"] = JpegBytes(2000, 3);
        orig["empty.txt"] = {};
        orig["Docs/keep.txt"] = PatternBytes(700, 4);
        orig["Docs/old.bin"] = PatternBytes(5000, 4);
        orig["Docs/A Long File Name.txt"] = PatternBytes(1500, 5);
        orig["Docs/big.txt"] = PatternBytes(10000, 5);
        orig["Docs/Sub/deep.txt"] = PatternBytes(400, 6);
        orig["Docs/Sub/live.txt"] = PatternBytes(60, 6);
        orig["Trash/inner.txt"] = PatternBytes(1100, 6);
        orig["Trash/Nested/x.txt"] = PatternBytes(1300, 7);
        orig["KEEPDIR/live1.txt"] = PatternBytes(900, 8);
        orig["KEEPDIR/SUBK/live2.txt"] = PatternBytes(2100, 9);

        std::string strHost = s_pDir->File("host");
        for (const auto& [strPath, bytes] : orig) {
            std::filesystem::create_directories(
                std::filesystem::path(strHost + "/" + strPath).parent_path());
            WriteFileBytes(strHost + "/" + strPath, bytes);
        }
        CFatImageBuilder image(s_pDir->File("fat32.img"));
        bool bOk = !orig["bare.jpg"].empty() && !orig["v5.bmp"].empty() &&
                   image.Format({32, 65536, 1}) && image.CopyTree(strHost);
        for (const char* pLive :
             {"readme.txt", "Docs", "Docs/keep.txt", "Docs/Sub", "Docs/Sub/live.txt", "KEEPDIR",
              "KEEPDIR/live1.txt", "KEEPDIR/SUBK", "KEEPDIR/SUBK/live2.txt", ""})
            for (uint32_t c : image.GetClusters(std::string("/") + pLive))
                s_used.insert(c);
        std::vector<uint32_t> reused = image.GetClusters("/reused.jpg");
        // reused.jpg's first cluster is taken by a PNG after the deletion: it is gone.
        std::vector<uint8_t> png = Sample("sample.png");
        png.resize(512);
        bOk = bOk && !reused.empty() &&
              image.Delete({"/photo.jpg", "/Müller.jpg", "/bare.jpg", "/v5.bmp", "/reused.jpg",
                            "/empty.txt", "/Docs/old.bin", "/Docs/A Long File Name.txt",
                            "/Docs/big.txt", "/Docs/Sub/deep.txt"}) &&
              PatchFileBytes(image.Path(), image.ClusterOffset(reused[0]), png) &&
              image.DeleteTree("/Trash") && image.MarkEntryDeleted("KEEPDIR    ", 0x10);
        if (bOk)
            s_strImage = image.Path();
    }

    static void TearDownTestSuite() { delete s_pDir; }

    void SetUp() override {
        if (s_strImage.empty())
            SKIP_WITHOUT("mkfs.vfat, mtools and the carving samples");
        ASSERT_EQ(0, Scan(s_strImage));
    }

    static CTempDir* s_pDir;
    static std::map<std::string, std::vector<uint8_t>> s_originals;
    static std::set<uint32_t> s_used;
    static std::string s_strImage;
};

CTempDir* FastFatScanTest::s_pDir = nullptr;
std::map<std::string, std::vector<uint8_t>> FastFatScanTest::s_originals;
std::set<uint32_t> FastFatScanTest::s_used;
std::string FastFatScanTest::s_strImage;

// Found path -> where the original was put in the image.
const std::map<std::string, std::string> FAT32_EXPECTED_FILES = {
    {"!hoto.jpg", "photo.jpg"},
    {"Müller.jpg", "Müller.jpg"},
    {"!are.jpg", "bare.jpg"},
    {"!5.bmp", "v5.bmp"},
    {"!mpty.txt", "empty.txt"},
    {"Docs/!ld.bin", "Docs/old.bin"},
    {"Docs/A Long File Name.txt", "Docs/A Long File Name.txt"},
    {"Docs/!ig.txt", "Docs/big.txt"},
    {"Docs/Sub/!eep.txt", "Docs/Sub/deep.txt"},
    {"Trash/!nner.txt", "Trash/inner.txt"},
    {"Trash/Nested/!.txt", "Trash/Nested/x.txt"},
    {"!eepdir/live1.txt", "KEEPDIR/live1.txt"},
    {"!eepdir/subk/live2.txt", "KEEPDIR/SUBK/live2.txt"},
};

TEST_F(FastFatScanTest, ListsDeletedFilesAndFilesInDeletedFoldersOnly) {
    std::set<std::string> expected = {"Docs/",         "Docs/Sub/", "Trash/",
                                      "Trash/Nested/", "!eepdir/",  "!eepdir/subk/"};
    for (const auto& [strFound, strOriginal] : FAT32_EXPECTED_FILES)
        expected.insert(strFound);
    EXPECT_EQ(expected, Keys(m_mapFound));
    // The picture whose first cluster now holds a PNG is stored but left out of every list.
    EXPECT_EQ(FAT32_EXPECTED_FILES.size() + 1 + 6, m_engine.GetLostFileCount());
    unsigned int nFiles = 0;
    ASSERT_EQ(0, m_engine.GetChildrenFileCount(nullptr, 0, nFiles));
    EXPECT_EQ(FAT32_EXPECTED_FILES.size() + 1, nFiles);
    for (const auto& [strFound, strOriginal] : FAT32_EXPECTED_FILES) {
        const FILE_NODE& node = m_mapFound[strFound];
        EXPECT_EQ(s_originals.at(strOriginal).size(), node.u64FileSize) << strFound;
        EXPECT_EQ(ENGINE_FAST_FAT, node.nEngineType);
        EXPECT_EQ(512u, node.nClusterBytes);
        // Only the real JPEG decodes; the others are a JFIF header on filler.
        EXPECT_EQ(strFound == "!are.jpg"                         ? DATA_HEALTH_WHOLE
                  : GetLowerExtension(strFound.c_str()) == "jpg" ? DATA_HEALTH_DAMAGED
                                                                 : 1u,
                  node.nDataHealth)
            << strFound;
        EXPECT_GT(node.u64ModifyTime, 1700000000u);
    }
    EXPECT_EQ(0u, m_mapFound["Docs/"].bIsDeleted);
    EXPECT_EQ(1u, m_mapFound["Trash/Nested/"].bIsDeleted) << "inside a deleted folder";
    EXPECT_EQ(1u, m_mapFound["!eepdir/subk/"].bIsDeleted);
    char16_t wszPath[256];
    ASSERT_EQ(0, m_engine.GetFileNodeParentDirPath(&m_mapFound["Docs/Sub/!eep.txt"], wszPath, 256));
    EXPECT_EQ("Docs/Sub/", Unicode2Ansi(wszPath));

    std::vector<SEARCH_FILE_INFO> hits;
    ASSERT_EQ(0, m_engine.SearchFileNode(u"*.jpg|*.bmp|", hits));
    std::vector<std::string> names;
    for (const SEARCH_FILE_INFO& hit : hits)
        names.push_back(hit.szFileName);
    EXPECT_EQ((std::vector<std::string>{"!5.bmp", "!are.jpg", "!hoto.jpg", "Müller.jpg"}), names)
        << "pictures whose headers the detectors do not know are kept; the reused one is not";
}

TEST_F(FastFatScanTest, CopyOutEqualsTheOriginalsAndNeverTouchesAnExistingFile) {
    for (const auto& [strFound, strOriginal] : FAT32_EXPECTED_FILES) {
        m_log.vecRecovery.clear();
        EXPECT_EQ(s_originals.at(strOriginal), CopyOut(strFound)) << strFound;
        ASSERT_FALSE(m_log.vecRecovery.empty());
        EXPECT_EQ(std::make_pair(100, 0), m_log.vecRecovery.back());
    }
    FILE_NODE node = m_mapFound["Docs/!ld.bin"];
    std::string strTaken = m_out.File("taken.bin");
    ASSERT_TRUE(WriteFileBytes(strTaken, PatternBytes(9000, 99)));
    EXPECT_EQ(EEXIST, m_engine.SaveFileData(&node, Ansi2Unicode(strTaken.c_str()).c_str(), 0));
    EXPECT_EQ(PatternBytes(9000, 99), ReadFileBytes(strTaken));
    EXPECT_EQ(std::make_pair(100, EEXIST), m_log.vecRecovery.back());

    m_log.nStopAtRecovery = 1;
    m_log.vecRecovery.clear();
    std::string strCancelled = m_out.File("cancelled.bin");
    EXPECT_EQ(ERROR_CANCELLED_BY_USER,
              m_engine.SaveFileData(&node, Ansi2Unicode(strCancelled.c_str()).c_str(), 0));
    EXPECT_EQ(2u, m_log.vecRecovery.size()) << "no extra report after a cancel";
    EXPECT_FALSE(std::filesystem::exists(strCancelled));
    EXPECT_FALSE(std::filesystem::exists(strCancelled + ".part"));
}

TEST_F(FastFatScanTest, FolderRecoveryWritesTheWholeTreeAndPreviewsGoWhereTheyBelong) {
    FILE_NODE docs = m_mapFound["Docs/"];
    std::string strBase = m_out.Path();
    ASSERT_EQ(0, MakeRecoveryDir(strBase + "/others"));
    int nBaseDepth = 0;
    GetPathDirIndex(Ansi2Unicode(strBase.c_str()).c_str(), nBaseDepth);
    std::string strTarget = strBase + "/others/Docs";
    ASSERT_EQ(0, m_engine.SaveFileData(&docs, Ansi2Unicode(strTarget.c_str()).c_str(), nBaseDepth));
    for (const char* pFound : {"!ld.bin", "A Long File Name.txt", "!ig.txt", "Sub/!eep.txt"}) {
        std::string strOriginal = FAT32_EXPECTED_FILES.at(std::string("Docs/") + pFound);
        EXPECT_EQ(s_originals.at(strOriginal), ReadFileBytes(strTarget + "/" + pFound)) << pFound;
    }
    EXPECT_FALSE(std::filesystem::exists(strTarget + "/keep.txt")) << "live files are not listed";

    FILE_NODE photo = m_mapFound["!hoto.jpg"];
    char16_t wszTemp[PREVIEW_PATH_CAPACITY] = {};
    std::vector<uint8_t> buffer(4096);
    int nLength = 4096;
    ASSERT_EQ(0, m_engine.PreView(&photo, wszTemp, buffer.data(), nLength, nullptr, nullptr));
    EXPECT_EQ(m_logDir.Path() + "/tmp.jpg", Unicode2Ansi(wszTemp));
    EXPECT_EQ(0, nLength);
    EXPECT_EQ(s_originals.at("photo.jpg"), ReadFileBytes(Unicode2Ansi(wszTemp)));
    FILE_NODE big = m_mapFound["Docs/!ig.txt"];
    ASSERT_EQ(0, m_engine.PreView(&big, wszTemp, buffer.data(), nLength = 4096, nullptr, nullptr));
    EXPECT_EQ(4096, nLength);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), s_originals.at("Docs/big.txt").begin()));
}

TEST_F(FastFatScanTest, FreeRunsAreExactlyTheClustersMtoolsDoesNotUse) {
    ASSERT_EQ(0, m_engine.BuildBitMapInfo());
    const FAT_GEOMETRY& geo = m_engine.GetGeometry();
    std::vector<bool> vecFree(geo.nClusterLimit, false);
    unsigned long long u64Start = 0, u64Count = 0;
    while (m_engine.GetUnUsedSectorCount(u64Start, u64Count) == 1 && u64Count != 0) {
        ASSERT_GE(u64Start, geo.nDataStart);
        for (uint64_t s = u64Start; s < u64Start + u64Count; ++s)
            vecFree[(s - geo.nDataStart) / geo.nSectorsPerCluster + 2] = true;
        u64Start += u64Count;
    }
    for (uint32_t c = 2; c < geo.nClusterLimit; ++c)
        ASSERT_EQ(s_used.count(c) == 0, vecFree[c]) << "cluster " << c;
    u64Start = geo.u64TotalSectors + 10;
    ASSERT_EQ(1, m_engine.GetUnUsedSectorCount(u64Start, u64Count));
    EXPECT_EQ(geo.u64TotalSectors, u64Start);
    EXPECT_EQ(0u, u64Count);
}

// FAT16 with 2 KiB clusters and a 1024-entry root area, opened by path; its reports, stops and
// a rescan in the same minute.
TEST_F(FastFatTest, Fat16RootAreaByPathReportsStopsAndRescans) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(image.Format({16, 16384, 4, 1024}) && image.AddFile("/gone.txt", m_gone) &&
                image.AddFile("/keep.txt", PatternBytes(300, 12)) && image.MakeDir("/Dir") &&
                image.AddFile("/Dir/a.jpg", m_picture) && image.MakeDir("/Old") &&
                image.AddFile("/Old/f.txt", m_old) && image.Delete({"/gone.txt", "/Dir/a.jpg"}) &&
                image.DeleteTree("/Old"));
    ASSERT_EQ(0, m_engine.Init(Ansi2Unicode(image.Path().c_str()).c_str(), u'D'));
    m_engine.InitCallBack(RecordScan, RecordRecovery, &m_log, 100);
    ASSERT_EQ(0, m_engine.ScanDevice(nullptr));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{1, 100}, {80, 100}, {100, 100}}), m_log.vecScan)
        << "a scan shorter than five seconds";
    m_mapFound = CollectTree(m_engine);
    EXPECT_EQ((std::set<std::string>{"!one.txt", "Dir/", "Dir/!.jpg", "Old/", "Old/!.txt"}),
              Keys(m_mapFound));
    EXPECT_EQ(u'D', m_mapFound["!one.txt"].wcDriveLetter);
    EXPECT_EQ(2048u, m_mapFound["!one.txt"].nClusterBytes);
    EXPECT_EQ(m_gone, CopyOut("!one.txt"));
    EXPECT_EQ(m_picture, CopyOut("Dir/!.jpg"));
    EXPECT_EQ(m_old, CopyOut("Old/!.txt"));
    unsigned int nFirst = m_engine.GetLostFileCount();
    ASSERT_EQ(0, m_engine.ScanDevice(nullptr));
    EXPECT_EQ(nFirst, m_engine.GetLostFileCount()) << "a rescan starts from an empty store";

    CFastFatRecovery stopped;
    REPORTS log;
    log.nStopAtScan = 0;
    log.nStopValue = 1;
    ASSERT_EQ(0, stopped.Init(Ansi2Unicode(image.Path().c_str()).c_str(), u'C'));
    stopped.InitCallBack(RecordScan, nullptr, &log, 100);
    EXPECT_EQ(1, stopped.ScanDevice(nullptr)) << "a stop at the first report ends it at once";
    EXPECT_EQ(1u, log.vecScan.size());
    EXPECT_EQ(0u, stopped.GetLostFileCount());

    // The clock passes five seconds at every reading: the walk reports after the root folder.
    CFastFatRecovery periodic;
    REPORTS periodicLog;
    periodicLog.nStopAtScan = 1;
    periodicLog.nStopValue = 7;
    periodic.SetClock(FiveSecondsLater);
    ASSERT_EQ(0, periodic.Init(Ansi2Unicode(image.Path().c_str()).c_str(), u'C'));
    periodic.InitCallBack(RecordScan, nullptr, &periodicLog, 9);
    EXPECT_EQ(7, periodic.ScanDevice(nullptr));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{1, 9}, {21, 9}}), periodicLog.vecScan);
    EXPECT_EQ(1u, periodic.GetLostFileCount()) << "the root's own file, and no folder nodes";
}

TEST_F(FastFatTest, Fat12EntriesAreTwelveBitsWide) {
    // 2 KiB clusters: a live file and a deleted one of five clusters each, on odd and even
    // cluster numbers, whose FAT entries share bytes.
    CFatImageBuilder image(m_dir.File("fat12.img"));
    std::vector<uint8_t> big = PatternBytes(9000, 40);
    ASSERT_TRUE(image.Format({12, 4096, 4}) && image.AddFile("/KEEP.BIN", PatternBytes(9000, 41)) &&
                image.AddFile("/BIG.BIN", big) && image.MakeDir("/OLD") &&
                image.AddFile("/OLD/F.TXT", m_old));
    std::vector<uint32_t> keep = image.GetClusters("/KEEP.BIN");
    ASSERT_TRUE(image.Delete({"/BIG.BIN"}) && image.DeleteTree("/OLD"));
    ASSERT_EQ(0, Scan(image.Path()));
    EXPECT_EQ(12u, m_engine.GetGeometry().nFatBits);
    EXPECT_EQ((std::set<std::string>{"!ig.bin", "!ld/", "!ld/!.txt"}), Keys(m_mapFound));
    EXPECT_EQ(big, CopyOut("!ig.bin"));
    EXPECT_EQ(m_old, CopyOut("!ld/!.txt"));
    ASSERT_EQ(0, m_engine.BuildBitMapInfo());
    const FAT_GEOMETRY& geo = m_engine.GetGeometry();
    unsigned long long u64Start = 0, u64Count = 0;
    ASSERT_EQ(1, m_engine.GetUnUsedSectorCount(u64Start, u64Count));
    EXPECT_EQ(geo.nDataStart + (keep.back() - 1ull) * geo.nSectorsPerCluster, u64Start)
        << "the first free run begins after the live file's chain";
    EXPECT_EQ(8192u, u64Start + u64Count) << "free up to the end the 16-bit sector count gives";
}

TEST_F(FastFatTest, LargeSectorVolumeIsAddressedIn512ByteUnits) {
    CFatImageBuilder image(m_dir.File("fat16-4k.img"));
    ASSERT_TRUE(image.Format({16, 32768, 1, 0, 4096}) && image.AddFile("/keep.bin", m_old) &&
                image.AddFile("/gone.bin", m_gone) && image.Delete({"/gone.bin"}));
    ASSERT_EQ(0, Scan(image.Path()));
    EXPECT_EQ(4096u, m_mapFound.at("!one.bin").nClusterBytes);
    EXPECT_EQ(m_gone, CopyOut("!one.bin"));
}

TEST_F(FastFatTest, FragmentedDeletedFileFollowsTheFreeClustersPastAUsedOne) {
    // A (3 clusters), B (2), delete A, C (5) fills A's hole and continues after B.
    CFatImageBuilder image(m_dir.File("frag.img"));
    std::vector<uint8_t> c = PatternBytes(2560, 21);
    ASSERT_TRUE(image.Format({32, 65536, 1}) && image.AddFile("/AAA.BIN", PatternBytes(1536, 20)) &&
                image.AddFile("/BBB.BIN", PatternBytes(1024, 22)) && image.Delete({"/AAA.BIN"}) &&
                image.ResetNextFreeHint() && image.AddFile("/CCC.BIN", c));
    std::vector<uint32_t> clusters = image.GetClusters("/CCC.BIN");
    ASSERT_EQ(5u, clusters.size());
    ASSERT_NE(clusters[2] + 1, clusters[3]) << "C must be fragmented";
    ASSERT_TRUE(image.Delete({"/CCC.BIN"}));
    ASSERT_EQ(0, Scan(image.Path()));
    EXPECT_EQ(2560u, m_mapFound.at("!cc.bin").u64FileSize);
    // A's hole, then past B's clusters to the free ones after them.
    EXPECT_EQ(c, CopyOut("!cc.bin"));
    EXPECT_EQ(
        (std::vector<std::pair<int, int>>{{20, 0}, {40, 0}, {60, 0}, {80, 0}, {99, 0}, {100, 0}}),
        m_log.vecRecovery);
}

TEST_F(FastFatTest, LostHighWordIsFoundByProbingAndStopsAtTheVolumeEnd) {
    // A filler pushes the folders above cluster 65536; their entries lose DIR_FstClusHI.
    CFatImageBuilder image(m_dir.File("high.img"));
    std::vector<uint8_t> picture = JpegBytes(1700, 30);
    ASSERT_TRUE(image.Format({32, 65536, 1}) &&
                image.AddFile("/FILLER.BIN", std::vector<uint8_t>(34 * 1024 * 1024, 0x5A)) &&
                image.MakeDir("/HIGHDIR") && image.AddFile("/HIGHDIR/PIC.JPG", picture) &&
                image.MakeDir("/LOSTDIR") && image.AddFile("/LOSTDIR/GONE.TXT", m_old));
    std::vector<uint32_t> high = image.GetClusters("/HIGHDIR");
    std::vector<uint32_t> lost = image.GetClusters("/LOSTDIR");
    ASSERT_FALSE(high.empty() || lost.empty());
    ASSERT_GE(high[0], 65536u);
    ASSERT_TRUE(image.DeleteTree("/HIGHDIR") && image.DeleteTree("/LOSTDIR") &&
                image.ClearHighCluster("\xE5IGHDIR    ", 0x10) &&
                image.ClearHighCluster("\345IC     JPG", 0x20) &&
                image.ClearHighCluster("\xE5OSTDIR    ", 0x10));
    // LOSTDIR's own cluster no longer starts with ".": the probe finds nothing below the end.
    ASSERT_TRUE(PatchFileBytes(image.Path(), image.ClusterOffset(lost[0]), {'X'}));
    ASSERT_EQ(0, Scan(image.Path()));
    EXPECT_EQ((std::set<std::string>{"!ighdir/", "!ighdir/!ic.jpg"}), Keys(m_mapFound));
    EXPECT_EQ(high[0], m_mapFound["!ighdir/"].nClusterNo);
    EXPECT_EQ(picture, CopyOut("!ighdir/!ic.jpg"));
}

} // namespace
