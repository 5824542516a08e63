// Arbitrary directory-looking sectors through the deep FAT engine's sector pass and rebuild; the
// input is also the disk the engine reads back for folder starts, parents and data.
#include "fat/CProfessionalFatRecovery.h"
#include "formats/fat/FatEntryValidator.h"
#include "store/CLogFileManager.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t FUZZ_SECTOR_BYTES = 512;

std::string& ScanLogDir() {
    static std::string strDir = [] {
        char szTemplate[] = "/tmp/orvanne-fuzz-fatdeep-XXXXXX";
        std::string strPath = mkdtemp(szTemplate) != nullptr ? szTemplate : "/tmp";
        setenv("ORVANNE_SCANLOG_DIR", strPath.c_str(), 1);
        return strPath;
    }();
    return strDir;
}

void WalkTree(CProfessionalFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth) {
    std::vector<FILE_NODE> vecChildren;
    engine.GetChildrenFileNode(pParent, nDepth, vecChildren);
    for (FILE_NODE& child : vecChildren)
        if (child.bIsDir != 0 && nDepth < 4)
            WalkTree(engine, &child, nDepth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string& strLogDir = ScanLogDir();
    std::vector<uint8_t> vecDisk(pData, pData + nSize);
    vecDisk.resize((nSize + FUZZ_SECTOR_BYTES - 1) / FUZZ_SECTOR_BYTES * FUZZ_SECTOR_BYTES);
    int nFd = memfd_create("fuzz-fatdeep", 0);
    if (nFd < 0)
        return 0;
    if (write(nFd, vecDisk.data(), vecDisk.size()) == static_cast<ssize_t>(vecDisk.size())) {
        std::string strPath = "/proc/self/fd/" + std::to_string(nFd);
        std::u16string strWide(strPath.begin(), strPath.end());
        {
            CProfessionalFatRecovery engine;
            if (engine.Init(strWide.c_str(), u'C') == 0 &&
                engine.ClearProfessionalVec(u"Pro_Fat_fuzz") == 0) {
                engine.InitVirtualDbrInfo();
                for (size_t nOff = 0; nOff < vecDisk.size(); nOff += FUZZ_SECTOR_BYTES) {
                    const uint8_t* pSector = vecDisk.data() + nOff;
                    if (IsFatFileRecord(pSector, FUZZ_SECTOR_BYTES))
                        engine.ParseFatFileRecord(pSector, nOff / FUZZ_SECTOR_BYTES);
                    else if (IsFatFDTRecord(pSector, FUZZ_SECTOR_BYTES))
                        engine.ParseFDTFileRecord(pSector, nOff / FUZZ_SECTOR_BYTES);
                }
                engine.DealProfessionalRecordVec();
                WalkTree(engine, nullptr, 0);
            }
        }
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(strLogDir, ec))
            std::filesystem::remove_all(entry.path(), ec);
    }
    close(nFd);
    return 0;
}
