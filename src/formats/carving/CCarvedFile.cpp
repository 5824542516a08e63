// Bounded reads, searches and the end check over a candidate file.
#include "formats/carving/CCarvedFile.h"

#include <algorithm>

CByteView CCarvedFile::View(uint64_t u64Offset, size_t nWant) {
    nWant = std::min(nWant, ICarvingReader::MAX_VIEW_BYTES);
    CByteView view = m_reader.View(u64Offset, nWant);
    if (view.Size() < nWant)
        m_bDataEnded = true;
    return view;
}

bool CCarvedFile::Read(uint64_t u64Offset, void* pOut, size_t nBytes) {
    auto* pTo = static_cast<uint8_t*>(pOut);
    while (nBytes > 0) {
        CByteView view = View(u64Offset, nBytes);
        if (view.Size() == 0)
            return false;
        const size_t nTake = std::min(nBytes, view.Size());
        std::memcpy(pTo, view.Data(), nTake);
        pTo += nTake;
        u64Offset += nTake;
        nBytes -= nTake;
    }
    return true;
}

std::optional<uint64_t> CCarvedFile::Find(const void* pPattern, size_t nPattern, uint64_t u64From,
                                          uint64_t u64To) {
    while (u64From < u64To) {
        CByteView view = View(u64From, nPattern);
        if (view.Size() < nPattern)
            return std::nullopt;
        // Only starts below u64To count; a pattern may run past the view's search window.
        const uint64_t u64Starts = std::min<uint64_t>(view.Size() - nPattern + 1, u64To - u64From);
        CByteView window(view.Data(), size_t(u64Starts) + nPattern - 1);
        if (auto hit = window.Find(pPattern, nPattern))
            return u64From + *hit;
        u64From += u64Starts;
    }
    return std::nullopt;
}

uint64_t CCarvedFile::NextFileStart(uint64_t u64From, uint64_t u64To, bool bZerosEnd) {
    const uint64_t u64Sector = m_nSectorBytes;
    for (uint64_t off = (u64From + u64Sector - 1) / u64Sector * u64Sector; off < u64To;
         off += u64Sector) {
        CByteView view = View(off, m_nSectorBytes);
        if (view.Size() < m_nSectorBytes)
            return off;
        if (m_pfnStartsOther != nullptr && m_pfnStartsOther(view.Data(), m_nSectorBytes))
            return off;
        if (bZerosEnd && std::all_of(view.Data(), view.Data() + m_nSectorBytes,
                                     [](uint8_t c) { return c == 0; }))
            return off;
    }
    return u64To;
}
