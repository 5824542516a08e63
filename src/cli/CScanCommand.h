// "orvanne-cli scan" and "orvanne-cli recover": scan a target, search it, list or recover the hits.
#pragma once

#include "cli/CCliProgress.h"
#include "cli/CScanOptions.h"
#include "engine/IFileRecoveryParse.h"

#include <memory>
#include <string>

class CDfxmlReport;

class CScanCommand {
public:
    explicit CScanCommand(const CScanOptions& options) : m_options(options) {}

    // Exit statuses of cli/CliExit.h.
    int RunScan();
    int RunRecover();

private:
    int OpenTarget();
    int CheckWriteLocation(const std::string& strFolder, const std::string& strWhat) const;
    int CheckOutputFile(const std::string& strPath) const;
    int CheckOutputs() const;
    int CheckScanLog() const;
    int CheckBeforeScan();
    int CheckDestination();
    int ScanAndSearch();
    bool IsWantedHit(const SEARCH_FILE_INFO& hit) const;
    bool NextWantedHit(SEARCH_FILE_INFO& hit);
    void PrintTree();
    std::string ParentPathOf(SEARCH_FILE_INFO& hit);
    int WriteJson();
    int WriteScanReport();
    int MakeDestinationFolder(SEARCH_FILE_INFO& hit, std::string& strFolder);
    int RecoverOne(SEARCH_FILE_INFO& hit, CDfxmlReport* pReport);
    int RecoverHits(CDfxmlReport* pReport);
    // The hit's entry, with its byte runs where the engine tells them.
    void AddToReport(CDfxmlReport& report, SEARCH_FILE_INFO& hit, const std::string& strSha256);
    int CreateReport(CDfxmlReport& report) const;
    int CommitReport(CDfxmlReport& report) const;
    int FinalStatus(int nStatus) const;

    CScanOptions m_options;
    CCliProgress m_progress;
    std::unique_ptr<IFileRecoveryParse> m_pEngine;
    std::unique_ptr<ISearchCursor> m_pHits;
    std::string m_strDevicePath;
    std::string m_strDestination; // --to, made absolute and free of symlinks once checked
    int m_nDiskNo = -1;
    unsigned long long m_u64StartSector = 0;
    unsigned long long m_u64SectorCount = 0;
    int m_nBaseDepth = 0;
    bool m_bStopped = false;
    int m_nScanError = 0;
    size_t m_nRecovered = 0;
    size_t m_nDamaged = 0;
    size_t m_nFailed = 0;
};
