// Target resolution, the checks before anything is written, the scan and search, the category
// tree, the reports, and recovery of the hits.
#include "cli/CScanCommand.h"

#include "cli/CDestinationGuard.h"
#include "cli/CDfxmlReport.h"
#include "cli/CInterruptWatcher.h"
#include "cli/CJsonReport.h"
#include "cli/CliExit.h"
#include "cli/DisksCommand.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "device/CDiskRegistry.h"
#include "device/CPartitionManager.h"
#include "engine/CCopyOutFile.h"
#include "formats/proof/CFileProof.h"
#include "store/CLogFileManager.h"
#include "util/CSafeOutputFile.h"
#include "util/CSha256.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned long long SECTOR_BYTES = 512;
constexpr char16_t DRIVE_LETTER = u'C';
constexpr int PARENT_PATH_UNITS = 4096;
constexpr const char* NO_EXTENSION_KEY = "unKnow";

int CannotRun(const std::string& strMessage) {
    std::fprintf(stderr, "orvanne-cli: %s\n", EscapeControlChars(strMessage).c_str());
    return EXIT_CANNOT_RUN;
}

std::string ExtensionKey(const char* pName) {
    std::string strExt = GetLowerExtension(pName);
    return strExt.empty() ? NO_EXTENSION_KEY : EscapeControlChars(strExt);
}

std::string ParentDir(const std::string& strPath) {
    size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

bool Exists(const std::string& strPath) {
    struct stat st;
    return lstat(strPath.c_str(), &st) == 0;
}

// The path itself, or the nearest folder above it that exists.
std::string NearestExisting(std::string strPath) {
    while (strPath.size() > 1 && strPath.back() == '/')
        strPath.pop_back();
    while (!Exists(strPath) && strPath != "/" && strPath != ".")
        strPath = ParentDir(strPath);
    return strPath;
}

bool IsWritableFolder(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(strPath.c_str(), W_OK | X_OK) == 0;
}

std::string RealPath(const std::string& strPath) {
    char* pReal = realpath(strPath.c_str(), nullptr);
    if (pReal == nullptr)
        return strPath;
    std::string strReal(pReal);
    std::free(pReal);
    return strReal;
}

std::string UnreadableTargetMessage(const std::string& strPath, int nError) {
    std::string strKind = DescribeNonDisk(strPath.c_str());
    if (!strKind.empty())
        return strPath + " is " + strKind + ", not a disk, partition or image file";
    return "cannot read " + strPath + ": " + std::strerror(nError);
}

} // namespace

int CScanCommand::OpenTarget() {
    CDiskRegistry& registry = CDiskRegistry::GetInstance();
    m_nDiskNo = m_options.m_nDiskNo;
    if (!m_options.m_strTarget.empty()) {
        m_nDiskNo = registry.AddImage(m_options.m_strTarget);
        if (m_nDiskNo < 0)
            return CannotRun(UnreadableTargetMessage(m_options.m_strTarget, errno));
    }
    m_strDevicePath = registry.GetDevicePath(m_nDiskNo);
    int nFd = registry.OpenDisk(m_nDiskNo);
    if (nFd < 0)
        return CannotRun(UnreadableTargetMessage(
            m_strDevicePath.empty() ? "disk " + std::to_string(m_nDiskNo) : m_strDevicePath,
            errno));
    m_u64StartSector = 0;
    m_u64SectorCount = GetDeviceBytes(nFd) / SECTOR_BYTES;
    CPartitionManager manager;
    std::vector<PARTITION_ITEM> vecItems = manager.GetDiskPartitions(nFd, m_nDiskNo);
    close(nFd);
    if (m_u64SectorCount == 0)
        return CannotRun(m_strDevicePath + " is empty");
    if (m_options.m_nPartition == 0)
        return 0;
    PrintClampedPartitions(manager);
    if (static_cast<size_t>(m_options.m_nPartition) > vecItems.size())
        return CannotRun(m_strDevicePath + " has no partition " +
                         std::to_string(m_options.m_nPartition));
    const PARTITION_ITEM& item = vecItems[m_options.m_nPartition - 1];
    m_u64StartSector = item.u64StartSector;
    m_u64SectorCount = item.u64EndSector + 1 - item.u64StartSector;
    return 0;
}

// Nothing is ever written onto what is being read, unless the user insists.
int CScanCommand::CheckWriteLocation(const std::string& strFolder,
                                     const std::string& strWhat) const {
    std::string strWhy = CDestinationGuard::WhyUnsafe(m_strDevicePath, strFolder);
    if (strWhy.empty() || m_options.m_bForce)
        return 0;
    return CannotRun(strWhat + " " + strFolder + ": " + strWhy + " (" + m_strDevicePath +
                     "); choose another disk, or pass --force");
}

// An output file is always a new file: checked before the scan, so a long scan never ends
// without a place for its report.
int CScanCommand::CheckOutputFile(const std::string& strPath) const {
    if (strPath.empty())
        return 0;
    if (Exists(strPath))
        return CannotRun(strPath + " exists; orvanne-cli never writes over a file");
    if (!IsWritableFolder(ParentDir(strPath)))
        return CannotRun("cannot write " + strPath + ": " + ParentDir(strPath) +
                         " is not a writable folder");
    return CheckWriteLocation(ParentDir(strPath), "output file");
}

int CScanCommand::CheckOutputs() const {
    if (int nResult = CheckOutputFile(m_options.m_strJsonPath); nResult != 0)
        return nResult;
    return CheckOutputFile(m_options.m_strReportPath);
}

// Checked before the scan-log manager first runs: it creates its folder and index at once.
int CScanCommand::CheckScanLog() const {
    std::string strExisting = NearestExisting(CLogFileManager::GetScanLogRoot());
    if (int nResult = CheckWriteLocation(strExisting, "scan-log folder"); nResult != 0)
        return nResult;
    CLogFileManager* pLogs = CLogFileManager::GetInstance();
    pLogs->Init();
    const std::string& strRoot = pLogs->GetRootPath();
    if (int nError = pLogs->GetRootError(); nError != 0) {
        std::string strWhy = nError == ENOTEMPTY
                                 ? "it holds other files (point ORVANNE_SCANLOG_DIR at an empty "
                                   "folder or a scan-log folder)"
                                 : std::strerror(nError);
        return CannotRun("scan-log folder " + strRoot + " cannot be used: " + strWhy);
    }
    return 0;
}

// The destination is checked before anything is created in it; a refused recovery writes
// nothing.
int CScanCommand::CheckDestination() {
    const std::string& strDir = m_options.m_strDestination;
    bool bExists = Exists(strDir);
    std::string strExisting = bExists ? strDir : ParentDir(strDir);
    if (!IsWritableFolder(strExisting))
        return CannotRun("destination " + strDir + " is not a writable folder");
    if (int nResult = CheckWriteLocation(strExisting, "destination"); nResult != 0)
        return nResult;
    if (!bExists)
        if (int nError = MakeRecoveryDir(strDir); nError != 0)
            return CannotRun("cannot create " + strDir + ": " + std::strerror(nError));
    m_strDestination = RealPath(strDir);
    return 0;
}

int CScanCommand::ScanAndSearch() {
    RECOVERY_TYPE nType = m_options.m_bFast ? RECOVERY_TYPE_FAST : RECOVERY_TYPE_DEEP;
    m_pEngine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        m_nDiskNo, static_cast<long long>(m_u64StartSector),
        static_cast<long long>(m_u64SectorCount), DRIVE_LETTER, nType));
    if (!m_pEngine)
        return CannotRun(m_options.m_bFast ? "no FAT, NTFS or ext file system found"
                                           : "cannot read " + m_strDevicePath);
    if (IDeepScanControl* pDeep = CFileRecoveryFactory::GetDeepScanControl(m_pEngine.get()))
        pDeep->SetNotLoadLogFile();
    m_pEngine->InitCallBack(CCliProgress::ScanCallBack, CCliProgress::RecoveryCallBack, &m_progress,
                            100);
    int nScan = m_pEngine->ScanDevice(nullptr);
    m_progress.FinishLine();
    if (int nStore = CLogFileManager::GetInstance()->GetStoreFailure(); nStore != 0) {
        const std::string& strRoot = CLogFileManager::GetInstance()->GetRootPath();
        return CannotRun("the scan's results could not be kept in the scan-log folder " + strRoot +
                         ": " + std::strerror(nStore) + " (" +
                         std::to_string(CLogFileManager::GetFreeSpaceStamp(strRoot.c_str())) +
                         " bytes free)");
    }
    if (nScan == ERROR_CANCELLED_BY_USER || CInterruptWatcher::IsStopRequested()) {
        m_bStopped = true;
        CInterruptWatcher::AcknowledgeStop();
        std::fprintf(stderr, "orvanne-cli: scan stopped; using what was found so far\n");
    } else if (nScan != 0) {
        m_nScanError = nScan;
        std::fprintf(stderr, "orvanne-cli: the scan ended with error %d (%s)\n", nScan,
                     DescribeStatus(nScan).c_str());
    }
    m_pEngine->InitSearchCallBack(CCliProgress::SearchCallBack, &m_progress);
    std::u16string strKey = Ansi2Unicode(m_options.BuildSearchKey().c_str());
    // The hits stay in the engine's stores; every pass below reads them again through the cursor.
    m_pEngine->OpenSearchCursor(strKey.c_str(), m_pHits);
    if (!m_pHits)
        m_pHits = std::make_unique<CVectorSearchCursor>(std::vector<SEARCH_FILE_INFO>());
    if (CInterruptWatcher::IsStopRequested())
        return EXIT_STOPPED;
    return 0;
}

// Small files and names the user did not ask for are left out before anything is written.
bool CScanCommand::IsWantedHit(const SEARCH_FILE_INFO& hit) const {
    if (hit.u64FileSize < m_options.m_u64MinSize)
        return false;
    bool bNameWanted = m_options.m_vecNameGlobs.empty();
    for (const std::string& strGlob : m_options.m_vecNameGlobs)
        bNameWanted |= fnmatch(strGlob.c_str(), hit.szFileName, FNM_CASEFOLD) == 0;
    return bNameWanted;
}

bool CScanCommand::NextWantedHit(SEARCH_FILE_INFO& hit) {
    while (m_pHits->Next(hit))
        if (IsWantedHit(hit))
            return true;
    return false;
}

void CScanCommand::PrintTree() {
    std::map<std::string, size_t> mapByExtension[FILE_CATEGORY_COUNT];
    size_t counts[FILE_CATEGORY_COUNT] = {};
    size_t nFiles = 0, nWhole = 0, nDamaged = 0;
    SEARCH_FILE_INFO hit;
    for (m_pHits->Rewind(); NextWantedHit(hit); ++nFiles) {
        int nCategory = static_cast<int>(GetFileCategoryOfName(hit.szFileName));
        ++mapByExtension[nCategory][ExtensionKey(hit.szFileName)];
        ++counts[nCategory];
        nWhole += hit.nDataHealth == DATA_HEALTH_WHOLE;
        nDamaged += hit.nDataHealth == DATA_HEALTH_DAMAGED;
    }
    for (int i = 0; i < FILE_CATEGORY_COUNT; ++i) {
        if (counts[i] == 0)
            continue;
        std::printf("%s(%zu)\n", GetCategoryName(static_cast<FileCategory>(i)), counts[i]);
        for (const auto& [strKey, nCount] : mapByExtension[i])
            std::printf("  %s Files (%zu)\n", strKey.c_str(), nCount);
    }
    std::printf("%zu files found\n", nFiles);
    if (nWhole + nDamaged != 0)
        std::printf("%zu proved whole by decoding, %zu damaged (they do not decode whole)\n",
                    nWhole, nDamaged);
}

std::string CScanCommand::ParentPathOf(SEARCH_FILE_INFO& hit) {
    std::u16string strPath(PARENT_PATH_UNITS, u'\0');
    if (m_pEngine->GetFileNodeParentDirPath(&hit, strPath.data(), PARENT_PATH_UNITS) != 0)
        return std::string();
    return Unicode2Ansi(strPath.c_str());
}

int CScanCommand::WriteJson() {
    if (m_options.m_strJsonPath.empty())
        return 0;
    CJsonReport json;
    int nResult = json.Create(m_options.m_strJsonPath);
    SEARCH_FILE_INFO hit;
    for (m_pHits->Rewind(); nResult == 0 && NextWantedHit(hit);) {
        if (CInterruptWatcher::IsStopRequested())
            return EXIT_STOPPED;
        json.AddFile(hit, ParentPathOf(hit));
    }
    if (nResult == 0)
        nResult = json.Commit();
    return nResult == 0 ? 0
                        : CannotRun("cannot write " + m_options.m_strJsonPath + ": " +
                                    std::strerror(nResult));
}

int CScanCommand::WriteScanReport() {
    if (m_options.m_strReportPath.empty())
        return 0;
    CDfxmlReport report;
    if (int nResult = CreateReport(report); nResult != 0)
        return nResult;
    SEARCH_FILE_INFO hit;
    for (m_pHits->Rewind(); NextWantedHit(hit);) {
        if (CInterruptWatcher::IsStopRequested())
            return EXIT_STOPPED;
        AddToReport(report, hit, std::string());
    }
    return CommitReport(report);
}

// The category folder, or the file's folders inside the volume; folders that are symlinks are
// refused, so nothing is ever written outside the destination.
int CScanCommand::MakeDestinationFolder(SEARCH_FILE_INFO& hit, std::string& strFolder) {
    strFolder = m_strDestination;
    if (m_options.m_layout == CScanOptions::Layout::Category) {
        strFolder += "/" + GetDirTypeByFileName(hit.szFileName);
        return MakeRecoveryDir(strFolder);
    }
    return MakeRecoveryDirs(m_strDestination, ParentPathOf(hit), strFolder);
}

void CScanCommand::AddToReport(CDfxmlReport& report, SEARCH_FILE_INFO& hit,
                               const std::string& strSha256) {
    std::vector<FILE_DATA_RUN> vecRuns;
    const bool bRuns = m_pEngine->GetFileDataRuns(&hit, vecRuns);
    report.AddFile(hit, ParentPathOf(hit) + hit.szFileName, strSha256, bRuns ? &vecRuns : nullptr);
}

int CScanCommand::RecoverOne(SEARCH_FILE_INFO& hit, CDfxmlReport* pReport) {
    std::string strFolder;
    int nResult = MakeDestinationFolder(hit, strFolder);
    std::string strPath = strFolder + "/" + MakeSafeFileName(hit.szFileName);
    if (nResult == 0) {
        strPath = GetRealFileName(strPath);
        nResult =
            m_pEngine->SaveFileData(&hit, Ansi2Unicode(strPath.c_str()).c_str(), m_nBaseDepth);
    }
    std::string strShown = EscapeControlChars(strPath);
    std::string strPart = GetPartFileName(strPath);
    bool bKept = CSafeOutputFile::IsKeepingPartial() && Exists(strPart);
    if (nResult == ERROR_CANCELLED_BY_USER) {
        if (bKept)
            std::printf("PARTIAL  %s  (%s)\n", EscapeControlChars(strPart).c_str(),
                        DescribeStatus(nResult).c_str());
        return nResult;
    }
    if (nResult == 0 && hit.nDataHealth == DATA_HEALTH_DAMAGED) {
        ++m_nDamaged;
        std::printf("DAMAGED  %s  (its data does not decode whole)\n", strShown.c_str());
    } else if (nResult == 0) {
        ++m_nRecovered;
        std::printf("OK       %s\n", strShown.c_str());
    } else if (nResult == ERROR_FILE_DAMAGED) {
        ++m_nDamaged;
        std::printf("DAMAGED  %s  (%llu unreadable sectors written as zeros)\n", strShown.c_str(),
                    static_cast<unsigned long long>(CCopyOutFile::GetLastUnreadableSectors()));
    } else {
        ++m_nFailed;
        std::printf("%s  %s  (%s)\n", bKept ? "PARTIAL" : "FAILED ",
                    EscapeControlChars(bKept ? strPart : strPath).c_str(),
                    DescribeStatus(nResult).c_str());
    }
    if (pReport != nullptr)
        AddToReport(*pReport, hit,
                    nResult == 0 || nResult == ERROR_FILE_DAMAGED ? CSha256::OfFile(strPath)
                                                                  : std::string());
    return nResult;
}

int CScanCommand::RecoverHits(CDfxmlReport* pReport) {
    std::u16string strDestination = Ansi2Unicode(m_strDestination.c_str());
    GetPathDirIndex(strDestination.c_str(), m_nBaseDepth);
    size_t nDone = 0;
    SEARCH_FILE_INFO hit;
    for (m_pHits->Rewind(); NextWantedHit(hit);) {
        if (CInterruptWatcher::IsStopRequested() ||
            RecoverOne(hit, pReport) == ERROR_CANCELLED_BY_USER) {
            m_bStopped = true;
            size_t nLeft = 1;
            while (NextWantedHit(hit))
                ++nLeft;
            std::fprintf(stderr, "orvanne-cli: recovery stopped; %zu of %zu files not written\n",
                         nLeft, nDone + nLeft);
            break;
        }
        ++nDone;
    }
    std::printf("%zu recovered, %zu damaged, %zu failed\n", m_nRecovered, m_nDamaged, m_nFailed);
    return m_nFailed + m_nDamaged == 0 ? EXIT_ALL_WRITTEN : EXIT_SOME_FAILED;
}

int CScanCommand::CreateReport(CDfxmlReport& report) const {
    int nResult = report.Create(m_options.m_strReportPath, m_strDevicePath);
    return nResult == 0 ? 0
                        : CannotRun("cannot write " + m_options.m_strReportPath + ": " +
                                    std::strerror(nResult));
}

int CScanCommand::CommitReport(CDfxmlReport& report) const {
    if (!report.IsOpen())
        return 0;
    int nResult = report.Commit();
    return nResult == 0 ? 0
                        : CannotRun("cannot write " + m_options.m_strReportPath + ": " +
                                    std::strerror(nResult));
}

// A stop outranks everything, a command that could not do its work outranks failed files.
int CScanCommand::FinalStatus(int nStatus) const {
    if (m_bStopped || nStatus == EXIT_STOPPED)
        return EXIT_STOPPED;
    if (m_nScanError != 0)
        return EXIT_CANNOT_RUN;
    return nStatus;
}

int CScanCommand::CheckBeforeScan() {
    if (int nResult = OpenTarget(); nResult != 0)
        return nResult;
    if (int nResult = CheckOutputs(); nResult != 0)
        return nResult;
    return CheckScanLog();
}

int CScanCommand::RunScan() {
    if (int nResult = CheckBeforeScan(); nResult != 0)
        return nResult;
    if (int nResult = ScanAndSearch(); nResult != 0)
        return FinalStatus(nResult);
    PrintTree();
    if (int nResult = WriteJson(); nResult != 0)
        return FinalStatus(nResult);
    return FinalStatus(WriteScanReport());
}

int CScanCommand::RunRecover() {
    CSafeOutputFile::SetKeepPartial(m_options.m_bKeepPartial);
    if (int nResult = CheckBeforeScan(); nResult != 0)
        return nResult;
    if (int nResult = CheckDestination(); nResult != 0)
        return nResult;
    if (int nResult = ScanAndSearch(); nResult != 0)
        return FinalStatus(nResult);
    CDfxmlReport report;
    if (!m_options.m_strReportPath.empty())
        if (int nResult = CreateReport(report); nResult != 0)
            return nResult;
    int nResult = RecoverHits(report.IsOpen() ? &report : nullptr);
    int nReport = CommitReport(report);
    return FinalStatus(nReport != 0 ? nReport : nResult);
}
