// Option parsing and the search key of the file kinds.
#include "cli/CScanOptions.h"

#include "cli/CArgumentVector.h"
#include "util/FileCategory.h"

#include <cerrno>
#include <cstdlib>
#include <getopt.h>
#include <map>

namespace {

const std::map<std::string, const char*>& KindPatterns() {
    static const std::map<std::string, const char*> patterns = {
        {"photo", PHOTO_PATTERN},   {"music", MUSIC_PATTERN},     {"video", VIDEO_PATTERN},
        {"office", OFFICE_PATTERN}, {"archive", ARCHIVE_PATTERN}, {"other", OTHER_PATTERN},
    };
    return patterns;
}

const char* const ALL_KINDS[] = {"photo", "music", "video", "office", "archive", "other"};

enum OptionId {
    OPT_TYPES = 1000,
    OPT_FAST,
    OPT_DISK,
    OPT_PARTITION,
    OPT_MIN_SIZE,
    OPT_JSON,
    OPT_REPORT,
    OPT_TO,
    OPT_NAME,
    OPT_LAYOUT,
    OPT_FORCE,
    OPT_KEEP_PARTIAL,
    OPT_HELP,
};

bool ParseNumber(const std::string& strText, unsigned long long& u64Out) {
    if (strText.empty() || strText[0] == '-')
        return false;
    char* pEnd = nullptr;
    errno = 0;
    u64Out = std::strtoull(strText.c_str(), &pEnd, 10);
    return errno == 0 && *pEnd == '\0';
}

} // namespace

bool CScanOptions::Fail(const std::string& strMessage) {
    m_strError = strMessage;
    return false;
}

bool CScanOptions::ParseTypes(const std::string& strList) {
    size_t nStart = 0;
    while (nStart <= strList.size()) {
        size_t nEnd = strList.find(',', nStart);
        if (nEnd == std::string::npos)
            nEnd = strList.size();
        std::string strKind = strList.substr(nStart, nEnd - nStart);
        if (strKind == "all")
            m_vecTypes.assign(std::begin(ALL_KINDS), std::end(ALL_KINDS));
        else if (KindPatterns().count(strKind) != 0)
            m_vecTypes.push_back(strKind);
        else
            return Fail("unknown file kind '" + strKind +
                        "' (photo, music, video, office, archive, other, all)");
        nStart = nEnd + 1;
    }
    return true;
}

bool CScanOptions::TakeOption(int nOption, const std::string& strValue) {
    unsigned long long u64Value = 0;
    switch (nOption) {
    case OPT_FAST:
        m_bFast = true;
        return true;
    case OPT_FORCE:
        m_bForce = true;
        return true;
    case OPT_KEEP_PARTIAL:
        m_bKeepPartial = true;
        return true;
    case OPT_TYPES:
        return ParseTypes(strValue);
    case OPT_DISK:
        if (!ParseNumber(strValue, u64Value) || u64Value >= 128)
            return Fail("--disk takes a disk number from 0 to 127");
        m_nDiskNo = static_cast<int>(u64Value);
        return true;
    case OPT_PARTITION:
        if (!ParseNumber(strValue, u64Value) || u64Value == 0 || u64Value > 1024)
            return Fail("--partition takes a partition number from 1");
        m_nPartition = static_cast<int>(u64Value);
        return true;
    case OPT_MIN_SIZE:
        if (!ParseNumber(strValue, u64Value))
            return Fail("--min-size takes a number of bytes");
        m_u64MinSize = u64Value;
        return true;
    case OPT_JSON:
        m_strJsonPath = strValue;
        return true;
    case OPT_REPORT:
        m_strReportPath = strValue;
        return true;
    case OPT_TO:
        m_strDestination = strValue;
        return true;
    case OPT_NAME:
        m_vecNameGlobs.push_back(strValue);
        return true;
    case OPT_LAYOUT:
        if (strValue != "category" && strValue != "tree")
            return Fail("--layout is category or tree");
        m_layout = strValue == "tree" ? Layout::Tree : Layout::Category;
        return true;
    case OPT_HELP:
        m_bHelp = true;
        return true;
    default:
        return Fail("unknown option");
    }
}

bool CScanOptions::Parse(const std::vector<std::string>& vecArgs, bool bRecover) {
    static const option SCAN_OPTIONS[] = {
        {"types", required_argument, nullptr, OPT_TYPES},
        {"fast", no_argument, nullptr, OPT_FAST},
        {"disk", required_argument, nullptr, OPT_DISK},
        {"partition", required_argument, nullptr, OPT_PARTITION},
        {"min-size", required_argument, nullptr, OPT_MIN_SIZE},
        {"json", required_argument, nullptr, OPT_JSON},
        {"report", required_argument, nullptr, OPT_REPORT},
        {"force", no_argument, nullptr, OPT_FORCE},
        {"help", no_argument, nullptr, OPT_HELP},
        {nullptr, 0, nullptr, 0},
    };
    static const option RECOVER_OPTIONS[] = {
        {"types", required_argument, nullptr, OPT_TYPES},
        {"fast", no_argument, nullptr, OPT_FAST},
        {"disk", required_argument, nullptr, OPT_DISK},
        {"partition", required_argument, nullptr, OPT_PARTITION},
        {"min-size", required_argument, nullptr, OPT_MIN_SIZE},
        {"report", required_argument, nullptr, OPT_REPORT},
        {"to", required_argument, nullptr, OPT_TO},
        {"name", required_argument, nullptr, OPT_NAME},
        {"layout", required_argument, nullptr, OPT_LAYOUT},
        {"force", no_argument, nullptr, OPT_FORCE},
        {"keep-partial", no_argument, nullptr, OPT_KEEP_PARTIAL},
        {"help", no_argument, nullptr, OPT_HELP},
        {nullptr, 0, nullptr, 0},
    };
    CArgumentVector args(bRecover ? "recover" : "scan", vecArgs);
    char** ppArgv = args.Data();
    const int nArgc = args.Count();
    optind = 0; // a fresh scan of this argument vector
    opterr = 0;
    for (;;) {
        int nOption =
            getopt_long(nArgc, ppArgv, ":", bRecover ? RECOVER_OPTIONS : SCAN_OPTIONS, nullptr);
        if (nOption == -1)
            break;
        std::string strOption = ppArgv[optind - 1];
        if (nOption == ':')
            return Fail(strOption + " needs a value");
        if (nOption == '?')
            return Fail("unknown option '" + strOption + "'");
        if (!TakeOption(nOption, optarg != nullptr ? optarg : ""))
            return false;
        if (m_bHelp)
            return true;
    }
    for (int i = optind; i < nArgc; ++i) {
        if (!m_strTarget.empty())
            return Fail("unexpected argument '" + std::string(ppArgv[i]) + "'");
        m_strTarget = ppArgv[i];
    }
    return CheckComplete(bRecover);
}

bool CScanOptions::CheckComplete(bool bRecover) {
    if (m_strTarget.empty() == (m_nDiskNo < 0))
        return Fail("give one target: an image or device path, or --disk N");
    if (bRecover && m_strDestination.empty())
        return Fail("recover needs --to DIR");
    if (!m_strJsonPath.empty() && m_strJsonPath == m_strReportPath)
        return Fail("--json and --report name the same file");
    if (m_vecTypes.empty())
        m_vecTypes.assign(std::begin(ALL_KINDS), std::end(ALL_KINDS));
    return true;
}

std::string CScanOptions::BuildSearchKey() const {
    std::string strKey;
    for (const std::string& strKind : m_vecTypes) {
        if (!strKey.empty() && strKey.back() != '|')
            strKey += '|';
        strKey += KindPatterns().at(strKind);
    }
    return strKey;
}
