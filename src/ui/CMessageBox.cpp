// Question dialog: title strip, icon and message, and the No/Yes button bar.
#include "ui/CMessageBox.h"

#include "ui/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int TITLE_HEIGHT = 30;
constexpr int MESSAGE_HEIGHT = 80;
constexpr int BUTTON_BAR_HEIGHT = 40;
constexpr int BUTTON_WIDTH = 90;
constexpr int BUTTON_HEIGHT = 28;
constexpr int ICON_SIZE = 40;
// The box starts this share of the owner's height down, below any title strip.
constexpr int OWNER_TOP_SHARE = 3;

QPushButton* MakeBarButton(const QString& strText, QWidget* pParent) {
    auto* pButton = new QPushButton(strText, pParent);
    pButton->setFlat(true);
    pButton->setStyleSheet(main_button_style_);
    pButton->setFont(UiFont(12));
    pButton->setCursor(Qt::PointingHandCursor);
    pButton->setFixedSize(BUTTON_WIDTH, BUTTON_HEIGHT);
    return pButton;
}
} // namespace

CMessageBox::CMessageBox(QWidget* pParent, Qt::WindowFlags flags)
    : QDialog(pParent, flags | Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(MESSAGE_BOX_WIDTH, MESSAGE_BOX_HEIGHT);
    setObjectName("messageBox");
    setStyleSheet("#messageBox{background-color: white; border: 2px solid rgb(30, 144, 255);}");
}

void CMessageBox::PlaceOver(const QWidget* pOwner) {
    QRect rcBox(0, 0, MESSAGE_BOX_WIDTH, MESSAGE_BOX_HEIGHT);
    rcBox.moveTo(pOwner->x() + (pOwner->width() - MESSAGE_BOX_WIDTH) / 2,
                 pOwner->y() + pOwner->height() / OWNER_TOP_SHARE);
    if (const QScreen* pScreen = pOwner->screen()) {
        const QRect rcScreen = pScreen->availableGeometry();
        rcBox.moveLeft(std::clamp(rcBox.left(), rcScreen.left(), rcScreen.right() - rcBox.width()));
        rcBox.moveTop(std::clamp(rcBox.top(), rcScreen.top(), rcScreen.bottom() - rcBox.height()));
    }
    setGeometry(rcBox);
}

bool CMessageBox::Ask(QWidget* pOwner, const QString& strText, bool bInfoOnly) {
    CMessageBox box(pOwner);
    box.PlaceOver(pOwner);
    box.InitQuestionDialog(strText, bInfoOnly);
    box.exec();
    return box.GetMessageBoxRet() == 1;
}

void CMessageBox::InitQuestionDialog(const QString& strText, bool bInfoOnly) {
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(1, 1, 1, 1);
    pLayout->addWidget(CreateTitleStrip(bInfoOnly ? "  Message" : "  Question"));
    pLayout->addWidget(CreateMessageRow(strText));
    pLayout->addStretch(1);
    pLayout->addWidget(CreateButtonBar(bInfoOnly));
}

QWidget* CMessageBox::CreateTitleStrip(const QString& strTitle) {
    auto* pTitle = new QLabel(strTitle, this);
    pTitle->setFixedHeight(TITLE_HEIGHT);
    pTitle->setStyleSheet(backGroud_style_ + "color: white;");
    pTitle->setFont(UiFont(12));
    return pTitle;
}

QWidget* CMessageBox::CreateMessageRow(const QString& strText) {
    auto* pRow = new QWidget(this);
    pRow->setFixedHeight(MESSAGE_HEIGHT);
    auto* pLayout = new QHBoxLayout(pRow);
    pLayout->setContentsMargins(20, 0, 20, 0);
    pLayout->setSpacing(16);
    auto* pIcon = new QLabel(pRow);
    pIcon->setPixmap(
        QPixmap(":/image/question.png")
            .scaled(ICON_SIZE, ICON_SIZE, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pIcon->setFixedSize(ICON_SIZE, ICON_SIZE);
    m_pMessageLabel = new QLabel(strText, pRow);
    m_pMessageLabel->setFont(UiFont(12));
    m_pMessageLabel->setStyleSheet("color: black;");
    m_pMessageLabel->setWordWrap(true);
    m_pMessageLabel->setFixedHeight(MESSAGE_HEIGHT);
    pLayout->addWidget(pIcon);
    pLayout->addWidget(m_pMessageLabel, 1);
    return pRow;
}

QWidget* CMessageBox::CreateButtonBar(bool bInfoOnly) {
    auto* pBar = new QWidget(this);
    pBar->setFixedHeight(BUTTON_BAR_HEIGHT);
    pBar->setAttribute(Qt::WA_StyledBackground);
    pBar->setStyleSheet("background-color: rgb(220, 220, 220);");
    auto* pLayout = new QHBoxLayout(pBar);
    pLayout->setContentsMargins(20, 0, 20, 0);
    pLayout->setSpacing(12);
    pLayout->addStretch(1);
    if (bInfoOnly) {
        QPushButton* pOk = MakeBarButton("OK", pBar);
        connect(pOk, &QPushButton::clicked, this, &CMessageBox::btnSlotOK);
        pLayout->addWidget(pOk);
        return pBar;
    }
    QPushButton* pNo = MakeBarButton("No", pBar);
    QPushButton* pYes = MakeBarButton("Yes", pBar);
    connect(pNo, &QPushButton::clicked, this, &CMessageBox::btnSlotNO);
    connect(pYes, &QPushButton::clicked, this, &CMessageBox::btnSlotOK);
    pLayout->addWidget(pNo);
    pLayout->addWidget(pYes);
    return pBar;
}

void CMessageBox::btnSlotNO() {
    m_nRet = 0;
    close();
}

void CMessageBox::btnSlotOK() {
    m_nRet = 1;
    close();
}

void CMessageBox::mousePressEvent(QMouseEvent* pEvent) {
    m_dragger.Press(this, pEvent);
}

void CMessageBox::mouseMoveEvent(QMouseEvent* pEvent) {
    m_dragger.Move(this, pEvent);
}
