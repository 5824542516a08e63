// A candidate file held in memory: tests and fuzzers size files without a disk.
#pragma once

#include "formats/carving/ICarvingReader.h"

class CMemoryCarvingReader : public ICarvingReader {
public:
    CMemoryCarvingReader(const uint8_t* pData, size_t nSize) : m_data(pData, nSize) {}

    CByteView View(uint64_t u64Offset, size_t) override {
        if (u64Offset >= m_data.Size())
            return {};
        return CByteView(m_data.Data() + u64Offset, m_data.Size() - size_t(u64Offset));
    }

private:
    CByteView m_data;
};
