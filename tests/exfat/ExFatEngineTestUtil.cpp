// Tree collection and checked recovery for the exFAT engine tests.
#include "ExFatEngineTestUtil.h"

#include "util/CSha256.h"
#include "util/TextUtil.h"

#include <algorithm>

namespace {

void Collect(IFileRecoveryParse& engine, FILE_NODE* pParent, unsigned int nDepth,
             const std::string& strPrefix, std::map<std::string, FILE_NODE>& mapOut) {
    std::vector<FILE_NODE> vecChildren;
    if (engine.GetChildrenFileNode(pParent, nDepth, vecChildren) != 0 || nDepth > 16)
        return;
    for (FILE_NODE& child : vecChildren) {
        const std::string strPath = strPrefix + child.szFileName + (child.bIsDir ? "/" : "");
        mapOut[strPath] = child;
        if (child.bIsDir)
            Collect(engine, &child, nDepth + 1, strPath, mapOut);
    }
}

} // namespace

std::map<std::string, FILE_NODE> CollectExFatTree(IFileRecoveryParse& engine) {
    std::map<std::string, FILE_NODE> mapOut;
    Collect(engine, nullptr, 0, "", mapOut);
    return mapOut;
}

unsigned int FolderDepth(const std::string& strPath) {
    return unsigned(std::count(strPath.begin(), strPath.end(), '/'));
}

std::string Sha256Of(const std::vector<uint8_t>& vecBytes) {
    CSha256 sha;
    sha.Update(vecBytes.data(), vecBytes.size());
    return sha.FinalHex();
}

std::string RecoverSha256(IFileRecoveryParse& engine, FILE_NODE node, const std::string& strDir) {
    static int s_nCount = 0;
    const std::string strPath = strDir + "/recovered" + std::to_string(++s_nCount);
    if (engine.SaveFileData(&node, Ansi2Unicode(strPath.c_str()).c_str(), 0) != 0)
        return "";
    return CSha256::OfFile(strPath);
}
