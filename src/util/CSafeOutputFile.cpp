// Exclusive creation, full writes and ownership of recovered files and folders.
#include "util/CSafeOutputFile.h"
#include "util/FdIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t RECOVERED_FILE_MODE = 0644;
constexpr mode_t RECOVERED_DIR_MODE = 0755;

std::string ParentDir(const std::string& strPath) {
    size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

// Root creates files as root; hand them to whoever owns the folder they were put in.
void TakeOwnerOfParent(const std::string& strPath, int nFd) {
    if (geteuid() != 0)
        return;
    struct stat st;
    if (stat(ParentDir(strPath).c_str(), &st) != 0)
        return;
    int rc = nFd >= 0 ? fchown(nFd, st.st_uid, st.st_gid)
                      : lchown(strPath.c_str(), st.st_uid, st.st_gid);
    (void)rc; // ownership is a courtesy; the data is already safe
}

} // namespace

CSafeOutputFile::~CSafeOutputFile() {
    Close();
}

int CSafeOutputFile::Create(const std::string& strUtf8Path) {
    if (m_nFd >= 0)
        return EBUSY;
    m_nFd = open(strUtf8Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                 RECOVERED_FILE_MODE);
    if (m_nFd < 0)
        return errno;
    TakeOwnerOfParent(strUtf8Path, m_nFd);
    return 0;
}

int CSafeOutputFile::Write(const void* pData, size_t nBytes) {
    if (m_nFd < 0)
        return EBADF;
    return WriteFull(m_nFd, pData, nBytes);
}

int CSafeOutputFile::Close() {
    if (m_nFd < 0)
        return 0;
    int rc = close(m_nFd) == 0 ? 0 : errno;
    m_nFd = -1;
    return rc;
}

int MakeRecoveryDir(const std::string& strUtf8Path) {
    if (mkdir(strUtf8Path.c_str(), RECOVERED_DIR_MODE) == 0) {
        TakeOwnerOfParent(strUtf8Path, -1);
        return 0;
    }
    int nError = errno;
    struct stat st;
    if (nError == EEXIST && stat(strUtf8Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    return nError;
}
