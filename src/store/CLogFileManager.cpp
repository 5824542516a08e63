// The scan-log root, its numbered scan directories and the "config" index of deep scans.
#include "store/CLogFileManager.h"

#include "engine/FileRecoveryTypes.h"
#include "store/StoreFileFormat.h"
#include "util/DebugLog.h"
#include "util/FdIo.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr mode_t LOG_DIR_MODE = 0755;
constexpr mode_t LOG_FILE_MODE = 0644;
constexpr const char* SCAN_LOG_ROOT_ENV = "ORVANNE_SCANLOG_DIR";
constexpr const char* SCAN_LOG_SUB_PATH = "Tessaly/ScanLog/";
// Scan numbers count scans; a first word beyond this is text or another program's data.
constexpr uint64_t MAX_PLAUSIBLE_SCAN_NUMBER = 0xFFFFFFFF;

std::string WithTrailingSlash(std::string strPath) {
    if (strPath.empty() || strPath.back() != '/')
        strPath.push_back('/');
    return strPath;
}

std::string GetHomeDir() {
    if (const char* pHome = std::getenv("HOME"); pHome != nullptr && *pHome != '\0')
        return pHome;
    if (const passwd* pEntry = getpwuid(getuid()); pEntry != nullptr && pEntry->pw_dir != nullptr)
        return pEntry->pw_dir;
    return "/tmp";
}

// Reads the whole file; 0, 30 when it ended early (what arrived is kept), or errno.
int ReadWholeFile(const std::string& strPath, std::vector<uint8_t>& vecBytes) {
    vecBytes.clear();
    int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (nFd < 0)
        return errno;
    struct stat st;
    int nResult = fstat(nFd, &st) == 0 ? 0 : errno;
    size_t nRead = 0;
    if (nResult == 0) {
        vecBytes.resize(static_cast<size_t>(st.st_size));
        nResult = ReadFullAt(nFd, vecBytes.data(), vecBytes.size(), 0, nRead);
    }
    vecBytes.resize(nRead);
    close(nFd);
    return nResult;
}

// Removes everything below the open directory without following links out of it.
void EmptyDirAt(int nDirFd) {
    DIR* pDir = fdopendir(nDirFd);
    if (pDir == nullptr) {
        close(nDirFd);
        return;
    }
    std::vector<std::string> vecNames;
    while (dirent* pEntry = readdir(pDir)) {
        if (std::strcmp(pEntry->d_name, ".") != 0 && std::strcmp(pEntry->d_name, "..") != 0)
            vecNames.emplace_back(pEntry->d_name);
    }
    for (const std::string& strName : vecNames) {
        struct stat st;
        if (fstatat(nDirFd, strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            int nSubFd = openat(nDirFd, strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (nSubFd >= 0)
                EmptyDirAt(nSubFd);
            unlinkat(nDirFd, strName.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(nDirFd, strName.c_str(), 0);
        }
    }
    closedir(pDir);
}

void CopyPath(char (&szField)[LOG_FILE_PATH_BYTES], const char* pText) {
    std::snprintf(szField, sizeof(szField), "%s", pText == nullptr ? "" : pText);
}

} // namespace

CLogFileManager::CLogFileManager() {
    Init();
}

CLogFileManager* CLogFileManager::GetInstance() {
    static CLogFileManager instance;
    if (instance.m_strRoot != GetScanLogRoot())
        instance.Init();
    return &instance;
}

std::string CLogFileManager::GetScanLogRoot() {
    if (const char* pRoot = std::getenv(SCAN_LOG_ROOT_ENV); pRoot != nullptr && *pRoot != '\0')
        return WithTrailingSlash(pRoot);
    std::string strState;
    if (const char* pState = std::getenv("XDG_STATE_HOME"); pState != nullptr && *pState != '\0')
        strState = pState;
    else
        strState = GetHomeDir() + "/.local/state";
    return WithTrailingSlash(strState) + SCAN_LOG_SUB_PATH;
}

uint64_t CLogFileManager::GetFreeSpaceStamp(const char* pPath) {
    if (pPath == nullptr || pPath[0] != '/')
        return 0;
    std::string strPath = pPath;
    for (;;) {
        struct statvfs st;
        if (statvfs(strPath.c_str(), &st) == 0)
            return uint64_t(st.f_bavail) * st.f_frsize;
        size_t nSlash = strPath.find_last_of('/');
        if (strPath == "/" || nSlash == std::string::npos)
            return 0;
        strPath.erase(nSlash == 0 ? 1 : nSlash);
    }
}

std::u16string CLogFileManager::MakeStoreName(const char* pPrefix, long long llStartSector,
                                              const SYSTEMTIME& time) {
    char szName[LOG_FILE_PATH_BYTES];
    std::snprintf(szName, sizeof(szName), "%s%lld_%d%d%d%d%2d", pPrefix, llStartSector, time.wYear,
                  time.wMonth, time.wDay, time.wHour, time.wMinute);
    return Ansi2Unicode(szName);
}

int CLogFileManager::MakeLogDir(const std::string& strPath) {
    size_t nPos = 0;
    while (nPos != std::string::npos) {
        nPos = strPath.find('/', nPos + 1);
        std::string strPart = strPath.substr(0, nPos);
        if (strPart.empty() || strPart == "/")
            continue;
        if (mkdir(strPart.c_str(), LOG_DIR_MODE) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

int CLogFileManager::Init() {
    m_vecRecords.clear();
    m_u64CurrentIndex = 0;
    m_bLoaded = false;
    m_strLoadedDir.clear();
    m_nStoreFailure = 0;
    m_strRoot = GetScanLogRoot();
    if (int nErr = MakeLogDir(m_strRoot); nErr != 0)
        DebugLog("create scan-log root %s failed: %d\n", m_strRoot.c_str(), nErr);
    m_nRootError = CheckRoot();
    if (m_nRootError != 0) {
        DebugLog("scan-log root %s cannot be used: %d\n", m_strRoot.c_str(), m_nRootError);
        return m_nRootError;
    }

    std::string strIndex = m_strRoot + LOG_INDEX_FILE_NAME;
    std::string strTemp = m_strRoot + LOG_INDEX_TEMP_FILE_NAME;
    // A save cut short between writing the new index and replacing the old one.
    if (access(strIndex.c_str(), F_OK) != 0 && access(strTemp.c_str(), F_OK) == 0)
        rename(strTemp.c_str(), strIndex.c_str());
    return LoadIndex(strIndex);
}

int CLogFileManager::LoadIndex(const std::string& strIndexPath) {
    int nFd = open(strIndexPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, LOG_FILE_MODE);
    if (nFd < 0)
        return ERROR_INVALID_PARAMETER;
    close(nFd);
    std::vector<uint8_t> vecBytes;
    int nResult = ReadWholeFile(strIndexPath, vecBytes);
    if (vecBytes.empty())
        return nResult != 0 ? nResult : ERROR_INVALID_PARAMETER;
    if (!ParseLogIndex(vecBytes.data(), vecBytes.size(), m_u64CurrentIndex, m_vecRecords))
        return nResult != 0 ? nResult : ERROR_INVALID_PARAMETER;
    return nResult;
}

// An index this store wrote: empty (made by the first Init), or a plausible scan number and
// whole records (a damaged record is dropped when loaded, never followed).
bool CLogFileManager::IsOwnIndex(const std::string& strPath) {
    struct stat st;
    if (lstat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    std::vector<uint8_t> vecBytes;
    if (ReadWholeFile(strPath, vecBytes) != 0)
        return false;
    uint64_t u64Number = 0;
    std::vector<LOG_FILE_INFO> vecRecords;
    if (vecBytes.empty())
        return true;
    return ParseLogIndex(vecBytes.data(), vecBytes.size(), u64Number, vecRecords) &&
           u64Number <= MAX_PLAUSIBLE_SCAN_NUMBER;
}

// The root is ours when it is empty or holds our index; anything else is someone's folder,
// whose numbered sub-folders and "config" must never be replaced or deleted.
int CLogFileManager::CheckRoot() const {
    struct stat st;
    if (stat(m_strRoot.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if (access(m_strRoot.c_str(), W_OK | X_OK) != 0)
        return errno;
    for (const char* pIndex : {LOG_INDEX_FILE_NAME, LOG_INDEX_TEMP_FILE_NAME}) {
        std::string strIndex = m_strRoot + pIndex;
        if (lstat(strIndex.c_str(), &st) == 0)
            return IsOwnIndex(strIndex) ? 0 : ENOTEMPTY;
    }
    DIR* pDir = opendir(m_strRoot.c_str());
    if (pDir == nullptr)
        return errno;
    int nResult = 0;
    while (dirent* pEntry = readdir(pDir)) {
        if (std::strcmp(pEntry->d_name, ".") != 0 && std::strcmp(pEntry->d_name, "..") != 0)
            nResult = ENOTEMPTY;
    }
    closedir(pDir);
    return nResult;
}

void CLogFileManager::NoteStoreFailure(int nError) {
    if (m_nStoreFailure == 0 && nError != 0)
        m_nStoreFailure = nError;
}

std::string CLogFileManager::GetLogFileDirPath() const {
    if (m_bLoaded)
        return m_strLoadedDir;
    return m_strRoot + std::to_string(m_u64CurrentIndex) + "/";
}

void CLogFileManager::GetLogFileDirPath(char* pOut, size_t nCapacity) const {
    if (pOut != nullptr && nCapacity > 0)
        std::snprintf(pOut, nCapacity, "%s", GetLogFileDirPath().c_str());
}

void CLogFileManager::AddDirIndex() {
    ++m_u64CurrentIndex;
    m_bLoaded = false;
    m_strLoadedDir.clear();
    DeleteLogFileDir(GetLogFileDirPath().c_str());
}

void CLogFileManager::ReduceDirIndex() {
    --m_u64CurrentIndex;
}

int CLogFileManager::GetLogFileNameByFileType(const std::string& strDir, const char* pPrefix,
                                              std::string& strOut) const {
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr) {
        DebugLog("open dir failed\n");
        return errno;
    }
    std::vector<std::string> vecNames;
    while (dirent* pEntry = readdir(pDir)) {
        if (std::strcmp(pEntry->d_name, ".") != 0 && std::strcmp(pEntry->d_name, "..") != 0)
            vecNames.emplace_back(pEntry->d_name);
    }
    closedir(pDir);
    std::sort(vecNames.begin(), vecNames.end());
    for (const std::string& strName : vecNames) {
        if (pPrefix != nullptr && strName.find(pPrefix) != std::string::npos) {
            strOut = strName;
            return 0;
        }
    }
    return ENOENT;
}

LOG_FILE_INFO* CLogFileManager::FindRecord(const SCAN_VOLUME_KEY& key) {
    for (LOG_FILE_INFO& info : m_vecRecords) {
        if (key.strDevicePath == info.szDevicePath && info.u64StartSector == key.u64StartSector &&
            info.u64SectorCount == key.u64SectorCount)
            return &info;
    }
    return nullptr;
}

namespace {

bool IsUnchanged(const LOG_FILE_INFO& info, const SCAN_VOLUME_KEY& key) {
    return info.u64DeviceBytes == key.u64DeviceBytes && info.u64ModifyTime == key.u64ModifyTime;
}

} // namespace

int CLogFileManager::LoadRecoveryLogInfo(const SCAN_VOLUME_KEY& key, LOG_FILE_INFO* pOut) {
    m_bLoaded = false;
    m_strLoadedDir.clear();
    const LOG_FILE_INFO* pInfo = FindRecord(key);
    if (pInfo == nullptr)
        return 0;
    // A changed device, or a damaged record naming a folder outside the root: start afresh.
    if (!IsUnchanged(*pInfo, key) || !IsInsideRoot(pInfo->szLogDirPath)) {
        std::string strStaleDir = pInfo->szLogDirPath;
        DeleteLogFileDir(strStaleDir.c_str());
        return 0;
    }
    m_bLoaded = true;
    m_strLoadedDir = pInfo->szLogDirPath;
    if (pOut != nullptr)
        *pOut = *pInfo;
    return 1;
}

int CLogFileManager::SaveLogFileInfo(const SCAN_VOLUME_KEY& key, int nDiskNo, uint64_t u64RunStart,
                                     uint64_t u64RunLength, uint64_t u64RunDone,
                                     uint64_t u64SectorsDone, uint64_t u64FilesFound,
                                     const char* pLogDirPath) {
    LOG_FILE_INFO* pFound = FindRecord(key);
    if (pFound != nullptr && IsUnchanged(*pFound, key) &&
        strcasecmp(pFound->szLogDirPath, pLogDirPath == nullptr ? "" : pLogDirPath) == 0) {
        pFound->nDiskNo = nDiskNo;
        pFound->u64RunStart = u64RunStart;
        pFound->u64RunLength = u64RunLength;
        pFound->u64RunDone = u64RunDone;
        pFound->u64SectorsDone = u64SectorsDone;
        pFound->u64FilesFound = u64FilesFound;
        return SaveLogConfigFile();
    }
    // One record per volume: an older scan of it gives way to this one.
    if (pFound != nullptr) {
        std::string strStaleDir = pFound->szLogDirPath;
        DeleteLogFileDir(strStaleDir.c_str());
    }
    LOG_FILE_INFO info{};
    info.nDiskNo = nDiskNo;
    info.u64StartSector = key.u64StartSector;
    info.u64SectorCount = key.u64SectorCount;
    info.u64RunStart = u64RunStart;
    info.u64RunLength = u64RunLength;
    info.u64RunDone = u64RunDone;
    info.u64SectorsDone = u64SectorsDone;
    info.u64FilesFound = u64FilesFound;
    info.u64ModifyTime = key.u64ModifyTime;
    info.u64DeviceBytes = key.u64DeviceBytes;
    CopyPath(info.szDevicePath, key.strDevicePath.c_str());
    CopyPath(info.szLogDirPath, pLogDirPath);
    m_vecRecords.push_back(info);
    return SaveLogConfigFile();
}

bool CLogFileManager::IsInsideRoot(const std::string& strDir) const {
    if (strDir.size() <= m_strRoot.size() || strDir.compare(0, m_strRoot.size(), m_strRoot) != 0)
        return false;
    std::string strRest = "/" + strDir.substr(m_strRoot.size()) + "/";
    return strRest.find("/../") == std::string::npos && strRest.find("/./") == std::string::npos &&
           strRest != "//";
}

void CLogFileManager::DeleteLogFileDir(const char* pDir) {
    if (pDir == nullptr || m_nRootError != 0)
        return;
    std::string strDir = pDir;
    auto it = std::find_if(m_vecRecords.begin(), m_vecRecords.end(), [&](const LOG_FILE_INFO& i) {
        return strcasecmp(i.szLogDirPath, pDir) == 0;
    });
    if (it != m_vecRecords.end())
        m_vecRecords.erase(it);
    // The index is read from disk: a damaged record must not be able to name a foreign folder.
    if (!IsInsideRoot(strDir)) {
        DebugLog("refuse to delete %s: outside the scan-log root\n", strDir.c_str());
        return;
    }
    int nDirFd = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (nDirFd < 0)
        return;
    EmptyDirAt(nDirFd);
    while (strDir.size() > 1 && strDir.back() == '/')
        strDir.pop_back();
    rmdir(strDir.c_str());
}

int CLogFileManager::SaveLogConfigFile() {
    int nResult = WriteIndex();
    NoteStoreFailure(nResult);
    return nResult;
}

int CLogFileManager::WriteIndex() {
    if (m_nRootError != 0)
        return m_nRootError;
    std::string strIndex = m_strRoot + LOG_INDEX_FILE_NAME;
    std::string strTemp = m_strRoot + LOG_INDEX_TEMP_FILE_NAME;
    int nFd = open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, LOG_FILE_MODE);
    if (nFd < 0)
        return errno;
    std::vector<uint8_t> vecBytes = FormatLogIndex(m_u64CurrentIndex, m_vecRecords);
    int nResult = WriteFull(nFd, vecBytes.data(), vecBytes.size());
    // The new index must be on disk before it replaces the old one.
    if (nResult == 0 && fsync(nFd) != 0)
        nResult = errno;
    if (close(nFd) != 0 && nResult == 0)
        nResult = errno;
    if (nResult != 0) {
        unlink(strTemp.c_str());
        return nResult;
    }
    if (rename(strTemp.c_str(), strIndex.c_str()) != 0)
        return errno;
    int nRootFd = open(m_strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nRootFd >= 0) {
        fsync(nRootFd);
        close(nRootFd);
    }
    return 0;
}
