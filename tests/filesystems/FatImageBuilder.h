#pragma once

// A FAT32 volume in memory, built entry by entry, for the scanner's and the
// allocation map's tests.

#include "filesystems/CFat32Scanner.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

inline void put16(QByteArray& b, int64_t at, uint16_t v)
{
    b[int(at)] = char(v & 0xFF);
    b[int(at) + 1] = char(v >> 8);
}

inline void put32(QByteArray& b, int64_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[int(at) + i] = char((v >> (8 * i)) & 0xFF);
}

// A FAT32 volume in memory, built entry by entry.
struct FatBuilder
{
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerCluster = 8;
    uint16_t reserved = 32;
    uint8_t fats = 2;
    uint32_t sectorsPerFat = 1000;
    uint32_t rootCluster = 2;
    uint32_t clusters = 300;
    QByteArray image;

    void start()
    {
        const uint32_t total = reserved + fats * sectorsPerFat + clusters * sectorsPerCluster;
        image = QByteArray(int(int64_t(total) * bytesPerSector), 0);
        image.replace(0x52, 8, "FAT32   ");
        put16(image, 0x0B, bytesPerSector);
        image[0x0D] = char(sectorsPerCluster);
        put16(image, 0x0E, reserved);
        image[0x10] = char(fats);
        put32(image, 0x20, total);
        put32(image, 0x24, sectorsPerFat);
        put32(image, 0x2C, rootCluster);
        setFat(0, 0x0FFFFFF8);
        setFat(1, 0x0FFFFFFF);
        setFat(rootCluster, 0x0FFFFFFF);
    }

    void setFat(uint32_t n, uint32_t v)
    {
        for (int f = 0; f < fats; ++f)
            put32(image, (int64_t(reserved) + int64_t(f) * sectorsPerFat) * bytesPerSector + n * 4, v);
    }

    int64_t clusterOffset(uint32_t n) const
    {
        return (int64_t(reserved) + int64_t(fats) * sectorsPerFat + int64_t(n - 2) * sectorsPerCluster)
            * bytesPerSector;
    }

    long long sectorOf(uint32_t n) const { return clusterOffset(n) / 512; }

    // Writes the 32-byte short entry `index` of directory cluster `dir`.
    void entry(uint32_t dir, int index, const char* name11, uint8_t attribute, uint32_t first, uint8_t byte12 = 0)
    {
        const int64_t at = clusterOffset(dir) + index * 32;
        image.replace(int(at), 11, QByteArray(name11, 11));
        image[int(at) + 11] = char(attribute);
        image[int(at) + 12] = char(byte12);
        put16(image, at + 20, uint16_t(first >> 16));
        put16(image, at + 26, uint16_t(first & 0xFFFF));
        put32(image, at + 28, 1000);
    }

    // Writes the long-name entries of `name` from entry `index` on and
    // returns the index of the short entry that must follow.
    int longName(uint32_t dir, int index, const QString& name, uint8_t checksum)
    {
        const int pieces = (name.size() + 12) / 13;
        for (int p = pieces; p >= 1; --p, ++index) {
            const int64_t at = clusterOffset(dir) + index * 32;
            QByteArray e(32, 0);
            e[0] = char(p | (p == pieces ? 0x40 : 0));
            e[11] = char(0x0F);
            e[13] = char(checksum);
            static const int offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
            for (int i = 0; i < 13; ++i) {
                const int k = (p - 1) * 13 + i;
                uint16_t unit = k < name.size() ? name.at(k).unicode() : (k == name.size() ? 0 : 0xFFFF);
                put16(e, offsets[i], unit);
            }
            image.replace(int(at), 32, e);
        }
        return index;
    }

    void longEntry(uint32_t dir, int index, const QString& name, const char* name11, uint32_t first)
    {
        const uint8_t sum = CFat32Scanner::shortNameChecksum(reinterpret_cast<const uint8_t*>(name11));
        entry(dir, longName(dir, index, name, sum), name11, 0x20, first);
    }
};

