#include "app/CMainWindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    CMainWindow window;
    window.show();
    return app.exec();
}
