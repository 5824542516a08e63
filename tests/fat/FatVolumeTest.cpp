// Boot-sector geometry, the FAT window and chain rule, and entry names, on mkfs.vfat images and
// hand-made entries.
#include "device/CDiskReader.h"
#include "engine/FileRecoveryTypes.h"
#include "fat/CFatTable.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/fat/FatGeometry.h"
#include "formats/fat/FatName.h"
#include "util/ByteView.h"
#include "util/TextUtil.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> ReadBoot(const std::string& strImage) {
    std::vector<uint8_t> bytes(BOOT_SECTOR_BYTES);
    std::ifstream file(strImage, std::ios::binary);
    file.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    return bytes;
}

std::vector<uint8_t> U16(uint16_t v) {
    return {uint8_t(v), uint8_t(v >> 8)};
}
std::vector<uint8_t> U32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

class FatVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CFatImageBuilder::HaveTools())
            SKIP_WITHOUT("mkfs.vfat and mtools");
    }

    // Geometry of a fresh image, and a FAT table over it.
    bool Open(const FAT_IMAGE_FORMAT& format) {
        CFatImageBuilder image(m_dir.File("vol.img"));
        if (!image.Format(format))
            return false;
        m_strImage = image.Path();
        std::vector<uint8_t> boot = ReadBoot(m_strImage);
        return ParseFatBootSector(boot.data(), boot.size(), 0, m_geometry) == 0;
    }

    bool OpenTable() {
        uint64_t u64Sectors = std::filesystem::file_size(m_strImage) / FAT_SECTOR_BYTES;
        return m_reader.Init(Ansi2Unicode(m_strImage.c_str()).c_str(), u64Sectors) == 0 &&
               m_table.Init(&m_reader, m_geometry) == 0;
    }

    // Writes a FAT entry of the first FAT copy in the image file.
    void PatchEntry(uint32_t nCluster, uint32_t nValue) {
        uint64_t u64Off = m_geometry.u64FirstFatSector * FAT_SECTOR_BYTES +
                          uint64_t(nCluster) * (m_geometry.bIsFat32 ? 4 : 2);
        ASSERT_TRUE(PatchFileBytes(m_strImage, u64Off,
                                   m_geometry.bIsFat32 ? U32(nValue) : U16(uint16_t(nValue))));
    }

    uint32_t Next(uint32_t nCluster) {
        uint32_t nNext = 0;
        return m_table.GetChainNextCluster(nCluster, nNext) ? nNext : 0;
    }

    CTempDir m_dir;
    std::string m_strImage;
    FAT_GEOMETRY m_geometry{};
    CDiskReader m_reader;
    CFatTable m_table;
};

TEST_F(FatVolumeTest, Fat32GeometryFromBootSector) {
    ASSERT_TRUE(Open({32, 65536, 1}));
    std::vector<uint8_t> boot = ReadBoot(m_strImage);
    const uint32_t nReserved = LoadU16LE(&boot[BPB_RSVD_SEC_CNT]);
    const uint32_t nFatSize = LoadU32LE(&boot[BPB_FAT_SZ32]);
    EXPECT_EQ(1u, m_geometry.bIsFat32);
    EXPECT_EQ(2u, m_geometry.nRootCluster);
    EXPECT_EQ(1u, m_geometry.nSectorsPerCluster);
    EXPECT_EQ(nReserved + 2 * nFatSize, m_geometry.nDataStart);
    EXPECT_EQ(131072u, m_geometry.u64TotalSectors);
    EXPECT_EQ(m_geometry.nDataStart + 5u, m_geometry.ClusterToSector(7));
}

TEST_F(FatVolumeTest, Fat16RootAreaSizeComesFromItsEntryCount) {
    // 1024 root entries make a 64-sector root area; a fixed 32 would misplace every cluster.
    ASSERT_TRUE(Open({16, 16384, 4, 1024}));
    std::vector<uint8_t> boot = ReadBoot(m_strImage);
    EXPECT_EQ(0u, LoadU32LE(&boot[BPB_TOT_SEC32])) << "small volume keeps its 16-bit count";
    EXPECT_EQ(0u, m_geometry.bIsFat32);
    EXPECT_EQ(0u, m_geometry.nRootCluster);
    EXPECT_EQ(64u, m_geometry.nRootSectors);
    EXPECT_EQ(32768u, m_geometry.u64TotalSectors);
    EXPECT_EQ(LoadU16LE(&boot[BPB_RSVD_SEC_CNT]) + 2u * LoadU16LE(&boot[BPB_FAT_SZ16]) + 64u,
              m_geometry.nDataStart);
    EXPECT_EQ(m_geometry.nDataStart - 64u, m_geometry.ClusterToSector(FAT16_ROOT_CLUSTER));
    EXPECT_EQ(64u * 512u, m_geometry.FolderUnitBytes(FAT16_ROOT_CLUSTER));
    EXPECT_EQ(2048u, m_geometry.FolderUnitBytes(5));
}

TEST_F(FatVolumeTest, LargeSectorsAreCountedIn512ByteUnits) {
    ASSERT_TRUE(Open({16, 32768, 1, 0, 4096}));
    EXPECT_EQ(8u, m_geometry.nSectorsPerCluster);
    EXPECT_EQ(4096u, m_geometry.ClusterBytes());
    EXPECT_EQ(65536u, m_geometry.u64TotalSectors);
}

TEST_F(FatVolumeTest, ImplausibleBootFieldsAreRefused) {
    ASSERT_TRUE(Open({32, 65536, 1}));
    std::vector<uint8_t> boot = ReadBoot(m_strImage);
    FAT_GEOMETRY geo{};
    std::vector<uint8_t> twin = boot;
    twin[BPB_BYTS_PER_SEC + 1] = 0x03; // 768 bytes per sector
    EXPECT_EQ(ERROR_UNRECOGNIZED_VOLUME, ParseFatBootSector(twin.data(), twin.size(), 0, geo));
    twin = boot;
    twin[BPB_SEC_PER_CLUS] = 3;
    EXPECT_EQ(ERROR_UNRECOGNIZED_VOLUME, ParseFatBootSector(twin.data(), twin.size(), 0, geo));
    twin = boot;
    twin[BPB_NUM_FATS] = 0;
    EXPECT_EQ(ERROR_UNRECOGNIZED_VOLUME, ParseFatBootSector(twin.data(), twin.size(), 0, geo));
    EXPECT_EQ(ERROR_UNRECOGNIZED_VOLUME, ParseFatBootSector(boot.data(), 100, 0, geo));
}

TEST_F(FatVolumeTest, Fat16ChainEndsAtFFF8AndFreeRunsContinue) {
    ASSERT_TRUE(Open({16, 16384, 4}));
    PatchEntry(10, 0xFFF8);
    PatchEntry(11, 0xFFF7);
    PatchEntry(12, 13);
    PatchEntry(13, 0xFFFF);
    PatchEntry(30, 30); // points at itself
    PatchEntry(31, 1);
    PatchEntry(41, 0xFFFF); // 40 free before a used cluster
    ASSERT_TRUE(OpenTable());

    uint32_t nRaw = 0;
    ASSERT_EQ(0, m_table.GetNextClusterNO(11, nRaw));
    EXPECT_EQ(0xFFF7u, nRaw);
    EXPECT_TRUE(m_table.IsEndOfChain(0xFFF8));
    EXPECT_FALSE(m_table.IsEndOfChain(0xFFF7)) << "the bad-cluster mark is not an end mark";
    EXPECT_EQ(0u, Next(10));
    EXPECT_EQ(0u, Next(11)) << "no cluster 0xFFF7 on this volume";
    EXPECT_EQ(13u, Next(12));
    EXPECT_EQ(0u, Next(13));
    EXPECT_EQ(21u, Next(20)) << "free followed by free";
    EXPECT_EQ(0u, Next(40)) << "free followed by used";
    EXPECT_EQ(0u, Next(30));
    EXPECT_EQ(0u, Next(31));
    EXPECT_EQ(0u, Next(m_geometry.nClusterLimit - 1)) << "free at the end of the volume";
    EXPECT_EQ(ERROR_INVALID_PARAMETER, m_table.GetNextClusterNO(0xFFFFFFF0u, nRaw));
}

TEST_F(FatVolumeTest, Fat32UpperFourBitsNeverDecide) {
    ASSERT_TRUE(Open({32, 65536, 1}));
    PatchEntry(100, 0xF0000065); // 101 with the reserved bits set
    PatchEntry(101, 0x1FFFFFF8); // end of chain in the low 28 bits
    PatchEntry(102, 0x10000000); // free in the low 28 bits
    PatchEntry(104, 0x0FFFFFF7);
    ASSERT_TRUE(OpenTable());
    uint32_t nRaw = 0;
    ASSERT_EQ(0, m_table.GetNextClusterNO(100, nRaw));
    EXPECT_EQ(0xF0000065u, nRaw) << "stored value as is";
    EXPECT_EQ(101u, Next(100));
    EXPECT_EQ(0u, Next(101));
    EXPECT_EQ(103u, Next(102)) << "upper bits alone do not make an entry used";
    EXPECT_EQ(0u, Next(104)) << "bad-cluster mark leads past the volume";
}

TEST_F(FatVolumeTest, WindowRefillsForEntriesBeyondSixteenMiB) {
    // 4.2 million 512-byte clusters: the FAT is larger than one window.
    ASSERT_TRUE(Open({32, 2150000, 1}));
    ASSERT_GT(m_geometry.u64FatSectors * FAT_SECTOR_BYTES, uint64_t(FAT_WINDOW_BYTES));
    const uint32_t nFar = FAT_WINDOW_BYTES / 4 + 1000;
    PatchEntry(nFar, nFar + 7);
    PatchEntry(50, 51);
    ASSERT_TRUE(OpenTable());
    EXPECT_EQ(51u, Next(50));
    EXPECT_EQ(nFar + 7, Next(nFar));
    EXPECT_EQ(51u, Next(50)) << "back to the first window";
}

std::vector<uint8_t> ShortEntry(const char* pName11, uint8_t u8Attr) {
    std::vector<uint8_t> entry(32, 0);
    std::memcpy(entry.data(), pName11, 11);
    entry[11] = u8Attr;
    return entry;
}

// A long-name entry holding 13 characters of the text from position nFirst.
std::vector<uint8_t> LongEntry(uint8_t u8Ord, const std::u16string& strText, size_t nFirst) {
    std::vector<uint8_t> entry(32, 0);
    entry[0] = u8Ord;
    entry[11] = 0x0F;
    static const size_t offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t i = 0; i < 13; ++i) {
        char16_t c = nFirst + i < strText.size()    ? strText[nFirst + i]
                     : nFirst + i == strText.size() ? 0
                                                    : 0xFFFF;
        entry[offsets[i]] = uint8_t(c);
        entry[offsets[i] + 1] = uint8_t(c >> 8);
    }
    return entry;
}

TEST(FatName, ShortNamesAsText) {
    EXPECT_EQ("a.b", GetFatShortName(ShortEntry("A       B  ", 0x20).data(), false));
    EXPECT_EQ("a", GetFatShortName(ShortEntry("A       B  ", 0x10).data(), true));
    EXPECT_EQ("readme.txt", GetFatShortName(ShortEntry("README  TXT", 0x20).data(), false));
    EXPECT_EQ("makefile", GetFatShortName(ShortEntry("MAKEFILE   ", 0x20).data(), false));
    EXPECT_EQ("!eadme.txt", GetFatShortName(ShortEntry("\xE5"
                                                       "EADME  TXT",
                                                       0x20)
                                                .data(),
                                            false));
    // GBK: 你好 and 丄, whose trail byte 0x41 ('A') must not be lower-cased.
    EXPECT_EQ("你好.txt",
              GetFatShortName(ShortEntry("\xC4\xE3\xBA\xC3    TXT", 0x20).data(), false));
    EXPECT_EQ("丄x", GetFatShortName(ShortEntry("\x81\x41X        ", 0x10).data(), true));
}

TEST(FatName, LongNamePartsLineUpAndStopAfterTwenty) {
    const std::u16string strName = u"A Long File Name Müller.txt"; // 27 characters, 3 parts
    CFatLongName longName;
    EXPECT_TRUE(longName.IsEmpty());
    ASSERT_TRUE(longName.AddPart(LongEntry(0x43, strName, 26).data()));
    ASSERT_TRUE(longName.AddPart(LongEntry(0x02, strName, 13).data()));
    ASSERT_TRUE(longName.AddPart(LongEntry(0x01, strName, 0).data()));
    EXPECT_EQ("A Long File Name Müller.txt", longName.GetName());

    // 255 characters take 20 parts; they come back whole.
    longName.Reset();
    std::u16string strLong(255, u'x');
    strLong.resize(20 * 13, u'\0');
    for (int i = 20; i >= 1; --i)
        ASSERT_TRUE(longName.AddPart(LongEntry(uint8_t(i), strLong, (i - 1) * 13).data()));
    EXPECT_EQ(std::string(255, 'x'), longName.GetName());
    EXPECT_FALSE(longName.AddPart(LongEntry(0x15, strLong, 0).data()));
}

} // namespace
