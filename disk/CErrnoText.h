#pragma once

#include <QString>

// An errno in words of the program's language: the common ones through the
// translation system (so that a Chinese window does not show the C
// library's English), any other as the C library words it.
class CErrnoText
{
public:
    static QString text(int error);
};
