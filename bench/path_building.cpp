// Folder paths of every file, as `scan --json` and `recover --layout tree` ask for them: one
// folder of 100,000 files, then 7,000 nested folders holding one file each. Prints the time
// per case and per path.
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr uint32_t FLAT_FILES = 100000;
constexpr uint32_t NESTED_FOLDERS = 7000;
constexpr uint32_t ROOT_KEY = 5;
constexpr uint32_t FIRST_FOLDER_CLUSTER = 100;
constexpr int PATH_UNITS = 4096;

using Clock = std::chrono::steady_clock;

FILE_NODE* NewNode(CScanResultFileManager& store, bool bDir, uint32_t nClusterNo,
                   const std::string& strName) {
    FILE_NODE* pNode = store.CreateFileNode(sizeof(FILE_NODE));
    pNode->nEngineType = ENGINE_FAST_FAT;
    pNode->bIsDir = bDir ? 1 : 0;
    pNode->nFileIndex = store.GetFileIndex();
    pNode->nClusterNo = nClusterNo;
    std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), "%s", strName.c_str());
    return pNode;
}

// Builds the tree: folder i (depth i) holds folder i + 1 and nFilesPerFolder files.
std::vector<FILE_NODE> BuildTree(CScanResultFileManager& store, uint32_t nFolders,
                                 uint32_t nFilesPerFolder) {
    std::vector<FILE_NODE> vecFiles;
    uint32_t nParentKey = ROOT_KEY;
    for (uint32_t nDepth = 0; nDepth < nFolders; ++nDepth) {
        uint32_t nCluster = FIRST_FOLDER_CLUSTER + nDepth;
        FILE_NODE* pFolder = NewNode(store, true, nCluster, "dir" + std::to_string(nDepth));
        store.AddChildren(nParentKey, nDepth, pFolder->nFileIndex, nCluster, pFolder->szFileName);
        for (uint32_t f = 0; f < nFilesPerFolder; ++f) {
            FILE_NODE* pFile = NewNode(store, false, 0, "f" + std::to_string(f) + ".jpg");
            store.AddChildren(nCluster, nDepth + 1, pFile->nFileIndex, 0, nullptr);
            vecFiles.push_back(*pFile);
        }
        nParentKey = nCluster;
    }
    store.FlushBufToFile();
    return vecFiles;
}

void TimePaths(const char* pCase, const char16_t* pStoreName, uint32_t nFolders,
               uint32_t nFilesPerFolder) {
    CScanResultFileManager store;
    if (store.Init(pStoreName) != 0) {
        std::printf("%s: the store cannot be made\n", pCase);
        return;
    }
    std::vector<FILE_NODE> vecFiles = BuildTree(store, nFolders, nFilesPerFolder);
    std::u16string strPath(PATH_UNITS, u'\0');
    size_t nLongest = 0;
    Clock::time_point start = Clock::now();
    for (FILE_NODE& file : vecFiles) {
        store.GetParentDirPath(&file, strPath.data(), PATH_UNITS);
        nLongest = std::max(nLongest, std::char_traits<char16_t>::length(strPath.c_str()));
    }
    double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-38s %8zu paths %9.3f s %10.2f us/path  longest %zu units\n", pCase,
                vecFiles.size(), dSeconds, dSeconds * 1e6 / vecFiles.size(), nLongest);
}

} // namespace

int main() {
    std::filesystem::path root = std::filesystem::temp_directory_path() / "orvanne-bench-paths";
    std::filesystem::remove_all(root);
    setenv("ORVANNE_SCANLOG_DIR", root.c_str(), 1);
    CLogFileManager::GetInstance()->Init();
    TimePaths("one folder of 100,000 files", u"Fast_1_flat", 1, FLAT_FILES);
    TimePaths("7,000 nested folders, one file each", u"Fast_1_deep", NESTED_FOLDERS, 1);
    std::filesystem::remove_all(root);
    return 0;
}
