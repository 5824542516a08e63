// Text, name and path utilities shared by the engines and the front ends.
#include "util/TextUtil.h"

#include "util/CSafeOutputFile.h"
#include "util/StatusCodes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <string_view>
#include <sys/stat.h>

namespace {

constexpr const char* WIDE_CODE_SET = "UTF-16LE";
constexpr const char* SHORT_NAME_CODE_SET = "GBK";
constexpr char REPLACEMENT_UTF8[] = "\xEF\xBF\xBD";
const iconv_t NO_ICONV = reinterpret_cast<iconv_t>(-1);

std::string g_strCodeSet = "UTF-8";

// Conversion handles carry shift state, so each thread keeps its own pair.
struct CIconvPair {
    std::string strCodeSet;
    iconv_t hToWide = NO_ICONV;
    iconv_t hFromWide = NO_ICONV;

    void Close() {
        if (hToWide != NO_ICONV)
            iconv_close(hToWide);
        if (hFromWide != NO_ICONV)
            iconv_close(hFromWide);
        hToWide = hFromWide = NO_ICONV;
    }
    bool Open(const std::string& strSet) {
        Close();
        strCodeSet = strSet;
        hToWide = iconv_open(WIDE_CODE_SET, strSet.c_str());
        if (hToWide == NO_ICONV)
            return false;
        hFromWide = iconv_open(strSet.c_str(), WIDE_CODE_SET);
        if (hFromWide == NO_ICONV) {
            Close();
            return false;
        }
        return true;
    }
    ~CIconvPair() { Close(); }
};

CIconvPair& ThreadConversions() {
    thread_local CIconvPair pair;
    if (pair.strCodeSet != g_strCodeSet || pair.hToWide == NO_ICONV)
        pair.Open(g_strCodeSet);
    return pair;
}

// Converts the whole input; an undecodable unit becomes the replacement text so names survive.
std::string Convert(iconv_t hConv, const char* pIn, size_t nIn, std::string_view replacement,
                    size_t nUnitBytes) {
    std::string out;
    if (hConv == NO_ICONV)
        return out;
    iconv(hConv, nullptr, nullptr, nullptr, nullptr);
    char* pSrc = const_cast<char*>(pIn);
    char szChunk[256];
    while (nIn > 0) {
        char* pDst = szChunk;
        size_t nRoom = sizeof(szChunk);
        size_t rc = iconv(hConv, &pSrc, &nIn, &pDst, &nRoom);
        out.append(szChunk, pDst - szChunk);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: skip one unit of the input and mark the gap.
        size_t nSkip = nIn < nUnitBytes ? nIn : nUnitBytes;
        pSrc += nSkip;
        nIn -= nSkip;
        out.append(replacement);
        iconv(hConv, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::u16string WideFromBytes(const std::string& bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    return text;
}

std::string BytesFromWide(const char16_t* pText, size_t nUnits) {
    std::string bytes(nUnits * 2, '\0');
    for (size_t i = 0; i < nUnits; ++i) {
        bytes[2 * i] = char(pText[i] & 0xFF);
        bytes[2 * i + 1] = char(pText[i] >> 8);
    }
    return bytes;
}

std::string NarrowFromWide(const char16_t* pIn, size_t nUnits) {
    std::string bytes = BytesFromWide(pIn, nUnits);
    return Convert(ThreadConversions().hFromWide, bytes.data(), bytes.size(), "?", 2);
}

std::u16string WideFromNarrow(const char* pIn, size_t nBytes) {
    return WideFromBytes(
        Convert(ThreadConversions().hToWide, pIn, nBytes, std::string_view("\xFD\xFF", 2), 1));
}

bool PathExists(const std::string& strPath) {
    struct stat st;
    return lstat(strPath.c_str(), &st) == 0;
}

// A name is taken while a file of that name, or a partial copy of one, exists.
bool NameTaken(const std::string& strPath) {
    return PathExists(strPath) || PathExists(GetPartFileName(strPath));
}

// An extension longer than this is more likely part of the name: it is cut with the rest.
constexpr size_t MAX_KEPT_EXTENSION_BYTES = 32;
constexpr char UNSAFE_NAME_REPLACEMENT = '_';
constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Length of the valid UTF-8 sequence at p (at most nLeft bytes), 0 when there is none;
// overlong forms, surrogates and values beyond U+10FFFF are not valid.
size_t Utf8SequenceLength(const unsigned char* p, size_t nLeft, char32_t& cOut) {
    unsigned char c = p[0];
    size_t nLength = c < 0x80           ? 1
                     : (c >> 5) == 0x6  ? 2
                     : (c >> 4) == 0xE  ? 3
                     : (c >> 3) == 0x1E ? 4
                                        : 0;
    if (nLength == 0 || nLength > nLeft)
        return 0;
    char32_t cValue = nLength == 1 ? c : c & (0x7F >> nLength);
    for (size_t i = 1; i < nLength; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cValue = cValue << 6 | (p[i] & 0x3F);
    }
    static constexpr char32_t MIN_VALUE[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cValue < MIN_VALUE[nLength] || cValue > 0x10FFFF || (cValue >= 0xD800 && cValue <= 0xDFFF))
        return 0;
    cOut = cValue;
    return nLength;
}

void AppendUtf8(std::string& strOut, char32_t c) {
    if (c < 0x80) {
        strOut += char(c);
    } else if (c < 0x800) {
        strOut += char(0xC0 | c >> 6);
        strOut += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        strOut += char(0xE0 | c >> 12);
        strOut += char(0x80 | (c >> 6 & 0x3F));
        strOut += char(0x80 | (c & 0x3F));
    } else {
        strOut += char(0xF0 | c >> 18);
        strOut += char(0x80 | (c >> 12 & 0x3F));
        strOut += char(0x80 | (c >> 6 & 0x3F));
        strOut += char(0x80 | (c & 0x3F));
    }
}

// Calls visit(character, its bytes) for each character; invalid bytes come one by one as U+FFFD.
template <typename Visit> void ForEachUtf8(const std::string& strText, Visit visit) {
    const auto* p = reinterpret_cast<const unsigned char*>(strText.data());
    size_t nLeft = strText.size();
    while (nLeft > 0) {
        char32_t c = REPLACEMENT_CHARACTER;
        size_t nLength = Utf8SequenceLength(p, nLeft, c);
        bool bValid = nLength != 0;
        nLength = bValid ? nLength : 1;
        visit(bValid ? c : REPLACEMENT_CHARACTER,
              std::string_view(reinterpret_cast<const char*>(p), nLength), bValid);
        p += nLength;
        nLeft -= nLength;
    }
}

std::string FormatText(const char* pFormat, double dValue, const char* pUnit) {
    char szText[64];
    std::snprintf(szText, sizeof(szText), pFormat, dValue, pUnit);
    return szText;
}

} // namespace

int inner_initUnicodeMap(const char* pCodeSet) {
    if (pCodeSet == nullptr)
        return -1;
    CIconvPair probe;
    if (!probe.Open(pCodeSet))
        return -1;
    g_strCodeSet = pCodeSet;
    return 0;
}

size_t StrLen16(const char16_t* pText) {
    size_t n = 0;
    while (pText != nullptr && pText[n] != 0)
        ++n;
    return n;
}

long inner_uni2str(char* pOut, const char16_t* pIn, long nOutBytes, long nInChars) {
    if (pOut == nullptr || nOutBytes <= 0)
        return 0;
    size_t nUnits = StrLen16(pIn);
    if (nInChars >= 0 && static_cast<size_t>(nInChars) < nUnits)
        nUnits = nInChars;
    std::string text = NarrowFromWide(pIn, nUnits);
    size_t nCopy = std::min(text.size(), static_cast<size_t>(nOutBytes - 1));
    std::memcpy(pOut, text.data(), nCopy);
    pOut[nCopy] = '\0';
    return static_cast<long>(nCopy);
}

long inner_str2uni(char16_t* pOut, const char* pIn, long nOutChars, long nInBytes) {
    if (pOut == nullptr || nOutChars <= 0)
        return 0;
    size_t nBytes = pIn == nullptr ? 0 : std::strlen(pIn);
    if (nInBytes >= 0 && static_cast<size_t>(nInBytes) < nBytes)
        nBytes = nInBytes;
    std::u16string text = WideFromNarrow(pIn, nBytes);
    size_t nCopy = std::min(text.size(), static_cast<size_t>(nOutChars - 1));
    std::memcpy(pOut, text.data(), nCopy * sizeof(char16_t));
    pOut[nCopy] = 0;
    return static_cast<long>(nCopy);
}

int Unicode2Ansi(const char16_t* pIn, char* pOut, int nOutBytes) {
    if (pIn == nullptr || pOut == nullptr || nOutBytes <= 0)
        return -1;
    inner_uni2str(pOut, pIn, nOutBytes, -1);
    return 0;
}

int Ansi2Unicode(const char* pIn, char16_t* pOut, int nOutChars) {
    if (pIn == nullptr || pOut == nullptr || nOutChars <= 0)
        return -1;
    inner_str2uni(pOut, pIn, nOutChars, -1);
    return 0;
}

std::string Unicode2Ansi(const char16_t* pIn) {
    return pIn == nullptr ? std::string() : NarrowFromWide(pIn, StrLen16(pIn));
}

std::u16string Ansi2Unicode(const char* pIn) {
    return pIn == nullptr ? std::u16string() : WideFromNarrow(pIn, std::strlen(pIn));
}

std::string Utf16LEToUtf8(const uint8_t* pBytes, size_t nUnits) {
    thread_local CIconvPair utf8;
    if (utf8.hFromWide == NO_ICONV)
        utf8.Open("UTF-8");
    return Convert(utf8.hFromWide, reinterpret_cast<const char*>(pBytes), nUnits * 2,
                   REPLACEMENT_UTF8, 2);
}

std::string GbkToUtf8(const char* pBytes, size_t nBytes) {
    thread_local iconv_t hGbk = iconv_open("UTF-8", SHORT_NAME_CODE_SET);
    return Convert(hGbk, pBytes, nBytes, REPLACEMENT_UTF8, 1);
}

char* GetCharLowerA(char* pText) {
    for (char* p = pText; p != nullptr && *p != '\0'; ++p)
        if (*p >= 'A' && *p <= 'Z')
            *p = char(*p - 'A' + 'a');
    return pText;
}

char16_t* GetCharLowerW(char16_t* pText) {
    for (char16_t* p = pText; p != nullptr && *p != 0; ++p)
        if (*p >= u'A' && *p <= u'Z')
            *p = char16_t(*p - u'A' + u'a');
    return pText;
}

int Convert2Lowercase(char* pText) {
    return pText == nullptr ? 0 : static_cast<int>(std::strlen(GetCharLowerA(pText)));
}

void EraseStringTailBlankChar(char* pText, int nLength) {
    for (int i = nLength - 1; pText != nullptr && i >= 0 && pText[i] == ' '; --i)
        pText[i] = '\0';
}

int GetExtendName(const char* pName, char* pExt, size_t nExtCapacity) {
    if (pName == nullptr || pExt == nullptr || nExtCapacity == 0)
        return ERROR_INVALID_PARAMETER;
    const char* pDot = std::strrchr(pName, '.');
    if (pDot == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::snprintf(pExt, nExtCapacity, "%s", pDot + 1);
    return 0;
}

std::string GetLowerExtension(const char* pName) {
    const char* pDot = pName == nullptr ? nullptr : std::strrchr(pName, '.');
    if (pDot == nullptr)
        return std::string();
    std::string strExt = pDot + 1;
    GetCharLowerA(strExt.data());
    return strExt;
}

int GetPathDirIndex(const char16_t* pPath, int& nCount) {
    nCount = 0;
    size_t nUnits = StrLen16(pPath);
    for (size_t i = 0; i + 1 < nUnits; ++i)
        if (pPath[i] == u'/' || pPath[i] == u'\\')
            ++nCount;
    return 0;
}

void _splitpath(const char* pPath, std::string& strDrive, std::string& strDir, std::string& strName,
                std::string& strExt) {
    strDrive.clear();
    strDir.clear();
    strName.clear();
    strExt.clear();
    if (pPath == nullptr)
        return;
    std::string_view path(pPath);
    size_t nSlash = path.rfind('/');
    if (nSlash != std::string_view::npos) {
        strDir = path.substr(0, nSlash + 1);
        path.remove_prefix(nSlash + 1);
    }
    size_t nDot = path.rfind('.');
    if (nDot != std::string_view::npos) {
        strExt = path.substr(nDot);
        path = path.substr(0, nDot);
    }
    strName = path;
}

std::string GetRealFileName(const std::string& strPath) {
    if (!NameTaken(strPath))
        return strPath;
    std::string strDrive, strDir, strName, strExt;
    _splitpath(strPath.c_str(), strDrive, strDir, strName, strExt);
    for (unsigned n = 1;; ++n) {
        std::string strNumber = "(" + std::to_string(n) + ")";
        std::string strCandidate =
            strDrive + strDir + FitFileName(strName + strExt, NAME_MAX - strNumber.size());
        size_t nExt = strExt.size() <= MAX_KEPT_EXTENSION_BYTES ? strExt.size() : 0;
        strCandidate.insert(strCandidate.size() - std::min(nExt, strCandidate.size()), strNumber);
        if (!NameTaken(strCandidate))
            return strCandidate;
    }
}

std::string MakeSafeFileName(const std::string& strName) {
    std::string strSafe = strName;
    std::replace(strSafe.begin(), strSafe.end(), '/', UNSAFE_NAME_REPLACEMENT);
    if (strSafe.empty() || strSafe == "." || strSafe == "..")
        strSafe.insert(strSafe.begin(), UNSAFE_NAME_REPLACEMENT);
    return FitFileName(strSafe, NAME_MAX);
}

std::string CutUtf8(const std::string& strText, size_t nMaxBytes) {
    std::string strOut;
    bool bFull = false;
    ForEachUtf8(strText, [&](char32_t, std::string_view bytes, bool) {
        bFull |= strOut.size() + bytes.size() > nMaxBytes;
        if (!bFull)
            strOut.append(bytes);
    });
    return strOut;
}

std::string FitFileName(const std::string& strName, size_t nMaxBytes) {
    if (strName.size() <= nMaxBytes)
        return strName;
    size_t nDot = strName.rfind('.');
    size_t nExt = nDot == std::string::npos || nDot == 0 ? 0 : strName.size() - nDot;
    if (nExt > MAX_KEPT_EXTENSION_BYTES || nExt >= nMaxBytes)
        nExt = 0;
    std::string strExt = strName.substr(strName.size() - nExt);
    return CutUtf8(strName.substr(0, strName.size() - nExt), nMaxBytes - nExt) + strExt;
}

std::string MakeValidUtf8(const std::string& strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    ForEachUtf8(strText, [&](char32_t c, std::string_view bytes, bool bValid) {
        if (bValid)
            strOut.append(bytes);
        else
            AppendUtf8(strOut, c);
    });
    return strOut;
}

std::string EscapeControlChars(const std::string& strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    ForEachUtf8(strText, [&](char32_t c, std::string_view bytes, bool bValid) {
        char szEscape[8];
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(szEscape, sizeof(szEscape), "\\x%02X", unsigned(c));
            strOut += szEscape;
        } else if (c >= 0x80 && c < 0xA0) {
            std::snprintf(szEscape, sizeof(szEscape), "\\u%04X", unsigned(c));
            strOut += szEscape;
        } else if (bValid) {
            strOut.append(bytes);
        } else {
            AppendUtf8(strOut, c);
        }
    });
    return strOut;
}

int GetRealFileName(const char* pPath, char16_t* pOut, int nOutChars) {
    if (pPath == nullptr)
        return ERROR_INVALID_PARAMETER;
    return Ansi2Unicode(GetRealFileName(std::string(pPath)).c_str(), pOut, nOutChars) == 0 ? 0 : 87;
}

std::string GetFileSizeString(long long llBytes) {
    constexpr double KB = 1024.0, MB = KB * 1024, GB = MB * 1024, TB = GB * 1024;
    double dBytes = static_cast<double>(llBytes);
    if (dBytes >= TB)
        return FormatText("%.2f%s", dBytes / TB, " TB");
    if (dBytes >= GB)
        return FormatText("%.2f%s", dBytes / GB, " GB");
    if (dBytes >= MB)
        return FormatText("%.2f%s", dBytes / MB, " MB");
    if (llBytes < 1024)
        return std::to_string(llBytes) + " Bytes";
    return FormatText("%.2f%s", dBytes / KB, " KB");
}

std::string GetTimeString(long long llSeconds) {
    char szText[64];
    if (llSeconds >= 3600)
        std::snprintf(szText, sizeof(szText), "%d Hour %d Min", int(llSeconds / 3600),
                      int(llSeconds % 3600 / 60));
    else if (llSeconds < 60)
        std::snprintf(szText, sizeof(szText), "%d Sec", int(llSeconds));
    else
        std::snprintf(szText, sizeof(szText), "%d Min %d Sec", int(llSeconds / 60),
                      int(llSeconds % 60));
    return szText;
}
