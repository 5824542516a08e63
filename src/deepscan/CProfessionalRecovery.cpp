// Drives the fast pre-pass, the shared sector pass and the merged queries of the deep scan.
#include "deepscan/CProfessionalRecovery.h"

#include "deepscan/CFastExtRecovery.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CMergedSearchCursor.h"
#include "device/CDiskRegistry.h"
#include "device/CPartitionManager.h"
#include "device/FileSystemRecognisers.h"
#include "fat/CFastFatRecovery.h"
#include "formats/carving/CFileTypeJudge.h"
#include "formats/fat/FatEntryValidator.h"
#include "formats/fat/FatGeometry.h"
#include "formats/ntfs/NtfsRecord.h"
#include "store/CScanResultFileManager.h"
#include "util/DebugLog.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"
#include "util/TimeUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace {

constexpr long long ESTIMATE_INTERVAL_MS = 5000;
constexpr int PASS_PERCENT_BASE = 10;
constexpr int FINAL_PERCENT = 100;
constexpr int FINAL_WEIGHT = 100;
constexpr uint32_t NTFS_DATA_ATTRIBUTE = 0x80;
constexpr uint64_t NO_CLUSTER_ROOT_AREA_SECTORS = 32;
constexpr int RECORD_READ_BYTES = 8192;
// An exFAT entry set (at most 19 entries) begins in its sector and may run into the next two.
constexpr int EXFAT_SET_READ_SECTORS = 3;
// Read this far ahead of the parsers so the disk works while they do.
constexpr int PREFETCH_CHUNKS = 16;

bool IsFastEngineType(uint32_t nEngineType) {
    return nEngineType == ENGINE_FAST_NTFS || nEngineType == ENGINE_FAST_FAT ||
           nEngineType == ENGINE_FAST_EXFAT;
}

} // namespace

CProfessionalRecovery::CProfessionalRecovery() : m_vecReadBuf(READ_CHUNK_BYTES) {}

CProfessionalRecovery::~CProfessionalRecovery() {
    if (m_nFd >= 0)
        close(m_nFd);
}

// The scan index knows a volume by its device's real path, size and time; without them (a
// device that cannot be examined) the scan is neither taken up nor recorded.
void CProfessionalRecovery::LoadStoredScan(const std::string& strDevicePath) {
    m_storedScan = {};
    m_bLoaded = false;
    m_bHasVolumeKey = MakeScanVolumeKey(strDevicePath.c_str(), m_u64StartSector, m_u64SectorCount,
                                        m_volumeKey) == 0;
    if (m_bHasVolumeKey)
        m_bLoaded =
            CLogFileManager::GetInstance()->LoadRecoveryLogInfo(m_volumeKey, &m_storedScan) == 1;
}

int CProfessionalRecovery::Init(int nDiskNo, long long llStartSector, long long llSectorCount,
                                char16_t wcDriveLetter) {
    m_nDiskNo = nDiskNo;
    m_u64StartSector = static_cast<uint64_t>(llStartSector);
    m_u64SectorCount = static_cast<uint64_t>(llSectorCount);
    m_wcDriveLetter = wcDriveLetter;
    m_nFd = CDiskRegistry::GetInstance().OpenDisk(nDiskNo);
    if (m_nFd < 0)
        return errno;
    m_diskReader.Init(nDiskNo, m_u64StartSector + m_u64SectorCount);
    LoadStoredScan(CDiskRegistry::GetInstance().GetDevicePath(nDiskNo));
    m_fatRecovery.Init(nDiskNo, llStartSector, llSectorCount, wcDriveLetter);
    m_exfatRecovery.Init(nDiskNo, llStartSector, llSectorCount, wcDriveLetter);
    int nResult = m_ntfsRecovery.Init(nDiskNo, llStartSector, llSectorCount, wcDriveLetter);
    m_pFastEngine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        nDiskNo, llStartSector, llSectorCount, wcDriveLetter, RECOVERY_TYPE_FAST));
    if (!m_pFastEngine && m_u64StartSector == 0)
        OpenPartitionEngines(nDiskNo);
    RebuildGroups();
    return nResult;
}

// A disk that starts with a partition table rather than a volume: each partition the factory
// recognises is walked by its own fast engine, and a FAT partition's directory sectors go to a
// deep FAT engine of its own, which places them by that volume's geometry.
void CProfessionalRecovery::OpenPartitionEngines(int nDiskNo) {
    CPartitionManager manager;
    std::vector<PARTITION_ITEM> vecItems = manager.GetDiskPartitions(m_nFd, nDiskNo);
    std::sort(vecItems.begin(), vecItems.end(),
              [](const PARTITION_ITEM& a, const PARTITION_ITEM& b) {
                  return a.u64StartSector < b.u64StartSector;
              });
    uint64_t u64FreeFrom = 1;
    for (const PARTITION_ITEM& item : vecItems) {
        // Of overlapping entries of a damaged table, the first keeps its sectors.
        if (item.u64StartSector < u64FreeFrom || item.u64StartSector >= m_u64SectorCount ||
            item.u64EndSector < item.u64StartSector)
            continue;
        PARTITION_ENGINES part;
        part.u64StartSector = item.u64StartSector;
        part.u64SectorCount =
            std::min(item.u64EndSector + 1, m_u64SectorCount) - item.u64StartSector;
        part.pFastEngine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            nDiskNo, static_cast<long long>(part.u64StartSector),
            static_cast<long long>(part.u64SectorCount), m_wcDriveLetter, RECOVERY_TYPE_FAST));
        // The ext placeholder finds nothing and maps nothing.
        if (!part.pFastEngine || dynamic_cast<CFastExtRecovery*>(part.pFastEngine.get()))
            continue;
        if (dynamic_cast<CFastFatRecovery*>(part.pFastEngine.get()) != nullptr) {
            part.pDeepFat = std::make_unique<CProfessionalFatRecovery>();
            part.pDeepFat->Init(nDiskNo, static_cast<long long>(part.u64StartSector),
                                static_cast<long long>(part.u64SectorCount), m_wcDriveLetter);
        }
        DebugLog("partition at sector %llu, %llu sectors: walked by its fast engine\n",
                 (unsigned long long)part.u64StartSector, (unsigned long long)part.u64SectorCount);
        u64FreeFrom = part.u64StartSector + part.u64SectorCount;
        m_vecPartitions.push_back(std::move(part));
    }
}

void CProfessionalRecovery::RebuildGroups() {
    m_fastEngines.Clear();
    m_deepFatEngines.Clear();
    if (m_pFastEngine)
        m_fastEngines.Add(m_pFastEngine.get());
    for (PARTITION_ENGINES& part : m_vecPartitions)
        if (part.pFastEngine)
            m_fastEngines.Add(part.pFastEngine.get());
    for (CProfessionalFatRecovery* pEngine : DeepFatEngines())
        m_deepFatEngines.Add(pEngine);
}

std::vector<CProfessionalFatRecovery*> CProfessionalRecovery::DeepFatEngines() {
    std::vector<CProfessionalFatRecovery*> vecEngines = {&m_fatRecovery};
    for (PARTITION_ENGINES& part : m_vecPartitions)
        if (part.pDeepFat)
            vecEngines.push_back(part.pDeepFat.get());
    return vecEngines;
}

CProfessionalFatRecovery& CProfessionalRecovery::FatEngineFor(uint64_t u64Sector) {
    auto it = std::upper_bound(m_vecPartitions.begin(), m_vecPartitions.end(), u64Sector,
                               [](uint64_t u64Value, const PARTITION_ENGINES& part) {
                                   return u64Value < part.u64StartSector;
                               });
    if (it == m_vecPartitions.begin())
        return m_fatRecovery;
    --it;
    bool bInside = u64Sector - it->u64StartSector < it->u64SectorCount;
    return bInside && it->pDeepFat ? *it->pDeepFat : m_fatRecovery;
}

int CProfessionalRecovery::Init(const char16_t* pDevicePath, char16_t wcDriveLetter) {
    if (pDevicePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    m_wcDriveLetter = wcDriveLetter;
    std::string strPath = Unicode2Ansi(pDevicePath);
    m_nFd = OpenDeviceReadOnly(strPath.c_str());
    if (m_nFd < 0)
        return errno;
    m_nDiskNo = IMAGE_DISK_NO;
    m_u64StartSector = 0;
    m_u64SectorCount = GetDeviceBytes(m_nFd) / m_nBytesPerSector;
    m_strImagePath = strPath;
    m_diskReader.Init(pDevicePath, m_u64SectorCount);
    LoadStoredScan(strPath);
    m_fatRecovery.Init(pDevicePath, wcDriveLetter);
    m_exfatRecovery.Init(pDevicePath, wcDriveLetter);
    int nResult = m_ntfsRecovery.Init(pDevicePath, wcDriveLetter);
    m_pFastEngine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        pDevicePath, wcDriveLetter, RECOVERY_TYPE_FAST));
    RebuildGroups();
    return nResult;
}

int CProfessionalRecovery::InitCallBack(ScanProgressCallback pScanCallback,
                                        RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                        int) {
    m_callbacks.Init(pScanCallback, pRecoveryCallback, pParam, SCAN_WEIGHT);
    if (m_pFastEngine)
        m_pFastEngine->InitCallBack(pScanCallback, pRecoveryCallback, pParam, FAST_ENGINE_WEIGHT);
    m_fatRecovery.InitCallBack(pScanCallback, pRecoveryCallback, pParam, SCAN_WEIGHT);
    m_ntfsRecovery.InitCallBack(pScanCallback, pRecoveryCallback, pParam, SCAN_WEIGHT);
    m_exfatRecovery.InitCallBack(pScanCallback, pRecoveryCallback, pParam, SCAN_WEIGHT);
    m_fileTypeRecovery.InitCallBack(pScanCallback, pRecoveryCallback, pParam, SCAN_WEIGHT);
    for (PARTITION_ENGINES& part : m_vecPartitions) {
        if (part.pFastEngine)
            part.pFastEngine->InitCallBack(pScanCallback, pRecoveryCallback, pParam,
                                           FAST_ENGINE_WEIGHT);
        if (part.pDeepFat)
            part.pDeepFat->InitCallBack(pScanCallback, pRecoveryCallback, pParam, SCAN_WEIGHT);
    }
    return 0;
}

int CProfessionalRecovery::InitSearchCallBack(SearchProgressCallback pSearchCallback,
                                              void* pParam) {
    m_callbacks.InitSearch(pSearchCallback, pParam);
    if (m_pFastEngine)
        m_pFastEngine->InitSearchCallBack(pSearchCallback, pParam);
    m_fatRecovery.InitSearchCallBack(pSearchCallback, pParam);
    m_ntfsRecovery.InitSearchCallBack(pSearchCallback, pParam);
    m_exfatRecovery.InitSearchCallBack(pSearchCallback, pParam);
    m_fileTypeRecovery.InitSearchCallBack(pSearchCallback, pParam);
    for (PARTITION_ENGINES& part : m_vecPartitions) {
        if (part.pFastEngine)
            part.pFastEngine->InitSearchCallBack(pSearchCallback, pParam);
        if (part.pDeepFat)
            part.pDeepFat->InitSearchCallBack(pSearchCallback, pParam);
    }
    return 0;
}

void CProfessionalRecovery::SetNotLoadLogFile() {
    if (m_bLoaded)
        CLogFileManager::GetInstance()->DeleteLogFileDir(m_storedScan.szLogDirPath);
    m_bLoaded = false;
    m_storedScan = {};
}

std::string CProfessionalRecovery::StoredStoreName(const char* pPrefix) const {
    std::string strName;
    CLogFileManager::GetInstance()->GetLogFileNameByFileType(m_storedScan.szLogDirPath, pPrefix,
                                                             strName);
    return strName;
}

std::string CProfessionalRecovery::StoredStoreName(const char* pPrefix,
                                                   uint64_t u64StartSector) const {
    return StoredStoreName((pPrefix + std::to_string(u64StartSector) + "_").c_str());
}

// The fast engine finds what the file system still knows and maps the unallocated sectors.
int CProfessionalRecovery::RunFastEngine(bool bResumed, bool& bUseMap) {
    bUseMap = false;
    if (!m_pFastEngine) {
        RunPartitionFastEngines(bResumed);
        return 0;
    }
    m_pFastEngine->InitCallBack(m_callbacks.ScanCallback(), m_callbacks.RecoveryCallback(),
                                m_callbacks.Param(), FAST_ENGINE_WEIGHT);
    // The ext placeholder reports a map but never a run: such a volume is scanned whole.
    bool bHasMap = dynamic_cast<CFastExtRecovery*>(m_pFastEngine.get()) == nullptr;
    bUseMap = m_pFastEngine->BuildBitMapInfo() == 0 && bHasMap;
    if (!bResumed)
        return m_pFastEngine->ScanDevice(nullptr);
    std::u16string strName = Ansi2Unicode(StoredStoreName(STORE_PREFIX_FAST).c_str());
    return m_pFastEngine->ScanDevice(strName.c_str());
}

// A partition whose walk fails is left to the sector pass alone; a stop asked meanwhile ends the
// pass at its first report.
void CProfessionalRecovery::RunPartitionFastEngines(bool bResumed) {
    for (PARTITION_ENGINES& part : m_vecPartitions) {
        IFileRecoveryParse* pEngine = part.pFastEngine.get();
        if (pEngine == nullptr)
            continue;
        pEngine->InitCallBack(m_callbacks.ScanCallback(), m_callbacks.RecoveryCallback(),
                              m_callbacks.Param(), FAST_ENGINE_WEIGHT);
        pEngine->BuildBitMapInfo();
        int nResult = ENOENT;
        if (!bResumed) {
            nResult = pEngine->ScanDevice(nullptr);
        } else if (std::string strName = StoredStoreName(STORE_PREFIX_FAST, part.u64StartSector);
                   !strName.empty()) {
            nResult = pEngine->ScanDevice(Ansi2Unicode(strName.c_str()).c_str());
        }
        if (nResult != 0) {
            DebugLog("fast engine of the partition at sector %llu ended with %d\n",
                     (unsigned long long)part.u64StartSector, nResult);
            part.pFastEngine.reset();
        }
    }
    RebuildGroups();
}

int CProfessionalRecovery::OpenPassStores(bool bResumed) {
    if (!bResumed) {
        int nResult = m_strImagePath.empty()
                          ? m_fileTypeRecovery.Init(m_nDiskNo, m_u64StartSector, m_u64SectorCount,
                                                    m_wcDriveLetter)
                          : m_fileTypeRecovery.Init(Ansi2Unicode(m_strImagePath.c_str()).c_str(),
                                                    m_wcDriveLetter);
        m_fatRecovery.ClearProfessionalVec(nullptr);
        m_ntfsRecovery.ClearProfessionalVec();
        m_ntfsRecovery.InitProfessionalScan(nullptr);
        m_exfatRecovery.ClearProfessionalVec(nullptr);
        for (PARTITION_ENGINES& part : m_vecPartitions)
            if (part.pDeepFat)
                part.pDeepFat->ClearProfessionalVec(nullptr);
        return nResult;
    }
    std::u16string strCarved = Ansi2Unicode(StoredStoreName(STORE_PREFIX_FILE_TYPE).c_str());
    std::u16string strFat = Ansi2Unicode(StoredStoreName(STORE_PREFIX_PRO_FAT).c_str());
    std::u16string strNtfs = Ansi2Unicode(StoredStoreName(STORE_PREFIX_PRO_NTFS).c_str());
    int nResult =
        m_fileTypeRecovery.InitLogFile(strCarved.c_str(), m_wcDriveLetter, m_nDiskNo,
                                       m_nBytesPerSector, m_u64StartSector + m_u64SectorCount);
    m_fatRecovery.ClearProfessionalVec(strFat.c_str());
    m_ntfsRecovery.ClearProfessionalVec();
    m_ntfsRecovery.InitProfessionalScan(strNtfs.c_str());
    m_exfatRecovery.ClearProfessionalVec(
        Ansi2Unicode(StoredStoreName(STORE_PREFIX_PRO_EXFAT).c_str()).c_str());
    for (PARTITION_ENGINES& part : m_vecPartitions) {
        if (part.pDeepFat)
            part.pDeepFat->ClearProfessionalVec(
                Ansi2Unicode(StoredStoreName(STORE_PREFIX_PRO_FAT, part.u64StartSector).c_str())
                    .c_str());
    }
    return nResult;
}

CProfessionalRecovery::SCAN_RUN CProfessionalRecovery::NextRun(bool bUseMap, uint64_t u64From) {
    if (!bUseMap)
        return u64From == 0 ? SCAN_RUN{0, m_u64SectorCount} : SCAN_RUN{u64From, 0};
    unsigned long long u64Start = u64From, u64Count = 0;
    if (m_pFastEngine->GetUnUsedSectorCount(u64Start, u64Count) != 1)
        return SCAN_RUN{u64From, 0};
    return SCAN_RUN{u64Start, u64Count};
}

uint64_t CProfessionalRecovery::CountSectorsToScan(bool bUseMap) {
    if (!bUseMap)
        return m_u64SectorCount;
    uint64_t u64Total = 0;
    for (SCAN_RUN run = NextRun(true, 0); run.u64Length > 0;
         run = NextRun(true, run.u64Start + run.u64Length))
        u64Total += run.u64Length;
    return u64Total;
}

int CProfessionalRecovery::ScanDevice(const char16_t*) {
    bool bResumed = m_bLoaded;
    if (!bResumed)
        CLogFileManager::GetInstance()->AddDirIndex();
    bool bUseMap = false;
    int nResult = RunFastEngine(bResumed, bUseMap);
    // A boot sector the fast engine refuses may still lead the way to a volume full of files:
    // the sector pass then reads the whole volume, as for one no engine recognises.
    if (nResult == ERROR_UNRECOGNIZED_VOLUME) {
        DebugLog("fast engine refused the boot sector; the deep pass reads the whole volume\n");
        bUseMap = false;
        nResult = 0;
    }
    if (nResult != 0) {
        RecordScan(true, bResumed);
        m_strImagePath.clear();
        return nResult;
    }
    OpenPassStores(bResumed);
    DebugLog("InitVirtualDbrInfo Start\n");
    for (CProfessionalFatRecovery* pEngine : DeepFatEngines())
        pEngine->InitVirtualDbrInfo();
    CFileTypeJudge::ClearTsFileRanges();
    m_fileTypeRecovery.SetKnownFileStarts(CollectWalkedFileStarts());
    nResult = RunSectorPass(bUseMap, bResumed, CountSectorsToScan(bUseMap));
    for (CProfessionalFatRecovery* pEngine : DeepFatEngines())
        pEngine->DealProfessionalRecordVec();
    m_ntfsRecovery.ParseProfessionalRecordVec();
    m_exfatRecovery.DealProfessionalRecordVec();
    m_fastEngines.AssignBases();
    m_deepFatEngines.AssignBases();
    if (nResult == 0)
        m_callbacks.ReportScan(FINAL_PERCENT, FINAL_WEIGHT, 0);
    RecordScan(false, bResumed);
    m_strImagePath.clear();
    return nResult;
}

int CProfessionalRecovery::RunSectorPass(bool bUseMap, bool bResumed, uint64_t u64TotalSectors) {
    SCAN_RUN run = bResumed ? SCAN_RUN{m_storedScan.u64RunStart, m_storedScan.u64RunLength}
                            : NextRun(bUseMap, 0);
    uint64_t u64SectorsDone = 0;
    m_nSecondsLeft = -1;
    m_llPassStartMs = m_llLastEstimateMs = GetTickCountMs();
    bool bFirstRun = true;
    while (run.u64Length > 0) {
        m_currentRun = run;
        m_u64RunDone = 0;
        if (bFirstRun && bResumed) {
            m_u64RunDone = std::min(m_storedScan.u64RunDone, run.u64Length);
            u64SectorsDone = m_storedScan.u64SectorsDone;
            m_bLoaded = false;
        }
        bFirstRun = false;
        m_u64SectorsDone = u64SectorsDone;
        int nResult = ScanRun(run, u64TotalSectors, u64SectorsDone);
        m_u64SectorsDone = u64SectorsDone;
        if (nResult != 0)
            return nResult;
        run = NextRun(bUseMap, run.u64Start + run.u64Length);
    }
    m_currentRun = run;
    m_u64RunDone = 0;
    return 0;
}

// One bad sector costs only itself: it is logged and parsed as zeros. Sectors past the end of
// the device are parsed as zeros too.
void CProfessionalRecovery::ReadChunk(uint64_t u64Sector, uint32_t nSectors) {
    unsigned int nRead = 0;
    uint64_t u64Unreadable = 0;
    m_diskReader.ReadDataTolerant(m_vecReadBuf.data(), static_cast<int>(nSectors),
                                  static_cast<long long>(u64Sector), m_nBytesPerSector, &nRead,
                                  u64Unreadable);
    if (nRead < nSectors)
        std::memset(m_vecReadBuf.data() + size_t(nRead) * m_nBytesPerSector, 0,
                    size_t(nSectors - nRead) * m_nBytesPerSector);
}

int CProfessionalRecovery::ScanRun(const SCAN_RUN& run, uint64_t u64TotalSectors,
                                   uint64_t& u64SectorsDone) {
    const uint32_t nChunkSectors = READ_CHUNK_BYTES / m_nBytesPerSector;
    uint64_t u64Remaining = run.u64Length - m_u64RunDone;
    while (u64Remaining >= 1) {
        uint32_t nSectors = static_cast<uint32_t>(std::min<uint64_t>(nChunkSectors, u64Remaining));
        uint64_t u64Absolute = m_u64StartSector + run.u64Start + m_u64RunDone;
        if ((m_u64RunDone / nChunkSectors) % PREFETCH_CHUNKS == 0)
            m_diskReader.Prefetch(u64Absolute + nChunkSectors,
                                  static_cast<int>(nChunkSectors * PREFETCH_CHUNKS),
                                  m_nBytesPerSector);
        ReadChunk(u64Absolute, nSectors);
        uint64_t u64Overrun = 0;
        // Reopened stores count what they already hold: that is the count a resumed scan
        // starts from.
        uint64_t u64Files = GetLostFileCount();
        int nParse = ParseProfessionalFileInfo(m_vecReadBuf.data(), nSectors * m_nBytesPerSector,
                                               u64Absolute, u64SectorsDone, u64TotalSectors,
                                               m_nSecondsLeft, u64Overrun, u64Files);
        if (nParse == ERROR_CANCELLED_BY_USER)
            return nParse;
        uint64_t u64Step = nSectors + u64Overrun;
        m_u64RunDone += u64Step;
        u64SectorsDone += std::min(u64Step, u64Remaining);
        u64Remaining -= std::min(u64Step, u64Remaining);
        m_u64SectorsDone = u64SectorsDone;
        UpdateEstimate(u64SectorsDone, u64TotalSectors);
        if (int nAnswer = ReportPassProgress(u64SectorsDone, u64TotalSectors); nAnswer != 0)
            return nAnswer;
        // Results that cannot be stored make the rest of the pass pointless.
        if (int nStore = CLogFileManager::GetInstance()->GetStoreFailure(); nStore != 0)
            return nStore;
    }
    return 0;
}

void CProfessionalRecovery::UpdateEstimate(uint64_t u64SectorsDone, uint64_t u64TotalSectors) {
    long long llNow = GetTickCountMs();
    if (llNow - m_llLastEstimateMs < ESTIMATE_INTERVAL_MS)
        return;
    m_llLastEstimateMs = llNow;
    long long llSeconds = std::max(1LL, (llNow - m_llPassStartMs) / 1000);
    uint64_t u64Rate = std::max<uint64_t>(1, m_nBytesPerSector * u64SectorsDone / llSeconds);
    uint64_t u64Left = u64TotalSectors > u64SectorsDone ? u64TotalSectors - u64SectorsDone : 0;
    m_nSecondsLeft = static_cast<int>(u64Left * m_nBytesPerSector / u64Rate);
}

int CProfessionalRecovery::ReportPassProgress(uint64_t u64SectorsDone, uint64_t u64TotalSectors) {
    if (!m_callbacks.HasScan())
        return 0;
    uint64_t u64Files = GetLostFileCount();
    int nPercent = u64TotalSectors == 0 ? PASS_PERCENT_BASE
                                        : static_cast<int>(u64SectorsDone * 100 / u64TotalSectors) +
                                              PASS_PERCENT_BASE;
    return m_callbacks.ReportScan(nPercent, SCAN_WEIGHT, m_nSecondsLeft, u64SectorsDone,
                                  u64TotalSectors, u64Files, nullptr);
}

void CProfessionalRecovery::RecordScan(bool bEndedInFastEngine, bool bResumed) {
    CLogFileManager* pLogs = CLogFileManager::GetInstance();
    if (bEndedInFastEngine && !bResumed) {
        pLogs->ReduceDirIndex();
        return;
    }
    if (!m_bHasVolumeKey)
        return;
    std::string strDir =
        m_bLoaded ? std::string(m_storedScan.szLogDirPath) : pLogs->GetLogFileDirPath();
    bool bNoPosition = bEndedInFastEngine;
    uint64_t u64Files = GetLostFileCount();
    // A failed save is noted by the scan-log manager itself (GetStoreFailure).
    pLogs->SaveLogFileInfo(m_volumeKey, m_nDiskNo, bNoPosition ? 0 : m_currentRun.u64Start,
                           bNoPosition ? 0 : m_currentRun.u64Length, bNoPosition ? 0 : m_u64RunDone,
                           bNoPosition ? 0 : m_u64SectorsDone, bNoPosition ? 0 : u64Files,
                           strDir.c_str());
}

int CProfessionalRecovery::ParseProfessionalFileInfo(const uint8_t* pBuffer, uint32_t nBytes,
                                                     uint64_t u64Sector, uint64_t u64SectorsDone,
                                                     uint64_t u64TotalSectors, int nSecondsLeft,
                                                     uint64_t& u64Overrun,
                                                     uint64_t& u64FilesFound) {
    const uint32_t nSectorBytes = static_cast<uint32_t>(m_nBytesPerSector);
    const uint32_t nRecordSize = nSectorBytes <= 512 ? 2 * nSectorBytes : nSectorBytes;
    int64_t i64Remaining = nBytes;
    uint64_t u64Index = 0;
    int nResult = 0;
    u64Overrun = 0;
    while (i64Remaining >= static_cast<int64_t>(nSectorBytes)) {
        uint64_t u64Step = 1;
        const uint8_t* pSector = pBuffer + u64Index * nSectorBytes;
        size_t nAvail = nBytes - u64Index * nSectorBytes;
        if (IsNtfsFileRecord(pSector, std::min<size_t>(nAvail, nRecordSize), nRecordSize)) {
            nResult = ParseNtfsCandidate(pSector, nAvail, nRecordSize, u64Sector + u64Index);
        } else if (IsFatFileRecord(pSector, nSectorBytes)) {
            nResult = FatEngineFor(u64Sector + u64Index)
                          .ParseFatFileRecord(pSector, u64Sector + u64Index);
        } else if (IsFatFDTRecord(pSector, nSectorBytes)) {
            nResult = FatEngineFor(u64Sector + u64Index)
                          .ParseFDTFileRecord(pSector, u64Sector + u64Index);
        } else if (IsFat(pSector, nSectorBytes)) {
            nResult =
                FatEngineFor(u64Sector + u64Index).ParseBootRecord(pSector, u64Sector + u64Index);
        } else if (ParseExFatCandidate(pSector, nAvail, u64Sector + u64Index)) {
            nResult = 0;
        } else {
            unsigned long long u64Skip = 1;
            unsigned long long u64Files = u64FilesFound;
            nResult = m_fileTypeRecovery.ParseFileBuf(
                pSector, nSectorBytes, u64Sector + u64Index, u64SectorsDone, u64TotalSectors,
                nSecondsLeft, &m_diskReader, m_nBytesPerSector, u64Skip, u64Files);
            u64FilesFound = u64Files;
            if (nResult == ERROR_CANCELLED_BY_USER)
                return nResult;
            u64Step = std::max<unsigned long long>(1, u64Skip);
        }
        u64Index += u64Step;
        i64Remaining -= static_cast<int64_t>(u64Step * nSectorBytes);
    }
    if (i64Remaining < 0)
        u64Overrun = static_cast<uint64_t>(-i64Remaining) / nSectorBytes;
    return nResult;
}

// A record that runs past the chunk is read whole from the disk before it is parsed.
int CProfessionalRecovery::ParseNtfsCandidate(const uint8_t* pSector, size_t nAvail,
                                              uint32_t nRecordSize, uint64_t u64Sector) {
    if (nAvail >= nRecordSize)
        return m_ntfsRecovery.ParseNtfsFileRecord(pSector, nRecordSize, u64Sector);
    m_vecRecordBuf.resize(RECORD_READ_BYTES);
    unsigned int nRead = 0;
    int nSectors = RECORD_READ_BYTES / m_nBytesPerSector;
    m_diskReader.ReadData(m_vecRecordBuf.data(), nSectors, static_cast<long long>(u64Sector),
                          m_nBytesPerSector, &nRead);
    if (nRead * static_cast<uint32_t>(m_nBytesPerSector) < nRecordSize)
        return 0;
    return m_ntfsRecovery.ParseNtfsFileRecord(m_vecRecordBuf.data(), nRecordSize, u64Sector);
}

// An entry set that runs past the chunk is read whole from the disk before it is parsed.
bool CProfessionalRecovery::ParseExFatCandidate(const uint8_t* pSector, size_t nAvail,
                                                uint64_t u64Sector) {
    const size_t nSetBytes = size_t(EXFAT_SET_READ_SECTORS) * m_nBytesPerSector;
    if (nAvail >= nSetBytes)
        return m_exfatRecovery.ParseExFatSector(pSector, nAvail, u64Sector);
    m_vecRecordBuf.assign(nSetBytes, 0);
    std::copy(pSector, pSector + nAvail, m_vecRecordBuf.begin());
    unsigned int nRead = 0;
    m_diskReader.ReadData(m_vecRecordBuf.data(), EXFAT_SET_READ_SECTORS,
                          static_cast<long long>(u64Sector), m_nBytesPerSector, &nRead);
    const size_t nHave = std::max<size_t>(nAvail, size_t(nRead) * m_nBytesPerSector);
    return m_exfatRecovery.ParseExFatSector(m_vecRecordBuf.data(), nHave, u64Sector);
}

CEngineGroup* CProfessionalRecovery::GroupOf(uint32_t nEngineType) {
    if (IsFastEngineType(nEngineType))
        return &m_fastEngines;
    return nEngineType == ENGINE_DEEP_FAT ? &m_deepFatEngines : nullptr;
}

IFileRecoveryParse* CProfessionalRecovery::EngineOf(uint32_t nEngineType, uint32_t nFileIndex,
                                                    uint32_t& nEngineIndex) {
    nEngineIndex = nFileIndex;
    if (CEngineGroup* pGroup = GroupOf(nEngineType))
        return pGroup->Find(nFileIndex, nEngineIndex);
    switch (nEngineType) {
    case ENGINE_DEEP_EXFAT:
        return &m_exfatRecovery;
    case ENGINE_DEEP_NTFS:
        return &m_ntfsRecovery;
    case ENGINE_FILE_TYPE:
        return &m_fileTypeRecovery;
    default:
        return nullptr;
    }
}

IFileRecoveryParse* CProfessionalRecovery::EngineOfNode(const FILE_NODE& node,
                                                        FILE_NODE& engineNode) {
    engineNode = node;
    return EngineOf(node.nEngineType, node.nFileIndex, engineNode.nFileIndex);
}

// Every engine whose results the deep scan lists, in the order equal names keep.
std::vector<IFileRecoveryParse*> CProfessionalRecovery::ListedEngines() {
    std::vector<IFileRecoveryParse*> vecEngines = m_fastEngines.Engines();
    vecEngines.insert(vecEngines.end(), m_deepFatEngines.Engines().begin(),
                      m_deepFatEngines.Engines().end());
    vecEngines.insert(vecEngines.end(), {&m_ntfsRecovery, &m_exfatRecovery, &m_fileTypeRecovery});
    return vecEngines;
}

unsigned int CProfessionalRecovery::GetLostFileCount() {
    unsigned int nCount = 0;
    for (IFileRecoveryParse* pEngine : ListedEngines())
        nCount += pEngine->GetLostFileCount();
    return nCount;
}

int CProfessionalRecovery::GetChildrenFileNode(FILE_NODE* pParent, unsigned int nDepth,
                                               std::vector<FILE_NODE>& vecChildren) {
    size_t nFirst = vecChildren.size();
    if (pParent == nullptr) {
        if (nDepth != 0)
            return ERROR_INVALID_PARAMETER;
        for (const CEngineGroup* pGroup : {&m_fastEngines, &m_deepFatEngines}) {
            for (IFileRecoveryParse* pEngine : pGroup->Engines()) {
                size_t nEngineFirst = vecChildren.size();
                pEngine->GetChildrenFileNode(nullptr, 0, vecChildren);
                pGroup->ToGroupNumbers(pEngine, vecChildren, nEngineFirst);
            }
        }
        m_ntfsRecovery.GetChildrenFileNode(nullptr, 0, vecChildren);
        m_exfatRecovery.GetChildrenFileNode(nullptr, 0, vecChildren);
        m_fileTypeRecovery.GetChildrenFileNode(nullptr, 0, vecChildren);
    } else if (pParent->nEngineType != ENGINE_FILE_TYPE) {
        FILE_NODE parent;
        if (IFileRecoveryParse* pEngine = EngineOfNode(*pParent, parent)) {
            pEngine->GetChildrenFileNode(&parent, nDepth, vecChildren);
            if (CEngineGroup* pGroup = GroupOf(pParent->nEngineType))
                pGroup->ToGroupNumbers(pEngine, vecChildren, nFirst);
        }
    }
    CScanResultFileManager::SortFileNodes(vecChildren, nFirst);
    return 0;
}

int CProfessionalRecovery::GetChildrenFileCount(FILE_NODE* pParent, unsigned int nDepth,
                                                unsigned int& nCount) {
    if (pParent != nullptr) {
        FILE_NODE parent;
        IFileRecoveryParse* pEngine = EngineOfNode(*pParent, parent);
        if (pEngine == nullptr || pParent->nEngineType == ENGINE_FILE_TYPE)
            return 0;
        return pEngine->GetChildrenFileCount(&parent, nDepth, nCount);
    }
    if (nDepth != 0)
        return ERROR_INVALID_PARAMETER;
    for (IFileRecoveryParse* pEngine : ListedEngines()) {
        unsigned int nEngineCount = 0;
        pEngine->GetChildrenFileCount(nullptr, 0, nEngineCount);
        nCount += nEngineCount;
    }
    return 0;
}

int CProfessionalRecovery::GetFileNodeParentDirPath(FILE_NODE* pNode, char16_t* pOut,
                                                    int nCapacity) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    FILE_NODE node;
    IFileRecoveryParse* pEngine = EngineOfNode(*pNode, node);
    return pEngine == nullptr ? 0 : pEngine->GetFileNodeParentDirPath(&node, pOut, nCapacity);
}

int CProfessionalRecovery::SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath,
                                        int nBaseDepth) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    FILE_NODE node;
    IFileRecoveryParse* pEngine = EngineOfNode(*pNode, node);
    return pEngine == nullptr ? 0 : pEngine->SaveFileData(&node, pTargetPath, nBaseDepth);
}

int CProfessionalRecovery::GetFileNodeByIndex(unsigned int nEngineType, unsigned int nFileIndex,
                                              FILE_NODE* pOut) {
    uint32_t nEngineIndex = 0;
    IFileRecoveryParse* pEngine = EngineOf(nEngineType, nFileIndex, nEngineIndex);
    if (pEngine == nullptr)
        return ERROR_INVALID_PARAMETER;
    int nResult = pEngine->GetFileNodeByIndex(nEngineType, nEngineIndex, pOut);
    if (nResult == 0 && pOut != nullptr)
        pOut->nFileIndex = nFileIndex;
    return nResult;
}

int CProfessionalRecovery::PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer,
                                   int& nLength, PreviewProgressCallback pCallback, void* pParam) {
    if (pNode == nullptr)
        return ERROR_INVALID_PARAMETER;
    FILE_NODE node;
    IFileRecoveryParse* pEngine = EngineOfNode(*pNode, node);
    return pEngine == nullptr
               ? 0
               : pEngine->PreView(&node, pTempPathOut, pBuffer, nLength, pCallback, pParam);
}

bool CProfessionalRecovery::GetFileDataRuns(FILE_NODE* pNode, std::vector<FILE_DATA_RUN>& vecRuns) {
    FILE_NODE node;
    IFileRecoveryParse* pEngine = pNode == nullptr ? nullptr : EngineOfNode(*pNode, node);
    return pEngine != nullptr && pEngine->GetFileDataRuns(&node, vecRuns);
}

uint64_t CProfessionalRecovery::GetFileDataStartSector(FILE_NODE& node, bool& bKnown) {
    bKnown = false;
    if (node.nEngineType == ENGINE_FAST_NTFS || node.nEngineType == ENGINE_DEEP_NTFS) {
        std::vector<RUNLIST> vecRuns;
        if (m_ntfsRecovery.GetRunListInfo(node.u64LocationSector, NTFS_DATA_ATTRIBUTE, vecRuns) !=
            0)
            return 0;
        bKnown = true;
        // Data kept in the record itself: the record is where the file lies.
        if (vecRuns.empty())
            return node.u64LocationSector;
        return uint64_t(node.nClusterBytes) * uint64_t(vecRuns[0].i64Offset) / m_nBytesPerSector +
               node.u64PartitionStartSector;
    }
    if (node.nEngineType == ENGINE_FAST_FAT || node.nEngineType == ENGINE_DEEP_FAT ||
        node.nEngineType == ENGINE_FAST_EXFAT || node.nEngineType == ENGINE_DEEP_EXFAT) {
        bKnown = true;
        // Files without a cluster are keyed where the search rule has always placed them: the
        // 32 sectors of a default FAT16 root area before cluster 2.
        return GetFatNodeClusterSector(node, node.nClusterNo)
            .value_or(node.u64DataAreaSector + node.u64PartitionStartSector -
                      NO_CLUSTER_ROOT_AREA_SECTORS);
    }
    return 0;
}

// Where the FAT and exFAT walks' files of the kinds carving can join begin (their deleted files
// lie in the free sectors the pass carves), sorted.
std::vector<uint64_t> CProfessionalRecovery::CollectWalkedFileStarts() {
    const std::u16string strKey = Ansi2Unicode((std::string(PHOTO_PATTERN) + "|" + VIDEO_PATTERN +
                                                "|" + OFFICE_PATTERN + "|" + ARCHIVE_PATTERN)
                                                   .c_str());
    std::vector<uint64_t> vecStarts;
    SEARCH_FILE_INFO hit;
    for (IFileRecoveryParse* pEngine : m_fastEngines.Engines()) {
        std::unique_ptr<ISearchCursor> pCursor;
        pEngine->OpenSearchCursor(strKey.c_str(), pCursor);
        while (pCursor && pCursor->Next(hit))
            if (hit.nEngineType == ENGINE_FAST_FAT || hit.nEngineType == ENGINE_FAST_EXFAT)
                if (std::optional<uint64_t> u64Sector =
                        GetFatNodeClusterSector(hit, hit.nClusterNo))
                    vecStarts.push_back(*u64Sector);
    }
    std::sort(vecStarts.begin(), vecStarts.end());
    return vecStarts;
}

// Reads the file-system engines' hits once to learn which later hits repeat a file. The first
// nFastSources sources are the fast walks', the last one the carver's.
CDuplicateHitFilter
CProfessionalRecovery::BuildDuplicateFilter(std::vector<std::unique_ptr<ISearchCursor>>& vecSources,
                                            size_t nFastSources) {
    CDuplicateHitFilter filter;
    SEARCH_FILE_INFO hit;
    for (size_t i = 0; i + 1 < vecSources.size(); ++i) {
        if (!vecSources[i])
            continue;
        while (vecSources[i]->Next(hit)) {
            bool bKnown = false;
            uint64_t u64Sector = GetFileDataStartSector(hit, bKnown);
            if (!bKnown)
                continue;
            if (i >= nFastSources)
                filter.AddDeepHit(hit, u64Sector);
            else if (IsFastEngineType(hit.nEngineType))
                filter.AddFastHit(hit, u64Sector);
        }
        vecSources[i]->Rewind();
    }
    filter.Seal();
    return filter;
}

// Sources in the order equal names keep: the fast walks, the deep FAT engines, deep NTFS, deep
// exFAT, the carver.
int CProfessionalRecovery::OpenSearchCursor(const char16_t* pKey,
                                            std::unique_ptr<ISearchCursor>& pCursor) {
    std::vector<std::unique_ptr<ISearchCursor>> vecSources;
    for (const CEngineGroup* pGroup : {&m_fastEngines, &m_deepFatEngines}) {
        for (size_t i = 0; i < pGroup->Engines().size(); ++i)
            pGroup->OpenSearchCursor(i, pKey, vecSources.emplace_back());
    }
    m_ntfsRecovery.OpenSearchCursor(pKey, vecSources.emplace_back());
    m_exfatRecovery.OpenSearchCursor(pKey, vecSources.emplace_back());
    m_fileTypeRecovery.OpenSearchCursor(pKey, vecSources.emplace_back());
    CDuplicateHitFilter filter = BuildDuplicateFilter(vecSources, m_fastEngines.Engines().size());
    pCursor = std::make_unique<CMergedSearchCursor>(std::move(vecSources), std::move(filter));
    return 0;
}

int CProfessionalRecovery::SearchFileNode(const char16_t* pKey,
                                          std::vector<SEARCH_FILE_INFO>& vecOut) {
    std::unique_ptr<ISearchCursor> pCursor;
    OpenSearchCursor(pKey, pCursor);
    pCursor->AppendRemaining(vecOut);
    return 0;
}
