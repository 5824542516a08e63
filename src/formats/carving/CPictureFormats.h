// Pictures: each format's detector (its first sector) beside its size finder (its structure).
// HEIC, HEIF, AVIF and CR3 are ISO base media files: see CVideoFormats.
#pragma once

#include "formats/carving/CCarvedFile.h"

class CPictureFormats {
public:
    // JPEG coded data without an FF for this long is text or fill more likely than an image:
    // a structure walk that meets it proves nothing, and the file is decoded instead.
    static constexpr uint64_t JPEG_MAX_UNMARKED_STRETCH = 4096;

    static EXTEND_NAME_TYPE IsJpgType(const unsigned char* pBuf, int nLength);
    // SOI, segments by their lengths (APPn skipped whole, thumbnails included), entropy data
    // after each SOS, to the EOI of the main image; Multi-Picture images stored behind it too.
    static CARVED_SIZE GetJPGFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsPngType(const unsigned char* pBuf, int nLength);
    // Chunk walk from IHDR to the IEND chunk.
    static CARVED_SIZE GetPNGFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsGifType(const unsigned char* pBuf, int nLength);
    // Colour tables, extension and image blocks by their sub-block lengths, to the trailer.
    static CARVED_SIZE GetGIFFileBytesSize(CCarvedFile& file);

    // Every DIB header size (12 to 124 bytes) whose fields agree with the file size.
    static EXTEND_NAME_TYPE IsBmpType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetBMPFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsPsdType(const unsigned char* pBuf, int nLength);
    // Header, colour mode data, image resources, layers and the composite image by its
    // compression.
    static CARVED_SIZE GetPSDFileBytesSize(CCarvedFile& file);

    // TIFF in either byte order, BigTIFF, and the TIFF-based camera raws (ORF and RW2 magics).
    static EXTEND_NAME_TYPE IsTifType(const unsigned char* pBuf, int nLength);
    // The furthest byte any IFD, tag value, strip or tile reaches; the raw kind from the maker.
    static CARVED_SIZE GetTIFFileBytesSize(CCarvedFile& file);

    // Icons and cursors.
    static EXTEND_NAME_TYPE IsIcoType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetICOFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsWebpType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetWEBPFileBytesSize(CCarvedFile& file);

    // Fujifilm raw: the header's offsets of the preview, the CFA header and the CFA data.
    static EXTEND_NAME_TYPE IsRafType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetRAFFileBytesSize(CCarvedFile& file);
};
