// The format table, the detectors tried in its order, the Office sub-types, the extension check
// and the file-system sector test.
#include "formats/carving/CFileTypeJudge.h"

#include "formats/carving/CarvingSignatures.h"

#include "device/CDiskReader.h"
#include "formats/fat/FatEntryValidator.h"
#include "util/ByteView.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;

// Magic numbers that name a format.
constexpr uint8_t szMpgGopHead[] = {0x00, 0x00, 0x01, 0xB8};
constexpr uint8_t szMpgPackHead[] = {0x00, 0x00, 0x01, 0xBA};
constexpr uint8_t szMpgSystemHead[] = {0x00, 0x00, 0x01, 0xBB};
constexpr uint8_t szAsfHeaderGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t szFlvHeaderSize[] = {0x00, 0x00, 0x00, 0x09};
constexpr uint8_t szMkvHead[] = {0x1A, 0x45, 0xDF, 0xA3};
constexpr uint8_t szMtsHead[] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
constexpr size_t MTS_HEAD_OFFSET = 8;
constexpr size_t MTS_INDEX_OFFSET = 7;
constexpr uint8_t szXmfHead[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
constexpr uint8_t szMidHeaderSize[] = {0x00, 0x00, 0x00, 0x06};
constexpr uint8_t szMp2Head[] = {0xFF, 0xFD, 0xE4, 0x00};
constexpr uint8_t szFlaHead[] = {0xD0, 0xCF, 0x11, 0xE0};
constexpr uint8_t szGifHead[] = {'G', 'I', 'F'};
constexpr uint8_t szJfifHead[] = {0xFF, 0xD8, 0xFF, 0xE0};
constexpr uint8_t szExifHead[] = {0xFF, 0xD8, 0xFF, 0xE1};
constexpr uint8_t szPngHead[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t szTifLittleHead[] = {0x49, 0x49, 0x2A, 0x00};
constexpr uint8_t szTifBigHead[] = {0x4D, 0x4D, 0x00, 0x2A};
constexpr uint8_t szIcoHead[] = {0x00, 0x00, 0x01, 0x00};
constexpr uint8_t szOleHead[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint8_t szZipLocalHead[] = {0x50, 0x4B, 0x03, 0x04};
constexpr uint8_t szZipCentralHead[] = {0x50, 0x4B, 0x01, 0x02};
constexpr char szContentTypes[] = "[Content_Types].xml";
constexpr size_t CONTENT_TYPES_OFFSET = 31;
constexpr uint8_t szGzipHead[] = {0x1F, 0x8B, 0x08};
constexpr uint8_t sz7zHead[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27};
constexpr uint8_t szWinrarHeadMagic[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint8_t szPeSignature[] = {'P', 'E', 0x00, 0x00};
constexpr uint8_t szGhoHead[] = {0xFE, 0xEF, 0x00, 0x00};
constexpr uint8_t szSqliteHead[] = "SQLite format 3"; // with its 00
constexpr uint8_t szDbxHead[] = {0xCF, 0xAD, 0x12, 0xFE};
constexpr uint8_t szTtfHead[] = {0x00, 0x01, 0x00, 0x00};

// File-system sectors.
constexpr uint8_t szNTFS[] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
constexpr uint8_t szStaName[] = {'$', 0, 'S', 0, 'T', 0, 'A', 0};
constexpr const char* szBootOemNames[] = {"MSDOS5.0", "MSWIN4.0", "MSWIN4.1", "EXFAT   ",
                                          "NTFS    "};

// MPEG transport streams: how much of the stream must show packets before it counts.
constexpr int TS_PROBE_BYTES = 4096;
constexpr int TS_PROBE_PACKETS = 22;

// PE: the header offset at 60 must leave room for the signature and file header in one sector.
constexpr size_t PE_OFFSET_FIELD = 60;
constexpr uint32_t PE_MAX_HEADER_OFFSET = 488;
constexpr size_t PE_CHARACTERISTICS = 22;
constexpr uint16_t PE_EXECUTABLE_IMAGE = 0x0002;
constexpr uint16_t PE_SYSTEM = 0x1000;
constexpr uint16_t PE_DLL = 0x2000;

// Compound documents: header fields and the class identifiers of the root entry.
constexpr size_t OLE_DIRECTORY_START = 48;
constexpr size_t OLE_ROOT_CLSID = 80;
constexpr size_t OLE_DIR_ENTRY_BYTES = 128;
constexpr uint8_t szBiff8Bof[] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06};
constexpr uint8_t szWordFib[] = {0xEC, 0xA5};
constexpr uint32_t CLSID_WORD[] = {0x00020906, 0x00000000, 0x000000C0, 0x46000000};
constexpr uint32_t CLSID_EXCEL5[] = {0x00020810, 0x00000000, 0x000000C0, 0x46000000};
constexpr uint32_t CLSID_EXCEL8[] = {0x00020820, 0x00000000, 0x000000C0, 0x46000000};
constexpr uint32_t CLSID_POWERPOINT[] = {0x64818D10, 0x11CF4F9B, 0xAA00EA86, 0xE829B900};

// ZIP packages: windows of sectors searched for entry names.
constexpr int OOXML_WINDOW_SECTORS = 4;
constexpr int OOXML_WINDOW_COUNT = 5;
constexpr size_t OOXML_CARRY_BYTES = 4;
constexpr size_t ZIP_LOCAL_NAME = 30;
constexpr size_t ZIP_CENTRAL_NAME = 46;

bool Matches(const unsigned char* pBuf, int nLength, size_t off, const void* pPattern,
             size_t nPattern) {
    return InBounds(static_cast<size_t>(nLength), off, nPattern) &&
           std::memcmp(pBuf + off, pPattern, nPattern) == 0;
}

template <size_t N>
bool Matches(const unsigned char* pBuf, int nLength, size_t off, const uint8_t (&pattern)[N]) {
    return Matches(pBuf, nLength, off, pattern, N);
}

bool MatchesText(const unsigned char* pBuf, int nLength, size_t off, const char* pText) {
    return Matches(pBuf, nLength, off, pText, std::strlen(pText));
}

bool IsUsable(const unsigned char* pBuf, int nLength, int nMinimum) {
    return pBuf != nullptr && nLength >= nMinimum;
}

bool FindBelow(const unsigned char* pBuf, size_t nEnd, const uint8_t (&pattern)[4]) {
    for (size_t i = 0; i < nEnd; ++i) {
        if (std::memcmp(pBuf + i, pattern, 4) == 0)
            return true;
    }
    return false;
}

bool IsAsciiDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// The ZIP entry name at nName begins with the wanted text, ignoring case, and the window
// still holds at least nNeed bytes from there.
bool ZipNameStartsWith(const unsigned char* pWindow, size_t nWindow, size_t nName,
                       const char* pWanted, size_t nNeed) {
    if (!InBounds(nWindow, nName, nNeed))
        return false;
    return strncasecmp(reinterpret_cast<const char*>(pWindow + nName), pWanted,
                       std::strlen(pWanted)) == 0;
}

EXTEND_NAME_TYPE ZipNameType(const unsigned char* pWindow, size_t nWindow, size_t nName) {
    if (ZipNameStartsWith(pWindow, nWindow, nName, "word", 5))
        return FILE_TYPE_DOCX;
    if (ZipNameStartsWith(pWindow, nWindow, nName, "ppt", 4))
        return FILE_TYPE_PPTX;
    if (ZipNameStartsWith(pWindow, nWindow, nName, "xl", 3))
        return FILE_TYPE_XLSX;
    return NONE;
}

// Looks through the local and central headers of one window (up to its first end record).
EXTEND_NAME_TYPE FindOoxmlPartName(const unsigned char* pWindow, size_t nWindow) {
    CByteView view(pWindow, nWindow);
    size_t nEnd = view.Find(szZipEndHead, sizeof(szZipEndHead)).value_or(nWindow);
    CByteView area(pWindow, nEnd);
    size_t nPos = 0;
    while (nPos < nEnd) {
        auto local = area.Find(szZipLocalHead, sizeof(szZipLocalHead), nPos);
        auto central = area.Find(szZipCentralHead, sizeof(szZipCentralHead), nPos);
        if (!local && !central)
            break;
        const bool bLocal = local && (!central || *local < *central);
        const size_t nHeader = bLocal ? *local : *central;
        const size_t nName = nHeader + (bLocal ? ZIP_LOCAL_NAME : ZIP_CENTRAL_NAME);
        EXTEND_NAME_TYPE nType = ZipNameType(pWindow, nEnd, nName);
        if (nType != NONE)
            return nType;
        nPos = nHeader + 4;
    }
    return NONE;
}

bool MatchesClsid(const unsigned char* pClsid, const uint32_t (&expected)[4]) {
    for (size_t i = 0; i < 4; ++i) {
        if (LoadU32LE(pClsid + 4 * i) != expected[i])
            return false;
    }
    return true;
}

// The directory entry's UTF-16LE name begins with the wanted ASCII name, ignoring case.
bool OleEntryNameIs(const unsigned char* pEntry, const char* pWanted) {
    const size_t nChars = std::strlen(pWanted);
    for (size_t i = 0; i < nChars; ++i) {
        const uint16_t u16Char = LoadU16LE(pEntry + 2 * i);
        if (u16Char > 0x7F || std::tolower(u16Char) != std::tolower(pWanted[i]))
            return false;
    }
    return true;
}

EXTEND_NAME_TYPE OleDirectoryType(const unsigned char* pDir, size_t nDir) {
    if (InBounds(nDir, OLE_ROOT_CLSID, 16)) {
        const unsigned char* pClsid = pDir + OLE_ROOT_CLSID;
        if (MatchesClsid(pClsid, CLSID_WORD))
            return FILE_TYPE_DOC;
        if (MatchesClsid(pClsid, CLSID_EXCEL5) || MatchesClsid(pClsid, CLSID_EXCEL8))
            return FILE_TYPE_XLS;
        if (MatchesClsid(pClsid, CLSID_POWERPOINT))
            return FILE_TYPE_PPT;
    }
    for (size_t off = 0; InBounds(nDir, off, OLE_DIR_ENTRY_BYTES); off += OLE_DIR_ENTRY_BYTES) {
        if (OleEntryNameIs(pDir + off, "WordDocument"))
            return FILE_TYPE_DOC;
        if (OleEntryNameIs(pDir + off, "Wordbook"))
            return FILE_TYPE_XLS;
        if (OleEntryNameIs(pDir + off, "PowerPoint Document"))
            return FILE_TYPE_PPT;
    }
    return FILE_TYPE_OLE;
}

} // namespace

// Class-wide state; see the header.
int CFileTypeJudge::m_nBytesPerSector = 512;
uint64_t CFileTypeJudge::m_u64StartSector = 0;
uint64_t CFileTypeJudge::m_u64CurrentSector = 0;
CDiskReader* CFileTypeJudge::m_pDiskReader = nullptr;
uint64_t CFileTypeJudge::m_u64ScanSectorCount = 0;
uint64_t CFileTypeJudge::m_u64SectorTotalCount = 0;
int CFileTypeJudge::m_nRemaidSecond = 0;
uint64_t CFileTypeJudge::m_u64FileCount = 0;
ScanProgressCallback CFileTypeJudge::m_progressFunc = nullptr;
RecoveryProgressCallback CFileTypeJudge::m_pRecoveryFunc = nullptr;
void* CFileTypeJudge::m_pParam = nullptr;
int CFileTypeJudge::m_nPercent = 0;
int CFileTypeJudge::m_ErrorCode = 0;
unsigned char* CFileTypeJudge::m_pReadBuf = nullptr;
int CFileTypeJudge::m_nJudgeCount = 0;
int CFileTypeJudge::m_bIsNeedCheckTsFileRange = 1;
std::vector<TS_FILE_RANGE> CFileTypeJudge::m_tsFileRangeVec;
int CFileTypeJudge::m_bIsMtsFileHead = 0;
uint32_t CFileTypeJudge::m_uMtsPreIndex = 0;

namespace {

using J = CFileTypeJudge;
constexpr int ANY_LEAD_BYTE = CFileTypeJudge::ANY_LEAD_BYTE;

// Rows in this order decide overlaps: the first detector that answers wins.
const CFileTypeJudge::EXTEND_NAME_AND_TYPE szExtendNameAndType[] = {
    {"mpeg", FILE_TYPE_MPEG, J::IsMpgType, J::GetMPGFileBytesSize, {0x00}},
    {"mpg", FILE_TYPE_MPEG, J::IsMpgType, J::GetMPGFileBytesSize, {0x00}},
    {"vob", FILE_TYPE_MPEG, J::IsMpgType, J::GetMPGFileBytesSize, {0x00}},
    {"mp4", FILE_TYPE_MP4, J::IsMp4Type, J::GetMP4FileBytesSize, {ANY_LEAD_BYTE}},
    {"rmvb", FILE_TYPE_RMVB, J::IsRmvbType, J::GetRMVBFileBytesSize, {'.'}},
    {"rm", FILE_TYPE_RMVB, J::IsRmvbType, J::GetRMVBFileBytesSize, {'.'}},
    {"wmv", FILE_TYPE_WMV, J::IsAsfType, J::GetASFFileBytesSize, {0x30}},
    {"asf", FILE_TYPE_WMV, J::IsAsfType, J::GetASFFileBytesSize, {0x30}},
    {"wma", FILE_TYPE_WMV, J::IsAsfType, J::GetASFFileBytesSize, {0x30}},
    {"swf", FILE_TYPE_SWF, J::IsSwfType, J::GetSWFFileBytesSize, {'C', 'F'}},
    {"avi", FILE_TYPE_AVI, J::IsAviType, J::GetAVIFileBytesSize, {'R'}},
    {"flv", FILE_TYPE_FLV, J::IsFlvType, J::GetDefaultVedioFileBytesSize, {'F'}},
    {"3gp", FILE_TYPE_3GP, J::Is3pgType, J::GetDefaultVedioFileBytesSize, {ANY_LEAD_BYTE}},
    {"mkv", FILE_TYPE_MKV, J::IsMkvType, J::GetMKVFileBytes, {0x1A}},
    {"ts", FILE_TYPE_TS, J::IsTsType, J::GetTSFileBytesSize, {0x47}},
    {"mts", FILE_TYPE_MTS, J::IsMtsType, J::GetDefaultVedioFileBytesSize, {ANY_LEAD_BYTE}},
    {"mxf", FILE_TYPE_MXF, J::IsMxfType, J::GetDefaultVedioFileBytesSize, {0x06}},
    {"mp3", FILE_TYPE_MP3, J::IsMp3Type, J::GetMP3FileBytesSize, {'I'}},
    {"mid", FILE_TYPE_MID, J::IsMidType, J::GetMIDFileBytesSize, {'M'}},
    {"ape", FILE_TYPE_APE, J::IsApeType, J::GetAPEFileBytesSize, {'M'}},
    {"wav", FILE_TYPE_WAV, J::IsWavType, J::GetWAVFileBytesSize, {'R'}},
    {"mov", FILE_TYPE_MOV, J::IsMovType, J::GetDefaultVedioFileBytesSize, {ANY_LEAD_BYTE}},
    {"mp2", FILE_TYPE_MP2, J::IsMp2Type, J::GetDefaultAudioFileBytesSize, {0xFF}},
    {"mmf", FILE_TYPE_MMF, J::IsMmfType, J::GetDefaultAudioFileBytesSize, {'M'}},
    {"gif", FILE_TYPE_GIF, J::IsGifType, J::GetGIFFileBytesSize, {'G'}},
    {"bmp", FILE_TYPE_BMP, J::IsBmpType, J::GetBMPFileBytesSize, {'B'}},
    {"dib", FILE_TYPE_BMP, J::IsBmpType, J::GetBMPFileBytesSize, {'B'}},
    {"jpg", FILE_TYPE_JPG, J::IsJpgType, J::GetJPGFileBytesSize, {0xFF}},
    {"jpeg", FILE_TYPE_JPG, J::IsJpgType, J::GetJPGFileBytesSize, {0xFF}},
    {"jpe", FILE_TYPE_JPG, J::IsJpgType, J::GetJPGFileBytesSize, {0xFF}},
    {"jfif", FILE_TYPE_JPG, J::IsJpgType, J::GetJPGFileBytesSize, {0xFF}},
    {"png", FILE_TYPE_PNG, J::IsPngType, J::GetPNGFileBytesSize, {0x89}},
    {"psd", FILE_TYPE_PSD, J::IsPsdType, J::GetDefaultPictureFileBytesSize, {'8'}},
    {"tif", FILE_TYPE_TIF, J::IsTifType, J::GetDefaultPictureFileBytesSize, {'I', 'M'}},
    {"tiff", FILE_TYPE_TIF, J::IsTifType, J::GetDefaultPictureFileBytesSize, {'I', 'M'}},
    {"ico", FILE_TYPE_ICO, J::IsIcoType, J::GetICOFileBytesSize, {0x00}},
    {"doc", FILE_TYPE_DOC, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"dot", FILE_TYPE_DOC, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"wps", FILE_TYPE_DOC, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"wpt", FILE_TYPE_DOC, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"xls", FILE_TYPE_XLS, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"xlt", FILE_TYPE_XLS, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"xla", FILE_TYPE_XLS, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"et", FILE_TYPE_XLS, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"ett", FILE_TYPE_XLS, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"ppt", FILE_TYPE_PPT, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"pot", FILE_TYPE_PPT, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"pps", FILE_TYPE_PPT, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"dps", FILE_TYPE_PPT, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"dpt", FILE_TYPE_PPT, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    {"ole", FILE_TYPE_OLE, J::IsOffice2003Type, J::GetOFFICE2003FileBytesSize, {0xD0}},
    // Every compound document starts with the fla signature: the Office rows answer first.
    {"fla", FILE_TYPE_FLA, J::IsFlaType, J::GetFLAFileBytesSize, {0xD0}},
    {"docx", FILE_TYPE_DOCX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"docm", FILE_TYPE_DOCX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"dotm", FILE_TYPE_DOCX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"dotx", FILE_TYPE_DOCX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"xlsx", FILE_TYPE_XLSX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"xlsb", FILE_TYPE_XLSX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"xlsm", FILE_TYPE_XLSX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"xlsx", FILE_TYPE_XLSX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"xlam", FILE_TYPE_XLSX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"xltx", FILE_TYPE_XLSX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"xltm", FILE_TYPE_XLSX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"pptx", FILE_TYPE_PPTX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"pptm", FILE_TYPE_PPTX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"potx", FILE_TYPE_PPTX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"potm", FILE_TYPE_PPTX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"ppsx", FILE_TYPE_PPTX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"ppsm", FILE_TYPE_PPTX, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"mso07", FILE_TYPE_MSO07, J::IsOffice2007Type, J::GetOFFICE2007FileBytesSize, {ANY_LEAD_BYTE}},
    {"pdf", FILE_TYPE_PDF, J::IsPdfType, J::GetPDFFileBytesSize, {'%'}},
    {"gz", FILE_TYPE_GZ, J::IsGzipType, J::GetDefaultVedioFileBytesSize, {0x1F}},
    {"gzip", FILE_TYPE_GZ, J::IsGzipType, J::GetDefaultVedioFileBytesSize, {0x1F}},
    {"7z", FILE_TYPE_7Z, J::Is7zType, J::Get7ZFileBytesSize, {'7'}},
    {"zip", FILE_TYPE_ZIP, J::IsZipType, J::GetZIPFileBytesSize, {'P'}},
    {"rar", FILE_TYPE_RAR, J::IsRarType, J::GetRARFileBytesSize, {'R'}},
    {"cab", FILE_TYPE_CAB, J::IsCabType, J::GetCABFileBytesSize, {'M'}},
    {"exe", FILE_TYPE_EXE, J::IsPeType, nullptr, {'M'}},
    {"dll", FILE_TYPE_DLL, J::IsPeType, nullptr, {'M'}},
    {"sys", FILE_TYPE_SYS, J::IsPeType, nullptr, {'M'}},
    {"gho", FILE_TYPE_GHO, J::IsGhoType, nullptr, {0xFE}},
    {"db", FILE_TYPE_DB, J::IsSqlType, J::GetDBFileBytesSize, {'S'}},
    {"dbx", FILE_TYPE_DBX, J::IsDbxEmailType, J::GetMailFileBytesSize, {0xCF}},
    {"pst", FILE_TYPE_PST, J::IsPstEmailType, J::GetMailFileBytesSize, {'!'}},
    {"fla", FILE_TYPE_FLA, J::IsFlaType, J::GetFLAFileBytesSize, {0xD0}},
    {"ttf", FILE_TYPE_TTF, J::IsTtfType, J::GetTTFFileBytesSize, {0x00}},
    {"ico", FILE_TYPE_ICO, J::IsIcoType, J::GetICOFileBytesSize, {0x00}},
    {nullptr, FILE_TYPE_NONE, nullptr, nullptr, {}},
};

constexpr int EXTEND_TABLE_ROWS = sizeof(szExtendNameAndType) / sizeof(szExtendNameAndType[0]);
static_assert(EXTEND_TABLE_ROWS == 88);

// For each value of a sector's first byte, the rows worth trying, in table order. A row whose
// detector an earlier row already has is left out: the same detector gives the same answer.
using ROW_LIST = std::vector<uint8_t>;

std::array<ROW_LIST, 256> BuildRowsByLeadByte() {
    std::array<ROW_LIST, 256> rows;
    for (int i = 0; i < EXTEND_TABLE_ROWS - 1; ++i) {
        const auto& row = szExtendNameAndType[i];
        bool bRepeated = false;
        for (int j = 0; j < i && !bRepeated; ++j)
            bRepeated = szExtendNameAndType[j].pfnDetect == row.pfnDetect;
        if (bRepeated)
            continue;
        for (int nByte = 0; nByte < 256; ++nByte) {
            if (row.leadBytes.nFirst == ANY_LEAD_BYTE || row.leadBytes.nFirst == nByte ||
                row.leadBytes.nSecond == nByte)
                rows[size_t(nByte)].push_back(uint8_t(i));
        }
    }
    return rows;
}

const ROW_LIST& RowsForLeadByte(uint8_t u8Lead) {
    static const std::array<ROW_LIST, 256> rows = BuildRowsByLeadByte();
    return rows[u8Lead];
}

} // namespace

CFileTypeJudge::CFileTypeJudge() {
    if (m_nJudgeCount++ == 0)
        m_pReadBuf = new unsigned char[READ_BUF_BYTES];
}

CFileTypeJudge::~CFileTypeJudge() {
    if (--m_nJudgeCount == 0) {
        delete[] m_pReadBuf;
        m_pReadBuf = nullptr;
    }
}

const CFileTypeJudge::EXTEND_NAME_AND_TYPE* CFileTypeJudge::GetExtendNameTable() {
    return szExtendNameAndType;
}

int CFileTypeJudge::GetExtendNameTableSize() {
    return EXTEND_TABLE_ROWS;
}

int CFileTypeJudge::IdentifyRow(const unsigned char* pBuf, int nLength, EXTEND_NAME_TYPE& nType) {
    nType = NONE;
    if (pBuf == nullptr || nLength <= 0)
        return -1;
    for (uint8_t u8Row : RowsForLeadByte(pBuf[0])) {
        nType = szExtendNameAndType[u8Row].pfnDetect(pBuf, nLength);
        if (nType != NONE)
            return u8Row;
    }
    return -1;
}

EXTEND_NAME_TYPE CFileTypeJudge::GetDataBufType(const unsigned char* pBuf, int nLength) {
    EXTEND_NAME_TYPE nType = NONE;
    IdentifyRow(pBuf, nLength, nType);
    return nType;
}

EXTEND_NAME_TYPE CFileTypeJudge::GetExtendNameType(const char* pExtendName) {
    if (pExtendName == nullptr)
        return NONE;
    for (int i = 0; i < EXTEND_TABLE_ROWS - 1; ++i) {
        if (strcasecmp(szExtendNameAndType[i].szExtendName, pExtendName) == 0)
            return szExtendNameAndType[i].nType;
    }
    return NONE;
}

const char* CFileTypeJudge::GetTypeExtendName(EXTEND_NAME_TYPE nType) {
    for (int i = 0; i < EXTEND_TABLE_ROWS - 1; ++i) {
        if (szExtendNameAndType[i].nType == nType)
            return szExtendNameAndType[i].szExtendName;
    }
    return "";
}

int CFileTypeJudge::IsFileTypeMatching(const unsigned char* pBuf, int nLength,
                                       const char* pExtendName, CDiskReader* pDiskReader,
                                       int nBytesPerSector, unsigned long long u64Sector) {
    if (pExtendName == nullptr)
        return 1;
    const EXTEND_NAME_AND_TYPE* pRow = nullptr;
    for (int i = 0; i < EXTEND_TABLE_ROWS - 1 && pRow == nullptr; ++i) {
        if (strcasecmp(szExtendNameAndType[i].szExtendName, pExtendName) == 0)
            pRow = &szExtendNameAndType[i];
    }
    if (pRow == nullptr)
        return 1;
    if (nBytesPerSector > 0)
        m_nBytesPerSector = nBytesPerSector;
    m_u64StartSector = u64Sector;
    m_u64CurrentSector = u64Sector;
    m_pDiskReader = pDiskReader;
    m_bIsNeedCheckTsFileRange = 0;
    const int nMatching = pRow->pfnDetect(pBuf, nLength) == pRow->nType ? 1 : 0;
    m_pDiskReader = nullptr; // the caller's reader may not outlive this call
    return nMatching;
}

int CFileTypeJudge::IsFileSystemSector(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 32))
        return 0;
    if (MatchesText(pBuf, nLength, 0, "FILE") || MatchesText(pBuf, nLength, 0, "INDX"))
        return 1;
    if (MatchesText(pBuf, nLength, 0, "RSTR") &&
        CByteView(pBuf, static_cast<size_t>(nLength)).Find(szNTFS, sizeof(szNTFS)))
        return 1;
    if (Matches(pBuf, nLength, 0, szStaName))
        return 1;
    if (pBuf[0] == 0xEB && pBuf[2] == 0x90) {
        for (const char* pOem : szBootOemNames) {
            if (MatchesText(pBuf, nLength, 3, pOem))
                return 1;
        }
    }
    return IsFatFDTRecord(pBuf, static_cast<size_t>(nLength));
}

void CFileTypeJudge::ClearTsFileRanges() {
    m_tsFileRangeVec.clear();
}

const std::vector<TS_FILE_RANGE>& CFileTypeJudge::GetTsFileRanges() {
    return m_tsFileRangeVec;
}

bool CFileTypeJudge::ReadSectors(unsigned char* pBuffer, int nSectors, uint64_t u64Sector) {
    if (m_pDiskReader == nullptr || nSectors <= 0)
        return false;
    unsigned int nRead = 0;
    int nResult = m_pDiskReader->ReadData(pBuffer, nSectors, static_cast<long long>(u64Sector),
                                          m_nBytesPerSector, &nRead);
    return nResult == 0 && nRead == static_cast<unsigned int>(nSectors);
}

// Detectors.

EXTEND_NAME_TYPE CFileTypeJudge::IsMpgType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 16))
        return NONE;
    const size_t nEnd = static_cast<size_t>(std::min(nLength, 32) - 3);
    if (Matches(pBuf, nLength, 0, szMpgSequenceHead) && FindBelow(pBuf, nEnd, szMpgGopHead))
        return FILE_TYPE_MPEG;
    if (Matches(pBuf, nLength, 0, szMpgPackHead) && FindBelow(pBuf, nEnd, szMpgSystemHead))
        return FILE_TYPE_MPEG;
    return NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMp4Type(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 32) || !MatchesText(pBuf, nLength, 4, "ftyp"))
        return NONE;
    return MatchesText(pBuf, nLength, 8, "iso") || MatchesText(pBuf, nLength, 8, "mp42")
               ? FILE_TYPE_MP4
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsRmvbType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 4) && MatchesText(pBuf, nLength, 0, ".RMF") ? FILE_TYPE_RMVB
                                                                               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsAsfType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 24) && Matches(pBuf, nLength, 0, szAsfHeaderGuid) ? FILE_TYPE_WMV
                                                                                     : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsSwfType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 8))
        return NONE;
    const uint8_t u8Version = pBuf[3];
    if (MatchesText(pBuf, nLength, 0, "CWS") && u8Version >= 6 && u8Version <= 15)
        return FILE_TYPE_SWF;
    if (MatchesText(pBuf, nLength, 0, "FWS") && u8Version < 6)
        return FILE_TYPE_SWF;
    return NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsAviType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && MatchesText(pBuf, nLength, 0, "RIFF") &&
                   MatchesText(pBuf, nLength, 8, "AVI ") && MatchesText(pBuf, nLength, 12, "LIST")
               ? FILE_TYPE_AVI
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsFlvType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && MatchesText(pBuf, nLength, 0, "FLV") && pBuf[3] == 1 &&
                   Matches(pBuf, nLength, 5, szFlvHeaderSize)
               ? FILE_TYPE_FLV
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::Is3pgType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 32) && MatchesText(pBuf, nLength, 4, "ftyp") &&
                   MatchesText(pBuf, nLength, 8, "3gp")
               ? FILE_TYPE_3GP
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMkvType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && Matches(pBuf, nLength, 0, szMkvHead) ? FILE_TYPE_MKV
                                                                               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsTsType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, TS_PACKET_BYTES) || pBuf[0] != TS_SYNC_BYTE)
        return NONE;
    if (pBuf[1] == 0 && pBuf[2] == 0 && pBuf[3] == 0)
        return NONE;
    for (int off = 0; off < nLength; off += TS_PACKET_BYTES) {
        if (pBuf[off] != TS_SYNC_BYTE)
            return NONE;
    }
    if (m_nBytesPerSector <= 0 || TS_PROBE_BYTES % m_nBytesPerSector != 0)
        return NONE;
    unsigned char szProbe[TS_PROBE_BYTES];
    if (!ReadSectors(szProbe, TS_PROBE_BYTES / m_nBytesPerSector, m_u64CurrentSector))
        return NONE;
    for (int i = 0; i < TS_PROBE_PACKETS; ++i) {
        if (szProbe[i * TS_PACKET_BYTES] != TS_SYNC_BYTE)
            return NONE;
    }
    if (!m_bIsNeedCheckTsFileRange)
        return FILE_TYPE_TS;
    if (m_u64CurrentSector > 0) {
        std::vector<unsigned char> previous(static_cast<size_t>(m_nBytesPerSector));
        if (ReadSectors(previous.data(), 1, m_u64CurrentSector - 1)) {
            for (int off = m_nBytesPerSector - TS_PACKET_BYTES; off >= 0; off -= TS_PACKET_BYTES) {
                if (previous[static_cast<size_t>(off)] == TS_SYNC_BYTE)
                    return NONE;
            }
        }
    }
    for (const TS_FILE_RANGE& range : m_tsFileRangeVec) {
        if (range.u64StartSector <= m_u64StartSector && m_u64StartSector <= range.u64EndSector)
            return NONE;
    }
    return FILE_TYPE_TS;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMtsType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 16) || !Matches(pBuf, nLength, MTS_HEAD_OFFSET, szMtsHead))
        return NONE;
    m_uMtsPreIndex = pBuf[MTS_INDEX_OFFSET];
    const bool bHasTimeCode = pBuf[0] != 0 || pBuf[1] != 0 || pBuf[2] != 0 || pBuf[3] != 0;
    return bHasTimeCode && m_bIsMtsFileHead ? NONE : FILE_TYPE_MTS;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMxfType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && Matches(pBuf, nLength, 0, szXmfHead) ? FILE_TYPE_MXF
                                                                               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMp3Type(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 10) || !MatchesText(pBuf, nLength, 0, "ID3"))
        return NONE;
    if (pBuf[3] == 0xFF || pBuf[4] == 0xFF || (pBuf[5] & 0x1F) != 0)
        return NONE;
    for (int i = 6; i <= 9; ++i) {
        if (pBuf[i] >= 0x80)
            return NONE;
    }
    return FILE_TYPE_MP3;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMidType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && MatchesText(pBuf, nLength, 0, "MThd") &&
                   Matches(pBuf, nLength, 4, szMidHeaderSize) &&
                   MatchesText(pBuf, nLength, 14, "MTrk")
               ? FILE_TYPE_MID
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsApeType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 4) && MatchesText(pBuf, nLength, 0, "MAC ") ? FILE_TYPE_APE
                                                                               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsWavType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && MatchesText(pBuf, nLength, 0, "RIFF") &&
                   MatchesText(pBuf, nLength, 8, "WAVE") && MatchesText(pBuf, nLength, 12, "fmt ")
               ? FILE_TYPE_WAV
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMovType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 16))
        return NONE;
    if (MatchesText(pBuf, nLength, 0, "moov"))
        return FILE_TYPE_MOV;
    return MatchesText(pBuf, nLength, 4, "ftyp") && MatchesText(pBuf, nLength, 8, "qt  ")
               ? FILE_TYPE_MOV
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMp2Type(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 4) && Matches(pBuf, nLength, 0, szMp2Head) ? FILE_TYPE_MP2
                                                                              : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMmfType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 4) && MatchesText(pBuf, nLength, 0, "MMMD") ? FILE_TYPE_MMF
                                                                               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsFlaType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && Matches(pBuf, nLength, 0, szFlaHead) ? FILE_TYPE_FLA
                                                                               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsGifType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 8) && Matches(pBuf, nLength, 0, szGifHead) &&
                   IsAsciiDigit(pBuf[3]) && IsAsciiDigit(pBuf[4]) && pBuf[5] >= 'a' &&
                   pBuf[5] <= 'z'
               ? FILE_TYPE_GIF
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsBmpType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 40))
        return NONE;
    if (!MatchesText(pBuf, nLength, 0, "BM") && !MatchesText(pBuf, nLength, 0, "BA"))
        return NONE;
    return LoadU16LE(pBuf + 6) == 0 && LoadU16LE(pBuf + 8) == 0 && LoadU32LE(pBuf + 14) == 40
               ? FILE_TYPE_BMP
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsJpgType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 16))
        return NONE;
    if (Matches(pBuf, nLength, 0, szJfifHead) && MatchesText(pBuf, nLength, 6, "JFIF"))
        return FILE_TYPE_JPG;
    if (Matches(pBuf, nLength, 0, szExifHead) && MatchesText(pBuf, nLength, 6, "Exif"))
        return FILE_TYPE_JPG;
    return NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPngType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 8) && Matches(pBuf, nLength, 0, szPngHead) ? FILE_TYPE_PNG
                                                                              : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPsdType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 40) && MatchesText(pBuf, nLength, 0, "8BPS") ? FILE_TYPE_PSD
                                                                                : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsTifType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 4))
        return NONE;
    return Matches(pBuf, nLength, 0, szTifLittleHead) || Matches(pBuf, nLength, 0, szTifBigHead)
               ? FILE_TYPE_TIF
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsIcoType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 16) || !Matches(pBuf, nLength, 0, szIcoHead))
        return NONE;
    const size_t nCount = LoadU16LE(pBuf + 4);
    if (nCount == 0 || !InBounds(static_cast<size_t>(nLength), 6, 16 * nCount))
        return NONE;
    uint64_t u64Expected = 6 + 16 * nCount;
    for (size_t i = 0; i < nCount; ++i) {
        const unsigned char* pEntry = pBuf + 6 + 16 * i;
        if (pEntry[3] != 0 || LoadU32LE(pEntry + 12) != u64Expected)
            return NONE;
        u64Expected += LoadU32LE(pEntry + 8);
    }
    return FILE_TYPE_ICO;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsOffice2003Type(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 8) || !Matches(pBuf, nLength, 0, szOleHead))
        return NONE;
    return GetOffice2003Type(pBuf, nLength);
}

EXTEND_NAME_TYPE CFileTypeJudge::IsOffice2007Type(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 31))
        return NONE;
    if (!Matches(pBuf, nLength, 0, szZipLocalHead) &&
        !MatchesText(pBuf, nLength, CONTENT_TYPES_OFFSET, szContentTypes))
        return NONE;
    return GetOffice2007Type(pBuf, nLength);
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPdfType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 5) && MatchesText(pBuf, nLength, 0, "%PDF-") ? FILE_TYPE_PDF
                                                                                : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsGzipType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 16) || !Matches(pBuf, nLength, 0, szGzipHead))
        return NONE;
    const uint8_t u8Flags = pBuf[3];
    const uint8_t u8ExtraFlags = pBuf[8];
    const uint8_t u8Os = pBuf[9];
    if (u8Flags != 0 && u8Flags != 0x08)
        return NONE;
    if (u8ExtraFlags != 2 && u8ExtraFlags != 4)
        return NONE;
    return u8Os < 14 || u8Os == 0xFF ? FILE_TYPE_GZ : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::Is7zType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 5) && Matches(pBuf, nLength, 0, sz7zHead) ? FILE_TYPE_7Z : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsZipType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 48) && Matches(pBuf, nLength, 0, szZipLocalHead) ? FILE_TYPE_ZIP
                                                                                    : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsRarType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 7) && Matches(pBuf, nLength, 0, szWinrarHeadMagic)
               ? FILE_TYPE_RAR
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsCabType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 36) && MatchesText(pBuf, nLength, 0, "MSCF") ? FILE_TYPE_CAB
                                                                                : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPeType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 512) || !MatchesText(pBuf, nLength, 0, "MZ"))
        return NONE;
    const uint32_t u32PeOffset = LoadU32LE(pBuf + PE_OFFSET_FIELD);
    if (u32PeOffset > PE_MAX_HEADER_OFFSET || !Matches(pBuf, nLength, u32PeOffset, szPeSignature))
        return NONE;
    const uint16_t u16Characteristics = LoadU16LE(pBuf + u32PeOffset + PE_CHARACTERISTICS);
    if ((u16Characteristics & PE_EXECUTABLE_IMAGE) == 0)
        return NONE;
    if (u16Characteristics & PE_SYSTEM)
        return FILE_TYPE_SYS;
    return u16Characteristics & PE_DLL ? FILE_TYPE_DLL : FILE_TYPE_EXE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsGhoType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 4) && Matches(pBuf, nLength, 0, szGhoHead) ? FILE_TYPE_GHO
                                                                              : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsSqlType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && Matches(pBuf, nLength, 0, szSqliteHead) ? FILE_TYPE_DB
                                                                                  : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsDbxEmailType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && Matches(pBuf, nLength, 0, szDbxHead) ? FILE_TYPE_DBX
                                                                               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPstEmailType(const unsigned char* pBuf, int nLength) {
    return IsUsable(pBuf, nLength, 16) && MatchesText(pBuf, nLength, 0, "!BDN") &&
                   MatchesText(pBuf, nLength, 8, "SM")
               ? FILE_TYPE_PST
               : NONE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsTtfType(const unsigned char* pBuf, int nLength) {
    if (!IsUsable(pBuf, nLength, 16) || !Matches(pBuf, nLength, 0, szTtfHead))
        return NONE;
    const size_t nTables = LoadU16BE(pBuf + 4);
    if (nTables == 0 || LoadU16BE(pBuf + 6) == 0 || LoadU16BE(pBuf + 8) == 0 ||
        LoadU16BE(pBuf + 10) == 0)
        return NONE;
    if (16 * nTables + 16 > static_cast<size_t>(nLength))
        return NONE;
    return Matches(pBuf, nLength, 16 * nTables + 12, szTtfHead) ? FILE_TYPE_TTF : NONE;
}

// Office sub-types.

EXTEND_NAME_TYPE CFileTypeJudge::GetOffice2003Type(const unsigned char* pHeader, int nLength) {
    if (m_nBytesPerSector <= 0 || !IsUsable(pHeader, nLength, 52))
        return FILE_TYPE_OLE;
    const size_t nSector = static_cast<size_t>(m_nBytesPerSector);
    std::vector<unsigned char> sector(nSector);
    if (!ReadSectors(sector.data(), 1, m_u64CurrentSector + 1))
        return FILE_TYPE_OLE;
    if (InBounds(nSector, 0, sizeof(szBiff8Bof)) &&
        std::memcmp(sector.data(), szBiff8Bof, sizeof(szBiff8Bof)) == 0)
        return FILE_TYPE_XLS;
    if (std::memcmp(sector.data(), szWordFib, sizeof(szWordFib)) == 0)
        return FILE_TYPE_DOC;
    const uint64_t u64DirSector = m_u64CurrentSector + 1 + LoadU32LE(pHeader + OLE_DIRECTORY_START);
    if (!ReadSectors(sector.data(), 1, u64DirSector))
        return FILE_TYPE_OLE;
    return OleDirectoryType(sector.data(), nSector);
}

EXTEND_NAME_TYPE CFileTypeJudge::GetOffice2007Type(const unsigned char* pBuf, int nLength) {
    if (pBuf == nullptr || nLength <= 0 || m_nBytesPerSector <= 0)
        return NONE;
    const size_t nWindowBytes = static_cast<size_t>(m_nBytesPerSector) * OOXML_WINDOW_SECTORS;
    std::vector<unsigned char> window(OOXML_CARRY_BYTES + nWindowBytes, 0);
    size_t nCarry = 0;
    for (int i = 0; i < OOXML_WINDOW_COUNT; ++i) {
        if (!ReadSectors(window.data() + nCarry, OOXML_WINDOW_SECTORS,
                         m_u64CurrentSector + uint64_t(i) * OOXML_WINDOW_SECTORS))
            return NONE;
        const size_t nHave = nCarry + nWindowBytes;
        EXTEND_NAME_TYPE nType = FindOoxmlPartName(window.data(), nHave);
        if (nType != NONE)
            return nType;
        std::memmove(window.data(), window.data() + nHave - OOXML_CARRY_BYTES, OOXML_CARRY_BYTES);
        nCarry = OOXML_CARRY_BYTES;
    }
    return NONE;
}
