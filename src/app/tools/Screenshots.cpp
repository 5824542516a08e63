// orvanne-screenshots DIR: renders the main window's pages and the dialogs to PNG files in DIR
// (run through scripts/screenshots, under the offscreen platform).
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"
#include "util/TextUtil.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>

namespace {
bool SaveGrab(QWidget& widget, const QString& strPath) {
    widget.show();
    QApplication::processEvents();
    if (widget.grab().save(strPath))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(strPath));
    return false;
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvanne-screenshots DIR\n");
        return 2;
    }
    inner_initUnicodeMap("UTF-8");
    const QString strDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(strDir);

    DRUI window;
    window.Init();
    bool bOk = SaveGrab(window, strDir + "/page1-file-kinds.png");
    window.btnSlot();
    bOk = SaveGrab(window, strDir + "/page2-devices.png") && bOk;

    SCANUI progress;
    progress.InitSlot(&window, OPR_TYPE_SCAN);
    progress.ScanProcessCallBackSlot(62, 90, 185, "1302528", "2097152", "23", QString());
    bOk = SaveGrab(progress, strDir + "/scan-progress.png") && bOk;

    CMessageBox question;
    question.InitQuestionDialog("Are you sure to cancel the scanning?", false);
    bOk = SaveGrab(question, strDir + "/question.png") && bOk;
    return bOk ? 0 : 1;
}
