// orvanne-cli against hostile targets, destinations and outputs: each test first reproduces a
// fault that once destroyed data or reported a false result (see the names), on images made by
// mkfs.vfat + mtools and mkntfs, on tmpfs, loop and FUSE mounts where the machine allows them.
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "util/CSha256.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Every file under the folder, relative paths.
std::vector<std::string> FilesUnder(const std::string& strDir) {
    std::vector<std::string> vecFiles;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(strDir, ec))
        if (!entry.is_directory())
            vecFiles.push_back(fs::relative(entry.path(), strDir).string());
    return vecFiles;
}

// A tmpfs of the given size, unmounted when the object goes away.
class CTmpfs {
public:
    static std::unique_ptr<CTmpfs> Mount(const std::string& strDir, const std::string& strSize) {
        fs::create_directories(strDir);
        if (mount("tmpfs", strDir.c_str(), "tmpfs", 0, ("size=" + strSize).c_str()) != 0) {
            std::cerr << "tmpfs cannot be mounted here (" << std::strerror(errno) << ")\n";
            return nullptr;
        }
        return std::unique_ptr<CTmpfs>(new CTmpfs(strDir));
    }
    ~CTmpfs() { umount(m_strDir.c_str()); }

private:
    explicit CTmpfs(std::string strDir) : m_strDir(std::move(strDir)) {}
    std::string m_strDir;
};

class CliHostileTest : public CFatToolsTest {
protected:
    CLI_RUN Cli(const std::string& strArgs, const std::string& strEnv = "") {
        return RunCli(strArgs, "ORVANNE_SCANLOG_DIR=" + ShellQuote(m_logs.Path()) + " " + strEnv);
    }
    // A FAT16 volume with a kept file and the named samples, those deleted.
    std::string
    MakeFatImage(const std::string& strName,
                 const std::vector<std::pair<std::string, std::vector<uint8_t>>>& vecFiles,
                 uint32_t nSizeKiB = 16 * 1024) {
        CFatImageBuilder image(m_dir.File(strName));
        EXPECT_TRUE(image.Format({16, nSizeKiB, 1}) &&
                    image.AddFile("/keep.txt", PatternBytes(3000, 1)));
        std::vector<std::string> vecDelete;
        for (const auto& [strPath, vecBytes] : vecFiles) {
            EXPECT_TRUE(image.AddFile(strPath, vecBytes)) << strPath;
            vecDelete.push_back(strPath);
        }
        EXPECT_TRUE(image.Delete(vecDelete));
        return image.Path();
    }

    CTempDir m_dir;
    CTempDir m_logs;
};

TEST_F(CliHostileTest, OutputsNeverReplaceAFileNorTheImageBeingRead) {
    std::string strImage =
        MakeFatImage("img", {{"/a.png", ReadFileBytes(TestDataPath("samples/sample.png"))}});
    std::string strSha = CSha256::OfFile(strImage);
    // Once: "scan disk.img --json disk.img" cut the image to 813 bytes and exited 0.
    for (const char* pOption : {"--json", "--report"}) {
        CLI_RUN run = Cli("scan " + strImage + " " + pOption + " " + strImage);
        EXPECT_EQ(run.nStatus, 2) << run.strErr;
        EXPECT_NE(run.strErr.find("exists"), std::string::npos) << run.strErr;
    }
    EXPECT_EQ(CSha256::OfFile(strImage), strSha);
    EXPECT_EQ(Cli("scan " + strImage + " --json /dev/full").nStatus, 2);
    int nStatus =
        std::system((std::string(ORVANNE_CLI_PATH) + " --version >/dev/full 2>&1").c_str());
    EXPECT_EQ(WEXITSTATUS(nStatus), 2) << "a listing that was lost";
    EXPECT_EQ(Cli("scan " + strImage + " --json " + m_dir.File("no/such/dir.json")).nStatus, 2);
}

TEST_F(CliHostileTest, FullFileSystemsEndInStatusTwoOrFailedFilesAndLeaveNothingHalfWritten) {
    std::vector<uint8_t> vecBig = PatternBytes(900 * 1024, 5);
    std::string strImage =
        MakeFatImage("img", {{"/big.bin", vecBig},
                             {"/a.png", ReadFileBytes(TestDataPath("samples/sample.png"))}});
    auto pFull = CTmpfs::Mount(m_dir.File("full"), "64k");
    if (!pFull)
        GTEST_SKIP() << "no tmpfs mount";
    ASSERT_TRUE(WriteFileBytes(m_dir.File("full/filler"), std::vector<uint8_t>(64 * 1024)));
    // A JSON file on a full disk: once an empty file and status 0.
    CLI_RUN run = Cli("scan " + strImage + " --json " + m_dir.File("full/hits.json"));
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_NE(run.strErr.find("No space left on device"), std::string::npos) << run.strErr;
    EXPECT_EQ(FilesUnder(m_dir.File("full")), std::vector<std::string>{"filler"});

    // A scan log that fills up: once a partial list and status 0.
    run = RunCli("scan " + strImage, "ORVANNE_SCANLOG_DIR=" + m_dir.File("full/logs"));
    EXPECT_EQ(run.nStatus, 2) << run.strOut;
    EXPECT_NE(run.strErr.find("bytes free"), std::string::npos) << run.strErr;

    // A destination that fills part-way: the big file fails, nothing keeps its name half-written.
    auto pSmall = CTmpfs::Mount(m_dir.File("small"), "512k");
    ASSERT_TRUE(pSmall);
    run = Cli("recover " + strImage + " --fast --to " + m_dir.File("small/out"));
    EXPECT_EQ(run.nStatus, 1) << run.strOut;
    EXPECT_NE(run.strOut.find("FAILED   " + m_dir.File("small/out/others/!ig.bin") +
                              "  (No space left on device)"),
              std::string::npos)
        << run.strOut;
    EXPECT_EQ(FilesUnder(m_dir.File("small/out")), std::vector<std::string>{"photo/!.png"});
}

TEST_F(CliHostileTest, RefusedDestinationsOnTheImagesOwnMountsAreNeverCreated) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfs-3g"))
        SKIP_WITHOUT("ntfs-3g tools");
    CNtfsImageBuilder image(m_dir.File("ntfs.img"));
    ASSERT_TRUE(image.Format(16 * 1024 * 1024, 4096) &&
                image.PutFile("/a.bin", PatternBytes(9000, 2)) && image.DeleteInPlace("/a.bin"));
    std::string strWhy;
    // Once: the refusal had already created the folder, over the record being recovered.
    auto pMount = CNtfsImageMount::Mount(image.Image(), m_dir.File("mnt"), strWhy);
    if (!pMount)
        GTEST_SKIP() << strWhy;
    CLI_RUN run = Cli("recover " + image.Image() + " --to " + m_dir.File("mnt/rescued"));
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_NE(run.strErr.find("on a mount of the image"), std::string::npos) << run.strErr;
    EXPECT_FALSE(fs::exists(m_dir.File("mnt/rescued")));
    ASSERT_TRUE(pMount->Unmount());

    // Through a loop device: the image's loop and the loop device itself are both refused.
    std::string strLoop =
        ShellOutput("losetup -f --show " + ShellQuote(image.Image()) + " 2>/dev/null");
    if (strLoop.empty())
        GTEST_SKIP() << "no loop devices here";
    strLoop.erase(strLoop.find_last_not_of('\n') + 1);
    pMount = CNtfsImageMount::Mount(strLoop, m_dir.File("mnt"), strWhy);
    if (pMount) {
        for (const std::string& strTarget : {image.Image(), strLoop}) {
            run = Cli("recover " + strTarget + " --to " + m_dir.File("mnt/rescued"));
            EXPECT_EQ(run.nStatus, 2) << strTarget << run.strErr;
            EXPECT_FALSE(fs::exists(m_dir.File("mnt/rescued")));
        }
        pMount->Unmount();
    }
    RunShell("losetup -d " + strLoop);
    EXPECT_TRUE(pMount) << strWhy;
}

TEST_F(CliHostileTest, ScanLogFolderOfOtherFilesIsNeverUsedNorEmptied) {
    std::string strImage =
        MakeFatImage("img", {{"/a.png", ReadFileBytes(TestDataPath("samples/sample.png"))}});
    // Once: "0 files found" and status 0, or the user's numbered folders deleted.
    ASSERT_TRUE(WriteFileBytes(m_dir.File("plain"), {1}));
    CLI_RUN run = RunCli("scan " + strImage, "ORVANNE_SCANLOG_DIR=" + m_dir.File("plain"));
    EXPECT_EQ(run.nStatus, 2);
    fs::create_directories(m_dir.File("user/1"));
    ASSERT_TRUE(WriteFileBytes(m_dir.File("user/1/thesis.txt"), {7}));
    ASSERT_TRUE(
        WriteFileBytes(m_dir.File("user/config"), {'[', 'a', ']', '\n', 'x', '=', '1', '\n'}));
    run = RunCli("scan " + strImage, "ORVANNE_SCANLOG_DIR=" + m_dir.File("user"));
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_NE(run.strErr.find("holds other files"), std::string::npos) << run.strErr;
    EXPECT_EQ(ReadFileBytes(m_dir.File("user/1/thesis.txt")), std::vector<uint8_t>{7});
    EXPECT_EQ(ReadFileText(m_dir.File("user/config")), "[a]\nx=1\n");
    EXPECT_EQ(FilesUnder(m_dir.File("user")).size(), 2u);
}

// A recovery that a slow disk keeps busy, stopped by signals while it writes.
TEST_F(CliHostileTest, CtrlCAndSigtermStopTheCopyAndRemoveThePartialFile) {
    std::string strImage =
        MakeFatImage("img", {{"/large.bin", PatternBytes(6 << 20, 9)}}, 32 * 1024);
    // Once: an 881 MB partial copy stayed under its name and a second Ctrl-C was ignored.
    for (const char* pSignals : {"-INT $pid", "-INT $pid; kill -TERM $pid"}) {
        std::string strOut = m_dir.File("out");
        fs::remove_all(strOut);
        std::string strPart = strOut + "/others/!arge.bin.part";
        std::string strScript =
            "ORVANNE_SCANLOG_DIR=" + m_logs.Path() + " " + FailingReadEnv(strImage, "", 3000) +
            ORVANNE_CLI_PATH + " recover " + strImage + " --fast --to " + strOut +
            " >/dev/null 2>&1 & pid=$!; for i in $(seq 600); do [ -e " + strPart +
            " ] && break; sleep 0.01; done; [ -e " + strPart +
            " ] || { kill -9 $pid; exit 99; }; kill " + pSignals + "; wait $pid";
        int nStatus = std::system(("sh -c " + ShellQuote(strScript)).c_str());
        EXPECT_EQ(WEXITSTATUS(nStatus), 130) << pSignals;
        EXPECT_TRUE(FilesUnder(strOut).empty()) << pSignals;
    }
}

TEST_F(CliHostileTest, SizesTheVolumeCannotHoldAndShortChainsAreFailures) {
    std::string strImage = MakeFatImage("img", {{"/HUGE.BIN", PatternBytes(5000, 3)}});
    CFatImageBuilder image(strImage);
    int64_t llEntry = image.FindEntryOffset("\xE5UGE    BIN", 0x20);
    ASSERT_GE(llEntry, 0);
    // Once: a DIR_FileSize of 4 GiB - 1 gave a 4,096-byte file printed OK.
    ASSERT_TRUE(PatchFileBytes(strImage, uint64_t(llEntry) + 28, {0xFF, 0xFF, 0xFF, 0xFF}));
    for (const char* pMode : {"--fast", ""}) {
        std::string strOut = m_dir.File(std::string("out") + pMode);
        CLI_RUN run =
            Cli("recover " + strImage + " " + pMode + " --name '*uge.bin' --to " + strOut);
        EXPECT_EQ(run.nStatus, 1) << pMode << run.strOut;
        EXPECT_NE(run.strOut.find("FAILED"), std::string::npos) << run.strOut;
        EXPECT_TRUE(FilesUnder(strOut).empty());
    }
}

TEST_F(CliHostileTest, HalfValidVolumesOversizeTablesAndNonDiskTargets) {
    std::vector<uint8_t> vecJpg = ReadFileBytes(TestDataPath("samples/sample_big.jpg"));
    std::string strImage = MakeFatImage("img", {{"/photo.jpg", vecJpg}});
    // 4096 bytes per sector, no reserved sectors, 255 FATs, 65,535 root entries: once 0 files.
    ASSERT_TRUE(PatchFileBytes(strImage, 11, {0x00, 0x10}) &&
                PatchFileBytes(strImage, 14, {0, 0}) &&
                PatchFileBytes(strImage, 16, {0xFF, 0xFF, 0xFF}));
    CLI_RUN run = Cli("scan " + strImage + " --json " + m_dir.File("hits.json"));
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(
        ReadFileText(m_dir.File("hits.json")).find("\"size\": " + std::to_string(vecJpg.size())),
        std::string::npos);
    EXPECT_EQ(Cli("scan " + strImage + " --fast").nStatus, 2);

    // A 2 TB MBR entry on a 16 MiB image: once a two-hour scan of sectors that do not exist.
    std::string strDisk = MakePartitionedImage(m_dir.File("disk.img"), 16, "2048,4096,c\\n");
    ASSERT_TRUE(PatchFileBytes(strDisk, 446 + 12, {0xFF, 0xF7, 0xFF, 0xFF}));
    run = RunCli("scan " + strDisk + " --partition 1", "ORVANNE_SCANLOG_DIR=" + m_logs.Path(), 30);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strErr.find("past the disk's 32768 sectors"), std::string::npos) << run.strErr;

    // A FIFO once hung "scan" and "disks --image" for ever; a folder was "scanned", status 0.
    ASSERT_EQ(mkfifo(m_dir.File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(RunCli("scan " + m_dir.File("fifo"), "", 10).nStatus, 2);
    EXPECT_EQ(RunCli("disks --image " + m_dir.File("fifo"), "", 10).nStatus, 2);
    run = Cli("scan " + m_dir.Path());
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_NE(run.strErr.find("is a folder"), std::string::npos) << run.strErr;
}

TEST_F(CliHostileTest, NamesStayWholeEscapedAndInsideTheDestination) {
    std::vector<uint8_t> vecPng = ReadFileBytes(TestDataPath("samples/sample.png"));
    // 251 characters + ".png": once cut to 13 characters.
    std::string strLong = std::string(251, 'n') + ".png";
    std::string strImage = MakeFatImage("img", {{"/" + strLong, vecPng}, {"/Escape.png", vecPng}});
    // An ESC in the long name "Escape.png" (first unit of its first part, before the short entry).
    CFatImageBuilder image(strImage);
    int64_t llShort = image.FindEntryOffset("\xE5SCAPE  PNG", 0x20);
    ASSERT_GE(llShort, 32);
    ASSERT_TRUE(PatchFileBytes(strImage, uint64_t(llShort) - 32 + 1, {0x1B, 0x00}));

    CLI_RUN run = Cli("recover " + strImage + " --fast --to " + m_dir.File("out") + " --report " +
                      m_dir.File("r.xml"));
    EXPECT_EQ(run.nStatus, 0) << run.strOut;
    EXPECT_EQ(ReadFileBytes(m_dir.File("out/photo/" + strLong)), vecPng);
    EXPECT_EQ(ReadFileBytes(m_dir.File("out/photo/\x1Bscape.png")), vecPng);
    EXPECT_EQ(run.strOut.find('\x1B'), std::string::npos) << "raw ESC on the terminal";
    EXPECT_NE(run.strOut.find("\\x1Bscape.png"), std::string::npos) << run.strOut;
    std::string strXml = ReadFileText(m_dir.File("r.xml"));
    EXPECT_EQ(strXml.find('\x1B'), std::string::npos);
    EXPECT_EQ(strXml.find("&#27;"), std::string::npos);
    ASSERT_EQ(Cli("scan " + strImage + " --fast --json " + m_dir.File("h.json")).nStatus, 0);
    nlohmann::json hits = nlohmann::json::parse(ReadFileText(m_dir.File("h.json")));
    EXPECT_EQ(hits.size(), 2u);

    // A second copy of the 255-byte name gets "(1)" inside 255 bytes.
    run = Cli("recover " + strImage + " --fast --name 'nnn*' --to " + m_dir.File("out"));
    EXPECT_EQ(run.nStatus, 0) << run.strOut;
    EXPECT_EQ(FilesUnder(m_dir.File("out/photo")).size(), 3u);

    // A category folder that is a symlink out of the destination: once followed.
    fs::create_directories(m_dir.File("dest"));
    fs::create_directories(m_dir.File("elsewhere"));
    fs::create_directory_symlink(m_dir.File("elsewhere"), m_dir.File("dest/photo"));
    run = Cli("recover " + strImage + " --fast --to " + m_dir.File("dest"));
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_TRUE(FilesUnder(m_dir.File("elsewhere")).empty());

    // NTFS: 254 units that take 504 bytes in UTF-8 are cut for the node at a character boundary
    // and keep ".txt"; the deep engine once cut them mid-character, making the JSON invalid.
    CNtfsImageBuilder ntfs(m_dir.File("ntfs.img"));
    std::string strWide;
    for (int i = 0; i < 250; ++i)
        strWide += "\xC3\xA9";
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp"))
        SKIP_WITHOUT("ntfs-3g tools");
    ASSERT_TRUE(ntfs.Format(8 * 1024 * 1024, 4096) &&
                ntfs.PutFile("/" + strWide + ".txt", PatternBytes(5000, 6)) &&
                ntfs.DeleteInPlace("/" + strWide + ".txt"));
    ASSERT_EQ(Cli("scan " + ntfs.Image() + " --json " + m_dir.File("n.json")).nStatus, 0);
    nlohmann::json ntfsHits = nlohmann::json::parse(ReadFileText(m_dir.File("n.json")));
    ASSERT_FALSE(ntfsHits.empty());
    EXPECT_EQ(ntfsHits[0]["name"].get<std::string>(), strWide.substr(0, 250) + ".txt");
}

} // namespace
