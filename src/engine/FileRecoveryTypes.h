// Records, callback types and status codes shared by every recovery engine and its callers.
#pragma once

#include "util/StatusCodes.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum RECOVERY_TYPE : int {
    RECOVERY_TYPE_FAST = 0,
    RECOVERY_TYPE_DEEP = 1,
};

// Which engine made a node (FILE_NODE::nEngineType).
enum ENGINE_TYPE : uint32_t {
    ENGINE_FAST_NTFS = 0,
    ENGINE_FAST_FAT = 1,
    ENGINE_DEEP_NTFS = 2,
    ENGINE_DEEP_FAT = 3,
    ENGINE_FILE_TYPE = 4,
    ENGINE_FAST_EXFAT = 5,
    ENGINE_DEEP_EXFAT = 6,
};

constexpr uint32_t FILE_NODE_NAME_BYTES = 256;
constexpr uint32_t CLUSTER_BYTES_NONE = 0xFFFFFFFF;

// A file or folder found by an engine; also the on-disk record of the node file, byte for byte.
// A carved node (ENGINE_FILE_TYPE) joined from two pieces keeps the join in fields carving
// leaves unused: nClusterNo is the first piece's length in sectors and u64DataAreaSector the
// absolute sector where the second piece starts (0: the file is one piece).
struct FILE_NODE {
    uint32_t wcDriveLetter; // one UTF-16 unit in a 4-byte field
    uint32_t nEngineType;
    uint32_t bIsDir;
    uint32_t bIsDeleted;
    uint32_t nDataHealth;
    uint32_t nFileIndex;
    uint32_t nClusterNo;
    uint32_t nClusterBytes;
    uint64_t u64CreateTime;
    uint64_t u64AccessTime;
    uint64_t u64ModifyTime;
    uint64_t u64FileSize;
    uint64_t u64DataAreaSector;
    uint64_t u64LocationSector;
    uint64_t u64PartitionStartSector;
    char szFileName[FILE_NODE_NAME_BYTES]; // UTF-8, NUL-terminated
};

static_assert(sizeof(FILE_NODE) == 344);
static_assert(offsetof(FILE_NODE, wcDriveLetter) == 0);
static_assert(offsetof(FILE_NODE, nEngineType) == 4);
static_assert(offsetof(FILE_NODE, bIsDir) == 8);
static_assert(offsetof(FILE_NODE, bIsDeleted) == 12);
static_assert(offsetof(FILE_NODE, nDataHealth) == 16);
static_assert(offsetof(FILE_NODE, nFileIndex) == 20);
static_assert(offsetof(FILE_NODE, nClusterNo) == 24);
static_assert(offsetof(FILE_NODE, nClusterBytes) == 28);
static_assert(offsetof(FILE_NODE, u64CreateTime) == 32);
static_assert(offsetof(FILE_NODE, u64AccessTime) == 40);
static_assert(offsetof(FILE_NODE, u64ModifyTime) == 48);
static_assert(offsetof(FILE_NODE, u64FileSize) == 56);
static_assert(offsetof(FILE_NODE, u64DataAreaSector) == 64);
static_assert(offsetof(FILE_NODE, u64LocationSector) == 72);
static_assert(offsetof(FILE_NODE, u64PartitionStartSector) == 80);
static_assert(offsetof(FILE_NODE, szFileName) == 88);

// One stretch of a file's data: bytes [u64FileOffset, + u64Bytes) of the file lie at byte
// u64DiskOffset of the device, or read as zeros when bZeroFill (past an exFAT valid data length).
struct FILE_DATA_RUN {
    uint64_t u64FileOffset;
    uint64_t u64DiskOffset;
    uint64_t u64Bytes;
    bool bZeroFill;
};

// Stores a UTF-8 name in the node: a name longer than the field is cut at a character boundary
// and keeps its extension.
void SetFileNodeName(FILE_NODE& node, const std::string& strName);

// A search hit is the matching node copied whole.
using SEARCH_FILE_INFO = FILE_NODE;

// Progress callbacks: 0 means go on, any other value asks the engine to stop and is passed back.
using ScanProgressCallback = int (*)(void* pParam, int nPercent, int nWeight, int nSecondsLeft,
                                     uint64_t u64CurrentSector, uint64_t u64TotalSectors,
                                     uint64_t u64FilesFound, const char16_t* pText);
using RecoveryProgressCallback = int (*)(void* pParam, int nPercent, int nWeight, int nStatus,
                                         const char16_t* pPath);
using SearchProgressCallback = int (*)(void* pParam, int nPercent, const char16_t* pText);
using PreviewProgressCallback = int (*)(void* pParam, int nPercent, int nStatus);

// Capacity, in UTF-16 units, of the temporary path that PreView copies out.
constexpr int PREVIEW_PATH_CAPACITY = 1024;
