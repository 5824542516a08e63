// Every status code an operation returns, grouped by what went wrong. Numbers follow Windows where
// one exists; a failed system call returns its errno value (positive, below 1000) unchanged.
#pragma once

#include <string>

constexpr int ERROR_SUCCESS = 0;

// The device or the system failed: the data may be fine but could not be read or written.
constexpr int ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr int ERROR_CLUSTER_TOO_LARGE = 29; // larger than any buffer an engine will allocate
constexpr int ERROR_READ_SHORT = 30;        // the device or the data ended before the file did
// A copied file is complete but holds zeros where sectors could not be read (how many:
// CCopyOutFile::GetLastUnreadableSectors).
constexpr int ERROR_FILE_DAMAGED = 1393;

// The structure on disk is corrupt or not what it claims to be: skip it, the scan goes on.
constexpr int NTFS_ERROR_NOT_FILE_RECORD = -1;
constexpr int NTFS_ERROR_ATTRIBUTE_NOT_FOUND = -100;
constexpr int NTFS_ERROR_NOT_RESIDENT = -101;
constexpr int ERROR_UNRECOGNIZED_VOLUME = 1005; // no usable FAT or exFAT boot sector
// A store file garbled past what was loaded, or a file entry whose size the volume cannot hold.
constexpr int ERROR_FILE_CORRUPT = 1392;

// The caller asked for something impossible.
constexpr int ERROR_INVALID_PARAMETER = 87;
constexpr int ERROR_TIME_RANGE = 34; // a clock value the calendar cannot show

// The user stopped the operation.
constexpr int ERROR_CANCELLED_BY_USER = static_cast<int>(0xFFFFDAC9); // -9527

// A status in words for a person: the codes above, else the errno text.
std::string DescribeStatus(int nStatus);
