// Checks on a recovery destination folder before anything is written there.
#pragma once

#include "device/CPartitionManager.h"

#include <string>

// True when the folder lies on the volume being recovered, so new files could overwrite lost
// ones: for a disk, a file system whose partition overlaps the scanned sectors (or the whole
// disk); for an image file, the file system that holds the image.
bool IsOnScannedVolume(const std::string& strDir, const std::string& strDevicePath,
                       const PARTITION_ITEM& item);
// True when the folder is on a FAT file system, which cannot hold files of 4 GiB or more.
bool IsOnFatFileSystem(const std::string& strDir);

constexpr unsigned long long FAT_FILE_LIMIT = 4ULL << 30;
