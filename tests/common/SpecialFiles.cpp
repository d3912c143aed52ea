#include "common/SpecialFiles.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace GAME::Test {

namespace {

std::string Refused(const char* what)
{
    return std::string(what) + " refused here (" + std::strerror(errno) + ")";
}

} // namespace

std::string MakeNode(const std::string& path, char type, unsigned major, unsigned minor)
{
    const mode_t kind = type == 'p' ? S_IFIFO : type == 'c' ? S_IFCHR : S_IFBLK;
    if (::mknod(path.c_str(), kind | 0666, type == 'p' ? 0 : makedev(major, minor)) != 0)
        return Refused("mknod");
    return {};
}

std::string RunAsUser(unsigned uid, unsigned gid, const std::function<void()>& body)
{
    std::string refused;
    std::thread([&] {
        // The calls answer the ids before; asked again, the ids now.
        ::setfsgid(gid);
        ::setfsuid(uid);
        if (static_cast<unsigned>(::setfsgid(gid)) != gid || static_cast<unsigned>(::setfsuid(uid)) != uid) {
            refused = "changing the file-system user refused here (not root)";
            return;
        }
        body();
    }).join();
    return refused;
}

std::string RunWithOwnMounts(const std::function<void()>& body)
{
    std::string refused;
    std::thread([&] {
        if (::unshare(CLONE_NEWNS) != 0) {
            refused = Refused("a mount namespace of its own");
            return;
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            refused = Refused("private mounts");
            return;
        }
        body();
    }).join();
    return refused;
}

std::string MountFileOver(const std::string& source, const std::string& target)
{
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return Refused("mount --bind");
    return {};
}

int EndedProcessId()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

} // namespace GAME::Test
