// Start-up pieces of the desktop application: the privileged re-launch, the debug log and the
// sweep of temporary scan files at exit.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

constexpr const char* LOG_FILE_NAME = "Log.txt";
constexpr const char* OUT_FILE_NAME = "Out.txt";
constexpr const char* PRIVILEGED_ARGUMENT = "start";

// Appends each debug message to "Log.txt" as "Debug: <text>"; other kinds are dropped.
void customMessageHandler(QtMsgType nType, const QMessageLogContext& context,
                          const QString& strMessage);
// Routes the engines' debug lines into qDebug.
void LogLineToQDebug(const char* pLine);

// Removes every entry whose name holds "tmp." from the directory; 1 when it could be listed.
int DeleteTmpFile(const char* pPath);

// The pkexec command line that starts the program again as root with the single argument
// "start", keeping the display, the working directory and Orvanne's own settings.
QStringList BuildRelaunchArguments(const QString& strProgram, const QString& strWorkDir);
// Starts that command without waiting; false when pkexec could not be started.
bool RelaunchWithPrivileges(const QString& strProgram);
