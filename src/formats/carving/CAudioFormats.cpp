// Audio formats: MPEG audio, AAC ADTS, FLAC, Ogg, WAV/RF64, AIFF, APE, MIDI, SMAF.
#include "formats/carving/CAudioFormats.h"

#include "formats/carving/CRiffChunks.h"
#include "formats/carving/CarvingCrc.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;
constexpr uint64_t MIB = 1024 * 1024;
constexpr uint64_t GIB = 1024 * MIB;

// ---- tags around MPEG audio

constexpr size_t ID3V2_HEADER_BYTES = 10;
constexpr uint8_t ID3V2_FOOTER_FLAG = 0x10;
constexpr char szApeTagId[] = "APETAGEX";
constexpr uint64_t APE_TAG_BYTES = 32;
constexpr uint32_t APE_TAG_IS_HEADER = 0x20000000;
constexpr int APE_MAX_ITEMS = 1024;
constexpr size_t APE_MAX_KEY = 255;
constexpr uint64_t ID3V1_BYTES = 128;
constexpr uint64_t AUDIO_LIMIT = 4 * GIB;
// Zero bytes some taggers leave between an ID3v2 tag and the first frame.
constexpr uint64_t ID3V2_PADDING_LIMIT = 64 * 1024;

// Size of an ID3v2 tag whose header is valid, footer included.
std::optional<uint64_t> Id3v2Bytes(CByteView header) {
    if (!header.Has(0, ID3V2_HEADER_BYTES) || !header.Matches(0, "ID3", 3))
        return std::nullopt;
    const uint8_t* p = header.Data();
    if (p[3] < 2 || p[3] > 4 || p[4] == 0xFF || (p[5] & 0x0F) != 0)
        return std::nullopt;
    uint64_t u64Size = 0;
    for (int i = 6; i < 10; ++i) {
        if (p[i] >= 0x80)
            return std::nullopt;
        u64Size = u64Size << 7 | p[i];
    }
    return ID3V2_HEADER_BYTES + u64Size + ((p[5] & ID3V2_FOOTER_FLAG) ? ID3V2_HEADER_BYTES : 0);
}

// Past the APEv2 tag at u64Pos: behind its header, or (written without one) behind the
// footer its items lead to; u64Pos when there is none.
uint64_t SkipApeTag(CCarvedFile& file, uint64_t u64Pos) {
    if (file.MatchesText(u64Pos, szApeTagId)) {
        auto size = file.U32LE(u64Pos + 12);
        auto flags = file.U32LE(u64Pos + 20);
        return size && flags && (*flags & APE_TAG_IS_HEADER) && *size >= APE_TAG_BYTES
                   ? u64Pos + APE_TAG_BYTES + *size
                   : u64Pos;
    }
    // Items: value size, flags, a printable key ending in NUL, the value.
    uint64_t pos = u64Pos;
    for (int nItems = 0; nItems < APE_MAX_ITEMS; ++nItems) {
        if (file.MatchesText(pos, szApeTagId)) {
            auto size = file.U32LE(pos + 12);
            return nItems > 0 && size == pos + APE_TAG_BYTES - u64Pos ? pos + APE_TAG_BYTES
                                                                      : u64Pos;
        }
        auto value = file.U32LE(pos);
        CByteView key = file.View(pos + 8, APE_MAX_KEY + 1);
        if (key.Size() == 0)
            return u64Pos;
        const auto* pEnd = static_cast<const uint8_t*>(std::memchr(key.Data(), 0, key.Size()));
        if (!value || pEnd == nullptr || pEnd - key.Data() < 2 ||
            !std::all_of(key.Data(), pEnd, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; }))
            return u64Pos;
        pos += 8 + uint64_t(pEnd - key.Data()) + 1 + *value;
    }
    return u64Pos;
}

// The end of the tags that may follow the audio at u64Pos: APEv2, then ID3v1.
uint64_t SkipTrailingTags(CCarvedFile& file, uint64_t u64Pos) {
    u64Pos = SkipApeTag(file, u64Pos);
    if (file.MatchesText(u64Pos, "TAG"))
        u64Pos += ID3V1_BYTES;
    return u64Pos;
}

// ---- MPEG audio frames

constexpr uint16_t szBitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2 layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2 layer II/III
};
constexpr uint32_t szSampleRates[3] = {44100, 48000, 32000};
constexpr int MPEG_MIN_FRAMES = 3;
constexpr int MPEG_VERSION_1 = 3, MPEG_VERSION_25 = 0, MPEG_VERSION_RESERVED = 1;

struct MPEG_FRAME {
    int nVersion; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int nLayer;   // 1..3
    uint32_t u32SampleRate;
    uint32_t u32Bytes;
    bool bMono;
    bool bCrc;
};

std::optional<MPEG_FRAME> ParseMpegFrame(uint32_t h) {
    const int nVersion = int(h >> 19) & 3;
    const int nLayer = 4 - (int(h >> 17) & 3);
    const int nBitrate = int(h >> 12) & 15;
    const int nRate = int(h >> 10) & 3;
    // Free-format frames (bitrate 0) state no length and are refused.
    if ((h & 0xFFE00000) != 0xFFE00000 || nVersion == MPEG_VERSION_RESERVED || nLayer == 4 ||
        nBitrate == 0 || nBitrate == 15 || nRate == 3 || (h & 3) == 2)
        return std::nullopt;
    const bool bV1 = nVersion == MPEG_VERSION_1;
    const int nTable = bV1 ? nLayer - 1 : (nLayer == 1 ? 3 : 4);
    const uint32_t u32Bitrate = szBitrates[nTable][nBitrate] * 1000u;
    const uint32_t u32Rate = szSampleRates[nRate] >> (bV1                           ? 0
                                                      : nVersion == MPEG_VERSION_25 ? 2
                                                                                    : 1);
    const uint32_t u32Padding = (h >> 9) & 1;
    uint32_t u32Bytes = 0;
    if (nLayer == 1)
        u32Bytes = (12 * u32Bitrate / u32Rate + u32Padding) * 4;
    else if (nLayer == 2 || bV1)
        u32Bytes = 144 * u32Bitrate / u32Rate + u32Padding;
    else
        u32Bytes = 72 * u32Bitrate / u32Rate + u32Padding;
    return MPEG_FRAME{nVersion, nLayer, u32Rate, u32Bytes, ((h >> 6) & 3) == 3, (h & 0x10000) == 0};
}

bool SameStream(const MPEG_FRAME& a, const MPEG_FRAME& b) {
    return a.nVersion == b.nVersion && a.nLayer == b.nLayer && a.u32SampleRate == b.u32SampleRate;
}

EXTEND_NAME_TYPE MpegLayerType(int nLayer) {
    return nLayer == 3 ? FILE_TYPE_MP3 : nLayer == 2 ? FILE_TYPE_MP2 : FILE_TYPE_MP1;
}

// The first layer III frame of a stream: empty bit reservoir (main_data_begin 0), or a
// Xing/Info frame.
bool LooksLikeFirstLayer3Frame(CByteView head, const MPEG_FRAME& frame) {
    const bool bV1 = frame.nVersion == MPEG_VERSION_1;
    const size_t nSideInfo = bV1 ? (frame.bMono ? 17 : 32) : (frame.bMono ? 9 : 17);
    const size_t nTag = 4 + nSideInfo;
    if (head.Matches(nTag, "Xing", 4) || head.Matches(nTag, "Info", 4))
        return true;
    const size_t nSide = frame.bCrc ? 6 : 4;
    if (!head.Has(nSide, 2))
        return false;
    return head.Data()[nSide] == 0 && (!bV1 || (head.Data()[nSide + 1] & 0x80) == 0);
}

// ---- AAC ADTS

constexpr uint32_t ADTS_MIN_FRAME = 7;
constexpr uint32_t ADTS_SAMPLE_RATES = 13;
constexpr uint32_t ADTS_VBR_FULLNESS = 0x7FF;
constexpr int ADTS_MIN_FRAMES = 3;

struct ADTS_FRAME {
    uint32_t u32Fixed; // the fields every frame of a stream repeats
    uint32_t u32Bytes;
    uint32_t u32Fullness;
    uint32_t u32RawBlocks;
};

std::optional<ADTS_FRAME> ParseAdtsFrame(CByteView header) {
    if (!header.Has(0, 7))
        return std::nullopt;
    const uint8_t* p = header.Data();
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0)
        return std::nullopt;
    const uint32_t u32Rate = (p[2] >> 2) & 0x0F;
    const uint32_t u32Bytes = uint32_t(p[3] & 3) << 11 | uint32_t(p[4]) << 3 | p[5] >> 5;
    const uint32_t u32Minimum = ADTS_MIN_FRAME + ((p[1] & 1) ? 0 : 2);
    if (u32Rate >= ADTS_SAMPLE_RATES || u32Bytes < u32Minimum)
        return std::nullopt;
    const uint32_t u32Fixed = uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | (p[3] & 0xC0);
    return ADTS_FRAME{u32Fixed, u32Bytes, uint32_t(p[5] & 0x1F) << 6 | p[6] >> 2, p[6] & 3u};
}

// Consecutive ADTS frames of one stream from u64Pos: the end and the count.
std::pair<uint64_t, int> WalkAdts(CCarvedFile& file, uint64_t u64Pos) {
    auto first = ParseAdtsFrame(file.View(u64Pos, 7));
    int nFrames = 0;
    while (first && u64Pos < AUDIO_LIMIT) {
        auto frame = ParseAdtsFrame(file.View(u64Pos, 7));
        if (!frame || frame->u32Fixed != first->u32Fixed)
            break;
        u64Pos += frame->u32Bytes;
        ++nFrames;
    }
    return {u64Pos, nFrames};
}

// ---- FLAC

constexpr char szFlacMagic[] = "fLaC";
constexpr uint8_t FLAC_LAST_BLOCK = 0x80;
constexpr uint8_t FLAC_STREAMINFO = 0;
constexpr uint8_t FLAC_INVALID_BLOCK = 127;
constexpr uint32_t FLAC_STREAMINFO_BYTES = 34;
constexpr uint64_t FLAC_MAX_METADATA = 64 * MIB;
// How far the next frame may lie when STREAMINFO does not state the largest frame.
constexpr uint64_t FLAC_FRAME_WINDOW = 16 * MIB;
constexpr uint32_t FLAC_MAX_UNARY = 1u << 24;

struct FLAC_INFO {
    uint32_t u32MaxFrame;
    uint32_t u32SampleBits;
    uint64_t u64TotalSamples;
};

struct FLAC_FRAME {
    uint32_t u32HeaderBytes;
    bool bVariable;
    uint64_t u64Number; // frame number (fixed block size) or first sample (variable)
    uint32_t u32BlockSize;
    uint32_t u32Channels;
    uint32_t u32Assignment;
    uint32_t u32SampleBits;
};

std::optional<FLAC_FRAME> ParseFlacFrame(CByteView v, const FLAC_INFO& info) {
    if (!v.Has(0, 6))
        return std::nullopt;
    const uint8_t* p = v.Data();
    const uint32_t u32BlockCode = p[2] >> 4, u32RateCode = p[2] & 0x0F;
    const uint32_t u32Assignment = p[3] >> 4, u32SizeCode = (p[3] >> 1) & 7;
    if (p[0] != 0xFF || (p[1] & 0xFE) != 0xF8 || u32BlockCode == 0 || u32RateCode == 15 ||
        u32Assignment > 10 || u32SizeCode == 3 || (p[3] & 1) != 0)
        return std::nullopt;
    // The frame or sample number, UTF-8 coded.
    size_t i = 4;
    const uint8_t u8Lead = p[i++];
    int nMore = 0;
    uint64_t u64Number = u8Lead;
    if (u8Lead >= 0x80) {
        for (uint8_t mask = 0x40; (u8Lead & mask) != 0 && nMore < 7; mask >>= 1)
            ++nMore;
        if (nMore == 0 || nMore > 6 || (nMore == 6 && (p[1] & 1) == 0))
            return std::nullopt;
        u64Number = u8Lead & (0x3F >> nMore);
    }
    for (int k = 0; k < nMore; ++k) {
        if (!v.Has(i, 1) || (p[i] & 0xC0) != 0x80)
            return std::nullopt;
        u64Number = u64Number << 6 | (p[i++] & 0x3F);
    }
    uint32_t u32Block = 0;
    if (u32BlockCode == 1)
        u32Block = 192;
    else if (u32BlockCode <= 5)
        u32Block = 576u << (u32BlockCode - 2);
    else if (u32BlockCode == 6 && v.Has(i, 1))
        u32Block = p[i++] + 1u;
    else if (u32BlockCode == 7 && v.Has(i, 2))
        u32Block = LoadU16BE(p + i) + 1u, i += 2;
    else if (u32BlockCode >= 8)
        u32Block = 256u << (u32BlockCode - 8);
    if (u32Block == 0)
        return std::nullopt;
    i += u32RateCode == 12 ? 1 : (u32RateCode == 13 || u32RateCode == 14) ? 2 : 0;
    if (!v.Has(i, 1) || FlacCrc8(p, i) != p[i])
        return std::nullopt;
    static constexpr uint32_t SAMPLE_BITS[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    const uint32_t u32Bits = u32SizeCode == 0 ? info.u32SampleBits : SAMPLE_BITS[u32SizeCode];
    return FLAC_FRAME{uint32_t(i + 1),
                      (p[1] & 1) != 0,
                      u64Number,
                      u32Block,
                      u32Assignment <= 7 ? u32Assignment + 1 : 2u,
                      u32Assignment,
                      u32Bits};
}

// MSB-first bits of a file, for walking one FLAC frame's subframes to their end.
class CBitReader {
public:
    CBitReader(CCarvedFile& file, uint64_t u64Byte) : m_file(file), m_u64Byte(u64Byte) {}

    std::optional<uint32_t> Bits(int nBits) {
        uint64_t u64Value = 0;
        while (nBits > 0) {
            auto byte = Byte();
            if (!byte)
                return std::nullopt;
            const int nTake = std::min(nBits, 8 - m_nBit);
            u64Value = u64Value << nTake | ((*byte >> (8 - m_nBit - nTake)) & ((1u << nTake) - 1));
            Advance(uint64_t(nTake));
            nBits -= nTake;
        }
        return uint32_t(u64Value);
    }
    void Advance(uint64_t u64Bits) {
        const uint64_t u64Total = uint64_t(m_nBit) + u64Bits;
        m_u64Byte += u64Total / 8;
        m_nBit = int(u64Total % 8);
    }
    // The zero bits before the next one bit, which is consumed.
    std::optional<uint32_t> Unary() {
        uint32_t u32Zeros = 0;
        while (u32Zeros < FLAC_MAX_UNARY) {
            auto byte = Byte();
            if (!byte)
                return std::nullopt;
            const uint8_t u8Rest = uint8_t(*byte << m_nBit);
            if (u8Rest == 0) {
                u32Zeros += uint32_t(8 - m_nBit);
                Advance(uint64_t(8 - m_nBit));
                continue;
            }
            const int nLeading = __builtin_clz(uint32_t(u8Rest) << 24);
            u32Zeros += uint32_t(nLeading);
            Advance(uint64_t(nLeading) + 1);
            return u32Zeros;
        }
        return std::nullopt;
    }
    uint64_t NextWholeByte() const { return m_u64Byte + (m_nBit != 0 ? 1 : 0); }

private:
    std::optional<uint8_t> Byte() {
        if (m_u64Byte < m_u64ViewStart || m_u64Byte >= m_u64ViewStart + m_view.Size()) {
            m_view = m_file.View(m_u64Byte, 1);
            m_u64ViewStart = m_u64Byte;
            if (m_view.Size() == 0)
                return std::nullopt;
        }
        return m_view.Data()[m_u64Byte - m_u64ViewStart];
    }

    CCarvedFile& m_file;
    uint64_t m_u64Byte;
    int m_nBit = 0;
    CByteView m_view;
    uint64_t m_u64ViewStart = 0;
};

bool SkipResidual(CBitReader& bits, const FLAC_FRAME& frame, uint32_t u32Order) {
    auto method = bits.Bits(2);
    auto order = bits.Bits(4);
    if (!method || !order || *method > 1)
        return false;
    const int nParamBits = *method == 0 ? 4 : 5;
    const uint32_t u32Escape = *method == 0 ? 15 : 31;
    const uint32_t u32Partitions = 1u << *order;
    for (uint32_t i = 0; i < u32Partitions; ++i) {
        const uint32_t u32PerPartition = frame.u32BlockSize >> *order;
        if (i == 0 && u32PerPartition < u32Order)
            return false;
        const uint32_t u32Samples = u32PerPartition - (i == 0 ? u32Order : 0);
        auto param = bits.Bits(nParamBits);
        if (!param)
            return false;
        if (*param == u32Escape) {
            auto raw = bits.Bits(5);
            if (!raw)
                return false;
            bits.Advance(uint64_t(u32Samples) * *raw);
            continue;
        }
        for (uint32_t s = 0; s < u32Samples; ++s) {
            if (!bits.Unary())
                return false;
            bits.Advance(*param);
        }
    }
    return true;
}

bool SkipSubframe(CBitReader& bits, const FLAC_FRAME& frame, uint32_t u32Bits) {
    auto pad = bits.Bits(1);
    auto type = bits.Bits(6);
    auto wasted = bits.Bits(1);
    if (!pad || *pad != 0 || !type || !wasted)
        return false;
    if (*wasted) {
        auto k = bits.Unary();
        if (!k || *k + 1 >= u32Bits)
            return false;
        u32Bits -= *k + 1;
    }
    if (*type == 0) {
        bits.Advance(u32Bits);
        return true;
    }
    if (*type == 1) {
        bits.Advance(uint64_t(frame.u32BlockSize) * u32Bits);
        return true;
    }
    if (*type >= 8 && *type <= 12) {
        const uint32_t u32Order = *type - 8;
        bits.Advance(uint64_t(u32Order) * u32Bits);
        return SkipResidual(bits, frame, u32Order);
    }
    if (*type >= 32) {
        const uint32_t u32Order = *type - 31;
        bits.Advance(uint64_t(u32Order) * u32Bits);
        auto precision = bits.Bits(4);
        if (!precision || *precision == 15)
            return false;
        bits.Advance(5 + uint64_t(u32Order) * (*precision + 1));
        return SkipResidual(bits, frame, u32Order);
    }
    return false;
}

// The end of the frame at u64Frame, found by walking its subframes; nullopt when they do not
// parse.
std::optional<uint64_t> DecodedFrameEnd(CCarvedFile& file, uint64_t u64Frame,
                                        const FLAC_FRAME& frame) {
    CBitReader bits(file, u64Frame + frame.u32HeaderBytes);
    for (uint32_t ch = 0; ch < frame.u32Channels; ++ch) {
        // The side channel of a stereo decorrelation carries one bit more.
        const bool bSide = (frame.u32Assignment == 8 && ch == 1) ||
                           (frame.u32Assignment == 9 && ch == 0) ||
                           (frame.u32Assignment == 10 && ch == 1);
        if (!SkipSubframe(bits, frame, frame.u32SampleBits + (bSide ? 1 : 0)))
            return std::nullopt;
    }
    return bits.NextWholeByte() + 2; // CRC-16
}

// CRC-16 over [u64From, u64To) continued from u16Crc; nullopt when the data ends.
std::optional<uint16_t> Crc16Over(CCarvedFile& file, uint16_t u16Crc, uint64_t u64From,
                                  uint64_t u64To) {
    while (u64From < u64To) {
        CByteView view = file.View(u64From, 1);
        if (view.Size() == 0)
            return std::nullopt;
        const size_t nTake = size_t(std::min<uint64_t>(view.Size(), u64To - u64From));
        u16Crc = FlacCrc16Update(u16Crc, view.Data(), nTake);
        u64From += nTake;
    }
    return u16Crc;
}

// A FLAC stream's frames from u64First: the end of its last frame.
class CFlacFrames {
public:
    CFlacFrames(CCarvedFile& file, const FLAC_INFO& info) : m_file(file), m_info(info) {}

    std::optional<uint64_t> Walk(uint64_t u64First) {
        uint64_t pos = u64First;
        auto frame = ParseFlacFrame(m_file.View(pos, 16), m_info);
        if (!frame)
            return std::nullopt;
        while (true) {
            if (!IsLast(*frame)) {
                if (auto next = NextFrame(pos, *frame)) {
                    pos = next->first;
                    frame = next->second;
                    continue;
                }
            }
            return LastFrameEnd(pos, *frame);
        }
    }

private:
    bool IsLast(const FLAC_FRAME& frame) const {
        if (m_info.u64TotalSamples == 0)
            return false;
        if (frame.bVariable)
            return frame.u64Number + frame.u32BlockSize >= m_info.u64TotalSamples;
        return (frame.u64Number + 1) * frame.u32BlockSize >= m_info.u64TotalSamples;
    }

    uint64_t Window() const {
        return m_info.u32MaxFrame != 0 ? uint64_t(m_info.u32MaxFrame) + 16 : FLAC_FRAME_WINDOW;
    }

    // The frame that follows the one at u64Frame: a synced header with a valid CRC-8 and the
    // next frame or sample number, which no chance bytes in the audio data carry.
    std::optional<std::pair<uint64_t, FLAC_FRAME>> NextFrame(uint64_t u64Frame,
                                                             const FLAC_FRAME& frame) {
        const uint64_t u64Expected =
            frame.bVariable ? frame.u64Number + frame.u32BlockSize : frame.u64Number + 1;
        uint64_t pos = u64Frame + frame.u32HeaderBytes + 2;
        const uint64_t u64End = u64Frame + Window();
        const uint8_t sync[] = {0xFF, uint8_t(0xF8 | (frame.bVariable ? 1 : 0))};
        while (auto hit = m_file.Find(sync, sizeof(sync), pos, u64End)) {
            auto next = ParseFlacFrame(m_file.View(*hit, 16), m_info);
            if (next && next->bVariable == frame.bVariable && next->u64Number == u64Expected)
                return std::make_pair(*hit, *next);
            pos = *hit + 1;
        }
        return std::nullopt;
    }

    // The last frame ends where its subframes end, when the CRC-16 agrees; else at the first
    // place the CRC-16 comes out zero.
    uint64_t LastFrameEnd(uint64_t u64Frame, const FLAC_FRAME& frame) {
        if (auto end = DecodedFrameEnd(m_file, u64Frame, frame)) {
            if (Crc16Over(m_file, 0, u64Frame, *end) == uint16_t(0))
                return *end;
        }
        uint16_t u16Crc = 0;
        auto crc = Crc16Over(m_file, 0, u64Frame, u64Frame + frame.u32HeaderBytes);
        if (!crc)
            return u64Frame;
        u16Crc = *crc;
        for (uint64_t pos = u64Frame + frame.u32HeaderBytes; pos < u64Frame + Window(); ++pos) {
            auto byte = m_file.U8(pos);
            if (!byte)
                return pos;
            u16Crc = FlacCrc16Update(u16Crc, &*byte, 1);
            if (u16Crc == 0 && pos > u64Frame + frame.u32HeaderBytes)
                return pos + 1;
        }
        return u64Frame;
    }

    CCarvedFile& m_file;
    FLAC_INFO m_info;
};

// A FLAC stream ("fLaC", metadata, frames) at u64Start: its end, nullopt when it is none.
std::optional<uint64_t> WalkFlac(CCarvedFile& file, uint64_t u64Start) {
    if (!file.MatchesText(u64Start, szFlacMagic))
        return std::nullopt;
    uint64_t pos = u64Start + 4;
    FLAC_INFO info = {};
    for (bool bFirst = true;; bFirst = false) {
        CByteView block = file.View(pos, 4 + FLAC_STREAMINFO_BYTES);
        if (!block.Has(0, 4) || pos - u64Start > FLAC_MAX_METADATA)
            return std::nullopt;
        const uint8_t u8Type = block.Data()[0] & 0x7F;
        const uint32_t u32Length = LoadU32BE(block.Data()) & 0xFFFFFF;
        if (u8Type == FLAC_INVALID_BLOCK || (bFirst && u8Type != FLAC_STREAMINFO))
            return std::nullopt;
        if (bFirst) {
            if (u32Length != FLAC_STREAMINFO_BYTES || !block.Has(4, FLAC_STREAMINFO_BYTES))
                return std::nullopt;
            const uint8_t* pInfo = block.Data() + 4;
            const uint64_t u64Packed = LoadU64BE(pInfo + 10);
            info.u32MaxFrame = LoadU32BE(pInfo + 6) & 0xFFFFFF;
            info.u32SampleBits = uint32_t((u64Packed >> 36) & 0x1F) + 1;
            info.u64TotalSamples = u64Packed & 0xFFFFFFFFFull;
        }
        pos += 4 + u32Length;
        if (block.Data()[0] & FLAC_LAST_BLOCK)
            break;
    }
    CFlacFrames frames(file, info);
    auto end = frames.Walk(pos);
    if (!end)
        return info.u64TotalSamples == 0 ? std::optional<uint64_t>(pos) : std::nullopt;
    return file.MatchesText(*end, "TAG") ? *end + ID3V1_BYTES : *end;
}

// ---- Ogg

constexpr char szOggMagic[] = "OggS";
constexpr size_t OGG_PAGE_HEADER = 27;
constexpr size_t OGG_CRC = 22;
constexpr uint8_t OGG_BOS = 0x02;
constexpr uint8_t OGG_EOS = 0x04;
constexpr uint64_t OGG_LIMIT = 16 * GIB;

struct OGG_PAGE {
    uint8_t u8Flags;
    uint32_t u32Serial;
    uint32_t u32Sequence;
    uint64_t u64Bytes;
    uint64_t u64Data; // offset of the first packet in the page
};

// The page at u64Pos when its header (and, where asked, its CRC) is right.
std::optional<OGG_PAGE> ReadOggPage(CCarvedFile& file, uint64_t u64Pos, bool bCheckCrc) {
    CByteView header = file.View(u64Pos, OGG_PAGE_HEADER + 255);
    if (!header.Has(0, OGG_PAGE_HEADER) || !header.Matches(0, szOggMagic, 4) ||
        header.Data()[4] != 0 || (header.Data()[5] & ~7) != 0)
        return std::nullopt;
    const size_t nSegments = header.Data()[26];
    if (!header.Has(OGG_PAGE_HEADER, nSegments))
        return std::nullopt;
    uint64_t u64Body = 0;
    for (size_t i = 0; i < nSegments; ++i)
        u64Body += header.Data()[OGG_PAGE_HEADER + i];
    const OGG_PAGE page = {header.Data()[5], LoadU32LE(header.Data() + 14),
                           LoadU32LE(header.Data() + 18), OGG_PAGE_HEADER + nSegments + u64Body,
                           OGG_PAGE_HEADER + nSegments};
    if (!bCheckCrc)
        return page;
    const uint32_t u32Stored = LoadU32LE(header.Data() + OGG_CRC);
    const uint8_t zeros[4] = {};
    uint32_t u32Crc = OggCrcUpdate(0, header.Data(), OGG_CRC);
    u32Crc = OggCrcUpdate(u32Crc, zeros, 4);
    uint64_t off = OGG_CRC + 4;
    while (off < page.u64Bytes) {
        CByteView body = file.View(u64Pos + off, 1);
        if (body.Size() == 0)
            return std::nullopt;
        const size_t nTake = size_t(std::min<uint64_t>(body.Size(), page.u64Bytes - off));
        u32Crc = OggCrcUpdate(u32Crc, body.Data(), nTake);
        off += nTake;
    }
    return u32Crc == u32Stored ? std::optional<OGG_PAGE>(page) : std::nullopt;
}

EXTEND_NAME_TYPE OggStreamType(CCarvedFile& file, uint64_t u64Packet) {
    static const std::pair<const char*, EXTEND_NAME_TYPE> CODECS[] = {
        {"OpusHead", FILE_TYPE_OPUS}, {"Speex   ", FILE_TYPE_SPX}, {"\x80theora", FILE_TYPE_OGV}};
    for (const auto& [pId, nType] : CODECS) {
        if (file.MatchesText(u64Packet, pId))
            return nType;
    }
    return FILE_TYPE_OGG;
}

// ---- RIFF, AIFF, APE, MIDI, SMAF

constexpr size_t RF64_DS64 = 12;
constexpr size_t RF64_RIFF_SIZE = 20;
constexpr uint32_t RIFF_UNKNOWN_SIZE = 0xFFFFFFFF;
constexpr uint64_t RIFF_HEADER_BYTES = 8;
constexpr uint64_t WAV_LIMIT = 64 * GIB;

constexpr uint16_t APE_DESCRIPTOR_VERSION = 3980;
constexpr uint64_t APE_LIMIT = 4 * GIB;

constexpr char szMidTrack[] = "MTrk";
constexpr uint64_t MID_FIRST_CHUNK = 14;
constexpr uint64_t MID_LIMIT = 64 * MIB;

} // namespace

// ---- MPEG audio

EXTEND_NAME_TYPE CAudioFormats::IsMp3Type(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (Id3v2Bytes(head))
        return FILE_TYPE_MP3;
    auto frame = head.U32BE(0) ? ParseMpegFrame(LoadU32BE(pBuf)) : std::nullopt;
    if (!frame)
        return NONE;
    if (auto next = head.U32BE(frame->u32Bytes)) {
        auto second = ParseMpegFrame(*next);
        return second && SameStream(*frame, *second) ? MpegLayerType(frame->nLayer) : NONE;
    }
    return frame->nLayer == 3 && LooksLikeFirstLayer3Frame(head, *frame) ? FILE_TYPE_MP3 : NONE;
}

CARVED_SIZE CAudioFormats::GetMP3FileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    while (auto tag = Id3v2Bytes(file.View(pos, ID3V2_HEADER_BYTES)))
        pos += *tag;
    const bool bTagged = pos > 0;
    // Behind a tag may come padding, then AAC or FLAC as well as MPEG frames.
    const uint64_t u64PaddingEnd = pos + ID3V2_PADDING_LIMIT;
    while (bTagged && pos < u64PaddingEnd && file.U8(pos) == 0)
        ++pos;
    if (bTagged) {
        if (auto flac = WalkFlac(file, pos))
            return WalkedSize(*flac, FILE_TYPE_FLAC);
        auto [u64AdtsEnd, nAdts] = WalkAdts(file, pos);
        if (nAdts >= ADTS_MIN_FRAMES)
            return WalkedSize(SkipTrailingTags(file, u64AdtsEnd), FILE_TYPE_AAC);
    }
    auto first = file.U32BE(pos) ? ParseMpegFrame(*file.U32BE(pos)) : std::nullopt;
    if (!first)
        return Refused();
    int nFrames = 0;
    while (pos < AUDIO_LIMIT) {
        auto header = file.U32BE(pos);
        auto frame = header ? ParseMpegFrame(*header) : std::nullopt;
        if (!frame || !SameStream(*first, *frame))
            break;
        pos += frame->u32Bytes;
        ++nFrames;
    }
    if (nFrames < MPEG_MIN_FRAMES && !(bTagged && nFrames > 0))
        return Refused();
    return WalkedSize(SkipTrailingTags(file, pos), MpegLayerType(first->nLayer));
}

// ---- AAC

EXTEND_NAME_TYPE CAudioFormats::IsAacType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    auto frame = ParseAdtsFrame(head);
    if (!frame)
        return NONE;
    if (head.Has(frame->u32Bytes, 7)) {
        auto next = ParseAdtsFrame(*head.Slice(frame->u32Bytes, 7));
        return next && next->u32Fixed == frame->u32Fixed ? FILE_TYPE_AAC : NONE;
    }
    // A frame longer than the sector: the fields an encoder's first frame has.
    return frame->u32Fullness == ADTS_VBR_FULLNESS && frame->u32RawBlocks == 0 ? FILE_TYPE_AAC
                                                                               : NONE;
}

CARVED_SIZE CAudioFormats::GetAACFileBytesSize(CCarvedFile& file) {
    auto [u64End, nFrames] = WalkAdts(file, 0);
    return nFrames >= ADTS_MIN_FRAMES ? WalkedSize(SkipTrailingTags(file, u64End)) : Refused();
}

// ---- FLAC

EXTEND_NAME_TYPE CAudioFormats::IsFlacType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!HeadMatchesText(head, 0, szFlacMagic) || !head.Has(0, 8 + FLAC_STREAMINFO_BYTES))
        return NONE;
    const uint32_t u32Length = LoadU32BE(pBuf + 4) & 0xFFFFFF;
    const uint16_t u16MinBlock = LoadU16BE(pBuf + 8);
    const uint16_t u16MaxBlock = LoadU16BE(pBuf + 10);
    const uint32_t u32Rate = LoadU32BE(pBuf + 18) >> 12;
    return (pBuf[4] & 0x7F) == FLAC_STREAMINFO && u32Length == FLAC_STREAMINFO_BYTES &&
                   u16MinBlock >= 16 && u16MaxBlock >= u16MinBlock && u32Rate != 0
               ? FILE_TYPE_FLAC
               : NONE;
}

CARVED_SIZE CAudioFormats::GetFLACFileBytesSize(CCarvedFile& file) {
    auto end = WalkFlac(file, 0);
    return end ? WalkedSize(*end) : Refused();
}

// ---- Ogg

EXTEND_NAME_TYPE CAudioFormats::IsOggType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!head.Has(0, OGG_PAGE_HEADER + 1) || !head.Matches(0, szOggMagic, 4) || pBuf[4] != 0)
        return NONE;
    // A stream starts with a first page: beginning of stream, sequence number 0.
    return (pBuf[5] & ~OGG_EOS) == OGG_BOS && LoadU32LE(pBuf + 18) == 0 ? FILE_TYPE_OGG : NONE;
}

CARVED_SIZE CAudioFormats::GetOGGFileBytesSize(CCarvedFile& file) {
    // Pages that begin or end a stream are checked by their CRC; the pages between by their
    // stream's sequence numbers, which chance bytes do not continue.
    uint64_t pos = 0;
    std::vector<std::pair<uint32_t, uint32_t>> open; // serial, last sequence number
    bool bHeaders = true; // still in the beginning-of-stream pages of a chain link
    EXTEND_NAME_TYPE nType = NONE;
    int nPages = 0;
    while (pos < OGG_LIMIT) {
        auto page = ReadOggPage(file, pos, false);
        if (!page)
            break;
        auto stream = std::find_if(open.begin(), open.end(),
                                   [&page](const auto& s) { return s.first == page->u32Serial; });
        const bool bBegins = (page->u8Flags & OGG_BOS) != 0;
        const bool bEnds = (page->u8Flags & OGG_EOS) != 0;
        if ((bBegins || bEnds) && !ReadOggPage(file, pos, true))
            break;
        if (bBegins) {
            // A new stream joins only among the first pages of a link, or starts the next link.
            if ((!bHeaders && !open.empty()) || stream != open.end())
                break;
            bHeaders = true;
            open.emplace_back(page->u32Serial, page->u32Sequence);
            const EXTEND_NAME_TYPE nStream = OggStreamType(file, pos + page->u64Data);
            if (nType == NONE || nStream == FILE_TYPE_OGV)
                nType = nStream;
        } else {
            if (stream == open.end() || page->u32Sequence != stream->second + 1)
                break;
            stream->second = page->u32Sequence;
            bHeaders = false;
        }
        if (bEnds)
            open.erase(std::find_if(open.begin(), open.end(),
                                    [&page](const auto& s) { return s.first == page->u32Serial; }));
        pos += page->u64Bytes;
        ++nPages;
        if (open.empty()) {
            auto next = ReadOggPage(file, pos, true);
            if (!next || !(next->u8Flags & OGG_BOS))
                return WalkedSize(pos, nType);
        }
    }
    // Streams that break off before their last page are kept up to the break.
    return nPages >= 2 ? WalkedSize(pos, nType) : Refused();
}

// ---- WAV / RF64

EXTEND_NAME_TYPE CAudioFormats::IsWavType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    const bool bRiff = HeadMatchesText(head, 0, "RIFF");
    const bool bRf64 = HeadMatchesText(head, 0, "RF64") || HeadMatchesText(head, 0, "BW64");
    if ((!bRiff && !bRf64) || !HeadMatchesText(head, 8, "WAVE"))
        return NONE;
    // The first chunk is fmt, or what broadcast and recorder files put before it.
    auto first = head.Slice(12, 4);
    if (!first || !CRiffChunks::IsChunkId(*first))
        return NONE;
    return !bRf64 || HeadMatchesText(head, RF64_DS64, "ds64") ? FILE_TYPE_WAV : NONE;
}

CARVED_SIZE CAudioFormats::GetWAVFileBytesSize(CCarvedFile& file) {
    if (!file.MatchesText(0, "RIFF")) {
        auto size = file.U64LE(RF64_RIFF_SIZE);
        if (!size || *size > WAV_LIMIT)
            return Refused();
        return ClaimedSize(RIFF_HEADER_BYTES + *size + (*size & 1),
                           CRiffChunks::OUTER_HEADER_BYTES);
    }
    auto size = file.U32LE(4);
    if (size && *size != RIFF_UNKNOWN_SIZE && *size != 0)
        return CRiffChunks::OuterSize(file, 0, false);
    // A streaming writer never filled the size in: the chunks, then the end check.
    const uint64_t u64Walked =
        CRiffChunks::WalkInner(file, CRiffChunks::OUTER_HEADER_BYTES, WAV_LIMIT, false);
    return ClaimedSize(file.NextFileStart(u64Walked + RIFF_HEADER_BYTES, WAV_LIMIT, true),
                       CRiffChunks::OUTER_HEADER_BYTES);
}

// ---- AIFF

EXTEND_NAME_TYPE CAudioFormats::IsAiffType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!HeadMatchesText(head, 0, "FORM"))
        return NONE;
    return HeadMatchesText(head, 8, "AIFF") || HeadMatchesText(head, 8, "AIFC") ? FILE_TYPE_AIFF
                                                                                : NONE;
}

CARVED_SIZE CAudioFormats::GetAIFFFileBytesSize(CCarvedFile& file) {
    return CRiffChunks::OuterSize(file, 0, true);
}

// ---- APE

EXTEND_NAME_TYPE CAudioFormats::IsApeType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    if (!HeadMatchesText(head, 0, "MAC ") || !head.Has(0, 8))
        return NONE;
    const uint16_t u16Version = LoadU16LE(pBuf + 4);
    return u16Version >= 3800 && u16Version <= 4100 ? FILE_TYPE_APE : NONE;
}

CARVED_SIZE CAudioFormats::GetAPEFileBytesSize(CCarvedFile& file) {
    CByteView descriptor = file.View(0, 52);
    if (!descriptor.Has(0, 52))
        return Refused();
    // Descriptor (3.98 on): its own size, the header's, the seek table's, the WAV header's,
    // the frame data's (64-bit) and the trailing WAV data's.
    uint64_t u64Audio = 0;
    if (LoadU16LE(descriptor.Data() + 4) >= APE_DESCRIPTOR_VERSION) {
        const uint8_t* p = descriptor.Data();
        u64Audio = uint64_t(LoadU32LE(p + 8)) + LoadU32LE(p + 12) + LoadU32LE(p + 16) +
                   LoadU32LE(p + 20) + (uint64_t(LoadU32LE(p + 28)) << 32 | LoadU32LE(p + 24)) +
                   LoadU32LE(p + 32);
    }
    if (u64Audio != 0 && u64Audio <= APE_LIMIT)
        return WalkedSize(SkipTrailingTags(file, u64Audio));
    // Without sizes: the APEv2 tag that closes the file, within what belongs to it.
    const uint64_t u64Reach = file.NextFileStart(file.SectorBytes(), APE_LIMIT, true);
    auto tag = file.Find(szApeTagId, 8, 8, u64Reach);
    return tag ? WalkedSize(SkipTrailingTags(file, *tag)) : WalkedSize(u64Reach);
}

// ---- MIDI

EXTEND_NAME_TYPE CAudioFormats::IsMidType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return HeadMatchesText(head, 0, "MThd") && head.U32BE(4) == 6u &&
                   HeadMatchesText(head, MID_FIRST_CHUNK, szMidTrack)
               ? FILE_TYPE_MID
               : NONE;
}

CARVED_SIZE CAudioFormats::GetMIDFileBytesSize(CCarvedFile& file) {
    auto tracks = file.U16BE(10);
    if (!tracks || *tracks == 0)
        return Refused();
    uint64_t pos = MID_FIRST_CHUNK;
    for (uint32_t i = 0; i < *tracks && pos < MID_LIMIT; ++i) {
        auto length = file.U32BE(pos + 4);
        if (!file.MatchesText(pos, szMidTrack) || !length)
            return i > 0 ? WalkedSize(pos) : Refused();
        pos += 8 + uint64_t(*length);
    }
    return WalkedSize(pos);
}

// ---- SMAF

EXTEND_NAME_TYPE CAudioFormats::IsMmfType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return HeadMatchesText(head, 0, "MMMD") && HeadMatchesText(head, 8, "CNTI") ? FILE_TYPE_MMF
                                                                                : NONE;
}

CARVED_SIZE CAudioFormats::GetMMFFileBytesSize(CCarvedFile& file) {
    auto size = file.U32BE(4);
    return size ? ClaimedSize(RIFF_HEADER_BYTES + *size, 16) : Refused();
}
