// Result-store throughput: a million nodes in ten thousand folders created, flushed, reopened,
// listed, counted and searched; prints nodes/s per step and the peak resident size.
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr uint32_t NODE_TOTAL = 1000000;
constexpr uint32_t FOLDER_COUNT = 10000;
constexpr uint32_t ROOT_KEY = 5;
constexpr uint32_t FIRST_FOLDER_CLUSTER = 100;
constexpr const char* STORE_NAME_UTF8 = "Fast_2048_2024139 5";
constexpr const char16_t* STORE_NAME = u"Fast_2048_2024139 5";
constexpr const char* FILE_EXTENSIONS[] = {"jpg", "doc", "txt", "mp3", "png"};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void Report(const char* pStep, double dSeconds, uint64_t u64Nodes) {
    std::printf("%-28s %9.3f s %14.0f nodes/s   peak RSS so far %6.1f MiB\n", pStep, dSeconds,
                u64Nodes / dSeconds, PeakRssKiB() / 1024.0);
}

FILE_NODE* NewNode(CScanResultFileManager& store, bool bDir, uint32_t nClusterNo) {
    FILE_NODE* pNode = store.CreateFileNode(sizeof(FILE_NODE));
    pNode->nEngineType = ENGINE_FAST_FAT;
    pNode->bIsDir = bDir ? 1 : 0;
    pNode->nDataHealth = 1;
    pNode->nFileIndex = store.GetFileIndex();
    pNode->nClusterNo = nClusterNo;
    pNode->nClusterBytes = 4096;
    pNode->u64FileSize = 12345;
    return pNode;
}

// Folders at the top level, then the files spread evenly over them; the creation rate.
void CreateNodes(CScanResultFileManager& store) {
    Clock::time_point start = Clock::now();
    for (uint32_t f = 0; f < FOLDER_COUNT; ++f) {
        FILE_NODE* pNode = NewNode(store, true, FIRST_FOLDER_CLUSTER + f);
        std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), "Folder%05u", f);
        store.AddChildren(ROOT_KEY, 0, pNode->nFileIndex, pNode->nClusterNo, pNode->szFileName);
    }
    for (uint32_t i = 0; i < NODE_TOTAL - FOLDER_COUNT; ++i) {
        uint32_t nFolder = FIRST_FOLDER_CLUSTER + i % FOLDER_COUNT;
        FILE_NODE* pNode = NewNode(store, false, 1000000 + i);
        std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), "IMG_%07u.%s", i,
                      FILE_EXTENSIONS[i % 5]);
        store.AddChildren(nFolder, 1, pNode->nFileIndex, pNode->nClusterNo, nullptr);
    }
    Report("create", SecondsSince(start), NODE_TOTAL);
}

void RunSteps(const std::string& strRoot) {
    {
        CScanResultFileManager store;
        if (store.Init(STORE_NAME) != 0) {
            std::printf("cannot create the store under %s\n", strRoot.c_str());
            return;
        }
        CreateNodes(store);
        Clock::time_point start = Clock::now();
        store.FlushBufToFile();
        Report("flush (relation + folders)", SecondsSince(start), NODE_TOTAL);
    }
    CScanResultFileManager store;
    Clock::time_point start = Clock::now();
    int nErr = store.Init(STORE_NAME);
    Report("reopen", SecondsSince(start), NODE_TOTAL);
    if (nErr != 0 || store.GetFileIndex() != NODE_TOTAL) {
        std::printf("reopen failed: %d, %u nodes\n", nErr, store.GetFileIndex());
        return;
    }

    std::vector<FILE_NODE> vecChildren;
    start = Clock::now();
    store.GetChildrenFileNode(MakeRelationKey(1, FIRST_FOLDER_CLUSTER + 7), vecChildren);
    Report("list one folder", SecondsSince(start), vecChildren.size());

    unsigned int nCount = 0;
    start = Clock::now();
    store.GetChildrenFileCount(ROOT_KEY, nCount);
    Report("count root subtree", SecondsSince(start), NODE_TOTAL);

    std::vector<SEARCH_FILE_INFO> vecHits;
    start = Clock::now();
    store.SearchFileNodeInfo(u"*.jpg|", vecHits);
    double dSearch = SecondsSince(start);
    Report("search \"*.jpg|\"", dSearch, NODE_TOTAL);

    double dNodeFileMiB = double(NODE_TOTAL) * sizeof(FILE_NODE) / (1024.0 * 1024.0);
    std::printf("folder listed: %zu nodes; subtree count: %u files; search hits: %zu\n",
                vecChildren.size(), nCount, vecHits.size());
    std::printf("search rate: %.0f MB/s of node file (%.1f MiB)\n",
                double(NODE_TOTAL) * sizeof(FILE_NODE) / 1e6 / dSearch, dNodeFileMiB);
    std::printf("search hits held in memory: %.1f MiB\n",
                double(vecHits.size()) * sizeof(FILE_NODE) / (1024.0 * 1024.0));
    std::printf("relation map payload: %.1f MiB (%u child indices)\n",
                double(NODE_TOTAL) * sizeof(uint32_t) / (1024.0 * 1024.0), NODE_TOTAL);
}

} // namespace

int main() {
    char szRoot[] = "/tmp/orvanne-bench-store-XXXXXX";
    if (mkdtemp(szRoot) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("ORVANNE_SCANLOG_DIR", szRoot, 1);
    std::printf("store %s: %u nodes in %u folders\n", STORE_NAME_UTF8, NODE_TOTAL, FOLDER_COUNT);
    RunSteps(szRoot);
    std::printf("peak RSS: %.1f MiB\n", PeakRssKiB() / 1024.0);
    std::error_code ec;
    std::filesystem::remove_all(szRoot, ec);
    return 0;
}
