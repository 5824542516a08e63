// Shared steps of the NTFS engine tests: scan an image, list, find and recover nodes.
#pragma once

#include "ntfs/CFastNtfsRecovery.h"

#include <memory>
#include <string>
#include <vector>

// Scans the image through the disk registry; null (with a test failure) when that fails.
std::unique_ptr<CFastNtfsRecovery> ScanNtfsImage(const std::string& strImage);
std::vector<FILE_NODE> ListChildren(CFastNtfsRecovery& engine, FILE_NODE* pParent,
                                    unsigned int nDepth);
// The child of that name, or null.
const FILE_NODE* FindNode(const std::vector<FILE_NODE>& vecNodes, const std::string& strName);
std::vector<std::string> NodeNames(const std::vector<FILE_NODE>& vecNodes);
// Saves the node to strDir/name and reads the file back; nRc takes SaveFileData's result.
std::vector<uint8_t> RecoverNode(CFastNtfsRecovery& engine, FILE_NODE node,
                                 const std::string& strDir, int& nRc);
std::string ParentPath(CFastNtfsRecovery& engine, FILE_NODE node);
