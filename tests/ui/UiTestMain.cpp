// Runs one desktop-application test class, named by the first argument (its file's name), under a
// QApplication with a private scan-log root and a partitioned test image; ctest runs each class
// as a test of its own.
#include "UiTestSupport.h"

#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <QApplication>

#include <cstdio>
#include <map>
#include <string>

namespace {

using RunTestClass = int (*)(int, char**);

std::map<std::string, RunTestClass>& TestClasses() {
    static std::map<std::string, RunTestClass> s_mapClasses;
    return s_mapClasses;
}

int s_nTestDiskNo = -1;
std::string s_strTestDiskFolder;

} // namespace

int TestDiskNo() {
    return s_nTestDiskNo;
}

const std::string& TestDiskFolder() {
    return s_strTestDiskFolder;
}

bool RegisterUiTestClass(const char* pName, RunTestClass pRun) {
    return TestClasses().emplace(pName, pRun).second;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: test_ui CLASS [Qt Test options]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CScanLogDirScope scanLogDir;
    inner_initUnicodeMap("UTF-8");
    CTempDir diskFolder;
    s_strTestDiskFolder = diskFolder.Path();
    s_nTestDiskNo = CDiskRegistry::GetInstance().AddImage(
        MakePartitionedImage(diskFolder.File("disk.img"), 8, "start=2048, size=8192\\n"));
    if (s_nTestDiskNo < 0) {
        std::fprintf(stderr, "test_ui: the partitioned test image could not be made\n");
        return 1;
    }
    if (auto it = TestClasses().find(argv[1]); it != TestClasses().end())
        return it->second(argc - 1, argv + 1) == 0 ? 0 : 1;
    std::fprintf(stderr, "test_ui: no test class %s\n", argv[1]);
    return 2;
}
