// Engines of one kind whose nodes share one numbering: a whole-disk deep scan holds a fast engine
// per partition and a deep FAT engine per FAT partition, and a node's nFileIndex must still name
// the engine that made it. Each engine's numbers follow those of the engines before it; a lone
// engine keeps its own numbers.
#pragma once

#include "engine/IFileRecoveryParse.h"
#include "engine/ISearchCursor.h"

#include <cstdint>
#include <memory>
#include <vector>

class CEngineGroup {
public:
    void Clear();
    void Add(IFileRecoveryParse* pEngine);
    const std::vector<IFileRecoveryParse*>& Engines() const { return m_vecEngines; }
    // Once the engines' stores are complete (end of a scan, or stores reloaded).
    void AssignBases();

    // The engine whose node carries the group number, and the engine's own number; null when
    // no engine has it.
    IFileRecoveryParse* Find(uint32_t nFileIndex, uint32_t& nEngineIndex) const;
    // The engine's nodes from nFirst on, renumbered for the group.
    void ToGroupNumbers(const IFileRecoveryParse* pEngine, std::vector<FILE_NODE>& vecNodes,
                        size_t nFirst = 0) const;
    // The engine's search hits, renumbered for the group.
    void OpenSearchCursor(size_t nEngine, const char16_t* pKey,
                          std::unique_ptr<ISearchCursor>& pCursor) const;

private:
    uint32_t BaseOf(const IFileRecoveryParse* pEngine) const;

    std::vector<IFileRecoveryParse*> m_vecEngines;
    std::vector<uint32_t> m_vecBases;  // the first group number of each engine
    std::vector<uint32_t> m_vecCounts; // the highest number of each engine at AssignBases
};
