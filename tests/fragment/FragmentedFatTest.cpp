// Deleted files that mtools wrote around other files on FAT32, FAT16 and FAT12: the volume is
// filled with gaps and keepers, the gaps are deleted, files of the formats that can be proved
// fill the gaps and run on past the keepers, then they are deleted too.
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/BootSectorLayout.h"
#include "device/CDiskRegistry.h"
#include "fat/CFastFatRecovery.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/proof/CFileProof.h"
#include "util/ByteView.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>

namespace {

constexpr int GAP_COUNT = 80;
constexpr size_t GAP_BYTES = 1024; // two 512-byte clusters
constexpr size_t KEEPER_BYTES = 300;

// Name in the image -> the committed sample (made by real tools) written under it.
const std::pair<const char*, const char*> FRAGMENTED_FILES[] = {
    {"pjpg.jpg", "sample_exifthumb.jpg"}, {"pzip.zip", "sample.zip"},    {"pgz.gz", "sample.gz"},
    {"ppdf.pdf", "sample.pdf"},           {"pflac.flac", "sample.flac"}, {"pogg.ogg", "sample.ogg"},
    {"pmp3.mp3", "sample_mpeg1.mp3"},     {"podt.odt", "sample.odt"},
};

std::vector<uint8_t> Sample(const std::string& strName) {
    return ReadFileBytes(TestDataPath("samples/" + strName));
}

// What the scan calls a deleted file: its first letter is gone.
std::string DeletedName(const std::string& strName) {
    return "!" + strName.substr(1);
}

// Gaps and keepers sort in turn, so mcopy writes them in turn.
std::string GapName(int i, char cKind = 'g') {
    char szName[16];
    std::snprintf(szName, sizeof(szName), "x%03d%c.bin", i, cKind);
    return szName;
}

class FragmentedFatTest : public CFatToolsTest {
protected:
    int Scan(const std::string& strImage) {
        int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
        uint64_t u64Sectors = std::filesystem::file_size(strImage) / 512;
        if (int rc = m_engine.Init(nDisk, 0, static_cast<long long>(u64Sectors), u'C'); rc != 0)
            return rc;
        int rc = m_engine.ScanDevice(nullptr);
        m_mapFound = CollectTree(m_engine);
        return rc;
    }

    std::vector<uint8_t> CopyOut(const std::string& strFound, int& rc) {
        return CopyOutNode(m_engine, m_mapFound.at(strFound),
                           m_dir.File("out" + std::to_string(m_nCopies++)), rc);
    }

    // Gaps and keepers in turn, the gaps deleted, then the files written from the first gap on
    // (FAT32: the allocation hint set back), checked to be fragmented and deleted (unless the
    // caller writes more first: mtools would give their entries to the next files).
    bool BuildFragmented(CFatImageBuilder& image, const FAT_IMAGE_FORMAT& format,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files,
                         bool bDelete = true) {
        const std::string strHost = m_dir.File("tree" + std::to_string(format.nFatBits));
        std::filesystem::create_directories(strHost);
        std::vector<std::string> vecGaps;
        for (int i = 0; i < GAP_COUNT; ++i) {
            vecGaps.push_back("/" + GapName(i));
            WriteFileBytes(strHost + "/" + GapName(i), PatternBytes(GAP_BYTES, 100 + i));
            WriteFileBytes(strHost + "/" + GapName(i, 'k'), PatternBytes(KEEPER_BYTES, 300 + i));
        }
        if (!image.Format(format) || !image.CopyTree(strHost) || !image.Delete(vecGaps) ||
            (format.nFatBits == 32 && !image.ResetNextFreeHint()))
            return false;
        std::vector<std::string> vecWritten;
        for (const auto& [strName, bytes] : files) {
            if (!image.AddFile("/" + strName, bytes))
                return false;
            std::vector<uint32_t> clusters = image.GetClusters("/" + strName);
            EXPECT_NE(clusters.end(),
                      std::adjacent_find(clusters.begin(), clusters.end(),
                                         [](uint32_t a, uint32_t b) { return a + 1 != b; }))
                << strName << " was written in one piece";
            vecWritten.push_back("/" + strName);
        }
        return !bDelete || image.Delete(vecWritten);
    }

    // The deep scan of a whole disk, as the command line runs it (or the stored scan taken up
    // again); its FAT hits by name, from the partition's walk or the deep FAT engine.
    void ScanWholeDisk(const std::string& strDisk, bool bFresh = true) {
        const int nDisk = CDiskRegistry::GetInstance().AddImage(strDisk);
        m_pDeep.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            nDisk, 0, static_cast<long long>(std::filesystem::file_size(strDisk) / 512), u'C',
            RECOVERY_TYPE_DEEP));
        ASSERT_NE(m_pDeep, nullptr);
        if (bFresh)
            static_cast<CProfessionalRecovery&>(*m_pDeep).SetNotLoadLogFile();
        ASSERT_EQ(0, m_pDeep->ScanDevice(nullptr));
        m_mapDeepHits.clear();
        for (const SEARCH_FILE_INFO& hit : SearchAll(*m_pDeep))
            if (hit.nEngineType == ENGINE_DEEP_FAT || hit.nEngineType == ENGINE_FAST_FAT)
                m_mapDeepHits[hit.szFileName] = hit;
    }

    SEARCH_FILE_INFO* FindDeepHit(const std::string& strName) {
        for (const std::string& strFound : {strName, DeletedName(strName)})
            if (auto it = m_mapDeepHits.find(strFound); it != m_mapDeepHits.end())
                return &it->second;
        return nullptr;
    }

    std::string Keys() const {
        std::string strKeys;
        for (const auto& [strKey, node] : m_mapFound)
            strKeys += strKey + " ";
        return strKeys;
    }

    CTempDir m_dir;
    CScanLogDirScope m_logs;
    CFastFatRecovery m_engine;
    std::map<std::string, FILE_NODE> m_mapFound;
    std::unique_ptr<IFileRecoveryParse> m_pDeep;
    std::map<std::string, SEARCH_FILE_INFO> m_mapDeepHits;
    int m_nCopies = 0;
};

} // namespace

TEST_F(FragmentedFatTest, DeletedFilesWrittenAroundOthersComeBackWholeAndProved) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const auto& [pName, pSample] : FRAGMENTED_FILES)
        files.emplace_back(pName, Sample(pSample));
    files.emplace_back("pbin.bin", PatternBytes(5000, 9)); // no format to prove it by
    for (const FAT_IMAGE_FORMAT& format :
         {FAT_IMAGE_FORMAT{32, 65536, 1}, FAT_IMAGE_FORMAT{16, 16384, 1},
          FAT_IMAGE_FORMAT{12, 2048, 1}}) {
        SCOPED_TRACE("FAT" + std::to_string(format.nFatBits));
        CFatImageBuilder image(m_dir.File("frag" + std::to_string(format.nFatBits) + ".img"));
        ASSERT_TRUE(BuildFragmented(image, format, files));
        ASSERT_EQ(0, Scan(image.Path()));
        for (const auto& [strName, bytes] : files) {
            // A long name whose entries survived is shown as it was.
            const std::string strFound =
                m_mapFound.count(strName) != 0 ? strName : DeletedName(strName);
            ASSERT_EQ(1u, m_mapFound.count(strFound)) << strFound << " among " << Keys();
            int rc = -1;
            EXPECT_EQ(bytes, CopyOut(strFound, rc)) << strFound;
            EXPECT_EQ(0, rc) << strFound;
            EXPECT_STREQ(strName == "pbin.bin" ? "unchecked" : "whole",
                         CFileProof::GetStateName(m_mapFound[strFound].nDataHealth))
                << strFound;
            std::vector<FILE_DATA_RUN> vecRuns;
            ASSERT_TRUE(m_engine.GetFileDataRuns(&m_mapFound[strFound], vecRuns));
            EXPECT_GT(vecRuns.size(), 1u) << strFound << ": one run for each piece";
            EXPECT_EQ(bytes.size(), vecRuns.back().u64FileOffset + vecRuns.back().u64Bytes);
        }
        // The gaps were never overwritten whole: the last one still reads contiguously.
        int rc = -1;
        EXPECT_EQ(PatternBytes(GAP_BYTES, 100 + GAP_COUNT - 1),
                  CopyOut(DeletedName(GapName(GAP_COUNT - 1)), rc));
    }
}

TEST_F(FragmentedFatTest, AFileWhosePiecesCannotBeToldApartIsMarkedDamaged) {
    // The keepers between the JPEG's pieces are deleted as well: every cluster after its first
    // is free, the contiguous reading takes the keepers' bytes, and it does not decode. The ZIP
    // after it runs past one deleted keeper and two live ones: its pieces join in two.
    CFatImageBuilder image(m_dir.File("damaged.img"));
    const std::vector<uint8_t> jpeg = Sample("sample_exifthumb.jpg");
    const std::vector<uint8_t> zip = Sample("sample.zip");
    ASSERT_TRUE(BuildFragmented(image, {32, 65536, 1}, {{"pjpg.jpg", jpeg}, {"pzip.zip", zip}}));
    std::vector<std::string> vecKeepers;
    for (int i : {0, 1, 2, 3, 5})
        vecKeepers.push_back("/" + GapName(i, 'k'));
    ASSERT_TRUE(image.Delete(vecKeepers));

    CLI_RUN scan = RunCli("scan --fast --json " + ShellQuote(m_dir.File("hits.json")) + " " +
                              ShellQuote(image.Path()),
                          "ORVANNE_SCANLOG_DIR=" + ShellQuote(m_logs.Path()));
    ASSERT_EQ(0, scan.nStatus) << scan.strErr;
    std::map<std::string, std::string> mapState;
    for (const auto& hit : nlohmann::json::parse(ReadFileBytes(m_dir.File("hits.json"))))
        mapState[hit["name"].get<std::string>()] = hit["state"].get<std::string>();
    EXPECT_EQ("damaged", mapState["!jpg.jpg"]);
    EXPECT_EQ("whole", mapState["!zip.zip"]);
    EXPECT_NE(scan.strOut.find("1 proved whole by decoding, 1 damaged"), std::string::npos)
        << scan.strOut;

    CLI_RUN recover = RunCli("recover --fast --name '!jpg.jpg' --name '!zip.zip' --to " +
                                 ShellQuote(m_dir.File("out")) + " " + ShellQuote(image.Path()),
                             "ORVANNE_SCANLOG_DIR=" + ShellQuote(m_logs.Path()));
    EXPECT_EQ(1, recover.nStatus) << recover.strOut << recover.strErr;
    EXPECT_NE(recover.strOut.find("DAMAGED  "), std::string::npos) << recover.strOut;
    EXPECT_NE(recover.strOut.find("(its data does not decode whole)"), std::string::npos);
    EXPECT_EQ(zip, ReadFileBytes(m_dir.File("out/archive/!zip.zip")));
}

// The usual real disk: the volume is a partition, the user picks the disk, so no fast engine
// runs and the deep pass lists the files. It places the volume by its boot sector and reads the
// deleted files through its FAT: the fragmented ones along the free clusters their proof chose,
// a contiguous one as before. Without boot sectors and FATs the same files are read on from
// their first cluster: the fragmented ones are marked damaged, the contiguous one stays whole.
TEST_F(FragmentedFatTest, WholeDiskDeepScanFollowsThePartitionsFreeClusters) {
    if (!HaveTool("sfdisk"))
        SKIP_WITHOUT("sfdisk");
    const std::map<std::string, std::vector<uint8_t>> mapFragmented = {
        {"pjpg.jpg", Sample("sample_exifthumb.jpg")}, {"pzip.zip", Sample("sample.zip")}};
    const std::vector<uint8_t> contiguous = Sample("sample_progressive.jpg");
    CFatImageBuilder image(m_dir.File("volume.img"));
    ASSERT_TRUE(BuildFragmented(image, {32, 65536, 1}, {mapFragmented.begin(), mapFragmented.end()},
                                false));
    // A live file larger than all the gaps fills what is left of them: the next one is whole.
    // Two folders let a volume without its boot sector be placed.
    ASSERT_TRUE(image.AddFile("/filler.bin", PatternBytes(GAP_COUNT * GAP_BYTES, 7)) &&
                image.AddFile("/whole.jpg", contiguous) && image.MakeDir("/one") &&
                image.MakeDir("/two"));
    const std::vector<uint32_t> vecContiguous = image.GetClusters("/whole.jpg");
    ASSERT_TRUE(!vecContiguous.empty() &&
                vecContiguous.back() - vecContiguous.front() + 1 == vecContiguous.size());
    ASSERT_TRUE(image.Delete({"/pjpg.jpg", "/pzip.zip", "/whole.jpg"}));
    constexpr uint64_t u64VolumeStart = 2048;
    const std::string strDisk = m_dir.File("disk.img");
    ASSERT_TRUE(RunShell("truncate -s 66M " + ShellQuote(strDisk) + " && echo '" +
                         std::to_string(u64VolumeStart) + ",131072,c' | sfdisk -q " +
                         ShellQuote(strDisk)));
    const std::vector<uint8_t> vecVolume = ReadFileBytes(image.Path());
    ASSERT_TRUE(PatchFileBytes(strDisk, u64VolumeStart * 512, vecVolume));
    auto expected = mapFragmented;
    expected.emplace("whole.jpg", contiguous);

    ScanWholeDisk(strDisk);
    for (const auto& [strName, bytes] : expected) {
        SEARCH_FILE_INFO* pHit = FindDeepHit(strName);
        ASSERT_NE(nullptr, pHit) << strName;
        EXPECT_EQ(u64VolumeStart, pHit->u64PartitionStartSector) << strName;
        EXPECT_STREQ("whole", CFileProof::GetStateName(pHit->nDataHealth)) << strName;
        int rc = -1;
        EXPECT_EQ(bytes, CopyOutNode(*m_pDeep, *pHit, m_dir.File("out_" + strName), rc)) << strName;
        EXPECT_EQ(0, rc) << strName;
        std::vector<FILE_DATA_RUN> vecRuns;
        ASSERT_TRUE(m_pDeep->GetFileDataRuns(pHit, vecRuns));
        EXPECT_EQ(strName == "whole.jpg", vecRuns.size() == 1) << strName << ": one run a piece";
        EXPECT_EQ(bytes.size(), vecRuns.back().u64FileOffset + vecRuns.back().u64Bytes);
    }
    // Taken up again from the scan log, the copy-out still goes through the volume's FAT.
    ScanWholeDisk(strDisk, false);
    SEARCH_FILE_INFO* pReopened = FindDeepHit("pjpg.jpg");
    ASSERT_NE(nullptr, pReopened);
    int rc = -1;
    EXPECT_EQ(mapFragmented.at("pjpg.jpg"),
              CopyOutNode(*m_pDeep, *pReopened, m_dir.File("reopened.jpg"), rc));

    const uint64_t u64FatEnd =
        LoadU16LE(&vecVolume[BPB_RSVD_SEC_CNT]) + 2 * uint64_t(LoadU32LE(&vecVolume[BPB_FAT_SZ32]));
    ASSERT_TRUE(
        PatchFileBytes(strDisk, u64VolumeStart * 512, std::vector<uint8_t>(u64FatEnd * 512, 0)));
    ScanWholeDisk(strDisk);
    for (const auto& [strName, bytes] : expected) {
        SEARCH_FILE_INFO* pHit = FindDeepHit(strName);
        ASSERT_NE(nullptr, pHit) << strName << " without a FAT";
        EXPECT_STREQ(strName == "whole.jpg" ? "whole" : "damaged",
                     CFileProof::GetStateName(pHit->nDataHealth))
            << strName << " without a FAT";
    }
}
