// Arbitrary bytes through every whole-file proof, where it fails, and the search for a join of
// two pieces (on a small grid and time budget): the first input byte picks the format.
#include "formats/proof/CFileProof.h"
#include "formats/proof/CTwoPieceJoin.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {

const char* const EXTENSIONS[] = {"png", "jpg", "zip", "gz", "pdf", "flac", "ogg", "mp3", "mp4"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 2)
        return 0;
    const char* pExtension = EXTENSIONS[pData[0] % std::size(EXTENSIONS)];
    CFileProof::Prove(pData + 1, nSize - 1, pExtension);
    if (std::optional<PROOF_BREAK> brk = CFileProof::FindBreak(pData + 1, nSize - 1, pExtension);
        brk && (brk->nIntact > brk->nFailAt || brk->nFailAt > nSize - 1))
        __builtin_trap();
    constexpr size_t FUZZ_GRID_BYTES = 16;
    TWO_PIECE_JOIN join;
    TWO_PIECE_TRIAL trial;
    if (CTwoPieceJoin::Find(pData + 1, nSize - 1, pExtension, FUZZ_GRID_BYTES,
                            CTimeBudget(std::chrono::milliseconds(20)), join, trial) &&
        (join.u64Break >= join.u64Resume ||
         join.u64Size - join.u64Break > nSize - 1 - join.u64Resume))
        __builtin_trap();
    return 0;
}
