// End rules of the size finders on hand-assembled images: tail markers, TS ranges, header caps,
// compound-document fallbacks, progress and cancellation.
#include "CarvingTestDisk.h"

#include "util/ByteView.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> head, size_t nSize) {
    std::vector<uint8_t> bytes(nSize, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

void Put(std::vector<uint8_t>& bytes, size_t nAt, const void* pData, size_t nLen) {
    std::memcpy(bytes.data() + nAt, pData, nLen);
}

std::vector<uint8_t> Sample(const std::string& strName) {
    return ReadFileBytes(TestDataPath("samples/" + strName));
}

// TS packets: 47, a PID, a counter, then payload bytes that never start a packet.
std::vector<uint8_t> TsPackets(size_t nPackets) {
    std::vector<uint8_t> stream(nPackets * 188, 0x55);
    for (size_t i = 0; i < nPackets; ++i) {
        stream[i * 188] = 0x47;
        stream[i * 188 + 1] = 0x01;
        stream[i * 188 + 2] = 0x00;
        stream[i * 188 + 3] = uint8_t(0x10 | (i & 0x0F));
    }
    return stream;
}

class CFileTypeJudgeTail : public ::testing::Test {
protected:
    void SetUp() override { CFileTypeJudge::ClearTsFileRanges(); }
    CFileTypeJudge m_judge;
};

TEST_F(CFileTypeJudgeTail, JpegEndingOnTheHeaderSectorBoundaryIsNotReadFurther) {
    std::vector<uint8_t> jpeg = Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}, 512);
    Put(jpeg, 6, "JFIF", 4);
    jpeg[510] = 0xFF;
    jpeg[511] = 0xD9;
    // A later, zero-padded end marker that a further read would take.
    std::vector<uint8_t> more = PatternBytes(2048, 3);
    more[1000] = 0xFF;
    more[1001] = 0xD9;
    std::fill(more.begin() + 1002, more.begin() + 1024, 0);
    jpeg.insert(jpeg.end(), more.begin(), more.end());
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("end.jpg", jpeg);
    CCarvingDisk disk(builder);
    SIZED_FILE sized = disk.Carve(placed.u64Sector);
    EXPECT_EQ(sized.nType, FILE_TYPE_JPG);
    EXPECT_EQ(sized.u64Size, 512u);
}

TEST_F(CFileTypeJudgeTail, PngEndFollowedByDataInItsSectorDoesNotEndTheFile) {
    std::vector<uint8_t> png = Sample("sample.png");
    const size_t nRealSize = png.size();
    png.resize(nRealSize + 20, 0xAB); // data after IEND in the same sector
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT first = builder.Add("glued.png", png);
    builder.AddRandomGap(4, 9);
    const CARVING_PLACEMENT next = builder.Add("next.gif", Sample("sample.gif"));
    CCarvingDisk disk(builder);
    EXPECT_EQ(disk.Carve(first.u64Sector).u64Size, (next.u64Sector - first.u64Sector) * SECTOR);
    // The same picture with a clean tail ends right after IEND.
    CCarvingImageBuilder clean;
    const CARVING_PLACEMENT cleanPng = clean.Add("clean.png", Sample("sample.png"));
    clean.AddRandomGap(4, 9);
    CCarvingDisk cleanDisk(clean);
    EXPECT_EQ(cleanDisk.Carve(cleanPng.u64Sector).u64Size, nRealSize);
}

TEST_F(CFileTypeJudgeTail, TsStreamEndsAtItsFirstBrokenPacketAndIsRemembered) {
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("stream.ts", TsPackets(100));
    builder.AddZeroGap(40);
    CCarvingDisk disk(builder);
    SIZED_FILE sized = disk.Carve(placed.u64Sector);
    ASSERT_EQ(sized.nResult, 0);
    EXPECT_EQ(sized.nType, FILE_TYPE_TS);
    EXPECT_EQ(sized.u64Size, 18800u);
    ASSERT_EQ(CFileTypeJudge::GetTsFileRanges().size(), 1u);
    EXPECT_EQ(CFileTypeJudge::GetTsFileRanges()[0].u64StartSector, placed.u64Sector);
    EXPECT_EQ(CFileTypeJudge::GetTsFileRanges()[0].u64EndSector, placed.u64Sector + 36);
}

TEST_F(CFileTypeJudgeTail, SectorInsideACarvedTsStreamIsNoNewFile) {
    // 200 packets: packet 128 starts exactly at sector 47 of the stream.
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("stream.ts", TsPackets(200));
    builder.AddZeroGap(40);
    CCarvingDisk disk(builder);
    ASSERT_EQ(disk.Carve(placed.u64Sector).nType, FILE_TYPE_TS);
    EXPECT_EQ(disk.Carve(placed.u64Sector + 47).nResult, ERROR_INVALID_PARAMETER);
}

TEST_F(CFileTypeJudgeTail, TsStreamThatBeganASectorEarlierIsNotReported) {
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("stream.ts", TsPackets(200));
    CCarvingDisk disk(builder);
    // Sector 47 of the stream starts with packet 128; packet 127 sits at 324 of sector 46.
    EXPECT_EQ(disk.Carve(placed.u64Sector + 47).nResult, ERROR_INVALID_PARAMETER);
    std::vector<uint8_t> sector = disk.ReadSector(placed.u64Sector + 47);
    EXPECT_EQ(CFileTypeJudge::IsFileTypeMatching(sector.data(), SECTOR, "ts", &disk.Reader(),
                                                 SECTOR, placed.u64Sector + 47),
              1)
        << "the extension check does not look back";
}

TEST_F(CFileTypeJudgeTail, CarvedTsRangeHoldsAfterAnotherFileWasCarved) {
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT ts = builder.Add("stream.ts", TsPackets(200));
    builder.AddZeroGap(4);
    const CARVING_PLACEMENT jpg = builder.Add("photo.jpg", Sample("sample_jfif.jpg"));
    CCarvingDisk disk(builder);
    ASSERT_EQ(disk.Carve(ts.u64Sector).nType, FILE_TYPE_TS);
    ASSERT_EQ(disk.Carve(jpg.u64Sector).nType, FILE_TYPE_JPG);
    EXPECT_EQ(disk.Carve(ts.u64Sector + 47).nResult, ERROR_INVALID_PARAMETER);
}

TEST_F(CFileTypeJudgeTail, MtsHeadsWithTimeCodesContinueTheMtsFile) {
    // 192-byte packets, each a PAT behind a 4-byte arrival time; every third sector starts one.
    std::vector<uint8_t> stream;
    for (uint32_t i = 0; i < 48; ++i) {
        std::vector<uint8_t> packet(192, 0xFF);
        const uint8_t head[] = {uint8_t(i >> 8),
                                uint8_t(i),
                                0x10,
                                0x00,
                                0x47,
                                0x40,
                                0x00,
                                uint8_t(0x10 | (i & 0x0F)),
                                0x00,
                                0x00,
                                0xB0,
                                0x11,
                                0x00,
                                0x00,
                                0xC1,
                                0x00};
        Put(packet, 0, head, sizeof(head));
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT mts = builder.Add("clip.mts", stream);
    builder.AddZeroGap(2);
    const CARVING_PLACEMENT next = builder.Add("next.png", Sample("sample.png"));
    CCarvingDisk disk(builder);
    SIZED_FILE sized = disk.Carve(mts.u64Sector);
    EXPECT_EQ(sized.nType, FILE_TYPE_MTS);
    EXPECT_EQ(sized.u64Size, (next.u64Sector - mts.u64Sector) * SECTOR);
}

TEST_F(CFileTypeJudgeTail, CompoundDocumentSizeFollowsTheDifatChain) {
    // Header: 110 FAT sectors, one DIFAT sector (file sector 2) whose first entry names the last
    // FAT sector (file sector 3), which ends in 100 free entries.
    std::vector<uint8_t> doc = Sample("sample.ole");
    doc.resize(5 * 512, 0);
    const uint32_t u32FatSectors = 110, u32DifatStart = 2, u32DifatSectors = 1;
    Put(doc, 44, &u32FatSectors, 4);
    Put(doc, 68, &u32DifatStart, 4);
    Put(doc, 72, &u32DifatSectors, 4);
    const uint32_t u32LastFat = 3;
    Put(doc, 512 * (1 + u32DifatStart), &u32LastFat, 4);
    std::fill(doc.begin() + 512 * (1 + u32LastFat), doc.end(), 0);
    std::fill(doc.begin() + 512 * (1 + u32LastFat) + 28 * 4, doc.end(), 0xFF);
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("big.ole", doc);
    CCarvingDisk disk(builder);
    EXPECT_EQ(disk.Carve(placed.u64Sector).u64Size, (110u * 128 + 1 - 100) * 512);
}

TEST_F(CFileTypeJudgeTail, PackagePartHeaderSplitByAReadWindowIsStillSeen) {
    // A local header for "[Content_Types].xml" at 0, then one for "word/document.xml" whose
    // signature straddles the end of the first 4-sector window (bytes 2046..2049).
    std::vector<uint8_t> zip(6000, 0x20);
    const uint8_t local[] = {0x50, 0x4B, 0x03, 0x04};
    const std::string strTypes = "[Content_Types].xml";
    const std::string strPart = "word/document.xml";
    Put(zip, 0, local, 4);
    zip[26] = uint8_t(strTypes.size()); // file name length
    Put(zip, 30, strTypes.data(), strTypes.size());
    Put(zip, 2046, local, 4);
    zip[2046 + 26] = uint8_t(strPart.size());
    Put(zip, 2046 + 30, strPart.data(), strPart.size());
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("split.docx", zip);
    CCarvingDisk disk(builder);
    std::vector<uint8_t> sector = disk.ReadSector(placed.u64Sector);
    EXPECT_EQ(CFileTypeJudge::IsFileTypeMatching(sector.data(), SECTOR, "docx", &disk.Reader(),
                                                 SECTOR, placed.u64Sector),
              1);
}

TEST_F(CFileTypeJudgeTail, NoReaderIsHeldAfterACall) {
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT docx = builder.Add("a.docx", Sample("sample.docx"));
    CCarvingDisk disk(builder);
    ASSERT_EQ(disk.Carve(docx.u64Sector).nType, FILE_TYPE_DOCX);
    // Without a reader in hand the package's parts cannot be looked at: a plain ZIP.
    std::vector<uint8_t> sector = disk.ReadSector(docx.u64Sector);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector.data(), SECTOR), FILE_TYPE_ZIP);
}

TEST_F(CFileTypeJudgeTail, HeaderSizesAreCapped) {
    std::vector<uint8_t> bmp = Sample("sample.bmp");
    const uint32_t u32Claimed = 500 * 1000 * 1000;
    Put(bmp, 2, &u32Claimed, 4);
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("huge.bmp", bmp);
    CCarvingDisk disk(builder);
    EXPECT_EQ(disk.Carve(placed.u64Sector).u64Size, 0x8000000u);
}

TEST_F(CFileTypeJudgeTail, CompoundDocumentWithSectorShift10FallsBackToTheBlockLoop) {
    std::vector<uint8_t> doc = Sample("sample.doc");
    doc[30] = 10;
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("odd.doc", doc);
    builder.AddRandomGap(3, 4);
    const CARVING_PLACEMENT next = builder.Add("next.png", Sample("sample.png"));
    CCarvingDisk disk(builder);
    SIZED_FILE sized = disk.Carve(placed.u64Sector);
    EXPECT_EQ(sized.nType, FILE_TYPE_DOC);
    EXPECT_EQ(sized.u64Size, (next.u64Sector - placed.u64Sector) * SECTOR);
}

TEST_F(CFileTypeJudgeTail, WordSummaryTextEndsACompoundDocumentWithoutHeaderSize) {
    std::vector<uint8_t> doc = Sample("sample.doc");
    doc[30] = 10;
    const uint8_t head[] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A};
    const uint8_t tail[] = {'M', 'i', 'c', 'r', 'o', 's', 'o', 'f', 't', ' ',  'O',  'f',  'f',
                            'i', 'c', 'e', ' ', 'W', 'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
    Put(doc, 1024, head, sizeof(head));
    Put(doc, 1100, tail, sizeof(tail));
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("summary.doc", doc);
    builder.AddRandomGap(8, 5);
    CCarvingDisk disk(builder);
    EXPECT_EQ(disk.Carve(placed.u64Sector).u64Size, 1536u); // 1126 rounded up to a sector
}

TEST_F(CFileTypeJudgeTail, FileEndingInTheVolumesLastBlockIsStillFound) {
    CCarvingImageBuilder builder;
    std::vector<uint8_t> png = Sample("sample.png");
    std::vector<uint8_t> padded = PatternBytes(4000, 6);
    std::copy(png.begin(), png.end() - 12, padded.begin()); // header and data, no IEND yet
    std::copy(png.end() - 12, png.end(), padded.end() - 12);
    const CARVING_PLACEMENT placed = builder.Add("late.png", padded);
    CCarvingDisk disk(builder); // 16 sectors follow: far less than one 64 KiB block
    EXPECT_EQ(disk.Carve(placed.u64Sector).u64Size, 4000u);
}

struct PROGRESS_LOG {
    int nCalls = 0;
    int nAnswer = 0;
    int nLastPercent = 0;
    uint64_t u64LastSector = 0;
};

int RecordProgress(void* pParam, int nPercent, int, int, uint64_t u64Sector, uint64_t, uint64_t,
                   const char16_t*) {
    auto* pLog = static_cast<PROGRESS_LOG*>(pParam);
    ++pLog->nCalls;
    pLog->nLastPercent = nPercent;
    pLog->u64LastSector = u64Sector;
    return pLog->nAnswer;
}

// A sparse 3 GB image: an MKV header and then nothing but zeros.
class CBigVideoImage {
public:
    CBigVideoImage() {
        m_strPath = m_dir.File("big.img");
        std::vector<uint8_t> head = Bytes({0x1A, 0x45, 0xDF, 0xA3}, 512);
        EXPECT_TRUE(WriteFileBytes(m_strPath, head));
        std::filesystem::resize_file(m_strPath, 3000ull * 1000 * 1000);
        m_nDisk = CDiskRegistry::GetInstance().AddImage(m_strPath);
        EXPECT_EQ(m_reader.Init(m_nDisk, 3000ull * 1000 * 1000 / 512), 0);
    }
    int Carve(PROGRESS_LOG& log, unsigned long long& u64Size) {
        CFileTypeJudge::InitCallBack(RecordProgress, nullptr, &log, 90);
        std::vector<uint8_t> sector = Bytes({0x1A, 0x45, 0xDF, 0xA3}, 512);
        char szName[FILE_NODE_NAME_BYTES];
        EXTEND_NAME_TYPE nType;
        return CFileTypeJudge::ParseFileBuf(sector.data(), 512, 0, 1000, 2000, 5, 3, &m_reader, 512,
                                            szName, nType, u64Size);
    }

private:
    CTempDir m_dir;
    std::string m_strPath;
    int m_nDisk = -1;
    CDiskReader m_reader;
};

TEST_F(CFileTypeJudgeTail, CancelWhileSizingALongVideoStopsTheScan) {
    CBigVideoImage image;
    PROGRESS_LOG log;
    log.nAnswer = ERROR_CANCELLED_BY_USER;
    unsigned long long u64Size = 0;
    EXPECT_EQ(image.Carve(log, u64Size), ERROR_CANCELLED_BY_USER);
    EXPECT_EQ(log.nCalls, 1);
    // The progress counts the sectors the finder read on top of the scan's own.
    EXPECT_EQ(log.u64LastSector, 1000u + 128u);
    EXPECT_EQ(log.nLastPercent, int((1000 + 128) * 100 / 2000 + 10));
}

TEST_F(CFileTypeJudgeTail, OtherCallbackAnswersOnlyEndThatFilesSizing) {
    CBigVideoImage image;
    PROGRESS_LOG log;
    log.nAnswer = 1;
    unsigned long long u64Size = 0;
    EXPECT_EQ(image.Carve(log, u64Size), 0);
    EXPECT_EQ(log.nCalls, 1);
    EXPECT_EQ(u64Size, 512u);
}

} // namespace
