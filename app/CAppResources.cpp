#include "app/CAppResources.h"

#include "app/CLanguage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString CAppResources::appDir()
{
    return QCoreApplication::applicationDirPath();
}

namespace {

const char* const kStyleSheet = "/Resources/stylesheet.qss";

} // namespace

QString CAppResources::root()
{
    const QString beside = appDir();
    if (QFile::exists(beside + QLatin1String(kStyleSheet)))
        return beside;
    const QString installed = QDir::cleanPath(beside + QStringLiteral("/../share/tamsel"));
    if (QFile::exists(installed + QLatin1String(kStyleSheet)))
        return installed;
    return beside;
}

bool CAppResources::found()
{
    return QFile::exists(root() + QLatin1String(kStyleSheet));
}

QString CAppResources::path(const QString& name)
{
    return root() + QStringLiteral("/Resources/") + name;
}

QString CAppResources::localName(const QString& name)
{
    if (CLanguage::current() != CLanguage::Language::English)
        return name;
    const QFileInfo info(name);
    const QString twin = info.completeBaseName() + QStringLiteral("_en.") + info.suffix();
    return QFile::exists(path(twin)) ? twin : name;
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
    QFile file(folder + QLatin1String(kStyleSheet));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return styleSheetText(file.readAll(), folder);
}
