// Deep scan of a 1 GiB exFAT image (mkfs.exfat, filled through exfat-fuse) beside a 1 GiB FAT32
// image (mkfs.vfat + mtools) holding the same 1,000 files in 50 folders, one in five deleted;
// then the exFAT image again with both boot regions zeroed. Prints the pass throughput of each
// whole deep scan and, for exFAT, the files found with their name and folder and recovered
// byte for byte.
#include "deepscan/CProfessionalRecovery.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int FOLDERS = 50;
constexpr int FILES_PER_FOLDER = 20;
constexpr int DELETE_EVERY = 5;
constexpr const char* IMAGE_BYTES = "1G";
constexpr uint64_t BOOT_REGIONS_BYTES = 24 * 512;

std::string Folder(int f) {
    return "Camera " + std::to_string(100 + f);
}

std::string FileName(int f, int i) {
    return "DSC holiday picture " + std::to_string(f * 100 + i) + ".dat";
}

bool Run(const std::string& strCommand) {
    return std::system(("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 " + strCommand).c_str()) == 0;
}

void CollectTree(IFileRecoveryParse& engine, FILE_NODE* pParent, unsigned int nDepth,
                 const std::string& strPrefix, std::map<std::string, FILE_NODE>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    if (nDepth > 8 || engine.GetChildrenFileNode(pParent, nDepth, vecChildren) != 0)
        return;
    for (FILE_NODE& child : vecChildren) {
        const std::string strPath = strPrefix + child.szFileName + (child.bIsDir ? "/" : "");
        mapOut.emplace(strPath, child);
        if (child.bIsDir)
            CollectTree(engine, &child, nDepth + 1, strPath, mapOut);
    }
}

std::vector<uint8_t> ReadAll(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The whole deep scan by path; its time, and the tree.
long long DeepScan(const std::string& strImage, std::unique_ptr<CProfessionalRecovery>& pEngine,
                   std::map<std::string, FILE_NODE>& mapTree) {
    pEngine = std::make_unique<CProfessionalRecovery>();
    if (pEngine->Init(Ansi2Unicode(strImage.c_str()).c_str(), u'C') != 0)
        return -1;
    pEngine->InitCallBack(nullptr, nullptr, nullptr, 100);
    const long long llStart = GetTickCountMs();
    if (pEngine->ScanDevice(nullptr) != 0)
        return -1;
    const long long llMs = GetTickCountMs() - llStart;
    CollectTree(*pEngine, nullptr, 0, "", mapTree);
    return llMs;
}

void PrintPass(const char* pWhat, long long llMs, uint64_t u64Bytes) {
    std::printf("  %-44s %6lld ms  %7.1f MiB/s\n", pWhat, llMs,
                llMs > 0 ? double(u64Bytes) / (1 << 20) / (double(llMs) / 1000) : 0.0);
}

} // namespace

int main() {
    char szRoot[] = "/tmp/orvanne-bench-exfatdeep-XXXXXX";
    if (mkdtemp(szRoot) == nullptr)
        return 1;
    const std::string strRoot = szRoot;
    setenv("ORVANNE_SCANLOG_DIR", (strRoot + "/scanlog").c_str(), 1);
    const std::string strExFat = strRoot + "/exfat.img", strFat = strRoot + "/fat32.img";
    std::map<std::string, std::vector<uint8_t>> mapFiles;
    std::vector<std::string> vecDeleted;
    std::mt19937 rng(7);
    for (int f = 0; f < FOLDERS; ++f) {
        std::filesystem::create_directories(strRoot + "/host/" + Folder(f));
        for (int i = 0; i < FILES_PER_FOLDER; ++i) {
            std::vector<uint8_t> bytes(2000 + rng() % 600000);
            for (uint8_t& b : bytes)
                b = uint8_t(rng());
            const std::string strPath = Folder(f) + "/" + FileName(f, i);
            std::ofstream(strRoot + "/host/" + strPath, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            if (i % DELETE_EVERY == 0)
                vecDeleted.push_back(strPath);
            mapFiles[strPath] = std::move(bytes);
        }
    }
    std::string strRemove = "true", strMdel = "mdel -i '" + strFat + "'";
    for (const std::string& strPath : vecDeleted) {
        strRemove += " && rm '" + strRoot + "/mnt/" + strPath + "'";
        strMdel += " '::/" + strPath + "'";
    }
    std::filesystem::create_directories(strRoot + "/mnt");
    const bool bBuilt =
        Run("truncate -s " + std::string(IMAGE_BYTES) + " '" + strExFat + "' '" + strFat +
            "' && mkfs.exfat '" + strExFat + "' >/dev/null && loop=$(losetup -f --show '" +
            strExFat + "') && mount.exfat-fuse \"$loop\" '" + strRoot +
            "/mnt' 2>/dev/null && cp -r '" + strRoot + "/host/.' '" + strRoot + "/mnt/' && " +
            strRemove + " && fusermount -u '" + strRoot + "/mnt' && losetup -d \"$loop\"") &&
        Run("mkfs.vfat -F 32 '" + strFat + "' >/dev/null && cd '" + strRoot +
            "/host' && mcopy -s -i '" + strFat + "' * ::/ && " + strMdel);
    if (!bBuilt) {
        std::fprintf(stderr, "images could not be built (exfatprogs, exfat-fuse, a loop device, "
                             "dosfstools and mtools needed)\n");
        std::filesystem::remove_all(strRoot);
        return 1;
    }
    const uint64_t u64Image = std::filesystem::file_size(strExFat);
    std::printf("deep scan, 1 GiB images, %d files in %d folders, %zu deleted\n",
                FOLDERS * FILES_PER_FOLDER, FOLDERS, vecDeleted.size());
    std::unique_ptr<CProfessionalRecovery> pEngine;
    std::map<std::string, FILE_NODE> mapTree;
    // With the file system intact the pass reads the unallocated sectors only.
    PrintPass("exFAT, file system intact", DeepScan(strExFat, pEngine, mapTree), u64Image);
    mapTree.clear();
    PrintPass("FAT32, same content, file system intact", DeepScan(strFat, pEngine, mapTree),
              u64Image);
    mapTree.clear();
    std::ofstream(strExFat, std::ios::binary | std::ios::in | std::ios::out)
        .write(std::string(BOOT_REGIONS_BYTES, '\0').data(), BOOT_REGIONS_BYTES);
    PrintPass("exFAT, both boot regions zeroed (whole image)", DeepScan(strExFat, pEngine, mapTree),
              u64Image);
    int nNamed = 0, nExact = 0, nDeletedNamed = 0;
    const std::string strOut = strRoot + "/out";
    std::filesystem::create_directories(strOut);
    for (const auto& [strPath, bytes] : mapFiles) {
        auto it = mapTree.find(strPath);
        if (it == mapTree.end())
            continue;
        ++nNamed;
        nDeletedNamed += it->second.bIsDeleted ? 1 : 0;
        FILE_NODE node = it->second;
        const std::string strTarget = strOut + "/" + std::to_string(nNamed);
        if (pEngine->SaveFileData(&node, Ansi2Unicode(strTarget.c_str()).c_str(), 0) == 0 &&
            ReadAll(strTarget) == bytes)
            ++nExact;
    }
    std::printf("  boot regions zeroed: found with name and folder %d / %zu (deleted %d / %zu), "
                "byte-exact %d\n",
                nNamed, mapFiles.size(), nDeletedNamed, vecDeleted.size(), nExact);
    std::filesystem::remove_all(strRoot);
    return 0;
}
