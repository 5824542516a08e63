// Carving test helpers: an image file with a reader over it, offered to the judge as a carving
// pass does; sizing from memory; the committed samples.
#pragma once

#include "device/CDiskReader.h"
#include "device/CDiskRegistry.h"
#include "fixtures/CarvingImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "formats/carving/CCarvingScope.h"
#include "formats/carving/CFileTypeJudge.h"
#include "formats/carving/CMemoryCarvingReader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

constexpr uint64_t SECTOR = CCarvingImageBuilder::SECTOR_BYTES;

inline std::vector<uint8_t> Sample(const std::string& strName) {
    return ReadFileBytes(TestDataPath("samples/" + strName));
}

struct SIZED_FILE {
    int nResult = -1;
    EXTEND_NAME_TYPE nType = FILE_TYPE_NONE;
    uint64_t u64Size = 0;
    uint64_t u64Checked = 0;
    bool bProvedWhole = false;
    std::string strName;
};

// The row's size finder on bytes in memory, as if they stood on a disk alone.
inline CARVED_SIZE SizeInMemory(const std::vector<uint8_t>& bytes) {
    EXTEND_NAME_TYPE nType = FILE_TYPE_NONE;
    const EXTEND_NAME_AND_TYPE* pTable = CFileTypeJudge::GetExtendNameTable();
    for (int i = 0; pTable[i].szExtendName != nullptr; ++i) {
        nType = pTable[i].pfnDetect(bytes.data(), int(std::min<size_t>(bytes.size(), SECTOR)));
        if (nType == FILE_TYPE_NONE || pTable[i].pfnGetSize == nullptr)
            continue;
        CMemoryCarvingReader reader(bytes.data(), bytes.size());
        CCarvedFile file(reader, SECTOR, CFileTypeJudge::StartsAnotherFile);
        CARVED_SIZE sized = pTable[i].pfnGetSize(file);
        if (sized.nType == FILE_TYPE_NONE)
            sized.nType = nType;
        return sized;
    }
    return {};
}

// An image on disk with a reader over it, as a carving pass sees it.
class CCarvingDisk {
public:
    explicit CCarvingDisk(CCarvingImageBuilder& builder) {
        m_strPath = m_dir.File("carve.img");
        EXPECT_TRUE(builder.Write(m_strPath));
        m_u64Sectors = builder.SectorCount();
        m_nDisk = CDiskRegistry::GetInstance().AddImage(m_strPath);
        EXPECT_GE(m_nDisk, 0);
        EXPECT_EQ(m_reader.Init(m_nDisk, m_u64Sectors), 0);
    }

    std::vector<uint8_t> ReadSector(uint64_t u64Sector) {
        std::vector<uint8_t> sector(SECTOR);
        unsigned int nRead = 0;
        EXPECT_EQ(m_reader.ReadData(sector.data(), 1, (long long)u64Sector, SECTOR, &nRead), 0);
        return sector;
    }

    SIZED_FILE Carve(uint64_t u64Sector, ScanProgressCallback pCallback = nullptr,
                     void* pParam = nullptr) {
        CFileTypeJudge::InitCallBack(pCallback, nullptr, pParam, 90);
        std::vector<uint8_t> sector = ReadSector(u64Sector);
        SIZED_FILE sized;
        char szName[FILE_NODE_NAME_BYTES] = {};
        unsigned long long u64Size = 0, u64Checked = 0;
        sized.nResult = CFileTypeJudge::ParseFileBuf(
            sector.data(), SECTOR, u64Sector, 0, m_u64Sectors, 0, 0, &m_reader, SECTOR, szName,
            sized.nType, u64Size, u64Checked, sized.bProvedWhole);
        sized.u64Size = u64Size;
        sized.u64Checked = u64Checked;
        sized.strName = szName;
        return sized;
    }

    CDiskReader& Reader() { return m_reader; }
    int DiskNo() const { return m_nDisk; }
    uint64_t SectorCount() const { return m_u64Sectors; }

private:
    CTempDir m_dir;
    std::string m_strPath;
    uint64_t m_u64Sectors = 0;
    int m_nDisk = -1;
    CDiskReader m_reader;
};
