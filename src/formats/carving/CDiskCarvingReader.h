// A candidate file read from the disk behind its header sector: sector reads into one cache,
// growing while the finder reads on and small again after a jump, with sizing progress.
#pragma once

#include "formats/carving/ICarvingReader.h"

class CDiskReader;

class CDiskCarvingReader : public ICarvingReader {
public:
    // Told the sectors read so far after every read; false stops all further reading.
    using ProgressFn = bool (*)(uint64_t u64SectorsRead);

    // head is the file's first sector as the scan read it; pCache holds nCacheBytes, at least
    // MAX_VIEW_BYTES plus a sector.
    CDiskCarvingReader(CDiskReader& disk, uint64_t u64StartSector, size_t nSectorBytes,
                       CByteView head, uint8_t* pCache, size_t nCacheBytes, ProgressFn pfnProgress);

    CByteView View(uint64_t u64Offset, size_t nWant) override;

private:
    // Reads the sectors holding [u64Offset, u64Offset + nWant), and more when reading on.
    void Fill(uint64_t u64Offset, size_t nWant);

    CDiskReader& m_disk;
    uint64_t m_u64StartSector;
    size_t m_nSectorBytes;
    uint8_t* m_pCache;
    size_t m_nCacheBytes;
    ProgressFn m_pfnProgress;
    // What the cache holds: file bytes [m_u64CacheStart, m_u64CacheStart + m_cached.Size()).
    CByteView m_cached;
    uint64_t m_u64CacheStart = 0;
    uint64_t m_u64NextSectors;
    uint64_t m_u64SectorsRead = 0;
    bool m_bStopped = false;
};
