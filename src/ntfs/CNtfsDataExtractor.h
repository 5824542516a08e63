// Copy-out and preview of a found NTFS file's data, reading the record the way its engine does.
#pragma once

#include "device/CDiskReader.h"
#include "engine/FileRecoveryTypes.h"
#include "ntfs/INtfsNodeDataSource.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class CNtfsDataExtractor {
public:
    static constexpr size_t READ_CHUNK_BYTES = 65536;

    // Takes the first bytes of a node's data in order; a non-zero answer stops the read.
    using DataSink = std::function<int(const uint8_t* pData, size_t nBytes)>;

    CNtfsDataExtractor(CDiskReader& reader, INtfsNodeDataSource& source, int nBytesPerSector)
        : m_reader(reader), m_source(source), m_nBytesPerSector(nBytesPerSector) {}

    // Hands the first u64Bytes of the node's data to the sink: the resident content, or the
    // clusters of its runs (sparse runs and unreadable sectors as zeros; the latter counted in
    // GetUnreadableSectors). 0; 30 when the runs end or the device delivers nothing before the
    // bytes are complete; the reader's error; the sink's answer.
    int ReadNodeData(const FILE_NODE& node, uint64_t u64Bytes, const DataSink& sink);
    // Writes the node's data to a new file (never an existing one) at the UTF-16 path through
    // CCopyOutFile. 0, ERROR_FILE_DAMAGED, errno, a read error or the callback's stop value.
    int SaveToFile(const FILE_NODE& node, const char16_t* pPath, RecoveryProgressCallback pCallback,
                   void* pParam);
    // Pictures go whole to "tmp.<ext>" in the scan-log root (path copied out, length 0); other
    // files fill at most nLength bytes of the buffer (length set to the bytes copied).
    int PreView(const FILE_NODE& node, char16_t* pTempPathOut, uint8_t* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam);
    // 1 when the node's first data bytes fit the type its extension names, or cannot be judged
    // (no extension, unreadable, no runs); 0 when they contradict it or the resident stream
    // is empty.
    uint32_t IsNodeDataHealth(const FILE_NODE& node);
    // The same judgement from a stream already decoded: its resident content (null when the
    // stream lives in runs) or its runs.
    uint32_t JudgeDataHealth(const FILE_NODE& node, const std::vector<uint8_t>* pResident,
                             const std::vector<RUNLIST>& vecRuns);
    // The first u64Bytes of the clusters of a run list, placed by the node's partition start
    // and cluster size; codes as ReadNodeData.
    int ReadRuns(const FILE_NODE& node, const std::vector<RUNLIST>& vecRuns, uint64_t u64Bytes,
                 const DataSink& sink);
    // Sectors read as zeros since the last ResetUnreadableSectors.
    uint64_t GetUnreadableSectors() const { return m_u64Unreadable; }
    void ResetUnreadableSectors() { m_u64Unreadable = 0; }

private:
    int ReadRunBytes(uint64_t u64FirstSector, uint64_t u64Bytes, const DataSink& sink);
    int PreViewToTempFile(const FILE_NODE& node, const std::string& strTemp, char16_t* pTempPathOut,
                          PreviewProgressCallback pCallback, void* pParam);

    CDiskReader& m_reader;
    INtfsNodeDataSource& m_source;
    int m_nBytesPerSector;
    uint64_t m_u64Unreadable = 0;
};
