// Resolves the folder's file system to the block devices and image files it is stored on, through
// /proc/self/mountinfo, /sys/dev/block (partitions, slaves of stacked devices) and loop backing
// files, and compares them with the target.
#include "cli/CDestinationGuard.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char* MOUNT_INFO = "/proc/self/mountinfo";
// Stacked devices (dm over md over partitions) are a few levels deep, never more.
constexpr int MAX_STACK_DEPTH = 16;

using FileId = std::pair<dev_t, ino_t>;

struct CBacking {
    std::set<dev_t> setDevices; // block devices the folder's file system is stored on
    std::set<FileId> setFiles;  // image files it is stored in
};

std::string SysBlockDir(dev_t device) {
    return "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

bool ReadDevNumber(const std::string& strFile, dev_t& device) {
    std::ifstream file(strFile);
    unsigned int nMajor = 0, nMinor = 0;
    char cColon = 0;
    if (!(file >> nMajor >> cColon >> nMinor) || cColon != ':')
        return false;
    device = makedev(nMajor, nMinor);
    return true;
}

// The whole disk a partition belongs to, or the device itself.
dev_t WholeDisk(dev_t device) {
    std::string strDir = SysBlockDir(device);
    dev_t parent = device;
    if (access((strDir + "/partition").c_str(), F_OK) == 0)
        ReadDevNumber(strDir + "/../dev", parent);
    return parent;
}

void AddBackingFile(const std::string& strPath, CBacking& backing) {
    struct stat st;
    if (!strPath.empty() && stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        backing.setFiles.insert({st.st_dev, st.st_ino});
}

// The device, what it is stacked on (device mapper, RAID), and the file of a loop device.
void AddDevice(dev_t device, CBacking& backing, int nDepth) {
    if (nDepth > MAX_STACK_DEPTH || !backing.setDevices.insert(device).second)
        return;
    std::ifstream loopFile(SysBlockDir(WholeDisk(device)) + "/loop/backing_file");
    std::string strLine;
    if (std::getline(loopFile, strLine))
        AddBackingFile(strLine, backing);
    std::string strSlaves = SysBlockDir(device) + "/slaves";
    DIR* pSlaves = opendir(strSlaves.c_str());
    if (pSlaves == nullptr)
        return;
    while (dirent* pEntry = readdir(pSlaves)) {
        dev_t slave = 0;
        if (pEntry->d_name[0] != '.' &&
            ReadDevNumber(strSlaves + "/" + pEntry->d_name + "/dev", slave))
            AddDevice(slave, backing, nDepth + 1);
    }
    closedir(pSlaves);
}

// mountinfo escapes blanks and backslashes in paths as octal.
std::string UnescapeMountField(const std::string& strField) {
    std::string strOut;
    for (size_t i = 0; i < strField.size(); ++i) {
        if (strField[i] == '\\' && i + 3 < strField.size()) {
            strOut += static_cast<char>(std::strtol(strField.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            strOut += strField[i];
        }
    }
    return strOut;
}

// The sources of the mounts whose device number is the folder's: a device path for a disk
// file system, the image path for a FUSE mount of a file.
std::vector<std::string> MountSources(dev_t device) {
    std::vector<std::string> vecSources;
    std::ifstream file(MOUNT_INFO);
    std::string strLine;
    std::string strWanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    while (std::getline(file, strLine)) {
        std::istringstream fields(strLine);
        std::string strId, strParent, strDev, strField;
        fields >> strId >> strParent >> strDev;
        if (strDev != strWanted)
            continue;
        while (fields >> strField && strField != "-") {
        }
        std::string strType, strSource;
        if (fields >> strType >> strSource)
            vecSources.push_back(UnescapeMountField(strSource));
    }
    return vecSources;
}

CBacking FindBacking(const struct stat& folder) {
    CBacking backing;
    if (major(folder.st_dev) != 0)
        AddDevice(folder.st_dev, backing, 0);
    for (const std::string& strSource : MountSources(folder.st_dev)) {
        struct stat st;
        if (strSource.empty() || strSource[0] != '/' || stat(strSource.c_str(), &st) != 0)
            continue;
        if (S_ISBLK(st.st_mode))
            AddDevice(st.st_rdev, backing, 0);
        else if (S_ISREG(st.st_mode))
            backing.setFiles.insert({st.st_dev, st.st_ino});
    }
    return backing;
}

} // namespace

std::string CDestinationGuard::WhyUnsafe(const std::string& strTarget,
                                         const std::string& strFolder) {
    struct stat target, folder;
    if (stat(strTarget.c_str(), &target) != 0 || stat(strFolder.c_str(), &folder) != 0)
        return std::string();
    CBacking backing = FindBacking(folder);
    if (S_ISREG(target.st_mode)) {
        if (backing.setFiles.count({target.st_dev, target.st_ino}) != 0)
            return "it is on a mount of the image being recovered";
        return std::string();
    }
    if (!S_ISBLK(target.st_mode))
        return std::string();
    // A partition inside the target disk, the target partition, or the disk holding it.
    dev_t disk = WholeDisk(target.st_rdev);
    for (dev_t device : backing.setDevices) {
        if (device == target.st_rdev || WholeDisk(device) == target.st_rdev ||
            (disk != target.st_rdev && device == disk))
            return "it is on the device being recovered";
    }
    return std::string();
}
