// Arbitrary bytes through every whole-file proof: the first input byte picks the format.
#include "formats/proof/CFileProof.h"

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
    return 0;
}
