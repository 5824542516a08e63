// A FAT volume's node data read with its FAT: along the chain the FAT links, or, for a deleted
// file whose chain was released, along the free clusters its own format proves whole.
#pragma once

#include "engine/FileRecoveryTypes.h"
#include "fat/CFatNodeData.h"
#include "formats/proof/CFreeClusterFollower.h"

#include <cstdint>
#include <map>
#include <vector>

class CDiskReader;
class CFatTable;

class CFatChainReader {
public:
    CFatChainReader(CDiskReader& reader, CFatTable& fatTable);

    // A deleted file whose first cluster the FAT lists free: its chain is gone.
    bool IsReleasedChain(const FILE_NODE& node);
    // The clusters of a released chain that the file's proof chose, and that proof. Each node
    // (nFileIndex) is chosen once until Clear, so its listing, copy-out, preview and byte runs
    // always agree.
    CFreeClusterFollower::CHOICE ChooseReleasedClusters(const FILE_NODE& node);
    // The node's data: the chosen clusters of a released chain, else the FAT chain.
    CFatNodeData GetNodeData(const FILE_NODE& node);
    void Clear() { m_mapChosen.clear(); }

private:
    // Consecutive clusters: a choice kept as a few pieces instead of every cluster.
    struct CLUSTER_RUN {
        uint32_t nFirst;
        uint32_t nCount;
    };
    struct CHOSEN {
        uint32_t nFirstCluster;
        uint64_t u64FileSize;
        uint32_t nDataHealth;
        std::vector<CLUSTER_RUN> vecRuns;
    };

    bool IsFreeCluster(uint32_t nCluster);
    CFatNodeData GetChainData();
    CFreeClusterFollower::CHOICE Choose(const FILE_NODE& node);
    CFatNodeData ListNodeData(std::vector<uint32_t> vecClusters);

    CDiskReader& m_reader;
    CFatTable& m_fatTable;
    std::map<uint32_t, CHOSEN> m_mapChosen; // by nFileIndex
};
