// Cluster-by-cluster reading of exFAT node data for copy-out and preview.
#include "exfat/CExFatNodeData.h"

#include "device/CDiskReader.h"
#include "engine/CCopyOutFile.h"
#include "formats/exfat/ExFatBootSector.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/CSafeOutputFile.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

constexpr uint32_t UNIT = EXFAT_UNIT_BYTES;
constexpr size_t PREVIEW_TEMP_PATH_LIMIT = 256;
constexpr const char* PREVIEW_TEMP_PREFIX = "tmp.";
constexpr uint32_t MAX_NODE_CLUSTER_BYTES = 32 * 1024 * 1024;

int PercentOf(uint64_t u64Done, uint64_t u64Total) {
    return u64Total == 0 ? 100 : static_cast<int>(u64Done * 100 / u64Total);
}

} // namespace

CExFatNodeData::CExFatNodeData(CDiskReader& reader, EXFAT_DATA_LAYOUT layout,
                               uint32_t nClusterCount, NextClusterFunc nextCluster)
    : m_reader(reader), m_layout(layout), m_nClusterCount(nClusterCount),
      m_nextCluster(std::move(nextCluster)) {}

int CExFatNodeData::Read(const FILE_NODE& node, uint64_t u64Wanted, const DataSink& sink,
                         uint64_t& u64Unreadable) const {
    const uint32_t nClusterBytes = node.nClusterBytes;
    if (nClusterBytes == 0 || nClusterBytes % UNIT != 0 || nClusterBytes > MAX_NODE_CLUSTER_BYTES ||
        (u64Wanted > 0 && node.nClusterNo < EXFAT_FIRST_CLUSTER))
        return ERROR_INVALID_PARAMETER;
    std::unique_ptr<uint8_t[]> pCluster(new (std::nothrow) uint8_t[nClusterBytes]);
    if (!pCluster)
        return ENOMEM;
    const uint64_t u64First = node.u64PartitionStartSector + node.u64DataAreaSector;
    uint64_t u64Done = 0;
    uint32_t nCluster = node.nClusterNo;
    for (uint32_t nSteps = 1; u64Done < u64Wanted; ++nSteps) {
        const uint32_t nBytes =
            static_cast<uint32_t>(std::min<uint64_t>(nClusterBytes, u64Wanted - u64Done));
        if (u64Done >= m_layout.u64ValidLength) {
            std::memset(pCluster.get(), 0, nBytes);
        } else {
            unsigned int nRead = 0;
            const uint32_t nSectors = (nBytes + UNIT - 1) / UNIT;
            const uint64_t u64Sector =
                u64First + uint64_t(nCluster - EXFAT_FIRST_CLUSTER) * (nClusterBytes / UNIT);
            // What cannot be read is given as zeros and counted, so the copy is told damaged.
            if (m_reader.ReadData(pCluster.get(), int(nSectors), (long long)u64Sector, UNIT,
                                  &nRead) != 0 &&
                nRead < nSectors) {
                std::memset(pCluster.get() + size_t(nRead) * UNIT, 0,
                            size_t(nSectors - nRead) * UNIT);
                u64Unreadable += nSectors - nRead;
            }
            const uint64_t u64Valid = m_layout.u64ValidLength - u64Done;
            if (u64Valid < nBytes)
                std::memset(pCluster.get() + u64Valid, 0, nBytes - u64Valid);
        }
        const uint32_t nUsable = nBytes;
        if (int nStop = sink(pCluster.get(), nUsable); nStop != 0)
            return nStop;
        u64Done += nUsable;
        uint32_t nNext = nCluster + 1;
        if (u64Done >= u64Wanted || nSteps >= m_nClusterCount ||
            (m_layout.bChained && !m_nextCluster(nCluster, nNext)))
            return 0;
        nCluster = nNext;
    }
    return 0;
}

int CExFatNodeData::SaveToFile(const FILE_NODE& node, const char16_t* pPath,
                               RecoveryProgressCallback pCallback, void* pParam) const {
    CCopyOutFile copy(pPath, node.u64FileSize, pCallback, pParam);
    int nResult = copy.Open();
    uint64_t u64Unreadable = 0;
    if (nResult == 0)
        nResult = Read(
            node, node.u64FileSize,
            [&](const uint8_t* pData, uint32_t nBytes) { return copy.Write(pData, nBytes); },
            u64Unreadable);
    if (m_layout.bPossiblyDamaged && node.u64FileSize > node.nClusterBytes)
        u64Unreadable += (node.u64FileSize - node.nClusterBytes + UNIT - 1) / UNIT;
    copy.AddUnreadableSectors(u64Unreadable);
    return copy.Finish(nResult);
}

int CExFatNodeData::PreviewToFile(const FILE_NODE& node, const std::string& strPath,
                                  const std::function<int(int, int)>& report) const {
    CSafeOutputFile file;
    int nResult = file.Create(strPath);
    if (nResult != 0)
        return nResult;
    uint64_t u64Written = 0, u64Unreadable = 0;
    nResult = Read(
        node, node.u64FileSize,
        [&](const uint8_t* pData, uint32_t nBytes) {
            int nStatus = file.Write(pData, nBytes);
            if (nStatus == 0)
                u64Written += nBytes;
            int nStop = report(PercentOf(u64Written, node.u64FileSize), nStatus);
            return nStop != 0 ? nStop : nStatus;
        },
        u64Unreadable);
    if (nResult == 0)
        nResult = file.Commit();
    else
        file.Discard();
    return nResult;
}

int CExFatNodeData::PreView(const FILE_NODE& node, char16_t* pTempPathOut, unsigned char* pBuffer,
                            int& nLength, PreviewProgressCallback pCallback, void* pParam) const {
    auto report = [&](int nPercent, int nStatus) {
        return pCallback != nullptr ? pCallback(pParam, nPercent, nStatus) : 0;
    };
    const std::string strExt = GetLowerExtension(node.szFileName);
    const std::string strRoot = CLogFileManager::GetScanLogRoot();
    const std::string strTemp = strRoot + PREVIEW_TEMP_PREFIX + strExt;
    if (!strExt.empty() && CScanResultFileManager::IsPictureFileName(node.szFileName) &&
        strTemp.size() < PREVIEW_TEMP_PATH_LIMIT && pTempPathOut != nullptr) {
        if (int rc = CLogFileManager::MakeLogDir(strRoot); rc != 0)
            return rc;
        Ansi2Unicode(strTemp.c_str(), pTempPathOut, PREVIEW_PATH_CAPACITY);
        nLength = 0;
        unlink(strTemp.c_str());
        int nResult = PreviewToFile(node, strTemp, report);
        report(100, nResult);
        if (nResult != 0)
            unlink(strTemp.c_str());
        return nResult;
    }
    if (pBuffer == nullptr || nLength < 0)
        return ERROR_INVALID_PARAMETER;
    const uint64_t u64Wanted = std::min<uint64_t>(node.u64FileSize, uint64_t(nLength));
    uint64_t u64Copied = 0, u64Unreadable = 0;
    int nResult = u64Wanted == 0 ? 0
                                 : Read(
                                       node, u64Wanted,
                                       [&](const uint8_t* pData, uint32_t n) {
                                           std::memcpy(pBuffer + u64Copied, pData, n);
                                           u64Copied += n;
                                           return report(PercentOf(u64Copied, u64Wanted), 0);
                                       },
                                       u64Unreadable);
    nLength = static_cast<int>(u64Copied);
    report(100, nResult);
    return nResult;
}
