// Fuzzes the fast NTFS engine end to end: the input becomes records 6 to 31 of a small volume
// whose $MFT record is valid, which is then scanned, listed, previewed and mapped for free space.
#include "device/BootSectorLayout.h"
#include "formats/ntfs/NtfsRecord.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "util/TextUtil.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t SECTOR = 512;
constexpr size_t RECORD = 1024;
constexpr size_t MFT_SECTOR = 16;
constexpr size_t MFT_RECORDS = 32;
constexpr size_t FIRST_FUZZED_RECORD = NTFS_BITMAP_RECORD;
constexpr size_t IMAGE_BYTES = 1 << 20;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, uint16_t(v));
    Put16(p + 2, uint16_t(v >> 16));
}

// Boot sector (512-byte sectors, 1 sector per cluster, $MFT at cluster 16), record 0 whose data
// run covers the whole table, and a data area of recognisable bytes.
std::vector<uint8_t> MakeImage() {
    std::vector<uint8_t> image(IMAGE_BYTES);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 7 + 3);
    std::memset(image.data(), 0, MFT_SECTOR * SECTOR + MFT_RECORDS * RECORD);
    Put16(&image[BPB_BYTS_PER_SEC], SECTOR);
    image[BPB_SEC_PER_CLUS] = 1;
    Put32(&image[NTFS_MFT_CLUSTER], MFT_SECTOR);
    uint8_t* r = &image[MFT_SECTOR * SECTOR];
    Put32(r + FR_SIGNATURE, NTFS_FILE_SIGNATURE);
    Put16(r + FR_FIRST_ATTRIBUTE, 0x38);
    Put16(r + FR_FLAGS, FR_FLAG_IN_USE);
    Put32(r + FR_BYTES_IN_USE, 0x88);
    Put32(r + FR_BYTES_ALLOCATED, RECORD);
    Put16(r + FR_UPDATE_SEQUENCE, 1);
    Put16(r + SECTOR - 2, 1);
    Put16(r + RECORD - 2, 1);
    uint8_t* a = r + 0x38;
    Put32(a + ATTR_TYPE, ATTR_TYPE_DATA);
    Put32(a + ATTR_LENGTH, 0x48);
    a[ATTR_NON_RESIDENT] = 1;
    Put16(a + ATTR_RUNS_OFFSET, 0x40);
    Put32(a + ATTR_REAL_SIZE, MFT_RECORDS * RECORD);
    const uint8_t runs[] = {0x11, uint8_t(MFT_RECORDS * RECORD / SECTOR), uint8_t(MFT_SECTOR), 0};
    std::memcpy(a + 0x40, runs, sizeof(runs));
    Put32(r + 0x80, ATTR_TYPE_END);
    return image;
}

struct CFuzzVolume {
    std::string strDir;
    std::string strImage;
    int nFd = -1;
    CFuzzVolume() {
        char szTemplate[] = "/tmp/orvanne-fuzz-ntfs-XXXXXX";
        strDir = mkdtemp(szTemplate);
        strImage = strDir + "/vol.img";
        setenv("ORVANNE_SCANLOG_DIR", (strDir + "/log").c_str(), 1);
        std::vector<uint8_t> image = MakeImage();
        nFd = open(strImage.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (nFd < 0 || write(nFd, image.data(), image.size()) != ssize_t(image.size()))
            std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static CFuzzVolume volume;
    std::vector<uint8_t> vecRecords((MFT_RECORDS - FIRST_FUZZED_RECORD) * RECORD, 0);
    std::memcpy(vecRecords.data(), pData, std::min(nSize, vecRecords.size()));
    off_t llAt = off_t(MFT_SECTOR * SECTOR + FIRST_FUZZED_RECORD * RECORD);
    if (pwrite(volume.nFd, vecRecords.data(), vecRecords.size(), llAt) !=
        ssize_t(vecRecords.size()))
        std::abort();

    CFastNtfsRecovery engine;
    if (engine.Init(Ansi2Unicode(volume.strImage.c_str()).c_str(), u'C') != 0 ||
        engine.ScanDevice(nullptr) != 0)
        return 0;
    std::vector<FILE_NODE> vecTop;
    engine.GetChildrenFileNode(nullptr, 0, vecTop);
    for (FILE_NODE& node : vecTop) {
        std::vector<FILE_NODE> vecChildren;
        engine.GetChildrenFileNode(&node, 1, vecChildren);
        std::vector<uint8_t> vecBuffer(4096);
        int nLength = static_cast<int>(vecBuffer.size());
        char16_t szTemp[PREVIEW_PATH_CAPACITY] = {};
        if (node.bIsDir == 0)
            engine.PreView(&node, szTemp, vecBuffer.data(), nLength, nullptr, nullptr);
    }
    if (engine.BuildBitMapInfo() == 0) {
        unsigned long long u64Start = 0, u64Count = 0;
        engine.GetUnUsedSectorCount(u64Start, u64Count);
    }
    return 0;
}
