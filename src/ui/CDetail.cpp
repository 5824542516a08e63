// Recovery detail dialog: header with the counts, the list of written and failed files, OK.
#include "ui/CDetail.h"

#include "ui/UiStyle.h"
#include "util/StatusCodes.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cerrno>

namespace {
// Names are elided on the left, so the file name and the whole reason stay in view.
constexpr int NAME_WIDTH = 250;
constexpr int ROW_HEIGHT = 22;
const QColor FAILED_COLOUR(255, 0, 0);

const QColor DAMAGED_COLOUR(200, 110, 0);

// The reason of a failed file in words: the window's own checks, else the shared words.
QString StatusWords(int nStatus) {
    switch (nStatus) {
    case EFBIG:
        return "4 GB or larger, too big for a FAT drive";
    case ENOTDIR:
        return "a file stands where its folder should be";
    default:
        return QString::fromStdString(DescribeStatus(nStatus));
    }
}

// What a stop left behind, as the disk shows it once the engine has returned.
QString StoppedWords(const QString& strPath) {
    return QFileInfo::exists(strPath) ? "Stopped: the file under this name is incomplete"
                                      : "Stopped: nothing was kept";
}
} // namespace

CDetail::CDetail(QWidget* pParent) : QDialog(pParent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(DETAIL_WIDTH, DETAIL_HEIGHT);
    setObjectName("detailDialog");
    setStyleSheet("#detailDialog{background-color: white; border: 1px solid rgb(16, 78, 139);}");
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(1, 1, 1, 1);

    m_pHeader = new QLabel(this);
    m_pHeader->setFont(UiFont(11));
    m_pHeader->setStyleSheet(backGroud_style_ + "color: white; padding: 6px 4px;");
    pLayout->addWidget(m_pHeader);

    m_pTable = new QTableWidget(0, 2, this);
    m_pTable->setHorizontalHeaderLabels({"Name", "Status"});
    m_pTable->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    m_pTable->setColumnWidth(0, NAME_WIDTH);
    m_pTable->verticalHeader()->setVisible(false);
    m_pTable->setTextElideMode(Qt::ElideLeft);
    m_pTable->verticalHeader()->setDefaultSectionSize(ROW_HEIGHT);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setStyleSheet("QTableWidget{border: none;}");
    pLayout->addWidget(m_pTable, 1);

    auto* pBar = new QWidget(this);
    pBar->setFixedHeight(48);
    pBar->setAttribute(Qt::WA_StyledBackground);
    pBar->setStyleSheet("background-color: rgb(236, 240, 245);");
    auto* pBarLayout = new QHBoxLayout(pBar);
    pBarLayout->setContentsMargins(16, 0, 16, 0);
    pBarLayout->addStretch(1);
    auto* pOk = new QPushButton("OK", pBar);
    pOk->setFlat(true);
    pOk->setFixedSize(110, 30);
    pOk->setFont(UiFont(11));
    pOk->setStyleSheet(main_button_style_);
    pOk->setCursor(Qt::PointingHandCursor);
    connect(pOk, &QPushButton::clicked, this, &CDetail::btnSlot);
    pBarLayout->addWidget(pOk);
    pLayout->addWidget(pBar);
    UpdateHeader();
}

void CDetail::AddTableItem(const QString& strName, int nStatus) {
    int nRow = 0;
    auto* pStatus = new QTableWidgetItem("Success");
    if (nStatus == 0 || nStatus == ERROR_FILE_DAMAGED) {
        nRow = m_pTable->rowCount();
        ++m_nSuccess;
    }
    // A damaged file was written whole, with zeros for what could not be read: it is marked.
    if (nStatus == ERROR_FILE_DAMAGED) {
        pStatus->setText("Damaged: " + StatusWords(nStatus));
        pStatus->setForeground(DAMAGED_COLOUR);
        ++m_nDamaged;
    } else if (nStatus != 0) {
        pStatus->setForeground(FAILED_COLOUR);
        pStatus->setText(nStatus == ERROR_CANCELLED_BY_USER ? StoppedWords(strName)
                                                            : "Failed: " + StatusWords(nStatus));
        ++m_nFailed;
    }
    m_pTable->insertRow(nRow);
    const QString strBase = m_strBaseDir.endsWith('/') ? m_strBaseDir : m_strBaseDir + "/";
    const bool bBelowBase = !m_strBaseDir.isEmpty() && strName.startsWith(strBase);
    auto* pName = new QTableWidgetItem(bBelowBase ? strName.mid(strBase.size()) : strName);
    pName->setToolTip(strName);
    pStatus->setToolTip(pStatus->text());
    m_pTable->setItem(nRow, 0, pName);
    m_pTable->setItem(nRow, 1, pStatus);
    UpdateHeader();
}

QString CDetail::GetHeaderText() const {
    return m_pHeader->text();
}

void CDetail::UpdateHeader() {
    m_pHeader->setText(
        QString("  Recovery Detail\n  Sucess:%1 Failed:%2\n").arg(m_nSuccess).arg(m_nFailed));
}

void CDetail::btnSlot() {
    close();
}

void CDetail::mousePressEvent(QMouseEvent* pEvent) {
    m_dragger.Press(this, pEvent);
}

void CDetail::mouseMoveEvent(QMouseEvent* pEvent) {
    m_dragger.Move(this, pEvent);
}
