// Deep NTFS engine on a volume written and pruned by the real ntfs-3g driver (skipped where
// FUSE cannot mount): nested folders, fragmented files, driver deletions, boot sector zeroed.
#include "ntfs/CProfessionalNtfsRecovery.h"

#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "store/CLogFileManager.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint64_t IMAGE_BYTES = 64ull << 20;
constexpr uint64_t SECTOR = 512;
constexpr size_t RECORD = 1024;
constexpr int FOLDER_COUNT = 6;
constexpr int FILE_COUNT = 150;
constexpr int FRAGMENTED_COUNT = 12;
constexpr int FRAGMENT_CHUNKS = 5;
constexpr size_t CLUSTER_BYTES = 4096;

std::string SamplePath(int i) {
    std::string strFolder = "dir" + std::to_string(i % FOLDER_COUNT);
    if (i % 4 == 1)
        strFolder += "/sub";
    return strFolder + "/file" + std::to_string(i) + (i % 2 == 0 ? ".txt" : ".bin");
}

size_t SampleSize(int i) {
    return i % 5 == 0 ? 200 + i : 3000 + static_cast<size_t>(i) * 2311;
}

void CollectFiles(CProfessionalNtfsRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
                  const std::string& strPrefix, std::map<std::string, FILE_NODE>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    ASSERT_EQ(engine.GetChildrenFileNode(pParent, nDepth, vecChildren), 0);
    for (FILE_NODE& node : vecChildren) {
        std::string strPath = strPrefix + node.szFileName;
        if (node.bIsDir != 0)
            CollectFiles(engine, &node, nDepth + 1, strPath + "/", mapOut);
        else
            mapOut[strPath] = node;
    }
}

} // namespace

TEST(NtfsDeepMounted, ZeroedBootSectorRecoversDriverDeletedAndFragmentedFiles) {
    CScanLogDirScope scanLog;
    CLogFileManager::GetInstance();
    CTempDir dir;
    CNtfsImageBuilder builder(dir.File("vol.img"));
    ASSERT_TRUE(builder.Format(IMAGE_BYTES, 4096));
    std::string strWhy;
    std::string strMount = dir.File("mnt");
    auto pMount = CNtfsImageMount::Mount(builder.Image(), strMount, strWhy);
    if (!pMount)
        SKIP_WITHOUT("an ntfs-3g mount: " + strWhy);

    std::map<std::string, std::vector<uint8_t>> mapExpected;
    std::string strDirs;
    for (int f = 0; f < FOLDER_COUNT; ++f)
        strDirs += " " + ShellQuote(strMount + "/dir" + std::to_string(f) + "/sub");
    ASSERT_TRUE(RunShell("mkdir -p" + strDirs));
    // Appending to files in turn interleaves their clusters: every one of them is fragmented.
    for (int nChunk = 0; nChunk < FRAGMENT_CHUNKS; ++nChunk) {
        for (int i = 0; i < FRAGMENTED_COUNT; ++i) {
            std::string strPath =
                "dir" + std::to_string(i % FOLDER_COUNT) + "/sub/frag" + std::to_string(i) + ".bin";
            std::vector<uint8_t> chunk = PatternBytes(CLUSTER_BYTES, 100 * i + nChunk);
            std::ofstream file(strMount + "/" + strPath, std::ios::binary | std::ios::app);
            file.write(reinterpret_cast<const char*>(chunk.data()), CLUSTER_BYTES);
            ASSERT_TRUE(file.good());
            std::vector<uint8_t>& data = mapExpected[strPath];
            data.insert(data.end(), chunk.begin(), chunk.end());
        }
    }
    for (int i = 0; i < FILE_COUNT; ++i) {
        std::vector<uint8_t> data = PatternBytes(SampleSize(i), 1000 + i);
        ASSERT_TRUE(WriteFileBytes(strMount + "/" + SamplePath(i), data));
        mapExpected[SamplePath(i)] = data;
    }
    ASSERT_TRUE(pMount->Unmount());
    pMount = CNtfsImageMount::Mount(builder.Image(), strMount, strWhy);
    ASSERT_TRUE(pMount) << strWhy;
    std::string strRemove = "rm";
    int nDeleted = 0;
    for (int i = 0; i < FILE_COUNT; i += 3, ++nDeleted)
        strRemove += " " + ShellQuote(strMount + "/" + SamplePath(i));
    for (int i = 0; i < FRAGMENTED_COUNT; i += 2, ++nDeleted)
        strRemove += " " + ShellQuote(strMount + "/dir" + std::to_string(i % FOLDER_COUNT) +
                                      "/sub/frag" + std::to_string(i) + ".bin");
    ASSERT_TRUE(RunShell(strRemove));
    ASSERT_TRUE(pMount->Unmount());
    ASSERT_TRUE(PatchFileBytes(builder.Image(), 0, std::vector<uint8_t>(SECTOR, 0)));

    CProfessionalNtfsRecovery engine;
    int nDisk = CDiskRegistry::GetInstance().AddImage(builder.Image());
    ASSERT_EQ(engine.Init(nDisk, 0, IMAGE_BYTES / SECTOR, u'C'), 0);
    ASSERT_TRUE(engine.GetMftMap().empty());
    ASSERT_EQ(engine.InitProfessionalScan(nullptr), 0);
    std::vector<uint8_t> vecImage = ReadFileBytes(builder.Image());
    for (uint64_t off = 0; off + RECORD <= vecImage.size(); off += SECTOR)
        if (IsNtfsFileRecord(vecImage.data() + off, RECORD, RECORD))
            engine.ParseNtfsFileRecord(vecImage.data() + off, RECORD, off / SECTOR);
    EXPECT_EQ(engine.ParseProfessionalRecordVec(), 0);

    std::map<std::string, FILE_NODE> mapFound;
    CollectFiles(engine, nullptr, 0, "", mapFound);
    size_t nPlaced = 0, nExact = 0, nFragmented = 0;
    for (const auto& [strPath, data] : mapExpected) {
        auto it = mapFound.find(strPath);
        if (it == mapFound.end()) {
            ADD_FAILURE() << "not found at its path: " << strPath;
            continue;
        }
        ++nPlaced;
        FILE_NODE node = it->second;
        std::vector<RUNLIST> vecRuns;
        if (engine.GetRunListInfo(node.u64LocationSector, 0x80, vecRuns) == 0 && vecRuns.size() > 1)
            ++nFragmented;
        std::string strOut = dir.File("out" + std::to_string(node.nFileIndex));
        std::u16string strWide = Ansi2Unicode(strOut.c_str());
        if (engine.SaveFileData(&node, strWide.c_str(), 0) == 0 && ReadFileBytes(strOut) == data)
            ++nExact;
        else
            ADD_FAILURE() << "not recovered byte-exact: " << strPath;
    }
    std::printf("[ figures  ] ntfs-3g volume, boot sector zeroed: %zu/%zu files at their path, "
                "%zu/%zu byte-exact (%d deleted by the driver, %zu fragmented)\n",
                nPlaced, mapExpected.size(), nExact, mapExpected.size(), nDeleted, nFragmented);
    EXPECT_GE(nExact * 100, mapExpected.size() * 95);
    EXPECT_GT(nFragmented, 0u);
}
