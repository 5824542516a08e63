// Shared step of the fast NTFS engine tests: scan an image.
#pragma once

#include "ntfs/CFastNtfsRecovery.h"

#include <memory>
#include <string>

// Scans the image through the disk registry; null (with a test failure) when that fails.
std::unique_ptr<CFastNtfsRecovery> ScanNtfsImage(const std::string& strImage);
