// JSON through nlohmann-json: escaping is the library's, and bytes that are not UTF-8 become
// U+FFFD instead of making the whole file unreadable.
#include "cli/CJsonReport.h"

#include "cli/CDfxmlReport.h"
#include "formats/proof/CFileProof.h"
#include "util/FileCategory.h"

#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>

namespace {

constexpr int JSON_INDENT = 2;
constexpr const char* ELEMENT_INDENT = "  ";

const char* EngineName(uint32_t nEngineType) {
    static const char* const NAMES[] = {"fast-ntfs", "fast-fat",   "deep-ntfs", "deep-fat",
                                        "carving",   "fast-exfat", "deep-exfat"};
    return nEngineType < std::size(NAMES) ? NAMES[nEngineType] : "unknown";
}

} // namespace

int CJsonReport::Create(const std::string& strFilePath) {
    m_nFiles = 0;
    return m_stream.Create(strFilePath);
}

// Each object is dumped alone and indented one level: the same text as the whole array dumped
// at once, without holding the array.
void CJsonReport::AddFile(const SEARCH_FILE_INFO& hit, const std::string& strPath) {
    std::string strName(hit.szFileName, strnlen(hit.szFileName, FILE_NODE_NAME_BYTES));
    nlohmann::ordered_json object = {
        {"name", strName},
        {"path", strPath},
        {"size", hit.u64FileSize},
        {"category", GetCategoryName(GetFileCategoryOfName(hit.szFileName))},
        {"engine", EngineName(hit.nEngineType)},
        {"location_sector", hit.u64LocationSector},
        {"first_data_sector", GetFirstDataSector(hit)},
        {"health", hit.nDataHealth},
        {"state", CFileProof::GetStateName(hit.nDataHealth)},
    };
    std::string strText =
        object.dump(JSON_INDENT, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::string strIndented(m_nFiles == 0 ? "[\n" : ",\n");
    strIndented += ELEMENT_INDENT;
    for (char c : strText) {
        strIndented += c;
        if (c == '\n')
            strIndented += ELEMENT_INDENT;
    }
    m_stream.Append(strIndented);
    ++m_nFiles;
}

int CJsonReport::Commit() {
    m_stream.Append(m_nFiles == 0 ? "[]\n" : "\n]\n");
    return m_stream.Commit();
}
