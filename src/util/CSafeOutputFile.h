// The one way output reaches a destination: a new file, written whole under "name.part" and
// given its final name only when complete, never replacing anything.
#pragma once

#include <cstddef>
#include <string>

// Nothing is ever opened that exists already: "name.part" is created exclusively, never through
// a symlink, in a folder that is not a symlink either, and Commit renames it to "name" without
// replacing a file that appeared meanwhile. A file not committed is removed when the object goes
// away (or kept as "name.part" with SetKeepPartial). When the process runs as root the file takes
// the owner and group of its folder, so the user who chose the destination owns what was written.
class CSafeOutputFile {
public:
    CSafeOutputFile() = default;
    CSafeOutputFile(const CSafeOutputFile&) = delete;
    CSafeOutputFile& operator=(const CSafeOutputFile&) = delete;
    ~CSafeOutputFile();

    // 0, or errno: EEXIST when the name or its ".part" is taken, ELOOP when the folder is a
    // symlink, ECANCELED once RemovePartialFiles ran.
    int Create(const std::string& strUtf8Path);
    // Writes every byte, retrying short writes; 0 or errno.
    int Write(const void* pData, size_t nBytes);
    // Closes the file and gives it its final name; 0, or errno (the partial file is then
    // discarded). EEXIST when the name was taken while the file was written.
    int Commit();
    // Closes the file and removes it (keeps it as "name.part" with SetKeepPartial).
    void Discard();
    bool IsOpen() const { return m_nFd >= 0; }

    // Failed and stopped files are kept under their ".part" name instead of being removed.
    static void SetKeepPartial(bool bKeep);
    static bool IsKeepingPartial();
    // Removes every partial file being written (unless they are kept) and refuses new ones:
    // for a process about to exit at once.
    static void RemovePartialFiles();

private:
    int CloseFile();
    void Register(bool bAdd);

    int m_nFd = -1;
    int m_nDirFd = -1;
    std::string m_strName;
    std::string m_strPartName;
};

// The temporary name a file is written under: its name + ".part", the name cut (at a character
// boundary) so that the whole still fits a file name.
std::string GetPartFileName(const std::string& strUtf8Path);
// Creates a recovery folder with mode 0755 (an existing real folder is fine, a symlink or a file
// is refused with ELOOP or EEXIST) owned like its parent when running as root; 0 or errno.
int MakeRecoveryDir(const std::string& strUtf8Path);
// Creates the folders of a relative path ("a/b/"; '\\' splits too) below the base, each name made
// safe ("..", "." and "" never climb or vanish) and none a symlink; strFolder receives the
// deepest. 0 or errno.
int MakeRecoveryDirs(const std::string& strBase, const std::string& strRelative,
                     std::string& strFolder);
