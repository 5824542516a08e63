// The category lists shared by the desktop application and the command-line tool.
#include "util/FileCategory.h"

#include "util/TextUtil.h"

#include <cstring>

const char* const PHOTO_PATTERN =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|"
    "*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|"
    "*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm|*.icns|*.heic|*.heif|"
    "*.avif|*.webp|*.cr3|*.rw2|*.cur|";
const char* const MUSIC_PATTERN =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|"
    "*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd|*.flac|*.opus|*.spx|*.oga|*.m4b|*.aac|*.aif|*.aifc|"
    "*.mp2|*.mp1|*.mmf";
const char* const VIDEO_PATTERN =
    "*.rmvb|*.rm|*.mpeg|*.mpg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|"
    "*.3g2|*.mkv|*.webm|*.mts|*.m2ts|*.ts|*.ogv|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|"
    "*.vid|*.tod|*.hdmov|*.mod|*.mxf|*.lrv|";
const char* const OFFICE_PATTERN =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.odp|*.odg|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|"
    "*.chm|*.htm|*.html|*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb|*.rtf|*.epub|"
    "*.xps";
const char* const ARCHIVE_PATTERN = "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|"
                                    "*.uue|*.bz2|*.xz|*.zst|*.jar|*.iso|*.exe|*.dmg|";
const char* const MIXED_PATTERN =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|"
    "*.ppsm|*.odp|*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|"
    "*.msg|*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";
const char* const OTHER_PATTERN = ".other";

namespace {

constexpr size_t MIN_DOTTED_EXTENSION = 3;

struct CCategoryList {
    const char* const* ppPattern;
    FileCategory category;
};

// Searched in this order; the mixed list counts as archives.
constexpr CCategoryList CATEGORY_LISTS[] = {
    {&PHOTO_PATTERN, FileCategory::Photo},     {&MUSIC_PATTERN, FileCategory::Music},
    {&OFFICE_PATTERN, FileCategory::Office},   {&VIDEO_PATTERN, FileCategory::Video},
    {&ARCHIVE_PATTERN, FileCategory::Archive}, {&MIXED_PATTERN, FileCategory::Archive},
};

} // namespace

// True when the list holds the extension as a whole item ("*.ext" before "|" or the end).
bool ListsWholeItem(const char* pList, const std::string& strItem) {
    for (const char* pAt = std::strstr(pList, strItem.c_str()); pAt != nullptr;
         pAt = std::strstr(pAt + 1, strItem.c_str())) {
        const char cAfter = pAt[strItem.size()];
        if (cAfter == '|' || cAfter == '\0')
            return true;
    }
    return false;
}

FileCategory GetFileCategory(const std::string& strExtension) {
    std::string strDotted = "." + strExtension;
    GetCharLowerA(strDotted.data());
    if (strDotted.size() < MIN_DOTTED_EXTENSION)
        return FileCategory::Other;
    // A whole item first, so that ".avi" is not taken for ".avif" nor ".fla" for ".flac".
    for (const CCategoryList& list : CATEGORY_LISTS)
        if (ListsWholeItem(*list.ppPattern, "*" + strDotted))
            return list.category;
    for (const CCategoryList& list : CATEGORY_LISTS)
        if (std::strstr(*list.ppPattern, strDotted.c_str()) != nullptr)
            return list.category;
    return FileCategory::Other;
}

const char* GetCategoryName(FileCategory category) {
    static const char* const NAMES[FILE_CATEGORY_COUNT] = {"Photo", "Music",   "Office",
                                                           "Video", "Archive", "Other"};
    return NAMES[static_cast<int>(category)];
}

FileCategory GetFileCategoryOfName(const char* pFileName) {
    return GetFileCategory(GetLowerExtension(pFileName));
}

std::string GetDirTypeByFileName(const char* pFileName) {
    static const char* const FOLDERS[FILE_CATEGORY_COUNT] = {"photo", "audio",   "document",
                                                             "video", "archive", "others"};
    return FOLDERS[static_cast<int>(GetFileCategoryOfName(pFileName))];
}
