#include "filesystems/CNtfsFolderPaths.h"

#include "filesystems/CMFTRecord.h"

#include <QSet>
#include <QStringList>

#include <algorithm>

namespace {

constexpr uint64_t kRecordNumberMask = (uint64_t(1) << 48) - 1;

// The sequence number a record takes when it is freed (0 is never used).
uint16_t nextSequence(uint16_t sequence)
{
    const uint16_t next = static_cast<uint16_t>(sequence + 1);
    return next == 0 ? 1 : next;
}

} // namespace

CNtfsFolderPaths::CNtfsFolderPaths(Reader reader)
    : m_reader(std::move(reader))
{
}

void CNtfsFolderPaths::remember(int64_t number, const CMFTRecord& record)
{
    if (m_folders.size() >= kCacheLimit)
        m_folders.clear();
    Folder folder;
    folder.valid = true;
    folder.inUse = record.inUse();
    folder.directory = record.isDirectory() || record.hasIndex();
    folder.sequence = record.sequenceNumber();
    folder.parent = record.parentReference();
    folder.name = record.name();
    m_folders.insert(number, folder);
}

bool CNtfsFolderPaths::lookUp(int64_t number, Folder& folder)
{
    const auto it = m_folders.constFind(number);
    if (it != m_folders.constEnd()) {
        folder = it.value();
        return folder.valid;
    }
    CMFTRecord record;
    if (!m_reader || !m_reader(number, record) || record.baseReference() != 0) {
        if (m_folders.size() >= kCacheLimit)
            m_folders.clear();
        m_folders.insert(number, Folder());
        folder = Folder();
        return false;
    }
    remember(number, record);
    folder = m_folders.value(number);
    return true;
}

QString CNtfsFolderPaths::folderOf(uint64_t parentReference)
{
    QStringList names;
    QSet<int64_t> seen;
    uint64_t reference = parentReference;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const int64_t number = static_cast<int64_t>(reference & kRecordNumberMask);
        if (number == kRootRecord) {
            std::reverse(names.begin(), names.end());
            return QLatin1Char('/') + names.join(QLatin1Char('/'));
        }
        if (seen.contains(number))
            break; // a loop
        seen.insert(number);
        Folder folder;
        if (!lookUp(number, folder) || !folder.directory || folder.name.isEmpty())
            break;
        // A live folder must still be the one the reference names; a freed
        // one has had its sequence number moved on once when it was freed.
        const uint16_t wanted = static_cast<uint16_t>(reference >> 48);
        const bool same = folder.sequence == wanted || (!folder.inUse && folder.sequence == nextSequence(wanted));
        if (!same)
            break;
        names.append(folder.name);
        reference = folder.parent;
    }
    std::reverse(names.begin(), names.end());
    if (names.isEmpty())
        return QStringLiteral("?");
    return QStringLiteral("?/") + names.join(QLatin1Char('/'));
}
