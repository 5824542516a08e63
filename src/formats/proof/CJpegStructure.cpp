// A JPEG's markers, segment lengths and restart sequence, without decoding a picture.
#include "formats/proof/CJpegStructure.h"

#include "util/ByteView.h"

#include <algorithm>
#include <cstring>

namespace {

// JPEG markers (second byte after 0xFF).
constexpr uint8_t JPEG_SOI = 0xD8, JPEG_EOI = 0xD9, JPEG_SOS = 0xDA, JPEG_DRI = 0xDD;
constexpr uint8_t JPEG_RST0 = 0xD0, JPEG_RST7 = 0xD7, JPEG_STUFFED = 0x00, JPEG_FILL = 0xFF;
constexpr uint8_t JPEG_FIRST_SEGMENT = 0xC0, JPEG_COM = 0xFE, JPEG_TEM = 0x01;
constexpr uint8_t JPEG_DHT = 0xC4, JPEG_JPG = 0xC8, JPEG_DAC = 0xCC, JPEG_DNL = 0xDC;
constexpr uint8_t RESTART_CYCLE_MASK = 7;
constexpr size_t SOF_COMPONENTS = 7; // from the length field: P, Y, X, then Nf
constexpr size_t SOS_COMPONENTS = 2; // from the length field: Ns

bool IsStartOfFrame(uint8_t u8Marker) {
    return u8Marker >= JPEG_FIRST_SEGMENT && u8Marker <= 0xCF && u8Marker != JPEG_DHT &&
           u8Marker != JPEG_JPG && u8Marker != JPEG_DAC;
}

// Baseline and extended sequential frames (SOF0, SOF1, SOF9); the others scan repeatedly.
bool IsSequentialFrame(uint8_t u8Marker) {
    return u8Marker == 0xC0 || u8Marker == 0xC1 || u8Marker == 0xC9;
}

bool IsRestart(uint8_t u8Marker) {
    return u8Marker >= JPEG_RST0 && u8Marker <= JPEG_RST7;
}

JPEG_WALK Stop(size_t nEnd, size_t nIntact, const JPEG_WALK_STATE& state, bool bDataEnded) {
    JPEG_WALK walk;
    walk.nEnd = nEnd;
    walk.nIntact = nIntact;
    walk.state = state;
    walk.bDataEnded = bDataEnded;
    return walk;
}

// Entropy-coded data from nPos: 0xFF is stuffed with 0x00 or starts RST0..RST7 in turn. The
// walk leaves nPos at the marker that ends the data; false when a byte is wrong or data ends.
bool SkipEntropy(const uint8_t* pData, size_t nSize, size_t& nPos, JPEG_WALK_STATE& state,
                 size_t& nIntact, bool& bDataEnded) {
    for (;;) {
        const auto* pFound =
            nPos < nSize
                ? static_cast<const uint8_t*>(std::memchr(pData + nPos, JPEG_FILL, nSize - nPos))
                : nullptr;
        const size_t nMark = pFound == nullptr ? nSize : size_t(pFound - pData);
        state.nLongestUnmarked = std::max(state.nLongestUnmarked, nMark - std::min(nPos, nMark));
        if (pFound == nullptr || size_t(pFound - pData) + 1 >= nSize) {
            nPos = nSize;
            bDataEnded = true;
            return false;
        }
        nPos = size_t(pFound - pData);
        const uint8_t u8Next = pData[nPos + 1];
        if (u8Next == JPEG_STUFFED) {
            nPos += 2;
        } else if (IsRestart(u8Next)) {
            if (!state.bRestarts || u8Next != JPEG_RST0 + state.u8NextRestart)
                return false;
            state.u8NextRestart = (state.u8NextRestart + 1) & RESTART_CYCLE_MASK;
            nPos += 2;
            nIntact = nPos;
        } else if (u8Next == JPEG_FILL) {
            ++nPos;
        } else {
            state.bInEntropy = false;
            return true;
        }
    }
}

} // namespace

JPEG_WALK CJpegStructure::Walk(const uint8_t* pData, size_t nSize, bool bStrict) {
    if (pData == nullptr || nSize < 4 || pData[0] != JPEG_FILL || pData[1] != JPEG_SOI)
        return Stop(0, 0, {}, false);
    return WalkFrom(pData, nSize, 2, {}, bStrict);
}

JPEG_WALK CJpegStructure::WalkFrom(const uint8_t* pData, size_t nSize, size_t nPos,
                                   JPEG_WALK_STATE state, bool bStrict) {
    const CByteView file(pData, nSize);
    size_t nIntact = nPos;
    bool bDataEnded = false;
    const bool bStartsInEntropy = state.bInEntropy;
    if (bStartsInEntropy && !SkipEntropy(pData, nSize, nPos, state, nIntact, bDataEnded))
        return Stop(nPos, nIntact, state, bDataEnded);
    // A wrong marker that ends entropy-coded data is a wrong byte of that data.
    bool bFromEntropy = bStartsInEntropy;
    while (nPos < nSize) {
        state.bInEntropy = bFromEntropy;
        if (pData[nPos] != JPEG_FILL)
            return Stop(nPos, nIntact, state, false);
        const size_t nMarker = nPos;
        while (nPos < nSize && pData[nPos] == JPEG_FILL)
            ++nPos;
        if (nPos >= nSize)
            break;
        const uint8_t u8Marker = pData[nPos++];
        if (u8Marker == JPEG_EOI) {
            if (!state.bScanned)
                return Stop(nMarker, nIntact, state, false);
            JPEG_WALK walk = Stop(nPos, nPos, state, false);
            walk.bWhole = true;
            return walk;
        }
        if (u8Marker == JPEG_TEM)
            continue;
        const bool bAllScanned = !state.bProgressive && state.u8FrameComponents != 0 &&
                                 state.u8ScannedComponents >= state.u8FrameComponents;
        if (u8Marker < JPEG_FIRST_SEGMENT || u8Marker == JPEG_SOI || IsRestart(u8Marker) ||
            u8Marker > JPEG_COM || (bStrict && bAllScanned && u8Marker != JPEG_DNL))
            return Stop(nMarker, nIntact, state, false);
        state.bInEntropy = bFromEntropy = false;
        std::optional<uint16_t> u16Length = file.U16BE(nPos);
        if (!u16Length)
            break;
        if (*u16Length < 2)
            return Stop(nMarker, nIntact, state, false);
        if (!file.Has(nPos, *u16Length)) {
            nPos = nSize;
            break;
        }
        if (u8Marker == JPEG_DRI)
            state.bRestarts = file.U16BE(nPos + 2).value_or(0) != 0;
        if (IsStartOfFrame(u8Marker)) {
            state.u8FrameComponents = file.U8(nPos + SOF_COMPONENTS).value_or(0);
            state.bProgressive = !IsSequentialFrame(u8Marker);
        }
        if (u8Marker == JPEG_SOS)
            state.u8ScannedComponents += file.U8(nPos + SOS_COMPONENTS).value_or(0);
        nIntact = nMarker;
        nPos += *u16Length;
        if (u8Marker != JPEG_SOS)
            continue;
        state.bScanned = true;
        state.bInEntropy = true;
        state.u8NextRestart = 0;
        nIntact = nPos;
        if (!SkipEntropy(pData, nSize, nPos, state, nIntact, bDataEnded))
            return Stop(nPos, nIntact, state, bDataEnded);
        bFromEntropy = true;
    }
    return Stop(nSize, nIntact, state, true);
}
