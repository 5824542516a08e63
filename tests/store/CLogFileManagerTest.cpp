// Scan-log directory: index load and save, stale scans, store-name lookup and naming.
#include "store/CLogFileManager.h"
#include "fixtures/FixtureUtil.h"
#include "store/StoreFileFormat.h"
#include "util/TextUtil.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

class LogFileManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pLog = CLogFileManager::GetInstance();
        m_pLog->Init();
    }

    // The key of a volume of a small image file of this test.
    SCAN_VOLUME_KEY Key(uint64_t u64Start, uint64_t u64Count) {
        SCAN_VOLUME_KEY key{};
        EXPECT_EQ(MakeScanVolumeKey(m_strImage.c_str(), u64Start, u64Count, key), 0);
        return key;
    }

    // Starts a fresh numbered scan and leaves a file in its directory.
    std::string MakeScanDir() {
        m_pLog->AddDirIndex();
        std::string strDir = m_pLog->GetLogFileDirPath();
        EXPECT_EQ(CLogFileManager::MakeLogDir(strDir), 0);
        EXPECT_TRUE(WriteFileBytes(strDir + "Fast_63_2024139 5", {1, 2, 3}));
        return strDir;
    }

    CScanLogDirScope m_scope;
    CTempDir m_images;
    std::string m_strImage = m_images.File("disk.img");
    bool m_bImageMade = WriteFileBytes(m_strImage, std::vector<uint8_t>(4096, 1));
    CLogFileManager* m_pLog = nullptr;
};

TEST_F(LogFileManagerTest, RootFollowsEnvironmentAndDirectoriesAre0755) {
    EXPECT_EQ(m_pLog->GetRootPath(), m_scope.Path() + "/");
    std::string strDir = MakeScanDir();
    EXPECT_EQ(strDir, m_scope.Path() + "/1/");
    struct stat st;
    ASSERT_EQ(stat(strDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    // A directory left behind under the next number is cleared when that number starts.
    ASSERT_EQ(CLogFileManager::MakeLogDir(m_scope.Path() + "/2/sub"), 0);
    ASSERT_TRUE(WriteFileBytes(m_scope.Path() + "/2/sub/old", {1}));
    m_pLog->AddDirIndex();
    EXPECT_FALSE(fs::exists(m_scope.Path() + "/2"));
    m_pLog->ReduceDirIndex();
    EXPECT_EQ(m_pLog->GetLogFileDirPath(), strDir);

    CScanLogDirScope other;
    EXPECT_EQ(CLogFileManager::GetInstance()->GetRootPath(), other.Path() + "/");
    EXPECT_EQ(CLogFileManager::GetInstance()->GetCurrentIndex(), 0u);
}

TEST_F(LogFileManagerTest, SavedScanReloadsAndResumesInItsDirectory) {
    std::string strDir = MakeScanDir();
    ASSERT_EQ(m_pLog->SaveLogFileInfo(Key(63, 1000), 3, 10, 20, 5, 15, 42, strDir.c_str()), 0);
    EXPECT_EQ(m_pLog->Init(), 0);
    EXPECT_EQ(m_pLog->GetCurrentIndex(), 1u);
    ASSERT_EQ(m_pLog->GetRecords().size(), 1u);

    LOG_FILE_INFO info{};
    EXPECT_EQ(m_pLog->LoadRecoveryLogInfo(Key(63, 999), &info), 0);
    ASSERT_EQ(m_pLog->LoadRecoveryLogInfo(Key(63, 1000), &info), 1);
    EXPECT_EQ(info.u64FilesFound, 42u);
    EXPECT_EQ(info.u64RunDone, 5u);
    EXPECT_EQ(std::string(info.szLogDirPath), strDir);
    EXPECT_EQ(m_pLog->GetLogFileDirPath(), strDir);

    // Saving the same volume again updates its record in place.
    ASSERT_EQ(m_pLog->SaveLogFileInfo(Key(63, 1000), 3, 0, 0, 0, 1000, 50, strDir.c_str()), 0);
    ASSERT_EQ(m_pLog->GetRecords().size(), 1u);
    EXPECT_EQ(m_pLog->GetRecords()[0].u64FilesFound, 50u);
}

TEST_F(LogFileManagerTest, AnotherOrChangedImageIsNeverResumed) {
    std::string strDir = MakeScanDir();
    ASSERT_EQ(m_pLog->SaveLogFileInfo(Key(0, 8), 1, 0, 8, 3, 3, 5, strDir.c_str()), 0);
    EXPECT_EQ(std::string(m_pLog->GetRecords()[0].szDevicePath), m_strImage);

    // Another image at the same place on the same disk number is another volume.
    std::string strOther = m_images.File("other.img");
    ASSERT_TRUE(WriteFileBytes(strOther, std::vector<uint8_t>(4096, 1)));
    SCAN_VOLUME_KEY other{};
    ASSERT_EQ(MakeScanVolumeKey(strOther.c_str(), 0, 8, other), 0);
    LOG_FILE_INFO info{};
    EXPECT_EQ(m_pLog->LoadRecoveryLogInfo(other, &info), 0);
    EXPECT_TRUE(fs::exists(strDir));

    // The same image written since: the stored scan is dropped with its directory.
    SCAN_VOLUME_KEY changed = Key(0, 8);
    ++changed.u64ModifyTime;
    EXPECT_EQ(m_pLog->LoadRecoveryLogInfo(changed, &info), 0);
    EXPECT_FALSE(m_pLog->IsLoaded());
    EXPECT_TRUE(m_pLog->GetRecords().empty());
    EXPECT_FALSE(fs::exists(strDir));
}

TEST_F(LogFileManagerTest, IndexRecoversFromInterruptedSaveAndTornRecord) {
    std::string strDir = MakeScanDir();
    ASSERT_EQ(m_pLog->SaveLogFileInfo(Key(0, 4), 2, 0, 0, 0, 0, 0, strDir.c_str()), 0);
    ASSERT_EQ(m_pLog->SaveLogFileInfo(Key(4, 4), 2, 0, 0, 0, 0, 7, strDir.c_str()), 0);
    EXPECT_FALSE(fs::exists(m_scope.Path() + "/config.tmp"));

    // A crash between writing config.tmp and renaming it: only the new index exists.
    std::string strIndex = m_scope.Path() + "/config";
    ASSERT_EQ(rename(strIndex.c_str(), (strIndex + ".tmp").c_str()), 0);
    EXPECT_EQ(m_pLog->Init(), 0);
    EXPECT_EQ(m_pLog->GetRecords().size(), 2u);
    EXPECT_TRUE(fs::exists(strIndex));

    // A crash in the middle of a record: the whole records survive.
    std::vector<uint8_t> vecIndex = ReadFileBytes(strIndex);
    vecIndex.resize(8 + 592 + 300);
    ASSERT_TRUE(WriteFileBytes(strIndex, vecIndex));
    EXPECT_EQ(m_pLog->Init(), 0);
    ASSERT_EQ(m_pLog->GetRecords().size(), 1u);
    EXPECT_EQ(std::string(m_pLog->GetRecords()[0].szDevicePath), m_strImage);

    ASSERT_TRUE(WriteFileBytes(strIndex, {}));
    EXPECT_EQ(m_pLog->Init(), 87);
    EXPECT_EQ(m_pLog->GetCurrentIndex(), 0u);
}

TEST_F(LogFileManagerTest, DeleteRefusesFoldersOutsideTheRoot) {
    CTempDir outside;
    ASSERT_TRUE(WriteFileBytes(outside.File("keep"), {1}));
    LOG_FILE_INFO info{};
    std::snprintf(info.szLogDirPath, sizeof(info.szLogDirPath), "%s/", outside.Path().c_str());
    std::vector<uint8_t> vecIndex = FormatLogIndex(4, {info});
    ASSERT_TRUE(WriteFileBytes(m_scope.Path() + "/config", vecIndex));
    ASSERT_EQ(m_pLog->Init(), 0);
    LOG_FILE_INFO found{};
    EXPECT_EQ(m_pLog->LoadRecoveryLogInfo(SCAN_VOLUME_KEY{}, &found), 0);
    EXPECT_TRUE(m_pLog->GetRecords().empty());
    ASSERT_EQ(m_pLog->Init(), 0);
    m_pLog->DeleteLogFileDir((outside.Path() + "/").c_str());
    m_pLog->DeleteLogFileDir((m_scope.Path() + "/1/../../").c_str());
    EXPECT_TRUE(m_pLog->GetRecords().empty());
    EXPECT_TRUE(fs::exists(outside.File("keep")));
    EXPECT_TRUE(fs::is_directory(m_scope.Path()));
}

TEST_F(LogFileManagerTest, StoreNameLookupPrefersNodeFileAndNamesFollowTheFormat) {
    std::string strDir = MakeScanDir();
    std::string strName = "Fast_63_2024139 5";
    ASSERT_TRUE(WriteFileBytes(strDir + strName + "_DirInfo", {}));
    ASSERT_TRUE(WriteFileBytes(strDir + strName + "_Relation", {}));
    ASSERT_TRUE(WriteFileBytes(strDir + "File_Type_0_20241231 9", {}));
    std::string strFound = "unchanged";
    EXPECT_EQ(m_pLog->GetLogFileNameByFileType(strDir, STORE_PREFIX_FAST, strFound), 0);
    EXPECT_EQ(strFound, strName);
    strFound = "unchanged";
    EXPECT_NE(m_pLog->GetLogFileNameByFileType(strDir, STORE_PREFIX_PRO_NTFS, strFound), 0);
    EXPECT_EQ(strFound, "unchanged");

    SYSTEMTIME time{};
    time.wYear = 2024;
    time.wMonth = 1;
    time.wDay = 3;
    time.wHour = 9;
    time.wMinute = 5;
    EXPECT_EQ(CLogFileManager::MakeStoreName(STORE_PREFIX_FAST, 2048, time),
              u"Fast_2048_2024139 5");
    time.wMinute = 45;
    EXPECT_EQ(CLogFileManager::MakeStoreName(STORE_PREFIX_PRO_FAT, 0, time),
              u"Pro_Fat_0_202413945");
}

TEST(FreeSpaceStamp, WalksUpToAnExistingFolder) {
    CTempDir dir;
    uint64_t u64Stamp = CLogFileManager::GetFreeSpaceStamp(dir.Path().c_str());
    EXPECT_GT(u64Stamp, 0u);
    EXPECT_GT(CLogFileManager::GetFreeSpaceStamp((dir.Path() + "/no/such/disk").c_str()), 0u);
    EXPECT_EQ(CLogFileManager::GetFreeSpaceStamp("relative/path"), 0u);
}

} // namespace
