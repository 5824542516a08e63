// Relation text and folder-info records: exact form, damaged and truncated input.
#include "store/StoreFileFormat.h"
#include "fixtures/FixtureUtil.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"

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

TEST(StoreFiles, DamagedRelationFileReportedByInit) {
    CScanLogDirScope scope;
    std::string strDir = CLogFileManager::GetInstance()->GetLogFileDirPath();
    {
        CScanResultFileManager store;
        ASSERT_EQ(store.Init(u"damaged"), 0);
        for (int i = 0; i < 3; ++i) {
            FILE_NODE* pNode = store.CreateFileNode(sizeof(FILE_NODE));
            pNode->nFileIndex = store.GetFileIndex();
            std::snprintf(pNode->szFileName, sizeof(pNode->szFileName), "n%d.txt", i);
            store.AddChildren(i == 2 ? 8 : 5, 0, pNode->nFileIndex, 0, nullptr);
        }
    }
    std::string strRelation = strDir + "damaged_Relation";
    ASSERT_EQ(ReadFileBytes(strRelation).size(), std::string(" | 5 - [1,2] | 8 - [3]").size());
    ASSERT_TRUE(PatchFileBytes(strRelation, 17, {'?'}));

    CScanResultFileManager store;
    EXPECT_EQ(store.Init(u"damaged"), ERROR_FILE_CORRUPT);
    std::vector<FILE_NODE> vecNodes;
    ASSERT_EQ(store.GetChildrenFileNode(5, vecNodes), 0);
    EXPECT_EQ(vecNodes.size(), 2u);
    EXPECT_EQ(store.Init(u"../escape"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(store.CreateFileNode(100), nullptr);
}

TEST(StoreFiles, ChildrenPastTheWrittenNodesAreSkipped) {
    CScanLogDirScope scope;
    std::string strDir = CLogFileManager::GetInstance()->GetLogFileDirPath();
    ASSERT_EQ(CLogFileManager::MakeLogDir(strDir), 0);
    // The relation file names nodes that a stopped scan never wrote.
    std::string strText = " | 5 - [1,2,7]";
    ASSERT_TRUE(WriteFileBytes(strDir + "short_Relation",
                               std::vector<uint8_t>(strText.begin(), strText.end())));
    FILE_NODE node{};
    node.nDataHealth = 1;
    std::vector<uint8_t> vecNodes(sizeof(FILE_NODE) * 2 + 20);
    for (int i = 0; i < 2; ++i) {
        node.nFileIndex = i + 1;
        std::memset(node.szFileName, 'z', sizeof(node.szFileName)); // no terminator on disk
        std::memcpy(vecNodes.data() + i * sizeof(FILE_NODE), &node, sizeof(node));
    }
    ASSERT_TRUE(WriteFileBytes(strDir + "short", vecNodes));

    CScanResultFileManager store;
    ASSERT_EQ(store.Init(u"short"), 0);
    EXPECT_EQ(store.GetFileIndex(), 2u);
    std::vector<FILE_NODE> vecOut;
    ASSERT_EQ(store.GetChildrenFileNode(5, vecOut), 0);
    ASSERT_EQ(vecOut.size(), 2u);
    EXPECT_EQ(std::strlen(vecOut[0].szFileName), 255u);
    unsigned int nCount = 0;
    ASSERT_EQ(store.GetChildrenFileCount(5, nCount), 0);
    EXPECT_EQ(nCount, 2u);
}

} // namespace
