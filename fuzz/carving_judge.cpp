// Arbitrary bytes through identification, the first-sector checks, every size finder over an
// in-memory reader, and carving with sizing over an in-memory disk.
#include "device/CDiskReader.h"
#include "formats/carving/CCarvingScope.h"
#include "formats/carving/CFileTypeJudge.h"
#include "formats/carving/CMemoryCarvingReader.h"
#include "formats/carving/FileDataHealth.h"
#include "formats/proof/CFileProof.h"

#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t SECTOR_BYTES = 512;
constexpr size_t MAX_SECTORS = 256;

// The sector size comes from the first input byte, so 1024..4096-byte sectors are tried too.
int PickSectorBytes(uint8_t u8Choice) {
    static const int SIZES[] = {512, 512, 1024, 2048, 4096};
    return SIZES[u8Choice % 5];
}

// A JPEG the size walk proved whole is whole to the proof too: carving trusts the walk alone.
void CheckJpegProofAgrees(const std::vector<uint8_t>& image, const EXTEND_NAME_AND_TYPE& row,
                          const CARVED_SIZE& sized) {
    if (!sized.bProvedWhole || std::string_view(row.szExtendName) != "jpg" || image.size() < 2 ||
        sized.u64Size > image.size() || image[0] != 0xFF || image[1] != 0xD8)
        return;
    if (CFileProof::ProveJpegStructure(image.data(), size_t(sized.u64Size)) != PROOF_STATE::WHOLE)
        __builtin_trap();
}

// Every distinct size finder on the whole input, whatever its first bytes.
void SizeWithEveryFinder(const std::vector<uint8_t>& image, int nSectorBytes) {
    const EXTEND_NAME_AND_TYPE* pTable = CFileTypeJudge::GetExtendNameTable();
    for (int i = 0; pTable[i].szExtendName != nullptr; ++i) {
        if (pTable[i].pfnGetSize == nullptr ||
            (i > 0 && pTable[i - 1].pfnGetSize == pTable[i].pfnGetSize))
            continue;
        CMemoryCarvingReader reader(image.data(), image.size());
        CCarvedFile file(reader, size_t(nSectorBytes), CFileTypeJudge::StartsAnotherFile);
        const CARVED_SIZE sized = pTable[i].pfnGetSize(file);
        CheckJpegProofAgrees(image, pTable[i], sized);
    }
}

void CarveFromDisk(const std::vector<uint8_t>& image, int nSectorBytes) {
    int nFd = memfd_create("fuzz-carving-disk", 0);
    if (nFd < 0)
        return;
    if (write(nFd, image.data(), image.size()) == static_cast<ssize_t>(image.size())) {
        const std::string strPath = "/proc/self/fd/" + std::to_string(nFd);
        const std::u16string strPath16(strPath.begin(), strPath.end());
        const unsigned long long u64Sectors = image.size() / nSectorBytes;
        CDiskReader reader;
        if (reader.Init(strPath16.c_str(), u64Sectors) == 0) {
            for (unsigned long long s = 0; s < u64Sectors; ++s) {
                char szName[FILE_NODE_NAME_BYTES];
                EXTEND_NAME_TYPE nType;
                unsigned long long u64Size = 0, u64Checked = 0;
                bool bProvedWhole = false;
                CFileTypeJudge::ParseFileBuf(image.data() + s * nSectorBytes, nSectorBytes, s, s,
                                             u64Sectors, 0, 0, &reader, nSectorBytes, szName, nType,
                                             u64Size, u64Checked, bProvedWhole);
            }
        }
    }
    close(nFd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize == 0)
        return 0;
    CCarvingScope scope;
    const int nSectorBytes = PickSectorBytes(pData[0]);
    std::vector<uint8_t> image(pData + 1, pData + nSize);
    image.resize((image.size() / SECTOR_BYTES + 1) * SECTOR_BYTES, 0);
    if (image.size() > MAX_SECTORS * SECTOR_BYTES)
        image.resize(MAX_SECTORS * SECTOR_BYTES);
    image.resize((image.size() + nSectorBytes - 1) / nSectorBytes * nSectorBytes, 0);

    for (size_t off = 0; off < image.size(); off += SECTOR_BYTES) {
        CFileTypeJudge::GetDataBufType(image.data() + off, int(SECTOR_BYTES));
        CFileTypeJudge::IsFileSystemSector(image.data() + off, int(SECTOR_BYTES));
        JudgeFileDataHealth(image.data() + off, SECTOR_BYTES, "jpg", nullptr, 512, 0);
    }
    SizeWithEveryFinder(image, nSectorBytes);
    CarveFromDisk(image, nSectorBytes);
    return 0;
}
