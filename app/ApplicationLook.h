#pragma once

#include <QtCore/QString>

class QApplication;

namespace ApplicationLook {

// The style sheet text of a file: its bytes as Latin-1, up to the first zero byte. A missing or
// unreadable file gives an empty text.
QString ReadStyleSheet(const QString& path);

// Installs Qt's own Chinese texts (dialog buttons and labels) from the system's qtbase
// translation; false when it cannot be loaded, and Qt then speaks English.
bool LoadQtTranslation(QApplication& app);

// Installs Qt's Chinese texts, applies "./skin/black.css" and the "#F0F0F0" palette to the
// application.
void Apply(QApplication& app);

} // namespace ApplicationLook
