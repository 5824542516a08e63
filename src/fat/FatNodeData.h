// Reading a FAT node's data cluster by cluster and copying it out: to a new recovered file, or
// to a preview (temporary picture file or caller's buffer). The cluster order is the caller's.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <cstdint>
#include <functional>

class CDiskReader;

// Windows numbering: a cluster larger than any reading buffer allocated for it.
constexpr int ERROR_FAT_CLUSTER_TOO_LARGE = 29;
constexpr uint32_t FAT_NODE_MAX_CLUSTER_BYTES = 100 * 1024 * 1024;

// The cluster that follows one of a node's clusters; false ends the data there.
using FatNextClusterFunc = std::function<bool(uint32_t nCluster, uint32_t& nNext)>;
// Receives each cluster's usable bytes; a non-zero return ends the read with that value.
using FatDataSinkFunc = std::function<int(const uint8_t* pData, uint32_t nBytes)>;

// Absolute first sector of one of the node's clusters (cluster 0: the FAT16 root area).
uint64_t GetFatNodeClusterSector(const FILE_NODE& node, uint32_t nCluster);

// Reads up to u64Wanted bytes of the node's data from its first cluster on. 0 (also when the
// clusters end early), 29, 30 when nothing arrived, the reader's error, or the sink's value.
int ReadFatNodeData(CDiskReader& reader, const FILE_NODE& node, uint64_t u64Wanted,
                    const FatNextClusterFunc& nextCluster, const FatDataSinkFunc& sink);

// Writes the node's data to a new file at the UTF-8 path (never over an existing file),
// reporting each cluster to the callback. 0, an error, or the callback's stop value.
int SaveFatNodeToFile(CDiskReader& reader, const FILE_NODE& node, const char16_t* pPath,
                      const FatNextClusterFunc& nextCluster, RecoveryProgressCallback pCallback,
                      void* pParam);

// A picture goes whole to "tmp.<ext>" in the scan-log root, whose path is copied out; any other
// file fills at most nLength bytes of the buffer. nLength becomes the bytes put in the buffer.
int PreviewFatNode(CDiskReader& reader, const FILE_NODE& node, char16_t* pTempPathOut,
                   unsigned char* pBuffer, int& nLength, const FatNextClusterFunc& nextCluster,
                   PreviewProgressCallback pCallback, void* pParam);
