// Whole reads and writes on file descriptors: interrupted and short transfers are continued until
// every byte has moved, the data ends, or the system reports an error.
#pragma once

#include <cstddef>
#include <cstdint>

// Each returns 0, ERROR_READ_SHORT when the data ends first (reads only), or the errno of the
// failed call; nDone receives the bytes that did move either way.
int ReadFull(int nFd, void* pData, size_t nBytes, size_t& nDone);
int ReadFullAt(int nFd, void* pData, size_t nBytes, uint64_t u64Offset, size_t& nDone);
int ReadFullAt(int nFd, void* pData, size_t nBytes, uint64_t u64Offset);
int WriteFull(int nFd, const void* pData, size_t nBytes);
int WriteFullAt(int nFd, const void* pData, size_t nBytes, uint64_t u64Offset);
