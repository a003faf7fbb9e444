#pragma once

#include "scan/CFileNode.h"

#include <QByteArray>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <memory>

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

    bool budgetSpent() const { return m_budgetSpent; }
    int64_t bytesFetched() const { return m_fetched; }
    // Reads fail from the moment `flag` is raised (a stop must not wait for
    // a large document to be read to its end).
    void setCancelFlag(const std::atomic<bool>* flag) { m_cancel = flag; }
    // A new budget from now on (a later, larger pass over the same document).
    void setReadBudget(int64_t budget);

    // The document's runs on the source in file order, cut at its size: the
    // stretch from its first sector, or its entry's runs (kSparse: zeros);
    // none for resident bytes. Shared with the recovery and its report.
    static QVector<CFileNode::Extent> runsOf(const CFileNode& node);

private:
    struct Block
    {
        int64_t index = -1;
        uint64_t lastUse = 0;
        int length = 0;
        uint8_t data[kBlockSize];
    };

    bool fetch(int64_t position, uint8_t* out, int64_t length);
    bool charge(int64_t length);
    const Block* block(int64_t index);

    IVolume* m_volume = nullptr;
    QByteArray m_memory;
    bool m_inMemory = false;
    QVector<CFileNode::Extent> m_runs;
    // File position at which each run starts.
    QVector<int64_t> m_runStarts;
    int64_t m_size = 0;
    int64_t m_budget = 0;
    int64_t m_fetched = 0;
    bool m_budgetSpent = false;
    std::unique_ptr<Block[]> m_blocks;
    uint64_t m_clock = 0;
    const std::atomic<bool>* m_cancel = nullptr;
};
