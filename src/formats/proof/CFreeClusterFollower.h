// Where a deleted file's clusters lie once its chain is gone: on from its first cluster, or
// along the clusters that are still free (the allocator filled a gap in order, skipping the
// clusters other files held), and which of the two the file's own format proves whole.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class CFreeClusterFollower {
public:
    using IsFreeFunc = std::function<bool(uint32_t nCluster)>;
    // Reads the file's bytes along the clusters one way into the vector: 0 or an error.
    using ReadFunc = std::function<int(bool bFollowFree, std::vector<uint8_t>& vecData)>;

    struct CHOICE {
        bool bFollowFree;     // read the free clusters after the first, not the next ones
        uint32_t nDataHealth; // the proof of the bytes read that way (1 when there is none)
    };

    // Clusters are numbered from nFirstCluster up to (not including) nClusterLimit.
    CFreeClusterFollower(uint32_t nFirstCluster, uint32_t nClusterLimit, IsFreeFunc isFree);

    // The first free cluster after nCluster; false when there is none.
    bool NextFree(uint32_t nCluster, uint32_t& nNext) const;

    // The contiguous reading when every cluster it would read is free; otherwise the free
    // clusters, unless only the contiguous reading proves whole. The file's format proves
    // each candidate when it can (pExtension lower-case, at most PROOF_BYTES_LIMIT bytes).
    CHOICE Choose(uint32_t nFirst, uint64_t u64Size, uint32_t nClusterBytes, const char* pExtension,
                  const ReadFunc& read) const;

private:
    bool AreFree(uint32_t nFrom, uint64_t u64Count) const;
    uint32_t Prove(bool bFollowFree, uint64_t u64Size, const char* pExtension,
                   const ReadFunc& read) const;

    uint32_t m_nFirstCluster;
    uint32_t m_nClusterLimit;
    IsFreeFunc m_isFree;
};
