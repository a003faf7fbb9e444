#pragma once

// The input encoding of the file-system scanner fuzz targets: a sparse
// image, so that a few kilobytes of input can describe a volume of any
// size whose metadata lies where its boot sector says it does.
//
//   header (5 bytes)
//     byte 0      options, for the target to use
//     bytes 1-4   length of the volume in 512-byte sectors (u32 LE); 0
//                 means the bytes the chunks place and no more
//   chunks, until the input ends
//     u32 LE      byte offset in the volume
//     u16 LE      length
//     bytes       the chunk (cut where the input ends)
//
// Chunks are laid onto zeros in order (a later one wins) and only inside
// the first kMaxHeldBytes; whatever lies beyond reads as zeros through the
// memory volume's zero tail. A real volume cut into its boot sector, FAT
// or MFT and directory clusters, as fuzz/make_seeds.py does, is a seed the
// fuzzer can mutate field by field while the layout holds.

#include "disk/CMemoryVolume.h"
#include "disk/LittleEndian.h"
#include "scan/CNotifyFileNode.h"

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzzimage {

constexpr size_t kHeaderSize = 5;
constexpr size_t kChunkHeaderSize = 6;
constexpr int64_t kMaxHeldBytes = 16 * 1024 * 1024;

struct Image
{
    uint8_t options = 0;
    std::unique_ptr<CMemoryVolume> volume;
};

// `maxLength` bounds the volume a header may declare, so that one input
// cannot ask for a walk of terabytes of zeros.
inline Image decode(const uint8_t* data, size_t size, int64_t maxLength)
{
    Image image;
    if (size < kHeaderSize)
        return image;
    image.options = data[0];
    const int64_t declared = std::min<int64_t>(static_cast<int64_t>(le::u32(data + 1)) * 512, maxLength);

    // First pass: how far the chunks reach, so the buffer is only as large
    // as it needs to be.
    int64_t reach = 0;
    for (size_t at = kHeaderSize; at + kChunkHeaderSize <= size;) {
        const int64_t offset = le::u32(data + at);
        const size_t length = std::min<size_t>(le::u16(data + at + 4), size - at - kChunkHeaderSize);
        if (length > 0 && offset < kMaxHeldBytes)
            reach = std::max(reach, std::min<int64_t>(offset + static_cast<int64_t>(length), kMaxHeldBytes));
        at += kChunkHeaderSize + length;
    }
    if (declared > 0)
        reach = std::min(reach, declared);

    QByteArray held(static_cast<int>(reach), '\0');
    for (size_t at = kHeaderSize; at + kChunkHeaderSize <= size;) {
        const int64_t offset = le::u32(data + at);
        const size_t length = std::min<size_t>(le::u16(data + at + 4), size - at - kChunkHeaderSize);
        const uint8_t* bytes = data + at + kChunkHeaderSize;
        if (offset < reach) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(length), reach - offset));
            std::memcpy(held.data() + offset, bytes, n);
        }
        at += kChunkHeaderSize + length;
    }
    const int64_t volumeLength = declared > 0 ? declared : reach;
    image.volume.reset(new CMemoryVolume(held, volumeLength, QStringLiteral("fuzz")));
    return image;
}

// Clears `running` once the volume has been read `count` times (0: never),
// as a stop pressed in the middle of a pass does.
class ReadLimit
{
public:
    ReadLimit(CMemoryVolume& volume, unsigned count)
    {
        if (count != 0)
            volume.setReadHook([this, count](int64_t, size_t) {
                if (++m_reads >= count)
                    running = false;
            });
    }
    ReadLimit(const ReadLimit&) = delete;
    ReadLimit& operator=(const ReadLimit&) = delete;

    std::atomic<bool> running{true};

private:
    unsigned m_reads = 0;
};

// Every deleted document a pass reports must keep its promises: extents
// inside the volume and summing to its size, resident bytes of its size, an
// overwritten share between 0 and 1, a name that is one name. A broken
// promise aborts.
inline void checkPromises(CNotifyFileNode& relay, int64_t volumeLength)
{
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), [volumeLength](const CFileNode& node) {
        int64_t sum = 0;
        for (const CFileNode::Extent& e : node.extents) {
            if (e.length <= 0)
                std::abort();
            if (e.offset != CFileNode::Extent::kSparse && (e.offset < 0 || e.offset > volumeLength - e.length))
                std::abort();
            sum += e.length;
        }
        if (node.hasResidentData ? node.residentData.size() != node.size : sum != node.size)
            std::abort();
        if (!(node.overwritten >= 0.0 && node.overwritten <= 1.0))
            std::abort();
        if (node.originalName.toUtf8().contains('\0') || node.originalName.contains(QLatin1Char('/')))
            std::abort();
    });
}

// One file-system scanner over a decoded image, as the scan runs it: bits
// 0-2 of the options byte stop it after that many reads of the volume (0:
// never). Volumes are at most 512 MiB.
template <class Scanner>
int scanImage(const uint8_t* data, size_t size)
{
    Image image = decode(data, size, 512 * 1024 * 1024);
    if (!image.volume)
        return 0;
    ReadLimit limit(*image.volume, image.options & 7u);
    CNotifyFileNode relay;
    checkPromises(relay, image.volume->length());
    Scanner scanner(image.volume.get(), &relay, &limit.running);
    scanner.scan();
    return 0;
}

} // namespace fuzzimage
