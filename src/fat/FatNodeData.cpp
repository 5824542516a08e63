// Cluster-by-cluster reading of FAT node data and its copy to recovered files and previews.
#include "fat/FatNodeData.h"

#include "device/CDiskReader.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/CSafeOutputFile.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint32_t NODE_SECTOR_BYTES = 512;
constexpr uint32_t NODE_FIRST_DATA_CLUSTER = 2;
constexpr uint32_t NODE_ROOT_AREA_SECTORS = 32;
constexpr size_t PREVIEW_TEMP_PATH_BYTES = 256;
constexpr size_t PREVIEW_EXT_BYTES = 64;
constexpr const char* PREVIEW_TEMP_PREFIX = "tmp.";

int PercentOf(uint64_t u64Done, uint64_t u64Total) {
    return u64Total == 0 ? 100 : static_cast<int>(u64Done * 100 / u64Total);
}

std::string GetPreviewTempPath(const FILE_NODE& node) {
    char szExt[PREVIEW_EXT_BYTES] = {};
    if (GetExtendName(node.szFileName, szExt, sizeof(szExt)) != 0)
        return {};
    GetCharLowerA(szExt);
    std::string strPath = CLogFileManager::GetScanLogRoot() + PREVIEW_TEMP_PREFIX + szExt;
    if (strPath.size() >= PREVIEW_TEMP_PATH_BYTES)
        return {};
    return strPath;
}

int PreviewToFile(CDiskReader& reader, const FILE_NODE& node, const std::string& strPath,
                  const FatNextClusterFunc& nextCluster, PreviewProgressCallback pCallback,
                  void* pParam) {
    if (int rc = CLogFileManager::MakeLogDir(CLogFileManager::GetScanLogRoot()); rc != 0)
        return rc;
    std::remove(strPath.c_str());
    CSafeOutputFile file;
    if (int rc = file.Create(strPath); rc != 0)
        return rc;
    uint64_t u64Written = 0;
    int nResult = ReadFatNodeData(
        reader, node, node.u64FileSize, nextCluster, [&](const uint8_t* pData, uint32_t nBytes) {
            int nStatus = file.Write(pData, nBytes);
            if (nStatus != 0)
                return nStatus;
            u64Written += nBytes;
            if (pCallback != nullptr)
                return pCallback(pParam, PercentOf(u64Written, node.u64FileSize), 0);
            return 0;
        });
    int nClose = file.Close();
    if (nResult == 0)
        nResult = nClose;
    if (nResult != 0)
        std::remove(strPath.c_str());
    return nResult;
}

int PreviewToBuffer(CDiskReader& reader, const FILE_NODE& node, unsigned char* pBuffer,
                    int& nLength, const FatNextClusterFunc& nextCluster,
                    PreviewProgressCallback pCallback, void* pParam) {
    const uint64_t u64Wanted = std::min<uint64_t>(node.u64FileSize, uint64_t(std::max(nLength, 0)));
    uint64_t u64Copied = 0;
    int nResult = ReadFatNodeData(
        reader, node, u64Wanted, nextCluster, [&](const uint8_t* pData, uint32_t nBytes) {
            std::memcpy(pBuffer + u64Copied, pData, nBytes);
            u64Copied += nBytes;
            if (pCallback != nullptr)
                return pCallback(pParam, PercentOf(u64Copied, u64Wanted), 0);
            return 0;
        });
    nLength = static_cast<int>(u64Copied);
    return nResult;
}

} // namespace

uint64_t GetFatNodeClusterSector(const FILE_NODE& node, uint32_t nCluster) {
    const uint64_t u64Base = node.u64DataAreaSector + node.u64PartitionStartSector;
    const uint64_t u64SectorsPerCluster = node.nClusterBytes / NODE_SECTOR_BYTES;
    if (nCluster < NODE_FIRST_DATA_CLUSTER)
        return u64Base - std::min<uint64_t>(u64Base, NODE_ROOT_AREA_SECTORS);
    return u64Base + uint64_t(nCluster - NODE_FIRST_DATA_CLUSTER) * u64SectorsPerCluster;
}

int ReadFatNodeData(CDiskReader& reader, const FILE_NODE& node, uint64_t u64Wanted,
                    const FatNextClusterFunc& nextCluster, const FatDataSinkFunc& sink) {
    const uint32_t nClusterBytes = node.nClusterBytes;
    if (nClusterBytes > FAT_NODE_MAX_CLUSTER_BYTES)
        return ERROR_FAT_CLUSTER_TOO_LARGE;
    if (nClusterBytes < NODE_SECTOR_BYTES || nClusterBytes % NODE_SECTOR_BYTES != 0)
        return ERROR_INVALID_PARAMETER;
    const int nSectors = static_cast<int>(nClusterBytes / NODE_SECTOR_BYTES);
    auto pCluster = std::make_unique<uint8_t[]>(nClusterBytes);
    uint32_t nCluster = node.nClusterNo;
    while (u64Wanted > 0) {
        unsigned int nRead = 0;
        int rc = reader.ReadData(pCluster.get(), nSectors,
                                 static_cast<long long>(GetFatNodeClusterSector(node, nCluster)),
                                 NODE_SECTOR_BYTES, &nRead);
        if (nRead == 0)
            return rc != 0 && rc != ERROR_READ_SHORT ? rc : ERROR_READ_SHORT;
        const uint64_t u64Usable =
            std::min<uint64_t>(uint64_t(nRead) * NODE_SECTOR_BYTES, u64Wanted);
        if (int nStop = sink(pCluster.get(), static_cast<uint32_t>(u64Usable)); nStop != 0)
            return nStop;
        u64Wanted -= u64Usable;
        // A short read ends the data where the device ends, like a chain that ends early.
        if (rc != 0)
            return rc == ERROR_READ_SHORT ? 0 : rc;
        uint32_t nNext = 0;
        if (u64Wanted > 0 && !nextCluster(nCluster, nNext))
            break;
        nCluster = nNext;
    }
    return 0;
}

int SaveFatNodeToFile(CDiskReader& reader, const FILE_NODE& node, const char16_t* pPath,
                      const FatNextClusterFunc& nextCluster, RecoveryProgressCallback pCallback,
                      void* pParam) {
    CSafeOutputFile file;
    int nResult = file.Create(Unicode2Ansi(pPath));
    if (nResult == 0 && node.u64FileSize == 0) {
        nResult = file.Close();
        if (nResult == 0 && pCallback != nullptr)
            return pCallback(pParam, 100, 100, 0, pPath);
    } else if (nResult == 0) {
        uint64_t u64Written = 0;
        nResult = ReadFatNodeData(reader, node, node.u64FileSize, nextCluster,
                                  [&](const uint8_t* pData, uint32_t nBytes) {
                                      int nStatus = file.Write(pData, nBytes);
                                      if (nStatus != 0)
                                          return nStatus;
                                      u64Written += nBytes;
                                      if (pCallback != nullptr)
                                          return pCallback(pParam,
                                                           PercentOf(u64Written, node.u64FileSize),
                                                           100, 0, pPath);
                                      return 0;
                                  });
        int nClose = file.Close();
        if (nResult == 0)
            nResult = nClose;
    }
    if (nResult > 0 && pCallback != nullptr)
        pCallback(pParam, 100, 100, nResult, pPath);
    return nResult;
}

int PreviewFatNode(CDiskReader& reader, const FILE_NODE& node, char16_t* pTempPathOut,
                   unsigned char* pBuffer, int& nLength, const FatNextClusterFunc& nextCluster,
                   PreviewProgressCallback pCallback, void* pParam) {
    std::string strTempPath;
    if (CScanResultFileManager::IsPictureFileName(node.szFileName) && pTempPathOut != nullptr)
        strTempPath = GetPreviewTempPath(node);
    int nResult = 0;
    if (node.u64FileSize == 0) {
        nLength = 0;
    } else if (!strTempPath.empty()) {
        Ansi2Unicode(strTempPath.c_str(), pTempPathOut, PREVIEW_PATH_CAPACITY);
        nResult = PreviewToFile(reader, node, strTempPath, nextCluster, pCallback, pParam);
        nLength = 0;
    } else if (pBuffer == nullptr) {
        nResult = ERROR_INVALID_PARAMETER;
    } else {
        nResult = PreviewToBuffer(reader, node, pBuffer, nLength, nextCluster, pCallback, pParam);
    }
    if (pCallback != nullptr)
        pCallback(pParam, 100, nResult);
    return nResult;
}
