// Signature carving: which file format starts in a sector (the format table, tried in row
// order) and how many bytes the file has (its size finder, over the disk behind the sector).
#pragma once

#include "engine/FileRecoveryTypes.h"
#include "formats/carving/CFileTypeTable.h"

#include <cstdint>
#include <vector>

class CDiskReader;

// First and last sector (inclusive) of a transport stream that was carved already.
struct TS_FILE_RANGE {
    uint64_t u64StartSector;
    uint64_t u64EndSector;
};

class CFileTypeJudge {
public:
    // Bytes of the shared cache the size finders read the disk through.
    static constexpr int READ_BUF_BYTES = 256 * 1024;

    CFileTypeJudge();
    ~CFileTypeJudge();
    CFileTypeJudge(const CFileTypeJudge&) = delete;
    CFileTypeJudge& operator=(const CFileTypeJudge&) = delete;

    static const EXTEND_NAME_AND_TYPE* GetExtendNameTable() { return CFileTypeTable::Rows(); }
    static int GetExtendNameTableSize() { return CFileTypeTable::RowCount(); }

    // The first format whose detector recognises the buffer, in table order; FILE_TYPE_NONE.
    static EXTEND_NAME_TYPE GetDataBufType(const unsigned char* pBuf, int nLength);
    // The type of the first row with this extension (case ignored); FILE_TYPE_NONE.
    static EXTEND_NAME_TYPE GetExtendNameType(const char* pExtendName);
    // The extension carved files of this type are named with; "" for FILE_TYPE_NONE.
    static const char* GetTypeExtendName(EXTEND_NAME_TYPE nType);

    // 1 when the first sector holds the extension's format (or its container: a docx is a ZIP),
    // else 0; 1 for extensions the table does not know. The reader and sector are not needed
    // any more: detection reads nothing past the buffer.
    static int IsFileTypeMatching(const unsigned char* pBuf, int nLength, const char* pExtendName,
                                  CDiskReader* pDiskReader, int nBytesPerSector,
                                  unsigned long long u64Sector);

    // 1 when the sector is NTFS, FAT or boot-sector metadata rather than file content.
    static int IsFileSystemSector(const unsigned char* pBuf, int nLength);
    // The end check: another file or file-system metadata begins in this sector.
    static bool StartsAnotherFile(const uint8_t* pSector, size_t nBytes);

    static int InitCallBack(ScanProgressCallback pScanCallback,
                            RecoveryProgressCallback pRecoveryCallback, void* pParam, int nWeight);

    // Identifies the sector at u64StartSector and sizes the file starting there: 0 with the type,
    // its name "<sector>.<ext>" (szName holds at least FILE_NODE_NAME_BYTES), its size and the
    // leading bytes whose structure was read (the scan may skip those), and whether that walk
    // proved the structure whole (no second reading needed for it); 87 when no carvable
    // file starts there; ERROR_CANCELLED_BY_USER when the scan callback cancelled the sizing.
    static int
    ParseFileBuf(const unsigned char* pBuf, int nLength, unsigned long long u64StartSector,
                 unsigned long long u64ScanSectorCount, unsigned long long u64SectorTotalCount,
                 int nRemaidSecond, unsigned long long u64FileCount, CDiskReader* pDiskReader,
                 int nBytesPerSector, char* szName, EXTEND_NAME_TYPE& nType,
                 unsigned long long& u64Size, unsigned long long& u64Checked, bool& bProvedWhole);

    // Transport streams carved so far; the deep scan empties the list before a sector pass.
    static void ClearTsFileRanges();
    static const std::vector<TS_FILE_RANGE>& GetTsFileRanges();

private:
    friend class CCarvingScope;

    // Class-wide carving state: one carving pass runs at a time, on one thread. The reader is
    // the caller's and is held only for the duration of ParseFileBuf.
    static int m_nBytesPerSector;
    static uint64_t m_u64StartSector;
    static CDiskReader* m_pDiskReader;
    // Progress of the surrounding scan, passed through to the scan callback while sizing.
    static uint64_t m_u64ScanSectorCount;
    static uint64_t m_u64SectorTotalCount;
    static int m_nRemaidSecond;
    static uint64_t m_u64FileCount;
    static uint64_t m_u64ReportedSectors;
    static ScanProgressCallback m_progressFunc;
    static RecoveryProgressCallback m_pRecoveryFunc;
    static void* m_pParam;
    static int m_nPercent;
    // The scan callback's last answer during sizing.
    static int m_ErrorCode;
    // The size finders' disk cache; allocated while at least one judge exists.
    static unsigned char* m_pReadBuf;
    static int m_nJudgeCount;
    static std::vector<TS_FILE_RANGE> m_tsFileRangeVec;

    // Back to the state of program start (callbacks, sector state, carved streams).
    static void ResetClassState();
    // Index of the row whose detector recognises the buffer first, with the detector's answer;
    // -1 and FILE_TYPE_NONE when none does.
    static int IdentifyRow(const unsigned char* pBuf, int nLength, EXTEND_NAME_TYPE& nType);
    // The same on the first bytes of the file read from the disk, for detectors that judge
    // better with more than the sector; -1 when that does not help either.
    static int IdentifyRowLookingAhead(const unsigned char* pBuf, int nLength,
                                       std::vector<unsigned char>& longer, EXTEND_NAME_TYPE& nType);
    static const EXTEND_NAME_AND_TYPE* FindRow(const char* pExtendName);
    // Reports sizing progress; false when the callback asked to stop.
    static bool ReportSizingProgress(uint64_t u64SectorsRead);
    // A transport stream whose packets run on from the sector before, or that lies inside a
    // stream carved already, is no new file.
    static bool IsInsideEarlierStream(EXTEND_NAME_TYPE nType);
    static void RememberStream(uint64_t u64Size);
};
