// The checksums carving verifies that zlib's CRC-32 does not cover: Ogg's CRC-32 (MSB first,
// no reflection) and FLAC's CRC-8 and CRC-16.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t OggCrcUpdate(uint32_t u32Crc, const uint8_t* pData, size_t nBytes);
uint8_t FlacCrc8(const uint8_t* pData, size_t nBytes);
uint16_t FlacCrc16Update(uint16_t u16Crc, const uint8_t* pData, size_t nBytes);
