// Relation text and folder-info bytes through the parsers, then a store built on them queried.
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "store/StoreFileFormat.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// Input: u16 relation length, relation text, u16 folder-info length, folder-info bytes, nodes.
struct CStoreInput {
    std::string strRelation;
    std::string strDirInfo;
    std::string strNodes;
};

CStoreInput SplitInput(const uint8_t* pData, size_t nSize) {
    CStoreInput input;
    std::string strAll(reinterpret_cast<const char*>(pData), nSize);
    auto Take = [&](std::string& strOut) {
        if (strAll.size() < 2)
            return;
        size_t nLen = uint8_t(strAll[0]) | uint8_t(strAll[1]) << 8;
        nLen = std::min(nLen, strAll.size() - 2);
        strOut = strAll.substr(2, nLen);
        strAll.erase(0, 2 + nLen);
    };
    Take(input.strRelation);
    Take(input.strDirInfo);
    input.strNodes = strAll;
    return input;
}

void WriteFile(const std::string& strPath, const std::string& strBytes) {
    int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (nFd < 0)
        return;
    if (write(nFd, strBytes.data(), strBytes.size()) < 0)
        std::abort();
    close(nFd);
}

const std::string& ScanDir() {
    static const std::string strDir = [] {
        char szRoot[] = "/tmp/orvanne-fuzz-store-XXXXXX";
        if (mkdtemp(szRoot) == nullptr)
            std::abort();
        setenv("ORVANNE_SCANLOG_DIR", szRoot, 1);
        std::string strScanDir = CLogFileManager::GetInstance()->GetLogFileDirPath();
        CLogFileManager::MakeLogDir(strScanDir);
        return strScanDir;
    }();
    return strDir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CStoreInput input = SplitInput(pData, nSize);

    RelationMap mapRelation;
    int nResult =
        ParseRelationText(input.strRelation.data(), input.strRelation.size(), mapRelation);
    if (nResult == 0) {
        // What parsed cleanly must come back unchanged from its own text.
        RelationMap mapAgain;
        std::string strText = FormatRelationText(mapRelation);
        if (ParseRelationText(strText.data(), strText.size(), mapAgain) != 0 ||
            mapAgain != mapRelation)
            std::abort();
    }
    std::vector<DIR_FILE_INFO> vecDirInfo;
    ParseDirInfoRecords(reinterpret_cast<const uint8_t*>(input.strDirInfo.data()),
                        input.strDirInfo.size(), vecDirInfo);

    const std::string& strDir = ScanDir();
    WriteFile(strDir + "fuzz", input.strNodes);
    WriteFile(strDir + "fuzz_Relation", input.strRelation);
    WriteFile(strDir + "fuzz_DirInfo", input.strDirInfo);
    CScanResultFileManager store;
    store.Init(u"fuzz");
    std::vector<FILE_NODE> vecNodes;
    for (const auto& [u64Key, vecChildren] : mapRelation) {
        unsigned int nCount = 0;
        store.GetChildrenFileCount(u64Key, nCount);
        store.GetChildrenFileNode(u64Key, vecNodes);
    }
    char16_t szPath[512];
    for (const FILE_NODE& node : vecNodes)
        store.GetParentDirPath(&node, szPath, 512);
    std::vector<SEARCH_FILE_INFO> vecHits;
    store.SearchFileNodeInfo(u"*.jpg|*.doc|*.other|", vecHits);
    return 0;
}
