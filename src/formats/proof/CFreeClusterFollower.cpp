// The choice between reading a deleted file on from its first cluster and following the free
// clusters, made by proving each candidate.
#include "formats/proof/CFreeClusterFollower.h"

#include "formats/proof/CFileProof.h"

#include <algorithm>

CFreeClusterFollower::CFreeClusterFollower(uint32_t nFirstCluster, uint32_t nClusterLimit,
                                           IsFreeFunc isFree)
    : m_nFirstCluster(nFirstCluster), m_nClusterLimit(nClusterLimit), m_isFree(std::move(isFree)) {}

bool CFreeClusterFollower::NextFree(uint32_t nCluster, uint32_t& nNext) const {
    for (uint32_t nCandidate = std::max(nCluster + 1, m_nFirstCluster);
         nCandidate > nCluster && nCandidate < m_nClusterLimit; ++nCandidate)
        if (m_isFree(nCandidate)) {
            nNext = nCandidate;
            return true;
        }
    return false;
}

bool CFreeClusterFollower::AreFree(uint32_t nFrom, uint64_t u64Count) const {
    if (nFrom < m_nFirstCluster || nFrom >= m_nClusterLimit || u64Count > m_nClusterLimit - nFrom)
        return false;
    for (uint64_t i = 0; i < u64Count; ++i)
        if (!m_isFree(static_cast<uint32_t>(nFrom + i)))
            return false;
    return true;
}

uint32_t CFreeClusterFollower::Prove(bool bFollowFree, uint64_t u64Size, const char* pExtension,
                                     const ReadFunc& read) const {
    if (u64Size == 0 || u64Size > PROOF_BYTES_LIMIT || !CFileProof::CanProve(pExtension))
        return 1;
    std::vector<uint8_t> vecData;
    if (read(bFollowFree, vecData) != 0 || vecData.size() != u64Size)
        return CFileProof::HealthOf(PROOF_STATE::DAMAGED);
    return CFileProof::HealthOf(CFileProof::Prove(vecData.data(), vecData.size(), pExtension));
}

CFreeClusterFollower::CHOICE CFreeClusterFollower::Choose(uint32_t nFirst, uint64_t u64Size,
                                                          uint32_t nClusterBytes,
                                                          const char* pExtension,
                                                          const ReadFunc& read) const {
    const uint64_t u64Clusters =
        nClusterBytes == 0 ? 1 : (u64Size + nClusterBytes - 1) / nClusterBytes;
    if (u64Clusters <= 1 || AreFree(nFirst + 1, u64Clusters - 1))
        return {false, Prove(false, u64Size, pExtension, read)};
    const uint32_t nFollowed = Prove(true, u64Size, pExtension, read);
    if (nFollowed == DATA_HEALTH_WHOLE)
        return {true, nFollowed};
    const uint32_t nContiguous = Prove(false, u64Size, pExtension, read);
    // The contiguous reading wins when it proves whole, or when only the other one fails.
    if (nContiguous == DATA_HEALTH_WHOLE ||
        (nFollowed == DATA_HEALTH_DAMAGED && nContiguous != DATA_HEALTH_DAMAGED))
        return {false, nContiguous};
    return {true, nFollowed};
}
