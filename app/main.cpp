#include "app/CAppResources.h"
#include "app/CLanguage.h"
#include "app/CParentWindow.h"

#include <QApplication>
#include <QDebug>

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    CLanguage language;
    language.install(CLanguage::fromEnvironment());
    int code = 0;
    {
        CParentWindow window;
        window.setFixedSize(900, 550);
        window.show();
        if (!CAppResources::found())
            qWarning().noquote() << QCoreApplication::translate(
                "main", "tamsel: no Resources folder beside the program or in ../share/tamsel; "
                        "the window is drawn without its images.");
        app.setStyleSheet(CAppResources::loadStyleSheet(CAppResources::root()));
        code = app.exec();
    }
    return code;
}
