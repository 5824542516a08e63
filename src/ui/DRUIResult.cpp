// Main window, result page: hits grouped by category and extension, the file table, ticks that
// travel between tree and table, and the selection that Recover saves.
#include "ui/DRUI.h"
#include "ui/FileTypeIcon.h"
#include "ui/UiMetaTypes.h"
#include "ui/UiStyle.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int TREE_WIDTH = 250;
constexpr int TREE_MIN_WIDTH = 170;
constexpr int TREE_MIN_HEIGHT = 160;
constexpr int TABLE_MIN_WIDTH = 300;
constexpr int TABLE_MIN_HEIGHT = 120;
constexpr int TABLE_NAME_WIDTH = 400;
constexpr int TABLE_ROW_HEIGHT = 22;
constexpr int PREVIEW_MIN_HEIGHT = 120;
// Tree items carry their category, and extension nodes their key, so ticks find their records.
constexpr int CATEGORY_ROLE = Qt::UserRole;
constexpr int KEY_ROLE = Qt::UserRole + 1;

const char* const RESULT_TREE_STYLE =
    "QTreeWidget{background-color: white; border: 1px solid rgb(205, 215, 230); border-radius: "
    "6px;}QTreeWidget::item{height: 24px;}QTreeWidget::item:selected{background-color: rgb(214, "
    "232, 252); color: rgb(16, 48, 89);}QTreeWidget:focus{border: 2px solid rgb(30, 144, 255);}";
const char* const RESULT_TABLE_STYLE =
    "QTableWidget{background-color: white; border: 1px solid rgb(205, 215, 230);"
    " selection-background-color: rgb(214, 232, 252); selection-color: rgb(16, 48, 89);}"
    "QTableWidget:focus{border: 2px solid rgb(30, 144, 255);}"
    "QHeaderView::section{background-color: rgb(244, 247, 251); color: rgb(90, 100, 115);"
    " border: none; border-bottom: 1px solid rgb(225, 230, 238); padding: 4px;}";
const char* const EMPTY_RESULT_STYLE =
    "background-color: rgb(244, 247, 251); border: 1px solid rgb(205, 215, 230); color: rgb(16, "
    "48, 89); padding: 24px;";

QTreeWidgetItem* MakeCheckItem(const QString& strText, int nCategory, const QString& strKey) {
    auto* pItem = new QTreeWidgetItem(QStringList{strText});
    pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
    pItem->setCheckState(0, Qt::Unchecked);
    pItem->setData(0, CATEGORY_ROLE, nCategory);
    pItem->setData(0, KEY_ROLE, strKey);
    pItem->setToolTip(0, strText);
    return pItem;
}

int CategoryOfKey(const QString& strKey) {
    const FileCategory category =
        strKey == NO_EXTENSION_KEY ? FileCategory::Other : GetFileCategory(strKey.toStdString());
    return static_cast<int>(category);
}

Qt::CheckState CheckStateOf(size_t nTicked, size_t nAll) {
    if (nTicked == 0)
        return Qt::Unchecked;
    return nTicked == nAll ? Qt::Checked : Qt::PartiallyChecked;
}
} // namespace

DRUI::SELECTION_KEY DRUI::GetSelectionKey(const FILE_NODE& node) {
    return {node.nEngineType, uint64_t(node.nFileIndex) << 32 | node.nClusterNo};
}

void DRUI::InitLayout3Widget() {
    // Records of an earlier scan belong to the engine that was deleted with it.
    m_mapSelection.clear();
    m_pResultTree = nullptr;
    m_pResultTable = nullptr;
    m_pPreviewStack = nullptr;

    auto* pPage = new QWidget;
    auto* pLayout = new QVBoxLayout(pPage);
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addWidget(CreateHeaderStrip(pPage));
    pLayout->addWidget(CreatePageTitle(ResultTitleText(), ":/image/recover_file.png", pPage));

    auto* pBody = new QHBoxLayout;
    pBody->setContentsMargins(10, 8, 10, 4);
    pBody->setSpacing(10);
    if (m_vecSearchResults.empty()) {
        auto* pEmpty = new QLabel(EmptyResultText(), pPage);
        pEmpty->setObjectName("emptyResultLabel");
        pEmpty->setWordWrap(true);
        pEmpty->setAlignment(Qt::AlignCenter);
        pEmpty->setFont(UiFont(12));
        pEmpty->setStyleSheet(EMPTY_RESULT_STYLE);
        pBody->addWidget(pEmpty, 1);
    } else {
        m_pResultTree = CreateTree(pPage);
        pBody->addWidget(m_pResultTree);
        auto* pRight = new QVBoxLayout;
        pRight->setSpacing(8);
        pRight->addWidget(CreatePreviewArea(pPage), 2);
        m_pResultTable = CreateTable(pPage);
        pRight->addWidget(m_pResultTable, 3);
        pBody->addLayout(pRight, 1);
    }
    pLayout->addLayout(pBody, 1);
    pLayout->addWidget(CreateResultBar(pPage));

    if (m_pPage3 != nullptr) {
        m_pStackedLayout->removeWidget(m_pPage3);
        delete m_pPage3;
    }
    m_pPage3 = pPage;
    m_pStackedLayout->addWidget(m_pPage3);
    m_pStackedLayout->setCurrentWidget(m_pPage3);
}

QWidget* DRUI::CreateResultBar(QWidget* pPage) {
    auto* pBar = new QWidget(pPage);
    pBar->setFixedHeight(56);
    auto* pBarLayout = new QHBoxLayout(pBar);
    pBarLayout->setContentsMargins(14, 0, 10, 6);
    pBarLayout->setSpacing(14);
    m_pSummaryLabel = new QLabel("Select 0 Bytes in 0 file", pBar);
    m_pSummaryLabel->setFont(UiFont(11, QFont::Bold));
    m_pSummaryLabel->setStyleSheet("color: rgb(16, 48, 89);");
    auto* pBtnBack = MakeActionButton("Back", pBar);
    m_pBtnRecover = MakeActionButton("Recover", pBar);
    pBarLayout->addWidget(m_pSummaryLabel);
    pBarLayout->addStretch(1);
    pBarLayout->addWidget(MakeVersionLabel(pBar));
    pBarLayout->addSpacing(16);
    pBarLayout->addWidget(pBtnBack);
    pBarLayout->addWidget(m_pBtnRecover);
    SetActionButton(m_pBtnRecover, false);
    connect(pBtnBack, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(m_pBtnRecover, &QPushButton::clicked, this, &DRUI::btnRecovery);
    return pBar;
}

// The scan's own count covers folders and every kind; the page names both, and says when the
// scan was stopped before it covered the whole volume.
QString DRUI::ResultTitleText() const {
    const QString strScan =
        m_bScanStopped ? QString("a partial scan (stopped at %1%)").arg(m_nScanPercent.load())
                       : QString("the scan");
    const QString strItems =
        m_u64ItemsFound > 0 ? QString(", among %1 items found").arg(m_u64ItemsFound.load()) : "";
    QString strTitle = QString("Select Desired Files to Recover\nFound %1 recoverable files after "
                               "%2%3.")
                           .arg(m_vecSearchResults.size())
                           .arg(strScan, strItems);
    if (!m_vecSearchResults.empty())
        strTitle += "\nPlease preview and choose the files you want to recover.";
    return strTitle;
}

QString DRUI::EmptyResultText() const {
    QStringList listKinds;
    for (const QCheckBox* pBox : {m_pCheckPhoto, m_pCheckMusic, m_pCheckVideo})
        if (pBox->isChecked())
            listKinds << pBox->text();
    QString strText = QString("No %1 files were found on %2.")
                          .arg(listKinds.join(", "), QString::fromUtf16(m_partitionItem.wszName));
    if (m_bScanStopped)
        strText += "\nThe scan was stopped, so part of the volume was not searched.";
    if (m_bWholeDiskScan)
        return strText + "\nTry again with more kinds of files ticked on the first page.";
    return strText + QString("\nTry a whole-disk scan: press Back, choose \"Physical Driver %1\" "
                             "itself and press Scan. It reads every sector of the disk, so it "
                             "also finds files of lost or reformatted partitions.")
                         .arg(m_partitionItem.nDiskNo);
}

QTreeWidget* DRUI::CreateTree(QWidget* pParent) {
    auto* pTree = new QTreeWidget(pParent);
    pTree->setObjectName("resultTree");
    pTree->setColumnCount(1);
    pTree->setHeaderLabels({QString()});
    pTree->setHeaderHidden(true);
    pTree->setMinimumSize(TREE_MIN_WIDTH, TREE_MIN_HEIGHT);
    pTree->setMaximumWidth(TREE_WIDTH);
    pTree->setStyleSheet(RESULT_TREE_STYLE);
    pTree->setFont(UiFont(10));

    for (auto& mapCategory : m_mapCategory)
        mapCategory.clear();
    int nCounts[FILE_CATEGORY_COUNT] = {};
    for (const SEARCH_FILE_INFO& info : m_vecSearchResults) {
        const QString strKey = GetExtensionKey(info.szFileName);
        const int nCategory = CategoryOfKey(strKey);
        m_mapCategory[nCategory][strKey].push_back(info);
        ++nCounts[nCategory];
    }
    for (int n = 0; n < FILE_CATEGORY_COUNT; ++n) {
        if (nCounts[n] == 0)
            continue;
        const char* pName = GetCategoryName(static_cast<FileCategory>(n));
        QTreeWidgetItem* pCategory =
            MakeCheckItem(QString("%1(%2)").arg(pName).arg(nCounts[n]), n, QString());
        pTree->addTopLevelItem(pCategory);
        for (const auto& [strKey, vecInfo] : m_mapCategory[n]) {
            QTreeWidgetItem* pExtension =
                MakeCheckItem(QString("%1 Files (%2)").arg(strKey).arg(vecInfo.size()), n, strKey);
            pExtension->setIcon(0, QIcon(GetExtendNameIcon(strKey)));
            pCategory->addChild(pExtension);
        }
    }
    pTree->setItemsExpandable(true);
    pTree->expandAll();
    connect(pTree, &QTreeWidget::itemSelectionChanged, this, &DRUI::treeItemSelectChanged);
    connect(pTree, &QTreeWidget::itemChanged, this, &DRUI::treeItemCheckChange);
    return pTree;
}

QTableWidget* DRUI::CreateTable(QWidget* pParent) {
    auto* pTable = new QTableWidget(0, 2, pParent);
    pTable->setObjectName("resultTable");
    pTable->setHorizontalHeaderLabels({"Name", "Size"});
    pTable->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pTable->horizontalHeader()->setStretchLastSection(true);
    pTable->setColumnWidth(0, TABLE_NAME_WIDTH);
    pTable->verticalHeader()->setVisible(false);
    pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pTable->setMinimumSize(TABLE_MIN_WIDTH, TABLE_MIN_HEIGHT);
    pTable->setMouseTracking(true);
    pTable->setStyleSheet(RESULT_TABLE_STYLE);
    pTable->setFont(UiFont(10));
    // Space ticks the current row whichever of its cells has the focus.
    pTable->installEventFilter(this);
    connect(pTable, &QTableWidget::itemSelectionChanged, this, &DRUI::tableItemSelectChanged);
    connect(pTable, &QTableWidget::itemChanged, this, &DRUI::tableItemCheckChange);
    return pTable;
}

bool DRUI::eventFilter(QObject* pObject, QEvent* pEvent) {
    if (pObject == m_pResultTable && pEvent->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Space) {
        if (QTableWidgetItem* pCell = m_pResultTable->item(m_pResultTable->currentRow(), 0))
            pCell->setCheckState(pCell->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return true;
    }
    return QMainWindow::eventFilter(pObject, pEvent);
}

void DRUI::treeItemSelectChanged() {
    const QList<QTreeWidgetItem*> listSelected = m_pResultTree->selectedItems();
    if (!listSelected.isEmpty())
        UpdateTreeInfo(listSelected.front(), 0);
}

void DRUI::UpdateTreeInfo(QTreeWidgetItem* pItem, int) {
    {
        const QSignalBlocker blocker(m_pResultTable);
        m_pResultTable->setRowCount(0);
        FillTable(pItem->data(0, KEY_ROLE).toString());
    }
    RefreshTicks();
    if (m_pResultTable->rowCount() > 0)
        m_pResultTable->selectRow(0);
    else
        ClearPreview();
}

void DRUI::FillTable(const QString& strKey) {
    if (strKey.isEmpty())
        return;
    const auto& mapCategory = m_mapCategory[CategoryOfKey(strKey)];
    const auto itVec = mapCategory.find(strKey);
    if (itVec == mapCategory.end())
        return;
    const QIcon icon(GetExtendNameIcon(strKey));
    for (const SEARCH_FILE_INFO& info : itVec->second) {
        const int nRow = m_pResultTable->rowCount();
        m_pResultTable->insertRow(nRow);
        const QVariant varNode = QVariant::fromValue<FILE_NODE>(info);
        auto* pName = new QTableWidgetItem(icon, QString::fromUtf8(info.szFileName));
        pName->setFlags(pName->flags() | Qt::ItemIsUserCheckable);
        pName->setCheckState(Qt::Unchecked);
        pName->setData(Qt::UserRole, varNode);
        pName->setToolTip(pName->text());
        auto* pSize = new QTableWidgetItem(
            QString::fromStdString(GetFileSizeString(static_cast<long long>(info.u64FileSize))));
        pSize->setData(Qt::UserRole, varNode);
        m_pResultTable->setItem(nRow, 0, pName);
        m_pResultTable->setItem(nRow, 1, pSize);
        m_pResultTable->setRowHeight(nRow, TABLE_ROW_HEIGHT);
    }
}

std::vector<const SEARCH_FILE_INFO*> DRUI::RecordsOfTreeItem(const QTreeWidgetItem* pItem) const {
    std::vector<const SEARCH_FILE_INFO*> vecRecords;
    const auto& mapCategory = m_mapCategory[pItem->data(0, CATEGORY_ROLE).toInt()];
    const QString strKey = pItem->data(0, KEY_ROLE).toString();
    for (const auto& [strVecKey, vecInfo] : mapCategory)
        if (strKey.isEmpty() || strKey == strVecKey)
            for (const SEARCH_FILE_INFO& info : vecInfo)
                vecRecords.push_back(&info);
    return vecRecords;
}

// Every tick, whatever made it (a click on any box, Space, a call), lands here or in
// tableItemCheckChange: it changes the selection, and the boxes are then redrawn from it.
void DRUI::treeItemCheckChange(QTreeWidgetItem* pItem, int nColumn) {
    if (nColumn != 0)
        return;
    // A box shows partial only when the selection says so; setting it changes nothing.
    const Qt::CheckState nState = pItem->checkState(0);
    if (nState != Qt::PartiallyChecked)
        for (const SEARCH_FILE_INFO* pInfo : RecordsOfTreeItem(pItem))
            SetTicked(*pInfo, nState == Qt::Checked);
    RefreshTicks();
}

void DRUI::tableItemCheckChange(QTableWidgetItem* pCell) {
    if (pCell->column() != 0)
        return;
    SetTicked(pCell->data(Qt::UserRole).value<FILE_NODE>(), pCell->checkState() == Qt::Checked);
    RefreshTicks();
}

void DRUI::SetTicked(const FILE_NODE& node, bool bTicked) {
    if (bTicked)
        m_mapSelection[GetSelectionKey(node)] = node;
    else
        m_mapSelection.erase(GetSelectionKey(node));
}

size_t DRUI::CountTicked(const QTreeWidgetItem* pItem) const {
    size_t nTicked = 0;
    for (const SEARCH_FILE_INFO* pInfo : RecordsOfTreeItem(pItem))
        nTicked += m_mapSelection.count(GetSelectionKey(*pInfo));
    return nTicked;
}

void DRUI::RefreshTicks() {
    {
        const QSignalBlocker treeBlocker(m_pResultTree);
        const QSignalBlocker tableBlocker(m_pResultTable);
        for (int i = 0; i < m_pResultTree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* pCategory = m_pResultTree->topLevelItem(i);
            for (int j = 0; j < pCategory->childCount(); ++j) {
                QTreeWidgetItem* pExtension = pCategory->child(j);
                pExtension->setCheckState(
                    0, CheckStateOf(CountTicked(pExtension), RecordsOfTreeItem(pExtension).size()));
            }
            pCategory->setCheckState(
                0, CheckStateOf(CountTicked(pCategory), RecordsOfTreeItem(pCategory).size()));
        }
        for (int nRow = 0; nRow < m_pResultTable->rowCount(); ++nRow) {
            QTableWidgetItem* pCell = m_pResultTable->item(nRow, 0);
            const bool bTicked =
                m_mapSelection.count(GetSelectionKey(pCell->data(Qt::UserRole).value<FILE_NODE>()));
            pCell->setCheckState(bTicked ? Qt::Checked : Qt::Unchecked);
        }
    }
    UpdateSelectionSummary();
}

void DRUI::tableItemSelectChanged() {
    const QList<QTableWidgetItem*> listSelected = m_pResultTable->selectedItems();
    if (!listSelected.isEmpty())
        tableItemClick(listSelected.front());
}

void DRUI::UpdateSelectionSummary() {
    SetActionButton(m_pBtnRecover, !m_mapSelection.empty());
    unsigned long long u64Bytes = 0;
    for (const auto& [key, node] : m_mapSelection)
        u64Bytes += node.u64FileSize;
    const size_t nCount = m_mapSelection.size();
    m_pSummaryLabel->setText(
        QString(nCount < 2 ? "Select %1 in %2 file" : "Select %1 in %2 files")
            .arg(QString::fromStdString(GetFileSizeString(static_cast<long long>(u64Bytes))))
            .arg(nCount));
}
