// Text conversion (UTF-16 wide text <-> 8-bit UTF-8 through iconv), case folding, names and paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Keeps the 8-bit code set and opens the conversions to and from UTF-16LE; 0, or -1.
int inner_initUnicodeMap(const char* pCodeSet);
// UTF-16 (up to its NUL or nInChars units) to 8-bit text, NUL-terminated within nOutBytes.
long inner_uni2str(char* pOut, const char16_t* pIn, long nOutBytes, long nInChars);
// 8-bit text (nInBytes) to UTF-16 with its NUL, within nOutChars units.
long inner_str2uni(char16_t* pOut, const char* pIn, long nOutChars, long nInBytes);

int Unicode2Ansi(const char16_t* pIn, char* pOut, int nOutBytes);
int Ansi2Unicode(const char* pIn, char16_t* pOut, int nOutChars);
std::string Unicode2Ansi(const char16_t* pIn);
std::u16string Ansi2Unicode(const char* pIn);

// On-disk names: UTF-16LE bytes (FAT long names, NTFS names) and GBK short-name bytes to UTF-8.
std::string Utf16LEToUtf8(const uint8_t* pBytes, size_t nUnits);
std::string GbkToUtf8(const char* pBytes, size_t nBytes);

size_t StrLen16(const char16_t* pText);

char* GetCharLowerA(char* pText);
char16_t* GetCharLowerW(char16_t* pText);
int Convert2Lowercase(char* pText);
void EraseStringTailBlankChar(char* pText, int nLength);

// The text after the last '.', without the dot; 87 when there is none.
int GetExtendName(const char* pName, char* pExt, size_t nExtCapacity);
// The same in lower case (ASCII letters only), or empty when the name has no '.'.
std::string GetLowerExtension(const char* pName);
// Number of '/' and '\\' in the path, the last unit not counted.
int GetPathDirIndex(const char16_t* pPath, int& nCount);
void _splitpath(const char* pPath, std::string& strDrive, std::string& strDir, std::string& strName,
                std::string& strExt);
// A destination path that does not exist yet, nor its ".part": the path itself, else
// "name(n).ext" with the name shortened so that it still fits a file name.
int GetRealFileName(const char* pPath, char16_t* pOut, int nOutChars);
std::string GetRealFileName(const std::string& strPath);

// A name as one safe path component: '/' replaced, never "", "." or "..", within NAME_MAX bytes.
std::string MakeSafeFileName(const std::string& strName);
// The longest start of the UTF-8 text that fits nMaxBytes and ends on a character boundary.
std::string CutUtf8(const std::string& strText, size_t nMaxBytes);
// A file name cut to fit nMaxBytes at a character boundary, keeping its extension.
std::string FitFileName(const std::string& strName, size_t nMaxBytes);
// The text with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string MakeValidUtf8(const std::string& strText);
// Valid UTF-8 with each control character written as an escape (ESC becomes the four characters
// backslash, x, 1, B; a C1 control the six of backslash, u and its number): safe on a terminal.
std::string EscapeControlChars(const std::string& strText);

std::string GetFileSizeString(long long llBytes);
std::string GetTimeString(long long llSeconds);
