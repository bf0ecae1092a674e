#pragma once

#include <QtCore/QString>

class QApplication;

namespace ApplicationLook {

// The style sheet text of a file: its bytes as Latin-1, up to the first zero byte. A missing or
// unreadable file gives an empty text.
QString ReadStyleSheet(const QString& path);

// Applies "./skin/black.css" and the "#F0F0F0" palette to the application.
void Apply(QApplication& app);

} // namespace ApplicationLook
