#pragma once

#include <QByteArray>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

class CNotifyFileNode;
class IVolume;

// The file-system pass of a FAT32 volume: walks the directory tree from the
// root, breadth first, and posts (start sector, type code) for every live
// file whose name makes it one of our documents, or a container of one
// (code 100). The start sector is that of the file's first cluster, in
// 512-byte units from the start of the volume.
//
// The name that decides is the long name when valid long-name entries
// (their checksum matching the short entry) precede the short entry, and the
// short name's three-letter extension otherwise.
//
// Every chain and every directory walk is bounded by the volume: chain ends,
// free and bad entries, clusters past the volume, loops and directories
// reached twice all end the walk.
class CFat32Scanner
{
public:
    struct Geometry
    {
        uint32_t bytesPerSector = 0;
        uint32_t sectorsPerCluster = 0;
        uint32_t reservedSectors = 0;
        uint32_t fatCount = 0;
        uint32_t sectorsPerFat = 0;
        uint32_t rootCluster = 0;
        uint64_t totalSectors = 0;
        // Derived.
        uint64_t dataStartSector = 0;
        uint32_t highestCluster = 0;

        uint32_t clusterBytes() const { return bytesPerSector * sectorsPerCluster; }
        int64_t clusterOffset(uint32_t cluster) const;
    };

    CFat32Scanner(IVolume* volume, CNotifyFileNode* notifier, const std::atomic<bool>* running = nullptr);
    ~CFat32Scanner();

    CFat32Scanner(const CFat32Scanner&) = delete;
    CFat32Scanner& operator=(const CFat32Scanner&) = delete;

    void scan();
    void stop() { m_stop = true; }

    // False when the sector is too short or its geometry is zero or absurd.
    static bool decodeBootSector(const uint8_t* sector, size_t length, Geometry& geometry);

    // The short-name checksum that long-name entries carry.
    static uint8_t shortNameChecksum(const uint8_t* shortName);

    int findings() const { return m_findings; }

private:
    struct DirectoryNode
    {
        uint32_t firstCluster = 0;
        std::vector<int64_t> clusterOffsets;
        bool chainRead = false;
        bool root = false;
    };

    // Long-name entries gathered in front of a short entry.
    struct LongName
    {
        std::vector<char16_t> units;
        int nextOrdinal = 0; // the ordinal the next entry must carry; 0: none pending
        uint8_t checksum = 0;
        void reset()
        {
            units.clear();
            nextOrdinal = 0;
        }
    };

    bool stopRequested() const;
    void readClusterChain(DirectoryNode& node);
    void walkDirectories();
    // Reads the entries of one directory cluster; false when stopped.
    bool readDirectoryCluster(const DirectoryNode& node, int64_t offset, LongName& longName);
    void collectLongName(const uint8_t* entry, LongName& longName) const;
    void handleFile(const uint8_t* entry, const LongName& longName);
    void handleDirectory(const uint8_t* entry);
    bool fatEntry(uint32_t cluster, uint32_t& value);
    void queueDirectory(uint32_t cluster, bool root);

    IVolume* m_volume;
    CNotifyFileNode* m_notifier;
    const std::atomic<bool>* m_running;
    std::atomic<bool> m_stop{false};
    Geometry m_geometry;
    int64_t m_volumeLength = 0;
    std::deque<std::unique_ptr<DirectoryNode>> m_queue;
    // Clusters already read as directory clusters, and directories already
    // queued: a tree with cycles or chains that merge is read once.
    std::unordered_set<uint32_t> m_directoryClusters;
    std::unordered_set<uint32_t> m_directoriesSeen;
    std::vector<uint8_t> m_fatSector;
    int64_t m_fatSectorOffset = -1;
    std::vector<uint8_t> m_cluster;
    int m_findings = 0;
};
