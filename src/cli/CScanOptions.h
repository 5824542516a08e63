// The command line of "orvanne-cli scan" and "orvanne-cli recover".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CScanOptions {
public:
    enum class Layout { Category, Tree };

    // Parses the arguments after the command word (getopt_long); false with a message in
    // GetError(). --help sets IsHelpWanted.
    bool Parse(const std::vector<std::string>& vecArgs, bool bRecover);
    const std::string& GetError() const { return m_strError; }
    bool IsHelpWanted() const { return m_bHelp; }

    // The search key of the chosen kinds, items joined with "|".
    std::string BuildSearchKey() const;

    std::string m_strTarget; // image or device path; empty with --disk
    int m_nDiskNo = -1;
    int m_nPartition = 0; // 1-based; 0 for the whole disk
    std::vector<std::string> m_vecTypes;
    bool m_bFast = false;
    bool m_bForce = false;
    bool m_bKeepPartial = false;
    std::string m_strJsonPath;
    std::string m_strReportPath;
    std::string m_strDestination;
    std::vector<std::string> m_vecNameGlobs;
    Layout m_layout = Layout::Category;
    uint64_t m_u64MinSize = 0;

private:
    bool Fail(const std::string& strMessage);
    bool ParseTypes(const std::string& strList);
    bool TakeOption(int nOption, const std::string& strValue);
    bool CheckComplete(bool bRecover);

    std::string m_strError;
    bool m_bHelp = false;
};
