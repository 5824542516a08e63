// Deep NTFS engine: $MFT map, volume placement of loose records, parent climbs, folder
// resolution after the sweep, and the record readers behind copy-out and preview.
#include "ntfs/CProfessionalNtfsRecovery.h"

#include "device/BootSectorLayout.h"
#include "device/CDiskRegistry.h"
#include "device/FileSystemRecognisers.h"
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
#include <limits>
#include <strings.h>
#include <unistd.h>

namespace {

// Boot sector fields.
// A sectors-per-cluster byte above this holds a negative power of two (clusters over 64 KiB).
constexpr uint8_t SECTORS_PER_CLUSTER_SHIFT_FROM = 0x80;

constexpr uint32_t MFT_RECORD = 0;
constexpr uint32_t LAST_SYSTEM_RECORD = 11;
constexpr const char* MFT_FILE_NAME = "$MFT";
constexpr const char* LOST_FOLDER_FORMAT = "LostFolder%u";

bool IsPowerOfTwo(uint64_t u64Value) {
    return u64Value != 0 && (u64Value & (u64Value - 1)) == 0;
}

uint16_t GetFirstAttributeOffset(const uint8_t* pRecord, size_t nSize) {
    return InBounds(nSize, FR_FIRST_ATTRIBUTE, 2) ? LoadU16LE(pRecord + FR_FIRST_ATTRIBUTE) : 0;
}

// Header sizes that must lie inside the record before anything in it is walked.
bool HasValidRecordSizes(const uint8_t* pRecord, size_t nSize, size_t nRecordSize) {
    if (!InBounds(nSize, FR_BYTES_IN_USE, 4))
        return false;
    uint32_t nBytesInUse = LoadU32LE(pRecord + FR_BYTES_IN_USE);
    uint16_t nFirstAttribute = GetFirstAttributeOffset(pRecord, nSize);
    return nBytesInUse <= nRecordSize && nFirstAttribute < nRecordSize &&
           nFirstAttribute <= nBytesInUse;
}

// The first attribute of the type inside the record; an attribute list ends the search,
// because what it lists lies in other records that this engine does not follow.
std::optional<NTFS_ATTRIBUTE> FindRecordAttribute(const uint8_t* pRecord, size_t nSize,
                                                  uint32_t nType) {
    CNtfsAttributeWalk walk(pRecord, nSize, nSize);
    while (auto attr = walk.Next()) {
        if (attr->nType == ATTR_TYPE_ATTRIBUTE_LIST)
            return std::nullopt;
        if (attr->nType == nType && (nType != ATTR_TYPE_DATA || attr->nNameLength == 0))
            return attr;
    }
    return std::nullopt;
}

SYSTEMTIME GetLocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalSystemTime(&now);
    return now;
}

} // namespace

struct CProfessionalNtfsRecovery::RECORD_INFO {
    uint32_t nRecordNo = 0;
    bool bInUse = false;
    bool bHasName = false;
    NTFS_FILE_NAME firstName;
    std::string strName; // the first name, or the long name met later
    std::optional<uint64_t> u64DataSize;
};

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery()
    : m_extractor(m_diskReader, *this, BYTES_PER_SECTOR),
      m_folderQueue(
          *this,
          [this](FILE_NODE* pNode, const char16_t* pPath) {
              return m_extractor.SaveToFile(*pNode, pPath, m_callbacks.RecoveryCallback(),
                                            m_callbacks.Param());
          },
          [this](const FILE_NODE& folder) { return GetFolderChildGroup(folder); }) {
    m_ntfsParse.Init(BYTES_PER_SECTOR);
}

CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() = default;

int CProfessionalNtfsRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                                    char16_t wcDriveLetter) {
    if (llStartSector < 0 || llSectorCount < 0)
        return ERROR_INVALID_PARAMETER;
    uint64_t u64Limit = uint64_t(llStartSector) + uint64_t(llSectorCount);
    if (int rc = m_diskReader.Init(nDiskNo, u64Limit); rc != 0)
        return rc;
    return SetUpDisk(uint64_t(llStartSector), uint64_t(llSectorCount), wcDriveLetter);
}

int CProfessionalNtfsRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    if (pDevicePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    int nFd = OpenDeviceReadOnly(Unicode2Ansi(pDevicePath).c_str());
    if (nFd < 0)
        return errno;
    uint64_t u64SectorCount = GetDeviceBytes(nFd) / BYTES_PER_SECTOR;
    close(nFd);
    if (int rc = m_diskReader.Init(pDevicePath, u64SectorCount); rc != 0)
        return rc;
    return SetUpDisk(0, u64SectorCount, wcDriveLetter);
}

int CProfessionalNtfsRecovery::SetUpDisk(uint64_t u64StartSector, uint64_t u64SectorCount,
                                         char16_t wcDriveLetter) {
    m_u64PartitionStart = u64StartSector;
    m_u64SectorCount = u64SectorCount;
    m_wcDriveLetter = wcDriveLetter;
    m_nSectorPerCluster =
        static_cast<uint32_t>(GetDefaultNtfsSectorPerCluster(u64SectorCount, BYTES_PER_SECTOR));
    m_mapMftRunList.clear();
    std::vector<uint8_t> vecBoot(BOOT_READ_BYTES);
    unsigned int nRead = 0;
    int rc =
        m_diskReader.ReadData(vecBoot.data(), BOOT_READ_BYTES / BYTES_PER_SECTOR,
                              static_cast<long long>(u64StartSector), BYTES_PER_SECTOR, &nRead);
    if (rc != 0)
        return rc;
    // NTFS keeps a copy of its boot sector in the volume's last sector: with the first one gone
    // the $MFT and the cluster size are still known before the sweep meets any record.
    if (!IsNtfs(vecBoot.data(), vecBoot.size()) && u64SectorCount > 1) {
        const uint64_t u64Backup = u64StartSector + u64SectorCount - 1;
        if (m_diskReader.ReadData(vecBoot.data(), 1, static_cast<long long>(u64Backup),
                                  BYTES_PER_SECTOR, &nRead) == 0 &&
            IsNtfs(vecBoot.data(), BYTES_PER_SECTOR))
            DebugLog("deep NTFS: boot sector taken from its copy at sector %llu\n",
                     static_cast<unsigned long long>(u64Backup));
    }
    LearnBootSectorMft(vecBoot.data(), vecBoot.size());
    return 0;
}

void CProfessionalNtfsRecovery::LearnBootSectorMft(const uint8_t* pBoot, size_t nSize) {
    if (!IsNtfs(pBoot, nSize))
        return;
    uint8_t nPerClusterByte = pBoot[BPB_SEC_PER_CLUS];
    uint64_t u64PerCluster = nPerClusterByte <= SECTORS_PER_CLUSTER_SHIFT_FROM
                                 ? nPerClusterByte
                                 : uint64_t(1) << std::min(256 - nPerClusterByte, 31);
    uint64_t u64MftCluster = LoadU64LE(pBoot + NTFS_MFT_CLUSTER);
    if (u64PerCluster == 0 ||
        u64MftCluster >
            (std::numeric_limits<uint64_t>::max() - m_u64PartitionStart) / u64PerCluster)
        return;
    // The volume's own cluster size beats the guess from its size.
    if (IsPowerOfTwo(u64PerCluster) && u64PerCluster <= MAX_SECTORS_PER_CLUSTER)
        m_nSectorPerCluster = static_cast<uint32_t>(u64PerCluster);
    uint64_t u64MftSector = u64MftCluster * u64PerCluster + m_u64PartitionStart;
    std::vector<RUNLIST> vecRuns;
    if (GetRunListInfo(u64MftSector, ATTR_TYPE_DATA, vecRuns) == 0 && !vecRuns.empty())
        m_mapMftRunList[u64MftSector] = vecRuns;
}

int CProfessionalNtfsRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                            RecoveryProgressCallback pRecoveryCallback,
                                            void* pParam, int nWeight) {
    m_callbacks.Init(pScanCallback, pRecoveryCallback, pParam, nWeight);
    return 0;
}

int CProfessionalNtfsRecovery::ScanDevice(const char16_t*) {
    return 0;
}

int CProfessionalNtfsRecovery::InitProfessionalScan(const char16_t* pResultName) {
    ClearProfessionalVec();
    m_pStore = std::make_unique<CScanResultFileManager>();
    if (pResultName != nullptr && pResultName[0] != 0)
        return m_pStore->Init(pResultName);
    std::u16string strName = CLogFileManager::MakeStoreName(
        STORE_PREFIX_PRO_NTFS, static_cast<long long>(m_u64PartitionStart), GetLocalTimeNow());
    return m_pStore->Init(strName.c_str());
}

int CProfessionalNtfsRecovery::ClearProfessionalVec() {
    m_vecSpecialDirs.clear();
    m_setSpecialDirs.clear();
    return 0;
}

int CProfessionalNtfsRecovery::ParseNtfsFileRecord(const uint8_t* pRecord, size_t nSize,
                                                   uint64_t u64Sector) {
    if (pRecord == nullptr || nSize < RECORD_SIZE)
        return ERROR_INVALID_PARAMETER;
    if (GetNtfsRecordFlags(pRecord, nSize) & FR_FLAG_DIRECTORY)
        return 0;
    // The caller's buffer is shared with the other parsers of the sweep: fix up a copy.
    std::vector<uint8_t> vecRecord(pRecord, pRecord + RECORD_SIZE);
    return ParseProfessionalRecordInfo(vecRecord.data(), vecRecord.size(), u64Sector, PARSE_FILE,
                                       0);
}

int CProfessionalNtfsRecovery::ParseProfessionalRecordInfo(uint8_t* pRecord, size_t nSize,
                                                           uint64_t u64Sector, PARSE_MODE nMode,
                                                           uint32_t nRecordNo) {
    bool bDirectoryMode = nMode == PARSE_DIRECTORY;
    bool bUsable = HasNtfsFileSignature(pRecord, nSize) &&
                   m_ntfsParse.FileRecordFixUp(pRecord, nSize) == 0 &&
                   HasValidRecordSizes(pRecord, nSize, RECORD_SIZE);
    // A folder that its files name but that cannot be read back as that folder still holds
    // them: it becomes a lost folder in the root rather than hiding them.
    if (bDirectoryMode &&
        (!bUsable || (GetNtfsRecordFlags(pRecord, nSize) & FR_FLAG_DIRECTORY) == 0 ||
         GetNtfsRecordNumber(pRecord, nSize) != nRecordNo))
        return CreateLostFolderNode(nRecordNo);
    if (!HasNtfsFileSignature(pRecord, nSize))
        return NTFS_ERROR_NOT_FILE_RECORD;
    if (!bUsable)
        return ERROR_INVALID_PARAMETER;

    RECORD_INFO info;
    info.nRecordNo = GetNtfsRecordNumber(pRecord, nSize);
    info.bInUse = (GetNtfsRecordFlags(pRecord, nSize) & FR_FLAG_IN_USE) != 0;
    if (info.nRecordNo != MFT_RECORD && info.nRecordNo <= LAST_SYSTEM_RECORD)
        return 0;

    CNtfsAttributeWalk walk(pRecord, nSize, GetNtfsRecordBytesInUse(pRecord, nSize));
    while (auto attr = walk.Next()) {
        if (attr->nType == ATTR_TYPE_FILE_NAME) {
            auto name = DecodeNtfsFileName(pRecord, nSize, *attr);
            if (!name)
                continue;
            if (!info.bHasName) {
                info.bHasName = true;
                info.firstName = *name;
                info.strName = name->strName;
            } else if (name->nNameSpace == FN_NAME_SPACE_WIN32) {
                info.strName = name->strName;
            }
        } else if (attr->nType == ATTR_TYPE_DATA && attr->nNameLength == 0 && info.bHasName &&
                   !info.u64DataSize) {
            info.u64DataSize = GetNtfsAttributeDataSize(pRecord, nSize, *attr);
        }
    }
    if (!info.bHasName)
        return bDirectoryMode ? CreateLostFolderNode(nRecordNo) : 0;
    if (info.nRecordNo == MFT_RECORD) {
        if (strcasecmp(info.firstName.strName.c_str(), MFT_FILE_NAME) == 0)
            LearnMftRecord(pRecord, nSize, u64Sector);
        return 0;
    }
    GetFileRecordSectorPerClusterByRecordBuf(pRecord, nSize);
    return CreateRecordNode(info, u64Sector, nMode);
}

int CProfessionalNtfsRecovery::CreateRecordNode(const RECORD_INFO& info, uint64_t u64Sector,
                                                PARSE_MODE nMode) {
    if (!m_pStore)
        return ERROR_INVALID_PARAMETER;
    std::vector<RUNLIST> vecRuns;
    uint64_t u64PartitionStart =
        GetSpecialFileRecordPartitionStartSector(u64Sector, info.nRecordNo, vecRuns);
    uint32_t nGroup = 0;
    uint32_t nParent = info.firstName.nParentRecord;
    // Files below $Extend ($Quota, $ObjId, $UsnJrnl...) are the volume's own, not lost files.
    if (GetProfessionalRootParentDirIndex(nParent, u64PartitionStart, m_nSectorPerCluster, vecRuns,
                                          nGroup))
        return 0;

    FILE_NODE* pNode = m_pStore->CreateFileNode();
    if (pNode == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    pNode->wcDriveLetter = m_wcDriveLetter;
    pNode->nEngineType = ENGINE_DEEP_NTFS;
    pNode->bIsDir = nMode == PARSE_DIRECTORY ? 1 : 0;
    pNode->bIsDeleted = info.bInUse ? 0 : 1;
    pNode->nDataHealth = 1;
    pNode->nFileIndex = m_pStore->GetFileIndex();
    pNode->nClusterNo = info.nRecordNo;
    pNode->nClusterBytes = BYTES_PER_SECTOR * m_nSectorPerCluster;
    pNode->u64CreateTime = info.firstName.u64CreateTime;
    pNode->u64ModifyTime = info.firstName.u64ModifyTime;
    pNode->u64AccessTime = info.firstName.u64AccessTime;
    pNode->u64FileSize = info.u64DataSize.value_or(info.firstName.u64RealSize);
    pNode->u64LocationSector = u64Sector;
    pNode->u64PartitionStartSector = u64PartitionStart;
    SetFileNodeName(*pNode, info.strName);
    uint32_t nFileIndex = pNode->nFileIndex;
    if (nMode == PARSE_DIRECTORY) {
        m_pStore->AddChildren(nParent, nGroup, nFileIndex, info.nRecordNo, pNode->szFileName);
    } else {
        pNode->nDataHealth = m_extractor.IsNodeDataHealth(*pNode);
        m_pStore->AddChildren(nParent, nGroup, nFileIndex, info.nRecordNo, nullptr);
    }
    return 0;
}

int CProfessionalNtfsRecovery::CreateLostFolderNode(uint32_t nRecordNo) {
    if (!m_pStore)
        return ERROR_INVALID_PARAMETER;
    FILE_NODE* pNode = m_pStore->CreateFileNode();
    if (pNode == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    pNode->wcDriveLetter = m_wcDriveLetter;
    pNode->nEngineType = ENGINE_DEEP_NTFS;
    pNode->bIsDir = 1;
    pNode->nDataHealth = 1;
    pNode->nFileIndex = m_pStore->GetFileIndex();
    pNode->nClusterNo = nRecordNo;
    pNode->nClusterBytes = BYTES_PER_SECTOR * m_nSectorPerCluster;
    std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), LOST_FOLDER_FORMAT, nRecordNo);
    m_pStore->AddChildren(NTFS_ROOT_RECORD, 0, pNode->nFileIndex, nRecordNo, pNode->szFileName);
    return 0;
}

void CProfessionalNtfsRecovery::LearnMftRecord(const uint8_t* pRecord, size_t nSize,
                                               uint64_t u64Sector) {
    auto data = FindRecordAttribute(pRecord, nSize, ATTR_TYPE_DATA);
    if (!data || !data->bNonResident)
        return;
    std::vector<RUNLIST> vecRuns;
    m_ntfsParse.GetRunList(pRecord + data->nOffset, nSize - data->nOffset, vecRuns);
    if (vecRuns.empty())
        return;
    m_mapMftRunList[u64Sector] = vecRuns;
    GetFileRecordSectorPerClusterByRecordBuf(pRecord, nSize);
}

int CProfessionalNtfsRecovery::GetFileRecordSectorPerClusterByRecordBuf(const uint8_t* pRecord,
                                                                        size_t nSize) {
    if (!HasNtfsFileSignature(pRecord, nSize) ||
        GetFirstAttributeOffset(pRecord, nSize) >= std::min<size_t>(nSize, RECORD_SIZE))
        return ERROR_INVALID_PARAMETER;
    size_t nRecordBytes = std::min<size_t>(nSize, RECORD_SIZE);
    auto data = FindRecordAttribute(pRecord, nRecordBytes, ATTR_TYPE_DATA);
    if (!data || !data->bNonResident || !InBounds(data->nLength, ATTR_ALLOCATED_SIZE, 8))
        return 0;
    std::vector<RUNLIST> vecRuns;
    m_ntfsParse.GetRunList(pRecord + data->nOffset, nRecordBytes - data->nOffset, vecRuns);
    uint64_t u64Clusters = 0;
    for (const RUNLIST& run : vecRuns)
        u64Clusters += run.u64Length;
    uint64_t u64Allocated = LoadU64LE(pRecord + data->nOffset + ATTR_ALLOCATED_SIZE);
    if (u64Clusters == 0)
        return 0;
    uint64_t u64PerCluster = u64Allocated / BYTES_PER_SECTOR / u64Clusters;
    // A damaged record must not set a cluster size that no volume has.
    if (IsPowerOfTwo(u64PerCluster) && u64PerCluster <= MAX_SECTORS_PER_CLUSTER &&
        u64PerCluster * BYTES_PER_SECTOR * u64Clusters == u64Allocated)
        m_nSectorPerCluster = static_cast<uint32_t>(u64PerCluster);
    return 0;
}

std::optional<uint64_t>
CProfessionalNtfsRecovery::MapMftRecordSector(const std::vector<RUNLIST>& vecRuns,
                                              uint32_t nRecordNo, uint32_t nSectorPerCluster) {
    if (nSectorPerCluster == 0)
        return std::nullopt;
    uint64_t u64Target = uint64_t(nRecordNo) * SECTORS_PER_RECORD;
    uint64_t u64First = 0; // file-relative sector where the run starts
    int64_t i64Cluster = 0;
    constexpr int64_t i64Max = std::numeric_limits<int64_t>::max();
    for (const RUNLIST& run : vecRuns) {
        if ((run.i64Offset > 0 && i64Cluster > i64Max - run.i64Offset) ||
            (run.i64Offset < 0 && i64Cluster < -i64Max - run.i64Offset))
            return std::nullopt;
        i64Cluster += run.i64Offset;
        if (i64Cluster < 0 || uint64_t(i64Cluster) > UINT64_MAX / 2 / nSectorPerCluster)
            return std::nullopt;
        uint64_t u64Disk = uint64_t(i64Cluster) * nSectorPerCluster;
        if (run.u64Length == 0)
            return u64Target >= u64First ? std::optional<uint64_t>(u64Disk + u64Target - u64First)
                                         : std::nullopt;
        if (run.u64Length > (UINT64_MAX / 2 - u64First) / nSectorPerCluster)
            return std::nullopt;
        uint64_t u64RunSectors = run.u64Length * nSectorPerCluster;
        if (u64Target >= u64First && u64Target - u64First < u64RunSectors)
            return u64Disk + u64Target - u64First;
        u64First += u64RunSectors;
    }
    return std::nullopt;
}

uint64_t CProfessionalNtfsRecovery::GetFileRecordIndexMftRunList(
    uint64_t u64RecordSector, uint32_t nRecordNo, uint32_t nSectorPerCluster,
    std::vector<RUNLIST>& vecRuns) const {
    if (nSectorPerCluster == 0)
        return 0;
    for (const auto& [u64Key, vecMftRuns] : m_mapMftRunList) {
        if (vecMftRuns.empty() || vecMftRuns.front().i64Offset < 0)
            continue;
        uint64_t u64MftStart = uint64_t(vecMftRuns.front().i64Offset) * nSectorPerCluster;
        auto u64Relative = MapMftRecordSector(vecMftRuns, nRecordNo, nSectorPerCluster);
        if (!u64Relative || u64MftStart > u64Key)
            continue;
        if (*u64Relative + (u64Key - u64MftStart) == u64RecordSector) {
            vecRuns = vecMftRuns;
            return u64Key;
        }
    }
    return 0;
}

uint64_t CProfessionalNtfsRecovery::GetSpecialFileRecordPartitionStartSector(
    uint64_t u64RecordSector, uint32_t nRecordNo, std::vector<RUNLIST>& vecRuns) const {
    vecRuns.clear();
    uint32_t nPerCluster = m_nSectorPerCluster;
    if (uint64_t u64Key =
            GetFileRecordIndexMftRunList(u64RecordSector, nRecordNo, nPerCluster, vecRuns)) {
        uint64_t u64MftStart = uint64_t(vecRuns.front().i64Offset) * nPerCluster;
        return u64MftStart == 0 ? m_u64PartitionStart : u64Key - u64MftStart;
    }
    uint64_t u64Before = uint64_t(nRecordNo) * SECTORS_PER_RECORD;
    if (u64RecordSector < m_u64PartitionStart || u64RecordSector - m_u64PartitionStart < u64Before)
        return m_u64PartitionStart;
    // The $MFT is taken to run contiguously up to this record. Sectors that do not fill a
    // whole cluster move the volume start, so that every record maps back exactly.
    uint64_t u64MftSector = u64RecordSector - m_u64PartitionStart - u64Before;
    vecRuns.push_back({0, static_cast<int64_t>(u64MftSector / nPerCluster)});
    return m_u64PartitionStart + u64MftSector % nPerCluster;
}

void CProfessionalNtfsRecovery::AddSpecialDir(uint32_t nRecordNo, uint32_t nSectorPerCluster,
                                              uint64_t u64PartitionStart,
                                              const std::vector<RUNLIST>& vecRuns) {
    if (m_setSpecialDirs.insert(nRecordNo).second)
        m_vecSpecialDirs.push_back({nRecordNo, nSectorPerCluster, u64PartitionStart, vecRuns});
}

bool CProfessionalNtfsRecovery::GetProfessionalRootParentDirIndex(
    uint32_t nDirRecord, uint64_t u64PartitionStart, uint32_t nSectorPerCluster,
    const std::vector<RUNLIST>& vecRuns, uint32_t& nGroup) {
    // Parent links come from disk data and may loop: each record is climbed once.
    std::unordered_set<uint32_t> setVisited;
    std::vector<uint8_t> vecRecord;
    while (nDirRecord != NTFS_ROOT_RECORD && setVisited.insert(nDirRecord).second) {
        if (nDirRecord != MFT_RECORD && nDirRecord <= LAST_SYSTEM_RECORD)
            return true;
        AddSpecialDir(nDirRecord, nSectorPerCluster, u64PartitionStart, vecRuns);
        ++nGroup;
        auto u64Relative = MapMftRecordSector(vecRuns, nDirRecord, nSectorPerCluster);
        if (!u64Relative || ReadFixedRecord(u64PartitionStart + *u64Relative, vecRecord) != 0)
            return false;
        const uint8_t* pRecord = vecRecord.data();
        size_t nSize = vecRecord.size();
        if ((GetNtfsRecordFlags(pRecord, nSize) & FR_FLAG_DIRECTORY) == 0 ||
            GetNtfsRecordNumber(pRecord, nSize) != nDirRecord)
            return false;
        auto attr = FindNtfsAttribute(pRecord, nSize, GetNtfsRecordBytesInUse(pRecord, nSize),
                                      ATTR_TYPE_FILE_NAME);
        auto name = attr ? DecodeNtfsFileName(pRecord, nSize, *attr) : std::nullopt;
        if (!name)
            return false;
        nDirRecord = name->nParentRecord;
    }
    return false;
}

int CProfessionalNtfsRecovery::ParseProfessionalRecordVec() {
    int nResult = 0;
    int nReadError = 0;
    std::vector<uint8_t> vecRecord;
    // Resolving a folder climbs again and may append folders: walk by index.
    for (size_t i = 0; i < m_vecSpecialDirs.size(); ++i) {
        SPECIAL_RECOVERY_DIR dir = m_vecSpecialDirs[i];
        auto u64Relative = MapMftRecordSector(dir.vecMftRuns, dir.nRecordNo, dir.nSectorPerCluster);
        if (!u64Relative) {
            nResult = CreateLostFolderNode(dir.nRecordNo);
            continue;
        }
        uint64_t u64Sector = dir.u64PartitionStartSector + *u64Relative;
        if (int rc = ReadRecordAt(u64Sector, vecRecord); rc != 0) {
            DebugLog("ntfs deep: folder record %u at sector %llu unreadable: %d\n", dir.nRecordNo,
                     static_cast<unsigned long long>(u64Sector), rc);
            if (nReadError == 0)
                nReadError = rc;
            continue;
        }
        nResult = ParseProfessionalRecordInfo(vecRecord.data(), vecRecord.size(), u64Sector,
                                              PARSE_DIRECTORY, dir.nRecordNo);
    }
    if (m_pStore)
        m_pStore->FlushBufToFile();
    return nReadError != 0 ? nReadError : nResult;
}

int CProfessionalNtfsRecovery::ReadRecordAt(uint64_t u64Sector, std::vector<uint8_t>& vecRecord) {
    vecRecord.assign(RECORD_SIZE, 0);
    unsigned int nRead = 0;
    errno = 0;
    int rc = m_diskReader.ReadData(vecRecord.data(), SECTORS_PER_RECORD,
                                   static_cast<long long>(u64Sector), BYTES_PER_SECTOR, &nRead);
    if (rc == 0 && nRead == SECTORS_PER_RECORD)
        return 0;
    if (rc != 0)
        return rc;
    return errno != 0 ? errno : NTFS_ERROR_ATTRIBUTE_NOT_FOUND;
}

int CProfessionalNtfsRecovery::ReadFixedRecord(uint64_t u64Sector,
                                               std::vector<uint8_t>& vecRecord) {
    if (int rc = ReadRecordAt(u64Sector, vecRecord); rc != 0)
        return rc;
    if (!HasNtfsFileSignature(vecRecord.data(), vecRecord.size()) ||
        m_ntfsParse.FileRecordFixUp(vecRecord.data(), vecRecord.size()) != 0)
        return NTFS_ERROR_NOT_FILE_RECORD;
    if (!HasValidRecordSizes(vecRecord.data(), vecRecord.size(), RECORD_SIZE))
        return ERROR_INVALID_PARAMETER;
    return 0;
}

int CProfessionalNtfsRecovery::GetRunListInfo(uint64_t u64RecordSector, uint32_t nType,
                                              std::vector<RUNLIST>& vecRuns) {
    vecRuns.clear();
    std::vector<uint8_t> vecRecord;
    if (int rc = ReadFixedRecord(u64RecordSector, vecRecord); rc != 0)
        return rc;
    auto attr = FindRecordAttribute(vecRecord.data(), vecRecord.size(), nType);
    if (!attr)
        return NTFS_ERROR_ATTRIBUTE_NOT_FOUND;
    if (attr->bNonResident)
        m_ntfsParse.GetRunList(vecRecord.data() + attr->nOffset, vecRecord.size() - attr->nOffset,
                               vecRuns);
    return 0;
}

int CProfessionalNtfsRecovery::GetFileNodeRunListInfo(const FILE_NODE& node, uint32_t nType,
                                                      std::vector<RUNLIST>& vecRuns) {
    return GetRunListInfo(node.u64LocationSector, nType, vecRuns);
}

int CProfessionalNtfsRecovery::GetFileNodeAttr0x80Data(const FILE_NODE& node,
                                                       std::vector<uint8_t>& vecData) {
    std::vector<uint8_t> vecRecord;
    if (int rc = ReadFixedRecord(node.u64LocationSector, vecRecord); rc != 0)
        return rc;
    auto attr = FindRecordAttribute(vecRecord.data(), vecRecord.size(), ATTR_TYPE_DATA);
    if (!attr || attr->bNonResident)
        return NTFS_ERROR_NOT_RESIDENT;
    auto content = GetNtfsResidentContent(vecRecord.data(), vecRecord.size(), *attr);
    if (!content)
        return ERROR_INVALID_PARAMETER;
    vecData = std::move(*content);
    return 0;
}

int CProfessionalNtfsRecovery::GetResidentData(const FILE_NODE& node,
                                               std::vector<uint8_t>& vecData) {
    return GetFileNodeAttr0x80Data(node, vecData);
}

int CProfessionalNtfsRecovery::GetDataRuns(const FILE_NODE& node, std::vector<RUNLIST>& vecRuns) {
    return GetFileNodeRunListInfo(node, ATTR_TYPE_DATA, vecRuns);
}

unsigned int CProfessionalNtfsRecovery::GetFolderChildGroup(const FILE_NODE& folder) {
    // A folder's children are filed one group below the folder's own depth.
    std::vector<FILE_NODE> vecAncestors;
    if (m_pStore)
        m_pStore->GetParentFileNode(&folder, vecAncestors);
    return static_cast<unsigned int>(vecAncestors.size()) + 1;
}

int CProfessionalNtfsRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                                   std::vector<FILE_NODE>& vecChildren) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    uint32_t nKey =
        pParent != nullptr && pParent->nClusterNo != 0 ? pParent->nClusterNo : NTFS_ROOT_RECORD;
    return m_pStore->GetChildrenFileNode(MakeRelationKey(nDepth, nKey), vecChildren);
}

int CProfessionalNtfsRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                                    unsigned int& nCount) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    uint32_t nKey =
        pParent != nullptr && pParent->nClusterNo != 0 ? pParent->nClusterNo : NTFS_ROOT_RECORD;
    return m_pStore->GetChildrenFileCount(MakeRelationKey(nDepth, nKey), nCount);
}

unsigned int CProfessionalNtfsRecovery::GetLostFileCount() {
    return m_pStore ? m_pStore->GetFileIndex() : 0;
}

int CProfessionalNtfsRecovery::GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut,
                                                        int nCapacity) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_pStore ? m_pStore->GetParentDirPath(pNode, pOut, nCapacity) : 0;
}

int CProfessionalNtfsRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int) {
    if (pNode == nullptr || pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir)
        return m_folderQueue.SaveFolder(*pNode, pTargetPath);
    std::u16string strFree = Ansi2Unicode(GetRealFileName(Unicode2Ansi(pTargetPath)).c_str());
    return SaveDataToTargetFile(pNode, strFree.c_str());
}

int CProfessionalNtfsRecovery::SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pTargetPath) {
    if (pNode == nullptr || pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir)
        return MakeRecoveryDir(Unicode2Ansi(pTargetPath));
    return m_extractor.SaveToFile(*pNode, pTargetPath, m_callbacks.RecoveryCallback(),
                                  m_callbacks.Param());
}

int CProfessionalNtfsRecovery::GetUnUsedSectorCount(unsigned long long&, unsigned long long&) {
    return 0;
}

int CProfessionalNtfsRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback,
                                                  void* pParam) {
    m_callbacks.InitSearch(pSearchCallback, pParam);
    return m_pStore ? m_pStore->InitSearchCallBack(pSearchCallback, pParam) : 0;
}

int CProfessionalNtfsRecovery::SearchFileNode(const char16_t* pKey,
                                              std::vector<SEARCH_FILE_INFO>& vecOut) {
    if (!m_pStore)
        return 0;
    m_pStore->InitSearchCallBack(m_callbacks.SearchCallback(), m_callbacks.SearchParam());
    return m_pStore->SearchFileNodeInfo(pKey, vecOut);
}

int CProfessionalNtfsRecovery::OpenSearchCursor(const char16_t* pKey,
                                                std::unique_ptr<ISearchCursor>& pCursor) {
    if (!m_pStore)
        return IFileRecoveryParse::OpenSearchCursor(pKey, pCursor);
    m_pStore->InitSearchCallBack(m_callbacks.SearchCallback(), m_callbacks.SearchParam());
    return m_pStore->OpenSearchCursor(pKey, pCursor);
}

int CProfessionalNtfsRecovery::GetFileNodeByIndex(unsigned int, unsigned int nFileIndex,
                                                  FILE_NODE* pOut) {
    return m_pStore ? m_pStore->ReadFileNode(nFileIndex, pOut) : ERROR_INVALID_PARAMETER;
}

int CProfessionalNtfsRecovery::BuildBitMapInfo() {
    return 0;
}

int CProfessionalNtfsRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut,
                                       unsigned char* pBuffer, int& nLength,
                                       PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_extractor.PreView(*pNode, pTempPathOut, pBuffer, nLength, pCallback, pParam);
}
