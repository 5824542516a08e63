// Detectors on first sectors: variants the samples do not show, near misses each broken in one
// field, the table's shape, the first-sector health check and file-system sectors.
#include "formats/carving/CFileTypeJudge.h"

#include "CarvingTestDisk.h"
#include "formats/carving/FileDataHealth.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> SectorWith(std::initializer_list<uint8_t> head, size_t nAt = 0,
                                const std::string& strText = "") {
    std::vector<uint8_t> sector(512, 0);
    std::copy(head.begin(), head.end(), sector.begin());
    std::memcpy(sector.data() + nAt, strText.data(), strText.size());
    return sector;
}

EXTEND_NAME_TYPE TypeOf(const std::vector<uint8_t>& sector) {
    return CFileTypeJudge::GetDataBufType(sector.data(), int(sector.size()));
}

// The first sector of a committed sample.
std::vector<uint8_t> HeadOf(const std::string& strName) {
    std::vector<uint8_t> bytes = Sample(strName);
    bytes.resize(512, 0);
    return bytes;
}

TEST(CFileTypeJudgeDetect, TableRowsAreOneContainerPerDetector) {
    const EXTEND_NAME_AND_TYPE* pTable = CFileTypeJudge::GetExtendNameTable();
    const int nRows = CFileTypeJudge::GetExtendNameTableSize();
    EXPECT_EQ(pTable[nRows - 1].nType, FILE_TYPE_NONE);
    EXPECT_EQ(pTable[nRows - 1].szExtendName, nullptr);
    std::set<std::string> extensions;
    for (int i = 0; i < nRows - 1; ++i) {
        SCOPED_TRACE(pTable[i].szExtendName);
        EXPECT_TRUE(extensions.insert(pTable[i].szExtendName).second) << "extension twice";
        ASSERT_NE(pTable[i].pfnDetect, nullptr);
        // Rows sharing a detector are one container: one finder names every sub-type.
        for (int j = 0; j < i; ++j) {
            if (pTable[j].pfnDetect == pTable[i].pfnDetect) {
                EXPECT_EQ(pTable[j].pfnGetSize, pTable[i].pfnGetSize);
            }
        }
    }
    // A compound document is never named fla; no detector answers mso07.
    EXPECT_STREQ(CFileTypeJudge::GetTypeExtendName(FILE_TYPE_OLE), "ole");
    EXPECT_EQ(TypeOf(HeadOf("sample.ole")), FILE_TYPE_OLE);
    EXPECT_STREQ(CFileTypeJudge::GetTypeExtendName(FILE_TYPE_MTS), "mts");
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType("M2TS"), FILE_TYPE_MTS);
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType("txt"), FILE_TYPE_NONE);
}

// Samples broken in one byte each: the sample is its type, the twin is none.
struct ONE_BYTE_TWIN {
    const char* pSample;
    size_t nAt;
    uint8_t u8Xor;
    const char* pBroken;
};

TEST(CFileTypeJudgeDetect, NearMissesAreRefused) {
    const ONE_BYTE_TWIN twins[] = {
        {"sample_bare.jpg", 6, 0x25, "DQT of precision 2, table 5"},
        {"sample_comfirst.jpg", 5, 0x01, "the next marker is not where the COM length says"},
        {"sample.bmp", 14, 0x01, "no such DIB header size"},
        {"sample.mp4", 3, 0x02, "an ftyp box whose size leaves half a brand"},
        {"sample.7z", 20, 0x01, "the start header CRC no longer holds"},
        {"sample_ustar.tar", 0, 0x01, "the header checksum no longer holds"},
        {"sample.ttf", 7, 0x10, "searchRange disagrees with the table count"},
    };
    for (const ONE_BYTE_TWIN& twin : twins) {
        std::vector<uint8_t> sector = HeadOf(twin.pSample);
        EXPECT_NE(TypeOf(sector), FILE_TYPE_NONE) << twin.pSample;
        sector[twin.nAt] ^= twin.u8Xor;
        EXPECT_EQ(TypeOf(sector), FILE_TYPE_NONE) << twin.pSample << ": " << twin.pBroken;
    }
    std::vector<uint8_t> exif = SectorWith({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10}, 6, "Exif");
    exif[20] = 0xFF; // the next marker, where the APP1 length says
    exif[21] = 0xDB;
    EXPECT_EQ(TypeOf(exif), FILE_TYPE_JPG);
    EXPECT_EQ(TypeOf(SectorWith({0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x0C})), FILE_TYPE_NONE)
        << "scan data before any table";
    std::vector<uint8_t> bmp = HeadOf("sample_v5.bmp");
    const uint32_t u32Claimed = 500 * 1000 * 1000;
    std::memcpy(bmp.data() + 2, &u32Claimed, 4);
    EXPECT_EQ(TypeOf(bmp), FILE_TYPE_NONE) << "500 MB for a 32 x 24 picture";
    std::vector<uint8_t> webp = HeadOf("sample_lossy.webp");
    std::memcpy(webp.data() + 12, "JUNK", 4);
    EXPECT_EQ(TypeOf(webp), FILE_TYPE_NONE) << "RIFF WEBP without a VP8 chunk";
    std::vector<uint8_t> avi = HeadOf("sample.avi");
    std::memcpy(avi.data() + 12, "JUNK", 4);
    EXPECT_EQ(TypeOf(avi), FILE_TYPE_NONE);
    std::vector<uint8_t> mkv = HeadOf("sample.mkv");
    for (size_t i = 0; i + 8 < mkv.size(); ++i) {
        if (std::memcmp(mkv.data() + i, "matroska", 8) == 0)
            mkv[i] = 'M';
    }
    EXPECT_EQ(TypeOf(mkv), FILE_TYPE_NONE) << "EBML of another document type";
}

TEST(CFileTypeJudgeDetect, HeaderVariantsWritersUse) {
    // gzip at its default level (extra flags 0) and with a name; reserved flag bits refused.
    std::vector<uint8_t> gz = SectorWith({0x1F, 0x8B, 0x08, 0x08, 0, 0, 0, 0, 0x00, 0x03});
    EXPECT_EQ(TypeOf(gz), FILE_TYPE_GZ);
    gz[3] = 0x20;
    EXPECT_EQ(TypeOf(gz), FILE_TYPE_NONE);
    // Uncompressed Flash of any version; zlib-compressed only with a zlib stream.
    EXPECT_EQ(TypeOf(SectorWith({'F', 'W', 'S', 9, 0x40, 0, 0, 0})), FILE_TYPE_SWF);
    EXPECT_EQ(TypeOf(SectorWith({'C', 'W', 'S', 9, 0x40, 0, 0, 0, 0x78})), FILE_TYPE_SWF);
    EXPECT_EQ(TypeOf(SectorWith({'C', 'W', 'S', 9, 0x40, 0, 0, 0, 0x00})), FILE_TYPE_NONE);
    // A broadcast WAV puts its bext chunk before fmt.
    EXPECT_EQ(TypeOf(SectorWith({}, 0, std::string("RIFF\x40\0\0\0WAVEbext", 16))), FILE_TYPE_WAV);
    // PE: the header must start in the first sector and mark an executable image.
    std::vector<uint8_t> pe = SectorWith({'M', 'Z'});
    auto place = [&pe](uint32_t u32Offset, uint16_t u16Characteristics) {
        std::fill(pe.begin() + 2, pe.end(), 0);
        std::memcpy(pe.data() + 60, &u32Offset, 4);
        if (u32Offset + 24 <= pe.size()) {
            std::memcpy(pe.data() + u32Offset, "PE\0\0", 4);
            std::memcpy(pe.data() + u32Offset + 22, &u16Characteristics, 2);
        }
    };
    place(128, 0x1002);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_SYS);
    place(128, 0x0100);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_NONE) << "not an executable image";
    place(500, 0x0102);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, FrameStreamsNeedTwoChainedHeaders) {
    std::vector<uint8_t> mp3 = HeadOf("sample_bare.mp3");
    ASSERT_EQ(TypeOf(mp3), FILE_TYPE_MP3);
    std::vector<uint8_t> lone = mp3;
    std::fill(lone.begin() + 4, lone.end(), 0x55); // the second header is gone
    EXPECT_EQ(TypeOf(lone), FILE_TYPE_NONE);
    mp3[2] &= 0x0F; // free format: no length to chain by
    EXPECT_EQ(TypeOf(mp3), FILE_TYPE_NONE);
    EXPECT_EQ(TypeOf(HeadOf("sample_mpeg1l2.mp2")), FILE_TYPE_MP2);
    EXPECT_EQ(TypeOf(HeadOf("sample_mpeg1l1.mp1")), FILE_TYPE_MP1);
    EXPECT_EQ(TypeOf(HeadOf("sample.aac")), FILE_TYPE_AAC);
}

TEST(CFileTypeJudgeDetect, ExtensionCheckMatchesTheContainer) {
    const std::vector<uint8_t> png = HeadOf("sample.png");
    auto matching = [](const std::vector<uint8_t>& sector, const char* pExt) {
        return CFileTypeJudge::IsFileTypeMatching(sector.data(), int(sector.size()), pExt, nullptr,
                                                  512, 100);
    };
    EXPECT_EQ(matching(png, "PNG"), 1);
    EXPECT_EQ(matching(png, "JPG"), 0);
    EXPECT_EQ(matching(png, "txt"), 1);
    // A package is matched by its container: the sub-type needs the whole file.
    EXPECT_EQ(matching(HeadOf("sample.odt"), "docx"), 1);
    EXPECT_EQ(matching(HeadOf("sample.heic"), "mp4"), 1);
    // The health judgement built on it: another format means gone, chance bytes prove nothing.
    EXPECT_EQ(JudgeFileDataHealth(png.data(), png.size(), "jpg", nullptr, 512, 0),
              DATA_HEALTH_GONE);
    const std::vector<uint8_t> noise = PatternBytes(512, 3);
    EXPECT_EQ(JudgeFileDataHealth(noise.data(), noise.size(), "jpg", nullptr, 512, 0),
              DATA_HEALTH_INTACT_OR_UNKNOWN);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(png.data(), 7), FILE_TYPE_NONE);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(nullptr, 512), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, FileSystemSectors) {
    auto isFs = [](const std::vector<uint8_t>& s) {
        return CFileTypeJudge::IsFileSystemSector(s.data(), int(s.size()));
    };
    EXPECT_EQ(isFs(SectorWith({}, 0, "FILE0")), 1);
    EXPECT_EQ(isFs(SectorWith({}, 0, "INDX(")), 1);
    EXPECT_EQ(isFs(SectorWith({}, 0, "RSTR")), 0);
    EXPECT_EQ(
        isFs(SectorWith(
            {}, 0, std::string("RSTR") + std::string(100, 'x') + std::string("N\0T\0F\0S\0", 8))),
        1);
    EXPECT_EQ(isFs(SectorWith({0xEB, 0x58, 0x90}, 3, "MSWIN4.1")), 1);
    EXPECT_EQ(isFs(SectorWith({0xEB, 0x58, 0x90}, 3, "mkfs.fat")), 0);
    EXPECT_EQ(isFs(SectorWith({})), 0);
}

} // namespace
