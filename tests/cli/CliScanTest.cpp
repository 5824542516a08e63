// orvanne-cli disks, scan and recover on the demo disk image, end to end.
#include "fixtures/FixtureUtil.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

class CliScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("mkfs.vfat") || !HaveTool("mcopy") || !HaveTool("sfdisk"))
            SKIP_WITHOUT("mkfs.vfat, mtools and sfdisk");
        m_strImage = m_dir.File("demo.img");
        ASSERT_TRUE(RunShell(std::string(ORVANNE_SOURCE_DIR) + "/scripts/make-demo-image " +
                             m_strImage + " >/dev/null"));
    }
    CLI_RUN Cli(const std::string& strArgs) {
        return RunCli(strArgs, "ORVANNE_SCANLOG_DIR=" + ShellQuote(m_logs.Path()));
    }
    std::vector<uint8_t> Sample(const char* pName) {
        return ReadFileBytes(TestDataPath(std::string("samples/") + pName));
    }

    CTempDir m_dir;
    CTempDir m_logs;
    std::string m_strImage;
};

TEST_F(CliScanTest, RecoversTheDeletedDemoFilesByteExact) {
    std::string strOut = m_dir.File("out");
    CLI_RUN run = Cli("recover " + m_strImage + " --partition 1 --to " + strOut + " --report " +
                      m_dir.File("report.xml"));
    EXPECT_EQ(run.nStatus, 0) << run.strOut << run.strErr;
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Sunset.jpg"), Sample("sample_jfif.jpg")) << run.strOut;
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Scan.tif"), Sample("sample.tif"));
    EXPECT_EQ(ReadFileBytes(strOut + "/audio/Ringtone.mp3"), Sample("sample.mp3"));
    EXPECT_EQ(ReadFileBytes(strOut + "/video/Garden.avi"), Sample("sample.avi"));
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Sketch.png"), Sample("sample.png"));
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Portrait.jpg"), Sample("sample_jfif.jpg"));
    std::string strReport = ReadFileText(m_dir.File("report.xml"));
    EXPECT_NE(strReport.find("<hashdigest type=\"sha256\">"), std::string::npos);

    // A second run never overwrites: the same files come back under free names.
    Cli("recover " + m_strImage + " --partition 1 --to " + strOut);
    EXPECT_EQ(ReadFileBytes(strOut + "/photo/Sunset(1).jpg"), Sample("sample_jfif.jpg"));
}

TEST_F(CliScanTest, DisksScanListingTreeLayoutFiltersAndRefusals) {
    CLI_RUN run = Cli("disks --image " + m_strImage);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    // Partition numbers run on across disks, so a loop device set up by a parallel test may
    // shift them: the size and range are what belong to this image.
    EXPECT_NE(run.strOut.find("Physical Driver "), std::string::npos) << run.strOut;
    EXPECT_NE(run.strOut.find("63.00 MB  2048  131071"), std::string::npos) << run.strOut;
    run = Cli("disks --image /nonexistent.img");
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_TRUE(run.strOut.empty()) << run.strOut;
    EXPECT_NE(run.strErr.find("cannot read image /nonexistent.img"), std::string::npos);
    EXPECT_EQ(std::count(run.strErr.begin(), run.strErr.end(), '\n'), 1);

    std::string strJson = m_dir.File("hits.json");
    run = Cli("scan " + m_strImage + " --partition 1 --types photo --json " + strJson);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.strOut.find("Photo("), std::string::npos) << run.strOut;
    EXPECT_NE(run.strOut.find("  jpg Files ("), std::string::npos) << run.strOut;
    EXPECT_EQ(run.strOut.find("Music("), std::string::npos) << run.strOut;
    std::string strText = ReadFileText(strJson);
    EXPECT_NE(strText.find("\"name\": \"Sunset.jpg\""), std::string::npos) << strText;
    EXPECT_NE(strText.find("\"category\": \"Photo\""), std::string::npos);

    std::string strTree = m_dir.File("tree");
    run = Cli("recover " + m_strImage + " --partition 1 --fast --layout tree --name '*.png' --to " +
              strTree);
    EXPECT_EQ(run.nStatus, 0) << run.strOut;
    EXPECT_EQ(ReadFileBytes(strTree + "/Drafts/Sketch.png"), Sample("sample.png")) << run.strOut;
    EXPECT_TRUE(ReadFileBytes(strTree + "/Drafts/Portrait.jpg").empty());

    for (const std::string& strArgs :
         {std::string("scan /nonexistent.img"), "scan " + m_strImage + " --partition 9",
          "recover " + m_strImage + " --to /proc/orvanne-no-such-dir",
          "scan " + m_strImage + " --types pictures", "scan " + m_strImage + " --no-such-option"})
        EXPECT_EQ(Cli(strArgs).nStatus, 2) << strArgs;
    EXPECT_EQ(Cli("--version").strOut, std::string("orvanne-cli ") + ORVANNE_VERSION + "\n");
    run = Cli("help recover");
    EXPECT_NE(run.strOut.find("--keep-partial"), std::string::npos);
    EXPECT_EQ(run.nStatus, 0);
}

} // namespace
