#pragma once

#include <QtCore/QObject>
#include <QtCore/QPoint>
#include <QtCore/QRect>

class QAbstractButton;
class QMouseEvent;
class QWidget;

namespace Ui {
class MainWindow;
}

// The frameless window's own title bar: its flags and glyphs, dragging by any part that leaves
// the mouse to the window, maximizing to the primary screen and back to the exact geometry it
// had (never the toolkit's maximized state), and minimizing; the dialog's own size grip may grow
// the window past its form's size. GUI thread only; the window owns it and hands it its mouse
// events.
class CWindowChrome : public QObject {
public:
    // The window and its form must outlive the chrome.
    CWindowChrome(QWidget& window, const Ui::MainWindow& ui);

    void MousePress(QMouseEvent* event);
    void MouseMove(QMouseEvent* event);
    void MouseRelease();
    void ToggleMaximized();
    void Minimize();

protected:
    // Watches the title text, whose double click maximizes or restores.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_window;
    QAbstractButton* m_pMaxButton;
    QPoint m_dragOffset;
    bool m_dragging = false;
    bool m_maximized = false;
    QRect m_normalGeometry;
};
