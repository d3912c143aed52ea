#include "platform/FileCalls.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>

namespace GAME::Platform {

int OpenRetrying(const std::string& path, int flags, unsigned permissions)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(permissions));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int64_t NowMilliseconds()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace GAME::Platform
