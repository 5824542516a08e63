// Maps disk numbers 0..127 to devices: whole disks from /sys/block, then disk images.
#pragma once

#include <mutex>
#include <string>
#include <vector>

// One number reaches the same device for the life of the process. Whole disks are numbered
// first, in name order, when the registry is first used; images follow as they are added
// (ORVANNE_IMAGES, a colon-separated list, adds images at start-up).
class CDiskRegistry {
public:
    static constexpr int MAX_DISKS = 128;

    static CDiskRegistry& GetInstance();

    // The disk number of the image (its existing number when added before), or -1 when the
    // path cannot be opened read-only or the registry is full.
    int AddImage(const std::string& strPath);
    // The device or image path of a disk number, or "" when the number is unused.
    std::string GetDevicePath(int nDiskNo) const;
    // Opens the disk read-only; a descriptor, or -1 with errno set.
    int OpenDisk(int nDiskNo) const;
    int GetDiskCount() const;
    bool IsImage(int nDiskNo) const;

private:
    CDiskRegistry();

    mutable std::mutex m_mutex;
    std::vector<std::string> m_vecPaths;
    int m_nWholeDisks = 0;
};

// Opens a device or image path read-only: the single place where devices are opened. Only block
// devices and regular files are opened: anything else gives -1 with errno EISDIR (a folder) or
// ENODEV (a FIFO, socket or character device), and a FIFO is never waited on.
int OpenDeviceReadOnly(const char* pPath);
// What the path is when it is neither a disk nor an image ("a FIFO", "a folder", ...), else "".
std::string DescribeNonDisk(const char* pPath);
// Size in bytes of an open device or image; 0 when unknown.
unsigned long long GetDeviceBytes(int nFd);
