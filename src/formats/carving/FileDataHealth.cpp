// The data-health judgement: zeros or another known format mean gone, anything else may be intact.
#include "formats/carving/FileDataHealth.h"

#include "formats/carving/CFileTypeJudge.h"

#include <algorithm>
#include <climits>
#include <strings.h>

namespace {

// Formats whose first sector may be all zeros while the file is whole: the 512-byte header of a
// PICT, the system area of an ISO 9660 image, disk images.
constexpr const char* ZERO_HEADED_EXTENSIONS[] = {"pct", "pict", "iso", "img", "bin", "vhd"};

// Formats that share a container: a file named for one may hold another of its family.
enum class Family { Own, Compound, ZipPackage, IsoMedia, MpegStream, MpegAudio, Executable };

Family FamilyOf(EXTEND_NAME_TYPE nType) {
    switch (nType) {
    case FILE_TYPE_DOC:
    case FILE_TYPE_XLS:
    case FILE_TYPE_PPT:
    case FILE_TYPE_OLE:
    case FILE_TYPE_FLA:
        return Family::Compound;
    case FILE_TYPE_DOCX:
    case FILE_TYPE_XLSX:
    case FILE_TYPE_PPTX:
    case FILE_TYPE_MSO07:
    case FILE_TYPE_ZIP:
        return Family::ZipPackage;
    case FILE_TYPE_MP4:
    case FILE_TYPE_MOV:
    case FILE_TYPE_3GP:
        return Family::IsoMedia;
    case FILE_TYPE_MPEG:
    case FILE_TYPE_TS:
    case FILE_TYPE_MTS:
        return Family::MpegStream;
    case FILE_TYPE_MP2:
    case FILE_TYPE_MP3:
        return Family::MpegAudio;
    case FILE_TYPE_EXE:
    case FILE_TYPE_DLL:
    case FILE_TYPE_SYS:
        return Family::Executable;
    default:
        return Family::Own;
    }
}

bool AreCompatible(EXTEND_NAME_TYPE nFound, EXTEND_NAME_TYPE nNamed) {
    return nFound == nNamed ||
           (FamilyOf(nFound) != Family::Own && FamilyOf(nFound) == FamilyOf(nNamed));
}

bool MayStartWithZeros(const char* pExtension) {
    return pExtension != nullptr &&
           std::any_of(std::begin(ZERO_HEADED_EXTENSIONS), std::end(ZERO_HEADED_EXTENSIONS),
                       [&](const char* pZero) { return strcasecmp(pZero, pExtension) == 0; });
}

} // namespace

uint32_t JudgeFileDataHealth(const uint8_t* pSector, size_t nSize, const char* pExtension,
                             CDiskReader* pReader, int nBytesPerSector, uint64_t u64Sector) {
    if (pSector == nullptr || nSize == 0)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    if (std::all_of(pSector, pSector + nSize, [](uint8_t b) { return b == 0; }))
        return MayStartWithZeros(pExtension) ? DATA_HEALTH_INTACT_OR_UNKNOWN : DATA_HEALTH_GONE;
    // Without a format to expect, another format's header proves nothing.
    const EXTEND_NAME_TYPE nNamed = CFileTypeJudge::GetExtendNameType(pExtension);
    if (nNamed == FILE_TYPE_NONE)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    const int nLength = static_cast<int>(std::min<size_t>(nSize, INT_MAX));
    if (CFileTypeJudge::IsFileTypeMatching(pSector, nLength, pExtension, pReader, nBytesPerSector,
                                           u64Sector) != 0)
        return DATA_HEALTH_INTACT_OR_UNKNOWN;
    if (CFileTypeJudge::IsFileSystemSector(pSector, nLength) != 0)
        return DATA_HEALTH_GONE;
    const EXTEND_NAME_TYPE nFound = CFileTypeJudge::GetDataBufType(pSector, nLength);
    return nFound == FILE_TYPE_NONE || AreCompatible(nFound, nNamed) ? DATA_HEALTH_INTACT_OR_UNKNOWN
                                                                     : DATA_HEALTH_GONE;
}
