// The main window: file-kind page, device page and result page, and the scan that joins them.
#pragma once

#include "device/CPartitionManager.h"
#include "engine/IFileRecoveryParse.h"
#include "store/CLogFileManager.h"
#include "ui/CResultRowIndex.h"
#include "ui/CWindowDragger.h"
#include "util/FileCategory.h"

#include <QMainWindow>
#include <QString>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

class CResultFolderModel;
class CResultTableModel;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QModelIndex;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class SCANUI;
class QStackedLayout;
class QTableView;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

class DRUI : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int WINDOW_WIDTH = 1000;
    static constexpr int WINDOW_HEIGHT = 660;
    static constexpr int WINDOW_MIN_WIDTH = 720;
    static constexpr int WINDOW_MIN_HEIGHT = 520;

    explicit DRUI(QWidget* pParent = nullptr, Qt::WindowFlags flags = {});
    ~DRUI() override;

    // Creates the scan-log directory and builds pages 1 and 2 with the device tree.
    void Init();
    // Where the window opens on a screen whose free area is rcAvailable.
    static QRect GetWindowRect(const QRect& rcAvailable);
    // True while the result page holds files that Back or closing would throw away.
    bool HasResults() const;

    // Worker entries: the parameter is the window.
    static void _ScanProcess(void* pParam, int& nResult);
    static void _SearchProcess(void* pParam, int& nResult);
    static void _RecoveryProcess(void* pParam, int& nResult);
    static void _PreviewProcess(void* pParam, int& nResult);

    // Engine callbacks: re-emitted as signals unless the operation's stop flag is set.
    static int ScanCallBack(void* pParam, int nPercent, int nWeight, int nSecondsLeft,
                            uint64_t u64CurrentSector, uint64_t u64TotalSectors,
                            uint64_t u64FilesFound, const char16_t* pText);
    static int RecoveryCallBack(void* pParam, int nPercent, int nWeight, int nStatus,
                                const char16_t* pPath);
    static int SearchCallBack(void* pParam, int nPercent, const char16_t* pText);
    static int PreViewCallBack(void* pParam, int nPercent, int nStatus);

    // The scan of m_partitionItem, run on the worker; the path is not used.
    void Scan(const char16_t* pPath, int& nResult);
    // The search key of the ticked kinds.
    std::u16string BuildSearchPattern() const;
    // "4096", "200k", "1.5 MB", "2 GiB" in bytes; nothing for any other text.
    static std::optional<uint64_t> ParseSizeText(const QString& strText);
    void RecoveryProcess();
    void PreviewProcess();
    // The scan of m_partitionItem, the search and the result page; false (after saying why) when
    // no engine could read the volume or a reopened scan is gone.
    bool ScanAndShowResults();
    // Saves the ticked files under the folder, into category folders or their original folders
    // (Recover after its dialog).
    void RecoverSelectionTo(const QString& strDir);
    // The hex and text view of preview bytes, 16 bytes a line.
    static QString WinHexText(const unsigned char* pBuffer, int nLength);
    void WinHexBufData(const FILE_NODE* pNode, const unsigned char* pBuffer, int nLength);

    // The result page's rows, with the ticks that Recover saves; null until a search ended.
    CResultTableModel* GetResultModel() const { return m_pResultModel; }

    // Registers a disk image and lists it with its partitions; false when it cannot be opened.
    bool AddImageDisk(const QString& strPath);
    // Loads the results of a stored scan without scanning (the page of earlier scans calls it);
    // false, after saying why, when its volume is gone or changed since.
    bool ReopenScan(const LOG_FILE_INFO& record);

    const QString& GetPreviewFileName() const { return m_strPreviewFileName; }

    // Stop flags are set by the progress dialog, finished flags by the worker.
    std::atomic<bool> m_bScanStop{false};
    std::atomic<bool> m_bScanEnd{false};
    std::atomic<bool> m_bSearchStop{false};
    std::atomic<bool> m_bSearchEnd{false};
    std::atomic<bool> m_bRecoveryStop{false};
    std::atomic<bool> m_bRecoveryEnd{false};
    std::atomic<bool> m_bPreviewStop{false};
    std::atomic<bool> m_bPreviewEnd{false};
    // Set by the scan when no engine could be made for the chosen device.
    std::atomic<bool> m_bScanFailed{false};
    // Set when the user stopped the scan before it covered the volume.
    std::atomic<bool> m_bScanStopped{false};
    // Set for a reopened scan: the stored results are loaded, and nothing is scanned when they
    // are gone (m_bScanFailed then).
    std::atomic<bool> m_bReopen{false};
    // The last scan report: what the engines found (folders and every kind) and how far it got.
    std::atomic<unsigned long long> m_u64ItemsFound{0};
    std::atomic<int> m_nScanPercent{0};

signals:
    void ScanProcessCallBack(int nPercent, int nWeight, int nSecondsLeft, QString strCurrent,
                             QString strTotal, QString strFound, QString strText);
    void RecoveryCallBack(int nPercent, int nWeight, int nStatus, QString strPath);
    // Sent before each file of a recovery: its place in the run, its target path and size.
    void RecoveryFileStart(int nIndex, int nCount, QString strPath, qulonglong u64Size);
    void SearchCallBack(int nPercent, QString strText);
    void PreViewCallBackForSlot(int nPercent, int nStatus);

public slots:
    void btnSlot();
    void btnSlotBack();
    void btnSlotScan();
    void btnCloseSlot();
    void btnMinSlot();
    void btnHelpSlot();
    void btnSupportSlot();
    void btnAboutSlot();
    void btnAddImageSlot();
    void CheckBoxStatChange(int nState);
    void CheckBoxAllStatChange(int nState);
    void diskItemClick(QTreeWidgetItem* pItem, int nColumn);
    void diskItemDoubleClick(QTreeWidgetItem* pItem, int nColumn);
    void treeItemSelectChanged();
    void treeItemCheckChange(QTreeWidgetItem* pItem, int nColumn);
    // Selects and previews a row of the table or a file of the folder view.
    void tableItemClick(const QModelIndex& index);
    void folderItemClick(const QModelIndex& index);
    // Narrows the table to the tree's kind and the filter boxes.
    void ApplyFilter();
    void ShowFolderView(bool bFolders);
    void btnRecovery();
    void btnEarlierScansSlot();

protected:
    // The engine for the chosen volume; tests put their own engine here.
    virtual IFileRecoveryParse* CreateEngine(int nDiskNo, long long llStartSector,
                                             long long llSectorCount, char16_t wcDriveLetter,
                                             RECOVERY_TYPE nRecoveryType);

    bool eventFilter(QObject* pObject, QEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    QWidget* InitLayout1Widget();
    QWidget* InitLayout2Widget();
    void InitLayout3Widget();
    QWidget* CreateHeaderStrip(QWidget* pParent);
    // A page's column: the header strip on top, edge to edge; the caller adds the rest.
    QVBoxLayout* CreatePageLayout(QWidget* pPage);
    // A page's bottom bar: the version on the left, the buttons on the right in their order.
    void AddActionBar(QVBoxLayout* pLayout, QWidget* pPage,
                      std::initializer_list<QPushButton*> buttons);
    QWidget* CreatePageTitle(const QString& strText, const QString& strIcon, QWidget* pParent);
    QWidget* CreateKindTile(QCheckBox* pCheckBox, const QString& strIcon, const QString& strColour,
                            QWidget* pParent);
    QTreeWidget* CreateDiskTree(QWidget* pParent);
    void AddDiskItem(int nDiskNo, const std::vector<PARTITION_ITEM>& vecPartitions);
    void SetActionButton(QPushButton* pButton, bool bEnabled);
    void PlaceSizeGrip();
    void btnOpenUrl(const QString& strPage);
    // Photo, Music, Video, Office, Archive, Other.
    std::vector<QCheckBox*> KindBoxes() const;
    QWidget* CreateResultBar(QWidget* pPage);
    QString ResultTitleText() const;
    QString EmptyResultText() const;
    // Drops every pointer into the result page (it is being replaced or deleted).
    void ForgetResultPage();
    QTreeWidget* CreateTree(QWidget* pParent);
    QTableView* CreateTable(QWidget* pParent);
    QWidget* CreateFilterBar(QWidget* pParent);
    QTreeView* CreateFolderView();
    QWidget* CreatePreviewArea(QWidget* pParent);
    void UpdateTreeInfo(QTreeWidgetItem* pItem, int nColumn);
    // The row index is the one truth of ticks; RefreshTicks redraws the tree boxes and the
    // summary from it.
    void RefreshTicks();
    void PreviewRow(uint32_t nRow);
    void UpdateSelectionSummary();
    void ClearPreview();
    void ShowPreviewMessage(const QString& strText);
    void ShowPreview();
    bool ConfirmLoseResults();
    bool ConfirmRecoveryDestination(const QString& strDir);
    int MakeTargetFolder(const FILE_NODE& node, std::string& strFolder);
    int SaveOneFile(FILE_NODE& node, const std::u16string& strPath16, int nBaseDepth);
    QWidget* InitEarlierScansPage();
    void FillEarlierScans();
    void RemoveEarlierScan();
    void OpenEarlierScan();
    // Runs one engine operation on the worker under its modal progress dialog.
    void RunOperation(int nOprType, void (*pEntry)(void*, int&),
                      const std::function<void(SCANUI&)>& prepare = {});
    void DeleteEngine();

    IFileRecoveryParse* m_pEngine = nullptr;
    PARTITION_ITEM m_partitionItem{};
    // What the search found; the result page's model takes it over.
    CResultRowIndex m_foundRows;
    std::u16string m_strSearchPattern;
    QString m_strPreviewFileName;

    QStackedLayout* m_pStackedLayout = nullptr;
    QWidget* m_pPage1 = nullptr;
    QWidget* m_pPage2 = nullptr;
    QWidget* m_pPage3 = nullptr;

    QCheckBox* m_pCheckPhoto = nullptr;
    QCheckBox* m_pCheckMusic = nullptr;
    QCheckBox* m_pCheckVideo = nullptr;
    QCheckBox* m_pCheckOffice = nullptr;
    QCheckBox* m_pCheckArchive = nullptr;
    QCheckBox* m_pCheckOther = nullptr;
    QCheckBox* m_pCheckAll = nullptr;
    QPushButton* m_pBtnStart = nullptr;
    bool m_bPartial = false;

    // One manager for the whole tree, so partition numbers run on across disks and added images.
    CPartitionManager m_partitionManager;
    QTreeWidget* m_pDiskTree = nullptr;
    QPushButton* m_pBtnScan = nullptr;
    bool m_bWholeDiskScan = false;

    CResultTableModel* m_pResultModel = nullptr;
    CResultFolderModel* m_pFolderModel = nullptr;
    QTreeWidget* m_pResultTree = nullptr;
    QTableView* m_pResultTable = nullptr;
    QTreeView* m_pFolderView = nullptr;
    QStackedWidget* m_pViewStack = nullptr;
    QLineEdit* m_pFilterName = nullptr;
    QLineEdit* m_pFilterMinSize = nullptr;
    QLineEdit* m_pFilterMaxSize = nullptr;
    QDateEdit* m_pFilterFrom = nullptr;
    QDateEdit* m_pFilterTo = nullptr;
    QCheckBox* m_pRecoverIntoFolders = nullptr;
    QStackedWidget* m_pPreviewStack = nullptr;
    QLabel* m_pPreviewLabel = nullptr;
    QPlainTextEdit* m_pPreviewText = nullptr;
    QLabel* m_pSummaryLabel = nullptr;
    QPushButton* m_pBtnRecover = nullptr;

    FILE_NODE m_previewNode{};
    std::u16string m_strPreviewPath;
    std::vector<unsigned char> m_vecPreviewBuf;
    int m_nPreviewLength = 0;
    int m_nPreviewResult = 0;

    QString m_strRecoveryDir;
    bool m_bRecoveryDirIsFat = false;
    // Recover writes into the files' original folders instead of one folder per category.
    bool m_bRecoverIntoFolders = false;

    QWidget* m_pPage4 = nullptr;
    QTreeWidget* m_pScanList = nullptr;
    QLabel* m_pScanLogSize = nullptr;
    // Set by the recovery callback when the engine reported the end of the current file.
    std::atomic<bool> m_bFileReported{false};

    QWidget* m_pSizeGrip = nullptr;
    CWindowDragger m_dragger;
};
