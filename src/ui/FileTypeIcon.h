// Extension keys and icons of found files on the result page.
#pragma once

#include <QString>

#include <cstddef>

// The key of files without an extension.
constexpr const char* NO_EXTENSION_KEY = "unKnow";

// The extension key of a file name: lower case, without the dot; "unKnow" when there is none.
QString GetExtensionKey(const char* pFileName);
// The icon resource of an extension: the category default, replaced by a table row that names it.
QString GetExtendNameIcon(const QString& strExtension);
