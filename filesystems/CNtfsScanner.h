#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class CNotifyFileNode;
class IVolume;

// The file-system pass of an NTFS volume: walks the master file table and
// posts (start sector, type code) for every live file whose name makes it
// one of our documents, or a container of one (code 100). The start sector
// is that of the first cluster of the file's unnamed data stream, counted in
// 512-byte units from the start of the volume.
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

    // Findings posted by the last scan (for the tests and the CLI summary).
    int findings() const { return m_findings; }

private:
    bool stopRequested() const;
    // Walks the records of one run of the table; false when stopped.
    bool walkRun(int64_t offset, int64_t bytes);
    void examineRecord(const uint8_t* record);

    IVolume* m_volume;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    std::atomic<bool> m_stop{false};
    Geometry m_geometry;
    int64_t m_volumeLength = 0;
    uint32_t m_windowSize;
    int m_findings = 0;
};
