// An exFAT node's data: its clusters along the FAT chain or consecutive on disk, the bytes past
// the valid data length read as zeros; copied to a new recovered file or to a preview.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CDiskReader;

// How a node's data lies: along a chain, or as one run from its first cluster.
struct EXFAT_DATA_LAYOUT {
    bool bChained;
    uint64_t u64ValidLength; // bytes from the start that hold data; the rest reads as zeros
    bool bPossiblyDamaged;   // a chained file whose chain is gone, read as one run instead
    // That file's clusters as proving chose them (empty: by the fields above), and what the
    // proof of that reading gave (1: not proved).
    std::vector<uint32_t> vecClusters{};
    uint32_t nDataHealth = 1;
};

class CExFatNodeData {
public:
    // The cluster after one of a chained node's clusters; false ends the data there.
    using NextClusterFunc = std::function<bool(uint32_t nCluster, uint32_t& nNext)>;
    // Receives the node's bytes in order; a non-zero return ends the read with that value.
    using DataSink = std::function<int(const uint8_t* pData, uint32_t nBytes)>;

    CExFatNodeData(CDiskReader& reader, EXFAT_DATA_LAYOUT layout, uint32_t nClusterCount,
                   NextClusterFunc nextCluster);

    // Reads up to u64Wanted bytes: 0 (also when the clusters end early), 87, ENOMEM, or the
    // sink's value. Sectors that cannot be read are given as zeros and counted in u64Unreadable.
    int Read(const FILE_NODE& node, uint64_t u64Wanted, const DataSink& sink,
             uint64_t& u64Unreadable) const;
    // Writes the node's data through CCopyOutFile: 0, ERROR_FILE_DAMAGED (zero-filled sectors,
    // or a chained file read as one run: its sectors past the first cluster are not sure), an
    // error, or the callback's stop value.
    int SaveToFile(const FILE_NODE& node, const char16_t* pPath, RecoveryProgressCallback pCallback,
                   void* pParam) const;
    // A picture goes whole to "tmp.<ext>" in the scan-log root; any other file fills at most
    // nLength bytes of the buffer.
    int PreView(const FILE_NODE& node, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) const;

private:
    int PreviewToFile(const FILE_NODE& node, const std::string& strPath,
                      const std::function<int(int nPercent, int nStatus)>& report) const;

    CDiskReader& m_reader;
    EXFAT_DATA_LAYOUT m_layout;
    uint32_t m_nClusterCount;
    NextClusterFunc m_nextCluster;
};
