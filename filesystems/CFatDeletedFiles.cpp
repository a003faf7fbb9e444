#include "filesystems/CFatDeletedFiles.h"

#include "disk/IVolume.h"
#include "filesystems/CFatAllocationMap.h"
#include "filesystems/CFatDirectoryEntry.h"
#include "scan/CDocumentSignature.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <algorithm>

namespace {

// Enough of a file's first bytes to tell a ZIP's or a compound document's
// kind; one sector tells the family.
constexpr size_t kSignatureSector = 512;
// Clusters the data walks of deleted files may look at in one scan, per
// cluster of the volume and besides: a real volume's deleted files span it
// a few times over at most.
constexpr uint64_t kWalkBudgetPerCluster = 16;
constexpr uint64_t kWalkBudgetBase = uint64_t(1) << 22;

} // namespace

CFatDeletedFiles::CFatDeletedFiles(IVolume* volume, const CFatAllocationMap& fat, const CFatGeometry& geometry,
                                   uint64_t lastCluster, CNotifyFileNode* notifier, const std::atomic<bool>* running)
    : m_volume(volume)
    , m_fat(fat)
    , m_geometry(geometry)
    , m_last(lastCluster)
    , m_notifier(notifier)
    , m_running(running)
    , m_walkBudget(kWalkBudgetPerCluster * (static_cast<uint64_t>(geometry.highestCluster) + 1) + kWalkBudgetBase)
    , m_probe(CDocumentSignature::kUsefulPrefix, 0)
{
    m_layout.reset(new CFatDeletedLayout(m_fat, m_geometry, m_last, &m_walkBudget));
}

CFatDeletedFiles::~CFatDeletedFiles() = default;

void CFatDeletedFiles::add(const QString& folder, const uint8_t* entry, const QString& name)
{
    const int64_t size = CFatDirectoryEntry::size(entry);
    const uint32_t start = m_geometry.startCluster(entry);
    const int64_t clusterBytes = m_geometry.clusterBytes();
    if (size == 0 || start < CFatGeometry::kFirstDataCluster || start > m_last)
        return; // no data, or none on this volume

    // Where the data is: the clusters from the start cluster on, skipping
    // those the FAT marks in use, until the size is reached (a file is
    // written into the free clusters after its first; see
    // CFatDeletedLayout). A start cluster in use belongs to another file
    // now: the file is overwritten, and the stretch it would have had from
    // there is what is left of it.
    QVector<CFileNode::Extent> extents;
    double overwritten = 0.0;
    bool incomplete = false;
    const bool startTaken = m_fat.clusterInUse(start);
    if (startTaken) {
        const int64_t available = static_cast<int64_t>(m_last - start + 1) * clusterBytes;
        const int64_t length = std::min(size, available);
        incomplete = length < size;
        CFileNode::Extent e;
        e.offset = m_geometry.clusterOffset(start);
        e.length = length;
        extents.append(e);
        // Paid for like the walks; past the budget the share is not
        // counted and the file is taken as wholly overwritten.
        const uint64_t clusters = static_cast<uint64_t>((length + clusterBytes - 1) / clusterBytes);
        if (clusters <= m_walkBudget) {
            m_walkBudget -= clusters;
            overwritten = static_cast<double>(m_fat.bytesInUse(e.offset, e.length)) / static_cast<double>(length);
        } else {
            overwritten = 1.0;
        }
    } else {
        // Every deleted file's claim counts for the walks around them, our
        // documents' or not.
        m_layout->addClaim(start, size);
        const CFatDeletedLayout::Layout layout = m_layout->walk(start, size);
        extents = layout.extents;
        incomplete = layout.incomplete;
    }
    if (extents.isEmpty())
        return;
    // What is listed and written is what was found: a file cut short says
    // so (incomplete) and is as long as its extents.
    int64_t found = 0;
    for (const CFileNode::Extent& e : extents)
        found += e.length;

    // Which document: the first bytes and the name's extension together
    // (CDocumentSignature::typeOfNamedFile). A deleted "backup.bak" that is
    // a DOCX is a DOCX, and so is one that only its short name
    // "REPORT~1.DOC" still names. An overwritten start holds another
    // file's bytes: only the name can tell.
    const int byName = CFileTypeCatalogue::typeCodeByExtension(name.toUtf8(), false);
    int typeCode = byName;
    if (!startTaken) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(
            {size, static_cast<int64_t>(CDocumentSignature::kUsefulPrefix), static_cast<int64_t>(m_probe.size())}));
        const size_t first = std::min(want, kSignatureSector);
        IVolume::ReadResult r = m_volume->read(extents.front().offset, m_probe.data(), first);
        int byContent = r.bytes == static_cast<int64_t>(first) ? CDocumentSignature::typeCodeOf(m_probe.data(), first)
                                                               : int(CFileTypeCatalogue::NotWanted);
        if (CDocumentSignature::kindMatters(byName, CFileTypeCatalogue::family(byContent)) && want > first) {
            // The family is known; more of the first run tells the kind
            // (past the first cluster where clusters are small: a DOCX's
            // "word/" member often lies beyond 512 bytes or 2 KiB).
            const int byFamily = byContent;
            r = m_volume->read(extents.front().offset, m_probe.data(),
                               static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), extents.front().length)));
            // A bad sector further on in the cluster (the read fails as a
            // whole): the first sector's word stands.
            byContent = r.bytes >= static_cast<int64_t>(first)
                ? CDocumentSignature::typeCodeOf(m_probe.data(), static_cast<size_t>(r.bytes))
                : byFamily;
        }
        typeCode = CDocumentSignature::typeOfNamedFile(byName, byContent);
    }
    if (typeCode == CFileTypeCatalogue::NotWanted)
        return;
    CFileNode record = CFatDirectoryEntry::record(entry, name, folder, byName, typeCode, found, extents);
    record.overwritten = overwritten;
    record.incomplete = incomplete;
    m_pending.push_back({std::move(record), start, size, startTaken});
}

void CFatDeletedFiles::settle(const std::function<bool()>& stopRequested)
{
    m_layout->sealClaims();
    for (Pending& p : m_pending) {
        // A walk through another deleted file's clusters is put right
        // where the document's bytes prove how.
        if (!p.startTaken && !stopRequested())
            m_layout->settle(m_volume, p.record, p.start, p.size, m_running);
        ++m_posted;
        if (m_notifier)
            m_notifier->postItem(p.record);
    }
    m_pending.clear();
}
