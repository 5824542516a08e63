// Fuzzes NTFS record decoding: plausibility, fix-up, the attribute walk, file names, resident
// content, data runs, attribute lists and extent re-basing, on 1024- and 4096-byte records of
// arbitrary bytes.
#include "formats/ntfs/NtfsRecord.h"
#include "ntfs/CNtfsParse.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void DecodeRecord(const uint8_t* pData, size_t nSize, int nBytesPerSector) {
    CNtfsParse parse;
    parse.Init(nBytesPerSector);
    std::vector<uint8_t> vecRecord(pData, pData + std::min<size_t>(nSize, parse.GetRecordSize()));
    vecRecord.resize(parse.GetRecordSize(), 0);
    IsNtfsFileRecord(vecRecord.data(), vecRecord.size(), parse.GetRecordSize());
    parse.FileRecordFixUp(vecRecord.data(), vecRecord.size());
    SummarizeNtfsRecord(vecRecord.data(), vecRecord.size());
    std::vector<RUNLIST> vecRuns;
    CNtfsAttributeWalk walk(vecRecord.data(), vecRecord.size(), vecRecord.size());
    while (auto attr = walk.Next()) {
        GetNtfsAttributeDataSize(vecRecord.data(), vecRecord.size(), *attr);
        if (!attr->bNonResident) {
            GetNtfsResidentContent(vecRecord.data(), vecRecord.size(), *attr);
            DecodeNtfsFileName(vecRecord.data(), vecRecord.size(), *attr);
            continue;
        }
        std::vector<RUNLIST> vecExtent;
        parse.GetRunList(vecRecord.data() + attr->nOffset, attr->nLength, vecExtent);
        AppendNtfsRunExtent(vecRuns, vecExtent);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    DecodeRecord(pData, nSize, 512);
    DecodeRecord(pData, nSize, 4096);
    // Run decoding straight over the input, as an attribute that fills the whole buffer.
    std::vector<RUNLIST> vecRuns;
    DecodeNtfsRunList(pData, nSize, vecRuns);
    GetNtfsListedRecords(pData, nSize, ATTR_TYPE_DATA);
    return 0;
}
