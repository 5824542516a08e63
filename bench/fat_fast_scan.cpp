// Fast FAT scan on a 512 MiB FAT32 image (mkfs.vfat + mtools) holding 200 files in 20 folders,
// 60 of them deleted (20 inside two deleted folders): files found, listed with the right name
// and path, recovered byte for byte, and the scan time.
#include "device/CDiskRegistry.h"
#include "fat/CFastFatRecovery.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int FOLDERS = 20;
constexpr int FILES_PER_FOLDER = 10;
constexpr int SCAN_RUNS = 3;
// Folders 0..9 lose four files each; the last two folders are deleted whole.
const std::set<int> DELETED_IN_FOLDER = {1, 4, 6, 9};
constexpr int FIRST_DELETED_FOLDER = 18;

struct SAMPLE {
    std::string strFolder;
    std::string strName;
    std::string strFoundName; // the name the scan shows for it once deleted
    std::vector<uint8_t> vecBytes;
};

std::vector<uint8_t> MakeBytes(size_t nBytes, uint32_t nSeed, bool bJpeg) {
    std::mt19937 rng(nSeed);
    std::vector<uint8_t> bytes(nBytes);
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    if (bJpeg)
        std::copy(std::begin(head), std::end(head), bytes.begin());
    return bytes;
}

bool Run(const std::string& strCommand) {
    return std::system(("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 " + strCommand).c_str()) == 0;
}

std::string Quote(const std::string& strText) {
    return "'" + strText + "'";
}

void CollectTree(CFastFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
                 const std::string& strPrefix, std::map<std::string, FILE_NODE>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    if (engine.GetChildrenFileNode(pParent, nDepth, vecChildren) != 0)
        return;
    for (FILE_NODE& child : vecChildren) {
        std::string strPath = strPrefix + child.szFileName + (child.bIsDir ? "/" : "");
        mapOut[strPath] = child;
        if (child.bIsDir)
            CollectTree(engine, &child, nDepth + 1, strPath, mapOut);
    }
}

// Each scan then reads the image from the disk, not from the page cache.
void DropCachedPages(const std::string& strPath) {
    int nFd = open(strPath.c_str(), O_RDONLY);
    if (nFd < 0)
        return;
    fdatasync(nFd);
    posix_fadvise(nFd, 0, 0, POSIX_FADV_DONTNEED);
    close(nFd);
}

std::vector<uint8_t> ReadAll(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

} // namespace

int main() {
    char szRoot[] = "/tmp/orvanne-bench-fat-XXXXXX";
    if (mkdtemp(szRoot) == nullptr)
        return 1;
    const std::string strRoot = szRoot;
    setenv("ORVANNE_SCANLOG_DIR", (strRoot + "/scanlog").c_str(), 1);
    const std::string strImage = strRoot + "/fat32-512m.img";

    std::vector<SAMPLE> samples;
    std::vector<std::string> vecDeletePaths;
    for (int f = 0; f < FOLDERS; ++f) {
        char szFolder[32];
        std::snprintf(szFolder, sizeof(szFolder), "Folder%02d", f);
        std::filesystem::create_directories(strRoot + "/host/" + szFolder);
        for (int i = 0; i < FILES_PER_FOLDER; ++i) {
            SAMPLE s;
            s.strFolder = szFolder;
            char szName[64];
            const bool bLong = i % 2 == 0;
            if (bLong)
                std::snprintf(szName, sizeof(szName), "Holiday Photo %02d-%d.jpg", f, i);
            else
                std::snprintf(szName, sizeof(szName), "f%02d_%d.dat", f, i);
            s.strName = szName;
            s.strFoundName = bLong ? s.strName : "!" + s.strName.substr(1);
            const uint32_t nSeed = uint32_t(f * 100 + i);
            s.vecBytes = MakeBytes(1000 + (nSeed * 7919) % 300000, nSeed, bLong);
            std::ofstream(strRoot + "/host/" + szFolder + "/" + szName, std::ios::binary)
                .write(reinterpret_cast<const char*>(s.vecBytes.data()), s.vecBytes.size());
            if (f < 10 && DELETED_IN_FOLDER.count(i))
                vecDeletePaths.push_back(Quote("::/" + s.strFolder + "/" + s.strName));
            samples.push_back(std::move(s));
        }
    }
    std::string strDelete = "mdel -i " + Quote(strImage);
    for (const std::string& strPath : vecDeletePaths)
        strDelete += " " + strPath;
    bool bBuilt =
        Run("mkfs.vfat -C -F 32 " + Quote(strImage) + " 524288 >/dev/null") &&
        Run("cd " + Quote(strRoot + "/host") + " && mcopy -s -i " + Quote(strImage) + " * ::/") &&
        Run(strDelete);
    for (int f = FIRST_DELETED_FOLDER; f < FOLDERS; ++f)
        bBuilt = bBuilt && Run("mdeltree -i " + Quote(strImage) + " ::/Folder" + std::to_string(f));
    if (!bBuilt) {
        std::fprintf(stderr, "image could not be built (mkfs.vfat and mtools needed)\n");
        std::filesystem::remove_all(strRoot);
        return 1;
    }

    const int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    const long long llSectors = static_cast<long long>(std::filesystem::file_size(strImage) / 512);
    std::vector<long long> vecScanMs;
    std::map<std::string, FILE_NODE> mapFound;
    CFastFatRecovery engine;
    if (engine.Init(nDisk, 0, llSectors, u'C') != 0)
        return 1;
    for (int nRun = 0; nRun < SCAN_RUNS; ++nRun) {
        DropCachedPages(strImage);
        long long llStart = GetTickCountMs();
        if (engine.ScanDevice(nullptr) != 0)
            return 1;
        vecScanMs.push_back(GetTickCountMs() - llStart);
    }
    CollectTree(engine, nullptr, 0, "", mapFound);

    int nFilesFound = 0, nDeleted = 0, nListed = 0, nIntact = 0;
    for (const auto& [strPath, node] : mapFound)
        nFilesFound += node.bIsDir ? 0 : 1;
    const std::string strOut = strRoot + "/out";
    std::filesystem::create_directories(strOut);
    for (size_t n = 0; n < samples.size(); ++n) {
        const SAMPLE& s = samples[n];
        const int f = std::stoi(s.strFolder.substr(6));
        const int i = static_cast<int>(n % FILES_PER_FOLDER);
        if (!(f >= FIRST_DELETED_FOLDER || (f < 10 && DELETED_IN_FOLDER.count(i))))
            continue;
        ++nDeleted;
        // Folder long names survive deletion, so deleted folders keep their names too.
        auto it = mapFound.find(s.strFolder + "/" + s.strFoundName);
        if (it == mapFound.end()) {
            std::printf("missing: %s/%s\n", s.strFolder.c_str(), s.strName.c_str());
            continue;
        }
        ++nListed;
        FILE_NODE node = it->second;
        std::string strTarget = strOut + "/" + std::to_string(n);
        if (engine.SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0) == 0 &&
            ReadAll(strTarget) == s.vecBytes)
            ++nIntact;
    }

    std::sort(vecScanMs.begin(), vecScanMs.end());
    std::printf("fast FAT scan, 512 MiB FAT32, %d files in %d folders, %d deleted\n",
                FOLDERS * FILES_PER_FOLDER, FOLDERS, nDeleted);
    std::printf("  files found:                 %d\n", nFilesFound);
    std::printf("  listed with name and path:   %d / %d\n", nListed, nDeleted);
    std::printf("  recovered intact (byte-equal): %d / %d\n", nIntact, nListed);
    std::printf("  scan time (image out of the page cache): median %lld ms (min %lld, max %lld, "
                "%d runs)\n",
                vecScanMs[SCAN_RUNS / 2], vecScanMs.front(), vecScanMs.back(), SCAN_RUNS);
    std::filesystem::remove_all(strRoot);
    return nListed == nDeleted && nIntact == nListed && nFilesFound == nDeleted ? 0 : 2;
}
