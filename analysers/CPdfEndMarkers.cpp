#include "analysers/CPdfEndMarkers.h"

#include <cstring>

namespace {

const char kMarker[] = "%%EOF";
const char kStartxref[] = "startxref";
constexpr int kStartxrefLength = 9;
// Whitespace runs and digit counts accepted around the startxref number and
// in an object header; longer ones are not what a writer puts there.
constexpr int kMaxSpaces = 8;
constexpr int kMaxOffsetDigits = 18; // fits an int64_t
constexpr int kMaxNumberDigits = 10;
constexpr int kMaxGenerationDigits = 5;

bool isSpace(uint8_t c)
{
    return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0;
}

bool isLineEnd(uint8_t c)
{
    return c == '\r' || c == '\n';
}

bool isDigit(uint8_t c)
{
    return c >= '0' && c <= '9';
}

bool isRegular(uint8_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The number in "startxref <digits>" right before position `p`, or -1.
int64_t startxrefBefore(const uint8_t* j, int p)
{
    int i = p - 1;
    for (int n = 0; i >= 0 && isSpace(j[i]); --i)
        if (++n > kMaxSpaces)
            return -1;
    const int lastDigit = i;
    while (i >= 0 && isDigit(j[i]) && lastDigit - i < kMaxOffsetDigits)
        --i;
    if (i == lastDigit || i < 0 || isDigit(j[i]))
        return -1;
    const int firstDigit = i + 1;
    int spaces = 0;
    for (; i >= 0 && isSpace(j[i]); --i)
        if (++spaces > kMaxSpaces)
            return -1;
    if (spaces == 0 || i + 1 < kStartxrefLength || std::memcmp(j + i + 1 - kStartxrefLength, kStartxref, kStartxrefLength) != 0)
        return -1;
    int64_t value = 0;
    for (int k = firstDigit; k <= lastDigit; ++k)
        value = value * 10 + (j[k] - '0');
    return value;
}

// Where the object header whose "obj" begins at `q` begins, or -1.
int objectHeaderBefore(const uint8_t* j, int q)
{
    int i = q - 1;
    int spaces = 0;
    for (; i >= 0 && isSpace(j[i]); --i)
        if (++spaces > kMaxSpaces)
            return -1;
    int digits = 0;
    for (; i >= 0 && isDigit(j[i]); --i)
        if (++digits > kMaxGenerationDigits)
            return -1;
    if (spaces == 0 || digits == 0)
        return -1;
    spaces = 0;
    for (; i >= 0 && isSpace(j[i]); --i)
        if (++spaces > kMaxSpaces)
            return -1;
    digits = 0;
    for (; i >= 0 && isDigit(j[i]); --i)
        if (++digits > kMaxNumberDigits)
            return -1;
    if (spaces == 0 || digits == 0 || i < 0 || isRegular(j[i]))
        return -1;
    return i + 1;
}

} // namespace

void CPdfEndMarkers::scan(const uint8_t* block, int blockSize, int64_t blockIndex)
{
    const bool contiguous = m_blockIndex >= 0 && blockIndex == m_blockIndex + 1 && blockSize == m_blockSize;
    m_markers.clear();
    m_xrefs.clear();
    m_objects.clear();
    m_blockIndex = blockIndex;
    m_blockSize = blockSize;
    if (!block || blockSize < kCarry) {
        m_blockIndex = -1;
        return;
    }
    const int n = kCarry + blockSize;
    if (m_joined.size() != static_cast<size_t>(n))
        m_joined.assign(static_cast<size_t>(n), 0);
    uint8_t* j = m_joined.data();
    if (contiguous)
        std::memmove(j, j + blockSize, kCarry);
    else
        std::memset(j, 0, kCarry);
    std::memcpy(j + kCarry, block, static_cast<size_t>(blockSize));
    // Volume offset of j[0].
    const int64_t base = blockIndex * blockSize - kCarry;

    // Markers whose deciding byte (the one after "%%EOF", or after its
    // "\r") lies in this block; a "\r" that is the block's last byte waits
    // for the next block to tell "\r" from "\r\n".
    for (int from = kCarry - kMarkerLength - 1; from <= n - kMarkerLength - 1;) {
        const void* hit = std::memchr(j + from, '%', static_cast<size_t>(n - kMarkerLength - from));
        if (!hit)
            break;
        const int p = static_cast<int>(static_cast<const uint8_t*>(hit) - j);
        from = p + 1;
        if (std::memcmp(j + p, kMarker, kMarkerLength) != 0)
            continue;
        const uint8_t t = j[p + kMarkerLength];
        int decide = p + kMarkerLength;
        int end = p + kMarkerLength;
        if (t == '\n') {
            end = decide + 1;
        } else if (t == '\r') {
            decide = p + kMarkerLength + 1;
            if (decide >= n)
                continue;
            end = decide + (j[decide] == '\n' ? 1 : 0);
        } else if (t != 0) {
            continue;
        }
        if (decide < kCarry)
            continue; // found with the previous block
        m_markers.push_back(Marker{base + p, base + end, startxrefBefore(j, p)});
    }

    // "xref" at a line start, followed by whitespace; "startxref" is not one.
    constexpr int kXref = 4;
    for (int from = kCarry - kXref; from <= n - kXref - 1;) {
        const void* hit = std::memchr(j + from, 'x', static_cast<size_t>(n - kXref - from));
        if (!hit)
            break;
        const int p = static_cast<int>(static_cast<const uint8_t*>(hit) - j);
        from = p + 1;
        if (p >= 1 && isLineEnd(j[p - 1]) && std::memcmp(j + p, "xref", kXref) == 0 && isSpace(j[p + kXref]))
            m_xrefs.push_back(base + p);
    }

    // "N G obj" followed by a delimiter; its last byte in this block.
    constexpr int kObj = 3;
    for (int from = kCarry - 1; from <= n - 2;) {
        const void* hit = std::memchr(j + from, 'j', static_cast<size_t>(n - 1 - from));
        if (!hit)
            break;
        const int p = static_cast<int>(static_cast<const uint8_t*>(hit) - j);
        from = p + 1;
        const int q = p - (kObj - 1);
        if (q < 1 || j[q] != 'o' || j[q + 1] != 'b' || isRegular(j[p + 1]))
            continue;
        const int header = objectHeaderBefore(j, q);
        if (header >= 0)
            m_objects.push_back(base + header);
    }
}
