// Arbitrary "config" index files through the scan-log index loader and its lookups.
#include "store/CLogFileManager.h"
#include "store/StoreFileFormat.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const std::string& FuzzRoot() {
    static const std::string strRoot = [] {
        char szRoot[] = "/tmp/orvanne-fuzz-index-XXXXXX";
        if (mkdtemp(szRoot) == nullptr)
            std::abort();
        setenv("ORVANNE_SCANLOG_DIR", szRoot, 1);
        return std::string(szRoot) + "/";
    }();
    return strRoot;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    uint64_t u64Index = 0;
    std::vector<LOG_FILE_INFO> vecRecords;
    bool bParsed = ParseLogIndex(pData, nSize, u64Index, vecRecords);
    if (bParsed && vecRecords.size() != (nSize - 8) / sizeof(LOG_FILE_INFO))
        std::abort();

    std::string strIndex = FuzzRoot() + LOG_INDEX_FILE_NAME;
    int nFd = open(strIndex.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (nFd < 0)
        return 0;
    bool bWritten = write(nFd, pData, nSize) == static_cast<ssize_t>(nSize);
    close(nFd);
    if (!bWritten)
        return 0;

    CLogFileManager* pLog = CLogFileManager::GetInstance();
    pLog->Init();
    if (pLog->GetRecords().size() != vecRecords.size())
        std::abort();
    std::vector<LOG_FILE_INFO> vecCopy = pLog->GetRecords();
    for (const LOG_FILE_INFO& info : vecCopy) {
        LOG_FILE_INFO found;
        SCAN_VOLUME_KEY key{info.szDevicePath, info.u64DeviceBytes, info.u64ModifyTime,
                            info.u64StartSector, info.u64SectorCount};
        pLog->LoadRecoveryLogInfo(key, &found);
        pLog->GetLogFileDirPath();
    }
    return 0;
}
