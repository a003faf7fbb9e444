#pragma once

#include "scan/CFileNode.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CCompressedUnits;
class IVolume;

// The bytes of one found document, read by position: a carved document's
// stretch of the volume, a deleted file's runs in file order (a sparse run
// reads as zeros), or the bytes its entry kept. Small reads go through a
// little cache of 4 KiB blocks (a metadata reader asks for a few bytes at a
// time), large ones straight to the volume.
//
// Every byte fetched counts against a read budget; once it is spent every
// read fails, so a hostile document costs at most that much I/O however its
// parser is led around.
//
// A small document can be preloaded: one read of the whole instead of
// dozens of small ones, after which view() hands out its bytes without a
// copy. Reads are charged against the budget the same way either way. The
// block cache and the preload buffer are kept per thread from one document
// to the next (the details pass reads thousands in a row; allocating and
// returning them each time cost more than the reading).
class CDocumentBytes
{
public:
    static constexpr int kBlockSize = 4096;
    static constexpr int kCachedBlocks = 16;

    CDocumentBytes(IVolume* volume, const CFileNode& node, int64_t readBudget);
    // Bytes already in memory (tests and fuzzing).
    explicit CDocumentBytes(const QByteArray& bytes, int64_t readBudget = INT64_MAX);
    ~CDocumentBytes();

    CDocumentBytes(const CDocumentBytes&) = delete;
    CDocumentBytes& operator=(const CDocumentBytes&) = delete;

    int64_t size() const { return m_size; }

    // Exactly `length` bytes at `position` of the document, or false: the
    // range leaves the document, the volume failed, or the budget is spent.
    bool read(int64_t position, void* buffer, int64_t length);
    // The same into a byte array (empty on failure).
    QByteArray bytes(int64_t position, int64_t length);
    // `length` bytes at `position`, charged as a read, without a copy: only
    // while the document is in memory (null otherwise, or on failure). Valid
    // as long as this object.
    const uint8_t* view(int64_t position, int64_t length);
    // `length` bytes at `position`, charged as a read: in place while the
    // document is in memory, else read into `buffer` (room for `length`
    // bytes) or into `copy`. Null on failure.
    const uint8_t* viewOrRead(int64_t position, int64_t length, uint8_t* buffer);
    const uint8_t* viewOrCopy(int64_t position, int64_t length, QByteArray* copy);
    bool inMemory() const { return m_data != nullptr; }
    // Reads the whole document into memory when it is at most `maxSize`
    // bytes (and the read budget allows that much): true when it is in
    // memory afterwards. The one read is not charged; later reads are.
    bool preload(int64_t maxSize);

    bool budgetSpent() const { return m_budgetSpent; }
    // Why the document is not whole as read: a compressed unit that does
    // not decompress (empty when every unit read so far did).
    const QString& damage() const { return m_damage; }
    // Decompresses every unit of a compressed document that was not read
    // yet, so that damage() speaks for the whole file; false when one does
    // not decompress (or the read stopped). True at once for other
    // documents. Not charged against the budget: the units are what the
    // integrity of the file rests on.
    bool checkCompressedUnits();
    int64_t bytesFetched() const { return m_fetched; }
    // Reads fail from the moment `flag` is raised (a stop must not wait for
    // a large document to be read to its end).
    void setCancelFlag(const std::atomic<bool>* flag) { m_cancel = flag; }
    // A new budget from now on (a later, larger pass over the same document).
    void setReadBudget(int64_t budget);

    // The document's runs on the source in file order, cut at its size: the
    // stretch from its first sector, or its entry's runs (kSparse: zeros);
    // none for resident bytes. A compressed document's are its stored units,
    // whole. Shared with the recovery and its report.
    static QVector<CFileNode::Extent> runsOf(const CFileNode& node);

private:
    struct Block
    {
        int64_t index = -1;
        uint64_t lastUse = 0;
        int length = 0;
        uint8_t data[kBlockSize];
    };

    // What is kept from one document to the next on a thread.
    struct Scratch
    {
        std::unique_ptr<Block[]> blocks{new Block[kCachedBlocks]};
        std::vector<uint8_t> preloaded;
    };
    // This thread's spare scratch (empty while a document holds it).
    static std::unique_ptr<Scratch>& spareScratch();
    static std::unique_ptr<Scratch> takeScratch();

    bool fetch(int64_t position, uint8_t* out, int64_t length);
    bool fetchFromVolume(int64_t position, uint8_t* out, int64_t length);
    bool charge(int64_t length);
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }
    const Block* block(int64_t index);

    IVolume* m_volume = nullptr;
    QByteArray m_memory;
    // The document's bytes when in memory (m_memory's or the preload's).
    const uint8_t* m_data = nullptr;
    QVector<CFileNode::Extent> m_runs;
    // File position at which each run starts.
    QVector<int64_t> m_runStarts;
    int64_t m_size = 0;
    int64_t m_budget = 0;
    int64_t m_fetched = 0;
    bool m_budgetSpent = false;
    std::unique_ptr<Scratch> m_scratch;
    Block* m_blocks = nullptr;
    uint64_t m_clock = 0;
    const std::atomic<bool>* m_cancel = nullptr;
    std::unique_ptr<CCompressedUnits> m_units;
    QString m_damage;
};
