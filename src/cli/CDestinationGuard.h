// Whether recovered files may be written into a folder without touching what is being recovered.
#pragma once

#include <string>

// The folder must not lie on the disk or partition being read (nor on one built from it: a
// partition of it, a device-mapper volume over it), nor on a mount of the image being read
// (a FUSE mount of the file, or a loop device backed by it).
class CDestinationGuard {
public:
    // strTarget: the device or image path being read; strFolder: an existing folder. "" when
    // writing there is safe, else the reason it is not.
    static std::string WhyUnsafe(const std::string& strTarget, const std::string& strFolder);
};
