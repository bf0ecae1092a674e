#include "IconHelper.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMutex>
#include <QtCore/QMutexLocker>
#include <QtGui/QFontDatabase>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QLabel>

IconHelper* IconHelper::s_pInstance = nullptr;

IconHelper* IconHelper::Instance() {
    static QMutex mutex;
    if (!s_pInstance) {
        QMutexLocker locker(&mutex);
        if (!s_pInstance)
            s_pInstance = new IconHelper();
    }
    return s_pInstance;
}

IconHelper::IconHelper() : QObject(QCoreApplication::instance()) {
    const int id = QFontDatabase::addApplicationFont("./skin/fontawesome-webfont.ttf");
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    // Without the font file the glyphs fall back to the default font; nothing else changes.
    m_iconFont = families.isEmpty() ? QFont() : QFont(families.first());
}

IconHelper::~IconHelper() = default;

void IconHelper::SetIcon(QLabel* label, QChar glyph, int pointSize) {
    m_iconFont.setPointSize(pointSize);
    label->setFont(m_iconFont);
    label->setText(QString(glyph));
}

void IconHelper::SetIcon(QAbstractButton* button, QChar glyph, int pointSize) {
    m_iconFont.setPointSize(pointSize);
    button->setFont(m_iconFont);
    button->setText(QString(glyph));
}
