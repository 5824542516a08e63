// The main window: file-kind page, device page and result page, and the scan that joins them.
#pragma once

#include "device/CPartitionManager.h"
#include "engine/IFileRecoveryParse.h"
#include "ui/CWindowDragger.h"
#include "util/FileCategory.h"

#include <QMainWindow>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class SCANUI;
class QStackedLayout;
class QTableWidget;
class QTableWidgetItem;
class QTreeWidget;
class QTreeWidgetItem;

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
    void RecoveryProcess();
    void PreviewProcess();
    // Saves the selection into category folders under the folder (Recover after its dialog).
    void RecoverSelectionTo(const QString& strDir);
    // The hex and text view of preview bytes, 16 bytes a line.
    static QString WinHexText(const unsigned char* pBuffer, int nLength);
    void WinHexBufData(const FILE_NODE* pNode, const unsigned char* pBuffer, int nLength);

    // Selection keys keep the engine apart: nodes of different engines may share both numbers.
    using SELECTION_KEY = std::pair<uint32_t, uint64_t>;
    static SELECTION_KEY GetSelectionKey(const FILE_NODE& node);
    const std::map<SELECTION_KEY, FILE_NODE>& GetSelection() const { return m_mapSelection; }

    // Registers a disk image and lists it with its partitions; false when it cannot be opened.
    bool AddImageDisk(const QString& strPath);

    const std::vector<SEARCH_FILE_INFO>& GetSearchResults() const { return m_vecSearchResults; }
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
    void tableItemCheckChange(QTableWidgetItem* pCell);
    void tableItemSelectChanged();
    void tableItemClick(QTableWidgetItem* pItem);
    void btnRecovery();

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
    QWidget* CreatePageTitle(const QString& strText, const QString& strIcon, QWidget* pParent);
    QWidget* CreateKindTile(QCheckBox* pCheckBox, const QString& strIcon, const QString& strColour,
                            QWidget* pParent);
    QTreeWidget* CreateDiskTree(QWidget* pParent);
    void AddDiskItem(int nDiskNo, const std::vector<PARTITION_ITEM>& vecPartitions);
    void SetActionButton(QPushButton* pButton, bool bEnabled);
    void PlaceSizeGrip();
    void btnOpenUrl(const QString& strPage);
    QWidget* CreateResultBar(QWidget* pPage);
    QString ResultTitleText() const;
    QString EmptyResultText() const;
    QTreeWidget* CreateTree(QWidget* pParent);
    QTableWidget* CreateTable(QWidget* pParent);
    QWidget* CreatePreviewArea(QWidget* pParent);
    void UpdateTreeInfo(QTreeWidgetItem* pItem, int nColumn);
    void FillTable(const QString& strKey);
    std::vector<const SEARCH_FILE_INFO*> RecordsOfTreeItem(const QTreeWidgetItem* pItem) const;
    // The selection is the one truth of ticks; RefreshTicks redraws every box from it.
    void SetTicked(const FILE_NODE& node, bool bTicked);
    size_t CountTicked(const QTreeWidgetItem* pItem) const;
    void RefreshTicks();
    void UpdateSelectionSummary();
    void ClearPreview();
    void ShowPreviewMessage(const QString& strText);
    void ShowPreview();
    bool ConfirmLoseResults();
    bool ConfirmRecoveryDestination(const QString& strDir);
    int SaveOneFile(FILE_NODE& node, const std::string& strFolder, const std::u16string& strPath16,
                    int nBaseDepth);
    // Runs one engine operation on the worker under its modal progress dialog.
    void RunOperation(int nOprType, void (*pEntry)(void*, int&),
                      const std::function<void(SCANUI&)>& prepare = {});
    void DeleteEngine();

    IFileRecoveryParse* m_pEngine = nullptr;
    PARTITION_ITEM m_partitionItem{};
    std::vector<SEARCH_FILE_INFO> m_vecSearchResults;
    std::u16string m_strSearchPattern;
    QString m_strPreviewFileName;

    QStackedLayout* m_pStackedLayout = nullptr;
    QWidget* m_pPage1 = nullptr;
    QWidget* m_pPage2 = nullptr;
    QWidget* m_pPage3 = nullptr;

    QCheckBox* m_pCheckPhoto = nullptr;
    QCheckBox* m_pCheckMusic = nullptr;
    QCheckBox* m_pCheckVideo = nullptr;
    QCheckBox* m_pCheckAll = nullptr;
    QPushButton* m_pBtnStart = nullptr;
    bool m_bPartial = false;

    // One manager for the whole tree, so partition numbers run on across disks and added images.
    CPartitionManager m_partitionManager;
    QTreeWidget* m_pDiskTree = nullptr;
    QPushButton* m_pBtnScan = nullptr;
    bool m_bWholeDiskScan = false;

    std::map<QString, std::vector<SEARCH_FILE_INFO>> m_mapCategory[FILE_CATEGORY_COUNT];
    std::map<SELECTION_KEY, FILE_NODE> m_mapSelection;
    QTreeWidget* m_pResultTree = nullptr;
    QTableWidget* m_pResultTable = nullptr;
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
    // Set by the recovery callback when the engine reported the end of the current file.
    std::atomic<bool> m_bFileReported{false};

    QWidget* m_pSizeGrip = nullptr;
    CWindowDragger m_dragger;
};
