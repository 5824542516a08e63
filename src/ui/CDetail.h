// The per-file result list of a recovery run: failures on top, successes below in order.
#pragma once

#include "ui/CWindowDragger.h"

#include <QDialog>

class QLabel;
class QTableWidget;

class CDetail : public QDialog {
    Q_OBJECT
public:
    static constexpr int DETAIL_WIDTH = 600;
    static constexpr int DETAIL_HEIGHT = 400;

    explicit CDetail(QWidget* pParent = nullptr);

    // Paths below this folder are listed from it (the whole path stays in the tooltip).
    void SetBaseDir(const QString& strDir) { m_strBaseDir = strDir; }
    // Status 0 appends a "Success" row and a damaged file an orange "Damaged" one; any other
    // status inserts a red "Failed" (or "Stopped") row with its reason at the top.
    void AddTableItem(const QString& strName, int nStatus);

    int GetSuccessCount() const { return m_nSuccess; }
    int GetFailedCount() const { return m_nFailed; }
    // Written with zeros for unreadable sectors; counted among the successes as well.
    int GetDamagedCount() const { return m_nDamaged; }
    QString GetHeaderText() const;
    QTableWidget* GetTable() const { return m_pTable; }

public slots:
    void btnSlot();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;

private:
    void UpdateHeader();

    QString m_strBaseDir;
    int m_nSuccess = 0;
    int m_nFailed = 0;
    int m_nDamaged = 0;
    QLabel* m_pHeader = nullptr;
    QTableWidget* m_pTable = nullptr;
    CWindowDragger m_dragger;
};
