// Deep NTFS engine over real mkntfs images fed record by record as the deep sweep feeds it:
// placement in volumes, folder trees, no boot sector or table, two volumes, byte-exact copies.
#include "ntfs/CProfessionalNtfsRecovery.h"

#include "device/CDiskRegistry.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsFolderTreeBuilder.h"
#include "fixtures/NtfsImageBuilder.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint64_t SECTOR = 512;
constexpr size_t RECORD = 1024;

// Start of a JPEG/JFIF file: SOI, APP0 marker and length, "JFIF\0", version 1.1.
const std::vector<uint8_t> JFIF_HEAD = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',
                                        'I',  'F',  0x00, 0x01, 0x01, 0x00, 0x00, 0x01};

// Start of a PNG: signature, then the IHDR chunk's length and type.
const std::vector<uint8_t> PNG_HEAD = {0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A,
                                       0x00, 0x00, 0x00, 0x0D, 'I',  'H',  'D',  'R'};

struct EXPECTED_FILE {
    std::string strPath; // folder path + name, "/"-separated
    std::vector<uint8_t> data;
    bool bDeleted;
};

// A volume with a folder tree, in-use and deleted files, resident and multi-cluster data.
struct TREE_IMAGE {
    std::string strImage;
    std::vector<EXPECTED_FILE> vecFiles;
    std::map<std::string, int64_t> mapRecords; // path -> record number
};

bool BuildTreeImage(const std::string& strImage, uint64_t u64Bytes, int nClusterBytes,
                    TREE_IMAGE& out, uint32_t nSeed) {
    CNtfsImageBuilder image(strImage);
    if (!image.Format(u64Bytes, nClusterBytes))
        return false;
    CNtfsFolderTreeBuilder tree(image);
    out.strImage = strImage;
    std::map<std::string, int64_t> mapFolders{{"", CNtfsFolderTreeBuilder::ROOT_RECORD}};
    for (const auto& [pParent, pName] :
         {std::pair{"", "docs"}, {"docs", "old"}, {"", "music"}, {"", "photos"}}) {
        const std::string strPath = *pParent == '\0' ? pName : pParent + std::string("/") + pName;
        out.mapRecords[strPath] = mapFolders[strPath] =
            tree.AddFolder(pName, static_cast<uint32_t>(mapFolders[pParent]));
        if (mapFolders[strPath] < 0)
            return false;
    }
    struct FILE_PLAN {
        std::string strFolder;
        std::string strName;
        size_t nBytes;
        bool bDeleted;
    };
    std::vector<FILE_PLAN> vecPlans = {
        {"", "readme.txt", 300, false},          {"", "big.bin", 70000, true},
        {"docs", "report.doc", 5000, true},      {"docs", "notes.txt", 1200, false},
        {"docs", "empty.txt", 0, true},          {"docs/old", "draft1.txt", 800, true},
        {"docs/old", "draft2.txt", 90000, true}, {"music", "song.mp3", 150000, true},
    };
    for (int i = 0; i < 22; ++i)
        vecPlans.push_back(
            {"photos", "scan" + std::to_string(i) + ".dat", size_t(100 + i * 4999), i % 2 == 0});
    vecPlans.push_back({"photos", "real.jpg", 40000, true});
    uint32_t nFileSeed = nSeed;
    for (const FILE_PLAN& plan : vecPlans) {
        EXPECTED_FILE file{plan.strFolder.empty() ? plan.strName
                                                  : plan.strFolder + "/" + plan.strName,
                           PatternBytes(plan.nBytes, ++nFileSeed), plan.bDeleted};
        if (plan.strName.ends_with(".jpg"))
            std::copy(JFIF_HEAD.begin(), JFIF_HEAD.end(), file.data.begin());
        int64_t llRecord = tree.AddFile(
            plan.strName, static_cast<uint32_t>(mapFolders[plan.strFolder]), file.data);
        if (llRecord < 0)
            return false;
        out.mapRecords[file.strPath] = llRecord;
        out.vecFiles.push_back(std::move(file));
    }
    // A deleted picture whose first cluster now starts a PNG: gone, so left out of listings.
    std::vector<uint8_t> vecBroken = PatternBytes(30000, nSeed);
    std::copy(PNG_HEAD.begin(), PNG_HEAD.end(), vecBroken.begin());
    int64_t llBroken =
        tree.AddFile("broken.jpg", static_cast<uint32_t>(mapFolders["photos"]), vecBroken);
    if (llBroken < 0 || !image.DeleteInPlace("/broken.jpg"))
        return false;
    out.mapRecords["photos/broken.jpg"] = llBroken;
    // Deleted last, so that no later copy reuses the clusters they free.
    for (const FILE_PLAN& plan : vecPlans)
        if (plan.bDeleted && !image.DeleteInPlace("/" + plan.strName))
            return false;
    return true;
}

// Offers every sector of the image that passes the record test, as the deep sweep does.
void FeedImage(CProfessionalNtfsRecovery& engine, const std::vector<uint8_t>& vecImage,
               const std::vector<uint64_t>& vecSkip = {}) {
    for (uint64_t off = 0; off + RECORD <= vecImage.size(); off += SECTOR) {
        const uint8_t* p = vecImage.data() + off;
        if (!IsNtfsFileRecord(p, RECORD, RECORD))
            continue;
        if (std::find(vecSkip.begin(), vecSkip.end(), off / SECTOR) != vecSkip.end())
            continue;
        engine.ParseNtfsFileRecord(p, RECORD, off / SECTOR);
    }
}

// The sectors of every record 0 (the $MFT and its mirror) of the image.
std::vector<uint64_t> RecordZeroSectors(const std::vector<uint8_t>& vecImage) {
    std::vector<uint64_t> vecSectors;
    for (uint64_t off = 0; off + RECORD <= vecImage.size(); off += SECTOR)
        if (IsNtfsFileRecord(vecImage.data() + off, RECORD, RECORD) && vecImage[off + 0x2C] == 0 &&
            vecImage[off + 0x2D] == 0)
            vecSectors.push_back(off / SECTOR);
    return vecSectors;
}

class NtfsDeepTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!HaveTool("mkntfs") || !HaveTool("ntfscp") || !HaveTool("ntfsinfo"))
            return;
        s_pDir = new CTempDir();
        s_pTree = new TREE_IMAGE();
        if (!BuildTreeImage(s_pDir->File("tree.img"), 24 << 20, 4096, *s_pTree, 100)) {
            delete s_pTree;
            s_pTree = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete s_pTree;
        delete s_pDir;
        s_pTree = nullptr;
        s_pDir = nullptr;
    }

    void SetUp() override {
        if (s_pTree == nullptr)
            SKIP_WITHOUT("mkntfs, ntfscp and ntfsinfo");
        CLogFileManager::GetInstance();
    }

    // A private copy of the shared image, edited by the caller before the scan.
    std::string CopyImage(const std::string& strName) {
        std::string strCopy = m_work.File(strName);
        std::filesystem::copy_file(s_pTree->strImage, strCopy);
        return strCopy;
    }

    // Init over a whole image, a fresh store, the sweep and the folder pass.
    void Scan(CProfessionalNtfsRecovery& engine, const std::string& strImage) {
        int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
        ASSERT_GE(nDisk, 0);
        std::vector<uint8_t> vecImage = ReadFileBytes(strImage);
        ASSERT_EQ(engine.Init(nDisk, 0, static_cast<long long>(vecImage.size() / SECTOR), u'C'), 0);
        ASSERT_EQ(engine.InitProfessionalScan(nullptr), 0);
        FeedImage(engine, vecImage);
        engine.ParseProfessionalRecordVec();
    }

    // Copies every expected file out through SaveFileData; the count that came back exact.
    static size_t RecoverAll(CProfessionalNtfsRecovery& engine,
                             const std::map<std::string, FILE_NODE>& mapTree,
                             const std::vector<EXPECTED_FILE>& vecFiles) {
        size_t nExact = 0;
        for (const EXPECTED_FILE& file : vecFiles) {
            auto it = mapTree.find(file.strPath);
            int rc = -1;
            nExact +=
                it != mapTree.end() && CopyOutNode(engine, it->second, rc) == file.data && rc == 0;
        }
        return nExact;
    }

    static CTempDir* s_pDir;
    static TREE_IMAGE* s_pTree;
    CScanLogDirScope m_scope;
    CTempDir m_work;
};

CTempDir* NtfsDeepTest::s_pDir = nullptr;
TREE_IMAGE* NtfsDeepTest::s_pTree = nullptr;

TEST_F(NtfsDeepTest, ReportsInUseAndDeletedFilesInTheirFolders) {
    CProfessionalNtfsRecovery engine;
    std::string strImage = CopyImage("intact.img");
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    ASSERT_EQ(engine.Init(nDisk, 0, static_cast<long long>(24 << 20) / SECTOR, u'C'), 0);
    EXPECT_EQ(engine.GetMftMap().size(), 1u) << "the boot sector names the $MFT";
    EXPECT_EQ(engine.GetSectorPerCluster(), 8u) << "from the boot sector, not the size table";
    CProfessionalNtfsRecovery scanned;
    Scan(scanned, strImage);

    std::map<std::string, FILE_NODE> mapTree = CollectTree(scanned);
    for (const EXPECTED_FILE& file : s_pTree->vecFiles) {
        ASSERT_EQ(mapTree.count(file.strPath), 1u) << file.strPath;
        const FILE_NODE& node = mapTree[file.strPath];
        EXPECT_EQ(node.nEngineType, ENGINE_DEEP_NTFS);
        EXPECT_EQ(node.bIsDir, 0u);
        EXPECT_EQ(node.bIsDeleted, file.bDeleted ? 1u : 0u) << file.strPath;
        EXPECT_EQ(node.u64FileSize, file.data.size()) << file.strPath;
        EXPECT_EQ(node.u64PartitionStartSector, 0u);
        EXPECT_EQ(node.nClusterBytes, 4096u);
        EXPECT_EQ(node.nClusterNo, uint32_t(s_pTree->mapRecords[file.strPath]));
        EXPECT_EQ(node.u64LocationSector % 2, 0u);
    }
    for (const char* pFolder : {"docs/", "docs/old/", "music/", "photos/"}) {
        ASSERT_EQ(mapTree.count(pFolder), 1u) << pFolder;
        EXPECT_EQ(mapTree[pFolder].bIsDir, 1u);
        EXPECT_EQ(mapTree[pFolder].nClusterNo,
                  uint32_t(s_pTree->mapRecords[std::string(pFolder, std::strlen(pFolder) - 1)]));
    }
    EXPECT_EQ(mapTree["docs/empty.txt"].nDataHealth, 0u) << "an empty resident stream";
    EXPECT_EQ(mapTree["readme.txt"].nDataHealth, 1u);
    EXPECT_EQ(mapTree["photos/real.jpg"].nDataHealth, 1u);
    EXPECT_EQ(mapTree.count("photos/broken.jpg"), 0u) << "a picture whose data is another's";
    // System files (records 0 to 11, and those below $Extend such as $Quota) never become
    // nodes: the nodes are the 32 files (one a hidden picture) and the 4 folders.
    EXPECT_EQ(scanned.GetLostFileCount(), 36u);
    EXPECT_EQ(scanned.GetPendingDirCount(), 4u);

    char16_t szPath[512];
    FILE_NODE draft = mapTree["docs/old/draft1.txt"];
    ASSERT_EQ(scanned.GetFileNodeParentDirPath(&draft, szPath, 512), 0);
    EXPECT_EQ(Unicode2Ansi(szPath), "docs/old/");
    unsigned int nCount = 0;
    FILE_NODE docs = mapTree["docs/"];
    ASSERT_EQ(scanned.GetChildrenFileCount(&docs, 1, nCount), 0);
    EXPECT_EQ(nCount, 5u);

    // A whole folder comes back with its sub-folder.
    const std::string strDocs = m_work.File("docs-copy");
    ASSERT_EQ(scanned.SaveFileData(&docs, Ansi2Unicode(strDocs.c_str()).c_str(), 0), 0);
    for (const EXPECTED_FILE& file : s_pTree->vecFiles) {
        if (file.strPath.starts_with("docs/")) {
            EXPECT_EQ(ReadFileBytes(strDocs + file.strPath.substr(4)), file.data) << file.strPath;
        }
    }

    // Record sizes outside the record are refused and add nothing.
    const uint64_t u64Offset =
        CNtfsImageBuilder(strImage).RecordOffset(s_pTree->mapRecords["readme.txt"]);
    ASSERT_NE(u64Offset, 0u);
    const std::vector<uint8_t> vecRecord = ReadFileRange(strImage, u64Offset, RECORD);
    std::vector<uint8_t> vecInUse = vecRecord; // bytes in use (0x18) past the record
    vecInUse[0x18] = 0x01;
    vecInUse[0x19] = 0x04;
    EXPECT_EQ(scanned.ParseNtfsFileRecord(vecInUse.data(), RECORD, u64Offset / SECTOR), 87);
    std::vector<uint8_t> vecFirst = vecRecord; // first attribute (0x14) past bytes in use
    vecFirst[0x14] = 0xF0;
    vecFirst[0x15] = 0x03;
    EXPECT_EQ(scanned.ParseNtfsFileRecord(vecFirst.data(), RECORD, u64Offset / SECTOR), 87);
    EXPECT_EQ(scanned.ParseNtfsFileRecord(vecRecord.data(), RECORD - 1, u64Offset / SECTOR), 87);
    EXPECT_EQ(scanned.GetLostFileCount(), 36u);
    EXPECT_EQ(scanned.ParseNtfsFileRecord(vecRecord.data(), RECORD, u64Offset / SECTOR), 0);
    EXPECT_EQ(scanned.GetLostFileCount(), 37u);
}

TEST_F(NtfsDeepTest, WithoutAnyMftRecordTheTableIsTakenAsContiguousAtAnyDiskSector) {
    // No boot sector, no copy of it, no record 0 offered: no table is ever learnt. readme.txt
    // names a parent whose record would lie past the end of the disk; it is the first folder met
    // in the sweep, so it is the first one resolved, and the others still are.
    std::string strImage = CopyImage("nomft.img");
    CNtfsImageBuilder image(strImage);
    CNtfsFolderTreeBuilder tree(image);
    ASSERT_TRUE(tree.SetParent(s_pTree->mapRecords["readme.txt"], 40000));
    // The boot sector and its copy in the volume's last sector, both gone.
    const std::vector<uint8_t> vecZero(SECTOR, 0);
    ASSERT_TRUE(PatchFileBytes(strImage, 0, vecZero) &&
                PatchFileBytes(strImage, std::filesystem::file_size(strImage) - SECTOR, vecZero));
    // 4097 sectors into a disk is no whole number of clusters: the climbs must still read the
    // exact folder records.
    for (uint64_t u64VolumeStart : {0, 4097}) {
        SCOPED_TRACE(u64VolumeStart);
        std::string strDisk = m_work.File("disk" + std::to_string(u64VolumeStart) + ".img");
        std::vector<uint8_t> vecDisk(u64VolumeStart * SECTOR, 0),
            vecVolume = ReadFileBytes(strImage);
        vecDisk.insert(vecDisk.end(), vecVolume.begin(), vecVolume.end());
        ASSERT_TRUE(WriteFileBytes(strDisk, vecDisk));
        CProfessionalNtfsRecovery engine;
        int nDisk = CDiskRegistry::GetInstance().AddImage(strDisk);
        ASSERT_EQ(engine.Init(nDisk, 0, static_cast<long long>(vecDisk.size() / SECTOR), u'C'), 0);
        ASSERT_EQ(engine.InitProfessionalScan(nullptr), 0);
        FeedImage(engine, vecDisk, RecordZeroSectors(vecDisk));
        EXPECT_EQ(engine.ParseProfessionalRecordVec(), ERROR_INVALID_PARAMETER)
            << "the read past the disk is reported";
        EXPECT_TRUE(engine.GetMftMap().empty());
        std::map<std::string, FILE_NODE> mapTree = CollectTree(engine);
        // Off the disk's start, where the data lies is unknown without the $MFT's own runs, so a
        // picture cannot be told from a damaged one and stays out of the listing.
        for (const EXPECTED_FILE& file : s_pTree->vecFiles) {
            if (file.strPath == "readme.txt" ||
                (u64VolumeStart != 0 && file.strPath.ends_with(".jpg")))
                continue;
            ASSERT_EQ(mapTree.count(file.strPath), 1u) << file.strPath;
            if (u64VolumeStart == 0) {
                EXPECT_EQ(mapTree[file.strPath].u64PartitionStartSector, 0u);
            }
        }
        EXPECT_EQ(mapTree.count("readme.txt"), 0u);
    }
}

TEST_F(NtfsDeepTest, TwoVolumesEachMatchTheirOwnMftAndStart) {
    CTempDir dir;
    TREE_IMAGE first;
    ASSERT_TRUE(BuildTreeImage(dir.File("a.img"), 12 << 20, 4096, first, 1000));
    CNtfsImageBuilder second(dir.File("b.img"));
    ASSERT_TRUE(second.Format(10 << 20, 2048));
    std::vector<EXPECTED_FILE> vecSecond;
    for (int i = 0; i < 6; ++i) {
        EXPECTED_FILE file{"second" + std::to_string(i) + ".dat",
                           PatternBytes(size_t(700 + i * 21000), 2000 + i), i % 2 == 1};
        ASSERT_TRUE(second.PutFile("/" + file.strPath, file.data));
        vecSecond.push_back(file);
    }
    for (const EXPECTED_FILE& file : vecSecond) {
        if (file.bDeleted) {
            ASSERT_TRUE(second.DeleteInPlace("/" + file.strPath));
        }
    }
    // Partitions at 1 MiB and right after the first volume; the second starts at an odd
    // sector so that no cluster arithmetic can line it up by accident.
    constexpr uint64_t u64FirstStart = 2048;
    constexpr uint64_t u64SecondStart = 2048 + (12 << 20) / SECTOR + 2049;
    std::string strDisk = MakePartitionedImage(
        dir.File("disk.img"), 40,
        std::to_string(u64FirstStart) + "," + std::to_string((12 << 20) / SECTOR) + ",7\\n" +
            std::to_string(u64SecondStart) + "," + std::to_string((10 << 20) / SECTOR) + ",7\\n");
    ASSERT_TRUE(PatchFileBytes(strDisk, u64FirstStart * SECTOR, ReadFileBytes(first.strImage)));
    ASSERT_TRUE(PatchFileBytes(strDisk, u64SecondStart * SECTOR, ReadFileBytes(second.Image())));

    CProfessionalNtfsRecovery engine;
    Scan(engine, strDisk);
    EXPECT_EQ(engine.GetMftMap().size(), 4u) << "each volume's $MFT and its mirror";

    std::map<std::string, FILE_NODE> mapTree = CollectTree(engine);
    for (const EXPECTED_FILE& file : first.vecFiles) {
        ASSERT_EQ(mapTree.count(file.strPath), 1u) << file.strPath;
        EXPECT_EQ(mapTree[file.strPath].u64PartitionStartSector, u64FirstStart);
    }
    for (const EXPECTED_FILE& file : vecSecond) {
        ASSERT_EQ(mapTree.count(file.strPath), 1u) << file.strPath;
        EXPECT_EQ(mapTree[file.strPath].u64PartitionStartSector, u64SecondStart);
        EXPECT_EQ(mapTree[file.strPath].nClusterBytes, 2048u);
    }
    std::vector<EXPECTED_FILE> vecAll = first.vecFiles;
    vecAll.insert(vecAll.end(), vecSecond.begin(), vecSecond.end());
    EXPECT_EQ(RecoverAll(engine, mapTree, vecAll), vecAll.size());
}

TEST_F(NtfsDeepTest, ParentLoopEndsTheClimbAndRenumberedFolderBecomesLostFolder) {
    std::string strImage = CopyImage("loop.img");
    CNtfsImageBuilder image(strImage);
    CNtfsFolderTreeBuilder tree(image);
    // docs/old names docs as its parent; docs now names docs/old: a two-record loop.
    uint32_t nDocs = uint32_t(s_pTree->mapRecords["docs"]);
    uint32_t nOld = uint32_t(s_pTree->mapRecords["docs/old"]);
    uint32_t nMusic = uint32_t(s_pTree->mapRecords["music"]);
    ASSERT_TRUE(tree.SetParent(nDocs, nOld));
    // The music folder's record now carries another number (0x2C): it is not that folder.
    std::vector<uint8_t> vecMusic = tree.ReadRecord(nMusic);
    ASSERT_FALSE(vecMusic.empty());
    vecMusic[0x2C] = 0xE7;
    vecMusic[0x2D] = 0x03;
    ASSERT_TRUE(tree.WriteRecord(nMusic, vecMusic));

    CProfessionalNtfsRecovery engine;
    Scan(engine, strImage);
    EXPECT_EQ(engine.GetPendingDirCount(), 4u) << "docs, docs/old, music, photos: once each";

    std::map<std::string, FILE_NODE> mapTree = CollectTree(engine);
    std::string strLost = "LostFolder" + std::to_string(nMusic);
    ASSERT_EQ(mapTree.count(strLost + "/song.mp3"), 1u);
    EXPECT_EQ(mapTree[strLost + "/"].bIsDir, 1u);
    const EXPECTED_FILE* pSong = nullptr;
    for (const EXPECTED_FILE& file : s_pTree->vecFiles)
        if (file.strPath == "music/song.mp3")
            pSong = &file;
    ASSERT_NE(pSong, nullptr);
    std::vector<EXPECTED_FILE> vecSong = {*pSong};
    vecSong[0].strPath = strLost + "/song.mp3";
    EXPECT_EQ(RecoverAll(engine, mapTree, vecSong), 1u);
}

// A file record whose only attribute is a non-resident unnamed data attribute.
std::vector<uint8_t> MakeDataRecord(uint64_t u64Allocated, uint8_t nClusters) {
    std::vector<uint8_t> rec(RECORD, 0);
    PutLE(rec, 0x00, 0x454C4946, 4); // "FILE"
    PutLE(rec, 0x04, 0x30, 2);       // update sequence array offset
    PutLE(rec, 0x06, 3, 2);          // update sequence slots
    PutLE(rec, 0x14, 0x38, 2);       // first attribute
    PutLE(rec, 0x16, 1, 2);          // flags: in use
    PutLE(rec, 0x18, 0x88, 4);       // bytes in use
    PutLE(rec, 0x1C, RECORD, 4);     // bytes allocated
    PutLE(rec, 0x2C, 40, 4);         // record number
    PutLE(rec, 0x30, 1, 2);          // update sequence number, also in both sector tails
    PutLE(rec, 510, 1, 2);
    PutLE(rec, 1022, 1, 2);
    PutLE(rec, 0x38 + 0x00, 0x80, 4);         // attribute type: data
    PutLE(rec, 0x38 + 0x04, 0x48, 4);         // attribute length
    PutLE(rec, 0x38 + 0x08, 1, 1);            // non-resident
    PutLE(rec, 0x38 + 0x20, 0x40, 2);         // runs offset
    PutLE(rec, 0x38 + 0x28, u64Allocated, 8); // allocated size
    PutLE(rec, 0x38 + 0x30, u64Allocated, 8); // real size
    PutLE(rec, 0x38 + 0x40, 0x11, 1);         // run: 1 length byte, 1 offset byte
    PutLE(rec, 0x38 + 0x41, nClusters, 1);
    PutLE(rec, 0x38 + 0x42, 0x10, 1);
    PutLE(rec, 0x80, 0xFFFFFFFF, 4); // end of attributes
    return rec;
}

TEST(NtfsDeepRecordTest, SectorsPerClusterLearntFromDataAttribute) {
    CProfessionalNtfsRecovery engine;
    std::vector<uint8_t> vecFour = MakeDataRecord(8192, 4);
    ASSERT_TRUE(IsNtfsFileRecord(vecFour.data(), RECORD, RECORD));
    EXPECT_EQ(engine.GetFileRecordSectorPerClusterByRecordBuf(vecFour.data(), RECORD), 0);
    EXPECT_EQ(engine.GetSectorPerCluster(), 4u);
    std::vector<uint8_t> vecEight = MakeDataRecord(32768, 8);
    EXPECT_EQ(engine.GetFileRecordSectorPerClusterByRecordBuf(vecEight.data(), RECORD), 0);
    EXPECT_EQ(engine.GetSectorPerCluster(), 8u);
    // 3 clusters for 32768 bytes is no cluster size: the last one learnt stays.
    std::vector<uint8_t> vecOdd = MakeDataRecord(32768, 3);
    EXPECT_EQ(engine.GetFileRecordSectorPerClusterByRecordBuf(vecOdd.data(), RECORD), 0);
    EXPECT_EQ(engine.GetSectorPerCluster(), 8u);
    std::vector<uint8_t> vecNotFile = vecEight;
    vecNotFile[0] = 'X';
    EXPECT_EQ(engine.GetFileRecordSectorPerClusterByRecordBuf(vecNotFile.data(), RECORD), 87);
}

TEST(NtfsDeepRecordTest, MftRunsMapRecordsAndLengthZeroRunIsContiguous) {
    // Records 0..15 in 4 clusters at 100, the next ones at cluster 150 (8 sectors a cluster).
    std::vector<RUNLIST> vecRuns = {{4, 100}, {4, 50}};
    EXPECT_EQ(CProfessionalNtfsRecovery::MapMftRecordSector(vecRuns, 0, 8), 800u);
    EXPECT_EQ(CProfessionalNtfsRecovery::MapMftRecordSector(vecRuns, 15, 8), 830u);
    EXPECT_EQ(CProfessionalNtfsRecovery::MapMftRecordSector(vecRuns, 16, 8), 1200u);
    EXPECT_FALSE(CProfessionalNtfsRecovery::MapMftRecordSector(vecRuns, 32, 8).has_value());
    EXPECT_EQ(CProfessionalNtfsRecovery::MapMftRecordSector({{0, 7}}, 1000, 8), 56u + 2000u);
    EXPECT_FALSE(CProfessionalNtfsRecovery::MapMftRecordSector({{4, -3}}, 0, 8).has_value());
    EXPECT_FALSE(CProfessionalNtfsRecovery::MapMftRecordSector(vecRuns, 0, 0).has_value());
}

} // namespace
