// Pure encode/decode of the store's side files and the scan index; no file access here.
#pragma once

#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using RelationMap = std::map<uint64_t, std::vector<uint32_t>>;

// Relation text: per key, ascending, " | <key> - [<i>,<i>,...]" with nothing in between.
std::string FormatRelationText(const RelationMap& mapRelation);
// Fills the map from relation text. 0 when the text is whole or merely cut short (the complete
// entries are kept); ERROR_FILE_CORRUPT at the first garbled entry (earlier entries are kept).
// Child index 0 is garbled: indices are 1-based.
int ParseRelationText(const char* pText, size_t nSize, RelationMap& mapOut);

// Appends the whole 264-byte records, names forced to end within their field; a torn tail is
// dropped.
void ParseDirInfoRecords(const uint8_t* pData, size_t nSize, std::vector<DIR_FILE_INFO>& vecOut);

// Index "config": u64 current number, then 592-byte records. Returns false when shorter than the
// number; a torn trailing record is dropped and paths are forced to end within their fields.
bool ParseLogIndex(const uint8_t* pData, size_t nSize, uint64_t& u64CurrentIndex,
                   std::vector<LOG_FILE_INFO>& vecOut);
std::vector<uint8_t> FormatLogIndex(uint64_t u64CurrentIndex,
                                    const std::vector<LOG_FILE_INFO>& vecRecords);
