// The application's own modal Yes/No question dialog, drawn like the main window.
#pragma once

#include "ui/CWindowDragger.h"

#include <QDialog>

class QLabel;

class CMessageBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int MESSAGE_BOX_WIDTH = 400;
    static constexpr int MESSAGE_BOX_HEIGHT = 150;

    explicit CMessageBox(QWidget* pParent = nullptr, Qt::WindowFlags flags = {});

    // Builds the content; with bInfoOnly a single "OK" button replaces No and Yes.
    void InitQuestionDialog(const QString& strText, bool bInfoOnly);
    // 1 for Yes (or OK); 0 for No and for a dialog closed any other way.
    int GetMessageBoxRet() const { return m_nRet; }
    // Below the owner's title strip, centred across it and kept on the owner's screen, so the
    // two title strips never meet.
    void PlaceOver(const QWidget* pOwner);
    // Places, builds and runs a dialog over the owner; true for Yes (or OK).
    static bool Ask(QWidget* pOwner, const QString& strText, bool bInfoOnly = false);

public slots:
    void btnSlotNO();
    void btnSlotOK();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;

private:
    QWidget* CreateTitleStrip(const QString& strTitle);
    QWidget* CreateMessageRow(const QString& strText);
    QWidget* CreateButtonBar(bool bInfoOnly);

    int m_nRet = 0;
    QLabel* m_pMessageLabel = nullptr;
    CWindowDragger m_dragger;
};
