// Sorting of found files into the result page's categories, their icons and recovery folders.
#pragma once

#include <QString>

#include <cstddef>

enum FILE_CATEGORY {
    CATEGORY_PHOTO,
    CATEGORY_MUSIC,
    CATEGORY_OFFICE,
    CATEGORY_VIDEO,
    CATEGORY_ARCHIVE,
    CATEGORY_OTHER,
    CATEGORY_COUNT
};

// The key of files without an extension.
constexpr const char* NO_EXTENSION_KEY = "unKnow";
constexpr size_t FILE_NAME_EXT_BYTES = 256;

// The category of an extension (without its dot), found as a substring of the kind lists.
FILE_CATEGORY GetFileCategory(const QString& strExtension);
// "Photo", "Music", "Office", "Video", "Archive" or "Other".
QString GetCategoryName(FILE_CATEGORY nCategory);
// The extension key of a file name: lower case, without the dot; "unKnow" when there is none.
QString GetExtensionKey(const char* pFileName);
// The icon resource of an extension: the category default, replaced by a table row that names it.
QString GetExtendNameIcon(const QString& strExtension);
// The recovery folder of a file name: "photo", "audio", "document", "video", "archive", "others".
void GetDirTypeByFileName(const char* pFileName, char* pDirOut, size_t nCapacity);
