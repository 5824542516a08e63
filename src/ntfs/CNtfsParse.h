// Fix-up and run decoding of the records of one NTFS volume, set up for its sector size.
#pragma once

#include "device/CDiskReader.h"
#include "formats/ntfs/NtfsRecord.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CNtfsParse : public CDiskReader {
public:
    static constexpr int DEFAULT_BYTES_PER_SECTOR = 512;

    // Sets the sector size: records are two sectors long on 512-byte sectors, else one. 0.
    int Init(int nBytesPerSector);
    // Repairs a record read from disk in place; 0, or -1 leaving the buffer untouched.
    int FileRecordFixUp(uint8_t* pRecord, size_t nSize) const;
    // Appends the decoded runs of one non-resident attribute; the vector is never cleared.
    void GetRunList(const uint8_t* pAttribute, size_t nSize, std::vector<RUNLIST>& vecRuns) const;

    int GetSectorsPerRecord() const { return m_nSectorsPerRecord; }
    int GetBytesPerSector() const { return m_nBytesPerSector; }
    int GetRecordSize() const { return m_nSectorsPerRecord * m_nBytesPerSector; }

private:
    int m_nSectorsPerRecord = 2;
    int m_nBytesPerSector = DEFAULT_BYTES_PER_SECTOR;
};
