#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>

class CMFTRecord;

// The folder of an NTFS file, put together from the parent references of
// the records above it up to the root (record 5): "/Docs/Work". A parent
// that is gone, reused (its sequence number moved on past the one its
// freeing gave it) or part of a loop makes the path start with "?"
// ("?/Work", or "?" alone).
//
// Folders met on a walk of the table are remembered as it goes; others are
// read through the reader the owner gives (the live table, or the old one
// of a formatted volume), and remembered too, in a cache that starts over
// when it reaches kCacheLimit.
class CNtfsFolderPaths
{
public:
    // Reads record `number` into `record` (parsed, names and all); false
    // when there is no such record to be read.
    using Reader = std::function<bool(int64_t number, CMFTRecord& record)>;

    static constexpr int kCacheLimit = 65536;
    // Folder levels followed at most before the path is called lost.
    static constexpr int kMaxDepth = 256;
    static constexpr int64_t kRootRecord = 5;

    explicit CNtfsFolderPaths(Reader reader);

    void clear() { m_folders.clear(); }
    // A folder (or any base record) met on a walk.
    void remember(int64_t number, const CMFTRecord& record);
    // The path of the folder `parentReference` (record number in the low
    // 48 bits, sequence above) names.
    QString folderOf(uint64_t parentReference);

private:
    struct Folder
    {
        bool valid = false;
        bool inUse = false;
        bool directory = false;
        uint16_t sequence = 0;
        uint64_t parent = 0;
        QString name;
    };

    bool lookUp(int64_t number, Folder& folder);

    Reader m_reader;
    QHash<int64_t, Folder> m_folders;
};
