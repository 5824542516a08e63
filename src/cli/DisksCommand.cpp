// Prints "Physical Driver N" and each partition's name, size text and sector range.
#include "cli/DisksCommand.h"

#include "device/CDiskRegistry.h"
#include "device/CPartitionManager.h"
#include "util/TextUtil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr unsigned long long SECTOR_BYTES = 512;

void PrintPartition(const PARTITION_ITEM& item) {
    char16_t wszName[PARTITION_NAME_UNITS + 1] = {};
    std::memcpy(wszName, item.wszName, sizeof(item.wszName));
    unsigned long long u64Bytes = (item.u64EndSector + 1 - item.u64StartSector) * SECTOR_BYTES;
    std::printf("  %-24s %12s  %llu  %llu  %s\n", Unicode2Ansi(wszName).c_str(),
                GetFileSizeString(static_cast<long long>(u64Bytes)).c_str(),
                static_cast<unsigned long long>(item.u64StartSector),
                static_cast<unsigned long long>(item.u64EndSector),
                CPartitionManager::GetPartitionFileSystem(item).c_str());
}

} // namespace

int RunDisksCommand(const std::vector<std::string>& vecImages) {
    CDiskRegistry& registry = CDiskRegistry::GetInstance();
    for (const std::string& strImage : vecImages) {
        if (registry.AddImage(strImage) < 0) {
            std::fprintf(stderr, "orvanne-cli: cannot read image %s: %s\n", strImage.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }
    std::map<int, std::vector<PARTITION_ITEM>> mapItems;
    CPartitionManager().GetPartitionItems(mapItems);
    for (const auto& [nDisk, vecItems] : mapItems) {
        std::printf("Physical Driver %d  (%s)\n", nDisk, registry.GetDevicePath(nDisk).c_str());
        for (const PARTITION_ITEM& item : vecItems)
            PrintPartition(item);
    }
    return 0;
}
