// The one way recovered data reaches the destination: new files only, written whole.
#pragma once

#include <cstddef>
#include <string>

// A recovered file is always a new file: an existing path is never opened for writing, so a
// taken name fails with EEXIST and the caller picks a free one (GetRealFileName). When the
// process runs as root the file takes the owner and group of its folder, so the user who
// chose the destination owns what was recovered.
class CSafeOutputFile {
public:
    CSafeOutputFile() = default;
    CSafeOutputFile(const CSafeOutputFile&) = delete;
    CSafeOutputFile& operator=(const CSafeOutputFile&) = delete;
    ~CSafeOutputFile();

    // 0, or the errno of the failed create (EEXIST when the name is taken).
    int Create(const std::string& strUtf8Path);
    // Writes every byte, retrying short writes; 0 or errno.
    int Write(const void* pData, size_t nBytes);
    // 0, or the errno of a failed close.
    int Close();
    bool IsOpen() const { return m_nFd >= 0; }

private:
    int m_nFd = -1;
};

// Creates a recovery folder with mode 0755 (an existing folder is fine) owned like its parent
// when running as root; 0 or errno.
int MakeRecoveryDir(const std::string& strUtf8Path);
