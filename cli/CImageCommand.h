#pragma once

#include <QStringList>

// tamsel-cli image SOURCE OUT.img [--map OUT.map] [--retry-time SECONDS]:
// copies a volume into an image, good parts first, with a ddrescue map of
// what could not be read (see CVolumeImager).
class CImageCommand
{
public:
    int run(const QStringList& arguments);
    static QString usage();
};
