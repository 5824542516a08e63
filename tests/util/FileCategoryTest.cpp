// Category of an extension and the recovery folder of a name.
#include "util/FileCategory.h"

#include <gtest/gtest.h>

namespace {

TEST(FileCategory, ListsAreSearchedAsSubstringsInOrder) {
    EXPECT_EQ(GetFileCategory("JPG"), FileCategory::Photo);
    EXPECT_EQ(GetFileCategory("jp"), FileCategory::Photo); // ".jp" lies inside ".jpg"
    EXPECT_EQ(GetFileCategory("tiff"), FileCategory::Photo);
    EXPECT_EQ(GetFileCategory("mp3"), FileCategory::Music);
    EXPECT_EQ(GetFileCategory("doc"), FileCategory::Office);
    EXPECT_EQ(GetFileCategory("rmvb"), FileCategory::Video);
    EXPECT_EQ(GetFileCategory("rtf"), FileCategory::Office);
    EXPECT_EQ(GetFileCategory("avi"), FileCategory::Video); // an item, though ".avif" holds it
    EXPECT_EQ(GetFileCategory("fla"), FileCategory::Video); // an item, though ".flac" holds it
    EXPECT_EQ(GetFileCategory("m4b"), FileCategory::Music);
    EXPECT_EQ(GetFileCategory("heic"), FileCategory::Photo);
    EXPECT_EQ(GetFileCategory("zst"), FileCategory::Archive);
    EXPECT_EQ(GetFileCategory("zip"), FileCategory::Archive);
    EXPECT_EQ(GetFileCategory("m"), FileCategory::Other); // ".m" is too short
    EXPECT_EQ(GetFileCategory("xyz"), FileCategory::Other);
    EXPECT_STREQ(GetCategoryName(FileCategory::Archive), "Archive");
}

TEST(FileCategory, RecoveryFolders) {
    EXPECT_EQ(GetDirTypeByFileName("a.jpg"), "photo");
    EXPECT_EQ(GetDirTypeByFileName("b.mp3"), "audio");
    EXPECT_EQ(GetDirTypeByFileName("c.pdf"), "document");
    EXPECT_EQ(GetDirTypeByFileName("d.avi"), "video");
    EXPECT_EQ(GetDirTypeByFileName("e.7z"), "archive");
    EXPECT_EQ(GetDirTypeByFileName("README"), "others");
}

} // namespace
