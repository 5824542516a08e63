// A carved file whose proof fails, joined from two pieces: its bytes from the first up to a
// break B, then from a later position C on. Both lie on a cluster grid anchored at the file's
// start (the file began at a cluster). The failing byte narrows B; cheap checks at each C (no
// other file starts there, the format's structure runs on across the join) come before the
// full proof, and the search ends when its time budget is spent.
#pragma once

#include "formats/proof/CFileProof.h"
#include "util/CTimeBudget.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct TWO_PIECE_JOIN {
    uint64_t u64Break = 0;  // B: bytes of the first piece
    uint64_t u64Resume = 0; // C: where the second piece starts, from the file's first byte
    uint64_t u64Size = 0;   // the joined file's size
    // WHOLE; UNCHECKED for MP4/MOV, whose proof sees only the NAL lengths of video samples
    // (such a join is kept only when no other break position fits as well).
    PROOF_STATE state = PROOF_STATE::UNCHECKED;
};

// What a search tried, for the report.
struct TWO_PIECE_TRIAL {
    uint64_t u64FailAt = 0;     // where the contiguous reading failed its proof
    uint32_t nGrids = 0;        // cluster grids tried
    uint64_t u64Candidates = 0; // (B, C) pairs looked at
    uint64_t u64Proved = 0;     // pairs that passed the cheap checks and were proved
    bool bBudgetSpent = false;
    bool bAmbiguous = false; // several breaks fit alike (MP4/MOV): none is taken
};

class CTwoPieceJoin {
public:
    // The second piece starts at most this far behind the break.
    static constexpr uint64_t MAX_GAP_BYTES = 4ull * 1024 * 1024;
    // Bytes of the second piece read behind the gap (a JPEG or ZIP larger than the window
    // cannot be joined).
    static constexpr uint64_t MAX_TAIL_BYTES = 12ull * 1024 * 1024;
    // The largest cluster a candidate grid takes.
    static constexpr uint64_t MAX_GRID_BYTES = 64 * 1024;

    // True for the extensions a join is searched for (JPEG, PNG, ZIP packages).
    static bool CanJoin(const char* pExtension);
    // pData holds nSize bytes from the file's first byte on (the whole search window); the
    // finest grid is nSectorBytes. True with the first join that proves whole.
    static bool Find(const uint8_t* pData, size_t nSize, const char* pExtension,
                     size_t nSectorBytes, const CTimeBudget& budget, TWO_PIECE_JOIN& join,
                     TWO_PIECE_TRIAL& trial);
    // The joined file's bytes (the join must lie inside the window).
    static std::vector<uint8_t> Join(const uint8_t* pData, const TWO_PIECE_JOIN& join);
};
