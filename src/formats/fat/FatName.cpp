// Short and long FAT names turned into the UTF-8 text that nodes carry.
#include "formats/fat/FatName.h"

#include "formats/fat/FatEntryValidator.h"
#include "util/ByteView.h"
#include "util/TextUtil.h"

#include <cstring>

namespace {

constexpr size_t FAT_BASE_BYTES = 8;
constexpr size_t FAT_EXT_BYTES = 3;

// The UTF-16 units of a long-name entry: LDIR_Name1, LDIR_Name2, LDIR_Name3.
constexpr size_t LDIR_NAME1_OFFSET = 1;
constexpr size_t LDIR_NAME2_OFFSET = 14;
constexpr size_t LDIR_NAME3_OFFSET = 28;
constexpr size_t LDIR_NAME1_CHARS = 5;
constexpr size_t LDIR_NAME2_CHARS = 6;
constexpr size_t LDIR_NAME3_CHARS = 2;

size_t TrimmedLength(const char* pPart, size_t nBytes) {
    while (nBytes > 0 && pPart[nBytes - 1] == ' ')
        --nBytes;
    return nBytes;
}

void LowerAscii(std::string& strText) {
    for (char& c : strText)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
}

} // namespace

std::string GetFatShortName(const uint8_t* pEntry, bool bIsDir) {
    char szBytes[FAT_SHORT_NAME_BYTES];
    std::memcpy(szBytes, pEntry, FAT_SHORT_NAME_BYTES);
    if (pEntry[0] == FAT_ENTRY_DELETED)
        szBytes[0] = FAT_DELETED_NAME_MARK;
    std::string strName = GbkToUtf8(szBytes, TrimmedLength(szBytes, FAT_BASE_BYTES));
    const char* pExt = szBytes + FAT_BASE_BYTES;
    if (!bIsDir && pExt[0] != ' ')
        strName += "." + GbkToUtf8(pExt, TrimmedLength(pExt, FAT_EXT_BYTES));
    // After decoding, so that trail bytes of double-byte characters are left alone.
    LowerAscii(strName);
    return strName;
}

void CFatLongName::Reset() {
    std::memset(m_wszName, 0, sizeof(m_wszName));
    m_nPos = BUFFER_UNITS - 1;
}

bool CFatLongName::AddPart(const uint8_t* pEntry) {
    if (m_nPos < CHARS_PER_PART)
        return false;
    m_nPos -= CHARS_PER_PART;
    char16_t* pOut = m_wszName + m_nPos;
    for (size_t i = 0; i < LDIR_NAME1_CHARS; ++i)
        *pOut++ = LoadU16LE(pEntry + LDIR_NAME1_OFFSET + 2 * i);
    for (size_t i = 0; i < LDIR_NAME2_CHARS; ++i)
        *pOut++ = LoadU16LE(pEntry + LDIR_NAME2_OFFSET + 2 * i);
    for (size_t i = 0; i < LDIR_NAME3_CHARS; ++i)
        *pOut++ = LoadU16LE(pEntry + LDIR_NAME3_OFFSET + 2 * i);
    return true;
}

std::string CFatLongName::GetName() const {
    size_t nEnd = m_nPos;
    while (m_wszName[nEnd] != 0)
        ++nEnd;
    uint8_t bytes[2 * BUFFER_UNITS];
    for (size_t i = m_nPos; i < nEnd; ++i) {
        bytes[2 * (i - m_nPos)] = uint8_t(m_wszName[i] & 0xFF);
        bytes[2 * (i - m_nPos) + 1] = uint8_t(m_wszName[i] >> 8);
    }
    return Utf16LEToUtf8(bytes, nEnd - m_nPos);
}

bool CFatLongName::HasNameCharacters() const {
    for (size_t i = m_nPos; m_wszName[i] != 0; ++i) {
        const char16_t c = m_wszName[i];
        if (c < 0x20 || (c < 0x80 && std::strchr("\\/:*?\"<>|", int(c)) != nullptr))
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (m_wszName[i + 1] < 0xDC00 || m_wszName[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}
