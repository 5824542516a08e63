// Exclusive creation under a ".part" name, full writes, renames that never replace, ownership.
#include "util/CSafeOutputFile.h"
#include "util/FdIo.h"

#include "util/TextUtil.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t RECOVERED_FILE_MODE = 0644;
constexpr mode_t RECOVERED_DIR_MODE = 0755;
constexpr const char* PART_SUFFIX = ".part";
constexpr size_t PART_SUFFIX_BYTES = 5;

std::mutex g_partialMutex;
std::set<CSafeOutputFile*> g_setPartial;
bool g_bKeepPartial = false;
bool g_bClosed = false;

std::string ParentDir(const std::string& strPath) {
    size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

std::string BaseName(const std::string& strPath) {
    size_t nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// Root creates files as root; hand them to whoever owns the folder they were put in.
void TakeOwnerOfFolder(int nDirFd, int nFd) {
    if (geteuid() != 0)
        return;
    struct stat st;
    if (fstat(nDirFd, &st) != 0)
        return;
    int rc = fchown(nFd, st.st_uid, st.st_gid);
    (void)rc; // ownership is a courtesy; the data is already safe
}

// -1 with errno ELOOP for a symlink, ENOTDIR for anything else that is not a folder.
int OpenFolderNoFollow(const std::string& strPath) {
    int nFd = open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (nFd < 0 && errno == ENOTDIR && lstat(strPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        errno = ELOOP;
    return nFd;
}

// rename(2) without replacing: RENAME_NOREPLACE where the file system has it, else a hard link
// (which fails on a taken name), else a check right before a plain rename.
int RenameNoReplace(int nDirFd, const std::string& strFrom, const std::string& strTo) {
    if (renameat2(nDirFd, strFrom.c_str(), nDirFd, strTo.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (linkat(nDirFd, strFrom.c_str(), nDirFd, strTo.c_str(), 0) == 0)
        return unlinkat(nDirFd, strFrom.c_str(), 0) == 0 ? 0 : errno;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    struct stat st;
    if (fstatat(nDirFd, strTo.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return renameat(nDirFd, strFrom.c_str(), nDirFd, strTo.c_str()) == 0 ? 0 : errno;
}

} // namespace

std::string GetPartFileName(const std::string& strUtf8Path) {
    std::string strName = BaseName(strUtf8Path);
    std::string strDir = strUtf8Path.substr(0, strUtf8Path.size() - strName.size());
    return strDir + CutUtf8(strName, NAME_MAX - PART_SUFFIX_BYTES) + PART_SUFFIX;
}

CSafeOutputFile::~CSafeOutputFile() {
    Discard();
}

void CSafeOutputFile::SetKeepPartial(bool bKeep) {
    std::lock_guard<std::mutex> lock(g_partialMutex);
    g_bKeepPartial = bKeep;
}

bool CSafeOutputFile::IsKeepingPartial() {
    std::lock_guard<std::mutex> lock(g_partialMutex);
    return g_bKeepPartial;
}

void CSafeOutputFile::RemovePartialFiles() {
    std::lock_guard<std::mutex> lock(g_partialMutex);
    g_bClosed = true;
    if (g_bKeepPartial)
        return;
    for (CSafeOutputFile* pFile : g_setPartial)
        unlinkat(pFile->m_nDirFd, pFile->m_strPartName.c_str(), 0);
}

void CSafeOutputFile::Register(bool bAdd) {
    if (bAdd)
        g_setPartial.insert(this);
    else
        g_setPartial.erase(this);
}

int CSafeOutputFile::Create(const std::string& strUtf8Path) {
    if (m_nFd >= 0)
        return EBUSY;
    std::string strName = BaseName(strUtf8Path);
    if (strName.empty() || strName == "." || strName == "..")
        return EINVAL;
    int nDirFd = OpenFolderNoFollow(ParentDir(strUtf8Path));
    if (nDirFd < 0)
        return errno;
    std::string strPartName = BaseName(GetPartFileName(strUtf8Path));
    struct stat st;
    std::lock_guard<std::mutex> lock(g_partialMutex);
    int nError = g_bClosed ? ECANCELED : 0;
    if (nError == 0 && fstatat(nDirFd, strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        nError = EEXIST;
    int nFd = -1;
    if (nError == 0) {
        nFd = openat(nDirFd, strPartName.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, RECOVERED_FILE_MODE);
        nError = nFd < 0 ? errno : 0;
    }
    if (nError != 0) {
        close(nDirFd);
        return nError;
    }
    TakeOwnerOfFolder(nDirFd, nFd);
    m_nFd = nFd;
    m_nDirFd = nDirFd;
    m_strName = strName;
    m_strPartName = strPartName;
    Register(true);
    return 0;
}

int CSafeOutputFile::Write(const void* pData, size_t nBytes) {
    if (m_nFd < 0)
        return EBADF;
    return WriteFull(m_nFd, pData, nBytes);
}

int CSafeOutputFile::CloseFile() {
    if (m_nFd < 0)
        return 0;
    int rc = close(m_nFd) == 0 ? 0 : errno;
    m_nFd = -1;
    return rc;
}

int CSafeOutputFile::Commit() {
    if (m_nDirFd < 0)
        return EBADF;
    int nResult = CloseFile();
    {
        std::lock_guard<std::mutex> lock(g_partialMutex);
        if (nResult == 0)
            nResult = g_bClosed ? ECANCELED : RenameNoReplace(m_nDirFd, m_strPartName, m_strName);
        if (nResult == 0) {
            Register(false);
            close(m_nDirFd);
            m_nDirFd = -1;
            return 0;
        }
    }
    Discard();
    return nResult;
}

void CSafeOutputFile::Discard() {
    CloseFile();
    if (m_nDirFd < 0)
        return;
    std::lock_guard<std::mutex> lock(g_partialMutex);
    if (!g_bKeepPartial)
        unlinkat(m_nDirFd, m_strPartName.c_str(), 0);
    Register(false);
    close(m_nDirFd);
    m_nDirFd = -1;
}

int MakeRecoveryDir(const std::string& strUtf8Path) {
    int nError = mkdir(strUtf8Path.c_str(), RECOVERED_DIR_MODE) == 0 ? 0 : errno;
    if (nError != 0 && nError != EEXIST)
        return nError;
    int nDirFd = OpenFolderNoFollow(strUtf8Path);
    if (nDirFd < 0)
        return errno == ENOTDIR ? EEXIST : errno;
    if (nError == 0) {
        int nParentFd = OpenFolderNoFollow(ParentDir(strUtf8Path));
        if (nParentFd >= 0) {
            TakeOwnerOfFolder(nParentFd, nDirFd);
            close(nParentFd);
        }
    }
    close(nDirFd);
    return 0;
}

int MakeRecoveryDirs(const std::string& strBase, const std::string& strRelative,
                     std::string& strFolder) {
    strFolder = strBase;
    size_t nStart = 0;
    while (nStart < strRelative.size()) {
        size_t nEnd = strRelative.find_first_of("/\\", nStart);
        if (nEnd == std::string::npos)
            nEnd = strRelative.size();
        std::string strPart = strRelative.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strPart.empty())
            continue;
        strFolder += "/" + MakeSafeFileName(strPart);
        if (int nError = MakeRecoveryDir(strFolder); nError != 0)
            return nError;
    }
    return 0;
}
