// Moves a frameless window while the left mouse button is held on it.
#pragma once

class QMouseEvent;
class QWidget;

class CWindowDragger {
public:
    // A left press remembers where the pointer grabbed the window.
    void Press(const QWidget* pWindow, const QMouseEvent* pEvent);
    // A move with the left button held places the window under the pointer again.
    void Move(QWidget* pWindow, const QMouseEvent* pEvent) const;

private:
    int m_nOffsetX = 0;
    int m_nOffsetY = 0;
};
