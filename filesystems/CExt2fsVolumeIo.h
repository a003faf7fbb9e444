#pragma once

#include <string>

class IVolume;
struct struct_io_manager;

// Lets libext2fs read a volume through IVolume: an io_manager whose channel
// reads by positioned reads of the volume and refuses every write (a write,
// a discard or a zeroing fails with EROFS), so the library, which can write
// when asked to, cannot write here.
//
// libext2fs opens a channel by name. While an object of this class lives,
// name() opens its volume through manager(); the registration ends with
// the object. Several may live at once, on any threads.
class CExt2fsVolumeIo
{
public:
    explicit CExt2fsVolumeIo(IVolume* volume);
    ~CExt2fsVolumeIo();

    CExt2fsVolumeIo(const CExt2fsVolumeIo&) = delete;
    CExt2fsVolumeIo& operator=(const CExt2fsVolumeIo&) = delete;

    const char* name() const { return m_name.c_str(); }
    static struct_io_manager* manager();

private:
    std::string m_name;
};
