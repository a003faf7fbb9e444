#include "details/CZipDetailsReader.h"

#include "details/CInflater.h"
#include "details/CXmlMetadata.h"
#include "disk/LittleEndian.h"
#include "scan/CDocumentBytes.h"
#include "scan/CDocumentDetails.h"

#include <QCoreApplication>
#include <QVector>

#include <algorithm>
#include <vector>

namespace {

using namespace le;

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr int kEndSize = 22;
constexpr int kMaxComment = 0xFFFF;
constexpr int kZip64LocatorSize = 20;
constexpr int kZip64EndSize = 56;
constexpr int kCentralSize = 46;
constexpr int kLocalSize = 30;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
// Metadata members are a few KiB; more is not metadata.
constexpr int64_t kMaxMetadataMember = 1 << 20;
// How much of a stored member is checked at once.
constexpr int64_t kPiece = 64 * 1024;

using Member = CZipDetailsReader::Member;
using Directory = CZipDetailsReader::Directory;

// The position of the member's data in the document, or -1 (reason set).
int64_t dataOf(CDocumentBytes& bytes, const Directory& dir, const Member& m, QString* reason)
{
    const int64_t local = dir.base + static_cast<int64_t>(std::min<uint64_t>(m.localOffset, INT64_MAX / 2));
    uint8_t header[kLocalSize];
    if (!bytes.read(local, header, kLocalSize) || u32(header) != kLocalSignature) {
        if (!bytes.budgetSpent())
            *reason = CZipDetailsReader::tr("member %1 has no local header where the directory puts it").arg(m.name);
        return -1;
    }
    const int64_t data = local + kLocalSize + u16(header + 26) + u16(header + 28);
    if (m.compressed > static_cast<uint64_t>(bytes.size()) || data > bytes.size() - static_cast<int64_t>(m.compressed)) {
        *reason = CZipDetailsReader::tr("member %1 runs past the end of the document").arg(m.name);
        return -1;
    }
    return data;
}

} // namespace

bool CZipDetailsReader::readDirectory(CDocumentBytes& bytes, const CDetailsBudget& budget, Directory* dir,
                                      QString* reason)
{
    const int64_t size = bytes.size();
    const int64_t tailLength = std::min<int64_t>(size, kEndSize + kMaxComment);
    QByteArray copy;
    const uint8_t* t = bytes.viewOrCopy(size - tailLength, tailLength, &copy);
    if (!t && tailLength > 0)
        return false;
    const int tailSize = static_cast<int>(tailLength);
    int end = -1;
    for (int i = tailSize - kEndSize; i >= 0; --i) {
        if (u32(t + i) == kEndSignature && i + kEndSize + u16(t + i + 20) <= tailSize) {
            end = i;
            break;
        }
    }
    if (end < 0) {
        *reason = CZipDetailsReader::tr("the archive has no end of central directory (it is cut short)");
        return false;
    }
    const int64_t endPos = size - tailLength + end;
    dir->end = endPos + kEndSize + u16(t + end + 20);
    uint64_t count = u16(t + end + 10);
    uint64_t cdSize = u32(t + end + 12);
    uint64_t cdOffset = u32(t + end + 16);
    int64_t directoryEnd = endPos;
    if (count == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) {
        uint8_t locator[kZip64LocatorSize];
        uint8_t end64[kZip64EndSize];
        if (endPos < kZip64LocatorSize || !bytes.read(endPos - kZip64LocatorSize, locator, kZip64LocatorSize)
            || u32(locator) != kZip64LocatorSignature) {
            *reason = CZipDetailsReader::tr("the archive's ZIP64 locator is missing");
            return false;
        }
        const int64_t recordPos = endPos - kZip64LocatorSize - kZip64EndSize;
        if (recordPos < 0 || !bytes.read(recordPos, end64, kZip64EndSize) || u32(end64) != kZip64EndSignature) {
            *reason = CZipDetailsReader::tr("the archive's ZIP64 end record is missing");
            return false;
        }
        count = u64(end64 + 32);
        cdSize = u64(end64 + 40);
        cdOffset = u64(end64 + 48);
        directoryEnd = recordPos;
    }
    if (cdSize > static_cast<uint64_t>(directoryEnd) || cdOffset > static_cast<uint64_t>(directoryEnd)) {
        *reason = CZipDetailsReader::tr("the central directory lies outside the document");
        return false;
    }
    dir->start = directoryEnd - static_cast<int64_t>(cdSize);
    dir->base = dir->start - static_cast<int64_t>(cdOffset);
    if (dir->base < 0) {
        *reason = CZipDetailsReader::tr("the central directory lies outside the document");
        return false;
    }
    if (static_cast<int64_t>(cdSize) > budget.readBytes || static_cast<int64_t>(count) > budget.items)
        return false; // too large for this budget; reason stays empty
    const int cdLength = static_cast<int>(cdSize);
    const uint8_t* p = bytes.viewOrCopy(dir->start, cdLength, &copy);
    if (!p && cdLength > 0)
        return false;
    dir->members.reserve(static_cast<int>(std::min<uint64_t>(count, cdSize / kCentralSize)));
    int at = 0;
    for (uint64_t k = 0; k < count; ++k) {
        if (at + kCentralSize > cdLength || u32(p + at) != kCentralSignature) {
            *reason = CZipDetailsReader::tr("the central directory is damaged at entry %1").arg(k + 1);
            return false;
        }
        Member m;
        m.flags = u16(p + at + 8);
        m.method = u16(p + at + 10);
        m.crc = u32(p + at + 16);
        m.compressed = u32(p + at + 20);
        m.size = u32(p + at + 24);
        const int nameLength = u16(p + at + 28);
        const int extraLength = u16(p + at + 30);
        const int commentLength = u16(p + at + 32);
        m.localOffset = u32(p + at + 42);
        const int next = at + kCentralSize + nameLength + extraLength + commentLength;
        if (next > cdLength) {
            *reason = CZipDetailsReader::tr("the central directory is damaged at entry %1").arg(k + 1);
            return false;
        }
        m.name = QString::fromUtf8(reinterpret_cast<const char*>(p + at + kCentralSize), nameLength);
        // ZIP64 sizes and offset, in this order, for the fields that say 0xFFFFFFFF.
        int e = at + kCentralSize + nameLength;
        const int extraEnd = e + extraLength;
        while (e + 4 <= extraEnd) {
            const uint16_t id = u16(p + e);
            const int length = u16(p + e + 2);
            if (e + 4 + length > extraEnd)
                break;
            if (id == kZip64ExtraId) {
                int f = e + 4;
                for (uint64_t* field : {&m.size, &m.compressed, &m.localOffset}) {
                    if (*field == 0xFFFFFFFFu && f + 8 <= e + 4 + length) {
                        *field = u64(p + f);
                        f += 8;
                    }
                }
            }
            e += 4 + length;
        }
        dir->members.append(m);
        at = next;
    }
    return true;
}

QByteArray CZipDetailsReader::memberBytes(CDocumentBytes& bytes, const Directory& dir, const Member& m, int64_t limit)
{
    QString ignored;
    const int64_t data = dataOf(bytes, dir, m, &ignored);
    if (data < 0 || m.size > static_cast<uint64_t>(limit))
        return QByteArray();
    if (m.method == kMethodStored)
        return bytes.bytes(data, static_cast<int64_t>(m.compressed));
    QByteArray out;
    if (m.method != kMethodDeflated
        || CInflater::inflateToArray(bytes, data, static_cast<int64_t>(m.compressed), CInflater::Format::Raw, limit,
                                     &out)
            != CInflater::Result::Ok)
        return QByteArray();
    return out;
}


CZipDetailsReader::MemberCheck CZipDetailsReader::checkMember(CDocumentBytes& bytes, const Directory& dir,
                                                             const Member& m, int64_t* inflateLeft,
                                                             std::vector<uint8_t>* buffer, QString* reason)
{
    if (m.flags & kFlagEncrypted) {
        *reason = CZipDetailsReader::tr("member %1 is encrypted and was not checked").arg(m.name);
        return MemberCheck::Unchecked;
    }
    if (m.method != kMethodStored && m.method != kMethodDeflated) {
        *reason = CZipDetailsReader::tr("member %1 uses compression method %2, which is not checked").arg(m.name).arg(m.method);
        return MemberCheck::Unchecked;
    }
    if (!bytes.inMemory() && buffer->size() < static_cast<size_t>(kPiece))
        buffer->resize(kPiece);
    const int64_t data = dataOf(bytes, dir, m, reason);
    if (data < 0)
        return bytes.budgetSpent() ? MemberCheck::OverBudget : MemberCheck::Damaged;
    uint32_t crc = 0;
    int64_t produced = 0;
    bool damaged = false;
    if (m.method == kMethodStored) {
        if (m.size != m.compressed) {
            *reason = CZipDetailsReader::tr("member %1 is stored with two different sizes").arg(m.name);
            damaged = true;
        }
        for (int64_t done = 0; !damaged && done < static_cast<int64_t>(m.compressed);) {
            const int64_t n = std::min<int64_t>(kPiece, static_cast<int64_t>(m.compressed) - done);
            const uint8_t* piece = bytes.viewOrRead(data + done, n, buffer->data());
            if (!piece)
                break;
            crc = CInflater::crc32(crc, piece, static_cast<size_t>(n));
            done += n;
            produced = done;
        }
        if (bytes.budgetSpent())
            return MemberCheck::OverBudget;
    } else {
        if (static_cast<int64_t>(std::min<uint64_t>(m.size, INT64_MAX)) > *inflateLeft)
            return MemberCheck::OverBudget;
        CInflater::Result r;
        if (bytes.inMemory() && static_cast<int64_t>(m.size) <= CInflater::kMaxWhole) {
            // The whole member at once, in place.
            const uint8_t* in = bytes.view(data, static_cast<int64_t>(m.compressed));
            if (!in)
                return MemberCheck::OverBudget;
            const uint8_t* out = nullptr;
            r = CInflater::inflateWhole(in, static_cast<int64_t>(m.compressed), static_cast<int64_t>(m.size), &out,
                                        &produced);
            if (r == CInflater::Result::Ok)
                crc = CInflater::crc32(crc, out, static_cast<size_t>(produced));
        } else {
            r = CInflater::inflate(bytes, data, static_cast<int64_t>(m.compressed), CInflater::Format::Raw,
                                   static_cast<int64_t>(m.size),
                                   [&crc](const uint8_t* p, int n) {
                                       crc = CInflater::crc32(crc, p, static_cast<size_t>(n));
                                       return true;
                                   },
                                   &produced);
        }
        if (bytes.budgetSpent())
            return MemberCheck::OverBudget;
        *inflateLeft -= std::min<int64_t>(produced, *inflateLeft);
        if (r == CInflater::Result::OverBudget) {
            *reason = CZipDetailsReader::tr("member %1 inflates to more than its stated size").arg(m.name);
            damaged = true;
        } else if (r != CInflater::Result::Ok) {
            *reason = CZipDetailsReader::tr("member %1 does not inflate (its compressed data is damaged)").arg(m.name);
            damaged = true;
        }
    }
    if (!damaged && produced != static_cast<int64_t>(m.size)) {
        *reason = CZipDetailsReader::tr("member %1 inflates to %2 bytes, not the %3 its directory states")
                     .arg(m.name)
                     .arg(produced)
                     .arg(m.size);
        damaged = true;
    }
    if (!damaged && crc != m.crc) {
        *reason = CZipDetailsReader::tr("member %1 fails its CRC-32 check").arg(m.name);
        damaged = true;
    }
    return damaged ? MemberCheck::Damaged : MemberCheck::Good;
}

bool CZipDetailsReader::read(CDocumentBytes& bytes, const CDetailsBudget& budget, CDocumentDetails* d)
{
    Directory dir;
    QString reason;
    if (!readDirectory(bytes, budget, &dir, &reason)) {
        if (!reason.isEmpty()) {
            d->integrity = CDocumentDetails::IntegrityDamaged;
            d->integrityReason = reason;
            return false;
        }
        d->integrity = CDocumentDetails::IntegrityUnchecked;
        d->integrityReason = CZipDetailsReader::tr("too large to check within the budget");
        return true;
    }

    // What the package says about itself.
    int64_t inflateLeft = budget.inflatedBytes;
    int sheets = 0;
    for (const Member& m : dir.members) {
        if (m.name.startsWith(QLatin1String("xl/worksheets/")) && m.name.endsWith(QLatin1String(".xml"))
            && m.name.count(QLatin1Char('/')) == 2)
            ++sheets;
        const bool core = m.name == QLatin1String("docProps/core.xml");
        const bool app = m.name == QLatin1String("docProps/app.xml");
        if (!core && !app)
            continue;
        const QByteArray xml = memberBytes(bytes, dir, m, std::min(kMaxMetadataMember, inflateLeft));
        inflateLeft -= xml.size();
        if (core && CXmlMetadata::read(xml, d, budget.items))
            d->found = true;
        if (app && d->pages < 0)
            d->pages = CXmlMetadata::pageCount(xml, budget.items);
    }
    if (d->pages < 0 && sheets > 0)
        d->pages = sheets;
    if (d->pages >= 0)
        d->found = true;

    // Every member against its CRC-32. The first damage wins; a member that
    // cannot be checked leaves the archive unchecked unless another is damaged.
    QString unchecked;
    std::vector<uint8_t> buffer;
    bool overBudget = false;
    int64_t items = budget.items;
    for (const Member& m : dir.members) {
        if (--items < 0) {
            overBudget = true;
            break;
        }
        if (m.size == 0 && m.compressed == 0 && m.name.endsWith(QLatin1Char('/')))
            continue;
        switch (checkMember(bytes, dir, m, &inflateLeft, &buffer, &reason)) {
        case MemberCheck::Good:
            break;
        case MemberCheck::Unchecked:
            if (unchecked.isEmpty())
                unchecked = reason;
            break;
        case MemberCheck::OverBudget:
            overBudget = true;
            break;
        case MemberCheck::Damaged:
            d->integrity = CDocumentDetails::IntegrityDamaged;
            d->integrityReason = reason;
            return false;
        }
        if (overBudget)
            break;
    }
    if (overBudget) {
        d->integrity = CDocumentDetails::IntegrityUnchecked;
        d->integrityReason = CZipDetailsReader::tr("too large to check within the budget");
        return true;
    }
    if (!unchecked.isEmpty()) {
        d->integrity = CDocumentDetails::IntegrityUnchecked;
        d->integrityReason = unchecked;
        return false;
    }
    d->integrity = CDocumentDetails::IntegrityWhole;
    d->integrityReason.clear();
    return false;
}
