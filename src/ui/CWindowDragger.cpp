// Dragging of frameless windows by their surface.
#include "ui/CWindowDragger.h"

#include <QMouseEvent>
#include <QWidget>

void CWindowDragger::Press(const QWidget* pWindow, const QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    const QPoint ptGlobal = pEvent->globalPosition().toPoint();
    m_nOffsetX = ptGlobal.x() - pWindow->x();
    m_nOffsetY = ptGlobal.y() - pWindow->y();
}

void CWindowDragger::Move(QWidget* pWindow, const QMouseEvent* pEvent) const {
    if (!(pEvent->buttons() & Qt::LeftButton))
        return;
    const QPoint ptGlobal = pEvent->globalPosition().toPoint();
    pWindow->move(ptGlobal.x() - m_nOffsetX, ptGlobal.y() - m_nOffsetY);
}
