// SHA-256 of recovered files, for reports that others can check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    CSha256();
    void Update(const void* pData, size_t nBytes);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string FinalHex();

    // The digest of a whole file, or "" when it cannot be read.
    static std::string OfFile(const std::string& strPath);

private:
    void Compress(const uint8_t* pBlock);

    uint32_t m_state[8];
    uint8_t m_block[64];
    size_t m_nBlockBytes = 0;
    uint64_t m_u64TotalBytes = 0;
};
