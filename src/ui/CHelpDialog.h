// Shows the help, support and about pages that ship inside the program.
#pragma once

#include "ui/CWindowDragger.h"

#include <QDialog>
#include <QUrl>

class QTextBrowser;

class CHelpDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int HELP_WIDTH = 720;
    static constexpr int HELP_HEIGHT = 520;

    explicit CHelpDialog(QWidget* pParent = nullptr);

    void OpenPage(const QUrl& url);

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;

private:
    QTextBrowser* m_pBrowser = nullptr;
    CWindowDragger m_dragger;
};
