// Deleted files that mtools wrote around other files on FAT32, FAT16 and FAT12: the volume is
// filled with gaps and keepers, the gaps are deleted, files of the formats that can be proved
// fill the gaps and run on past the keepers, then they are deleted too.
#include "device/CDiskRegistry.h"
#include "fat/CFastFatRecovery.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/proof/CFileProof.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
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

class FragmentedFatTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CFatImageBuilder::HaveTools())
            SKIP_WITHOUT("mkfs.vfat and mtools");
    }

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
    // (FAT32: the allocation hint set back) and checked to be fragmented.
    bool BuildFragmented(CFatImageBuilder& image, const FAT_IMAGE_FORMAT& format,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
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
        return image.Delete(vecWritten);
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
