#pragma once

#include "app/IFileChooser.h"

#include <QProcessEnvironment>

// The file choosers a person sees: the toolkit's file and folder dialogs,
// opening at the user's desktop folder where there is one, else at the home
// folder. Under sudo or pkexec that is the invoking user's, not root's.
class CDialogFileChooser : public IFileChooser
{
public:
    QString chooseImageFile(QWidget* parent) override;
    QString chooseOutputFolder(QWidget* parent) override;

    // Where both dialogs open.
    static QString startFolder();
    // The same, from an environment and the home folder of the user whose
    // id the environment names (for tests).
    static QString startFolder(const QProcessEnvironment& env, const QString& ownHome,
                               const QString& ownDesktop);
    // The desktop folder inside `home`: XDG_DESKTOP_DIR from
    // home/.config/user-dirs.dirs, else home/Desktop; empty when it does not
    // exist.
    static QString desktopIn(const QString& home);
};
