#pragma once

#include <QString>

#include <cstddef>

// A file name of UTF-16 units as a file system stores it, made safe to show
// and to write: a "/" (which would make it a path), a NUL and a half of a
// surrogate pair (which is no character) become U+FFFD. Names come from
// whatever the disk holds, damaged or hostile.
class CFileNameText
{
public:
    static QString fromUnits(const char16_t* units, size_t count);
};
