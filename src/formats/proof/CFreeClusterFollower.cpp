// The choice between reading a deleted file on from its first cluster, following the free
// clusters, or joining two pieces of them, made by proving each candidate.
#include "formats/proof/CFreeClusterFollower.h"

#include "util/CTimeBudget.h"
#include "util/DebugLog.h"

#include <algorithm>
#include <cstring>

CFreeClusterFollower::CFreeClusterFollower(uint32_t nFirstCluster, uint32_t nClusterLimit,
                                           IsFreeFunc isFree)
    : m_nFirstCluster(nFirstCluster), m_nClusterLimit(nClusterLimit), m_isFree(std::move(isFree)) {}

bool CFreeClusterFollower::NextInList(const std::vector<uint32_t>& vecClusters, uint32_t nCluster,
                                      uint32_t& nNext) {
    auto it = std::lower_bound(vecClusters.begin(), vecClusters.end(), nCluster);
    if (it == vecClusters.end() || *it != nCluster || ++it == vecClusters.end())
        return false;
    nNext = *it;
    return true;
}

bool CFreeClusterFollower::NextFree(uint32_t nCluster, uint32_t& nNext) const {
    for (uint32_t nCandidate = std::max(nCluster + 1, m_nFirstCluster);
         nCandidate > nCluster && nCandidate < m_nClusterLimit; ++nCandidate)
        if (m_isFree(nCandidate)) {
            nNext = nCandidate;
            return true;
        }
    return false;
}

std::vector<uint32_t> CFreeClusterFollower::Contiguous(uint32_t nFirst,
                                                       uint64_t u64Clusters) const {
    std::vector<uint32_t> vecClusters;
    for (uint64_t nCluster = nFirst; nCluster < m_nClusterLimit && vecClusters.size() < u64Clusters;
         ++nCluster)
        vecClusters.push_back(static_cast<uint32_t>(nCluster));
    return vecClusters;
}

std::vector<uint32_t> CFreeClusterFollower::Followed(uint32_t nFirst, uint64_t u64Clusters) const {
    std::vector<uint32_t> vecClusters;
    if (u64Clusters == 0 || nFirst >= m_nClusterLimit)
        return vecClusters;
    vecClusters.push_back(nFirst);
    for (uint32_t nNext = 0;
         vecClusters.size() < u64Clusters && NextFree(vecClusters.back(), nNext);)
        vecClusters.push_back(nNext);
    return vecClusters;
}

bool CFreeClusterFollower::AreFree(const std::vector<uint32_t>& vecClusters) const {
    return std::all_of(vecClusters.begin() + (vecClusters.empty() ? 0 : 1), vecClusters.end(),
                       [this](uint32_t nCluster) { return m_isFree(nCluster); });
}

uint32_t CFreeClusterFollower::Prove(const std::vector<uint8_t>& vecData, uint64_t u64Size,
                                     const char* pExtension, PROOF_DEPTH depth) const {
    if (vecData.size() != u64Size)
        return CFileProof::HealthOf(PROOF_STATE::DAMAGED);
    return CFileProof::HealthOf(
        CFileProof::Prove(vecData.data(), vecData.size(), pExtension, depth));
}

uint32_t CFreeClusterFollower::ProveReading(const std::vector<uint32_t>& vecClusters,
                                            uint64_t u64Size, const char* pExtension,
                                            PROOF_DEPTH depth, const ReadFunc& read) const {
    if (u64Size == 0 || u64Size > PROOF_BYTES_LIMIT || !CFileProof::CanProve(pExtension))
        return 1;
    std::vector<uint8_t> vecData;
    if (read(vecClusters, u64Size, vecData) != 0)
        return CFileProof::HealthOf(PROOF_STATE::DAMAGED);
    return Prove(vecData, u64Size, pExtension, depth);
}

// The free clusters after the first are read once; each join of its first k clusters with
// the ones after s skipped is put together in memory and proved.
std::vector<uint32_t> CFreeClusterFollower::FindTwoPieces(uint32_t nFirst, uint64_t u64Clusters,
                                                          uint64_t u64Size, uint32_t nClusterBytes,
                                                          const char* pExtension,
                                                          const ReadFunc& read,
                                                          uint64_t& u64Joins) const {
    const CTimeBudget budget(JOIN_BUDGET);
    const std::vector<uint32_t> vecFree = Followed(nFirst, u64Clusters + MAX_SKIPPED_CLUSTERS);
    std::vector<uint8_t> vecAll;
    if (vecFree.size() <= u64Clusters ||
        read(vecFree, vecFree.size() * uint64_t(nClusterBytes), vecAll) != 0)
        return {};
    vecAll.resize(vecFree.size() * uint64_t(nClusterBytes));
    const uint64_t u64MaxSkip = vecFree.size() - u64Clusters;
    std::vector<uint8_t> vecJoin(u64Size);
    for (uint64_t u64Skip = 1; u64Skip <= u64MaxSkip; ++u64Skip)
        for (uint64_t u64Head = u64Clusters - 1; u64Head >= 1; --u64Head) {
            if (budget.IsSpent())
                return {};
            ++u64Joins;
            const uint64_t u64HeadBytes = u64Head * nClusterBytes;
            std::memcpy(vecJoin.data(), vecAll.data(), u64HeadBytes);
            std::memcpy(vecJoin.data() + u64HeadBytes,
                        vecAll.data() + (u64Head + u64Skip) * nClusterBytes,
                        u64Size - u64HeadBytes);
            if (Prove(vecJoin, u64Size, pExtension, PROOF_DEPTH::DECODE) != DATA_HEALTH_WHOLE)
                continue;
            std::vector<uint32_t> vecClusters(vecFree.begin(), vecFree.begin() + u64Head);
            vecClusters.insert(vecClusters.end(), vecFree.begin() + (u64Head + u64Skip),
                               vecFree.begin() + (u64Clusters + u64Skip));
            return vecClusters;
        }
    return {};
}

CFreeClusterFollower::CHOICE CFreeClusterFollower::Choose(uint32_t nFirst, uint64_t u64Size,
                                                          uint32_t nClusterBytes,
                                                          const char* pExtension,
                                                          const ReadFunc& read) const {
    const CTimeBudget clock(JOIN_BUDGET);
    std::string strTried;
    uint64_t u64Joins = 0;
    CHOICE choice =
        ChooseReading(nFirst, u64Size, nClusterBytes, pExtension, read, strTried, u64Joins);
    if (!strTried.empty())
        DebugLog("free clusters: .%s at cluster %u, %llu bytes: proved%s, %llu joins; chose "
                 "clusters %u..%u (%u runs), %s; %llu ms\n",
                 pExtension, nFirst, static_cast<unsigned long long>(u64Size), strTried.c_str(),
                 static_cast<unsigned long long>(u64Joins),
                 choice.vecClusters.empty() ? 0 : choice.vecClusters.front(),
                 choice.vecClusters.empty() ? 0 : choice.vecClusters.back(), RunCount(choice),
                 CFileProof::GetStateName(choice.nDataHealth),
                 static_cast<unsigned long long>(clock.ElapsedMs()));
    return choice;
}

uint32_t CFreeClusterFollower::RunCount(const CHOICE& choice) {
    uint32_t nRuns = choice.vecClusters.empty() ? 0 : 1;
    for (size_t i = 1; i < choice.vecClusters.size(); ++i)
        nRuns += choice.vecClusters[i] != choice.vecClusters[i - 1] + 1 ? 1 : 0;
    return nRuns;
}

CFreeClusterFollower::CHOICE
CFreeClusterFollower::ChooseReading(uint32_t nFirst, uint64_t u64Size, uint32_t nClusterBytes,
                                    const char* pExtension, const ReadFunc& read,
                                    std::string& strTried, uint64_t& u64Joins) const {
    const bool bProvable =
        u64Size > 0 && u64Size <= PROOF_BYTES_LIMIT && CFileProof::CanProve(pExtension);
    const uint64_t u64Clusters =
        nClusterBytes == 0 ? 1
                           : std::max<uint64_t>(1, (u64Size + nClusterBytes - 1) / nClusterBytes);
    std::vector<uint32_t> vecContiguous = Contiguous(nFirst, u64Clusters);
    if (vecContiguous.size() == u64Clusters && AreFree(vecContiguous)) {
        const uint32_t nHealth =
            ProveReading(vecContiguous, u64Size, pExtension, PROOF_DEPTH::STRUCTURE, read);
        if (bProvable)
            strTried += " contiguous";
        if (nHealth != DATA_HEALTH_DAMAGED || nClusterBytes == 0)
            return {vecContiguous, nHealth};
        std::vector<uint32_t> vecJoined =
            FindTwoPieces(nFirst, u64Clusters, u64Size, nClusterBytes, pExtension, read, u64Joins);
        if (!vecJoined.empty())
            return {vecJoined, DATA_HEALTH_WHOLE};
        return {vecContiguous, nHealth};
    }
    std::vector<uint32_t> vecFollowed = Followed(nFirst, u64Clusters);
    const uint32_t nFollowed =
        ProveReading(vecFollowed, u64Size, pExtension, PROOF_DEPTH::DECODE, read);
    if (bProvable)
        strTried += " followed";
    if (nFollowed != DATA_HEALTH_DAMAGED)
        return {vecFollowed, nFollowed};
    const uint32_t nContiguous =
        ProveReading(vecContiguous, u64Size, pExtension, PROOF_DEPTH::DECODE, read);
    strTried += " contiguous";
    // The contiguous reading wins when it proves whole, or when only the other one fails.
    if (nContiguous != DATA_HEALTH_DAMAGED)
        return {vecContiguous, nContiguous};
    std::vector<uint32_t> vecJoined =
        nClusterBytes == 0 ? std::vector<uint32_t>()
                           : FindTwoPieces(nFirst, u64Clusters, u64Size, nClusterBytes, pExtension,
                                           read, u64Joins);
    if (!vecJoined.empty())
        return {vecJoined, DATA_HEALTH_WHOLE};
    return {vecFollowed, nFollowed};
}
