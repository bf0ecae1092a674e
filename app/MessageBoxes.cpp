#include "MessageBoxes.h"

#include <QtWidgets/QMessageBox>

namespace MessageBoxes {

void Show(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, text, text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace MessageBoxes
