// Relation text and folder-info records: exact form, damaged and truncated input.
#include "store/StoreFileFormat.h"
#include "fixtures/FixtureUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

RelationMap Parse(const std::string& strText, int nExpected) {
    RelationMap map;
    EXPECT_EQ(ParseRelationText(strText.data(), strText.size(), map), nExpected) << strText;
    return map;
}

TEST(RelationText, ExactFormRoundTrips) {
    RelationMap map{{5, {1, 2, 30}}, {(uint64_t(1) << 32) | 7, {}}, {9, {4}}};
    std::string strText = FormatRelationText(map);
    EXPECT_EQ(strText, " | 5 - [1,2,30] | 9 - [4] | 4294967303 - []");
    EXPECT_EQ(Parse(strText, 0), map);
}

TEST(RelationText, TruncatedTextKeepsWholeEntries) {
    std::string strText = " | 5 - [1,2,30] | 9 - [4,5]";
    for (size_t n = 0; n < strText.size(); ++n) {
        RelationMap map = Parse(strText.substr(0, n), 0);
        if (n < 15)
            EXPECT_TRUE(map.empty()) << n;
        else
            EXPECT_EQ(map, (RelationMap{{5, {1, 2, 30}}})) << n;
    }
}

TEST(RelationText, GarbledTextGivesCorruptWithPrefix) {
    EXPECT_EQ(Parse(" | 5 - [1,2] | x - [3]", ERROR_FILE_CORRUPT), (RelationMap{{5, {1, 2}}}));
    EXPECT_TRUE(Parse(" | 5 - [1;2]", ERROR_FILE_CORRUPT).empty());
    EXPECT_TRUE(Parse(" | 5 - [0]", ERROR_FILE_CORRUPT).empty());
    EXPECT_TRUE(Parse(" | 5 - [-1]", ERROR_FILE_CORRUPT).empty());
    EXPECT_TRUE(Parse(" | 5 - [99999999999]", ERROR_FILE_CORRUPT).empty());
    EXPECT_TRUE(Parse(" | 99999999999999999999 - []", ERROR_FILE_CORRUPT).empty());
    EXPECT_TRUE(Parse("garbage", ERROR_FILE_CORRUPT).empty());
}

TEST(DirInfoRecords, TornTailDroppedAndNamesTerminated) {
    std::vector<uint8_t> vecBytes(264 * 2 + 100, 'A');
    std::vector<DIR_FILE_INFO> vecInfo;
    ParseDirInfoRecords(vecBytes.data(), vecBytes.size(), vecInfo);
    ASSERT_EQ(vecInfo.size(), 2u);
    EXPECT_EQ(std::strlen(vecInfo[1].szFileName), 255u);
}

} // namespace
