// Nothing writes to the disk being scanned: scans and recoveries of an image made read-only,
// watched by inotify and compared by SHA-256 and timestamps before and after.
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/CDiskRegistry.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "util/CSha256.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t WRITE_EVENTS =
    IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

struct IMAGE_STATE {
    std::string strSha256;
    struct timespec mtime;
    struct timespec ctime;
};

IMAGE_STATE StateOf(const std::string& strPath) {
    IMAGE_STATE state{CSha256::OfFile(strPath), {}, {}};
    struct stat st;
    if (stat(strPath.c_str(), &st) == 0) {
        state.mtime = st.st_mtim;
        state.ctime = st.st_ctim;
    }
    return state;
}

// Scans the image fast and deep through the engine API and recovers every file found.
void ScanAndRecoverThroughTheApi(const std::string& strImage, const std::string& strOut) {
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    ASSERT_GE(nDisk, 0);
    int nSaved = 0;
    for (RECOVERY_TYPE nType : {RECOVERY_TYPE_FAST, RECOVERY_TYPE_DEEP}) {
        std::unique_ptr<IFileRecoveryParse> pEngine(
            CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
                nDisk, 0, 16 * 1024 * 1024 / 512, u'C', nType));
        ASSERT_NE(pEngine, nullptr);
        if (auto* pDeep = dynamic_cast<CProfessionalRecovery*>(pEngine.get()))
            pDeep->SetNotLoadLogFile();
        ASSERT_EQ(pEngine->ScanDevice(nullptr), 0);
        for (const SEARCH_FILE_INFO& hit : SearchAll(*pEngine)) {
            int rc = -1;
            CopyOutNode(*pEngine, hit, strOut + "/" + std::to_string(nSaved++) + ".bin", rc);
            EXPECT_EQ(rc, 0);
        }
    }
    EXPECT_GT(nSaved, 0);
}

TEST(ReadOnlyGuarantee, ScansAndRecoveriesNeverWriteTheImage) {
    if (!CFatImageBuilder::HaveTools())
        SKIP_WITHOUT("mkfs.vfat and mtools");
    CScanLogDirScope logs;
    CTempDir dir;
    std::string strImage = dir.File("readonly.img");
    CFatImageBuilder image(strImage);
    ASSERT_TRUE(image.Format({16, 16 * 1024, 4}) &&
                image.AddFile("/kept.png", ReadFileBytes(TestDataPath("samples/sample.png"))) &&
                image.AddFile("/gone.jpg", ReadFileBytes(TestDataPath("samples/sample_big.jpg"))) &&
                image.Delete({"/gone.jpg"}));
    ASSERT_EQ(chmod(strImage.c_str(), 0444), 0);
    IMAGE_STATE before = StateOf(strImage);

    int nWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(nWatch, 0);
    ASSERT_GE(inotify_add_watch(nWatch, strImage.c_str(), WRITE_EVENTS | IN_OPEN), 0);

    std::string strCli =
        std::string("ORVANNE_SCANLOG_DIR=") + ShellQuote(logs.Path()) + " " + ORVANNE_CLI_PATH;
    EXPECT_TRUE(RunShell(strCli + " recover " + ShellQuote(strImage) + " --to " +
                         ShellQuote(dir.File("cli-deep")) + " >/dev/null"));
    EXPECT_TRUE(RunShell(strCli + " recover " + ShellQuote(strImage) + " --fast --to " +
                         ShellQuote(dir.File("cli-fast")) + " >/dev/null"));
    ASSERT_TRUE(RunShell("mkdir " + ShellQuote(dir.File("api"))));
    ScanAndRecoverThroughTheApi(strImage, dir.File("api"));

    alignas(struct inotify_event) char events[64 * 1024];
    bool bOpened = false;
    ssize_t nBytes;
    while ((nBytes = read(nWatch, events, sizeof(events))) > 0) {
        for (ssize_t nOff = 0; nOff < nBytes;) {
            const auto* pEvent = reinterpret_cast<const struct inotify_event*>(events + nOff);
            EXPECT_EQ(pEvent->mask & WRITE_EVENTS, 0u) << "event mask " << pEvent->mask;
            bOpened |= (pEvent->mask & IN_OPEN) != 0;
            nOff += static_cast<ssize_t>(sizeof(struct inotify_event) + pEvent->len);
        }
    }
    close(nWatch);
    EXPECT_TRUE(bOpened) << "the watch saw the image opened";

    IMAGE_STATE after = StateOf(strImage);
    EXPECT_EQ(after.strSha256, before.strSha256);
    EXPECT_EQ(std::make_pair(after.mtime.tv_sec, after.mtime.tv_nsec),
              std::make_pair(before.mtime.tv_sec, before.mtime.tv_nsec));
    EXPECT_EQ(std::make_pair(after.ctime.tv_sec, after.ctime.tv_nsec),
              std::make_pair(before.ctime.tv_sec, before.ctime.tv_nsec));
}

} // namespace
