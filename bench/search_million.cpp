// The streamed search over a million hits: writes the million-BMP image to the path given,
// scans it deep, then takes every hit through the search cursor and prints the time and the
// peak resident size after the scan and after the search (the vector form would hold 344 MB).
#include "MillionImage.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/CDiskRegistry.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace million_image;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Takes every hit once, checking that they come in node order.
bool StreamHits(ISearchCursor& cursor, uint64_t& u64Hits, uint64_t& u64Bytes) {
    SEARCH_FILE_INFO previous{}, hit;
    bool bOrdered = true;
    while (cursor.Next(hit)) {
        bOrdered &= u64Hits == 0 || !CScanResultFileManager::NodeOrderLess(hit, previous);
        u64Bytes += hit.u64FileSize;
        ++u64Hits;
        previous = hit;
    }
    return bOrdered && cursor.GetResult() == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_search_million IMAGE\n");
        return 2;
    }
    std::string strImage = argv[1];
    char szLogs[] = "/tmp/orvanne-bench-search-XXXXXX";
    if (mkdtemp(szLogs) == nullptr || !WriteImage(strImage))
        return 1;
    setenv("ORVANNE_SCANLOG_DIR", szLogs, 1);
    CLogFileManager::GetInstance()->Init();
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    std::unique_ptr<IFileRecoveryParse> pEngine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            nDisk, 0, static_cast<long long>(FILE_COUNT), u'C', RECOVERY_TYPE_DEEP));
    if (!pEngine)
        return 1;
    static_cast<CProfessionalRecovery*>(pEngine.get())->SetNotLoadLogFile();
    Clock::time_point start = Clock::now();
    pEngine->ScanDevice(nullptr);
    std::printf("deep scan: %u files in %.1f s; peak RSS %.1f MiB\n", pEngine->GetLostFileCount(),
                SecondsSince(start), PeakRssKiB() / 1024.0);

    start = Clock::now();
    std::unique_ptr<ISearchCursor> pCursor;
    pEngine->OpenSearchCursor(u"*.bmp|", pCursor);
    double dOpen = SecondsSince(start);
    uint64_t u64Hits = 0, u64Bytes = 0;
    bool bOk = StreamHits(*pCursor, u64Hits, u64Bytes);
    std::printf("streamed search: %llu hits (%llu bytes) in node order %s; open %.2f s, "
                "all %.2f s; peak RSS %.1f MiB\n",
                static_cast<unsigned long long>(u64Hits), static_cast<unsigned long long>(u64Bytes),
                bOk ? "yes" : "NO", dOpen, SecondsSince(start), PeakRssKiB() / 1024.0);
    pCursor.reset();
    pEngine.reset();
    std::error_code ec;
    std::filesystem::remove_all(szLogs, ec);
    return bOk && u64Hits >= FILE_COUNT ? 0 : 1;
}
