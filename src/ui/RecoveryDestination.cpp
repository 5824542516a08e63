// Destination checks through stat, statfs and the block-device tree in /sys/dev/block.
#include "ui/RecoveryDestination.h"

#include <fstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace {
constexpr long MSDOS_MAGIC = 0x4d44;

std::string SysBlockDir(dev_t nDev) {
    return "/sys/dev/block/" + std::to_string(major(nDev)) + ":" + std::to_string(minor(nDev));
}

bool ReadNumber(const std::string& strPath, unsigned long long& u64Value) {
    std::ifstream file(strPath);
    return static_cast<bool>(file >> u64Value);
}

// "maj:min" of the disk that holds a partition's sysfs directory.
std::string ParentDiskDev(const std::string& strPartitionDir) {
    std::ifstream file(strPartitionDir + "/../dev");
    std::string strDev;
    file >> strDev;
    return strDev;
}
} // namespace

bool IsOnScannedVolume(const std::string& strDir, const std::string& strDevicePath,
                       const PARTITION_ITEM& item) {
    struct stat dirStat {};
    struct stat devStat {};
    if (stat(strDir.c_str(), &dirStat) != 0 || stat(strDevicePath.c_str(), &devStat) != 0)
        return false;
    if (S_ISREG(devStat.st_mode))
        return dirStat.st_dev == devStat.st_dev;
    if (!S_ISBLK(devStat.st_mode))
        return false;
    if (dirStat.st_dev == devStat.st_rdev)
        return true;
    const std::string strPartitionDir = SysBlockDir(dirStat.st_dev);
    const std::string strDiskDev =
        std::to_string(major(devStat.st_rdev)) + ":" + std::to_string(minor(devStat.st_rdev));
    unsigned long long u64Start = 0;
    unsigned long long u64Size = 0;
    if (ParentDiskDev(strPartitionDir) != strDiskDev ||
        !ReadNumber(strPartitionDir + "/start", u64Start) ||
        !ReadNumber(strPartitionDir + "/size", u64Size))
        return false;
    return u64Start <= item.u64EndSector && item.u64StartSector < u64Start + u64Size;
}

bool IsOnFatFileSystem(const std::string& strDir) {
    struct statfs fsStat {};
    return statfs(strDir.c_str(), &fsStat) == 0 && fsStat.f_type == MSDOS_MAGIC;
}
