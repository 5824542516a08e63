// Progress dialog: turns the owner's progress signals into bar and status text, and asks before
// an operation is cancelled.
#include "ui/SCANUI.h"

#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/UiStyle.h"
#include "util/StatusCodes.h"
#include "util/TextUtil.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

int SCANUI::m_nOprType = 0;
bool SCANUI::m_bIsFinished = false;
QProgressBar* SCANUI::m_progressBar = nullptr;

namespace {
constexpr int TITLE_HEIGHT = 70;
constexpr int STATUS_HEIGHT = 80;
constexpr int BUTTON_BAR_HEIGHT = 40;
constexpr int BUTTON_WIDTH = 110;
constexpr int BUTTON_HEIGHT = 28;
constexpr int TITLE_ICON_SIZE = 44;
constexpr int WAIT_STEP_MS = 100;
// A scan report whose percent x weight lies in this range is the scan's last one.
constexpr int SCAN_END_LOW = 10000;
constexpr int SCAN_END_HIGH = 10099;
constexpr int SCAN_PASS_WEIGHT = 90;
constexpr int SECONDS_UNKNOWN = -1;
// Time left is guessed once the run has gone on long enough to have a rate.
constexpr qint64 TIME_LEFT_AFTER_MS = 1000;
constexpr int STATUS_TEXT_WIDTH = 440;

const char* const STATUS_STYLE = "color: rgb(60, 60, 60); padding: 8px 0px 0px 14px;";
const char* const STATUS_FAILED_STYLE =
    "color: rgb(200, 0, 0); font-weight: bold; padding: 8px 0px 0px 14px;";
const char* const SCAN_STATUS_START = "  Current Process: 0%\n  Estimated Time Left: 0 second\n";

const char* const PROGRESS_BAR_STYLE =
    "QProgressBar{border: 1px solid rgb(190, 200, 215); border-radius: 6px;"
    " background-color: rgb(236, 246, 255); height: 14px;}"
    "QProgressBar::chunk{border-radius: 5px; background-color: rgb(30, 144, 255);}";

QString CancelQuestion(int nOprType) {
    switch (nOprType) {
    case OPR_TYPE_SCAN:
        return "Are you sure to cancel the scanning?";
    case OPR_TYPE_SEARCH:
        return "Are you sure to cancel the searching?";
    case OPR_TYPE_PREVIEW:
        return "Are you sure to cancel the previewing?";
    default:
        return "Are you sure to cancel the recoverying?";
    }
}

QString TitleIcon(int nOprType) {
    switch (nOprType) {
    case OPR_TYPE_SCAN:
        return ":/image/scan_files.png";
    case OPR_TYPE_SEARCH:
        return ":/image/search_files.png";
    case OPR_TYPE_PREVIEW:
        return ":/image/preview_file.png";
    default:
        return ":/image/recover_file.png";
    }
}
} // namespace

SCANUI::SCANUI(QWidget* pParent, Qt::WindowFlags flags)
    : QDialog(pParent, flags | Qt::Dialog | Qt::FramelessWindowHint) {
    m_bIsFinished = false;
    setFixedSize(DIALOG_WIDTH, DIALOG_HEIGHT);
    setObjectName("scanDialog");
    setStyleSheet("#scanDialog{background-color: white; border: 1px solid rgb(16, 78, 139);}");
}

SCANUI::~SCANUI() {
    m_progressBar = nullptr;
}

void SCANUI::InitSlot(DRUI* pOwner, int nOprType) {
    m_pOwner = pOwner;
    m_nOprType = nOprType;
    InitDialog();
    m_progressBar->setValue(0);
    m_pStatusLabel->setText(nOprType == OPR_TYPE_SCAN ? SCAN_STATUS_START : "");
    connect(pOwner, &DRUI::ScanProcessCallBack, this, &SCANUI::ScanProcessCallBackSlot);
    connect(pOwner, qOverload<int, int, int, QString>(&DRUI::RecoveryCallBack), this,
            &SCANUI::RecoveryCallBackSlot);
    connect(pOwner, qOverload<int, QString>(&DRUI::SearchCallBack), this,
            &SCANUI::SearchCallBackSlot);
    connect(pOwner, &DRUI::PreViewCallBackForSlot, this, &SCANUI::PreViewCallBackSlot);
    connect(pOwner, &DRUI::RecoveryFileStart, this, &SCANUI::RecoveryFileStartSlot);
}

void SCANUI::SetSaveDir(const QString& strDir) {
    m_strSaveDir = strDir;
    m_detail.SetBaseDir(strDir);
}

void SCANUI::SetRecoveryTotals(int nFiles, unsigned long long u64Bytes) {
    m_nFileCount = nFiles;
    m_u64TotalBytes = u64Bytes;
    m_elapsed.start();
}

void SCANUI::InitDialog() {
    m_bIsFinished = false;
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(1, 1, 1, 1);
    pLayout->addWidget(CreateTitleStrip());

    m_pStatusLabel = new QLabel(this);
    m_pStatusLabel->setFixedHeight(STATUS_HEIGHT);
    m_pStatusLabel->setFont(UiFont(10));
    m_pStatusLabel->setStyleSheet(STATUS_STYLE);
    m_pStatusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pLayout->addWidget(m_pStatusLabel);

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName("progressBar");
    m_progressBar->setRange(0, 100);
    m_progressBar->setTextVisible(false);
    m_progressBar->setStyleSheet(PROGRESS_BAR_STYLE);
    auto* pBarRow = new QHBoxLayout;
    pBarRow->setContentsMargins(28, 4, 28, 4);
    pBarRow->addWidget(m_progressBar);
    pLayout->addLayout(pBarRow);
    pLayout->addStretch(1);
    pLayout->addWidget(CreateButtonBar());
}

QWidget* SCANUI::CreateTitleStrip() {
    auto* pStrip = new QWidget(this);
    pStrip->setFixedHeight(TITLE_HEIGHT);
    pStrip->setAttribute(Qt::WA_StyledBackground);
    pStrip->setStyleSheet(backGroud_style_);
    auto* pLayout = new QHBoxLayout(pStrip);
    pLayout->setContentsMargins(16, 0, 16, 0);
    auto* pIcon = new QLabel(pStrip);
    pIcon->setPixmap(QPixmap(TitleIcon(m_nOprType))
                         .scaled(TITLE_ICON_SIZE, TITLE_ICON_SIZE, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation));
    m_pTitleLabel = new QLabel(TitleForKind(), pStrip);
    m_pTitleLabel->setFont(UiFont(12, QFont::Bold));
    m_pTitleLabel->setStyleSheet("color: white;");
    pLayout->addWidget(pIcon);
    pLayout->addWidget(m_pTitleLabel, 1);
    return pStrip;
}

QWidget* SCANUI::CreateButtonBar() {
    auto* pBar = new QWidget(this);
    pBar->setFixedHeight(BUTTON_BAR_HEIGHT);
    pBar->setAttribute(Qt::WA_StyledBackground);
    pBar->setStyleSheet("background-color: rgb(236, 240, 245);");
    auto* pLayout = new QHBoxLayout(pBar);
    pLayout->setContentsMargins(16, 0, 16, 0);
    pLayout->setSpacing(10);
    pLayout->addStretch(1);
    auto makeButton = [pBar](const QString& strText) {
        auto* pButton = new QPushButton(strText, pBar);
        pButton->setFixedSize(BUTTON_WIDTH, BUTTON_HEIGHT);
        pButton->setFont(UiFont(11));
        pButton->setStyleSheet(main_button_style_);
        pButton->setCursor(Qt::PointingHandCursor);
        return pButton;
    };
    if (m_nOprType == OPR_TYPE_RECOVERY) {
        QPushButton* pDetail = makeButton("Detail");
        QPushButton* pOpen = makeButton("Open Folder");
        connect(pDetail, &QPushButton::clicked, this, &SCANUI::btnDetail);
        connect(pOpen, &QPushButton::clicked, this, &SCANUI::btnOpenFolder);
        pLayout->addWidget(pDetail);
        pLayout->addWidget(pOpen);
    }
    m_pBtnCancel = makeButton("Cancel");
    connect(m_pBtnCancel, &QPushButton::clicked, this, &SCANUI::btnSlot);
    pLayout->addWidget(m_pBtnCancel);
    return pBar;
}

QString SCANUI::TitleForKind() const {
    switch (m_nOprType) {
    case OPR_TYPE_SCAN:
        return "  Scan File\n  scanning drive for deleted files";
    case OPR_TYPE_SEARCH:
        return "  Search File\n  searching drive for deleted files";
    case OPR_TYPE_PREVIEW:
        return QString("  Preview File\n  %1\n").arg(m_pOwner->GetPreviewFileName());
    default:
        return "  Recovery File\n";
    }
}

QString SCANUI::GetStatusText() const {
    return m_pStatusLabel->text();
}

QString SCANUI::GetTitleText() const {
    return m_pTitleLabel->text();
}

void SCANUI::ScanProcessCallBackSlot(int nPercent, int nWeight, int nSecondsLeft,
                                     QString strCurrent, QString strTotal, QString strFound,
                                     QString) {
    const int nShown = nPercent * nWeight / 100;
    m_progressBar->setValue(nShown);
    QString strTime = "Estimated time is calculating";
    QString strStatus;
    if (nWeight == SCAN_PASS_WEIGHT) {
        if (nSecondsLeft != SECONDS_UNKNOWN)
            strTime = "Estimated Time Left: " + QString::fromStdString(GetTimeString(nSecondsLeft));
        strStatus = QString("  Current Process: %1%\n  Reading Sector: %2/%3\n  Total Items "
                            "Found: %4\n  %5\n")
                        .arg(nShown)
                        .arg(strCurrent, strTotal, strFound, strTime);
    } else {
        strStatus = QString("  Current Process: %1%\n  %2\n").arg(nShown).arg(strTime);
    }
    m_pStatusLabel->setText(strStatus);
    const int nProduct = nPercent * nWeight;
    if (nProduct >= SCAN_END_LOW && nProduct <= SCAN_END_HIGH)
        Finish();
}

void SCANUI::RecoveryFileStartSlot(int nIndex, int nCount, QString strPath, qulonglong u64Size) {
    m_nFileIndex = nIndex;
    m_nFileCount = nCount;
    m_u64FileSize = u64Size;
    m_strCurrentPath = strPath;
    ShowRecoveryProgress(0);
}

// Engines report each file's own percent; the bar and the texts are the whole run's.
void SCANUI::RecoveryCallBackSlot(int nPercent, int nWeight, int nStatus, QString strPath) {
    if (nWeight == RECOVERY_DONE_WEIGHT) {
        ShowRecoveryOutcome(nStatus == ERROR_CANCELLED_BY_USER);
        return;
    }
    const unsigned long long u64FileDone = m_u64FileSize * std::clamp(nPercent, 0, 100) / 100;
    if (nPercent == 100) {
        m_detail.AddTableItem(strPath, nStatus);
        m_u64FinishedBytes += m_u64FileSize;
        m_u64FileSize = 0;
    }
    ShowRecoveryProgress(u64FileDone);
}

void SCANUI::ShowRecoveryProgress(unsigned long long u64FileDone) {
    const unsigned long long u64Done = m_u64FinishedBytes + u64FileDone;
    const int nFilesDone = m_detail.GetSuccessCount() + m_detail.GetFailedCount();
    const int nShown = m_u64TotalBytes > 0
                           ? static_cast<int>(u64Done * 100 / m_u64TotalBytes)
                           : (m_nFileCount > 0 ? nFilesDone * 100 / m_nFileCount : 0);
    m_progressBar->setValue(std::min(nShown, 100));
    QString strTime = "Estimated time is calculating";
    const qint64 llMs = m_elapsed.isValid() ? m_elapsed.elapsed() : 0;
    if (u64Done > 0 && llMs >= TIME_LEFT_AFTER_MS && m_u64TotalBytes >= u64Done) {
        const double dSecondsLeft = (m_u64TotalBytes - u64Done) * (llMs / 1000.0) / u64Done;
        strTime = "Estimated Time Left: " +
                  QString::fromStdString(GetTimeString(static_cast<long long>(dSecondsLeft)));
    }
    m_pStatusLabel->setText(
        QString("  File %1 of %2, %3 of %4 written\n  %5\n  %6")
            .arg(m_nFileIndex)
            .arg(m_nFileCount)
            .arg(QString::fromStdString(GetFileSizeString(static_cast<long long>(u64Done))),
                 QString::fromStdString(GetFileSizeString(static_cast<long long>(m_u64TotalBytes))),
                 strTime,
                 m_pStatusLabel->fontMetrics().elidedText(m_strCurrentPath, Qt::ElideMiddle,
                                                          STATUS_TEXT_WIDTH)));
    m_pStatusLabel->setToolTip(m_strCurrentPath);
}

// The run ends on what it did: the counts, in red when any file failed, and the dialog stays
// so Detail can show each file with its reason.
void SCANUI::ShowRecoveryOutcome(bool bStopped) {
    m_bIsFinished = true;
    m_pBtnCancel->setText("Finished");
    const int nFailed = m_detail.GetFailedCount();
    const int nUntried = m_nFileCount - m_detail.GetSuccessCount() - nFailed;
    QString strRecovered = QString("%1 recovered").arg(m_detail.GetSuccessCount());
    if (m_detail.GetDamagedCount() > 0)
        strRecovered += QString(" (%1 damaged)").arg(m_detail.GetDamagedCount());
    QString strOutcome = QString("  %1, %2 failed").arg(strRecovered).arg(nFailed);
    if (bStopped)
        strOutcome = QString("  Stopped: %1, %2 failed, %3 not tried")
                         .arg(strRecovered)
                         .arg(nFailed)
                         .arg(nUntried);
    if (nFailed > 0)
        strOutcome += "\n  Press Detail to see why each file failed.";
    m_pStatusLabel->setText(strOutcome);
    m_pStatusLabel->setToolTip(QString());
    m_pStatusLabel->setStyleSheet(nFailed > 0 || bStopped ? STATUS_FAILED_STYLE : STATUS_STYLE);
    if (!bStopped)
        m_progressBar->setValue(100);
}

void SCANUI::SearchCallBackSlot(int nPercent, QString) {
    m_progressBar->setValue(nPercent);
    m_pStatusLabel->setText(
        QString("  Process: %1%\n  Searching drive for recovery files").arg(nPercent));
    if (nPercent == 100 && m_pOwner->m_bSearchEnd)
        Finish();
}

void SCANUI::PreViewCallBackSlot(int nPercent, int) {
    m_progressBar->setValue(nPercent);
    m_pStatusLabel->setText(QString("  Process: %1%\n  Previewing file:%2")
                                .arg(nPercent)
                                .arg(m_pOwner->GetPreviewFileName()));
    if (nPercent == 100)
        Finish();
}

void SCANUI::Finish() {
    m_bIsFinished = true;
    close();
}

void SCANUI::btnSlot() {
    close();
}

void SCANUI::btnDetail() {
    m_detail.setGeometry(x(), y(), CDetail::DETAIL_WIDTH, CDetail::DETAIL_HEIGHT);
    m_detail.exec();
}

// Run as root, the folder opens for the user who owns it, as that user's desktop shows it.
void SCANUI::btnOpenFolder() {
    struct stat dirStat {};
    const QByteArray dirPath = m_strSaveDir.toUtf8();
    if (geteuid() == 0 && stat(dirPath.constData(), &dirStat) == 0 && dirStat.st_uid != 0) {
        if (const passwd* pUser = getpwuid(dirStat.st_uid)) {
            QProcess::startDetached("runuser", {"-u", QString::fromLocal8Bit(pUser->pw_name), "--",
                                                "xdg-open", m_strSaveDir});
            return;
        }
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_strSaveDir));
}

void SCANUI::closeEvent(QCloseEvent* pEvent) {
    if (m_bIsFinished) {
        QDialog::closeEvent(pEvent);
        return;
    }
    if (!ConfirmCancel()) {
        pEvent->ignore();
        return;
    }
    StopOperation();
    // A stopped recovery stays open: its closing report tells what was and was not written.
    if (m_nOprType == OPR_TYPE_RECOVERY) {
        pEvent->ignore();
        return;
    }
    m_progressBar->setValue(0);
    QDialog::closeEvent(pEvent);
}

bool SCANUI::ConfirmCancel() {
    return CMessageBox::Ask(this, CancelQuestion(m_nOprType));
}

void SCANUI::StopOperation() {
    StopFlag()->store(true);
    while (!FinishedFlag()->load())
        QThread::msleep(WAIT_STEP_MS);
}

std::atomic<bool>* SCANUI::StopFlag() const {
    switch (m_nOprType) {
    case OPR_TYPE_SCAN:
        return &m_pOwner->m_bScanStop;
    case OPR_TYPE_SEARCH:
        return &m_pOwner->m_bSearchStop;
    case OPR_TYPE_PREVIEW:
        return &m_pOwner->m_bPreviewStop;
    default:
        return &m_pOwner->m_bRecoveryStop;
    }
}

std::atomic<bool>* SCANUI::FinishedFlag() const {
    switch (m_nOprType) {
    case OPR_TYPE_SCAN:
        return &m_pOwner->m_bScanEnd;
    case OPR_TYPE_SEARCH:
        return &m_pOwner->m_bSearchEnd;
    case OPR_TYPE_PREVIEW:
        return &m_pOwner->m_bPreviewEnd;
    default:
        return &m_pOwner->m_bRecoveryEnd;
    }
}

// Escape would reject the dialog behind the operation's back; it asks like Cancel instead.
void SCANUI::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

void SCANUI::mousePressEvent(QMouseEvent* pEvent) {
    m_dragger.Press(this, pEvent);
}

void SCANUI::mouseMoveEvent(QMouseEvent* pEvent) {
    m_dragger.Move(this, pEvent);
}
