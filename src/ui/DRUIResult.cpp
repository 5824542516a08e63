// Main window, result page: the category tree with its counts, the table of hits over the row
// index (sorted by any column, narrowed by the tree and the filter boxes), the folder view, and
// the ticks that Recover saves.
#include "ui/CResultFolderModel.h"
#include "ui/CResultTableModel.h"
#include "ui/DRUI.h"
#include "ui/FileTypeIcon.h"
#include "ui/UiStyle.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QTableView>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
constexpr int TREE_WIDTH = 250;
constexpr int TREE_MIN_WIDTH = 170;
constexpr int TREE_MIN_HEIGHT = 160;
constexpr int TABLE_MIN_WIDTH = 300;
constexpr int TABLE_MIN_HEIGHT = 120;
constexpr int TABLE_ROW_HEIGHT = 22;
constexpr int FOLDER_NAME_WIDTH = 420;
constexpr int SIZE_BOX_WIDTH = 70;
constexpr int NAME_BOX_MIN_WIDTH = 120;
constexpr int TABLE_COLUMN_WIDTHS[COLUMN_COUNT] = {200, 80, 120, 150, 70, 90};
// Tree items carry their category and extension id (-1: the whole category).
constexpr int CATEGORY_ROLE = Qt::UserRole;
constexpr int EXTENSION_ROLE = Qt::UserRole + 1;
// A date box at its minimum means no bound.
const QDate NO_DATE(1970, 1, 1);

const char* const RESULT_TREE_STYLE =
    "QTreeWidget{background-color: white; border: 1px solid rgb(205, 215, 230); border-radius: "
    "6px;}QTreeWidget::item{height: 24px;}QTreeWidget::item:selected{background-color: rgb(214, "
    "232, 252); color: rgb(16, 48, 89);}QTreeWidget:focus{border: 2px solid rgb(30, 144, 255);}";
const char* const RESULT_VIEW_STYLE =
    "QAbstractItemView{background-color: white; border: 1px solid rgb(205, 215, 230);"
    " selection-background-color: rgb(214, 232, 252); selection-color: rgb(16, 48, 89);}"
    "QAbstractItemView:focus{border: 2px solid rgb(30, 144, 255);}"
    "QHeaderView::section{background-color: rgb(244, 247, 251); color: rgb(90, 100, 115);"
    " border: none; border-bottom: 1px solid rgb(225, 230, 238); padding: 4px;}";
const char* const EMPTY_RESULT_STYLE =
    "background-color: rgb(244, 247, 251); border: 1px solid rgb(205, 215, 230); color: rgb(16, "
    "48, 89); padding: 24px;";
const char* const FILTER_STYLE = "color: rgb(16, 48, 89);";

QTreeWidgetItem* MakeCheckItem(const QString& strText, int nCategory, int nExtensionId) {
    auto* pItem = new QTreeWidgetItem(QStringList{strText});
    pItem->setFlags(pItem->flags() | Qt::ItemIsUserCheckable);
    pItem->setCheckState(0, Qt::Unchecked);
    pItem->setData(0, CATEGORY_ROLE, nCategory);
    pItem->setData(0, EXTENSION_ROLE, nExtensionId);
    pItem->setToolTip(0, strText);
    return pItem;
}

Qt::CheckState CheckStateOf(uint64_t u64Ticked, uint64_t u64All) {
    if (u64Ticked == 0)
        return Qt::Unchecked;
    return u64Ticked == u64All ? Qt::Checked : Qt::PartiallyChecked;
}

QDateEdit* MakeDateBox(const QString& strTip, QWidget* pParent) {
    auto* pBox = new QDateEdit(NO_DATE, pParent);
    pBox->setMinimumDate(NO_DATE);
    pBox->setSpecialValueText("Any date");
    pBox->setDisplayFormat("yyyy-MM-dd");
    pBox->setCalendarPopup(true);
    pBox->setToolTip(strTip);
    return pBox;
}

QLineEdit* MakeFilterBox(const QString& strHint, QWidget* pParent) {
    auto* pBox = new QLineEdit(pParent);
    pBox->setPlaceholderText(strHint);
    pBox->setToolTip(strHint);
    pBox->setClearButtonEnabled(true);
    return pBox;
}
} // namespace

// "4096", "200k", "1.5 MB", "2 GiB": bytes; nothing for any other text.
std::optional<uint64_t> DRUI::ParseSizeText(const QString& strText) {
    static const QRegularExpression sizeText(R"(^\s*(\d+(?:\.\d+)?)\s*([kmgt]?)(?:i?b)?\s*$)",
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = sizeText.match(strText);
    if (!match.hasMatch())
        return std::nullopt;
    const QString strUnit = match.captured(2).toLower();
    const int nPower =
        strUnit.isEmpty() ? 0 : static_cast<int>(QString("kmgt").indexOf(strUnit)) + 1;
    const double dBytes = match.captured(1).toDouble() * std::pow(1024.0, nPower);
    if (dBytes >= 18e18)
        return std::nullopt;
    return static_cast<uint64_t>(dBytes);
}

void DRUI::ForgetResultPage() {
    m_pResultModel = nullptr;
    m_pFolderModel = nullptr;
    m_pResultTree = nullptr;
    m_pResultTable = nullptr;
    m_pFolderView = nullptr;
    m_pViewStack = nullptr;
    m_pPreviewStack = nullptr;
}

void DRUI::InitLayout3Widget() {
    ForgetResultPage();
    auto* pPage = new QWidget;
    // The rows belong to the page: a new scan's page replaces the old one with its rows.
    m_pResultModel = new CResultTableModel(m_pEngine, std::move(m_foundRows), pPage);
    m_foundRows = CResultRowIndex();
    connect(m_pResultModel, &CResultTableModel::TicksChanged, this, &DRUI::RefreshTicks);
    QVBoxLayout* pLayout = CreatePageLayout(pPage);
    pLayout->addWidget(CreatePageTitle(ResultTitleText(), ":/image/recover_file.png", pPage));

    auto* pBody = new QHBoxLayout;
    pBody->setContentsMargins(10, 8, 10, 4);
    pBody->setSpacing(10);
    if (m_pResultModel->GetIndex().GetRowCount() == 0) {
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
        pRight->setSpacing(6);
        pRight->addWidget(CreatePreviewArea(pPage), 2);
        pRight->addWidget(CreateFilterBar(pPage));
        m_pViewStack = new QStackedWidget(pPage);
        m_pResultTable = CreateTable(m_pViewStack);
        m_pViewStack->addWidget(m_pResultTable);
        pRight->addWidget(m_pViewStack, 3);
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
    RefreshTicks();
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
    m_pRecoverIntoFolders = new QCheckBox("Keep original folders", pBar);
    m_pRecoverIntoFolders->setToolTip("Recover each file into its original folder, carved files "
                                      "into a folder of their kind, instead of one folder per "
                                      "kind");
    m_pRecoverIntoFolders->setStyleSheet(FILTER_STYLE);
    auto* pBtnBack = MakeActionButton("Back", pBar);
    m_pBtnRecover = MakeActionButton("Recover", pBar);
    pBarLayout->addWidget(m_pSummaryLabel);
    pBarLayout->addStretch(1);
    pBarLayout->addWidget(m_pRecoverIntoFolders);
    pBarLayout->addWidget(MakeVersionLabel(pBar));
    pBarLayout->addSpacing(8);
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
                       : QString(m_bReopen ? "the earlier scan" : "the scan");
    const QString strItems =
        m_u64ItemsFound > 0 ? QString(", among %1 items found").arg(m_u64ItemsFound.load()) : "";
    const uint32_t nFound = m_pResultModel->GetIndex().GetRowCount();
    QString strTitle = QString("Select Desired Files to Recover\nFound %1 recoverable files after "
                               "%2%3.")
                           .arg(nFound)
                           .arg(strScan, strItems);
    if (nFound > 0)
        strTitle += "\nPlease preview and choose the files you want to recover.";
    return strTitle;
}

QString DRUI::EmptyResultText() const {
    QStringList listKinds;
    for (const QCheckBox* pBox : KindBoxes())
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

    const CResultRowIndex& rows = m_pResultModel->GetIndex();
    const std::vector<std::string>& vecExtensions = rows.GetExtensions();
    // The way back to every file once a kind was chosen, and a box that ticks them all.
    pTree->addTopLevelItem(MakeCheckItem(QString("All files(%1)").arg(rows.GetRowCount()), -1, -1));
    for (int n = 0; n < FILE_CATEGORY_COUNT; ++n) {
        const uint64_t u64Count = rows.CountRows(n, -1);
        if (u64Count == 0)
            continue;
        const char* pName = GetCategoryName(static_cast<FileCategory>(n));
        QTreeWidgetItem* pCategory =
            MakeCheckItem(QString("%1(%2)").arg(pName).arg(u64Count), n, -1);
        pTree->addTopLevelItem(pCategory);
        std::vector<std::pair<QString, int>> vecKeys;
        for (size_t nId = 0; nId < vecExtensions.size(); ++nId)
            if (rows.GetExtensionCategory(static_cast<uint16_t>(nId)) == n)
                vecKeys.emplace_back(vecExtensions[nId].empty()
                                         ? QString(NO_EXTENSION_KEY)
                                         : QString::fromStdString(vecExtensions[nId]),
                                     static_cast<int>(nId));
        std::sort(vecKeys.begin(), vecKeys.end());
        for (const auto& [strKey, nId] : vecKeys) {
            QTreeWidgetItem* pExtension = MakeCheckItem(
                QString("%1 Files (%2)").arg(strKey).arg(rows.CountRows(n, nId)), n, nId);
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

QWidget* DRUI::CreateFilterBar(QWidget* pParent) {
    auto* pBar = new QWidget(pParent);
    pBar->setObjectName("filterBar");
    pBar->setStyleSheet(FILTER_STYLE);
    pBar->setFont(UiFont(10));
    auto* pLayout = new QHBoxLayout(pBar);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(6);
    m_pFilterName = MakeFilterBox("Name, e.g. IMG_*.jpg", pBar);
    m_pFilterName->setMinimumWidth(NAME_BOX_MIN_WIDTH);
    m_pFilterMinSize = MakeFilterBox("Min size", pBar);
    m_pFilterMaxSize = MakeFilterBox("Max size", pBar);
    for (QLineEdit* pBox : {m_pFilterMinSize, m_pFilterMaxSize}) {
        pBox->setFixedWidth(SIZE_BOX_WIDTH);
        pBox->setToolTip("A size such as 4096, 200 KB or 1.5 GB");
    }
    m_pFilterFrom = MakeDateBox("Modified on or after", pBar);
    m_pFilterTo = MakeDateBox("Modified on or before", pBar);
    auto* pFolders = new QPushButton("Folder view", pBar);
    pFolders->setCheckable(true);
    pFolders->setToolTip("The files under the folders they were found in");
    pLayout->addWidget(m_pFilterName, 1);
    pLayout->addWidget(m_pFilterMinSize);
    pLayout->addWidget(new QLabel("-", pBar));
    pLayout->addWidget(m_pFilterMaxSize);
    pLayout->addWidget(m_pFilterFrom);
    pLayout->addWidget(new QLabel("-", pBar));
    pLayout->addWidget(m_pFilterTo);
    pLayout->addWidget(pFolders);
    for (QLineEdit* pBox : {m_pFilterName, m_pFilterMinSize, m_pFilterMaxSize})
        connect(pBox, &QLineEdit::textChanged, this, &DRUI::ApplyFilter);
    for (QDateEdit* pBox : {m_pFilterFrom, m_pFilterTo})
        connect(pBox, &QDateEdit::dateChanged, this, &DRUI::ApplyFilter);
    connect(pFolders, &QPushButton::toggled, this, &DRUI::ShowFolderView);
    return pBar;
}

QTableView* DRUI::CreateTable(QWidget* pParent) {
    auto* pTable = new QTableView(pParent);
    pTable->setObjectName("resultTable");
    pTable->setModel(m_pResultModel);
    QHeaderView* pHeader = pTable->horizontalHeader();
    pHeader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pHeader->setStretchLastSection(true);
    for (int nColumn = 0; nColumn < COLUMN_COUNT; ++nColumn)
        pTable->setColumnWidth(nColumn, TABLE_COLUMN_WIDTHS[nColumn]);
    // Rows come in name order; a click on a header sorts by its column.
    pHeader->setSortIndicator(COLUMN_NAME, Qt::AscendingOrder);
    pTable->setSortingEnabled(true);
    pTable->verticalHeader()->setVisible(false);
    pTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    pTable->verticalHeader()->setDefaultSectionSize(TABLE_ROW_HEIGHT);
    pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    pTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pTable->setWordWrap(false);
    pTable->setTextElideMode(Qt::ElideMiddle);
    pTable->setMinimumSize(TABLE_MIN_WIDTH, TABLE_MIN_HEIGHT);
    pTable->setStyleSheet(RESULT_VIEW_STYLE);
    pTable->setFont(UiFont(10));
    // Space ticks the chosen rows whichever of their cells has the focus.
    pTable->installEventFilter(this);
    connect(pTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    PreviewRow(m_pResultModel->RowAt(current.row()));
            });
    return pTable;
}

// Built at the first look: it reads the folder of every hit.
QTreeView* DRUI::CreateFolderView() {
    m_pFolderModel = new CResultFolderModel(*m_pResultModel, m_pViewStack);
    auto* pView = new QTreeView(m_pViewStack);
    pView->setObjectName("folderView");
    pView->setModel(m_pFolderModel);
    pView->setUniformRowHeights(true);
    pView->setColumnWidth(0, FOLDER_NAME_WIDTH);
    pView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pView->setStyleSheet(RESULT_VIEW_STYLE);
    pView->setFont(UiFont(10));
    connect(pView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &DRUI::folderItemClick);
    return pView;
}

// The filter boxes narrow the table only; the folder view always shows every hit.
void DRUI::ShowFolderView(bool bFolders) {
    if (bFolders && m_pFolderView == nullptr) {
        m_pFolderView = CreateFolderView();
        m_pViewStack->addWidget(m_pFolderView);
    }
    m_pViewStack->setCurrentWidget(bFolders ? static_cast<QWidget*>(m_pFolderView)
                                            : m_pResultTable);
    for (QWidget* pBox : std::initializer_list<QWidget*>{
             m_pFilterName, m_pFilterMinSize, m_pFilterMaxSize, m_pFilterFrom, m_pFilterTo})
        pBox->setEnabled(!bFolders);
}

bool DRUI::eventFilter(QObject* pObject, QEvent* pEvent) {
    if (pObject == m_pResultTable && pEvent->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Space) {
        const QModelIndex current = m_pResultTable->currentIndex();
        QModelIndexList listRows = m_pResultTable->selectionModel()->selectedRows();
        if (listRows.isEmpty() && current.isValid())
            listRows << current;
        if (listRows.isEmpty())
            return true;
        const int nLead = current.isValid() ? current.row() : listRows.front().row();
        const bool bTick = !m_pResultModel->GetIndex().IsTicked(m_pResultModel->RowAt(nLead));
        std::vector<uint32_t> vecRows;
        for (const QModelIndex& index : listRows)
            vecRows.push_back(m_pResultModel->RowAt(index.row()));
        m_pResultModel->SetRowsTicked(vecRows, bTick);
        return true;
    }
    return QMainWindow::eventFilter(pObject, pEvent);
}

void DRUI::treeItemSelectChanged() {
    const QList<QTreeWidgetItem*> listSelected = m_pResultTree->selectedItems();
    if (!listSelected.isEmpty())
        UpdateTreeInfo(listSelected.front(), 0);
}

// A tree node shows its files, the first of them previewed.
void DRUI::UpdateTreeInfo(QTreeWidgetItem*, int) {
    ApplyFilter();
    if (m_pResultModel->rowCount() > 0)
        tableItemClick(m_pResultModel->index(0, COLUMN_NAME));
    else
        ClearPreview();
}

void DRUI::ApplyFilter() {
    RESULT_FILTER filter;
    if (const QTreeWidgetItem* pKind = m_pResultTree->currentItem()) {
        filter.nCategory = pKind->data(0, CATEGORY_ROLE).toInt();
        filter.nExtensionId = pKind->data(0, EXTENSION_ROLE).toInt();
    }
    filter.strName = m_pFilterName->text().trimmed().toStdString();
    filter.u64MinSize = ParseSizeText(m_pFilterMinSize->text()).value_or(filter.u64MinSize);
    filter.u64MaxSize = ParseSizeText(m_pFilterMaxSize->text()).value_or(filter.u64MaxSize);
    // Files without a date pass only while no date is asked for.
    if (m_pFilterFrom->date() != NO_DATE || m_pFilterTo->date() != NO_DATE)
        filter.i64ModifiedFrom = 1;
    if (m_pFilterFrom->date() != NO_DATE)
        filter.i64ModifiedFrom = m_pFilterFrom->date().startOfDay().toSecsSinceEpoch();
    if (m_pFilterTo->date() != NO_DATE)
        filter.i64ModifiedTo = m_pFilterTo->date().addDays(1).startOfDay().toSecsSinceEpoch() - 1;
    if (filter != m_pResultModel->GetIndex().GetFilter())
        m_pResultModel->SetFilter(filter);
}

// Every tick, whatever made it (a click on any box, Space, a call), goes into the row index; the
// model then says so and every box is redrawn from the index.
void DRUI::treeItemCheckChange(QTreeWidgetItem* pItem, int nColumn) {
    if (nColumn != 0)
        return;
    // A box shows partial only when the rows say so; setting it changes nothing.
    const Qt::CheckState nState = pItem->checkState(0);
    if (nState == Qt::PartiallyChecked) {
        RefreshTicks();
        return;
    }
    m_pResultModel->SetKindTicked(pItem->data(0, CATEGORY_ROLE).toInt(),
                                  pItem->data(0, EXTENSION_ROLE).toInt(), nState == Qt::Checked);
}

void DRUI::RefreshTicks() {
    const CResultRowIndex& rows = m_pResultModel->GetIndex();
    if (m_pResultTree != nullptr) {
        const QSignalBlocker blocker(m_pResultTree);
        for (QTreeWidgetItemIterator it(m_pResultTree); *it != nullptr; ++it) {
            const int nCategory = (*it)->data(0, CATEGORY_ROLE).toInt();
            const int nExtensionId = (*it)->data(0, EXTENSION_ROLE).toInt();
            (*it)->setCheckState(0, CheckStateOf(rows.CountTicked(nCategory, nExtensionId),
                                                 rows.CountRows(nCategory, nExtensionId)));
        }
    }
    const uint64_t u64Count = rows.CountTicked(-1, -1);
    SetActionButton(m_pBtnRecover, u64Count > 0);
    m_pSummaryLabel->setText(
        QString(u64Count < 2 ? "Select %1 in %2 file" : "Select %1 in %2 files")
            .arg(QString::fromStdString(
                GetFileSizeString(static_cast<long long>(rows.GetTickedBytes()))))
            .arg(u64Count));
}
