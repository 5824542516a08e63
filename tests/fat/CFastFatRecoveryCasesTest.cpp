// The fast FAT engine on small purpose-made images: FAT16, fragments, lost high words, large
// sectors, scans by path and the progress reports of a scan.
#include "device/CDiskRegistry.h"
#include "engine/FileRecoveryTypes.h"
#include "fat/CFastFatRecovery.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace {

std::vector<uint8_t> JpegBytes(size_t nBytes, uint32_t nSeed) {
    std::vector<uint8_t> bytes = PatternBytes(nBytes, nSeed);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    std::copy(std::begin(head), std::end(head), bytes.begin());
    return bytes;
}

// Path -> node of everything reachable from the top.
void CollectTree(CFastFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
                 const std::string& strPrefix, std::map<std::string, FILE_NODE>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    ASSERT_EQ(0, engine.GetChildrenFileNode(pParent, nDepth, vecChildren));
    for (FILE_NODE& child : vecChildren) {
        std::string strPath = strPrefix + child.szFileName + (child.bIsDir ? "/" : "");
        mapOut[strPath] = child;
        if (child.bIsDir)
            CollectTree(engine, &child, nDepth + 1, strPath, mapOut);
    }
}

struct SCAN_LOG {
    std::vector<std::pair<int, int>> vecReports;  // percent, weight
    std::vector<std::pair<int, int>> vecRecovery; // percent, status
    int nStopAtReport = -1;
    int nStopValue = 0;
    int nFirstReportDelayMs = 0;
};

int RecordScan(void* pParam, int nPercent, int nWeight, int, uint64_t, uint64_t, uint64_t,
               const char16_t*) {
    auto* pLog = static_cast<SCAN_LOG*>(pParam);
    pLog->vecReports.emplace_back(nPercent, nWeight);
    if (pLog->vecReports.size() == 1 && pLog->nFirstReportDelayMs > 0)
        SleepMs(pLog->nFirstReportDelayMs);
    return int(pLog->vecReports.size()) - 1 == pLog->nStopAtReport ? pLog->nStopValue : 0;
}

int RecordRecovery(void* pParam, int nPercent, int, int nStatus, const char16_t*) {
    static_cast<SCAN_LOG*>(pParam)->vecRecovery.emplace_back(nPercent, nStatus);
    return 0;
}

class FastFatCasesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CFatImageBuilder::HaveTools())
            SKIP_WITHOUT("mkfs.vfat and mtools");
    }

    // Scans the image through the disk registry; 0 or the scan's result.
    int Scan(const std::string& strImage, int nWeight = 100) {
        int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
        uint64_t u64Sectors = std::filesystem::file_size(strImage) / 512;
        if (int rc = m_engine.Init(nDisk, 0, static_cast<long long>(u64Sectors), u'C'); rc != 0)
            return rc;
        m_engine.InitCallBack(RecordScan, RecordRecovery, &m_scanLog, nWeight);
        int rc = m_engine.ScanDevice(nullptr);
        if (rc == 0)
            CollectTree(m_engine, nullptr, 0, "", m_mapFound);
        return rc;
    }

    std::vector<uint8_t> CopyOut(const std::string& strFound) {
        FILE_NODE node = m_mapFound.at(strFound);
        std::string strTarget = m_out.File(std::to_string(node.nFileIndex));
        EXPECT_EQ(0, m_engine.SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0));
        return ReadFileBytes(strTarget);
    }

    std::vector<std::string> FoundPaths() const {
        std::vector<std::string> paths;
        for (const auto& [strPath, node] : m_mapFound)
            paths.push_back(strPath);
        return paths;
    }

    // FAT16 with 2 KiB clusters and a 1024-entry root area.
    bool BuildFat16(CFatImageBuilder& image) {
        return image.Format({16, 16384, 4, 1024}) && image.AddFile("/gone.txt", m_gone) &&
               image.AddFile("/keep.txt", PatternBytes(300, 12)) && image.MakeDir("/Dir") &&
               image.AddFile("/Dir/a.jpg", m_picture) && image.MakeDir("/Old") &&
               image.AddFile("/Old/f.txt", m_old) && image.Delete({"/gone.txt", "/Dir/a.jpg"}) &&
               image.DeleteTree("/Old");
    }

    CScanLogDirScope m_logDir;
    CTempDir m_dir;
    CTempDir m_out;
    CFastFatRecovery m_engine;
    SCAN_LOG m_scanLog;
    std::map<std::string, FILE_NODE> m_mapFound;
    std::vector<uint8_t> m_gone = PatternBytes(5000, 11);
    std::vector<uint8_t> m_picture = JpegBytes(4500, 13);
    std::vector<uint8_t> m_old = PatternBytes(2500, 14);
};

TEST_F(FastFatCasesTest, Fat16RootAreaFoldersAndCopyOut) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    ASSERT_EQ(0, Scan(image.Path()));
    std::vector<std::string> expected = {"!one.txt", "Dir/", "Dir/!.jpg", "Old/", "Old/!.txt"};
    EXPECT_EQ(expected, FoundPaths());
    EXPECT_EQ(2048u, m_mapFound["!one.txt"].nClusterBytes);
    EXPECT_EQ(m_gone, CopyOut("!one.txt"));
    EXPECT_EQ(m_picture, CopyOut("Dir/!.jpg"));
    EXPECT_EQ(m_old, CopyOut("Old/!.txt"));
    EXPECT_EQ(0u, m_mapFound["Dir/"].bIsDeleted);
    EXPECT_EQ(1u, m_mapFound["Old/"].bIsDeleted);
}

TEST_F(FastFatCasesTest, ScanByImagePathReadsTheBootSectorToo) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    ASSERT_EQ(0, m_engine.Init(Ansi2Unicode(image.Path().c_str()).c_str(), u'D'));
    ASSERT_EQ(0, m_engine.ScanDevice(nullptr));
    CollectTree(m_engine, nullptr, 0, "", m_mapFound);
    EXPECT_EQ(5u, m_mapFound.size());
    EXPECT_EQ(u'D', m_mapFound["!one.txt"].wcDriveLetter);
    EXPECT_EQ(m_gone, CopyOut("!one.txt"));
}

TEST_F(FastFatCasesTest, RescanInTheSameMinuteStartsFromAnEmptyStore) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    ASSERT_EQ(0, Scan(image.Path()));
    unsigned int nFirst = m_engine.GetLostFileCount();
    ASSERT_EQ(0, m_engine.ScanDevice(nullptr));
    EXPECT_EQ(nFirst, m_engine.GetLostFileCount());
}

TEST_F(FastFatCasesTest, LargeSectorVolumeIsAddressedIn512ByteUnits) {
    CFatImageBuilder image(m_dir.File("fat16-4k.img"));
    ASSERT_TRUE(image.Format({16, 32768, 1, 0, 4096}) && image.AddFile("/keep.bin", m_old) &&
                image.AddFile("/gone.bin", m_gone) && image.Delete({"/gone.bin"}));
    ASSERT_EQ(0, Scan(image.Path()));
    ASSERT_EQ(1u, m_mapFound.count("!one.bin"));
    EXPECT_EQ(4096u, m_mapFound["!one.bin"].nClusterBytes);
    EXPECT_EQ(m_gone, CopyOut("!one.bin"));
}

TEST_F(FastFatCasesTest, FragmentedDeletedFileIsReadContiguouslyUntilAUsedCluster) {
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
    ASSERT_EQ(1u, m_mapFound.count("!cc.bin"));
    EXPECT_EQ(2560u, m_mapFound["!cc.bin"].u64FileSize);
    // Three clusters of five can be read: the copy is short, so it fails and leaves nothing.
    FILE_NODE node = m_mapFound.at("!cc.bin");
    std::string strTarget = m_out.File("cc.bin");
    EXPECT_EQ(ERROR_READ_SHORT,
              m_engine.SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0));
    EXPECT_FALSE(std::filesystem::exists(strTarget));
    EXPECT_FALSE(std::filesystem::exists(strTarget + ".part"));
    std::vector<std::pair<int, int>> expected = {
        {20, 0}, {40, 0}, {60, 0}, {100, ERROR_READ_SHORT}};
    EXPECT_EQ(expected, m_scanLog.vecRecovery);
}

TEST_F(FastFatCasesTest, LostHighWordIsFoundByProbingAndStopsAtTheVolumeEnd) {
    // A filler pushes the folders above cluster 65536; their entries lose DIR_FstClusHI.
    CFatImageBuilder image(m_dir.File("high.img"));
    std::vector<uint8_t> picture = JpegBytes(1700, 30);
    ASSERT_TRUE(image.Format({32, 65536, 1}) &&
                image.AddFile("/FILLER.BIN", std::vector<uint8_t>(34 * 1024 * 1024, 0x5A)) &&
                image.MakeDir("/HIGHDIR") && image.AddFile("/HIGHDIR/PIC.JPG", picture) &&
                image.MakeDir("/LOSTDIR") && image.AddFile("/LOSTDIR/GONE.TXT", m_old));
    std::vector<uint32_t> high = image.GetClusters("/HIGHDIR");
    std::vector<uint32_t> lost = image.GetClusters("/LOSTDIR");
    ASSERT_FALSE(high.empty());
    ASSERT_GE(high[0], 65536u);
    ASSERT_FALSE(lost.empty());
    ASSERT_TRUE(image.DeleteTree("/HIGHDIR") && image.DeleteTree("/LOSTDIR"));
    ASSERT_TRUE(image.ClearHighCluster("\xE5IGHDIR    ", 0x10));
    ASSERT_TRUE(image.ClearHighCluster("\xE5"
                                       "IC     JPG",
                                       0x20));
    ASSERT_TRUE(image.ClearHighCluster("\xE5OSTDIR    ", 0x10));
    // LOSTDIR's own cluster no longer starts with "." : the probe finds nothing below the end.
    ASSERT_TRUE(PatchFileBytes(image.Path(), image.ClusterOffset(lost[0]), {'X'}));

    ASSERT_EQ(0, Scan(image.Path()));
    std::vector<std::string> expected = {"!ighdir/", "!ighdir/!ic.jpg"};
    EXPECT_EQ(expected, FoundPaths());
    EXPECT_EQ(high[0], m_mapFound["!ighdir/"].nClusterNo);
    EXPECT_EQ(picture, CopyOut("!ighdir/!ic.jpg"));
}

TEST_F(FastFatCasesTest, ShortScanReportsOneEightyHundred) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    ASSERT_EQ(0, Scan(image.Path()));
    std::vector<std::pair<int, int>> expected = {{1, 100}, {80, 100}, {100, 100}};
    EXPECT_EQ(expected, m_scanLog.vecReports);
}

TEST_F(FastFatCasesTest, StopAtTheFirstReportEndsTheScanAtOnce) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    m_scanLog.nStopAtReport = 0;
    m_scanLog.nStopValue = 1;
    EXPECT_EQ(1, Scan(image.Path()));
    EXPECT_EQ(1u, m_scanLog.vecReports.size());
    EXPECT_EQ(0u, m_engine.GetLostFileCount());
}

TEST_F(FastFatCasesTest, StopAtTheFirstPeriodicReportSkipsTheEndAndTheFolders) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    // Holding the first report for over 5 s makes the walk report after the root folder.
    m_scanLog.nFirstReportDelayMs = 5100;
    m_scanLog.nStopAtReport = 1;
    m_scanLog.nStopValue = 7;
    EXPECT_EQ(7, Scan(image.Path(), 9));
    std::vector<std::pair<int, int>> expected = {{1, 9}, {21, 9}};
    EXPECT_EQ(expected, m_scanLog.vecReports);
    // Only the root's own deleted file was stored; no folder nodes were added.
    EXPECT_EQ(1u, m_engine.GetLostFileCount());
}

TEST_F(FastFatCasesTest, Fat16FreeSpaceUsesTheSixteenBitSectorCount) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    std::vector<uint32_t> keep = image.GetClusters("/keep.txt");
    ASSERT_EQ(0, Scan(image.Path()));
    ASSERT_EQ(0, m_engine.BuildBitMapInfo());
    const FAT_GEOMETRY& geo = m_engine.GetGeometry();
    // Start inside keep.txt's clusters: the run begins after them, and reaches the volume end.
    unsigned long long u64Start = geo.nDataStart + (keep[0] - 2) * geo.nSectorsPerCluster;
    unsigned long long u64Count = 0;
    ASSERT_EQ(1, m_engine.GetUnUsedSectorCount(u64Start, u64Count));
    EXPECT_GT(u64Start, geo.nDataStart + (keep.back() - 2ull) * geo.nSectorsPerCluster);
    EXPECT_EQ(32768u, u64Start + u64Count);
}

TEST_F(FastFatCasesTest, AllocatedEverywhereLeavesNoFreeRun) {
    CFatImageBuilder image(m_dir.File("full.img"));
    ASSERT_TRUE(BuildFat16(image));
    ASSERT_EQ(0, Scan(image.Path()));
    const FAT_GEOMETRY& geo = m_engine.GetGeometry();
    // Every entry of the first FAT set to 0xFFFF (end of chain).
    ASSERT_TRUE(PatchFileBytes(image.Path(), geo.u64FirstFatSector * 512,
                               std::vector<uint8_t>(geo.u64FatSectors * 512, 0xFF)));
    CFastFatRecovery full;
    ASSERT_EQ(0, full.Init(Ansi2Unicode(image.Path().c_str()).c_str(), u'C'));
    ASSERT_EQ(0, full.BuildBitMapInfo());
    unsigned long long u64Start = 0, u64Count = 1;
    ASSERT_EQ(1, full.GetUnUsedSectorCount(u64Start, u64Count));
    EXPECT_EQ(0u, u64Count);
}

TEST_F(FastFatCasesTest, StoredResultReopensByName) {
    CFatImageBuilder image(m_dir.File("fat16.img"));
    ASSERT_TRUE(BuildFat16(image));
    ASSERT_EQ(0, Scan(image.Path()));
    std::string strName;
    CLogFileManager* pLog = CLogFileManager::GetInstance();
    ASSERT_EQ(
        0, pLog->GetLogFileNameByFileType(pLog->GetLogFileDirPath(), STORE_PREFIX_FAST, strName));
    CFastFatRecovery reopened;
    ASSERT_EQ(0, reopened.Init(Ansi2Unicode(image.Path().c_str()).c_str(), u'C'));
    ASSERT_EQ(0, reopened.ScanDevice(Ansi2Unicode(strName.c_str()).c_str()));
    std::map<std::string, FILE_NODE> mapReopened;
    CollectTree(reopened, nullptr, 0, "", mapReopened);
    EXPECT_EQ(m_mapFound.size(), mapReopened.size());
    EXPECT_EQ(1u, mapReopened.count("Old/!.txt"));
}

} // namespace
