// Arbitrary NTFS volume heads (boot sector, $MFT and the records after it) through the fast NTFS
// scan, its folder tree, previews and free-cluster map, over an in-memory image.
#include "ntfs/CFastNtfsRecovery.h"
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
constexpr unsigned int MAX_DEPTH = 6;

const std::string& ScanLogDir() {
    static const std::string strDir = [] {
        char szRoot[] = "/tmp/orvanne-fuzz-ntfs-XXXXXX";
        if (mkdtemp(szRoot) == nullptr)
            std::abort();
        setenv("ORVANNE_SCANLOG_DIR", szRoot, 1);
        return std::string(szRoot);
    }();
    return strDir;
}

void WalkTree(CFastNtfsRecovery& engine, FILE_NODE* pParent, unsigned int nDepth) {
    std::vector<FILE_NODE> vecChildren;
    if (engine.GetChildrenFileNode(pParent, nDepth, vecChildren) != 0)
        return;
    for (FILE_NODE& child : vecChildren) {
        if (child.bIsDir != 0) {
            if (nDepth < MAX_DEPTH)
                WalkTree(engine, &child, nDepth + 1);
            continue;
        }
        unsigned char buffer[4096];
        char16_t wszTemp[PREVIEW_PATH_CAPACITY];
        int nLength = sizeof(buffer);
        engine.PreView(&child, wszTemp, buffer, nLength, nullptr, nullptr);
        if (nLength < 0 || nLength > int(sizeof(buffer)))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    ScanLogDir();
    std::vector<uint8_t> vecImage(pData, pData + std::min(nSize, MAX_SECTORS * SECTOR_BYTES));
    vecImage.resize((vecImage.size() / SECTOR_BYTES + 1) * SECTOR_BYTES, 0);
    int nFd = memfd_create("fuzz-ntfs", 0);
    if (nFd < 0)
        return 0;
    if (write(nFd, vecImage.data(), vecImage.size()) == static_cast<ssize_t>(vecImage.size())) {
        std::string strPath = "/proc/self/fd/" + std::to_string(nFd);
        {
            CFastNtfsRecovery engine;
            if (engine.Init(Ansi2Unicode(strPath.c_str()).c_str(), u'C') == 0 &&
                engine.ScanDevice(nullptr) == 0) {
                WalkTree(engine, nullptr, 0);
                engine.BuildBitMapInfo();
                unsigned long long u64Start = 0, u64Count = 0;
                for (int i = 0; i < 64; ++i) {
                    if (engine.GetUnUsedSectorCount(u64Start, u64Count) != 1 || u64Count == 0)
                        break;
                    u64Start += u64Count;
                }
            }
        }
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(ScanLogDir(), ec))
            std::filesystem::remove_all(entry.path(), ec);
    }
    close(nFd);
    return 0;
}
