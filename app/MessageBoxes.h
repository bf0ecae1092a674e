#pragma once

#include <QtCore/QString>

class QWidget;

// Modal message boxes with one OK button whose text is also the caption. They return when the
// operator dismisses them. GUI thread only.
namespace MessageBoxes {

// A box owned by the given window, or by no window when owner is null.
void Show(QWidget* owner, const QString& text);

} // namespace MessageBoxes
