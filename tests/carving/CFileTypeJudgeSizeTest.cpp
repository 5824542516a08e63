// Identification and sizing of every committed sample inside raw images, and the tail rules.
#include "formats/carving/CFileTypeJudge.h"

#include "CarvingTestDisk.h"
#include "fixtures/CarvingImageBuilder.h"
#include "fixtures/FixtureUtil.h"
#include "util/ByteView.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>

namespace {

std::vector<uint8_t> Sample(const std::string& strName) {
    return ReadFileBytes(TestDataPath("samples/" + strName));
}

std::string ExtensionOf(const std::string& strName) {
    return strName.substr(strName.rfind('.') + 1);
}

EXTEND_NAME_TYPE ExpectedType(const std::string& strName) {
    static const std::map<std::string, EXTEND_NAME_TYPE> special = {
        {"sample_clsid.doc", FILE_TYPE_DOC},
        {"sample.ole", FILE_TYPE_OLE},
    };
    auto it = special.find(strName);
    return it != special.end() ? it->second
                               : CFileTypeJudge::GetExtendNameType(ExtensionOf(strName).c_str());
}

// What the carver can know of each sample's end.
enum class END_RULE {
    EXACT,
    NEXT_FILE,
    ZIP_COMMENT_CUT,
    PDF_EOF,
    MP3_TAG,
    SEVEN_ZIP_CODER,
    NOT_SIZED
};

END_RULE ExpectedEnd(const std::string& strName) {
    static const std::map<std::string, END_RULE> rules = {
        {"mp4", END_RULE::NEXT_FILE},      {"mov", END_RULE::NEXT_FILE},
        {"3gp", END_RULE::NEXT_FILE},      {"mkv", END_RULE::NEXT_FILE},
        {"flv", END_RULE::NEXT_FILE},      {"mxf", END_RULE::NEXT_FILE},
        {"mts", END_RULE::NEXT_FILE},      {"mp2", END_RULE::NEXT_FILE},
        {"mmf", END_RULE::NEXT_FILE},      {"psd", END_RULE::NEXT_FILE},
        {"tif", END_RULE::NEXT_FILE},      {"gz", END_RULE::NEXT_FILE},
        {"db", END_RULE::NEXT_FILE},       {"dbx", END_RULE::NEXT_FILE},
        {"pst", END_RULE::NEXT_FILE},      {"zip", END_RULE::ZIP_COMMENT_CUT},
        {"pdf", END_RULE::PDF_EOF},        {"mp3", END_RULE::MP3_TAG},
        {"7z", END_RULE::SEVEN_ZIP_CODER}, {"exe", END_RULE::NOT_SIZED},
        {"gho", END_RULE::NOT_SIZED},
    };
    auto it = rules.find(ExtensionOf(strName));
    return it != rules.end() ? it->second : END_RULE::EXACT;
}

uint64_t ExpectedSize(const CARVING_PLACEMENT& placed, const std::vector<uint8_t>& bytes) {
    switch (ExpectedEnd(placed.strName)) {
    case END_RULE::NEXT_FILE:
        return (placed.u64NextSector - placed.u64Sector) * SECTOR;
    case END_RULE::ZIP_COMMENT_CUT:
        return placed.u64Size -
               LoadU16LE(
                   &bytes[CByteView(bytes.data(), bytes.size()).Find("PK\x05\x06", 4).value_or(0) +
                          20]);
    case END_RULE::SEVEN_ZIP_CODER: {
        // 27 bytes after the LZMA coder record of the end header: its end when the header's
        // unpacked size takes two bytes, one byte past it when that size takes one.
        const uint8_t coder[] = {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01,
                                 0x23, 0x03, 0x01, 0x01, 0x05, 0x5D};
        auto at = CByteView(bytes.data(), bytes.size()).Find(coder, sizeof(coder));
        EXPECT_TRUE(at.has_value());
        return at.value_or(0) + 27;
    }
    case END_RULE::PDF_EOF:
        return placed.u64Size - 1; // the line end after %%EOF
    case END_RULE::MP3_TAG:
        return placed.u64Size + 3; // "TAG" + 131 reaches 3 bytes past the 128-byte ID3v1 tag
    default:
        return placed.u64Size;
    }
}

// Every sample, in name order, with no gap, a zero gap or a random gap after it.
CCarvingImageBuilder BuildSampleImage(uint64_t u64FirstSector) {
    CCarvingImageBuilder builder(u64FirstSector);
    int i = 0;
    for (const std::string& strName : ListCarvingSamples()) {
        builder.Add(strName, Sample(strName));
        if (i % 3 == 1)
            builder.AddZeroGap(2);
        else if (i % 3 == 2)
            builder.AddRandomGap(3, uint32_t(i));
        ++i;
    }
    return builder;
}

// Each image is a scan of its own: carved TS ranges of another scan do not apply.
class CFileTypeJudgeSize : public ::testing::Test {
protected:
    void SetUp() override { CFileTypeJudge::ClearTsFileRanges(); }
    CFileTypeJudge m_judge;
};

TEST_F(CFileTypeJudgeSize, EverySampleIsIdentifiedAndSized) {
    CCarvingImageBuilder builder = BuildSampleImage(64);
    CCarvingDisk disk(builder);
    ASSERT_GE(builder.Placements().size(), 45u);
    for (const CARVING_PLACEMENT& placed : builder.Placements()) {
        SCOPED_TRACE(placed.strName);
        const std::vector<uint8_t> bytes = Sample(placed.strName);
        const std::vector<uint8_t> sector = disk.ReadSector(placed.u64Sector);
        const std::string strExt = ExtensionOf(placed.strName);
        EXPECT_EQ(CFileTypeJudge::IsFileTypeMatching(sector.data(), SECTOR, strExt.c_str(),
                                                     &disk.Reader(), SECTOR, placed.u64Sector),
                  1);
        SIZED_FILE sized = disk.Carve(placed.u64Sector);
        if (ExpectedEnd(placed.strName) == END_RULE::NOT_SIZED) {
            EXPECT_EQ(sized.nResult, ERROR_INVALID_PARAMETER);
            EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector.data(), SECTOR),
                      ExpectedType(placed.strName));
            continue;
        }
        ASSERT_EQ(sized.nResult, 0);
        EXPECT_EQ(sized.nType, ExpectedType(placed.strName));
        EXPECT_EQ(sized.strName, std::to_string(placed.u64Sector) + "." +
                                     CFileTypeJudge::GetTypeExtendName(sized.nType));
        EXPECT_EQ(sized.u64Size, ExpectedSize(placed, bytes));
    }
}

TEST_F(CFileTypeJudgeSize, ShiftedByAnOddNumberOfSectorsKeepsSizes) {
    CCarvingImageBuilder first = BuildSampleImage(64);
    CCarvingImageBuilder shifted = BuildSampleImage(64 + 7);
    CCarvingDisk firstDisk(first);
    std::vector<SIZED_FILE> vecFirst;
    for (const CARVING_PLACEMENT& placed : first.Placements())
        vecFirst.push_back(firstDisk.Carve(placed.u64Sector));
    CCarvingDisk shiftedDisk(shifted);
    CFileTypeJudge::ClearTsFileRanges();
    for (size_t i = 0; i < shifted.Placements().size(); ++i) {
        const CARVING_PLACEMENT& placed = shifted.Placements()[i];
        SCOPED_TRACE(placed.strName);
        ASSERT_EQ(placed.u64Sector, first.Placements()[i].u64Sector + 7);
        SIZED_FILE sized = shiftedDisk.Carve(placed.u64Sector);
        EXPECT_EQ(sized.nResult, vecFirst[i].nResult);
        EXPECT_EQ(sized.nType, vecFirst[i].nType);
        EXPECT_EQ(sized.u64Size, vecFirst[i].u64Size);
    }
}

} // namespace
