// Prints "Physical Driver N" and each partition's name, size text and sector range.
#include "cli/DisksCommand.h"

#include "cli/CliExit.h"
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
    std::printf("  %-24s %12s  %llu  %llu  %s\n", EscapeControlChars(Unicode2Ansi(wszName)).c_str(),
                GetFileSizeString(static_cast<long long>(u64Bytes)).c_str(),
                static_cast<unsigned long long>(item.u64StartSector),
                static_cast<unsigned long long>(item.u64EndSector),
                CPartitionManager::GetPartitionFileSystem(item).c_str());
}

} // namespace

void PrintClampedPartitions(const CPartitionManager& manager) {
    for (const CLAMPED_PARTITION& clamp : manager.GetClampedPartitions())
        std::fprintf(stderr,
                     "orvanne-cli: disk %u: the partition at sector %llu ends at sector %llu in "
                     "the table, past the disk's %llu sectors; %s\n",
                     clamp.nDiskNo, static_cast<unsigned long long>(clamp.u64StartSector),
                     static_cast<unsigned long long>(clamp.u64TableEndSector),
                     static_cast<unsigned long long>(clamp.u64DiskSectors),
                     clamp.bLeftOut ? "it is left out" : "only the sectors the disk has are used");
}

int RunDisksCommand(const std::vector<std::string>& vecImages) {
    CDiskRegistry& registry = CDiskRegistry::GetInstance();
    for (const std::string& strImage : vecImages) {
        if (registry.AddImage(strImage) < 0) {
            int nError = errno;
            std::string strKind = DescribeNonDisk(strImage.c_str());
            std::string strWhy = strKind.empty() ? std::strerror(nError)
                                                 : "it is " + strKind + ", not an image file";
            std::fprintf(stderr, "orvanne-cli: cannot read image %s: %s\n",
                         EscapeControlChars(strImage).c_str(), strWhy.c_str());
            return EXIT_CANNOT_RUN;
        }
    }
    std::map<int, std::vector<PARTITION_ITEM>> mapItems;
    CPartitionManager manager;
    manager.GetPartitionItems(mapItems);
    for (const auto& [nDisk, vecItems] : mapItems) {
        std::printf("Physical Driver %d  (%s)\n", nDisk,
                    EscapeControlChars(registry.GetDevicePath(nDisk)).c_str());
        for (const PARTITION_ITEM& item : vecItems)
            PrintPartition(item);
    }
    PrintClampedPartitions(manager);
    return EXIT_ALL_WRITTEN;
}
