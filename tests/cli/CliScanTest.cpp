// orvanne-cli scan and recover on the demo disk image, end to end.
#include "fixtures/FixtureUtil.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

std::string Capture(const std::string& strCommand, int& nStatus) {
    std::string strOutput;
    FILE* pPipe = popen(strCommand.c_str(), "r");
    char szLine[1024];
    while (pPipe != nullptr && std::fgets(szLine, sizeof(szLine), pPipe) != nullptr)
        strOutput += szLine;
    nStatus = pPipe != nullptr ? WEXITSTATUS(pclose(pPipe)) : -1;
    return strOutput;
}

class CliScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("mkfs.vfat") || !HaveTool("mcopy") || !HaveTool("sfdisk"))
            SKIP_WITHOUT("mkfs.vfat, mtools and sfdisk");
        m_strImage = m_dir.File("demo.img");
        ASSERT_TRUE(RunShell(std::string(ORVANNE_SOURCE_DIR) + "/scripts/make-demo-image " +
                             m_strImage + " >/dev/null"));
    }
    std::string Cli(const std::string& strArgs, int& nStatus) {
        return Capture("ORVANNE_SCANLOG_DIR=" + m_logs.Path() + " " + ORVANNE_CLI_PATH + " " +
                           strArgs + " 2>/dev/null",
                       nStatus);
    }
    std::vector<uint8_t> Sample(const char* pName) {
        return ReadFileBytes(TestDataPath(std::string("samples/") + pName));
    }

    CTempDir m_dir;
    CTempDir m_logs;
    std::string m_strImage;
};

TEST_F(CliScanTest, RecoversTheDeletedDemoFilesByteExact) {
    int nStatus = -1;
    std::string strOut = m_dir.File("out");
    std::string strOutput = Cli("recover " + m_strImage + " --partition 1 --to " + strOut +
                                    " --report " + m_dir.File("report.xml"),
                                nStatus);
    EXPECT_EQ(nStatus, 0) << strOutput;
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Sunset.jpg"), Sample("sample_jfif.jpg")) << strOutput;
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Scan.tif"), Sample("sample.tif"));
    EXPECT_EQ(ReadFileBytes(strOut + "/audio/Ringtone.mp3"), Sample("sample.mp3"));
    EXPECT_EQ(ReadFileBytes(strOut + "/video/Garden.avi"), Sample("sample.avi"));
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Sketch.png"), Sample("sample.png"));
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Portrait.jpg"), Sample("sample_jfif.jpg"));
    std::vector<uint8_t> vecReport = ReadFileBytes(m_dir.File("report.xml"));
    std::string strReport(vecReport.begin(), vecReport.end());
    EXPECT_NE(strReport.find("<hashdigest type=\"sha256\">"), std::string::npos);

    // A second run never overwrites: the same files come back under free names.
    Cli("recover " + m_strImage + " --partition 1 --to " + strOut, nStatus);
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Sunset(1).jpg"), Sample("sample_jfif.jpg"));
}

TEST_F(CliScanTest, TreeLayoutKeepsFoldersAndFiltersApply) {
    int nStatus = -1;
    std::string strOut = m_dir.File("tree");
    std::string strOutput =
        Cli("recover " + m_strImage + " --partition 1 --fast --layout tree --name '*.png' --to " +
                strOut,
            nStatus);
    EXPECT_EQ(nStatus, 0) << strOutput;
    EXPECT_EQ(ReadFileBytes(strOut + "/Drafts/Sketch.png"), Sample("sample.png")) << strOutput;
    EXPECT_TRUE(ReadFileBytes(strOut + "/Drafts/Portrait.jpg").empty());
}

TEST_F(CliScanTest, ScanPrintsTheCategoryTreeAndJson) {
    int nStatus = -1;
    std::string strJson = m_dir.File("hits.json");
    std::string strOutput =
        Cli("scan " + m_strImage + " --partition 1 --types photo --json " + strJson, nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_NE(strOutput.find("Photo("), std::string::npos) << strOutput;
    EXPECT_NE(strOutput.find("  jpg Files ("), std::string::npos) << strOutput;
    EXPECT_EQ(strOutput.find("Music("), std::string::npos) << strOutput;
    std::vector<uint8_t> vecJson = ReadFileBytes(strJson);
    std::string strText(vecJson.begin(), vecJson.end());
    EXPECT_NE(strText.find("\"name\": \"Sunset.jpg\""), std::string::npos) << strText;
    EXPECT_NE(strText.find("\"category\": \"Photo\""), std::string::npos);
}

TEST_F(CliScanTest, RefusesBadTargetsAndDestinations) {
    int nStatus = -1;
    Cli("scan /nonexistent.img", nStatus);
    EXPECT_EQ(nStatus, 2);
    Cli("scan " + m_strImage + " --partition 9", nStatus);
    EXPECT_EQ(nStatus, 2);
    Cli("recover " + m_strImage + " --to /proc/orvanne-no-such-dir", nStatus);
    EXPECT_EQ(nStatus, 2);
    Cli("scan " + m_strImage + " --types pictures", nStatus);
    EXPECT_EQ(nStatus, 2);
    Cli("scan " + m_strImage + " --no-such-option", nStatus);
    EXPECT_EQ(nStatus, 2);
    EXPECT_EQ(Cli("--version", nStatus), std::string("orvanne-cli ") + ORVANNE_VERSION + "\n");
    EXPECT_NE(Cli("help recover", nStatus).find("--keep-partial"), std::string::npos);
    EXPECT_EQ(nStatus, 0);
}

} // namespace
