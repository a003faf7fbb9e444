#include "app/CAppResources.h"
#include "app/CParentWindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    int code = 0;
    {
        CParentWindow window;
        window.setFixedSize(900, 550);
        window.show();
        app.setStyleSheet(CAppResources::loadStyleSheet(CAppResources::appDir()));
        code = app.exec();
    }
    return code;
}
