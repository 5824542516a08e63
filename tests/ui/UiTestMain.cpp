// Runs every desktop-application test class under one QApplication, with a private scan-log root.
#include "UiTestSupport.h"

#include "fixtures/FixtureUtil.h"
#include "util/TextUtil.h"

#include <QApplication>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CScanLogDirScope scanLogDir;
    inner_initUnicodeMap("UTF-8");
    int nFailed = 0;
    for (auto pRun : {RunCMessageBoxTest, RunScanUiTest, RunDruiPagesTest, RunDruiScanTest,
                      RunResultPageTest, RunDemoScanTest, RunAppStartupTest})
        nFailed += pRun(argc, argv);
    return nFailed == 0 ? 0 : 1;
}
