// Deleted files that exfat-fuse wrote around other files: gaps and keepers in turn, the gaps
// deleted, files of provable formats written into them and on past the keepers, then deleted.
#include "exfat/CFastExFatRecovery.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/ExFatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/proof/CFileProof.h"
#include "util/TextUtil.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

constexpr uint32_t CLUSTER_BYTES = 4096;
constexpr int GAP_COUNT = 24;
constexpr size_t STREAM_FLAGS = 32 + 1;  // stream extension entry, GeneralSecondaryFlags
constexpr uint8_t NO_FAT_CHAIN_FLAG = 2; // clear: the file's clusters are chained in the FAT

const std::pair<const char*, const char*> FRAGMENTED_FILES[] = {
    {"flac.flac", "sample.flac"},
    {"odt.odt", "sample.odt"},
    {"mp3.mp3", "sample_mpeg1.mp3"},
};

std::string GapName(int i, char cKind) {
    return std::string(1, cKind) + std::to_string(100 + i) + ".bin";
}

} // namespace

TEST(FragmentedExFatTest, DeletedFilesWrittenAroundOthersComeBackWholeAndProved) {
    CScanLogDirScope scanLog;
    CTempDir dir;
    CExFatImageBuilder builder(dir.File("vol.img"));
    std::string strWhy;
    if (!CExFatImageBuilder::HaveTools(strWhy))
        SKIP_WITHOUT(strWhy);
    ASSERT_TRUE(builder.Format(32 * 1024 * 1024, CLUSTER_BYTES));
    {
        std::unique_ptr<CExFatImageMount> mount = builder.Mount(strWhy);
        ASSERT_TRUE(mount) << strWhy;
        for (int i = 0; i < GAP_COUNT; ++i)
            ASSERT_TRUE(mount->PutFile(GapName(i, 'g'), PatternBytes(2 * CLUSTER_BYTES, i)) &&
                        mount->PutFile(GapName(i, 'k'), PatternBytes(100, 50 + i)));
        for (int i = 0; i < GAP_COUNT; ++i)
            ASSERT_TRUE(std::filesystem::remove(mount->Path() + "/" + GapName(i, 'g')));
        ASSERT_TRUE(mount->Unmount());
    }
    std::map<std::string, std::vector<uint8_t>> mapFiles;
    {
        std::unique_ptr<CExFatImageMount> mount = builder.Mount(strWhy);
        ASSERT_TRUE(mount) << strWhy;
        for (const auto& [pName, pSample] : FRAGMENTED_FILES) {
            mapFiles[pName] = ReadFileBytes(TestDataPath(std::string("samples/") + pSample));
            ASSERT_TRUE(mount->PutFile(pName, mapFiles[pName]));
        }
        ASSERT_TRUE(mount->Unmount());
    }
    for (const auto& [strName, bytes] : mapFiles) {
        const int64_t llSet = builder.FindEntrySet(strName);
        ASSERT_GE(llSet, 0);
        std::vector<uint8_t> image = ReadFileBytes(builder.Image());
        EXPECT_EQ(0, image.at(size_t(llSet) + STREAM_FLAGS) & NO_FAT_CHAIN_FLAG)
            << strName << " was written in one piece";
    }
    {
        std::unique_ptr<CExFatImageMount> mount = builder.Mount(strWhy);
        ASSERT_TRUE(mount) << strWhy;
        for (const auto& [strName, bytes] : mapFiles)
            ASSERT_TRUE(std::filesystem::remove(mount->Path() + "/" + strName));
        ASSERT_TRUE(mount->Unmount());
    }

    CFastExFatRecovery engine;
    ASSERT_EQ(0, engine.Init(Ansi2Unicode(builder.Image().c_str()).c_str(), u'C'));
    ASSERT_EQ(0, engine.ScanDevice(nullptr));
    std::map<std::string, FILE_NODE> tree = CollectTree(engine);
    for (const auto& [strName, bytes] : mapFiles) {
        ASSERT_EQ(1u, tree.count(strName)) << strName;
        EXPECT_STREQ("whole", CFileProof::GetStateName(tree[strName].nDataHealth)) << strName;
        int rc = -1;
        EXPECT_EQ(bytes, CopyOutNode(engine, tree[strName], dir.File(strName + ".out"), rc));
        EXPECT_EQ(0, rc) << strName;
        std::vector<FILE_DATA_RUN> vecRuns;
        ASSERT_TRUE(engine.GetFileDataRuns(&tree[strName], vecRuns));
        EXPECT_GT(vecRuns.size(), 1u) << strName << ": one run for each piece";
    }
}
