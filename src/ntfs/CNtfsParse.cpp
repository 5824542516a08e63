// Record fix-up and run decoding bound to one volume's sector size.
#include "ntfs/CNtfsParse.h"

int CNtfsParse::Init(int nBytesPerSector) {
    m_nBytesPerSector = nBytesPerSector;
    m_nSectorsPerRecord = nBytesPerSector == DEFAULT_BYTES_PER_SECTOR ? 2 : 1;
    return 0;
}

int CNtfsParse::FileRecordFixUp(uint8_t* pRecord, size_t nSize) const {
    if (m_nBytesPerSector <= 0)
        return -1;
    return FixUpNtfsRecord(pRecord, nSize, static_cast<size_t>(GetRecordSize()));
}

void CNtfsParse::GetRunList(const uint8_t* pAttribute, size_t nSize,
                            std::vector<RUNLIST>& vecRuns) const {
    DecodeNtfsRunList(pAttribute, nSize, vecRuns);
}
