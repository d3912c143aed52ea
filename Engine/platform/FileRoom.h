// Room on the disk for bytes a file will take later: taken now, past what the file holds, without
// changing its size or its bytes, so that a later write into that range cannot fail for want of
// space (the last row of a log on a disk that fills). Where the file system cannot hold room for a
// file (it has no such call, or the path names a device), none is taken and the caller goes on
// without. The room stays the file's until it is given back or the file is cut below it.
// Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace GAME::Platform {

enum class FileRoom
{
    Taken,         // the range is the file's on the disk
    NoRoom,        // the disk (or the user's quota) has not that much left; the reason says which
    CannotBeTaken, // this file or its file system cannot hold room; the reason says why
};

// Takes [offset, offset + length) for the file at path (which must exist). The reason, when not
// taken, is the system's ("No space left on device").
FileRoom TakeFileRoom(const std::string& path, uint64_t offset, uint64_t length,
                      std::string* reason = nullptr);
// Gives back what TakeFileRoom took in [offset, offset + length) past the file's end; the bytes
// the file holds stay. Best effort.
void GiveBackFileRoom(const std::string& path, uint64_t offset, uint64_t length);

} // namespace GAME::Platform
