// Helpers of the shared records.
#include "engine/FileRecoveryTypes.h"

#include "util/TextUtil.h"

#include <cstring>

// Some engine codes coincide with errno values that no copy-out produces; the engine's meaning
// wins.
std::string GetStatusText(int nStatus) {
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
    default:
        return nStatus > 0 ? std::strerror(nStatus) : "error " + std::to_string(nStatus);
    }
}

void SetFileNodeName(FILE_NODE& node, const std::string& strName) {
    std::string strFitted = FitFileName(strName, FILE_NODE_NAME_BYTES - 1);
    std::memcpy(node.szFileName, strFitted.data(), strFitted.size());
    node.szFileName[strFitted.size()] = '\0';
}
