// Where a deleted file's clusters lie once its chain is gone: on from its first cluster, or
// along the clusters that are still free (the allocator filled a gap in order, skipping the
// clusters other files held), or in two pieces with other data between; the file's own format
// proves which.
#pragma once

#include "formats/proof/CFileProof.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CFreeClusterFollower {
public:
    using IsFreeFunc = std::function<bool(uint32_t nCluster)>;
    // Reads u64Bytes of the clusters, in their order, into the vector: 0 or an error.
    using ReadFunc = std::function<int(const std::vector<uint32_t>& vecClusters, uint64_t u64Bytes,
                                       std::vector<uint8_t>& vecData)>;

    struct CHOICE {
        std::vector<uint32_t> vecClusters; // the file's clusters in order, ascending
        uint32_t nDataHealth;              // the proof of that reading (1 when there is none)
    };

    // Clusters are numbered from nFirstCluster up to (not including) nClusterLimit.
    CFreeClusterFollower(uint32_t nFirstCluster, uint32_t nClusterLimit, IsFreeFunc isFree);

    // The cluster after nCluster in an ascending list; false at its end or when it is not there.
    static bool NextInList(const std::vector<uint32_t>& vecClusters, uint32_t nCluster,
                           uint32_t& nNext);

    // The stretches of consecutive clusters in a choice.
    static uint32_t RunCount(const CHOICE& choice);

    // The first free cluster after nCluster; false when there is none.
    bool NextFree(uint32_t nCluster, uint32_t& nNext) const;

    // The contiguous reading when every cluster it would read is free (a JPEG's structure is
    // enough to prove it); otherwise the free clusters, unless only the contiguous reading
    // proves whole (decoded). When neither proves whole, the
    // free clusters split in two with up to MAX_SKIPPED_CLUSTERS between the pieces, the first
    // join that proves whole. pExtension is lower-case; files above PROOF_BYTES_LIMIT or
    // without a proof are taken as the rule says.
    CHOICE Choose(uint32_t nFirst, uint64_t u64Size, uint32_t nClusterBytes, const char* pExtension,
                  const ReadFunc& read) const;

    static constexpr uint32_t MAX_SKIPPED_CLUSTERS = 64;
    // The time the joins of one file may take.
    static constexpr std::chrono::milliseconds JOIN_BUDGET{1000};

private:
    std::vector<uint32_t> Contiguous(uint32_t nFirst, uint64_t u64Clusters) const;
    std::vector<uint32_t> Followed(uint32_t nFirst, uint64_t u64Clusters) const;
    bool AreFree(const std::vector<uint32_t>& vecClusters) const;
    uint32_t Prove(const std::vector<uint8_t>& vecData, uint64_t u64Size, const char* pExtension,
                   PROOF_DEPTH depth) const;
    uint32_t ProveReading(const std::vector<uint32_t>& vecClusters, uint64_t u64Size,
                          const char* pExtension, PROOF_DEPTH depth, const ReadFunc& read) const;
    // The first two-piece join of the free clusters that proves whole; empty when none does.
    // u64Joins counts the joins proved.
    std::vector<uint32_t> FindTwoPieces(uint32_t nFirst, uint64_t u64Clusters, uint64_t u64Size,
                                        uint32_t nClusterBytes, const char* pExtension,
                                        const ReadFunc& read, uint64_t& u64Joins) const;
    // Chooses as Choose says; the readings proved are named in strTried.
    CHOICE ChooseReading(uint32_t nFirst, uint64_t u64Size, uint32_t nClusterBytes,
                         const char* pExtension, const ReadFunc& read, std::string& strTried,
                         uint64_t& u64Joins) const;

    uint32_t m_nFirstCluster;
    uint32_t m_nClusterLimit;
    IsFreeFunc m_isFree;
};
