#pragma once

#include "filesystems/CNtfsFolderPaths.h"
#include "scan/CFileNode.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CMFTRecord;
class CNtfsFormerTable;
class CNotifyFileNode;
class IAllocationMap;
class IVolume;

// The file-system pass of an NTFS volume: walks the master file table and
// posts (start sector, type code) for every live file whose name makes it
// one of our documents, or a container of one (code 100). The start sector
// is that of the first cluster of the file's unnamed data stream, counted in
// 512-byte units from the start of the volume.
//
// On the same walk it reports deleted files that are documents (by the
// name's extension, or by their first bytes for other names) as CFileNode
// records of origin OriginDeletedEntry: original name, folder, modification
// time, size, and the bytes' layout, either extents on the volume (sparse
// runs as CFileNode::Extent::kSparse) or the resident bytes. The folder
// comes from the parent references, read from the table by record number
// (CNtfsFolderPaths); a parent that is gone, reused (its sequence number
// moved on) or part of a loop makes the folder start with "?". A
// file whose clusters the volume's $Bitmap now marks in use carries that
// share in `overwritten`; a layout that cannot be followed to the stated
// size (extension records lost, a run list cut short, runs outside the
// volume or over one another) is marked `incomplete`, and then `size` is
// what the extents cover. A resident file's start sector is that of its
// record: its bytes are there, and no carved document can start there.
//
// It reads only through positioned reads of the volume. scan() runs on the
// calling thread; stop() may come from any thread, and the scan also ends
// soon after the worker's running flag (when given) turns false.
class CNtfsScanner
{
public:
    // Geometry from the boot sector, decoded as the NTFS format defines it.
    struct Geometry
    {
        uint32_t bytesPerSector = 0;
        uint32_t bytesPerCluster = 0;
        uint32_t recordSize = 0;
        uint64_t mftCluster = 0;
    };

    CNtfsScanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running = nullptr);
    ~CNtfsScanner();

    CNtfsScanner(const CNtfsScanner&) = delete;
    CNtfsScanner& operator=(const CNtfsScanner&) = delete;

    void scan();
    void stop() { m_stop = true; }

    // Window of the reader that walks the table; tests use small windows to
    // cross window ends. Rounded to whole records when used.
    void setWindowSize(uint32_t bytes) { m_windowSize = bytes; }

    // False when the sector is too short or its geometry is zero or absurd.
    static bool decodeBootSector(const uint8_t* sector, size_t length, Geometry& geometry);
    // The geometry the last scan read from the boot sector (meaningful when
    // the scan did not fail).
    const Geometry& geometry() const { return m_geometry; }

    // Whether deleted documents are reported too (the default).
    // After scan(): the volume's allocation map, from $Bitmap (MFT record
    // 6), read from `volume` (the volume this scanner was given, shared so
    // that the map may outlive the scanner). Null when no $Bitmap could be
    // read.
    std::unique_ptr<IAllocationMap> allocationMap(std::shared_ptr<IVolume> volume);
    void setReportDeleted(bool on) { m_reportDeleted = on; }
    // Whether live files are lost too (a volume whose partition entry was
    // deleted): each is posted as a record with its name, folder and runs,
    // as a deleted one is, instead of as a live file's start.
    void setLiveFilesLost(bool on) { m_liveFilesLost = on; }
    // Whether the table the volume had before it was last formatted is
    // searched for in its free clusters (with deleted documents reported,
    // on by default): each file record found there is reported as a
    // deleted one is, its folder put together from the old records found
    // with it (CNtfsFormerTable).
    void setSearchFormerTable(bool on) { m_searchFormer = on; }

    // Findings posted by the last scan (for the tests and the CLI summary):
    // live documents, and deleted ones.
    int findings() const { return m_findings; }
    int deletedFindings() const { return m_deletedFindings; }
    // Of those, the ones found in the old table of a formatted volume, and
    // how many of its records were found at all.
    int formerFindings() const { return m_formerFindings; }
    int formerRecords() const { return m_formerRecords; }
    // Why the last scan could not read the file system at all (English,
    // for a warning); empty when it could, or when it was stopped.
    QString failure() const { return m_failure; }

    // Files known as documents by their bytes only wait for the end of the
    // walk (at most this many; more are reported at once): clusters that a
    // deleted document of a document's name starts in belong to that
    // document, not to an older file that had them before.
    static constexpr int kMaxDeferred = 4096;
    static constexpr int kMaxClaimedStarts = 1000000;

private:
    // A run of the table in file order.
    struct TableRun
    {
        int64_t tableOffset = 0; // bytes from the table's start
        int64_t volumeOffset = 0;
        int64_t bytes = 0;
    };
    bool stopRequested() const;
    // Walks the records of one run of the table; false when stopped.
    // Reads and checks the table's record 0 at `cluster`; false with the
    // reason in `why` when it is not there or not sound.
    bool readTableRecord(uint64_t cluster, CMFTRecord& mft, QString* why);
    bool walkRun(int64_t offset, int64_t bytes, int64_t firstNumber);
    void examineRecord(const uint8_t* record, int64_t number, int64_t volumeOffset);
    void examineDeleted(const CMFTRecord& record, int64_t number, int64_t volumeOffset);
    void searchFormerTable();

    // Reads record `number` of the table into `out`; false when the table
    // does not reach it.
    bool readRecord(int64_t number, std::vector<uint8_t>& out);
    int typeOfContent(const CFileNode& node);
    // Whether every compression unit of a compressed file decompresses
    // (the clusters of one that does not were written over since).
    bool unitsDecompress(const CFileNode& node);

    // The allocation look-up: how many of `count` clusters from `cluster`
    // the volume now marks in use. Kept behind this one function so that it
    // can move onto a shared allocation reader.
    int64_t clustersInUse(int64_t cluster, int64_t count);
    bool loadBitmap();

    IVolume* m_volume;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    std::atomic<bool> m_stop{false};
    Geometry m_geometry;
    int64_t m_volumeLength = 0;
    uint32_t m_windowSize;
    int m_findings = 0;
    int m_deletedFindings = 0;
    QString m_failure;
    bool m_reportDeleted = true;
    bool m_liveFilesLost = false;
    bool m_searchFormer = true;
    int m_formerFindings = 0;
    int m_formerRecords = 0;
    // While the old table of a formatted volume is examined: records are
    // read from where it was found, not from the live table.
    const CNtfsFormerTable* m_former = nullptr;

    void post(CFileNode& node);
    void postDeferred();

    std::vector<TableRun> m_tableRuns;
    std::vector<CFileNode> m_deferred;
    QSet<quint64> m_claimedStarts;
    // Folder paths, from the live table or, while it is examined, the old
    // one of a formatted volume.
    CNtfsFolderPaths m_paths;
    std::vector<uint8_t> m_recordBuffer;

    // $Bitmap: its runs in file order (bytes), and one cached block.
    int m_bitmapState = 0; // 0 not loaded, 1 loaded, -1 unreadable
    std::vector<TableRun> m_bitmapRuns;
    int64_t m_bitmapBytes = 0; // its real size
    std::vector<uint8_t> m_bitmapBlock;
    int64_t m_bitmapBlockStart = -1;
};
