// How an NTFS engine finds a found file's data again from its node: the fast engine follows
// attribute lists through the $MFT, the deep engine stays inside the record it found.
#pragma once

#include "engine/FileRecoveryTypes.h"
#include "formats/ntfs/NtfsRecord.h"

#include <cstdint>
#include <vector>

class INtfsNodeDataSource {
public:
    // 0 with the content of the node's resident unnamed data stream; NTFS_ERROR_NOT_RESIDENT
    // when the stream lives in runs; another code when the record cannot be read.
    virtual int GetResidentData(const FILE_NODE& node, std::vector<uint8_t>& vecData) = 0;
    // 0 with the runs of the node's unnamed data stream (cleared first), else an error code.
    virtual int GetDataRuns(const FILE_NODE& node, std::vector<RUNLIST>& vecRuns) = 0;

protected:
    ~INtfsNodeDataSource() = default;
};
