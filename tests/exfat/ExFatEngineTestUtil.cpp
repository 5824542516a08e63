// Checked recovery for the exFAT engine tests.
#include "ExFatEngineTestUtil.h"

#include "util/CSha256.h"
#include "util/TextUtil.h"

std::string RecoverSha256(IFileRecoveryParse& engine, FILE_NODE node, const std::string& strDir) {
    static int s_nCount = 0;
    const std::string strPath = strDir + "/recovered" + std::to_string(++s_nCount);
    if (engine.SaveFileData(&node, Ansi2Unicode(strPath.c_str()).c_str(), 0) != 0)
        return "";
    return CSha256::OfFile(strPath);
}
