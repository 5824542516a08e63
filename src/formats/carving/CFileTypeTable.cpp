// The format table. Row order settles overlaps: the first detector that answers wins, and rows
// sharing a detector are one container whose size finder names the sub-type.
#include "formats/carving/CFileTypeTable.h"

#include "formats/carving/CArchiveFormats.h"
#include "formats/carving/CAudioFormats.h"
#include "formats/carving/CDocumentFormats.h"
#include "formats/carving/CFontDatabaseFormats.h"
#include "formats/carving/CPictureFormats.h"
#include "formats/carving/CVideoFormats.h"

#include <iterator>

namespace {

using P = CPictureFormats;
using A = CAudioFormats;
using V = CVideoFormats;
using D = CDocumentFormats;
using R = CArchiveFormats;
using F = CFontDatabaseFormats;

// Enough for two of the longest MPEG audio or ADTS frames.
constexpr int FRAME_LOOK_AHEAD = 4096;

const EXTEND_NAME_AND_TYPE szExtendNameAndType[] = {
    // Video.
    {"mpeg", FILE_TYPE_MPEG, V::IsMpgType, V::GetMPGFileBytesSize, {0x00}},
    {"mpg", FILE_TYPE_MPEG, V::IsMpgType, V::GetMPGFileBytesSize, {0x00}},
    {"vob", FILE_TYPE_MPEG, V::IsMpgType, V::GetMPGFileBytesSize, {0x00}},
    // ISO base media: one container for video, audio and pictures; the brand names the kind.
    {"mp4", FILE_TYPE_MP4, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"3gp", FILE_TYPE_3GP, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"3g2", FILE_TYPE_3G2, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"mov", FILE_TYPE_MOV, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"m4v", FILE_TYPE_M4V, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"m4a", FILE_TYPE_M4A, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"m4b", FILE_TYPE_M4B, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"heic", FILE_TYPE_HEIC, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"heif", FILE_TYPE_HEIF, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"avif", FILE_TYPE_AVIF, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"cr3", FILE_TYPE_CR3, V::IsIsoMediaType, V::GetIsoMediaFileBytesSize, {ANY_LEAD_BYTE}},
    {"rmvb", FILE_TYPE_RMVB, V::IsRmvbType, V::GetRMVBFileBytesSize, {'.'}},
    {"rm", FILE_TYPE_RMVB, V::IsRmvbType, V::GetRMVBFileBytesSize, {'.'}},
    {"wmv", FILE_TYPE_WMV, V::IsAsfType, V::GetASFFileBytesSize, {0x30}},
    {"asf", FILE_TYPE_WMV, V::IsAsfType, V::GetASFFileBytesSize, {0x30}},
    {"wma", FILE_TYPE_WMA, V::IsAsfType, V::GetASFFileBytesSize, {0x30}},
    {"swf", FILE_TYPE_SWF, V::IsSwfType, V::GetSWFFileBytesSize, {'F', 'C', 'Z'}},
    {"avi", FILE_TYPE_AVI, V::IsAviType, V::GetAVIFileBytesSize, {'R'}},
    {"flv", FILE_TYPE_FLV, V::IsFlvType, V::GetFLVFileBytesSize, {'F'}},
    {"mkv", FILE_TYPE_MKV, V::IsMkvType, V::GetMKVFileBytesSize, {0x1A}},
    {"webm", FILE_TYPE_WEBM, V::IsMkvType, V::GetMKVFileBytesSize, {0x1A}},
    {"ts", FILE_TYPE_TS, V::IsTsType, V::GetTSFileBytesSize, {0x47}},
    {"mts", FILE_TYPE_MTS, V::IsMtsType, V::GetMTSFileBytesSize, {ANY_LEAD_BYTE}},
    {"m2ts", FILE_TYPE_MTS, V::IsMtsType, V::GetMTSFileBytesSize, {ANY_LEAD_BYTE}},
    {"mxf", FILE_TYPE_MXF, V::IsMxfType, V::GetMXFFileBytesSize, {0x06}},
    // Audio.
    {"mp3", FILE_TYPE_MP3, A::IsMp3Type, A::GetMP3FileBytesSize, {'I', 0xFF}, FRAME_LOOK_AHEAD},
    {"mp2", FILE_TYPE_MP2, A::IsMp3Type, A::GetMP3FileBytesSize, {'I', 0xFF}, FRAME_LOOK_AHEAD},
    {"mp1", FILE_TYPE_MP1, A::IsMp3Type, A::GetMP3FileBytesSize, {'I', 0xFF}, FRAME_LOOK_AHEAD},
    {"aac", FILE_TYPE_AAC, A::IsAacType, A::GetAACFileBytesSize, {0xFF}, FRAME_LOOK_AHEAD},
    {"flac", FILE_TYPE_FLAC, A::IsFlacType, A::GetFLACFileBytesSize, {'f'}},
    {"ogg", FILE_TYPE_OGG, A::IsOggType, A::GetOGGFileBytesSize, {'O'}},
    {"oga", FILE_TYPE_OGG, A::IsOggType, A::GetOGGFileBytesSize, {'O'}},
    {"opus", FILE_TYPE_OPUS, A::IsOggType, A::GetOGGFileBytesSize, {'O'}},
    {"spx", FILE_TYPE_SPX, A::IsOggType, A::GetOGGFileBytesSize, {'O'}},
    {"ogv", FILE_TYPE_OGV, A::IsOggType, A::GetOGGFileBytesSize, {'O'}},
    {"mid", FILE_TYPE_MID, A::IsMidType, A::GetMIDFileBytesSize, {'M'}},
    {"ape", FILE_TYPE_APE, A::IsApeType, A::GetAPEFileBytesSize, {'M'}},
    {"wav", FILE_TYPE_WAV, A::IsWavType, A::GetWAVFileBytesSize, {'R', 'B'}},
    {"aiff", FILE_TYPE_AIFF, A::IsAiffType, A::GetAIFFFileBytesSize, {'F'}},
    {"aif", FILE_TYPE_AIFF, A::IsAiffType, A::GetAIFFFileBytesSize, {'F'}},
    {"aifc", FILE_TYPE_AIFF, A::IsAiffType, A::GetAIFFFileBytesSize, {'F'}},
    {"mmf", FILE_TYPE_MMF, A::IsMmfType, A::GetMMFFileBytesSize, {'M'}},
    // Pictures.
    {"gif", FILE_TYPE_GIF, P::IsGifType, P::GetGIFFileBytesSize, {'G'}},
    {"bmp", FILE_TYPE_BMP, P::IsBmpType, P::GetBMPFileBytesSize, {'B'}},
    {"dib", FILE_TYPE_BMP, P::IsBmpType, P::GetBMPFileBytesSize, {'B'}},
    {"jpg", FILE_TYPE_JPG, P::IsJpgType, P::GetJPGFileBytesSize, {0xFF}},
    {"jpeg", FILE_TYPE_JPG, P::IsJpgType, P::GetJPGFileBytesSize, {0xFF}},
    {"jpe", FILE_TYPE_JPG, P::IsJpgType, P::GetJPGFileBytesSize, {0xFF}},
    {"jfif", FILE_TYPE_JPG, P::IsJpgType, P::GetJPGFileBytesSize, {0xFF}},
    {"png", FILE_TYPE_PNG, P::IsPngType, P::GetPNGFileBytesSize, {0x89}},
    {"webp", FILE_TYPE_WEBP, P::IsWebpType, P::GetWEBPFileBytesSize, {'R'}},
    {"psd", FILE_TYPE_PSD, P::IsPsdType, P::GetPSDFileBytesSize, {'8'}},
    // TIFF: one container for the TIFF-based camera raws; the maker names the kind.
    {"tif", FILE_TYPE_TIF, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"tiff", FILE_TYPE_TIF, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"cr2", FILE_TYPE_CR2, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"nef", FILE_TYPE_NEF, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"arw", FILE_TYPE_ARW, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"dng", FILE_TYPE_DNG, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"orf", FILE_TYPE_ORF, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"rw2", FILE_TYPE_RW2, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"pef", FILE_TYPE_PEF, P::IsTifType, P::GetTIFFileBytesSize, {'I', 'M'}},
    {"raf", FILE_TYPE_RAF, P::IsRafType, P::GetRAFFileBytesSize, {'F'}},
    {"ico", FILE_TYPE_ICO, P::IsIcoType, P::GetICOFileBytesSize, {0x00}},
    {"cur", FILE_TYPE_CUR, P::IsIcoType, P::GetICOFileBytesSize, {0x00}},
    // Compound documents: the directory names the kind. Every one starts with the fla
    // signature, so these rows come before fla.
    {"doc", FILE_TYPE_DOC, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"dot", FILE_TYPE_DOC, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"wps", FILE_TYPE_DOC, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"wpt", FILE_TYPE_DOC, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"xls", FILE_TYPE_XLS, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"xlt", FILE_TYPE_XLS, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"xla", FILE_TYPE_XLS, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"et", FILE_TYPE_XLS, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"ett", FILE_TYPE_XLS, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"ppt", FILE_TYPE_PPT, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"pot", FILE_TYPE_PPT, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"pps", FILE_TYPE_PPT, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"dps", FILE_TYPE_PPT, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"dpt", FILE_TYPE_PPT, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"ole", FILE_TYPE_OLE, D::IsOffice2003Type, D::GetOFFICE2003FileBytesSize, {0xD0}},
    {"fla", FILE_TYPE_FLA, D::IsFlaType, D::GetOFFICE2003FileBytesSize, {0xD0}},
    // ZIP: one container for the packages built on it; their parts name the kind.
    {"zip", FILE_TYPE_ZIP, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"docx", FILE_TYPE_DOCX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"docm", FILE_TYPE_DOCX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"dotm", FILE_TYPE_DOCX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"dotx", FILE_TYPE_DOCX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"xlsx", FILE_TYPE_XLSX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"xlsb", FILE_TYPE_XLSX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"xlsm", FILE_TYPE_XLSX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"xlam", FILE_TYPE_XLSX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"xltx", FILE_TYPE_XLSX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"xltm", FILE_TYPE_XLSX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"pptx", FILE_TYPE_PPTX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"pptm", FILE_TYPE_PPTX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"potx", FILE_TYPE_PPTX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"potm", FILE_TYPE_PPTX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"ppsx", FILE_TYPE_PPTX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"ppsm", FILE_TYPE_PPTX, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"mso07", FILE_TYPE_MSO07, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"odt", FILE_TYPE_ODT, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"ods", FILE_TYPE_ODS, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"odp", FILE_TYPE_ODP, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"odg", FILE_TYPE_ODG, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"epub", FILE_TYPE_EPUB, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"xps", FILE_TYPE_XPS, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    {"jar", FILE_TYPE_ZIP, R::IsZipType, R::GetZIPFileBytesSize, {'P'}},
    // Documents.
    {"pdf", FILE_TYPE_PDF, D::IsPdfType, D::GetPDFFileBytesSize, {'%'}},
    {"rtf", FILE_TYPE_RTF, D::IsRtfType, D::GetRTFFileBytesSize, {'{'}},
    {"pst", FILE_TYPE_PST, D::IsPstEmailType, D::GetPSTFileBytesSize, {'!'}},
    {"dbx", FILE_TYPE_DBX, D::IsDbxEmailType, D::GetDBXFileBytesSize, {0xCF}},
    // Archives and executables.
    {"gz", FILE_TYPE_GZ, R::IsGzipType, R::GetGZFileBytesSize, {0x1F}},
    {"gzip", FILE_TYPE_GZ, R::IsGzipType, R::GetGZFileBytesSize, {0x1F}},
    {"7z", FILE_TYPE_7Z, R::Is7zType, R::Get7ZFileBytesSize, {'7'}},
    {"rar", FILE_TYPE_RAR, R::IsRarType, R::GetRARFileBytesSize, {'R'}},
    {"cab", FILE_TYPE_CAB, R::IsCabType, R::GetCABFileBytesSize, {'M'}},
    {"xz", FILE_TYPE_XZ, R::IsXzType, R::GetXZFileBytesSize, {0xFD}},
    {"bz2", FILE_TYPE_BZ2, R::IsBzip2Type, R::GetBZ2FileBytesSize, {'B'}},
    {"zst", FILE_TYPE_ZST, R::IsZstdType, R::GetZSTFileBytesSize, {ANY_LEAD_BYTE}},
    {"tar", FILE_TYPE_TAR, R::IsTarType, R::GetTARFileBytesSize, {ANY_LEAD_BYTE}},
    {"exe", FILE_TYPE_EXE, R::IsPeType, R::GetPEFileBytesSize, {'M'}},
    {"dll", FILE_TYPE_DLL, R::IsPeType, R::GetPEFileBytesSize, {'M'}},
    {"sys", FILE_TYPE_SYS, R::IsPeType, R::GetPEFileBytesSize, {'M'}},
    {"gho", FILE_TYPE_GHO, R::IsGhoType, nullptr, {0xFE}},
    // Fonts and databases.
    {"db", FILE_TYPE_DB, F::IsSqlType, F::GetDBFileBytesSize, {'S'}},
    {"sqlite", FILE_TYPE_DB, F::IsSqlType, F::GetDBFileBytesSize, {'S'}},
    {"ttf", FILE_TYPE_TTF, F::IsTtfType, F::GetTTFFileBytesSize, {0x00, 'O', 't'}},
    {"otf", FILE_TYPE_OTF, F::IsTtfType, F::GetTTFFileBytesSize, {0x00, 'O', 't'}},
    {"ttc", FILE_TYPE_TTC, F::IsTtcType, F::GetTTCFileBytesSize, {'t'}},
    {"woff", FILE_TYPE_WOFF, F::IsWoffType, F::GetWOFFFileBytesSize, {'w'}},
    {"woff2", FILE_TYPE_WOFF2, F::IsWoffType, F::GetWOFFFileBytesSize, {'w'}},
    {nullptr, FILE_TYPE_NONE, nullptr, nullptr, {}},
};

} // namespace

const EXTEND_NAME_AND_TYPE* CFileTypeTable::Rows() {
    return szExtendNameAndType;
}

int CFileTypeTable::RowCount() {
    return static_cast<int>(std::size(szExtendNameAndType));
}
