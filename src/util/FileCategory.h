// File kinds: the search patterns of each kind and the category of an extension.
#pragma once

#include <string>

// Search patterns, "*.ext" items joined with "|".
extern const char* const PHOTO_PATTERN;
extern const char* const MUSIC_PATTERN;
extern const char* const VIDEO_PATTERN;
extern const char* const OFFICE_PATTERN;
extern const char* const ARCHIVE_PATTERN;
extern const char* const MIXED_PATTERN;
// Files of unknown or no extension (the stores read this mark).
extern const char* const OTHER_PATTERN;

enum class FileCategory { Photo, Music, Office, Video, Archive, Other };
constexpr int FILE_CATEGORY_COUNT = 6;

// The category of an extension (no dot): the first list holding it as an item, else the first
// holding ".ext" as a substring (so ".jp" is a photo); fewer than 3 characters with the dot is
// Other.
FileCategory GetFileCategory(const std::string& strExtension);
// The category of a file name's extension; Other without one.
FileCategory GetFileCategoryOfName(const char* pFileName);
// "Photo", "Music", "Office", "Video", "Archive", "Other".
const char* GetCategoryName(FileCategory category);
// The recovery folder of a file name: "photo", "audio", "document", "video", "archive", "others".
std::string GetDirTypeByFileName(const char* pFileName);
