// Arbitrary directory bytes through the FAT entry validators, and arbitrary FAT, root and data
// sectors under a fixed boot sector through the fast scan, its tree, previews and free space.
#include "fat/CFastFatRecovery.h"
#include "formats/fat/FatEntryValidator.h"
#include "util/TextUtil.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t SECTOR = 512;
constexpr size_t VOLUME_SECTORS = 96;
// Boot field offsets.
constexpr size_t BYTS_PER_SEC = 11, SEC_PER_CLUS = 13, RSVD_SEC_CNT = 14, NUM_FATS = 16,
                 ROOT_ENT_CNT = 17, TOT_SEC16 = 19, FAT_SZ16 = 22, FAT_SZ32 = 36, ROOT_CLUS = 44,
                 FIL_SYS_TYPE = 82;

void PutU16(std::vector<uint8_t>& v, size_t off, uint16_t x) {
    v[off] = uint8_t(x);
    v[off + 1] = uint8_t(x >> 8);
}

// One reserved sector, one FAT sector, FAT16: a 16-entry root sector; then 1-sector clusters.
std::vector<uint8_t> MakeVolume(bool bFat32, const uint8_t* pData, size_t nSize) {
    std::vector<uint8_t> volume(VOLUME_SECTORS * SECTOR, 0);
    PutU16(volume, BYTS_PER_SEC, SECTOR);
    volume[SEC_PER_CLUS] = 1;
    PutU16(volume, RSVD_SEC_CNT, 1);
    volume[NUM_FATS] = 1;
    PutU16(volume, TOT_SEC16, VOLUME_SECTORS);
    if (bFat32) {
        PutU16(volume, FAT_SZ32, 1);
        volume[ROOT_CLUS] = 2;
        std::memcpy(&volume[FIL_SYS_TYPE], "FAT32   ", 8);
    } else {
        PutU16(volume, ROOT_ENT_CNT, 16);
        PutU16(volume, FAT_SZ16, 1);
    }
    std::memcpy(&volume[SECTOR], pData, std::min(nSize, volume.size() - SECTOR));
    return volume;
}

void EnsureScanLogDir() {
    static const bool bSet = [] {
        char szRoot[] = "/tmp/orvanne-fuzz-fat-XXXXXX";
        if (mkdtemp(szRoot) == nullptr)
            std::abort();
        setenv("ORVANNE_SCANLOG_DIR", szRoot, 1);
        return true;
    }();
    (void)bSet;
}

void WalkTree(CFastFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth, int nBudget) {
    std::vector<FILE_NODE> vecChildren;
    if (nBudget <= 0 || engine.GetChildrenFileNode(pParent, nDepth, vecChildren) != 0)
        return;
    for (FILE_NODE& child : vecChildren) {
        if (child.bIsDir) {
            WalkTree(engine, &child, nDepth + 1, nBudget - 1);
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

void ScanVolume(const std::vector<uint8_t>& volume) {
    int nFd = memfd_create("fuzz-fat", 0);
    if (nFd < 0)
        return;
    if (write(nFd, volume.data(), volume.size()) == static_cast<ssize_t>(volume.size())) {
        std::string strPath = "/proc/self/fd/" + std::to_string(nFd);
        CFastFatRecovery engine;
        if (engine.Init(Ansi2Unicode(strPath.c_str()).c_str(), u'C') == 0 &&
            engine.ScanDevice(nullptr) == 0) {
            WalkTree(engine, nullptr, 0, 8);
            engine.BuildBitMapInfo();
            unsigned long long u64Start = 0, u64Count = 0;
            for (int i = 0; i < 64; ++i) {
                engine.GetUnUsedSectorCount(u64Start, u64Count);
                if (u64Count == 0)
                    break;
                u64Start += u64Count;
            }
        }
    }
    close(nFd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    EnsureScanLogDir();
    for (size_t nOff = 0; nOff + FAT_ENTRY_BYTES <= nSize; nOff += FAT_ENTRY_BYTES)
        IsFatEntyValid(pData + nOff, nSize - nOff);
    IsFatFileRecord(pData, nSize);
    IsFatFDTRecord(pData, nSize / FAT_ENTRY_BYTES * FAT_ENTRY_BYTES);
    if (nSize == 0)
        return 0;
    ScanVolume(MakeVolume((pData[0] & 1) != 0, pData + 1, nSize - 1));
    return 0;
}
