// Recovery detail dialog: header with the counts, the list of written and failed files, OK.
#include "ui/CDetail.h"

#include "ui/UiStyle.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cerrno>

namespace {
constexpr int NAME_WIDTH = 400;
constexpr int ROW_HEIGHT = 22;
const QColor FAILED_COLOUR(255, 0, 0);
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
    // The status column takes the rest of the row, so the list needs no sideways scrolling.
    m_pTable->setColumnWidth(0, NAME_WIDTH);
    m_pTable->verticalHeader()->setVisible(false);
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
    auto* pStatus = new QTableWidgetItem(nStatus == 0 ? "Success" : "Failed");
    if (nStatus == 0) {
        nRow = m_pTable->rowCount();
        ++m_nSuccess;
    } else {
        pStatus->setForeground(FAILED_COLOUR);
        if (nStatus == EFBIG)
            pStatus->setText("Failed: 4 GB or larger, too big for a FAT drive");
        ++m_nFailed;
    }
    m_pTable->insertRow(nRow);
    m_pTable->setItem(nRow, 0, new QTableWidgetItem(strName));
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
