// Arbitrary sectors through the deep exFAT engine's sector parser, geometry inference and tree
// rebuild; the input is also the disk the engine reads back for boot regions, up-case tables and
// file data.
#include "exfat/CProfessionalExFatRecovery.h"

#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t FUZZ_SECTOR_BYTES = 512;

void EnsureScanLogDir() {
    static const bool bSet = [] {
        char szRoot[] = "/tmp/orvanne-fuzz-exfatdeep-XXXXXX";
        if (mkdtemp(szRoot) == nullptr)
            std::abort();
        setenv("ORVANNE_SCANLOG_DIR", szRoot, 1);
        return true;
    }();
    (void)bSet;
}

void WalkTree(CProfessionalExFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth) {
    std::vector<FILE_NODE> vecChildren;
    engine.GetChildrenFileNode(pParent, nDepth, vecChildren);
    for (FILE_NODE& child : vecChildren) {
        if (child.bIsDir != 0 && nDepth < 4) {
            WalkTree(engine, &child, nDepth + 1);
            continue;
        }
        unsigned char buffer[1024];
        int nLength = sizeof(buffer);
        engine.PreView(&child, nullptr, buffer, nLength, nullptr, nullptr);
        if (nLength < 0 || nLength > int(sizeof(buffer)))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    EnsureScanLogDir();
    std::vector<uint8_t> vecDisk(pData, pData + nSize);
    vecDisk.resize((nSize + FUZZ_SECTOR_BYTES - 1) / FUZZ_SECTOR_BYTES * FUZZ_SECTOR_BYTES);
    int nFd = memfd_create("fuzz-exfatdeep", 0);
    if (nFd < 0)
        return 0;
    if (write(nFd, vecDisk.data(), vecDisk.size()) == static_cast<ssize_t>(vecDisk.size())) {
        std::string strPath = "/proc/self/fd/" + std::to_string(nFd);
        std::u16string strWide(strPath.begin(), strPath.end());
        CProfessionalExFatRecovery engine;
        if (engine.Init(strWide.c_str(), u'C') == 0 && engine.ClearProfessionalVec(nullptr) == 0) {
            for (size_t nOff = 0; nOff < vecDisk.size(); nOff += FUZZ_SECTOR_BYTES)
                engine.ParseExFatSector(vecDisk.data() + nOff, vecDisk.size() - nOff,
                                        nOff / FUZZ_SECTOR_BYTES);
            engine.DealProfessionalRecordVec();
            WalkTree(engine, nullptr, 0);
        }
    }
    close(nFd);
    return 0;
}
