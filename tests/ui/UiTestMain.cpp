// Runs one desktop-application test class, named by the first argument (its file's name), under a
// QApplication with a private scan-log root; ctest runs each class as a test of its own.
#include "UiTestSupport.h"

#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

using RunTestClass = int (*)(int, char**);

const std::pair<const char*, RunTestClass> TEST_CLASSES[] = {
    {"ScanUiTest", RunScanUiTest},
    {"DruiPagesTest", RunDruiPagesTest},
    {"DruiScanTest", RunDruiScanTest},
    {"ResultPageTest", RunResultPageTest},
    {"DemoScanTest", RunDemoScanTest},
    {"AppStartupTest", RunAppStartupTest},
    {"ResultBrowserTest", RunResultBrowserTest},
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: test_ui CLASS [Qt Test options]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CScanLogDirScope scanLogDir;
    inner_initUnicodeMap("UTF-8");
    for (const auto& [pName, pRun] : TEST_CLASSES)
        if (std::strcmp(argv[1], pName) == 0)
            return pRun(argc - 1, argv + 1) == 0 ? 0 : 1;
    std::fprintf(stderr, "test_ui: no test class %s\n", argv[1]);
    return 2;
}
