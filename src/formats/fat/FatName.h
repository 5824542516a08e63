// Directory-entry names as display text: short names (GBK bytes) and long names (UTF-16 parts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr char FAT_DELETED_NAME_MARK = '!';

// The short name of the 32-byte entry as UTF-8: base and extension with trailing blanks removed,
// joined by '.' (files only), A-Z lower-cased, bytes >= 0x80 read as GBK, a deleted entry's
// first byte shown as '!'.
std::string GetFatShortName(const uint8_t* pEntry, bool bIsDir);

// Collects the parts of a long name as its entries are met (last part first on disk).
class CFatLongName {
public:
    static constexpr size_t MAX_PARTS = 20; // 255 characters need 20 entries of 13

    CFatLongName() { Reset(); }
    void Reset();
    // Stores the 13 characters of a long-name entry; false when the name would exceed 20 parts.
    bool AddPart(const uint8_t* pEntry);
    bool IsEmpty() const { return m_nPos == BUFFER_UNITS - 1; }
    // The collected name as UTF-8, ending at its first 0 character.
    std::string GetName() const;
    // True when the name, up to its first 0 character, is made of characters a long name may
    // hold: no controls, none of \ / : * ? " < > |, and surrogates only in pairs.
    bool HasNameCharacters() const;

private:
    static constexpr size_t CHARS_PER_PART = 13;
    static constexpr size_t BUFFER_UNITS = MAX_PARTS * CHARS_PER_PART + 1;

    char16_t m_wszName[BUFFER_UNITS];
    size_t m_nPos = BUFFER_UNITS - 1; // where the part stored last begins
};
