// Target resolution, the scan and search, the category tree, JSON, and recovery of the hits.
#include "cli/CScanCommand.h"

#include "cli/CDfxmlReport.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "device/CDiskRegistry.h"
#include "device/CPartitionManager.h"
#include "store/CLogFileManager.h"
#include "util/CSafeOutputFile.h"
#include "util/CSha256.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fnmatch.h>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int EXIT_FILES_FAILED = 1;
constexpr int EXIT_CANNOT_RUN = 2;
constexpr unsigned long long SECTOR_BYTES = 512;
constexpr char16_t DRIVE_LETTER = u'C';
constexpr int PARENT_PATH_UNITS = 4096;
constexpr const char* NO_EXTENSION_KEY = "unKnow";

int CannotRun(const std::string& strMessage) {
    std::fprintf(stderr, "orvanne-cli: %s\n", strMessage.c_str());
    return EXIT_CANNOT_RUN;
}

std::string ExtensionKey(const char* pName) {
    std::string strExt = GetLowerExtension(pName);
    return strExt.empty() ? NO_EXTENSION_KEY : strExt;
}

FileCategory CategoryOf(const char* pName) {
    std::string strKey = ExtensionKey(pName);
    return strKey == NO_EXTENSION_KEY ? FileCategory::Other : GetFileCategory(strKey);
}

const char* EngineName(uint32_t nEngineType) {
    static const char* const NAMES[] = {"fast-ntfs", "fast-fat",   "deep-ntfs", "deep-fat",
                                        "carving",   "fast-exfat", "deep-exfat"};
    return nEngineType < std::size(NAMES) ? NAMES[nEngineType] : "unknown";
}

std::string EscapeJson(const std::string& strText) {
    std::string strOut;
    for (unsigned char c : strText) {
        if (c == '"' || c == '\\') {
            strOut += '\\';
            strOut += static_cast<char>(c);
        } else if (c < 0x20) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", c);
            strOut += szEscape;
        } else {
            strOut += static_cast<char>(c);
        }
    }
    return strOut;
}

// A name as one safe path component: no separators, never "." or "..".
std::string SafeComponent(const char* pName) {
    std::string strName(pName, strnlen(pName, FILE_NODE_NAME_BYTES));
    for (char& c : strName)
        if (c == '/' || c == '\\')
            c = '_';
    if (strName.empty() || strName == "." || strName == "..")
        strName = "_" + strName;
    return strName;
}

// Whole-disk device of a block device number: itself, or the disk a partition belongs to.
std::string BlockDeviceKey(dev_t device, bool bParent) {
    std::string strSys =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char szReal[PATH_MAX];
    if (realpath(strSys.c_str(), szReal) == nullptr)
        return std::string();
    std::string strReal(szReal);
    if (bParent && access((strReal + "/partition").c_str(), F_OK) == 0)
        strReal = strReal.substr(0, strReal.find_last_of('/'));
    return strReal;
}

} // namespace

int CScanCommand::OpenTarget() {
    CDiskRegistry& registry = CDiskRegistry::GetInstance();
    m_nDiskNo = m_options.m_nDiskNo;
    if (!m_options.m_strTarget.empty()) {
        m_nDiskNo = registry.AddImage(m_options.m_strTarget);
        if (m_nDiskNo < 0)
            return CannotRun("cannot read " + m_options.m_strTarget + ": " + std::strerror(errno));
    }
    m_strDevicePath = registry.GetDevicePath(m_nDiskNo);
    int nFd = registry.OpenDisk(m_nDiskNo);
    if (nFd < 0)
        return CannotRun("cannot read disk " + std::to_string(m_nDiskNo) + ": " +
                         std::strerror(errno));
    m_u64StartSector = 0;
    m_u64SectorCount = GetDeviceBytes(nFd) / SECTOR_BYTES;
    std::vector<PARTITION_ITEM> vecItems = CPartitionManager().GetDiskPartitions(nFd, m_nDiskNo);
    close(nFd);
    if (m_options.m_nPartition == 0)
        return m_u64SectorCount == 0 ? CannotRun(m_strDevicePath + " is empty") : 0;
    if (static_cast<size_t>(m_options.m_nPartition) > vecItems.size())
        return CannotRun(m_strDevicePath + " has no partition " +
                         std::to_string(m_options.m_nPartition));
    const PARTITION_ITEM& item = vecItems[m_options.m_nPartition - 1];
    m_u64StartSector = item.u64StartSector;
    m_u64SectorCount = item.u64EndSector + 1 - item.u64StartSector;
    return 0;
}

int CScanCommand::ScanAndSearch() {
    CLogFileManager::GetInstance()->Init();
    RECOVERY_TYPE nType = m_options.m_bFast ? RECOVERY_TYPE_FAST : RECOVERY_TYPE_DEEP;
    m_pEngine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        m_nDiskNo, static_cast<long long>(m_u64StartSector),
        static_cast<long long>(m_u64SectorCount), DRIVE_LETTER, nType));
    if (!m_pEngine)
        return CannotRun(m_options.m_bFast ? "no FAT, NTFS or ext file system found"
                                           : "cannot read " + m_strDevicePath);
    if (IDeepScanControl* pDeep = CFileRecoveryFactory::GetDeepScanControl(m_pEngine.get()))
        pDeep->SetNotLoadLogFile();
    m_progress.CatchInterrupt();
    m_pEngine->InitCallBack(CCliProgress::ScanCallBack, CCliProgress::RecoveryCallBack, &m_progress,
                            100);
    int nScan = m_pEngine->ScanDevice(nullptr);
    m_progress.FinishLine();
    if (m_progress.WasInterrupted())
        std::fprintf(stderr, "orvanne-cli: scan stopped; using what was found so far\n");
    else if (nScan != 0)
        std::fprintf(stderr, "orvanne-cli: scan ended with error %d\n", nScan);
    m_progress.ClearInterrupt();
    m_pEngine->InitSearchCallBack(CCliProgress::SearchCallBack, &m_progress);
    std::u16string strKey = Ansi2Unicode(m_options.BuildSearchKey().c_str());
    m_pEngine->SearchFileNode(strKey.c_str(), m_vecHits);
    KeepWantedHits();
    return 0;
}

// Small files and names the user did not ask for are left out before anything is written.
void CScanCommand::KeepWantedHits() {
    std::erase_if(m_vecHits, [this](const SEARCH_FILE_INFO& hit) {
        if (hit.u64FileSize < m_options.m_u64MinSize)
            return true;
        bool bNameWanted = m_options.m_vecNameGlobs.empty();
        for (const std::string& strGlob : m_options.m_vecNameGlobs)
            bNameWanted |= fnmatch(strGlob.c_str(), hit.szFileName, FNM_CASEFOLD) == 0;
        return !bNameWanted;
    });
}

void CScanCommand::PrintTree() const {
    std::map<std::string, size_t> mapByExtension[FILE_CATEGORY_COUNT];
    size_t counts[FILE_CATEGORY_COUNT] = {};
    for (const SEARCH_FILE_INFO& hit : m_vecHits) {
        int nCategory = static_cast<int>(CategoryOf(hit.szFileName));
        ++mapByExtension[nCategory][ExtensionKey(hit.szFileName)];
        ++counts[nCategory];
    }
    for (int i = 0; i < FILE_CATEGORY_COUNT; ++i) {
        if (counts[i] == 0)
            continue;
        std::printf("%s(%zu)\n", GetCategoryName(static_cast<FileCategory>(i)), counts[i]);
        for (const auto& [strKey, nCount] : mapByExtension[i])
            std::printf("  %s Files (%zu)\n", strKey.c_str(), nCount);
    }
    std::printf("%zu files found\n", m_vecHits.size());
}

std::string CScanCommand::ParentPathOf(SEARCH_FILE_INFO& hit) {
    std::u16string strPath(PARENT_PATH_UNITS, u'\0');
    if (m_pEngine->GetFileNodeParentDirPath(&hit, strPath.data(), PARENT_PATH_UNITS) != 0)
        return std::string();
    return Unicode2Ansi(strPath.c_str());
}

int CScanCommand::WriteJson() {
    std::string strJson = "[\n";
    for (size_t i = 0; i < m_vecHits.size(); ++i) {
        SEARCH_FILE_INFO& hit = m_vecHits[i];
        char szLine[256];
        std::snprintf(szLine, sizeof(szLine),
                      "\"size\": %llu, \"category\": \"%s\", \"engine\": \"%s\", "
                      "\"location_sector\": %llu, \"first_data_sector\": %llu, \"health\": %u}",
                      static_cast<unsigned long long>(hit.u64FileSize),
                      GetCategoryName(CategoryOf(hit.szFileName)), EngineName(hit.nEngineType),
                      static_cast<unsigned long long>(hit.u64LocationSector),
                      static_cast<unsigned long long>(GetFirstDataSector(hit)), hit.nDataHealth);
        strJson += "  {\"name\": \"" + EscapeJson(hit.szFileName) + "\", \"path\": \"" +
                   EscapeJson(ParentPathOf(hit)) + "\", " + szLine +
                   (i + 1 < m_vecHits.size() ? ",\n" : "\n");
    }
    strJson += "]\n";
    std::ofstream file(m_options.m_strJsonPath, std::ios::binary | std::ios::trunc);
    file << strJson;
    return file ? 0 : CannotRun("cannot write " + m_options.m_strJsonPath);
}

// Writing onto the scanned device could overwrite the very sectors being recovered.
int CScanCommand::CheckDestination() const {
    const std::string& strDir = m_options.m_strDestination;
    if (MakeRecoveryDir(strDir) != 0 || access(strDir.c_str(), W_OK | X_OK) != 0)
        return CannotRun("destination " + strDir + " is not a writable folder");
    struct stat target, destination;
    if (m_options.m_bForce || stat(m_strDevicePath.c_str(), &target) != 0 ||
        !S_ISBLK(target.st_mode) || stat(strDir.c_str(), &destination) != 0)
        return 0;
    std::string strTargetDisk = BlockDeviceKey(target.st_rdev, false);
    bool bSameDevice = destination.st_dev == target.st_rdev;
    bool bOnTargetDisk =
        !strTargetDisk.empty() && (BlockDeviceKey(destination.st_dev, true) == strTargetDisk);
    if (bSameDevice || bOnTargetDisk)
        return CannotRun("destination " + strDir + " lies on the device being recovered (" +
                         m_strDevicePath + "); choose another disk, or pass --force");
    return 0;
}

std::string CScanCommand::MakeDestinationFolder(SEARCH_FILE_INFO& hit) {
    std::string strFolder = m_options.m_strDestination;
    if (m_options.m_layout == CScanOptions::Layout::Category) {
        strFolder += "/" + GetDirTypeByFileName(hit.szFileName);
        return MakeRecoveryDir(strFolder) == 0 ? strFolder : std::string();
    }
    std::string strParent = ParentPathOf(hit);
    size_t nStart = 0;
    while (nStart < strParent.size()) {
        size_t nEnd = strParent.find_first_of("/\\", nStart);
        if (nEnd == std::string::npos)
            nEnd = strParent.size();
        std::string strPart = strParent.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strPart.empty())
            continue;
        strFolder += "/" + SafeComponent(strPart.c_str());
        if (MakeRecoveryDir(strFolder) != 0)
            return std::string();
    }
    return strFolder;
}

void CScanCommand::AddToReport(CDfxmlReport& report, SEARCH_FILE_INFO& hit,
                               const std::string& strSha256) {
    std::vector<FILE_DATA_RUN> vecRuns;
    const bool bRuns = m_pEngine->GetFileDataRuns(&hit, vecRuns);
    report.AddFile(hit, ParentPathOf(hit) + hit.szFileName, strSha256, bRuns ? &vecRuns : nullptr);
}

int CScanCommand::RecoverHits(CDfxmlReport* pReport) {
    std::u16string strDestination = Ansi2Unicode(m_options.m_strDestination.c_str());
    int nBaseDepth = 0;
    GetPathDirIndex(strDestination.c_str(), nBaseDepth);
    size_t nDone = 0, nFailed = 0;
    for (SEARCH_FILE_INFO& hit : m_vecHits) {
        std::string strFolder = MakeDestinationFolder(hit);
        std::string strPath = GetRealFileName(strFolder + "/" + SafeComponent(hit.szFileName));
        int nResult = strFolder.empty() ? ENOTDIR : 0;
        if (nResult == 0)
            nResult =
                m_pEngine->SaveFileData(&hit, Ansi2Unicode(strPath.c_str()).c_str(), nBaseDepth);
        if (nResult == ERROR_CANCELLED_BY_USER) {
            std::fprintf(stderr, "orvanne-cli: recovery stopped\n");
            break;
        }
        std::printf("%-6s %s", nResult == 0 ? "OK" : "FAILED", strPath.c_str());
        if (nResult != 0)
            std::printf("  (error %d)", nResult);
        std::printf("\n");
        ++(nResult == 0 ? nDone : nFailed);
        if (pReport != nullptr)
            AddToReport(*pReport, hit, nResult == 0 ? CSha256::OfFile(strPath) : std::string());
    }
    std::printf("%zu recovered, %zu failed\n", nDone, nFailed);
    return nFailed == 0 ? 0 : EXIT_FILES_FAILED;
}

int CScanCommand::WriteReport(CDfxmlReport& report) const {
    if (m_options.m_strReportPath.empty())
        return 0;
    int nResult = report.Write(m_options.m_strReportPath);
    return nResult == 0 ? 0
                        : CannotRun("cannot write " + m_options.m_strReportPath + ": " +
                                    std::strerror(nResult));
}

int CScanCommand::RunScan() {
    if (int nResult = OpenTarget(); nResult != 0)
        return nResult;
    if (int nResult = ScanAndSearch(); nResult != 0)
        return nResult;
    PrintTree();
    if (!m_options.m_strJsonPath.empty())
        if (int nResult = WriteJson(); nResult != 0)
            return nResult;
    if (m_options.m_strReportPath.empty())
        return 0;
    // Built only when asked for: a million hits would hold a million report entries.
    CDfxmlReport report(m_strDevicePath);
    for (SEARCH_FILE_INFO& hit : m_vecHits)
        AddToReport(report, hit, std::string());
    return WriteReport(report);
}

int CScanCommand::RunRecover() {
    if (int nResult = OpenTarget(); nResult != 0)
        return nResult;
    if (int nResult = CheckDestination(); nResult != 0)
        return nResult;
    if (int nResult = ScanAndSearch(); nResult != 0)
        return nResult;
    CDfxmlReport report(m_strDevicePath);
    int nResult = RecoverHits(m_options.m_strReportPath.empty() ? nullptr : &report);
    int nReport = WriteReport(report);
    return nReport != 0 ? nReport : nResult;
}
