// The carving engine over raw images: every committed sample carved byte-exact among random and
// zero gaps (and the same hits when shifted), skips, listing, search, copy-out, preview.
#include "carving/CFileTypeRecovery.h"
#include "formats/proof/CFileProof.h"

#include "CarvingTestDisk.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <zlib.h>

namespace {

std::string ExtensionOf(const std::string& strName) {
    return strName.substr(strName.rfind('.') + 1);
}

// Samples whose format states no end: a PE without sections and a Ghost image are not carved;
// Outlook stores run to the next file.
const std::set<std::string> NOT_CARVED = {"sample.exe", "sample.gho"};
const std::set<std::string> TO_NEXT_FILE = {"sample.dbx", "sample.pst"};
// Frames longer than a sector: one sector cannot tell an MPEG audio stream from chance bytes.
const std::set<std::string> NEEDS_MORE_THAN_A_SECTOR = {"sample.mp2"};

// Every sample, in name order, behind a gap of zero or random sectors (odd counts too).
CCarvingImageBuilder BuildSampleImage(uint64_t u64FirstSector) {
    CCarvingImageBuilder builder(u64FirstSector);
    int i = 0;
    for (const std::string& strName : ListCarvingSamples()) {
        if (i % 3 == 1)
            builder.AddZeroGap(1 + i % 4);
        else if (i % 3 == 2)
            builder.AddRandomGap(1 + i % 5, uint32_t(i));
        builder.Add(strName, Sample(strName));
        ++i;
    }
    return builder;
}

// The sample PNG grown to nSize bytes by a private ancillary chunk ("prVt") after IHDR.
std::vector<uint8_t> PngOfSize(size_t nSize) {
    std::vector<uint8_t> png = Sample("sample.png");
    const size_t nAfterIhdr = 8 + 25;
    const size_t nData = nSize - png.size() - 12;
    std::vector<uint8_t> chunk = {0, 0, 0, 0, 'p', 'r', 'V', 't'};
    for (int i = 0; i < 4; ++i)
        chunk[i] = uint8_t(nData >> (24 - 8 * i)); // big-endian length
    std::vector<uint8_t> data = PatternBytes(nData, 11);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uint32_t u32Crc = uint32_t(crc32_z(0, chunk.data() + 4, chunk.size() - 4));
    for (int i = 0; i < 4; ++i)
        chunk.push_back(uint8_t(u32Crc >> (24 - 8 * i)));
    png.insert(png.begin() + nAfterIhdr, chunk.begin(), chunk.end());
    return png;
}

// A carving engine set up on an image, and the sector walk the deep scan performs.
class CCarvingEngineTest : public ::testing::Test {
protected:
    void Open(CCarvingDisk& disk) {
        ASSERT_EQ(m_engine.Init(disk.DiskNo(), 0, (long long)disk.SectorCount(), u'E'), 0);
        m_engine.InitCallBack(nullptr, nullptr, nullptr, 90);
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

    std::vector<uint8_t> CopyOut(FILE_NODE node) {
        const std::string strTarget = m_out.File(std::to_string(node.nFileIndex));
        EXPECT_EQ(m_engine.SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0), 0);
        return ReadFileBytes(strTarget);
    }

    CCarvingScope m_scope;
    CScanLogDirScope m_logDir;
    CTempDir m_out;
    CFileTypeRecovery m_engine;
};

TEST_F(CCarvingEngineTest, EverySampleComesBackByteExact) {
    CCarvingImageBuilder builder = BuildSampleImage(64);
    CCarvingDisk disk(builder);
    Open(disk);
    Walk(disk);
    std::map<uint64_t, FILE_NODE> nodes;
    for (const FILE_NODE& node : TopLevel())
        nodes[node.u64LocationSector] = node;
    ASSERT_GE(builder.Placements().size(), 150u);
    for (const CARVING_PLACEMENT& placed : builder.Placements()) {
        SCOPED_TRACE(placed.strName);
        const std::vector<uint8_t> bytes = Sample(placed.strName);
        const std::string strExt = ExtensionOf(placed.strName);
        // What the file-system engines' health test asks of a first sector: its own format.
        const std::vector<uint8_t> sector = disk.ReadSector(placed.u64Sector);
        EXPECT_TRUE(NEEDS_MORE_THAN_A_SECTOR.count(placed.strName) ||
                    CFileTypeJudge::IsFileTypeMatching(sector.data(), SECTOR, strExt.c_str(),
                                                       nullptr, SECTOR, placed.u64Sector));
        if (NOT_CARVED.count(placed.strName)) {
            EXPECT_EQ(nodes.count(placed.u64Sector), 0u);
            continue;
        }
        ASSERT_EQ(nodes.count(placed.u64Sector), 1u);
        const FILE_NODE& node = nodes[placed.u64Sector];
        const EXTEND_NAME_TYPE nType = CFileTypeJudge::GetExtendNameType(strExt.c_str());
        EXPECT_EQ(std::string(node.szFileName), std::to_string(placed.u64Sector) + "." +
                                                    CFileTypeJudge::GetTypeExtendName(nType));
        const std::vector<uint8_t> carved = CopyOut(node);
        if (TO_NEXT_FILE.count(placed.strName)) {
            EXPECT_EQ(carved.size(), (placed.u64NextSector - placed.u64Sector) * SECTOR);
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), carved.begin()));
            continue;
        }
        EXPECT_EQ(carved.size(), bytes.size());
        EXPECT_TRUE(carved == bytes);
    }
    // Nothing else is carved: no false start in a gap, no file inside another.
    EXPECT_EQ(nodes.size(), builder.Placements().size() - NOT_CARVED.size());

    std::vector<SEARCH_FILE_INFO> vecHits;
    ASSERT_EQ(m_engine.SearchFileNode(u"*.png|*.gif|", vecHits), 0);
    EXPECT_EQ(vecHits.size(), 3u);
}

TEST_F(CCarvingEngineTest, ShiftedByAnOddNumberOfSectorsGivesShiftedHits) {
    constexpr uint64_t SHIFT = 7;
    std::vector<std::pair<uint64_t, uint64_t>> vecHits[2];
    for (int i = 0; i < 2; ++i) {
        CScanLogDirScope logDir; // a result store of its own
        CCarvingImageBuilder builder = BuildSampleImage(64 + SHIFT * i);
        CCarvingDisk disk(builder);
        Open(disk);
        CFileTypeJudge::ClearTsFileRanges(); // each image is a scan of its own
        Walk(disk);
        for (const FILE_NODE& node : TopLevel())
            vecHits[i].push_back({node.u64LocationSector - SHIFT * i, node.u64FileSize});
        std::sort(vecHits[i].begin(), vecHits[i].end());
    }
    EXPECT_EQ(vecHits[0], vecHits[1]);
}

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
    EXPECT_EQ(node.nDataHealth, DATA_HEALTH_WHOLE);
    EXPECT_EQ(node.nFileIndex, 1u);
    EXPECT_EQ(node.nClusterBytes, CLUSTER_BYTES_NONE);
    EXPECT_EQ(m_engine.GetLostFileCount(), 1u);
    std::vector<FILE_NODE> vecChildren;
    EXPECT_EQ(m_engine.GetChildrenFileNode(&vecNodes[0], 0, vecChildren), 0);
    EXPECT_TRUE(vecChildren.empty());
}

TEST_F(CCarvingEngineTest, SizeTakenFromAHeaderHidesNoFollowingFileButAWalkedOneHidesItsInside) {
    // A 1000 x 666 24-bit BMP header (2 MB stated) whose pixels were overwritten by a JPEG.
    std::vector<uint8_t> bmp = Sample("sample.bmp");
    const uint32_t u32Width = 1000, u32Height = 666, u32Size = 54 + 3000 * 666;
    std::memcpy(bmp.data() + 2, &u32Size, 4);
    std::memcpy(bmp.data() + 18, &u32Width, 4);
    std::memcpy(bmp.data() + 22, &u32Height, 4);
    bmp.resize(512);
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placedBmp = builder.Add("claims.bmp", bmp);
    const CARVING_PLACEMENT placedJpg = builder.Add("next.jpg", Sample("sample_jfif.jpg"));
    builder.AddZeroGap(4000); // the volume holds what the header states
    CCarvingDisk disk(builder);
    Open(disk);
    EXPECT_EQ(Walk(disk), (std::vector<uint64_t>{placedBmp.u64Sector, placedJpg.u64Sector}));
    std::vector<FILE_NODE> vecNodes = TopLevel();
    ASSERT_EQ(vecNodes.size(), 2u);
    EXPECT_EQ(vecNodes[0].u64FileSize, u32Size);
    EXPECT_EQ(CopyOut(vecNodes[1]), Sample("sample_jfif.jpg"));

    // A WAV whose chunks lead to its end holds a JPEG in its data from its second sector on:
    // not carved again. With a RIFF size past its chunks, only its header is taken as read.
    const std::vector<uint8_t> jpg = Sample("sample_jfif.jpg");
    std::vector<uint8_t> wav = Sample("sample.wav");
    wav.resize(70); // RIFF header, fmt and LIST chunks
    const std::vector<uint8_t> junk = {'J', 'U', 'N', 'K', 0xAA, 0x01, 0, 0}; // 426 bytes
    wav.insert(wav.end(), junk.begin(), junk.end());
    wav.resize(512 - 8, 0);
    const std::vector<uint8_t> data = {
        'd', 'a', 't', 'a', uint8_t(jpg.size()), uint8_t(jpg.size() >> 8), 0, 0};
    wav.insert(wav.end(), data.begin(), data.end());
    wav.insert(wav.end(), jpg.begin(), jpg.end());
    wav.resize(wav.size() + (jpg.size() & 1), 0);
    for (uint32_t u32Claimed : {uint32_t(wav.size() - 8), uint32_t(wav.size() + 4096)}) {
        std::memcpy(wav.data() + 4, &u32Claimed, 4);
        CCarvingImageBuilder withWav;
        const CARVING_PLACEMENT placedWav = withWav.Add("walked.wav", wav);
        withWav.AddZeroGap(16);
        CCarvingDisk wavDisk(withWav);
        CScanLogDirScope logDir;
        Open(wavDisk);
        const std::vector<uint64_t> vecCarved = Walk(wavDisk);
        if (u32Claimed == wav.size() - 8)
            EXPECT_EQ(vecCarved, (std::vector<uint64_t>{placedWav.u64Sector}));
        else
            EXPECT_EQ(vecCarved,
                      (std::vector<uint64_t>{placedWav.u64Sector, placedWav.u64Sector + 1}));
    }
}

TEST_F(CCarvingEngineTest, CopyOutNeverOverwritesAndCopiesEmptyNodes) {
    CCarvingImageBuilder builder;
    builder.Add("photo.jpg", Sample("sample_exif.jpg"));
    builder.AddRandomGap(3, 5);
    CCarvingDisk disk(builder);
    Open(disk);
    Walk(disk);
    FILE_NODE node = TopLevel().at(0);
    const std::string strTarget = m_out.File("photo.jpg");
    const std::u16string strTarget16 = Ansi2Unicode(strTarget.c_str());
    ASSERT_TRUE(WriteFileBytes(strTarget, {1, 2, 3}));
    EXPECT_EQ(m_engine.SaveFileData(&node, strTarget16.c_str(), 0), EEXIST);
    EXPECT_EQ(ReadFileBytes(strTarget), (std::vector<uint8_t>{1, 2, 3}));

    FILE_NODE empty = node;
    empty.u64FileSize = 0;
    const std::u16string strEmpty = Ansi2Unicode(m_out.File("empty.jpg").c_str());
    EXPECT_EQ(m_engine.SaveFileData(&empty, strEmpty.c_str(), 0), 0);
    EXPECT_TRUE(ReadFileBytes(m_out.File("empty.jpg")).empty());
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
    const CARVING_PLACEMENT webp = builder.Add("p.webp", Sample("sample_lossy.webp"));
    const CARVING_PLACEMENT pdf = builder.Add("d.pdf", Sample("sample.pdf"));
    CCarvingDisk disk(builder);
    Open(disk);
    FILE_NODE node = {};
    node.u64LocationSector = webp.u64Sector;
    node.u64FileSize = webp.u64Size;
    std::strcpy(node.szFileName, "123.webp");
    char16_t szTemp[PREVIEW_PATH_CAPACITY] = {};
    int nLength = 0;
    PREVIEW_LOG log;
    ASSERT_EQ(m_engine.PreView(&node, szTemp, nullptr, nLength, RecordPreview, &log), 0);
    const std::string strTemp = Unicode2Ansi(szTemp);
    EXPECT_EQ(strTemp, CLogFileManager::GetScanLogRoot() + "tmp.webp");
    EXPECT_EQ(strTemp.rfind(m_logDir.Path(), 0), 0u);
    EXPECT_EQ(ReadFileBytes(strTemp), Sample("sample_lossy.webp"));
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

} // namespace
