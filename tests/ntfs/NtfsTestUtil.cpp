// Shared steps of the NTFS engine tests.
#include "NtfsTestUtil.h"

#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

std::unique_ptr<CFastNtfsRecovery> ScanNtfsImage(const std::string& strImage) {
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    struct stat st {};
    if (nDisk < 0 || stat(strImage.c_str(), &st) != 0) {
        ADD_FAILURE() << "image not registered: " << strImage;
        return nullptr;
    }
    auto pEngine = std::make_unique<CFastNtfsRecovery>();
    int rc = pEngine->Init(nDisk, 0, st.st_size / 512, u'C');
    if (rc == 0)
        rc = pEngine->ScanDevice(nullptr);
    if (rc != 0) {
        ADD_FAILURE() << "scan of " << strImage << " returned " << rc;
        return nullptr;
    }
    return pEngine;
}

std::vector<FILE_NODE> ListChildren(CFastNtfsRecovery& engine, FILE_NODE* pParent,
                                    unsigned int nDepth) {
    std::vector<FILE_NODE> vecNodes;
    EXPECT_EQ(engine.GetChildrenFileNode(pParent, nDepth, vecNodes), 0);
    return vecNodes;
}

const FILE_NODE* FindNode(const std::vector<FILE_NODE>& vecNodes, const std::string& strName) {
    for (const FILE_NODE& node : vecNodes)
        if (strName == node.szFileName)
            return &node;
    return nullptr;
}

std::vector<std::string> NodeNames(const std::vector<FILE_NODE>& vecNodes) {
    std::vector<std::string> vecNames;
    for (const FILE_NODE& node : vecNodes)
        vecNames.emplace_back(node.szFileName);
    return vecNames;
}

std::vector<uint8_t> RecoverNode(CFastNtfsRecovery& engine, FILE_NODE node,
                                 const std::string& strDir, int& nRc) {
    std::string strPath = strDir + "/" + node.szFileName;
    nRc = engine.SaveFileData(&node, Ansi2Unicode(strPath.c_str()).c_str(), 0);
    return ReadFileBytes(strPath);
}

std::string ParentPath(CFastNtfsRecovery& engine, FILE_NODE node) {
    char16_t szPath[1024] = {};
    engine.GetFileNodeParentDirPath(&node, szPath, 1024);
    return Unicode2Ansi(szPath);
}
