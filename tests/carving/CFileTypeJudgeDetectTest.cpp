// Detector edge cases on hand-built first sectors: table order, overlaps and the extension check.
#include "formats/carving/CFileTypeJudge.h"

#include <cstring>
#include <gtest/gtest.h>
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

TEST(CFileTypeJudgeDetect, JpegNeedsJfifOrExifSegment) {
    EXPECT_EQ(TypeOf(SectorWith({0xFF, 0xD8, 0xFF, 0xE1}, 6, "Exif")), FILE_TYPE_JPG);
    EXPECT_EQ(TypeOf(SectorWith({0xFF, 0xD8, 0xFF, 0xE0}, 6, "JFIF")), FILE_TYPE_JPG);
    EXPECT_EQ(TypeOf(SectorWith({0xFF, 0xD8, 0xFF, 0xDB})), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, RiffNeedsAviListChunk) {
    std::vector<uint8_t> avi = SectorWith({}, 0, std::string("RIFF\x10\0\0\0AVI LIST", 16));
    EXPECT_EQ(TypeOf(avi), FILE_TYPE_AVI);
    std::memcpy(avi.data() + 12, "JUNK", 4);
    EXPECT_EQ(TypeOf(avi), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, FlashVersionsDependOnCompression) {
    EXPECT_EQ(TypeOf(SectorWith({'F', 'W', 'S', 9})), FILE_TYPE_NONE);
    EXPECT_EQ(TypeOf(SectorWith({'F', 'W', 'S', 5})), FILE_TYPE_SWF);
    EXPECT_EQ(TypeOf(SectorWith({'C', 'W', 'S', 9})), FILE_TYPE_SWF);
    EXPECT_EQ(TypeOf(SectorWith({'C', 'W', 'S', 16})), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, GzipWithExtraFieldIsRefused) {
    std::vector<uint8_t> gz = SectorWith({0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x02, 0x03});
    EXPECT_EQ(TypeOf(gz), FILE_TYPE_GZ);
    gz[3] = 0x08;
    EXPECT_EQ(TypeOf(gz), FILE_TYPE_GZ);
    gz[3] = 0x04;
    EXPECT_EQ(TypeOf(gz), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, PeHeaderMustStartInTheFirstSector) {
    std::vector<uint8_t> pe = SectorWith({'M', 'Z'});
    auto place = [&pe](uint32_t u32Offset, uint16_t u16Characteristics) {
        std::fill(pe.begin() + 2, pe.end(), 0);
        std::memcpy(pe.data() + 60, &u32Offset, 4);
        if (u32Offset + 24 <= pe.size()) {
            std::memcpy(pe.data() + u32Offset, "PE\0\0", 4);
            std::memcpy(pe.data() + u32Offset + 22, &u16Characteristics, 2);
        }
    };
    place(128, 0x0102);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_EXE);
    place(128, 0x2102);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_DLL);
    place(128, 0x1002);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_SYS);
    place(128, 0x0100);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_NONE) << "not an executable image";
    place(488, 0x0102);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_EXE);
    place(500, 0x0102);
    EXPECT_EQ(TypeOf(pe), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, FtypBrandsChooseMp4ThreeGpOrMov) {
    EXPECT_EQ(TypeOf(SectorWith({0, 0, 0, 0x20}, 4, "ftypisom")), FILE_TYPE_MP4);
    EXPECT_EQ(TypeOf(SectorWith({0, 0, 0, 0x20}, 4, "ftypmp42")), FILE_TYPE_MP4);
    EXPECT_EQ(TypeOf(SectorWith({0, 0, 0, 0x20}, 4, "ftyp3gp4")), FILE_TYPE_3GP);
    EXPECT_EQ(TypeOf(SectorWith({0, 0, 0, 0x20}, 4, "ftypqt  ")), FILE_TYPE_MOV);
    EXPECT_EQ(TypeOf(SectorWith({}, 0, "moov")), FILE_TYPE_MOV);
    EXPECT_EQ(TypeOf(SectorWith({0, 0, 0, 0x20}, 4, "ftypM4A ")), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, IcoDirectoryMustChainItsImages) {
    std::vector<uint8_t> ico = SectorWith({0, 0, 1, 0, 2, 0});
    auto entry = [&ico](size_t i, uint32_t u32Size, uint32_t u32Offset) {
        std::memcpy(ico.data() + 6 + 16 * i + 8, &u32Size, 4);
        std::memcpy(ico.data() + 6 + 16 * i + 12, &u32Offset, 4);
    };
    entry(0, 100, 38);
    entry(1, 200, 138);
    EXPECT_EQ(TypeOf(ico), FILE_TYPE_ICO);
    entry(1, 200, 139);
    EXPECT_EQ(TypeOf(ico), FILE_TYPE_NONE);
    ico[4] = 0xFF; // 255 entries do not fit in one sector
    ico[5] = 0x00;
    EXPECT_EQ(TypeOf(ico), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, TtfTableCountIsBoundedByTheBuffer) {
    std::vector<uint8_t> ttf = SectorWith({0, 1, 0, 0, 0, 2, 0, 0x20, 0, 1, 0, 0x10});
    EXPECT_EQ(TypeOf(ttf), FILE_TYPE_NONE) << "no second version tag at 16n + 12";
    ttf[44] = 0;
    ttf[45] = 1;
    EXPECT_EQ(TypeOf(ttf), FILE_TYPE_TTF);
    ttf[4] = 0x7F; // 0x7F02 tables reach far past the sector
    EXPECT_EQ(TypeOf(ttf), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, ShortOrNullBuffersAreNeverRecognised) {
    const uint8_t png[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(png, 8), FILE_TYPE_PNG);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(png, 7), FILE_TYPE_NONE);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(nullptr, 512), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, ExtensionCheck) {
    std::vector<uint8_t> png = SectorWith({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A});
    auto matching = [&png](const char* pExt) {
        return CFileTypeJudge::IsFileTypeMatching(png.data(), int(png.size()), pExt, nullptr, 512,
                                                  100);
    };
    EXPECT_EQ(matching("png"), 1);
    EXPECT_EQ(matching("PNG"), 1);
    EXPECT_EQ(matching("JPG"), 0);
    EXPECT_EQ(matching("txt"), 1);
    EXPECT_EQ(matching("mso07"), 0);
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType("XLSX"), FILE_TYPE_XLSX);
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType("et"), FILE_TYPE_XLS);
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType("txt"), FILE_TYPE_NONE);
}

TEST(CFileTypeJudgeDetect, TableHasOneRowPerExtensionInOrder) {
    const auto* pTable = CFileTypeJudge::GetExtendNameTable();
    ASSERT_EQ(CFileTypeJudge::GetExtendNameTableSize(), 88);
    EXPECT_STREQ(pTable[0].szExtendName, "mpeg");
    EXPECT_STREQ(pTable[36].szExtendName, "doc");
    EXPECT_STREQ(pTable[50].szExtendName, "ole");
    EXPECT_STREQ(pTable[51].szExtendName, "fla"); // after the Office rows: OLE is never fla
    EXPECT_STREQ(pTable[74].szExtendName, "zip");
    EXPECT_EQ(pTable[87].nType, FILE_TYPE_NONE);
    EXPECT_EQ(pTable[87].szExtendName, nullptr);
    EXPECT_EQ(pTable[77].pfnGetSize, nullptr);
    EXPECT_STREQ(CFileTypeJudge::GetTypeExtendName(FILE_TYPE_WMV), "wmv");
    EXPECT_STREQ(CFileTypeJudge::GetTypeExtendName(FILE_TYPE_GZ), "gz");
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
