// Status codes in words, for the front ends' lists of what failed.
#include "util/StatusCodes.h"

#include <cstring>

// Some codes coincide with errno values that no copy-out produces; the code's meaning wins.
std::string DescribeStatus(int nStatus) {
    switch (nStatus) {
    case ERROR_SUCCESS:
        return "done";
    case ERROR_READ_SHORT:
        return "the data ends before the file's size";
    case ERROR_INVALID_PARAMETER:
        return "the file's location lies outside the volume";
    case ERROR_CANCELLED_BY_USER:
        return "stopped by the user";
    case ERROR_FILE_DAMAGED:
        return "unreadable sectors written as zeros";
    case ERROR_CLUSTER_TOO_LARGE:
        return "the cluster size is implausible";
    case ERROR_UNRECOGNIZED_VOLUME:
        return "the boot sector does not describe a volume this engine can walk";
    case ERROR_FILE_CORRUPT:
        return "the entry is damaged: its size is more than the volume holds";
    case NTFS_ERROR_NOT_FILE_RECORD:
    case NTFS_ERROR_ATTRIBUTE_NOT_FOUND:
        return "the file's record cannot be read";
    default:
        return nStatus > 0 ? std::strerror(nStatus) : "error " + std::to_string(nStatus);
    }
}
