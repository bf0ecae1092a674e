#pragma once

#include <QtCore/QString>

class QWidget;

// Modal message boxes whose text is also the caption. They return when the operator answers
// them. GUI thread only.
namespace MessageBoxes {

// One OK button; owned by the given window, or by no window when owner is null. A detail, if
// given, is shown under the text.
void Show(QWidget* owner, const QString& text, const QString& detail = QString());

// Yes and No buttons, No the default; true when the operator chose Yes.
bool Ask(QWidget* owner, const QString& text, const QString& detail = QString());

} // namespace MessageBoxes
