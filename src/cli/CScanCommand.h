// "orvanne-cli scan" and "orvanne-cli recover": scan a target, search it, list or recover the hits.
#pragma once

#include "cli/CCliProgress.h"
#include "cli/CScanOptions.h"
#include "engine/IFileRecoveryParse.h"

#include <memory>
#include <string>
#include <vector>

class CDfxmlReport;

class CScanCommand {
public:
    explicit CScanCommand(const CScanOptions& options) : m_options(options) {}

    // Exit statuses: 0 done, 1 some file could not be recovered, 2 the command could not run.
    int RunScan();
    int RunRecover();

private:
    int OpenTarget();
    int ScanAndSearch();
    void KeepWantedHits();
    void PrintTree() const;
    int WriteJson();
    int CheckDestination() const;
    int RecoverHits(CDfxmlReport* pReport);
    // The hit's entry, with its byte runs where the engine tells them.
    void AddToReport(CDfxmlReport& report, SEARCH_FILE_INFO& hit, const std::string& strSha256);
    std::string ParentPathOf(SEARCH_FILE_INFO& hit);
    std::string MakeDestinationFolder(SEARCH_FILE_INFO& hit);
    int WriteReport(CDfxmlReport& report) const;

    CScanOptions m_options;
    CCliProgress m_progress;
    std::unique_ptr<IFileRecoveryParse> m_pEngine;
    std::vector<SEARCH_FILE_INFO> m_vecHits;
    std::string m_strDevicePath;
    int m_nDiskNo = -1;
    unsigned long long m_u64StartSector = 0;
    unsigned long long m_u64SectorCount = 0;
};
