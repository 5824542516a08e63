// The proof of a file whose bytes lie in one run on the disk (a carved file).
#pragma once

#include <cstdint>

class CDiskReader;

// The data health that decoding the u64Size bytes from the absolute sector gives (a JPEG's
// structure only: carving meets many, and its size finder walked them already): 1 (unchecked)
// when the extension has no proof, the file is too large or the disk cannot be read.
uint32_t ProveDiskData(CDiskReader& reader, uint64_t u64Sector, int nBytesPerSector,
                       uint64_t u64Size, const char* pExtension);
