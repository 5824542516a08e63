// The samples an ISO base media file (MP4, MOV) lists in its movie box, and the check that a
// video sample's bytes are the NAL units it should hold: their length fields add up to the
// sample's size exactly, which foreign bytes almost never do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct ISO_SAMPLE {
    uint64_t u64Offset = 0;
    uint32_t u32Size = 0;
    uint8_t u8LengthBytes = 0; // bytes of each NAL length field; 0 when the track has none
};

// A top-level box: where it starts, its size, its payload.
struct ISO_BOX {
    uint64_t u64Offset = 0;
    uint64_t u64Size = 0;
    uint64_t u64Payload = 0;
    char szType[5] = {};
};

class CIsoMediaSamples {
public:
    // The box whose header is at u64Offset (its size at least its header; the box itself may
    // run past the bytes); nullopt when the header is not there or not plausible.
    static std::optional<ISO_BOX> ReadBox(const uint8_t* pData, size_t nSize, uint64_t u64Offset);
    // A box that stands at the top level of a file (ftyp only at its first byte).
    static bool IsTopLevel(const ISO_BOX& box);
    // The samples of every track the movie box's payload describes, in file order; false when
    // its tables are broken or implausibly large.
    static bool Read(const uint8_t* pMoov, size_t nMoov, std::vector<ISO_SAMPLE>& vecSamples);
    // Copies nBytes of the file from u64Offset; false when they are not there.
    using ReadFunc = std::function<bool(uint64_t u64Offset, uint8_t* pOut, size_t nBytes)>;
    // The sample's NAL length fields add up to its size, each unit's header without the
    // forbidden bit. Only those bytes are seen: pVerified (when given) is moved past each of
    // them that checks out.
    static bool IsWholeSample(const ISO_SAMPLE& sample, const ReadFunc& read,
                              uint64_t* pVerified = nullptr);
};
