// Main window: frameless frame, header strip, file-kind page, device page and navigation.
#include "ui/DRUI.h"

#include "device/CDiskRegistry.h"
#include "store/CLogFileManager.h"
#include "ui/CHelpDialog.h"
#include "ui/CMessageBox.h"
#include "ui/CResultTableModel.h"
#include "ui/UiMetaTypes.h"
#include "ui/UiStyle.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSizeGrip>
#include <QStackedLayout>
#include <QTextOption>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {
constexpr int HEADER_HEIGHT = 80;
constexpr int PAGE_TITLE_HEIGHT = 64;
constexpr int BOTTOM_BAR_HEIGHT = 64;
constexpr int HEADER_BUTTON_SIZE = 30;
constexpr int TILE_WIDTH = 240;
constexpr int TILE_HEIGHT = 200;
constexpr int TILE_MIN_WIDTH = 150;
constexpr int TILE_MIN_HEIGHT = 140;
constexpr int TILE_ICON_SIZE = 88;
constexpr int TILE_COLUMNS = 3;
constexpr int TREE_MIN_WIDTH = 400;
constexpr int TREE_MIN_HEIGHT = 160;
constexpr int TREE_NAME_WIDTH = 700;
constexpr int TREE_SIZE_WIDTH = 100;
constexpr int TREE_FONT_POINTS = 14;
constexpr int SECTOR_BYTES = 512;
constexpr int LOGO_SIZE = 52;
constexpr int SIZE_GRIP = 14;
constexpr double PRODUCT_TAB_STOP = 16.0;

const char* const PRODUCT_LINE =
    "\t            Orvanne\n\t           Recover photos, videos, audios";
const char* const DEVICE_PAGE_TITLE =
    "Select Media For Recovery\nPlease select a storage device below to scan for photos, "
    "audios, videos.";
const char* const CENTRAL_STYLE = "background-color: rgb(251, 252, 255);";
const char* const DISK_TREE_STYLE = "QTreeWidget::item{height:30px};";
const char* const LOSE_RESULTS_QUESTION = "The files found by the scan will be lost. Are you sure?";

// A style sheet that reaches the widget itself and none of its children.
void SetOwnStyle(QWidget* pWidget, const QString& strName, const QString& strStyle) {
    pWidget->setObjectName(strName);
    pWidget->setAttribute(Qt::WA_StyledBackground);
    pWidget->setStyleSheet(QString("#%1{%2}").arg(strName, strStyle));
}

QPushButton* MakeIconButton(const QString& strIcon, const QString& strTip, QWidget* pParent) {
    auto* pButton = new QPushButton(pParent);
    pButton->setIcon(QIcon(strIcon));
    pButton->setIconSize(QSize(HEADER_BUTTON_SIZE - 8, HEADER_BUTTON_SIZE - 8));
    pButton->setFixedSize(HEADER_BUTTON_SIZE, HEADER_BUTTON_SIZE);
    pButton->setFlat(true);
    pButton->setCursor(Qt::PointingHandCursor);
    pButton->setToolTip(strTip);
    pButton->setStyleSheet("QPushButton{border: none; border-radius: 6px;}"
                           "QPushButton:hover{background-color: rgba(255, 255, 255, 40);}");
    return pButton;
}

// The product line beside the logo; its tabs are short so the text sits next to the mark.
class CProductLine : public QWidget {
public:
    explicit CProductLine(QWidget* pParent) : QWidget(pParent) {
        setFixedHeight(HEADER_HEIGHT - 16);
        setFont(UiFont(15, QFont::Bold));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRect rcLogo(0, (height() - LOGO_SIZE) / 2, LOGO_SIZE, LOGO_SIZE);
        painter.drawPixmap(rcLogo, QPixmap(":/image/logo.png"));
        QTextOption option(Qt::AlignLeft | Qt::AlignVCenter);
        option.setTabStopDistance(PRODUCT_TAB_STOP);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(rect()), PRODUCT_LINE, option);
    }
};

// The record a disk item carries: the whole disk, so a scan of it covers every sector.
PARTITION_ITEM MakeWholeDiskItem(int nDiskNo) {
    PARTITION_ITEM item{};
    item.nDiskNo = static_cast<uint32_t>(nDiskNo);
    unsigned long long u64Bytes = 0;
    const int nFd = CDiskRegistry::GetInstance().OpenDisk(nDiskNo);
    if (nFd >= 0) {
        u64Bytes = GetDeviceBytes(nFd);
        ::close(nFd);
    }
    const unsigned long long u64Sectors = u64Bytes / SECTOR_BYTES;
    item.u64StartSector = 0;
    item.u64EndSector = u64Sectors > 0 ? u64Sectors - 1 : 0;
    const std::u16string strName = QString("Physical Driver %1").arg(nDiskNo).toStdU16String();
    strName.copy(item.wszName, PARTITION_NAME_UNITS - 1);
    std::snprintf(item.szDiskName, DISK_NAME_BYTES, "/dev/disk%d", nDiskNo);
    return item;
}

// Bytes of a partition whose last sector is inclusive.
unsigned long long PartitionBytes(const PARTITION_ITEM& item) {
    return (item.u64EndSector - item.u64StartSector + 1) * SECTOR_BYTES;
}
} // namespace

DRUI::DRUI(QWidget* pParent, Qt::WindowFlags flags)
    : QMainWindow(pParent, flags | Qt::FramelessWindowHint) {
    RegisterUiMetaTypes();
    setWindowTitle("Orvanne");
    setMinimumSize(WINDOW_MIN_WIDTH, WINDOW_MIN_HEIGHT);
    if (const QScreen* pScreen = QGuiApplication::primaryScreen())
        setGeometry(GetWindowRect(pScreen->availableGeometry()));
    else
        resize(WINDOW_WIDTH, WINDOW_HEIGHT);
    auto* pCentral = new QWidget(this);
    SetOwnStyle(pCentral, "centralWidget", CENTRAL_STYLE);
    setCentralWidget(pCentral);
}

// The usual size where it fits, else the screen's free area; centred in that area.
QRect DRUI::GetWindowRect(const QRect& rcAvailable) {
    const QSize size(std::clamp(WINDOW_WIDTH, WINDOW_MIN_WIDTH, rcAvailable.width()),
                     std::clamp(WINDOW_HEIGHT, WINDOW_MIN_HEIGHT, rcAvailable.height()));
    QRect rcWindow(QPoint(0, 0), size);
    rcWindow.moveCenter(rcAvailable.center());
    rcWindow.moveTopLeft(QPoint(std::max(rcWindow.left(), rcAvailable.left()),
                                std::max(rcWindow.top(), rcAvailable.top())));
    return rcWindow;
}

DRUI::~DRUI() {
    DeleteEngine();
}

void DRUI::Init() {
    CLogFileManager::GetInstance()->Init();
    m_pPage1 = InitLayout1Widget();
    m_pPage2 = InitLayout2Widget();
    m_pStackedLayout = new QStackedLayout;
    m_pStackedLayout->addWidget(m_pPage1);
    m_pStackedLayout->addWidget(m_pPage2);
    m_pStackedLayout->setCurrentWidget(m_pPage1);
    auto* pLayout = new QVBoxLayout(centralWidget());
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addLayout(m_pStackedLayout);
    // A frameless window has no border to drag: the grip over the corner resizes it.
    m_pSizeGrip = new QSizeGrip(centralWidget());
    m_pSizeGrip->setFixedSize(SIZE_GRIP, SIZE_GRIP);
    PlaceSizeGrip();
}

void DRUI::PlaceSizeGrip() {
    if (m_pSizeGrip == nullptr)
        return;
    m_pSizeGrip->move(centralWidget()->width() - SIZE_GRIP, centralWidget()->height() - SIZE_GRIP);
    m_pSizeGrip->raise();
}

void DRUI::resizeEvent(QResizeEvent* pEvent) {
    QMainWindow::resizeEvent(pEvent);
    PlaceSizeGrip();
}

void DRUI::AddActionBar(QVBoxLayout* pLayout, QWidget* pPage,
                        std::initializer_list<QPushButton*> buttons) {
    auto* pBar = new QWidget(pPage);
    pBar->setFixedHeight(BOTTOM_BAR_HEIGHT);
    auto* pBarLayout = new QHBoxLayout(pBar);
    pBarLayout->setContentsMargins(24, 0, 24, 8);
    pBarLayout->setSpacing(14);
    pBarLayout->addWidget(MakeVersionLabel(pBar));
    pBarLayout->addStretch(1);
    for (QPushButton* pButton : buttons)
        pBarLayout->addWidget(pButton);
    pLayout->addWidget(pBar);
}

QVBoxLayout* DRUI::CreatePageLayout(QWidget* pPage) {
    auto* pLayout = new QVBoxLayout(pPage);
    pLayout->setSpacing(0);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addWidget(CreateHeaderStrip(pPage));
    return pLayout;
}

QWidget* DRUI::CreateHeaderStrip(QWidget* pParent) {
    auto* pStrip = new QWidget(pParent);
    pStrip->setFixedHeight(HEADER_HEIGHT);
    SetOwnStyle(pStrip, "headerStrip", backGroud_style_);
    auto* pLayout = new QHBoxLayout(pStrip);
    pLayout->setSpacing(6);

    auto* pProduct = new CProductLine(pStrip);
    pLayout->addWidget(pProduct, 1);

    QPushButton* pHelp = MakeIconButton(":/image/help.png", "Help", pStrip);
    QPushButton* pSupport = MakeIconButton(":/image/support.png", "Support", pStrip);
    QPushButton* pAbout = MakeIconButton(":/image/about.png", "About", pStrip);
    QPushButton* pMin = MakeIconButton(":/image/minimize.png", "Minimize", pStrip);
    QPushButton* pClose = MakeIconButton(":/image/close.png", "Close", pStrip);
    connect(pHelp, &QPushButton::clicked, this, &DRUI::btnHelpSlot);
    connect(pSupport, &QPushButton::clicked, this, &DRUI::btnSupportSlot);
    connect(pAbout, &QPushButton::clicked, this, &DRUI::btnAboutSlot);
    connect(pMin, &QPushButton::clicked, this, &DRUI::btnMinSlot);
    connect(pClose, &QPushButton::clicked, this, &DRUI::btnCloseSlot);
    for (QPushButton* pButton : {pHelp, pSupport, pAbout})
        pLayout->addWidget(pButton, 0, Qt::AlignTop);
    pLayout->addSpacing(18);
    pLayout->addWidget(pMin, 0, Qt::AlignTop);
    pLayout->addWidget(pClose, 0, Qt::AlignTop);
    pLayout->setContentsMargins(20, 8, 10, 0);
    return pStrip;
}

QWidget* DRUI::CreatePageTitle(const QString& strText, const QString& strIcon, QWidget* pParent) {
    auto* pTitle = new QWidget(pParent);
    pTitle->setFixedHeight(PAGE_TITLE_HEIGHT);
    SetOwnStyle(pTitle, "pageTitle", Start_label_style);
    auto* pLayout = new QHBoxLayout(pTitle);
    pLayout->setContentsMargins(24, 0, 24, 0);
    pLayout->setSpacing(14);
    auto* pIcon = new QLabel(pTitle);
    pIcon->setPixmap(
        QPixmap(strIcon).scaled(44, 44, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto* pText = new QLabel(strText, pTitle);
    pText->setFont(UiFont(12));
    pText->setStyleSheet("color: rgb(16, 48, 89);");
    pLayout->addWidget(pIcon);
    pLayout->addWidget(pText, 1);
    return pTitle;
}

QWidget* DRUI::CreateKindTile(QCheckBox* pCheckBox, const QString& strIcon,
                              const QString& strColour, QWidget* pParent) {
    auto* pTile = new QWidget(pParent);
    pTile->setMinimumSize(TILE_MIN_WIDTH, TILE_MIN_HEIGHT);
    pTile->setMaximumSize(TILE_WIDTH, TILE_HEIGHT);
    pTile->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    const QString strName = "tile" + pCheckBox->text();
    SetOwnStyle(pTile, strName, strColour + "border-radius: 18px;");
    auto* pLayout = new QVBoxLayout(pTile);
    pLayout->setContentsMargins(0, 14, 0, 12);
    auto* pIcon = new QLabel(pTile);
    pIcon->setPixmap(QPixmap(strIcon).scaled(TILE_ICON_SIZE, TILE_ICON_SIZE, Qt::KeepAspectRatio,
                                             Qt::SmoothTransformation));
    pIcon->setAlignment(Qt::AlignCenter);
    pIcon->setMinimumSize(1, 1);
    pCheckBox->setParent(pTile);
    pCheckBox->setFont(UiFont(16, QFont::Bold));
    pCheckBox->setCursor(Qt::PointingHandCursor);
    pCheckBox->setStyleSheet("QCheckBox{color: white; spacing: 10px;}"
                             "QCheckBox::indicator{width: 22px; height: 22px;}");
    pLayout->addWidget(pIcon, 1);
    pLayout->addWidget(pCheckBox, 0, Qt::AlignHCenter);
    return pTile;
}

QWidget* DRUI::InitLayout1Widget() {
    auto* pPage = new QWidget;
    QVBoxLayout* pLayout = CreatePageLayout(pPage);

    auto* pBody = new QWidget(pPage);
    SetOwnStyle(pBody, "kindBody", Layout1BackGroud_style);
    auto* pTiles = new QGridLayout(pBody);
    pTiles->setSpacing(24);
    pTiles->setContentsMargins(40, 16, 40, 16);
    m_pCheckPhoto = new QCheckBox("Photo");
    m_pCheckMusic = new QCheckBox("Music");
    m_pCheckVideo = new QCheckBox("Video");
    m_pCheckOffice = new QCheckBox("Office");
    m_pCheckArchive = new QCheckBox("Archive");
    m_pCheckOther = new QCheckBox("Other");
    const std::pair<const char*, const char*> tiles[] = {
        {":/image/photo.png", "background-color: rgb(180, 160, 200);"},
        {":/image/music.png", "background-color: rgb(250, 181, 160);"},
        {":/image/video.png", "background-color: rgb(152, 215 ,245);"},
        {":/image/FileIcon/office_default.png", "background-color: rgb(150, 200, 170);"},
        {":/image/FileIcon/zip.png", "background-color: rgb(230, 200, 120);"},
        {":/image/FileIcon/other.png", "background-color: rgb(170, 180, 195);"}};
    const std::vector<QCheckBox*> vecBoxes = KindBoxes();
    for (size_t i = 0; i < vecBoxes.size(); ++i)
        pTiles->addWidget(CreateKindTile(vecBoxes[i], tiles[i].first, tiles[i].second, pBody),
                          static_cast<int>(i) / TILE_COLUMNS, static_cast<int>(i) % TILE_COLUMNS);
    pLayout->addWidget(pBody, 1);

    auto* pBar = new QWidget(pPage);
    pBar->setFixedHeight(BOTTOM_BAR_HEIGHT + 16);
    SetOwnStyle(pBar, "startBar", Start_label_style);
    auto* pBarLayout = new QHBoxLayout(pBar);
    pBarLayout->setContentsMargins(40, 0, 40, 0);
    m_pCheckAll = new QCheckBox(" Recover All", pBar);
    m_pCheckAll->setTristate(true);
    m_pCheckAll->setFont(UiFont(14, QFont::Bold));
    m_pCheckAll->setCursor(Qt::PointingHandCursor);
    m_pCheckAll->setStyleSheet("QCheckBox{color: rgb(16, 48, 89);}"
                               "QCheckBox::indicator{width: 20px; height: 20px;}");
    m_pBtnStart = MakeActionButton("Start", pBar);
    pBarLayout->addWidget(m_pCheckAll);
    pBarLayout->addStretch(1);
    pBarLayout->addWidget(MakeVersionLabel(pBar));
    pBarLayout->addSpacing(30);
    pBarLayout->addWidget(m_pBtnStart);
    pLayout->addWidget(pBar);

    // Photo, Music and Video are what most people come for; the other kinds are a tick away.
    for (QCheckBox* pBox : {m_pCheckPhoto, m_pCheckMusic, m_pCheckVideo})
        pBox->setCheckState(Qt::Checked);
    CheckBoxStatChange(Qt::Checked);
    SetActionButton(m_pBtnStart, true);
    for (QCheckBox* pBox : vecBoxes)
        connect(pBox, &QCheckBox::stateChanged, this, &DRUI::CheckBoxStatChange);
    connect(m_pCheckAll, &QCheckBox::stateChanged, this, &DRUI::CheckBoxAllStatChange);
    connect(m_pBtnStart, &QPushButton::clicked, this, &DRUI::btnSlot);
    return pPage;
}

QWidget* DRUI::InitLayout2Widget() {
    auto* pPage = new QWidget;
    QVBoxLayout* pLayout = CreatePageLayout(pPage);
    pLayout->addWidget(CreatePageTitle(DEVICE_PAGE_TITLE, ":/image/scan_files.png", pPage));

    auto* pTreeRow = new QHBoxLayout;
    pTreeRow->setContentsMargins(24, 12, 24, 8);
    m_pDiskTree = CreateDiskTree(pPage);
    pTreeRow->addWidget(m_pDiskTree);
    pLayout->addLayout(pTreeRow, 1);

    auto* pBtnAddImage = MakeActionButton("Add Image...", pPage);
    pBtnAddImage->setStyleSheet(button_style);
    auto* pBtnEarlier = MakeActionButton("Earlier Scans", pPage);
    pBtnEarlier->setStyleSheet(button_style);
    auto* pBtnBack = MakeActionButton("Back", pPage);
    m_pBtnScan = MakeActionButton("Scan", pPage);
    AddActionBar(pLayout, pPage, {pBtnEarlier, pBtnAddImage, pBtnBack, m_pBtnScan});

    SetActionButton(m_pBtnScan, m_pDiskTree->currentItem() != nullptr);
    connect(pBtnAddImage, &QPushButton::clicked, this, &DRUI::btnAddImageSlot);
    connect(pBtnEarlier, &QPushButton::clicked, this, &DRUI::btnEarlierScansSlot);
    connect(pBtnBack, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(m_pBtnScan, &QPushButton::clicked, this, &DRUI::btnSlotScan);
    return pPage;
}

QTreeWidget* DRUI::CreateDiskTree(QWidget* pParent) {
    m_pDiskTree = new QTreeWidget(pParent);
    m_pDiskTree->setObjectName("diskTree");
    m_pDiskTree->setColumnCount(3);
    m_pDiskTree->setHeaderLabels({"Name", "Size", "File system"});
    m_pDiskTree->setColumnWidth(0, TREE_NAME_WIDTH);
    m_pDiskTree->setColumnWidth(1, TREE_SIZE_WIDTH);
    // The name column takes what the window gives, so the sizes stay in view at any width.
    m_pDiskTree->header()->setStretchLastSection(false);
    m_pDiskTree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_pDiskTree->setIconSize(QSize(24, 24));
    m_pDiskTree->setStyleSheet(
        "QTreeWidget{background-color: white; border: 1px solid rgb(205, 215, 230);"
        " border-radius: 6px; color: rgb(30, 40, 55);}"
        "QTreeWidget::item:selected{background-color: rgb(214, 232, 252); color: rgb(16, 48, "
        "89);}"
        "QHeaderView::section{background-color: rgb(244, 247, 251); color: rgb(90, 100, 115);"
        " border: none; border-bottom: 1px solid rgb(225, 230, 238); padding: 6px;}" +
        QString(DISK_TREE_STYLE));
    m_pDiskTree->setMinimumSize(TREE_MIN_WIDTH, TREE_MIN_HEIGHT);
    connect(m_pDiskTree, &QTreeWidget::itemClicked, this, &DRUI::diskItemClick);
    connect(m_pDiskTree, &QTreeWidget::itemDoubleClicked, this, &DRUI::diskItemDoubleClick);

    std::map<int, std::vector<PARTITION_ITEM>> mapItems;
    m_partitionManager.GetPartitionItems(mapItems);
    for (const auto& [nDiskNo, vecPartitions] : mapItems)
        AddDiskItem(nDiskNo, vecPartitions);
    return m_pDiskTree;
}

void DRUI::AddDiskItem(int nDiskNo, const std::vector<PARTITION_ITEM>& vecPartitions) {
    const QFont font = UiFont(TREE_FONT_POINTS, QFont::Bold);
    auto* pDisk = new QTreeWidgetItem(m_pDiskTree);
    pDisk->setText(0, QString("Physical Driver %1").arg(nDiskNo));
    pDisk->setIcon(0, QIcon(":/image/physical_drive.png"));
    pDisk->setFont(0, font);
    pDisk->setToolTip(0,
                      QString::fromStdString(CDiskRegistry::GetInstance().GetDevicePath(nDiskNo)));
    pDisk->setData(0, Qt::UserRole, QVariant::fromValue(MakeWholeDiskItem(nDiskNo)));
    for (const PARTITION_ITEM& item : vecPartitions) {
        auto* pPartition = new QTreeWidgetItem(pDisk);
        const std::string strSize = GetFileSizeString(static_cast<long long>(PartitionBytes(item)));
        pPartition->setText(0, QString::fromUtf16(item.wszName));
        pPartition->setToolTip(0, pPartition->text(0));
        pPartition->setText(1, QString::fromStdString(strSize));
        pPartition->setText(
            2, QString::fromStdString(CPartitionManager::GetPartitionFileSystem(item)));
        pPartition->setIcon(0, QIcon(":/image/drive.png"));
        pPartition->setFont(0, font);
        pPartition->setFont(1, font);
        pPartition->setData(0, Qt::UserRole, QVariant::fromValue(item));
        DebugLog("(*iterVec).szDiskName = %s u64Bytes = %s\n", item.szDiskName, strSize.c_str());
        m_pDiskTree->setCurrentItem(pPartition);
    }
    if (vecPartitions.empty())
        m_pDiskTree->setCurrentItem(pDisk);
    pDisk->setExpanded(true);
}

bool DRUI::AddImageDisk(const QString& strPath) {
    CDiskRegistry& registry = CDiskRegistry::GetInstance();
    const int nDiskNo = registry.AddImage(strPath.toStdString());
    if (nDiskNo < 0)
        return false;
    for (int i = 0; i < m_pDiskTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pItem = m_pDiskTree->topLevelItem(i);
        if (pItem->data(0, Qt::UserRole).value<PARTITION_ITEM>().nDiskNo == uint32_t(nDiskNo)) {
            m_pDiskTree->setCurrentItem(pItem);
            diskItemClick(pItem, 0);
            return true;
        }
    }
    std::vector<PARTITION_ITEM> vecPartitions;
    const int nFd = registry.OpenDisk(nDiskNo);
    if (nFd >= 0) {
        vecPartitions = m_partitionManager.GetDiskPartitions(nFd, nDiskNo);
        ::close(nFd);
    }
    AddDiskItem(nDiskNo, vecPartitions);
    SetActionButton(m_pBtnScan, true);
    return true;
}

void DRUI::SetActionButton(QPushButton* pButton, bool bEnabled) {
    pButton->setEnabled(bEnabled);
    pButton->setStyleSheet(bEnabled ? main_button_style_ : main_button_style_no_file);
}

void DRUI::btnSlot() {
    m_pStackedLayout->setCurrentWidget(m_pPage2);
}

bool DRUI::HasResults() const {
    return m_pEngine != nullptr && m_pResultModel != nullptr &&
           m_pResultModel->GetIndex().GetRowCount() > 0;
}

bool DRUI::ConfirmLoseResults() {
    return !HasResults() || CMessageBox::Ask(this, LOSE_RESULTS_QUESTION);
}

void DRUI::btnSlotBack() {
    if (!ConfirmLoseResults())
        return;
    DeleteEngine();
    QWidget* pCurrent = m_pStackedLayout->currentWidget();
    // The rows of the page are read from the engine that is gone now: the page goes too.
    if (m_pPage3 != nullptr) {
        m_pStackedLayout->removeWidget(m_pPage3);
        m_pPage3->hide();
        m_pPage3->deleteLater();
        m_pPage3 = nullptr;
        ForgetResultPage();
    }
    const bool bToFirst = pCurrent == m_pPage2 || pCurrent == m_pPage1;
    m_pStackedLayout->setCurrentWidget(bToFirst ? m_pPage1 : m_pPage2);
}

void DRUI::btnCloseSlot() {
    close();
}

void DRUI::btnMinSlot() {
    showMinimized();
}

void DRUI::btnHelpSlot() {
    btnOpenUrl("qrc:/help/help.html");
}

void DRUI::btnSupportSlot() {
    btnOpenUrl("qrc:/help/support.html");
}

void DRUI::btnAboutSlot() {
    btnOpenUrl("qrc:/help/about.html");
}

// The pages ship inside the program, so they open in its own viewer rather than a browser.
void DRUI::btnOpenUrl(const QString& strPage) {
    CHelpDialog dialog(this);
    dialog.OpenPage(QUrl(strPage));
    dialog.exec();
}

void DRUI::btnAddImageSlot() {
    const QString strPath = QFileDialog::getOpenFileName(
        this, "Add Image", QString(), "Disk images (*.img *.dd *.raw *.iso *.bin);;All files (*)");
    if (!strPath.isNull() && !AddImageDisk(strPath))
        CMessageBox::Ask(this, "The image file cannot be opened.", true);
}

std::vector<QCheckBox*> DRUI::KindBoxes() const {
    return {m_pCheckPhoto,  m_pCheckMusic,   m_pCheckVideo,
            m_pCheckOffice, m_pCheckArchive, m_pCheckOther};
}

void DRUI::CheckBoxStatChange(int) {
    m_bPartial = false;
    const std::vector<QCheckBox*> vecBoxes = KindBoxes();
    const auto nChecked = std::count_if(vecBoxes.begin(), vecBoxes.end(),
                                        [](QCheckBox* p) { return p->isChecked(); });
    if (nChecked == static_cast<long>(vecBoxes.size())) {
        m_pCheckAll->setCheckState(Qt::Checked);
    } else if (nChecked == 0) {
        m_pCheckAll->setCheckState(Qt::Unchecked);
    } else {
        m_bPartial = true;
        m_pCheckAll->setCheckState(Qt::PartiallyChecked);
    }
}

void DRUI::CheckBoxAllStatChange(int nState) {
    if (nState == Qt::Unchecked) {
        SetActionButton(m_pBtnStart, false);
        for (QCheckBox* pBox : KindBoxes())
            pBox->setChecked(false);
    } else if (nState == Qt::Checked) {
        SetActionButton(m_pBtnStart, true);
        for (QCheckBox* pBox : KindBoxes())
            pBox->setChecked(true);
    } else if (m_bPartial) {
        SetActionButton(m_pBtnStart, true);
    } else {
        m_pCheckAll->setCheckState(Qt::Checked);
    }
}

void DRUI::diskItemClick(QTreeWidgetItem* pItem, int) {
    SetActionButton(m_pBtnScan, pItem->childCount() == 0);
}

void DRUI::diskItemDoubleClick(QTreeWidgetItem*, int) {
    btnSlotScan();
}

void DRUI::mousePressEvent(QMouseEvent* pEvent) {
    m_dragger.Press(this, pEvent);
}

// A finished scan may have taken hours: closing over its results asks first.
void DRUI::closeEvent(QCloseEvent* pEvent) {
    if (!ConfirmLoseResults()) {
        pEvent->ignore();
        return;
    }
    QMainWindow::closeEvent(pEvent);
}

void DRUI::mouseMoveEvent(QMouseEvent* pEvent) {
    m_dragger.Move(this, pEvent);
}

void DRUI::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Escape)
        return;
    QMainWindow::keyPressEvent(pEvent);
}
