// Tables of the files the file-system engines listed, and the duplicate test on them.
#include "deepscan/CDuplicateHitFilter.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr size_t EXTENSION_CODE_BYTES = sizeof(uint64_t);

// The code of a lower-case extension literal.
constexpr uint64_t LiteralCode(const char* pExt) {
    uint64_t code = 0;
    for (size_t i = 0; pExt[i] != '\0'; ++i)
        code |= uint64_t(static_cast<unsigned char>(pExt[i])) << (8 * i);
    return code;
}

// A file-system "thm" thumbnail is the JPEG the carver finds at its first sector.
constexpr uint64_t THUMBNAIL_CODE = LiteralCode("thm");
constexpr uint64_t JPEG_CODE = LiteralCode("jpg");

} // namespace

bool CDuplicateHitFilter::EncodeExtension(const char* pName, ExtensionCode& code) {
    const char* pDot = std::strrchr(pName, '.');
    const char* pExt = pDot == nullptr ? "" : pDot + 1;
    size_t nLength = std::strlen(pExt);
    if (nLength > EXTENSION_CODE_BYTES)
        return false;
    code = 0;
    for (size_t i = 0; i < nLength; ++i)
        code |= uint64_t(std::tolower(static_cast<unsigned char>(pExt[i]))) << (8 * i);
    return true;
}

void CDuplicateHitFilter::AddFileSystemSector(const SEARCH_FILE_INFO& hit,
                                              uint64_t u64FirstSector) {
    ExtensionCode code = 0;
    if (EncodeExtension(hit.szFileName, code))
        m_vecFileSystemSectors.push_back({u64FirstSector, code});
}

void CDuplicateHitFilter::AddFastHit(const SEARCH_FILE_INFO& hit, uint64_t u64FirstSector) {
    m_vecFastFiles.push_back({u64FirstSector, hit.u64FileSize});
    AddFileSystemSector(hit, u64FirstSector);
}

// The walk of a deleted folder and the sector pass both read its entries: one file, one hit.
void CDuplicateHitFilter::AddDeepHit(const SEARCH_FILE_INFO& hit, uint64_t u64FirstSector) {
    if (!m_bFastSorted) {
        std::sort(m_vecFastFiles.begin(), m_vecFastFiles.end());
        m_bFastSorted = true;
    }
    if (std::binary_search(m_vecFastFiles.begin(), m_vecFastFiles.end(),
                           std::pair{u64FirstSector, hit.u64FileSize}))
        m_vecDroppedDeep.push_back({hit.nEngineType, hit.nFileIndex});
    else
        AddFileSystemSector(hit, u64FirstSector);
}

void CDuplicateHitFilter::Seal() {
    std::vector<std::pair<uint64_t, uint64_t>>().swap(m_vecFastFiles);
    std::sort(m_vecDroppedDeep.begin(), m_vecDroppedDeep.end());
    std::sort(m_vecFileSystemSectors.begin(), m_vecFileSystemSectors.end());
}

bool CDuplicateHitFilter::IsDuplicate(const SEARCH_FILE_INFO& hit) const {
    if (hit.nEngineType == ENGINE_DEEP_FAT || hit.nEngineType == ENGINE_DEEP_NTFS ||
        hit.nEngineType == ENGINE_DEEP_EXFAT)
        return std::binary_search(m_vecDroppedDeep.begin(), m_vecDroppedDeep.end(),
                                  std::pair{hit.nEngineType, hit.nFileIndex});
    if (hit.nEngineType != ENGINE_FILE_TYPE)
        return false;
    ExtensionCode carved = 0;
    if (!EncodeExtension(hit.szFileName, carved))
        return false;
    auto it = std::lower_bound(m_vecFileSystemSectors.begin(), m_vecFileSystemSectors.end(),
                               SECTOR_EXTENSION{hit.u64LocationSector, 0});
    for (; it != m_vecFileSystemSectors.end() && it->u64Sector == hit.u64LocationSector; ++it) {
        if (it->extension == carved || (it->extension == THUMBNAIL_CODE && carved == JPEG_CODE))
            return true;
    }
    return false;
}
