// A 512 MiB volume with 200 files in nested folders, 60 of them deleted through ntfs-3g: the
// fast scan must list every deleted file at its path and recover each one byte for byte.
#include "NtfsTestUtil.h"

#include "fixtures/FixtureUtil.h"
#include "fixtures/NtfsImageBuilder.h"
#include "util/TimeUtil.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>

namespace {

constexpr uint64_t IMAGE_BYTES = 512ull << 20;
constexpr int FILE_COUNT = 200;
constexpr int FOLDER_COUNT = 10;

std::string SamplePath(int i) {
    std::string strFolder = "dir" + std::to_string(i % FOLDER_COUNT);
    if (i % 3 == 0)
        strFolder += "/sub";
    return strFolder + "/file" + std::to_string(i) + (i % 2 == 0 ? ".txt" : ".bin");
}

size_t SampleSize(int i) {
    return i % 4 == 0 ? 100 + i * 2 : 1000 + static_cast<size_t>(i) * 1531;
}

bool IsDeleted(int i) {
    return i % 10 < 3;
}

// Every file of the found tree, by its path.
void CollectFiles(CFastNtfsRecovery& engine, FILE_NODE* pParent, unsigned int nDepth,
                  const std::string& strPrefix, std::map<std::string, FILE_NODE>& mapOut) {
    for (FILE_NODE& node : ListChildren(engine, pParent, nDepth)) {
        std::string strPath = strPrefix + node.szFileName;
        if (node.bIsDir != 0)
            CollectFiles(engine, &node, nDepth + 1, strPath + "/", mapOut);
        else
            mapOut[strPath] = node;
    }
}

} // namespace

TEST(NtfsVolumeScale, ListsAndRecoversSixtyDeletedFilesOfTwoHundred) {
    CScanLogDirScope scanLog;
    CTempDir dir;
    CNtfsImageBuilder builder(dir.File("big.img"));
    ASSERT_TRUE(builder.Format(IMAGE_BYTES, 4096));
    std::string strWhy;
    std::string strMount = dir.File("mnt");
    auto pMount = CNtfsImageMount::Mount(builder.Image(), strMount, strWhy);
    if (!pMount)
        SKIP_WITHOUT("an ntfs-3g mount: " + strWhy);
    std::string strDirs;
    for (int f = 0; f < FOLDER_COUNT; ++f)
        strDirs += " " + ShellQuote(strMount + "/dir" + std::to_string(f) + "/sub");
    ASSERT_TRUE(RunShell("mkdir -p" + strDirs));
    for (int i = 0; i < FILE_COUNT; ++i)
        ASSERT_TRUE(
            WriteFileBytes(strMount + "/" + SamplePath(i), PatternBytes(SampleSize(i), 1000 + i)));
    ASSERT_TRUE(pMount->Unmount());
    pMount = CNtfsImageMount::Mount(builder.Image(), strMount, strWhy);
    ASSERT_TRUE(pMount) << strWhy;
    std::string strRemove = "rm";
    for (int i = 0; i < FILE_COUNT; ++i)
        if (IsDeleted(i))
            strRemove += " " + ShellQuote(strMount + "/" + SamplePath(i));
    ASSERT_TRUE(RunShell(strRemove));
    ASSERT_TRUE(pMount->Unmount());

    long long llStart = GetTickCountMs();
    auto pEngine = ScanNtfsImage(builder.Image());
    long long llScanMs = GetTickCountMs() - llStart;
    ASSERT_TRUE(pEngine);
    std::map<std::string, FILE_NODE> mapFound;
    CollectFiles(*pEngine, nullptr, 0, "", mapFound);

    CTempDir out;
    int nListed = 0, nIntact = 0;
    uint64_t u64Bytes = 0;
    llStart = GetTickCountMs();
    for (int i = 0; i < FILE_COUNT; ++i) {
        if (!IsDeleted(i))
            continue;
        auto it = mapFound.find(SamplePath(i));
        if (it == mapFound.end()) {
            ADD_FAILURE() << "not listed: " << SamplePath(i);
            continue;
        }
        ++nListed;
        EXPECT_EQ(ParentPath(*pEngine, it->second) + it->second.szFileName, SamplePath(i));
        int rc = -1;
        std::vector<uint8_t> vecData = RecoverNode(*pEngine, it->second, out.Path(), rc);
        std::vector<uint8_t> vecExpected = PatternBytes(SampleSize(i), 1000 + i);
        EXPECT_EQ(rc, 0) << SamplePath(i);
        if (vecData == vecExpected) {
            ++nIntact;
            u64Bytes += vecData.size();
        } else {
            ADD_FAILURE() << "recovered bytes differ: " << SamplePath(i);
        }
        std::remove((out.Path() + "/" + it->second.szFileName).c_str());
    }
    long long llCopyMs = GetTickCountMs() - llStart;
    EXPECT_EQ(mapFound.size(), 60u);
    EXPECT_EQ(nListed, 60);
    EXPECT_EQ(nIntact, 60);
    std::cout << "[ figures  ] 512 MiB NTFS, 200 files, 60 deleted: scan " << llScanMs << " ms, "
              << mapFound.size() << " files listed, " << nListed << " of 60 at their path, "
              << nIntact << " recovered intact (" << u64Bytes << " bytes in " << llCopyMs
              << " ms)\n";
}
