// Disk numbering over Linux block devices and user-added images.
#include "device/CDiskRegistry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* SYS_BLOCK_DIR = "/sys/block";

bool StartsWith(const std::string& strText, const char* pPrefix) {
    return strText.rfind(pPrefix, 0) == 0;
}

unsigned long long BlockDeviceSectors(const std::string& strName) {
    std::ifstream file(std::string(SYS_BLOCK_DIR) + "/" + strName + "/size");
    unsigned long long u64Sectors = 0;
    file >> u64Sectors;
    return u64Sectors;
}

// RAM disks and empty loop devices are never what a user wants to recover.
bool IsRecoverableDisk(const std::string& strName) {
    if (strName.empty() || strName[0] == '.')
        return false;
    if (StartsWith(strName, "ram") || StartsWith(strName, "zram"))
        return false;
    return BlockDeviceSectors(strName) > 0;
}

std::vector<std::string> ListWholeDisks() {
    std::vector<std::string> vecNames;
    DIR* pDir = opendir(SYS_BLOCK_DIR);
    if (pDir == nullptr)
        return vecNames;
    while (dirent* pEntry = readdir(pDir))
        if (IsRecoverableDisk(pEntry->d_name))
            vecNames.push_back(pEntry->d_name);
    closedir(pDir);
    std::sort(vecNames.begin(), vecNames.end());
    std::vector<std::string> vecPaths;
    for (const std::string& strName : vecNames)
        vecPaths.push_back("/dev/" + strName);
    return vecPaths;
}

std::string CanonicalPath(const std::string& strPath) {
    char* pReal = realpath(strPath.c_str(), nullptr);
    if (pReal == nullptr)
        return strPath;
    std::string strReal(pReal);
    free(pReal);
    return strReal;
}

} // namespace

int OpenDeviceReadOnly(const char* pPath) {
    int nFd = open(pPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (nFd < 0)
        return -1;
    struct stat st;
    int nError = fstat(nFd, &st) != 0 ? errno : 0;
    if (nError == 0 && !S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode))
        nError = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    if (nError == 0 && fcntl(nFd, F_SETFL, fcntl(nFd, F_GETFL) & ~O_NONBLOCK) != 0)
        nError = errno;
    if (nError != 0) {
        close(nFd);
        errno = nError;
        return -1;
    }
    return nFd;
}

std::string DescribeNonDisk(const char* pPath) {
    struct stat st;
    if (pPath == nullptr || stat(pPath, &st) != 0)
        return std::string();
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISFIFO(st.st_mode))
        return "a FIFO";
    if (S_ISSOCK(st.st_mode))
        return "a socket";
    if (S_ISCHR(st.st_mode))
        return "a character device";
    return std::string();
}

unsigned long long GetDeviceBytes(int nFd) {
    struct stat st;
    if (fstat(nFd, &st) != 0)
        return 0;
    if (!S_ISBLK(st.st_mode))
        return static_cast<unsigned long long>(st.st_size);
    unsigned long long u64Bytes = 0;
    return ioctl(nFd, BLKGETSIZE64, &u64Bytes) == 0 ? u64Bytes : 0;
}

CDiskRegistry& CDiskRegistry::GetInstance() {
    static CDiskRegistry registry;
    return registry;
}

CDiskRegistry::CDiskRegistry() {
    m_vecPaths = ListWholeDisks();
    if (m_vecPaths.size() > MAX_DISKS)
        m_vecPaths.resize(MAX_DISKS);
    m_nWholeDisks = static_cast<int>(m_vecPaths.size());
    if (const char* pImages = std::getenv("ORVANNE_IMAGES")) {
        std::string strList(pImages);
        size_t nStart = 0;
        while (nStart <= strList.size()) {
            size_t nEnd = strList.find(':', nStart);
            if (nEnd == std::string::npos)
                nEnd = strList.size();
            std::string strPath = strList.substr(nStart, nEnd - nStart);
            if (!strPath.empty())
                AddImage(strPath);
            nStart = nEnd + 1;
        }
    }
}

int CDiskRegistry::AddImage(const std::string& strPath) {
    int nFd = OpenDeviceReadOnly(strPath.c_str());
    if (nFd < 0)
        return -1;
    close(nFd);
    std::string strCanonical = CanonicalPath(strPath);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find(m_vecPaths.begin(), m_vecPaths.end(), strCanonical);
    if (it != m_vecPaths.end())
        return static_cast<int>(it - m_vecPaths.begin());
    if (m_vecPaths.size() >= MAX_DISKS)
        return -1;
    m_vecPaths.push_back(strCanonical);
    return static_cast<int>(m_vecPaths.size()) - 1;
}

std::string CDiskRegistry::GetDevicePath(int nDiskNo) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nDiskNo < 0 || nDiskNo >= static_cast<int>(m_vecPaths.size()))
        return std::string();
    return m_vecPaths[nDiskNo];
}

int CDiskRegistry::OpenDisk(int nDiskNo) const {
    std::string strPath = GetDevicePath(nDiskNo);
    if (strPath.empty()) {
        errno = ENOENT;
        return -1;
    }
    return OpenDeviceReadOnly(strPath.c_str());
}

int CDiskRegistry::GetDiskCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_vecPaths.size());
}

bool CDiskRegistry::IsImage(int nDiskNo) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return nDiskNo >= m_nWholeDisks && nDiskNo < static_cast<int>(m_vecPaths.size());
}
