// The hits of a scan as a JSON array, one object per file.
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <nlohmann/json.hpp>
#include <string>

class CJsonReport {
public:
    // strPath: the file's folder inside the volume ("a/b/"), empty at the top.
    void AddFile(const SEARCH_FILE_INFO& hit, const std::string& strPath);
    // Writes the array to a new file (never over an existing one); 0 or errno.
    int Write(const std::string& strFilePath) const;

private:
    nlohmann::ordered_json m_array = nlohmann::ordered_json::array();
};
