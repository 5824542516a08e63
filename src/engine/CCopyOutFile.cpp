// The shared end of every engine's copy-out: partial name, size check, damage count, reports.
#include "engine/CCopyOutFile.h"

#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr int RECOVERY_WEIGHT = 100;
constexpr int LAST_PARTIAL_PERCENT = 99;

thread_local uint64_t t_u64LastUnreadable = 0;

} // namespace

CCopyOutFile::CCopyOutFile(const char16_t* pPath, uint64_t u64Size,
                           RecoveryProgressCallback pCallback, void* pParam)
    : m_strPath(pPath == nullptr ? u"" : pPath), m_u64Size(u64Size), m_pCallback(pCallback),
      m_pParam(pParam) {
    t_u64LastUnreadable = 0;
}

uint64_t CCopyOutFile::GetLastUnreadableSectors() {
    return t_u64LastUnreadable;
}

int CCopyOutFile::Report(int nPercent, int nStatus) const {
    if (m_pCallback == nullptr)
        return 0;
    return m_pCallback(m_pParam, nPercent, RECOVERY_WEIGHT, nStatus, m_strPath.c_str());
}

int CCopyOutFile::Open() {
    if (m_strPath.empty())
        return ERROR_INVALID_PARAMETER;
    return m_file.Create(Unicode2Ansi(m_strPath.c_str()));
}

int CCopyOutFile::Write(const uint8_t* pData, size_t nBytes) {
    if (int nError = m_file.Write(pData, nBytes); nError != 0)
        return nError;
    m_u64Written += nBytes;
    uint64_t u64Percent = m_u64Size == 0 ? 100 : m_u64Written * 100 / m_u64Size;
    int nStop = Report(static_cast<int>(std::min<uint64_t>(u64Percent, LAST_PARTIAL_PERCENT)), 0);
    m_bStopped = nStop != 0;
    return nStop;
}

int CCopyOutFile::Finish(int nReadResult) {
    int nResult = nReadResult;
    if (nResult == 0 && m_u64Written != m_u64Size) {
        DebugLog("copy of %s ended at %llu of %llu bytes\n",
                 Unicode2Ansi(m_strPath.c_str()).c_str(),
                 static_cast<unsigned long long>(m_u64Written),
                 static_cast<unsigned long long>(m_u64Size));
        nResult = ERROR_READ_SHORT;
    }
    if (nResult == 0)
        nResult = m_file.Commit();
    else
        m_file.Discard();
    if (nResult == 0 && m_u64Unreadable != 0)
        nResult = ERROR_FILE_DAMAGED;
    t_u64LastUnreadable = m_u64Unreadable;
    if (!m_bStopped)
        Report(100, nResult);
    return nResult;
}
