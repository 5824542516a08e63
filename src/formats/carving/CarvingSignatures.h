// Signatures and packet shapes that more than one part of carving looks for.
#pragma once

#include <cstddef>
#include <cstdint>

// MPEG transport streams: 188-byte packets that begin with the sync byte; M2TS (AVCHD) puts a
// 4-byte arrival time before each.
inline constexpr int TS_PACKET_BYTES = 188;
inline constexpr int M2TS_PACKET_BYTES = 192;
inline constexpr int M2TS_SYNC_OFFSET = 4;
inline constexpr uint8_t TS_SYNC_BYTE = 0x47;
// Compound documents (Office 97-2003, Flash authoring files).
inline constexpr uint8_t szOleHead[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// ID3v2 tag before MPEG audio, AAC or FLAC.
inline constexpr size_t ID3V2_HEADER_BYTES = 10;
