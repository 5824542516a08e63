// The fast engine of ext volumes: a placeholder that finds nothing, so the deep pass does the work.
#pragma once

#include "engine/IFileRecoveryParse.h"

#include <cstdint>

class CFastExtRecovery : public IFileRecoveryParse {
public:
    CFastExtRecovery() = default;
    CFastExtRecovery(const CFastExtRecovery&) = delete;
    CFastExtRecovery& operator=(const CFastExtRecovery&) = delete;
    ~CFastExtRecovery() override;

    int Init(int nDiskNo, long long llStartSector, long long llSectorCount,
             char16_t wcDriveLetter) override;
    int Init(const char16_t* pDevicePath, char16_t wcDriveLetter) override;
    int InitCallBack(ScanProgressCallback, RecoveryProgressCallback, void*, int) override {
        return 0;
    }
    int ScanDevice(const char16_t*) override { return 0; }
    int GetChildrenFileNode(FILE_NODE*, unsigned int, std::vector<FILE_NODE>&) override {
        return 0;
    }
    int GetChildrenFileCount(FILE_NODE*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(FILE_NODE*, char16_t*, int) override { return 0; }
    int SaveFileData(FILE_NODE*, const char16_t*, int) override { return 0; }
    // No allocation map: the arguments stay as they are and no run is reported.
    int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    int InitSearchCallBack(SearchProgressCallback, void*) override { return 0; }
    int SearchFileNode(const char16_t*, std::vector<SEARCH_FILE_INFO>&) override { return 0; }
    int BuildBitMapInfo() override { return 0; }
    int PreView(FILE_NODE*, char16_t*, unsigned char*, int& nLength, PreviewProgressCallback,
                void*) override {
        nLength = 0;
        return 0;
    }

private:
    int m_nFd = -1;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
};
