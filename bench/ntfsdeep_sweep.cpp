// Deep NTFS engine speed: every sector of a 256 MiB volume with 2000 files in 40 folders
// (written through an ntfs-3g mount, a third deleted) offered as the deep sweep offers it.
#include "device/CDiskRegistry.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "store/CLogFileManager.h"
#include "util/TimeUtil.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t IMAGE_BYTES = 256ull << 20;
constexpr int FOLDERS = 40;
constexpr int FILES = 2000;
constexpr size_t SECTOR = 512;
constexpr size_t RECORD = 1024;

bool Run(const std::string& strCommand) {
    return std::system(("( " + strCommand + " ) >/dev/null 2>&1").c_str()) == 0;
}

bool BuildImage(const std::string& strDir, const std::string& strImage) {
    std::string strMount = strDir + "/mnt";
    if (!Run("truncate -s " + std::to_string(IMAGE_BYTES) + " " + strImage +
             " && mkntfs -F -Q -q -c 4096 " + strImage + " && mkdir -p " + strMount +
             " && ntfs-3g " + strImage + " " + strMount))
        return false;
    std::vector<char> vecData(20000, 'x');
    bool bOk = true;
    for (int i = 0; bOk && i < FILES; ++i) {
        std::string strFolder = strMount + "/d" + std::to_string(i % FOLDERS) + "/s";
        if (i < FOLDERS)
            bOk = Run("mkdir -p " + strFolder);
        std::ofstream file(strFolder + "/f" + std::to_string(i) + ".bin", std::ios::binary);
        file.write(vecData.data(), static_cast<std::streamsize>(500 + (i * 37) % 19000));
        bOk = bOk && file.good();
    }
    bOk = bOk && Run("find " + strMount + " -name 'f*[0369].bin' -delete");
    return Run("fusermount -u " + strMount) && bOk;
}

} // namespace

int main() {
    char szDir[] = "/tmp/orvanne-bench-ntfsdeep-XXXXXX";
    if (mkdtemp(szDir) == nullptr)
        return 1;
    std::string strDir = szDir;
    std::string strImage = strDir + "/vol.img";
    setenv("ORVANNE_SCANLOG_DIR", (strDir + "/scanlog").c_str(), 1);
    if (!BuildImage(strDir, strImage)) {
        std::printf("ntfsdeep_sweep: skipped, needs mkntfs and an ntfs-3g FUSE mount\n");
        Run("rm -rf " + strDir);
        return 0;
    }
    std::vector<uint8_t> vecImage(IMAGE_BYTES);
    std::ifstream image(strImage, std::ios::binary);
    image.read(reinterpret_cast<char*>(vecImage.data()), static_cast<std::streamsize>(IMAGE_BYTES));

    CLogFileManager::GetInstance();
    CProfessionalNtfsRecovery engine;
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    engine.Init(nDisk, 0, IMAGE_BYTES / SECTOR, u'C');
    engine.InitProfessionalScan(nullptr);
    long long llStart = GetTickCountMs();
    uint64_t u64Records = 0;
    for (uint64_t off = 0; off + RECORD <= vecImage.size(); off += SECTOR) {
        if (!IsNtfsFileRecord(vecImage.data() + off, RECORD, RECORD))
            continue;
        engine.ParseNtfsFileRecord(vecImage.data() + off, RECORD, off / SECTOR);
        ++u64Records;
    }
    long long llSweepMs = GetTickCountMs() - llStart;
    llStart = GetTickCountMs();
    engine.ParseProfessionalRecordVec();
    long long llFoldersMs = GetTickCountMs() - llStart;
    std::printf("ntfsdeep_sweep: %llu records over %llu MiB in %lld ms (%.0f records/s), "
                "folders resolved in %lld ms, %u nodes\n",
                static_cast<unsigned long long>(u64Records),
                static_cast<unsigned long long>(IMAGE_BYTES >> 20), llSweepMs,
                llSweepMs > 0 ? 1000.0 * double(u64Records) / double(llSweepMs) : 0.0, llFoldersMs,
                engine.GetLostFileCount());
    Run("rm -rf " + strDir);
    return 0;
}
