#include "CWindowChrome.h"

#include "IconHelper.h"
#include "ui_MainWindow.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtGui/QScreen>

namespace {

const QChar kGlyphClose(0xF00D);
const QChar kGlyphMaximize(0xF096);
const QChar kGlyphRestore(0xF079);
const QChar kGlyphMinimize(0xF068);
const QChar kGlyphCamera(0xF030);

} // namespace

CWindowChrome::CWindowChrome(QWidget& window, const Ui::MainWindow& ui)
    : m_window(window), m_pMaxButton(ui.btnMenu_Max) {
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint);
    m_normalGeometry = window.geometry();
    ui.lab_Title->installEventFilter(this);
    IconHelper::Instance()->SetIcon(ui.btnMenu_Close, kGlyphClose, 10);
    IconHelper::Instance()->SetIcon(ui.btnMenu_Max, kGlyphMaximize, 10);
    IconHelper::Instance()->SetIcon(ui.btnMenu_Min, kGlyphMinimize, 10);
    IconHelper::Instance()->SetIcon(ui.lab_Ico, kGlyphCamera, 12);
    // The form's Maximum policy would cap the window at its size hint, so that the size grip
    // snapped back to the minimum whichever way it was dragged.
    window.setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

bool CWindowChrome::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        ToggleMaximized();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CWindowChrome::MousePress(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    m_dragOffset = event->globalPos() - m_window.pos();
    event->accept();
}

void CWindowChrome::MouseMove(QMouseEvent* event) {
    if (!m_dragging || event->buttons() == Qt::NoButton || m_maximized)
        return;
    m_window.move(event->globalPos() - m_dragOffset);
    event->accept();
}

void CWindowChrome::MouseRelease() {
    m_dragging = false;
}

// The texts stay in the window's translation context, as all of the window's texts do.
void CWindowChrome::ToggleMaximized() {
    if (m_maximized) {
        m_window.setGeometry(m_normalGeometry);
        IconHelper::Instance()->SetIcon(m_pMaxButton, kGlyphMaximize, 10);
        m_pMaxButton->setToolTip(QCoreApplication::translate("MainWindow", "最大化"));
    } else {
        m_normalGeometry = m_window.geometry();
        m_window.setGeometry(QGuiApplication::primaryScreen()->geometry());
        IconHelper::Instance()->SetIcon(m_pMaxButton, kGlyphRestore, 10);
        m_pMaxButton->setToolTip(QCoreApplication::translate("MainWindow", "还原"));
    }
    m_maximized = !m_maximized;
}

void CWindowChrome::Minimize() {
    m_window.showMinimized();
}
