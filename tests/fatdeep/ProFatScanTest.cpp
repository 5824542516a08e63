// The deep FAT engine driven the way the deep scan drives it: every sector of a real mkfs.vfat +
// mtools image offered in order, then the rebuild; intact, wiped and half-wiped volumes.
#include "device/BootSectorLayout.h"
#include "device/CDiskRegistry.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/fat/FatEntryValidator.h"
#include "store/CLogFileManager.h"
#include "util/ByteView.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <regex>

namespace {

constexpr uint32_t SECTOR_BYTES = 512;

struct HOST_FILE {
    std::string strPath; // inside the volume, "/"-separated, no leading "/"
    std::vector<uint8_t> vecBytes;
    bool bDeleted = false;
};

// A tree of folders and files with long and short names, sizes from empty to many clusters.
std::vector<HOST_FILE> MakeHostTree(uint32_t nSeed) {
    const std::vector<std::string> vecDirs = {"Documents", "Photos/Holiday 2024", "MUSIC",
                                              "Notes/old drafts/deep", "SHORT"};
    std::vector<HOST_FILE> vecFiles;
    const size_t sizes[] = {0, 100, 511, 512, 513, 4096, 9000, 70000, 150000};
    int n = 0;
    for (const std::string& strDir : vecDirs) {
        for (int i = 0; i < 7; ++i, ++n) {
            const bool bShort = strDir == "SHORT" || i % 3 == 0;
            std::string strName = bShort ? "F" + std::to_string(n) + ".TXT"
                                         : "Report number " + std::to_string(n) + " final.txt";
            if (i == 4)
                strName = "picture_" + std::to_string(n) + ".dat";
            vecFiles.push_back({strDir + "/" + strName,
                                PatternBytes(sizes[(n + i) % std::size(sizes)], nSeed + n)});
        }
    }
    for (int i = 0; i < 4; ++i, ++n)
        vecFiles.push_back(
            {"root file " + std::to_string(i) + ".bin", PatternBytes(3000 + 1000 * i, nSeed + n)});
    return vecFiles;
}

std::vector<HOST_FILE> WithDeleted(std::vector<HOST_FILE> vecFiles) {
    for (size_t i = 0; i < vecFiles.size(); i += 6)
        vecFiles[i].bDeleted = true;
    return vecFiles;
}

std::string ParentOf(const std::string& strPath) {
    size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? "" : strPath.substr(0, nSlash);
}

std::string NameOf(const std::string& strPath) {
    return strPath.substr(strPath.rfind('/') + 1);
}

std::string Lower(std::string strText) {
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

// A deleted entry's short name has its first character replaced by '!'.
bool NameMatches(const std::string& strFound, const std::string& strExpected, bool bDeleted) {
    if (Lower(strFound) == Lower(strExpected))
        return true;
    return bDeleted && strFound.size() == strExpected.size() && strFound[0] == '!' &&
           Lower(strFound.substr(1)) == Lower(strExpected.substr(1));
}

struct RECOVERY_FIGURES {
    int nTotal = 0;
    int nExact = 0;      // byte-exact, right name, under its real folder or a LostFolder
    int nRealFolder = 0; // of those, under the real folder path
};

class ProFatScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CFatImageBuilder::HaveTools())
            SKIP_WITHOUT("mkfs.vfat and mtools");
        CLogFileManager::GetInstance()->AddDirIndex();
    }

    bool BuildImage(const FAT_IMAGE_FORMAT& format, const std::vector<HOST_FILE>& vecFiles) {
        CFatImageBuilder builder(m_strImage);
        std::string strHost = m_tmp.File("host");
        for (const HOST_FILE& file : vecFiles) {
            std::filesystem::path path = std::filesystem::path(strHost) / file.strPath;
            std::filesystem::create_directories(path.parent_path());
            if (!WriteFileBytes(path.string(), file.vecBytes))
                return false;
        }
        if (!builder.Format(format) || !builder.CopyTree(strHost))
            return false;
        std::filesystem::remove_all(strHost);
        std::vector<std::string> vecDeleted;
        for (const HOST_FILE& file : vecFiles)
            if (file.bDeleted)
                vecDeleted.push_back("/" + file.strPath);
        return vecDeleted.empty() || builder.Delete(vecDeleted);
    }

    // Init, the boot-sector geometry, every sector in order through the two classifiers as the
    // deep scan's pass offers them, then the rebuild.
    void Scan() {
        const int nDisk = CDiskRegistry::GetInstance().AddImage(m_strImage);
        ASSERT_GE(nDisk, 0);
        std::vector<uint8_t> vecImage = ReadFileBytes(m_strImage);
        ASSERT_EQ(m_pEngine->Init(nDisk, 0, static_cast<long long>(vecImage.size() / 512), u'C'),
                  0);
        ASSERT_EQ(m_pEngine->ClearProfessionalVec(nullptr), 0);
        ASSERT_EQ(m_pEngine->InitVirtualDbrInfo(), 0);
        m_vecBootDbr = m_pEngine->GetVirtualDbrInfo();
        for (size_t nOff = 0; nOff + SECTOR_BYTES <= vecImage.size(); nOff += SECTOR_BYTES) {
            const uint8_t* pSector = vecImage.data() + nOff;
            if (IsFatFileRecord(pSector, SECTOR_BYTES))
                m_pEngine->ParseFatFileRecord(pSector, nOff / SECTOR_BYTES);
            else if (IsFatFDTRecord(pSector, SECTOR_BYTES))
                m_pEngine->ParseFDTFileRecord(pSector, nOff / SECTOR_BYTES);
        }
        m_nStoredDuringPass = m_pEngine->GetLostFileCount();
        ASSERT_EQ(m_pEngine->DealProfessionalRecordVec(), 0);
        m_mapTree = CollectTree(*m_pEngine);
    }

    RECOVERY_FIGURES Recover(const std::vector<HOST_FILE>& vecFiles) {
        static const std::regex lostFolder(".*LostFolder[0-9]+");
        RECOVERY_FIGURES figures;
        for (const HOST_FILE& file : vecFiles) {
            ++figures.nTotal;
            for (auto& [strPath, node] : m_mapTree) {
                if (node.bIsDir != 0 ||
                    !NameMatches(NameOf(strPath), NameOf(file.strPath), file.bDeleted))
                    continue;
                const bool bRealFolder = Lower(ParentOf(strPath)) == Lower(ParentOf(file.strPath));
                if (!bRealFolder && !std::regex_match(ParentOf(strPath), lostFolder))
                    continue;
                int rc = -1;
                if (CopyOutNode(*m_pEngine, node, m_tmp.File(std::to_string(m_nSaved++)), rc) !=
                        file.vecBytes ||
                    rc != 0)
                    continue;
                ++figures.nExact;
                figures.nRealFolder += bRealFolder ? 1 : 0;
                EXPECT_EQ(node.bIsDeleted, file.bDeleted ? 1u : 0u) << file.strPath;
                break;
            }
        }
        return figures;
    }

    bool ZeroImageRange(uint64_t u64Offset, size_t nBytes) {
        return PatchFileBytes(m_strImage, u64Offset, std::vector<uint8_t>(nBytes, 0));
    }

    CScanLogDirScope m_scope;
    CTempDir m_tmp;
    std::string m_strImage = m_tmp.File("fat.img");
    std::unique_ptr<CProfessionalFatRecovery> m_pEngine =
        std::make_unique<CProfessionalFatRecovery>();
    std::vector<VIRTUAL_DBR_INFO> m_vecBootDbr; // what the boot sector gave before the pass
    std::map<std::string, FILE_NODE> m_mapTree;
    unsigned int m_nStoredDuringPass = 0;
    int m_nSaved = 0;
};

TEST_F(ProFatScanTest, IntactVolumesStoreLiveAndDeletedFilesAtOnceWithTheirTree) {
    for (FAT_IMAGE_FORMAT format :
         {FAT_IMAGE_FORMAT{32, 40 * 1024, 1}, FAT_IMAGE_FORMAT{16, 32 * 1024, 4},
          FAT_IMAGE_FORMAT{12, 6 * 1024, 4}}) {
        SCOPED_TRACE("FAT" + std::to_string(format.nFatBits));
        std::vector<HOST_FILE> vecFiles = WithDeleted(MakeHostTree(format.nFatBits));
        m_pEngine = std::make_unique<CProfessionalFatRecovery>();
        ASSERT_TRUE(BuildImage(format, vecFiles));
        Scan();
        ASSERT_EQ(m_vecBootDbr.size(), 1u);
        EXPECT_EQ(m_vecBootDbr[0].nRootSectors, format.nFatBits == 32 ? 0u : 32u);
        EXPECT_EQ(m_pEngine->GetRootCluster(), format.nFatBits == 32 ? 2u : 0u);
        // With the boot sector's geometry every file entry is stored as its sector is read.
        EXPECT_GE(m_nStoredDuringPass, vecFiles.size());
        EXPECT_EQ(m_mapTree.count("root file 2.bin"), 1u);
        EXPECT_EQ(m_mapTree.count("Notes/old drafts/deep/"), 1u);
        // A FAT32 folder's later clusters of 512 bytes name no parent: their files may come
        // back under a LostFolder.
        RECOVERY_FIGURES figures = Recover(vecFiles);
        EXPECT_EQ(figures.nExact, figures.nTotal);
        EXPECT_TRUE(format.nFatBits == 32 || figures.nRealFolder == figures.nTotal);
    }
}

TEST_F(ProFatScanTest, Fat32WithFirstMiBZeroedIsRebuiltFromFolderStarts) {
    std::vector<HOST_FILE> vecFiles = WithDeleted(MakeHostTree(3));
    ASSERT_TRUE(BuildImage({32, 64 * 1024, 0}, vecFiles));
    ASSERT_TRUE(ZeroImageRange(0, 1024 * 1024));
    Scan();
    EXPECT_TRUE(m_vecBootDbr.empty()) << "the backup boot sector went with the first MiB";
    ASSERT_FALSE(m_pEngine->GetVirtualDbrInfo().empty());
    EXPECT_GT(m_pEngine->GetVirtualDbrInfo().front().nDataStart, 2048u);
    EXPECT_EQ(m_pEngine->GetVirtualDbrInfo().front().nRootSectors, 0u);
    EXPECT_EQ(m_pEngine->GetRootCluster(), 2u);
    RECOVERY_FIGURES figures = Recover(vecFiles);
    std::printf("[ figures  ] FAT32, first 1 MiB zeroed: %d/%d byte-exact with names "
                "(%d under their real folder, the rest under LostFolders)\n",
                figures.nExact, figures.nTotal, figures.nRealFolder);
    EXPECT_GE(figures.nExact * 100, figures.nTotal * 95);
}

TEST_F(ProFatScanTest, Fat32WithItsBootSectorZeroedTakesTheBackupBeforeThePass) {
    std::vector<HOST_FILE> vecFiles = MakeHostTree(7);
    ASSERT_TRUE(BuildImage({32, 40 * 1024, 1}, vecFiles));
    // A (3 clusters), B (2), A deleted, C (5) fills A's hole and goes on after B: live and
    // fragmented, it is read back along its FAT chain.
    CFatImageBuilder image(m_strImage);
    vecFiles.push_back({"CCC.BIN", PatternBytes(2560, 21)});
    ASSERT_TRUE(image.AddFile("/AAA.BIN", PatternBytes(1536, 20)) &&
                image.AddFile("/BBB.BIN", PatternBytes(1024, 22)) && image.Delete({"/AAA.BIN"}) &&
                image.ResetNextFreeHint() && image.AddFile("/CCC.BIN", vecFiles.back().vecBytes));
    std::vector<uint32_t> vecC = image.GetClusters("/CCC.BIN");
    ASSERT_TRUE(vecC.size() == 5 && vecC[2] + 1 != vecC[3]) << "C must be fragmented";
    std::vector<uint8_t> vecBoot = ReadFileBytes(m_strImage);
    vecBoot.resize(SECTOR_BYTES);
    ASSERT_TRUE(ZeroImageRange(0, SECTOR_BYTES));
    Scan();
    ASSERT_EQ(m_vecBootDbr.size(), 1u);
    EXPECT_EQ(m_vecBootDbr[0].nDataStart,
              LoadU16LE(&vecBoot[BPB_RSVD_SEC_CNT]) + 2 * LoadU32LE(&vecBoot[BPB_FAT_SZ32]));
    EXPECT_EQ(m_pEngine->GetRootCluster(), LoadU32LE(&vecBoot[BPB_ROOT_CLUS]));
    EXPECT_GE(m_nStoredDuringPass, vecFiles.size());
    EXPECT_EQ(Recover(vecFiles).nExact, static_cast<int>(vecFiles.size()));
}

TEST_F(ProFatScanTest, Fat16WithBootAreaZeroedInfersGeometryAndItsLargeRootArea) {
    // 1024 root entries: a 64-sector root area, whose names a fixed 32 sectors would lose.
    // In Straddle, ".", ".." and four files of three entries each fill 14 entries; the fifth
    // file's entries run from entry 14 of the folder's first sector into its second.
    std::vector<HOST_FILE> vecFiles = MakeHostTree(4);
    for (int i = 0; i < 7; ++i)
        vecFiles.push_back({"Straddle/long name number " + std::to_string(i) + ".txt",
                            PatternBytes(700 + i, 50 + i)});
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 4, 1024}, vecFiles));
    std::vector<uint8_t> vecBoot = ReadFileBytes(m_strImage);
    const uint32_t nFatEnd =
        LoadU16LE(&vecBoot[BPB_RSVD_SEC_CNT]) + 2 * LoadU16LE(&vecBoot[BPB_FAT_SZ16]);
    ASSERT_TRUE(ZeroImageRange(0, nFatEnd * SECTOR_BYTES));
    Scan();
    EXPECT_TRUE(m_vecBootDbr.empty());
    ASSERT_FALSE(m_pEngine->GetVirtualDbrInfo().empty());
    const VIRTUAL_DBR_INFO& dbr = m_pEngine->GetVirtualDbrInfo().front();
    EXPECT_EQ(dbr.nSectorsPerCluster, 4u);
    EXPECT_EQ(dbr.nRootSectors, 64u);
    EXPECT_EQ(dbr.nDataStart, nFatEnd + 64);
    EXPECT_EQ(m_pEngine->GetRootCluster(), 0u);
    EXPECT_EQ(m_mapTree.count("root file 3.bin"), 1u);
    RECOVERY_FIGURES figures = Recover(vecFiles);
    EXPECT_EQ(figures.nRealFolder, figures.nTotal);
}

TEST_F(ProFatScanTest, DeletedLongNameCutAtAClusterEndFindsItsEntryInTheFolderNextCluster) {
    // One sector per cluster: ".", "..", six names of two entries each, then the two long-name
    // parts of the deleted file fill F's first cluster; its short entry opens F's second
    // cluster, which lies past the files written in between.
    CFatImageBuilder image(m_strImage);
    ASSERT_TRUE(image.Format({16, 8 * 1024, 1}) && image.MakeDir("/F") &&
                image.AddFile("/spacer.bin", PatternBytes(2000, 60)));
    std::vector<HOST_FILE> vecFiles;
    for (int i = 0; i < 6; ++i) {
        vecFiles.push_back({"F/file number" + std::to_string(i), PatternBytes(100, 61 + i)});
        ASSERT_TRUE(image.AddFile("/" + vecFiles.back().strPath, vecFiles.back().vecBytes));
    }
    vecFiles.push_back({"F/the long cut name.bin", PatternBytes(3000, 70), true});
    ASSERT_TRUE(image.AddFile("/F/the long cut name.bin", vecFiles.back().vecBytes) &&
                image.Delete({"/F/the long cut name.bin"}));
    std::vector<uint32_t> vecFolder = image.GetClusters("/F");
    ASSERT_TRUE(vecFolder.size() == 2 && vecFolder[0] + 1 != vecFolder[1]);
    ASSERT_EQ(image.FindEntryOffset("\xE5HELON~1BIN", 0x20),
              static_cast<int64_t>(image.ClusterOffset(vecFolder[1])));
    Scan();
    EXPECT_EQ(Recover(vecFiles).nRealFolder, 7);
}

TEST_F(ProFatScanTest, FolderWithOverwrittenEntryBecomesLostFolderUnderItsParent) {
    std::vector<HOST_FILE> vecFiles = {{"Outer/INNER/a.txt", PatternBytes(5000, 7)},
                                       {"Outer/INNER/b.txt", PatternBytes(100, 8)},
                                       {"Other/c.txt", PatternBytes(100, 9)}};
    ASSERT_TRUE(BuildImage({32, 40 * 1024, 1}, vecFiles));
    std::vector<uint32_t> vecInner = CFatImageBuilder(m_strImage).GetClusters("/Outer/INNER");
    ASSERT_FALSE(vecInner.empty());
    // INNER's own entry in Outer wiped, as if another entry had been written over it.
    int64_t llEntry = CFatImageBuilder(m_strImage).FindEntryOffset("INNER      ", 0x10);
    ASSERT_GE(llEntry, 0);
    ASSERT_TRUE(PatchFileBytes(m_strImage, llEntry, std::vector<uint8_t>(32, 0xE5)));
    Scan();
    const std::string strLost = "Outer/LostFolder" + std::to_string(vecInner.front()) + "/";
    EXPECT_EQ(m_mapTree.count(strLost + "a.txt"), 1u);
    EXPECT_EQ(m_mapTree.count(strLost + "b.txt"), 1u);
}

TEST_F(ProFatScanTest, WithoutAnyGeometryNothingIsStored) {
    std::vector<HOST_FILE> vecFiles = {{"Only/a.txt", PatternBytes(100, 1)},
                                       {"Only/b.txt", PatternBytes(100, 2)}};
    ASSERT_TRUE(BuildImage({32, 64 * 1024, 1}, vecFiles));
    ASSERT_TRUE(ZeroImageRange(0, 1024 * 1024));
    Scan();
    // One folder start gives no geometry, and the root's sectors fit none either.
    EXPECT_TRUE(m_pEngine->GetVirtualDbrInfo().empty());
    EXPECT_EQ(m_pEngine->GetLostFileCount(), 0u);
    EXPECT_TRUE(m_mapTree.empty());
}

TEST_F(ProFatScanTest, QueriesFolderRecoveryAndPreview) {
    std::vector<HOST_FILE> vecFiles = MakeHostTree(5);
    std::vector<uint8_t> vecPng = ReadFileBytes(TestDataPath("samples/sample.png"));
    ASSERT_FALSE(vecPng.empty());
    vecFiles.push_back({"Pics/photo.png", vecPng});
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 4}, vecFiles));
    Scan();
    std::vector<FILE_NODE> vecChildren;
    EXPECT_EQ(m_pEngine->GetChildrenFileNode(nullptr, 3, vecChildren), ERROR_INVALID_PARAMETER);
    unsigned int nCount = 0;
    ASSERT_EQ(m_pEngine->GetChildrenFileCount(nullptr, 0, nCount), 0);
    EXPECT_EQ(nCount, vecFiles.size());

    ASSERT_EQ(m_mapTree.count("Notes/"), 1u);
    const std::string strTarget = m_tmp.File("notes-copy");
    ASSERT_EQ(
        m_pEngine->SaveFileData(&m_mapTree["Notes/"], Ansi2Unicode(strTarget.c_str()).c_str(), 0),
        0);
    std::map<std::string, std::vector<uint8_t>> mapWritten; // short names come back lower-case
    for (const auto& entry : std::filesystem::recursive_directory_iterator(strTarget))
        if (entry.is_regular_file())
            mapWritten[Lower(std::filesystem::relative(entry.path(), strTarget).string())] =
                ReadFileBytes(entry.path().string());
    int nCompared = 0;
    for (const HOST_FILE& file : vecFiles) {
        if (file.strPath.starts_with("Notes/")) {
            EXPECT_EQ(mapWritten[Lower(file.strPath.substr(6))], file.vecBytes) << file.strPath;
            ++nCompared;
        }
    }
    EXPECT_EQ(nCompared, 7);

    // Text previews into the buffer; a picture goes whole to the temporary file.
    const HOST_FILE& text = vecFiles[1];
    std::vector<uint8_t> vecBuffer(100);
    int nLength = 100;
    char16_t wszTemp[PREVIEW_PATH_CAPACITY] = {};
    ASSERT_EQ(m_pEngine->PreView(&m_mapTree[text.strPath], wszTemp, vecBuffer.data(), nLength,
                                 nullptr, nullptr),
              0);
    EXPECT_EQ(nLength, 100);
    EXPECT_TRUE(std::equal(vecBuffer.begin(), vecBuffer.end(), text.vecBytes.begin()));
    ASSERT_EQ(m_pEngine->PreView(&m_mapTree["Pics/photo.png"], wszTemp, vecBuffer.data(), nLength,
                                 nullptr, nullptr),
              0);
    EXPECT_EQ(Unicode2Ansi(wszTemp), m_scope.Path() + "/tmp.png");
    EXPECT_EQ(ReadFileBytes(Unicode2Ansi(wszTemp)), vecPng);
}

TEST_F(ProFatScanTest, NearestGeometryLooksPastTheBootSectorsOwnAndFallsBackToIt) {
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 4}, {{"a.txt", PatternBytes(10, 1)}}));
    const int nDisk = CDiskRegistry::GetInstance().AddImage(m_strImage);
    ASSERT_EQ(m_pEngine->Init(nDisk, 0, 65536, u'C'), 0);
    ASSERT_EQ(m_pEngine->ClearProfessionalVec(nullptr), 0);
    EXPECT_FALSE(m_pEngine->GetNearestDbrInfo(100).has_value());
    ASSERT_EQ(m_pEngine->InitVirtualDbrInfo(), 0);
    ASSERT_EQ(m_pEngine->GetVirtualDbrInfo().size(), 1u);
    const VIRTUAL_DBR_INFO real = m_pEngine->GetVirtualDbrInfo().front();
    EXPECT_EQ(m_pEngine->GetNearestDbrInfo(40000)->nDataStart, real.nDataStart);
    ASSERT_EQ(m_pEngine->CalcVirtualDbr(30, 10160, 10, 10000), 1); // cluster 2 at 9936
    EXPECT_EQ(m_pEngine->GetNearestDbrInfo(40000)->nDataStart, 9936u);
    EXPECT_EQ(m_pEngine->GetNearestDbrInfo(9935)->nDataStart, real.nDataStart);
}

} // namespace
