// Size and time texts, names, paths, free destination names and text conversion.
#include "util/TextUtil.h"
#include "fixtures/FixtureUtil.h"
#include "util/ByteView.h"
#include "util/CSafeOutputFile.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(TextUtil, SizeAndTimeTexts) {
    EXPECT_EQ(GetFileSizeString(1023), "1023 Bytes");
    EXPECT_EQ(GetFileSizeString(1024), "1.00 KB");
    EXPECT_EQ(GetFileSizeString(1048576), "1.00 MB");
    EXPECT_EQ(GetFileSizeString(3LL << 30), "3.00 GB");
    EXPECT_EQ(GetFileSizeString(5LL << 40), "5.00 TB");
    EXPECT_EQ(GetTimeString(59), "59 Sec");
    EXPECT_EQ(GetTimeString(61), "1 Min 1 Sec");
    EXPECT_EQ(GetTimeString(3725), "1 Hour 2 Min");
}

TEST(TextUtil, ExtensionsAndPathSplitting) {
    char szExt[16];
    EXPECT_EQ(GetExtendName("archive.tar.gz", szExt, sizeof(szExt)), 0);
    EXPECT_STREQ(szExt, "gz");
    EXPECT_EQ(GetExtendName("README", szExt, sizeof(szExt)), 87);

    std::string strDrive, strDir, strName, strExt;
    _splitpath("/a/b.d/file", strDrive, strDir, strName, strExt);
    EXPECT_EQ(strDir, "/a/b.d/");
    EXPECT_EQ(strName, "file");
    EXPECT_EQ(strExt, "");
    _splitpath("/a/b/", strDrive, strDir, strName, strExt);
    EXPECT_EQ(strDir, "/a/b/");
    EXPECT_TRUE(strName.empty() && strExt.empty() && strDrive.empty());
    _splitpath("x.tar.gz", strDrive, strDir, strName, strExt);
    EXPECT_EQ(strName, "x.tar");
    EXPECT_EQ(strExt, ".gz");

    int nCount = 0;
    GetPathDirIndex(u"/home/user/", nCount);
    EXPECT_EQ(nCount, 2);
    GetPathDirIndex(u"/home/user", nCount);
    EXPECT_EQ(nCount, 2);
    GetPathDirIndex(u"C:\\a\\b", nCount);
    EXPECT_EQ(nCount, 2);
}

TEST(TextUtil, TakenNamesGetTheNextFreeNumber) {
    CTempDir dir;
    std::string strPath = dir.File("a.jpg");
    EXPECT_EQ(GetRealFileName(strPath), strPath);
    ASSERT_TRUE(WriteFileBytes(strPath, {1}));
    EXPECT_EQ(GetRealFileName(strPath), dir.File("a(1).jpg"));
    ASSERT_TRUE(WriteFileBytes(dir.File("a(1).jpg"), {1}));
    char16_t wszOut[512];
    ASSERT_EQ(GetRealFileName(strPath.c_str(), wszOut, 512), 0);
    EXPECT_EQ(Unicode2Ansi(wszOut), dir.File("a(2).jpg"));
    // A partial copy left by an earlier run holds its name too.
    ASSERT_TRUE(WriteFileBytes(dir.File("b.jpg.part"), {1}));
    EXPECT_EQ(GetRealFileName(dir.File("b.jpg")), dir.File("b(1).jpg"));

    // A name of 255 bytes stays whole; its "(1)" form shortens the stem and keeps ".jpg", and
    // a three-byte character is never cut in half.
    std::string strLong = std::string(249, 'x') + "\xE6\x97\xA5.jpg"; // 249 + 3 + 4 bytes
    ASSERT_EQ(strLong.size(), 256u);
    std::string strFitted = FitFileName(strLong, 255);
    EXPECT_EQ(strFitted, std::string(249, 'x') + ".jpg");
    ASSERT_TRUE(WriteFileBytes(dir.File(strFitted), {1}));
    std::string strFree = GetRealFileName(dir.File(strFitted));
    std::string strFreeName = strFree.substr(dir.Path().size() + 1);
    EXPECT_LE(strFreeName.size(), 255u);
    EXPECT_TRUE(strFreeName.ends_with("(1).jpg")) << strFreeName;
    EXPECT_TRUE(WriteFileBytes(strFree, {2}));
}

TEST(TextUtil, NamesAndTextAreCutAndEscapedAtCharacterBoundaries) {
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(FitFileName("short.txt", 255), "short.txt");
    EXPECT_EQ(MakeSafeFileName(".."), "_..");
    EXPECT_EQ(MakeSafeFileName("a/b"), "a_b");
    // Bytes that are not UTF-8 (a lone continuation, an overlong '/', a surrogate) become U+FFFD.
    EXPECT_EQ(MakeValidUtf8("a\x80"
                            "b\xC0\xAF\xED\xA0\x80"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(EscapeControlChars("a\x1B[2Jb\xC2\x85\x7F"), "a\\x1B[2Jb\\u0085\\x7F");
}

TEST(TextUtil, ConversionsAreLosslessAndBounded) {
    ASSERT_EQ(inner_initUnicodeMap("UTF-8"), 0);
    EXPECT_EQ(inner_initUnicodeMap("NO-SUCH-CODESET"), -1);
    EXPECT_EQ(Unicode2Ansi(u"Müller 東京.jpg"), "Müller 東京.jpg");
    EXPECT_EQ(Ansi2Unicode("Müller 東京.jpg"), u"Müller 東京.jpg");
    char szSmall[4];
    EXPECT_EQ(Unicode2Ansi(u"abcdef", szSmall, sizeof(szSmall)), 0);
    EXPECT_STREQ(szSmall, "abc");
    char16_t wszSmall[3];
    EXPECT_EQ(Ansi2Unicode("abcdef", wszSmall, 3), 0);
    EXPECT_EQ(std::u16string(wszSmall), u"ab");

    const uint8_t utf16le[] = {'M', 0, 0xFC, 0, 0x00, 0xD8, 'x', 0}; // unpaired surrogate
    EXPECT_EQ(Utf16LEToUtf8(utf16le, 4), "Mü\xEF\xBF\xBDx");
    const char gbk[] = "\xC4\xE3\xBA\xC3.TXT"; // "你好" in GBK
    EXPECT_EQ(GbkToUtf8(gbk, sizeof(gbk) - 1), "你好.TXT");

    char szLower[] = "AbC.JPG";
    EXPECT_EQ(Convert2Lowercase(szLower), 7);
    EXPECT_STREQ(szLower, "abc.jpg");
    char szBlank[] = "NAME    ";
    EXPECT_NO_FATAL_FAILURE(EraseStringTailBlankChar(szBlank, 8));
    EXPECT_STREQ(szBlank, "NAME");
}

TEST(ByteView, LoadsNeverLeaveTheBuffer) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    CByteView view(bytes, sizeof(bytes));
    EXPECT_EQ(*view.U32LE(0), 0x04030201u);
    EXPECT_EQ(*view.U32BE(1), 0x02030405u);
    EXPECT_FALSE(view.U32LE(2).has_value());
    EXPECT_FALSE(view.U16LE(SIZE_MAX).has_value());
    EXPECT_FALSE(view.Slice(4, SIZE_MAX).has_value());
    const uint8_t pattern[] = {0x04, 0x05};
    EXPECT_EQ(*view.Find(pattern, 2), 3u);
    EXPECT_FALSE(view.Find(pattern, 2, 4).has_value());
}

namespace fs = std::filesystem;

TEST(SafeOutputFile, WritesUnderAPartNameAndNeverReplacesAnything) {
    CTempDir dir;
    std::string strPath = dir.File("out.bin");
    ASSERT_TRUE(WriteFileBytes(strPath, {9, 9}));
    CSafeOutputFile file;
    EXPECT_EQ(file.Create(strPath), EEXIST);
    EXPECT_EQ(ReadFileBytes(strPath), (std::vector<uint8_t>{9, 9}));

    // Only a committed file has its name; until then it is "new.bin.part".
    std::vector<uint8_t> vecData = PatternBytes(300000, 3);
    std::string strNew = dir.File("new.bin");
    ASSERT_EQ(file.Create(strNew), 0);
    ASSERT_EQ(file.Write(vecData.data(), vecData.size()), 0);
    EXPECT_FALSE(fs::exists(strNew));
    EXPECT_TRUE(fs::exists(strNew + ".part"));
    ASSERT_EQ(file.Commit(), 0);
    EXPECT_EQ(ReadFileBytes(strNew), vecData);
    EXPECT_FALSE(fs::exists(strNew + ".part"));
    struct stat st;
    ASSERT_EQ(stat(strNew.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // A name taken while the file was written is not replaced; the partial file goes.
    std::string strRace = dir.File("race.bin");
    ASSERT_EQ(file.Create(strRace), 0);
    ASSERT_TRUE(WriteFileBytes(strRace, {7}));
    EXPECT_EQ(file.Commit(), EEXIST);
    EXPECT_EQ(ReadFileBytes(strRace), (std::vector<uint8_t>{7}));
    EXPECT_FALSE(fs::exists(strRace + ".part"));

    // Not committed: removed, or kept as ".part" when asked.
    {
        CSafeOutputFile dropped;
        ASSERT_EQ(dropped.Create(dir.File("dropped.bin")), 0);
    }
    EXPECT_FALSE(fs::exists(dir.File("dropped.bin.part")));
    CSafeOutputFile::SetKeepPartial(true);
    {
        CSafeOutputFile kept;
        ASSERT_EQ(kept.Create(dir.File("kept.bin")), 0);
    }
    CSafeOutputFile::SetKeepPartial(false);
    EXPECT_TRUE(fs::exists(dir.File("kept.bin.part")));
    EXPECT_FALSE(fs::exists(dir.File("kept.bin")));

    // Folders: 0755, an existing one is fine; a file or a symlink in their place is refused.
    ASSERT_EQ(MakeRecoveryDir(dir.File("folder")), 0);
    EXPECT_EQ(MakeRecoveryDir(dir.File("folder")), 0);
    ASSERT_EQ(stat(dir.File("folder").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(MakeRecoveryDir(strPath), EEXIST);
    ASSERT_EQ(symlink(dir.Path().c_str(), dir.File("link").c_str()), 0);
    EXPECT_EQ(MakeRecoveryDir(dir.File("link")), ELOOP);
    EXPECT_EQ(file.Create(dir.File("link") + "/a.jpg"), ELOOP);
}

} // namespace
