// Helpers of the shared records.
#include "engine/FileRecoveryTypes.h"

#include "util/TextUtil.h"

#include <cstring>

void SetFileNodeName(FILE_NODE& node, const std::string& strName) {
    std::string strFitted = FitFileName(strName, FILE_NODE_NAME_BYTES - 1);
    std::memcpy(node.szFileName, strFitted.data(), strFitted.size());
    node.szFileName[strFitted.size()] = '\0';
}
