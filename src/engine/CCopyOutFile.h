// One found file copied out to a new file: written under "name.part", given its name only when
// every byte of its size arrived, and reported to the recovery callback as it goes.
#pragma once

#include "engine/FileRecoveryTypes.h"
#include "util/CSafeOutputFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Every engine's SaveFileData writes a file through one of these. Progress goes to the callback
// as (percent, 100, 0, path) while the bytes arrive (at most 99 until the file is complete) and
// once more as (100, 100, status, path) when it ends, unless the callback stopped it.
class CCopyOutFile {
public:
    CCopyOutFile(const char16_t* pPath, uint64_t u64Size, RecoveryProgressCallback pCallback,
                 void* pParam);
    CCopyOutFile(const CCopyOutFile&) = delete;
    CCopyOutFile& operator=(const CCopyOutFile&) = delete;

    // Creates the partial file; 0 or errno.
    int Open();
    // Writes the next bytes of the file and reports progress; 0, the errno of the write, or the
    // callback's non-zero answer.
    int Write(const uint8_t* pData, size_t nBytes);
    // Sectors that could not be read and were written as zeros.
    void AddUnreadableSectors(uint64_t u64Sectors) { m_u64Unreadable += u64Sectors; }
    // Ends the copy with the reading's result. A file whose reading ended well and whose bytes
    // are all written gets its name: 0, or ERROR_FILE_DAMAGED when sectors were zero-filled.
    // Otherwise the partial file is discarded and the result is the reading's error, 30 when
    // bytes are missing, or the error of the final close and rename.
    int Finish(int nReadResult);

    // The zero-filled sectors of the last file this thread finished (what ERROR_FILE_DAMAGED
    // counts); front ends read it right after SaveFileData.
    static uint64_t GetLastUnreadableSectors();

private:
    int Report(int nPercent, int nStatus) const;

    std::u16string m_strPath;
    uint64_t m_u64Size;
    RecoveryProgressCallback m_pCallback;
    void* m_pParam;
    CSafeOutputFile m_file;
    uint64_t m_u64Written = 0;
    uint64_t m_u64Unreadable = 0;
    bool m_bStopped = false; // the callback asked to stop: it gets no closing report
};
