// The modal progress dialog of one engine operation: title, status text, bar and Cancel.
#pragma once

#include "ui/CDetail.h"
#include "ui/CWindowDragger.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <atomic>

class DRUI;
class QLabel;
class QProgressBar;
class QPushButton;

// Operation kinds of SCANUI::InitSlot.
constexpr int OPR_TYPE_SCAN = 1;
constexpr int OPR_TYPE_SEARCH = 2;
constexpr int OPR_TYPE_PREVIEW = 3;
constexpr int OPR_TYPE_RECOVERY = 4;

// The second value of a recovery report: one file's progress, or the end of the run.
constexpr int RECOVERY_FILE_WEIGHT = 100;
constexpr int RECOVERY_DONE_WEIGHT = 1000;

class SCANUI : public QDialog {
    Q_OBJECT
public:
    static constexpr int DIALOG_WIDTH = 500;
    static constexpr int DIALOG_HEIGHT = 250;

    explicit SCANUI(QWidget* pParent = nullptr, Qt::WindowFlags flags = {});
    ~SCANUI() override;

    // Resets the dialog for the operation kind and connects the owner's four signals.
    void InitSlot(DRUI* pOwner, int nOprType);
    void SetSaveDir(const QString& strDir);
    // What a recovery run will write: the number of files and their bytes.
    void SetRecoveryTotals(int nFiles, unsigned long long u64Bytes);

    QString GetStatusText() const;
    QString GetTitleText() const;
    CDetail& GetDetail() { return m_detail; }

    // One dialog exists at a time; these belong to it.
    static int m_nOprType;
    static bool m_bIsFinished;
    static QProgressBar* m_progressBar;

public slots:
    void ScanProcessCallBackSlot(int nPercent, int nWeight, int nSecondsLeft, QString strCurrent,
                                 QString strTotal, QString strFound, QString strText);
    void RecoveryCallBackSlot(int nPercent, int nWeight, int nStatus, QString strPath);
    void RecoveryFileStartSlot(int nIndex, int nCount, QString strPath, qulonglong u64Size);
    void SearchCallBackSlot(int nPercent, QString strText);
    void PreViewCallBackSlot(int nPercent, int nStatus);
    void btnSlot();
    void btnDetail();
    void btnOpenFolder();

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;

private:
    void InitDialog();
    QWidget* CreateTitleStrip();
    QWidget* CreateButtonBar();
    QString TitleForKind() const;
    bool ConfirmCancel();
    void StopOperation();
    std::atomic<bool>* StopFlag() const;
    std::atomic<bool>* FinishedFlag() const;
    void Finish();
    void ShowRecoveryProgress(unsigned long long u64FileDone);
    void ShowRecoveryOutcome(bool bStopped);

    DRUI* m_pOwner = nullptr;
    QLabel* m_pTitleLabel = nullptr;
    QLabel* m_pStatusLabel = nullptr;
    QPushButton* m_pBtnCancel = nullptr;
    QString m_strSaveDir;
    // Recovery run: totals, the file being written, and what the finished files added up to.
    int m_nFileCount = 0;
    int m_nFileIndex = 0;
    unsigned long long m_u64TotalBytes = 0;
    unsigned long long m_u64FinishedBytes = 0;
    unsigned long long m_u64FileSize = 0;
    QString m_strCurrentPath;
    QElapsedTimer m_elapsed;
    CDetail m_detail;
    CWindowDragger m_dragger;
};
