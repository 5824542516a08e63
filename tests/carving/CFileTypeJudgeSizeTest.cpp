// Size finders on what real disks hold beside whole files: files inside files, files cut off,
// updates appended, transport streams met again; and sizing's progress and cancellation.
#include "CarvingTestDisk.h"

#include "util/ByteView.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A ZIP that stores one entry as a streaming writer does: sizes in a data descriptor behind the
// bytes, then the central directory and end record.
std::vector<uint8_t> StreamedZip(const std::string& strName, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> local(30, 0), descriptor(16, 0), central(46, 0), end(22, 0);
    std::memcpy(local.data(), "PK\x03\x04", 4);
    local[4] = 10;   // version needed
    local[6] = 0x08; // sizes in the data descriptor
    PutLE(local, 26, uint16_t(strName.size()), 2);
    std::memcpy(descriptor.data(), "PK\x07\x08", 4);
    PutLE(descriptor, 8, uint32_t(data.size()), 4);
    PutLE(descriptor, 12, uint32_t(data.size()), 4);
    std::memcpy(central.data(), "PK\x01\x02", 4);
    PutLE(central, 20, uint32_t(data.size()), 4);
    PutLE(central, 24, uint32_t(data.size()), 4);
    PutLE(central, 28, uint16_t(strName.size()), 2);
    std::vector<uint8_t> zip = local;
    zip.insert(zip.end(), strName.begin(), strName.end());
    zip = Concat(Concat(zip, data), descriptor);
    const size_t nCentral = zip.size();
    zip = Concat(zip, central);
    zip.insert(zip.end(), strName.begin(), strName.end());
    std::memcpy(end.data(), "PK\x05\x06", 4);
    PutLE(end, 8, 1, 2);
    PutLE(end, 10, 1, 2);
    PutLE(end, 12, uint32_t(zip.size() - nCentral), 4);
    PutLE(end, 16, uint32_t(nCentral), 4);
    return Concat(zip, end);
}

class CFileTypeJudgeSize : public ::testing::Test {
protected:
    CCarvingScope m_scope;
};

TEST_F(CFileTypeJudgeSize, FilesInsideFilesDoNotEndThem) {
    // A streamed ZIP storing another ZIP: the inner archive's records do not end the outer.
    const std::vector<uint8_t> outer = StreamedZip("inner.zip", Sample("sample.zip"));
    const CARVED_SIZE zip = SizeInMemory(Concat(outer, PatternBytes(4096, 1)));
    EXPECT_EQ(zip.u64Size, outer.size());
    EXPECT_EQ(zip.nType, FILE_TYPE_ZIP);
    // A JPEG whose Exif thumbnail ends with an EOI of its own.
    const std::vector<uint8_t> photo = Sample("sample_exifthumb.jpg");
    EXPECT_EQ(SizeInMemory(Concat(photo, Sample("sample_jfif.jpg"))).u64Size, photo.size());
    // A PDF updated incrementally, directly followed by another PDF.
    const std::vector<uint8_t> pdf = Sample("sample_incremental.pdf");
    EXPECT_EQ(SizeInMemory(Concat(pdf, Sample("sample.pdf"))).u64Size, pdf.size());
}

TEST_F(CFileTypeJudgeSize, TagsBehindTheAudioBelongToIt) {
    // An APEv2 tag written without its header: its items lead to the footer.
    std::vector<uint8_t> mp3 = Sample("sample_ape.mp3");
    auto header = CByteView(mp3.data(), mp3.size()).Find("APETAGEX", 8);
    ASSERT_TRUE(header.has_value());
    mp3.erase(mp3.begin() + long(*header), mp3.begin() + long(*header) + 32);
    EXPECT_EQ(SizeInMemory(Concat(mp3, PatternBytes(1024, 6))).u64Size, mp3.size());
    // FLAC behind an ID3v2 tag, as some taggers write it.
    const std::vector<uint8_t> id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10,
                                      0,   0,   0,   0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> flac = Concat(id3, Sample("sample.flac"));
    const CARVED_SIZE tagged = SizeInMemory(Concat(flac, PatternBytes(1024, 7)));
    EXPECT_EQ(tagged.u64Size, flac.size());
    EXPECT_EQ(tagged.nType, FILE_TYPE_FLAC);
}

TEST_F(CFileTypeJudgeSize, MultiPictureJpegKeepsTheImagesBehindItsFirstEnd) {
    // An MPF segment (APP2) after SOI whose second entry points at a JPEG behind the first EOI.
    const std::vector<uint8_t> first = Sample("sample_jfif.jpg");
    const std::vector<uint8_t> second = Sample("sample_bare.jpg");
    std::vector<uint8_t> mpf = {0xFF, 0xE2, 0,  0, 'M', 'P', 'F',  0,    'I', 'I', 0x2A, 0,
                                8,    0,    0,  0, 1,   0,   0x02, 0xB0, 7,   0,   32,   0,
                                0,    0,    26, 0, 0,   0,   0,    0,    0,   0};
    const uint32_t u32Tiff = 2 + 8; // offsets count from the TIFF header in the segment
    std::vector<uint8_t> entries(32, 0);
    const size_t nFirstBytes = first.size() + mpf.size() + entries.size();
    PutLE(entries, 4, uint32_t(nFirstBytes), 4);
    PutLE(entries, 16 + 4, uint32_t(second.size()), 4);
    PutLE(entries, 16 + 8, uint32_t(nFirstBytes - u32Tiff), 4);
    mpf = Concat(mpf, entries);
    mpf[3] = uint8_t(mpf.size() - 2);
    std::vector<uint8_t> file = {0xFF, 0xD8};
    file = Concat(Concat(file, mpf), std::vector<uint8_t>(first.begin() + 2, first.end()));
    ASSERT_EQ(file.size(), nFirstBytes);
    file = Concat(file, second);
    EXPECT_EQ(SizeInMemory(Concat(file, PatternBytes(2048, 2))).u64Size, file.size());
}

TEST_F(CFileTypeJudgeSize, JpegWalkProvesOnlyAnUnbrokenStructure) {
    for (const char* pName : {"sample_big.jpg", "sample_progressive.jpg", "sample_restart.jpg"})
        EXPECT_TRUE(SizeInMemory(Sample(pName)).bProvedWhole) << pName;
    // Foreign data whose FF bytes look like restart markers, but out of turn.
    std::vector<uint8_t> jpeg = Sample("sample_restart.jpg");
    const uint8_t rst1[] = {0xFF, 0xD1};
    auto it = std::search(jpeg.begin(), jpeg.end(), std::begin(rst1), std::end(rst1));
    ASSERT_NE(it, jpeg.end());
    it[1] = 0xD3;
    const CARVED_SIZE twin = SizeInMemory(jpeg);
    EXPECT_EQ(twin.u64Size, jpeg.size());
    EXPECT_FALSE(twin.bProvedWhole);
    // Text inside the coded data: no marker is wrong, but no photo has 8 KiB without an FF.
    std::vector<uint8_t> texted = Sample("sample_exifthumb.jpg");
    EXPECT_TRUE(SizeInMemory(texted).bProvedWhole);
    texted.insert(texted.end() - 200, 8192, uint8_t('a'));
    EXPECT_FALSE(SizeInMemory(texted).bProvedWhole);
}

TEST_F(CFileTypeJudgeSize, FilesCutOffKeepWhatIsThereAndFalseStartsAreRefused) {
    // Photos and music whose data breaks off into other data: kept up to the break.
    const std::vector<uint8_t> jpeg = Sample("sample_big.jpg");
    const size_t nCut = jpeg.size() - 300;
    const CARVED_SIZE photo = SizeInMemory(
        Concat(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + nCut), PatternBytes(4096, 3)));
    EXPECT_GE(photo.u64Size, nCut);
    EXPECT_LT(photo.u64Size, nCut + 4096);
    EXPECT_FALSE(photo.bProvedWhole);
    const std::vector<uint8_t> ogg = Sample("sample.ogg");
    std::vector<uint8_t> broken = ogg;
    broken[ogg.size() - 100] ^= 0xFF; // the last page's CRC no longer holds
    EXPECT_LT(SizeInMemory(broken).u64Size, ogg.size());
    EXPECT_GT(SizeInMemory(broken).u64Size, 0u);
    // A header whose structure breaks at once is no file of that format.
    std::vector<uint8_t> rar = Sample("sample_rar5.rar");
    rar[12] ^= 0x01; // the main header's CRC no longer holds
    EXPECT_EQ(SizeInMemory(Concat(rar, PatternBytes(512, 4))).u64Size, 0u);
    std::vector<uint8_t> doc = Sample("sample.doc");
    doc[30] = 10; // a sector shift no compound document has
    EXPECT_EQ(SizeInMemory(doc).u64Size, 0u);
    std::vector<uint8_t> png = Sample("sample.png");
    png.resize(100); // IHDR, then nothing of the picture
    EXPECT_EQ(SizeInMemory(Concat(png, PatternBytes(1024, 5))).u64Size, 0u);
}

TEST_F(CFileTypeJudgeSize, SizesPastTheVolumeAreCutAtItsEnd) {
    std::vector<uint8_t> wav = Sample("sample.wav");
    PutLE(wav, 4, 1000 * 1000, 4); // a RIFF size far past the 16 zero sectors that follow
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT placed = builder.Add("long.wav", wav);
    CCarvingDisk disk(builder);
    SIZED_FILE sized = disk.Carve(placed.u64Sector);
    EXPECT_EQ(sized.nType, FILE_TYPE_WAV);
    EXPECT_EQ(sized.u64Size, (disk.SectorCount() - placed.u64Sector) * SECTOR);
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

TEST_F(CFileTypeJudgeSize, TransportStreamIsRememberedAndNotCarvedAgainFromItsMiddle) {
    // 200 packets: packet 128 starts exactly at sector 47 of the stream.
    CCarvingImageBuilder builder;
    const CARVING_PLACEMENT ts = builder.Add("stream.ts", TsPackets(200));
    builder.AddZeroGap(4);
    const CARVING_PLACEMENT jpg = builder.Add("photo.jpg", Sample("sample_jfif.jpg"));
    CCarvingDisk disk(builder);
    // A stream whose packets run on from the sector before began earlier.
    EXPECT_EQ(disk.Carve(ts.u64Sector + 47).nResult, ERROR_INVALID_PARAMETER);
    SIZED_FILE sized = disk.Carve(ts.u64Sector);
    ASSERT_EQ(sized.nType, FILE_TYPE_TS);
    EXPECT_EQ(sized.u64Size, 200u * 188);
    ASSERT_EQ(CFileTypeJudge::GetTsFileRanges().size(), 1u);
    EXPECT_EQ(CFileTypeJudge::GetTsFileRanges()[0].u64StartSector, ts.u64Sector);
    EXPECT_EQ(CFileTypeJudge::GetTsFileRanges()[0].u64EndSector, ts.u64Sector + 73);
    ASSERT_EQ(disk.Carve(jpg.u64Sector).nType, FILE_TYPE_JPG);
    EXPECT_EQ(disk.Carve(ts.u64Sector + 47).nResult, ERROR_INVALID_PARAMETER);
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

// A sparse 3 GB image: a PDF header and then nothing but zeros, which the finder searches
// for an end.
class CBigPdfImage {
public:
    CBigPdfImage() {
        m_strPath = m_dir.File("big.img");
        std::vector<uint8_t> head(512, 0);
        std::memcpy(head.data(), "%PDF-1.7\n", 9);
        EXPECT_TRUE(WriteFileBytes(m_strPath, head));
        std::filesystem::resize_file(m_strPath, 3000ull * 1000 * 1000);
        m_nDisk = CDiskRegistry::GetInstance().AddImage(m_strPath);
        EXPECT_EQ(m_reader.Init(m_nDisk, 3000ull * 1000 * 1000 / 512), 0);
    }
    int Carve(PROGRESS_LOG& log, unsigned long long& u64Size) {
        CFileTypeJudge::InitCallBack(RecordProgress, nullptr, &log, 90);
        std::vector<uint8_t> sector(512, 0);
        std::memcpy(sector.data(), "%PDF-1.7\n", 9);
        char szName[FILE_NODE_NAME_BYTES];
        EXTEND_NAME_TYPE nType;
        unsigned long long u64Checked = 0;
        bool bProvedWhole = false;
        return CFileTypeJudge::ParseFileBuf(sector.data(), 512, 0, 1000, 2000, 5, 3, &m_reader, 512,
                                            szName, nType, u64Size, u64Checked, bProvedWhole);
    }

private:
    CTempDir m_dir;
    std::string m_strPath;
    int m_nDisk = -1;
    CDiskReader m_reader;
};

TEST_F(CFileTypeJudgeSize, CancelWhileSizingStopsTheScanAndOtherAnswersOnlyThatFile) {
    CBigPdfImage image;
    PROGRESS_LOG log;
    log.nAnswer = ERROR_CANCELLED_BY_USER;
    unsigned long long u64Size = 0;
    EXPECT_EQ(image.Carve(log, u64Size), ERROR_CANCELLED_BY_USER);
    EXPECT_EQ(log.nCalls, 1);
    // The progress counts the sectors the finder read on top of the scan's own.
    EXPECT_GT(log.u64LastSector, 1000u);
    EXPECT_EQ(log.nLastPercent, int(log.u64LastSector * 100 / 2000 + 10));

    PROGRESS_LOG other;
    other.nAnswer = 1;
    EXPECT_EQ(image.Carve(other, u64Size), 0);
    EXPECT_EQ(other.nCalls, 1);
    EXPECT_EQ(u64Size, 512u);
}

} // namespace
