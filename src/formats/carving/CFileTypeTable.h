// The carving format table: one row per extension, tried in row order.
#pragma once

#include "formats/carving/CCarvedFile.h"

// Names the format starting in a buffer: a type code, FILE_TYPE_NONE when the buffer is null,
// too short or does not match. Pure over the buffer.
using Detector = EXTEND_NAME_TYPE (*)(const unsigned char* pBuf, int nLength);
// Sizes the file whose first sector a detector recognised.
using SizeFinder = CARVED_SIZE (*)(CCarvedFile& file);

// The first bytes a row's detector can accept (at most three), or ANY_LEAD_BYTE when any byte
// can start its format: identification never calls a detector that cannot match.
constexpr int ANY_LEAD_BYTE = -1;
constexpr int NO_LEAD_BYTE = -2;
struct LEAD_BYTES {
    int nFirst = NO_LEAD_BYTE;
    int nSecond = NO_LEAD_BYTE;
    int nThird = NO_LEAD_BYTE;

    bool Accepts(int nByte) const {
        return nFirst == ANY_LEAD_BYTE || nFirst == nByte || nSecond == nByte || nThird == nByte;
    }
};

// One row: the extension carved files of the type are named with (first row of a type), the
// detector, the size finder (none: found but not carved), the detector's first bytes, and how
// many bytes it can judge better than one sector (frame streams whose second frame header
// lies behind the first sector), which carving reads ahead for it. Rows that share a detector
// are one container whose finder tells the sub-type.
struct EXTEND_NAME_AND_TYPE {
    const char* szExtendName;
    EXTEND_NAME_TYPE nType;
    Detector pfnDetect;
    SizeFinder pfnGetSize;
    LEAD_BYTES leadBytes;
    int nLookAheadBytes = 0;
};

class CFileTypeTable {
public:
    // The rows in order; the last has type FILE_TYPE_NONE and no extension.
    static const EXTEND_NAME_AND_TYPE* Rows();
    static int RowCount();
};
