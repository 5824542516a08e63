// JSON through nlohmann-json: escaping is the library's, and bytes that are not UTF-8 become
// U+FFFD instead of making the whole file unreadable.
#include "cli/CJsonReport.h"

#include "cli/CDfxmlReport.h"
#include "util/CSafeOutputFile.h"
#include "util/FileCategory.h"

#include <cstring>
#include <iterator>

namespace {

constexpr int JSON_INDENT = 2;

const char* EngineName(uint32_t nEngineType) {
    static const char* const NAMES[] = {"fast-ntfs", "fast-fat",   "deep-ntfs", "deep-fat",
                                        "carving",   "fast-exfat", "deep-exfat"};
    return nEngineType < std::size(NAMES) ? NAMES[nEngineType] : "unknown";
}

} // namespace

void CJsonReport::AddFile(const SEARCH_FILE_INFO& hit, const std::string& strPath) {
    std::string strName(hit.szFileName, strnlen(hit.szFileName, FILE_NODE_NAME_BYTES));
    m_array.push_back({
        {"name", strName},
        {"path", strPath},
        {"size", hit.u64FileSize},
        {"category", GetCategoryName(GetFileCategoryOfName(hit.szFileName))},
        {"engine", EngineName(hit.nEngineType)},
        {"location_sector", hit.u64LocationSector},
        {"first_data_sector", GetFirstDataSector(hit)},
        {"health", hit.nDataHealth},
    });
}

int CJsonReport::Write(const std::string& strFilePath) const {
    std::string strText =
        m_array.dump(JSON_INDENT, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
        "\n";
    CSafeOutputFile file;
    int nResult = file.Create(strFilePath);
    if (nResult == 0)
        nResult = file.Write(strText.data(), strText.size());
    return nResult != 0 ? nResult : file.Commit();
}
