// Relation text, folder-info records and the scan index, turned into memory and back.
#include "store/StoreFileFormat.h"

#include "util/ByteView.h"

#include <charconv>
#include <cstring>

namespace {

constexpr char ENTRY_MARK[] = " | ";
constexpr size_t ENTRY_MARK_LEN = 3;
constexpr char LIST_MARK[] = " - [";
constexpr size_t LIST_MARK_LEN = 4;
constexpr size_t INDEX_HEADER_BYTES = sizeof(uint64_t);

enum class ParseStep { Ok, Truncated, Garbled };

// A cursor over the relation text that never steps past its end.
class CTextCursor {
public:
    CTextCursor(const char* pText, size_t nSize) : m_pText(pText), m_nSize(nSize) {}

    bool AtEnd() const { return m_nPos >= m_nSize; }
    size_t Left() const { return m_nSize - m_nPos; }

    ParseStep Expect(const char* pMark, size_t nLen) {
        size_t nHave = Left() < nLen ? Left() : nLen;
        if (std::memcmp(m_pText + m_nPos, pMark, nHave) != 0)
            return ParseStep::Garbled;
        if (nHave < nLen)
            return ParseStep::Truncated;
        m_nPos += nLen;
        return ParseStep::Ok;
    }

    template <typename T> ParseStep Number(T& value) {
        const char* pBegin = m_pText + m_nPos;
        const char* pEnd = m_pText + m_nSize;
        auto [pStop, ec] = std::from_chars(pBegin, pEnd, value);
        if (pStop == pBegin)
            return AtEnd() ? ParseStep::Truncated : ParseStep::Garbled;
        if (ec != std::errc())
            return ParseStep::Garbled;
        if (pStop == pEnd)
            return ParseStep::Truncated; // the number may go on in the missing part
        m_nPos = pStop - m_pText;
        return ParseStep::Ok;
    }

    ParseStep Char(char& c) {
        if (AtEnd())
            return ParseStep::Truncated;
        c = m_pText[m_nPos++];
        return ParseStep::Ok;
    }

private:
    const char* m_pText;
    size_t m_nSize;
    size_t m_nPos = 0;
};

ParseStep ParseChildList(CTextCursor& cursor, std::vector<uint32_t>& vecChildren) {
    ParseStep step = cursor.Expect("]", 1);
    if (step != ParseStep::Garbled)
        return step; // an empty list, or the text ends here
    for (;;) {
        char c = 0;
        uint32_t nIndex = 0;
        if ((step = cursor.Number(nIndex)) != ParseStep::Ok)
            return step;
        if (nIndex == 0)
            return ParseStep::Garbled;
        vecChildren.push_back(nIndex);
        if ((step = cursor.Char(c)) != ParseStep::Ok)
            return step;
        if (c == ']')
            return ParseStep::Ok;
        if (c != ',')
            return ParseStep::Garbled;
    }
}

ParseStep ParseEntry(CTextCursor& cursor, uint64_t& u64Key, std::vector<uint32_t>& vecChildren) {
    ParseStep step;
    if ((step = cursor.Expect(ENTRY_MARK, ENTRY_MARK_LEN)) != ParseStep::Ok)
        return step;
    if ((step = cursor.Number(u64Key)) != ParseStep::Ok)
        return step;
    if ((step = cursor.Expect(LIST_MARK, LIST_MARK_LEN)) != ParseStep::Ok)
        return step;
    return ParseChildList(cursor, vecChildren);
}

template <size_t N> void TerminateField(char (&szField)[N]) {
    szField[N - 1] = '\0';
}

} // namespace

std::string FormatRelationText(const RelationMap& mapRelation) {
    std::string strText;
    char szNumber[24];
    for (const auto& [u64Key, vecChildren] : mapRelation) {
        strText.append(ENTRY_MARK, ENTRY_MARK_LEN);
        strText.append(szNumber, std::to_chars(szNumber, szNumber + sizeof(szNumber), u64Key).ptr);
        strText.append(LIST_MARK, LIST_MARK_LEN);
        for (size_t i = 0; i < vecChildren.size(); ++i) {
            if (i != 0)
                strText.push_back(',');
            strText.append(
                szNumber, std::to_chars(szNumber, szNumber + sizeof(szNumber), vecChildren[i]).ptr);
        }
        strText.push_back(']');
    }
    return strText;
}

int ParseRelationText(const char* pText, size_t nSize, RelationMap& mapOut) {
    CTextCursor cursor(pText, nSize);
    while (!cursor.AtEnd()) {
        uint64_t u64Key = 0;
        std::vector<uint32_t> vecChildren;
        ParseStep step = ParseEntry(cursor, u64Key, vecChildren);
        if (step == ParseStep::Truncated)
            return 0;
        if (step == ParseStep::Garbled)
            return ERROR_FILE_CORRUPT;
        std::vector<uint32_t>& vecEntry = mapOut[u64Key];
        vecEntry.insert(vecEntry.end(), vecChildren.begin(), vecChildren.end());
    }
    return 0;
}

void ParseDirInfoRecords(const uint8_t* pData, size_t nSize, std::vector<DIR_FILE_INFO>& vecOut) {
    for (size_t off = 0; InBounds(nSize, off, sizeof(DIR_FILE_INFO));
         off += sizeof(DIR_FILE_INFO)) {
        DIR_FILE_INFO info;
        std::memcpy(&info, pData + off, sizeof(info));
        TerminateField(info.szFileName);
        vecOut.push_back(info);
    }
}

bool ParseLogIndex(const uint8_t* pData, size_t nSize, uint64_t& u64CurrentIndex,
                   std::vector<LOG_FILE_INFO>& vecOut) {
    if (!InBounds(nSize, 0, INDEX_HEADER_BYTES))
        return false;
    u64CurrentIndex = LoadU64LE(pData);
    for (size_t off = INDEX_HEADER_BYTES; InBounds(nSize, off, sizeof(LOG_FILE_INFO));
         off += sizeof(LOG_FILE_INFO)) {
        LOG_FILE_INFO info;
        std::memcpy(&info, pData + off, sizeof(info));
        TerminateField(info.szDevicePath);
        TerminateField(info.szLogDirPath);
        vecOut.push_back(info);
    }
    return true;
}

std::vector<uint8_t> FormatLogIndex(uint64_t u64CurrentIndex,
                                    const std::vector<LOG_FILE_INFO>& vecRecords) {
    std::vector<uint8_t> vecBytes(INDEX_HEADER_BYTES + vecRecords.size() * sizeof(LOG_FILE_INFO));
    std::memcpy(vecBytes.data(), &u64CurrentIndex, INDEX_HEADER_BYTES);
    if (!vecRecords.empty())
        std::memcpy(vecBytes.data() + INDEX_HEADER_BYTES, vecRecords.data(),
                    vecRecords.size() * sizeof(LOG_FILE_INFO));
    return vecBytes;
}
