// The deep scan of a disk holding two exFAT partitions, one left with its backup boot region only
// and one with both boot regions zeroed (geometry inferred): each volume keeps its own geometry,
// its files their names, folders, deleted state and bytes; and the factory's choice of engine.
#include "ExFatEngineTestUtil.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/CDiskRegistry.h"
#include "device/CPartitionManager.h"
#include "exfat/CFastExFatRecovery.h"
#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

std::vector<PARTITION_ITEM> ListPartitions(const std::string& strDisk) {
    const int nDisk = CDiskRegistry::GetInstance().AddImage(strDisk);
    std::map<int, std::vector<PARTITION_ITEM>> mapItems;
    CPartitionManager().GetPartitionItems(mapItems);
    return mapItems[nDisk];
}

TEST(ExFatDeepScanTest, TwoPartitionsOnOneDiskEachKeepTheirGeometryNamesAndBytes) {
    CScanLogDirScope scanLog;
    CTempDir dir;
    CExFatImageBuilder first(dir.File("first.img")), second(dir.File("second.img"));
    std::vector<EXFAT_SAMPLE_FILE> vecFirst, vecSecond;
    std::string strWhy;
    if (!MakeExFatSampleVolume(first, vecFirst, strWhy, "One") ||
        !MakeExFatSampleVolume(second, vecSecond, strWhy, "Two"))
        SKIP_WITHOUT(strWhy);
    // The factory sends an exFAT volume to the exFAT walk, also when only its backup region is
    // left.
    const std::u16string strFirst = Ansi2Unicode(first.Image().c_str());
    ASSERT_TRUE(first.ZeroBootRegions(false));
    std::unique_ptr<IFileRecoveryParse> fast(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(strFirst.c_str(), u'C',
                                                                        RECOVERY_TYPE_FAST));
    EXPECT_NE(dynamic_cast<CFastExFatRecovery*>(fast.get()), nullptr);
    ASSERT_TRUE(second.ZeroBootRegions(true));
    std::vector<uint64_t> vecStarts;
    const std::string strDisk = dir.File("disk.img");
    if (!BuildDiskWithVolumes(strDisk, {first.Image(), second.Image()}, vecStarts))
        SKIP_WITHOUT("sfdisk");

    // The disk listing names the file system where a boot region is left.
    const std::vector<PARTITION_ITEM> vecItems = ListPartitions(strDisk);
    ASSERT_EQ(vecItems.size(), 2u);
    EXPECT_EQ(CPartitionManager::GetPartitionFileSystem(vecItems[0]), "exFAT");
    EXPECT_EQ(CPartitionManager::GetPartitionFileSystem(vecItems[1]), "");

    std::unique_ptr<IFileRecoveryParse> deep(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            Ansi2Unicode(strDisk.c_str()).c_str(), u'C', RECOVERY_TYPE_DEEP));
    ASSERT_NE(deep, nullptr);
    deep->InitCallBack(nullptr, nullptr, nullptr, 100);
    ASSERT_EQ(0, deep->ScanDevice(nullptr));
    std::map<std::string, FILE_NODE> tree = CollectTree(*deep);
    size_t nNamed = 0, nWhole = 0, nExpectedWhole = 0;
    for (const std::vector<EXFAT_SAMPLE_FILE>* pFiles : {&vecFirst, &vecSecond})
        for (const EXFAT_SAMPLE_FILE& file : *pFiles) {
            SCOPED_TRACE(file.strPath);
            auto it = tree.find(file.strPath);
            if (it == tree.end())
                continue;
            ++nNamed;
            EXPECT_EQ(it->second.bIsDeleted, file.bDeleted ? 1u : 0u);
            // Only the intact volume's FAT brings a live fragmented file back whole.
            const bool bChains = pFiles == &vecFirst && !file.bDeleted;
            nExpectedWhole += !file.bFragmented || bChains;
            nWhole += RecoverSha256(*deep, it->second, dir.Path()) == Sha256Of(file.vecData);
        }
    EXPECT_EQ(nNamed, vecFirst.size() + vecSecond.size());
    EXPECT_EQ(nWhole, nExpectedWhole);

    // Byte runs as the reports give them: a chain in two places, a zero tail past the valid
    // data length.
    std::vector<FILE_DATA_RUN> vecRuns;
    ASSERT_TRUE(deep->GetFileDataRuns(&tree["One/frag.bin"], vecRuns));
    ASSERT_EQ(vecRuns.size(), 2u);
    EXPECT_EQ(vecRuns[0].u64Bytes + vecRuns[1].u64Bytes, 16384u);
    ASSERT_TRUE(deep->GetFileDataRuns(&tree["One/vdl.bin"], vecRuns));
    ASSERT_EQ(vecRuns.size(), 2u);
    EXPECT_EQ(vecRuns[0].u64Bytes, 5000u);
    EXPECT_TRUE(vecRuns[1].bZeroFill && vecRuns[1].u64FileOffset == 5000);
}

} // namespace
