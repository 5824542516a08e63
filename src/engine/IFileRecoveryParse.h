// The one interface every scan engine implements; callers drive engines only through it.
#pragma once

#include "engine/CVectorSearchCursor.h"
#include "engine/FileRecoveryTypes.h"
#include "engine/ISearchCursor.h"

#include <memory>
#include <vector>

class IFileRecoveryParse {
public:
    virtual int Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                     char16_t wcDriveLetter) = 0;
    virtual int Init(const char16_t* pDevicePath, char16_t wcDriveLetter) = 0;
    virtual int InitCallBack(ScanProgressCallback pScanCallback,
                             RecoveryProgressCallback pRecoveryCallback, void* pParam,
                             int nWeight) = 0;
    // A null name scans the volume into a fresh store; a name reopens that stored result.
    virtual int ScanDevice(const char16_t* pResultName) = 0;
    virtual int GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                    std::vector<FILE_NODE>& vecChildren) = 0;
    virtual int GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                     unsigned int& nCount) = 0;
    virtual unsigned int GetLostFileCount() = 0;
    virtual int GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut, int nCapacity) = 0;
    virtual int SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int nBaseDepth) = 0;
    virtual int GetUnUsedSectorCount(unsigned long long& u64Start,
                                     unsigned long long& u64Count) = 0;
    virtual int InitSearchCallBack(SearchProgressCallback pSearchCallback, void* pParam) = 0;
    virtual int SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) = 0;
    virtual int BuildBitMapInfo() = 0;
    // Pictures go to a "tmp.<ext>" file whose path is copied out; other files fill the buffer.
    virtual int PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer,
                        int& nLength, PreviewProgressCallback pCallback, void* pParam) = 0;
    // The hits of SearchFileNode, in the same order, through a cursor. Engines with a result
    // store hand out a cursor that holds a few bytes per hit and reads the hits back from the
    // store; it must not outlive the engine nor be used after its next ScanDevice. The cursor
    // is set even when the search stopped early (its hits are those found so far).
    virtual int OpenSearchCursor(const char16_t* pKey, std::unique_ptr<ISearchCursor>& pCursor) {
        std::vector<SEARCH_FILE_INFO> vecHits;
        int nResult = SearchFileNode(pKey, vecHits);
        pCursor = std::make_unique<CVectorSearchCursor>(std::move(vecHits));
        return nResult;
    }
    // Where the file's data lies on the device, in file order, as the engine reads it; false
    // (no runs) where the engine does not tell.
    virtual bool GetFileDataRuns(FILE_NODE*, std::vector<FILE_DATA_RUN>&) { return false; }
    // The node of a search hit again, by its nEngineType and nFileIndex, so that a caller can
    // keep a few bytes per hit instead of the hit; 0, 87 when there is none, or the read error.
    virtual int GetFileNodeByIndex(unsigned int, unsigned int, FILE_NODE*) {
        return ERROR_INVALID_PARAMETER;
    }
    virtual ~IFileRecoveryParse() = default;
};
