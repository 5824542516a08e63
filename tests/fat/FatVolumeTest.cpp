// FAT volumes below the engines: boot-sector geometry, the FAT window and chain rule at 12, 16 and
// 32 bits, entry names, and the validators that judge entries and directory sectors, on
// mkfs.vfat images and hand-made entries (each field named).
#include "device/CDiskReader.h"
#include "fat/CFatTable.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/fat/FatEntryValidator.h"
#include "formats/fat/FatGeometry.h"
#include "formats/fat/FatName.h"
#include "util/ByteView.h"
#include "util/TextUtil.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> ReadHead(const std::string& strImage) {
    std::vector<uint8_t> bytes(BOOT_SECTOR_BYTES);
    std::ifstream(strImage, std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), 512);
    return bytes;
}

class FatVolumeTest : public CFatToolsTest {
protected:
    // Geometry of a fresh image.
    bool Open(const FAT_IMAGE_FORMAT& format) {
        CFatImageBuilder image(m_dir.File("vol.img"));
        if (!image.Format(format))
            return false;
        m_strImage = image.Path();
        std::vector<uint8_t> boot = ReadHead(m_strImage);
        return ParseFatBootSector(boot.data(), boot.size(), 0, m_geometry) == 0;
    }

    bool OpenTable() {
        uint64_t u64Sectors = std::filesystem::file_size(m_strImage) / FAT_SECTOR_BYTES;
        return m_reader.Init(Ansi2Unicode(m_strImage.c_str()).c_str(), u64Sectors) == 0 &&
               m_table.Init(&m_reader, m_geometry) == 0;
    }

    // Writes an entry of the first FAT copy in the image file, at the volume's FAT width.
    void PatchEntry(uint32_t nCluster, uint32_t nValue) {
        const uint64_t u64Fat = m_geometry.u64FirstFatSector * FAT_SECTOR_BYTES;
        const uint64_t u64Off = u64Fat + uint64_t(nCluster) * m_geometry.nFatBits / 8;
        std::vector<uint8_t> bytes = {uint8_t(nValue), uint8_t(nValue >> 8), uint8_t(nValue >> 16),
                                      uint8_t(nValue >> 24)};
        if (m_geometry.nFatBits == 16)
            bytes.resize(2);
        if (m_geometry.nFatBits == 12) {
            // Twelve bits of a byte pair: the low ones for an even cluster, the high ones for odd.
            std::vector<uint8_t> image = ReadFileBytes(m_strImage);
            uint16_t u16Pair = LoadU16LE(&image[u64Off]);
            u16Pair = nCluster % 2 == 0 ? uint16_t((u16Pair & 0xF000) | (nValue & 0x0FFF))
                                        : uint16_t((u16Pair & 0x000F) | (nValue << 4));
            bytes = {uint8_t(u16Pair), uint8_t(u16Pair >> 8)};
        }
        ASSERT_TRUE(PatchFileBytes(m_strImage, u64Off, bytes));
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

TEST_F(FatVolumeTest, GeometryOfEachFatWidth) {
    ASSERT_TRUE(Open({32, 65536, 1}));
    std::vector<uint8_t> boot = ReadHead(m_strImage);
    EXPECT_EQ(32u, m_geometry.nFatBits);
    EXPECT_EQ(2u, m_geometry.nRootCluster);
    EXPECT_EQ(0u, m_geometry.nRootSectors);
    EXPECT_EQ(LoadU16LE(&boot[BPB_RSVD_SEC_CNT]) + 2 * LoadU32LE(&boot[BPB_FAT_SZ32]),
              m_geometry.nDataStart);
    EXPECT_EQ(m_geometry.nDataStart + 5u, m_geometry.ClusterToSector(7));

    // 1024 root entries make a 64-sector root area; a fixed 32 would misplace every cluster.
    ASSERT_TRUE(Open({16, 16384, 4, 1024}));
    boot = ReadHead(m_strImage);
    EXPECT_EQ(0u, LoadU32LE(&boot[BPB_TOT_SEC32])) << "small volume keeps its 16-bit count";
    EXPECT_EQ(16u, m_geometry.nFatBits);
    EXPECT_EQ(64u, m_geometry.nRootSectors);
    EXPECT_EQ(32768u, m_geometry.u64TotalSectors);
    EXPECT_EQ(LoadU16LE(&boot[BPB_RSVD_SEC_CNT]) + 2u * LoadU16LE(&boot[BPB_FAT_SZ16]) + 64u,
              m_geometry.nDataStart);
    EXPECT_EQ(m_geometry.nDataStart - 64u, m_geometry.ClusterToSector(FAT16_ROOT_CLUSTER));
    EXPECT_EQ(64u * 512u, m_geometry.FolderUnitBytes(FAT16_ROOT_CLUSTER));

    // Fewer than 4085 clusters: FAT12, whatever the type label says.
    ASSERT_TRUE(Open({12, 4096, 4}));
    EXPECT_EQ(12u, m_geometry.nFatBits);
    EXPECT_EQ(0u, m_geometry.bIsFat32);
    EXPECT_EQ(32u, m_geometry.nRootSectors);

    ASSERT_TRUE(Open({16, 32768, 1, 0, 4096}));
    EXPECT_EQ(8u, m_geometry.nSectorsPerCluster) << "4 KiB sectors counted in 512-byte units";
    EXPECT_EQ(65536u, m_geometry.u64TotalSectors);
}

TEST_F(FatVolumeTest, ImplausibleBootFieldsAreRefused) {
    ASSERT_TRUE(Open({32, 65536, 1}));
    const std::vector<uint8_t> boot = ReadHead(m_strImage);
    FAT_GEOMETRY geo{};
    // 768 bytes per sector, 3 sectors per cluster, no FAT, no reserved sector.
    const std::vector<std::pair<size_t, uint8_t>> vecTwins = {{BPB_BYTS_PER_SEC + 1, 0x03},
                                                              {BPB_SEC_PER_CLUS, 3},
                                                              {BPB_NUM_FATS, 0},
                                                              {BPB_RSVD_SEC_CNT, 0}};
    for (auto [nOffset, u8Value] : vecTwins) {
        std::vector<uint8_t> twin = boot;
        twin[nOffset] = u8Value;
        if (nOffset == BPB_RSVD_SEC_CNT)
            twin[nOffset + 1] = 0;
        EXPECT_EQ(ERROR_UNRECOGNIZED_VOLUME, ParseFatBootSector(twin.data(), twin.size(), 0, geo))
            << "offset " << nOffset;
    }
    EXPECT_EQ(ERROR_UNRECOGNIZED_VOLUME, ParseFatBootSector(boot.data(), 100, 0, geo));
}

// Entries written into the first FAT, then where each chain step leads (0: the chain ends there).
struct CHAIN_CASE {
    FAT_IMAGE_FORMAT format;
    std::vector<std::pair<uint32_t, uint32_t>> vecEntries;
    std::vector<std::pair<uint32_t, uint32_t>> vecNext;
};

TEST_F(FatVolumeTest, ChainsFollowTheRulesOfEachWidth) {
    const CHAIN_CASE cases[] = {
        // FAT16: 0xFFF8 ends; 0xFFF7 (bad) is no end mark but lies past the volume; a link to
        // itself or to 1 ends; a free entry continues while the next one is free too.
        {{16, 16384, 4},
         {{10, 0xFFF8}, {11, 0xFFF7}, {12, 13}, {13, 0xFFFF}, {30, 30}, {31, 1}, {41, 0xFFFF}},
         {{10, 0}, {11, 0}, {12, 13}, {13, 0}, {20, 21}, {40, 0}, {30, 0}, {31, 0}}},
        // FAT12: neighbours share a byte; the entry of 341 crosses the first FAT sector's end.
        {{12, 4096, 4},
         {{30, 0x7A3}, {31, 0x5B4}, {32, 0xFF8}, {341, 342}, {342, 0xFFF}},
         {{30, 0x7A3}, {31, 0x5B4}, {32, 0}, {341, 342}, {342, 0}, {20, 21}}},
        // FAT32: the upper four bits never decide, neither the end nor a free entry.
        {{32, 65536, 1},
         {{100, 0xF0000065}, {101, 0x1FFFFFF8}, {102, 0x10000000}, {104, 0x0FFFFFF7}},
         {{100, 101}, {101, 0}, {102, 103}, {104, 0}}},
    };
    for (const CHAIN_CASE& chain : cases) {
        SCOPED_TRACE("FAT" + std::to_string(chain.format.nFatBits));
        ASSERT_TRUE(Open(chain.format));
        for (auto [nCluster, nValue] : chain.vecEntries)
            PatchEntry(nCluster, nValue);
        ASSERT_TRUE(OpenTable());
        for (auto [nCluster, nNext] : chain.vecNext)
            EXPECT_EQ(nNext, Next(nCluster)) << "cluster " << nCluster;
        EXPECT_EQ(0u, Next(m_geometry.nClusterLimit - 1)) << "free at the end of the volume";
    }
    uint32_t nRaw = 0;
    ASSERT_EQ(0, m_table.GetNextClusterNO(100, nRaw));
    EXPECT_EQ(0xF0000065u, nRaw) << "the stored value as is";
    EXPECT_EQ(ERROR_INVALID_PARAMETER, m_table.GetNextClusterNO(0xFFFFFFF0u, nRaw));
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

// ---- entries by hand

using Entry = std::array<uint8_t, 32>;

uint16_t FatDate(int nYear, int nMonth, int nDay) {
    return uint16_t((nYear - 1980) << 9 | nMonth << 5 | nDay);
}

void PutDates(Entry& e, uint16_t u16Date) {
    for (size_t off : {offsetof(FAT32_Entry, DIR_CrtDate), offsetof(FAT32_Entry, DIR_LstAccDate),
                       offsetof(FAT32_Entry, DIR_WrtDate)})
        PutLE(e, off, u16Date, 2);
}

// A live archived file of 100 bytes at cluster 5, dated 2015-06-01 12:34:56.
Entry FileEntry(const char* pName11 = "README  TXT") {
    Entry e{};
    std::memcpy(e.data(), pName11, 11);
    e[offsetof(FAT32_Entry, DIR_Attr)] = FAT_ATTR_ARCHIVE;
    PutDates(e, FatDate(2015, 6, 1));
    PutLE(e, offsetof(FAT32_Entry, DIR_CrtTime), uint16_t(12 << 11 | 34 << 5 | 28), 2);
    PutLE(e, offsetof(FAT32_Entry, DIR_FstClusLO), 5, 2);
    PutLE(e, offsetof(FAT32_Entry, DIR_FileSize), 100, 2);
    return e;
}

Entry LongNameEntry(uint8_t u8Ord, uint8_t u8CheckSum, char16_t cFirst = u'a') {
    Entry e{};
    e[0] = u8Ord;
    PutLE(e, 1, cFirst, 2);
    e[offsetof(FAT32_Entry, DIR_Attr)] = FAT_ATTR_LONG_NAME;
    e[LDIR_CHKSUM_OFFSET] = u8CheckSum;
    for (size_t off : {5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30})
        PutLE(e, off, 0xFFFF, 2);
    PutLE(e, 3, 0, 2);
    return e;
}

Entry DotEntry(bool bDotDot, uint16_t u16Date) {
    Entry e{};
    std::memset(e.data(), ' ', 11);
    e[0] = '.';
    e[1] = bDotDot ? '.' : ' ';
    e[offsetof(FAT32_Entry, DIR_Attr)] = FAT_ATTR_DIRECTORY;
    PutDates(e, u16Date);
    return e;
}

std::vector<uint8_t> Sector(std::initializer_list<Entry> entries) {
    std::vector<uint8_t> sector(512, 0);
    size_t off = 0;
    for (const Entry& e : entries) {
        std::memcpy(sector.data() + off, e.data(), e.size());
        off += e.size();
    }
    return sector;
}

bool IsValid(const Entry& e) {
    return IsFatEntyValid(e.data(), e.size()) == 1;
}

TEST(FatEntryValidator, EntryRules) {
    EXPECT_EQ(0x73, GetShortNameCheckSum(reinterpret_cast<const uint8_t*>("README  TXT")));
    Entry e = FileEntry();
    EXPECT_TRUE(IsValid(e));
    PutLE(e, offsetof(FAT32_Entry, DIR_LstAccDate), FatDate(1991, 1, 15), 2);
    EXPECT_FALSE(IsValid(e)) << "a live file dated before May 1991";
    e[0] = FAT_ENTRY_DELETED;
    EXPECT_TRUE(IsValid(e)) << "deleted entries are not date-checked";
    // 255 characters take 20 entries of 13: ordinal 20 is the last a real name uses.
    EXPECT_TRUE(IsValid(LongNameEntry(0x54, 0)));
    EXPECT_FALSE(IsValid(LongNameEntry(0x55, 0))) << "ordinal 21 with the last-part flag";
    // A file without the archive bit, a reserved bit, a read-only folder.
    for (uint8_t u8Attr : {0, FAT_ATTR_ARCHIVE | 0x40, FAT_ATTR_DIRECTORY | FAT_ATTR_READ_ONLY}) {
        e = FileEntry();
        e[offsetof(FAT32_Entry, DIR_Attr)] = u8Attr;
        EXPECT_FALSE(IsValid(e)) << int(u8Attr);
    }
    EXPECT_FALSE(IsValid(FileEntry("readme  TXT")));
    e = FileEntry();
    PutLE(e, offsetof(FAT32_Entry, DIR_FileSize), 0, 2);
    EXPECT_FALSE(IsValid(e)) << "empty file with a cluster";
    // A "." entry without its ".." partner inside the buffer is judged as a plain entry.
    Entry dot = DotEntry(false, FatDate(2020, 1, 1));
    EXPECT_EQ(0, IsFatFileRecord(dot.data(), dot.size()));
    EXPECT_EQ(0, IsFatEntyValid(dot.data(), dot.size()));
}

TEST(FatEntryValidator, DirectorySectors) {
    Entry a = FileEntry("A       TXT"), b = FileEntry("B       TXT"), c = FileEntry("C       TXT");
    std::vector<uint8_t> sector = Sector({a, b, c});
    EXPECT_EQ(1, IsFatFDTRecord(sector.data(), sector.size()));
    sector[300] = 1;
    EXPECT_EQ(0, IsFatFDTRecord(sector.data(), sector.size())) << "a byte after the end mark";
    std::vector<uint8_t> empty = Sector({Entry{}, a});
    EXPECT_EQ(0, IsFatFDTRecord(empty.data(), empty.size()));

    Entry shortEntry = FileEntry("LONGNA~1TXT");
    const uint8_t u8Sum = GetShortNameCheckSum(shortEntry.data());
    std::vector<uint8_t> good = Sector({LongNameEntry(0x41, u8Sum), shortEntry});
    EXPECT_EQ(1, IsFatFDTRecord(good.data(), good.size()));
    std::vector<uint8_t> bad = Sector({LongNameEntry(0x41, uint8_t(u8Sum + 1)), shortEntry});
    EXPECT_EQ(0, IsFatFDTRecord(bad.data(), bad.size()));

    const uint16_t u16Date = FatDate(2020, 2, 29);
    std::vector<uint8_t> start = Sector({DotEntry(false, u16Date), DotEntry(true, u16Date)});
    EXPECT_EQ(1, IsFatFileRecord(start.data(), start.size()));
    EXPECT_EQ(0, IsFatFDTRecord(start.data(), start.size())) << "\"..\" holds full stops";
    std::vector<uint8_t> other =
        Sector({DotEntry(false, u16Date), DotEntry(true, FatDate(2020, 3, 1))});
    EXPECT_EQ(0, IsFatFileRecord(other.data(), other.size()));
}

TEST(FatEntryValidator, FoundEntriesMustBeNamesAndStampsAFileSystemWrites) {
    for (const char* pName : {"README  TXT", "A       B  ", "\345EADME  TXT", "AAAAA   JPG"})
        EXPECT_EQ(1, IsPlausibleFoundEntry(FileEntry(pName).data())) << pName;
    Entry zero = FileEntry();
    PutDates(zero, 0);
    PutLE(zero, offsetof(FAT32_Entry, DIR_CrtTime), 0, 2);
    EXPECT_EQ(1, IsPlausibleFoundEntry(zero.data())) << "stamps a system never set";
    // Contents of files: runs of one or two bytes, characters no short name holds.
    for (const char* pName : {"##$$$$$$$$$", "%%&%%&%%&%%", "REA+ME  TXT", " README TXT"})
        EXPECT_EQ(0, IsPlausibleFoundEntry(FileEntry(pName).data())) << pName;
    Entry month = FileEntry();
    PutLE(month, offsetof(FAT32_Entry, DIR_WrtDate), uint16_t(35 << 9 | 13 << 5 | 4), 2);
    EXPECT_EQ(0, IsPlausibleFoundEntry(month.data())) << "month 13";
    Entry hour = FileEntry();
    PutLE(hour, offsetof(FAT32_Entry, DIR_WrtTime), uint16_t(25 << 11), 2);
    EXPECT_EQ(0, IsPlausibleFoundEntry(hour.data())) << "hour 25";

    CFatLongName name;
    ASSERT_TRUE(name.AddPart(LongNameEntry(0x41, 0).data()));
    EXPECT_TRUE(name.HasNameCharacters());
    name.Reset();
    ASSERT_TRUE(name.AddPart(LongNameEntry(0x41, 0, u'*').data()));
    EXPECT_FALSE(name.HasNameCharacters());
    name.Reset();
    ASSERT_TRUE(name.AddPart(LongNameEntry(0x41, 0, char16_t(0xDC00)).data()));
    EXPECT_FALSE(name.HasNameCharacters()) << "a lone low surrogate";
}

bool IsLiveFileDatedValid(uint16_t u16Date) {
    Entry e = FileEntry();
    PutDates(e, u16Date);
    return IsValid(e);
}

TEST(FatEntryValidator, DatesRollOverLikeTheCalendarAndBoundsAreLocalMidnights) {
    EXPECT_EQ(FatDateToTimeValue(FatDate(2021, 3, 0)), FatDateToTimeValue(FatDate(2021, 2, 28)));
    EXPECT_EQ(FatDateToTimeValue(FatDate(2021, 13, 5)), FatDateToTimeValue(FatDate(2020, 12, 31)));
    EXPECT_EQ(FatDateToTimeValue(FatDate(2021, 2, 30)), FatDateToTimeValue(FatDate(2021, 3, 2)));
    const char* pOldZone = std::getenv("TZ");
    const std::string strOldZone = pOldZone != nullptr ? pOldZone : "";
    {
        setenv("TZ", "UTC0", 1);
        tzset();
        EXPECT_EQ(FatDateToTimeValue(FatDate(1991, 5, 4)), 673315200);
        EXPECT_FALSE(IsLiveFileDatedValid(FatDate(1991, 5, 3))); // 00:00 is before 00:38:05
        EXPECT_TRUE(IsLiveFileDatedValid(FatDate(1991, 5, 4)));
        EXPECT_TRUE(IsLiveFileDatedValid(FatDate(2080, 1, 23)));
        EXPECT_FALSE(IsLiveFileDatedValid(FatDate(2080, 1, 24)));
    }
    {
        // Fourteen hours ahead of UTC, local midnight of 24 January 2080 is still in range.
        setenv("TZ", "XXX-14", 1);
        tzset();
        EXPECT_TRUE(IsLiveFileDatedValid(FatDate(2080, 1, 24)));
        EXPECT_FALSE(IsLiveFileDatedValid(FatDate(2080, 1, 25)));
    }
    pOldZone != nullptr ? setenv("TZ", strOldZone.c_str(), 1) : unsetenv("TZ");
    tzset();
}

// ---- names

std::vector<uint8_t> ShortEntry(const char* pName11, uint8_t u8Attr) {
    std::vector<uint8_t> entry(32, 0);
    std::memcpy(entry.data(), pName11, 11);
    entry[11] = u8Attr;
    return entry;
}

// A long-name entry holding 13 characters of the text from position nFirst.
std::vector<uint8_t> NamePart(uint8_t u8Ord, const std::u16string& strText, size_t nFirst) {
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
    // GBK: 你好 and 丄, whose trail byte 0x41 ('A') must not be lower-cased.
    const std::tuple<const char*, uint8_t, const char*> cases[] = {
        {"A       B  ", 0x20, "a.b"},
        {"A       B  ", 0x10, "a"},
        {"README  TXT", 0x20, "readme.txt"},
        {"\345EADME  TXT", 0x20, "!eadme.txt"},
        {"\xC4\xE3\xBA\xC3    TXT", 0x20, "你好.txt"},
        {"\x81\x41X        ", 0x10, "丄x"}};
    for (const auto& [pName11, u8Attr, pText] : cases)
        EXPECT_EQ(pText, GetFatShortName(ShortEntry(pName11, u8Attr).data(), u8Attr == 0x10));
}

TEST(FatName, LongNamePartsLineUpAndStopAfterTwenty) {
    const std::u16string strName = u"A Long File Name Müller.txt"; // 27 characters, 3 parts
    CFatLongName longName;
    ASSERT_TRUE(longName.AddPart(NamePart(0x43, strName, 26).data()));
    ASSERT_TRUE(longName.AddPart(NamePart(0x02, strName, 13).data()));
    ASSERT_TRUE(longName.AddPart(NamePart(0x01, strName, 0).data()));
    EXPECT_EQ("A Long File Name Müller.txt", longName.GetName());
    // 255 characters take 20 parts; they come back whole.
    longName.Reset();
    std::u16string strLong(255, u'x');
    strLong.resize(20 * 13, u'\0');
    for (int i = 20; i >= 1; --i)
        ASSERT_TRUE(longName.AddPart(NamePart(uint8_t(i), strLong, (i - 1) * 13).data()));
    EXPECT_EQ(std::string(255, 'x'), longName.GetName());
    EXPECT_FALSE(longName.AddPart(NamePart(0x15, strLong, 0).data()));
}

} // namespace
