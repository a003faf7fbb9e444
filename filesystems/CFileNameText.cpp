#include "filesystems/CFileNameText.h"

#include <vector>

QString CFileNameText::fromUnits(const char16_t* units, size_t count)
{
    constexpr char16_t kReplacementCharacter = 0xFFFD;
    std::vector<char16_t> text(units, units + count);
    for (size_t i = 0; i < count; ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            ++i; // a whole pair
        else if ((c >= 0xD800 && c <= 0xDFFF) || c == 0 || c == u'/')
            text[i] = kReplacementCharacter;
    }
    return QString::fromUtf16(text.data(), static_cast<int>(count));
}
