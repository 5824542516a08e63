// Format signatures that both identification and sizing look for.
#pragma once

#include <cstdint>

// MPEG video elementary stream: sequence header.
inline constexpr uint8_t szMpgSequenceHead[] = {0x00, 0x00, 0x01, 0xB3};
// ZIP: end-of-central-directory record.
inline constexpr uint8_t szZipEndHead[] = {0x50, 0x4B, 0x05, 0x06};
// MPEG transport stream: packets of 188 bytes that begin with the sync byte.
inline constexpr int TS_PACKET_BYTES = 188;
inline constexpr uint8_t TS_SYNC_BYTE = 0x47;
