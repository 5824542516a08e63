// Whole-file proofs on the committed samples (made by real tools), and on twins whose second
// half is another file's bytes: what a contiguous read of a file fragmented there gives back.
#include "fixtures/FixtureUtil.h"
#include "formats/proof/CFileProof.h"
#include "util/TextUtil.h"

#include <gtest/gtest.h>

namespace {

struct PROOF_CASE {
    const char* pSample;
    PROOF_STATE whole; // what the intact sample proves
};

const PROOF_CASE CASES[] = {
    {"sample.png", PROOF_STATE::WHOLE},
    {"sample_big.jpg", PROOF_STATE::WHOLE},
    {"sample_progressive.jpg", PROOF_STATE::WHOLE},
    {"sample_restart.jpg", PROOF_STATE::WHOLE},
    {"sample_exifthumb.jpg", PROOF_STATE::WHOLE},
    {"sample.zip", PROOF_STATE::WHOLE},
    {"sample_stream.zip", PROOF_STATE::WHOLE},
    {"sample.docx", PROOF_STATE::WHOLE},
    {"sample.odt", PROOF_STATE::WHOLE},
    {"sample.gz", PROOF_STATE::WHOLE},
    {"sample_multi.gz", PROOF_STATE::WHOLE},
    {"sample.pdf", PROOF_STATE::WHOLE},
    {"sample_incremental.pdf", PROOF_STATE::WHOLE},
    {"sample.flac", PROOF_STATE::WHOLE},
    {"sample.ogg", PROOF_STATE::WHOLE},
    {"sample.opus", PROOF_STATE::WHOLE},
    {"sample_mpeg1.mp3", PROOF_STATE::WHOLE},
    {"sample.mp3", PROOF_STATE::WHOLE},
    // The box walk and the video samples' NAL lengths cannot see into the media data: at best
    // they find nothing wrong.
    {"sample_moovend.mp4", PROOF_STATE::UNCHECKED},
    {"sample.mov", PROOF_STATE::UNCHECKED},
    {"sample_h264.mp4", PROOF_STATE::UNCHECKED},
};

const char* Name(PROOF_STATE state) {
    return state == PROOF_STATE::WHOLE ? "whole"
                                       : (state == PROOF_STATE::DAMAGED ? "damaged" : "unchecked");
}

} // namespace

TEST(FileProofTest, SamplesProveWholeAndTheirFragmentedTwinsDamaged) {
    for (const PROOF_CASE& test : CASES) {
        std::vector<uint8_t> bytes =
            ReadFileBytes(TestDataPath(std::string("samples/") + test.pSample));
        ASSERT_FALSE(bytes.empty()) << test.pSample;
        const std::string strExt = GetLowerExtension(test.pSample);
        EXPECT_STREQ(Name(test.whole),
                     Name(CFileProof::Prove(bytes.data(), bytes.size(), strExt.c_str())))
            << test.pSample;
        EXPECT_STREQ(Name(test.whole),
                     Name(CFileProof::Prove(bytes.data(), bytes.size(), strExt.c_str(),
                                            PROOF_DEPTH::STRUCTURE)))
            << test.pSample << ", structure only";
        std::vector<uint8_t> foreign = PatternBytes(bytes.size(), 7);
        std::copy(foreign.begin() + bytes.size() / 2, foreign.end(),
                  bytes.begin() + bytes.size() / 2);
        EXPECT_STREQ("damaged", Name(CFileProof::Prove(bytes.data(), bytes.size(), strExt.c_str())))
            << test.pSample << " with its second half foreign";
        EXPECT_STREQ("damaged", Name(CFileProof::Prove(bytes.data(), bytes.size(), strExt.c_str(),
                                                       PROOF_DEPTH::STRUCTURE)))
            << test.pSample << " with its second half foreign, structure only";
    }
}

TEST(FileProofTest, TextBetweenTwoPiecesOfAJpegIsFoundByDecoding) {
    // Text has no FF byte: read in a row, the pieces and the text between them pass every
    // structural check of the coded data.
    std::vector<uint8_t> jpeg = ReadFileBytes(TestDataPath("samples/sample_exifthumb.jpg"));
    ASSERT_GT(jpeg.size(), 1000u);
    EXPECT_EQ(PROOF_STATE::WHOLE,
              CFileProof::Prove(jpeg.data(), jpeg.size(), "jpg", PROOF_DEPTH::STRUCTURE));
    const std::string strText(8192, 'a');
    jpeg.insert(jpeg.end() - 200, strText.begin(), strText.end());
    EXPECT_EQ(PROOF_STATE::DAMAGED,
              CFileProof::Prove(jpeg.data(), jpeg.size(), "jpg", PROOF_DEPTH::STRUCTURE));
}

TEST(FileProofTest, OneFlippedByteIsFoundWhereAChecksumCoversIt) {
    for (const char* pSample :
         {"sample.png", "sample.zip", "sample.gz", "sample.flac", "sample.ogg"}) {
        std::vector<uint8_t> bytes = ReadFileBytes(TestDataPath(std::string("samples/") + pSample));
        ASSERT_GT(bytes.size(), 200u);
        bytes[bytes.size() / 3] ^= 0x10;
        for (PROOF_DEPTH depth : {PROOF_DEPTH::DECODE, PROOF_DEPTH::STRUCTURE})
            EXPECT_EQ(PROOF_STATE::DAMAGED,
                      CFileProof::Prove(bytes.data(), bytes.size(),
                                        GetLowerExtension(pSample).c_str(), depth))
                << pSample;
    }
    const uint8_t text[] = "plain text has no proof";
    EXPECT_EQ(PROOF_STATE::UNCHECKED, CFileProof::Prove(text, sizeof(text), "txt"));
    EXPECT_STREQ("unchecked", CFileProof::GetStateName(1));
    EXPECT_STREQ("damaged", CFileProof::GetStateName(0));
}
