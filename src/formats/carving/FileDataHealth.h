// Whether a found file's first data sector shows the file is gone, the judgement every file-system
// engine stores as a node's data health.
#pragma once

#include <cstddef>
#include <cstdint>

class CDiskReader;

constexpr uint32_t DATA_HEALTH_GONE = 0;
constexpr uint32_t DATA_HEALTH_INTACT_OR_UNKNOWN = 1;

// DATA_HEALTH_GONE only when the sector shows that the file no longer starts there: it is all
// zeros, or it starts a known format other than the one the extension names (file-system
// metadata included). A header the detectors do not know, or an extension they do not know, can
// prove nothing: DATA_HEALTH_INTACT_OR_UNKNOWN. The reader and the sector's absolute number let
// the detectors that look past the first sector do so.
uint32_t JudgeFileDataHealth(const uint8_t* pSector, size_t nSize, const char* pExtension,
                             CDiskReader* pReader, int nBytesPerSector, uint64_t u64Sector);
