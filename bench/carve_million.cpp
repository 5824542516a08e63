// Memory bound of a deep scan that carves a million tiny files: writes an image whose every
// sector is a one-sector BMP to the path given, scans it deep through the engine API, and prints
// the files found, the time and the peak resident size. bench/carve-million-rss runs it, and
// orvanne-cli on the same image, under /usr/bin/time -v.
#include "MillionImage.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/CDiskRegistry.h"
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

using namespace million_image;

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
