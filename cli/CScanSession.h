#pragma once

#include "disk/CUnreadableRanges.h"
#include "scan/CFileNode.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class CProgressPrinter;
class IVolume;

// One whole scan for the command line: opens the source, names its file
// system (from the boot sector when asked to), runs the scan worker to its
// end under a local event loop and keeps the lost documents it lists.
class CScanSession : public QObject
{
    Q_OBJECT
public:
    // ResumeRefused: a setting given with --resume differs from how the
    // saved scan was made (failureReason() names it); nothing was scanned.
    enum class Outcome { Finished, OpenFailed, ScanFailed, ResumeRefused };

    explicit CScanSession(QObject* parent = nullptr);
    ~CScanSession() override;

    // The --fs value in its canonical spelling ("auto", "NTFS", "FAT32",
    // "FAT16", "FAT12", "exFAT", "EXT4", "none", any letter case accepted),
    // or an empty text when it is none of them.
    static QString fileSystemOption(const QString& value);
    // What every command says of a --fs value fileSystemOption() refused.
    static QString unknownFileSystemText(const QString& value);

    // Go on from the scan saved for this volume (see CScanJournal) instead
    // of scanning afresh; a finished one's list is listed without scanning.
    // It goes on as it was made (file system, whole volume): settings left
    // out follow the saved scan, and one given that differs refuses it.
    void setResume(bool resume) { m_resume = resume; }
    // Whether --fs was given, rather than taken as "auto".
    void setFileSystemGiven(bool given) { m_fileSystemGiven = given; }
    // Read the whole source, not only what no live file holds.
    void setWholeVolume(bool whole) { m_whole = whole; }
    // The ddrescue map of an image made from a failing disk: what it says
    // was not read is unreadable. Without one, a map beside an image file
    // (disk.map or disk.img.map for disk.img) is used.
    void setMapFile(const QString& path) { m_mapFile = path; }
    // The map the last run used ("" when none).
    QString usedMapFile() const { return m_usedMap; }
    // Whether the last run read only unused space, and how many bytes its
    // raw pass had to read.
    bool unusedSpaceOnly() const { return m_unusedOnly; }
    int64_t bytesToRead() const { return m_bytesToRead; }
    // A line that says so, for the summaries ("" when the whole source was
    // read).
    QString readPlanLine() const;
    // Whether the last run went on from a saved scan.
    bool resumed() const { return m_resumed; }
    // The share of the raw pass the last run read itself, 0 to 1: less than
    // 1 when it went on from a saved scan (0 for a finished one, listed
    // without reading).
    double shareReadThisRun() const
    {
        if (!m_resumed || m_firstPermille < 0)
            return 1.0;
        return m_firstPermille >= 1000 ? 0.0 : static_cast<double>(1000 - m_firstPermille) / 1000.0;
    }
    // Whether each listed document is read for its details (title, times,
    // integrity) before the list is complete; the listing waits for them.
    // On by default; a listing that shows none of them turns it off.
    void setReadDetails(bool read) { m_readDetails = read; }

    // `fileSystemOption` is one of fileSystemOption()'s answers.
    Outcome run(const QString& source, const QString& fileSystemOption, CProgressPrinter* progress);

    // What the window's tree lists: types in order of first arrival, each
    // type's documents in arrival order; live files' documents left out.
    const QList<CFileNode>& documents() const { return m_documents; }
    QString failureReason() const { return m_failure; }
    // The file systems the scan read, "FAT32" or, on a partitioned disk,
    // "FAT32 (partition 1), NTFS (partition 2)"; "" when none could be read.
    QString fileSystem() const { return m_fileSystem; }
    // What went wrong on the way without stopping the scan (a damaged
    // partition table, a file system that could not be read), in English.
    const QStringList& warnings() const { return m_warnings; }
    // File systems found where no partition entry names one, a line each.
    const QStringList& foundPartitions() const { return m_foundPartitions; }
    std::shared_ptr<IVolume> volume() const { return m_volume; }
    int64_t volumeLength() const;
    int64_t unreadableBytes() const { return m_unreadable; }
    // Where those bytes lie on the source.
    const CUnreadableRanges& unreadableRanges() const { return m_unreadableRanges; }
    // Wall time of the scan itself (file-system passes and carving), and of
    // the details that were still being read once it had ended.
    double scanSeconds() const { return m_scanSeconds; }
    double detailsSeconds() const { return m_detailsSeconds; }

private:
    QList<CFileNode> m_documents;
    QString m_failure;
    QString m_fileSystem;
    QStringList m_warnings;
    QStringList m_foundPartitions;
    std::shared_ptr<IVolume> m_volume;
    int64_t m_unreadable = 0;
    CUnreadableRanges m_unreadableRanges;
    QString m_mapFile;
    QString m_usedMap;
    bool m_resume = false;
    bool m_fileSystemGiven = false;
    bool m_whole = false;
    bool m_unusedOnly = false;
    int64_t m_bytesToRead = 0;
    bool m_resumed = false;
    // The first progress (permille) the last run reported: where it began.
    long long m_firstPermille = -1;
    bool m_readDetails = true;
    double m_scanSeconds = 0;
    double m_detailsSeconds = 0;
};
