// SHA-256 against the published test vectors and sha256sum.
#include "fixtures/FixtureUtil.h"
#include "util/CSha256.h"

#include <gtest/gtest.h>

namespace {

std::string Digest(const std::string& strText) {
    CSha256 sha;
    sha.Update(strText.data(), strText.size());
    return sha.FinalHex();
}

TEST(Sha256, KnownVectorsAndFiles) {
    EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    CTempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("f"), PatternBytes(100000, 5)));
    ASSERT_TRUE(RunShell("sha256sum " + dir.File("f") + " | cut -c1-64 > " + dir.File("s")));
    EXPECT_EQ(CSha256::OfFile(dir.File("f")) + "\n", ReadFileText(dir.File("s")));
    EXPECT_EQ(CSha256::OfFile(dir.File("missing")), "");
}

} // namespace
