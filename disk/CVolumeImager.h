#pragma once

#include "disk/CDdrescueMap.h"

#include <QString>

#include <cstdint>
#include <functional>

// Copies a volume into an image file good parts first, as careful imagers
// do, and keeps a map of what was read in GNU ddrescue's mapfile format:
// first every stretch the map has not tried (skipping ahead where reads
// fail, see CReadScheduler), then what was skipped, narrowed down to the
// bad sectors for as long as the time allowed. An existing map is gone on
// from: what it says was read is not read again. Unreadable bytes are zeros
// in the image and not '+' in the map, so that a scan of the image with the
// map treats them as the disk's bad sectors (CKnownBadVolume).
//
// The source is opened read-only, and neither the image nor the map may be
// the source itself (checked by device and inode, whatever the paths say).
class CVolumeImager
{
public:
    struct Progress
    {
        int64_t done = 0;       // bytes of the source tried so far
        int64_t total = 0;      // the source's length
        int64_t unreadable = 0; // of those, bytes not read
        bool lastPass = false;  // reading again what was skipped
    };
    using ProgressSink = std::function<void(const Progress&)>;

    CVolumeImager(QString source, QString image, QString map);

    // The map's usual name beside an image: IMAGE with its suffix replaced
    // by .map (disk.img -> disk.map), or .map added where it has none.
    static QString mapBeside(const QString& image);

    void setLastPassBudget(int64_t milliseconds) { m_lastPassBudgetMs = milliseconds; }
    // How often the map is written while the copy runs.
    void setSaveInterval(int64_t milliseconds) { m_saveIntervalMs = milliseconds; }

    // Runs the copy to its end, or until `keepGoing` says no (the map then
    // says where it stopped). False, with a reason for the user, when it
    // could not start or could not write.
    bool run(const ProgressSink& progress, const std::function<bool()>& keepGoing, QString* error);

    const CDdrescueMap& map() const { return m_map; }
    bool resumed() const { return m_resumed; }
    int64_t sourceLength() const { return m_length; }

    static constexpr int64_t kChunk = 16 * 1024 * 1024;

private:
    bool saveMap(QString* error);

    QString m_source;
    QString m_image;
    QString m_mapPath;
    CDdrescueMap m_map;
    int64_t m_length = 0;
    int64_t m_lastPassBudgetMs = 60 * 1000;
    int64_t m_saveIntervalMs = 5000;
    bool m_resumed = false;
};
