// Reads a carved file whole and proves it.
#include "formats/proof/DiskDataProof.h"

#include "device/CDiskReader.h"
#include "formats/proof/CFileProof.h"

#include <vector>

uint32_t ProveDiskData(CDiskReader& reader, uint64_t u64Sector, int nBytesPerSector,
                       uint64_t u64Size, const char* pExtension) {
    if (nBytesPerSector <= 0 || u64Size == 0 || u64Size > PROOF_BYTES_LIMIT ||
        !CFileProof::CanProve(pExtension))
        return CFileProof::HealthOf(PROOF_STATE::UNCHECKED);
    const uint64_t u64Sectors =
        (u64Size + unsigned(nBytesPerSector) - 1) / unsigned(nBytesPerSector);
    std::vector<uint8_t> vecData(u64Sectors * unsigned(nBytesPerSector));
    unsigned int nRead = 0;
    if (reader.ReadData(vecData.data(), static_cast<int>(u64Sectors),
                        static_cast<long long>(u64Sector), nBytesPerSector, &nRead) != 0 ||
        nRead != u64Sectors)
        return CFileProof::HealthOf(PROOF_STATE::UNCHECKED);
    return CFileProof::HealthOf(
        CFileProof::Prove(vecData.data(), size_t(u64Size), pExtension, PROOF_DEPTH::STRUCTURE));
}
