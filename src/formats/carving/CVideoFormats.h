// Video (and the containers audio and pictures share with it): each format's detector (its
// first sector) beside its size finder (its structure).
#pragma once

#include "formats/carving/CCarvedFile.h"

class CVideoFormats {
public:
    // True for the four type bytes of a box that stands at the top level of an ISO media file.
    static bool IsTopLevelBoxType(const uint8_t* pType);
    // ISO base media: MP4, MOV, 3GP/3G2, M4A/M4B/M4V, HEIC/HEIF/AVIF, CR3, by the ftyp brand;
    // old QuickTime files without ftyp.
    static EXTEND_NAME_TYPE IsIsoMediaType(const unsigned char* pBuf, int nLength);
    // The top-level box walk (64-bit sizes too) until a box that is no top-level box.
    static CARVED_SIZE GetIsoMediaFileBytesSize(CCarvedFile& file);

    // Matroska and WebM.
    static EXTEND_NAME_TYPE IsMkvType(const unsigned char* pBuf, int nLength);
    // EBML header and the Segment's size; an unknown-size Segment by its children.
    static CARVED_SIZE GetMKVFileBytesSize(CCarvedFile& file);

    // RIFF AVI, with the AVIX chunks of files past 1 GB.
    static EXTEND_NAME_TYPE IsAviType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetAVIFileBytesSize(CCarvedFile& file);

    // Header, then tags each closed by its previous-tag size.
    static EXTEND_NAME_TYPE IsFlvType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetFLVFileBytesSize(CCarvedFile& file);

    // MPEG program streams (packs to the end code) and video elementary streams.
    static EXTEND_NAME_TYPE IsMpgType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetMPGFileBytesSize(CCarvedFile& file);

    // MPEG transport streams of 188-byte packets, and of 192-byte packets (M2TS, AVCHD MTS).
    static EXTEND_NAME_TYPE IsTsType(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsMtsType(const unsigned char* pBuf, int nLength);
    // Packets to the last one whose sync byte and header hold.
    static CARVED_SIZE GetTSFileBytesSize(CCarvedFile& file);
    static CARVED_SIZE GetMTSFileBytesSize(CCarvedFile& file);

    // MXF: KLV packets from the header partition to the last one (the random index pack).
    static EXTEND_NAME_TYPE IsMxfType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetMXFFileBytesSize(CCarvedFile& file);

    // RealMedia: chunks from .RMF to the last known one.
    static EXTEND_NAME_TYPE IsRmvbType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetRMVBFileBytesSize(CCarvedFile& file);

    // ASF (WMV, WMA): top-level objects; audio-only files are WMA.
    static EXTEND_NAME_TYPE IsAsfType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetASFFileBytesSize(CCarvedFile& file);

    // Flash: uncompressed (tag walk), zlib (inflated to its end) and LZMA movies.
    static EXTEND_NAME_TYPE IsSwfType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetSWFFileBytesSize(CCarvedFile& file);
};
