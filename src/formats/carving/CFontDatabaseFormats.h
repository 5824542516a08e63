// Fonts and databases: each format's detector (its first sector) beside its size finder.
#pragma once

#include "formats/carving/CCarvedFile.h"

class CFontDatabaseFormats {
public:
    // TrueType and OpenType (CFF): a table directory whose search fields agree with its count.
    static EXTEND_NAME_TYPE IsTtfType(const unsigned char* pBuf, int nLength);
    // The furthest table (offset + length), padded to four bytes.
    static CARVED_SIZE GetTTFFileBytesSize(CCarvedFile& file);

    // TrueType collections: every font's tables (and the signature of version 2).
    static EXTEND_NAME_TYPE IsTtcType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetTTCFileBytesSize(CCarvedFile& file);

    // WOFF and WOFF2: the length their header states.
    static EXTEND_NAME_TYPE IsWoffType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetWOFFFileBytesSize(CCarvedFile& file);

    // SQLite: page size x page count, when the header's count is current.
    static EXTEND_NAME_TYPE IsSqlType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetDBFileBytesSize(CCarvedFile& file);
};
