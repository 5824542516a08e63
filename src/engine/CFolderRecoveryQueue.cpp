// Breadth-first folder copy: a queue of folders, each listed through its engine and written below
// the destination with free names.
#include "engine/CFolderRecoveryQueue.h"

#include "util/CSafeOutputFile.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::string JoinPath(const std::u16string& strDir, const std::string& strName) {
    return Unicode2Ansi(strDir.c_str()) + "/" + strName;
}

} // namespace

std::string GetSafeFileNameComponent(const FILE_NODE& node) {
    return MakeSafeFileName(
        std::string(node.szFileName, strnlen(node.szFileName, FILE_NODE_NAME_BYTES)));
}

CFolderRecoveryQueue::CFolderRecoveryQueue(IFileRecoveryParse& engine, SaveFileFunc saveFile,
                                           FolderGroupFunc folderGroup)
    : m_engine(engine), m_saveFile(std::move(saveFile)), m_folderGroup(std::move(folderGroup)) {}

int CFolderRecoveryQueue::SaveFolder(const FILE_NODE& folder, const char16_t* pTargetPath) {
    if (pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    // A cancelled copy leaves folders behind; they belong to that copy, not to this one.
    m_dequeFolders.clear();
    m_setQueuedIndex.clear();
    std::u16string strTarget(pTargetPath);
    if (int rc = MakeRecoveryDir(Unicode2Ansi(strTarget.c_str())); rc != 0)
        return rc;
    if (int rc = Enqueue(folder, strTarget); rc != 0)
        return rc;
    int nResult = 0;
    while (!m_dequeFolders.empty()) {
        FILE_DATA_RECOVERY record = m_dequeFolders.front();
        m_dequeFolders.pop_front();
        int rc = SaveChildren(record);
        if (rc == ERROR_CANCELLED_BY_USER) {
            m_dequeFolders.clear();
            return rc;
        }
        if (nResult == 0)
            nResult = rc;
    }
    return nResult;
}

int CFolderRecoveryQueue::Enqueue(const FILE_NODE& folder, const std::u16string& strPath) {
    // Folders that list each other would otherwise be copied into each other without end.
    if (!m_setQueuedIndex.insert(folder.nFileIndex).second)
        return 0;
    if (strPath.size() >= FOLDER_RECOVERY_PATH_CHARS)
        return ENAMETOOLONG;
    FILE_DATA_RECOVERY record{};
    std::memcpy(&record.fileNode, &folder, sizeof(FILE_NODE));
    std::memcpy(record.wszPath, strPath.data(), strPath.size() * sizeof(char16_t));
    m_dequeFolders.push_back(record);
    return 0;
}

int CFolderRecoveryQueue::SaveChildren(const FILE_DATA_RECOVERY& record) {
    m_strCurrentDir = record.wszPath;
    FILE_NODE folder = record.fileNode;
    std::vector<FILE_NODE> vecChildren;
    if (int rc = m_engine.GetChildrenFileNode(&folder, m_folderGroup(folder), vecChildren);
        rc != 0) {
        DebugLog("folder copy: children of cluster %u not listed: %d\n", folder.nClusterNo, rc);
        return rc;
    }
    int nResult = 0;
    for (FILE_NODE& child : vecChildren) {
        int rc = SaveChild(child);
        if (rc == ERROR_CANCELLED_BY_USER)
            return rc;
        if (nResult == 0)
            nResult = rc;
    }
    return nResult;
}

int CFolderRecoveryQueue::SaveChild(FILE_NODE& child) {
    std::string strPath =
        GetRealFileName(JoinPath(m_strCurrentDir, GetSafeFileNameComponent(child)));
    std::u16string strWidePath = Ansi2Unicode(strPath.c_str());
    if (child.bIsDir == 0)
        return m_saveFile(&child, strWidePath.c_str());
    if (m_setQueuedIndex.count(child.nFileIndex) != 0)
        return 0;
    if (int rc = MakeRecoveryDir(strPath); rc != 0)
        return rc;
    return Enqueue(child, strWidePath);
}
