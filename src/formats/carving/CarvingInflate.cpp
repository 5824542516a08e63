// zlib inflate over a carved file's views, output thrown away.
#include "formats/carving/CarvingInflate.h"

#include <vector>
#include <zlib.h>

namespace {

constexpr size_t SCRATCH_BYTES = 256 * 1024;

} // namespace

std::optional<INFLATE_END> InflateToEnd(CCarvedFile& file, uint64_t u64Start, int nWindowBits,
                                        uint64_t u64Limit) {
    z_stream stream = {};
    if (inflateInit2(&stream, nWindowBits) != Z_OK)
        return std::nullopt;
    static thread_local std::vector<unsigned char> scratch(SCRATCH_BYTES);
    uint64_t u64Consumed = 0;
    uint64_t u64Produced = 0;
    int nResult = Z_OK;
    while (nResult == Z_OK && u64Consumed < u64Limit) {
        CByteView input = file.View(u64Start + u64Consumed, 1);
        if (input.Size() == 0)
            break;
        stream.next_in = const_cast<unsigned char*>(input.Data());
        stream.avail_in = static_cast<uInt>(input.Size());
        while (stream.avail_in > 0 && nResult == Z_OK) {
            stream.next_out = scratch.data();
            stream.avail_out = static_cast<uInt>(scratch.size());
            nResult = inflate(&stream, Z_NO_FLUSH);
            u64Produced += scratch.size() - stream.avail_out;
            if (nResult == Z_BUF_ERROR && stream.avail_out > 0)
                nResult = Z_OK; // needs more input
        }
        u64Consumed += input.Size() - stream.avail_in;
    }
    inflateEnd(&stream);
    if (nResult != Z_STREAM_END)
        return std::nullopt;
    return INFLATE_END{u64Consumed, u64Produced};
}
