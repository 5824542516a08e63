// Fast NTFS scan on images filled with ntfscp and files deleted in place: what is found, what
// is recovered, and how damaged records and runs are survived.
#include "NtfsTestUtil.h"

#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

constexpr uint64_t IMAGE_BYTES = 16 << 20;
const std::string NON_ASCII_NAME = "naïve-日本語.txt";

struct SAMPLE_FILE {
    std::string strName;
    std::vector<uint8_t> vecData;
    bool bDelete;
};

std::vector<SAMPLE_FILE> SampleFiles() {
    return {
        {"small300.txt", PatternBytes(300, 1), true},  {"f5000.bin", PatternBytes(5000, 2), true},
        {NON_ASCII_NAME, PatternBytes(2100, 3), true}, {"big.dat", PatternBytes(200000, 4), true},
        {"keep.txt", PatternBytes(900, 5), false},
    };
}

// Scan-log folder, image and samples, with the chosen files deleted in place.
class CNtfsInPlaceImage : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
            SKIP_WITHOUT("the ntfs-3g tools");
        m_vecFiles = SampleFiles();
        ASSERT_TRUE(m_builder.Format(IMAGE_BYTES, GetParam()));
        for (const SAMPLE_FILE& file : m_vecFiles)
            ASSERT_TRUE(m_builder.PutFile("/" + file.strName, file.vecData));
        for (const SAMPLE_FILE& file : m_vecFiles) {
            if (file.bDelete) {
                ASSERT_TRUE(m_builder.DeleteInPlace("/" + file.strName));
            }
        }
    }

    CScanLogDirScope m_scanLog;
    CTempDir m_dir;
    CNtfsImageBuilder m_builder{m_dir.File("vol.img")};
    std::vector<SAMPLE_FILE> m_vecFiles;
};

} // namespace

TEST_P(CNtfsInPlaceImage, FindsExactlyTheDeletedFilesAndRecoversThemIntact) {
    auto pEngine = ScanNtfsImage(m_builder.Image());
    ASSERT_TRUE(pEngine);
    std::vector<FILE_NODE> vecTop = ListChildren(*pEngine, nullptr, 0);
    ASSERT_EQ(vecTop.size(), 4u) << ::testing::PrintToString(NodeNames(vecTop));
    EXPECT_EQ(pEngine->GetLostFileCount(), 4u);
    CTempDir out;
    for (const SAMPLE_FILE& file : m_vecFiles) {
        const FILE_NODE* pNode = FindNode(vecTop, file.strName);
        if (!file.bDelete) {
            EXPECT_EQ(pNode, nullptr) << "in-use file reported: " << file.strName;
            continue;
        }
        ASSERT_NE(pNode, nullptr) << file.strName;
        EXPECT_EQ(pNode->u64FileSize, file.vecData.size()) << file.strName;
        EXPECT_EQ(pNode->bIsDir, 0u);
        EXPECT_EQ(pNode->nEngineType, ENGINE_FAST_NTFS);
        EXPECT_EQ(pNode->nDataHealth, 1u);
        EXPECT_GE(pNode->nClusterNo, NTFS_FIRST_USER_RECORD);
        EXPECT_EQ(pNode->nClusterBytes, static_cast<uint32_t>(GetParam()));
        EXPECT_EQ(ParentPath(*pEngine, *pNode), "");
        int rc = -1;
        std::vector<uint8_t> vecRecovered = RecoverNode(*pEngine, *pNode, out.Path(), rc);
        EXPECT_EQ(rc, 0) << file.strName;
        EXPECT_TRUE(vecRecovered == file.vecData) << file.strName << ": " << vecRecovered.size();
    }
}

TEST_P(CNtfsInPlaceImage, CopyOutNeverOverwritesAndReportsTheEnd) {
    auto pEngine = ScanNtfsImage(m_builder.Image());
    ASSERT_TRUE(pEngine);
    static std::vector<std::pair<int, int>> s_vecReports;
    s_vecReports.clear();
    pEngine->InitCallBack(
        nullptr,
        [](void*, int nPercent, int, int nStatus, const char16_t*) {
            s_vecReports.emplace_back(nPercent, nStatus);
            return 0;
        },
        nullptr, 100);
    std::vector<FILE_NODE> vecTop = ListChildren(*pEngine, nullptr, 0);
    const FILE_NODE* pNode = FindNode(vecTop, "f5000.bin");
    ASSERT_NE(pNode, nullptr);
    CTempDir out;
    std::vector<uint8_t> vecOld(7000, 0xAB);
    ASSERT_TRUE(WriteFileBytes(out.File("f5000.bin"), vecOld));
    int rc = -1;
    RecoverNode(*pEngine, *pNode, out.Path(), rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadFileBytes(out.File("f5000.bin")), vecOld);
    EXPECT_EQ(ReadFileBytes(out.File("f5000(1).bin")), m_vecFiles[1].vecData);
    ASSERT_FALSE(s_vecReports.empty());
    EXPECT_EQ(s_vecReports.back(), std::make_pair(100, 0));
    EXPECT_EQ(std::count(s_vecReports.begin(), s_vecReports.end(), std::make_pair(100, 0)), 1);
}

TEST_P(CNtfsInPlaceImage, PreviewFillsTheBufferWithTheFirstBytes) {
    auto pEngine = ScanNtfsImage(m_builder.Image());
    ASSERT_TRUE(pEngine);
    std::vector<FILE_NODE> vecTop = ListChildren(*pEngine, nullptr, 0);
    for (const char* pName : {"small300.txt", "big.dat"}) {
        const FILE_NODE* pNode = FindNode(vecTop, pName);
        ASSERT_NE(pNode, nullptr);
        FILE_NODE node = *pNode;
        std::vector<uint8_t> vecBuffer(4096, 0);
        int nLength = static_cast<int>(vecBuffer.size());
        char16_t szTemp[PREVIEW_PATH_CAPACITY] = {};
        EXPECT_EQ(pEngine->PreView(&node, szTemp, vecBuffer.data(), nLength, nullptr, nullptr), 0);
        const std::vector<uint8_t>& vecData =
            std::string(pName) == "big.dat" ? m_vecFiles[3].vecData : m_vecFiles[0].vecData;
        size_t nExpected = std::min<size_t>(vecData.size(), 4096);
        ASSERT_EQ(nLength, static_cast<int>(nExpected)) << pName;
        EXPECT_TRUE(std::equal(vecData.begin(), vecData.begin() + nExpected, vecBuffer.begin()));
    }
}

TEST_P(CNtfsInPlaceImage, RunsLeavingTheVolumeAreRefusedNotRead) {
    auto pEngine = ScanNtfsImage(m_builder.Image());
    ASSERT_TRUE(pEngine);
    std::vector<FILE_NODE> vecTop = ListChildren(*pEngine, nullptr, 0);
    const FILE_NODE* pNode = FindNode(vecTop, "big.dat");
    ASSERT_NE(pNode, nullptr);
    FILE_NODE node = *pNode;
    node.u64PartitionStartSector = IMAGE_BYTES / 512 - 8;
    CTempDir out;
    int rc = 0;
    std::vector<uint8_t> vecOut = RecoverNode(*pEngine, node, out.Path(), rc);
    EXPECT_EQ(rc, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(vecOut.empty());
}

// 128 KiB clusters keep their sectors per cluster as a negative power of two.
INSTANTIATE_TEST_SUITE_P(ClusterSizes, CNtfsInPlaceImage, ::testing::Values(512, 4096, 131072));

TEST(CFastNtfsRecovery, DamagedRecordIsSkippedAndTheScanGoesOn) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
        SKIP_WITHOUT("the ntfs-3g tools");
    CScanLogDirScope scanLog;
    CTempDir dir;
    CNtfsImageBuilder builder(dir.File("vol.img"));
    ASSERT_TRUE(builder.Format(IMAGE_BYTES, 4096));
    ASSERT_TRUE(builder.PutFile("/bad.txt", PatternBytes(100, 7)));
    ASSERT_TRUE(builder.PutFile("/good.txt", PatternBytes(100, 8)));
    int64_t llBad = builder.GetRecordNumber("/bad.txt");
    ASSERT_GT(llBad, 0);
    ASSERT_TRUE(builder.DeleteInPlace("/bad.txt"));
    ASSERT_TRUE(builder.DeleteInPlace("/good.txt"));
    auto pEngine = std::make_unique<CFastNtfsRecovery>();
    ASSERT_EQ(pEngine->Init(Ansi2Unicode(builder.Image().c_str()).c_str(), u'C'), 0);
    uint64_t u64Sector = 0;
    ASSERT_TRUE(pEngine->GetRecordSector(static_cast<uint32_t>(llBad), u64Sector));
    // The first attribute of bad.txt claims to run far past its record.
    std::vector<uint8_t> vecImage = ReadFileBytes(builder.Image());
    const uint8_t* pRecord = vecImage.data() + u64Sector * 512;
    uint64_t u64FirstAttr =
        u64Sector * 512 + (pRecord[FR_FIRST_ATTRIBUTE] | pRecord[FR_FIRST_ATTRIBUTE + 1] << 8);
    ASSERT_TRUE(
        PatchFileBytes(builder.Image(), u64FirstAttr + ATTR_LENGTH, {0xF0, 0xFF, 0xFF, 0x7F}));
    ASSERT_EQ(pEngine->ScanDevice(nullptr), 0);
    std::vector<FILE_NODE> vecTop = ListChildren(*pEngine, nullptr, 0);
    EXPECT_EQ(NodeNames(vecTop), std::vector<std::string>{"good.txt"});
}

TEST(CFastNtfsRecovery, CallbackStopEndsTheScanAndStoredResultReopensWithoutReading) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
        SKIP_WITHOUT("the ntfs-3g tools");
    CScanLogDirScope scanLog;
    CTempDir dir;
    CNtfsImageBuilder builder(dir.File("vol.img"));
    ASSERT_TRUE(builder.Format(IMAGE_BYTES, 4096));
    ASSERT_TRUE(builder.PutFile("/gone.txt", PatternBytes(100, 9)));
    ASSERT_TRUE(builder.DeleteInPlace("/gone.txt"));

    static std::vector<int> s_vecPercents;
    s_vecPercents.clear();
    CFastNtfsRecovery stopped;
    ASSERT_EQ(stopped.Init(Ansi2Unicode(builder.Image().c_str()).c_str(), u'C'), 0);
    stopped.InitCallBack(
        [](void*, int nPercent, int, int, uint64_t, uint64_t, uint64_t, const char16_t*) {
            s_vecPercents.push_back(nPercent);
            return 7;
        },
        nullptr, nullptr, 100);
    EXPECT_EQ(stopped.ScanDevice(nullptr), 7);
    EXPECT_EQ(s_vecPercents.size(), 1u);

    // A full scan ends with one report of 100 % at the weight it was given.
    static std::vector<std::pair<int, int>> s_vecReports;
    CFastNtfsRecovery full;
    ASSERT_EQ(full.Init(Ansi2Unicode(builder.Image().c_str()).c_str(), u'C'), 0);
    full.InitCallBack(
        [](void*, int nPercent, int nWeight, int, uint64_t, uint64_t, uint64_t, const char16_t*) {
            s_vecReports.emplace_back(nPercent, nWeight);
            return 0;
        },
        nullptr, nullptr, 9);
    EXPECT_EQ(full.ScanDevice(nullptr), 0);
    ASSERT_FALSE(s_vecReports.empty());
    EXPECT_EQ(s_vecReports.back(), std::make_pair(100, 9));
    std::vector<FILE_NODE> vecUnchanged(1);
    EXPECT_EQ(full.GetChildrenFileNode(nullptr, 3, vecUnchanged), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(vecUnchanged.size(), 1u);

    auto pEngine = ScanNtfsImage(builder.Image());
    ASSERT_TRUE(pEngine);
    std::string strStore;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scanLog.Path()))
        if (std::string strName = entry.path().filename().string();
            strName.rfind("Fast_", 0) == 0 && strName.find("_Relation") == std::string::npos &&
            strName.find("_DirInfo") == std::string::npos)
            strStore = strName;
    ASSERT_FALSE(strStore.empty());
    // The reopened result is read from the store alone: the image is gone.
    std::filesystem::remove(builder.Image());
    CFastNtfsRecovery reopened;
    EXPECT_EQ(reopened.ScanDevice(Ansi2Unicode(strStore.c_str()).c_str()), 0);
    EXPECT_EQ(NodeNames(ListChildren(reopened, nullptr, 0)), std::vector<std::string>{"gone.txt"});
}

TEST(CFastNtfsRecovery, HealthComesFromTheFirstBytesAgainstTheExtension) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
        SKIP_WITHOUT("the ntfs-3g tools");
    CScanLogDirScope scanLog;
    CTempDir dir;
    CNtfsImageBuilder builder(dir.File("vol.img"));
    ASSERT_TRUE(builder.Format(IMAGE_BYTES, 4096));
    std::vector<uint8_t> vecJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    std::vector<uint8_t> vecTail = PatternBytes(9000, 10);
    vecJpeg.insert(vecJpeg.end(), vecTail.begin(), vecTail.end());
    ASSERT_TRUE(builder.PutFile("/photo.jpg", vecJpeg));
    ASSERT_TRUE(builder.PutFile("/zeros.jpg", std::vector<uint8_t>(9000, 0)));
    ASSERT_TRUE(builder.PutFile("/empty.txt", {}));
    ASSERT_TRUE(builder.PutFile("/notes.xyz", PatternBytes(50, 11)));
    for (const char* pName : {"/photo.jpg", "/zeros.jpg", "/empty.txt", "/notes.xyz"})
        ASSERT_TRUE(builder.DeleteInPlace(pName));
    auto pEngine = ScanNtfsImage(builder.Image());
    ASSERT_TRUE(pEngine);
    // A damaged picture is left out of the list but still counted.
    std::vector<FILE_NODE> vecTop = ListChildren(*pEngine, nullptr, 0);
    ASSERT_EQ(NodeNames(vecTop), (std::vector<std::string>{"empty.txt", "notes.xyz", "photo.jpg"}));
    EXPECT_EQ(vecTop[0].nDataHealth, 0u);
    EXPECT_EQ(vecTop[1].nDataHealth, 1u);
    EXPECT_EQ(vecTop[2].nDataHealth, 1u);
    unsigned int nCount = 0;
    EXPECT_EQ(pEngine->GetChildrenFileCount(nullptr, 0, nCount), 0);
    EXPECT_EQ(nCount, 4u);
    // The picture previews through its temporary file.
    FILE_NODE photo = vecTop[2];
    char16_t szTemp[PREVIEW_PATH_CAPACITY] = {};
    int nLength = 0;
    EXPECT_EQ(pEngine->PreView(&photo, szTemp, nullptr, nLength, nullptr, nullptr), 0);
    EXPECT_EQ(ReadFileBytes(Unicode2Ansi(szTemp)), vecJpeg);
    EXPECT_NE(Unicode2Ansi(szTemp).find("tmp.jpg"), std::string::npos);
}

TEST(CFastNtfsRecovery, FourKilobyteSectorRecordsAreRepairedInEveryBlock) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
        SKIP_WITHOUT("the ntfs-3g tools");
    CScanLogDirScope scanLog;
    CTempDir dir;
    CNtfsImageBuilder builder(dir.File("vol4k.img"));
    ASSERT_TRUE(builder.Format(IMAGE_BYTES, 4096, 4096));
    // A name of 150 units runs across the protected tail at byte 510 of the record.
    std::string strLong(146, 'n');
    strLong += ".bin";
    std::vector<uint8_t> vecData = PatternBytes(30000, 12);
    ASSERT_TRUE(builder.PutFile("/" + strLong, vecData));
    ASSERT_TRUE(builder.DeleteInPlace("/" + strLong));
    auto pEngine = ScanNtfsImage(builder.Image());
    ASSERT_TRUE(pEngine);
    std::vector<FILE_NODE> vecTop = ListChildren(*pEngine, nullptr, 0);
    ASSERT_EQ(NodeNames(vecTop), std::vector<std::string>{strLong});
    EXPECT_EQ(vecTop[0].u64FileSize, vecData.size());
    CTempDir out;
    int rc = -1;
    std::vector<uint8_t> vecOut = RecoverNode(*pEngine, vecTop[0], out.Path(), rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(vecOut == vecData);
}
