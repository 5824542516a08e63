// A report written as it grows, so that a million hits never sit in memory as text: a safe
// output file (".part" until complete) fed through a buffer.
#pragma once

#include "util/CSafeOutputFile.h"

#include <string>

class CReportStream {
public:
    // 0 or errno (see CSafeOutputFile::Create).
    int Create(const std::string& strPath);
    // Keeps the first write error for Commit.
    void Append(const std::string& strText);
    // Writes what is left and gives the file its name; 0 or the first error.
    int Commit();
    bool IsOpen() const { return m_file.IsOpen(); }

private:
    static constexpr size_t FLUSH_BYTES = 1 << 16;

    void Flush();

    CSafeOutputFile m_file;
    std::string m_strBuffer;
    int m_nError = 0;
};
