// Archives, compressed streams and executables: each format's detector (its first sector)
// beside its size finder (its structure).
#pragma once

#include "formats/carving/CCarvedFile.h"

class CArchiveFormats {
public:
    // ZIP and the packages built on it (OOXML, OpenDocument, EPUB, XPS, JAR): a local header.
    static EXTEND_NAME_TYPE IsZipType(const unsigned char* pBuf, int nLength);
    // The end-of-central-directory record (ZIP64 too) whose directory lies just before it,
    // plus its comment; local headers are walked where they state their sizes.
    static CARVED_SIZE GetZIPFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE Is7zType(const unsigned char* pBuf, int nLength);
    // Start header + next-header offset + next-header size, the next header's CRC checked.
    static CARVED_SIZE Get7ZFileBytesSize(CCarvedFile& file);

    // RAR 4 and RAR 5: block walk, header CRCs checked, to the end-of-archive block.
    static EXTEND_NAME_TYPE IsRarType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetRARFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsGzipType(const unsigned char* pBuf, int nLength);
    // Each member's header, deflate stream (inflated to its end) and trailer, members
    // concatenated.
    static CARVED_SIZE GetGZFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsBzip2Type(const unsigned char* pBuf, int nLength);
    // Block magics at bit level to the end-of-stream magic and its combined CRC; streams
    // concatenated.
    static CARVED_SIZE GetBZ2FileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsXzType(const unsigned char* pBuf, int nLength);
    // Stream header to the footer whose backward size names a valid index; streams
    // concatenated with their padding.
    static CARVED_SIZE GetXZFileBytesSize(CCarvedFile& file);

    // Zstandard frames, and skippable frames before them.
    static EXTEND_NAME_TYPE IsZstdType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetZSTFileBytesSize(CCarvedFile& file);

    // ustar, GNU and pax archives: headers with checksums, to the two zero blocks and the
    // record padding.
    static EXTEND_NAME_TYPE IsTarType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetTARFileBytesSize(CCarvedFile& file);

    // Cabinet: the size its header states.
    static EXTEND_NAME_TYPE IsCabType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetCABFileBytesSize(CCarvedFile& file);

    // Windows executables: the furthest section, header or certificate table.
    static EXTEND_NAME_TYPE IsPeType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetPEFileBytesSize(CCarvedFile& file);

    // Ghost images: recognised, not carved (no structure states their end).
    static EXTEND_NAME_TYPE IsGhoType(const unsigned char* pBuf, int nLength);
};
