// Arbitrary bytes through the exFAT decoders: entry sets at every entry offset, a directory, the
// deep scan's sector test, the boot region and the allocation bitmap.
#include "formats/exfat/ExFatAllocation.h"
#include "formats/exfat/ExFatBootSector.h"
#include "formats/exfat/ExFatDirectory.h"

#include <cstdlib>

namespace {

constexpr size_t SECTOR = 512;

void CheckSet(const EXFAT_ENTRY_SET& set, size_t nAvailable) {
    if (set.nEntryCount * EXFAT_ENTRY_BYTES > nAvailable ||
        set.strName16.size() > EXFAT_MAX_NAME_UNITS || set.u64ValidDataLength > set.u64DataLength)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    for (size_t nOff = 0; nOff < nSize; nOff += EXFAT_ENTRY_BYTES)
        if (auto set = ParseExFatEntrySet(pData + nOff, nSize - nOff))
            CheckSet(*set, nSize - nOff);
    for (const EXFAT_DIR_SET& item : ParseExFatDirectory(pData, nSize).vecSets)
        CheckSet(item.set, nSize - item.nOffset);
    for (size_t nOff = 0; nOff + SECTOR <= nSize; nOff += SECTOR)
        if (auto dir = ParseExFatDirectorySector(pData + nOff, nSize - nOff, SECTOR))
            for (const EXFAT_DIR_SET& item : dir->vecSets)
                if (item.nOffset >= SECTOR)
                    std::abort();
    IsExFatBootRegionValid(pData, nSize);
    if (auto geometry = ParseExFatBootSector(pData, nSize, 0))
        if (geometry->ClusterBytes() == 0 || !geometry->IsHeapCluster(geometry->nRootCluster))
            std::abort();
    uint32_t nCluster = 0;
    for (int i = 0; i < 64; ++i) {
        auto run = NextExFatFreeRun(pData, nSize, uint32_t(nSize * 8), nCluster);
        if (!run)
            break;
        nCluster = run->nFirstCluster + run->nClusterCount;
    }
    return 0;
}
