// The packet shapes of transport streams, which the video family sizes and the judge looks for
// behind a stream carved already.
#pragma once

#include <cstddef>
#include <cstdint>

// MPEG transport streams: 188-byte packets that begin with the sync byte; M2TS (AVCHD) puts a
// 4-byte arrival time before each.
inline constexpr int TS_PACKET_BYTES = 188;
inline constexpr int M2TS_PACKET_BYTES = 192;
inline constexpr int M2TS_SYNC_OFFSET = 4;
inline constexpr uint8_t TS_SYNC_BYTE = 0x47;
