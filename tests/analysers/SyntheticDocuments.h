#pragma once

// Small writers for the structures whose corner cases no real document in
// tests/data shows: compound files of any sector size, FAT and DIFAT
// layout, and ZIP archives with data descriptors, comments and ZIP64 fields.

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace synthetic {

inline void put16(QByteArray& b, int at, uint16_t v)
{
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
inline void put32(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void put64(QByteArray& b, int at, uint64_t v)
{
    put32(b, at, static_cast<uint32_t>(v));
    put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
inline QByteArray le16(uint16_t v)
{
    QByteArray b(2, '\0');
    put16(b, 0, v);
    return b;
}
inline QByteArray le32(uint32_t v)
{
    QByteArray b(4, '\0');
    put32(b, 0, v);
    return b;
}
inline QByteArray le64(uint64_t v)
{
    QByteArray b(8, '\0');
    put64(b, 0, v);
    return b;
}

// A compound file. Sector numbers count from the sector after the header.
struct Compound
{
    int sectorSize = 512;         // 512, or 4096 (written as version 4)
    uint32_t sectors = 64;        // sectors after the header
    std::vector<uint32_t> fat;    // the FAT sectors, in FAT order
    uint32_t usedInLastFat = 41;  // entries in use in the last FAT sector
    std::vector<uint32_t> difat;  // DIFAT sector chain (needed beyond 109 FAT sectors)
    uint32_t directory = 4;       // first directory sector
    QStringList names = {QStringLiteral("Root Entry"), QStringLiteral("WordDocument")};
    quint32 fillSeed = 5;

    int entriesPerSector() const { return sectorSize / 4; }
    int64_t expectedLength() const
    {
        return (static_cast<int64_t>(fat.size() - 1) * entriesPerSector() + usedInLastFat + 1) * sectorSize;
    }
    int64_t offsetOf(uint32_t sector) const { return (static_cast<int64_t>(sector) + 1) * sectorSize; }

    QByteArray bytes() const
    {
        QByteArray b(static_cast<int>(offsetOf(sectors)), '\0');
        // Stream data: noise, which holds no run of free entries.
        QRandomGenerator rng(fillSeed);
        for (int i = sectorSize; i < b.size(); ++i)
            b[i] = static_cast<char>(rng.bounded(256));

        const char signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
        for (int i = 0; i < 8; ++i)
            b[i] = signature[i];
        put16(b, 0x1A, sectorSize == 4096 ? 4 : 3);
        put16(b, 0x1C, 0xFFFE);
        put16(b, 0x1E, sectorSize == 4096 ? 12 : 9);
        put16(b, 0x20, 6);
        put32(b, 0x2C, static_cast<uint32_t>(fat.size()));
        put32(b, 0x30, directory);
        put32(b, 0x38, 4096);
        put32(b, 0x3C, 0xFFFFFFFE);
        put32(b, 0x44, difat.empty() ? 0xFFFFFFFE : difat.front());
        put32(b, 0x48, static_cast<uint32_t>(difat.size()));
        for (int i = 0; i < 109; ++i)
            put32(b, 0x4C + 4 * i, i < static_cast<int>(fat.size()) ? fat[i] : 0xFFFFFFFF);
        if (sectorSize == 4096) {
            for (int i = 512; i < 4096; ++i)
                b[i] = '\0';
        }

        // DIFAT sectors: sectorSize / 4 - 1 FAT sector numbers, then the next.
        size_t listed = 109;
        for (size_t d = 0; d < difat.size(); ++d) {
            const int at = static_cast<int>(offsetOf(difat[d]));
            const int numbers = entriesPerSector() - 1;
            for (int i = 0; i < numbers; ++i)
                put32(b, at + 4 * i, listed < fat.size() ? fat[listed++] : 0xFFFFFFFF);
            put32(b, at + 4 * numbers, d + 1 < difat.size() ? difat[d + 1] : 0xFFFFFFFE);
        }

        // FAT sectors: every entry in use, but for the tail of the last.
        for (size_t f = 0; f < fat.size(); ++f) {
            const int at = static_cast<int>(offsetOf(fat[f]));
            for (int i = 0; i < entriesPerSector(); ++i) {
                const bool used = f + 1 < fat.size() || static_cast<uint32_t>(i) < usedInLastFat;
                put32(b, at + 4 * i, used ? 0xFFFFFFFE : 0xFFFFFFFF);
            }
        }

        // Directory entries, 128 bytes each, from the first directory
        // sector on (the following sectors taken as contiguous).
        const int dir = static_cast<int>(offsetOf(directory));
        const int dirBytes = ((names.size() * 128 + sectorSize - 1) / sectorSize) * sectorSize;
        for (int i = 0; i < dirBytes; ++i)
            b[dir + i] = '\0';
        for (int e = 0; e < names.size(); ++e) {
            const int at = dir + 128 * e;
            const QString& n = names[e];
            for (int k = 0; k < n.size() && k < 31; ++k)
                put16(b, at + 2 * k, n.at(k).unicode());
            put16(b, at + 0x40, static_cast<uint16_t>(2 * (std::min(n.size(), 31) + 1)));
            b[at + 0x42] = static_cast<char>(e == 0 ? 5 : 2);
        }
        return b;
    }
};

// A ZIP archive written member by member.
class Zip
{
public:
    struct Member
    {
        QByteArray name;
        QByteArray data;
        uint16_t method = 0;
        // Sizes in a data descriptor after the data (flag bit 3), with the
        // local header's sizes left 0 unless `sizesInHeader`.
        bool descriptor = false;
        bool descriptorSignature = true;
        bool sizesInHeader = false;
        // ZIP64: 0xFFFFFFFF in the header, real sizes in the extra field.
        bool zip64 = false;
        QByteArray fileComment;
    };

    static Member member(const QByteArray& name, const QByteArray& data)
    {
        Member m;
        m.name = name;
        m.data = data;
        return m;
    }
    void add(const Member& m) { m_members.push_back(m); }
    void add(const QByteArray& name, const QByteArray& data) { add(member(name, data)); }

    // `comment` becomes the archive comment; `zip64End` adds the ZIP64 end
    // record and locator before the end record; `beforeCentral` goes
    // between the last member's data and the central directory (what a
    // signer puts there).
    QByteArray bytes(const QByteArray& comment = QByteArray(), bool zip64End = false,
                     const QByteArray& beforeCentral = QByteArray()) const
    {
        QByteArray out;
        QByteArray central;
        for (const Member& m : m_members) {
            const uint32_t offset = static_cast<uint32_t>(out.size());
            const uint32_t size = static_cast<uint32_t>(m.data.size());
            QByteArray extra;
            if (m.zip64)
                extra = le16(0x0001) + le16(16) + le64(size) + le64(size);
            const bool headerSizes = !m.descriptor || m.sizesInHeader;
            out += le32(0x04034B50) + le16(m.zip64 ? 45 : 20) + le16(m.descriptor ? 0x0008 : 0) + le16(m.method)
                + le32(0) + le32(0x12345678);
            if (m.zip64)
                out += le32(0xFFFFFFFF) + le32(0xFFFFFFFF);
            else
                out += le32(headerSizes ? size : 0) + le32(headerSizes ? size : 0);
            out += le16(static_cast<uint16_t>(m.name.size())) + le16(static_cast<uint16_t>(extra.size())) + m.name
                + extra + m.data;
            if (m.descriptor) {
                if (m.descriptorSignature)
                    out += le32(0x08074B50);
                out += le32(0x12345678);
                out += m.zip64 ? le64(size) + le64(size) : le32(size) + le32(size);
            }
            central += le32(0x02014B50) + le16(20) + le16(20) + le16(m.descriptor ? 0x0008 : 0) + le16(m.method)
                + le32(0) + le32(0x12345678) + le32(size) + le32(size) + le16(static_cast<uint16_t>(m.name.size()))
                + le16(0) + le16(static_cast<uint16_t>(m.fileComment.size())) + le16(0) + le16(0) + le32(0)
                + le32(offset) + m.name + m.fileComment;
        }
        out += beforeCentral;
        const uint32_t cdOffset = static_cast<uint32_t>(out.size());
        out += central;
        if (zip64End) {
            const uint64_t z64At = static_cast<uint64_t>(out.size());
            out += le32(0x06064B50) + le64(44) + le16(45) + le16(45) + le32(0) + le32(0)
                + le64(m_members.size()) + le64(m_members.size()) + le64(central.size()) + le64(cdOffset);
            out += le32(0x07064B50) + le32(0) + le64(z64At) + le32(1);
        }
        out += le32(0x06054B50) + le16(0) + le16(0) + le16(static_cast<uint16_t>(m_members.size()))
            + le16(static_cast<uint16_t>(m_members.size())) + le32(static_cast<uint32_t>(central.size()))
            + le32(cdOffset) + le16(static_cast<uint16_t>(comment.size())) + comment;
        return out;
    }

    // An APK Signing Block holding one ID-value pair of `valueBytes`.
    static QByteArray apkSigningBlock(int valueBytes)
    {
        const QByteArray pair = le64(4 + static_cast<uint64_t>(valueBytes)) + le32(0x7109871A)
            + QByteArray(valueBytes, 's');
        const uint64_t size = static_cast<uint64_t>(pair.size()) + 8 + 16;
        return le64(size) + pair + le64(size) + QByteArray("APK Sig Block 42");
    }

private:
    std::vector<Member> m_members;
};

// A PDF as writers lay it out: objects, then a cross-reference table (or a
// cross-reference stream object), the trailer, "startxref", its offset and
// "%%EOF" with a line end; further sections are incremental updates.
class Pdf
{
public:
    explicit Pdf(const QByteArray& eol = "\n")
        : m_eol(eol)
    {
        m_out = "%PDF-1.5" + eol + "%\xE2\xE3\xCF\xD3" + eol;
    }
    int addObject(const QByteArray& body)
    {
        const int n = m_next++;
        m_pending.push_back({n, m_out.size()});
        m_out += QByteArray::number(n) + " 0 obj" + m_eol + body + m_eol + "endobj" + m_eol;
        return n;
    }
    // Raw bytes between objects (an embedded file's stream, say).
    void addRaw(const QByteArray& bytes) { m_out += bytes; }
    // Ends a section; `startxrefOverride` >= 0 writes that offset instead.
    void endSection(bool xrefStream = false, qint64 startxrefOverride = -1)
    {
        qint64 xrefAt = m_out.size();
        if (xrefStream) {
            const QByteArray data(32, '\x01');
            xrefAt = m_out.size();
            const int number = m_next++;
            m_out += QByteArray::number(number) + " 0 obj" + m_eol + "<< /Type /XRef /Size "
                + QByteArray::number(m_next) + " /Length 32 >>" + m_eol + "stream" + m_eol + data + m_eol
                + "endstream" + m_eol + "endobj" + m_eol;
        } else {
            m_out += "xref" + m_eol;
            for (const auto& p : m_pending)
                m_out += QByteArray::number(p.first) + " 1" + m_eol + QByteArray::number(p.second).rightJustified(10, '0')
                    + " 00000 n" + (m_eol.size() == 2 ? m_eol : " " + m_eol);
            m_out += "trailer" + m_eol + "<< /Size " + QByteArray::number(m_next) + " /Root 1 0 R"
                + (m_lastXref >= 0 ? " /Prev " + QByteArray::number(m_lastXref) : QByteArray()) + " >>" + m_eol;
        }
        m_out += "startxref" + m_eol + QByteArray::number(startxrefOverride >= 0 ? startxrefOverride : xrefAt) + m_eol
            + "%%EOF" + m_eol;
        m_lastXref = xrefAt;
        m_pending.clear();
    }
    const QByteArray& bytes() const { return m_out; }

private:
    QByteArray m_eol;
    QByteArray m_out;
    std::vector<std::pair<int, qint64>> m_pending;
    int m_next = 1;
    qint64 m_lastXref = -1;
};

} // namespace synthetic
