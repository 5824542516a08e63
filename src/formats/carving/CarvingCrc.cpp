// Table-driven MSB-first CRCs.
#include "formats/carving/CarvingCrc.h"

#include <array>

namespace {

constexpr uint32_t OGG_POLYNOMIAL = 0x04C11DB7;
constexpr uint8_t FLAC_CRC8_POLYNOMIAL = 0x07;
constexpr uint16_t FLAC_CRC16_POLYNOMIAL = 0x8005;

template <typename T> std::array<T, 256> MsbFirstTable(T polynomial) {
    constexpr int BITS = int(sizeof(T)) * 8;
    std::array<T, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        T crc = T(i << (BITS - 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = T((crc & (T(1) << (BITS - 1))) ? (crc << 1) ^ polynomial : crc << 1);
        table[i] = crc;
    }
    return table;
}

} // namespace

uint32_t OggCrcUpdate(uint32_t u32Crc, const uint8_t* pData, size_t nBytes) {
    static const std::array<uint32_t, 256> TABLE = MsbFirstTable<uint32_t>(OGG_POLYNOMIAL);
    for (size_t i = 0; i < nBytes; ++i)
        u32Crc = (u32Crc << 8) ^ TABLE[((u32Crc >> 24) ^ pData[i]) & 0xFF];
    return u32Crc;
}

uint8_t FlacCrc8(const uint8_t* pData, size_t nBytes) {
    static const std::array<uint8_t, 256> TABLE = MsbFirstTable<uint8_t>(FLAC_CRC8_POLYNOMIAL);
    uint8_t u8Crc = 0;
    for (size_t i = 0; i < nBytes; ++i)
        u8Crc = TABLE[u8Crc ^ pData[i]];
    return u8Crc;
}

uint16_t FlacCrc16Update(uint16_t u16Crc, const uint8_t* pData, size_t nBytes) {
    static const std::array<uint16_t, 256> TABLE = MsbFirstTable<uint16_t>(FLAC_CRC16_POLYNOMIAL);
    for (size_t i = 0; i < nBytes; ++i)
        u16Crc = uint16_t((u16Crc << 8) ^ TABLE[((u16Crc >> 8) ^ pData[i]) & 0xFF]);
    return u16Crc;
}
