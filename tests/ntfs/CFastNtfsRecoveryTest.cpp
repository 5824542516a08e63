// Fast NTFS scan on images filled with ntfscp and files deleted in place: what is found, what is
// recovered and previewed, which pictures are hidden, and how damaged records and runs, stops
// and stored results are survived.
#include "NtfsTestUtil.h"

#include "fixtures/EngineQueries.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr uint64_t IMAGE_BYTES = 16 << 20;

class NtfsImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
            SKIP_WITHOUT("the ntfs-3g tools");
    }

    // A fresh volume holding the files, those named in vecDeleted deleted in place.
    void Build(int nClusterBytes, const std::map<std::string, std::vector<uint8_t>>& mapFiles,
               const std::vector<std::string>& vecDeleted, int nSectorBytes = 512) {
        ASSERT_TRUE(m_builder.Format(IMAGE_BYTES, nClusterBytes, nSectorBytes));
        for (const auto& [strName, vecData] : mapFiles) {
            ASSERT_TRUE(m_builder.PutFile("/" + strName, vecData));
            m_mapRecords[strName] = m_builder.GetRecordNumber("/" + strName);
        }
        for (const std::string& strName : vecDeleted)
            ASSERT_TRUE(m_builder.DeleteInPlace("/" + strName));
    }

    CScanLogDirScope m_scanLog;
    CTempDir m_dir;
    CNtfsImageBuilder m_builder{m_dir.File("vol.img")};
    std::map<std::string, int64_t> m_mapRecords;
};

// 128 KiB clusters keep their sectors per cluster as a negative power of two; 4 KiB sectors
// protect a tail in every 512-byte block of a 4 KiB record, and the long name crosses one.
class NtfsClusterSizeTest : public NtfsImageTest,
                            public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(NtfsClusterSizeTest, FindsExactlyTheDeletedFilesAndRecoversAndPreviewsThem) {
    const auto [nClusterBytes, nSectorBytes] = GetParam();
    const std::string strNonAscii = "naïve-日本語.txt";
    const std::string strLong = std::string(146, 'n') + ".bin";
    std::map<std::string, std::vector<uint8_t>> mapFiles = {
        {"small300.txt", PatternBytes(300, 1)}, {"f5000.bin", PatternBytes(5000, 2)},
        {strNonAscii, PatternBytes(2100, 3)},   {"big.dat", PatternBytes(200000, 4)},
        {strLong, PatternBytes(30000, 6)},      {"keep.txt", PatternBytes(900, 5)}};
    Build(nClusterBytes, mapFiles, {"small300.txt", "f5000.bin", strNonAscii, "big.dat", strLong},
          nSectorBytes);
    auto pEngine = ScanNtfsImage(m_builder.Image());
    ASSERT_TRUE(pEngine);
    std::map<std::string, FILE_NODE> mapTree = CollectTree(*pEngine);
    EXPECT_EQ(mapTree.size(), 5u);
    EXPECT_EQ(mapTree.count("keep.txt"), 0u) << "an in-use file";
    EXPECT_EQ(pEngine->GetLostFileCount(), 5u);
    for (const auto& [strName, node] : mapTree) {
        EXPECT_EQ(node.u64FileSize, mapFiles[strName].size()) << strName;
        EXPECT_EQ(node.nEngineType, ENGINE_FAST_NTFS);
        EXPECT_EQ(node.nDataHealth, 1u);
        EXPECT_GE(node.nClusterNo, NTFS_FIRST_USER_RECORD);
        EXPECT_EQ(node.nClusterBytes, static_cast<uint32_t>(nClusterBytes));
        int rc = -1;
        EXPECT_TRUE(CopyOutNode(*pEngine, node, rc) == mapFiles[strName]) << strName;
        EXPECT_EQ(rc, 0) << strName;
    }
    for (const char* pName : {"small300.txt", "big.dat"}) {
        std::vector<uint8_t> vecBuffer(4096, 0);
        int nLength = static_cast<int>(vecBuffer.size());
        char16_t szTemp[PREVIEW_PATH_CAPACITY] = {};
        EXPECT_EQ(
            pEngine->PreView(&mapTree[pName], szTemp, vecBuffer.data(), nLength, nullptr, nullptr),
            0);
        const std::vector<uint8_t>& vecData = mapFiles[pName];
        ASSERT_EQ(nLength, static_cast<int>(std::min<size_t>(vecData.size(), 4096))) << pName;
        EXPECT_TRUE(std::equal(vecData.begin(), vecData.begin() + nLength, vecBuffer.begin()));
    }
    // Runs that would leave the volume are refused, not read.
    FILE_NODE moved = mapTree["big.dat"];
    moved.u64PartitionStartSector = IMAGE_BYTES / 512 - 8;
    int rc = 0;
    EXPECT_TRUE(CopyOutNode(*pEngine, moved, rc).empty());
    EXPECT_EQ(rc, ERROR_INVALID_PARAMETER);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, NtfsClusterSizeTest,
                         ::testing::Values(std::pair(512, 512), std::pair(4096, 512),
                                           std::pair(131072, 512), std::pair(4096, 4096)));

TEST_F(NtfsImageTest, HealthHidesOnlyPicturesWhoseDataIsGoneAndDamagedRecordsAreSkipped) {
    std::vector<uint8_t> vecJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    std::vector<uint8_t> vecTail = PatternBytes(9000, 10);
    vecJpeg.insert(vecJpeg.end(), vecTail.begin(), vecTail.end());
    Build(4096,
          {{"photo.jpg", vecJpeg},
           {"unknown.jpg", PatternBytes(9000, 12)},
           {"zeros.jpg", std::vector<uint8_t>(9000, 0)},
           {"empty.txt", {}},
           {"notes.xyz", PatternBytes(50, 11)},
           {"bad.txt", PatternBytes(100, 7)}},
          {"photo.jpg", "unknown.jpg", "zeros.jpg", "empty.txt", "notes.xyz", "bad.txt"});
    // The first attribute of bad.txt claims to run far past its record.
    auto pProbe = std::make_unique<CFastNtfsRecovery>();
    ASSERT_EQ(pProbe->Init(Ansi2Unicode(m_builder.Image().c_str()).c_str(), u'C'), 0);
    uint64_t u64Sector = 0;
    ASSERT_TRUE(pProbe->GetRecordSector(static_cast<uint32_t>(m_mapRecords["bad.txt"]), u64Sector));
    std::vector<uint8_t> vecImage = ReadFileBytes(m_builder.Image());
    const uint8_t* pRecord = vecImage.data() + u64Sector * 512;
    ASSERT_TRUE(
        PatchFileBytes(m_builder.Image(),
                       u64Sector * 512 + ATTR_LENGTH +
                           (pRecord[FR_FIRST_ATTRIBUTE] | pRecord[FR_FIRST_ATTRIBUTE + 1] << 8),
                       {0xF0, 0xFF, 0xFF, 0x7F}));

    auto pEngine = ScanNtfsImage(m_builder.Image());
    ASSERT_TRUE(pEngine);
    std::map<std::string, FILE_NODE> mapTree = CollectTree(*pEngine);
    // An unknown header proves nothing; zeros prove the picture is gone.
    EXPECT_EQ(mapTree.size(), 4u);
    EXPECT_EQ(mapTree.count("zeros.jpg"), 0u);
    EXPECT_EQ(mapTree["empty.txt"].nDataHealth, 0u);
    EXPECT_EQ(mapTree["notes.xyz"].nDataHealth, 1u);
    EXPECT_EQ(mapTree["unknown.jpg"].nDataHealth, 1u);
    unsigned int nCount = 0;
    EXPECT_EQ(pEngine->GetChildrenFileCount(nullptr, 0, nCount), 0);
    EXPECT_EQ(nCount, 5u) << "the hidden picture is still counted";
    // A picture previews through its temporary file.
    char16_t szTemp[PREVIEW_PATH_CAPACITY] = {};
    int nLength = 0;
    EXPECT_EQ(pEngine->PreView(&mapTree["photo.jpg"], szTemp, nullptr, nLength, nullptr, nullptr),
              0);
    EXPECT_EQ(ReadFileBytes(Unicode2Ansi(szTemp)), vecJpeg);
    EXPECT_NE(Unicode2Ansi(szTemp).find("tmp.jpg"), std::string::npos);
}

TEST_F(NtfsImageTest, StopsReportsAndStoredResultsThatReopenWithoutReading) {
    Build(4096, {{"gone.txt", PatternBytes(100, 9)}}, {"gone.txt"});
    static std::vector<std::pair<int, int>> s_vecReports;
    auto Record = [](void* pAnswer, int nPercent, int nWeight, int, uint64_t, uint64_t, uint64_t,
                     const char16_t*) {
        s_vecReports.emplace_back(nPercent, nWeight);
        return *static_cast<int*>(pAnswer);
    };
    int nStop = 7;
    CFastNtfsRecovery stopped;
    ASSERT_EQ(stopped.Init(Ansi2Unicode(m_builder.Image().c_str()).c_str(), u'C'), 0);
    stopped.InitCallBack(Record, nullptr, &nStop, 100);
    EXPECT_EQ(stopped.ScanDevice(nullptr), 7);
    EXPECT_EQ(s_vecReports.size(), 1u) << "a stop at the first report ends the scan";

    // A full scan ends with one report of 100 % at the weight it was given.
    int nGoOn = 0;
    s_vecReports.clear();
    CFastNtfsRecovery full;
    ASSERT_EQ(full.Init(Ansi2Unicode(m_builder.Image().c_str()).c_str(), u'C'), 0);
    full.InitCallBack(Record, nullptr, &nGoOn, 9);
    EXPECT_EQ(full.ScanDevice(nullptr), 0);
    ASSERT_FALSE(s_vecReports.empty());
    EXPECT_EQ(s_vecReports.back(), std::make_pair(100, 9));
    std::vector<FILE_NODE> vecUnchanged(1);
    EXPECT_EQ(full.GetChildrenFileNode(nullptr, 3, vecUnchanged), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(vecUnchanged.size(), 1u);

    std::string strStore;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_scanLog.Path()))
        if (std::string strName = entry.path().filename().string();
            strName.rfind("Fast_", 0) == 0 && strName.find("_Relation") == std::string::npos &&
            strName.find("_DirInfo") == std::string::npos)
            strStore = strName;
    ASSERT_FALSE(strStore.empty());
    // The reopened result is read from the store alone: the image is gone.
    std::filesystem::remove(m_builder.Image());
    CFastNtfsRecovery reopened;
    EXPECT_EQ(reopened.ScanDevice(Ansi2Unicode(strStore.c_str()).c_str()), 0);
    EXPECT_EQ(CollectTree(reopened).count("gone.txt"), 1u);
}

} // namespace
