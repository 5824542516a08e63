// Arbitrary bytes offered to the deep NTFS engine as found records. The same bytes also lie
// on the disk image the engine reads, so parent climbs, folder resolution and the record
// readers meet them again through the device.
#include "device/CDiskRegistry.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "store/CLogFileManager.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t IMAGE_SECTORS = 4096;
constexpr size_t SECTOR_BYTES = 512;
constexpr size_t RECORD_BYTES = 1024;
constexpr uint32_t INPUTS_PER_STORE = 256;
constexpr const char16_t* STORE_NAME = u"fuzz";

struct CFuzzDisk {
    std::string strDir;
    std::string strImage;
    int nFd = -1;
    int nDiskNo = -1;

    CFuzzDisk() {
        char szTemplate[] = "/tmp/orvanne-fuzz-ntfsdeep-XXXXXX";
        if (mkdtemp(szTemplate) == nullptr)
            std::abort();
        strDir = szTemplate;
        setenv("ORVANNE_SCANLOG_DIR", (strDir + "/scanlog").c_str(), 1);
        strImage = strDir + "/disk.img";
        FILE* pFile = std::fopen(strImage.c_str(), "w+b");
        if (pFile == nullptr || ftruncate(fileno(pFile), IMAGE_SECTORS * SECTOR_BYTES) != 0)
            std::abort();
        std::fclose(pFile);
        nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        nFd = open(strImage.c_str(), O_WRONLY);
        if (nDiskNo < 0 || nFd < 0)
            std::abort();
        CLogFileManager::GetInstance();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static CFuzzDisk disk;
    static CProfessionalNtfsRecovery engine;
    static uint32_t nInputs = 0;
    if (nInputs++ % INPUTS_PER_STORE == 0) {
        engine.Init(disk.nDiskNo, 0, IMAGE_SECTORS, u'C');
        // A fresh store now and then keeps its files, rewritten after every input, small.
        std::string strStore = CLogFileManager::GetInstance()->GetLogFileDirPath() + "fuzz";
        for (const char* pSuffix : {"", RELATION_FILE_SUFFIX, DIR_INFO_FILE_SUFFIX})
            unlink((strStore + pSuffix).c_str());
        engine.InitProfessionalScan(STORE_NAME);
    }
    std::vector<uint8_t> vecRecord(pData, pData + nSize);
    if (vecRecord.size() < RECORD_BYTES)
        vecRecord.resize(RECORD_BYTES);
    // The record sits where its own number would place it in a table starting at sector 0,
    // and once more further in: climbs through either placement read these bytes back.
    uint32_t nRecordNo = vecRecord[0x2C] | vecRecord[0x2D] << 8;
    uint64_t u64Sector = (uint64_t(nRecordNo) * 2) % (IMAGE_SECTORS - 16);
    pwrite(disk.nFd, vecRecord.data(), RECORD_BYTES, off_t(u64Sector * SECTOR_BYTES));
    pwrite(disk.nFd, vecRecord.data(), RECORD_BYTES, off_t((IMAGE_SECTORS - 8) * SECTOR_BYTES));

    engine.ParseNtfsFileRecord(vecRecord.data(), vecRecord.size(), u64Sector);
    engine.ParseNtfsFileRecord(vecRecord.data(), vecRecord.size(), IMAGE_SECTORS - 8);
    engine.GetFileRecordSectorPerClusterByRecordBuf(vecRecord.data(), vecRecord.size());
    std::vector<RUNLIST> vecRuns;
    engine.GetRunListInfo(u64Sector, 0x80, vecRuns);
    engine.ParseProfessionalRecordVec();
    engine.ClearProfessionalVec();
    return 0;
}
