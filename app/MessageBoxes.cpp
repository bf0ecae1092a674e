#include "MessageBoxes.h"

#include <QtWidgets/QMessageBox>

namespace MessageBoxes {

void Show(QWidget* owner, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::NoIcon, text, text, QMessageBox::Ok, owner);
    box.setInformativeText(detail);
    box.exec();
}

bool Ask(QWidget* owner, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Question, text, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    box.setInformativeText(detail);
    return box.exec() == QMessageBox::Yes;
}

} // namespace MessageBoxes
