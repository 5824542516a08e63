// Signature carving: which file format starts in a sector (one table of formats, tried in row
// order) and how many bytes the file has (header fields, end markers, or the next file's start).
#pragma once

#include "engine/FileRecoveryTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class CDiskReader;

// Type codes; the numbers are stored in results and must not change.
enum EXTEND_NAME_TYPE : uint32_t {
    FILE_TYPE_DOC = 0,
    FILE_TYPE_DOCX = 1,
    FILE_TYPE_OLE = 2,
    FILE_TYPE_XLS = 3,
    FILE_TYPE_XLSX = 4,
    FILE_TYPE_PPT = 5,
    FILE_TYPE_PPTX = 6,
    FILE_TYPE_MSO07 = 7,
    FILE_TYPE_PDF = 8,
    FILE_TYPE_GHO = 9,
    FILE_TYPE_JPG = 10,
    FILE_TYPE_MP2 = 11,
    FILE_TYPE_MP3 = 12,
    FILE_TYPE_MID = 13,
    FILE_TYPE_MMF = 14,
    FILE_TYPE_MPEG = 15,
    FILE_TYPE_3GP = 16,
    FILE_TYPE_MOV = 17,
    FILE_TYPE_MP4 = 18,
    FILE_TYPE_MKV = 19,
    FILE_TYPE_TS = 20,
    FILE_TYPE_WAV = 21,
    FILE_TYPE_AVI = 22,
    FILE_TYPE_RMVB = 23,
    FILE_TYPE_WMV = 24,
    FILE_TYPE_APE = 25,
    FILE_TYPE_SWF = 26,
    FILE_TYPE_FLV = 27,
    FILE_TYPE_PSD = 28,
    FILE_TYPE_BMP = 29,
    FILE_TYPE_PNG = 30,
    FILE_TYPE_GIF = 31,
    FILE_TYPE_TIF = 32,
    FILE_TYPE_CAB = 33,
    FILE_TYPE_7Z = 34,
    FILE_TYPE_ZIP = 35,
    FILE_TYPE_GZ = 36,
    FILE_TYPE_RAR = 37,
    FILE_TYPE_PST = 38,
    FILE_TYPE_DB = 39,
    FILE_TYPE_DBX = 40,
    FILE_TYPE_EXE = 41,
    FILE_TYPE_DLL = 42,
    FILE_TYPE_SYS = 43,
    FILE_TYPE_FLA = 44,
    FILE_TYPE_TTF = 45,
    FILE_TYPE_ICO = 46,
    FILE_TYPE_MTS = 47,
    FILE_TYPE_MXF = 48,
    FILE_TYPE_NONE = 49,
};

// First and last sector (inclusive) of a TS stream that was carved already.
struct TS_FILE_RANGE {
    uint64_t u64StartSector;
    uint64_t u64EndSector;
};

class CFileTypeJudge {
public:
    using Detector = EXTEND_NAME_TYPE (*)(const unsigned char* pBuf, int nLength);
    using SizeFinder = uint64_t (*)(const unsigned char* pBuf, int nLength);
    // A finder's own look at one block: the file's size when this block settles it. u64Before
    // is the file's bytes before the block.
    using TailSearch = std::function<std::optional<uint64_t>(const unsigned char* pBlock,
                                                             size_t nBlock, uint64_t u64Before)>;

    // The first bytes a row's detector can accept (at most two), or ANY_LEAD_BYTE when it looks
    // past byte 0: identification never calls a detector that cannot match.
    static constexpr int ANY_LEAD_BYTE = -1;
    static constexpr int NO_LEAD_BYTE = -2;
    struct LEAD_BYTES {
        int nFirst = NO_LEAD_BYTE;
        int nSecond = NO_LEAD_BYTE;
    };

    // One row of the format table: the extension carved files of the type are named with
    // (first row of a type), the detector, the size finder (none for executables and gho), and
    // the detector's possible first bytes.
    struct EXTEND_NAME_AND_TYPE {
        const char* szExtendName;
        EXTEND_NAME_TYPE nType;
        Detector pfnDetect;
        SizeFinder pfnGetSize;
        LEAD_BYTES leadBytes;
    };

    static constexpr int READ_BUF_BYTES = 65536;

    CFileTypeJudge();
    ~CFileTypeJudge();
    CFileTypeJudge(const CFileTypeJudge&) = delete;
    CFileTypeJudge& operator=(const CFileTypeJudge&) = delete;

    // The format table in row order; the last row has type FILE_TYPE_NONE and no extension.
    static const EXTEND_NAME_AND_TYPE* GetExtendNameTable();
    static int GetExtendNameTableSize();

    // The first format whose detector recognises the buffer, in table order; FILE_TYPE_NONE.
    static EXTEND_NAME_TYPE GetDataBufType(const unsigned char* pBuf, int nLength);
    // The type of the first row with this extension (case ignored); FILE_TYPE_NONE.
    static EXTEND_NAME_TYPE GetExtendNameType(const char* pExtendName);
    // The extension carved files of this type are named with; "" for FILE_TYPE_NONE.
    static const char* GetTypeExtendName(EXTEND_NAME_TYPE nType);

    // 1 when the first sector of a file (at absolute sector u64Sector) holds the format its
    // extension names, else 0; 1 for extensions the table does not know. Overwrites the
    // class-wide sector state, so it must not run between a carving identification and sizing.
    static int IsFileTypeMatching(const unsigned char* pBuf, int nLength, const char* pExtendName,
                                  CDiskReader* pDiskReader, int nBytesPerSector,
                                  unsigned long long u64Sector);

    // 1 when the sector is NTFS, FAT or boot-sector metadata rather than file content.
    static int IsFileSystemSector(const unsigned char* pBuf, int nLength);

    static int InitCallBack(ScanProgressCallback pScanCallback,
                            RecoveryProgressCallback pRecoveryCallback, void* pParam, int nWeight);

    // Identifies the sector at u64StartSector and sizes the file starting there: 0 with the type,
    // its name "<sector>.<ext>" (szName holds at least FILE_NODE_NAME_BYTES) and its size;
    // 87 when no sizeable format starts there; ERROR_CANCELLED_BY_USER when the scan callback
    // cancelled during sizing.
    static int ParseFileBuf(const unsigned char* pBuf, int nLength,
                            unsigned long long u64StartSector,
                            unsigned long long u64ScanSectorCount,
                            unsigned long long u64SectorTotalCount, int nRemaidSecond,
                            unsigned long long u64FileCount, CDiskReader* pDiskReader,
                            int nBytesPerSector, char* szName, EXTEND_NAME_TYPE& nType,
                            unsigned long long& u64Size);

    // Sub-type of a compound document (doc, xls, ppt, else ole) and of a ZIP package (docx,
    // xlsx, pptx, else none); both read on from m_u64CurrentSector.
    static EXTEND_NAME_TYPE GetOffice2003Type(const unsigned char* pHeader, int nLength);
    static EXTEND_NAME_TYPE GetOffice2007Type(const unsigned char* pBuf, int nLength);

    // TS streams carved so far; the deep scan empties the list before a sector pass.
    static void ClearTsFileRanges();
    static const std::vector<TS_FILE_RANGE>& GetTsFileRanges();

    // Detectors: a type code, FILE_TYPE_NONE when the buffer is null, too short or no match.
    static EXTEND_NAME_TYPE IsMpgType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMp4Type(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsRmvbType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsAsfType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsSwfType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsAviType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsFlvType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE Is3pgType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMkvType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsTsType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMtsType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMxfType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMp3Type(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMidType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsApeType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsWavType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMovType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMp2Type(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMmfType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsFlaType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsGifType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsBmpType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsJpgType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsPngType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsPsdType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsTifType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsIcoType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsOffice2003Type(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsOffice2007Type(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsPdfType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsGzipType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE Is7zType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsZipType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsRarType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsCabType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsPeType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsGhoType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsSqlType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsDbxEmailType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsPstEmailType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsTtfType(const unsigned char* pBuf, int nLength);

    // Size finders: the file's size in bytes from its header sector (and the sectors after it).
    static uint64_t GetMPGFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetMP4FileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetRMVBFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetASFFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetSWFFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetAVIFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetDefaultVedioFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetMKVFileBytes(const unsigned char* pBuf, int nLength);
    static uint64_t GetTSFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetMP3FileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetMIDFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetAPEFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetWAVFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetDefaultAudioFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetFLAFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetGIFFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetBMPFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetJPGFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetPNGFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetDefaultPictureFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetICOFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetOFFICE2003FileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetOFFICE2003FileBytesSizeByFileHead(const unsigned char* pBuf, int nLength);
    static uint64_t GetOFFICE2007FileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetPDFFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t Get7ZFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetZIPFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetRARFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetCABFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetDBFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetMailFileBytesSize(const unsigned char* pBuf, int nLength);
    static uint64_t GetTTFFileBytesSize(const unsigned char* pBuf, int nLength);

private:
    // Class-wide carving state. Detection and sizing share it, so one carving pass runs at a
    // time, on one thread; ParseFileBuf and IsFileTypeMatching set the sector state first.
    //
    // Sector state: sector size, the file's header sector, the sector an end check has reached
    // (detectors that read on start there), and the reader, which is the caller's and is held
    // only for the duration of ParseFileBuf or IsFileTypeMatching (null otherwise).
    static int m_nBytesPerSector;
    static uint64_t m_u64StartSector;
    static uint64_t m_u64CurrentSector;
    static CDiskReader* m_pDiskReader;
    // Progress of the surrounding scan, passed through to the scan callback while sizing.
    static uint64_t m_u64ScanSectorCount;
    static uint64_t m_u64SectorTotalCount;
    static int m_nRemaidSecond;
    static uint64_t m_u64FileCount;
    static ScanProgressCallback m_progressFunc;
    static RecoveryProgressCallback m_pRecoveryFunc;
    static void* m_pParam;
    static int m_nPercent;
    // The scan callback's last answer during sizing.
    static int m_ErrorCode;
    // Block buffer of the size finders; allocated while at least one judge exists.
    static unsigned char* m_pReadBuf;
    static int m_nJudgeCount;
    // TS: the previous-sector and carved-range test is on; the ranges carved so far.
    static int m_bIsNeedCheckTsFileRange;
    static std::vector<TS_FILE_RANGE> m_tsFileRangeVec;
    // MTS: an MTS file is being sized; the byte at 7 of the last MTS head seen.
    static int m_bIsMtsFileHead;
    static uint32_t m_uMtsPreIndex;

    // Index of the row whose detector recognises the buffer first, with the detector's answer;
    // -1 and FILE_TYPE_NONE when none does.
    static int IdentifyRow(const unsigned char* pBuf, int nLength, EXTEND_NAME_TYPE& nType);
    // Index of the first sector of the block where another file or file-system metadata
    // begins; -1 when there is none. A sector of the continuing type (MPEG in an MPEG stream,
    // MP2 in an MP2 stream) belongs to the file being sized.
    static int FindEndSector(const unsigned char* pBlock, size_t nBlock,
                             EXTEND_NAME_TYPE nContinuing);
    // The block loop shared by every finder that reads on past the header sector.
    static uint64_t ReadForward(uint64_t u64LimitBytes, EXTEND_NAME_TYPE nContinuing,
                                const TailSearch& tailSearch);
    // Reads one block of u64Count sectors, running the end check on each piece as it arrives and
    // stopping at the end it finds: the end's sector index, or -1. u64Filled is the sectors read
    // (0 when a read failed).
    static int ReadBlockUntilEnd(uint64_t u64Sector, uint64_t u64Count,
                                 EXTEND_NAME_TYPE nContinuing, uint64_t& u64Filled);
    // Reports sizing progress; false when the callback asked to stop.
    static bool ReportSizingProgress(uint64_t u64SectorsRead);
    static bool ReadSectors(unsigned char* pBuffer, int nSectors, uint64_t u64Sector);
    // The directory of an ICO or the table records of a TTF when they reach past the header
    // sector: the first 64 KiB of the file, or nullptr.
    static const unsigned char* ReadFileHead(const unsigned char* pBuf, int nLength, size_t nNeeded,
                                             size_t& nHave);
};
