// NTFS file records, attributes and data runs: their byte layout and pure decoders over
// record bytes, shared by the fast and the deep NTFS engines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One data run: a length in clusters and the signed distance of its first cluster from the
// first cluster of the previous run (from cluster 0 for the first run); 0 marks a sparse run.
struct RUNLIST {
    uint64_t u64Length;
    int64_t i64Offset;
};
static_assert(sizeof(RUNLIST) == 16);
static_assert(offsetof(RUNLIST, u64Length) == 0);
static_assert(offsetof(RUNLIST, i64Offset) == 8);

// File record header.
constexpr uint32_t NTFS_FILE_SIGNATURE = 0x454C4946; // "FILE"
constexpr size_t FR_SIGNATURE = 0x00;
constexpr size_t FR_FIRST_ATTRIBUTE = 0x14;
constexpr size_t FR_FLAGS = 0x16;
constexpr size_t FR_BYTES_IN_USE = 0x18;
constexpr size_t FR_BYTES_ALLOCATED = 0x1C;
constexpr size_t FR_BASE_RECORD = 0x20;
constexpr size_t FR_RECORD_NUMBER = 0x2C;
constexpr size_t FR_UPDATE_SEQUENCE = 0x30;
constexpr size_t FR_UPDATE_SEQUENCE_ARRAY = 0x32;
constexpr uint16_t FR_FLAG_IN_USE = 0x0001;
constexpr uint16_t FR_FLAG_DIRECTORY = 0x0002;
// The update sequence protects the last two bytes of every 512-byte block, whatever the
// sector size of the volume.
constexpr size_t NTFS_FIXUP_STRIDE = 512;

// Attribute header.
constexpr size_t ATTR_TYPE = 0x00;
constexpr size_t ATTR_LENGTH = 0x04;
constexpr size_t ATTR_NON_RESIDENT = 0x08;
constexpr size_t ATTR_NAME_LENGTH = 0x09;
constexpr size_t ATTR_CONTENT_LENGTH = 0x10;
constexpr size_t ATTR_LOWEST_VCN = 0x10;
constexpr size_t ATTR_CONTENT_OFFSET = 0x14;
constexpr size_t ATTR_RUNS_OFFSET = 0x20;
constexpr size_t ATTR_ALLOCATED_SIZE = 0x28;
constexpr size_t ATTR_REAL_SIZE = 0x30;
constexpr size_t ATTR_MIN_LENGTH = 0x18;
constexpr uint32_t ATTR_TYPE_ATTRIBUTE_LIST = 0x20;
constexpr uint32_t ATTR_TYPE_FILE_NAME = 0x30;
constexpr uint32_t ATTR_TYPE_DATA = 0x80;
constexpr uint32_t ATTR_TYPE_INDEX_ALLOCATION = 0xA0;
constexpr uint32_t ATTR_TYPE_END = 0xFFFFFFFF;
constexpr uint32_t ATTR_TYPE_FILL = 0xFDFDFDFD;

// File name attribute content (offsets from the content start).
constexpr size_t FN_PARENT_REFERENCE = 0x00;
constexpr size_t FN_CREATE_TIME = 0x08;
constexpr size_t FN_MODIFY_TIME = 0x10;
constexpr size_t FN_ACCESS_TIME = 0x20;
constexpr size_t FN_REAL_SIZE = 0x30;
constexpr size_t FN_NAME_LENGTH = 0x40;
constexpr size_t FN_NAME_SPACE = 0x41;
constexpr size_t FN_NAME = 0x42;
constexpr uint8_t FN_NAME_SPACE_WIN32 = 1;

// Attribute list entry.
constexpr size_t AL_TYPE = 0x00;
constexpr size_t AL_LENGTH = 0x04;
constexpr size_t AL_NAME_LENGTH = 0x06;
constexpr size_t AL_REFERENCE = 0x10;
constexpr size_t AL_MIN_LENGTH = 0x18;

constexpr uint32_t NTFS_ROOT_RECORD = 5;
constexpr uint32_t NTFS_BITMAP_RECORD = 6;
constexpr uint32_t NTFS_FIRST_USER_RECORD = 12;
constexpr uint64_t NTFS_REFERENCE_RECORD_MASK = 0x0000FFFFFFFFFFFFull;

// One attribute met by the walk: where it starts in the record and how long it is.
struct NTFS_ATTRIBUTE {
    size_t nOffset;
    uint32_t nType;
    uint32_t nLength;
    bool bNonResident;
    uint8_t nNameLength;
};

// The decoded content of a file name attribute; the name is UTF-8.
struct NTFS_FILE_NAME {
    uint32_t nParentRecord;
    uint64_t u64CreateTime;
    uint64_t u64ModifyTime;
    uint64_t u64AccessTime;
    uint64_t u64RealSize;
    uint8_t nNameSpace;
    std::string strName;
};

// What a record parser needs from one fixed-up file record: its first file name (parent, times,
// size), the name to show (a later long name replaces the first one), the size of its unnamed
// data stream, and its attribute list (where names and data of a large file may live).
struct NTFS_RECORD_SUMMARY {
    bool bHasName = false;
    NTFS_FILE_NAME firstName{};
    std::string strDisplayName;
    bool bHasDataSize = false;
    uint64_t u64DataSize = 0;
    std::optional<NTFS_ATTRIBUTE> attributeList;
};

// Walks the attributes of a record from its first-attribute offset. Every attribute handed
// out lies whole inside the bound, so its header fields can be read without further checks;
// the walk ends at the end marker, a fill pattern, type 0, a length too short for a header or
// an attribute that would cross the bound.
class CNtfsAttributeWalk {
public:
    CNtfsAttributeWalk(const uint8_t* pRecord, size_t nSize, size_t nBound);
    std::optional<NTFS_ATTRIBUTE> Next();

private:
    const uint8_t* m_pRecord;
    size_t m_nBound;
    size_t m_nPos;
};

// The first attribute of the type; for data only the unnamed stream counts.
std::optional<NTFS_ATTRIBUTE> FindNtfsAttribute(const uint8_t* pRecord, size_t nSize, size_t nBound,
                                                uint32_t nType);

bool HasNtfsFileSignature(const uint8_t* pData, size_t nSize);
uint16_t GetNtfsRecordFlags(const uint8_t* pRecord, size_t nSize);
// Bytes in use, capped to the buffer: the bound of a record parser's walk.
size_t GetNtfsRecordBytesInUse(const uint8_t* pRecord, size_t nSize);
uint32_t GetNtfsRecordNumber(const uint8_t* pRecord, size_t nSize);

// Repairs the protected tail of each 512-byte block of a record from its update sequence
// array. 0, or -1 when the buffer is absent, looks empty or cannot hold the array.
int FixUpNtfsRecord(uint8_t* pRecord, size_t nSize, size_t nRecordSize);

// Appends the runs of one non-resident attribute (given with the bytes that follow it in its
// buffer). Decoding stops at the first malformed run header and at a run that would leave the
// attribute or the buffer.
void DecodeNtfsRunList(const uint8_t* pAttribute, size_t nSize, std::vector<RUNLIST>& vecRuns);

// Appends the runs of a further extent of the same stream. An extent's runs start again from
// cluster 0, so its first located run is re-based on the position the list has reached.
void AppendNtfsRunExtent(std::vector<RUNLIST>& vecRuns, const std::vector<RUNLIST>& vecExtent);

// The content of a resident attribute, or nullopt when it leaves the attribute.
std::optional<std::vector<uint8_t>> GetNtfsResidentContent(const uint8_t* pRecord, size_t nSize,
                                                           const NTFS_ATTRIBUTE& attr);
// Real size of a non-resident attribute's stream, or the content length of a resident one.
std::optional<uint64_t> GetNtfsAttributeDataSize(const uint8_t* pRecord, size_t nSize,
                                                 const NTFS_ATTRIBUTE& attr);
std::optional<NTFS_FILE_NAME> DecodeNtfsFileName(const uint8_t* pRecord, size_t nSize,
                                                 const NTFS_ATTRIBUTE& attr);
// Summarises a fixed-up record, walking its attributes within its bytes in use.
NTFS_RECORD_SUMMARY SummarizeNtfsRecord(const uint8_t* pRecord, size_t nSize);
// Adds one more file name of the same file: the first one met stays the node's identity.
void AddNtfsFileName(NTFS_RECORD_SUMMARY& summary, NTFS_FILE_NAME name);
// True for an extension record: one that holds attributes of another (base) record.
bool IsNtfsExtensionRecord(const uint8_t* pRecord, size_t nSize);
// Record numbers that an attribute list's content names for the type (for data only the
// unnamed stream), in list order, each once.
std::vector<uint32_t> GetNtfsListedRecords(const uint8_t* pList, size_t nSize, uint32_t nType);

// True when the buffer holds a plausible file record of the given size (before any fix-up).
bool IsNtfsFileRecord(const uint8_t* pData, size_t nSize, int nRecordSize);
// Sectors per cluster of a freshly formatted volume of that many sectors.
int GetDefaultNtfsSectorPerCluster(uint64_t u64SectorCount, uint32_t nBytesPerSector);
