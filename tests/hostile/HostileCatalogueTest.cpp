// The hostile catalogue: FAT16, FAT32, NTFS and partitioned images made by the real tools, then
// broken one named field at a time (boot sectors, directory entries, FAT chains, MFT records,
// partition tables) and at seeded random places, each scanned and recovered by orvanne-cli.
// Every run must end by itself with a status that tells the truth, change nothing it reads,
// write nothing outside its destination, and leave no file under its final name that is not
// complete.
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "util/ByteView.h"
#include "util/CSha256.h"
#include "util/TextUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

constexpr int RUN_SECONDS = 60;
constexpr uint64_t SECTOR = 512;
constexpr int RANDOM_CASES = 16;
// The sanitizer tree runs every third case: the same code paths at a third of the cost.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t CASE_STRIDE = 3;
#elif defined(__has_feature)
constexpr size_t CASE_STRIDE = __has_feature(address_sanitizer) ? 3 : 1;
#else
constexpr size_t CASE_STRIDE = 1;
#endif
constexpr int RANDOM_WRITES = 12;

// One break of a base image: bytes written at an offset.
struct PATCH {
    uint64_t u64Offset;
    std::vector<uint8_t> vecBytes;
};
struct CASE {
    std::string strName;
    std::vector<PATCH> vecPatches;
};

std::vector<uint8_t> Le(uint64_t u64Value, size_t nBytes) {
    std::vector<uint8_t> vecBytes(nBytes);
    for (size_t i = 0; i < nBytes; ++i)
        vecBytes[i] = uint8_t(u64Value >> (8 * i));
    return vecBytes;
}

// A field given several hostile values, one case each.
void AddField(std::vector<CASE>& vecCases, const std::string& strField, uint64_t u64Offset,
              size_t nBytes, std::initializer_list<uint64_t> values) {
    for (uint64_t u64Value : values)
        vecCases.push_back(
            {strField + "=" + std::to_string(u64Value), {{u64Offset, Le(u64Value, nBytes)}}});
}

// Seeded random writes inside [u64From, u64To): the kind of damage a failing disk leaves.
void AddRandom(std::vector<CASE>& vecCases, const std::string& strName, uint64_t u64From,
               uint64_t u64To) {
    for (int nSeed = 1; nSeed <= RANDOM_CASES; ++nSeed) {
        std::mt19937_64 rng(nSeed);
        CASE one{strName + " seed " + std::to_string(nSeed), {}};
        for (int i = 0; i < RANDOM_WRITES; ++i)
            one.vecPatches.push_back({u64From + rng() % (u64To - u64From),
                                      PatternBytes(1 + rng() % 8, uint32_t(rng()))});
        vecCases.push_back(one);
    }
}

// The paths on the lines of the recovery listing that start with the word.
std::vector<std::string> ListedPaths(const std::string& strOut, const std::string& strWord) {
    std::vector<std::string> vecPaths;
    std::istringstream lines(strOut);
    for (std::string strLine; std::getline(lines, strLine);) {
        if (strLine.rfind(strWord + " ", 0) != 0)
            continue;
        size_t nStart = strLine.find_first_not_of(' ', strWord.size());
        size_t nEnd = strLine.find("  (", nStart);
        vecPaths.push_back(
            strLine.substr(nStart, nEnd == std::string::npos ? nEnd : nEnd - nStart));
    }
    return vecPaths;
}

class HostileCatalogueTest : public CFatToolsTest {
protected:
    // A volume of real files, some deleted, one folder deleted whole.
    std::string MakeFat(int nBits, uint32_t nSizeKiB) {
        CFatImageBuilder image(m_dir.File("fat" + std::to_string(nBits) + ".img"));
        std::vector<uint8_t> vecJpg = ReadFileBytes(TestDataPath("samples/sample_jfif.jpg"));
        std::vector<uint8_t> vecPng = ReadFileBytes(TestDataPath("samples/sample.png"));
        EXPECT_TRUE(
            image.Format({nBits, nSizeKiB, 1}) && image.MakeDir("/Docs") &&
            image.MakeDir("/Docs/Old") && image.AddFile("/keep.txt", PatternBytes(5000, 1)) &&
            image.AddFile("/Docs/photo.jpg", vecJpg) &&
            image.AddFile("/Docs/A rather long file name.png", vecPng) &&
            image.AddFile("/Docs/Old/notes.bin", PatternBytes(20000, 2)) &&
            image.AddFile("/LOST.BIN", PatternBytes(9000, 3)) &&
            image.Delete({"/Docs/photo.jpg", "/LOST.BIN"}) && image.DeleteTree("/Docs/Old"));
        return image.Path();
    }

    // Runs scan and recover on a broken copy of the base and checks every promise.
    void Check(const std::string& strBase, const CASE& one) {
        SCOPED_TRACE(one.strName);
        std::string strCase = m_dir.File("case");
        fs::remove_all(strCase);
        fs::create_directories(strCase + "/logs");
        std::string strImage = strCase + "/disk.img";
        fs::copy_file(strBase, strImage);
        for (const PATCH& patch : one.vecPatches)
            ASSERT_TRUE(PatchFileBytes(strImage, patch.u64Offset, patch.vecBytes));
        std::string strSha = CSha256::OfFile(strImage);
        std::string strEnv = "HOME=" + strCase + " ORVANNE_SCANLOG_DIR=" + strCase + "/logs";
        std::string strTarget = strImage + (m_bPartitioned ? " --partition 1" : "");

        CLI_RUN scan =
            RunCli("scan " + strTarget + " --json " + strCase + "/hits.json", strEnv, RUN_SECONDS);
        ExpectTruthfulStatus(scan);
        std::map<std::string, std::set<uint64_t>> mapSizes;
        if (scan.nStatus == 0)
            for (const auto& hit : nlohmann::json::parse(ReadFileText(strCase + "/hits.json")))
                mapSizes[hit["name"].get<std::string>()].insert(hit["size"].get<uint64_t>());

        CLI_RUN recover = RunCli("recover " + strTarget + " --to " + strCase + "/out --report " +
                                     strCase + "/report.xml",
                                 strEnv, RUN_SECONDS);
        ExpectTruthfulStatus(recover);
        EXPECT_EQ(CSha256::OfFile(strImage), strSha) << "the image was written to";
        for (const auto& entry : fs::directory_iterator(strCase))
            EXPECT_TRUE(
                std::set<std::string>({"disk.img", "logs", "hits.json", "out", "report.xml"})
                    .count(entry.path().filename().string()))
                << "written outside the destination: " << entry.path();
        ExpectOnlyWholeFiles(recover, strCase + "/out", mapSizes);
        if (fs::exists(strCase + "/report.xml")) {
            std::string strXml = ReadFileText(strCase + "/report.xml");
            EXPECT_EQ(MakeValidUtf8(strXml), strXml);
            for (unsigned char c : strXml)
                EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\t' || c == '\r') << int(c);
        }
    }

    static void ExpectTruthfulStatus(const CLI_RUN& run) {
        EXPECT_TRUE(run.nStatus == 0 || run.nStatus == 1 || run.nStatus == 2)
            << "status " << run.nStatus << " (124: it hung; above 128: a signal)\n"
            << run.strErr;
        bool bFailures = !ListedPaths(run.strOut, "FAILED").empty() ||
                         !ListedPaths(run.strOut, "DAMAGED").empty();
        if (run.nStatus == 0) {
            EXPECT_FALSE(bFailures) << run.strOut;
        } else if (run.nStatus == 1) {
            EXPECT_TRUE(bFailures) << run.strOut;
        } else if (run.nStatus == 2) {
            EXPECT_NE(run.strErr.find("orvanne-cli: "), std::string::npos) << run.strErr;
        }
    }

    // Every file in the destination was listed as written, with a size the scan found for its
    // name; no partial copy is left; nothing listed as failed exists.
    static void ExpectOnlyWholeFiles(const CLI_RUN& run, const std::string& strOut,
                                     const std::map<std::string, std::set<uint64_t>>& mapSizes) {
        std::vector<std::string> vecListed = ListedPaths(run.strOut, "OK");
        for (const std::string& strDamaged : ListedPaths(run.strOut, "DAMAGED"))
            vecListed.push_back(strDamaged);
        std::set<std::string> setListed(vecListed.begin(), vecListed.end());
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(strOut, ec)) {
            if (entry.is_directory())
                continue;
            std::string strPath = EscapeControlChars(entry.path().string());
            EXPECT_EQ(setListed.count(strPath), 1u) << "not listed as written: " << strPath;
            auto it = mapSizes.find(entry.path().filename().string());
            if (it != mapSizes.end()) {
                EXPECT_EQ(it->second.count(entry.file_size()), 1u) << strPath;
            }
        }
        for (const std::string& strFailed : ListedPaths(run.strOut, "FAILED"))
            EXPECT_FALSE(fs::exists(strFailed)) << strFailed;
    }

    void CheckAll(const std::string& strBase, const std::vector<CASE>& vecCases) {
        Check(strBase, {"unbroken", {}});
        for (size_t i = 0; i < vecCases.size(); i += CASE_STRIDE)
            Check(strBase, vecCases[i]);
    }

    CTempDir m_dir;
    bool m_bPartitioned = false;
};

// Boot-sector fields of FAT16 and FAT32 (offsets as Microsoft's FAT documentation names them).
void AddFatBootCases(std::vector<CASE>& vecCases, bool bFat32) {
    AddField(vecCases, "BPB_BytsPerSec", 11, 2, {0, 1, 256, 4096, 0xFFFF});
    AddField(vecCases, "BPB_SecPerClus", 13, 1, {0, 3, 128, 255});
    AddField(vecCases, "BPB_RsvdSecCnt", 14, 2, {0, 0xFFFF});
    AddField(vecCases, "BPB_NumFATs", 16, 1, {0, 255});
    AddField(vecCases, "BPB_RootEntCnt", 17, 2, {0, 1, 0xFFFF});
    AddField(vecCases, "BPB_TotSec16", 19, 2, {0xFFFF});
    AddField(vecCases, "BPB_FATSz16", 22, 2, {0, 0xFFFF});
    AddField(vecCases, "BPB_TotSec32", 32, 4, {0, 0xFFFFFFFF});
    AddField(vecCases, "BS_Signature", 510, 2, {0});
    if (bFat32) {
        AddField(vecCases, "BPB_FATSz32", 36, 4, {0, 0xFFFFFFFF});
        AddField(vecCases, "BPB_RootClus", 44, 4, {0, 1, 0x0FFFFFFF});
    }
    // The half-valid sector of the report: 4096 bytes per sector, 0 reserved, 255 FATs, 65,535
    // root entries.
    vecCases.push_back(
        {"half-valid", {{11, Le(4096, 2)}, {14, Le(0, 2)}, {16, {0xFF, 0xFF, 0xFF}}}});
}

TEST_F(HostileCatalogueTest, Fat16BootSector) {
    std::vector<CASE> vecCases;
    AddFatBootCases(vecCases, false);
    AddRandom(vecCases, "random boot and FAT", 0, 64 * 1024);
    CheckAll(MakeFat(16, 16 * 1024), vecCases);
}

TEST_F(HostileCatalogueTest, Fat32BootSector) {
    std::vector<CASE> vecCases;
    AddFatBootCases(vecCases, true);
    AddRandom(vecCases, "random boot and FAT", 0, 600 * 1024);
    CheckAll(MakeFat(32, 34 * 1024), vecCases);
}

// The deleted file's entry, its long name, its folder's "." entry and its FAT chain.
TEST_F(HostileCatalogueTest, FatEntriesAndChains) {
    std::string strBase = MakeFat(16, 16 * 1024);
    CFatImageBuilder image(strBase);
    int64_t llLost = image.FindEntryOffset("\xE5OST    BIN", 0x20);
    int64_t llPhoto = image.FindEntryOffset("\xE5HOTO   JPG", 0x20);
    int64_t llLong = image.FindEntryOffset("ARATHE~1PNG", 0x20);
    ASSERT_TRUE(llLost > 0 && llPhoto > 0 && llLong > 32)
        << llLost << " " << llPhoto << " " << llLong;
    std::vector<uint32_t> vecKeep = image.GetClusters("/keep.txt");
    std::vector<uint8_t> vecBoot = ReadFileBytes(strBase);
    ASSERT_TRUE(!vecKeep.empty() && vecBoot.size() > 16);
    // FAT16: the entry of a cluster is two bytes at BPB_RsvdSecCnt sectors + 2 * cluster.
    uint64_t u64FatEntry = LoadU16LE(&vecBoot[14]) * SECTOR + uint64_t(vecKeep[0]) * 2;
    std::vector<CASE> vecCases;
    for (int64_t llEntry : {llLost, llPhoto}) {
        std::string strWhich = llEntry == llLost ? "LOST.BIN " : "photo.jpg ";
        AddField(vecCases, strWhich + "DIR_FileSize", llEntry + 28, 4, {0, 0xFFFFFFFF, 0x7FFFFFFF});
        AddField(vecCases, strWhich + "DIR_FstClusLO", llEntry + 26, 2, {0, 1, 0xFFFF});
        AddField(vecCases, strWhich + "DIR_Attr", llEntry + 11, 1, {0x0F, 0x10, 0xFF});
        vecCases.push_back(
            {strWhich + "name '..'",
             {{uint64_t(llEntry), {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}}}});
        vecCases.push_back(
            {strWhich + "name with '/' and ESC", {{uint64_t(llEntry) + 1, {'/', 0x1B}}}});
    }
    // The long name: a '/', an unpaired surrogate, a control character, a wild ordinal.
    uint64_t u64Part = uint64_t(llLong) - 32;
    vecCases.push_back({"long name '/'", {{u64Part + 1, Le('/', 2)}}});
    vecCases.push_back({"long name surrogate", {{u64Part + 3, Le(0xD800, 2)}}});
    vecCases.push_back({"long name ESC", {{u64Part + 5, Le(0x1B, 2)}}});
    AddField(vecCases, "LDIR_Ord", u64Part, 1, {0x00, 0x7F, 0x54});
    AddField(vecCases, "keep.txt FAT entry", u64FatEntry, 2, {vecKeep[0], 1, 0xFFF7, 0});
    CheckAll(strBase, vecCases);
}

// NTFS: boot-sector fields, then the deleted file's MFT record.
TEST_F(HostileCatalogueTest, NtfsBootSectorAndRecords) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
        SKIP_WITHOUT("ntfs-3g tools");
    CNtfsImageBuilder image(m_dir.File("ntfs.img"));
    ASSERT_TRUE(
        image.Format(16 * 1024 * 1024, 4096) &&
        image.PutFile("/photo.jpg", ReadFileBytes(TestDataPath("samples/sample_jfif.jpg"))) &&
        image.PutFile("/big.bin", PatternBytes(300000, 4)) &&
        image.PutFile("/small.txt", PatternBytes(300, 5)));
    int64_t llRecord = image.GetRecordNumber("/big.bin");
    ASSERT_GE(llRecord, 0);
    ASSERT_TRUE(image.DeleteInPlace("/big.bin") && image.DeleteInPlace("/photo.jpg"));
    std::vector<uint8_t> vecBoot = ReadFileBytes(image.Image());
    ASSERT_GE(vecBoot.size(), 512u);
    uint64_t u64Cluster = uint64_t(LoadU16LE(&vecBoot[11])) * vecBoot[13];
    uint64_t u64Record = u64Cluster * LoadU64LE(&vecBoot[0x30]) + uint64_t(llRecord) * 1024;

    std::vector<CASE> vecCases;
    AddField(vecCases, "BytesPerSector", 11, 2, {0, 1, 4096, 0xFFFF});
    AddField(vecCases, "SectorsPerCluster", 13, 1, {0, 3, 0x80, 0xF4});
    AddField(vecCases, "TotalSectors", 0x28, 8, {0, 0xFFFFFFFFFFFFFFFF});
    AddField(vecCases, "MftLcn", 0x30, 8, {0, 0xFFFFFFFF, 0x7FFFFFFFFFFFFFFF});
    AddField(vecCases, "ClustersPerMftRecord", 0x40, 1, {0, 1, 0x7F, 0x80, 0xE0});
    AddField(vecCases, "record UsaOffset", u64Record + 4, 2, {0, 0x3FF, 0xFFFF});
    AddField(vecCases, "record UsaCount", u64Record + 6, 2, {0, 0xFFFF});
    AddField(vecCases, "record FirstAttribute", u64Record + 0x14, 2, {0, 0x3F8, 0xFFFF});
    AddField(vecCases, "record BytesInUse", u64Record + 0x18, 4, {0, 0xFFFFFFFF});
    AddRandom(vecCases, "random record", u64Record, u64Record + 1024);
    AddRandom(vecCases, "random boot and MFT", 0,
              u64Cluster * LoadU64LE(&vecBoot[0x30]) + 64 * 1024);
    CheckAll(image.Image(), vecCases);
}

// An MBR disk holding the FAT16 volume at sector 2048: entries past the disk, looping chains.
TEST_F(HostileCatalogueTest, PartitionTables) {
    std::string strVolume = MakeFat(16, 16 * 1024);
    std::string strDisk = MakePartitionedImage(m_dir.File("disk.img"), 20, "2048,32768,6\\n");
    ASSERT_TRUE(PatchFileBytes(strDisk, 2048 * SECTOR, ReadFileBytes(strVolume)));
    m_bPartitioned = true;
    constexpr uint64_t ENTRY = 446;
    std::vector<CASE> vecCases;
    AddField(vecCases, "entry start", ENTRY + 8, 4, {0, 1, 40960, 0xFFFFFFFF});
    AddField(vecCases, "entry count", ENTRY + 12, 4, {0, 1, 0xFFFFF7FF});
    AddField(vecCases, "entry type", ENTRY + 4, 1, {0x05, 0x0F, 0xEE});
    // An extended entry whose first EBR points back at itself, and a second one at sector 0.
    vecCases.push_back(
        {"EBR loop",
         {{ENTRY + 16, {0, 0, 0, 0, 0x05, 0, 0, 0, 0x00, 0x50, 0, 0, 1, 0, 0, 0}},
          {0x5000 * SECTOR + ENTRY, {0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
          {0x5000 * SECTOR + 510, {0x55, 0xAA}}}});
    vecCases.push_back({"GPT past the disk",
                        {{512, {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'}},
                         {1024 + 32, Le(2048, 8)},
                         {1024 + 40, Le(0xFFFFFFFFFFFF, 8)}}});
    vecCases.push_back({"APM with 1000 entries", {{0, {'E', 'R'}}, {516, {0, 0, 0x03, 0xE8}}}});
    AddRandom(vecCases, "random table", ENTRY, 512);
    CheckAll(strDisk, vecCases);
}

} // namespace
