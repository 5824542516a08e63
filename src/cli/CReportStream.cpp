// Buffered appends to a safe output file.
#include "cli/CReportStream.h"

int CReportStream::Create(const std::string& strPath) {
    m_strBuffer.clear();
    m_nError = m_file.Create(strPath);
    return m_nError;
}

void CReportStream::Flush() {
    if (m_nError == 0 && !m_strBuffer.empty())
        m_nError = m_file.Write(m_strBuffer.data(), m_strBuffer.size());
    m_strBuffer.clear();
}

void CReportStream::Append(const std::string& strText) {
    m_strBuffer += strText;
    if (m_strBuffer.size() >= FLUSH_BYTES)
        Flush();
}

int CReportStream::Commit() {
    Flush();
    if (m_nError != 0) {
        m_file.Discard();
        return m_nError;
    }
    return m_file.Commit();
}
