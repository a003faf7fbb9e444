#include "filesystems/CExt2fsVolumeIo.h"

#include "disk/IVolume.h"

#include <ext2fs/ext2fs.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

namespace {

std::mutex g_registryMutex;
std::map<std::string, IVolume*> g_registry;
unsigned long long g_nextToken = 0;

IVolume* volumeOf(io_channel channel)
{
    return static_cast<IVolume*>(channel->private_data);
}

errcode_t channelOpen(const char* name, int flags, io_channel* channel)
{
    if (!name || !channel)
        return EXT2_ET_BAD_DEVICE_NAME;
    if (flags & IO_FLAG_RW)
        return EROFS;
    IVolume* volume = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        const auto it = g_registry.find(name);
        if (it == g_registry.end())
            return EXT2_ET_BAD_DEVICE_NAME;
        volume = it->second;
    }
    io_channel io = nullptr;
    errcode_t error = ext2fs_get_memzero(sizeof(struct struct_io_channel), &io);
    if (error)
        return error;
    const size_t nameLength = std::strlen(name) + 1;
    error = ext2fs_get_mem(nameLength, &io->name);
    if (error) {
        ext2fs_free_mem(&io);
        return error;
    }
    std::memcpy(io->name, name, nameLength);
    io->magic = EXT2_ET_MAGIC_IO_CHANNEL;
    io->manager = CExt2fsVolumeIo::manager();
    io->block_size = 1024;
    io->refcount = 1;
    io->private_data = volume;
    *channel = io;
    return 0;
}

errcode_t channelClose(io_channel channel)
{
    if (--channel->refcount > 0)
        return 0;
    ext2fs_free_mem(&channel->name);
    ext2fs_free_mem(&channel);
    return 0;
}

errcode_t channelSetBlockSize(io_channel channel, int blockSize)
{
    if (blockSize <= 0)
        return EXT2_ET_INVALID_ARGUMENT;
    channel->block_size = blockSize;
    return 0;
}

errcode_t channelRead64(io_channel channel, unsigned long long block, int count, void* data)
{
    // A negative count is a byte count.
    const uint64_t blockSize = static_cast<uint64_t>(channel->block_size);
    const uint64_t bytes = count < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(count))
                                     : static_cast<uint64_t>(count) * blockSize;
    if (bytes == 0)
        return 0;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (block > limit / blockSize || block * blockSize > limit - bytes) {
        std::memset(data, 0, static_cast<size_t>(bytes));
        return EXT2_ET_LLSEEK_FAILED;
    }
    const IVolume::ReadResult r =
        volumeOf(channel)->read(static_cast<int64_t>(block * blockSize), data, static_cast<size_t>(bytes));
    const uint64_t got = r.bytes > 0 ? static_cast<uint64_t>(r.bytes) : 0;
    if (got < bytes) {
        std::memset(static_cast<uint8_t*>(data) + got, 0, static_cast<size_t>(bytes - got));
        return r.error ? static_cast<errcode_t>(r.error) : EXT2_ET_SHORT_READ;
    }
    return 0;
}

errcode_t channelRead(io_channel channel, unsigned long block, int count, void* data)
{
    return channelRead64(channel, block, count, data);
}

errcode_t channelWrite(io_channel, unsigned long, int, const void*)
{
    return EROFS;
}

errcode_t channelWrite64(io_channel, unsigned long long, int, const void*)
{
    return EROFS;
}

errcode_t channelWriteByte(io_channel, unsigned long, int, const void*)
{
    return EROFS;
}

errcode_t channelFlush(io_channel)
{
    return 0;
}

errcode_t channelSetOption(io_channel, const char*, const char*)
{
    return EXT2_ET_INVALID_ARGUMENT;
}

errcode_t channelDiscard(io_channel, unsigned long long, unsigned long long)
{
    return EROFS;
}

errcode_t channelReadahead(io_channel, unsigned long long, unsigned long long)
{
    return 0;
}

errcode_t channelZeroout(io_channel, unsigned long long, unsigned long long)
{
    return EROFS;
}

struct_io_manager makeManager()
{
    struct_io_manager m;
    std::memset(&m, 0, sizeof m);
    m.magic = EXT2_ET_MAGIC_IO_MANAGER;
    m.name = "tamsel read-only volume";
    m.open = channelOpen;
    m.close = channelClose;
    m.set_blksize = channelSetBlockSize;
    m.read_blk = channelRead;
    m.write_blk = channelWrite;
    m.flush = channelFlush;
    m.write_byte = channelWriteByte;
    m.set_option = channelSetOption;
    m.read_blk64 = channelRead64;
    m.write_blk64 = channelWrite64;
    m.discard = channelDiscard;
    m.cache_readahead = channelReadahead;
    m.zeroout = channelZeroout;
    return m;
}

struct_io_manager g_manager = makeManager();

} // namespace

CExt2fsVolumeIo::CExt2fsVolumeIo(IVolume* volume)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    m_name = "tamsel-volume-" + std::to_string(++g_nextToken);
    g_registry[m_name] = volume;
}

CExt2fsVolumeIo::~CExt2fsVolumeIo()
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_registry.erase(m_name);
}

struct_io_manager* CExt2fsVolumeIo::manager()
{
    return &g_manager;
}
