// The fast FAT engine on mkfs.vfat + mtools images: what the scan finds, the tree it files it
// in, copy-out, preview, folder recovery, free space and progress reports.
#include "fat/CFastFatRecovery.h"
#include "device/CDiskRegistry.h"
#include "engine/FileRecoveryTypes.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "util/CSafeOutputFile.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

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

std::vector<uint8_t> TextBytes(size_t nBytes, char c) {
    return std::vector<uint8_t>(nBytes, uint8_t(c));
}

struct FOUND {
    FILE_NODE node;
    unsigned int nDepth; // group its children are asked with (folders)
};

// Every node reachable from the top, keyed by its path ("Docs/Sub/" for folders).
void CollectTree(CFastFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
                 const std::string& strPrefix, std::map<std::string, FOUND>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    ASSERT_EQ(0, engine.GetChildrenFileNode(pParent, nDepth, vecChildren));
    for (FILE_NODE& child : vecChildren) {
        std::string strPath = strPrefix + child.szFileName + (child.bIsDir ? "/" : "");
        mapOut[strPath] = {child, nDepth + 1};
        if (child.bIsDir)
            CollectTree(engine, &child, nDepth + 1, strPath, mapOut);
    }
}

std::set<std::string> Keys(const std::map<std::string, FOUND>& map) {
    std::set<std::string> keys;
    for (const auto& [strKey, found] : map)
        keys.insert(strKey);
    return keys;
}

struct RECOVERY_LOG {
    std::vector<std::pair<int, int>> vecReports; // percent, status
    int nStopAt = -1;                            // report index that answers -9527
};

int RecordRecovery(void* pParam, int nPercent, int, int nStatus, const char16_t*) {
    auto* pLog = static_cast<RECOVERY_LOG*>(pParam);
    pLog->vecReports.emplace_back(nPercent, nStatus);
    return int(pLog->vecReports.size()) - 1 == pLog->nStopAt ? ERROR_CANCELLED_BY_USER : 0;
}

// One FAT32 volume of 512-byte clusters holding the cases the scan must tell apart.
class FastFatScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!CFatImageBuilder::HaveTools())
            return;
        s_pDir = new CTempDir;
        s_pOriginals = new std::map<std::string, std::vector<uint8_t>>;
        s_pUsed = new std::set<uint32_t>;
        auto& orig = *s_pOriginals;
        orig["readme.txt"] = TextBytes(100, 'r');
        orig["photo.jpg"] = JpegBytes(3000, 1);
        orig["Müller.jpg"] = JpegBytes(5000, 2);
        orig["bad.jpg"] = PatternBytes(2000, 3);
        orig["empty.txt"] = {};
        orig["Docs/keep.txt"] = TextBytes(700, 'k');
        orig["Docs/old.bin"] = PatternBytes(5000, 4);
        orig["Docs/A Long File Name.txt"] = TextBytes(1500, 'l');
        orig["Docs/big.txt"] = PatternBytes(10000, 5);
        orig["Docs/Sub/deep.txt"] = TextBytes(400, 'd'); // one cluster
        orig["Docs/Sub/live.txt"] = TextBytes(60, 'v');
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
        bool bOk = image.Format({32, 65536, 1}) && image.CopyTree(strHost);
        for (const char* pLive :
             {"readme.txt", "Docs", "Docs/keep.txt", "Docs/Sub", "Docs/Sub/live.txt", "KEEPDIR",
              "KEEPDIR/live1.txt", "KEEPDIR/SUBK", "KEEPDIR/SUBK/live2.txt", ""})
            for (uint32_t c : image.GetClusters(std::string("/") + pLive))
                s_pUsed->insert(c);
        bOk = bOk &&
              image.Delete({"/photo.jpg", "/Müller.jpg", "/bad.jpg", "/empty.txt", "/Docs/old.bin",
                            "/Docs/A Long File Name.txt", "/Docs/big.txt", "/Docs/Sub/deep.txt"}) &&
              image.DeleteTree("/Trash") && image.MarkEntryDeleted("KEEPDIR    ", 0x10);
        if (bOk)
            s_strImage = image.Path();
    }

    static void TearDownTestSuite() {
        delete s_pDir;
        delete s_pOriginals;
        delete s_pUsed;
    }

    void SetUp() override {
        if (s_strImage.empty())
            SKIP_WITHOUT("mkfs.vfat and mtools");
        int nDisk = CDiskRegistry::GetInstance().AddImage(s_strImage);
        ASSERT_GE(nDisk, 0);
        uint64_t u64Sectors = std::filesystem::file_size(s_strImage) / 512;
        ASSERT_EQ(0, m_engine.Init(nDisk, 0, static_cast<long long>(u64Sectors), u'C'));
        ASSERT_EQ(0, m_engine.InitCallBack(nullptr, RecordRecovery, &m_log, 100));
        ASSERT_EQ(0, m_engine.ScanDevice(nullptr));
        CollectTree(m_engine, nullptr, 0, "", m_mapFound);
    }

    const FILE_NODE& Found(const std::string& strPath) {
        static FILE_NODE empty{};
        auto it = m_mapFound.find(strPath);
        EXPECT_NE(it, m_mapFound.end()) << strPath;
        return it == m_mapFound.end() ? empty : it->second.node;
    }

    static CTempDir* s_pDir;
    static std::map<std::string, std::vector<uint8_t>>* s_pOriginals;
    static std::set<uint32_t>* s_pUsed;
    static std::string s_strImage;

    CScanLogDirScope m_logDir;
    CTempDir m_out;
    CFastFatRecovery m_engine;
    RECOVERY_LOG m_log;
    std::map<std::string, FOUND> m_mapFound;
};

CTempDir* FastFatScanTest::s_pDir = nullptr;
std::map<std::string, std::vector<uint8_t>>* FastFatScanTest::s_pOriginals = nullptr;
std::set<uint32_t>* FastFatScanTest::s_pUsed = nullptr;
std::string FastFatScanTest::s_strImage;

// Found path -> where the original was put in the image.
const std::map<std::string, std::string> FAT32_EXPECTED_FILES = {
    {"!hoto.jpg", "photo.jpg"},
    {"Müller.jpg", "Müller.jpg"},
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

TEST_F(FastFatScanTest, FindsDeletedFilesAndFilesInDeletedFoldersOnly) {
    std::set<std::string> expected = {"Docs/",         "Docs/Sub/", "Trash/",
                                      "Trash/Nested/", "!eepdir/",  "!eepdir/subk/"};
    for (const auto& [strFound, strOriginal] : FAT32_EXPECTED_FILES)
        expected.insert(strFound);
    EXPECT_EQ(expected, Keys(m_mapFound));
    // The damaged picture is stored but left out of child lists.
    EXPECT_EQ(FAT32_EXPECTED_FILES.size() + 1 + 6, m_engine.GetLostFileCount());
    unsigned int nFiles = 0;
    ASSERT_EQ(0, m_engine.GetChildrenFileCount(nullptr, 0, nFiles));
    EXPECT_EQ(FAT32_EXPECTED_FILES.size() + 1, nFiles);

    for (const auto& [strFound, strOriginal] : FAT32_EXPECTED_FILES) {
        const FILE_NODE& node = Found(strFound);
        EXPECT_EQ(s_pOriginals->at(strOriginal).size(), node.u64FileSize) << strFound;
        EXPECT_EQ(ENGINE_FAST_FAT, node.nEngineType);
        EXPECT_EQ(u'C', node.wcDriveLetter);
        EXPECT_EQ(512u, node.nClusterBytes);
        EXPECT_EQ(1u, node.nDataHealth) << strFound;
        EXPECT_GT(node.u64ModifyTime, 1700000000u);
    }
    EXPECT_EQ(0u, Found("Docs/").bIsDeleted);
    EXPECT_EQ(0u, Found("Docs/Sub/").bIsDeleted);
    EXPECT_EQ(1u, Found("Trash/").bIsDeleted);
    EXPECT_EQ(1u, Found("Trash/Nested/").bIsDeleted) << "inside a deleted folder";
    EXPECT_EQ(1u, Found("!eepdir/subk/").bIsDeleted);
    EXPECT_EQ(1u, Found("Docs/").nDataHealth);
}

TEST_F(FastFatScanTest, FolderChildrenAreFiledUnderTheirDepth) {
    EXPECT_EQ(1u, m_mapFound["Docs/"].nDepth);
    EXPECT_EQ(2u, m_mapFound["Docs/Sub/"].nDepth);
    FILE_NODE sub = Found("Docs/Sub/");
    std::vector<FILE_NODE> vec;
    ASSERT_EQ(0, m_engine.GetChildrenFileNode(&sub, 1, vec));
    EXPECT_TRUE(vec.empty()) << "wrong depth, wrong key";
    EXPECT_EQ(ERROR_INVALID_PARAMETER, m_engine.GetChildrenFileNode(nullptr, 3, vec));

    char16_t wszPath[256];
    FILE_NODE deep = Found("Docs/Sub/!eep.txt");
    ASSERT_EQ(0, m_engine.GetFileNodeParentDirPath(&deep, wszPath, 256));
    EXPECT_EQ("Docs/Sub/", Unicode2Ansi(wszPath));

    std::vector<SEARCH_FILE_INFO> hits;
    ASSERT_EQ(0, m_engine.SearchFileNode(u"*.jpg|", hits));
    ASSERT_EQ(2u, hits.size()) << "the damaged picture is not offered";
    EXPECT_STREQ("!hoto.jpg", hits[0].szFileName);
    EXPECT_STREQ("Müller.jpg", hits[1].szFileName);
}

TEST_F(FastFatScanTest, CopyOutEqualsTheOriginals) {
    for (const auto& [strFound, strOriginal] : FAT32_EXPECTED_FILES) {
        FILE_NODE node = Found(strFound);
        std::string strTarget = m_out.File(std::to_string(node.nFileIndex) + ".out");
        m_log.vecReports.clear();
        ASSERT_EQ(0, m_engine.SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0))
            << strFound;
        EXPECT_EQ(s_pOriginals->at(strOriginal), ReadFileBytes(strTarget)) << strFound;
        ASSERT_FALSE(m_log.vecReports.empty());
        EXPECT_EQ(std::make_pair(100, 0), m_log.vecReports.back());
    }
    FILE_NODE empty = Found("!mpty.txt");
    m_log.vecReports.clear();
    std::string strEmpty = m_out.File("empty.again");
    ASSERT_EQ(0, m_engine.SaveFileData(&empty, Ansi2Unicode(strEmpty.c_str()).c_str(), 0));
    EXPECT_EQ(1u, m_log.vecReports.size()) << "an empty file reports 100 once";
}

TEST_F(FastFatScanTest, CopyOutNeverTouchesAnExistingFile) {
    FILE_NODE node = Found("Docs/!ld.bin");
    std::string strTarget = m_out.File("taken.bin");
    ASSERT_TRUE(WriteFileBytes(strTarget, TextBytes(9000, 'o')));
    EXPECT_EQ(EEXIST, m_engine.SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0));
    EXPECT_EQ(TextBytes(9000, 'o'), ReadFileBytes(strTarget));
    ASSERT_FALSE(m_log.vecReports.empty());
    EXPECT_EQ(std::make_pair(100, EEXIST), m_log.vecReports.back());

    m_log.nStopAt = 1;
    m_log.vecReports.clear();
    std::string strCancelled = m_out.File("cancelled.bin");
    EXPECT_EQ(ERROR_CANCELLED_BY_USER,
              m_engine.SaveFileData(&node, Ansi2Unicode(strCancelled.c_str()).c_str(), 0));
    EXPECT_EQ(2u, m_log.vecReports.size()) << "no extra report after a cancel";
    EXPECT_FALSE(std::filesystem::exists(strCancelled));
    EXPECT_FALSE(std::filesystem::exists(strCancelled + ".part"));
}

TEST_F(FastFatScanTest, FolderRecoveryWritesTheWholeTree) {
    FILE_NODE docs = Found("Docs/");
    std::string strBase = m_out.Path();
    ASSERT_EQ(0, MakeRecoveryDir(strBase + "/others"));
    std::u16string strBaseWide = Ansi2Unicode(strBase.c_str());
    int nBaseDepth = 0;
    GetPathDirIndex(strBaseWide.c_str(), nBaseDepth);
    std::string strTarget = strBase + "/others/Docs";
    ASSERT_EQ(0, m_engine.SaveFileData(&docs, Ansi2Unicode(strTarget.c_str()).c_str(), nBaseDepth));
    for (const char* pFound : {"!ld.bin", "A Long File Name.txt", "!ig.txt", "Sub/!eep.txt"}) {
        std::string strOriginal = FAT32_EXPECTED_FILES.at(std::string("Docs/") + pFound);
        EXPECT_EQ(s_pOriginals->at(strOriginal), ReadFileBytes(strTarget + "/" + pFound)) << pFound;
    }
    EXPECT_FALSE(std::filesystem::exists(strTarget + "/keep.txt")) << "live files are not listed";
}

TEST_F(FastFatScanTest, PreviewOfPictureGoesToTempFileOthersToTheBuffer) {
    FILE_NODE photo = Found("!hoto.jpg");
    char16_t wszTemp[PREVIEW_PATH_CAPACITY] = {};
    std::vector<uint8_t> buffer(4096);
    int nLength = 4096;
    ASSERT_EQ(0, m_engine.PreView(&photo, wszTemp, buffer.data(), nLength, nullptr, nullptr));
    EXPECT_EQ(m_logDir.Path() + "/tmp.jpg", Unicode2Ansi(wszTemp));
    EXPECT_EQ(0, nLength);
    EXPECT_EQ(s_pOriginals->at("photo.jpg"), ReadFileBytes(Unicode2Ansi(wszTemp)));

    FILE_NODE big = Found("Docs/!ig.txt");
    nLength = 4096;
    ASSERT_EQ(0, m_engine.PreView(&big, wszTemp, buffer.data(), nLength, nullptr, nullptr));
    EXPECT_EQ(4096, nLength);
    const std::vector<uint8_t>& original = s_pOriginals->at("Docs/big.txt");
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), original.begin()));
}

TEST_F(FastFatScanTest, FreeRunsAreExactlyTheClustersMtoolsDoesNotUse) {
    ASSERT_EQ(0, m_engine.BuildBitMapInfo());
    const FAT_GEOMETRY& geo = m_engine.GetGeometry();
    std::vector<bool> vecFree(geo.nClusterLimit, false);
    unsigned long long u64Start = 0, u64Count = 0;
    for (int nRuns = 0; nRuns < 100000; ++nRuns) {
        ASSERT_EQ(1, m_engine.GetUnUsedSectorCount(u64Start, u64Count));
        if (u64Count == 0)
            break;
        ASSERT_GE(u64Start, geo.nDataStart);
        for (uint64_t s = u64Start; s < u64Start + u64Count; ++s) {
            uint64_t c = (s - geo.nDataStart) / geo.nSectorsPerCluster + 2;
            if (c < vecFree.size())
                vecFree[c] = true;
        }
        u64Start += u64Count;
    }
    for (uint32_t c = 2; c < geo.nClusterLimit; ++c)
        ASSERT_EQ(s_pUsed->count(c) == 0, vecFree[c]) << "cluster " << c;

    u64Start = geo.u64TotalSectors + 10;
    ASSERT_EQ(1, m_engine.GetUnUsedSectorCount(u64Start, u64Count));
    EXPECT_EQ(geo.u64TotalSectors, u64Start);
    EXPECT_EQ(0u, u64Count);
}

} // namespace
