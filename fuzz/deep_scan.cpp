// Arbitrary disk images through the whole deep scan: the fast engine it picks, the shared sector
// pass (NTFS records, FAT directory sectors, carving), then the merged tree and search.
#include "deepscan/CProfessionalRecovery.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t SECTOR_BYTES = 512;
constexpr size_t MAX_SECTORS = 1024;
constexpr unsigned int MAX_DEPTH = 4;

const std::string& ScanLogDir() {
    static const std::string strDir = [] {
        char szRoot[] = "/tmp/orvanne-fuzz-deep-XXXXXX";
        if (mkdtemp(szRoot) == nullptr)
            std::abort();
        setenv("ORVANNE_SCANLOG_DIR", szRoot, 1);
        return std::string(szRoot);
    }();
    return strDir;
}

void ClearScanLogs() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ScanLogDir(), ec))
        std::filesystem::remove_all(entry.path(), ec);
}

void WalkTree(CProfessionalRecovery& engine, FILE_NODE* pParent, unsigned int nDepth) {
    std::vector<FILE_NODE> vecChildren;
    if (engine.GetChildrenFileNode(pParent, nDepth, vecChildren) != 0)
        return;
    char16_t szPath[1024];
    for (FILE_NODE& child : vecChildren) {
        engine.GetFileNodeParentDirPath(&child, szPath, 1024);
        if (child.bIsDir != 0 && nDepth < MAX_DEPTH)
            WalkTree(engine, &child, nDepth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    ScanLogDir();
    std::vector<uint8_t> vecImage(pData, pData + std::min(nSize, MAX_SECTORS * SECTOR_BYTES));
    vecImage.resize((vecImage.size() / SECTOR_BYTES + 1) * SECTOR_BYTES, 0);
    int nFd = memfd_create("fuzz-deep", 0);
    if (nFd < 0)
        return 0;
    if (write(nFd, vecImage.data(), vecImage.size()) == static_cast<ssize_t>(vecImage.size())) {
        CLogFileManager::GetInstance()->Init();
        std::string strPath = "/proc/self/fd/" + std::to_string(nFd);
        {
            CProfessionalRecovery engine;
            // As through the factory, a volume too short for a boot sector is still scanned.
            engine.Init(Ansi2Unicode(strPath.c_str()).c_str(), u'C');
            engine.SetNotLoadLogFile();
            if (engine.ScanDevice(nullptr) == 0) {
                WalkTree(engine, nullptr, 0);
                std::vector<SEARCH_FILE_INFO> vecHits;
                engine.SearchFileNode(u"*.jpg|*.doc|*.txt|*.other|", vecHits);
            }
        }
        ClearScanLogs();
    }
    close(nFd);
    return 0;
}
