// Shared step of the fast NTFS engine tests.
#include "NtfsTestUtil.h"

#include "device/CDiskRegistry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

std::unique_ptr<CFastNtfsRecovery> ScanNtfsImage(const std::string& strImage) {
    int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    struct stat st {};
    if (nDisk < 0 || stat(strImage.c_str(), &st) != 0) {
        ADD_FAILURE() << "image not registered: " << strImage;
        return nullptr;
    }
    auto pEngine = std::make_unique<CFastNtfsRecovery>();
    int rc = pEngine->Init(nDisk, 0, st.st_size / 512, u'C');
    if (rc == 0)
        rc = pEngine->ScanDevice(nullptr);
    if (rc != 0) {
        ADD_FAILURE() << "scan of " << strImage << " returned " << rc;
        return nullptr;
    }
    return pEngine;
}
