#include "scan/CDocumentBytes.h"

#include "disk/IVolume.h"
#include "scan/CCompressedUnits.h"

#include <algorithm>
#include <cstring>
#include <limits>

std::unique_ptr<CDocumentBytes::Scratch>& CDocumentBytes::spareScratch()
{
    thread_local std::unique_ptr<Scratch> spare;
    return spare;
}

std::unique_ptr<CDocumentBytes::Scratch> CDocumentBytes::takeScratch()
{
    std::unique_ptr<Scratch> scratch = std::move(spareScratch());
    if (!scratch)
        return std::make_unique<Scratch>();
    for (int i = 0; i < kCachedBlocks; ++i) {
        scratch->blocks[i].index = -1;
        scratch->blocks[i].lastUse = 0;
        scratch->blocks[i].length = 0;
    }
    return scratch;
}

CDocumentBytes::CDocumentBytes(IVolume* volume, const CFileNode& node, int64_t readBudget)
    : m_volume(volume)
    , m_budget(readBudget)
    , m_scratch(takeScratch())
    , m_blocks(m_scratch->blocks.get())
{
    if (node.hasResidentData) {
        m_memory = node.residentData.left(static_cast<int>(std::min<int64_t>(std::max<qint64>(node.size, 0),
                                                                              node.residentData.size())));
        m_data = reinterpret_cast<const uint8_t*>(m_memory.constData());
        m_size = m_memory.size();
        return;
    }
    m_runs = runsOf(node);
    if (node.compressionUnit > 0) {
        m_units = std::make_unique<CCompressedUnits>(volume, m_runs, node.compressionUnit, node.size);
        m_size = m_units->unitBytes() > 0 ? m_units->size() : 0;
        return;
    }
    int64_t position = 0;
    for (const CFileNode::Extent& run : m_runs) {
        m_runStarts.append(position);
        position += run.length;
    }
    m_size = position;
}

CDocumentBytes::CDocumentBytes(const QByteArray& bytes, int64_t readBudget)
    : m_memory(bytes)
    , m_data(reinterpret_cast<const uint8_t*>(m_memory.constData()))
    , m_size(bytes.size())
    , m_budget(readBudget)
    , m_scratch(takeScratch())
    , m_blocks(m_scratch->blocks.get())
{
}

CDocumentBytes::~CDocumentBytes()
{
    // Kept for the next document on this thread, unless another one already
    // gave one back.
    std::unique_ptr<Scratch>& spare = spareScratch();
    if (!spare)
        spare = std::move(m_scratch);
}

QVector<CFileNode::Extent> CDocumentBytes::runsOf(const CFileNode& node)
{
    QVector<CFileNode::Extent> runs;
    if (node.hasResidentData || node.size <= 0)
        return runs;
    if (node.extents.isEmpty()) {
        if (node.startSector > static_cast<quint64>(std::numeric_limits<int64_t>::max() / 512))
            return runs;
        runs.append({static_cast<int64_t>(node.startSector) * 512, node.size});
        return runs;
    }
    // Compressed: the stored units whole, whatever the file's length.
    int64_t left = node.compressionUnit > 0 ? std::numeric_limits<int64_t>::max() : node.size;
    for (const CFileNode::Extent& e : node.extents) {
        if (left <= 0)
            break;
        if (e.length <= 0 || (e.offset < 0 && e.offset != CFileNode::Extent::kSparse))
            break; // a run no reader can follow ends the document here
        const int64_t length = std::min(e.length, left);
        runs.append({e.offset, length});
        left -= length;
    }
    return runs;
}

void CDocumentBytes::setReadBudget(int64_t budget)
{
    m_budget = budget;
    m_fetched = 0;
    m_budgetSpent = false;
}

bool CDocumentBytes::charge(int64_t length)
{
    if (m_budgetSpent || length > m_budget - m_fetched) {
        m_budgetSpent = true;
        return false;
    }
    m_fetched += length;
    return true;
}

bool CDocumentBytes::fetch(int64_t position, uint8_t* out, int64_t length)
{
    if (cancelled() || !charge(length))
        return false;
    if (m_data) {
        std::memcpy(out, m_data + position, static_cast<size_t>(length));
        return true;
    }
    return fetchFromVolume(position, out, length);
}

bool CDocumentBytes::fetchFromVolume(int64_t position, uint8_t* out, int64_t length)
{
    if (m_units) {
        int64_t unit = -1;
        const CCompressedUnits::Status s = m_units->read(position, out, length, &unit);
        if (s == CCompressedUnits::Status::Undecodable && m_damage.isEmpty() && unit >= 0)
            m_damage = CCompressedUnits::undecodableReason(unit, m_units->unitBytes());
        return s == CCompressedUnits::Status::Ok;
    }
    // The run holding `position`, then on through the following ones.
    int k = static_cast<int>(std::upper_bound(m_runStarts.begin(), m_runStarts.end(), position) - m_runStarts.begin())
        - 1;
    int64_t done = 0;
    while (done < length && k >= 0 && k < m_runs.size()) {
        const CFileNode::Extent& run = m_runs.at(k);
        const int64_t inRun = position + done - m_runStarts.at(k);
        const int64_t piece = std::min(length - done, run.length - inRun);
        if (run.offset == CFileNode::Extent::kSparse) {
            std::memset(out + done, 0, static_cast<size_t>(piece));
        } else {
            if (!m_volume)
                return false;
            const IVolume::ReadResult r = m_volume->read(run.offset + inRun, out + done, static_cast<size_t>(piece));
            if (r.bytes != piece)
                return false;
        }
        done += piece;
        ++k;
    }
    return done == length;
}

const CDocumentBytes::Block* CDocumentBytes::block(int64_t index)
{
    Block* victim = &m_blocks[0];
    for (int i = 0; i < kCachedBlocks; ++i) {
        Block& b = m_blocks[i];
        if (b.index == index) {
            b.lastUse = ++m_clock;
            return &b;
        }
        if (b.lastUse < victim->lastUse)
            victim = &b;
    }
    const int64_t start = index * kBlockSize;
    const int length = static_cast<int>(std::min<int64_t>(kBlockSize, m_size - start));
    victim->index = -1;
    if (length <= 0 || !fetch(start, victim->data, length))
        return nullptr;
    victim->index = index;
    victim->length = length;
    victim->lastUse = ++m_clock;
    return victim;
}

bool CDocumentBytes::read(int64_t position, void* buffer, int64_t length)
{
    if (position < 0 || length < 0 || position > m_size || length > m_size - position)
        return false;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    if (length >= kBlockSize * 4)
        return fetch(position, out, length);
    int64_t done = 0;
    while (done < length) {
        const int64_t at = position + done;
        const Block* b = block(at / kBlockSize);
        if (!b)
            return false;
        const int64_t inBlock = at % kBlockSize;
        const int64_t piece = std::min<int64_t>(length - done, b->length - inBlock);
        if (piece <= 0)
            return false;
        std::memcpy(out + done, b->data + inBlock, static_cast<size_t>(piece));
        done += piece;
    }
    return true;
}

QByteArray CDocumentBytes::bytes(int64_t position, int64_t length)
{
    if (length < 0 || length > std::numeric_limits<int>::max())
        return QByteArray();
    QByteArray out(static_cast<int>(length), Qt::Uninitialized);
    if (!read(position, out.data(), length))
        return QByteArray();
    return out;
}

const uint8_t* CDocumentBytes::view(int64_t position, int64_t length)
{
    if (!m_data || position < 0 || length < 0 || position > m_size || length > m_size - position || cancelled()
        || !charge(length))
        return nullptr;
    return m_data + position;
}

const uint8_t* CDocumentBytes::viewOrRead(int64_t position, int64_t length, uint8_t* buffer)
{
    if (m_data)
        return view(position, length);
    return read(position, buffer, length) ? buffer : nullptr;
}

const uint8_t* CDocumentBytes::viewOrCopy(int64_t position, int64_t length, QByteArray* copy)
{
    if (m_data)
        return view(position, length);
    *copy = bytes(position, length);
    return copy->size() == length ? reinterpret_cast<const uint8_t*>(copy->constData()) : nullptr;
}

bool CDocumentBytes::preload(int64_t maxSize)
{
    if (m_data)
        return true;
    if (m_size <= 0 || m_size > maxSize || m_size > m_budget - m_fetched || m_size > INT32_MAX || cancelled())
        return false;
    std::vector<uint8_t>& buffer = m_scratch->preloaded;
    // Grown, never shrunk: the next document is as likely to be as large.
    if (buffer.size() < static_cast<size_t>(m_size))
        buffer.resize(static_cast<size_t>(m_size));
    if (!fetchFromVolume(0, buffer.data(), m_size))
        return false;
    m_data = buffer.data();
    // The blocks read so far hold the same bytes; they stay valid.
    return true;
}

bool CDocumentBytes::checkCompressedUnits()
{
    if (!m_units)
        return true;
    if (!m_damage.isEmpty())
        return false;
    if (m_data)
        return true; // preloaded: every unit was decoded
    std::vector<uint8_t> unit(static_cast<size_t>(m_units->unitBytes()));
    for (int64_t k = 0; k < m_units->unitCount(); ++k) {
        if (cancelled())
            return false;
        const CCompressedUnits::Status s = m_units->readUnit(k, unit.data());
        if (s == CCompressedUnits::Status::Undecodable) {
            m_damage = CCompressedUnits::undecodableReason(k, m_units->unitBytes());
            return false;
        }
        if (s != CCompressedUnits::Status::Ok)
            return false;
    }
    return true;
}
