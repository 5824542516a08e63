// Option parsing and the search key of the file kinds.
#include "cli/CScanOptions.h"

#include "util/FileCategory.h"

#include <cerrno>
#include <cstdlib>
#include <map>

namespace {

constexpr const char* OTHER_KEY = ".other";

const std::map<std::string, const char*>& KindPatterns() {
    static const std::map<std::string, const char*> patterns = {
        {"photo", PHOTO_PATTERN},   {"music", MUSIC_PATTERN},     {"video", VIDEO_PATTERN},
        {"office", OFFICE_PATTERN}, {"archive", ARCHIVE_PATTERN}, {"other", OTHER_KEY},
    };
    return patterns;
}

const char* const ALL_KINDS[] = {"photo", "music", "video", "office", "archive", "other"};

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

bool CScanOptions::Parse(const std::vector<std::string>& vecArgs, bool bRecover) {
    for (size_t i = 0; i < vecArgs.size(); ++i) {
        const std::string& strArg = vecArgs[i];
        bool bHasValue = i + 1 < vecArgs.size();
        unsigned long long u64Value = 0;
        if (strArg == "--fast") {
            m_bFast = true;
        } else if (strArg == "--force" && bRecover) {
            m_bForce = true;
        } else if (!bHasValue && strArg.rfind("--", 0) == 0) {
            return Fail(strArg + " needs a value");
        } else if (strArg == "--types") {
            if (!ParseTypes(vecArgs[++i]))
                return false;
        } else if (strArg == "--disk") {
            if (!ParseNumber(vecArgs[++i], u64Value) || u64Value >= 128)
                return Fail("--disk takes a disk number from 0 to 127");
            m_nDiskNo = static_cast<int>(u64Value);
        } else if (strArg == "--partition") {
            if (!ParseNumber(vecArgs[++i], u64Value) || u64Value == 0 || u64Value > 1024)
                return Fail("--partition takes a partition number from 1");
            m_nPartition = static_cast<int>(u64Value);
        } else if (strArg == "--min-size") {
            if (!ParseNumber(vecArgs[++i], u64Value))
                return Fail("--min-size takes a number of bytes");
            m_u64MinSize = u64Value;
        } else if (strArg == "--json" && !bRecover) {
            m_strJsonPath = vecArgs[++i];
        } else if (strArg == "--report") {
            m_strReportPath = vecArgs[++i];
        } else if (strArg == "--to" && bRecover) {
            m_strDestination = vecArgs[++i];
        } else if (strArg == "--name" && bRecover) {
            m_vecNameGlobs.push_back(vecArgs[++i]);
        } else if (strArg == "--layout" && bRecover) {
            const std::string& strLayout = vecArgs[++i];
            if (strLayout != "category" && strLayout != "tree")
                return Fail("--layout is category or tree");
            m_layout = strLayout == "tree" ? Layout::Tree : Layout::Category;
        } else if (strArg.rfind("--", 0) != 0 && m_strTarget.empty()) {
            m_strTarget = strArg;
        } else {
            return Fail("unexpected argument '" + strArg + "'");
        }
    }
    if (m_strTarget.empty() == (m_nDiskNo < 0))
        return Fail("give one target: an image or device path, or --disk N");
    if (bRecover && m_strDestination.empty())
        return Fail("recover needs --to DIR");
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
