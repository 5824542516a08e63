// Main window, earlier scans: the scans the scan-log keeps, with their volume, date, count, state
// and size on disk; one is opened onto the result page without scanning, old ones are removed.
#include "device/CDiskRegistry.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/UiStyle.h"
#include "util/StatusCodes.h"
#include "util/TextUtil.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstring>

namespace {
constexpr int SECTOR_BYTES = 512;
constexpr int LIST_MIN_HEIGHT = 200;
constexpr int LOG_DIR_ROLE = Qt::UserRole;
constexpr int SCAN_COLUMN_WIDTHS[] = {380, 130, 70, 150};
const char* const PAGE_TITLE =
    "Reopen an Earlier Scan\nOpening one shows its files at once, without scanning the volume "
    "again.";
const char* const REMOVE_QUESTION = "The chosen scans and their results will be removed. Continue?";
const char* const NO_SCANS_TEXT = "No earlier scans are kept.";
const char* const LIST_STYLE =
    "QTreeWidget{background-color: white; border: 1px solid rgb(205, 215, 230); border-radius: "
    "6px; color: rgb(30, 40, 55);}QTreeWidget::item{height: 26px;}"
    "QTreeWidget::item:selected{background-color: rgb(214, 232, 252); color: rgb(16, 48, 89);}"
    "QHeaderView::section{background-color: rgb(244, 247, 251); color: rgb(90, 100, 115);"
    " border: none; border-bottom: 1px solid rgb(225, 230, 238); padding: 6px;}";

struct DIR_FACTS {
    uint64_t u64Bytes = 0;
    QDateTime lastWritten;
};

// What the scan's folder holds, and when it was last written to (the scan's end).
DIR_FACTS ExamineDir(const QString& strDir) {
    DIR_FACTS facts;
    QDirIterator it(strDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        facts.u64Bytes += static_cast<uint64_t>(info.size());
        if (!facts.lastWritten.isValid() || info.lastModified() > facts.lastWritten)
            facts.lastWritten = info.lastModified();
    }
    return facts;
}

QString SizeText(uint64_t u64Bytes) {
    return QString::fromStdString(GetFileSizeString(static_cast<long long>(u64Bytes)));
}

// A scan that ended before it covered the volume goes on when it is opened.
QString StateText(const LOG_FILE_INFO& record) {
    if (record.u64RunLength == 0)
        return "Complete";
    return QString("Stopped at %1%; goes on when opened")
        .arg(record.u64SectorCount == 0 ? 0 : record.u64SectorsDone * 100 / record.u64SectorCount);
}
} // namespace

void DRUI::btnEarlierScansSlot() {
    if (m_pPage4 == nullptr) {
        m_pPage4 = InitEarlierScansPage();
        m_pStackedLayout->addWidget(m_pPage4);
    }
    FillEarlierScans();
    m_pStackedLayout->setCurrentWidget(m_pPage4);
}

QWidget* DRUI::InitEarlierScansPage() {
    auto* pPage = new QWidget;
    pPage->setObjectName("earlierScansPage");
    QVBoxLayout* pLayout = CreatePageLayout(pPage);
    pLayout->addWidget(CreatePageTitle(PAGE_TITLE, ":/image/search_files.png", pPage));

    auto* pBody = new QVBoxLayout;
    pBody->setContentsMargins(24, 12, 24, 8);
    pBody->setSpacing(8);
    m_pScanList = new QTreeWidget(pPage);
    m_pScanList->setObjectName("scanList");
    m_pScanList->setRootIsDecorated(false);
    m_pScanList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pScanList->setHeaderLabels({"Volume", "Scanned", "Files", "State", "Size on disk"});
    for (int nColumn = 0; nColumn < int(std::size(SCAN_COLUMN_WIDTHS)); ++nColumn)
        m_pScanList->setColumnWidth(nColumn, SCAN_COLUMN_WIDTHS[nColumn]);
    m_pScanList->setMinimumHeight(LIST_MIN_HEIGHT);
    m_pScanList->setStyleSheet(LIST_STYLE);
    m_pScanList->setFont(UiFont(10));
    m_pScanLogSize = new QLabel(pPage);
    m_pScanLogSize->setObjectName("scanLogSize");
    m_pScanLogSize->setFont(UiFont(10));
    m_pScanLogSize->setStyleSheet("color: rgb(16, 48, 89);");
    m_pScanLogSize->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pBody->addWidget(m_pScanList, 1);
    pBody->addWidget(m_pScanLogSize);
    pLayout->addLayout(pBody, 1);

    auto* pBtnRemove = MakeActionButton("Remove", pPage);
    pBtnRemove->setStyleSheet(button_style);
    auto* pBtnBack = MakeActionButton("Back", pPage);
    auto* pBtnOpen = MakeActionButton("Open", pPage);
    AddActionBar(pLayout, pPage, {pBtnRemove, pBtnBack, pBtnOpen});
    connect(pBtnRemove, &QPushButton::clicked, this, &DRUI::RemoveEarlierScan);
    connect(pBtnBack, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(pBtnOpen, &QPushButton::clicked, this, &DRUI::OpenEarlierScan);
    connect(m_pScanList, &QTreeWidget::itemDoubleClicked, this, &DRUI::OpenEarlierScan);
    return pPage;
}

void DRUI::FillEarlierScans() {
    m_pScanList->clear();
    CLogFileManager* pLogs = CLogFileManager::GetInstance();
    for (const LOG_FILE_INFO& record : pLogs->GetRecords()) {
        const DIR_FACTS facts = ExamineDir(QString::fromUtf8(record.szLogDirPath));
        auto* pItem = new QTreeWidgetItem(m_pScanList);
        pItem->setText(0, QString("%1, sectors %2-%3 (%4)")
                              .arg(QString::fromUtf8(record.szDevicePath))
                              .arg(record.u64StartSector)
                              .arg(record.u64StartSector + record.u64SectorCount - 1)
                              .arg(SizeText(record.u64SectorCount * SECTOR_BYTES)));
        pItem->setToolTip(0, pItem->text(0));
        pItem->setText(1, facts.lastWritten.toString("yyyy-MM-dd hh:mm"));
        pItem->setText(2, QString::number(record.u64FilesFound));
        pItem->setText(3, StateText(record));
        pItem->setText(4, SizeText(facts.u64Bytes));
        pItem->setData(0, LOG_DIR_ROLE, QString::fromUtf8(record.szLogDirPath));
    }
    if (m_pScanList->topLevelItemCount() > 0)
        m_pScanList->setCurrentItem(m_pScanList->topLevelItem(0));
    const QString strRoot = QString::fromStdString(pLogs->GetRootPath());
    m_pScanLogSize->setText(m_pScanList->topLevelItemCount() == 0
                                ? QString(NO_SCANS_TEXT)
                                : QString("Scans are kept in %1 and take %2.")
                                      .arg(strRoot, SizeText(ExamineDir(strRoot).u64Bytes)));
}

void DRUI::RemoveEarlierScan() {
    const QList<QTreeWidgetItem*> listChosen = m_pScanList->selectedItems();
    if (listChosen.isEmpty() || !CMessageBox::Ask(this, REMOVE_QUESTION))
        return;
    CLogFileManager* pLogs = CLogFileManager::GetInstance();
    for (const QTreeWidgetItem* pItem : listChosen)
        pLogs->DeleteLogFileDir(pItem->data(0, LOG_DIR_ROLE).toString().toUtf8().constData());
    if (int nError = pLogs->SaveLogConfigFile(); nError != 0)
        CMessageBox::Ask(this,
                         "The list of scans could not be saved: " +
                             QString::fromStdString(DescribeStatus(nError)),
                         true);
    FillEarlierScans();
}

void DRUI::OpenEarlierScan() {
    QTreeWidgetItem* pItem = m_pScanList->currentItem();
    if (pItem == nullptr)
        return;
    const QByteArray dir = pItem->data(0, LOG_DIR_ROLE).toString().toUtf8();
    for (const LOG_FILE_INFO& record : CLogFileManager::GetInstance()->GetRecords()) {
        if (std::strcmp(record.szLogDirPath, dir.constData()) == 0) {
            // The record is copied: reopening rewrites the list it lives in.
            const LOG_FILE_INFO chosen = record;
            if (!ReopenScan(chosen))
                FillEarlierScans();
            return;
        }
    }
}

bool DRUI::ReopenScan(const LOG_FILE_INFO& record) {
    const QString strDevice = QString::fromUtf8(record.szDevicePath);
    const int nDiskNo = CDiskRegistry::GetInstance().AddImage(record.szDevicePath);
    if (nDiskNo < 0) {
        CMessageBox::Ask(
            this,
            QString("%1 cannot be opened, and the scan reads its files from there.").arg(strDevice),
            true);
        return false;
    }
    PARTITION_ITEM item{};
    item.nDiskNo = static_cast<uint32_t>(nDiskNo);
    item.u64StartSector = record.u64StartSector;
    item.u64EndSector = record.u64StartSector + record.u64SectorCount - 1;
    strDevice.toStdU16String().copy(item.wszName, PARTITION_NAME_UNITS - 1);
    m_partitionItem = item;
    m_bWholeDiskScan = record.u64StartSector == 0;
    m_bReopen = true;
    const bool bOpened = ScanAndShowResults();
    m_bReopen = false;
    return bOpened;
}
