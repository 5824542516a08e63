// One numbering over the nodes of several engines of a kind.
#include "deepscan/CEngineGroup.h"

#include <algorithm>

namespace {

// An engine's hits with their node numbers moved up by the engine's base.
class CRenumberedCursor : public ISearchCursor {
public:
    CRenumberedCursor(std::unique_ptr<ISearchCursor> pCursor, uint32_t nBase)
        : m_pCursor(std::move(pCursor)), m_nBase(nBase) {}

    bool Next(SEARCH_FILE_INFO& hit) override {
        if (!m_pCursor->Next(hit))
            return false;
        hit.nFileIndex += m_nBase;
        return true;
    }
    void Rewind() override { m_pCursor->Rewind(); }
    int GetResult() const override { return m_pCursor->GetResult(); }

private:
    std::unique_ptr<ISearchCursor> m_pCursor;
    uint32_t m_nBase;
};

} // namespace

void CEngineGroup::Clear() {
    m_vecEngines.clear();
    m_vecBases.clear();
    m_vecCounts.clear();
}

void CEngineGroup::Add(IFileRecoveryParse* pEngine) {
    m_vecEngines.push_back(pEngine);
    m_vecBases.push_back(0);
    m_vecCounts.push_back(0);
}

void CEngineGroup::AssignBases() {
    // A store numbers its nodes from 1; 0 is kept for each engine too.
    uint32_t nNext = 0;
    for (size_t i = 0; i < m_vecEngines.size(); ++i) {
        m_vecBases[i] = nNext;
        m_vecCounts[i] = m_vecEngines[i]->GetLostFileCount();
        nNext += m_vecCounts[i] + 1;
    }
}

uint32_t CEngineGroup::BaseOf(const IFileRecoveryParse* pEngine) const {
    auto it = std::find(m_vecEngines.begin(), m_vecEngines.end(), pEngine);
    return it == m_vecEngines.end() ? 0 : m_vecBases[size_t(it - m_vecEngines.begin())];
}

IFileRecoveryParse* CEngineGroup::Find(uint32_t nFileIndex, uint32_t& nEngineIndex) const {
    nEngineIndex = nFileIndex;
    if (m_vecEngines.size() == 1)
        return m_vecEngines[0];
    for (size_t i = 0; i < m_vecEngines.size(); ++i) {
        if (nFileIndex >= m_vecBases[i] && nFileIndex - m_vecBases[i] <= m_vecCounts[i]) {
            nEngineIndex = nFileIndex - m_vecBases[i];
            return m_vecEngines[i];
        }
    }
    return nullptr;
}

void CEngineGroup::ToGroupNumbers(const IFileRecoveryParse* pEngine,
                                  std::vector<FILE_NODE>& vecNodes, size_t nFirst) const {
    const uint32_t nBase = BaseOf(pEngine);
    for (size_t i = nFirst; i < vecNodes.size(); ++i)
        vecNodes[i].nFileIndex += nBase;
}

// As before streaming, an engine without a store adds no hits and is not an error.
void CEngineGroup::OpenSearchCursor(size_t nEngine, const char16_t* pKey,
                                    std::unique_ptr<ISearchCursor>& pCursor) const {
    m_vecEngines[nEngine]->OpenSearchCursor(pKey, pCursor);
    if (pCursor && m_vecBases[nEngine] != 0)
        pCursor = std::make_unique<CRenumberedCursor>(std::move(pCursor), m_vecBases[nEngine]);
}
