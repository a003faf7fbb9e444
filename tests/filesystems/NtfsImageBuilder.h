#pragma once

// Builds NTFS master file table records and small NTFS volumes in memory,
// byte by byte, for the parser and scanner tests.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace ntfstest {

inline void put16(QByteArray& b, int at, uint16_t v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}

inline void put32(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

inline void put64(QByteArray& b, int at, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

// Encodes a run list: (starting cluster, length in clusters) in file order.
// A starting cluster of -1 makes a sparse run.
inline QByteArray encodeRuns(const std::vector<std::pair<int64_t, uint64_t>>& runs)
{
    QByteArray out;
    int64_t previous = 0;
    for (const auto& run : runs) {
        QByteArray length;
        uint64_t l = run.second;
        do {
            length.append(char(l & 0xFF));
            l >>= 8;
        } while (l);
        QByteArray offset;
        if (run.first >= 0) {
            int64_t delta = run.first - previous;
            previous = run.first;
            // Shortest signed little-endian form.
            for (;;) {
                offset.append(char(delta & 0xFF));
                const int64_t rest = delta >> 8;
                const bool signBit = (delta & 0x80) != 0;
                if ((rest == 0 && !signBit) || (rest == -1 && signBit))
                    break;
                delta = rest;
            }
        }
        out.append(char((offset.size() << 4) | length.size()));
        out.append(length);
        out.append(offset);
    }
    out.append(char(0));
    return out;
}

class RecordBuilder
{
public:
    explicit RecordBuilder(int size = 1024, uint16_t flags = 1)
        : m_bytes(size, 0)
        , m_size(size)
    {
        m_bytes.replace(0, 4, "FILE");
        put16(m_bytes, 0x04, kUsaOffset);
        put16(m_bytes, 0x06, uint16_t(size / 512 + 1));
        put16(m_bytes, 0x10, 1);          // sequence
        put16(m_bytes, 0x12, 1);          // link count
        // The first attribute follows the update sequence array, 8-aligned.
        m_cursor = (kUsaOffset + 2 * (size / 512 + 1) + 7) & ~7;
        put16(m_bytes, 0x14, uint16_t(m_cursor));
        put16(m_bytes, 0x16, flags);
        put32(m_bytes, 0x1C, uint32_t(size));
    }

    // A raw attribute of the given type and total length (multiple of 8),
    // resident, zero-filled: used to move later attributes to chosen places.
    RecordBuilder& filler(uint32_t length, uint32_t type = 0x40)
    {
        QByteArray a(int(length), 0);
        put32(a, 0, type);
        put32(a, 4, length);
        put32(a, 0x10, length - 0x18);
        put16(a, 0x14, 0x18);
        return append(a);
    }

    RecordBuilder& standardInformation()
    {
        QByteArray value(48, 0);
        put32(value, 0x20, 0x20); // archive
        return resident(0x10, value);
    }

    // A file name value; `units` overrides the name-length byte, `extra`
    // bytes are appended after the name inside the value.
    RecordBuilder& fileName(const QString& name, uint8_t nameSpace = 1, int units = -1, const QByteArray& extra = {})
    {
        QByteArray value(0x42, 0);
        put64(value, 0, m_parent);
        value[0x40] = char(units >= 0 ? units : name.size());
        value[0x41] = char(nameSpace);
        for (QChar c : name) {
            value.append(char(c.unicode() & 0xFF));
            value.append(char(c.unicode() >> 8));
        }
        value.append(extra);
        return resident(0x30, value);
    }

    RecordBuilder& residentData(const QByteArray& value) { return resident(0x80, value); }

    // The folder of the names added after this call (record number in the
    // low 48 bits, sequence above; the root, 5, by default).
    RecordBuilder& parent(uint64_t number, uint16_t sequence = 5)
    {
        m_parent = number | (uint64_t(sequence) << 48);
        return *this;
    }
    RecordBuilder& sequence(uint16_t value)
    {
        put16(m_bytes, 0x10, value);
        return *this;
    }
    // Makes this an extension record of the base record `reference`.
    RecordBuilder& base(uint64_t reference)
    {
        put64(m_bytes, 0x20, reference);
        return *this;
    }
    // A resident attribute list placing pieces of the unnamed data stream:
    // (first virtual cluster, record reference).
    RecordBuilder& attributeList(const std::vector<std::pair<uint64_t, uint64_t>>& entries)
    {
        QByteArray value;
        for (const auto& e : entries) {
            QByteArray entry(0x20, 0);
            put32(entry, 0, 0x80);
            put16(entry, 4, 0x20);
            entry[7] = char(0x1A);
            put64(entry, 8, e.first);
            put64(entry, 0x10, e.second);
            value.append(entry);
        }
        return resident(0x20, value);
    }

    // A non-resident data attribute holding `runs` (as encodeRuns takes
    // them), optionally named, starting at `startVcn`.
    RecordBuilder& data(const std::vector<std::pair<int64_t, uint64_t>>& runs, uint64_t startVcn = 0,
                        const QString& streamName = QString(), uint64_t realSize = 0)
    {
        uint64_t clusters = 0;
        for (const auto& run : runs)
            clusters += run.second;
        return rawData(encodeRuns(runs), startVcn, streamName, realSize, startVcn + clusters - 1);
    }

    RecordBuilder& rawData(const QByteArray& runList, uint64_t startVcn = 0, const QString& streamName = QString(),
                           uint64_t realSize = 0, uint64_t lastVcn = 0)
    {
        QByteArray a(0x40, 0);
        put32(a, 0, 0x80);
        a[8] = 1;
        a[9] = char(streamName.size());
        put16(a, 0x0A, 0x40);
        put64(a, 0x10, startVcn);
        put64(a, 0x18, lastVcn);
        for (QChar c : streamName) {
            a.append(char(c.unicode() & 0xFF));
            a.append(char(c.unicode() >> 8));
        }
        while (a.size() % 8)
            a.append(char(0));
        put16(a, 0x20, uint16_t(a.size()));
        put64(a, 0x28, 4096);
        put64(a, 0x30, realSize ? realSize : 4096);
        put64(a, 0x38, realSize ? realSize : 4096);
        a.append(runList);
        while (a.size() % 8)
            a.append(char(0));
        put32(a, 4, uint32_t(a.size()));
        return append(a);
    }

    RecordBuilder& resident(uint32_t type, const QByteArray& value)
    {
        QByteArray a(0x18, 0);
        put32(a, 0, type);
        put32(a, 0x10, uint32_t(value.size()));
        put16(a, 0x14, 0x18);
        a.append(value);
        while (a.size() % 8)
            a.append(char(0));
        put32(a, 4, uint32_t(a.size()));
        return append(a);
    }

    RecordBuilder& append(const QByteArray& attribute)
    {
        m_bytes.replace(m_cursor, attribute.size(), attribute);
        m_cursor += attribute.size();
        return *this;
    }

    int cursor() const { return m_cursor; }

    // Ends the attribute list and protects the record with its update
    // sequence, as NTFS writes it to disk.
    QByteArray finish(uint16_t sequence = 0x0007)
    {
        put32(m_bytes, m_cursor, 0xFFFFFFFFu);
        put32(m_bytes, 0x18, uint32_t(m_cursor + 8));
        put16(m_bytes, kUsaOffset, sequence);
        for (int i = 1; i <= m_size / 512; ++i) {
            const int end = i * 512 - 2;
            m_bytes[kUsaOffset + 2 * i] = m_bytes[end];
            m_bytes[kUsaOffset + 2 * i + 1] = m_bytes[end + 1];
            put16(m_bytes, end, sequence);
        }
        return m_bytes;
    }

    static constexpr int kUsaOffset = 0x30;

private:
    QByteArray m_bytes;
    int m_size;
    int m_cursor;
    uint64_t m_parent = 5 | (uint64_t(5) << 48);
};

// A small NTFS volume: boot sector, and the table at `mftCluster` made of
// the given records, laid out over the table's runs in file order.
struct VolumeBuilder
{
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerClusterByte = 8;
    int8_t recordSizeByte = -10; // 2^10 = 1024
    int clusterBytes = 4096;
    int recordSize = 1024;
    int64_t clusters = 128;

    QByteArray image;

    void start()
    {
        image = QByteArray(int(clusters * clusterBytes), 0);
        image.replace(3, 8, "NTFS    ");
        put16(image, 0x0B, bytesPerSector);
        image[0x0D] = char(sectorsPerClusterByte);
        put64(image, 0x28, uint64_t(clusters * clusterBytes / bytesPerSector - 1));
        image[0x40] = char(recordSizeByte);
        image[0x44] = char(1);
    }

    void setMftCluster(uint64_t cluster) { put64(image, 0x30, cluster); }

    void putRecord(int64_t byteOffset, const QByteArray& record) { image.replace(int(byteOffset), record.size(), record); }
};

} // namespace ntfstest
