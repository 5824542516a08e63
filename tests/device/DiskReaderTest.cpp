// Bounded sector reads over an image file.
#include "device/CDiskReader.h"
#include "device/CDiskRegistry.h"
#include "engine/FileRecoveryTypes.h"
#include "fixtures/FixtureUtil.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class DiskReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_vecImage = PatternBytes(100 * 512, 42);
        m_strImage = m_dir.File("disk.img");
        ASSERT_TRUE(WriteFileBytes(m_strImage, m_vecImage));
        m_nDisk = CDiskRegistry::GetInstance().AddImage(m_strImage);
        ASSERT_GE(m_nDisk, 0);
    }

    CTempDir m_dir;
    std::vector<uint8_t> m_vecImage;
    std::string m_strImage;
    int m_nDisk = -1;
};

TEST_F(DiskReaderTest, ReadsEndAtTheLimitOrAtTheDeviceEnd) {
    CDiskReader reader;
    ASSERT_EQ(reader.Init(m_nDisk, 60), 0);
    std::vector<uint8_t> buffer(20 * 512);
    unsigned int nRead = 999;
    ASSERT_EQ(reader.ReadData(buffer.data(), 20, 40, 512, &nRead), 0);
    EXPECT_EQ(nRead, 20u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), m_vecImage.begin() + 40 * 512));
    nRead = 999;
    EXPECT_EQ(reader.ReadData(buffer.data(), 20, 41, 512, &nRead), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(nRead, 999u);
    EXPECT_EQ(reader.ReadData(buffer.data(), 0, 5, 512, &nRead), 0);
    EXPECT_EQ(nRead, 0u);
    ASSERT_EQ(reader.ReadData(buffer.data(), 2, 3, 4096, &nRead), 0);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 8192, m_vecImage.begin() + 3 * 4096));

    // A limit past the device: whole sectors up to its end are counted.
    CDiskReader longer;
    ASSERT_EQ(longer.Init(m_nDisk, 1000), 0);
    EXPECT_EQ(longer.ReadData(buffer.data(), 8, 96, 512, &nRead), ERROR_READ_SHORT);
    EXPECT_EQ(nRead, 4u);
    EXPECT_TRUE(
        std::equal(buffer.begin(), buffer.begin() + 4 * 512, m_vecImage.begin() + 96 * 512));
}

TEST_F(DiskReaderTest, PathFormOpensReadOnlyAndUnknownDisksFail) {
    CDiskReader reader;
    std::u16string strPath(m_strImage.begin(), m_strImage.end());
    ASSERT_EQ(reader.Init(strPath.c_str(), 100), 0);
    std::vector<uint8_t> buffer(512);
    unsigned int nRead = 0;
    ASSERT_EQ(reader.ReadData(buffer.data(), 1, 99, 512, &nRead), 0);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), m_vecImage.begin() + 99 * 512));
    EXPECT_NE(CDiskReader().Init(CDiskRegistry::MAX_DISKS - 1, 10), 0);
    EXPECT_NE(CDiskReader().Init(u"/nonexistent/disk.img", 10), 0);
}

TEST_F(DiskReaderTest, FreeReadDataReadsFromThePosition) {
    int nFd = CDiskRegistry::GetInstance().OpenDisk(m_nDisk);
    ASSERT_GE(nFd, 0);
    std::vector<uint8_t> buffer(200000);
    unsigned int nRead = 0;
    EXPECT_EQ(ReadData(nFd, buffer.data(), 200000, &nRead), ERROR_READ_SHORT);
    EXPECT_EQ(nRead, m_vecImage.size());
    close(nFd);
}

} // namespace
