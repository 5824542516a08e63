// Memory bound of a deep scan that carves a million tiny files: writes an image whose every
// sector is a one-sector BMP to the path given, scans it deep through the engine API, and prints
// the files found, the time and the peak resident size. bench/carve-million-rss runs it, and
// orvanne-cli on the same image, under /usr/bin/time -v.
#include "device/CDiskRegistry.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "store/CLogFileManager.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t FILE_COUNT = 1000000;
constexpr size_t SECTOR_BYTES = 512;
constexpr size_t SECTORS_PER_WRITE = 2048;
// BITMAPFILEHEADER + BITMAPINFOHEADER fields of a 512-byte picture.
constexpr size_t BMP_FILE_SIZE = 2, BMP_PIXEL_OFFSET = 10, BMP_INFO_SIZE = 14, BMP_WIDTH = 18,
                 BMP_HEIGHT = 22, BMP_PLANES = 26, BMP_BIT_COUNT = 28;
constexpr uint32_t BMP_HEADER_BYTES = 54;

void PutU32(uint8_t* p, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(x >> (8 * i));
}

std::vector<uint8_t> TinyBmpSector() {
    std::vector<uint8_t> sector(SECTOR_BYTES, 0x5A);
    sector[0] = 'B';
    sector[1] = 'M';
    PutU32(&sector[BMP_FILE_SIZE], SECTOR_BYTES);
    PutU32(&sector[6], 0);
    PutU32(&sector[BMP_PIXEL_OFFSET], BMP_HEADER_BYTES);
    PutU32(&sector[BMP_INFO_SIZE], 40);
    PutU32(&sector[BMP_WIDTH], 1);
    PutU32(&sector[BMP_HEIGHT], 1);
    sector[BMP_PLANES] = 1;
    sector[BMP_PLANES + 1] = 0;
    sector[BMP_BIT_COUNT] = 24;
    sector[BMP_BIT_COUNT + 1] = 0;
    return sector;
}

bool WriteImage(const std::string& strPath) {
    std::vector<uint8_t> sector = TinyBmpSector();
    std::vector<uint8_t> block;
    for (size_t i = 0; i < SECTORS_PER_WRITE; ++i)
        block.insert(block.end(), sector.begin(), sector.end());
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (pFile == nullptr)
        return false;
    bool bOk = true;
    for (uint64_t u64Done = 0; u64Done < FILE_COUNT && bOk; u64Done += SECTORS_PER_WRITE) {
        size_t nSectors = std::min<uint64_t>(SECTORS_PER_WRITE, FILE_COUNT - u64Done);
        bOk = std::fwrite(block.data(), SECTOR_BYTES, nSectors, pFile) == nSectors;
    }
    return std::fclose(pFile) == 0 && bOk;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_carve_million IMAGE\n");
        return 2;
    }
    std::string strImage = argv[1];
    char szLogs[] = "/tmp/orvanne-bench-carve-XXXXXX";
    if (mkdtemp(szLogs) == nullptr)
        return 1;
    setenv("ORVANNE_SCANLOG_DIR", szLogs, 1);
    if (!WriteImage(strImage)) {
        std::fprintf(stderr, "cannot write %s\n", strImage.c_str());
        return 1;
    }
    std::printf("image: %llu one-sector BMP files, %llu MiB\n",
                static_cast<unsigned long long>(FILE_COUNT),
                static_cast<unsigned long long>(FILE_COUNT * SECTOR_BYTES >> 20));

    CLogFileManager::GetInstance()->Init();
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<IFileRecoveryParse> pEngine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            nDisk, 0, static_cast<long long>(FILE_COUNT), u'C', RECOVERY_TYPE_DEEP));
    if (!pEngine)
        return 1;
    static_cast<CProfessionalRecovery*>(pEngine.get())->SetNotLoadLogFile();
    int nResult = pEngine->ScanDevice(nullptr);
    double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    unsigned int nFound = pEngine->GetLostFileCount();
    std::printf("deep scan: result %d, %u files carved in %.1f s; peak RSS %.1f MiB\n", nResult,
                nFound, dSeconds, PeakRssKiB() / 1024.0);
    pEngine.reset();
    std::error_code ec;
    std::filesystem::remove_all(szLogs, ec);
    return nResult == 0 && nFound >= FILE_COUNT ? 0 : 1;
}
