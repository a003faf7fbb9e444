#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QString>

// Where the window finds its images and its style sheet: the folder
// "Resources" beside the program (a build tree), or in share/tamsel beside
// the program's bin/ (an installed one). They are read at run time; a
// missing file gives an empty image.
class CAppResources
{
public:
    // The program's folder, "/" separators, no trailing separator.
    static QString appDir();
    // The folder that holds "Resources": appDir() when Resources/ is there,
    // else appDir() + "/../share/tamsel" when it is there, else appDir().
    static QString root();
    // True when root() really holds the style sheet.
    static bool found();
    // root() + "/Resources/" + name.
    static QString path(const QString& name);
    static QPixmap pixmap(const QString& name);
    // The image `name` as the window's language has it: an image with words
    // on it has an English twin NAME_en.EXT, taken while the window speaks
    // English (CLanguage::current()); other images are the same in both.
    static QString localName(const QString& name);

    // The style sheet text from the raw bytes of the file: one Latin-1
    // character per byte, cut at the first zero byte, with every
    // "imagePath" (exact case) replaced by `folder`.
    static QString styleSheetText(const QByteArray& bytes, const QString& folder);
    // Reads folder + "/Resources/stylesheet.qss" and returns its text, or an
    // empty text when it cannot be read.
    static QString loadStyleSheet(const QString& folder);
};
