// Partition tables written by sfdisk and sgdisk into image files, then read back.
#include "device/CDiskRegistry.h"
#include "device/CPartitionManager.h"
#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

constexpr uint64_t MiB = 1024 * 1024;

std::string NameOf(const PARTITION_ITEM& item) {
    char16_t wszName[PARTITION_NAME_UNITS + 1] = {};
    std::memcpy(wszName, item.wszName, sizeof(item.wszName));
    return Unicode2Ansi(wszName);
}

class PartitionManagerTest : public ::testing::Test {
protected:
    std::string MakeImage(const std::string& strName, uint64_t u64Bytes) {
        std::string strPath = m_dir.File(strName);
        EXPECT_TRUE(
            RunShell("truncate -s " + std::to_string(u64Bytes) + " " + ShellQuote(strPath)));
        return strPath;
    }
    std::vector<PARTITION_ITEM> Discover(const std::string& strPath, int nDiskNo = 7) {
        int nFd = open(strPath.c_str(), O_RDONLY);
        EXPECT_GE(nFd, 0);
        std::vector<PARTITION_ITEM> vecItems = m_manager.GetDiskPartitions(nFd, nDiskNo);
        close(nFd);
        return vecItems;
    }

    CTempDir m_dir;
    CPartitionManager m_manager;
};

TEST_F(PartitionManagerTest, MbrPrimariesThenLogicalDrivesInChainOrder) {
    std::string strImage = MakePartitionedImage(m_dir.File("mbr.img"), 64,
                                                "2048,40960,c\\n43008,8192,83\\n51200,,5\\n"
                                                "52224,4096,83\\n57344,,83\\n");
    ASSERT_FALSE(strImage.empty());
    std::vector<PARTITION_ITEM> vecItems = Discover(strImage);
    ASSERT_EQ(vecItems.size(), 4u);
    const uint64_t expected[4][2] = {
        {2048, 43007}, {43008, 51199}, {52224, 56319}, {57344, 131071}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(uint64_t{vecItems[i].u64StartSector}, expected[i][0]) << i;
        EXPECT_EQ(uint64_t{vecItems[i].u64EndSector}, expected[i][1]) << i;
        EXPECT_EQ(NameOf(vecItems[i]), "Partition " + std::to_string(i + 1));
        EXPECT_EQ(uint32_t{vecItems[i].nDiskNo}, 7u);
        EXPECT_STREQ(vecItems[i].szDiskName, "/dev/disk7");
    }
    // The count runs on across the disks of one discovery.
    std::vector<PARTITION_ITEM> vecSecond = Discover(strImage, 8);
    ASSERT_EQ(vecSecond.size(), 4u);
    EXPECT_EQ(NameOf(vecSecond[0]), "Partition 5");
}

TEST_F(PartitionManagerTest, GptWinsOverItsProtectiveMbrAndKeepsNames) {
    std::string strImage = MakeImage("gpt.img", 64 * MiB);
    ASSERT_TRUE(RunShell("sgdisk -n 1:2048:+10M -c 1:System -n 2:0:+20M -c 2:Données " +
                         ShellQuote(strImage) + " >/dev/null"));
    std::vector<PARTITION_ITEM> vecItems = Discover(strImage);
    ASSERT_EQ(vecItems.size(), 2u);
    EXPECT_EQ(uint64_t{vecItems[0].u64StartSector}, 2048u);
    EXPECT_EQ(uint64_t{vecItems[0].u64EndSector}, 2048u + 20480 - 1);
    EXPECT_EQ(NameOf(vecItems[0]), "System");
    EXPECT_EQ(NameOf(vecItems[1]), "Données");
}

TEST_F(PartitionManagerTest, GptListsOnlyTheEntriesInsideTheFirstFourKiB) {
    std::string strImage = MakeImage("gpt30.img", 64 * MiB);
    std::string strArgs;
    for (int i = 1; i <= 30; ++i)
        strArgs += " -n " + std::to_string(i) + ":0:+1M";
    ASSERT_TRUE(RunShell("sgdisk" + strArgs + " " + ShellQuote(strImage) + " >/dev/null"));
    std::vector<PARTITION_ITEM> vecItems = Discover(strImage);
    EXPECT_EQ(vecItems.size(), 24u);
}

// One table (a primary, an extended partition holding one logical drive) damaged in turn: an
// extended chain that points back at itself ends; a first entry of zeros means no table; entries
// describing more disk than there is are clamped to the disk, or left out when they start past
// its end, and each is reported.
TEST_F(PartitionManagerTest, DamagedTablesEndAndStayInsideTheDisk) {
    std::string strImage = MakePartitionedImage(m_dir.File("table.img"), 16,
                                                "2048,4096,83\\n8192,,5\\n9216,2048,83\\n");
    ASSERT_FALSE(strImage.empty());
    const std::vector<uint8_t> vecTable = ReadFileBytes(strImage);
    // Second entry of the first extended boot record: type 0x05, relative start 0 (itself).
    std::vector<uint8_t> link(16, 0);
    link[4] = 0x05;
    link[12] = 1;
    ASSERT_TRUE(PatchFileBytes(strImage, 8192ull * 512 + 446 + 16, link));
    std::vector<PARTITION_ITEM> vecItems = Discover(strImage);
    ASSERT_EQ(vecItems.size(), 2u);
    EXPECT_EQ(uint64_t{vecItems[1].u64StartSector}, 9216u);
    ASSERT_TRUE(PatchFileBytes(strImage, 446, std::vector<uint8_t>(16, 0)));
    EXPECT_TRUE(Discover(strImage).empty());

    ASSERT_TRUE(WriteFileBytes(strImage, {vecTable.begin(), vecTable.begin() + 2 * MiB}));
    vecItems = Discover(strImage);
    ASSERT_EQ(vecItems.size(), 1u);
    EXPECT_EQ(uint64_t{vecItems[0].u64StartSector}, 2048u);
    EXPECT_EQ(uint64_t{vecItems[0].u64EndSector}, 4095u);
    ASSERT_EQ(m_manager.GetClampedPartitions().size(), 1u);
    EXPECT_EQ(m_manager.GetClampedPartitions()[0].u64TableEndSector, 6143u);
    EXPECT_FALSE(m_manager.GetClampedPartitions()[0].bLeftOut);

    // A 2 TB entry on a 16 MiB disk: the first entry's sector count (offset 12) set to 2^32 - 2049.
    strImage = MakePartitionedImage(m_dir.File("huge.img"), 16, "2048,4096,83\\n");
    ASSERT_TRUE(PatchFileBytes(strImage, 446 + 12, {0xFF, 0xF7, 0xFF, 0xFF}));
    vecItems = Discover(strImage);
    ASSERT_EQ(vecItems.size(), 1u);
    EXPECT_EQ(uint64_t{vecItems[0].u64EndSector}, 16 * MiB / 512 - 1);
}

TEST_F(PartitionManagerTest, BareFileSystemIsOneWholeDiskVolume) {
    if (!HaveTool("mkfs.vfat"))
        SKIP_WITHOUT("mkfs.vfat");
    std::string strImage = MakeImage("bare.img", 32 * MiB);
    ASSERT_TRUE(RunShell("mkfs.vfat -F 32 " + ShellQuote(strImage) + " >/dev/null"));
    std::vector<PARTITION_ITEM> vecItems = Discover(strImage);
    ASSERT_EQ(vecItems.size(), 1u);
    EXPECT_EQ(uint64_t{vecItems[0].u64StartSector}, 0u);
    EXPECT_EQ(uint64_t{vecItems[0].u64EndSector}, 32 * MiB / 512 - 1);
}

TEST_F(PartitionManagerTest, RegistryImagesAreDiscoveredAndKeepTheirNumber) {
    std::string strImage = MakePartitionedImage(m_dir.File("reg.img"), 16, "2048,4096,83\\n");
    ASSERT_FALSE(strImage.empty());
    CDiskRegistry& registry = CDiskRegistry::GetInstance();
    int nDisk = registry.AddImage(strImage);
    ASSERT_GE(nDisk, 0);
    EXPECT_EQ(registry.AddImage(strImage), nDisk);
    EXPECT_TRUE(registry.IsImage(nDisk));
    std::map<int, std::vector<PARTITION_ITEM>> mapItems;
    EXPECT_EQ(m_manager.GetPartitionItems(mapItems), 1);
    ASSERT_EQ(mapItems.count(nDisk), 1u);
    EXPECT_EQ(uint64_t{mapItems[nDisk][0].u64StartSector}, 2048u);
    EXPECT_EQ(registry.AddImage(m_dir.File("missing.img")), -1);
}

} // namespace
