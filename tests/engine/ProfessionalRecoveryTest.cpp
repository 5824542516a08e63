// The deep scan end to end on real images: fast pre-pass, shared sector pass, merged search,
// duplicates, stop and resume, and images that hold no file system or are damaged.
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/BootSectorLayout.h"
#include "device/CDiskRegistry.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/CSha256.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

constexpr uint64_t MiB = 1024 * 1024;

struct CScanRecord {
    std::vector<std::pair<int, int>> vecReports; // percent, weight
    std::vector<uint64_t> vecPassFiles;          // files found, at each pass report
    int nStopAtPassReport = -1;                  // answer 1 at this pass report
    int nPassReports = 0;

    static int OnScan(void* pParam, int nPercent, int nWeight, int, uint64_t, uint64_t,
                      uint64_t u64Files, const char16_t*) {
        auto* pRecord = static_cast<CScanRecord*>(pParam);
        pRecord->vecReports.push_back({nPercent, nWeight});
        if (nWeight == CProfessionalRecovery::SCAN_WEIGHT)
            pRecord->vecPassFiles.push_back(u64Files);
        // Once stopped, every later report answers stop too, as a cancelled front end does.
        if (nWeight == CProfessionalRecovery::SCAN_WEIGHT && pRecord->nStopAtPassReport >= 0 &&
            pRecord->nPassReports++ >= pRecord->nStopAtPassReport)
            return 1;
        return 0;
    }
    static int OnRecovery(void*, int, int, int, const char16_t*) { return 0; }
    bool SawFinalReport() const {
        return !vecReports.empty() && vecReports.back() == std::make_pair(100, 100);
    }
};

class ProfessionalRecoveryTest : public ::testing::Test {
protected:
    std::unique_ptr<IFileRecoveryParse> MakeDeepEngine(const std::string& strImage) {
        int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
        EXPECT_GE(nDisk, 0);
        long long llSectors = static_cast<long long>(std::filesystem::file_size(strImage) / 512);
        return std::unique_ptr<IFileRecoveryParse>(
            CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
                nDisk, 0, llSectors, u'C', RECOVERY_TYPE_DEEP));
    }
    int Scan(IFileRecoveryParse& engine, CScanRecord& record, bool bFresh = true) {
        if (bFresh)
            static_cast<CProfessionalRecovery&>(engine).SetNotLoadLogFile();
        engine.InitCallBack(CScanRecord::OnScan, CScanRecord::OnRecovery, &record, 100);
        return engine.ScanDevice(nullptr);
    }
    std::vector<SEARCH_FILE_INFO> Search(IFileRecoveryParse& engine) {
        std::vector<SEARCH_FILE_INFO> vecHits = SearchAll(engine);
        // The engines' streams are merged, not sorted afterwards: the merge must keep node order.
        EXPECT_TRUE(
            std::is_sorted(vecHits.begin(), vecHits.end(), CScanResultFileManager::NodeOrderLess));
        // The fast walks store deleted files only, and say so.
        for (const SEARCH_FILE_INFO& hit : vecHits) {
            if (hit.nEngineType == ENGINE_FAST_FAT || hit.nEngineType == ENGINE_FAST_NTFS) {
                EXPECT_EQ(hit.bIsDeleted, 1u) << hit.szFileName;
            }
        }
        return vecHits;
    }
    // A fresh deep scan of the image to its end; every hit and the digest of its recovered copy.
    void ScanAndRecover(const std::string& strImage) {
        m_pEngine = MakeDeepEngine(strImage);
        IFileRecoveryParse* pEngine = m_pEngine.get();
        ASSERT_NE(pEngine, nullptr);
        CScanRecord record;
        ASSERT_EQ(Scan(*pEngine, record), 0);
        EXPECT_TRUE(record.SawFinalReport());
        m_vecHits = Search(*pEngine);
        m_vecDigests = RecoverAll(*pEngine, m_vecHits);
    }
    // Every hit recovered into its own file; the SHA-256 of each, by hit index.
    std::vector<std::string> RecoverAll(IFileRecoveryParse& engine,
                                        std::vector<SEARCH_FILE_INFO>& vecHits) {
        std::vector<std::string> vecDigests;
        for (size_t i = 0; i < vecHits.size(); ++i) {
            std::string strPath = m_out.File(std::to_string(i) + "_" + vecHits[i].szFileName);
            const int nResult =
                engine.SaveFileData(&vecHits[i], Ansi2Unicode(strPath.c_str()).c_str(), 0);
            vecDigests.push_back(nResult == 0 ? CSha256::OfFile(strPath) : std::string());
        }
        return vecDigests;
    }
    // How many hits were recovered as exactly these bytes (and pass the check, when given).
    size_t Copies(const std::vector<uint8_t>& vecBytes,
                  const std::function<bool(const SEARCH_FILE_INFO&)>& check = nullptr) const {
        size_t nCopies = 0;
        for (size_t i = 0; i < m_vecHits.size(); ++i)
            nCopies += m_vecDigests[i] == Sha256Of(vecBytes) && (!check || check(m_vecHits[i]));
        return nCopies;
    }

    CScanLogDirScope m_logs;
    CTempDir m_dir;
    CTempDir m_out;
    std::unique_ptr<IFileRecoveryParse> m_pEngine;
    std::vector<SEARCH_FILE_INFO> m_vecHits;
    std::vector<std::string> m_vecDigests;
};

// Deleted files of a FAT32 volume (some in a deleted folder) come back once each, byte-exact;
// samples that the carver also recognises are not listed a second time.
TEST_F(ProfessionalRecoveryTest, FatDeletedFilesComeBackOnceEach) {
    if (!CFatImageBuilder::HaveTools())
        SKIP_WITHOUT("mkfs.vfat and mtools");
    CFatImageBuilder image(m_dir.File("fat32.img"));
    ASSERT_TRUE(image.Format({32, 64 * 1024, 1}) && image.MakeDir("/Keep") &&
                image.MakeDir("/Gone"));
    std::map<std::string, std::vector<uint8_t>> mapDeleted = {
        {"/Gone/picture.png", ReadFileBytes(TestDataPath("samples/sample.png"))},
        {"/Gone/photo.jpg", ReadFileBytes(TestDataPath("samples/sample_big.jpg"))},
        {"/Gone/notes.bin", PatternBytes(7000, 7)}};
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> vecBytes = PatternBytes(1000 + 3000 * i, 100 + i);
        std::string strName = "/Keep/data" + std::to_string(i) + ".bin";
        ASSERT_TRUE(image.AddFile(strName, vecBytes));
        if (i % 2 == 0)
            mapDeleted[strName] = vecBytes;
    }
    for (const char* pGone : {"/Gone/picture.png", "/Gone/photo.jpg", "/Gone/notes.bin"})
        ASSERT_TRUE(image.AddFile(pGone, mapDeleted[pGone]));
    ASSERT_TRUE(image.Delete({"/Keep/data0.bin", "/Keep/data2.bin", "/Keep/data4.bin"}) &&
                image.DeleteTree("/Gone"));

    ASSERT_NO_FATAL_FAILURE(ScanAndRecover(image.Path()));
    for (const auto& [strName, vecBytes] : mapDeleted)
        EXPECT_EQ(Copies(vecBytes), 1u) << strName;
}

// A quick format leaves the old directory sectors and file data: the deep FAT engine and the
// carver bring the files back. Uncompressed dark screenshots are full of sectors that pass for
// directory entries; none of those may be listed.
TEST_F(ProfessionalRecoveryTest, QuickFormattedFatVolumeGivesItsFilesBackAndNoFalseEntries) {
    if (!CFatImageBuilder::HaveTools() || !HaveTool("convert"))
        SKIP_WITHOUT("mkfs.vfat, mtools and ImageMagick");
    CFatImageBuilder image(m_dir.File("reformatted.img"));
    ASSERT_TRUE(image.Format({32, 64 * 1024, 1}) && image.MakeDir("/Album"));
    std::map<std::string, std::vector<uint8_t>> mapFiles = {
        {"picture.png", ReadFileBytes(TestDataPath("samples/sample.png"))},
        {"photo.jpg", ReadFileBytes(TestDataPath("samples/sample_big.jpg"))},
        {"song.mp3", ReadFileBytes(TestDataPath("samples/sample.mp3"))},
        {"numbers.bin", PatternBytes(9000, 11)}};
    for (const char* pColour : {"#252526", "#1e1e1e", "#333333"}) {
        std::string strShot = m_dir.File(std::string("shot") + (pColour + 1) + ".bmp");
        ASSERT_TRUE(RunShell(
            std::string("convert -size 640x400 xc:'") + pColour +
            "' -fill '#2d2d30' -draw 'rectangle 0,0 200,400' BMP3:" + ShellQuote(strShot)));
        mapFiles[std::string("shot") + (pColour + 1) + ".bmp"] = ReadFileBytes(strShot);
    }
    for (const auto& [strName, vecBytes] : mapFiles)
        ASSERT_TRUE(image.AddFile("/Album/" + strName, vecBytes));
    ASSERT_TRUE(RunShell("mkfs.vfat -F 32 -s 1 " + ShellQuote(image.Path()) + " >/dev/null"));

    ASSERT_NO_FATAL_FAILURE(ScanAndRecover(image.Path()));
    for (const auto& [strName, vecBytes] : mapFiles)
        EXPECT_GE(Copies(vecBytes), 1u) << strName;
    const uint64_t u64VolumeSectors = 64 * 1024 * 2;
    for (const SEARCH_FILE_INFO& hit : m_vecHits) {
        if (hit.nEngineType != ENGINE_DEEP_FAT)
            continue;
        EXPECT_EQ(mapFiles.count(hit.szFileName), 1u) << "a false entry: " << hit.szFileName;
        const uint64_t u64First = hit.u64PartitionStartSector + hit.u64DataAreaSector +
                                  (hit.nClusterNo - 2ull) * (hit.nClusterBytes / 512);
        EXPECT_LE(u64First * 512 + hit.u64FileSize, u64VolumeSectors * 512) << hit.szFileName;
    }
}

// A FAT boot sector with one field zeroed still passes for FAT, but the fast engine refuses it:
// the deep pass then reads the whole volume and gives every file back, with its name.
TEST_F(ProfessionalRecoveryTest, BootSectorWithAZeroFieldStillGivesItsFiles) {
    if (!CFatImageBuilder::HaveTools())
        SKIP_WITHOUT("mkfs.vfat and mtools");
    struct ZERO_FIELD {
        int nFatBits;
        size_t nOffset;
    };
    for (ZERO_FIELD field : {ZERO_FIELD{16, BPB_RSVD_SEC_CNT}, ZERO_FIELD{16, BPB_ROOT_ENT_CNT},
                             ZERO_FIELD{32, BPB_RSVD_SEC_CNT}}) {
        CFatImageBuilder image(m_dir.File("field" + std::to_string(field.nOffset) + "_" +
                                          std::to_string(field.nFatBits) + ".img"));
        std::map<std::string, std::vector<uint8_t>> mapFiles;
        ASSERT_TRUE(image.Format({field.nFatBits, 64 * 1024, 0}) && image.MakeDir("/A") &&
                    image.MakeDir("/B"));
        for (int i = 0; i < 6; ++i) {
            std::string strName =
                std::string(i % 2 == 0 ? "A" : "B") + "/file" + std::to_string(i) + ".bin";
            mapFiles[strName] = PatternBytes(700 + 4000 * i, 300 + i);
            ASSERT_TRUE(image.AddFile("/" + strName, mapFiles[strName]));
        }
        ASSERT_TRUE(PatchFileBytes(image.Path(), field.nOffset, {0, 0}));
        ASSERT_NO_FATAL_FAILURE(ScanAndRecover(image.Path()));
        for (const auto& file : mapFiles)
            EXPECT_GE(Copies(file.second,
                             [&](const SEARCH_FILE_INFO& hit) {
                                 return file.first.ends_with(std::string("/") + hit.szFileName);
                             }),
                      1u)
                << "FAT" << field.nFatBits << ", field at " << field.nOffset << ": " << file.first;
    }
}

// A FAT volume inside a partitioned disk, its files all in the root (no two folders to infer a
// geometry from): the deep scan of the whole disk places them by the volume's boot sector, and
// reads a live fragmented file along its FAT chain.
TEST_F(ProfessionalRecoveryTest, FatVolumeInsideAPartitionedDiskIsPlacedByItsBootSector) {
    if (!CFatImageBuilder::HaveTools() || !HaveTool("sfdisk"))
        SKIP_WITHOUT("mkfs.vfat, mtools and sfdisk");
    constexpr uint64_t u64VolumeStart = 2048;
    constexpr uint32_t nVolumeKiB = 16 * 1024;
    CFatImageBuilder image(m_dir.File("volume.img"));
    std::map<std::string, std::vector<uint8_t>> mapFiles = {
        {"kept sums.bin", PatternBytes(3000, 42)},
        {"fragmented data.bin", PatternBytes(10000, 43)},
        {"old letter.bin", PatternBytes(5000, 44)},
        {"old ledger.bin", PatternBytes(7000, 45)}};
    // 2 KiB clusters: the fragmented file fills the 3 clusters the deleted AAA.BIN left and goes
    // on after the kept file.
    ASSERT_TRUE(image.Format({16, nVolumeKiB, 4}) &&
                image.AddFile("/AAA.BIN", PatternBytes(6000, 41)) &&
                image.AddFile("/kept sums.bin", mapFiles["kept sums.bin"]) &&
                image.Delete({"/AAA.BIN"}) && image.ResetNextFreeHint());
    for (const char* pName : {"fragmented data.bin", "old letter.bin", "old ledger.bin"})
        ASSERT_TRUE(image.AddFile(std::string("/") + pName, mapFiles[pName]));
    ASSERT_TRUE(image.AddFile("/beyond.bin", PatternBytes(2000, 46)));
    std::vector<uint32_t> vecFragmented = image.GetClusters("/fragmented data.bin");
    // beyond.bin's entry names a cluster past the volume's end, though still on the disk.
    int64_t llBeyond = image.FindEntryOffset("BEYOND  BIN", 0x20);
    ASSERT_GE(llBeyond, 0);
    ASSERT_TRUE(PatchFileBytes(image.Path(), llBeyond + 26, {0xF0, 0x1F}));
    ASSERT_TRUE(image.Delete({"/old letter.bin", "/old ledger.bin"}));
    ASSERT_TRUE(vecFragmented.size() == 5 && vecFragmented[2] + 1 != vecFragmented[3]);
    std::string strDisk = MakePartitionedImage(m_dir.File("disk.img"), 20,
                                               std::to_string(u64VolumeStart) + "," +
                                                   std::to_string(nVolumeKiB * 2) + ",6\\n");
    ASSERT_TRUE(PatchFileBytes(strDisk, u64VolumeStart * 512, ReadFileBytes(image.Path())));

    ASSERT_NO_FATAL_FAILURE(ScanAndRecover(strDisk));
    for (const auto& file : mapFiles)
        EXPECT_GE(Copies(file.second,
                         [&](const SEARCH_FILE_INFO& hit) {
                             return hit.szFileName == file.first &&
                                    hit.u64PartitionStartSector == u64VolumeStart;
                         }),
                  1u)
            << file.first;
    for (const SEARCH_FILE_INFO& hit : m_vecHits)
        EXPECT_STRCASENE(hit.szFileName, "beyond.bin");
}

// A disk with FAT32, NTFS and FAT16 partitions, scanned whole: every file of each partition,
// live or deleted, is listed once, by its name, in its folder, byte-exact, and read back by its
// number; nothing lands in a lost folder; a photo in the gap between partitions is still carved.
TEST_F(ProfessionalRecoveryTest, PartitionedDiskListsEachPartitionsFilesOnce) {
    if (!CFatImageBuilder::HaveTools() || !HaveTool("sfdisk") || !HaveTool("mkntfs") ||
        !HaveTool("ntfscp"))
        SKIP_WITHOUT("mkfs.vfat, mtools, sfdisk and the ntfs-3g tools");
    constexpr uint64_t FAT32_START = 2048, GAP_SECTOR = 71700, NTFS_START = 73728,
                       FAT16_START = 122880;
    constexpr size_t HIDDEN_SECTORS_OFFSET = 0x1C;
    struct PUT_FILE {
        uint64_t u64Start;
        std::string strFolder, strName;
        std::vector<uint8_t> vecBytes;
        bool bDeleted;
    };
    auto sample = [](const char* pName) { return ReadFileBytes(TestDataPath(pName)); };
    std::vector<PUT_FILE> vecFiles = {
        {FAT32_START, "Docs/", "Report 2024.pdf", sample("samples/sample.pdf"), false},
        {FAT32_START, "Docs/", "Letter Home.docx", sample("samples/sample.docx"), true},
        {FAT32_START, "Photos/Trip/", "Beach Day.jpg", sample("samples/sample_big.jpg"), true},
        {FAT32_START, "Photos/Trip/", "Route Map.png", sample("samples/sample.png"), false},
        {NTFS_START, "", "kept.odt", sample("samples/sample.odt"), false},
        {NTFS_START, "", "gone.flac", sample("samples/sample.flac"), true},
        {NTFS_START, "", "tiny.gif", sample("samples/sample.gif"), true},
        {FAT16_START, "Music/", "Tune One.ogg", sample("samples/sample.ogg"), false},
        {FAT16_START, "Music/", "Old Song.mp3", sample("samples/sample.mp3"), true},
        {FAT16_START, "", "Book Club.epub", sample("samples/sample.epub"), true}};
    CFatImageBuilder fat32(m_dir.File("fat32.img")), fat16(m_dir.File("fat16.img"));
    CNtfsImageBuilder ntfs(m_dir.File("ntfs.img"));
    ASSERT_TRUE(fat32.Format({32, 34 * 1024, 1}) && fat32.MakeDir("/Docs") &&
                fat32.MakeDir("/Photos") && fat32.MakeDir("/Photos/Trip"));
    ASSERT_TRUE(fat16.Format({16, 16 * 1024, 0}) && fat16.MakeDir("/Music"));
    ASSERT_TRUE(ntfs.Format(24 * MiB, 4096));
    for (const PUT_FILE& file : vecFiles) {
        std::string strPath = "/" + file.strFolder + file.strName;
        bool bPut =
            file.u64Start == NTFS_START
                ? ntfs.PutFile(strPath, file.vecBytes)
                : (file.u64Start == FAT32_START ? fat32 : fat16).AddFile(strPath, file.vecBytes);
        ASSERT_TRUE(bPut) << strPath;
    }
    for (const PUT_FILE& file : vecFiles) {
        std::string strPath = "/" + file.strFolder + file.strName;
        if (file.bDeleted) {
            ASSERT_TRUE(file.u64Start == NTFS_START
                            ? ntfs.DeleteInPlace(strPath)
                            : (file.u64Start == FAT32_START ? fat32 : fat16).Delete({strPath}));
        }
    }
    std::string strDisk = MakePartitionedImage(m_dir.File("disk.img"), 80,
                                               "2048,69632,c\\n73728,49152,7\\n122880,32768,6\\n");
    ASSERT_FALSE(strDisk.empty());
    for (auto [u64Start, strImage] :
         {std::pair{FAT32_START, fat32.Path()}, std::pair{NTFS_START, ntfs.Image()},
          std::pair{FAT16_START, fat16.Path()}}) {
        // Formatted inside a partition, a volume counts the sectors before it.
        ASSERT_TRUE(PatchFileBytes(strImage, HIDDEN_SECTORS_OFFSET,
                                   {uint8_t(u64Start), uint8_t(u64Start >> 8), 0, 0}));
        ASSERT_TRUE(PatchFileBytes(strDisk, u64Start * 512, ReadFileBytes(strImage)));
    }
    std::vector<uint8_t> vecGapPhoto = sample("samples/sample_exif.jpg");
    ASSERT_TRUE(PatchFileBytes(strDisk, GAP_SECTOR * 512, vecGapPhoto));

    ASSERT_NO_FATAL_FAILURE(ScanAndRecover(strDisk));
    std::unique_ptr<IFileRecoveryParse>& pEngine = m_pEngine;
    for (const PUT_FILE& file : vecFiles) {
        std::vector<size_t> vecCopies;
        for (size_t i = 0; i < m_vecHits.size(); ++i)
            if (m_vecDigests[i] == Sha256Of(file.vecBytes))
                vecCopies.push_back(i);
        ASSERT_EQ(vecCopies.size(), 1u) << file.strName;
        SEARCH_FILE_INFO& hit = m_vecHits[vecCopies[0]];
        EXPECT_EQ(hit.szFileName, file.strName);
        EXPECT_EQ(hit.u64PartitionStartSector, file.u64Start) << file.strName;
        EXPECT_EQ(hit.bIsDeleted, file.bDeleted ? 1u : 0u) << file.strName;
        char16_t szFolder[1024] = {};
        EXPECT_EQ(pEngine->GetFileNodeParentDirPath(&hit, szFolder, 1024), 0);
        EXPECT_EQ(Unicode2Ansi(szFolder), file.strFolder) << file.strName;
        FILE_NODE again{};
        ASSERT_EQ(pEngine->GetFileNodeByIndex(hit.nEngineType, hit.nFileIndex, &again), 0);
        EXPECT_EQ(std::memcmp(&again, &hit, sizeof(FILE_NODE)), 0) << file.strName;
    }
    EXPECT_EQ(Copies(vecGapPhoto,
                     [](const SEARCH_FILE_INFO& hit) {
                         return hit.nEngineType == ENGINE_FILE_TYPE &&
                                hit.u64LocationSector == GAP_SECTOR;
                     }),
              1u);
    for (const auto& [strPath, node] : CollectTree(*pEngine))
        EXPECT_EQ(strPath.find("LostFolder"), std::string::npos) << strPath;

    // Reopened, the finished scan reloads each partition's stores: the same hits, same numbers.
    pEngine = MakeDeepEngine(strDisk);
    ASSERT_EQ(static_cast<CProfessionalRecovery&>(*pEngine).IsFindLogFile(), 1);
    CScanRecord record;
    ASSERT_EQ(Scan(*pEngine, record, false), 0);
    std::vector<SEARCH_FILE_INFO> vecReopened = SearchAll(*pEngine);
    ASSERT_EQ(vecReopened.size(), m_vecHits.size());
    for (size_t i = 0; i < vecReopened.size(); ++i)
        EXPECT_EQ(std::memcmp(&vecReopened[i], &m_vecHits[i], sizeof(FILE_NODE)), 0)
            << m_vecHits[i].szFileName;
}

TEST_F(ProfessionalRecoveryTest, NtfsDeletedFilesComeBackOnceEach) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
        SKIP_WITHOUT("the ntfs-3g tools");
    CNtfsImageBuilder image(m_dir.File("ntfs.img"));
    ASSERT_TRUE(image.Format(64 * MiB, 4096));
    std::map<std::string, std::vector<uint8_t>> mapFiles = {
        {"/small.txt", PatternBytes(300, 1)},
        {"/medium.bin", PatternBytes(20000, 2)},
        {"/picture.png", ReadFileBytes(TestDataPath("samples/sample.png"))},
        {"/kept.bin", PatternBytes(5000, 3)},
    };
    for (const auto& [strPath, vecBytes] : mapFiles)
        ASSERT_TRUE(image.PutFile(strPath, vecBytes));
    for (const char* pGone : {"/small.txt", "/medium.bin", "/picture.png"})
        ASSERT_TRUE(image.DeleteInPlace(pGone));

    ASSERT_NO_FATAL_FAILURE(ScanAndRecover(image.Image()));
    for (const char* pGone : {"/small.txt", "/medium.bin", "/picture.png"})
        EXPECT_EQ(Copies(mapFiles[pGone],
                         [&](const SEARCH_FILE_INFO& hit) {
                             return std::string("/") + hit.szFileName == pGone;
                         }),
                  1u)
            << pGone;
}

// A stopped scan is taken up where it stopped, counting from what its stores already hold; it is
// taken up only for the very image it was made of, unchanged.
TEST_F(ProfessionalRecoveryTest, StoppedScanResumesWithItsCountOnlyOnTheSameImage) {
    if (!CFatImageBuilder::HaveTools())
        SKIP_WITHOUT("mkfs.vfat and mtools");
    CFatImageBuilder image(m_dir.File("resume.img"));
    ASSERT_TRUE(image.Format({32, 64 * 1024, 1}));
    std::vector<uint8_t> vecPng = ReadFileBytes(TestDataPath("samples/sample.png"));
    std::vector<std::string> vecGone;
    for (int i = 0; i < 40; ++i) {
        vecGone.push_back("/p" + std::to_string(i) + ".png");
        ASSERT_TRUE(image.AddFile(vecGone.back(), vecPng));
    }
    ASSERT_TRUE(image.Delete(vecGone));
    std::string strTwin = m_dir.File("twin.img");
    ASSERT_TRUE(WriteFileBytes(strTwin, ReadFileBytes(image.Path())));

    std::unique_ptr<IFileRecoveryParse> pFirst = MakeDeepEngine(image.Path());
    ASSERT_NE(pFirst, nullptr);
    CScanRecord stopped;
    stopped.nStopAtPassReport = 3;
    EXPECT_EQ(Scan(*pFirst, stopped), 1);
    EXPECT_FALSE(stopped.SawFinalReport());
    const unsigned int nFoundAtStop = pFirst->GetLostFileCount();
    pFirst.reset();
    const std::vector<LOG_FILE_INFO>& vecRecords = CLogFileManager::GetInstance()->GetRecords();
    ASSERT_EQ(vecRecords.size(), 1u);
    EXPECT_GT(vecRecords[0].u64SectorsDone, 0u);
    EXPECT_EQ(vecRecords[0].u64FilesFound, nFoundAtStop);

    // The same bytes under another path are another disk.
    std::unique_ptr<IFileRecoveryParse> pTwin = MakeDeepEngine(strTwin);
    EXPECT_EQ(static_cast<CProfessionalRecovery&>(*pTwin).IsFindLogFile(), 0);

    std::unique_ptr<IFileRecoveryParse> pSecond = MakeDeepEngine(image.Path());
    auto& deep = static_cast<CProfessionalRecovery&>(*pSecond);
    ASSERT_EQ(deep.IsFindLogFile(), 1);
    CScanRecord resumed;
    EXPECT_EQ(Scan(*pSecond, resumed, false), 0);
    EXPECT_TRUE(resumed.SawFinalReport());
    ASSERT_FALSE(resumed.vecPassFiles.empty());
    EXPECT_GE(resumed.vecPassFiles.front(), nFoundAtStop);
    EXPECT_LT(resumed.vecPassFiles.front(), 2u * nFoundAtStop) << "counted once, not twice";
    std::vector<SEARCH_FILE_INFO> vecHits = Search(*pSecond);
    size_t nPng = 0;
    for (const SEARCH_FILE_INFO& hit : vecHits)
        nPng += std::string(hit.szFileName).ends_with(".png");
    EXPECT_GE(nPng, 40u);
    pSecond.reset();

    // Written to since: the stored scan is dropped rather than taken up.
    ASSERT_TRUE(PatchFileBytes(image.Path(), 64 * MiB - 512, {1}));
    std::unique_ptr<IFileRecoveryParse> pChanged = MakeDeepEngine(image.Path());
    EXPECT_EQ(static_cast<CProfessionalRecovery&>(*pChanged).IsFindLogFile(), 0);
}

TEST_F(ProfessionalRecoveryTest, FactoryPicksEnginesByVolumeAndType) {
    ASSERT_TRUE(WriteFileBytes(m_dir.File("blank.img"), std::vector<uint8_t>(MiB, 0)));
    int nDisk = CDiskRegistry::GetInstance().AddImage(m_dir.File("blank.img"));
    CFileRecoveryFactory* pFactory = CFileRecoveryFactory::GetInstance();
    EXPECT_EQ(pFactory->CreateFileRecoveryInstance(nDisk, 0, 2048, u'C', RECOVERY_TYPE_FAST),
              nullptr);
    std::unique_ptr<IFileRecoveryParse> pDeep(
        pFactory->CreateFileRecoveryInstance(nDisk, 0, 2048, u'C', RECOVERY_TYPE_DEEP));
    EXPECT_NE(dynamic_cast<CProfessionalRecovery*>(pDeep.get()), nullptr);
    // Fewer than 16 KiB left at the end of the disk: no engine.
    EXPECT_EQ(pFactory->CreateFileRecoveryInstance(nDisk, 2040, 8, u'C', RECOVERY_TYPE_DEEP),
              nullptr);
    std::vector<FILE_NODE> vecTop;
    EXPECT_EQ(pDeep->GetChildrenFileNode(nullptr, 3, vecTop), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(pDeep->SaveFileData(nullptr, u"/tmp/x", 0), ERROR_INVALID_PARAMETER);
}

} // namespace
