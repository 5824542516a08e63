// Cluster-by-cluster reading of FAT node data, shared by both FAT engines for copy-out and preview.
#include "fat/CFatNodeData.h"

#include "device/CDiskReader.h"
#include "engine/CCopyOutFile.h"
#include "formats/fat/FatGeometry.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/CSafeOutputFile.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>

namespace {

constexpr size_t PREVIEW_TEMP_PATH_LIMIT = 256;
constexpr const char* PREVIEW_TEMP_PREFIX = "tmp.";

int PercentOf(uint64_t u64Done, uint64_t u64Total) {
    return u64Total == 0 ? 100 : static_cast<int>(u64Done * 100 / u64Total);
}

} // namespace

CFatNodeData::CFatNodeData(CDiskReader& reader, uint32_t nRootAreaSectors, uint32_t nMaxClusters,
                           NextClusterFunc nextCluster)
    : m_reader(reader), m_nRootAreaSectors(nRootAreaSectors), m_nMaxClusters(nMaxClusters),
      m_nextCluster(std::move(nextCluster)) {}

uint64_t CFatNodeData::GetClusterSector(const FILE_NODE& node, uint32_t nCluster) const {
    if (std::optional<uint64_t> u64Sector = GetFatNodeClusterSector(node, nCluster))
        return *u64Sector;
    const uint64_t u64DataSector = node.u64DataAreaSector + node.u64PartitionStartSector;
    return u64DataSector - std::min<uint64_t>(u64DataSector, m_nRootAreaSectors);
}

int CFatNodeData::Read(const FILE_NODE& node, uint64_t u64Wanted, const DataSink& sink,
                       uint64_t& u64Unreadable) const {
    const uint32_t nClusterBytes = node.nClusterBytes;
    if (nClusterBytes > MAX_CLUSTER_BYTES)
        return ERROR_CLUSTER_TOO_LARGE;
    if (nClusterBytes == 0 || nClusterBytes % FAT_SECTOR_BYTES != 0)
        return ERROR_INVALID_PARAMETER;
    const int nSectorsPerCluster = static_cast<int>(nClusterBytes / FAT_SECTOR_BYTES);
    std::unique_ptr<uint8_t[]> pCluster(new (std::nothrow) uint8_t[nClusterBytes]);
    if (!pCluster)
        return ENOMEM;
    uint32_t nCluster = node.nClusterNo;
    for (uint32_t nSteps = 1; u64Wanted > 0; ++nSteps) {
        if (nCluster < FAT_FIRST_DATA_CLUSTER && nCluster != FAT16_ROOT_CLUSTER)
            return ERROR_INVALID_PARAMETER;
        unsigned int nRead = 0;
        int rc = m_reader.ReadDataTolerant(pCluster.get(), nSectorsPerCluster,
                                           static_cast<long long>(GetClusterSector(node, nCluster)),
                                           FAT_SECTOR_BYTES, &nRead, u64Unreadable);
        if (nRead == 0)
            return rc != 0 ? rc : ERROR_READ_SHORT;
        const uint32_t nUsable = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t(nRead) * FAT_SECTOR_BYTES, u64Wanted));
        if (int nStop = sink(pCluster.get(), nUsable); nStop != 0)
            return nStop;
        u64Wanted -= nUsable;
        if (rc != 0)
            return rc;
        uint32_t nNext = 0;
        if (u64Wanted == 0 || (m_nMaxClusters != 0 && nSteps >= m_nMaxClusters) ||
            !m_nextCluster(nCluster, nNext))
            return 0;
        nCluster = nNext;
    }
    return 0;
}

std::vector<FILE_DATA_RUN> CFatNodeData::GetDataRuns(const FILE_NODE& node) const {
    std::vector<FILE_DATA_RUN> vecRuns;
    if (node.nClusterBytes == 0 || node.nClusterBytes % FAT_SECTOR_BYTES != 0)
        return vecRuns;
    uint32_t nCluster = node.nClusterNo;
    for (uint64_t u64Done = 0, u64Steps = 1; u64Done < node.u64FileSize; ++u64Steps) {
        const uint64_t u64Sector = GetClusterSector(node, nCluster);
        if ((nCluster < FAT_FIRST_DATA_CLUSTER && nCluster != FAT16_ROOT_CLUSTER) ||
            u64Sector >= m_reader.GetLimit())
            break;
        const uint64_t u64Disk = u64Sector * FAT_SECTOR_BYTES;
        const uint64_t u64Bytes =
            std::min<uint64_t>(node.nClusterBytes, node.u64FileSize - u64Done);
        if (!vecRuns.empty() && vecRuns.back().u64DiskOffset + vecRuns.back().u64Bytes == u64Disk)
            vecRuns.back().u64Bytes += u64Bytes;
        else
            vecRuns.push_back({u64Done, u64Disk, u64Bytes, false});
        u64Done += u64Bytes;
        uint32_t nNext = 0;
        if ((m_nMaxClusters != 0 && u64Steps >= m_nMaxClusters) || !m_nextCluster(nCluster, nNext))
            break;
        nCluster = nNext;
    }
    return vecRuns;
}

// The data area ends where the volume does: a size beyond it is a damaged entry, not a file.
bool CFatNodeData::FitsVolume(const FILE_NODE& node) const {
    const uint64_t u64DataSector = node.u64DataAreaSector + node.u64PartitionStartSector;
    const uint64_t u64Limit = m_reader.GetLimit();
    uint64_t u64Room = u64Limit > u64DataSector ? (u64Limit - u64DataSector) * FAT_SECTOR_BYTES : 0;
    if (m_nMaxClusters > FAT_FIRST_DATA_CLUSTER)
        u64Room = std::min<uint64_t>(u64Room, uint64_t(m_nMaxClusters - FAT_FIRST_DATA_CLUSTER) *
                                                  node.nClusterBytes);
    return node.u64FileSize <= u64Room;
}

int CFatNodeData::SaveToFile(const FILE_NODE& node, const char16_t* pPath,
                             RecoveryProgressCallback pCallback, void* pParam) const {
    CCopyOutFile copy(pPath, node.u64FileSize, pCallback, pParam);
    if (!FitsVolume(node)) {
        DebugLog("fat: size %llu of %s is more than the volume holds\n",
                 static_cast<unsigned long long>(node.u64FileSize), node.szFileName);
        return copy.Finish(ERROR_FILE_CORRUPT);
    }
    int nResult = copy.Open();
    uint64_t u64Unreadable = 0;
    if (nResult == 0)
        nResult = Read(
            node, node.u64FileSize,
            [&](const uint8_t* pData, uint32_t nBytes) { return copy.Write(pData, nBytes); },
            u64Unreadable);
    copy.AddUnreadableSectors(u64Unreadable);
    return copy.Finish(nResult);
}

int CFatNodeData::PreView(const FILE_NODE& node, char16_t* pTempPathOut, unsigned char* pBuffer,
                          int& nLength, PreviewProgressCallback pCallback, void* pParam) const {
    const std::string strExt = GetLowerExtension(node.szFileName);
    if (!strExt.empty() && CScanResultFileManager::IsPictureFileName(node.szFileName)) {
        const std::string strRoot = CLogFileManager::GetScanLogRoot();
        const std::string strTemp = strRoot + PREVIEW_TEMP_PREFIX + strExt;
        if (strTemp.size() < PREVIEW_TEMP_PATH_LIMIT && pTempPathOut != nullptr) {
            if (int rc = CLogFileManager::MakeLogDir(strRoot); rc != 0)
                return rc;
            Ansi2Unicode(strTemp.c_str(), pTempPathOut, PREVIEW_PATH_CAPACITY);
            nLength = 0;
            return PreviewToFile(node, strTemp, pCallback, pParam);
        }
    }
    if (pBuffer == nullptr || nLength < 0)
        return ERROR_INVALID_PARAMETER;
    return PreviewToBuffer(node, pBuffer, nLength, pCallback, pParam);
}

int CFatNodeData::PreviewToFile(const FILE_NODE& node, const std::string& strTempPath,
                                PreviewProgressCallback pCallback, void* pParam) const {
    unlink(strTempPath.c_str());
    CSafeOutputFile file;
    if (int rc = file.Create(strTempPath); rc != 0)
        return rc;
    const uint64_t u64Size = node.u64FileSize;
    uint64_t u64Written = 0;
    uint64_t u64Unreadable = 0;
    int nResult = u64Size == 0
                      ? 0
                      : Read(
                            node, u64Size,
                            [&](const uint8_t* pData, uint32_t nBytes) {
                                int nStatus = file.Write(pData, nBytes);
                                if (nStatus == 0)
                                    u64Written += nBytes;
                                int nStop =
                                    pCallback != nullptr
                                        ? pCallback(pParam, PercentOf(u64Written, u64Size), nStatus)
                                        : 0;
                                return nStop != 0 ? nStop : nStatus;
                            },
                            u64Unreadable);
    if (nResult == 0)
        nResult = file.Commit();
    if (pCallback != nullptr)
        pCallback(pParam, 100, nResult);
    return nResult;
}

int CFatNodeData::PreviewToBuffer(const FILE_NODE& node, unsigned char* pBuffer, int& nLength,
                                  PreviewProgressCallback pCallback, void* pParam) const {
    const uint64_t u64Wanted = std::min<uint64_t>(node.u64FileSize, uint64_t(nLength));
    nLength = 0;
    if (u64Wanted == 0) {
        if (pCallback != nullptr)
            pCallback(pParam, 100, 0);
        return 0;
    }
    uint64_t u64Copied = 0;
    uint64_t u64Unreadable = 0;
    int nResult = Read(
        node, u64Wanted,
        [&](const uint8_t* pData, uint32_t nBytes) {
            std::memcpy(pBuffer + u64Copied, pData, nBytes);
            u64Copied += nBytes;
            return pCallback != nullptr ? pCallback(pParam, PercentOf(u64Copied, u64Wanted), 0) : 0;
        },
        u64Unreadable);
    nLength = static_cast<int>(u64Copied);
    if (pCallback != nullptr)
        pCallback(pParam, 100, nResult);
    return nResult;
}
