// Record decoding from byte buffers: data runs, fix-up, plausibility, attribute walk, names.
#include "formats/ntfs/NtfsRecord.h"
#include "fixtures/FixtureUtil.h"
#include "ntfs/CNtfsParse.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr size_t RUNS_AT = 0x40;
// Past an update sequence array of eight slots (4096-byte records).
constexpr size_t FIRST_ATTR_AT = 0x48;

// A non-resident attribute header followed by the given run bytes; its length covers them.
std::vector<uint8_t> MakeRunAttribute(const std::vector<uint8_t>& vecRuns, uint32_t nLength = 0) {
    std::vector<uint8_t> attr(RUNS_AT + vecRuns.size() + 8, 0);
    uint32_t nAttrLength = nLength != 0 ? nLength : static_cast<uint32_t>(attr.size());
    attr.resize(std::max<size_t>(attr.size(), nAttrLength));
    attr[ATTR_TYPE] = 0x80;
    std::memcpy(&attr[ATTR_LENGTH], &nAttrLength, 4);
    attr[ATTR_NON_RESIDENT] = 1;
    attr[ATTR_RUNS_OFFSET] = RUNS_AT;
    std::copy(vecRuns.begin(), vecRuns.end(), attr.begin() + RUNS_AT);
    return attr;
}

std::vector<RUNLIST> Decode(const std::vector<uint8_t>& attr) {
    std::vector<RUNLIST> vecRuns;
    DecodeNtfsRunList(attr.data(), attr.size(), vecRuns);
    return vecRuns;
}

struct NAME_ATTR {
    std::string strName; // ASCII
    uint8_t nNameSpace;
};

// A minimal valid record: header, resident file names in the given order, the end marker, and
// its block tails protected by the update sequence.
std::vector<uint8_t> MakeRecord(size_t nRecordSize,
                                const std::vector<NAME_ATTR>& vecNames = {{"ab", 1}}) {
    std::vector<uint8_t> rec(nRecordSize, 0);
    PutLE(rec, FR_SIGNATURE, NTFS_FILE_SIGNATURE, 4);
    PutLE(rec, FR_FIRST_ATTRIBUTE, FIRST_ATTR_AT, 2);
    PutLE(rec, FR_FLAGS, 0, 2);
    PutLE(rec, FR_BYTES_ALLOCATED, static_cast<uint32_t>(nRecordSize), 4);
    PutLE(rec, FR_RECORD_NUMBER, 40, 4);
    PutLE(rec, FR_UPDATE_SEQUENCE, 0x0007, 2);
    size_t nAttr = FIRST_ATTR_AT;
    const size_t nContent = 0x18;
    for (const NAME_ATTR& name : vecNames) {
        size_t nUnits = name.strName.size();
        uint32_t nAttrLength = static_cast<uint32_t>((nContent + FN_NAME + nUnits * 2 + 7) & ~7u);
        PutLE(rec, nAttr + ATTR_TYPE, ATTR_TYPE_FILE_NAME, 4);
        PutLE(rec, nAttr + ATTR_LENGTH, nAttrLength, 4);
        PutLE(rec, nAttr + ATTR_CONTENT_LENGTH, static_cast<uint32_t>(FN_NAME + nUnits * 2), 4);
        PutLE(rec, nAttr + ATTR_CONTENT_OFFSET, static_cast<uint16_t>(nContent), 2);
        size_t c = nAttr + nContent;
        PutLE(rec, c + FN_PARENT_REFERENCE, 5, 4);
        rec[c + FN_NAME_LENGTH] = uint8_t(nUnits);
        rec[c + FN_NAME_SPACE] = name.nNameSpace;
        for (size_t i = 0; i < nUnits; ++i)
            rec[c + FN_NAME + 2 * i] = static_cast<uint8_t>(name.strName[i]);
        nAttr += nAttrLength;
    }
    PutLE(rec, nAttr, ATTR_TYPE_END, 4);
    PutLE(rec, FR_BYTES_IN_USE, static_cast<uint32_t>(nAttr + 8), 4);
    for (size_t i = 0; i < nRecordSize / 512; ++i) {
        size_t nTail = (i + 1) * 512 - 2;
        rec[FR_UPDATE_SEQUENCE_ARRAY + 2 * i] = rec[nTail];
        rec[FR_UPDATE_SEQUENCE_ARRAY + 2 * i + 1] = rec[nTail + 1];
        PutLE(rec, nTail, 0x0007, 2);
    }
    return rec;
}

std::string DisplayName(const std::vector<NAME_ATTR>& vecNames) {
    auto rec = MakeRecord(1024, vecNames);
    FixUpNtfsRecord(rec.data(), rec.size(), rec.size());
    return SummarizeNtfsRecord(rec.data(), rec.size()).strDisplayName;
}

} // namespace

// Run bytes and the runs they decode to: signed offsets at their width, sparse runs with offset 0,
// a length keeping its low four bytes, an oversized field or a zero header ending the list.
TEST(NtfsRunList, DecodesLengthAndSignedOffsetUntilTheEnd) {
    const std::vector<std::pair<std::vector<uint8_t>, std::vector<RUNLIST>>> cases = {
        {{0x21, 0x18, 0x34, 0x56, 0x00, 0x11, 0x01, 0x01}, {{0x18, 0x5634}}},
        {{0x21, 0x04, 0x00, 0x10, 0x21, 0x02, 0xFF, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00, 0x00, 0x80},
         {{4, 0x1000}, {2, -1}, {3, static_cast<int64_t>(0xFFFFFF8000000000ull)}}},
        {{0x01, 0x10, 0x81, 0x01, 1, 2, 3, 4, 5, 6, 7, 8}, {{0x10, 0}}},
        {{0x16, 1, 2, 3, 4, 5, 6, 0x09}, {{0x04030201, 9}}},
    };
    for (const auto& [vecBytes, vecExpected] : cases) {
        std::vector<RUNLIST> vecRuns = Decode(MakeRunAttribute(vecBytes));
        ASSERT_EQ(vecRuns.size(), vecExpected.size());
        for (size_t i = 0; i < vecRuns.size(); ++i) {
            EXPECT_EQ(vecRuns[i].u64Length, vecExpected[i].u64Length) << i;
            EXPECT_EQ(vecRuns[i].i64Offset, vecExpected[i].i64Offset) << i;
        }
    }
}

TEST(NtfsRunList, AttributeLongerThanASectorIsDecodedWhole) {
    // 150 runs: a fragmented file whose run list alone passes 512 bytes.
    std::vector<uint8_t> vecRunBytes;
    for (int i = 0; i < 150; ++i)
        vecRunBytes.insert(vecRunBytes.end(), {0x21, 0x01, 0x02, 0x00});
    auto attr = MakeRunAttribute(vecRunBytes);
    ASSERT_GT(attr.size(), 512u);
    auto vecRuns = Decode(attr);
    ASSERT_EQ(vecRuns.size(), 150u);
    EXPECT_EQ(vecRuns.back().i64Offset, 2);
}

TEST(NtfsRunList, RunCrossingTheAttributeEndIsDropped) {
    // The attribute ends right after the header byte of a run that needs four more bytes.
    auto attr = MakeRunAttribute({0x11, 0x01, 0x01, 0x22, 0x01, 0x01, 0x01, 0x01});
    PutLE(attr, ATTR_LENGTH, RUNS_AT + 4, 4);
    auto vecRuns = Decode(attr);
    ASSERT_EQ(vecRuns.size(), 1u);
    EXPECT_EQ(vecRuns[0].i64Offset, 1);
    // A runs offset far past the buffer decodes nothing.
    PutLE(attr, ATTR_RUNS_OFFSET, 0xFFF0, 2);
    PutLE(attr, ATTR_LENGTH, 0xFFFF, 4);
    EXPECT_TRUE(Decode(attr).empty());
}

TEST(NtfsRunList, FurtherExtentIsRebasedOnTheRunningPosition) {
    std::vector<RUNLIST> vecRuns = {{4, 100}, {2, 50}};            // runs at 100 and 150
    std::vector<RUNLIST> vecExtent = {{3, 0}, {8, 400}, {1, -10}}; // sparse, then 400, 390
    AppendNtfsRunExtent(vecRuns, vecExtent);
    ASSERT_EQ(vecRuns.size(), 5u);
    EXPECT_EQ(vecRuns[2].i64Offset, 0);
    EXPECT_EQ(vecRuns[3].i64Offset, 250);
    EXPECT_EQ(vecRuns[4].i64Offset, -10);
}

TEST(NtfsFixUp, RepairsEveryBlockTailAndRefusesEmptyLookingOrShortBuffers) {
    for (size_t nSize : {size_t(1024), size_t(4096)}) {
        auto rec = MakeRecord(nSize);
        CNtfsParse parse;
        parse.Init(nSize == 1024 ? 512 : 4096);
        ASSERT_EQ(parse.GetRecordSize(), static_cast<int>(nSize));
        for (size_t i = 0; i < nSize / 512; ++i)
            PutLE(rec, FR_UPDATE_SEQUENCE_ARRAY + 2 * i, static_cast<uint16_t>(0xA000 + i), 2);
        ASSERT_EQ(parse.FileRecordFixUp(rec.data(), rec.size()), 0);
        for (size_t i = 0; i < nSize / 512; ++i) {
            EXPECT_EQ(rec[(i + 1) * 512 - 2], i) << i;
            EXPECT_EQ(rec[(i + 1) * 512 - 1], 0xA0) << i;
        }
    }
    CNtfsParse parse;
    parse.Init(512);
    std::vector<uint8_t> empty(1024, 0);
    empty[510] = 0x55;
    EXPECT_EQ(parse.FileRecordFixUp(empty.data(), empty.size()), -1);
    EXPECT_EQ(empty[510], 0x55);
    EXPECT_EQ(parse.FileRecordFixUp(nullptr, 1024), -1);
    auto rec = MakeRecord(1024);
    EXPECT_EQ(parse.FileRecordFixUp(rec.data(), 600), -1);
}

TEST(NtfsFileRecord, PlausibilityChecksSizesAndSequence) {
    auto rec = MakeRecord(1024);
    EXPECT_TRUE(IsNtfsFileRecord(rec.data(), rec.size(), 1024));
    EXPECT_FALSE(IsNtfsFileRecord(rec.data(), rec.size(), 4096));
    auto inUse = rec;
    PutLE(inUse, FR_BYTES_IN_USE, 1025, 4);
    EXPECT_FALSE(IsNtfsFileRecord(inUse.data(), inUse.size(), 1024));
    auto torn = rec;
    PutLE(torn, 510, 0x0008, 2);
    EXPECT_FALSE(IsNtfsFileRecord(torn.data(), torn.size(), 1024));
    EXPECT_FALSE(IsNtfsFileRecord(rec.data(), 300, 1024));
}

TEST(NtfsFileRecord, DefaultClusterSizesFollowTheVolumeSize) {
    constexpr uint64_t MB = 2048; // 512-byte sectors per megabyte
    EXPECT_EQ(GetDefaultNtfsSectorPerCluster(5 * MB, 512), 8);
    EXPECT_EQ(GetDefaultNtfsSectorPerCluster(100 * MB, 512), 1);
    EXPECT_EQ(GetDefaultNtfsSectorPerCluster(2097152, 512), 2);
    EXPECT_EQ(GetDefaultNtfsSectorPerCluster(1536 * MB, 512), 4);
    EXPECT_EQ(GetDefaultNtfsSectorPerCluster(3072 * MB, 512), 8);
}

TEST(NtfsAttributeWalk, DecodesTheFileNameAndCorruptLengthsEndTheWalkInsideTheBound) {
    auto rec = MakeRecord(1024);
    CNtfsParse parse;
    parse.Init(512);
    ASSERT_EQ(parse.FileRecordFixUp(rec.data(), rec.size()), 0);
    auto attr = FindNtfsAttribute(rec.data(), rec.size(), 1024, ATTR_TYPE_FILE_NAME);
    ASSERT_TRUE(attr);
    auto name = DecodeNtfsFileName(rec.data(), rec.size(), *attr);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->strName, "ab");
    EXPECT_EQ(name->nParentRecord, 5u);
    EXPECT_FALSE(FindNtfsAttribute(rec.data(), rec.size(), 1024, ATTR_TYPE_DATA));
    rec = MakeRecord(1024);
    // A length that runs past the bytes in use, then one too short to hold a header.
    for (uint32_t nBad : {0x7FFFFFF0u, 4u, 0u}) {
        auto bad = rec;
        PutLE(bad, FIRST_ATTR_AT + ATTR_LENGTH, nBad, 4);
        CNtfsAttributeWalk walk(bad.data(), bad.size(), GetNtfsRecordBytesInUse(bad.data(), 1024));
        EXPECT_FALSE(walk.Next()) << nBad;
    }
    // A name length that claims more units than the content holds.
    auto longName = rec;
    longName[FIRST_ATTR_AT + 0x18 + FN_NAME_LENGTH] = 200;
    attr = FindNtfsAttribute(longName.data(), 1024, 1024, ATTR_TYPE_FILE_NAME);
    ASSERT_TRUE(attr);
    EXPECT_FALSE(DecodeNtfsFileName(longName.data(), 1024, *attr));
}

TEST(NtfsAttributeList, NamesEachRecordOfTheTypeOnceInListOrder) {
    // Entries: data in 64, file name in 66, data in 68, named data in 70, data in 68 again.
    std::vector<uint8_t> vecList;
    auto addEntry = [&](uint32_t nType, uint32_t nRecord, uint8_t nNameLength) {
        std::vector<uint8_t> entry(0x20, 0);
        PutLE(entry, AL_TYPE, nType, 4);
        PutLE(entry, AL_LENGTH, 0x20, 2);
        entry[AL_NAME_LENGTH] = nNameLength;
        PutLE(entry, AL_REFERENCE, nRecord, 4);
        entry[AL_REFERENCE + 6] = 0x05; // sequence number, not part of the record number
        vecList.insert(vecList.end(), entry.begin(), entry.end());
    };
    addEntry(ATTR_TYPE_DATA, 64, 0);
    addEntry(ATTR_TYPE_FILE_NAME, 66, 0);
    addEntry(ATTR_TYPE_DATA, 68, 0);
    addEntry(ATTR_TYPE_DATA, 70, 4);
    addEntry(ATTR_TYPE_DATA, 68, 0);
    EXPECT_EQ(GetNtfsListedRecords(vecList.data(), vecList.size(), ATTR_TYPE_DATA),
              (std::vector<uint32_t>{64, 68}));
    EXPECT_EQ(GetNtfsListedRecords(vecList.data(), vecList.size(), ATTR_TYPE_FILE_NAME),
              std::vector<uint32_t>{66});
    // A zero-length entry ends the list instead of looping on it.
    PutLE(vecList, 0x20 + AL_LENGTH, 0, 2);
    EXPECT_EQ(GetNtfsListedRecords(vecList.data(), vecList.size(), ATTR_TYPE_DATA),
              std::vector<uint32_t>{64});
}

TEST(NtfsRecordSummary, LongNameWinsOverShortAndPosixNamesStay) {
    constexpr uint8_t POSIX = 0, DOS = 2, BOTH = 3;
    EXPECT_EQ(DisplayName({{"LONGFI~1.TXT", DOS}, {"Long file.txt", FN_NAME_SPACE_WIN32}}),
              "Long file.txt");
    EXPECT_EQ(DisplayName({{"Long file.txt", FN_NAME_SPACE_WIN32}, {"LONGFI~1.TXT", DOS}}),
              "Long file.txt");
    EXPECT_EQ(DisplayName({{"posix name", POSIX}}), "posix name");
    EXPECT_EQ(DisplayName({{"first", POSIX}, {"SHORT.TXT", BOTH}}), "first");
}
