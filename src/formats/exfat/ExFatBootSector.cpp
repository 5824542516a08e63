// Decodes the exFAT main boot sector and checks the boot region's checksum sector.
#include "formats/exfat/ExFatBootSector.h"

#include "util/ByteView.h"

#include <cstring>

namespace {

constexpr size_t MAIN_BOOT_BYTES = 512;
static_assert(BOOT_SIGNATURE + 2 <= MAIN_BOOT_BYTES);

bool IsSkippedByChecksum(size_t nOffset) {
    return nOffset == EXFAT_VOLUME_FLAGS || nOffset == EXFAT_VOLUME_FLAGS + 1 ||
           nOffset == EXFAT_PERCENT_IN_USE;
}

} // namespace

std::optional<uint32_t> ExFatBootChecksum(const uint8_t* pData, size_t nSize,
                                          uint32_t nBytesPerSector) {
    const size_t nBytes = size_t(EXFAT_CHECKSUMMED_SECTORS) * nBytesPerSector;
    if (pData == nullptr || !InBounds(nSize, 0, nBytes))
        return std::nullopt;
    uint32_t nSum = 0;
    for (size_t i = 0; i < nBytes; ++i)
        if (!IsSkippedByChecksum(i))
            nSum = ExFatChecksumStep32(nSum, pData[i]);
    return nSum;
}

bool IsExFatBootRegionValid(const uint8_t* pData, size_t nSize) {
    if (pData == nullptr || nSize < MAIN_BOOT_BYTES)
        return false;
    const uint32_t nShift = pData[EXFAT_BYTES_PER_SECTOR_SHIFT];
    if (nShift < EXFAT_MIN_SECTOR_SHIFT || nShift > EXFAT_MAX_SECTOR_SHIFT)
        return false;
    const uint32_t nSectorBytes = 1u << nShift;
    const size_t nChecksumAt = size_t(EXFAT_CHECKSUMMED_SECTORS) * nSectorBytes;
    const std::optional<uint32_t> sum = ExFatBootChecksum(pData, nSize, nSectorBytes);
    if (!sum || !InBounds(nSize, nChecksumAt, nSectorBytes))
        return false;
    for (size_t i = 0; i < nSectorBytes; i += 4)
        if (LoadU32LE(pData + nChecksumAt + i) != *sum)
            return false;
    return true;
}

std::optional<EXFAT_GEOMETRY> ParseExFatBootSector(const uint8_t* pData, size_t nSize,
                                                   uint64_t u64PartitionStart) {
    if (pData == nullptr || nSize < MAIN_BOOT_BYTES ||
        std::memcmp(pData + EXFAT_FILE_SYSTEM_NAME, EXFAT_NAME_TEXT, 8) != 0 ||
        LoadU16LE(pData + BOOT_SIGNATURE) != 0xAA55)
        return std::nullopt;
    for (size_t i = 0; i < EXFAT_MUST_BE_ZERO_BYTES; ++i)
        if (pData[EXFAT_MUST_BE_ZERO + i] != 0)
            return std::nullopt;
    const uint32_t nSectorShift = pData[EXFAT_BYTES_PER_SECTOR_SHIFT];
    const uint32_t nClusterShift = pData[EXFAT_SECTORS_PER_CLUSTER_SHIFT];
    const uint32_t nFats = pData[EXFAT_NUMBER_OF_FATS];
    if (nSectorShift < EXFAT_MIN_SECTOR_SHIFT || nSectorShift > EXFAT_MAX_SECTOR_SHIFT ||
        nClusterShift > EXFAT_MAX_CLUSTER_SHIFT - nSectorShift || (nFats != 1 && nFats != 2))
        return std::nullopt;

    const uint64_t u64Scale = (1u << nSectorShift) / EXFAT_UNIT_BYTES;
    const uint64_t u64Length = LoadU64LE(pData + EXFAT_VOLUME_LENGTH);
    const uint32_t nFatOffset = LoadU32LE(pData + EXFAT_FAT_OFFSET);
    const uint32_t nFatLength = LoadU32LE(pData + EXFAT_FAT_LENGTH);
    const uint32_t nHeapOffset = LoadU32LE(pData + EXFAT_CLUSTER_HEAP_OFFSET);
    const uint32_t nClusters = LoadU32LE(pData + EXFAT_CLUSTER_COUNT);
    const uint32_t nRoot = LoadU32LE(pData + EXFAT_FIRST_CLUSTER_OF_ROOT);
    const uint64_t u64HeapEnd = nHeapOffset + (uint64_t(nClusters) << nClusterShift);
    // The FAT lies past the boot regions and before the heap, which must fit the volume and the
    // FAT's 4-byte entries must cover every cluster.
    if (nFatOffset < 2 * EXFAT_BOOT_REGION_SECTORS || nFatLength == 0 || nClusters == 0 ||
        uint64_t(nFatOffset) + uint64_t(nFatLength) * nFats > nHeapOffset ||
        u64HeapEnd > u64Length ||
        uint64_t(nFatLength) << nSectorShift < (uint64_t(nClusters) + EXFAT_FIRST_CLUSTER) * 4 ||
        nRoot < EXFAT_FIRST_CLUSTER || nRoot - EXFAT_FIRST_CLUSTER >= nClusters)
        return std::nullopt;

    EXFAT_GEOMETRY geo{};
    geo.u64PartitionStart = u64PartitionStart;
    geo.u64TotalSectors = u64Length * u64Scale;
    geo.u64FatStart = nFatOffset * u64Scale;
    geo.u64FatSectors = nFatLength * u64Scale;
    geo.u64HeapStart = nHeapOffset * u64Scale;
    geo.nClusterCount = nClusters;
    geo.nRootCluster = nRoot;
    geo.nSectorsPerCluster = static_cast<uint32_t>((1ull << nClusterShift) * u64Scale);
    geo.nBytesPerSector = 1u << nSectorShift;
    geo.nVolumeSerial = LoadU32LE(pData + EXFAT_VOLUME_SERIAL);
    return geo;
}
