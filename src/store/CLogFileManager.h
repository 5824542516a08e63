// The scan-log directory: numbered per-scan sub-directories for result stores and the "config"
// index of deep scans that can be taken up again.
#pragma once

#include "store/ScanVolumeKey.h"
#include "util/TimeUtil.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t LOG_FILE_PATH_BYTES = 256;

// One scan of the index file "config", byte for byte.
struct LOG_FILE_INFO {
    int32_t nDiskNo;
    uint32_t nPadding;
    uint64_t u64StartSector;
    uint64_t u64SectorCount;
    uint64_t u64RunStart; // relative to the volume
    uint64_t u64RunLength;
    uint64_t u64RunDone;
    uint64_t u64SectorsDone;
    uint64_t u64FilesFound;
    uint64_t u64ModifyTime;                 // of the device or image when the scan was saved
    uint64_t u64DeviceBytes;                // its size then
    char szDevicePath[LOG_FILE_PATH_BYTES]; // the device or image, links resolved
    char szLogDirPath[LOG_FILE_PATH_BYTES]; // the scan's sub-directory, with trailing "/"
};

static_assert(sizeof(LOG_FILE_INFO) == 592);
static_assert(offsetof(LOG_FILE_INFO, nDiskNo) == 0);
static_assert(offsetof(LOG_FILE_INFO, u64StartSector) == 8);
static_assert(offsetof(LOG_FILE_INFO, u64SectorCount) == 16);
static_assert(offsetof(LOG_FILE_INFO, u64RunStart) == 24);
static_assert(offsetof(LOG_FILE_INFO, u64RunLength) == 32);
static_assert(offsetof(LOG_FILE_INFO, u64RunDone) == 40);
static_assert(offsetof(LOG_FILE_INFO, u64SectorsDone) == 48);
static_assert(offsetof(LOG_FILE_INFO, u64FilesFound) == 56);
static_assert(offsetof(LOG_FILE_INFO, u64ModifyTime) == 64);
static_assert(offsetof(LOG_FILE_INFO, u64DeviceBytes) == 72);
static_assert(offsetof(LOG_FILE_INFO, szDevicePath) == 80);
static_assert(offsetof(LOG_FILE_INFO, szLogDirPath) == 336);

// Store-name prefixes, one per engine family (GetLogFileNameByFileType looks them up).
constexpr const char* STORE_PREFIX_FAST = "Fast_";
constexpr const char* STORE_PREFIX_PRO_FAT = "Pro_Fat_";
constexpr const char* STORE_PREFIX_PRO_NTFS = "Pro_Ntfs_";
constexpr const char* STORE_PREFIX_PRO_EXFAT = "Pro_ExFat_";
constexpr const char* STORE_PREFIX_FILE_TYPE = "File_Type_";

constexpr const char* LOG_INDEX_FILE_NAME = "config";
constexpr const char* LOG_INDEX_TEMP_FILE_NAME = "config.tmp";

// Process-wide; used by one thread at a time.
class CLogFileManager {
public:
    // The singleton; when $ORVANNE_SCANLOG_DIR no longer names the loaded root it runs Init again.
    static CLogFileManager* GetInstance();

    // Scan-log root with trailing "/": $ORVANNE_SCANLOG_DIR, else
    // ${XDG_STATE_HOME:-$HOME/.local/state}/Tessaly/ScanLog/.
    static std::string GetScanLogRoot();
    // Bytes free to unprivileged users on the file system holding the path (parents tried up to
    // "/"); 0 for a relative path.
    static uint64_t GetFreeSpaceStamp(const char* pPath);
    // A store name: prefix + "%lld_%d%d%d%d%2d" of start sector, year, month, day, hour, minute
    // (e.g. "Fast_2048_2024139 5" for 09:05 on 3 January 2024).
    static std::u16string MakeStoreName(const char* pPrefix, long long llStartSector,
                                        const SYSTEMTIME& time);

    // Creates the directory and its missing parents with mode 0755; 0 or errno.
    static int MakeLogDir(const std::string& strPath);

    // Re-reads the root from the environment, creates it (0755) and loads its index; 0, 87 (no
    // or empty index), 30 (short read) or errno. Any earlier state is dropped first. A root that
    // cannot be used (GetRootError) is left untouched.
    int Init();
    // 0 when the root is a writable folder that is empty or holds this store's index; else why
    // not (ENOTEMPTY: a folder of other files, which is never written to or deleted from).
    int GetRootError() const { return m_nRootError; }
    // The first write error of a result store or the index since Init; 0 while all went well.
    void NoteStoreFailure(int nError);
    int GetStoreFailure() const { return m_nStoreFailure; }

    // The sub-directory (trailing "/") where the current scan's stores live: the loaded scan's,
    // else root + current number + "/".
    std::string GetLogFileDirPath() const;
    // The same into a caller's buffer (truncated, NUL-terminated).
    void GetLogFileDirPath(char* pOut, size_t nCapacity) const;
    // Starts a fresh numbered scan: number + 1, loaded flag off, its old sub-directory deleted.
    void AddDirIndex();
    // Gives the last number back (a fresh scan that ended without results).
    void ReduceDirIndex();

    // The first name, in name order, of the entries of the directory that contains the prefix
    // (a store N wins over N_DirInfo and N_Relation); 0, ENOENT when none (output unchanged), or
    // the errno of opening the directory.
    int GetLogFileNameByFileType(const std::string& strDir, const char* pPrefix,
                                 std::string& strOut) const;

    // 1 and a copy of the record when a usable stored scan of that volume exists, else 0. A
    // stored scan of the same volume of a device whose size or modification time changed is
    // deleted with its directory, and a record naming a directory outside the root is dropped.
    int LoadRecoveryLogInfo(const SCAN_VOLUME_KEY& key, LOG_FILE_INFO* pOut);
    // Records (or updates) the scan of that volume in the index and saves it; 0 or the error of
    // the save.
    int SaveLogFileInfo(const SCAN_VOLUME_KEY& key, int nDiskNo, uint64_t u64RunStart,
                        uint64_t u64RunLength, uint64_t u64RunDone, uint64_t u64SectorsDone,
                        uint64_t u64FilesFound, const char* pLogDirPath);
    // Drops the first record of that directory (case-insensitive) and deletes the directory with
    // everything in it; only directories inside the scan-log root are ever deleted.
    void DeleteLogFileDir(const char* pDir);
    // Writes the index to "config.tmp", syncs it and renames it over "config"; 0 or errno.
    int SaveLogConfigFile();

    const std::string& GetRootPath() const { return m_strRoot; }
    uint64_t GetCurrentIndex() const { return m_u64CurrentIndex; }
    bool IsLoaded() const { return m_bLoaded; }
    const std::vector<LOG_FILE_INFO>& GetRecords() const { return m_vecRecords; }

private:
    CLogFileManager();
    CLogFileManager(const CLogFileManager&) = delete;
    CLogFileManager& operator=(const CLogFileManager&) = delete;

    int LoadIndex(const std::string& strIndexPath);
    // The record of the same volume of the same device path, whatever its size and time.
    LOG_FILE_INFO* FindRecord(const SCAN_VOLUME_KEY& key);
    bool IsInsideRoot(const std::string& strDir) const;
    static bool IsOwnIndex(const std::string& strPath);
    int WriteIndex();
    int CheckRoot() const;

    std::vector<LOG_FILE_INFO> m_vecRecords;
    std::string m_strRoot;
    uint64_t m_u64CurrentIndex = 0;
    bool m_bLoaded = false;
    std::string m_strLoadedDir;
    int m_nRootError = 0;
    int m_nStoreFailure = 0;
};
