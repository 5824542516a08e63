// Start-up helpers: message handler, temporary-file sweep and the pkexec re-launch.
#include "app/AppStartup.h"

#include "util/DebugLog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr const char* TMP_MARK = "tmp.";
constexpr const char* PKEXEC_PROGRAM = "pkexec";
constexpr const char* ENV_PROGRAM = "/usr/bin/env";
// What the privileged instance needs from the user's session and from Orvanne's own settings.
constexpr const char* PASSED_VARIABLES[] = {"DISPLAY",         "XAUTHORITY",
                                            "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                                            "ORVANNE_IMAGES",  "ORVANNE_SCANLOG_DIR"};
} // namespace

void customMessageHandler(QtMsgType nType, const QMessageLogContext&, const QString& strMessage) {
    if (nType != QtDebugMsg)
        return;
    QFile file(LOG_FILE_NAME);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << QString("Debug: %1").arg(strMessage) << Qt::endl;
}

void LogLineToQDebug(const char* pLine) {
    qDebug("%s", pLine);
}

int DeleteTmpFile(const char* pPath) {
    DIR* pDir = opendir(pPath);
    if (pDir == nullptr) {
        DebugLog("open dir failed\n");
        return 0;
    }
    const int nDirFd = dirfd(pDir);
    while (const dirent* pEntry = readdir(pDir)) {
        if (std::strcmp(pEntry->d_name, ".") == 0 || std::strcmp(pEntry->d_name, "..") == 0)
            continue;
        if (std::strstr(pEntry->d_name, TMP_MARK) != nullptr)
            unlinkat(nDirFd, pEntry->d_name, 0);
    }
    closedir(pDir);
    return 1;
}

QStringList BuildRelaunchArguments(const QString& strProgram, const QString& strWorkDir) {
    QStringList listArgs{ENV_PROGRAM, "--chdir=" + strWorkDir};
    for (const char* pName : PASSED_VARIABLES) {
        if (const char* pValue = std::getenv(pName))
            listArgs << QString("%1=%2").arg(pName, QString::fromLocal8Bit(pValue));
    }
    listArgs << strProgram << PRIVILEGED_ARGUMENT;
    return listArgs;
}

bool RelaunchWithPrivileges(const QString& strProgram) {
    return QProcess::startDetached(PKEXEC_PROGRAM,
                                   BuildRelaunchArguments(strProgram, QDir::currentPath()));
}
