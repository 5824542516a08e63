// Helpers of the exFAT engine tests: the whole result tree by path, and recovery checked by
// SHA-256 against the bytes put in.
#pragma once

#include "engine/IFileRecoveryParse.h"
#include "fixtures/ExFatImageBuilder.h"

#include <map>
#include <string>

// Every node reachable from the top of an engine's tree, by path ("Music/Album/" for folders).
std::map<std::string, FILE_NODE> CollectExFatTree(IFileRecoveryParse& engine);
// The depth a folder's children are asked with, from its path.
unsigned int FolderDepth(const std::string& strPath);
// SHA-256 of a node's data recovered into a new file under the folder, or "" on failure.
std::string RecoverSha256(IFileRecoveryParse& engine, FILE_NODE node, const std::string& strDir);
std::string Sha256Of(const std::vector<uint8_t>& vecBytes);
