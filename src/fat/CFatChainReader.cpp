// Released chains chosen by proof, shared by the fast and the deep FAT engine.
#include "fat/CFatChainReader.h"

#include "fat/CFatTable.h"
#include "util/TextUtil.h"

#include <memory>

CFatChainReader::CFatChainReader(CDiskReader& reader, CFatTable& fatTable)
    : m_reader(reader), m_fatTable(fatTable) {}

bool CFatChainReader::IsFreeCluster(uint32_t nCluster) {
    uint32_t nEntry = 0;
    return m_fatTable.GetNextClusterNO(nCluster, nEntry) == 0 &&
           m_fatTable.ReduceEntry(nEntry) == 0;
}

bool CFatChainReader::IsReleasedChain(const FILE_NODE& node) {
    return node.bIsDir == 0 && node.nClusterNo >= FAT_FIRST_DATA_CLUSTER &&
           node.nClusterNo < m_fatTable.Geometry().nClusterLimit && IsFreeCluster(node.nClusterNo);
}

CFatNodeData CFatChainReader::GetChainData() {
    const FAT_GEOMETRY& geometry = m_fatTable.Geometry();
    return CFatNodeData(m_reader, geometry.nRootSectors, geometry.nClusterLimit,
                        [this](uint32_t nCluster, uint32_t& nNext) {
                            return m_fatTable.GetChainNextCluster(nCluster, nNext);
                        });
}

CFatNodeData CFatChainReader::ListNodeData(std::vector<uint32_t> vecClusters) {
    auto pClusters = std::make_shared<const std::vector<uint32_t>>(std::move(vecClusters));
    const FAT_GEOMETRY& geometry = m_fatTable.Geometry();
    return CFatNodeData(m_reader, geometry.nRootSectors, geometry.nClusterLimit,
                        [pClusters](uint32_t nCluster, uint32_t& nNext) {
                            return CFreeClusterFollower::NextInList(*pClusters, nCluster, nNext);
                        });
}

CFreeClusterFollower::CHOICE CFatChainReader::Choose(const FILE_NODE& node) {
    auto read = [&](const std::vector<uint32_t>& vecClusters, uint64_t u64Bytes,
                    std::vector<uint8_t>& vecData) {
        vecData.clear();
        vecData.reserve(u64Bytes);
        uint64_t u64Unreadable = 0;
        return ListNodeData(vecClusters)
            .Read(
                node, u64Bytes,
                [&](const uint8_t* pData, uint32_t nBytes) {
                    vecData.insert(vecData.end(), pData, pData + nBytes);
                    return 0;
                },
                u64Unreadable);
    };
    CFreeClusterFollower follower(FAT_FIRST_DATA_CLUSTER, m_fatTable.Geometry().nClusterLimit,
                                  [this](uint32_t nCluster) { return IsFreeCluster(nCluster); });
    return follower.Choose(node.nClusterNo, node.u64FileSize, node.nClusterBytes,
                           GetLowerExtension(node.szFileName).c_str(), read);
}

CFreeClusterFollower::CHOICE CFatChainReader::ChooseReleasedClusters(const FILE_NODE& node) {
    auto it = m_mapChosen.find(node.nFileIndex);
    if (it == m_mapChosen.end() || it->second.nFirstCluster != node.nClusterNo ||
        it->second.u64FileSize != node.u64FileSize) {
        const CFreeClusterFollower::CHOICE choice = Choose(node);
        CHOSEN chosen{node.nClusterNo, node.u64FileSize, choice.nDataHealth, {}};
        for (uint32_t nCluster : choice.vecClusters) {
            if (!chosen.vecRuns.empty() &&
                chosen.vecRuns.back().nFirst + chosen.vecRuns.back().nCount == nCluster)
                ++chosen.vecRuns.back().nCount;
            else
                chosen.vecRuns.push_back({nCluster, 1});
        }
        it = m_mapChosen.insert_or_assign(node.nFileIndex, std::move(chosen)).first;
    }
    CFreeClusterFollower::CHOICE choice{{}, it->second.nDataHealth};
    for (const CLUSTER_RUN& run : it->second.vecRuns)
        for (uint32_t i = 0; i < run.nCount; ++i)
            choice.vecClusters.push_back(run.nFirst + i);
    return choice;
}

CFatNodeData CFatChainReader::GetNodeData(const FILE_NODE& node) {
    if (!IsReleasedChain(node))
        return GetChainData();
    return ListNodeData(ChooseReleasedClusters(node).vecClusters);
}
