#include "ApplicationLook.h"

#include <QtCore/QFile>
#include <QtCore/QLibraryInfo>
#include <QtCore/QTranslator>
#include <QtGui/QColor>
#include <QtGui/QPalette>
#include <QtWidgets/QApplication>

namespace ApplicationLook {

QString ReadStyleSheet(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    return QString::fromLatin1(bytes.constData(), zero < 0 ? bytes.size() : zero);
}

bool LoadQtTranslation(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load("qtbase_zh_CN", QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void Apply(QApplication& app) {
    LoadQtTranslation(app);
    app.setStyleSheet(ReadStyleSheet("./skin/black.css"));
    QApplication::setPalette(QPalette(QColor("#F0F0F0")));
}

} // namespace ApplicationLook
