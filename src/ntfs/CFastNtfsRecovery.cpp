// Fast NTFS scan: the $MFT read through its own runs, deleted records filed under their folders,
// then copy-out, preview and the free-cluster map of the volume.
#include "ntfs/CFastNtfsRecovery.h"

#include "device/BootSectorLayout.h"
#include "ntfs/CNtfsDataExtractor.h"
#include "store/CLogFileManager.h"
#include "util/ByteView.h"
#include "util/CSafeOutputFile.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

constexpr unsigned int MAX_PLAIN_SECTORS_PER_CLUSTER = 0x80;
constexpr unsigned int MAX_CLUSTER_SHIFT = 12;

constexpr int ESTIMATE_INTERVAL_MS = 5000;
// An attribute list longer than this is not a real one.
constexpr uint64_t MAX_ATTRIBUTE_LIST_BYTES = 256 * 1024;
constexpr const char* LOST_FOLDER_FORMAT = "LostFolder%u";

bool IsSupportedSectorSize(int nBytes) {
    return nBytes == 512 || nBytes == 1024 || nBytes == 2048 || nBytes == 4096;
}

bool IsPowerOfTwo(unsigned int n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// First clear (bClear) or set bit at or after nBit, whole bytes of the other kind skipped.
uint64_t FindBit(const std::vector<uint8_t>& vecBitmap, uint64_t nBit, bool bClear) {
    const uint64_t nBits = vecBitmap.size() * 8;
    const uint8_t nSkipByte = bClear ? 0xFF : 0x00;
    while (nBit < nBits) {
        if (nBit % 8 == 0 && vecBitmap[nBit / 8] == nSkipByte) {
            nBit += 8;
            continue;
        }
        bool bSet = (vecBitmap[nBit / 8] >> (nBit % 8) & 1) != 0;
        if (bSet != bClear)
            return nBit;
        ++nBit;
    }
    return nBits;
}

} // namespace

CFastNtfsRecovery::CFastNtfsRecovery() = default;

CFastNtfsRecovery::~CFastNtfsRecovery() = default;

int CFastNtfsRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                            char16_t wcDriveLetter) {
    if (llStartSector < 0 || llSectorCount < 0)
        return ERROR_INVALID_PARAMETER;
    uint64_t u64Limit = static_cast<uint64_t>(llStartSector) + static_cast<uint64_t>(llSectorCount);
    if (int rc = m_diskReader.Init(nDiskNo, u64Limit); rc != 0)
        return rc;
    uint8_t boot[BOOT_READ_BYTES];
    int nSectors = BOOT_READ_BYTES / CNtfsParse::DEFAULT_BYTES_PER_SECTOR;
    if (int rc = m_diskReader.ReadData(boot, nSectors, llStartSector,
                                       CNtfsParse::DEFAULT_BYTES_PER_SECTOR, nullptr);
        rc != 0)
        return rc;
    uint64_t u64StartByte =
        static_cast<uint64_t>(llStartSector) * CNtfsParse::DEFAULT_BYTES_PER_SECTOR;
    uint64_t u64Bytes = static_cast<uint64_t>(llSectorCount) * CNtfsParse::DEFAULT_BYTES_PER_SECTOR;
    if (int rc = SetUpVolume(boot, u64StartByte, u64Bytes, wcDriveLetter); rc != 0)
        return rc;
    if (m_nBytesPerSector != CNtfsParse::DEFAULT_BYTES_PER_SECTOR)
        if (int rc = m_diskReader.Init(nDiskNo, m_u64PartitionStart + m_u64SectorCount); rc != 0)
            return rc;
    ReadMftRuns();
    return 0;
}

int CFastNtfsRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    if (pDevicePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (int rc = m_diskReader.Init(pDevicePath, 0); rc != 0)
        return rc;
    struct stat st {};
    if (fstat(m_diskReader.GetFd(), &st) != 0)
        return errno;
    uint64_t u64Bytes = static_cast<uint64_t>(st.st_size);
    if (int rc = m_diskReader.Init(pDevicePath, u64Bytes / CNtfsParse::DEFAULT_BYTES_PER_SECTOR);
        rc != 0)
        return rc;
    uint8_t boot[BOOT_READ_BYTES];
    if (int rc = m_diskReader.ReadData(boot, BOOT_READ_BYTES / CNtfsParse::DEFAULT_BYTES_PER_SECTOR,
                                       0, CNtfsParse::DEFAULT_BYTES_PER_SECTOR, nullptr);
        rc != 0)
        return rc;
    if (int rc = SetUpVolume(boot, 0, u64Bytes, wcDriveLetter); rc != 0)
        return rc;
    if (m_nBytesPerSector != CNtfsParse::DEFAULT_BYTES_PER_SECTOR)
        if (int rc = m_diskReader.Init(pDevicePath, m_u64SectorCount); rc != 0)
            return rc;
    ReadMftRuns();
    return 0;
}

// Takes the geometry from the boot sector; every later sector number is in units of the
// volume's own sector size. An implausible boot sector is refused.
int CFastNtfsRecovery::SetUpVolume(const uint8_t* pBoot, uint64_t u64StartByte, uint64_t u64Bytes,
                                   char16_t wcDriveLetter) {
    int nBytesPerSector = LoadU16LE(pBoot + BPB_BYTS_PER_SEC);
    if (nBytesPerSector == 0)
        nBytesPerSector = CNtfsParse::DEFAULT_BYTES_PER_SECTOR;
    unsigned int nSectorPerCluster = pBoot[BPB_SEC_PER_CLUS];
    // Clusters of more than 128 sectors are stored as a negative power of two.
    if (nSectorPerCluster > MAX_PLAIN_SECTORS_PER_CLUSTER &&
        256 - nSectorPerCluster <= MAX_CLUSTER_SHIFT)
        nSectorPerCluster = 1u << (256 - nSectorPerCluster);
    if (!IsSupportedSectorSize(nBytesPerSector) || !IsPowerOfTwo(nSectorPerCluster)) {
        DebugLog("ntfs: boot sector refused: %d bytes per sector, %u sectors per cluster\n",
                 nBytesPerSector, nSectorPerCluster);
        return ERROR_INVALID_PARAMETER;
    }
    m_nBytesPerSector = nBytesPerSector;
    m_nSectorPerCluster = static_cast<int>(nSectorPerCluster);
    m_u64PartitionStart = u64StartByte / m_nBytesPerSector;
    m_u64SectorCount = u64Bytes / m_nBytesPerSector;
    uint64_t u64MftCluster = LoadU64LE(pBoot + NTFS_MFT_CLUSTER);
    if (u64MftCluster > m_u64SectorCount / nSectorPerCluster)
        return ERROR_INVALID_PARAMETER;
    m_u64MftStart = u64MftCluster * nSectorPerCluster + m_u64PartitionStart;
    m_wcDriveLetter = wcDriveLetter;
    m_ntfsParse.Init(m_nBytesPerSector);
    m_nSectorsPerRecord = m_ntfsParse.GetSectorsPerRecord();
    m_nRecordSize = m_ntfsParse.GetRecordSize();
    m_vecChunk.assign(static_cast<size_t>(m_nRecordSize) * RECORDS_PER_CHUNK, 0);
    return 0;
}

void CFastNtfsRecovery::ReadMftRuns() {
    m_vecMftRuns.clear();
    if (int rc = GetRunListInfo(m_u64MftStart, ATTR_TYPE_DATA, m_vecMftRuns); rc != 0)
        DebugLog("ntfs: $MFT runs not read at sector %llu (0x%llx): %d\n",
                 static_cast<unsigned long long>(m_u64MftStart),
                 static_cast<unsigned long long>(m_u64MftStart), rc);
}

int CFastNtfsRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                    RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                    int nWeight) {
    m_callbacks.Init(pScanCallback, pRecoveryCallback, pParam, nWeight);
    return 0;
}

int CFastNtfsRecovery::ScanDevice(const char16_t* pResultName) {
    m_vecPendingDirs.clear();
    m_setPendingDirs.clear();
    m_mapDirParent.clear();
    m_pStore = std::make_unique<CScanResultFileManager>();
    if (m_callbacks.SearchCallback() != nullptr)
        m_pStore->InitSearchCallBack(m_callbacks.SearchCallback(), m_callbacks.SearchParam());
    if (pResultName != nullptr && pResultName[0] != 0)
        return m_pStore->Init(pResultName);
    SYSTEMTIME now{};
    GetLocalSystemTime(&now);
    std::u16string strName = CLogFileManager::MakeStoreName(
        STORE_PREFIX_FAST, static_cast<long long>(m_u64PartitionStart), now);
    if (int rc = m_pStore->Init(strName.c_str()); rc != 0)
        return rc;
    // A scan of the same volume in the same minute has the same name; a fresh scan replaces
    // that result instead of adding its nodes to it a second time.
    if (m_pStore->GetFileIndex() != 0) {
        std::vector<std::string> vecOld = {m_pStore->GetNodeFilePath(),
                                           m_pStore->GetRelationFilePath(),
                                           m_pStore->GetDirInfoFilePath()};
        m_pStore = std::make_unique<CScanResultFileManager>();
        if (m_callbacks.SearchCallback() != nullptr)
            m_pStore->InitSearchCallBack(m_callbacks.SearchCallback(), m_callbacks.SearchParam());
        for (const std::string& strOld : vecOld)
            unlink(strOld.c_str());
        if (int rc = m_pStore->Init(strName.c_str()); rc != 0)
            return rc;
    }
    int rc = FastScanDevice();
    m_pStore->FlushBufToFile();
    return rc;
}

int CFastNtfsRecovery::ReportScan(int nPercent, int nSecondsLeft, uint64_t u64Done,
                                  uint64_t u64Total) {
    return m_callbacks.ReportScan(nPercent, m_callbacks.Weight(), nSecondsLeft, u64Done, u64Total,
                                  m_pStore->GetFileIndex(), nullptr);
}

int CFastNtfsRecovery::FastScanDevice() {
    long long llStart = GetTickCountMs();
    long long llLastEstimate = llStart;
    uint64_t u64Total = 0;
    for (const RUNLIST& run : m_vecMftRuns)
        u64Total += run.u64Length * m_nSectorPerCluster;
    uint64_t u64Done = 0;
    int nSecondsLeft = -1;
    const uint64_t u64ChunkSectors = m_vecChunk.size() / m_nBytesPerSector;
    int64_t i64Cluster = 0;
    for (const RUNLIST& run : m_vecMftRuns) {
        i64Cluster += run.i64Offset;
        uint64_t u64RunSectors = run.u64Length * m_nSectorPerCluster;
        // A sparse or negative run holds no records; reading it would read another place.
        if (run.i64Offset == 0 || i64Cluster < 0) {
            u64Done += u64RunSectors;
            continue;
        }
        uint64_t u64Sector =
            m_u64PartitionStart + static_cast<uint64_t>(i64Cluster) * m_nSectorPerCluster;
        for (uint64_t u64Step = 0; u64Step < u64RunSectors; u64Step += u64ChunkSectors) {
            uint32_t nSectors =
                static_cast<uint32_t>(std::min(u64ChunkSectors, u64RunSectors - u64Step));
            if (int rc = ReadFileAndParseRecordInfo(u64Sector + u64Step, nSectors); rc != 0)
                return rc;
            u64Done += nSectors;
            long long llNow = GetTickCountMs();
            if (llNow - llLastEstimate >= ESTIMATE_INTERVAL_MS && m_callbacks.Weight() == 100) {
                llLastEstimate = llNow;
                uint64_t u64Elapsed = static_cast<uint64_t>((llNow - llStart) / 1000);
                uint64_t u64Rate = u64Elapsed == 0 ? 0 : u64Done * m_nBytesPerSector / u64Elapsed;
                if (u64Rate == 0)
                    u64Rate = 1;
                nSecondsLeft = static_cast<int>((u64Total - std::min(u64Done, u64Total)) *
                                                m_nBytesPerSector / u64Rate);
            }
            int nPercent = u64Total == 0
                               ? 100
                               : static_cast<int>(std::min(u64Done, u64Total) * 100 / u64Total);
            if (int rc = ReportScan(nPercent, nSecondsLeft, u64Done, u64Total); rc != 0)
                return rc;
        }
    }
    // Folders met on the way up; the list grows while it is walked.
    std::vector<uint8_t> vecRecord;
    for (size_t i = 0; i < m_vecPendingDirs.size(); ++i) {
        uint32_t nRecord = m_vecPendingDirs[i];
        uint64_t u64Sector = 0;
        if (!GetRecordSector(nRecord, u64Sector) || ReadRecordAt(u64Sector, vecRecord) != 0)
            vecRecord.assign(m_nRecordSize, 0);
        ParseRecordInfo(vecRecord.data(), vecRecord.size(), PARSE_DIRECTORY, nRecord, u64Sector);
    }
    return ReportScan(100, nSecondsLeft, u64Total, u64Total);
}

int CFastNtfsRecovery::ReadFileAndParseRecordInfo(uint64_t u64Sector, uint32_t nSectors) {
    int rc = m_diskReader.ReadData(m_vecChunk.data(), static_cast<int>(nSectors),
                                   static_cast<long long>(u64Sector), m_nBytesPerSector, nullptr);
    if (rc != 0)
        return rc;
    uint32_t nRecords = nSectors / m_nSectorsPerRecord;
    for (uint32_t i = 0; i < nRecords; ++i) {
        uint8_t* pRecord = m_vecChunk.data() + static_cast<size_t>(i) * m_nRecordSize;
        ParseRecordInfo(pRecord, m_nRecordSize, PARSE_FILE,
                        GetNtfsRecordNumber(pRecord, m_nRecordSize),
                        u64Sector + uint64_t(i) * m_nSectorsPerRecord);
    }
    return 0;
}

void CFastNtfsRecovery::FillNodeBase(FILE_NODE& node) const {
    std::memset(&node, 0, sizeof(node));
    node.wcDriveLetter = m_wcDriveLetter;
    node.nEngineType = ENGINE_FAST_NTFS;
}

void CFastNtfsRecovery::CreateLostFolderNode(uint32_t nRecord, uint32_t nHealth) {
    FILE_NODE* pNode = m_pStore->CreateFileNode();
    if (pNode == nullptr)
        return;
    FillNodeBase(*pNode);
    pNode->bIsDir = 1;
    pNode->nDataHealth = nHealth;
    pNode->nClusterNo = nRecord;
    pNode->nClusterBytes = CLUSTER_BYTES_NONE;
    std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), LOST_FOLDER_FORMAT, nRecord);
    pNode->nFileIndex = m_pStore->GetFileIndex();
    m_pStore->AddChildren(NTFS_ROOT_RECORD, 0, pNode->nFileIndex, nRecord, pNode->szFileName);
}

// File mode takes records that are neither in use nor folders; directory mode makes the node of
// a folder met on the way up, or a "LostFolder" when its record no longer is a folder.
int CFastNtfsRecovery::ParseRecordInfo(uint8_t* pRecord, size_t nSize, PARSE_MODE nMode,
                                       uint32_t nRecord, uint64_t u64Sector) {
    uint16_t nFlags = GetNtfsRecordFlags(pRecord, nSize);
    if (nMode == PARSE_FILE && nFlags != 0)
        return 0;
    bool bRecord =
        HasNtfsFileSignature(pRecord, nSize) && m_ntfsParse.FileRecordFixUp(pRecord, nSize) == 0;
    if (nMode == PARSE_DIRECTORY && (!bRecord || (nFlags & FR_FLAG_DIRECTORY) == 0)) {
        if (nRecord >= NTFS_FIRST_USER_RECORD)
            CreateLostFolderNode(nRecord, bRecord ? 0 : 1);
        return bRecord ? 0 : NTFS_ERROR_NOT_FILE_RECORD;
    }
    if (!bRecord)
        return NTFS_ERROR_NOT_FILE_RECORD;
    // An extension record belongs to the file of its base record.
    if (nRecord < NTFS_FIRST_USER_RECORD || IsNtfsExtensionRecord(pRecord, nSize))
        return 0;

    NTFS_RECORD_SUMMARY summary = SummarizeNtfsRecord(pRecord, nSize);
    if (!summary.bHasName && summary.attributeList)
        AddListedFileNames(pRecord, nSize, *summary.attributeList, summary);
    if (!summary.bHasName)
        return 0;
    const NTFS_FILE_NAME& name = summary.firstName;
    FILE_NODE node;
    FillNodeBase(node);
    node.bIsDir = nMode == PARSE_DIRECTORY ? 1 : 0;
    node.bIsDeleted = (nFlags & FR_FLAG_IN_USE) == 0 ? 1 : 0;
    node.nClusterNo = nRecord;
    node.nClusterBytes = static_cast<uint32_t>(m_nBytesPerSector * m_nSectorPerCluster);
    node.u64CreateTime = name.u64CreateTime;
    node.u64ModifyTime = name.u64ModifyTime;
    node.u64AccessTime = name.u64AccessTime;
    node.u64FileSize = summary.bHasDataSize ? summary.u64DataSize : name.u64RealSize;
    node.u64PartitionStartSector = m_u64PartitionStart;
    node.u64LocationSector = u64Sector;
    SetFileNodeName(node, summary.strDisplayName);
    uint32_t nParent = name.nParentRecord == 0 ? NTFS_ROOT_RECORD : name.nParentRecord;
    uint32_t nGroup = GetRootParentDirIndex(nParent);
    // A folder has no data to judge; a damaged mark would hide a folder named like a picture.
    node.nDataHealth = nMode == PARSE_FILE ? IsFileDataHealth(node, pRecord, nSize) : 1;
    FILE_NODE* pNode = m_pStore->CreateFileNode();
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::memcpy(pNode, &node, sizeof(node));
    pNode->nFileIndex = m_pStore->GetFileIndex();
    m_pStore->AddChildren(nParent, nGroup, pNode->nFileIndex, nRecord,
                          nMode == PARSE_DIRECTORY ? pNode->szFileName : nullptr);
    return 0;
}

// Climbs from a folder towards the root, queueing every folder met for the second pass; the
// result is the number of folders between the file and the root (or the first non-folder).
uint32_t CFastNtfsRecovery::GetRootParentDirIndex(uint32_t nDirRecord) {
    uint32_t nGroup = 0;
    std::unordered_set<uint32_t> setVisited;
    while (nDirRecord != NTFS_ROOT_RECORD) {
        setVisited.insert(nDirRecord);
        if (m_setPendingDirs.insert(nDirRecord).second)
            m_vecPendingDirs.push_back(nDirRecord);
        ++nGroup;
        uint32_t nParent = GetDirParent(nDirRecord);
        if (nParent == NO_PARENT || setVisited.count(nParent) != 0)
            break;
        nDirRecord = nParent;
    }
    return nGroup;
}

// The parent of a folder record, or NO_PARENT when the record ends a climb (unreadable, not a
// folder, nameless). Each folder is read once per scan, however many files it holds.
uint32_t CFastNtfsRecovery::GetDirParent(uint32_t nDirRecord) {
    auto it = m_mapDirParent.find(nDirRecord);
    if (it != m_mapDirParent.end())
        return it->second;
    uint32_t nParent = NO_PARENT;
    std::vector<uint8_t> vecRecord;
    if (ReadFixedUpRecord(nDirRecord, vecRecord) == 0 &&
        (GetNtfsRecordFlags(vecRecord.data(), vecRecord.size()) & FR_FLAG_DIRECTORY) != 0) {
        auto attr = FindNtfsAttribute(vecRecord.data(), vecRecord.size(),
                                      GetNtfsRecordBytesInUse(vecRecord.data(), vecRecord.size()),
                                      ATTR_TYPE_FILE_NAME);
        if (auto name =
                attr ? DecodeNtfsFileName(vecRecord.data(), vecRecord.size(), *attr) : std::nullopt)
            nParent = name->nParentRecord == 0 ? NTFS_ROOT_RECORD : name->nParentRecord;
    }
    m_mapDirParent.emplace(nDirRecord, nParent);
    return nParent;
}

// The record is the node's own, already read: only a stream kept in other records is looked
// up again before the shared judgement.
uint32_t CFastNtfsRecovery::IsFileDataHealth(const FILE_NODE& node, const uint8_t* pRecord,
                                             size_t nSize) {
    CNtfsDataExtractor extractor(m_diskReader, *this, m_nBytesPerSector);
    auto attr =
        FindNtfsAttribute(pRecord, nSize, GetNtfsRecordBytesInUse(pRecord, nSize), ATTR_TYPE_DATA);
    std::vector<RUNLIST> vecRuns;
    if (attr && !attr->bNonResident) {
        auto content = GetNtfsResidentContent(pRecord, nSize, *attr);
        return content ? extractor.JudgeDataHealth(node, &*content, vecRuns) : 1;
    }
    if (attr)
        m_ntfsParse.GetRunList(pRecord + attr->nOffset, attr->nLength, vecRuns);
    else if (GetDataRuns(node, vecRuns) != 0)
        return 1;
    return extractor.JudgeDataHealth(node, nullptr, vecRuns);
}

bool CFastNtfsRecovery::GetRecordSector(uint32_t nRecord, uint64_t& u64Sector) const {
    const uint64_t u64Target = uint64_t(nRecord) * m_nSectorsPerRecord;
    uint64_t u64First = 0;
    int64_t i64Cluster = 0;
    for (const RUNLIST& run : m_vecMftRuns) {
        i64Cluster += run.i64Offset;
        uint64_t u64RunSectors = run.u64Length * m_nSectorPerCluster;
        if (u64Target >= u64First && u64Target - u64First < u64RunSectors) {
            if (run.i64Offset == 0 || i64Cluster < 0)
                return false;
            u64Sector = u64Target - u64First +
                        static_cast<uint64_t>(i64Cluster) * m_nSectorPerCluster +
                        m_u64PartitionStart;
            return true;
        }
        u64First += u64RunSectors;
    }
    return false;
}

int CFastNtfsRecovery::ReadRecordAt(uint64_t u64Sector, std::vector<uint8_t>& vecRecord) {
    vecRecord.assign(m_nRecordSize, 0);
    return m_diskReader.ReadData(vecRecord.data(), m_nSectorsPerRecord,
                                 static_cast<long long>(u64Sector), m_nBytesPerSector, nullptr);
}

int CFastNtfsRecovery::GetFileRecordBuf(uint32_t nRecord, std::vector<uint8_t>& vecRecord) {
    uint64_t u64Sector = 0;
    if (!GetRecordSector(nRecord, u64Sector))
        return NTFS_ERROR_NOT_FILE_RECORD;
    return ReadRecordAt(u64Sector, vecRecord);
}

int CFastNtfsRecovery::GetRunListInfo(uint64_t u64RecordSector, uint32_t nType,
                                      std::vector<RUNLIST>& vecRuns) {
    std::vector<uint8_t> vecRecord;
    if (int rc = ReadRecordAt(u64RecordSector, vecRecord); rc != 0)
        return rc;
    if (!HasNtfsFileSignature(vecRecord.data(), vecRecord.size()) ||
        m_ntfsParse.FileRecordFixUp(vecRecord.data(), vecRecord.size()) != 0)
        return NTFS_ERROR_NOT_FILE_RECORD;
    const uint8_t* pRecord = vecRecord.data();
    CNtfsAttributeWalk walk(pRecord, vecRecord.size(),
                            GetNtfsRecordBytesInUse(pRecord, vecRecord.size()));
    std::optional<NTFS_ATTRIBUTE> list;
    uint32_t nOwnRecord = GetNtfsRecordNumber(pRecord, vecRecord.size());
    while (auto attr = walk.Next()) {
        if (attr->nType == ATTR_TYPE_ATTRIBUTE_LIST)
            list = attr;
        if (attr->nType != nType || (nType == ATTR_TYPE_DATA && attr->nNameLength != 0))
            continue;
        if (!attr->bNonResident)
            return 0;
        m_ntfsParse.GetRunList(pRecord + attr->nOffset, attr->nLength, vecRuns);
        // The list comes first in a record; it names the extents held by other records.
        if (list)
            Get0X20RunList(pRecord, vecRecord.size(), *list, nType, nOwnRecord, vecRuns);
        return 0;
    }
    if (!list)
        return NTFS_ERROR_ATTRIBUTE_NOT_FOUND;
    Get0X20RunList(pRecord, vecRecord.size(), *list, nType, nOwnRecord, vecRuns);
    return 0;
}

// Follows every entry of the list that names an extent of the stream in another record, in
// list order; each extent's runs are re-based so the whole stream reads as one list.
int CFastNtfsRecovery::Get0X20RunList(const uint8_t* pRecord, size_t nSize,
                                      const NTFS_ATTRIBUTE& list, uint32_t nType,
                                      uint32_t nOwnRecord, std::vector<RUNLIST>& vecRuns) {
    std::vector<uint8_t> vecList;
    if (int rc = ReadAttributeListBytes(pRecord, nSize, list, vecList); rc != 0)
        return rc;
    std::vector<uint8_t> vecExtent;
    for (uint32_t nRecord : GetNtfsListedRecords(vecList.data(), vecList.size(), nType)) {
        if (nRecord == nOwnRecord || ReadFixedUpRecord(nRecord, vecExtent) != 0)
            continue;
        auto attr =
            FindNtfsAttribute(vecExtent.data(), vecExtent.size(),
                              GetNtfsRecordBytesInUse(vecExtent.data(), vecExtent.size()), nType);
        if (!attr || !attr->bNonResident)
            continue;
        std::vector<RUNLIST> vecExtentRuns;
        m_ntfsParse.GetRunList(vecExtent.data() + attr->nOffset, attr->nLength, vecExtentRuns);
        AppendNtfsRunExtent(vecRuns, vecExtentRuns);
    }
    return 0;
}

// The names of a file whose base record lost them to extension records.
void CFastNtfsRecovery::AddListedFileNames(const uint8_t* pRecord, size_t nSize,
                                           const NTFS_ATTRIBUTE& list,
                                           NTFS_RECORD_SUMMARY& summary) {
    std::vector<uint8_t> vecList;
    if (ReadAttributeListBytes(pRecord, nSize, list, vecList) != 0)
        return;
    std::vector<uint8_t> vecExtent;
    uint32_t nOwnRecord = GetNtfsRecordNumber(pRecord, nSize);
    for (uint32_t nRecord :
         GetNtfsListedRecords(vecList.data(), vecList.size(), ATTR_TYPE_FILE_NAME)) {
        if (nRecord == nOwnRecord || ReadFixedUpRecord(nRecord, vecExtent) != 0)
            continue;
        CNtfsAttributeWalk walk(vecExtent.data(), vecExtent.size(),
                                GetNtfsRecordBytesInUse(vecExtent.data(), vecExtent.size()));
        while (auto attr = walk.Next())
            if (attr->nType == ATTR_TYPE_FILE_NAME)
                if (auto name = DecodeNtfsFileName(vecExtent.data(), vecExtent.size(), *attr))
                    AddNtfsFileName(summary, std::move(*name));
    }
}

int CFastNtfsRecovery::ReadFixedUpRecord(uint32_t nRecord, std::vector<uint8_t>& vecRecord) {
    if (int rc = GetFileRecordBuf(nRecord, vecRecord); rc != 0)
        return rc;
    if (!HasNtfsFileSignature(vecRecord.data(), vecRecord.size()) ||
        m_ntfsParse.FileRecordFixUp(vecRecord.data(), vecRecord.size()) != 0)
        return NTFS_ERROR_NOT_FILE_RECORD;
    return 0;
}

int CFastNtfsRecovery::ReadAttributeListBytes(const uint8_t* pRecord, size_t nSize,
                                              const NTFS_ATTRIBUTE& list,
                                              std::vector<uint8_t>& vecList) {
    if (!list.bNonResident) {
        auto content = GetNtfsResidentContent(pRecord, nSize, list);
        if (!content)
            return NTFS_ERROR_ATTRIBUTE_NOT_FOUND;
        vecList = std::move(*content);
        return 0;
    }
    auto size = GetNtfsAttributeDataSize(pRecord, nSize, list);
    if (!size)
        return NTFS_ERROR_ATTRIBUTE_NOT_FOUND;
    std::vector<RUNLIST> vecListRuns;
    m_ntfsParse.GetRunList(pRecord + list.nOffset, list.nLength, vecListRuns);
    return ReadClusters(vecListRuns, std::min(*size, MAX_ATTRIBUTE_LIST_BYTES), vecList);
}

// Reads the first u64MaxBytes of the clusters of a run list (sparse runs as zeros).
int CFastNtfsRecovery::ReadClusters(const std::vector<RUNLIST>& vecRuns, uint64_t u64MaxBytes,
                                    std::vector<uint8_t>& vecOut) {
    vecOut.clear();
    FILE_NODE node;
    FillNodeBase(node);
    node.nClusterBytes = static_cast<uint32_t>(m_nBytesPerSector * m_nSectorPerCluster);
    node.u64PartitionStartSector = m_u64PartitionStart;
    uint64_t u64RunBytes = 0;
    for (const RUNLIST& run : vecRuns)
        u64RunBytes += run.u64Length * node.nClusterBytes;
    uint64_t u64Bytes = std::min(u64MaxBytes, u64RunBytes);
    CNtfsDataExtractor extractor(m_diskReader, *this, m_nBytesPerSector);
    return extractor.ReadRuns(node, vecRuns, u64Bytes, [&](const uint8_t* pData, size_t nBytes) {
        vecOut.insert(vecOut.end(), pData, pData + nBytes);
        return 0;
    });
}

int CFastNtfsRecovery::GetAttr0x80Data(uint64_t u64RecordSector, std::vector<uint8_t>& vecData) {
    std::vector<uint8_t> vecRecord;
    if (int rc = ReadRecordAt(u64RecordSector, vecRecord); rc != 0)
        return rc;
    if (!HasNtfsFileSignature(vecRecord.data(), vecRecord.size()) ||
        m_ntfsParse.FileRecordFixUp(vecRecord.data(), vecRecord.size()) != 0)
        return NTFS_ERROR_NOT_RESIDENT;
    auto attr = FindNtfsAttribute(vecRecord.data(), vecRecord.size(),
                                  GetNtfsRecordBytesInUse(vecRecord.data(), vecRecord.size()),
                                  ATTR_TYPE_DATA);
    if (!attr || attr->bNonResident)
        return NTFS_ERROR_NOT_RESIDENT;
    auto content = GetNtfsResidentContent(vecRecord.data(), vecRecord.size(), *attr);
    if (!content)
        return ERROR_INVALID_PARAMETER;
    vecData = std::move(*content);
    return 0;
}

int CFastNtfsRecovery::GetBitMapRealBytesSize(uint64_t u64RecordSector, uint64_t& u64Size) {
    std::vector<uint8_t> vecRecord;
    if (int rc = ReadRecordAt(u64RecordSector, vecRecord); rc != 0)
        return rc;
    if (!HasNtfsFileSignature(vecRecord.data(), vecRecord.size()) ||
        m_ntfsParse.FileRecordFixUp(vecRecord.data(), vecRecord.size()) != 0)
        return NTFS_ERROR_NOT_FILE_RECORD;
    auto attr = FindNtfsAttribute(vecRecord.data(), vecRecord.size(),
                                  GetNtfsRecordBytesInUse(vecRecord.data(), vecRecord.size()),
                                  ATTR_TYPE_DATA);
    auto size =
        attr ? GetNtfsAttributeDataSize(vecRecord.data(), vecRecord.size(), *attr) : std::nullopt;
    if (!size)
        return ERROR_INVALID_PARAMETER;
    u64Size = *size;
    return 0;
}

int CFastNtfsRecovery::GetResidentData(const FILE_NODE& node, std::vector<uint8_t>& vecData) {
    return GetAttr0x80Data(node.u64LocationSector, vecData);
}

int CFastNtfsRecovery::GetDataRuns(const FILE_NODE& node, std::vector<RUNLIST>& vecRuns) {
    vecRuns.clear();
    return GetRunListInfo(node.u64LocationSector, ATTR_TYPE_DATA, vecRuns);
}

int CFastNtfsRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                           std::vector<FILE_NODE>& vecChildren) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    uint32_t nKey =
        pParent == nullptr || pParent->nClusterNo == 0 ? NTFS_ROOT_RECORD : pParent->nClusterNo;
    m_pStore->FlushBufToFile();
    return m_pStore->GetChildrenFileNode(MakeRelationKey(nDepth, nKey), vecChildren);
}

int CFastNtfsRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                            unsigned int& nCount) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    nCount = 0;
    if (!m_pStore)
        return 0;
    uint32_t nKey =
        pParent == nullptr || pParent->nClusterNo == 0 ? NTFS_ROOT_RECORD : pParent->nClusterNo;
    m_pStore->FlushBufToFile();
    return m_pStore->GetChildrenFileCount(MakeRelationKey(nDepth, nKey), nCount);
}

unsigned int CFastNtfsRecovery::GetLostFileCount() {
    return m_pStore ? m_pStore->GetFileIndex() : 0;
}

int CFastNtfsRecovery::GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut, int nCapacity) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_pStore ? m_pStore->GetParentDirPath(pNode, pOut, nCapacity) : 0;
}

int CFastNtfsRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback, void* pParam) {
    m_callbacks.InitSearch(pSearchCallback, pParam);
    return m_pStore ? m_pStore->InitSearchCallBack(pSearchCallback, pParam) : 0;
}

int CFastNtfsRecovery::SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) {
    return m_pStore ? m_pStore->SearchFileNodeInfo(pKey, vecOut) : 0;
}

int CFastNtfsRecovery::OpenSearchCursor(const char16_t* pKey,
                                        std::unique_ptr<ISearchCursor>& pCursor) {
    if (!m_pStore)
        return IFileRecoveryParse::OpenSearchCursor(pKey, pCursor);
    return m_pStore->OpenSearchCursor(pKey, pCursor);
}

int CFastNtfsRecovery::GetFileNodeByIndex(unsigned int, unsigned int nFileIndex, FILE_NODE* pOut) {
    return m_pStore ? m_pStore->ReadFileNode(nFileIndex, pOut) : ERROR_INVALID_PARAMETER;
}

// A folder's children are filed one level below the folder's own depth in the tree.
unsigned int CFastNtfsRecovery::GetFolderChildGroup(const FILE_NODE& folder) {
    std::vector<FILE_NODE> vecAncestors;
    if (!m_pStore || m_pStore->GetParentFileNode(&folder, vecAncestors) != 0)
        return 1;
    return static_cast<unsigned int>(vecAncestors.size()) + 1;
}

int CFastNtfsRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath,
                                    int /*nBaseDepth: groups come from the tree*/) {
    if (pNode == nullptr || pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir == 0) {
        std::u16string strFree = Ansi2Unicode(GetRealFileName(Unicode2Ansi(pTargetPath)).c_str());
        return SaveDataToTargetFile(pNode, strFree.c_str());
    }
    if (!m_pFolderQueue)
        m_pFolderQueue = std::make_unique<CFolderRecoveryQueue>(
            *this,
            [this](FILE_NODE* pChild, const char16_t* pPath) {
                return SaveDataToTargetFile(pChild, pPath);
            },
            [this](const FILE_NODE& folder) { return GetFolderChildGroup(folder); });
    return m_pFolderQueue->SaveFolder(*pNode, pTargetPath);
}

int CFastNtfsRecovery::SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pTargetPath) {
    if (pNode == nullptr || pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir != 0)
        return MakeRecoveryDir(Unicode2Ansi(pTargetPath));
    CNtfsDataExtractor extractor(m_diskReader, *this, m_nBytesPerSector);
    return extractor.SaveToFile(*pNode, pTargetPath, m_callbacks.RecoveryCallback(),
                                m_callbacks.Param());
}

int CFastNtfsRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer,
                               int& nLength, PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    CNtfsDataExtractor extractor(m_diskReader, *this, m_nBytesPerSector);
    return extractor.PreView(*pNode, pTempPathOut, pBuffer, nLength, pCallback, pParam);
}

int CFastNtfsRecovery::BuildBitMapInfo() {
    uint64_t u64Sector = 0;
    if (!GetRecordSector(NTFS_BITMAP_RECORD, u64Sector))
        return NTFS_ERROR_NOT_FILE_RECORD;
    std::vector<RUNLIST> vecRuns;
    if (int rc = GetRunListInfo(u64Sector, ATTR_TYPE_DATA, vecRuns); rc != 0)
        return rc;
    uint64_t u64RealSize = 0;
    if (int rc = GetBitMapRealBytesSize(u64Sector, u64RealSize); rc != 0)
        return rc;
    // One bit per cluster of the volume is all a real bitmap holds.
    u64RealSize = std::min<uint64_t>(u64RealSize, m_u64SectorCount / m_nSectorPerCluster / 8 + 1);
    return ReadClusters(vecRuns, u64RealSize, m_vecBitmap);
}

int CFastNtfsRecovery::GetUnUsedSectorCount(unsigned long long& u64Start,
                                            unsigned long long& u64Count) {
    u64Count = 0;
    if (u64Start > m_u64SectorCount) {
        u64Start = m_u64SectorCount;
        return 1;
    }
    if (m_nSectorPerCluster <= 0)
        return 1;
    const uint64_t nBits = m_vecBitmap.size() * 8;
    uint64_t u64Cluster = u64Start / m_nSectorPerCluster;
    if (u64Cluster < nBits) {
        uint64_t u64Free = FindBit(m_vecBitmap, u64Cluster, true);
        if (u64Free < nBits) {
            u64Start += (u64Free - u64Cluster) * m_nSectorPerCluster;
            u64Cluster = u64Free;
        }
        uint64_t u64Used = FindBit(m_vecBitmap, u64Cluster, false);
        u64Count = (u64Used - u64Cluster) * m_nSectorPerCluster;
    }
    if (u64Start >= m_u64SectorCount)
        u64Count = 0;
    else if (u64Count > m_u64SectorCount - u64Start)
        u64Count = m_u64SectorCount - u64Start;
    return 1;
}
