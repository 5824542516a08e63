// Deep FAT rebuild on a 256 MiB FAT32 image (mkfs.vfat + mtools) holding 300 files in 30 folders,
// one in five deleted, whose first 1 MiB (boot sector, reserved sectors, start of the FAT) is
// zeroed: every sector offered in order as the deep scan offers it, then the rebuild. Prints the
// files recovered byte for byte with their names, how many sit under their real folder, and the
// time of the sector pass and of the rebuild.
#include "device/CDiskRegistry.h"
#include "fat/CProfessionalFatRecovery.h"
#include "formats/fat/FatEntryValidator.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr int FOLDERS = 30;
constexpr int FILES_PER_FOLDER = 10;
constexpr uint64_t IMAGE_MIB = 256;
constexpr size_t SECTOR_BYTES = 512;
constexpr size_t CHUNK_BYTES = 65536;

struct SAMPLE {
    std::string strPath; // folder/name inside the volume
    std::vector<uint8_t> vecBytes;
    bool bDeleted = false;
};

bool Run(const std::string& strCommand) {
    return std::system(("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 " + strCommand).c_str()) == 0;
}

std::string Quote(const std::string& strText) {
    return "'" + strText + "'";
}

std::string Lower(std::string strText) {
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

std::vector<SAMPLE> MakeSamples() {
    std::mt19937 rng(7);
    std::vector<SAMPLE> vecSamples;
    for (int f = 0; f < FOLDERS; ++f) {
        // Three levels: Group N / Sub folder M / Leaf, with long and short names.
        std::string strFolder = "Group " + std::to_string(f % 5);
        if (f >= 5)
            strFolder += "/Sub folder " + std::to_string(f % 7);
        if (f >= 15)
            strFolder += "/LEAF" + std::to_string(f);
        for (int i = 0; i < FILES_PER_FOLDER; ++i) {
            SAMPLE sample;
            const int n = f * FILES_PER_FOLDER + i;
            sample.strPath = strFolder + "/" +
                             (i % 3 == 0 ? "F" + std::to_string(n) + ".BIN"
                                         : "document number " + std::to_string(n) + ".dat");
            sample.vecBytes.resize(rng() % 200000);
            for (uint8_t& b : sample.vecBytes)
                b = uint8_t(rng());
            sample.bDeleted = n % 5 == 2;
            vecSamples.push_back(sample);
        }
    }
    return vecSamples;
}

bool BuildImage(const std::string& strDir, const std::string& strImage,
                const std::vector<SAMPLE>& vecSamples) {
    for (const SAMPLE& sample : vecSamples) {
        std::filesystem::path path = std::filesystem::path(strDir) / "host" / sample.strPath;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(sample.vecBytes.data()),
                   static_cast<std::streamsize>(sample.vecBytes.size()));
    }
    if (!Run("mkfs.vfat -C -F 32 " + Quote(strImage) + " " + std::to_string(IMAGE_MIB * 1024) +
             " >/dev/null") ||
        !Run("cd " + Quote(strDir + "/host") + " && mcopy -s -i " + Quote(strImage) + " * ::/"))
        return false;
    std::string strDelete = "mdel -i " + Quote(strImage);
    for (const SAMPLE& sample : vecSamples)
        if (sample.bDeleted)
            strDelete += " " + Quote("::/" + sample.strPath);
    return Run(strDelete) &&
           Run("dd if=/dev/zero of=" + Quote(strImage) + " bs=1M count=1 conv=notrunc status=none");
}

void SectorPass(CProfessionalFatRecovery& engine, const std::string& strImage) {
    std::ifstream image(strImage, std::ios::binary);
    std::vector<uint8_t> vecChunk(CHUNK_BYTES);
    uint64_t u64Sector = 0;
    while (image.read(reinterpret_cast<char*>(vecChunk.data()), CHUNK_BYTES) ||
           image.gcount() > 0) {
        const size_t nBytes = static_cast<size_t>(image.gcount());
        for (size_t nOff = 0; nOff + SECTOR_BYTES <= nBytes; nOff += SECTOR_BYTES, ++u64Sector) {
            const uint8_t* pSector = vecChunk.data() + nOff;
            if (IsFatFileRecord(pSector, SECTOR_BYTES))
                engine.ParseFatFileRecord(pSector, u64Sector);
            else if (IsFatFDTRecord(pSector, SECTOR_BYTES))
                engine.ParseFDTFileRecord(pSector, u64Sector);
        }
    }
}

void CollectTree(CProfessionalFatRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
                 const std::string& strPrefix, std::multimap<std::string, FILE_NODE>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    if (engine.GetChildrenFileNode(pParent, nDepth, vecChildren) != 0)
        return;
    for (FILE_NODE& child : vecChildren) {
        const std::string strPath = strPrefix + child.szFileName;
        mapOut.emplace(Lower(child.szFileName), child);
        if (child.bIsDir != 0 && nDepth < 16)
            CollectTree(engine, &child, nDepth + 1, strPath + "/", mapOut);
    }
}

} // namespace

int main() {
    char szTemplate[] = "/tmp/orvanne-bench-fatdeep-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr)
        return 1;
    const std::string strDir = szTemplate;
    setenv("ORVANNE_SCANLOG_DIR", (strDir + "/scanlog").c_str(), 1);
    CLogFileManager::GetInstance()->AddDirIndex();
    const std::string strImage = strDir + "/fat32.img";
    const std::vector<SAMPLE> vecSamples = MakeSamples();
    if (!BuildImage(strDir, strImage, vecSamples)) {
        std::printf("image could not be built (mkfs.vfat, mtools)\n");
        return 1;
    }

    CProfessionalFatRecovery engine;
    const int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    const long long llSectors = static_cast<long long>(IMAGE_MIB * 1024 * 1024 / SECTOR_BYTES);
    if (engine.Init(nDisk, 0, llSectors, u'C') != 0 || engine.ClearProfessionalVec(nullptr) != 0)
        return 1;
    engine.InitVirtualDbrInfo();
    const long long llPassStart = GetTickCountMs();
    SectorPass(engine, strImage);
    const long long llRebuildStart = GetTickCountMs();
    engine.DealProfessionalRecordVec();
    const long long llEnd = GetTickCountMs();

    // Every listed node by name, with the folder path above it.
    std::multimap<std::string, FILE_NODE> mapByName;
    CollectTree(engine, nullptr, 0, "", mapByName);
    int nExact = 0, nRealFolder = 0, nSaved = 0;
    for (const SAMPLE& sample : vecSamples) {
        const std::string strName = Lower(sample.strPath.substr(sample.strPath.rfind('/') + 1));
        std::string strKey = strName;
        if (sample.bDeleted && strName[0] == 'f')
            strKey[0] = '!'; // a deleted short name shows '!' first
        auto [itFirst, itLast] = mapByName.equal_range(strKey);
        for (auto it = itFirst; it != itLast; ++it) {
            FILE_NODE node = it->second;
            char16_t wszParent[1024] = {};
            engine.GetFileNodeParentDirPath(&node, wszParent, 1024);
            const std::string strParent = Lower(Unicode2Ansi(wszParent));
            const std::string strRealParent =
                Lower(sample.strPath.substr(0, sample.strPath.rfind('/') + 1));
            const bool bReal = strParent == strRealParent;
            if (!bReal && !std::regex_search(strParent, std::regex("lostfolder[0-9]+/$")))
                continue;
            const std::string strOut = strDir + "/out" + std::to_string(nSaved++);
            std::u16string strWide = Ansi2Unicode(strOut.c_str());
            if (engine.SaveFileData(&node, strWide.c_str(), 0) != 0)
                continue;
            std::ifstream in(strOut, std::ios::binary);
            std::vector<uint8_t> vecBytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            if (vecBytes != sample.vecBytes)
                continue;
            ++nExact;
            nRealFolder += bReal ? 1 : 0;
            break;
        }
    }
    const auto& vecDbr = engine.GetVirtualDbrInfo();
    std::printf("deep FAT rebuild, %llu MiB FAT32, first 1 MiB zeroed, %zu files (%d deleted)\n",
                static_cast<unsigned long long>(IMAGE_MIB), vecSamples.size(),
                static_cast<int>(std::count_if(vecSamples.begin(), vecSamples.end(),
                                               [](const SAMPLE& s) { return s.bDeleted; })));
    if (!vecDbr.empty())
        std::printf("  inferred geometry: %u sectors per cluster, cluster 2 at sector %u\n",
                    vecDbr.front().nSectorsPerCluster, vecDbr.front().nDataStart);
    std::printf("  recovered byte-exact with names: %d/%zu (%.1f %%)\n", nExact, vecSamples.size(),
                100.0 * nExact / vecSamples.size());
    std::printf("  under their real folder: %d, under a LostFolder: %d\n", nRealFolder,
                nExact - nRealFolder);
    std::printf("  sector pass: %lld ms, rebuild: %lld ms, nodes stored: %u\n",
                llRebuildStart - llPassStart, llEnd - llRebuildStart, engine.GetLostFileCount());
    std::filesystem::remove_all(strDir);
    return 0;
}
