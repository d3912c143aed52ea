#include "platform/FileRoom.h"

#include "platform/FileCalls.h"
#include "platform/PathResolve.h"
#include "platform/PlatformFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace GAME::Platform {

namespace {

int OpenForRoom(const std::string& path)
{
    std::string real;
    if (!ResolveExistingPath(path, real))
        real = path;
    return OpenRetrying(real, O_WRONLY | O_NOCTTY | O_NONBLOCK);
}

} // namespace

FileRoom TakeFileRoom(const std::string& path, uint64_t offset, uint64_t length, std::string* reason)
{
    const int fd = OpenForRoom(path);
    if (fd < 0) {
        if (reason)
            *reason = SystemErrorText(errno);
        return FileRoom::CannotBeTaken;
    }
    // Only for plain files: a device or a FIFO has no room of its own to take.
    struct stat info = {};
    int result = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? 0 : ENODEV;
    if (result == 0) {
        do {
            result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                                 static_cast<off_t>(length)) == 0
                         ? 0
                         : errno;
        } while (result == EINTR);
    }
    ::close(fd);
    if (result == 0)
        return FileRoom::Taken;
    if (reason)
        *reason = SystemErrorText(result);
    return result == ENOSPC || result == EDQUOT ? FileRoom::NoRoom : FileRoom::CannotBeTaken;
}

void GiveBackFileRoom(const std::string& path, uint64_t offset, uint64_t length)
{
    const int fd = OpenForRoom(path);
    if (fd < 0)
        return;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // Only what lies past the end: the file's own bytes stay whatever the range says.
        const uint64_t end = static_cast<uint64_t>(info.st_size);
        const uint64_t from = offset > end ? offset : end;
        if (offset + length > from)
            ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                        static_cast<off_t>(offset + length - from));
    }
    ::close(fd);
}

} // namespace GAME::Platform
