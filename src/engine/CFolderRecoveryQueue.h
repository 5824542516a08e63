// Breadth-first copy of a found folder and its whole subtree, shared by every engine with folders.
#pragma once

#include "engine/IFileRecoveryParse.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>

constexpr int FOLDER_RECOVERY_PATH_CHARS = 512;

// One queued folder of a folder copy.
struct FILE_DATA_RECOVERY {
    FILE_NODE fileNode;
    char16_t wszPath[FOLDER_RECOVERY_PATH_CHARS]; // where the folder itself is written, UTF-16
};

// The engine supplies how to list a folder (its own GetChildrenFileNode), how to write one file
// node to a new path, and the group under which it filed a folder's children. Folders are created
// 0755; a child whose name is already taken in the destination gets the next free name, so
// nothing is ever overwritten or appended to.
class CFolderRecoveryQueue {
public:
    // Writes one file node to a new file at the UTF-16 path: 0, an error or the callback's stop.
    using SaveFileFunc = std::function<int(FILE_NODE* pNode, const char16_t* pPath)>;
    // The group (depth key) under which the engine filed the children of this folder.
    using FolderGroupFunc = std::function<unsigned int(const FILE_NODE& folder)>;

    CFolderRecoveryQueue(IFileRecoveryParse& engine, SaveFileFunc saveFile,
                         FolderGroupFunc folderGroup);

    // Creates the folder at the target path (an existing folder is used as it is) and writes its
    // subtree below it. Returns 0 when everything was written, else the first error met (the
    // copy goes on past it), or ERROR_CANCELLED_BY_USER at once when a save asks to stop.
    int SaveFolder(const FILE_NODE& folder, const char16_t* pTargetPath);

private:
    int Enqueue(const FILE_NODE& folder, const std::u16string& strPath);
    int SaveChildren(const FILE_DATA_RECOVERY& record);
    int SaveChild(FILE_NODE& child);

    IFileRecoveryParse& m_engine;
    SaveFileFunc m_saveFile;
    FolderGroupFunc m_folderGroup;
    std::deque<FILE_DATA_RECOVERY> m_dequeFolders;
    std::u16string m_strCurrentDir;
    std::set<uint32_t> m_setQueuedIndex; // folders already queued in this copy, by nFileIndex
};

// The node's name as one safe path component (MakeSafeFileName).
std::string GetSafeFileNameComponent(const FILE_NODE& node);
