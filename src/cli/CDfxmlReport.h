// A DFXML report of the hits: one fileobject each, with byte runs and, once written, SHA-256.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class CDfxmlReport {
public:
    explicit CDfxmlReport(const std::string& strImagePath) : m_strImagePath(strImagePath) {}

    // strName is the file's path inside the volume; strSha256 may be empty (not recovered);
    // pRuns: where the engine told where the data lies.
    void AddFile(const SEARCH_FILE_INFO& hit, const std::string& strName,
                 const std::string& strSha256, const std::vector<FILE_DATA_RUN>* pRuns = nullptr);
    // Writes the report to a new file (never over an existing one); 0, or errno.
    int Write(const std::string& strPath) const;

private:
    std::string m_strImagePath;
    std::vector<std::string> m_vecObjects;
};

// The absolute sector where a carved or FAT hit's data starts; 0 when the node does not say.
uint64_t GetFirstDataSector(const SEARCH_FILE_INFO& hit);
