// The fast exFAT engine on the exfat-fuse sample volume: deleted sets listed in their folders
// with names, sizes and times, recovered byte-exact, and the free-space map of the deep pass.
#include "exfat/CFastExFatRecovery.h"
#include "ExFatEngineTestUtil.h"
#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(FastExFatTest, ListsAndRecoversDeletedSetsInTheirFolders) {
    CScanLogDirScope scanLog;
    CTempDir dir;
    CExFatImageBuilder builder(dir.File("vol.img"));
    std::vector<EXFAT_SAMPLE_FILE> vecFiles;
    std::string strWhy;
    if (!MakeExFatSampleVolume(builder, vecFiles, strWhy))
        SKIP_WITHOUT(strWhy);

    CFastExFatRecovery engine;
    ASSERT_EQ(0, engine.Init(Ansi2Unicode(builder.Image().c_str()).c_str(), u'C'));
    ASSERT_EQ(0, engine.ScanDevice(nullptr));
    std::map<std::string, FILE_NODE> tree = CollectTree(engine);
    EXPECT_TRUE(tree.count("Music/Album/") && tree.count("Photos/Holiday 2023/"));
    EXPECT_TRUE(tree["Music/"].bIsDeleted && !tree["Photos/"].bIsDeleted);
    for (const EXFAT_SAMPLE_FILE& file : vecFiles) {
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
    EXPECT_EQ(ReadFileBytes(strMusic + "/Album/track01.mp3"), vecFiles[2].vecData);

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

} // namespace
