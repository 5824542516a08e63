// The structure of a JPEG walked byte by byte: segments by their lengths, entropy-coded data
// holding only stuffed bytes and restart markers in their order, to the EOI. The walk can
// start inside a file (at a second piece), in the state the first piece left it.
#pragma once

#include <cstddef>
#include <cstdint>

struct JPEG_WALK_STATE {
    bool bInEntropy = false; // inside a scan's entropy-coded data
    bool bRestarts = false;  // a restart interval is set
    uint8_t u8NextRestart = 0;
    bool bScanned = false; // a scan began
    // Sequential frames scan each component once: the components the frame has and those the
    // scans so far covered. Progressive and lossless frames scan them again and again.
    uint8_t u8FrameComponents = 0;
    uint8_t u8ScannedComponents = 0;
    bool bProgressive = false;
    // The longest run of entropy-coded bytes without an FF: coded data has one about every 256
    // bytes, text and fill have none.
    size_t nLongestUnmarked = 0;
};

struct JPEG_WALK {
    bool bWhole = false;     // the EOI was reached after a scan; nEnd is just past it
    bool bDataEnded = false; // the bytes ended first (no byte was wrong)
    size_t nEnd = 0;         // past the EOI, or the first byte the structure rejects
    size_t nIntact = 0;      // the last point the structure vouched for (a segment or restart)
    JPEG_WALK_STATE state;   // where the walk stood at nEnd
};

class CJpegStructure {
public:
    // From the SOI at the first byte. bStrict also rejects any marker but EOI behind the last
    // scan of a sequential frame (where a break finder must not take foreign bytes that look
    // like segments for the file's own).
    static JPEG_WALK Walk(const uint8_t* pData, size_t nSize, bool bStrict = false);
    // From nPos in the given state (at a marker when not inside entropy-coded data).
    static JPEG_WALK WalkFrom(const uint8_t* pData, size_t nSize, size_t nPos,
                              JPEG_WALK_STATE state, bool bStrict = false);
};
