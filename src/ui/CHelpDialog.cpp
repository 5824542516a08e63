// Help viewer: a framed text browser over the bundled pages, with links between them.
#include "ui/CHelpDialog.h"

#include "ui/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

CHelpDialog::CHelpDialog(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(HELP_WIDTH, HELP_HEIGHT);
    setObjectName("helpDialog");
    setStyleSheet("#helpDialog{background-color: white; border: 1px solid rgb(16, 78, 139);}");
    if (pParent != nullptr)
        move(pParent->x() + (pParent->width() - HELP_WIDTH) / 2,
             pParent->y() + (pParent->height() - HELP_HEIGHT) / 2);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(1, 1, 1, 1);
    auto* pTitle = new QLabel("  Orvanne", this);
    pTitle->setFixedHeight(36);
    pTitle->setFont(UiFont(12, QFont::Bold));
    pTitle->setStyleSheet(backGroud_style_ + "color: white;");
    pLayout->addWidget(pTitle);

    m_pBrowser = new QTextBrowser(this);
    m_pBrowser->setOpenExternalLinks(false);
    m_pBrowser->setFont(UiFont(11));
    m_pBrowser->setStyleSheet("QTextBrowser{border: none; padding: 12px 18px;}");
    pLayout->addWidget(m_pBrowser, 1);

    auto* pBar = new QWidget(this);
    pBar->setFixedHeight(48);
    pBar->setAttribute(Qt::WA_StyledBackground);
    pBar->setStyleSheet("background-color: rgb(236, 240, 245);");
    auto* pBarLayout = new QHBoxLayout(pBar);
    pBarLayout->setContentsMargins(16, 0, 16, 0);
    pBarLayout->addStretch(1);
    auto* pClose = new QPushButton("Close", pBar);
    pClose->setFixedSize(110, 30);
    pClose->setFont(UiFont(11));
    pClose->setStyleSheet(main_button_style_);
    pClose->setCursor(Qt::PointingHandCursor);
    connect(pClose, &QPushButton::clicked, this, &QDialog::accept);
    pBarLayout->addWidget(pClose);
    pLayout->addWidget(pBar);
}

void CHelpDialog::OpenPage(const QUrl& url) {
    m_pBrowser->setSource(url);
}

void CHelpDialog::mousePressEvent(QMouseEvent* pEvent) {
    m_dragger.Press(this, pEvent);
}

void CHelpDialog::mouseMoveEvent(QMouseEvent* pEvent) {
    m_dragger.Move(this, pEvent);
}
