#include "filesystems/CFatDirectoryWalk.h"

#include "disk/IVolume.h"
#include "filesystems/CFatAllocationMap.h"
#include "filesystems/CFatChains.h"
#include "filesystems/CFatDirectoryEntry.h"
#include "filesystems/CFatNameSeam.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace {

using Entry = CFatDirectoryEntry;

// A directory holds at most 65536 entries: 2 MiB.
constexpr int64_t kMaxDirectoryBytes = 65536 * 32;

} // namespace

CFatDirectoryWalk::CFatDirectoryWalk(IVolume* volume, const CFatGeometry& geometry, const CFatAllocationMap& fat,
                                     CFatChains& chains, Visitor& visitor, std::function<bool()> stopRequested)
    : m_volume(volume)
    , m_geometry(geometry)
    , m_fat(fat)
    , m_chains(chains)
    , m_visitor(visitor)
    , m_stopRequested(std::move(stopRequested))
{
}

void CFatDirectoryWalk::run()
{
    if (walkTree() && (!m_former.empty() || !m_formerContinued.empty()))
        walkFormer();
    m_queue.clear();
    m_directoryClusters.reset(0);
}

void CFatDirectoryWalk::walkFormerLater()
{
    if (!m_former.empty() || !m_formerContinued.empty())
        walkFormer();
    m_queue.clear();
    m_directoryClusters.reset(0);
}

bool CFatDirectoryWalk::walkTree()
{
    m_volumeLength = m_volume->length();
    m_directoryClusters.reset(static_cast<uint64_t>(m_geometry.highestCluster) + 1);
    m_cluster.assign(m_geometry.clusterBytes(), 0);
    m_probe.assign(m_geometry.clusterBytes(), 0);
    m_queue.clear();
    if (m_geometry.hasRootRegion()) {
        // FAT12 and FAT16: the root is a region of its own before the
        // clusters, read in cluster-sized pieces.
        Directory root;
        root.root = true;
        m_queue.push_back(root);
    } else {
        queueDirectory(m_geometry.rootCluster, true, false, QString());
    }
    return drain();
}

bool CFatDirectoryWalk::drain()
{
    const int64_t clusterBytes = m_geometry.clusterBytes();
    while (!m_queue.empty()) {
        if (m_stopRequested())
            return false;
        const Directory node = std::move(m_queue.front());
        m_queue.pop_front();

        // Long names may run on from one cluster of a directory into the
        // next, never from one directory into another.
        CFatLongName names;
        bool stopped = false;
        if (node.root && m_geometry.hasRootRegion()) {
            const int64_t end = m_geometry.rootOffset() + m_geometry.rootBytes();
            for (int64_t at = m_geometry.rootOffset(); at < end && !stopped; at += clusterBytes) {
                if (m_stopRequested())
                    stopped = true;
                else
                    readDirectoryBlock(node, at, static_cast<size_t>(std::min(clusterBytes, end - at)), names, stopped);
            }
            if (stopped)
                return false;
            continue;
        }
        if (!node.deleted) {
            for (uint32_t cluster : directoryChain(node.firstCluster)) {
                m_chains.markCluster(cluster);
                if (m_stopRequested())
                    stopped = true;
                else
                    readDirectoryCluster(node, cluster, names, stopped);
                if (stopped)
                    break;
            }
            if (stopped)
                return false;
            continue;
        }

        // A deleted directory: its first cluster must still be free and
        // still hold "." and ".."; then the clusters after it, while they
        // are free and hold entries, up to a directory's largest size.
        const uint32_t cluster = node.firstCluster;
        if (m_fat.clusterInUse(cluster) || m_directoryClusters.contains(cluster) || !looksLikeDirectory(cluster, true))
            continue;
        if (!readDeleted(node, cluster, names))
            return false;
    }
    return true;
}

bool CFatDirectoryWalk::readDeleted(const Directory& node, uint32_t cluster, CFatLongName& names)
{
    const int64_t clusterBytes = m_geometry.clusterBytes();
    const uint64_t maxDeletedClusters = static_cast<uint64_t>(std::max<int64_t>(1, kMaxDirectoryBytes / clusterBytes));
    bool stopped = false;
    for (uint64_t taken = 0; taken < maxDeletedClusters && cluster != 0; ++taken) {
        if (m_stopRequested())
            return false;
        m_directoryClusters.insert(cluster);
        if (!readDirectoryCluster(node, cluster, names, stopped))
            break;
        cluster = deletedNext(cluster);
    }
    return !stopped;
}

uint32_t CFatDirectoryWalk::deletedNext(uint32_t cluster)
{
    const auto seam = m_formerNext.find(cluster);
    uint32_t next = 0;
    if (seam != m_formerNext.end()) {
        next = seam->second;
    } else {
        if (cluster >= m_geometry.highestCluster)
            return 0;
        next = cluster + 1;
    }
    if (next < CFatGeometry::kFirstDataCluster || next > m_geometry.highestCluster || m_fat.clusterInUse(next)
        || m_directoryClusters.contains(next))
        return 0;
    if (seam != m_formerNext.end())
        return next;
    if (!looksLikeDirectory(next, false))
        return 0;
    // A long name that crosses into the next cluster must go on there, and
    // a name's later piece there must have begun here: otherwise the next
    // cluster is another folder's (m_cluster holds this one, m_probe the
    // next).
    const CFatNameSeam::Key tail = CFatNameSeam::tail(m_cluster.data(), m_cluster.size());
    const CFatNameSeam::Key head = CFatNameSeam::head(m_probe.data(), m_probe.size());
    if (tail.valid ? !(tail == head) : (head.valid && head.ordinal > 0))
        return 0;
    return next;
}

void CFatDirectoryWalk::walkFormer()
{
    std::unordered_set<uint32_t> found;
    for (const Former& f : m_former)
        found.insert(f.cluster);
    for (int round = 0; round < 2; ++round) {
        for (const Former& f : m_former) {
            if (round == 0 && found.count(f.parent) != 0)
                continue;
            if (m_directoryClusters.contains(f.cluster))
                continue;
            queueDirectory(f.cluster, false, true, QStringLiteral("?"));
            if (!drain())
                return;
        }
    }
    // Clusters of old folders whose first cluster is gone: their entries
    // are named, their folder is not known. Those no seam leads to first,
    // so that a folder is read from its earliest cluster found on.
    std::unordered_set<uint32_t> targets;
    for (const auto& link : m_formerNext)
        targets.insert(link.second);
    for (int round = 0; round < 2; ++round) {
        for (uint32_t cluster : m_formerContinued) {
            if (m_directoryClusters.contains(cluster) || (round == 0 && targets.count(cluster) != 0))
                continue;
            Directory node;
            node.firstCluster = cluster;
            node.deleted = true;
            node.path = QStringLiteral("?");
            CFatLongName names;
            if (!readDeleted(node, cluster, names) || !drain())
                return;
        }
    }
}

void CFatDirectoryWalk::queueDirectory(uint32_t cluster, bool root, bool deleted, const QString& path)
{
    if (cluster < CFatGeometry::kFirstDataCluster || cluster > m_geometry.highestCluster)
        return;
    // A live directory reached a second time (a cycle, or two entries
    // naming one cluster) is not read again. A deleted one is claimed when
    // it is read, once its first cluster has been seen to be a directory's.
    if (!deleted && !m_directoryClusters.insert(cluster))
        return;
    if (deleted && m_directoryClusters.contains(cluster))
        return;
    Directory node;
    node.firstCluster = cluster;
    node.root = root;
    node.deleted = deleted;
    node.path = path;
    m_queue.push_back(std::move(node));
}

std::vector<uint32_t> CFatDirectoryWalk::directoryChain(uint32_t firstCluster)
{
    std::vector<uint32_t> chain{firstCluster};
    uint32_t cluster = firstCluster;
    // Bounded twice over: no cluster is taken twice, and there are no more
    // steps than clusters on the volume.
    for (uint32_t steps = 0; steps < m_geometry.highestCluster; ++steps) {
        uint32_t next = 0;
        if (!m_fat.next(cluster, next))
            break;
        if (next < CFatGeometry::kFirstDataCluster || next > m_geometry.highestCluster)
            break;
        // A loop, or a chain that merges into one read with an earlier
        // directory: the rest was, or will be, read with that one. Stopping
        // here keeps the walks linear in the volume.
        if (!m_directoryClusters.insert(next))
            break;
        chain.push_back(next);
        cluster = next;
    }
    return chain;
}

bool CFatDirectoryWalk::looksLikeDirectory(uint32_t cluster, bool first)
{
    const IVolume::ReadResult r = m_volume->read(m_geometry.clusterOffset(cluster), m_probe.data(), m_probe.size());
    if (r.bytes < static_cast<int64_t>(m_probe.size()))
        return false;
    const uint8_t* e = m_probe.data();
    if (first)
        return Entry::startsDirectory(e, m_probe.size(), cluster);
    // Another directory's start: directories are often laid side by side.
    return !Entry::startsDirectory(e, m_probe.size(), cluster) && Entry::holdsEntries(e, m_probe.size());
}

bool CFatDirectoryWalk::readDirectoryCluster(const Directory& node, uint32_t cluster, CFatLongName& names,
                                             bool& stopped)
{
    return readDirectoryBlock(node, m_geometry.clusterOffset(cluster), m_cluster.size(), names, stopped);
}

bool CFatDirectoryWalk::readDirectoryBlock(const Directory& node, int64_t offset, size_t length, CFatLongName& names,
                                           bool& stopped)
{
    if (offset >= m_volumeLength)
        return false;
    length = std::min(length, m_cluster.size());
    const IVolume::ReadResult r = m_volume->read(offset, m_cluster.data(), length);
    const size_t got = r.bytes > 0 ? static_cast<size_t>(r.bytes) : 0;
    // What could not be read holds no entries.
    if (got < length)
        std::memset(m_cluster.data() + got, 0, length - got);

    for (size_t at = 0; at + Entry::kSize <= length; at += Entry::kSize) {
        if (m_stopRequested()) {
            stopped = true;
            return false;
        }
        const uint8_t* entry = m_cluster.data() + at;
        const uint8_t first = entry[0];
        const uint8_t attribute = Entry::attribute(entry);

        if (!node.root && first == Entry::kEnd) {
            names.reset();
            // A live directory's chain says where it goes on; a deleted
            // one ends here.
            return !node.deleted;
        }
        if (first == Entry::kDeleted) {
            names.resetLive();
            if (Entry::isLongNamePiece(entry)) {
                names.addDeleted(entry);
            } else {
                deletedEntry(node, entry, names.deletedName(entry));
                names.resetDeleted();
            }
            continue;
        }
        names.resetDeleted();
        if (Entry::isLongNamePiece(entry)) {
            names.addLive(entry);
            continue;
        }
        if (node.root && Entry::endsRootCluster(first)) {
            names.resetLive();
            return true;
        }
        if (attribute & Entry::kAttrVolumeLabel) {
            // A volume label, not a file.
        } else if (node.deleted) {
            // What a deleted directory holds is deleted, marked or not.
            if (first != '.')
                deletedEntry(node, entry, names.liveName(entry));
        } else if (attribute & Entry::kAttrDirectory) {
            if (first != '.') {
                queueDirectory(m_geometry.startCluster(entry), false, false,
                               node.path + '/' + names.liveName(entry).text);
            }
        } else {
            m_chains.markChain(m_geometry.startCluster(entry));
            m_visitor.liveFile(node, entry, names);
        }
        names.resetLive();
    }
    return true;
}

void CFatDirectoryWalk::deletedEntry(const Directory& node, const uint8_t* entry, const CFatLongName::Name& name)
{
    if (!m_followDeleted)
        return;
    const uint8_t attribute = Entry::attribute(entry);
    if (attribute & Entry::kAttrVolumeLabel)
        return;
    if (attribute & Entry::kAttrDirectory) {
        queueDirectory(m_geometry.startCluster(entry), false, true, node.path + '/' + name.text);
        return;
    }
    m_visitor.deletedFile(node, entry, name);
}
