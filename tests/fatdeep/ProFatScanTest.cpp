// The deep FAT engine driven the way the deep scan drives it: every sector of a real mkfs.vfat +
// mtools image offered in order, then the rebuild; intact and wiped volumes.
#include "device/BootSectorLayout.h"
#include "device/CDiskRegistry.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/fat/FatEntryValidator.h"
#include "store/CLogFileManager.h"
#include "util/ByteView.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
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
            HOST_FILE file;
            const bool bShort = strDir == "SHORT" || i % 3 == 0;
            std::string strName = bShort ? "F" + std::to_string(n) + ".TXT"
                                         : "Report number " + std::to_string(n) + " final.txt";
            if (i == 4)
                strName = "picture_" + std::to_string(n) + ".dat";
            file.strPath = strDir + "/" + strName;
            file.vecBytes = PatternBytes(sizes[(n + i) % std::size(sizes)], nSeed + n);
            vecFiles.push_back(file);
        }
    }
    for (int i = 0; i < 4; ++i, ++n) {
        HOST_FILE file;
        file.strPath = "root file " + std::to_string(i) + ".bin";
        file.vecBytes = PatternBytes(3000 + 1000 * i, nSeed + n);
        vecFiles.push_back(file);
    }
    return vecFiles;
}

bool WriteHostTree(const std::string& strRoot, const std::vector<HOST_FILE>& vecFiles) {
    for (const HOST_FILE& file : vecFiles) {
        std::filesystem::path path = std::filesystem::path(strRoot) / file.strPath;
        std::filesystem::create_directories(path.parent_path());
        if (!WriteFileBytes(path.string(), file.vecBytes))
            return false;
    }
    return true;
}

// Every sector in order through the two classifiers, as the deep scan's pass offers them.
void RunSectorPass(CProfessionalFatRecovery& engine, const std::string& strImage) {
    std::vector<uint8_t> vecImage = ReadFileBytes(strImage);
    for (size_t nOff = 0; nOff + SECTOR_BYTES <= vecImage.size(); nOff += SECTOR_BYTES) {
        const uint8_t* pSector = vecImage.data() + nOff;
        if (IsFatFileRecord(pSector, SECTOR_BYTES))
            engine.ParseFatFileRecord(pSector, nOff / SECTOR_BYTES);
        else if (IsFatFDTRecord(pSector, SECTOR_BYTES))
            engine.ParseFDTFileRecord(pSector, nOff / SECTOR_BYTES);
    }
}

bool ZeroImageRange(const std::string& strImage, uint64_t u64Offset, size_t nBytes) {
    return PatchFileBytes(strImage, u64Offset, std::vector<uint8_t>(nBytes, 0));
}

// The result tree as "folder/sub/name" -> node, walked the way a browser walks it.
void CollectTree(CProfessionalFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
                 const std::string& strPrefix, std::map<std::string, FILE_NODE>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    ASSERT_EQ(engine.GetChildrenFileNode(pParent, nDepth, vecChildren), 0);
    for (FILE_NODE& child : vecChildren) {
        std::string strPath = strPrefix + child.szFileName;
        if (mapOut.count(strPath) != 0)
            continue;
        mapOut[strPath] = child;
        if (child.bIsDir != 0 && nDepth < 16)
            CollectTree(engine, &child, nDepth + 1, strPath + "/", mapOut);
    }
}

std::string ParentOf(const std::string& strPath) {
    size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? "" : strPath.substr(0, nSlash);
}

std::string NameOf(const std::string& strPath) {
    size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
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

bool IsLostFolderName(const std::string& strName) {
    return std::regex_match(strName, std::regex("LostFolder[0-9]+"));
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
        if (!builder.Format(format) || !WriteHostTree(m_tmp.File("host"), vecFiles) ||
            !builder.CopyTree(m_tmp.File("host")))
            return false;
        std::vector<std::string> vecDeleted;
        for (const HOST_FILE& file : vecFiles)
            if (file.bDeleted)
                vecDeleted.push_back("/" + file.strPath);
        return vecDeleted.empty() || builder.Delete(vecDeleted);
    }

    void Scan() {
        const int nDisk = CDiskRegistry::GetInstance().AddImage(m_strImage);
        ASSERT_GE(nDisk, 0);
        const long long llSectors =
            static_cast<long long>(std::filesystem::file_size(m_strImage) / SECTOR_BYTES);
        ASSERT_EQ(m_engine.Init(nDisk, 0, llSectors, u'C'), 0);
        ASSERT_EQ(m_engine.ClearProfessionalVec(nullptr), 0);
        ASSERT_EQ(m_engine.InitVirtualDbrInfo(), 0);
        RunSectorPass(m_engine, m_strImage);
        m_nStoredDuringPass = m_engine.GetLostFileCount();
        ASSERT_EQ(m_engine.DealProfessionalRecordVec(), 0);
        CollectTree(m_engine, nullptr, 0, "", m_mapTree);
    }

    RECOVERY_FIGURES Recover(const std::vector<HOST_FILE>& vecFiles) {
        RECOVERY_FIGURES figures;
        std::string strOut = m_tmp.File("out");
        std::filesystem::create_directories(strOut);
        int nSaved = 0;
        for (const HOST_FILE& file : vecFiles) {
            ++figures.nTotal;
            for (auto& [strPath, node] : m_mapTree) {
                if (node.bIsDir != 0 ||
                    !NameMatches(NameOf(strPath), NameOf(file.strPath), file.bDeleted))
                    continue;
                const std::string strParent = ParentOf(strPath);
                const bool bRealFolder = Lower(strParent) == Lower(ParentOf(file.strPath));
                if (!bRealFolder && !IsLostFolderName(NameOf(strParent)))
                    continue;
                std::string strTarget = strOut + "/" + std::to_string(nSaved++);
                std::u16string strWide = Ansi2Unicode(strTarget.c_str());
                if (m_engine.SaveFileData(&node, strWide.c_str(), 0) != 0 ||
                    ReadFileBytes(strTarget) != file.vecBytes)
                    continue;
                ++figures.nExact;
                figures.nRealFolder += bRealFolder ? 1 : 0;
                break;
            }
        }
        return figures;
    }

    CScanLogDirScope m_scope;
    CTempDir m_tmp;
    std::string m_strImage = m_tmp.File("fat.img");
    CProfessionalFatRecovery m_engine;
    std::map<std::string, FILE_NODE> m_mapTree;
    unsigned int m_nStoredDuringPass = 0;
};

std::vector<HOST_FILE> WithDeleted(std::vector<HOST_FILE> vecFiles) {
    for (size_t i = 0; i < vecFiles.size(); i += 6)
        vecFiles[i].bDeleted = true;
    return vecFiles;
}

TEST_F(ProFatScanTest, IntactFat32StoresLiveAndDeletedFilesAtOnceWithTheirTree) {
    std::vector<HOST_FILE> vecFiles = WithDeleted(MakeHostTree(1));
    ASSERT_TRUE(BuildImage({32, 40 * 1024, 1}, vecFiles));
    Scan();
    ASSERT_EQ(m_engine.GetVirtualDbrInfo().size(), 1u);
    EXPECT_EQ(m_engine.GetRootCluster(), 2u);
    // With the boot sector's geometry every file entry is stored as its sector is read.
    EXPECT_GE(m_nStoredDuringPass, vecFiles.size());
    RECOVERY_FIGURES figures = Recover(vecFiles);
    EXPECT_EQ(figures.nExact, figures.nTotal);
    EXPECT_TRUE(m_mapTree.count("Notes/old drafts/deep") == 1 ||
                m_mapTree.count("notes/old drafts/deep") == 1);
}

TEST_F(ProFatScanTest, IntactFat16KeepsRootFilesUnderTheRootArea) {
    std::vector<HOST_FILE> vecFiles = WithDeleted(MakeHostTree(2));
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 4}, vecFiles));
    Scan();
    EXPECT_EQ(m_engine.GetRootCluster(), 0u);
    EXPECT_GE(m_nStoredDuringPass, vecFiles.size());
    EXPECT_EQ(m_mapTree.count("root file 2.bin"), 1u);
    RECOVERY_FIGURES figures = Recover(vecFiles);
    EXPECT_EQ(figures.nExact, figures.nTotal);
    EXPECT_EQ(figures.nRealFolder, figures.nTotal);
}

TEST_F(ProFatScanTest, Fat32WithFirstMiBZeroedIsRebuiltFromFolderStarts) {
    std::vector<HOST_FILE> vecFiles = WithDeleted(MakeHostTree(3));
    ASSERT_TRUE(BuildImage({32, 64 * 1024, 0}, vecFiles));
    ASSERT_TRUE(ZeroImageRange(m_strImage, 0, 1024 * 1024));
    Scan();
    ASSERT_FALSE(m_engine.GetVirtualDbrInfo().empty());
    const VIRTUAL_DBR_INFO& dbr = m_engine.GetVirtualDbrInfo().front();
    EXPECT_GT(dbr.nDataStart, 2048u);
    EXPECT_EQ(m_engine.GetRootCluster(), 2u);
    RECOVERY_FIGURES figures = Recover(vecFiles);
    std::printf("[ figures  ] FAT32, first 1 MiB zeroed: %d/%d byte-exact with names "
                "(%d under their real folder, the rest under LostFolders)\n",
                figures.nExact, figures.nTotal, figures.nRealFolder);
    EXPECT_GE(figures.nExact * 100, figures.nTotal * 95);
}

TEST_F(ProFatScanTest, Fat16WithBootSectorAndFatsZeroedInfersTheGeometry) {
    std::vector<HOST_FILE> vecFiles = MakeHostTree(4);
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 4}, vecFiles));
    // Boot sector, reserved sectors and both FATs; the root area and the data stay.
    std::vector<uint8_t> vecBoot = ReadFileBytes(m_strImage);
    const uint32_t nReserved = LoadU16LE(&vecBoot[BPB_RSVD_SEC_CNT]);
    const uint32_t nFatSectors = LoadU16LE(&vecBoot[BPB_FAT_SZ16]);
    ASSERT_TRUE(ZeroImageRange(m_strImage, 0, (nReserved + 2 * nFatSectors) * SECTOR_BYTES));
    Scan();
    ASSERT_FALSE(m_engine.GetVirtualDbrInfo().empty());
    EXPECT_EQ(m_engine.GetVirtualDbrInfo().front().nSectorsPerCluster, 4u);
    EXPECT_EQ(m_engine.GetVirtualDbrInfo().front().nDataStart, nReserved + 2 * nFatSectors + 32);
    EXPECT_EQ(m_engine.GetRootCluster(), 0u);
    RECOVERY_FIGURES figures = Recover(vecFiles);
    EXPECT_EQ(figures.nExact, figures.nTotal);
}

TEST_F(ProFatScanTest, LongNameStraddlingTwoSectorsKeepsItsName) {
    // ".", ".." and four files of three entries each fill 14 entries; the fifth file's
    // entries run from entry 14 of the folder's first sector into its second.
    std::vector<HOST_FILE> vecFiles;
    for (int i = 0; i < 7; ++i)
        vecFiles.push_back({"Straddle/long name number " + std::to_string(i) + ".txt",
                            PatternBytes(700 + i, 50 + i)});
    vecFiles.push_back({"Other/x.txt", PatternBytes(10, 1)});
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 8}, vecFiles));
    ASSERT_TRUE(ZeroImageRange(m_strImage, 0, 16 * SECTOR_BYTES));
    Scan();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(m_mapTree.count("Straddle/long name number " + std::to_string(i) + ".txt"), 1u)
            << i;
    EXPECT_EQ(Recover(vecFiles).nRealFolder, 8);
}

TEST_F(ProFatScanTest, FolderWithOverwrittenEntryBecomesLostFolderUnderItsParent) {
    std::vector<HOST_FILE> vecFiles = {{"Outer/INNER/a.txt", PatternBytes(5000, 7)},
                                       {"Outer/INNER/b.txt", PatternBytes(100, 8)},
                                       {"Other/c.txt", PatternBytes(100, 9)}};
    ASSERT_TRUE(BuildImage({32, 40 * 1024, 1}, vecFiles));
    CFatImageBuilder builder(m_strImage);
    std::vector<uint32_t> vecInner = builder.GetClusters("/Outer/INNER");
    ASSERT_FALSE(vecInner.empty());
    // Wipe INNER's own entry in Outer, as if another entry had been written over it.
    std::vector<uint8_t> vecImage = ReadFileBytes(m_strImage);
    const std::string strEntry = "INNER      ";
    auto it = std::search(vecImage.begin(), vecImage.end(), strEntry.begin(), strEntry.end());
    ASSERT_NE(it, vecImage.end());
    ASSERT_TRUE(PatchFileBytes(m_strImage, it - vecImage.begin(), std::vector<uint8_t>(32, 0xE5)));
    Scan();
    const std::string strLost = "Outer/LostFolder" + std::to_string(vecInner.front());
    ASSERT_EQ(m_mapTree.count(strLost), 1u);
    EXPECT_EQ(m_mapTree.count(strLost + "/a.txt"), 1u);
    EXPECT_EQ(m_mapTree.count(strLost + "/b.txt"), 1u);
}

TEST_F(ProFatScanTest, WithoutAnyGeometryNothingIsStored) {
    std::vector<HOST_FILE> vecFiles = {{"Only/a.txt", PatternBytes(100, 1)},
                                       {"Only/b.txt", PatternBytes(100, 2)}};
    ASSERT_TRUE(BuildImage({32, 64 * 1024, 1}, vecFiles));
    ASSERT_TRUE(ZeroImageRange(m_strImage, 0, 1024 * 1024));
    Scan();
    // One folder start gives no geometry, and the root's sectors fit none either.
    EXPECT_TRUE(m_engine.GetVirtualDbrInfo().empty());
    EXPECT_EQ(m_engine.GetLostFileCount(), 0u);
    EXPECT_TRUE(m_mapTree.empty());
}

TEST_F(ProFatScanTest, FolderRecoveryWritesTheWholeSubtree) {
    std::vector<HOST_FILE> vecFiles = MakeHostTree(5);
    ASSERT_TRUE(BuildImage({32, 40 * 1024, 1}, vecFiles));
    Scan();
    auto it = m_mapTree.find("Notes");
    if (it == m_mapTree.end())
        it = m_mapTree.find("notes");
    ASSERT_NE(it, m_mapTree.end());
    const std::string strTarget = m_tmp.File("notes-copy");
    std::u16string strWide = Ansi2Unicode(strTarget.c_str());
    ASSERT_EQ(m_engine.SaveFileData(&it->second, strWide.c_str(), 0), 0);
    std::map<std::string, std::vector<uint8_t>> mapWritten;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(strTarget))
        if (entry.is_regular_file())
            mapWritten[Lower(std::filesystem::relative(entry.path(), strTarget).string())] =
                ReadFileBytes(entry.path().string());
    int nCompared = 0;
    for (const HOST_FILE& file : vecFiles) {
        if (file.strPath.rfind("Notes/", 0) != 0)
            continue;
        EXPECT_EQ(mapWritten[Lower(file.strPath.substr(6))], file.vecBytes) << file.strPath;
        ++nCompared;
    }
    EXPECT_EQ(nCompared, 7);
}

} // namespace

namespace {

struct PREVIEW_REPORTS {
    int nCount = 0;
    int nLastPercent = -1;
    int nLastStatus = -1;
};

int RecordPreviewReport(void* pParam, int nPercent, int nStatus) {
    auto* pReports = static_cast<PREVIEW_REPORTS*>(pParam);
    ++pReports->nCount;
    pReports->nLastPercent = nPercent;
    pReports->nLastStatus = nStatus;
    return 0;
}

TEST_F(ProFatScanTest, PreviewFillsTheBufferOrWritesPicturesToTheTemporaryFile) {
    std::vector<uint8_t> vecPng = ReadFileBytes(TestDataPath("samples/sample.png"));
    ASSERT_FALSE(vecPng.empty());
    std::vector<HOST_FILE> vecFiles = {{"Pics/photo.png", vecPng},
                                       {"Text/notes.txt", PatternBytes(10000, 3)}};
    ASSERT_TRUE(BuildImage({32, 64 * 1024, 1}, vecFiles));
    ASSERT_TRUE(ZeroImageRange(m_strImage, 0, 1024 * 1024));
    Scan();
    ASSERT_EQ(m_mapTree.count("Text/notes.txt"), 1u);
    ASSERT_EQ(m_mapTree.count("Pics/photo.png"), 1u);

    std::vector<uint8_t> vecBuffer(4096);
    int nLength = static_cast<int>(vecBuffer.size());
    PREVIEW_REPORTS reports;
    char16_t wszTemp[PREVIEW_PATH_CAPACITY] = {};
    ASSERT_EQ(m_engine.PreView(&m_mapTree["Text/notes.txt"], wszTemp, vecBuffer.data(), nLength,
                               RecordPreviewReport, &reports),
              0);
    EXPECT_EQ(nLength, 4096);
    EXPECT_TRUE(std::equal(vecBuffer.begin(), vecBuffer.end(), vecFiles[1].vecBytes.begin()));
    EXPECT_GE(reports.nCount, 2);
    EXPECT_EQ(reports.nLastPercent, 100);
    EXPECT_EQ(reports.nLastStatus, 0);

    nLength = static_cast<int>(vecBuffer.size());
    ASSERT_EQ(m_engine.PreView(&m_mapTree["Pics/photo.png"], wszTemp, vecBuffer.data(), nLength,
                               nullptr, nullptr),
              0);
    EXPECT_EQ(nLength, 0);
    const std::string strTemp = Unicode2Ansi(wszTemp);
    EXPECT_EQ(strTemp, m_scope.Path() + "/tmp.png");
    EXPECT_EQ(ReadFileBytes(strTemp), vecPng);
}

TEST_F(ProFatScanTest, TreeQueriesRefuseADepthWithoutParent) {
    std::vector<HOST_FILE> vecFiles = MakeHostTree(6);
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 4}, vecFiles));
    Scan();
    std::vector<FILE_NODE> vecChildren;
    EXPECT_EQ(m_engine.GetChildrenFileNode(nullptr, 3, vecChildren), 87);
    EXPECT_TRUE(vecChildren.empty());
    unsigned int nCount = 0;
    ASSERT_EQ(m_engine.GetChildrenFileCount(nullptr, 0, nCount), 0);
    EXPECT_EQ(nCount, vecFiles.size());
    EXPECT_EQ(m_engine.GetLostFileCount(), vecFiles.size() + 8u); // files and 8 folders
}

} // namespace

namespace {

TEST_F(ProFatScanTest, NearestGeometryLooksPastTheBootSectorsOwnAndFallsBackToIt) {
    ASSERT_TRUE(BuildImage({16, 32 * 1024, 4}, {{"a.txt", PatternBytes(10, 1)}}));
    const int nDisk = CDiskRegistry::GetInstance().AddImage(m_strImage);
    ASSERT_EQ(m_engine.Init(nDisk, 0, 65536, u'C'), 0);
    ASSERT_EQ(m_engine.ClearProfessionalVec(nullptr), 0);
    EXPECT_FALSE(m_engine.GetNearestDbrInfo(100).has_value());
    ASSERT_EQ(m_engine.InitVirtualDbrInfo(), 0);
    ASSERT_EQ(m_engine.GetVirtualDbrInfo().size(), 1u);
    const VIRTUAL_DBR_INFO real = m_engine.GetVirtualDbrInfo().front();
    EXPECT_EQ(m_engine.GetNearestDbrInfo(40000)->nDataStart, real.nDataStart);
    ASSERT_EQ(m_engine.CalcVirtualDbr(30, 10160, 10, 10000), 1); // cluster 2 at 9936
    EXPECT_EQ(m_engine.GetNearestDbrInfo(40000)->nDataStart, 9936u);
    EXPECT_EQ(m_engine.GetNearestDbrInfo(9935)->nDataStart, real.nDataStart);
}

} // namespace
