// Start-up helpers: the "Log.txt" line format, the temporary-file sweep and the pkexec command.
#include "app/AppStartup.h"
#include "UiTestSupport.h"
#include "fixtures/FixtureUtil.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdlib>

class AppStartupTest : public QObject {
    Q_OBJECT
private slots:
    void DebugMessagesAppendToLogAndWarningsAreDropped() {
        CTempDir dir;
        const QString strOld = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QString::fromStdString(dir.Path())));
        QtMessageHandler pOld = qInstallMessageHandler(customMessageHandler);
        qDebug("abc");
        qWarning("not logged");
        qDebug("line\n");
        qInstallMessageHandler(pOld);
        QDir::setCurrent(strOld);
        QFile log(QString::fromStdString(dir.File("Log.txt")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(log.readAll()), QString("Debug: abc\nDebug: line\n\n"));
    }

    void SweepRemovesOnlyTemporaryFiles() {
        CTempDir dir;
        for (const char* pName : {"tmp.abc", "xtmp.abc", "config", "config.tmp"})
            QVERIFY(WriteFileBytes(dir.File(pName), {1, 2, 3}));
        QCOMPARE(DeleteTmpFile(dir.Path().c_str()), 1);
        QCOMPARE(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files),
                 QStringList({"config", "config.tmp"}));
        QCOMPARE(DeleteTmpFile(dir.File("missing").c_str()), 0);
    }

    void RelaunchKeepsTheDisplayAndPassesStartAlone() {
        qputenv("DISPLAY", ":7");
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("ORVANNE_IMAGES", "/tmp/demo.img");
        const QStringList listArgs = BuildRelaunchArguments("/opt/orvanne/orvanne", "/home/u");
        qunsetenv("ORVANNE_IMAGES");
        QCOMPARE(listArgs.front(), QString("/usr/bin/env"));
        QVERIFY(listArgs.contains("--chdir=/home/u"));
        QVERIFY(listArgs.contains("DISPLAY=:7"));
        QVERIFY(listArgs.contains("ORVANNE_IMAGES=/tmp/demo.img"));
        QVERIFY(!listArgs.filter("WAYLAND_DISPLAY=").size());
        QCOMPARE(listArgs.at(listArgs.size() - 2), QString("/opt/orvanne/orvanne"));
        QCOMPARE(listArgs.back(), QString("start"));
    }
};

UI_TEST_CLASS(AppStartupTest);

#include "AppStartupTest.moc"
