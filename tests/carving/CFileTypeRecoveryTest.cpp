// The carving engine over raw images: carved nodes, skips, listing, search, copy-out, preview.
#include "carving/CFileTypeRecovery.h"

#include "CarvingTestDisk.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Sample(const std::string& strName) {
    return ReadFileBytes(TestDataPath("samples/" + strName));
}

// The sample PNG grown to nSize bytes by a private ancillary chunk ("prVt") after IHDR.
std::vector<uint8_t> PngOfSize(size_t nSize) {
    std::vector<uint8_t> png = Sample("sample.png");
    const size_t nAfterIhdr = 8 + 25;
    const size_t nData = nSize - png.size() - 12;
    std::vector<uint8_t> chunk = {uint8_t(nData >> 24),
                                  uint8_t(nData >> 16),
                                  uint8_t(nData >> 8),
                                  uint8_t(nData),
                                  'p',
                                  'r',
                                  'V',
                                  't'};
    std::vector<uint8_t> data = PatternBytes(nData, 11);
    chunk.insert(chunk.end(), data.begin(), data.end());
    chunk.insert(chunk.end(), 4, 0); // CRC: not checked by carving
    png.insert(png.begin() + nAfterIhdr, chunk.begin(), chunk.end());
    return png;
}

// A carving engine set up on an image, and the sector walk the deep scan performs.
class CCarvingEngineTest : public ::testing::Test {
protected:
    void Open(CCarvingDisk& disk) {
        ASSERT_EQ(m_engine.Init(disk.DiskNo(), 0, (long long)disk.SectorCount(), u'E'), 0);
        m_engine.InitCallBack(nullptr, nullptr, nullptr, 90);
        CFileTypeJudge::ClearTsFileRanges(); // as the deep scan does before its pass
    }

    // Offers every sector that is not skipped; the sectors carved, in order.
    std::vector<uint64_t> Walk(CCarvingDisk& disk) {
        std::vector<uint64_t> vecCarved;
        unsigned long long u64Files = 0;
        for (uint64_t u64Sector = 0; u64Sector < disk.SectorCount();) {
            std::vector<uint8_t> sector = disk.ReadSector(u64Sector);
            unsigned long long u64Skip = 0;
            int nResult = m_engine.ParseFileBuf(sector.data(), SECTOR, u64Sector, u64Sector,
                                                disk.SectorCount(), 0, &disk.Reader(), SECTOR,
                                                u64Skip, u64Files);
            if (nResult == 0) {
                vecCarved.push_back(u64Sector);
                u64Sector += u64Skip;
            } else {
                EXPECT_EQ(nResult, ERROR_INVALID_PARAMETER);
                ++u64Sector;
            }
        }
        EXPECT_EQ(u64Files, vecCarved.size());
        return vecCarved;
    }

    std::vector<FILE_NODE> TopLevel() {
        std::vector<FILE_NODE> vecNodes;
        EXPECT_EQ(m_engine.GetChildrenFileNode(nullptr, 0, vecNodes), 0);
        return vecNodes;
    }

    CScanLogDirScope m_logDir;
    CFileTypeRecovery m_engine;
};

TEST_F(CCarvingEngineTest, PngAtSector5000IsNamedSizedAndSkipped) {
    CCarvingImageBuilder builder(5000);
    builder.Add("big.png", PngOfSize(70000));
    CCarvingDisk disk(builder);
    Open(disk);
    std::vector<uint8_t> sector = disk.ReadSector(5000);
    unsigned long long u64Skip = 0, u64Files = 7;
    ASSERT_EQ(m_engine.ParseFileBuf(sector.data(), SECTOR, 5000, 0, disk.SectorCount(), 0,
                                    &disk.Reader(), SECTOR, u64Skip, u64Files),
              0);
    EXPECT_EQ(u64Skip, 137u);
    EXPECT_EQ(u64Files, 8u);
    std::vector<FILE_NODE> vecNodes = TopLevel();
    ASSERT_EQ(vecNodes.size(), 1u);
    const FILE_NODE& node = vecNodes[0];
    EXPECT_STREQ(node.szFileName, "5000.png");
    EXPECT_EQ(node.u64FileSize, 70000u);
    EXPECT_EQ(node.u64LocationSector, 5000u);
    EXPECT_EQ(node.nEngineType, uint32_t(ENGINE_FILE_TYPE));
    EXPECT_EQ(node.wcDriveLetter, uint32_t(u'E'));
    EXPECT_EQ(node.nDataHealth, 1u);
    EXPECT_EQ(node.nFileIndex, 1u);
    EXPECT_EQ(node.nClusterBytes, CLUSTER_BYTES_NONE);
    EXPECT_EQ(node.bIsDir, 0u);
    EXPECT_EQ(m_engine.GetLostFileCount(), 1u);
}

TEST_F(CCarvingEngineTest, OverstatedBmpHidesNoFollowingFile) {
    std::vector<uint8_t> bmp = Sample("sample.bmp");
    const uint32_t u32Claimed = 2 * 1000 * 1000;
    std::memcpy(bmp.data() + 2, &u32Claimed, 4);
    bmp.resize(512); // the JPEG starts in the very next sector
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placedBmp = builder.Add("claims.bmp", bmp);
    const CARVING_PLACEMENT placedJpg = builder.Add("next.jpg", Sample("sample_jfif.jpg"));
    CCarvingDisk disk(builder);
    Open(disk);
    EXPECT_EQ(Walk(disk), (std::vector<uint64_t>{placedBmp.u64Sector, placedJpg.u64Sector}));
    std::vector<FILE_NODE> vecNodes = TopLevel();
    ASSERT_EQ(vecNodes.size(), 2u);
    EXPECT_EQ(vecNodes[0].u64FileSize, 2000000u);
    EXPECT_EQ(vecNodes[1].u64FileSize, Sample("sample_jfif.jpg").size());
}

TEST_F(CCarvingEngineTest, WholeSampleImageIsCarvedOncePerFileAndSearchable) {
    CCarvingImageBuilder builder;
    for (const char* pName : {"sample_exif.jpg", "sample.png", "sample.zip", "sample.pdf",
                              "sample.doc", "sample.mp3", "sample.ts"}) {
        builder.Add(pName, Sample(pName));
        builder.AddRandomGap(2, 21);
    }
    CCarvingDisk disk(builder);
    Open(disk);
    std::vector<uint64_t> vecExpected;
    for (const CARVING_PLACEMENT& placed : builder.Placements())
        vecExpected.push_back(placed.u64Sector);
    EXPECT_EQ(Walk(disk), vecExpected);

    std::vector<SEARCH_FILE_INFO> vecHits;
    ASSERT_EQ(m_engine.SearchFileNode(u"*.jpg|*.png|", vecHits), 0);
    ASSERT_EQ(vecHits.size(), 2u);
    EXPECT_EQ(std::string(vecHits[0].szFileName), std::to_string(vecExpected[0]) + ".jpg");
    EXPECT_EQ(std::string(vecHits[1].szFileName), std::to_string(vecExpected[1]) + ".png");

    FILE_NODE parent = TopLevel()[0];
    std::vector<FILE_NODE> vecChildren;
    EXPECT_EQ(m_engine.GetChildrenFileNode(&parent, 0, vecChildren), 0);
    EXPECT_TRUE(vecChildren.empty());
    unsigned int nCount = 0;
    EXPECT_EQ(m_engine.GetChildrenFileCount(nullptr, 0, nCount), 0);
    EXPECT_EQ(nCount, 7u);
}

TEST_F(CCarvingEngineTest, CopyOutWritesTheFileOnceAndNeverOverwrites) {
    CCarvingImageBuilder builder;
    builder.Add("photo.jpg", Sample("sample_exif.jpg"));
    builder.AddRandomGap(3, 5);
    CCarvingDisk disk(builder);
    Open(disk);
    Walk(disk);
    FILE_NODE node = TopLevel().at(0);
    CTempDir out;
    const std::string strTarget = out.File("photo.jpg");
    const std::u16string strTarget16 = Ansi2Unicode(strTarget.c_str());
    ASSERT_EQ(m_engine.SaveFileData(&node, strTarget16.c_str(), 0), 0);
    EXPECT_EQ(ReadFileBytes(strTarget), Sample("sample_exif.jpg"));

    ASSERT_TRUE(WriteFileBytes(strTarget, {1, 2, 3}));
    EXPECT_EQ(m_engine.SaveFileData(&node, strTarget16.c_str(), 0), EEXIST);
    EXPECT_EQ(ReadFileBytes(strTarget), (std::vector<uint8_t>{1, 2, 3}));

    FILE_NODE empty = node;
    empty.u64FileSize = 0;
    const std::u16string strEmpty = Ansi2Unicode(out.File("empty.jpg").c_str());
    EXPECT_EQ(m_engine.SaveFileData(&empty, strEmpty.c_str(), 0), 0);
    EXPECT_TRUE(ReadFileBytes(out.File("empty.jpg")).empty());
    EXPECT_EQ(m_engine.SaveFileData(nullptr, strEmpty.c_str(), 0), ERROR_INVALID_PARAMETER);
}

struct PREVIEW_LOG {
    int nCalls = 0;
    int nLastPercent = -1;
    int nLastStatus = -1;
};

int RecordPreview(void* pParam, int nPercent, int nStatus) {
    auto* pLog = static_cast<PREVIEW_LOG*>(pParam);
    ++pLog->nCalls;
    pLog->nLastPercent = nPercent;
    pLog->nLastStatus = nStatus;
    return 0;
}

TEST_F(CCarvingEngineTest, PreviewWritesPicturesToTheScanLogRootAndOthersToTheBuffer) {
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT png = builder.Add("p.png", Sample("sample.png"));
    const CARVING_PLACEMENT pdf = builder.Add("d.pdf", Sample("sample.pdf"));
    CCarvingDisk disk(builder);
    Open(disk);
    FILE_NODE node = {};
    node.u64LocationSector = png.u64Sector;
    node.u64FileSize = png.u64Size;
    std::strcpy(node.szFileName, "123.png");
    char16_t szTemp[PREVIEW_PATH_CAPACITY] = {};
    int nLength = 0;
    PREVIEW_LOG log;
    ASSERT_EQ(m_engine.PreView(&node, szTemp, nullptr, nLength, RecordPreview, &log), 0);
    const std::string strTemp = Unicode2Ansi(szTemp);
    EXPECT_EQ(strTemp, CLogFileManager::GetScanLogRoot() + "tmp.png");
    EXPECT_EQ(strTemp.rfind(m_logDir.Path(), 0), 0u);
    EXPECT_EQ(ReadFileBytes(strTemp), Sample("sample.png"));
    EXPECT_EQ(log.nLastPercent, 100);
    // A second preview replaces the scratch copy.
    ASSERT_EQ(m_engine.PreView(&node, szTemp, nullptr, nLength, RecordPreview, &log), 0);

    node.u64LocationSector = pdf.u64Sector;
    node.u64FileSize = pdf.u64Size;
    std::strcpy(node.szFileName, "123.pdf");
    std::vector<uint8_t> buffer(1000, 0xEE);
    nLength = 700;
    ASSERT_EQ(m_engine.PreView(&node, szTemp, buffer.data(), nLength, RecordPreview, &log), 0);
    EXPECT_EQ(nLength, 700);
    std::vector<uint8_t> expected = Sample("sample.pdf");
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 700, expected.begin()));
    EXPECT_EQ(buffer[700], 0xEE);
    EXPECT_EQ(log.nLastStatus, 0);
}

int CancelScan(void*, int, int, int, uint64_t, uint64_t, uint64_t, const char16_t*) {
    return ERROR_CANCELLED_BY_USER;
}

TEST_F(CCarvingEngineTest, CancelDuringSizingStoresNothing) {
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("clip.mkv", Sample("sample.mkv"));
    CCarvingDisk disk(builder);
    Open(disk);
    m_engine.InitCallBack(CancelScan, nullptr, nullptr, 90);
    std::vector<uint8_t> sector = disk.ReadSector(placed.u64Sector);
    unsigned long long u64Skip = 0, u64Files = 0;
    EXPECT_EQ(m_engine.ParseFileBuf(sector.data(), SECTOR, placed.u64Sector, 0, disk.SectorCount(),
                                    0, &disk.Reader(), SECTOR, u64Skip, u64Files),
              ERROR_CANCELLED_BY_USER);
    EXPECT_EQ(u64Files, 0u);
    EXPECT_EQ(m_engine.GetLostFileCount(), 0u);
}

} // namespace
