// Audio: each format's detector (its first sector) beside its size finder (its structure).
// M4A and M4B are ISO base media files and WMA is ASF: see CVideoFormats.
#pragma once

#include "formats/carving/CCarvedFile.h"

class CAudioFormats {
public:
    // MPEG audio (layers I-III, MPEG 1/2/2.5): an ID3v2 tag or chained frame headers.
    static EXTEND_NAME_TYPE IsMp3Type(const unsigned char* pBuf, int nLength);
    // ID3v2 tags, then MPEG frames by their headers (or AAC or FLAC behind the tag), then an
    // APEv2 tag and an ID3v1 tag.
    static CARVED_SIZE GetMP3FileBytesSize(CCarvedFile& file);

    // AAC in ADTS frames.
    static EXTEND_NAME_TYPE IsAacType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetAACFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsFlacType(const unsigned char* pBuf, int nLength);
    // Metadata blocks, frames found by their synced, CRC-8-checked, consecutively numbered
    // headers, and the last frame decoded to its end and checked by its CRC-16.
    static CARVED_SIZE GetFLACFileBytesSize(CCarvedFile& file);

    // Ogg (Vorbis, Opus, Speex, Theora, FLAC): the first page of a stream.
    static EXTEND_NAME_TYPE IsOggType(const unsigned char* pBuf, int nLength);
    // Pages checked by their CRC until every logical stream has ended and no chained stream
    // begins.
    static CARVED_SIZE GetOGGFileBytesSize(CCarvedFile& file);

    // RIFF WAVE and RF64.
    static EXTEND_NAME_TYPE IsWavType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetWAVFileBytesSize(CCarvedFile& file);

    // AIFF and AIFF-C.
    static EXTEND_NAME_TYPE IsAiffType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetAIFFFileBytesSize(CCarvedFile& file);

    // Monkey's Audio.
    static EXTEND_NAME_TYPE IsApeType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetAPEFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsMidType(const unsigned char* pBuf, int nLength);
    // The header's track count of MTrk chunks.
    static CARVED_SIZE GetMIDFileBytesSize(CCarvedFile& file);

    // SMAF ringtones.
    static EXTEND_NAME_TYPE IsMmfType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetMMFFileBytesSize(CCarvedFile& file);
};
