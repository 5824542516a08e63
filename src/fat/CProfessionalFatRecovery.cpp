// Deep FAT engine: virtual boot sectors, directory-sector parsing, tree rebuild and extraction.
#include "fat/CProfessionalFatRecovery.h"

#include "device/BootSectorLayout.h"
#include "device/CDiskRegistry.h"
#include "device/FileSystemRecognisers.h"
#include "formats/carving/CFileTypeJudge.h"
#include "formats/carving/FileDataHealth.h"
#include "formats/fat/FatEntryValidator.h"
#include "formats/fat/FatGeometry.h"
#include "formats/fat/FatName.h"
#include "formats/proof/DiskDataProof.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "util/ByteView.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr uint32_t FIRST_DATA_CLUSTER = 2;
constexpr uint32_t BOOT_PROBE_BYTES = 4096;
// Where FAT32 keeps the copy of its boot sector.
constexpr uint32_t FAT32_BACKUP_BOOT_SECTOR = 6;
// Root-area directory sectors further apart than this are not one root area.
constexpr uint64_t ROOT_AREA_MAX_GAP = 8;
constexpr uint32_t HIGH_WORD_PROBES = 256;
constexpr size_t DOT_DOT_ENTRY_OFFSET = 32;
constexpr size_t FOLDER_START_PROBE_BYTES = 2 * FAT_ENTRY_BYTES;
constexpr const char* LOST_FOLDER_FORMAT = "LostFolder%u";
// Cut-off long names that no later sector continued are dropped, oldest first, beyond this.
constexpr size_t MAX_PENDING_LONG_NAMES = 4096;

uint32_t GetDirEntryCluster(const uint8_t* pEntry) {
    return uint32_t(LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_FstClusHI))) << 16 |
           LoadU16LE(pEntry + offsetof(FAT32_Entry, DIR_FstClusLO));
}

bool IsVolumeLabelEntry(const uint8_t* pEntry) {
    return pEntry[offsetof(FAT32_Entry, DIR_Attr)] == FAT_ATTR_VOLUME_ID;
}

bool IsLongNameEntry(const uint8_t* pEntry) {
    return pEntry[offsetof(FAT32_Entry, DIR_Attr)] == FAT_ATTR_LONG_NAME;
}

// A folder's first bytes: the "." entry and, at offset 32, the ".." entry.
bool IsDotDotStart(const uint8_t* pData, size_t nSize) {
    return nSize >= FOLDER_START_PROBE_BYTES && pData[0] == '.' &&
           pData[DOT_DOT_ENTRY_OFFSET] == '.' && pData[DOT_DOT_ENTRY_OFFSET + 1] == '.';
}

bool IsLiveShortEntry(const uint8_t* pEntry) {
    return pEntry[0] != FAT_ENTRY_END && pEntry[0] != FAT_ENTRY_DELETED && !IsLongNameEntry(pEntry);
}

// A long-name entry that is not the last part of its name: its name began in an earlier sector.
bool IsNameContinuation(const uint8_t* pEntry) {
    return IsLongNameEntry(pEntry) && pEntry[0] != FAT_ENTRY_DELETED &&
           (pEntry[0] & LDIR_LAST_PART) == 0;
}

// A deleted short entry whose first letter, taken back from the long name's first character,
// gives the long name's checksum.
bool RestoresNameCheckSum(const uint8_t* pFirstPart, uint8_t u8CheckSum, const uint8_t* pEntry) {
    const uint16_t u16First = LoadU16LE(pFirstPart + 1);
    if (u16First >= 0x80 || std::isalnum(u16First) == 0)
        return false;
    uint8_t name[FAT_SHORT_NAME_BYTES];
    std::memcpy(name, pEntry, FAT_SHORT_NAME_BYTES);
    name[0] = static_cast<uint8_t>(std::toupper(u16First));
    return GetShortNameCheckSum(name) == u8CheckSum;
}

// The sector's first entry goes on with the cut-off name: the next lower part of a live name
// (same checksum), or its short entry (checksum of the 11 name bytes). A deleted name has lost
// its ordinals and its short entry's first letter: a deleted short entry goes on with it when
// near, or, in a folder's later cluster anywhere, when the long name's first character restores
// the checksum.
bool ContinuesPending(const LONG_FILE_INFO& pending, const uint8_t* pEntry, uint64_t u64Sector,
                      bool bAdjacent) {
    if (pending.nLength < FAT_ENTRY_BYTES || pEntry[0] == FAT_ENTRY_END)
        return false;
    const uint8_t* pLast = pending.data + pending.nLength - FAT_ENTRY_BYTES;
    if (IsLongNameEntry(pLast) && pLast[0] != FAT_ENTRY_DELETED) {
        const uint8_t u8Ordinal = pLast[0] & ~LDIR_LAST_PART;
        if (u8Ordinal <= 1)
            return IsLiveShortEntry(pEntry) && GetShortNameCheckSum(pEntry) == pending.u8CheckSum;
        return IsNameContinuation(pEntry) && pEntry[LDIR_CHKSUM_OFFSET] == pending.u8CheckSum &&
               pEntry[0] + 1 == u8Ordinal;
    }
    if (IsLongNameEntry(pEntry))
        return pEntry[0] == FAT_ENTRY_DELETED && pEntry[LDIR_CHKSUM_OFFSET] == pending.u8CheckSum;
    return pEntry[0] == FAT_ENTRY_DELETED &&
           (bAdjacent || u64Sector - pending.u64Sector < pending.nSectorsPerCluster ||
            (IsLongNameEntry(pLast) && RestoresNameCheckSum(pLast, pending.u8CheckSum, pEntry)));
}

VIRTUAL_DBR_INFO NodeDbrInfo(const FILE_NODE& node) {
    return VIRTUAL_DBR_INFO{node.nClusterBytes / PRO_FAT_SECTOR_BYTES,
                            static_cast<uint32_t>(node.u64DataAreaSector),
                            node.u64PartitionStartSector, 0, 0};
}

bool SameDbrInfo(const VIRTUAL_DBR_INFO& a, const VIRTUAL_DBR_INFO& b) {
    return a.nSectorsPerCluster == b.nSectorsPerCluster && a.nDataStart == b.nDataStart &&
           a.u64StartSector == b.u64StartSector;
}

// A store opened under an existing name keeps its nodes; a fresh scan in the same minute must
// not add to them.
void RemoveStoreFiles(const std::u16string& strName) {
    const std::string strPath =
        CLogFileManager::GetInstance()->GetLogFileDirPath() + Unicode2Ansi(strName.c_str());
    unlink(strPath.c_str());
    unlink((strPath + RELATION_FILE_SUFFIX).c_str());
    unlink((strPath + DIR_INFO_FILE_SUFFIX).c_str());
}

bool NextConsecutiveCluster(uint32_t nCluster, uint32_t& nNext) {
    nNext = nCluster + 1;
    return true;
}

} // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery()
    : m_nodeData(m_diskReader, PRO_FAT_DEFAULT_ROOT_SECTORS, 0, NextConsecutiveCluster),
      m_folderRecovery(
          *this,
          [this](FILE_NODE* pNode, const char16_t* pPath) {
              return NodeData(*pNode).SaveToFile(*pNode, pPath, m_callbacks.RecoveryCallback(),
                                                 m_callbacks.Param());
          },
          [this](const FILE_NODE& folder) { return GetFolderGroup(folder); }) {}

CProfessionalFatRecovery::~CProfessionalFatRecovery() = default;

int CProfessionalFatRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                                   char16_t wcDriveLetter) {
    if (m_bIsOpen)
        return 0;
    if (llStartSector < 0 || llSectorCount < 0)
        return ERROR_INVALID_PARAMETER;
    int rc = m_diskReader.Init(nDiskNo, uint64_t(llStartSector) + uint64_t(llSectorCount));
    if (rc != 0)
        return rc;
    m_nDiskNo = nDiskNo;
    return OpenVolume(llStartSector, llSectorCount, wcDriveLetter);
}

int CProfessionalFatRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    if (m_bIsOpen)
        return 0;
    if (pDevicePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    int nFd = OpenDeviceReadOnly(Unicode2Ansi(pDevicePath).c_str());
    if (nFd < 0)
        return errno;
    const uint64_t u64Sectors = GetDeviceBytes(nFd) / PRO_FAT_SECTOR_BYTES;
    close(nFd);
    if (int rc = m_diskReader.Init(pDevicePath, u64Sectors); rc != 0)
        return rc;
    return OpenVolume(0, static_cast<long long>(u64Sectors), wcDriveLetter);
}

int CProfessionalFatRecovery::OpenVolume(long long llStartSector, long long llSectorCount,
                                         char16_t wcDriveLetter) {
    m_u64StartSector = static_cast<uint64_t>(llStartSector);
    m_u64SectorCount = static_cast<uint64_t>(llSectorCount);
    m_wcDriveLetter = wcDriveLetter;
    m_bRealDbr = 0;
    m_clusterStart.reset();
    m_bIsOpen = true;
    return 0;
}

int CProfessionalFatRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                           RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                           int nWeight) {
    m_callbacks.Init(pScanCallback, pRecoveryCallback, pParam, nWeight);
    return 0;
}

int CProfessionalFatRecovery::ScanDevice(const char16_t*) {
    return 0;
}

void CProfessionalFatRecovery::ResetScanState() {
    m_vecDbrInfo.clear();
    m_bRealDbr = 0;
    m_bootGeometry.reset();
    m_nRootCluster = 0;
    m_vecFolderStart.clear();
    m_vecLongFile.clear();
    m_unplaced.Clear();
    m_mapDirSeen.clear();
    m_mapDirNeeded.clear();
    m_vecNoDbrFile.clear();
    m_nNoDbrCheckedDbr = 0;
    m_clusterStart.reset();
    m_mapDepth.clear();
    m_setClimbed.clear();
    m_folderStartCheck.reset();
    m_chainReader.Clear();
}

int CProfessionalFatRecovery::ClearProfessionalVec(const char16_t* pName) {
    ResetScanState();
    m_pStore = std::make_unique<CScanResultFileManager>();
    m_unplaced.SetSpillDir(CLogFileManager::GetInstance()->GetLogFileDirPath());
    int rc = 0;
    if (pName == nullptr || pName[0] == 0) {
        SYSTEMTIME now{};
        GetLocalSystemTime(&now);
        std::u16string strName = CLogFileManager::MakeStoreName(
            STORE_PREFIX_PRO_FAT, static_cast<long long>(m_u64StartSector), now);
        RemoveStoreFiles(strName);
        rc = m_pStore->Init(strName.c_str());
    } else {
        rc = m_pStore->Init(pName);
    }
    if (rc != 0)
        DebugLog("deep FAT: result store not opened: %d\n", rc);
    if (m_callbacks.SearchCallback() != nullptr)
        m_pStore->InitSearchCallBack(m_callbacks.SearchCallback(), m_callbacks.SearchParam());
    return rc;
}

int CProfessionalFatRecovery::InitVirtualDbrInfo() {
    if (!m_bIsOpen)
        return ERROR_INVALID_PARAMETER;
    uint8_t buf[BOOT_PROBE_BYTES] = {};
    unsigned int nRead = 0;
    int rc = m_diskReader.ReadData(buf, BOOT_PROBE_BYTES / PRO_FAT_SECTOR_BYTES,
                                   static_cast<long long>(m_u64StartSector), PRO_FAT_SECTOR_BYTES,
                                   &nRead);
    if (nRead == 0)
        return rc != 0 ? rc : ERROR_READ_SHORT;
    const size_t nBytes = size_t(nRead) * PRO_FAT_SECTOR_BYTES;
    if (m_bRealDbr != 0)
        return 0;
    FAT_GEOMETRY geometry{};
    const size_t nBackup = size_t(FAT32_BACKUP_BOOT_SECTOR) * PRO_FAT_SECTOR_BYTES;
    // A boot sector that is gone or damaged in one field leaves FAT32's copy to go by.
    const bool bPrimary =
        IsFat(buf, nBytes) && ParseFatBootSector(buf, nBytes, m_u64StartSector, geometry) == 0;
    const bool bBackup =
        !bPrimary && InBounds(nBytes, nBackup, BOOT_SECTOR_BYTES) &&
        IsFat(buf + nBackup, nBytes - nBackup) &&
        ParseFatBootSector(buf + nBackup, nBytes - nBackup, m_u64StartSector, geometry) == 0 &&
        geometry.bIsFat32 != 0;
    if (!bPrimary && !bBackup)
        return 0;
    if (bBackup)
        DebugLog("deep FAT: geometry from the backup boot sector at sector %llu\n",
                 static_cast<unsigned long long>(m_u64StartSector + FAT32_BACKUP_BOOT_SECTOR));
    AdoptBootGeometry(geometry);
    return 0;
}

int CProfessionalFatRecovery::ParseBootRecord(const unsigned char* pSector,
                                              unsigned long long u64Sector) {
    if (pSector == nullptr || m_bRealDbr != 0 || !m_vecDbrInfo.empty() ||
        u64Sector < m_u64StartSector)
        return 0;
    for (uint64_t u64Back : {uint64_t(0), uint64_t(FAT32_BACKUP_BOOT_SECTOR)}) {
        if (u64Sector - m_u64StartSector < u64Back)
            break;
        FAT_GEOMETRY geometry{};
        if (ParseFatBootSector(pSector, BOOT_SECTOR_BYTES, u64Sector - u64Back, geometry) != 0 ||
            (u64Back != 0 && geometry.bIsFat32 == 0) ||
            !StartsWithFat(geometry, pSector[BPB_MEDIA]))
            continue;
        DebugLog("deep FAT: geometry from the boot sector at sector %llu (volume at %llu)\n",
                 u64Sector, static_cast<unsigned long long>(geometry.u64PartitionStart));
        AdoptBootGeometry(geometry);
        return 0;
    }
    return 0;
}

// The first FAT entry holds the media byte in its low byte and ones above it.
bool CProfessionalFatRecovery::StartsWithFat(const FAT_GEOMETRY& geometry, uint8_t u8Media) {
    uint8_t buf[PRO_FAT_SECTOR_BYTES] = {};
    unsigned int nRead = 0;
    m_diskReader.ReadData(buf, 1, static_cast<long long>(geometry.u64FirstFatSector),
                          PRO_FAT_SECTOR_BYTES, &nRead);
    return nRead == 1 && buf[0] == u8Media && buf[1] == 0xFF && buf[2] == 0xFF;
}

// A boot sector's geometry places files from the first sector on, and its FAT leads the data
// of the volume's nodes along their chains.
void CProfessionalFatRecovery::AdoptBootGeometry(const FAT_GEOMETRY& geometry) {
    m_vecDbrInfo.insert(m_vecDbrInfo.begin(),
                        VIRTUAL_DBR_INFO{geometry.nSectorsPerCluster, geometry.nDataStart,
                                         geometry.u64PartitionStart, geometry.nRootSectors, 0});
    m_nRootCluster = geometry.bIsFat32 ? geometry.nRootCluster : 0;
    m_bRealDbr = 1;
    m_bootGeometry = geometry;
    if (int rc = m_fatTable.Init(&m_diskReader, geometry); rc != 0)
        DebugLog("deep FAT: FAT at sector %llu not read whole: %d\n",
                 static_cast<unsigned long long>(geometry.u64FirstFatSector), rc);
    m_nNoDbrCheckedDbr = 0;
}

int CProfessionalFatRecovery::CalcVirtualDbr(uint32_t nCluster1, uint64_t u64Sector1,
                                             uint32_t nCluster2, uint64_t u64Sector2) {
    if (nCluster1 <= nCluster2 || u64Sector1 <= u64Sector2 || nCluster2 < FIRST_DATA_CLUSTER)
        return 0;
    const uint64_t u64Sectors = u64Sector1 - u64Sector2;
    const uint64_t u64Clusters = nCluster1 - nCluster2;
    if (u64Sectors % u64Clusters != 0)
        return 0;
    const uint64_t u64SectorsPerCluster = u64Sectors / u64Clusters;
    if (u64SectorsPerCluster > PRO_FAT_MAX_SECTORS_PER_CLUSTER ||
        !IsValidVirtualSectorsPerCluster(static_cast<uint32_t>(u64SectorsPerCluster)))
        return 0;
    const uint64_t u64Into = uint64_t(nCluster2 - FIRST_DATA_CLUSTER) * u64SectorsPerCluster;
    // Cluster 2 may not lie before the volume, nor further into it than a 32-bit count reaches.
    if (u64Sector2 < u64Into || u64Sector2 - u64Into < m_u64StartSector ||
        u64Sector2 - u64Into - m_u64StartSector > UINT32_MAX)
        return 0;
    const uint64_t u64Base = u64Sector2 - u64Into;
    const uint32_t nRootSectors = m_nRootCluster != 0 ? 0 : PRO_FAT_DEFAULT_ROOT_SECTORS;
    m_vecDbrInfo.push_back(VIRTUAL_DBR_INFO{static_cast<uint32_t>(u64SectorsPerCluster),
                                            static_cast<uint32_t>(u64Base - m_u64StartSector),
                                            m_u64StartSector, nRootSectors, 0});
    DebugLog("deep FAT: geometry %u sectors per cluster, cluster 2 at sector %llu\n",
             static_cast<uint32_t>(u64SectorsPerCluster), static_cast<unsigned long long>(u64Base));
    return 1;
}

std::optional<VIRTUAL_DBR_INFO>
CProfessionalFatRecovery::FindFolderStartGeometry(uint32_t nCluster, uint64_t u64Sector) const {
    if (nCluster == 0 && m_nRootCluster != 0)
        return std::nullopt;
    for (const VIRTUAL_DBR_INFO& dbr : m_vecDbrInfo)
        if (GetVirtualClusterSector(dbr, nCluster) == u64Sector)
            return dbr;
    return std::nullopt;
}

void CProfessionalFatRecovery::InferGeometryFromFolderStart(uint32_t nCluster, uint64_t u64Sector) {
    const bool bFirst = m_vecDbrInfo.empty();
    bool bFound = false;
    for (const FAT_SECTOR_OFFSET& start : m_vecFolderStart) {
        const bool bLater = nCluster > start.nClusterNo;
        bFound = bLater ? CalcVirtualDbr(nCluster, u64Sector, start.nClusterNo, start.u64Sector)
                        : CalcVirtualDbr(start.nClusterNo, start.u64Sector, nCluster, u64Sector);
        if (bFound)
            break;
    }
    m_vecFolderStart.push_back(FAT_SECTOR_OFFSET{nCluster, 0, u64Sector});
    if (!bFound)
        return;
    if (bFirst && m_bRealDbr == 0)
        InferRootCluster(m_vecDbrInfo.front());
    VIRTUAL_DBR_INFO& dbr = m_vecDbrInfo.back();
    dbr.nRootSectors = m_nRootCluster != 0 ? 0 : InferRootAreaSectors(dbr);
}

// The root area ends where cluster 2 begins and starts right after the FATs; its used sectors
// lie together from its start, and were passed (and kept) before any folder fixed the geometry.
// The first of them is the one that holds the volume label, else the lowest of the run of kept
// directory sectors that reaches up towards cluster 2.
uint32_t CProfessionalFatRecovery::InferRootAreaSectors(const VIRTUAL_DBR_INFO& dbr) const {
    const uint64_t u64Base = dbr.u64StartSector + dbr.nDataStart;
    const uint64_t u64Lowest =
        u64Base - std::min<uint64_t>(u64Base - dbr.u64StartSector, PRO_FAT_MAX_ROOT_SECTORS);
    std::vector<uint64_t> vecSectors;
    std::optional<uint64_t> u64Label;
    for (std::optional<uint64_t> u64Sector = m_unplaced.FindNext(u64Lowest);
         u64Sector && *u64Sector < u64Base; u64Sector = m_unplaced.FindNext(*u64Sector + 1)) {
        vecSectors.push_back(*u64Sector);
        const uint8_t* pFirst = m_unplaced.GetFirstEntry(*u64Sector);
        if (pFirst != nullptr && IsVolumeLabelEntry(pFirst))
            u64Label = *u64Sector;
    }
    if (vecSectors.empty())
        return PRO_FAT_DEFAULT_ROOT_SECTORS;
    uint64_t u64First = vecSectors.back();
    for (size_t i = vecSectors.size() - 1;
         i > 0 && u64First - vecSectors[i - 1] <= ROOT_AREA_MAX_GAP; --i)
        u64First = vecSectors[i - 1];
    if (u64Label)
        u64First = *u64Label;
    DebugLog("deep FAT: root area of %llu sectors before cluster 2 at sector %llu\n",
             static_cast<unsigned long long>(u64Base - u64First),
             static_cast<unsigned long long>(u64Base));
    return static_cast<uint32_t>(u64Base - u64First);
}

// Without a boot sector the FAT32 root cluster is unknown; its first sector is a directory
// sector without "." and "..", where a FAT16 volume keeps an ordinary cluster.
void CProfessionalFatRecovery::InferRootCluster(const VIRTUAL_DBR_INFO& dbr) {
    std::vector<uint8_t> vecSector;
    if (ReadFolderStart(dbr, FIRST_DATA_CLUSTER, vecSector) &&
        IsFatFDTRecord(vecSector.data(), vecSector.size()) &&
        !IsFatFileRecord(vecSector.data(), vecSector.size()))
        m_nRootCluster = FIRST_DATA_CLUSTER;
}

int CProfessionalFatRecovery::ParseFatFileRecord(const unsigned char* pSector,
                                                 unsigned long long u64Sector) {
    if (pSector == nullptr)
        return 0;
    const uint32_t nCluster = GetDirEntryCluster(pSector);
    // A "." entry never names cluster 0 or 1; such a sector is not a folder start.
    if (nCluster < FIRST_DATA_CLUSTER)
        return 0;
    std::optional<VIRTUAL_DBR_INFO> dbr = FindFolderStartGeometry(nCluster, u64Sector);
    if (!dbr) {
        InferGeometryFromFolderStart(nCluster, u64Sector);
        dbr = FindFolderStartGeometry(nCluster, u64Sector);
    }
    if (dbr) {
        UpdateNoDbrFileVec();
        // The folder's other sectors in this cluster follow; they belong to this folder.
        m_clusterStart = CLUSTER_START{*dbr, nCluster, u64Sector};
    }
    ParseWithContinuation(pSector, PRO_FAT_SECTOR_BYTES, u64Sector, nCluster, dbr, u64Sector);
    return 0;
}

int CProfessionalFatRecovery::ParseFDTFileRecord(const unsigned char* pSector,
                                                 unsigned long long u64Sector) {
    if (pSector == nullptr)
        return 0;
    if (GetParentDirCluster(pSector, u64Sector))
        return 0;
    if (m_clusterStart && u64Sector > m_clusterStart->u64Sector &&
        u64Sector - m_clusterStart->u64Sector <
            GetVirtualUnitSectors(m_clusterStart->dbrInfo, m_clusterStart->nClusterNo)) {
        const CLUSTER_START start = *m_clusterStart;
        ParseFatFDTRecord(pSector, PRO_FAT_SECTOR_BYTES, start.u64Sector, start.nClusterNo,
                          start.dbrInfo, u64Sector);
        return 0;
    }
    DoParseFileOrAddUndelFileMap(pSector, u64Sector);
    return 0;
}

// The pending name this sector continues: the one cut off in the sector just before, else the
// only one that fits. Names of one alias in several folders fit alike; such a sector is parsed
// on its own rather than joined to another folder's name.
bool CProfessionalFatRecovery::GetParentDirCluster(const uint8_t* pSector, uint64_t u64Sector) {
    size_t nMatch = 0;
    int nCount = 0;
    for (size_t i = 0; i < m_vecLongFile.size(); ++i) {
        const PENDING_LONG_NAME& pending = m_vecLongFile[i];
        if (u64Sector <= pending.u64CutSector)
            continue;
        const bool bAdjacent = u64Sector == pending.u64CutSector + 1;
        if (!ContinuesPending(pending.info, pSector, u64Sector, bAdjacent))
            continue;
        if (bAdjacent) {
            nMatch = i;
            nCount = 1;
            break;
        }
        if (nCount++ == 0)
            nMatch = i;
    }
    if (nCount != 1)
        return false;
    const LONG_FILE_INFO rec = m_vecLongFile[nMatch].info;
    m_vecLongFile.erase(m_vecLongFile.begin() + static_cast<std::ptrdiff_t>(nMatch));
    std::vector<uint8_t> vecJoined(rec.data, rec.data + rec.nLength);
    vecJoined.insert(vecJoined.end(), pSector, pSector + PRO_FAT_SECTOR_BYTES);
    ParseFatFDTRecord(vecJoined.data(), vecJoined.size(), rec.u64Sector, rec.nFolderCluster,
                      std::nullopt, u64Sector);
    return true;
}

void CProfessionalFatRecovery::DoParseFileOrAddUndelFileMap(const uint8_t* pSector,
                                                            uint64_t u64Sector) {
    // The rest of a name whose start has not been met yet (a folder's later cluster before its
    // earlier one): kept, so the sector that starts the name can still be joined with it.
    if (IsNameContinuation(pSector)) {
        m_unplaced.Add(u64Sector, pSector, PRO_FAT_SECTOR_BYTES);
        return;
    }
    for (const VIRTUAL_DBR_INFO& dbr : m_vecDbrInfo) {
        std::optional<uint32_t> nCluster = GetVirtualSectorCluster(dbr, u64Sector);
        if (!nCluster || (*nCluster == 0 && m_nRootCluster != 0) ||
            GetVirtualClusterSector(dbr, *nCluster) != u64Sector)
            continue;
        const VIRTUAL_DBR_INFO found = dbr;
        m_clusterStart = CLUSTER_START{found, *nCluster, u64Sector};
        ParseFatFDTRecord(pSector, PRO_FAT_SECTOR_BYTES, u64Sector, *nCluster, found, u64Sector);
        return;
    }
    m_unplaced.Add(u64Sector, pSector, PRO_FAT_SECTOR_BYTES);
}

void CProfessionalFatRecovery::ParseFatFDTRecord(const uint8_t* pBuf, size_t nLen,
                                                 uint64_t u64Sector, uint32_t nCluster,
                                                 Geometry dbr, uint64_t u64LastSector) {
    if (!dbr)
        dbr = FindFolderStartGeometry(nCluster, u64Sector);
    ParseWithContinuation(pBuf, nLen, u64Sector, nCluster, dbr, u64LastSector);
}

// Parses the buffer; while it ends in a cut-off long name that a kept sector continues, the two
// are joined and parsed again, else the cut-off name waits for a later sector.
void CProfessionalFatRecovery::ParseWithContinuation(const uint8_t* pBuf, size_t nLen,
                                                     uint64_t u64Sector, uint32_t nCluster,
                                                     Geometry dbr, uint64_t u64LastSector) {
    std::vector<uint8_t> vecBuf(pBuf, pBuf + nLen);
    for (;;) {
        PENDING_LONG_NAME pending{};
        pending.u64CutSector = u64LastSector;
        DealProfessionalFatFileEntry(vecBuf.data(), vecBuf.size(), u64Sector, nCluster,
                                     pending.info, dbr);
        if (pending.info.nLength == 0)
            return;
        std::vector<uint8_t> vecJoined;
        if (!ContinuePendingFromUnplaced(pending, vecJoined, u64LastSector)) {
            if (m_vecLongFile.size() >= MAX_PENDING_LONG_NAMES)
                m_vecLongFile.erase(m_vecLongFile.begin());
            m_vecLongFile.push_back(pending);
            return;
        }
        vecBuf.swap(vecJoined);
        u64Sector = pending.info.u64Sector;
        nCluster = pending.info.nFolderCluster;
    }
}

// A kept sector that continues the cut-off name: the next sector, else the only one that fits.
bool CProfessionalFatRecovery::ContinuePendingFromUnplaced(const PENDING_LONG_NAME& pending,
                                                           std::vector<uint8_t>& vecJoined,
                                                           uint64_t& u64LastSector) {
    const uint64_t u64Next = pending.u64CutSector + 1;
    std::optional<uint64_t> u64Found;
    if (const uint8_t* pEntry = m_unplaced.GetFirstEntry(u64Next);
        pEntry != nullptr && ContinuesPending(pending.info, pEntry, u64Next, true)) {
        u64Found = u64Next;
    } else {
        int nCount = 0;
        m_unplaced.FindFirst([&](uint64_t u64Sector, const uint8_t* pFirst) {
            if (u64Sector > u64Next && ContinuesPending(pending.info, pFirst, u64Sector, false) &&
                nCount++ == 0)
                u64Found = u64Sector;
            return false;
        });
        if (nCount != 1)
            u64Found.reset();
    }
    std::vector<uint8_t> vecSector;
    if (!u64Found || !m_unplaced.Take(*u64Found, vecSector))
        return false;
    vecJoined.assign(pending.info.data, pending.info.data + pending.info.nLength);
    vecJoined.insert(vecJoined.end(), vecSector.begin(), vecSector.end());
    u64LastSector = *u64Found;
    return true;
}

void CProfessionalFatRecovery::DealProfessionalFatFileEntry(const uint8_t* pBuf, size_t nLen,
                                                            uint64_t u64Sector, uint32_t nCluster,
                                                            LONG_FILE_INFO& pending, Geometry dbr) {
    uint32_t nParent = nCluster;
    uint64_t u64RecordSector = u64Sector;
    GetParentClusterNO(pBuf, nLen, nCluster, dbr, nParent, u64RecordSector);

    CFatLongName longName;
    size_t nRunStart = 0;
    uint8_t u8RunCheckSum = 0;
    std::set<uint32_t> setClimbed;
    auto keepPending = [&](size_t nFrom) {
        if (nLen - nFrom > LONG_FILE_KEPT_BYTES) {
            DebugLog("deep FAT: long name at sector %llu too long to keep\n",
                     static_cast<unsigned long long>(u64RecordSector));
            return;
        }
        pending.u8CheckSum = u8RunCheckSum;
        if (dbr) {
            pending.nSectorsPerCluster = dbr->nSectorsPerCluster;
            pending.nStartSectorLow = static_cast<uint32_t>(dbr->u64StartSector);
            pending.nDataStart = dbr->nDataStart;
        }
        pending.nFolderCluster = nParent;
        pending.nLength = static_cast<uint32_t>(nLen - nFrom);
        pending.u64Sector = u64RecordSector;
        std::memcpy(pending.data, pBuf + nFrom, nLen - nFrom);
    };

    for (size_t nOff = 0; InBounds(nLen, nOff, FAT_ENTRY_BYTES); nOff += FAT_ENTRY_BYTES) {
        const uint8_t* pEntry = pBuf + nOff;
        if (pEntry[0] == FAT_ENTRY_END)
            return;
        if (!IsFatEntyValid(pEntry, nLen - nOff)) {
            longName.Reset();
            continue;
        }
        if (IsLongNameEntry(pEntry)) {
            if (longName.IsEmpty()) {
                nRunStart = nOff;
                u8RunCheckSum = pEntry[LDIR_CHKSUM_OFFSET];
            }
            if (!longName.AddPart(pEntry)) {
                keepPending(nRunStart);
                return;
            }
            continue;
        }
        const uint8_t u8Attr = pEntry[offsetof(FAT32_Entry, DIR_Attr)];
        const bool bIsDir = (u8Attr & FAT_ATTR_DIRECTORY) != 0;
        const bool bNameCharacters = longName.IsEmpty() || longName.HasNameCharacters();
        std::string strName =
            longName.IsEmpty() ? GetFatShortName(pEntry, bIsDir) : longName.GetName();
        longName.Reset();
        const bool bDotName = strName == "." || strName.rfind("..", 0) == 0;
        // Contents of files can pass for directory entries; those are never stored.
        if (!bDotName && (!IsPlausibleFoundEntry(pEntry) || !bNameCharacters))
            continue;
        if (bIsDir) {
            if (strName == ".")
                nParent = GetDirEntryCluster(pEntry);
            else if (!bDotName)
                RecordFolderEntry(pEntry, strName, nParent, u64RecordSector, dbr);
        } else if ((u8Attr & FAT_ATTR_ARCHIVE) != 0 && !strName.empty()) {
            RecordFileEntry(pEntry, strName, nParent, u64RecordSector, dbr);
            if (setClimbed.insert(nParent).second)
                AddNeededFolders(nParent, dbr, u64RecordSector);
        }
    }
    if (!longName.IsEmpty())
        keepPending(nRunStart);
}

void CProfessionalFatRecovery::GetParentClusterNO(const uint8_t* pBuf, size_t nLen,
                                                  uint32_t nCluster, const Geometry& dbr,
                                                  uint32_t& nParent, uint64_t& u64RecordSector) {
    if (nLen < FOLDER_START_PROBE_BYTES)
        return;
    if (IsVolumeLabelEntry(pBuf)) {
        nParent = m_nRootCluster;
        if (dbr)
            u64RecordSector =
                GetVirtualClusterSector(*dbr, m_nRootCluster).value_or(u64RecordSector);
        return;
    }
    if (IsDotDotStart(pBuf, nLen)) {
        nParent = GetDirEntryCluster(pBuf);
        return;
    }
    if (!dbr || nCluster == m_nRootCluster || IsFolderStartAt(*dbr, nCluster))
        return;
    // A folder's later cluster: a subfolder listed here names, in its "..", the folder that
    // holds this sector.
    for (size_t nOff = 0; InBounds(nLen, nOff, FAT_ENTRY_BYTES); nOff += FAT_ENTRY_BYTES) {
        const uint8_t* pEntry = pBuf + nOff;
        if (pEntry[0] == FAT_ENTRY_END)
            return;
        const uint8_t u8Attr = pEntry[offsetof(FAT32_Entry, DIR_Attr)];
        if (pEntry[0] == '.' || IsLongNameEntry(pEntry) || (u8Attr & FAT_ATTR_DIRECTORY) == 0 ||
            !IsFatEntyValid(pEntry, nLen - nOff))
            continue;
        const uint32_t nSub = GetEntryCluster(pEntry, true, nullptr, dbr);
        std::vector<uint8_t> vecStart;
        if (nSub < FIRST_DATA_CLUSTER || !ReadFolderStart(*dbr, nSub, vecStart) ||
            !IsDotDotStart(vecStart.data(), vecStart.size()) ||
            GetDirEntryCluster(vecStart.data()) != nSub)
            continue;
        const uint32_t nDotDot = GetDirEntryCluster(vecStart.data() + DOT_DOT_ENTRY_OFFSET);
        nParent = nDotDot != 0 ? nDotDot : m_nRootCluster;
        u64RecordSector = GetVirtualClusterSector(*dbr, nParent).value_or(u64RecordSector);
        return;
    }
}

bool CProfessionalFatRecovery::IsFolderStartAt(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster) {
    if (m_folderStartCheck && m_folderStartCheck->nClusterNo == nCluster &&
        SameDbrInfo(m_folderStartCheck->dbrInfo, dbr))
        return m_folderStartCheck->bIsFolderStart;
    std::vector<uint8_t> vecStart;
    const bool bStart =
        ReadFolderStart(dbr, nCluster, vecStart) && IsDotDotStart(vecStart.data(), vecStart.size());
    m_folderStartCheck = FOLDER_START_CHECK{dbr, nCluster, bStart};
    return bStart;
}

bool CProfessionalFatRecovery::IsDeletedFolder(uint32_t nCluster) const {
    auto it = m_mapDirSeen.find(nCluster);
    return it != m_mapDirSeen.end() && it->second.fileNode.bIsDeleted != 0;
}

void CProfessionalFatRecovery::FillEntryNode(FILE_NODE& node, const uint8_t* pEntry,
                                             const std::string& strName, uint32_t nParent,
                                             uint64_t u64RecordSector, bool bIsDir) {
    const FAT32_Entry entry = ReadFatEntry(pEntry);
    node.wcDriveLetter = m_wcDriveLetter;
    node.nEngineType = m_nEngineType;
    node.bIsDir = bIsDir ? 1 : 0;
    node.bIsDeleted = pEntry[0] == FAT_ENTRY_DELETED || IsDeletedFolder(nParent) ? 1 : 0;
    node.nFileIndex = nParent;
    Fat32GetFileCreateTime(&entry, &node.u64CreateTime);
    Fat32GetFileLastAccessTime(&entry, &node.u64AccessTime);
    Fat32GetFileLastChangeTime(&entry, &node.u64ModifyTime);
    node.u64FileSize = bIsDir ? 0 : entry.DIR_FileSize;
    node.u64LocationSector = u64RecordSector;
    SetFileNodeName(node, strName);
}

uint32_t CProfessionalFatRecovery::GetEntryCluster(const uint8_t* pEntry, bool bIsDir,
                                                   const char* pName, const Geometry& dbr) {
    const uint32_t nCluster = GetDirEntryCluster(pEntry);
    const uint16_t u16Low = static_cast<uint16_t>(nCluster);
    if (!dbr || pEntry[0] != FAT_ENTRY_DELETED || (nCluster >> 16) != 0 || u16Low == 0)
        return nCluster;
    unsigned short u16High = 0;
    if (bIsDir)
        GetDirRealHighClusterNO(*dbr, u16Low, u16High);
    else
        GetFileRealHighClusterNO(*dbr, u16Low, u16High, pName);
    return uint32_t(u16High) << 16 | u16Low;
}

void CProfessionalFatRecovery::RecordFolderEntry(const uint8_t* pEntry, const std::string& strName,
                                                 uint32_t nParent, uint64_t u64RecordSector,
                                                 const Geometry& dbr) {
    const uint32_t nCluster = GetEntryCluster(pEntry, true, nullptr, dbr);
    if (nCluster == 0 || nCluster == nParent || (dbr && !IsInsideVolume(*dbr, nCluster, 0)))
        return;
    PRO_DIR_INFO info{};
    FillEntryNode(info.fileNode, pEntry, strName, nParent, u64RecordSector, true);
    info.fileNode.nClusterNo = nCluster;
    if (dbr)
        info.dbrInfo = *dbr;
    m_mapDirSeen[nCluster] = info;
}

void CProfessionalFatRecovery::RecordFileEntry(const uint8_t* pEntry, const std::string& strName,
                                               uint32_t nParent, uint64_t u64RecordSector,
                                               const Geometry& dbr) {
    FILE_NODE node{};
    FillEntryNode(node, pEntry, strName, nParent, u64RecordSector, false);
    if (!dbr) {
        node.nClusterNo = GetDirEntryCluster(pEntry);
        NO_DBR_FILE_NODE noDbr{};
        noDbr.fileNode = node;
        m_vecNoDbrFile.push_back(noDbr);
        return;
    }
    node.nClusterNo = GetEntryCluster(pEntry, false, node.szFileName, dbr);
    StoreFileNode(node, nParent, *dbr);
}

void CProfessionalFatRecovery::StoreFileNode(const FILE_NODE& source, uint32_t nParent,
                                             const VIRTUAL_DBR_INFO& dbr) {
    if (!m_pStore || !IsInsideVolume(dbr, source.nClusterNo, source.u64FileSize))
        return;
    const int nDepth = CountDepth(dbr, nParent);
    FILE_NODE* pNode = m_pStore->CreateFileNode();
    if (pNode == nullptr)
        return;
    std::memcpy(pNode, &source, sizeof(FILE_NODE));
    pNode->nFileIndex = m_pStore->GetFileIndex();
    pNode->nClusterBytes = PRO_FAT_SECTOR_BYTES * dbr.nSectorsPerCluster;
    pNode->u64DataAreaSector = dbr.nDataStart;
    pNode->u64PartitionStartSector = dbr.u64StartSector;
    pNode->nDataHealth = static_cast<uint32_t>(IsFileDataHealth(pNode, dbr.nSectorsPerCluster));
    if (pNode->nDataHealth == DATA_HEALTH_INTACT_OR_UNKNOWN)
        pNode->nDataHealth = ProveNodeData(*pNode);
    m_pStore->AddChildren(nParent, static_cast<unsigned int>(nDepth), pNode->nFileIndex,
                          pNode->nClusterNo, nullptr);
}

// An item's data must lie on the volume: from a cluster of its data area, no further than the
// volume's end. An empty file has no cluster; a folder always has one.
bool CProfessionalFatRecovery::IsInsideVolume(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster,
                                              uint64_t u64Size) const {
    if (nCluster == 0)
        return u64Size == 0;
    std::optional<uint64_t> u64Sector = GetVirtualClusterSector(dbr, nCluster);
    uint64_t u64End = m_u64StartSector + m_u64SectorCount;
    // A volume placed by its boot sector ends where that sector says, inside a larger disk too.
    if (m_bootGeometry && dbr.u64StartSector == m_bootGeometry->u64PartitionStart &&
        dbr.nDataStart == m_bootGeometry->nDataStart)
        u64End =
            std::min(u64End, m_bootGeometry->u64PartitionStart + m_bootGeometry->u64TotalSectors);
    if (nCluster < FIRST_DATA_CLUSTER || !u64Sector || *u64Sector >= u64End)
        return false;
    return u64Size <= (u64End - *u64Sector) * PRO_FAT_SECTOR_BYTES;
}

// Records the folders above a stored item so the rebuild gives each of them a node.
void CProfessionalFatRecovery::AddNeededFolders(uint32_t nParent, const Geometry& dbr,
                                                uint64_t u64RecordSector) {
    VIRTUAL_DBR_INFO h = dbr.value_or(VIRTUAL_DBR_INFO{});
    uint64_t u64Sector = u64RecordSector;
    uint32_t nCurrent = nParent;
    std::set<uint32_t> setMet;
    while (nCurrent > m_nRootCluster && setMet.insert(nCurrent).second) {
        m_mapDirNeeded.try_emplace(nCurrent, PRO_NEED_ADD_DIR_INFO{h, u64Sector});
        // Above a folder already climbed from under a geometry, everything is recorded.
        if (m_setClimbed.count(nCurrent) != 0)
            return;
        if (h.nSectorsPerCluster != 0)
            m_setClimbed.insert(nCurrent);
        if (auto it = m_mapDirSeen.find(nCurrent); it != m_mapDirSeen.end()) {
            const uint32_t nUp = it->second.fileNode.nFileIndex;
            if (nUp == nCurrent)
                return;
            u64Sector = it->second.fileNode.u64LocationSector;
            h = it->second.dbrInfo;
            nCurrent = nUp;
            continue;
        }
        unsigned int nUp = nCurrent;
        if (GetParentClusterNO(h, nCurrent, nUp) != 0 || nUp == nCurrent)
            return;
        u64Sector = GetVirtualClusterSector(h, nUp).value_or(u64Sector);
        nCurrent = nUp;
    }
}

int CProfessionalFatRecovery::DealProfessionalRecordVec() {
    ParseUnDealFileMap();
    StoreNeededFolders();
    m_mapDirNeeded.clear();
    m_mapDirSeen.clear();
    m_setClimbed.clear();
    UpdateNoDbrFileVec();
    for (NO_DBR_FILE_NODE& file : m_vecNoDbrFile) {
        if (file.bIsStored != 0)
            continue;
        std::optional<VIRTUAL_DBR_INFO> dbr = GetNearestDbrInfo(file.fileNode.u64LocationSector);
        if (!dbr)
            continue;
        StoreFileNode(file.fileNode, file.fileNode.nFileIndex, *dbr);
        file.bIsStored = 1;
    }
    m_vecNoDbrFile.clear();
    m_nNoDbrCheckedDbr = 0;
    if (m_pStore)
        m_pStore->FlushBufToFile();
    return 0;
}

void CProfessionalFatRecovery::ParseUnDealFileMap() {
    std::optional<CLUSTER_START> last;
    uint64_t u64Next = 0;
    while (std::optional<uint64_t> u64Sector = m_unplaced.FindNext(u64Next)) {
        u64Next = *u64Sector + 1;
        std::vector<uint8_t> vecSector;
        if (!m_unplaced.Take(*u64Sector, vecSector) || vecSector.size() < PRO_FAT_SECTOR_BYTES)
            continue;
        if (GetParentDirCluster(vecSector.data(), *u64Sector))
            continue;
        bool bPlaced = false;
        for (const VIRTUAL_DBR_INFO& dbr : m_vecDbrInfo) {
            std::optional<uint32_t> nCluster = GetVirtualSectorCluster(dbr, *u64Sector);
            if (!nCluster || (*nCluster == 0 && m_nRootCluster != 0) ||
                GetVirtualClusterSector(dbr, *nCluster) != *u64Sector)
                continue;
            last = CLUSTER_START{dbr, *nCluster, *u64Sector};
            bPlaced = true;
            break;
        }
        if (bPlaced) {
            ParseFatFDTRecord(vecSector.data(), vecSector.size(), last->u64Sector, last->nClusterNo,
                              last->dbrInfo, *u64Sector);
            continue;
        }
        // Only a sector inside the last cluster start's own unit continues it.
        if (last &&
            *u64Sector - last->u64Sector < GetVirtualUnitSectors(last->dbrInfo, last->nClusterNo)) {
            ParseFatFDTRecord(vecSector.data(), vecSector.size(), last->u64Sector, last->nClusterNo,
                              last->dbrInfo, *u64Sector);
            continue;
        }
        std::optional<VIRTUAL_DBR_INFO> dbr = GetNearestDbrInfo(*u64Sector);
        if (!dbr)
            continue;
        std::optional<uint32_t> nCluster = GetVirtualSectorCluster(*dbr, *u64Sector);
        if (!nCluster || (*nCluster == 0 && m_nRootCluster != 0))
            continue;
        std::optional<uint64_t> u64First = GetVirtualClusterSector(*dbr, *nCluster);
        if (!u64First)
            continue;
        ParseFatFDTRecord(vecSector.data(), vecSector.size(), *u64First, *nCluster, dbr,
                          *u64Sector);
    }
    m_unplaced.Clear();
}

void CProfessionalFatRecovery::UpdateNoDbrFileVec() {
    if (m_vecDbrInfo.empty() || m_vecNoDbrFile.empty())
        return;
    // A file fits a geometry or not once and for all, so each geometry is tried on it only once.
    for (size_t i = m_nNoDbrCheckedDbr; i < m_vecDbrInfo.size(); ++i) {
        const VIRTUAL_DBR_INFO dbr = m_vecDbrInfo[i];
        for (NO_DBR_FILE_NODE& file : m_vecNoDbrFile) {
            if (file.bIsStored != 0 || GetVirtualClusterSector(dbr, file.fileNode.nFileIndex) !=
                                           file.fileNode.u64LocationSector)
                continue;
            StoreFileNode(file.fileNode, file.fileNode.nFileIndex, dbr);
            file.bIsStored = 1;
        }
    }
    m_nNoDbrCheckedDbr = m_vecDbrInfo.size();
}

void CProfessionalFatRecovery::StoreNeededFolders() {
    if (!m_pStore)
        return;
    std::vector<uint32_t> vecWork;
    std::set<uint32_t> setQueued;
    for (const auto& [nFolder, need] : m_mapDirNeeded) {
        vecWork.push_back(nFolder);
        setQueued.insert(nFolder);
    }
    // Parents met while filing are stored too, so every folder hangs on a reachable chain.
    for (size_t i = 0; i < vecWork.size(); ++i) {
        const PRO_NEED_ADD_DIR_INFO need = m_mapDirNeeded[vecWork[i]];
        StoreNeededFolder(vecWork[i], need, setQueued, vecWork);
    }
}

void CProfessionalFatRecovery::StoreNeededFolder(uint32_t nFolder,
                                                 const PRO_NEED_ADD_DIR_INFO& need,
                                                 std::set<uint32_t>& setQueued,
                                                 std::vector<uint32_t>& vecWork) {
    FILE_NODE node{};
    uint32_t nParent = m_nRootCluster;
    std::optional<VIRTUAL_DBR_INFO> dbr;
    std::string strName;
    if (auto it = m_mapDirSeen.find(nFolder); it != m_mapDirSeen.end()) {
        node = it->second.fileNode;
        nParent = node.nFileIndex;
        if (it->second.dbrInfo.nSectorsPerCluster != 0)
            dbr = it->second.dbrInfo;
        else
            dbr = FindGeometryHoldingSector(nParent, node.u64LocationSector);
        if (!dbr)
            dbr = GetNearestDbrInfo(node.u64LocationSector);
        if (!dbr)
            return;
        strName = node.szFileName;
    } else {
        if (need.dbrInfo.nSectorsPerCluster != 0)
            dbr = need.dbrInfo;
        else
            dbr = FindGeometryHoldingSector(nFolder, need.u64Sector);
        if (!dbr)
            dbr = GetNearestDbrInfo(need.u64Sector);
        if (!dbr)
            return;
        unsigned int nUp = m_nRootCluster;
        if (GetParentClusterNO(*dbr, nFolder, nUp) == 0)
            nParent = nUp;
        char szName[FILE_NODE_NAME_BYTES];
        std::snprintf(szName, sizeof(szName), LOST_FOLDER_FORMAT, nFolder);
        strName = szName;
        node.nClusterNo = nFolder;
        node.u64LocationSector = GetVirtualClusterSector(*dbr, nFolder).value_or(0);
        SetFileNodeName(node, strName);
    }
    if (!IsInsideVolume(*dbr, nFolder, 0))
        return;
    // A folder filed under itself could never be reached.
    if (nParent == nFolder)
        nParent = m_nRootCluster;
    FileFolderNode(node, nParent, *dbr, strName.c_str());
    if (nParent > m_nRootCluster && setQueued.insert(nParent).second) {
        m_mapDirNeeded[nParent] =
            PRO_NEED_ADD_DIR_INFO{*dbr, GetVirtualClusterSector(*dbr, nParent).value_or(0)};
        vecWork.push_back(nParent);
    }
}

void CProfessionalFatRecovery::FileFolderNode(FILE_NODE& node, uint32_t nParent,
                                              const VIRTUAL_DBR_INFO& dbr, const char* pName) {
    const int nDepth = CountDepth(dbr, nParent);
    FILE_NODE* pNode = m_pStore->CreateFileNode();
    if (pNode == nullptr)
        return;
    std::memcpy(pNode, &node, sizeof(FILE_NODE));
    pNode->wcDriveLetter = m_wcDriveLetter;
    pNode->nEngineType = m_nEngineType;
    pNode->bIsDir = 1;
    pNode->nDataHealth = 1;
    pNode->nFileIndex = m_pStore->GetFileIndex();
    pNode->nClusterBytes = PRO_FAT_SECTOR_BYTES * dbr.nSectorsPerCluster;
    pNode->u64DataAreaSector = dbr.nDataStart;
    pNode->u64PartitionStartSector = dbr.u64StartSector;
    m_pStore->AddChildren(nParent, static_cast<unsigned int>(nDepth), pNode->nFileIndex,
                          pNode->nClusterNo, pName);
}

std::optional<VIRTUAL_DBR_INFO>
CProfessionalFatRecovery::FindGeometryHoldingSector(uint32_t nCluster, uint64_t u64Sector) const {
    for (const VIRTUAL_DBR_INFO& dbr : m_vecDbrInfo) {
        std::optional<uint64_t> u64First = GetVirtualClusterSector(dbr, nCluster);
        if (u64First && u64Sector >= *u64First &&
            u64Sector - *u64First < GetVirtualUnitSectors(dbr, nCluster))
            return dbr;
    }
    return std::nullopt;
}

std::optional<VIRTUAL_DBR_INFO>
CProfessionalFatRecovery::GetNearestDbrInfo(uint64_t u64Sector) const {
    if (m_vecDbrInfo.empty())
        return std::nullopt;
    if (m_vecDbrInfo.size() == 1)
        return m_vecDbrInfo.front();
    std::optional<VIRTUAL_DBR_INFO> nearest;
    uint64_t u64BestDistance = 0;
    for (size_t i = m_bRealDbr != 0 ? 1 : 0; i < m_vecDbrInfo.size(); ++i) {
        const VIRTUAL_DBR_INFO& dbr = m_vecDbrInfo[i];
        const uint64_t u64Base = dbr.u64StartSector + dbr.nDataStart;
        if (u64Base > u64Sector)
            continue;
        if (!nearest || u64Sector - u64Base < u64BestDistance) {
            nearest = dbr;
            u64BestDistance = u64Sector - u64Base;
        }
    }
    return nearest ? nearest : m_vecDbrInfo.front();
}

int CProfessionalFatRecovery::ReadSectors(uint64_t u64Sector, uint32_t nSectors, uint8_t* pBuffer) {
    unsigned int nRead = 0;
    int rc = m_diskReader.ReadData(pBuffer, static_cast<int>(nSectors),
                                   static_cast<long long>(u64Sector), PRO_FAT_SECTOR_BYTES, &nRead);
    if (nRead == nSectors)
        return 0;
    return rc != 0 ? rc : ERROR_READ_SHORT;
}

bool CProfessionalFatRecovery::ReadFolderStart(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster,
                                               std::vector<uint8_t>& vecOut) {
    std::optional<uint64_t> u64Sector = GetVirtualClusterSector(dbr, nCluster);
    if (!u64Sector || *u64Sector >= m_u64StartSector + m_u64SectorCount)
        return false;
    vecOut.assign(PRO_FAT_SECTOR_BYTES, 0);
    return ReadSectors(*u64Sector, 1, vecOut.data()) == 0;
}

int CProfessionalFatRecovery::GetParentClusterNO(const VIRTUAL_DBR_INFO& dbr, unsigned int nCluster,
                                                 unsigned int& nParent) {
    if (dbr.nSectorsPerCluster == 0 || nCluster == 0)
        return ERROR_INVALID_PARAMETER;
    std::optional<uint64_t> u64Sector = GetVirtualClusterSector(dbr, nCluster);
    if (!u64Sector || *u64Sector >= m_u64StartSector + m_u64SectorCount)
        return ERROR_INVALID_PARAMETER;
    uint8_t buf[PRO_FAT_SECTOR_BYTES];
    if (int rc = ReadSectors(*u64Sector, 1, buf); rc != 0)
        return rc;
    nParent = m_nRootCluster;
    if (!IsVolumeLabelEntry(buf) && IsDotDotStart(buf, sizeof(buf))) {
        const uint32_t nDotDot = GetDirEntryCluster(buf + DOT_DOT_ENTRY_OFFSET);
        if (nDotDot != 0)
            nParent = nDotDot;
    }
    return 0;
}

int CProfessionalFatRecovery::GetRootParentDirIndex(const VIRTUAL_DBR_INFO& dbr,
                                                    unsigned int nCluster, int& nDepth,
                                                    std::map<uint32_t, uint32_t>& mapVisited) {
    while (dbr.nSectorsPerCluster != 0 && nCluster != 0) {
        mapVisited[nCluster] = nCluster;
        std::optional<uint64_t> u64Sector = GetVirtualClusterSector(dbr, nCluster);
        if (!u64Sector)
            return 0;
        uint8_t buf[PRO_FAT_SECTOR_BYTES];
        if (int rc = ReadSectors(*u64Sector, 1, buf); rc != 0)
            return rc;
        if (IsVolumeLabelEntry(buf) || nCluster == m_nRootCluster)
            return 0;
        ++nDepth;
        if (!IsDotDotStart(buf, sizeof(buf)))
            return 0;
        const uint32_t nDotDot = GetDirEntryCluster(buf + DOT_DOT_ENTRY_OFFSET);
        if (nDotDot == 0 || mapVisited.count(nDotDot) != 0)
            return 0;
        nCluster = nDotDot;
    }
    return 0;
}

int CProfessionalFatRecovery::CountDepth(const VIRTUAL_DBR_INFO& dbr, uint32_t nCluster) {
    const auto key = std::make_tuple(dbr.nSectorsPerCluster, dbr.nDataStart, nCluster);
    if (auto it = m_mapDepth.find(key); it != m_mapDepth.end())
        return it->second;
    int nDepth = 0;
    std::map<uint32_t, uint32_t> mapVisited;
    GetRootParentDirIndex(dbr, nCluster, nDepth, mapVisited);
    m_mapDepth[key] = nDepth;
    return nDepth;
}

int CProfessionalFatRecovery::GetDirRealHighClusterNO(const VIRTUAL_DBR_INFO& dbr,
                                                      unsigned short u16Low,
                                                      unsigned short& u16High) {
    for (uint32_t nHigh = 0; nHigh <= HIGH_WORD_PROBES; ++nHigh) {
        const uint32_t nCandidate = nHigh << 16 | u16Low;
        std::optional<uint64_t> u64Sector = GetVirtualClusterSector(dbr, nCandidate);
        if (!u64Sector || *u64Sector >= m_u64StartSector + m_u64SectorCount)
            return 0;
        uint8_t buf[PRO_FAT_SECTOR_BYTES];
        if (int rc = ReadSectors(*u64Sector, 1, buf); rc != 0)
            return rc;
        if (IsDotDotStart(buf, sizeof(buf)) && GetDirEntryCluster(buf) == nCandidate) {
            u16High = static_cast<unsigned short>(nHigh);
            return 0;
        }
    }
    return 0;
}

int CProfessionalFatRecovery::GetFileRealHighClusterNO(const VIRTUAL_DBR_INFO& dbr,
                                                       unsigned short u16Low,
                                                       unsigned short& u16High, const char* pName) {
    const std::string strExt = GetLowerExtension(pName);
    if (strExt.empty())
        return 0;
    for (uint32_t nHigh = 0; nHigh <= HIGH_WORD_PROBES; ++nHigh) {
        const uint32_t nCandidate = nHigh << 16 | u16Low;
        std::optional<uint64_t> u64Sector = GetVirtualClusterSector(dbr, nCandidate);
        if (!u64Sector || *u64Sector >= m_u64StartSector + m_u64SectorCount)
            return 0;
        uint8_t buf[PRO_FAT_SECTOR_BYTES];
        if (int rc = ReadSectors(*u64Sector, 1, buf); rc != 0)
            return rc;
        if (CFileTypeJudge::IsFileTypeMatching(buf, sizeof(buf), strExt.c_str(), &m_diskReader,
                                               PRO_FAT_SECTOR_BYTES, *u64Sector) != 0) {
            u16High = static_cast<unsigned short>(nHigh);
            return 0;
        }
    }
    return 0;
}

int CProfessionalFatRecovery::IsFileDataHealth(FILE_NODE* pNode, unsigned int) {
    // An empty file has no data to judge, so it is not hidden as damaged.
    if (pNode->u64FileSize == 0)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    const uint64_t u64Sector = m_nodeData.GetClusterSector(*pNode, pNode->nClusterNo);
    uint8_t buf[PRO_FAT_SECTOR_BYTES];
    if (ReadSectors(u64Sector, 1, buf) != 0)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    return static_cast<int>(JudgeFileDataHealth(buf, sizeof(buf),
                                                GetLowerExtension(pNode->szFileName).c_str(),
                                                &m_diskReader, PRO_FAT_SECTOR_BYTES, u64Sector));
}

// A file whose data may be there is proved along the reading its copy-out takes: a deleted
// file of the FAT's volume along the free clusters its proof chooses, any file of a volume
// without its FAT along the clusters that follow. A live file of the FAT's volume follows its
// chain and is left unchecked.
uint32_t CProfessionalFatRecovery::ProveNodeData(const FILE_NODE& node) {
    if (IsBootVolumeNode(node))
        return m_chainReader.IsReleasedChain(node)
                   ? m_chainReader.ChooseReleasedClusters(node).nDataHealth
                   : DATA_HEALTH_INTACT_OR_UNKNOWN;
    return ProveDiskData(m_diskReader, m_nodeData.GetClusterSector(node, node.nClusterNo),
                         PRO_FAT_SECTOR_BYTES, node.u64FileSize,
                         GetLowerExtension(node.szFileName).c_str());
}

uint64_t CProfessionalFatRecovery::GetChildrenKey(const FILE_NODE* pParent,
                                                  unsigned int nDepth) const {
    return MakeRelationKey(nDepth, pParent != nullptr ? pParent->nClusterNo : 0);
}

unsigned int CProfessionalFatRecovery::GetFolderGroup(const FILE_NODE& folder) {
    return static_cast<unsigned int>(CountDepth(NodeDbrInfo(folder), folder.nClusterNo));
}

int CProfessionalFatRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                                  std::vector<FILE_NODE>& vecChildren) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    m_pStore->FlushFileNodeToFile();
    return m_pStore->GetChildrenFileNode(GetChildrenKey(pParent, nDepth), vecChildren);
}

int CProfessionalFatRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                                   unsigned int& nCount) {
    if (pParent == nullptr && nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    if (!m_pStore)
        return 0;
    m_pStore->FlushFileNodeToFile();
    return m_pStore->GetChildrenFileCount(GetChildrenKey(pParent, nDepth), nCount);
}

unsigned int CProfessionalFatRecovery::GetLostFileCount() {
    return m_pStore ? m_pStore->GetFileIndex() : 0;
}

int CProfessionalFatRecovery::GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut,
                                                       int nCapacity) {
    if (pNode == nullptr || !m_pStore)
        return ERROR_INVALID_PARAMETER;
    return m_pStore->GetParentDirPath(pNode, pOut, nCapacity);
}

int CProfessionalFatRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback,
                                                 void* pParam) {
    m_callbacks.InitSearch(pSearchCallback, pParam);
    if (!m_pStore)
        return ERROR_INVALID_PARAMETER;
    return m_pStore->InitSearchCallBack(pSearchCallback, pParam);
}

int CProfessionalFatRecovery::SearchFileNode(const char16_t* pKey,
                                             std::vector<SEARCH_FILE_INFO>& vecOut) {
    if (!m_pStore)
        return ERROR_INVALID_PARAMETER;
    return m_pStore->SearchFileNodeInfo(pKey, vecOut);
}

int CProfessionalFatRecovery::OpenSearchCursor(const char16_t* pKey,
                                               std::unique_ptr<ISearchCursor>& pCursor) {
    if (!m_pStore)
        return IFileRecoveryParse::OpenSearchCursor(pKey, pCursor);
    return m_pStore->OpenSearchCursor(pKey, pCursor);
}

int CProfessionalFatRecovery::GetFileNodeByIndex(unsigned int, unsigned int nFileIndex,
                                                 FILE_NODE* pOut) {
    return m_pStore ? m_pStore->ReadFileNode(nFileIndex, pOut) : ERROR_INVALID_PARAMETER;
}

int CProfessionalFatRecovery::GetUnUsedSectorCount(unsigned long long&, unsigned long long&) {
    return 0;
}

int CProfessionalFatRecovery::BuildBitMapInfo() {
    return 0;
}

int CProfessionalFatRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int) {
    if (pNode == nullptr || pTargetPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir != 0)
        return m_folderRecovery.SaveFolder(*pNode, pTargetPath);
    return SaveDataToTargetFile(pNode, pTargetPath);
}

int CProfessionalFatRecovery::SaveDataToTargetFile(FILE_NODE* pNode, const char16_t* pPath) {
    if (pNode == nullptr || pPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (pNode->bIsDir != 0)
        return m_folderRecovery.SaveFolder(*pNode, pPath);
    std::u16string strPath = Ansi2Unicode(GetRealFileName(Unicode2Ansi(pPath)).c_str());
    return NodeData(*pNode).SaveToFile(*pNode, strPath.c_str(), m_callbacks.RecoveryCallback(),
                                       m_callbacks.Param());
}

int CProfessionalFatRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut,
                                      unsigned char* pBuffer, int& nLength,
                                      PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    return NodeData(*pNode).PreView(*pNode, pTempPathOut, pBuffer, nLength, pCallback, pParam);
}

bool CProfessionalFatRecovery::GetFileDataRuns(FILE_NODE* pNode,
                                               std::vector<FILE_DATA_RUN>& vecRuns) {
    if (pNode == nullptr || pNode->bIsDir != 0 || pNode->u64FileSize == 0)
        return false;
    vecRuns = NodeData(*pNode).GetDataRuns(*pNode);
    return true;
}

bool CProfessionalFatRecovery::IsBootVolumeNode(const FILE_NODE& node) const {
    return m_bootGeometry && node.u64DataAreaSector == m_bootGeometry->nDataStart &&
           node.u64PartitionStartSector == m_bootGeometry->u64PartitionStart &&
           node.nClusterBytes == m_bootGeometry->ClusterBytes();
}

// A stored scan taken up again has not met the boot sector that placed a volume inside a larger
// disk; its nodes say where that volume starts (or FAT32's copy of the sector lies).
void CProfessionalFatRecovery::FindNodeBootGeometry(const FILE_NODE& node) {
    if (node.u64PartitionStartSector == m_u64StartSector)
        return;
    for (uint64_t u64Sector :
         {node.u64PartitionStartSector, node.u64PartitionStartSector + FAT32_BACKUP_BOOT_SECTOR}) {
        uint8_t sector[PRO_FAT_SECTOR_BYTES];
        if (!m_bootGeometry && ReadSectors(u64Sector, 1, sector) == 0 &&
            IsFat(sector, sizeof(sector)))
            ParseBootRecord(sector, u64Sector);
    }
}

CFatNodeData CProfessionalFatRecovery::NodeData(const FILE_NODE& node) {
    FindNodeBootGeometry(node);
    return IsBootVolumeNode(node) ? m_chainReader.GetNodeData(node) : m_nodeData;
}
