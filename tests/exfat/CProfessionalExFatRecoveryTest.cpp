// The deep exFAT engine on the exfat-fuse sample volume with its boot regions damaged: geometry
// from the backup region or inferred, the tree rebuilt with names, files recovered byte-exact.
#include "exfat/CProfessionalExFatRecovery.h"
#include "ExFatEngineTestUtil.h"
#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

namespace {

constexpr size_t SECTOR = 512;
constexpr size_t CHUNK = 65536;

class DeepExFatTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string strWhy;
        if (!MakeExFatSampleVolume(m_builder, m_vecFiles, strWhy))
            SKIP_WITHOUT(strWhy);
    }

    // What the deep scan's sector pass does: every sector of every 64 KiB chunk is offered.
    void RunPass(CProfessionalExFatRecovery& engine) {
        std::vector<uint8_t> image = ReadFileBytes(m_builder.Image());
        ASSERT_EQ(0, engine.Init(Ansi2Unicode(m_builder.Image().c_str()).c_str(), u'C'));
        ASSERT_EQ(0, engine.ClearProfessionalVec(nullptr));
        for (size_t nChunk = 0; nChunk < image.size(); nChunk += CHUNK)
            for (size_t nOff = nChunk; nOff < std::min(image.size(), nChunk + CHUNK);
                 nOff += SECTOR)
                engine.ParseExFatSector(image.data() + nOff,
                                        std::min(image.size(), nChunk + CHUNK) - nOff,
                                        nOff / SECTOR);
        ASSERT_EQ(0, engine.DealProfessionalRecordVec());
    }

    // Files found at their path and recovered byte-exact (the fragmented ones only when the FAT
    // could be read).
    void ExpectRecovered(CProfessionalExFatRecovery& engine, bool bChainsReadable) {
        std::map<std::string, FILE_NODE> tree = CollectExFatTree(engine);
        size_t nNamed = 0;
        for (const EXFAT_SAMPLE_FILE& file : m_vecFiles) {
            SCOPED_TRACE(file.strPath);
            auto it = tree.find(file.strPath);
            ASSERT_NE(it, tree.end());
            ++nNamed;
            EXPECT_EQ(it->second.nEngineType, ENGINE_DEEP_EXFAT);
            EXPECT_EQ(it->second.bIsDeleted, file.bDeleted ? 1u : 0u);
            const bool bWhole = !file.bFragmented || (bChainsReadable && !file.bDeleted);
            EXPECT_EQ(RecoverSha256(engine, it->second, m_dir.Path()) == Sha256Of(file.vecData),
                      bWhole);
        }
        EXPECT_EQ(nNamed, m_vecFiles.size());
    }

    CScanLogDirScope m_scanLog;
    CTempDir m_dir;
    CExFatImageBuilder m_builder{m_dir.File("vol.img")};
    std::vector<EXFAT_SAMPLE_FILE> m_vecFiles;
};

TEST_F(DeepExFatTest, MainBootRegionZeroedUsesTheBackupAndItsFat) {
    ASSERT_TRUE(m_builder.ZeroBootRegions(false));
    CProfessionalExFatRecovery engine;
    RunPass(engine);
    ASSERT_EQ(engine.GetVolumes().size(), 1u);
    EXPECT_TRUE(engine.GetVolumes()[0].bFromBoot);
    ExpectRecovered(engine, true);
}

TEST_F(DeepExFatTest, BothBootRegionsZeroedGeometryInferredNamesAndFoldersKept) {
    std::vector<uint8_t> boot = ReadFileBytes(m_builder.Image());
    const auto geometry = ParseExFatBootSector(boot.data(), boot.size(), 0).value();
    ASSERT_TRUE(m_builder.ZeroBootRegions(true));
    CProfessionalExFatRecovery engine;
    RunPass(engine);
    ASSERT_EQ(engine.GetVolumes().size(), 1u);
    const EXFAT_GEOMETRY& inferred = engine.GetVolumes()[0].geometry;
    EXPECT_FALSE(engine.GetVolumes()[0].bFromBoot);
    EXPECT_EQ(inferred.nSectorsPerCluster, geometry.nSectorsPerCluster);
    EXPECT_EQ(inferred.u64PartitionStart + inferred.u64HeapStart, geometry.u64HeapStart);
    EXPECT_EQ(inferred.nRootCluster, geometry.nRootCluster);
    ExpectRecovered(engine, false);
}

} // namespace
