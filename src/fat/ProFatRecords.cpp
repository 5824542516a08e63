// Cluster arithmetic under a candidate geometry of the deep FAT engine.
#include "fat/ProFatRecords.h"

namespace {

constexpr uint32_t FIRST_DATA_CLUSTER = 2;

} // namespace

bool IsValidVirtualSectorsPerCluster(uint32_t nSectorsPerCluster) {
    return nSectorsPerCluster != 0 && nSectorsPerCluster <= PRO_FAT_MAX_SECTORS_PER_CLUSTER &&
           (nSectorsPerCluster & (nSectorsPerCluster - 1)) == 0;
}

std::optional<uint64_t> GetVirtualClusterSector(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster) {
    if (dbr.nSectorsPerCluster == 0)
        return std::nullopt;
    const uint64_t u64Base = dbr.u64StartSector + dbr.nDataStart;
    if (nCluster >= FIRST_DATA_CLUSTER)
        return u64Base + uint64_t(nCluster - FIRST_DATA_CLUSTER) * dbr.nSectorsPerCluster;
    const uint64_t u64Back = nCluster == 0 ? dbr.nRootSectors : dbr.nSectorsPerCluster;
    if (u64Back == 0 || u64Base < u64Back)
        return std::nullopt;
    return u64Base - u64Back;
}

uint32_t GetVirtualUnitSectors(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster) {
    return nCluster == 0 ? dbr.nRootSectors : dbr.nSectorsPerCluster;
}

std::optional<uint32_t> GetVirtualSectorCluster(const VIRTUAL_DBR_INFO& dbr, uint64_t u64Sector) {
    if (dbr.nSectorsPerCluster == 0)
        return std::nullopt;
    const uint64_t u64Base = dbr.u64StartSector + dbr.nDataStart;
    if (u64Sector < u64Base) {
        if (u64Base - u64Sector <= dbr.nRootSectors)
            return 0u;
        return std::nullopt;
    }
    const uint64_t u64Cluster = (u64Sector - u64Base) / dbr.nSectorsPerCluster + FIRST_DATA_CLUSTER;
    if (u64Cluster > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(u64Cluster);
}
