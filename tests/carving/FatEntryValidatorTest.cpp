// FAT directory-entry and directory-sector validators, on hand-built entries and on a root
// directory written by mkfs.vfat and mtools.
#include "formats/fat/FatEntryValidator.h"

#include "fixtures/FixtureUtil.h"
#include "util/ByteView.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>

namespace {

using Entry = std::array<uint8_t, 32>;

uint16_t FatDate(int nYear, int nMonth, int nDay) {
    return uint16_t((nYear - 1980) << 9 | nMonth << 5 | nDay);
}

void PutU16(Entry& e, size_t off, uint16_t v) {
    e[off] = uint8_t(v);
    e[off + 1] = uint8_t(v >> 8);
}

void PutU32(Entry& e, size_t off, uint32_t v) {
    PutU16(e, off, uint16_t(v));
    PutU16(e, off + 2, uint16_t(v >> 16));
}

// A live archived file "README  TXT" of 100 bytes at cluster 5, dated 2015-06-01.
Entry MakeFileEntry(const char* pName11 = "README  TXT") {
    Entry e{};
    std::memcpy(e.data(), pName11, 11);
    e[11] = FAT_ATTR_ARCHIVE;
    const uint16_t u16Date = FatDate(2015, 6, 1);
    PutU16(e, offsetof(FAT32_Entry, DIR_CrtDate), u16Date);
    PutU16(e, offsetof(FAT32_Entry, DIR_LstAccDate), u16Date);
    PutU16(e, offsetof(FAT32_Entry, DIR_WrtDate), u16Date);
    PutU16(e, offsetof(FAT32_Entry, DIR_CrtTime), 0x1234);
    PutU16(e, offsetof(FAT32_Entry, DIR_FstClusLO), 5);
    PutU32(e, offsetof(FAT32_Entry, DIR_FileSize), 100);
    return e;
}

Entry MakeLongNameEntry(uint8_t u8Ord, uint8_t u8CheckSum) {
    Entry e{};
    e[0] = u8Ord;
    e[1] = 'a';
    e[3] = 'b';
    e[11] = FAT_ATTR_LONG_NAME;
    e[LDIR_CHKSUM_OFFSET] = u8CheckSum;
    for (size_t off : {5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30})
        PutU16(e, off, 0xFFFF);
    return e;
}

Entry MakeDotEntry(bool bDotDot, uint16_t u16Date) {
    Entry e{};
    std::memset(e.data(), ' ', 11);
    e[0] = '.';
    if (bDotDot)
        e[1] = '.';
    e[11] = FAT_ATTR_DIRECTORY;
    PutU16(e, offsetof(FAT32_Entry, DIR_CrtDate), u16Date);
    PutU16(e, offsetof(FAT32_Entry, DIR_LstAccDate), u16Date);
    PutU16(e, offsetof(FAT32_Entry, DIR_WrtDate), u16Date);
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

TEST(FatEntryValidator, ChecksumFollowsTheRotateAndAddRule) {
    const uint8_t szName[] = "README  TXT";
    uint8_t u8Expected = 0;
    for (int i = 0; i < 11; ++i)
        u8Expected = uint8_t(((u8Expected & 1) ? 0x80 : 0) + (u8Expected >> 1) + szName[i]);
    EXPECT_EQ(GetShortNameCheckSum(szName), u8Expected);
}

TEST(FatEntryValidator, LiveFileDatesMustBeAfterMay1991) {
    Entry e = MakeFileEntry();
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 1);
    PutU16(e, offsetof(FAT32_Entry, DIR_LstAccDate), FatDate(1991, 1, 15));
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 0);
    e[0] = FAT_ENTRY_DELETED;
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 1);
}

// 255 characters take 20 entries of 13: ordinal 20 is the last a real name uses.
TEST(FatEntryValidator, LongNameOrdinalAbove20IsRefused) {
    Entry e = MakeLongNameEntry(0x54, 0);
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 1);
    e[0] = 0x55;
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 0);
}

TEST(FatEntryValidator, RegularFileNeedsArchiveBit) {
    Entry e = MakeFileEntry();
    e[11] = 0;
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 0);
    e[11] = FAT_ATTR_ARCHIVE | FAT_ATTR_HIDDEN;
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 1);
}

TEST(FatEntryValidator, AttributeAndNameRules) {
    Entry e = MakeFileEntry();
    e[11] = FAT_ATTR_ARCHIVE | 0x40;
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 0);
    e = MakeFileEntry("readme  TXT");
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 0);
    e = MakeFileEntry();
    PutU32(e, offsetof(FAT32_Entry, DIR_FileSize), 0);
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 0) << "empty file with a cluster";
    e = MakeFileEntry();
    e[11] = FAT_ATTR_DIRECTORY | FAT_ATTR_READ_ONLY;
    EXPECT_EQ(IsFatEntyValid(e.data(), e.size()), 0);
}

TEST(FatEntryValidator, DirectorySectorEndsInZeros) {
    Entry a = MakeFileEntry("A       TXT");
    Entry b = MakeFileEntry("B       TXT");
    Entry c = MakeFileEntry("C       TXT");
    std::vector<uint8_t> sector = Sector({a, b, c});
    EXPECT_EQ(IsFatFDTRecord(sector.data(), sector.size()), 1);
    sector[300] = 1;
    EXPECT_EQ(IsFatFDTRecord(sector.data(), sector.size()), 0);
    std::vector<uint8_t> empty = Sector({Entry{}, a});
    EXPECT_EQ(IsFatFDTRecord(empty.data(), empty.size()), 0);
}

TEST(FatEntryValidator, LongNameRunMustMatchItsShortEntry) {
    Entry shortEntry = MakeFileEntry("LONGNA~1TXT");
    const uint8_t u8Sum = GetShortNameCheckSum(shortEntry.data());
    std::vector<uint8_t> good = Sector({MakeLongNameEntry(0x41, u8Sum), shortEntry});
    EXPECT_EQ(IsFatFDTRecord(good.data(), good.size()), 1);
    std::vector<uint8_t> bad = Sector({MakeLongNameEntry(0x41, uint8_t(u8Sum + 1)), shortEntry});
    EXPECT_EQ(IsFatFDTRecord(bad.data(), bad.size()), 0);
}

TEST(FatEntryValidator, DirectoryStartNeedsEqualDotDates) {
    const uint16_t u16Date = FatDate(2020, 2, 29);
    std::vector<uint8_t> sector =
        Sector({MakeDotEntry(false, u16Date), MakeDotEntry(true, u16Date)});
    EXPECT_EQ(IsFatFileRecord(sector.data(), sector.size()), 1);
    EXPECT_EQ(IsFatFDTRecord(sector.data(), sector.size()), 0);
    std::vector<uint8_t> other =
        Sector({MakeDotEntry(false, u16Date), MakeDotEntry(true, FatDate(2020, 3, 1))});
    EXPECT_EQ(IsFatFileRecord(other.data(), other.size()), 0);
}

TEST(FatEntryValidator, DotEntryAtBufferEndDoesNotLookPastIt) {
    Entry dot = MakeDotEntry(false, FatDate(2020, 1, 1));
    std::vector<uint8_t> exact(dot.begin(), dot.end());
    EXPECT_EQ(IsFatFileRecord(exact.data(), exact.size()), 0);
    // Without its ".." partner it is judged as a plain entry, whose name may hold no full stop.
    EXPECT_EQ(IsFatEntyValid(exact.data(), exact.size()), 0);
}

TEST(FatEntryValidator, DateConversionRollsOverLikeTheCalendar) {
    EXPECT_EQ(FatDateToTimeValue(FatDate(2021, 3, 0)), FatDateToTimeValue(FatDate(2021, 2, 28)));
    EXPECT_EQ(FatDateToTimeValue(FatDate(2021, 13, 5)), FatDateToTimeValue(FatDate(2020, 12, 31)));
    EXPECT_EQ(FatDateToTimeValue(FatDate(2021, 2, 30)), FatDateToTimeValue(FatDate(2021, 3, 2)));
}

// Sets the local time zone for one test.
class CTimeZoneScope {
public:
    explicit CTimeZoneScope(const char* pZone) {
        if (const char* pOld = std::getenv("TZ"))
            m_strOld = pOld, m_bHadOld = true;
        setenv("TZ", pZone, 1);
        tzset();
    }
    ~CTimeZoneScope() {
        if (m_bHadOld)
            setenv("TZ", m_strOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_strOld;
    bool m_bHadOld = false;
};

bool IsLiveFileDatedValid(uint16_t u16Date) {
    Entry e = MakeFileEntry();
    for (size_t off : {offsetof(FAT32_Entry, DIR_CrtDate), offsetof(FAT32_Entry, DIR_LstAccDate),
                       offsetof(FAT32_Entry, DIR_WrtDate)})
        PutU16(e, off, u16Date);
    return IsFatEntyValid(e.data(), e.size()) == 1;
}

TEST(FatEntryValidator, DateBoundsAreJudgedOnLocalMidnight) {
    {
        CTimeZoneScope zone("UTC0");
        EXPECT_EQ(FatDateToTimeValue(FatDate(1991, 5, 4)), 673315200);
        EXPECT_FALSE(IsLiveFileDatedValid(FatDate(1991, 5, 3))); // 00:00 is before 00:38:05
        EXPECT_TRUE(IsLiveFileDatedValid(FatDate(1991, 5, 4)));
        EXPECT_TRUE(IsLiveFileDatedValid(FatDate(2080, 1, 23)));
        EXPECT_FALSE(IsLiveFileDatedValid(FatDate(2080, 1, 24)));
    }
    {
        // Fourteen hours ahead of UTC, local midnight of 24 January 2080 is still in range.
        CTimeZoneScope zone("XXX-14");
        EXPECT_TRUE(IsLiveFileDatedValid(FatDate(2080, 1, 24)));
        EXPECT_FALSE(IsLiveFileDatedValid(FatDate(2080, 1, 25)));
    }
}

TEST(FatEntryValidator, RootDirectoryWrittenByMtoolsIsADirectorySector) {
    if (!HaveTool("mkfs.vfat") || !HaveTool("mcopy"))
        SKIP_WITHOUT("mkfs.vfat and mtools");
    CTempDir dir;
    const std::string strImage = dir.File("fat16.img");
    const std::string strFile = dir.File("A long file name.txt");
    ASSERT_TRUE(WriteFileBytes(strFile, PatternBytes(3000, 7)));
    ASSERT_TRUE(WriteFileBytes(dir.File("SHORT.TXT"), PatternBytes(100, 8)));
    ASSERT_TRUE(RunShell("mkfs.vfat -F 16 -C " + ShellQuote(strImage) + " 16384 >/dev/null"));
    ASSERT_TRUE(RunShell("mcopy -i " + ShellQuote(strImage) + " " + ShellQuote(strFile) + " " +
                         ShellQuote(dir.File("SHORT.TXT")) + " ::/"));
    std::vector<uint8_t> image = ReadFileBytes(strImage);
    ASSERT_GE(image.size(), 512u);
    const size_t nRootOffset =
        (LoadU16LE(&image[14]) + size_t(image[16]) * LoadU16LE(&image[22])) * 512;
    ASSERT_TRUE(InBounds(image.size(), nRootOffset, 512));
    EXPECT_EQ(IsFatFDTRecord(&image[nRootOffset], 512), 1);
}

} // namespace
