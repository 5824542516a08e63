// Sector reads behind a carved file's header, cached, with sizing progress and stop.
#include "formats/carving/CDiskCarvingReader.h"

#include "device/CDiskReader.h"

#include <algorithm>

namespace {

// A first read after a jump is small: most structure walks read a few bytes and jump again.
constexpr uint64_t FIRST_READ_SECTORS = 8;

} // namespace

CDiskCarvingReader::CDiskCarvingReader(CDiskReader& disk, uint64_t u64StartSector,
                                       size_t nSectorBytes, CByteView head, uint8_t* pCache,
                                       size_t nCacheBytes, ProgressFn pfnProgress)
    : m_disk(disk), m_u64StartSector(u64StartSector), m_nSectorBytes(nSectorBytes),
      m_pCache(pCache), m_nCacheBytes(nCacheBytes), m_pfnProgress(pfnProgress), m_cached(head),
      m_u64NextSectors(FIRST_READ_SECTORS) {}

CByteView CDiskCarvingReader::View(uint64_t u64Offset, size_t nWant) {
    nWant = std::min(nWant, MAX_VIEW_BYTES);
    const uint64_t u64CacheEnd = m_u64CacheStart + m_cached.Size();
    const bool bCached = u64Offset >= m_u64CacheStart && u64Offset <= u64CacheEnd &&
                         u64CacheEnd - u64Offset >= nWant;
    if (!bCached && !m_bStopped)
        Fill(u64Offset, nWant);
    if (m_bStopped || u64Offset < m_u64CacheStart || u64Offset >= m_u64CacheStart + m_cached.Size())
        return {};
    const size_t nSkip = static_cast<size_t>(u64Offset - m_u64CacheStart);
    return CByteView(m_cached.Data() + nSkip, m_cached.Size() - nSkip);
}

void CDiskCarvingReader::Fill(uint64_t u64Offset, size_t nWant) {
    const uint64_t u64Sector = u64Offset / m_nSectorBytes;
    const uint64_t u64CacheEndSector = (m_u64CacheStart + m_cached.Size()) / m_nSectorBytes;
    // Reading on from where the cache ends grows the reads; a jump starts small again.
    m_u64NextSectors =
        u64Sector == u64CacheEndSector
            ? std::min<uint64_t>(m_u64NextSectors * 2, m_nCacheBytes / m_nSectorBytes)
            : FIRST_READ_SECTORS;
    const uint64_t u64Need =
        (u64Offset - u64Sector * m_nSectorBytes + nWant + m_nSectorBytes - 1) / m_nSectorBytes;
    const uint64_t u64Absolute = m_u64StartSector + u64Sector;
    m_cached = {};
    m_u64CacheStart = u64Sector * m_nSectorBytes;
    if (u64Absolute >= m_disk.GetLimit())
        return;
    const uint64_t u64Count = std::min<uint64_t>({std::max(u64Need, m_u64NextSectors),
                                                  uint64_t(m_nCacheBytes / m_nSectorBytes),
                                                  m_disk.GetLimit() - u64Absolute});
    unsigned int nRead = 0;
    m_disk.ReadData(m_pCache, static_cast<int>(u64Count), static_cast<long long>(u64Absolute),
                    static_cast<int>(m_nSectorBytes), &nRead);
    m_u64SectorsRead += nRead;
    if (m_pfnProgress != nullptr && !m_pfnProgress(m_u64SectorsRead)) {
        m_bStopped = true;
        return;
    }
    m_cached = CByteView(m_pCache, size_t(nRead) * m_nSectorBytes);
}
