#include "platform/FileLock.h"

#include "platform/PathResolve.h"
#include "platform/PlatformFile.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace GAME::Platform {

namespace {

int64_t NowMilliseconds()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

int LockOpenFile(int fd, int waitMilliseconds)
{
    // flock has no timeout of its own: a short sleep between tries, growing to 20 ms, keeps the
    // wait bounded and cheap.
    const int64_t deadline = NowMilliseconds() + std::max(waitMilliseconds, 0);
    long sleepMicroseconds = 500;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return errno;
        const int64_t left = deadline - NowMilliseconds();
        if (left <= 0)
            return EWOULDBLOCK;
        const long pause = std::min<long>(sleepMicroseconds, static_cast<long>(left) * 1000);
        const timespec nap = {0, pause * 1000};
        ::nanosleep(&nap, nullptr);
        sleepMicroseconds = std::min<long>(sleepMicroseconds * 2, 20000);
    }
}

FileLock::~FileLock()
{
    Unlock();
}

bool FileLock::Lock(const std::string& path, int waitMilliseconds)
{
    Unlock();
    m_error.clear();
    const std::string real = ResolvePathForCreate(path);
    int fd;
    do {
        fd = ::open(real.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_error = SystemErrorText(errno);
        return false;
    }
    const int result = LockOpenFile(fd, waitMilliseconds);
    if (result != 0) {
        m_error = result == EWOULDBLOCK ? "another process holds it" : SystemErrorText(result);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void FileLock::Unlock()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace GAME::Platform
