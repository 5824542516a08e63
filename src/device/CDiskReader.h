// Whole-sector reads of a raw device, never past the end of the volume being scanned.
#pragma once

#include <cstdint>

class CDiskReader {
public:
    CDiskReader() = default;
    CDiskReader(const CDiskReader&) = delete;
    CDiskReader& operator=(const CDiskReader&) = delete;
    ~CDiskReader();

    // Opens the registry's disk read-only; the limit is the absolute sector no read may pass.
    int Init(int nDiskNo, unsigned long long u64Limit);
    // The same for a device or image path (UTF-16).
    int Init(const char16_t* pPath, unsigned long long u64Limit);
    // Opens a device or image path bounded by its own length, given back in 512-byte sectors.
    int InitWhole(const char16_t* pPath, unsigned long long& u64Sectors);
    // Reads nSectors whole sectors from nStartSector: 0, 87 past the limit, 30 when the device
    // ends first, the errno of a failed read (EIO: an unreadable sector); the whole sectors that
    // arrived are in *pSectorsRead.
    int ReadData(unsigned char* pBuffer, int nSectors, long long llStartSector, int nBytesPerSector,
                 unsigned int* pSectorsRead);
    // ReadData for copies that go on past damage: a sector that cannot be read is zero-filled,
    // logged with its number and added to u64Unreadable, and the sectors after it are still
    // read. 0, 87 past the limit, or 30 when the device ends first (*pSectorsRead: the whole
    // sectors that arrived or were zero-filled).
    int ReadDataTolerant(unsigned char* pBuffer, int nSectors, long long llStartSector,
                         int nBytesPerSector, unsigned int* pSectorsRead, uint64_t& u64Unreadable);

    // Asks the kernel to start reading these sectors now, so a later ReadData finds them cached.
    void Prefetch(long long llStartSector, int nSectors, int nBytesPerSector) const;

    int GetFd() const { return m_nFd; }
    unsigned long long GetLimit() const { return m_u64Limit; }

private:
    int Open(const char* pPath, unsigned long long u64Limit);

    int m_nFd = -1;
    unsigned long long m_u64Limit = 0;
};

// Reads nBytes from the descriptor's current position in 64 KiB system reads; 0, 30 when the
// file ends first, or the errno of a failed read.
int ReadData(int nFd, unsigned char* pBuffer, int nBytes, unsigned int* pBytesRead);
