// Damaged media end to end, through orvanne-cli: unreadable sectors (an
// LD_PRELOAD seam fails reads of the image with EIO), truncated and random images, FAT chains
// that loop, an NTFS volume whose $MFT record 0 is garbage. Every scan ends normally with what
// can be found, and unreadable sectors show in the debug log.
#include "device/BootSectorLayout.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "util/ByteView.h"
#include "util/CSha256.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

namespace {

constexpr uint64_t SECTOR = 512;

// Digests of every file under a folder.
std::multiset<std::string> DigestsUnder(const std::string& strDir) {
    std::multiset<std::string> setDigests;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(strDir, ec))
        if (entry.is_regular_file())
            setDigests.insert(CSha256::OfFile(entry.path().string()));
    return setDigests;
}

// A 16 MiB FAT16 volume (one sector per cluster) holding a PNG, a JPEG and a patterned file,
// all deleted, with a kept file beside them.
struct CDeletedFatVolume {
    std::vector<uint8_t> vecPng = ReadFileBytes(TestDataPath("samples/sample.png"));
    std::vector<uint8_t> vecJpg = ReadFileBytes(TestDataPath("samples/sample_big.jpg"));
    std::vector<uint8_t> vecLost = PatternBytes(40000, 17);
    std::vector<uint32_t> vecLostClusters;
    uint64_t u64FirstFatSector = 0;
};

// The reserved sector count: where the first FAT starts.
uint64_t FirstFatSector(const std::string& strImage) {
    std::vector<uint8_t> vecBoot = ReadFileBytes(strImage);
    return vecBoot.size() < BOOT_SECTOR_BYTES ? 0 : LoadU16LE(&vecBoot[BPB_RSVD_SEC_CNT]);
}

class DamagedMediaTest : public CFatToolsTest {
protected:
    // orvanne-cli --verbose: the debug log is its standard error.
    CLI_RUN Cli(const std::string& strEnv, const std::string& strArgs) {
        return RunCli("--verbose " + strArgs,
                      "ORVANNE_SCANLOG_DIR=" + ShellQuote(m_logs.Path()) + " " + strEnv);
    }
    bool MakeDeletedFatVolume(const std::string& strImage, CDeletedFatVolume& volume) {
        CFatImageBuilder image(strImage);
        if (!image.Format({16, 16 * 1024, 1}) ||
            !image.AddFile("/keep.txt", PatternBytes(3000, 1)) ||
            !image.AddFile("/sample.png", volume.vecPng) ||
            !image.AddFile("/photo.jpg", volume.vecJpg) ||
            !image.AddFile("/lost.bin", volume.vecLost))
            return false;
        volume.vecLostClusters = image.GetClusters("/lost.bin");
        volume.u64FirstFatSector = FirstFatSector(strImage);
        return !volume.vecLostClusters.empty() &&
               image.Delete({"/sample.png", "/photo.jpg", "/lost.bin"});
    }
    uint64_t ClusterSector(const std::string& strImage, uint32_t nCluster) {
        return CFatImageBuilder(strImage).ClusterOffset(nCluster) / SECTOR;
    }

    CScanLogDirScope m_logs;
    CTempDir m_dir;
};

TEST_F(DamagedMediaTest, UnreadableSectorsAreLoggedAndTheRestIsRecovered) {
    std::string strImage = m_dir.File("bad.img");
    CDeletedFatVolume volume;
    ASSERT_TRUE(MakeDeletedFatVolume(strImage, volume));
    // Four sectors in the middle of the deleted patterned file cannot be read.
    uint64_t u64Bad = ClusterSector(strImage, volume.vecLostClusters[40]);
    std::string strBad = std::to_string(u64Bad) + "-" + std::to_string(u64Bad + 3);

    std::string strOut = m_dir.File("out");
    CLI_RUN run = Cli(FailingReadEnv(strImage, strBad), "recover " + strImage + " --to " + strOut);
    EXPECT_EQ(run.nStatus, 1) << run.strErr;
    for (uint64_t s = u64Bad; s < u64Bad + 4; ++s)
        EXPECT_NE(run.strErr.find("unreadable sector " + std::to_string(s) + " "),
                  std::string::npos)
            << s << "\n"
            << run.strErr;
    std::multiset<std::string> setRecovered = DigestsUnder(strOut);
    EXPECT_EQ(setRecovered.count(Sha256Of(volume.vecPng)), 1u);
    EXPECT_EQ(setRecovered.count(Sha256Of(volume.vecJpg)), 1u);
    // The sectors after the bad ones are still copied: the file comes back whole but for four
    // zero-filled sectors, and is never listed as if it were intact.
    std::vector<uint8_t> vecExpected = volume.vecLost;
    std::fill_n(vecExpected.begin() + 40 * SECTOR, 4 * SECTOR, 0);
    EXPECT_EQ(setRecovered.count(Sha256Of(vecExpected)), 1u);
    EXPECT_NE(run.strOut.find("(4 unreadable sectors written as zeros)"), std::string::npos)
        << run.strOut;
}

TEST_F(DamagedMediaTest, UnreadableBootAndFatStillLetTheScansEnd) {
    std::string strImage = m_dir.File("head.img");
    CDeletedFatVolume volume;
    ASSERT_TRUE(MakeDeletedFatVolume(strImage, volume));

    // No boot sector: the deep scan still carves the pictures from the rest of the disk.
    std::string strOut = m_dir.File("carved");
    CLI_RUN run = Cli(FailingReadEnv(strImage, "0-1"), "recover " + strImage + " --to " + strOut);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strErr.find("unreadable sector 0 "), std::string::npos) << run.strErr;
    std::multiset<std::string> setRecovered = DigestsUnder(strOut);
    EXPECT_EQ(setRecovered.count(Sha256Of(volume.vecPng)), 1u) << run.strErr;
    EXPECT_EQ(setRecovered.count(Sha256Of(volume.vecJpg)), 1u) << run.strErr;

    // The first FAT sectors unreadable: the fast scan walks the folders anyway and says where.
    std::string strFat = std::to_string(volume.u64FirstFatSector) + "-" +
                         std::to_string(volume.u64FirstFatSector + 1);
    run = Cli(FailingReadEnv(strImage, strFat),
              "scan " + strImage + " --fast --json " + m_dir.File("fast.json"));
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strErr.find("at sector " + std::to_string(volume.u64FirstFatSector) + " "),
              std::string::npos)
        << run.strErr;
    EXPECT_NE(ReadFileText(m_dir.File("fast.json")).find("\"name\""), std::string::npos);
}

TEST_F(DamagedMediaTest, TruncatedAndRandomImagesEndNormally) {
    std::string strImage = m_dir.File("cut.img");
    CDeletedFatVolume volume;
    ASSERT_TRUE(MakeDeletedFatVolume(strImage, volume));
    ASSERT_EQ(truncate(strImage.c_str(), 12 * 1024 * 1024), 0);
    CLI_RUN run = Cli("", "scan " + strImage + " --fast");
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    std::string strOut = m_dir.File("cut-out");
    run = Cli("", "recover " + strImage + " --to " + strOut);
    EXPECT_LE(run.nStatus, 1) << run.strErr;
    EXPECT_EQ(DigestsUnder(strOut).count(Sha256Of(volume.vecPng)), 1u) << run.strErr;

    std::string strRandom = m_dir.File("random.img");
    ASSERT_TRUE(WriteFileBytes(strRandom, PatternBytes(3 * 1024 * 1024, 4242)));
    run = Cli("", "scan " + strRandom);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    run = Cli("", "scan " + strRandom + " --fast");
    EXPECT_EQ(run.nStatus, 2) << run.strErr;
}

TEST_F(DamagedMediaTest, LoopingFatChainsEnd) {
    std::string strImage = m_dir.File("loop.img");
    CFatImageBuilder image(strImage);
    std::vector<uint8_t> vecGone = PatternBytes(9000, 3);
    ASSERT_TRUE(image.Format({16, 16 * 1024, 1}) && image.MakeDir("/Folder") &&
                image.AddFile("/Folder/gone.bin", vecGone) &&
                image.AddFile("/looped.bin", PatternBytes(30000, 4)) &&
                image.Delete({"/Folder/gone.bin"}));
    std::vector<uint32_t> vecFile = image.GetClusters("/looped.bin");
    std::vector<uint32_t> vecFolder = image.GetClusters("/Folder");
    ASSERT_GE(vecFile.size(), 10u);
    ASSERT_FALSE(vecFolder.empty());
    // FAT16 entries are 2 bytes in the first FAT: the live file's tenth cluster leads back to
    // its second, the folder's last cluster to itself.
    const uint64_t u64Fat = FirstFatSector(strImage) * SECTOR;
    auto LinkCluster = [&](uint32_t nFrom, uint32_t nTo) {
        return PatchFileBytes(strImage, u64Fat + uint64_t(nFrom) * 2,
                              {uint8_t(nTo), uint8_t(nTo >> 8)});
    };
    ASSERT_TRUE(LinkCluster(vecFile[9], vecFile[1]));
    ASSERT_TRUE(LinkCluster(vecFolder.back(), vecFolder.back()));

    // The deleted file in the looping folder comes back once, whole.
    std::string strFast = m_dir.File("fast");
    CLI_RUN run = Cli("", "recover " + strImage + " --fast --to " + strFast);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_EQ(DigestsUnder(strFast).count(Sha256Of(vecGone)), 1u) << run.strErr;
    std::string strDeep = m_dir.File("deep");
    run = Cli("", "recover " + strImage + " --to " + strDeep);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_EQ(DigestsUnder(strDeep).count(Sha256Of(vecGone)), 1u) << run.strErr;
}

TEST_F(DamagedMediaTest, NtfsWithCorruptMftRecordZeroEndsAndTheDeepScanFindsTheFiles) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp") || !HaveTool("ntfsinfo"))
        SKIP_WITHOUT("the ntfs-3g tools");
    std::string strImage = m_dir.File("ntfs.img");
    CNtfsImageBuilder image(strImage);
    std::vector<uint8_t> vecGone = PatternBytes(50000, 8);
    std::vector<uint8_t> vecPng = ReadFileBytes(TestDataPath("samples/sample.png"));
    ASSERT_TRUE(image.Format(16 * 1024 * 1024, 4096) && image.PutFile("/gone.bin", vecGone) &&
                image.PutFile("/picture.png", vecPng) && image.DeleteInPlace("/gone.bin"));
    // $MFT record 0 becomes noise.
    std::vector<uint8_t> vecBoot = ReadFileBytes(strImage);
    ASSERT_GE(vecBoot.size(), BOOT_SECTOR_BYTES);
    uint64_t u64ClusterBytes =
        uint64_t(LoadU16LE(&vecBoot[BPB_BYTS_PER_SEC])) * vecBoot[BPB_SEC_PER_CLUS];
    uint64_t u64MftCluster = LoadU64LE(&vecBoot[NTFS_MFT_CLUSTER]);
    ASSERT_TRUE(PatchFileBytes(strImage, u64MftCluster * u64ClusterBytes, PatternBytes(1024, 77)));

    CLI_RUN run = Cli("", "scan " + strImage + " --fast");
    EXPECT_LE(run.nStatus, 2) << run.strErr;
    std::string strOut = m_dir.File("ntfs-out");
    run = Cli("", "recover " + strImage + " --to " + strOut);
    EXPECT_LE(run.nStatus, 1) << run.strErr;
    std::multiset<std::string> setRecovered = DigestsUnder(strOut);
    EXPECT_GE(setRecovered.count(Sha256Of(vecGone)), 1u) << run.strErr;
    EXPECT_GE(setRecovered.count(Sha256Of(vecPng)), 1u) << run.strErr;
}

} // namespace
