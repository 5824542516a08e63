// Little/big-endian loads and a bounded view over raw bytes: every read of disk data goes here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

inline uint16_t LoadU16LE(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t LoadU32LE(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t LoadU64LE(const uint8_t* p) {
    return uint64_t(LoadU32LE(p)) | uint64_t(LoadU32LE(p + 4)) << 32;
}
inline uint16_t LoadU16BE(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
inline uint32_t LoadU32BE(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint64_t LoadU64BE(const uint8_t* p) {
    return uint64_t(LoadU32BE(p)) << 32 | uint64_t(LoadU32BE(p + 4));
}

// True when [off, off + len) lies inside a buffer of size bytes; written so it cannot overflow.
constexpr bool InBounds(size_t size, size_t off, size_t len) {
    return off <= size && len <= size - off;
}

// A read-only window over a buffer whose loads fail (nullopt) instead of reading past its end.
class CByteView {
public:
    CByteView() = default;
    CByteView(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}

    const uint8_t* Data() const { return m_pData; }
    size_t Size() const { return m_nSize; }
    bool Has(size_t off, size_t len) const { return InBounds(m_nSize, off, len); }

    std::optional<uint8_t> U8(size_t off) const {
        return Has(off, 1) ? std::optional<uint8_t>(m_pData[off]) : std::nullopt;
    }
    std::optional<uint16_t> U16LE(size_t off) const { return Load<uint16_t>(off, LoadU16LE); }
    std::optional<uint32_t> U32LE(size_t off) const { return Load<uint32_t>(off, LoadU32LE); }
    std::optional<uint64_t> U64LE(size_t off) const { return Load<uint64_t>(off, LoadU64LE); }
    std::optional<uint16_t> U16BE(size_t off) const { return Load<uint16_t>(off, LoadU16BE); }
    std::optional<uint32_t> U32BE(size_t off) const { return Load<uint32_t>(off, LoadU32BE); }
    std::optional<uint64_t> U64BE(size_t off) const { return Load<uint64_t>(off, LoadU64BE); }

    // The sub-view [off, off + len), or nullopt when it does not fit.
    std::optional<CByteView> Slice(size_t off, size_t len) const {
        return Has(off, len) ? std::optional<CByteView>(CByteView(m_pData + off, len))
                             : std::nullopt;
    }
    // True when the bytes at off equal the pattern.
    bool Matches(size_t off, const void* pPattern, size_t nLen) const {
        return Has(off, nLen) && std::memcmp(m_pData + off, pPattern, nLen) == 0;
    }
    // Offset of the first occurrence of the pattern at or after from, or nullopt.
    std::optional<size_t> Find(const void* pPattern, size_t nLen, size_t from = 0) const {
        if (nLen == 0 || !Has(from, nLen))
            return std::nullopt;
        const auto* pPat = static_cast<const uint8_t*>(pPattern);
        for (size_t i = from; i + nLen <= m_nSize; ++i) {
            const void* pHit = std::memchr(m_pData + i, pPat[0], m_nSize - nLen + 1 - i);
            if (pHit == nullptr)
                return std::nullopt;
            i = static_cast<const uint8_t*>(pHit) - m_pData;
            if (std::memcmp(m_pData + i, pPat, nLen) == 0)
                return i;
        }
        return std::nullopt;
    }

private:
    template <typename T, typename F> std::optional<T> Load(size_t off, F load) const {
        return Has(off, sizeof(T)) ? std::optional<T>(load(m_pData + off)) : std::nullopt;
    }

    const uint8_t* m_pData = nullptr;
    size_t m_nSize = 0;
};
