// The converter window: queue recordings, pick an output folder, export.

#include "ApplicationLook.h"
#include "MainWindow.h"

#include <QtWidgets/QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ApplicationLook::Apply(app);
    int code;
    {
        MainWindow window;
        window.show();
        code = app.exec();
    }
    return code;
}
