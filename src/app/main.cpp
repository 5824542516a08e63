// orvanne: the desktop application. Without the single argument "start" it only asks for
// administrator rights and starts itself again with it.
#include "app/AppStartup.h"
#include "store/CLogFileManager.h"
#include "ui/DRUI.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <QApplication>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int PRIVILEGED_ARGC = 2;

int RunRelaunch(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(customMessageHandler);
    RelaunchWithPrivileges(QCoreApplication::applicationFilePath());
    return 0;
}

int RunApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    qInstallMessageHandler(customMessageHandler);
    SetDebugLogSink(LogLineToQDebug);
    const int nOutFd = ::open(OUT_FILE_NAME, O_RDWR | O_CREAT, 0644);
    if (nOutFd >= 0)
        ::dup2(nOutFd, STDERR_FILENO);
    if (inner_initUnicodeMap("UTF-8") != 0)
        DebugLog("inner_initUnicodeMap failed\n");
    {
        DRUI window;
        window.Init();
        window.show();
        QApplication::exec();
    }
    DeleteTmpFile(CLogFileManager::GetScanLogRoot().c_str());
    if (nOutFd >= 0) {
        ::close(nOutFd);
        ::unlink(OUT_FILE_NAME);
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != PRIVILEGED_ARGC)
        return RunRelaunch(argc, argv);
    return RunApplication(argc, argv);
}
