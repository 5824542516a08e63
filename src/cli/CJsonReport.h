// The hits of a scan as a JSON array, one object per file, written as the hits come.
#pragma once

#include "cli/CReportStream.h"
#include "engine/FileRecoveryTypes.h"

#include <string>

class CJsonReport {
public:
    // Starts the file (never over an existing one); 0 or errno.
    int Create(const std::string& strFilePath);
    // strPath: the file's folder inside the volume ("a/b/"), empty at the top.
    void AddFile(const SEARCH_FILE_INFO& hit, const std::string& strPath);
    // Closes the array and gives the file its name; 0 or errno.
    int Commit();

private:
    CReportStream m_stream;
    size_t m_nFiles = 0;
};
