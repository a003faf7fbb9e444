#include "app/CDialogFileChooser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>
#include <QTextStream>

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <vector>

namespace {

// The home folder of a numeric user id, or empty.
QString homeOfUid(const QString& uidText)
{
    bool ok = false;
    const uid_t uid = static_cast<uid_t>(uidText.toUInt(&ok));
    if (!ok)
        return QString();
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0 || size > (1 << 20))
        size = 16384;
    std::vector<char> buffer(static_cast<size_t>(size));
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return QString();
    return QString::fromLocal8Bit(found->pw_dir);
}

} // namespace

QString CDialogFileChooser::chooseImageFile(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QCoreApplication::translate("CDialogFileChooser", "打开镜像文件"), startFolder(),
                                        QCoreApplication::translate("CDialogFileChooser", "磁盘镜像 (*.img *.dd *.raw *.bin *.iso *.vhd *.E01 *.e01);;所有文件 (*)"));
}

QString CDialogFileChooser::chooseOutputFolder(QWidget* parent)
{
    return QFileDialog::getExistingDirectory(parent, QString(), startFolder(), QFileDialog::ShowDirsOnly);
}

QString CDialogFileChooser::startFolder()
{
    return startFolder(QProcessEnvironment::systemEnvironment(), QDir::homePath(),
                       QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

QString CDialogFileChooser::startFolder(const QProcessEnvironment& env, const QString& ownHome,
                                        const QString& ownDesktop)
{
    QString invoker = env.value(QStringLiteral("SUDO_UID"));
    if (invoker.isEmpty())
        invoker = env.value(QStringLiteral("PKEXEC_UID"));
    if (!invoker.isEmpty()) {
        const QString home = homeOfUid(invoker);
        if (!home.isEmpty() && QDir(home).exists()) {
            const QString desktop = desktopIn(home);
            return desktop.isEmpty() ? home : desktop;
        }
    }
    // QStandardPaths falls back to the home folder when no desktop folder is
    // configured; use it only when it is a real, distinct folder.
    if (!ownDesktop.isEmpty() && ownDesktop != ownHome && QDir(ownDesktop).exists())
        return ownDesktop;
    return ownHome;
}

QString CDialogFileChooser::desktopIn(const QString& home)
{
    QString desktop = home + QStringLiteral("/Desktop");
    QFile dirs(home + QStringLiteral("/.config/user-dirs.dirs"));
    if (dirs.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&dirs);
        in.setCodec("UTF-8");
        for (int lines = 0; lines < 200 && !in.atEnd(); ++lines) {
            const QString line = in.readLine().trimmed();
            if (!line.startsWith(QLatin1String("XDG_DESKTOP_DIR=")))
                continue;
            QString value = line.mid(int(sizeof("XDG_DESKTOP_DIR=")) - 1);
            if (value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')) && value.size() >= 2)
                value = value.mid(1, value.size() - 2);
            value.replace(QStringLiteral("$HOME"), home);
            if (value.startsWith(QLatin1Char('/')))
                desktop = value;
            break;
        }
    }
    return QDir(desktop).exists() && QDir(desktop) != QDir(home) ? desktop : QString();
}
