#pragma once

#include <QtCore/QObject>
#include <QtGui/QFont>

class QAbstractButton;
class QChar;
class QLabel;

// Puts single Font Awesome glyphs on labels and buttons. One instance, owned by the application
// object and created on first use.
class IconHelper : public QObject {
public:
    static IconHelper* Instance();

    void SetIcon(QLabel* label, QChar glyph, int pointSize);
    void SetIcon(QAbstractButton* button, QChar glyph, int pointSize);
    // The family the font file registered; empty when it could not be loaded.
    QString Family() const { return m_iconFont.family(); }

    ~IconHelper() override;

private:
    IconHelper();

    QFont m_iconFont;
    static IconHelper* s_pInstance;
};
