// A FAT node's data read cluster by cluster in an order the engine gives (a FAT chain, or the
// clusters that follow on disk), and its copy to a new recovered file or to a preview.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CDiskReader;

constexpr uint32_t MAX_CLUSTER_BYTES = 100 * 1024 * 1024;

class CFatNodeData {
public:
    // The cluster that follows one of a node's clusters; false ends the data there.
    using NextClusterFunc = std::function<bool(uint32_t nCluster, uint32_t& nNext)>;
    // Receives each cluster's usable bytes; a non-zero return ends the read with that value.
    using DataSink = std::function<int(const uint8_t* pData, uint32_t nBytes)>;

    // nRootAreaSectors: the FAT16 root area (cluster 0) lies that many sectors before cluster 2.
    // nMaxClusters bounds the clusters followed, so a looping chain ends (0: the size alone).
    CFatNodeData(CDiskReader& reader, uint32_t nRootAreaSectors, uint32_t nMaxClusters,
                 NextClusterFunc nextCluster);

    // Absolute first sector of one of the node's clusters.
    uint64_t GetClusterSector(const FILE_NODE& node, uint32_t nCluster) const;

    // Reads up to u64Wanted bytes from the node's first cluster on: 0 (also when the clusters
    // end early: what the disk still holds), 29, 87, ENOMEM, 30 when a cluster delivered
    // nothing, the reader's error, or the sink's value. Unreadable sectors arrive as zeros and
    // are added to u64Unreadable.
    int Read(const FILE_NODE& node, uint64_t u64Wanted, const DataSink& sink,
             uint64_t& u64Unreadable) const;

    // The node's data as byte runs on the disk, one for each piece of consecutive clusters; the
    // clusters followed are those Read reads, up to the disk's end.
    std::vector<FILE_DATA_RUN> GetDataRuns(const FILE_NODE& node) const;

    // Writes the node's data to a new file at the path (never over an existing file), through
    // CCopyOutFile: 0, ERROR_FILE_DAMAGED, ERROR_FILE_CORRUPT for a size the volume cannot
    // hold, 30 when the clusters end before the size, an error, or the callback's stop value.
    int SaveToFile(const FILE_NODE& node, const char16_t* pPath, RecoveryProgressCallback pCallback,
                   void* pParam) const;

    // A picture goes whole to "tmp.<ext>" in the scan-log root, whose path is copied out; any
    // other file fills at most nLength bytes of the buffer, and nLength becomes the bytes copied.
    int PreView(const FILE_NODE& node, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) const;

private:
    bool FitsVolume(const FILE_NODE& node) const;
    int PreviewToFile(const FILE_NODE& node, const std::string& strTempPath,
                      PreviewProgressCallback pCallback, void* pParam) const;
    int PreviewToBuffer(const FILE_NODE& node, unsigned char* pBuffer, int& nLength,
                        PreviewProgressCallback pCallback, void* pParam) const;

    CDiskReader& m_reader;
    uint32_t m_nRootAreaSectors;
    uint32_t m_nMaxClusters;
    NextClusterFunc m_nextCluster;
};
