#pragma once

#include "filesystems/CFatDeletedLayout.h"
#include "filesystems/CFatGeometry.h"
#include "scan/CFileNode.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CFatAllocationMap;
class CNotifyFileNode;
class IVolume;

// The deleted files of one FAT pass: a CFileNode (origin
// OriginDeletedEntry) for every deleted file that is one of our documents
// by its name or by its first bytes, with its name, folder, size and
// modification time, and the byte runs its data is taken from. Where the
// first bytes say another of our types than the name's extension (a DOCX
// known only by its short name "REPORT~1.DOC"), the bytes decide, and the
// name is given their extension.
//
// A deleted file's chain is gone: its data is walked from its first
// cluster through the free ones (CFatDeletedLayout). The records wait until
// every deleted entry's claim is known (settle()), then are posted.
class CFatDeletedFiles
{
public:
    // `lastCluster`: the highest cluster lying wholly on the volume.
    CFatDeletedFiles(IVolume* volume, const CFatAllocationMap& fat, const CFatGeometry& geometry, uint64_t lastCluster,
                     CNotifyFileNode* notifier, const std::atomic<bool>* running);
    ~CFatDeletedFiles();

    CFatDeletedFiles(const CFatDeletedFiles&) = delete;
    CFatDeletedFiles& operator=(const CFatDeletedFiles&) = delete;

    // A deleted file's entry, named `name`, in the folder `folder`.
    void add(const QString& folder, const uint8_t* entry, const QString& name);
    // After the walk: settles each waiting record's layout and posts it;
    // once a stop is requested, the layouts left are posted as walked.
    void settle(const std::function<bool()>& stopRequested);

    // Records posted by settle().
    int posted() const { return m_posted; }

private:
    struct Pending
    {
        CFileNode record;
        uint32_t start = 0;
        int64_t size = 0;
        bool startTaken = false;
    };

    IVolume* m_volume;
    const CFatAllocationMap& m_fat;
    CFatGeometry m_geometry;
    uint64_t m_last;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    // Clusters the deleted files' data walks may still look at.
    uint64_t m_walkBudget = 0;
    std::unique_ptr<CFatDeletedLayout> m_layout;
    std::vector<Pending> m_pending;
    std::vector<uint8_t> m_probe;
    int m_posted = 0;
};
