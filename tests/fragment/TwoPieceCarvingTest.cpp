// Raw images without a file system that hold real files split in two at a cluster boundary,
// with other files and random bytes between the pieces: the deep scan's carver joins them.
#include "fixtures/FixtureUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace {

constexpr size_t CLUSTER_BYTES = 4096;
constexpr size_t SECTOR_BYTES = 512;

struct SPLIT_FILE {
    std::string strName;
    std::vector<uint8_t> bytes;
    size_t nBreak; // bytes of the first piece
};

std::vector<uint8_t> Sample(const std::string& strName) {
    return ReadFileBytes(TestDataPath("samples/" + strName));
}

// An image assembled on the cluster grid; gaps are filled with random bytes.
class CRawImage {
public:
    size_t Put(const std::vector<uint8_t>& bytes, size_t nBegin = 0, size_t nEnd = SIZE_MAX) {
        Align();
        const size_t nOffset = m_bytes.size();
        m_bytes.insert(m_bytes.end(), bytes.begin() + nBegin,
                       bytes.begin() + std::min(nEnd, bytes.size()));
        return nOffset;
    }
    void PutRandom(size_t nBytes) { Put(PatternBytes(nBytes, m_nSeed++)); }
    void Align() {
        const size_t nPad = (CLUSTER_BYTES - m_bytes.size() % CLUSTER_BYTES) % CLUSTER_BYTES;
        std::vector<uint8_t> pad = PatternBytes(nPad, m_nSeed++);
        m_bytes.insert(m_bytes.end(), pad.begin(), pad.end());
    }
    bool Write(const std::string& strPath) {
        PutRandom(CLUSTER_BYTES);
        Align();
        return WriteFileBytes(strPath, m_bytes);
    }

private:
    std::vector<uint8_t> m_bytes = PatternBytes(CLUSTER_BYTES, 1);
    uint32_t m_nSeed = 2;
};

std::map<std::vector<uint8_t>, std::string> RecoveredFiles(const std::string& strFolder) {
    std::map<std::vector<uint8_t>, std::string> mapFiles;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(strFolder))
        if (entry.is_regular_file())
            mapFiles[ReadFileBytes(entry.path())] = entry.path().filename();
    return mapFiles;
}

class TwoPieceCarvingTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("convert") || !HaveTool("jpegtran"))
            SKIP_WITHOUT("ImageMagick's convert and jpegtran");
    }

    // The file a tool's command (run in the test's folder) writes.
    std::vector<uint8_t> Made(const std::string& strName, const std::string& strCommand) {
        EXPECT_TRUE(RunShell("cd " + ShellQuote(m_dir.Path()) + " && " + strCommand));
        return ReadFileBytes(m_dir.File(strName));
    }

    CLI_RUN Recover(const std::string& strImage, const std::string& strOut) {
        return RunCli("--verbose recover " + ShellQuote(strImage) + " --to " +
                          ShellQuote(m_dir.File(strOut)) + " --report " +
                          ShellQuote(m_dir.File(strOut + ".xml")),
                      "ORVANNE_SCANLOG_DIR=" + ShellQuote(m_logs.Path()));
    }

    CTempDir m_dir;
    CScanLogDirScope m_logs;
};

} // namespace

TEST_F(TwoPieceCarvingTest, SplitFilesJoinWholeAndContiguousCopiesComeBackTheSame) {
    const std::vector<uint8_t> photo =
        Made("photo.jpg", "convert -seed 5 -size 480x360 plasma: -quality 90 photo.jpg");
    const std::vector<uint8_t> picture =
        Made("pic.png", "convert -seed 7 -size 200x150 plasma: pic.png");
    const std::vector<uint8_t> restarts =
        Made("restart.jpg", "jpegtran -restart 1 -outfile restart.jpg photo.jpg");
    const std::vector<SPLIT_FILE> files = {
        {"photo.jpg", photo, photo.size() / 2 / CLUSTER_BYTES * CLUSTER_BYTES},
        {"restart.jpg", restarts, restarts.size() * 2 / 3 / SECTOR_BYTES * SECTOR_BYTES},
        {"pic.png", picture, picture.size() / 3 / CLUSTER_BYTES * CLUSTER_BYTES},
        {"sample.zip", Sample("sample.zip"), 3 * SECTOR_BYTES},
        {"sample.odt", Sample("sample.odt"), CLUSTER_BYTES},
    };
    // Between the pieces: other real files and random bytes.
    const std::vector<uint8_t> between[] = {Sample("sample.png"), PatternBytes(5000, 77),
                                            Sample("sample_big.jpg"), Sample("sample.flac"),
                                            Sample("sample.pdf")};
    // A photo whose second piece is gone: only random bytes follow its first.
    const std::vector<uint8_t> lost =
        Made("lost.jpg", "convert -seed 11 -size 300x200 plasma: -quality 85 lost.jpg");

    CRawImage split, contiguous;
    std::map<std::string, size_t> mapStart;
    for (size_t i = 0; i < files.size(); ++i) {
        mapStart[files[i].strName] = split.Put(files[i].bytes, 0, files[i].nBreak);
        split.Put(between[i]);
        split.PutRandom(CLUSTER_BYTES);
        split.Put(files[i].bytes, files[i].nBreak);
        contiguous.Put(files[i].bytes);
        contiguous.Put(between[i]);
    }
    const size_t nLost = split.Put(lost, 0, lost.size() / 2);
    split.PutRandom(lost.size());
    // A video whose proof sees only its samples' NAL lengths: where it broke cannot be told to
    // the sector, so it stays damaged; whole, it is not.
    const std::vector<uint8_t> video = Sample("sample_h264.mp4");
    const size_t nVideo = split.Put(video, 0, 2048);
    split.Put(Sample("sample.gz"));
    split.Put(video, 2048);
    contiguous.Put(video);
    ASSERT_TRUE(split.Write(m_dir.File("split.img")));
    ASSERT_TRUE(contiguous.Write(m_dir.File("contiguous.img")));

    const CLI_RUN joined = Recover(m_dir.File("split.img"), "split");
    EXPECT_EQ(1, joined.nStatus) << "the lost photo is damaged: " << joined.strOut;
    const CLI_RUN plain = Recover(m_dir.File("contiguous.img"), "contiguous");
    EXPECT_EQ(0, plain.nStatus) << plain.strOut;
    const auto mapJoined = RecoveredFiles(m_dir.File("split"));
    const auto mapPlain = RecoveredFiles(m_dir.File("contiguous"));
    const std::vector<uint8_t> report = ReadFileBytes(m_dir.File("split.xml"));
    const std::string strReport(report.begin(), report.end());
    for (const SPLIT_FILE& file : files) {
        SCOPED_TRACE(file.strName);
        ASSERT_EQ(1u, mapJoined.count(file.bytes)) << joined.strOut << joined.strErr;
        EXPECT_EQ(1u, mapPlain.count(file.bytes));
        const std::string strFound = mapJoined.at(file.bytes);
        EXPECT_EQ(file.strName.substr(file.strName.rfind('.')),
                  strFound.substr(strFound.rfind('.')))
            << "a package is named by its directory";
        EXPECT_NE(joined.strOut.find("OK       " + m_dir.File("split")), std::string::npos);
        EXPECT_NE(joined.strErr.find("two pieces: " + strFound), std::string::npos)
            << joined.strErr;
        // Two byte runs: the first piece, then the second behind the data between.
        const size_t nStart = mapStart[file.strName];
        EXPECT_NE(strReport.find(
                      "<byte_run file_offset=\"0\" img_offset=\"" + std::to_string(nStart) +
                      "\" len=\"" + std::to_string(file.nBreak) +
                      "\"/>\n      <byte_run file_offset=\"" + std::to_string(file.nBreak) + "\""),
                  std::string::npos);
    }
    for (size_t i : {0, 2, 3, 4})
        EXPECT_EQ(1u, mapJoined.count(between[i])) << "a file between the pieces is found too";
    EXPECT_EQ(std::string::npos, plain.strErr.find("two pieces:")) << "nothing failed its proof";
    const std::string strLost = std::to_string(nLost / SECTOR_BYTES) + ".jpg";
    EXPECT_NE(joined.strOut.find("DAMAGED  " + m_dir.File("split/photo/" + strLost)),
              std::string::npos)
        << joined.strOut;
    EXPECT_NE(joined.strErr.find("two pieces: " + strLost), std::string::npos);
    EXPECT_NE(joined.strOut.find(
                  "DAMAGED  " +
                  m_dir.File("split/video/" + std::to_string(nVideo / SECTOR_BYTES) + ".mp4")),
              std::string::npos);
    EXPECT_EQ(1u, mapPlain.count(video));
    EXPECT_NE(joined.strErr.find("none proved whole"), std::string::npos);
}
