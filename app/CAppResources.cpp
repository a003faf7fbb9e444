#include "app/CAppResources.h"

#include <QCoreApplication>
#include <QFile>

QString CAppResources::appDir()
{
    return QCoreApplication::applicationDirPath();
}

QString CAppResources::path(const QString& name)
{
    return appDir() + QStringLiteral("/Resources/") + name;
}

QPixmap CAppResources::pixmap(const QString& name)
{
    return QPixmap(path(name));
}

QString CAppResources::styleSheetText(const QByteArray& bytes, const QString& folder)
{
    const int zero = bytes.indexOf('\0');
    const QByteArray text = zero >= 0 ? bytes.left(zero) : bytes;
    QString sheet = QString::fromLatin1(text);
    sheet.replace(QStringLiteral("imagePath"), folder, Qt::CaseSensitive);
    return sheet;
}

QString CAppResources::loadStyleSheet(const QString& folder)
{
    QFile file(folder + QStringLiteral("/Resources/stylesheet.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return styleSheetText(file.readAll(), folder);
}
