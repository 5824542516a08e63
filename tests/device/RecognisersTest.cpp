// Boot sectors made by the real mkfs tools, and byte edits of single fields.
#include "device/BootSectorLayout.h"
#include "device/FileSystemRecognisers.h"
#include "fixtures/FixtureUtil.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class RecognisersTest : public ::testing::Test {
protected:
    // Formats a plain file with the command and returns the volume's first 16 KiB.
    std::vector<uint8_t> Format(const std::string& strTool, const std::string& strCommand,
                                const std::string& strSize) {
        if (!HaveTool(strTool.c_str()))
            return {};
        std::string strImage = m_dir.File(strTool + ".img");
        if (!RunShell("rm -f " + strImage + "; truncate -s " + strSize + " " + strImage + " && " +
                      strCommand + " " + strImage + " >/dev/null"))
            return {};
        std::vector<uint8_t> vecHead = ReadFileBytes(strImage);
        vecHead.resize(16384);
        return vecHead;
    }

    CTempDir m_dir;
};

TEST_F(RecognisersTest, Fat16AndFat32FromMkfsAndEncryptedLookalikes) {
    std::vector<uint8_t> fat16 = Format("mkfs.vfat", "mkfs.vfat -F 16", "32M");
    std::vector<uint8_t> fat32 = Format("mkfs.vfat", "mkfs.vfat -F 32", "64M");
    if (fat16.empty() || fat32.empty())
        SKIP_WITHOUT("mkfs.vfat");
    EXPECT_TRUE(IsFat(fat16.data(), fat16.size()));
    EXPECT_TRUE(IsFullValidFAT16DBR(fat16.data(), fat16.size()));
    EXPECT_FALSE(IsNtfs(fat16.data(), fat16.size()));
    EXPECT_TRUE(IsFat(fat32.data(), fat32.size()));
    EXPECT_TRUE(IsFullValidFAT32DBR(fat32.data(), fat32.size()));
    EXPECT_FALSE(IsExt(fat32.data(), fat32.size()));

    std::vector<uint8_t> edited = fat32;
    edited[BPB_SEC_PER_CLUS] = 128;
    EXPECT_FALSE(IsFat(edited.data(), edited.size()));
    edited = fat32;
    std::memcpy(edited.data() + 3, "-FVE-FS-", 8); // BitLocker OEM name
    EXPECT_TRUE(IsBitlockerDBR(edited.data(), edited.size()));
    EXPECT_FALSE(IsFat(edited.data(), edited.size()));
    edited = fat32;
    edited[BPB_NUM_FATS] = 0;
    EXPECT_FALSE(IsFat(edited.data(), edited.size()));
    EXPECT_FALSE(IsFat(fat32.data(), 511)); // a short buffer is never read past
    // The encrypted-volume pattern at the end of a FAT16 boot sector.
    std::memset(fat16.data() + 480, 'x', 8);
    std::memset(fat16.data() + 488, 0xFF, 19);
    fat16[507] = 0x00;
    fat16[508] = 0x1F;
    fat16[509] = 0x2C;
    EXPECT_TRUE(IsBitlockerDBR(fat16.data(), fat16.size()));
    EXPECT_FALSE(IsFat(fat16.data(), fat16.size()));
}

TEST_F(RecognisersTest, NtfsFromMkntfsAndItsFatOnlyFields) {
    std::vector<uint8_t> ntfs = Format("mkntfs", "mkntfs -F -Q -q", "16M");
    if (ntfs.empty())
        SKIP_WITHOUT("mkntfs");
    EXPECT_TRUE(IsNtfs(ntfs.data(), ntfs.size()));
    EXPECT_FALSE(IsFat(ntfs.data(), ntfs.size()));
    EXPECT_FALSE(IsNtfs(nullptr, 0));
    for (size_t nOffset : {16, 17, 18, 19, 20, 22, 23, 32, 35}) {
        std::vector<uint8_t> edited = ntfs;
        edited[nOffset] = 1;
        EXPECT_FALSE(IsNtfs(edited.data(), edited.size())) << nOffset;
    }
    std::vector<uint8_t> edited = ntfs;
    edited[BPB_MEDIA] = 0x12; // not checked
    EXPECT_TRUE(IsNtfs(edited.data(), edited.size()));
    edited[BPB_SEC_PER_CLUS] = 128;
    EXPECT_FALSE(IsNtfs(edited.data(), edited.size()));
    edited = ntfs;
    edited[BPB_RSVD_SEC_CNT] = 1;
    EXPECT_FALSE(IsNtfs(edited.data(), edited.size()));
}

TEST_F(RecognisersTest, ExtSuperblockAndFirstDataBlockRule) {
    std::vector<uint8_t> ext1k = Format("mke2fs", "mke2fs -F -q -b 1024", "8M");
    std::vector<uint8_t> ext4k = Format("mke2fs", "mke2fs -F -q -t ext4 -b 4096", "32M");
    if (ext1k.empty() || ext4k.empty())
        SKIP_WITHOUT("mke2fs");
    EXPECT_TRUE(IsExt(ext1k.data(), ext1k.size()));
    EXPECT_TRUE(IsExt(ext4k.data(), ext4k.size()));
    EXPECT_FALSE(IsFat(ext4k.data(), ext4k.size()));
    ext1k[1044] = 0; // first data block 0 with 1 KiB blocks
    EXPECT_FALSE(IsExt(ext1k.data(), ext1k.size()));
    ext4k[1044] = 1; // first data block 1 with 4 KiB blocks
    EXPECT_FALSE(IsExt(ext4k.data(), ext4k.size()));
    EXPECT_FALSE(IsExt(ext4k.data(), EXT_PROBE_BYTES - 1));
}

} // namespace
