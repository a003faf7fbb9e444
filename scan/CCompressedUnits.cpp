#include "scan/CCompressedUnits.h"

#include "disk/IVolume.h"
#include "filesystems/CLznt1.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>

namespace {
constexpr int64_t kLargestUnit = int64_t(1) << 20;
} // namespace

bool CCompressedUnits::validUnitBytes(int64_t unitBytes)
{
    return unitBytes >= static_cast<int64_t>(CLznt1::kChunkBytes) && unitBytes <= kLargestUnit
        && (unitBytes & (unitBytes - 1)) == 0;
}

CCompressedUnits::CCompressedUnits(IVolume* volume, const QVector<CFileNode::Extent>& stored, int64_t unitBytes,
                                   int64_t size)
    : m_volume(volume)
    , m_unitBytes(validUnitBytes(unitBytes) ? unitBytes : 0)
    , m_size(std::max<int64_t>(size, 0))
{
    for (const CFileNode::Extent& e : stored) {
        if (e.length <= 0 || (e.offset < 0 && e.offset != CFileNode::Extent::kSparse)
            || e.length > INT64_MAX - m_storedLength)
            break; // a run no reader can follow ends the stream here
        m_stored.append(e);
        m_starts.push_back(m_storedLength);
        m_storedLength += e.length;
    }
}

int64_t CCompressedUnits::unitCount() const
{
    return m_unitBytes > 0 ? m_size / m_unitBytes + (m_size % m_unitBytes != 0 ? 1 : 0) : 0;
}

QString CCompressedUnits::undecodableReason(int64_t index, int64_t unitBytes)
{
    return QCoreApplication::translate("CCompressedUnits",
                                       "the compressed bytes %1 to %2 do not decompress: their clusters were overwritten "
                                       "or are damaged")
        .arg(index * unitBytes)
        .arg((index + 1) * unitBytes);
}

CCompressedUnits::Status CCompressedUnits::readUnit(int64_t index, uint8_t* out)
{
    if (m_unitBytes == 0 || index < 0 || index >= unitCount())
        return Status::Undecodable;
    const int64_t from = index * m_unitBytes;
    const int64_t to = std::min(from + m_unitBytes, m_storedLength);
    if (from >= to)
        return Status::Undecodable; // the runs end before the file does

    // The unit's clusters on the volume, in order; where the first sparse
    // run starts, the stored bytes end.
    m_input.resize(static_cast<size_t>(m_unitBytes));
    int64_t stored = 0;
    bool sparse = false;
    size_t k = static_cast<size_t>(std::upper_bound(m_starts.begin(), m_starts.end(), from) - m_starts.begin()) - 1;
    for (int64_t at = from; at < to && k < m_starts.size(); ++k) {
        const CFileNode::Extent& run = m_stored.at(static_cast<int>(k));
        const int64_t inRun = at - m_starts[k];
        const int64_t piece = std::min(to - at, run.length - inRun);
        if (run.offset == CFileNode::Extent::kSparse) {
            sparse = true;
        } else if (!sparse) {
            if (!m_volume)
                return Status::Unreadable;
            const IVolume::ReadResult r = m_volume->read(run.offset + inRun, m_input.data() + stored,
                                                         static_cast<size_t>(piece));
            if (r.bytes != piece)
                return Status::Unreadable;
            stored += piece;
        } else {
            // Clusters after a hole inside one unit: no writer stores a
            // unit so.
            return Status::Undecodable;
        }
        at += piece;
    }
    if (stored == m_unitBytes) {
        std::memcpy(out, m_input.data(), static_cast<size_t>(m_unitBytes));
        return Status::Ok;
    }
    if (stored == 0) {
        std::memset(out, 0, static_cast<size_t>(m_unitBytes));
        return Status::Ok;
    }
    if (CLznt1::decompress(m_input.data(), static_cast<size_t>(stored), out, static_cast<size_t>(m_unitBytes)) < 0)
        return Status::Undecodable;
    return Status::Ok;
}

CCompressedUnits::Status CCompressedUnits::read(int64_t position, uint8_t* out, int64_t length, int64_t* failedUnit)
{
    if (m_unitBytes == 0 || position < 0 || length < 0 || position > m_size || length > m_size - position)
        return Status::Undecodable;
    int64_t done = 0;
    // Each pass serves at least one byte of a unit.
    while (done < length) {
        const int64_t at = position + done;
        const int64_t unit = at / m_unitBytes;
        if (unit != m_cachedUnit) {
            m_cached.resize(static_cast<size_t>(m_unitBytes));
            m_cachedUnit = -1;
            const Status s = readUnit(unit, m_cached.data());
            if (s != Status::Ok) {
                if (failedUnit)
                    *failedUnit = unit;
                return s;
            }
            m_cachedUnit = unit;
        }
        const int64_t inUnit = at - unit * m_unitBytes;
        const int64_t piece = std::min(length - done, m_unitBytes - inUnit);
        std::memcpy(out + done, m_cached.data() + inUnit, static_cast<size_t>(piece));
        done += piece;
    }
    return Status::Ok;
}
