#include "disk/CErrnoText.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

QString CErrnoText::text(int error)
{
    const char* words = nullptr;
    switch (error) {
    case EIO: words = QT_TRANSLATE_NOOP("CErrnoText", "Input/output error"); break;
    case ENOENT: words = QT_TRANSLATE_NOOP("CErrnoText", "No such file or directory"); break;
    case EACCES: words = QT_TRANSLATE_NOOP("CErrnoText", "Permission denied"); break;
    case EPERM: words = QT_TRANSLATE_NOOP("CErrnoText", "Operation not permitted"); break;
    case ENOSPC: words = QT_TRANSLATE_NOOP("CErrnoText", "No space left on device"); break;
    case EDQUOT: words = QT_TRANSLATE_NOOP("CErrnoText", "Disk quota exceeded"); break;
    case EFBIG: words = QT_TRANSLATE_NOOP("CErrnoText", "File too large"); break;
    case EROFS: words = QT_TRANSLATE_NOOP("CErrnoText", "Read-only file system"); break;
    case ENAMETOOLONG: words = QT_TRANSLATE_NOOP("CErrnoText", "File name too long"); break;
    case ENOTDIR: words = QT_TRANSLATE_NOOP("CErrnoText", "Not a directory"); break;
    case EISDIR: words = QT_TRANSLATE_NOOP("CErrnoText", "Is a directory"); break;
    case EEXIST: words = QT_TRANSLATE_NOOP("CErrnoText", "File exists"); break;
    case ENXIO: words = QT_TRANSLATE_NOOP("CErrnoText", "No such device or address"); break;
    case ENODEV: words = QT_TRANSLATE_NOOP("CErrnoText", "No such device"); break;
    case EBUSY: words = QT_TRANSLATE_NOOP("CErrnoText", "Device or resource busy"); break;
    case ENOMEDIUM: words = QT_TRANSLATE_NOOP("CErrnoText", "No medium found"); break;
    case ENOMEM: words = QT_TRANSLATE_NOOP("CErrnoText", "Cannot allocate memory"); break;
    case EMFILE: words = QT_TRANSLATE_NOOP("CErrnoText", "Too many open files"); break;
    case EINVAL: words = QT_TRANSLATE_NOOP("CErrnoText", "Invalid argument"); break;
    case ELOOP: words = QT_TRANSLATE_NOOP("CErrnoText", "Too many levels of symbolic links"); break;
    default: break;
    }
    if (words)
        return QCoreApplication::translate("CErrnoText", words);
    return QString::fromLocal8Bit(std::strerror(error));
}
