// Writes the forensic community's XML form of a file report.
#include "cli/CDfxmlReport.h"

#include "formats/fat/FatGeometry.h"
#include "util/TextUtil.h"

#include <cerrno>
#include <cstdio>

namespace {

constexpr uint64_t SECTOR_BYTES = 512;

constexpr const char* REPLACEMENT_UTF8 = "\xEF\xBF\xBD";

// XML 1.0 allows no control character but tab, line feed and carriage return, not even as a
// reference: the others become U+FFFD, as bytes that are not UTF-8 do.
std::string EscapeXml(const std::string& strText) {
    std::string strOut;
    for (unsigned char c : MakeValidUtf8(strText)) {
        switch (c) {
        case '&':
            strOut += "&amp;";
            break;
        case '<':
            strOut += "&lt;";
            break;
        case '>':
            strOut += "&gt;";
            break;
        case '"':
            strOut += "&quot;";
            break;
        default:
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                strOut += REPLACEMENT_UTF8;
            else
                strOut += static_cast<char>(c);
        }
    }
    return strOut;
}

} // namespace

uint64_t GetFirstDataSector(const SEARCH_FILE_INFO& hit) {
    if (hit.nEngineType == ENGINE_FILE_TYPE)
        return hit.u64LocationSector;
    bool bFat = hit.nEngineType == ENGINE_DEEP_FAT || hit.nEngineType == ENGINE_FAST_FAT ||
                hit.nEngineType == ENGINE_DEEP_EXFAT || hit.nEngineType == ENGINE_FAST_EXFAT;
    return bFat ? GetFatNodeClusterSector(hit, hit.nClusterNo).value_or(0) : 0;
}

void CDfxmlReport::AddFile(const SEARCH_FILE_INFO& hit, const std::string& strName,
                           const std::string& strSha256, const std::vector<FILE_DATA_RUN>* pRuns) {
    std::string strObject = "  <fileobject>\n    <filename>" + EscapeXml(strName) +
                            "</filename>\n    <filesize>" + std::to_string(hit.u64FileSize) +
                            "</filesize>\n";
    std::string strRuns;
    if (pRuns != nullptr) {
        for (const FILE_DATA_RUN& run : *pRuns)
            strRuns += "      <byte_run file_offset=\"" + std::to_string(run.u64FileOffset) +
                       (run.bZeroFill ? "\" fill=\"0"
                                      : "\" img_offset=\"" + std::to_string(run.u64DiskOffset)) +
                       "\" len=\"" + std::to_string(run.u64Bytes) + "\"/>\n";
    } else if (hit.nEngineType == ENGINE_FILE_TYPE || hit.nEngineType == ENGINE_DEEP_FAT) {
        // One run is known only where the engine reads the data as one: carved and deep FAT.
        if (uint64_t u64Sector = GetFirstDataSector(hit); u64Sector != 0)
            strRuns = "      <byte_run file_offset=\"0\" img_offset=\"" +
                      std::to_string(u64Sector * SECTOR_BYTES) + "\" len=\"" +
                      std::to_string(hit.u64FileSize) + "\"/>\n";
    }
    if (!strRuns.empty())
        strObject += "    <byte_runs>\n" + strRuns + "    </byte_runs>\n";
    if (!strSha256.empty())
        strObject += "    <hashdigest type=\"sha256\">" + strSha256 + "</hashdigest>\n";
    m_stream.Append(strObject + "  </fileobject>\n");
}

int CDfxmlReport::Create(const std::string& strPath, const std::string& strImagePath) {
    if (int nResult = m_stream.Create(strPath); nResult != 0)
        return nResult;
    m_stream.Append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<dfxml version=\"1.0\">\n"
                    "  <creator>\n    <program>orvanne-cli</program>\n"
                    "    <version>" ORVANNE_VERSION "</version>\n  </creator>\n"
                    "  <source>\n    <image_filename>" +
                    EscapeXml(strImagePath) + "</image_filename>\n  </source>\n");
    return 0;
}

int CDfxmlReport::Commit() {
    m_stream.Append("</dfxml>\n");
    return m_stream.Commit();
}
