// The image of the million-file benchmarks: every sector a one-sector BMP that the carver
// finds, so a deep scan of it yields 1,000,000 hits; and the peak resident size.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace million_image {

constexpr uint64_t FILE_COUNT = 1000000;
constexpr size_t SECTOR_BYTES = 512;
constexpr size_t SECTORS_PER_WRITE = 2048;
// BITMAPFILEHEADER + BITMAPINFOHEADER fields of a 512-byte picture.
constexpr size_t BMP_FILE_SIZE = 2, BMP_PIXEL_OFFSET = 10, BMP_INFO_SIZE = 14, BMP_WIDTH = 18,
                 BMP_HEIGHT = 22, BMP_PLANES = 26, BMP_BIT_COUNT = 28, BMP_COMPRESSION = 30,
                 BMP_IMAGE_SIZE = 34;
constexpr uint32_t BMP_HEADER_BYTES = 54;

inline void PutU32(uint8_t* p, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(x >> (8 * i));
}

inline std::vector<uint8_t> TinyBmpSector() {
    std::vector<uint8_t> sector(SECTOR_BYTES, 0x5A);
    sector[0] = 'B';
    sector[1] = 'M';
    PutU32(&sector[BMP_FILE_SIZE], SECTOR_BYTES);
    PutU32(&sector[6], 0);
    PutU32(&sector[BMP_PIXEL_OFFSET], BMP_HEADER_BYTES);
    PutU32(&sector[BMP_INFO_SIZE], 40);
    PutU32(&sector[BMP_WIDTH], 1);
    PutU32(&sector[BMP_HEIGHT], 1);
    sector[BMP_PLANES] = 1;
    sector[BMP_PLANES + 1] = 0;
    sector[BMP_BIT_COUNT] = 24;
    sector[BMP_BIT_COUNT + 1] = 0;
    // Uncompressed, its pixel bytes counted from the size: the carver refuses other values.
    PutU32(&sector[BMP_COMPRESSION], 0);
    PutU32(&sector[BMP_IMAGE_SIZE], 0);
    return sector;
}

inline bool WriteImage(const std::string& strPath) {
    std::vector<uint8_t> sector = TinyBmpSector();
    std::vector<uint8_t> block;
    for (size_t i = 0; i < SECTORS_PER_WRITE; ++i)
        block.insert(block.end(), sector.begin(), sector.end());
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (pFile == nullptr)
        return false;
    bool bOk = true;
    for (uint64_t u64Done = 0; u64Done < FILE_COUNT && bOk; u64Done += SECTORS_PER_WRITE) {
        size_t nSectors = std::min<uint64_t>(SECTORS_PER_WRITE, FILE_COUNT - u64Done);
        bOk = std::fwrite(block.data(), SECTOR_BYTES, nSectors, pFile) == nSectors;
    }
    return std::fclose(pFile) == 0 && bOk;
}

inline long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace million_image
