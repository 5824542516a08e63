// Geometry inference from two folder starts and the memory bound of the unplaced sectors.
#include "fat/CProfessionalFatRecovery.h"
#include "fat/CUnplacedSectorMap.h"
#include "fixtures/FixtureUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(ProFatGeometryTest, TwoFolderStartsFixClusterSizeAndClusterTwo) {
    CProfessionalFatRecovery engine;
    ASSERT_EQ(engine.CalcVirtualDbr(30, 10160, 10, 10000), 1);
    ASSERT_EQ(engine.GetVirtualDbrInfo().size(), 1u);
    const VIRTUAL_DBR_INFO& dbr = engine.GetVirtualDbrInfo().front();
    EXPECT_EQ(dbr.nSectorsPerCluster, 8u);
    EXPECT_EQ(dbr.nDataStart, 9936u);
    EXPECT_EQ(GetVirtualClusterSector(dbr, 10), std::optional<uint64_t>(10000));
    EXPECT_EQ(GetVirtualSectorCluster(dbr, 10167), std::optional<uint32_t>(30));
}

TEST(ProFatGeometryTest, InexactOrImpossibleDivisionsGiveNoGeometry) {
    CProfessionalFatRecovery engine;
    EXPECT_EQ(engine.CalcVirtualDbr(30, 10150, 10, 10000), 0); // 150 / 20 is not whole
    EXPECT_EQ(engine.CalcVirtualDbr(30, 10060, 10, 10000), 0); // 3 sectors per cluster
    EXPECT_EQ(engine.CalcVirtualDbr(30, 15120, 10, 10000), 0); // 256 sectors per cluster
    EXPECT_EQ(engine.CalcVirtualDbr(10, 10160, 10, 10000), 0); // same cluster
    EXPECT_EQ(engine.CalcVirtualDbr(1000, 1100, 900, 100), 0); // cluster 2 before the disk
    EXPECT_TRUE(engine.GetVirtualDbrInfo().empty());
}

TEST(ProFatGeometryTest, RootAreaIsClusterZeroItsOwnLengthBeforeClusterTwo) {
    const VIRTUAL_DBR_INFO dbr{4, 300, 2048, 64, 0};
    EXPECT_EQ(GetVirtualClusterSector(dbr, 0), std::optional<uint64_t>(2284));
    EXPECT_EQ(GetVirtualUnitSectors(dbr, 0), 64u);
    EXPECT_EQ(GetVirtualSectorCluster(dbr, 2290), std::optional<uint32_t>(0));
    EXPECT_EQ(GetVirtualSectorCluster(dbr, 2283), std::nullopt);
    EXPECT_EQ(GetVirtualClusterSector(VIRTUAL_DBR_INFO{4, 10, 0, 32, 0}, 0), std::nullopt);
    const VIRTUAL_DBR_INFO fat32{4, 300, 2048, 0, 0};
    EXPECT_EQ(GetVirtualClusterSector(fat32, 0), std::nullopt) << "FAT32 has no root area";
    EXPECT_EQ(GetVirtualSectorCluster(fat32, 2347), std::nullopt);
}

std::vector<uint8_t> SectorBytes(uint8_t u8Fill) {
    return std::vector<uint8_t>(512, u8Fill);
}

TEST(UnplacedSectorMapTest, CopiesBeyondTheBoundGoToAnUnnamedFileAndReadBackWhole) {
    CTempDir dir;
    CUnplacedSectorMap map(1024);
    map.SetSpillDir(dir.Path());
    for (uint8_t i = 1; i <= 4; ++i)
        map.Add(100 - i, SectorBytes(i).data(), 512);
    EXPECT_EQ(map.GetCount(), 4u);
    EXPECT_EQ(map.GetMemoryBytes(), 1024u);
    EXPECT_EQ(map.GetSpilledCount(), 2u);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())); // the spill file is unnamed
    std::vector<uint8_t> vecOut;
    ASSERT_EQ(map.FindNext(0), std::optional<uint64_t>(96));
    ASSERT_TRUE(map.Take(96, vecOut));
    EXPECT_EQ(vecOut, SectorBytes(4));
    ASSERT_TRUE(map.Take(99, vecOut));
    EXPECT_EQ(vecOut, SectorBytes(1));
    EXPECT_EQ(map.GetMemoryBytes(), 512u);
    EXPECT_FALSE(map.Take(99, vecOut));
    EXPECT_EQ(map.FindFirst([](uint64_t, const uint8_t* p) { return p[0] == 3; }),
              std::optional<uint64_t>(97));
}

TEST(UnplacedSectorMapTest, WithoutSpillFolderSectorsPastTheBoundAreDropped) {
    CUnplacedSectorMap map(512);
    map.Add(1, SectorBytes(1).data(), 512);
    map.Add(2, SectorBytes(2).data(), 512);
    EXPECT_EQ(map.GetCount(), 1u);
    EXPECT_EQ(map.GetDroppedCount(), 1u);
    map.Clear();
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(map.GetMemoryBytes(), 0u);
}

} // namespace
