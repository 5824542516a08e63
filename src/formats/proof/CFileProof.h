// Whether a file's bytes are the whole file: decoded by its format (checksums, compressed
// streams, a picture decoded to its end, a structure walked to its last byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// The two data-health values a decoding adds to the first-sector judgement (0 gone, 1 not
// proved either way): the whole file decoded, or its decoding failed part-way.
constexpr uint32_t DATA_HEALTH_WHOLE = 2;
constexpr uint32_t DATA_HEALTH_DAMAGED = 3;

// Files above this size are not read for a proof: they stay unchecked.
constexpr uint64_t PROOF_BYTES_LIMIT = 64ull * 1024 * 1024;

enum class PROOF_STATE { UNCHECKED, WHOLE, DAMAGED };

// How far a file is checked: its structure and checksums at memory speed (a JPEG's markers and
// restart sequence, a PNG's chunk CRCs), or decoded too (some tens of MB/s; kept for choosing
// between readings). Formats without a cheaper check are always decoded.
enum class PROOF_DEPTH { STRUCTURE, DECODE };

// Where the data of a damaged file stops being its own: the leading nIntact bytes are the
// format's own, and the failure shows at nFailAt, so a break in the data lies in between.
struct PROOF_BREAK {
    size_t nIntact = 0;
    size_t nFailAt = 0;
};

class CFileProof {
public:
    // True for the extensions whose format can prove a file whole.
    static bool CanProve(const char* pExtension);
    // The bytes decoded as the format the (lower-case) extension names.
    static PROOF_STATE Prove(const uint8_t* pData, size_t nSize, const char* pExtension,
                             PROOF_DEPTH depth = PROOF_DEPTH::DECODE);
    // The data health a proof gives.
    static uint32_t HealthOf(PROOF_STATE state);
    // "whole", "damaged" or "unchecked" for a node's data health.
    static const char* GetStateName(uint32_t nDataHealth);

    // Where the proof of the bytes fails (PNG: the chunk whose CRC fails; JPEG: the first byte
    // its structure rejects; ZIP: the member whose successor's local header is not where its
    // sizes lead; MP4/MOV: the box the walk stops at, or the first video sample whose NAL
    // lengths do not add up); nullopt when it does not fail or the format cannot tell.
    static bool CanFindBreak(const char* pExtension);
    static std::optional<PROOF_BREAK> FindBreak(const uint8_t* pData, size_t nSize,
                                                const char* pExtension);

    static PROOF_STATE ProvePng(const uint8_t* pData, size_t nSize);
    static PROOF_STATE ProvePngStructure(const uint8_t* pData, size_t nSize);
    static PROOF_STATE ProveZip(const uint8_t* pData, size_t nSize);
    // One ZIP member by its central directory entry (ZIP_CENTRAL_BYTES at pEntry): the data its
    // local header offset leads to in the file's bytes gives the CRC-32 and size it states.
    static PROOF_STATE ProveZipEntry(const uint8_t* pData, size_t nSize, const uint8_t* pEntry);
    static constexpr size_t ZIP_CENTRAL_BYTES = 46;
    static constexpr size_t ZIP_CENTRAL_LOCAL_OFFSET = 42;
    static PROOF_STATE ProveGzip(const uint8_t* pData, size_t nSize);
    // The structure, then libjpeg-turbo's decoding.
    static PROOF_STATE ProveJpeg(const uint8_t* pData, size_t nSize);
    // Segments by their lengths, entropy data holding only stuffed bytes and restart markers in
    // their order, to the EOI.
    static PROOF_STATE ProveJpegStructure(const uint8_t* pData, size_t nSize);
    static PROOF_STATE ProvePdf(const uint8_t* pData, size_t nSize);
    static PROOF_STATE ProveFlac(const uint8_t* pData, size_t nSize);
    static PROOF_STATE ProveOgg(const uint8_t* pData, size_t nSize);
};
