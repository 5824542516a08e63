// How many bytes a recognised file has: header size fields, end markers under the tail rule,
// or the block loop that reads on until another file or file-system metadata begins.
#include "formats/carving/CFileTypeJudge.h"

#include "formats/carving/CarvingSignatures.h"

#include "device/CDiskReader.h"
#include "util/ByteView.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t KIB = 1024;
constexpr uint64_t MIB = 1024 * KIB;
constexpr uint64_t GIB = 1024 * MIB;

// How far each finder may read past the header sector before it gives up.
constexpr uint64_t VIDEO_LIMIT = 4 * GIB;
constexpr uint64_t LARGE_VIDEO_LIMIT = 64 * GIB;
constexpr uint64_t MP3_LIMIT = 2 * GIB;
constexpr uint64_t MID_LIMIT = 8 * MIB;
constexpr uint64_t APE_LIMIT = 2 * GIB;
constexpr uint64_t AUDIO_LIMIT = 256 * MIB;
constexpr uint64_t PICTURE_LIMIT = 128 * MIB;
constexpr uint64_t OFFICE_LIMIT = 0x7FFFFFF;
constexpr uint64_t ARCHIVE_LIMIT = 4 * GIB;
constexpr uint64_t PDF_LIMIT = 1 * GIB;
constexpr uint64_t DB_LIMIT = 6 * GIB;
constexpr uint64_t MAIL_LIMIT = 2 * GIB;

// A block is read piece by piece, growing, so that a file followed closely by the next one
// does not cost a whole 64 KiB read.
constexpr uint64_t FIRST_PIECE_SECTORS = 8;

// Caps on sizes read from headers.
constexpr uint64_t ASF_SIZE_CAP = 0x10000000;
constexpr uint64_t SWF_SIZE_CAP = 0x10000000;
constexpr uint64_t BMP_SIZE_CAP = 0x8000000;
constexpr uint64_t CAB_SIZE_CAP = 0x40000000;
constexpr uint64_t OLE_SIZE_CAP = 0x7FFFFFF;

// End markers.
constexpr uint8_t szMpgSequenceEnd[] = {0x00, 0x00, 0x01, 0xB7};
constexpr uint8_t szMpgProgramEnd[] = {0x00, 0x00, 0x01, 0xB9};
constexpr char szMp4Tail[] = "freeIsoMedia File Produced";
constexpr uint8_t szRmvbTail[] = {0x49, 0x4E, 0x44, 0x58, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
constexpr uint8_t szAsfFilePropertiesGuid[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr size_t ASF_FIRST_OBJECT = 30;
constexpr size_t ASF_FILE_SIZE = 40;
constexpr size_t ASF_FLAGS = 88;
constexpr uint8_t ASF_BROADCAST_FLAG = 0x01;
constexpr uint8_t sz_ApeTail[] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
constexpr size_t APE_FOOTER_BYTES = 32;
constexpr char szMp3Tag[] = "TAG";
constexpr uint64_t MP3_TAG_SPAN = 131;
constexpr char szMidTrack[] = "MTrk";
constexpr size_t MID_TRACK_COUNT = 10;
constexpr uint64_t MID_FIRST_CHUNK = 14;
constexpr uint8_t szGifTail[] = {0x00, 0x3B};
constexpr uint8_t szPngTail[] = {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
constexpr uint8_t szJpgTail[] = {0xFF, 0xD9};
constexpr uint8_t ucDocTailHead[] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A};
constexpr uint8_t ucDocTail[] = {'M', 'i', 'c', 'r', 'o',  's',  'o',  'f', 't',
                                 ' ', 'O', 'f', 'f', 'i',  'c',  'e',  ' ', 'W',
                                 'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
constexpr uint64_t ZIP_END_RECORD_BYTES = 22;
constexpr uint8_t sz7ZTail[] = {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01,
                                0x23, 0x03, 0x01, 0x01, 0x05, 0x5D};
constexpr uint64_t SEVEN_ZIP_TAIL_SPAN = 27;
constexpr uint8_t sm_ucWinrarTail[] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
constexpr char szPdfEof[] = "%%EOF";
constexpr char szPdfTrailer[] = "trailer";

// Header size fields.
constexpr size_t RIFF_LENGTH = 4;
constexpr uint64_t RIFF_HEADER_BYTES = 8;
constexpr size_t SWF_LENGTH = 4;
constexpr size_t BMP_FILE_SIZE = 2;
constexpr size_t CAB_CABINET_SIZE = 8;
constexpr int CAB_MIN_HEADER = 36;
constexpr size_t ICO_DIRECTORY = 6;
constexpr size_t ICO_ENTRY_BYTES = 16;
constexpr size_t TTF_TABLE_COUNT = 4;
constexpr size_t TTF_TABLE_RECORDS = 12;
constexpr size_t TTF_RECORD_BYTES = 16;

// Compound-document header.
constexpr size_t OLE_SECTOR_SHIFT = 30;
constexpr size_t OLE_FAT_SECTORS = 44;
constexpr size_t OLE_DIFAT_START = 68;
constexpr size_t OLE_MINI_FAT_SECTORS = 64;
constexpr size_t OLE_DIFAT_SECTORS = 72;
constexpr size_t OLE_HEADER_DIFAT = 76;
constexpr uint32_t OLE_HEADER_DIFAT_ENTRIES = 109;
constexpr uint32_t OLE_DIFAT_ENTRIES_PER_SECTOR = 127;
constexpr uint32_t OLE_ENTRIES_PER_FAT_SECTOR = 128;
constexpr uint32_t OLE_LAST_REGULAR_SECTOR = 0xFFFFFFFC;
constexpr uint32_t OLE_FREE_SECTOR = 0xFFFFFFFF;

template <size_t N> std::optional<size_t> FindFirst(CByteView view, const uint8_t (&pattern)[N]) {
    return view.Find(pattern, N);
}

std::optional<size_t> FindText(CByteView view, const char* pText, size_t from = 0) {
    return view.Find(pText, std::strlen(pText), from);
}

std::optional<size_t> FindLast(CByteView view, const void* pPattern, size_t nPattern) {
    std::optional<size_t> last;
    for (auto hit = view.Find(pPattern, nPattern); hit;
         hit = view.Find(pPattern, nPattern, *hit + 1))
        last = hit;
    return last;
}

bool IsZeroFilled(const unsigned char* pData, size_t nBytes) {
    for (size_t i = 0; i < nBytes; ++i) {
        if (pData[i] != 0)
            return false;
    }
    return true;
}

// The tail rule: a marker ends the file when it ends on a sector boundary or only zero bytes
// follow it up to the end of its sector. The position just after the accepted marker.
std::optional<size_t> FindTailMarker(const unsigned char* pBlock, size_t nBlock,
                                     const void* pMarker, size_t nMarker, size_t nSectorBytes,
                                     bool bFirstOnly) {
    CByteView view(pBlock, nBlock);
    size_t nFrom = 0;
    while (auto hit = view.Find(pMarker, nMarker, nFrom)) {
        const size_t nAfter = *hit + nMarker;
        if (nAfter % nSectorBytes == 0)
            return nAfter;
        const size_t nSectorEnd = std::min(nBlock, (nAfter / nSectorBytes + 1) * nSectorBytes);
        if (IsZeroFilled(pBlock + nAfter, nSectorEnd - nAfter))
            return nAfter;
        if (bFirstOnly)
            return std::nullopt;
        nFrom = nAfter;
    }
    return std::nullopt;
}

// A finder whose blocks settle the size at the first marker accepted by the tail rule.
CFileTypeJudge::TailSearch TailRuleSearch(const void* pMarker, size_t nMarker,
                                          size_t nSectorBytes) {
    return [=](const unsigned char* pBlock, size_t nBlock,
               uint64_t u64Before) -> std::optional<uint64_t> {
        auto after = FindTailMarker(pBlock, nBlock, pMarker, nMarker, nSectorBytes, false);
        return after ? std::optional<uint64_t>(u64Before + *after) : std::nullopt;
    };
}

// A finder whose blocks settle the size at the last marker of the block, plus a span.
CFileTypeJudge::TailSearch LastMarkerSearch(const void* pMarker, size_t nMarker, uint64_t u64Span) {
    return [=](const unsigned char* pBlock, size_t nBlock,
               uint64_t u64Before) -> std::optional<uint64_t> {
        auto last = FindLast(CByteView(pBlock, nBlock), pMarker, nMarker);
        return last ? std::optional<uint64_t>(u64Before + *last + u64Span) : std::nullopt;
    };
}

// The walk over MIDI track chunks: each "MTrk" header at the running end moves it on by
// 8 + its length, until the header's track count is reached.
struct MID_TRACK_WALK {
    uint64_t u64RunningEnd = MID_FIRST_CHUNK;
    uint32_t nTracksLeft = 0;
    bool bBroken = false;

    // Follows the chunks whose headers lie in [u64Base, u64Base + nBytes) of the file.
    void Walk(const unsigned char* pBytes, size_t nBytes, uint64_t u64Base) {
        while (nTracksLeft > 0 && !bBroken && u64RunningEnd >= u64Base &&
               InBounds(nBytes, u64RunningEnd - u64Base, 8)) {
            const unsigned char* pChunk = pBytes + (u64RunningEnd - u64Base);
            if (std::memcmp(pChunk, szMidTrack, 4) != 0) {
                bBroken = true;
                break;
            }
            u64RunningEnd += 8 + uint64_t(LoadU32BE(pChunk + 4));
            --nTracksLeft;
        }
    }
    bool IsComplete() const { return nTracksLeft == 0 && !bBroken; }
};

uint64_t RoundUp(uint64_t u64Value, uint64_t u64Unit) {
    return (u64Value + u64Unit - 1) / u64Unit * u64Unit;
}

} // namespace

int CFileTypeJudge::InitCallBack(ScanProgressCallback pScanCallback,
                                 RecoveryProgressCallback pRecoveryCallback, void* pParam,
                                 int nWeight) {
    m_progressFunc = pScanCallback;
    m_pRecoveryFunc = pRecoveryCallback;
    m_pParam = pParam;
    m_nPercent = nWeight;
    return 0;
}

int CFileTypeJudge::ParseFileBuf(const unsigned char* pBuf, int nLength,
                                 unsigned long long u64StartSector,
                                 unsigned long long u64ScanSectorCount,
                                 unsigned long long u64SectorTotalCount, int nRemaidSecond,
                                 unsigned long long u64FileCount, CDiskReader* pDiskReader,
                                 int nBytesPerSector, char* szName, EXTEND_NAME_TYPE& nType,
                                 unsigned long long& u64Size) {
    if (pBuf == nullptr || szName == nullptr || nBytesPerSector <= 0 ||
        READ_BUF_BYTES % nBytesPerSector != 0)
        return ERROR_INVALID_PARAMETER;
    m_nBytesPerSector = nBytesPerSector;
    m_u64StartSector = u64StartSector;
    m_u64CurrentSector = u64StartSector;
    m_pDiskReader = pDiskReader;
    m_u64ScanSectorCount = u64ScanSectorCount;
    m_u64SectorTotalCount = u64SectorTotalCount;
    m_nRemaidSecond = nRemaidSecond;
    m_u64FileCount = u64FileCount;
    // The carved-range test must be on while a candidate is identified, whatever ran before.
    m_bIsNeedCheckTsFileRange = 1;
    m_bIsMtsFileHead = 0;

    EXTEND_NAME_TYPE nFound = FILE_TYPE_NONE;
    const int nRow = IdentifyRow(pBuf, nLength, nFound);
    if (nRow < 0 || GetExtendNameTable()[nRow].pfnGetSize == nullptr) {
        m_pDiskReader = nullptr;
        return ERROR_INVALID_PARAMETER;
    }

    const EXTEND_NAME_AND_TYPE* pNamed = GetExtendNameTable();
    while (pNamed->nType != nFound)
        ++pNamed;
    std::snprintf(szName, FILE_NODE_NAME_BYTES, "%lld.%s", static_cast<long long>(u64StartSector),
                  pNamed->szExtendName);
    if (nFound != FILE_TYPE_TS)
        m_bIsNeedCheckTsFileRange = 0;
    if (nFound == FILE_TYPE_MTS)
        m_bIsMtsFileHead = 1;

    nType = nFound;
    m_ErrorCode = 0;
    u64Size = pNamed->pfnGetSize(pBuf, nLength);
    m_pDiskReader = nullptr;
    return m_ErrorCode == ERROR_CANCELLED_BY_USER ? ERROR_CANCELLED_BY_USER : 0;
}

bool CFileTypeJudge::ReportSizingProgress(uint64_t u64SectorsRead) {
    if (m_progressFunc == nullptr)
        return true;
    const uint64_t u64Done = m_u64ScanSectorCount + u64SectorsRead;
    const uint64_t u64Percent =
        m_u64SectorTotalCount == 0 ? 0 : u64Done * 100 / m_u64SectorTotalCount;
    const int nAnswer =
        m_progressFunc(m_pParam, static_cast<int>(u64Percent + 10), m_nPercent, m_nRemaidSecond,
                       u64Done, m_u64SectorTotalCount, m_u64FileCount, nullptr);
    if (nAnswer == 0)
        return true;
    m_ErrorCode = nAnswer;
    return false;
}

int CFileTypeJudge::FindEndSector(const unsigned char* pBlock, size_t nBlock,
                                  EXTEND_NAME_TYPE nContinuing) {
    const size_t nSectorBytes = static_cast<size_t>(m_nBytesPerSector);
    const int nSectors = static_cast<int>(nBlock / nSectorBytes);
    for (int i = 0; i < nSectors; ++i) {
        ++m_u64CurrentSector;
        const unsigned char* pSector = pBlock + size_t(i) * nSectorBytes;
        EXTEND_NAME_TYPE nType = FILE_TYPE_NONE;
        IdentifyRow(pSector, m_nBytesPerSector, nType);
        if (nType != FILE_TYPE_NONE && nType == nContinuing)
            continue;
        if (nType != FILE_TYPE_NONE || IsFileSystemSector(pSector, m_nBytesPerSector))
            return i;
    }
    return -1;
}

uint64_t CFileTypeJudge::ReadForward(uint64_t u64LimitBytes, EXTEND_NAME_TYPE nContinuing,
                                     const TailSearch& tailSearch) {
    const uint64_t u64SectorBytes = static_cast<uint64_t>(m_nBytesPerSector);
    uint64_t u64Size = u64SectorBytes;
    if (m_pReadBuf == nullptr || m_pDiskReader == nullptr)
        return u64Size;
    const uint64_t u64LimitSectors = u64LimitBytes / u64SectorBytes;
    const uint64_t u64BlockSectors = READ_BUF_BYTES / u64SectorBytes;
    uint64_t u64Read = 0;
    while (u64Read < u64LimitSectors) {
        const uint64_t u64Sector = m_u64StartSector + 1 + u64Read;
        // The last block of a volume is shorter; a full-size read there would fail outright.
        const uint64_t u64VolumeLimit = m_pDiskReader->GetLimit();
        if (u64Sector >= u64VolumeLimit)
            break;
        const uint64_t u64Count =
            std::min({u64BlockSectors, u64LimitSectors - u64Read, u64VolumeLimit - u64Sector});
        uint64_t u64Filled = 0;
        const int nEnd = ReadBlockUntilEnd(u64Sector, u64Count, nContinuing, u64Filled);
        if (u64Filled == 0)
            break;
        u64Read += u64Filled;
        if (!ReportSizingProgress(u64Read))
            break;
        // What lies behind another file's first sector is not searched for this file's tail.
        const size_t nBlock =
            static_cast<size_t>((nEnd >= 0 ? uint64_t(nEnd) : u64Count) * u64SectorBytes);
        if (tailSearch) {
            if (auto settled = tailSearch(m_pReadBuf, nBlock, u64Size))
                return *settled;
        }
        u64Size += nBlock;
        if (nEnd >= 0)
            return u64Size;
    }
    return u64Size;
}

int CFileTypeJudge::ReadBlockUntilEnd(uint64_t u64Sector, uint64_t u64Count,
                                      EXTEND_NAME_TYPE nContinuing, uint64_t& u64Filled) {
    const size_t nSectorBytes = static_cast<size_t>(m_nBytesPerSector);
    uint64_t u64Piece = FIRST_PIECE_SECTORS;
    u64Filled = 0;
    while (u64Filled < u64Count) {
        const uint64_t u64Want = std::min(u64Piece, u64Count - u64Filled);
        unsigned char* pPiece = m_pReadBuf + u64Filled * nSectorBytes;
        if (!ReadSectors(pPiece, static_cast<int>(u64Want), u64Sector + u64Filled)) {
            u64Filled = 0; // a failed read fails the whole block
            return -1;
        }
        const int nEnd = FindEndSector(pPiece, size_t(u64Want) * nSectorBytes, nContinuing);
        const uint64_t u64PieceStart = u64Filled;
        u64Filled += u64Want;
        if (nEnd >= 0)
            return static_cast<int>(u64PieceStart) + nEnd;
        u64Piece *= 2;
    }
    return -1;
}

const unsigned char* CFileTypeJudge::ReadFileHead(const unsigned char* pBuf, int nLength,
                                                  size_t nNeeded, size_t& nHave) {
    if (nNeeded <= static_cast<size_t>(nLength)) {
        nHave = static_cast<size_t>(nLength);
        return pBuf;
    }
    if (m_pReadBuf == nullptr || m_pDiskReader == nullptr)
        return nullptr;
    const uint64_t u64Limit = m_pDiskReader->GetLimit();
    if (m_u64StartSector >= u64Limit)
        return nullptr;
    const uint64_t u64Sectors =
        std::min<uint64_t>(READ_BUF_BYTES / m_nBytesPerSector, u64Limit - m_u64StartSector);
    if (!ReadSectors(m_pReadBuf, static_cast<int>(u64Sectors), m_u64StartSector))
        return nullptr;
    nHave = static_cast<size_t>(u64Sectors) * static_cast<size_t>(m_nBytesPerSector);
    return m_pReadBuf;
}

// Size finders.

uint64_t CFileTypeJudge::GetMPGFileBytesSize(const unsigned char* pBuf, int nLength) {
    const bool bVideoStream =
        nLength >= 4 && std::memcmp(pBuf, szMpgSequenceHead, sizeof(szMpgSequenceHead)) == 0;
    const uint8_t* pEnd = bVideoStream ? szMpgSequenceEnd : szMpgProgramEnd;
    return ReadForward(VIDEO_LIMIT, FILE_TYPE_MPEG,
                       TailRuleSearch(pEnd, 4, size_t(m_nBytesPerSector)));
}

uint64_t CFileTypeJudge::GetMP4FileBytesSize(const unsigned char*, int) {
    return ReadForward(VIDEO_LIMIT, FILE_TYPE_NONE,
                       [](const unsigned char* pBlock, size_t nBlock,
                          uint64_t u64Before) -> std::optional<uint64_t> {
                           auto hit = FindText(CByteView(pBlock, nBlock), szMp4Tail);
                           if (!hit)
                               return std::nullopt;
                           size_t nEnd = *hit + std::strlen(szMp4Tail);
                           while (nEnd < nBlock && pBlock[nEnd] != 0)
                               ++nEnd;
                           return u64Before + nEnd;
                       });
}

uint64_t CFileTypeJudge::GetRMVBFileBytesSize(const unsigned char*, int) {
    return ReadForward(VIDEO_LIMIT, FILE_TYPE_NONE,
                       [](const unsigned char* pBlock, size_t nBlock,
                          uint64_t u64Before) -> std::optional<uint64_t> {
                           auto hit = FindFirst(CByteView(pBlock, nBlock), szRmvbTail);
                           return hit ? std::optional<uint64_t>(u64Before + *hit +
                                                                sizeof(szRmvbTail))
                                      : std::nullopt;
                       });
}

uint64_t CFileTypeJudge::GetASFFileBytesSize(const unsigned char* pBuf, int nLength) {
    const uint64_t u64OneSector = static_cast<uint64_t>(m_nBytesPerSector);
    for (int i = 0; i < nLength - 45; ++i) {
        const size_t nObject = ASF_FIRST_OBJECT + size_t(i);
        if (!InBounds(size_t(nLength), nObject, sizeof(szAsfFilePropertiesGuid)) ||
            std::memcmp(pBuf + nObject, szAsfFilePropertiesGuid, sizeof(szAsfFilePropertiesGuid)))
            continue;
        // The object must hold its size and flags inside the header sector.
        if (!InBounds(size_t(nLength), nObject, ASF_FLAGS + 1) ||
            (pBuf[nObject + ASF_FLAGS] & ASF_BROADCAST_FLAG) != 0)
            return u64OneSector;
        return std::min(LoadU64LE(pBuf + nObject + ASF_FILE_SIZE), ASF_SIZE_CAP);
    }
    return u64OneSector;
}

uint64_t CFileTypeJudge::GetSWFFileBytesSize(const unsigned char* pBuf, int nLength) {
    if (nLength >= 8 && pBuf[0] == 'F')
        return std::min<uint64_t>(LoadU32LE(pBuf + SWF_LENGTH), SWF_SIZE_CAP);
    return static_cast<uint64_t>(m_nBytesPerSector);
}

uint64_t CFileTypeJudge::GetAVIFileBytesSize(const unsigned char* pBuf, int nLength) {
    if (nLength < 8)
        return static_cast<uint64_t>(m_nBytesPerSector);
    return uint64_t(LoadU32LE(pBuf + RIFF_LENGTH)) + RIFF_HEADER_BYTES;
}

uint64_t CFileTypeJudge::GetDefaultVedioFileBytesSize(const unsigned char*, int) {
    return ReadForward(VIDEO_LIMIT, FILE_TYPE_NONE, nullptr);
}

uint64_t CFileTypeJudge::GetMKVFileBytes(const unsigned char*, int) {
    return ReadForward(LARGE_VIDEO_LIMIT, FILE_TYPE_NONE, nullptr);
}

uint64_t CFileTypeJudge::GetTSFileBytesSize(const unsigned char*, int) {
    std::optional<uint64_t> brokenPacket;
    const uint64_t u64Reached =
        ReadForward(LARGE_VIDEO_LIMIT, FILE_TYPE_NONE,
                    [&brokenPacket](const unsigned char* pBlock, size_t nBlock,
                                    uint64_t u64Before) -> std::optional<uint64_t> {
                        if (brokenPacket)
                            return std::nullopt;
                        uint64_t u64Packet = RoundUp(u64Before, TS_PACKET_BYTES);
                        for (; u64Packet + TS_PACKET_BYTES <= u64Before + nBlock;
                             u64Packet += TS_PACKET_BYTES) {
                            if (pBlock[u64Packet - u64Before] != TS_SYNC_BYTE) {
                                brokenPacket = u64Packet;
                                break;
                            }
                        }
                        return std::nullopt;
                    });
    const uint64_t u64Size =
        brokenPacket && *brokenPacket < u64Reached ? *brokenPacket : u64Reached;
    const uint64_t u64SectorBytes = static_cast<uint64_t>(m_nBytesPerSector);
    uint64_t u64Last = m_u64StartSector + u64Size / u64SectorBytes;
    if (u64Size % u64SectorBytes == 0 && u64Last > m_u64StartSector)
        --u64Last;
    m_tsFileRangeVec.push_back({m_u64StartSector, u64Last});
    return u64Size;
}

uint64_t CFileTypeJudge::GetMP3FileBytesSize(const unsigned char*, int) {
    std::optional<uint64_t> tagEnd;
    const uint64_t u64Reached =
        ReadForward(MP3_LIMIT, FILE_TYPE_NONE,
                    [&tagEnd](const unsigned char* pBlock, size_t nBlock,
                              uint64_t u64Before) -> std::optional<uint64_t> {
                        if (auto hit = FindText(CByteView(pBlock, nBlock), szMp3Tag))
                            tagEnd = u64Before + *hit + MP3_TAG_SPAN;
                        return std::nullopt;
                    });
    return tagEnd && *tagEnd < u64Reached ? *tagEnd : u64Reached;
}

uint64_t CFileTypeJudge::GetMIDFileBytesSize(const unsigned char* pBuf, int nLength) {
    MID_TRACK_WALK walk;
    if (nLength < int(MID_TRACK_COUNT + 2))
        return static_cast<uint64_t>(m_nBytesPerSector);
    walk.nTracksLeft = LoadU16BE(pBuf + MID_TRACK_COUNT);
    walk.Walk(pBuf, size_t(nLength), 0);
    if (walk.IsComplete() && walk.u64RunningEnd <= uint64_t(nLength))
        return walk.u64RunningEnd;
    const uint64_t u64Reached =
        ReadForward(MID_LIMIT, FILE_TYPE_NONE,
                    [&walk](const unsigned char* pBlock, size_t nBlock,
                            uint64_t u64Before) -> std::optional<uint64_t> {
                        walk.Walk(pBlock, nBlock, u64Before);
                        if (walk.IsComplete() && walk.u64RunningEnd <= u64Before + nBlock)
                            return walk.u64RunningEnd;
                        return std::nullopt;
                    });
    return walk.IsComplete() ? std::min(walk.u64RunningEnd, u64Reached) : u64Reached;
}

uint64_t CFileTypeJudge::GetAPEFileBytesSize(const unsigned char*, int) {
    return ReadForward(
        APE_LIMIT, FILE_TYPE_NONE,
        [](const unsigned char* pBlock, size_t nBlock,
           uint64_t u64Before) -> std::optional<uint64_t> {
            CByteView view(pBlock, nBlock);
            auto first = FindFirst(view, sz_ApeTail);
            if (!first)
                return std::nullopt;
            auto second = view.Find(sz_ApeTail, sizeof(sz_ApeTail), *first + sizeof(sz_ApeTail));
            return second ? u64Before + *second + APE_FOOTER_BYTES : u64Before + nBlock;
        });
}

uint64_t CFileTypeJudge::GetWAVFileBytesSize(const unsigned char* pBuf, int nLength) {
    return GetAVIFileBytesSize(pBuf, nLength);
}

// MP2 frames that happen to start on a sector boundary are the same stream, not new files.
uint64_t CFileTypeJudge::GetDefaultAudioFileBytesSize(const unsigned char* pBuf, int nLength) {
    return ReadForward(AUDIO_LIMIT, IsMp2Type(pBuf, nLength), nullptr);
}

uint64_t CFileTypeJudge::GetFLAFileBytesSize(const unsigned char* pBuf, int nLength) {
    return GetDefaultAudioFileBytesSize(pBuf, nLength);
}

uint64_t CFileTypeJudge::GetGIFFileBytesSize(const unsigned char* pBuf, int nLength) {
    const size_t nSectorBytes = static_cast<size_t>(m_nBytesPerSector);
    if (auto after = FindTailMarker(pBuf, size_t(nLength), szGifTail, sizeof(szGifTail),
                                    nSectorBytes, false))
        return *after;
    return ReadForward(PICTURE_LIMIT, FILE_TYPE_NONE,
                       TailRuleSearch(szGifTail, sizeof(szGifTail), nSectorBytes));
}

uint64_t CFileTypeJudge::GetPNGFileBytesSize(const unsigned char* pBuf, int nLength) {
    const size_t nSectorBytes = static_cast<size_t>(m_nBytesPerSector);
    if (auto after = FindTailMarker(pBuf, size_t(nLength), szPngTail, sizeof(szPngTail),
                                    nSectorBytes, false))
        return *after;
    return ReadForward(PICTURE_LIMIT, FILE_TYPE_NONE,
                       TailRuleSearch(szPngTail, sizeof(szPngTail), nSectorBytes));
}

uint64_t CFileTypeJudge::GetBMPFileBytesSize(const unsigned char* pBuf, int nLength) {
    if (nLength < 6)
        return 0;
    return std::min<uint64_t>(LoadU32LE(pBuf + BMP_FILE_SIZE), BMP_SIZE_CAP);
}

uint64_t CFileTypeJudge::GetJPGFileBytesSize(const unsigned char* pBuf, int nLength) {
    const size_t nSectorBytes = static_cast<size_t>(m_nBytesPerSector);
    if (auto after =
            FindTailMarker(pBuf, size_t(nLength), szJpgTail, sizeof(szJpgTail), nSectorBytes, true))
        return *after;
    std::optional<uint64_t> candidate;
    const uint64_t u64Reached =
        ReadForward(PICTURE_LIMIT, FILE_TYPE_NONE,
                    [&candidate, nSectorBytes](const unsigned char* pBlock, size_t nBlock,
                                               uint64_t u64Before) -> std::optional<uint64_t> {
                        if (auto after = FindTailMarker(pBlock, nBlock, szJpgTail,
                                                        sizeof(szJpgTail), nSectorBytes, true))
                            candidate = u64Before + *after;
                        return std::nullopt;
                    });
    return candidate && *candidate < u64Reached ? *candidate : u64Reached;
}

uint64_t CFileTypeJudge::GetDefaultPictureFileBytesSize(const unsigned char*, int) {
    return ReadForward(PICTURE_LIMIT, FILE_TYPE_NONE, nullptr);
}

uint64_t CFileTypeJudge::GetICOFileBytesSize(const unsigned char* pBuf, int nLength) {
    const uint64_t u64OneSector = static_cast<uint64_t>(m_nBytesPerSector);
    if (nLength < int(ICO_DIRECTORY))
        return u64OneSector;
    const size_t nCount = LoadU16LE(pBuf + 4);
    if (nCount == 0)
        return u64OneSector;
    size_t nHave = 0;
    const size_t nNeeded = ICO_DIRECTORY + ICO_ENTRY_BYTES * nCount;
    const unsigned char* pHead = ReadFileHead(pBuf, nLength, nNeeded, nHave);
    if (pHead == nullptr || nNeeded > nHave)
        return u64OneSector;
    const unsigned char* pLast = pHead + ICO_DIRECTORY + ICO_ENTRY_BYTES * (nCount - 1);
    return uint64_t(LoadU32LE(pLast + 12)) + LoadU32LE(pLast + 8);
}

uint64_t CFileTypeJudge::GetOFFICE2003FileBytesSizeByFileHead(const unsigned char* pBuf,
                                                              int nLength) {
    if (nLength < 512 || m_nBytesPerSector < 512)
        return 0;
    const uint32_t u32Shift = LoadU16LE(pBuf + OLE_SECTOR_SHIFT);
    if (u32Shift != 9 && u32Shift != 12)
        return 0;
    const uint64_t u64Max = (uint64_t(0xFFFFFFFA) >> (u32Shift - 2)) + 1;
    const uint32_t u32FatSectors = LoadU32LE(pBuf + OLE_FAT_SECTORS);
    const uint32_t u32DifatSectors = LoadU32LE(pBuf + OLE_DIFAT_SECTORS);
    if (u32FatSectors > u64Max || LoadU32LE(pBuf + OLE_MINI_FAT_SECTORS) > u64Max ||
        u32DifatSectors > u64Max / ((uint64_t(1) << (u32Shift - 2)) - 1) + 1)
        return 0;
    // An empty FAT, or more FAT sectors than the header's table holds without DIFAT sectors,
    // names no last FAT sector.
    if (u32FatSectors == 0)
        return 0;
    const uint64_t u64SectorBytes = static_cast<uint64_t>(m_nBytesPerSector);
    const uint64_t u64Sectors = uint64_t(u32FatSectors) * OLE_ENTRIES_PER_FAT_SECTOR + 1;
    const uint64_t u64Whole = std::min(u64Sectors * u64SectorBytes, OLE_SIZE_CAP);
    std::vector<unsigned char> sector(static_cast<size_t>(m_nBytesPerSector));

    uint32_t u32LastFat = 0;
    if (u32DifatSectors == 0) {
        if (u32FatSectors > OLE_HEADER_DIFAT_ENTRIES)
            return 0;
        u32LastFat = LoadU32LE(pBuf + OLE_HEADER_DIFAT + 4 * (u32FatSectors - 1));
    } else {
        if (u32FatSectors < OLE_HEADER_DIFAT_ENTRIES)
            return 0;
        const uint32_t u32Rest =
            (u32FatSectors - OLE_HEADER_DIFAT_ENTRIES) % OLE_DIFAT_ENTRIES_PER_SECTOR;
        const uint32_t u32Wanted = u32Rest == 0 ? OLE_DIFAT_ENTRIES_PER_SECTOR - 1 : u32Rest - 1;
        uint32_t u32Difat = LoadU32LE(pBuf + OLE_DIFAT_START);
        for (uint32_t i = 0; i < u32DifatSectors; ++i) {
            if (u32Difat >= OLE_LAST_REGULAR_SECTOR ||
                !ReadSectors(sector.data(), 1, m_u64CurrentSector + u32Difat + 1))
                return u64Whole;
            if (i + 1 == u32DifatSectors)
                u32LastFat = LoadU32LE(sector.data() + 4 * u32Wanted);
            else
                u32Difat = LoadU32LE(sector.data() + 4 * OLE_DIFAT_ENTRIES_PER_SECTOR);
        }
    }
    if (!ReadSectors(sector.data(), 1, m_u64CurrentSector + uint64_t(u32LastFat) + 1))
        return u64Whole;
    uint64_t u64Free = 0;
    for (uint32_t i = OLE_ENTRIES_PER_FAT_SECTOR; i > 0; --i) {
        if (LoadU32LE(sector.data() + 4 * (i - 1)) != OLE_FREE_SECTOR)
            break;
        ++u64Free;
    }
    return std::min((u64Sectors - u64Free) * u64SectorBytes, OLE_SIZE_CAP);
}

uint64_t CFileTypeJudge::GetOFFICE2003FileBytesSize(const unsigned char* pBuf, int nLength) {
    if (uint64_t u64Size = GetOFFICE2003FileBytesSizeByFileHead(pBuf, nLength))
        return u64Size;
    const uint64_t u64SectorBytes = static_cast<uint64_t>(m_nBytesPerSector);
    return ReadForward(OFFICE_LIMIT, FILE_TYPE_NONE,
                       [u64SectorBytes](const unsigned char* pBlock, size_t nBlock,
                                        uint64_t u64Before) -> std::optional<uint64_t> {
                           CByteView view(pBlock, nBlock);
                           if (!FindFirst(view, ucDocTailHead))
                               return std::nullopt;
                           auto tail = FindFirst(view, ucDocTail);
                           if (!tail)
                               return std::nullopt;
                           return RoundUp(u64Before + *tail + sizeof(ucDocTail), u64SectorBytes);
                       });
}

uint64_t CFileTypeJudge::GetOFFICE2007FileBytesSize(const unsigned char*, int) {
    return ReadForward(OFFICE_LIMIT, FILE_TYPE_NONE,
                       LastMarkerSearch(szZipEndHead, sizeof(szZipEndHead), ZIP_END_RECORD_BYTES));
}

uint64_t CFileTypeJudge::GetZIPFileBytesSize(const unsigned char*, int) {
    return ReadForward(ARCHIVE_LIMIT, FILE_TYPE_NONE,
                       LastMarkerSearch(szZipEndHead, sizeof(szZipEndHead), ZIP_END_RECORD_BYTES));
}

uint64_t CFileTypeJudge::Get7ZFileBytesSize(const unsigned char*, int) {
    return ReadForward(ARCHIVE_LIMIT, FILE_TYPE_NONE,
                       LastMarkerSearch(sz7ZTail, sizeof(sz7ZTail), SEVEN_ZIP_TAIL_SPAN));
}

uint64_t CFileTypeJudge::GetRARFileBytesSize(const unsigned char*, int) {
    return ReadForward(
        ARCHIVE_LIMIT, FILE_TYPE_NONE,
        TailRuleSearch(sm_ucWinrarTail, sizeof(sm_ucWinrarTail), size_t(m_nBytesPerSector)));
}

uint64_t CFileTypeJudge::GetCABFileBytesSize(const unsigned char* pBuf, int nLength) {
    if (nLength < CAB_MIN_HEADER)
        return static_cast<uint64_t>(m_nBytesPerSector);
    return std::min<uint64_t>(LoadU32LE(pBuf + CAB_CABINET_SIZE), CAB_SIZE_CAP);
}

uint64_t CFileTypeJudge::GetPDFFileBytesSize(const unsigned char*, int) {
    return ReadForward(PDF_LIMIT, FILE_TYPE_NONE,
                       [](const unsigned char* pBlock, size_t nBlock,
                          uint64_t u64Before) -> std::optional<uint64_t> {
                           CByteView view(pBlock, nBlock);
                           if (auto eof = FindLast(view, szPdfEof, std::strlen(szPdfEof)))
                               return u64Before + *eof + std::strlen(szPdfEof);
                           if (auto trailer =
                                   FindLast(view, szPdfTrailer, std::strlen(szPdfTrailer)))
                               return u64Before + *trailer + std::strlen(szPdfTrailer);
                           return std::nullopt;
                       });
}

uint64_t CFileTypeJudge::GetDBFileBytesSize(const unsigned char*, int) {
    return ReadForward(DB_LIMIT, FILE_TYPE_NONE, nullptr);
}

uint64_t CFileTypeJudge::GetMailFileBytesSize(const unsigned char*, int) {
    return ReadForward(MAIL_LIMIT, FILE_TYPE_NONE, nullptr);
}

uint64_t CFileTypeJudge::GetTTFFileBytesSize(const unsigned char* pBuf, int nLength) {
    if (nLength < int(TTF_TABLE_RECORDS))
        return static_cast<uint64_t>(m_nBytesPerSector);
    const size_t nTables = LoadU16BE(pBuf + TTF_TABLE_COUNT);
    if (nTables == 0)
        return 0;
    size_t nHave = 0;
    const unsigned char* pHead =
        ReadFileHead(pBuf, nLength, TTF_TABLE_RECORDS + TTF_RECORD_BYTES * nTables, nHave);
    if (pHead == nullptr)
        return static_cast<uint64_t>(m_nBytesPerSector);
    uint64_t u64End = 0;
    for (size_t i = 0; i < nTables; ++i) {
        const size_t nRecord = TTF_TABLE_RECORDS + TTF_RECORD_BYTES * i;
        if (!InBounds(nHave, nRecord, TTF_RECORD_BYTES))
            break;
        const uint64_t u64TableEnd =
            uint64_t(LoadU32BE(pHead + nRecord + 8)) + LoadU32BE(pHead + nRecord + 12);
        u64End = std::max(u64End, u64TableEnd);
    }
    return u64End;
}
