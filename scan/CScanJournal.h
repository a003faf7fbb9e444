#pragma once

#include "scan/CFileNode.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

class IVolume;

// What a scan has done so far, kept on disk so that a scan closed after
// hours (or killed) goes on where it stopped, and a finished scan's list
// can be opened again without scanning.
//
// One JSON file per volume under $XDG_DATA_HOME/tamsel/scans/ (the real
// user's folder when run through sudo or pkexec, read and written with that
// user's rights, never root's), named after the volume's
// identity: its path, its size, and the serial number of its file system or,
// for a raw volume, a hash of its first 64 KiB. It is written to a temporary
// file and renamed, so a crash leaves the previous state whole.
//
// A file that cannot be parsed, was written by another version, belongs to
// another volume or holds values outside the volume is refused as a whole:
// its contents are never trusted piecemeal.
class CScanJournal
{
public:
    static constexpr int kFormat = 1;

    struct Identity
    {
        QString path;
        int64_t size = 0;
        QString key; // "ntfs:<serial>", "fat32:<serial>" or "sha256:<first 64 KiB>"
        bool operator==(const Identity& o) const { return path == o.path && size == o.size && key == o.key; }
        bool operator!=(const Identity& o) const { return !(*this == o); }
    };

    // One report of the scan, in the order it was posted: a found document,
    // or a document a live file still owns (sector, type code).
    //
    // A carved document found in pieces after the scan (the details pass's
    // search) is written down again, `reassembled`, with its pieces as its
    // extents: read back, it takes the place of the record of the same
    // start and type, or is added where none was listed. A saved scan so
    // opens again with the document whole, whatever the search would find
    // then (it runs without the file systems' grids on a finished scan).
    struct Entry
    {
        bool live = false;
        CFileNode node;
        long long liveSector = 0;
        int liveType = 0;
        bool reassembled = false;
    };

    struct State
    {
        Identity identity;
        // How the scan was made, which decides what it lists; a resumed
        // scan goes on the same way. The file system asked for ("auto", a
        // name, or "" / "none" for none), and whether the whole volume was
        // read even where a file system says which bytes are unused.
        QString fileSystem;
        bool wholeVolume = false;
        // False for a file written before the whole-volume setting was kept.
        bool wholeVolumeSaved = false;
        // What the raw pass set out to read: only the unused space, and how
        // many bytes (its 100 %), so that a finished scan opened again says
        // what it read. -1 when the file does not say (written before this
        // was kept).
        bool unusedOnly = false;
        int64_t bytesToRead = -1;
        // The raw pass goes on from here: the start of the oldest document
        // still being followed when the state was taken (or `reached`).
        int64_t resumeOffset = 0;
        // Everything before this offset had been carved.
        int64_t reached = 0;
        bool finished = false;
        std::vector<Entry> entries;
    };

    // Reads the identity of `volume` (its boot sector, or its first 64 KiB).
    static Identity identify(IVolume& volume);

    // The folder session files go to.
    static QString folder();
    // The session file of a volume in `folder`.
    static QString fileFor(const Identity& identity, const QString& folder = CScanJournal::folder());

    // Writes `state` to `path` through a temporary file. False with a
    // readable reason on failure.
    static bool save(const QString& path, const State& state, QString* error = nullptr);
    // The same with the entries already written as records (record()),
    // `state.entries` left aside: a scan writes each down as it is found,
    // so that a save costs no more than writing the file.
    static bool save(const QString& path, const State& state, const std::vector<QByteArray>& records,
                     QString* error = nullptr);
    // One entry as the record a saved scan holds (compact JSON).
    static QByteArray record(const Entry& entry);

    // Reads `path` for the volume `expected`. False when there is no usable
    // state; `notice` then says why in a readable English sentence (empty
    // when there simply is no file).
    // Without `records`, only what the scan was (its volume, position and
    // whether it finished) is read, not its list: a look at a large saved
    // scan before every new one costs next to nothing.
    static bool load(const QString& path, const Identity& expected, State* state, QString* notice,
                     bool records = true);

    // The program version written into and required of every file.
    static QString programVersion();
};
