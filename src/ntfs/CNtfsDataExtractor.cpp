// Reads a node's data from its resident attribute or its runs and writes it out.
#include "ntfs/CNtfsDataExtractor.h"

#include "formats/carving/FileDataHealth.h"

#include "engine/CCopyOutFile.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/CSafeOutputFile.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unistd.h>
#include <vector>

namespace {

int Percent(uint64_t u64Done, uint64_t u64Total) {
    return u64Total == 0 ? 100 : static_cast<int>(u64Done * 100 / u64Total);
}

} // namespace

int CNtfsDataExtractor::ReadNodeData(const FILE_NODE& node, uint64_t u64Bytes,
                                     const DataSink& sink) {
    std::vector<uint8_t> vecResident;
    int rc = m_source.GetResidentData(node, vecResident);
    if (rc == 0) {
        size_t nBytes = static_cast<size_t>(std::min<uint64_t>(u64Bytes, vecResident.size()));
        return nBytes == 0 ? 0 : sink(vecResident.data(), nBytes);
    }
    if (rc != NTFS_ERROR_NOT_RESIDENT)
        return rc;
    if (u64Bytes == 0)
        return 0;
    std::vector<RUNLIST> vecRuns;
    if (rc = m_source.GetDataRuns(node, vecRuns); rc != 0)
        return rc;
    return ReadRuns(node, vecRuns, u64Bytes, sink);
}

int CNtfsDataExtractor::ReadRuns(const FILE_NODE& node, const std::vector<RUNLIST>& vecRuns,
                                 uint64_t u64Bytes, const DataSink& sink) {
    uint64_t u64ClusterBytes = node.nClusterBytes;
    if (m_nBytesPerSector <= 0 || u64ClusterBytes == 0 ||
        node.nClusterBytes == CLUSTER_BYTES_NONE || u64ClusterBytes % m_nBytesPerSector != 0)
        return ERROR_INVALID_PARAMETER;
    uint64_t u64Owed = u64Bytes;
    int64_t i64Cluster = 0;
    for (const RUNLIST& run : vecRuns) {
        if (u64Owed == 0)
            break;
        uint64_t u64RunBytes = std::min(run.u64Length * u64ClusterBytes, u64Owed);
        i64Cluster += run.i64Offset;
        int rc;
        if (run.i64Offset == 0) {
            // A sparse run holds zeros on no cluster at all.
            static const std::vector<uint8_t> vecZeros(READ_CHUNK_BYTES, 0);
            rc = 0;
            for (uint64_t u64Done = 0; rc == 0 && u64Done < u64RunBytes;
                 u64Done += READ_CHUNK_BYTES)
                rc = sink(vecZeros.data(),
                          std::min<uint64_t>(READ_CHUNK_BYTES, u64RunBytes - u64Done));
        } else {
            // A run outside the volume is corrupt: refuse it rather than read another place.
            if (i64Cluster < 0 || static_cast<uint64_t>(i64Cluster) >
                                      std::numeric_limits<uint64_t>::max() / u64ClusterBytes)
                return ERROR_INVALID_PARAMETER;
            uint64_t u64FirstSector =
                node.u64PartitionStartSector +
                static_cast<uint64_t>(i64Cluster) * u64ClusterBytes / m_nBytesPerSector;
            rc = ReadRunBytes(u64FirstSector, u64RunBytes, sink);
        }
        if (rc != 0)
            return rc;
        u64Owed -= u64RunBytes;
    }
    if (u64Owed != 0) {
        DebugLog("ntfs: runs of record at sector %llu end %llu bytes short\n",
                 static_cast<unsigned long long>(node.u64LocationSector),
                 static_cast<unsigned long long>(u64Owed));
        return ERROR_READ_SHORT;
    }
    return 0;
}

int CNtfsDataExtractor::ReadRunBytes(uint64_t u64FirstSector, uint64_t u64Bytes,
                                     const DataSink& sink) {
    std::vector<uint8_t> vecChunk(READ_CHUNK_BYTES);
    for (uint64_t u64Done = 0; u64Done < u64Bytes; u64Done += READ_CHUNK_BYTES) {
        size_t nBytes =
            static_cast<size_t>(std::min<uint64_t>(READ_CHUNK_BYTES, u64Bytes - u64Done));
        int nSectors = static_cast<int>((nBytes + m_nBytesPerSector - 1) / m_nBytesPerSector);
        unsigned int nRead = 0;
        uint64_t u64Sector = u64FirstSector + u64Done / m_nBytesPerSector;
        int rc =
            m_reader.ReadDataTolerant(vecChunk.data(), nSectors, static_cast<long long>(u64Sector),
                                      m_nBytesPerSector, &nRead, m_u64Unreadable);
        if (rc != 0)
            return rc;
        if (nRead == 0)
            return ERROR_READ_SHORT;
        if (rc = sink(vecChunk.data(), nBytes); rc != 0)
            return rc;
    }
    return 0;
}

int CNtfsDataExtractor::SaveToFile(const FILE_NODE& node, const char16_t* pPath,
                                   RecoveryProgressCallback pCallback, void* pParam) {
    CCopyOutFile copy(pPath, node.u64FileSize, pCallback, pParam);
    ResetUnreadableSectors();
    int rc = copy.Open();
    if (rc == 0)
        rc = ReadNodeData(node, node.u64FileSize, [&](const uint8_t* pData, size_t nBytes) {
            return copy.Write(pData, nBytes);
        });
    copy.AddUnreadableSectors(m_u64Unreadable);
    return copy.Finish(rc);
}

int CNtfsDataExtractor::PreView(const FILE_NODE& node, char16_t* pTempPathOut, uint8_t* pBuffer,
                                int& nLength, PreviewProgressCallback pCallback, void* pParam) {
    const std::string strExt = GetLowerExtension(node.szFileName);
    std::string strRoot = CLogFileManager::GetScanLogRoot();
    if (CScanResultFileManager::IsPictureFileName(node.szFileName) && !strExt.empty() &&
        pTempPathOut != nullptr) {
        std::string strTemp = strRoot + "tmp." + strExt;
        if (Ansi2Unicode(strTemp.c_str()).size() < static_cast<size_t>(PREVIEW_PATH_CAPACITY)) {
            nLength = 0;
            return PreViewToTempFile(node, strTemp, pTempPathOut, pCallback, pParam);
        }
    }
    uint64_t u64Wanted =
        std::min<uint64_t>(node.u64FileSize, pBuffer == nullptr ? 0 : std::max(nLength, 0));
    uint64_t u64Copied = 0;
    int rc = ReadNodeData(node, u64Wanted, [&](const uint8_t* pData, size_t nBytes) {
        std::memcpy(pBuffer + u64Copied, pData, nBytes);
        u64Copied += nBytes;
        return pCallback == nullptr ? 0 : pCallback(pParam, Percent(u64Copied, u64Wanted), 0);
    });
    nLength = static_cast<int>(u64Copied);
    if (pCallback != nullptr)
        pCallback(pParam, 100, rc);
    return rc;
}

int CNtfsDataExtractor::PreViewToTempFile(const FILE_NODE& node, const std::string& strTemp,
                                          char16_t* pTempPathOut, PreviewProgressCallback pCallback,
                                          void* pParam) {
    std::u16string strWide = Ansi2Unicode(strTemp.c_str());
    std::copy(strWide.begin(), strWide.end(), pTempPathOut);
    pTempPathOut[strWide.size()] = 0;
    CLogFileManager::MakeLogDir(CLogFileManager::GetScanLogRoot());
    unlink(strTemp.c_str());
    CSafeOutputFile file;
    int rc = file.Create(strTemp);
    uint64_t u64Written = 0;
    if (rc == 0) {
        rc = ReadNodeData(node, node.u64FileSize, [&](const uint8_t* pData, size_t nBytes) {
            if (int nWrite = file.Write(pData, nBytes); nWrite != 0)
                return nWrite;
            u64Written += nBytes;
            return pCallback == nullptr
                       ? 0
                       : pCallback(pParam, Percent(u64Written, node.u64FileSize), 0);
        });
        if (rc == 0)
            rc = file.Commit();
    }
    if (pCallback != nullptr)
        pCallback(pParam, 100, rc);
    return rc;
}

uint32_t CNtfsDataExtractor::IsNodeDataHealth(const FILE_NODE& node) {
    std::vector<uint8_t> vecData;
    std::vector<RUNLIST> vecRuns;
    if (m_source.GetResidentData(node, vecData) == 0)
        return JudgeDataHealth(node, &vecData, vecRuns);
    if (m_source.GetDataRuns(node, vecRuns) != 0)
        return 1;
    return JudgeDataHealth(node, nullptr, vecRuns);
}

uint32_t CNtfsDataExtractor::JudgeDataHealth(const FILE_NODE& node,
                                             const std::vector<uint8_t>* pResident,
                                             const std::vector<RUNLIST>& vecRuns) {
    // Resident data lives in the record itself: while the record is there, so is the file.
    if (pResident != nullptr)
        return pResident->empty() ? DATA_HEALTH_GONE : DATA_HEALTH_INTACT_OR_UNKNOWN;
    if (m_nBytesPerSector <= 0 || vecRuns.empty() || vecRuns[0].i64Offset <= 0)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    uint64_t u64Sector = node.u64PartitionStartSector +
                         uint64_t(node.nClusterBytes) *
                             static_cast<uint64_t>(vecRuns[0].i64Offset) / m_nBytesPerSector;
    std::vector<uint8_t> vecSector(m_nBytesPerSector);
    if (m_reader.ReadData(vecSector.data(), 1, static_cast<long long>(u64Sector), m_nBytesPerSector,
                          nullptr) != 0)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    return JudgeFileDataHealth(vecSector.data(), vecSector.size(),
                               GetLowerExtension(node.szFileName).c_str(), &m_reader,
                               m_nBytesPerSector, u64Sector);
}
