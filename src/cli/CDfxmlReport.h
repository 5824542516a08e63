// A DFXML report of the hits: one fileobject each, with byte runs and, once written, SHA-256;
// written as the hits come.
#pragma once

#include "cli/CReportStream.h"
#include "engine/FileRecoveryTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class CDfxmlReport {
public:
    // Starts the report in a new file (never over an existing one); 0, or errno.
    int Create(const std::string& strPath, const std::string& strImagePath);
    // strName is the file's path inside the volume; strSha256 may be empty (not recovered);
    // pRuns: where the engine told where the data lies.
    void AddFile(const SEARCH_FILE_INFO& hit, const std::string& strName,
                 const std::string& strSha256, const std::vector<FILE_DATA_RUN>* pRuns = nullptr);
    // Ends the report and gives the file its name; 0, or errno.
    int Commit();
    bool IsOpen() const { return m_stream.IsOpen(); }

private:
    CReportStream m_stream;
};

// The absolute sector where a carved or FAT hit's data starts; 0 when the node does not say.
uint64_t GetFirstDataSector(const SEARCH_FILE_INFO& hit);
