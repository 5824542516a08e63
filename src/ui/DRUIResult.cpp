// Main window, result page: hits grouped by category and extension, the file table, ticks that
// travel between tree and table, and the selection that Recover saves.
#include "ui/DRUI.h"
#include "ui/FileTypeIcon.h"
#include "ui/UiMetaTypes.h"
#include "ui/UiStyle.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int TREE_MIN_WIDTH = 250;
constexpr int TREE_MIN_HEIGHT = 410;
constexpr int TABLE_MIN_WIDTH = 300;
constexpr int TABLE_MIN_HEIGHT = 205;
constexpr int TABLE_NAME_WIDTH = 400;
constexpr int TABLE_SIZE_WIDTH = 300;
constexpr int TABLE_ROW_HEIGHT = 22;
constexpr int PREVIEW_WIDTH = 720;
constexpr int PREVIEW_HEIGHT = 200;

const char* const RESULT_TREE_STYLE =
    "QTreeWidget{background-color: white; border: 1px solid rgb(205, 215, 230); border-radius: "
    "6px;}QTreeWidget::item{height: 24px;}QTreeWidget::item:selected{background-color: rgb(214, "
    "232, 252); color: rgb(16, 48, 89);}";
const char* const RESULT_TABLE_STYLE =
    "QTableWidget{background-color: white; border: 1px solid rgb(205, 215, 230);"
    " selection-background-color: rgb(214, 232, 252); selection-color: rgb(16, 48, 89);}"
    "QHeaderView::section{background-color: rgb(244, 247, 251); color: rgb(90, 100, 115);"
    " border: none; border-bottom: 1px solid rgb(225, 230, 238); padding: 4px;}";
const char* const PREVIEW_STYLE =
    "background-color: rgb(244, 247, 251); border: 1px solid rgb(205, 215, 230); color: rgb(60, "
    "60, 60);";

QTreeWidgetItem* MakeCheckItem(const QString& strText) {
    auto* pItem = new QTreeWidgetItem(QStringList{strText});
    pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
    pItem->setCheckState(0, Qt::Unchecked);
    return pItem;
}

// An extension node's text is "<key> Files (<n>)"; a category node's has no space.
bool IsExtensionNode(const QTreeWidgetItem* pItem) {
    return pItem->text(0).contains(' ');
}

QString ExtensionKeyOf(const QTreeWidgetItem* pItem) {
    return pItem->text(0).section(' ', 0, 0);
}

int CategoryOfNode(const QTreeWidgetItem* pItem) {
    for (int n = 0; n < FILE_CATEGORY_COUNT; ++n)
        if (pItem->text(0).startsWith(GetCategoryName(static_cast<FileCategory>(n))))
            return n;
    return static_cast<int>(FileCategory::Other);
}

int CategoryOfKey(const QString& strKey) {
    const FileCategory category =
        strKey == NO_EXTENSION_KEY ? FileCategory::Other : GetFileCategory(strKey.toStdString());
    return static_cast<int>(category);
}
} // namespace

DRUI::SELECTION_KEY DRUI::GetSelectionKey(const FILE_NODE& node) {
    return {node.nEngineType, uint64_t(node.nFileIndex) << 32 | node.nClusterNo};
}

void DRUI::InitLayout3Widget() {
    // Records of an earlier scan belong to the engine that was deleted with it.
    m_mapSelection.clear();
    m_pShownTreeItem = nullptr;

    auto* pPage = new QWidget;
    auto* pLayout = new QVBoxLayout(pPage);
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addWidget(CreateHeaderStrip(pPage));
    const QString strTitle =
        QString("Select Desired Files to Recover\nFound %1 recoverable files after the scan. "
                "Please preview and choose the files you want to recover.")
            .arg(m_vecSearchResults.size());
    pLayout->addWidget(CreatePageTitle(strTitle, ":/image/recover_file.png", pPage));

    auto* pBody = new QHBoxLayout;
    pBody->setContentsMargins(10, 8, 10, 4);
    pBody->setSpacing(10);
    m_pResultTree = CreateTree(pPage);
    pBody->addWidget(m_pResultTree);
    auto* pRight = new QVBoxLayout;
    pRight->setSpacing(8);
    m_pPreviewLabel = new QLabel(pPage);
    m_pPreviewLabel->setObjectName("previewLabel");
    m_pPreviewLabel->setFixedSize(PREVIEW_WIDTH, PREVIEW_HEIGHT);
    m_pPreviewLabel->setStyleSheet(PREVIEW_STYLE);
    m_pPreviewLabel->setAlignment(Qt::AlignCenter);
    pRight->addWidget(m_pPreviewLabel);
    m_pResultTable = CreateTable(pPage);
    pRight->addWidget(m_pResultTable, 1);
    pBody->addLayout(pRight, 1);
    pLayout->addLayout(pBody, 1);

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
    pLayout->addWidget(pBar);
    SetActionButton(m_pBtnRecover, false);
    connect(pBtnBack, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(m_pBtnRecover, &QPushButton::clicked, this, &DRUI::btnRecovery);

    if (m_pPage3 != nullptr) {
        m_pStackedLayout->removeWidget(m_pPage3);
        delete m_pPage3;
    }
    m_pPage3 = pPage;
    m_pStackedLayout->addWidget(m_pPage3);
    m_pStackedLayout->setCurrentWidget(m_pPage3);
}

QTreeWidget* DRUI::CreateTree(QWidget* pParent) {
    auto* pTree = new QTreeWidget(pParent);
    pTree->setObjectName("resultTree");
    pTree->setColumnCount(1);
    pTree->setHeaderLabels({QString()});
    pTree->setHeaderHidden(true);
    pTree->setMinimumSize(TREE_MIN_WIDTH, TREE_MIN_HEIGHT);
    pTree->setMaximumWidth(TREE_MIN_WIDTH);
    pTree->setStyleSheet(RESULT_TREE_STYLE);
    pTree->setFont(UiFont(10));
    connect(pTree, &QTreeWidget::itemClicked, this, &DRUI::treeItemClick);
    connect(pTree, &QTreeWidget::itemSelectionChanged, this, &DRUI::treeItemSelectChanged);

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
        QTreeWidgetItem* pCategory = MakeCheckItem(QString("%1(%2)").arg(pName).arg(nCounts[n]));
        pTree->addTopLevelItem(pCategory);
        for (const auto& [strKey, vecInfo] : m_mapCategory[n]) {
            QTreeWidgetItem* pExtension =
                MakeCheckItem(QString("%1 Files (%2)").arg(strKey).arg(vecInfo.size()));
            pExtension->setIcon(0, QIcon(GetExtendNameIcon(strKey)));
            pCategory->addChild(pExtension);
        }
    }
    pTree->setItemsExpandable(true);
    pTree->expandAll();
    return pTree;
}

QTableWidget* DRUI::CreateTable(QWidget* pParent) {
    auto* pTable = new QTableWidget(0, 2, pParent);
    pTable->setObjectName("resultTable");
    pTable->setHorizontalHeaderLabels({"Name", "Size"});
    pTable->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pTable->horizontalHeader()->setStretchLastSection(true);
    pTable->setColumnWidth(0, TABLE_NAME_WIDTH);
    pTable->setColumnWidth(1, TABLE_SIZE_WIDTH);
    pTable->verticalHeader()->setVisible(false);
    pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pTable->setMinimumSize(TABLE_MIN_WIDTH, TABLE_MIN_HEIGHT);
    pTable->setMouseTracking(true);
    pTable->setStyleSheet(RESULT_TABLE_STYLE);
    pTable->setFont(UiFont(10));
    connect(pTable, &QTableWidget::cellClicked, this, &DRUI::tableItemPress);
    connect(pTable, &QTableWidget::itemSelectionChanged, this, &DRUI::tableItemSelectChanged);
    return pTable;
}

void DRUI::treeItemClick(QTreeWidgetItem* pItem, int nColumn) {
    if (pItem != m_pShownTreeItem)
        return;
    const QList<QTreeWidgetItem*> listSelected = m_pResultTree->selectedItems();
    UpdateTreeInfo(listSelected.isEmpty() ? pItem : listSelected.front(), nColumn);
}

void DRUI::treeItemSelectChanged() {
    const QList<QTreeWidgetItem*> listSelected = m_pResultTree->selectedItems();
    if (!listSelected.isEmpty())
        UpdateTreeInfo(listSelected.front(), 0);
}

void DRUI::UpdateTreeInfo(QTreeWidgetItem* pItem, int) {
    m_pShownTreeItem = pItem;
    m_pResultTable->setRowCount(0);
    if (IsExtensionNode(pItem))
        FillTable(ExtensionKeyOf(pItem));
    ApplyNodeCheckState(pItem);
    UpdateSelectionSummary();
    if (m_pResultTable->rowCount() > 0)
        tableItemClick(m_pResultTable->item(0, 0));
}

void DRUI::FillTable(const QString& strKey) {
    const auto& mapCategory = m_mapCategory[CategoryOfKey(strKey)];
    const auto itVec = mapCategory.find(strKey);
    if (itVec == mapCategory.end())
        return;
    const QIcon icon(GetExtendNameIcon(strKey));
    const QSignalBlocker blocker(m_pResultTable);
    for (const SEARCH_FILE_INFO& info : itVec->second) {
        const int nRow = m_pResultTable->rowCount();
        m_pResultTable->insertRow(nRow);
        const QVariant varNode = QVariant::fromValue<FILE_NODE>(info);
        auto* pName = new QTableWidgetItem(icon, QString::fromUtf8(info.szFileName));
        pName->setFlags(pName->flags() | Qt::ItemIsUserCheckable);
        pName->setCheckState(Qt::Unchecked);
        pName->setData(Qt::UserRole, varNode);
        auto* pSize = new QTableWidgetItem(
            QString::fromStdString(GetFileSizeString(static_cast<long long>(info.u64FileSize))));
        pSize->setData(Qt::UserRole, varNode);
        m_pResultTable->setItem(nRow, 0, pName);
        m_pResultTable->setItem(nRow, 1, pSize);
        m_pResultTable->setRowHeight(nRow, TABLE_ROW_HEIGHT);
    }
}

std::vector<const SEARCH_FILE_INFO*> DRUI::RecordsOfTreeItem(QTreeWidgetItem* pItem) const {
    std::vector<const SEARCH_FILE_INFO*> vecRecords;
    if (IsExtensionNode(pItem)) {
        const QString strKey = ExtensionKeyOf(pItem);
        const auto& mapCategory = m_mapCategory[CategoryOfKey(strKey)];
        const auto itVec = mapCategory.find(strKey);
        if (itVec != mapCategory.end())
            for (const SEARCH_FILE_INFO& info : itVec->second)
                vecRecords.push_back(&info);
        return vecRecords;
    }
    for (const auto& [strKey, vecInfo] : m_mapCategory[CategoryOfNode(pItem)])
        for (const SEARCH_FILE_INFO& info : vecInfo)
            vecRecords.push_back(&info);
    return vecRecords;
}

void DRUI::ApplyNodeCheckState(QTreeWidgetItem* pItem) {
    const Qt::CheckState nState = pItem->checkState(0);
    const QSignalBlocker blocker(m_pResultTable);
    if (nState == Qt::PartiallyChecked) {
        for (int nRow = 0; nRow < m_pResultTable->rowCount(); ++nRow) {
            QTableWidgetItem* pCell = m_pResultTable->item(nRow, 0);
            const bool bSelected =
                m_mapSelection.count(GetSelectionKey(pCell->data(Qt::UserRole).value<FILE_NODE>()));
            pCell->setCheckState(bSelected ? Qt::Checked : Qt::Unchecked);
        }
        return;
    }
    SetTreeChildCheckState(pItem, nState);
    SetTreeParentCheckState(pItem);
    for (const SEARCH_FILE_INFO* pInfo : RecordsOfTreeItem(pItem)) {
        if (nState == Qt::Checked)
            m_mapSelection[GetSelectionKey(*pInfo)] = *pInfo;
        else
            m_mapSelection.erase(GetSelectionKey(*pInfo));
    }
    for (int nRow = 0; nRow < m_pResultTable->rowCount(); ++nRow)
        m_pResultTable->item(nRow, 0)->setCheckState(nState);
}

void DRUI::tableItemPress(int nRow, int nColumn) {
    if (nColumn != 0 || m_pShownTreeItem == nullptr)
        return;
    QTableWidgetItem* pCell = m_pResultTable->item(nRow, 0);
    const FILE_NODE node = pCell->data(Qt::UserRole).value<FILE_NODE>();
    int nTicked = 0;
    for (int i = 0; i < m_pResultTable->rowCount(); ++i)
        nTicked += m_pResultTable->item(i, 0)->checkState() == Qt::Checked ? 1 : 0;
    if (pCell->checkState() == Qt::Checked) {
        m_mapSelection[GetSelectionKey(node)] = node;
        m_pShownTreeItem->setCheckState(
            0, nTicked == m_pResultTable->rowCount() ? Qt::Checked : Qt::PartiallyChecked);
    } else {
        m_mapSelection.erase(GetSelectionKey(node));
        m_pShownTreeItem->setCheckState(0, nTicked > 0 ? Qt::PartiallyChecked : Qt::Unchecked);
    }
    SetTreeParentCheckState(m_pShownTreeItem);
    UpdateSelectionSummary();
}

void DRUI::tableItemSelectChanged() {
    const QList<QTableWidgetItem*> listSelected = m_pResultTable->selectedItems();
    if (!listSelected.isEmpty())
        tableItemClick(listSelected.front());
}

void DRUI::SetTreeChildCheckState(QTreeWidgetItem* pItem, int nState) {
    for (int i = 0; i < pItem->childCount(); ++i) {
        QTreeWidgetItem* pChild = pItem->child(i);
        pChild->setCheckState(0, nState != 0 ? Qt::Checked : Qt::Unchecked);
        SetTreeChildCheckState(pChild, nState);
    }
}

void DRUI::SetTreeParentCheckState(QTreeWidgetItem* pItem) {
    QTreeWidgetItem* pParent = pItem->parent();
    if (pParent == nullptr)
        return;
    int nChecked = 0;
    int nUnchecked = 0;
    for (int i = 0; i < pParent->childCount(); ++i) {
        const Qt::CheckState nState = pParent->child(i)->checkState(0);
        nChecked += nState == Qt::Checked ? 1 : 0;
        nUnchecked += nState == Qt::Unchecked ? 1 : 0;
    }
    if (nChecked == pParent->childCount())
        pParent->setCheckState(0, Qt::Checked);
    else if (nUnchecked == pParent->childCount())
        pParent->setCheckState(0, Qt::Unchecked);
    else
        pParent->setCheckState(0, Qt::PartiallyChecked);
    SetTreeParentCheckState(pParent);
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
