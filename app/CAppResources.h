#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QString>

// Where the window finds its images and its style sheet: the folder
// "Resources" beside the program. They are read at run time; a missing file
// gives an empty image and nothing is reported.
class CAppResources
{
public:
    // The program's folder, "/" separators, no trailing separator.
    static QString appDir();
    // appDir() + "/Resources/" + name.
    static QString path(const QString& name);
    static QPixmap pixmap(const QString& name);

    // The style sheet text from the raw bytes of the file: one Latin-1
    // character per byte, cut at the first zero byte, with every
    // "imagePath" (exact case) replaced by `folder`.
    static QString styleSheetText(const QByteArray& bytes, const QString& folder);
    // Reads folder + "/Resources/stylesheet.qss" and returns its text, or an
    // empty text when it cannot be read.
    static QString loadStyleSheet(const QString& folder);
};
