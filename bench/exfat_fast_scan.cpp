// Fast exFAT scan of a 512 MiB volume (mkfs.exfat, filled through exfat-fuse) holding 10,000
// files in 100 folders, 2,000 of them deleted (500 inside five deleted folders): files listed
// with their name and path, recovered byte for byte, and the scan time.
#include "device/CDiskRegistry.h"
#include "exfat/CFastExFatRecovery.h"
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
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int FOLDERS = 100;
constexpr int FILES_PER_FOLDER = 100;
constexpr int SCAN_RUNS = 3;
constexpr int DELETE_EVERY = 7; // plus the whole of the last five folders
constexpr int FIRST_DELETED_FOLDER = 95;
constexpr const char* VOLUME_BYTES = "512M";

std::vector<uint8_t> MakeBytes(size_t nBytes, uint32_t nSeed) {
    std::mt19937 rng(nSeed);
    std::vector<uint8_t> bytes(nBytes);
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    return bytes;
}

bool Run(const std::string& strCommand) {
    return std::system(strCommand.c_str()) == 0;
}

std::string Folder(int f) {
    char szName[32];
    std::snprintf(szName, sizeof(szName), "Album %03d", f);
    return szName;
}

std::string FileName(int f, int i) {
    char szName[64];
    std::snprintf(szName, sizeof(szName), "Track %03d-%03d of the summer.dat", f, i);
    return szName;
}

bool IsDeleted(int f, int i) {
    return f >= FIRST_DELETED_FOLDER || (i % DELETE_EVERY == 0 && i > 0);
}

void CollectTree(CFastExFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
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

// mkfs.exfat, then the host tree copied in and the deleted part removed through exfat-fuse
// (on a loop device: run as root, exfat-fuse mounts block devices only).
bool BuildImage(const std::string& strRoot, const std::string& strImage) {
    const std::string strMount = strRoot + "/mnt";
    std::filesystem::create_directories(strMount);
    std::string strRemove = "true";
    for (int f = 0; f < FOLDERS; ++f)
        for (int i = 0; i < FILES_PER_FOLDER; ++i)
            if (f < FIRST_DELETED_FOLDER && IsDeleted(f, i))
                strRemove += " && rm '" + strMount + "/" + Folder(f) + "/" + FileName(f, i) + "'";
    for (int f = FIRST_DELETED_FOLDER; f < FOLDERS; ++f)
        strRemove += " && rm -r '" + strMount + "/" + Folder(f) + "'";
    const std::string strScript = strRoot + "/build.sh";
    std::ofstream(strScript) << "set -e\ntruncate -s " << VOLUME_BYTES << " '" << strImage
                             << "'\nmkfs.exfat '" << strImage << "' >/dev/null\n"
                             << "loop=$(losetup -f --show '" << strImage << "')\n"
                             << "mount.exfat-fuse \"$loop\" '" << strMount << "' 2>/dev/null\n"
                             << "cp -r '" << strRoot << "/host/.' '" << strMount << "/'\n"
                             << strRemove << "\nfusermount -u '" << strMount
                             << "'\nlosetup -d \"$loop\"\n";
    return Run("bash '" + strScript + "'");
}

} // namespace

int main() {
    char szRoot[] = "/tmp/orvanne-bench-exfat-XXXXXX";
    if (mkdtemp(szRoot) == nullptr)
        return 1;
    const std::string strRoot = szRoot;
    setenv("ORVANNE_SCANLOG_DIR", (strRoot + "/scanlog").c_str(), 1);
    const std::string strImage = strRoot + "/exfat-512m.img";
    std::map<std::string, std::vector<uint8_t>> mapDeleted;
    for (int f = 0; f < FOLDERS; ++f) {
        std::filesystem::create_directories(strRoot + "/host/" + Folder(f));
        for (int i = 0; i < FILES_PER_FOLDER; ++i) {
            const uint32_t nSeed = uint32_t(f * 1000 + i);
            std::vector<uint8_t> bytes = MakeBytes(1000 + (nSeed * 7919) % 40000, nSeed);
            std::ofstream(strRoot + "/host/" + Folder(f) + "/" + FileName(f, i), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            if (IsDeleted(f, i))
                mapDeleted[Folder(f) + "/" + FileName(f, i)] = std::move(bytes);
        }
    }
    if (!BuildImage(strRoot, strImage)) {
        std::fprintf(stderr, "image could not be built (mkfs.exfat, exfat-fuse and a loop "
                             "device needed)\n");
        std::filesystem::remove_all(strRoot);
        return 1;
    }

    const int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    const long long llSectors = static_cast<long long>(std::filesystem::file_size(strImage) / 512);
    std::vector<long long> vecScanMs;
    CFastExFatRecovery engine;
    if (engine.Init(nDisk, 0, llSectors, u'C') != 0)
        return 1;
    for (int nRun = 0; nRun < SCAN_RUNS; ++nRun) {
        DropCachedPages(strImage);
        long long llStart = GetTickCountMs();
        if (engine.ScanDevice(nullptr) != 0)
            return 1;
        vecScanMs.push_back(GetTickCountMs() - llStart);
    }
    std::map<std::string, FILE_NODE> mapFound;
    CollectTree(engine, nullptr, 0, "", mapFound);
    int nFiles = 0, nListed = 0, nIntact = 0;
    for (const auto& [strPath, node] : mapFound)
        nFiles += node.bIsDir ? 0 : 1;
    const std::string strOut = strRoot + "/out";
    std::filesystem::create_directories(strOut);
    for (const auto& [strPath, bytes] : mapDeleted) {
        auto it = mapFound.find(strPath);
        if (it == mapFound.end())
            continue;
        ++nListed;
        FILE_NODE node = it->second;
        const std::string strTarget = strOut + "/" + std::to_string(nListed);
        if (engine.SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0) == 0 &&
            ReadAll(strTarget) == bytes)
            ++nIntact;
    }
    std::sort(vecScanMs.begin(), vecScanMs.end());
    std::printf("fast exFAT scan, 512 MiB exFAT, %d files in %d folders, %zu deleted\n",
                FOLDERS * FILES_PER_FOLDER, FOLDERS, mapDeleted.size());
    std::printf("  files listed:                  %d\n", nFiles);
    std::printf("  listed with name and path:     %d / %zu\n", nListed, mapDeleted.size());
    std::printf("  recovered intact (byte-equal): %d / %d\n", nIntact, nListed);
    std::printf("  scan time (image out of the page cache): median %lld ms (min %lld, max %lld, "
                "%d runs)\n",
                vecScanMs[SCAN_RUNS / 2], vecScanMs.front(), vecScanMs.back(), SCAN_RUNS);
    std::filesystem::remove_all(strRoot);
    return nListed == int(mapDeleted.size()) && nIntact == nListed ? 0 : 2;
}
