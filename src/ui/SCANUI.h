// The modal progress dialog of one engine operation: title, status text, bar and Cancel.
#pragma once

#include "ui/CDetail.h"
#include "ui/CWindowDragger.h"

#include <QDialog>
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

class SCANUI : public QDialog {
    Q_OBJECT
public:
    static constexpr int DIALOG_WIDTH = 500;
    static constexpr int DIALOG_HEIGHT = 250;

    explicit SCANUI(QWidget* pParent = nullptr, Qt::WindowFlags flags = {});
    ~SCANUI() override;

    // Resets the dialog for the operation kind and connects the owner's four signals.
    void InitSlot(DRUI* pOwner, int nOprType);
    void SetSaveDir(const QString& strDir) { m_strSaveDir = strDir; }

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

    DRUI* m_pOwner = nullptr;
    QLabel* m_pTitleLabel = nullptr;
    QLabel* m_pStatusLabel = nullptr;
    QPushButton* m_pBtnCancel = nullptr;
    QString m_strSaveDir;
    CDetail m_detail;
    CWindowDragger m_dragger;
};
