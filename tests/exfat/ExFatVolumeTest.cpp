// The exFAT decoders and the fast engine on a volume made by mkfs.exfat and filled through
// exfat-fuse, and the hand-edited twins that no tool makes. The engine lists deleted sets in their
// folders with names, sizes and times, recovers them byte-exact, and maps the free space of the
// deep pass.
#include "ExFatEngineTestUtil.h"
#include "device/FileSystemRecognisers.h"
#include "exfat/CFastExFatRecovery.h"
#include "fixtures/FixtureUtil.h"
#include "formats/exfat/ExFatAllocation.h"
#include "formats/exfat/ExFatBootSector.h"
#include "formats/exfat/ExFatDirectory.h"

#include "util/TextUtil.h"

#include <gtest/gtest.h>

namespace {

constexpr size_t SECTOR = 512;

class ExFatVolumeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pDir = new CTempDir;
        CExFatImageBuilder builder(s_pDir->File("vol.img"));
        if (MakeExFatSampleVolume(builder, s_vecFiles, s_strWhy))
            s_vecImage = ReadFileBytes(s_strImage = builder.Image());
    }
    static void TearDownTestSuite() {
        delete s_pDir;
        s_pDir = nullptr;
    }
    void SetUp() override {
        if (s_vecImage.empty())
            SKIP_WITHOUT(s_strWhy);
        m_geometry = ParseExFatBootSector(s_vecImage.data(), s_vecImage.size(), 0).value();
    }

    const uint8_t* Cluster(uint32_t nCluster) const {
        return s_vecImage.data() + m_geometry.ClusterToSector(nCluster) * SECTOR;
    }
    // A directory's bytes: its clusters in FAT order, or nClusters contiguous ones.
    std::vector<uint8_t> ReadDir(uint32_t nCluster, bool bNoFatChain, uint32_t nClusters) const {
        const uint8_t* pFat = s_vecImage.data() + m_geometry.u64FatStart * SECTOR;
        std::vector<uint8_t> vecDir;
        for (uint32_t i = 0; i < nClusters && m_geometry.IsHeapCluster(nCluster); ++i) {
            vecDir.insert(vecDir.end(), Cluster(nCluster), Cluster(nCluster) + ClusterBytes());
            auto value = ReadExFatEntry(pFat, m_geometry.u64FatSectors * SECTOR, nCluster);
            auto next = bNoFatChain ? nCluster + 1 : ExFatChainNext(*value, nCluster, Clusters());
            if (!next)
                break;
            nCluster = *next;
        }
        return vecDir;
    }
    const EXFAT_ENTRY_SET* FindSet(const EXFAT_DIRECTORY& dir, const std::string& strName) const {
        for (const EXFAT_DIR_SET& item : dir.vecSets)
            if (item.set.strName == strName)
                return &item.set;
        return nullptr;
    }
    uint32_t ClusterBytes() const { return m_geometry.ClusterBytes(); }
    uint32_t Clusters() const { return m_geometry.nClusterCount; }

    static CTempDir* s_pDir;
    static std::vector<EXFAT_SAMPLE_FILE> s_vecFiles;
    static std::vector<uint8_t> s_vecImage;
    static std::string s_strWhy;
    static std::string s_strImage;
    EXFAT_GEOMETRY m_geometry{};
};

CTempDir* ExFatVolumeTest::s_pDir = nullptr;
std::vector<EXFAT_SAMPLE_FILE> ExFatVolumeTest::s_vecFiles;
std::vector<uint8_t> ExFatVolumeTest::s_vecImage;
std::string ExFatVolumeTest::s_strWhy;
std::string ExFatVolumeTest::s_strImage;

TEST_F(ExFatVolumeTest, BootRegionGeometryChecksumAndRecogniser) {
    EXPECT_EQ(m_geometry.nSectorsPerCluster, 8u);
    EXPECT_EQ(m_geometry.nBytesPerSector, 512u);
    EXPECT_EQ(m_geometry.u64TotalSectors, s_vecImage.size() / SECTOR);
    EXPECT_TRUE(IsExFat(s_vecImage.data(), 16384));
    EXPECT_FALSE(IsFat(s_vecImage.data(), 16384));
    EXPECT_FALSE(IsNtfs(s_vecImage.data(), 16384));
    const size_t nRegion = EXFAT_BOOT_REGION_SECTORS * SECTOR;
    EXPECT_TRUE(IsExFatBootRegionValid(s_vecImage.data(), nRegion));
    EXPECT_TRUE(IsExFatBootRegionValid(s_vecImage.data() + nRegion, nRegion));
    EXPECT_FALSE(IsExFatBootRegionValid(s_vecImage.data(), nRegion - 1));

    // Volume flags and percent in use change without the checksum; any other byte breaks it.
    std::vector<uint8_t> region(s_vecImage.begin(), s_vecImage.begin() + nRegion);
    region[EXFAT_VOLUME_FLAGS] ^= 1;
    region[EXFAT_PERCENT_IN_USE] = 42;
    EXPECT_TRUE(IsExFatBootRegionValid(region.data(), region.size()));
    region[SECTOR + 100] ^= 1;
    EXPECT_FALSE(IsExFatBootRegionValid(region.data(), region.size()));
    region[SECTOR + 100] ^= 1;
    region[EXFAT_SECTORS_PER_CLUSTER_SHIFT] = 26;
    EXPECT_FALSE(ParseExFatBootSector(region.data(), region.size(), 0));
    EXPECT_FALSE(IsExFat(region.data(), region.size()));
}

TEST_F(ExFatVolumeTest, RootHoldsBitmapUpcaseAndTheEntrySetsPutIn) {
    EXFAT_DIRECTORY root = ParseExFatDirectory(Cluster(m_geometry.nRootCluster), ClusterBytes());
    ASSERT_TRUE(root.bitmap && root.upcase);
    EXPECT_TRUE(root.bEndSeen);
    EXPECT_EQ(root.nForeignEntries, 0u);
    EXPECT_EQ(
        ExFatUpcaseTableChecksum(Cluster(root.upcase->nFirstCluster), root.upcase->u64DataLength),
        root.upcase->nChecksum);

    const uint8_t* pBitmap = Cluster(root.bitmap->nFirstCluster);
    const size_t nBitmapBytes = root.bitmap->u64DataLength;
    for (const EXFAT_SAMPLE_FILE& file : s_vecFiles) {
        if (file.strPath.find('/') != std::string::npos)
            continue;
        SCOPED_TRACE(file.strPath);
        const EXFAT_ENTRY_SET* pSet = FindSet(root, file.strPath);
        ASSERT_NE(pSet, nullptr);
        EXPECT_EQ(pSet->bInUse, !file.bDeleted);
        EXPECT_EQ(pSet->u64DataLength, file.vecData.size());
        EXPECT_EQ(pSet->bNoFatChain, !file.bFragmented);
        EXPECT_EQ(IsExFatClusterInUse(pBitmap, nBitmapBytes, pSet->nFirstCluster), !file.bDeleted);
        // The first cluster holds the file's first bytes whether or not it is still in use.
        const size_t nHead = std::min<size_t>(file.vecData.size(), ClusterBytes());
        EXPECT_TRUE(std::equal(file.vecData.begin(), file.vecData.begin() + nHead,
                               Cluster(pSet->nFirstCluster)));
        EXPECT_GT(pSet->modify.llUnixSeconds, 1700000000);
    }
    const EXFAT_ENTRY_SET* pVdl = FindSet(root, "vdl.bin");
    EXPECT_EQ(pVdl->u64ValidDataLength, 5000u);
    EXPECT_EQ(FindSet(root, std::string(251, 'L') + ".txt")->strName16.size(), 255u);

    // A live fragmented file reads whole through its chain; the deleted one's chain is gone.
    const EXFAT_ENTRY_SET* pFrag = FindSet(root, "frag.bin");
    std::vector<uint8_t> vecChained = ReadDir(pFrag->nFirstCluster, false, 4);
    EXPECT_EQ(vecChained, s_vecFiles[6].vecData);
    const uint8_t* pFat = s_vecImage.data() + m_geometry.u64FatStart * SECTOR;
    EXPECT_EQ(ReadExFatEntry(pFat, m_geometry.u64FatSectors * SECTOR,
                             FindSet(root, "fragdel.bin")->nFirstCluster),
              EXFAT_CLUSTER_FREE);
    auto run = NextExFatFreeRun(pBitmap, nBitmapBytes, Clusters(), 2);
    ASSERT_TRUE(run);
    EXPECT_EQ(IsExFatClusterInUse(pBitmap, nBitmapBytes, run->nFirstCluster), false);
    EXPECT_EQ(IsExFatClusterInUse(pBitmap, nBitmapBytes, run->nFirstCluster - 1), true);
}

TEST_F(ExFatVolumeTest, DeletedFolderTreeKeepsItsChildrenAndLongUnicodeNames) {
    EXFAT_DIRECTORY root = ParseExFatDirectory(Cluster(m_geometry.nRootCluster), ClusterBytes());
    const EXFAT_ENTRY_SET* pMusic = FindSet(root, "Music");
    ASSERT_TRUE(pMusic && pMusic->bIsDir && !pMusic->bInUse);
    EXFAT_DIRECTORY music = ParseExFatDirectory(
        ReadDir(pMusic->nFirstCluster, pMusic->bNoFatChain, 1).data(), ClusterBytes());
    const EXFAT_ENTRY_SET* pAlbum = FindSet(music, "Album");
    ASSERT_TRUE(pAlbum && FindSet(music, "cover.jpg"));
    EXFAT_DIRECTORY album = ParseExFatDirectory(Cluster(pAlbum->nFirstCluster), ClusterBytes());
    ASSERT_NE(FindSet(album, "track01.mp3"), nullptr);
    EXPECT_FALSE(FindSet(album, "track01.mp3")->bInUse);

    const EXFAT_ENTRY_SET* pPhotos = FindSet(root, "Photos");
    EXFAT_DIRECTORY photos = ParseExFatDirectory(Cluster(pPhotos->nFirstCluster), ClusterBytes());
    const EXFAT_ENTRY_SET* pHoliday = FindSet(photos, "Holiday 2023");
    EXFAT_DIRECTORY holiday = ParseExFatDirectory(Cluster(pHoliday->nFirstCluster), ClusterBytes());
    ASSERT_EQ(holiday.vecSets.size(), 1u);
    EXPECT_EQ(holiday.vecSets[0].set.strName,
              "Ünïcödé — 日本の夏休み, a picture name longer than one entry.jpg");
}

TEST_F(ExFatVolumeTest, DeepSectorTestAcceptsDirectorySectorsOnly) {
    auto root = ParseExFatDirectorySector(Cluster(m_geometry.nRootCluster), SECTOR * 8, SECTOR);
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->bitmap && root->upcase);
    std::vector<uint8_t> zeros(SECTOR, 0);
    EXPECT_FALSE(ParseExFatDirectorySector(zeros.data(), zeros.size(), SECTOR));
    EXPECT_FALSE(ParseExFatDirectorySector(s_vecImage.data(), SECTOR, SECTOR)); // boot sector
    const uint8_t* pFat = s_vecImage.data() + m_geometry.u64FatStart * SECTOR;
    EXPECT_FALSE(ParseExFatDirectorySector(pFat, SECTOR, SECTOR));
    // A folder sector with one set and its end entry; one byte after the end spoils it.
    EXFAT_DIRECTORY top = ParseExFatDirectory(Cluster(m_geometry.nRootCluster), ClusterBytes());
    const uint8_t* pPhotos = Cluster(FindSet(top, "Photos")->nFirstCluster);
    std::vector<uint8_t> sector(pPhotos, pPhotos + SECTOR);
    EXPECT_TRUE(ParseExFatDirectorySector(sector.data(), sector.size(), SECTOR));
    sector[SECTOR - 1] = 1;
    EXPECT_FALSE(ParseExFatDirectorySector(sector.data(), sector.size(), SECTOR));
}

TEST_F(ExFatVolumeTest, FastEngineListsAndRecoversDeletedSetsInTheirFolders) {
    CScanLogDirScope scanLog;
    CTempDir dir;
    CFastExFatRecovery engine;
    ASSERT_EQ(0, engine.Init(Ansi2Unicode(s_strImage.c_str()).c_str(), u'C'));
    ASSERT_EQ(0, engine.ScanDevice(nullptr));
    std::map<std::string, FILE_NODE> tree = CollectTree(engine);
    EXPECT_TRUE(tree.count("Music/Album/") && tree.count("Photos/Holiday 2023/"));
    EXPECT_TRUE(tree["Music/"].bIsDeleted && !tree["Photos/"].bIsDeleted);
    for (const EXFAT_SAMPLE_FILE& file : s_vecFiles) {
        SCOPED_TRACE(file.strPath);
        // Live files are not listed: only what was deleted needs recovering.
        ASSERT_EQ(tree.count(file.strPath), file.bDeleted ? 1u : 0u);
        if (!file.bDeleted)
            continue;
        const FILE_NODE& node = tree[file.strPath];
        EXPECT_EQ(node.nEngineType, ENGINE_FAST_EXFAT);
        EXPECT_EQ(node.u64FileSize, file.vecData.size());
        EXPECT_GT(node.u64ModifyTime, 1700000000u);
        const std::string strSha = RecoverSha256(engine, node, dir.Path());
        // A deleted fragmented file lost its chain: its first cluster is all that is sure.
        EXPECT_EQ(strSha == Sha256Of(file.vecData), !file.bFragmented);
        EXPECT_EQ(engine.GetDataLayout(node).bPossiblyDamaged, file.bFragmented);
    }

    // A deleted folder comes back whole with its tree.
    FILE_NODE music = tree["Music/"];
    const std::string strMusic = dir.File("music-out");
    ASSERT_EQ(0, engine.SaveFileData(&music, Ansi2Unicode(strMusic.c_str()).c_str(), 0));
    EXPECT_EQ(ReadFileBytes(strMusic + "/Album/track01.mp3"), s_vecFiles[2].vecData);

    // The deep pass is offered the deleted files' clusters, never the live ones'.
    ASSERT_EQ(0, engine.BuildBitMapInfo());
    const EXFAT_GEOMETRY& geo = engine.GetGeometry();
    auto isOffered = [&](uint32_t nCluster) {
        const uint64_t u64Sector = geo.ClusterToSector(nCluster) - geo.u64PartitionStart;
        unsigned long long u64Start = u64Sector, u64Count = 0;
        engine.GetUnUsedSectorCount(u64Start, u64Count);
        return u64Start == u64Sector && u64Count >= geo.nSectorsPerCluster;
    };
    EXPECT_TRUE(isOffered(tree["small.txt"].nClusterNo));
    EXPECT_FALSE(isOffered(geo.nRootCluster));
}

TEST(ExFatEntrySetTest, ChecksumShapeAndTimestampTwins) {
    // 2024-02-29 13:45:58 local, +1.50 s, UTC-05:00 (-20 quarter hours).
    const uint32_t nStamp = (44u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 29;
    EXFAT_TIMESTAMP t = DecodeExFatTimestamp(nStamp, 150, 0x80 | (0x80 - 20));
    EXPECT_EQ(t.llUnixSeconds, 1709232359); // 2024-02-29 18:45:59 UTC
    EXPECT_EQ(t.nMilliseconds, 500);
    EXPECT_TRUE(t.bUtcOffsetValid);
    EXPECT_EQ(DecodeExFatTimestamp(nStamp, 0, 0).llUnixSeconds, 1709214358);

    // File entry, stream extension and one name entry for "a.b".
    std::vector<uint8_t> set(3 * EXFAT_ENTRY_BYTES, 0);
    set[0] = EXFAT_TYPE_FILE;
    set[EXFAT_FILE_SECONDARY_COUNT] = 2;
    set[32] = EXFAT_TYPE_STREAM;
    set[32 + EXFAT_STREAM_FLAGS] = EXFAT_FLAG_ALLOCATION_POSSIBLE | EXFAT_FLAG_NO_FAT_CHAIN;
    set[32 + EXFAT_STREAM_NAME_LENGTH] = 3;
    set[32 + EXFAT_STREAM_VALID_DATA_LENGTH] = 10;
    set[32 + EXFAT_STREAM_FIRST_CLUSTER] = 9;
    set[32 + EXFAT_STREAM_DATA_LENGTH] = 20;
    set[64] = EXFAT_TYPE_NAME;
    set[64 + EXFAT_NAME_UNITS_AT] = 'a', set[66 + 2] = '.', set[66 + 4] = 'b';
    auto seal = [](std::vector<uint8_t>& s) {
        const uint16_t nSum = ExFatSetChecksum(s.data(), s.size());
        s[EXFAT_FILE_SET_CHECKSUM] = uint8_t(nSum), s[EXFAT_FILE_SET_CHECKSUM + 1] = nSum >> 8;
    };
    seal(set);
    auto live = ParseExFatEntrySet(set.data(), set.size());
    ASSERT_TRUE(live);
    EXPECT_EQ(live->strName, "a.b");
    EXPECT_TRUE(live->bNoFatChain && live->bInUse);
    // Deleting clears bit 7 of every type byte and still checks against the same sum.
    for (size_t i = 0; i < set.size(); i += EXFAT_ENTRY_BYTES)
        set[i] &= uint8_t(~EXFAT_ENTRY_IN_USE);
    auto deleted = ParseExFatEntrySet(set.data(), set.size());
    ASSERT_TRUE(deleted);
    EXPECT_FALSE(deleted->bInUse);
    EXPECT_FALSE(ParseExFatEntrySet(set.data(), set.size() - 1)); // cut short
    set[64 + EXFAT_NAME_UNITS_AT] = 'c';                          // name changed, checksum not
    EXFAT_DIRECTORY dir = ParseExFatDirectory(set.data(), set.size());
    EXPECT_TRUE(dir.vecSets.empty());
    set[32 + EXFAT_STREAM_VALID_DATA_LENGTH] = 21; // past the data length, checksum resealed
    seal(set);
    EXPECT_FALSE(ParseExFatEntrySet(set.data(), set.size()));
}

} // namespace
