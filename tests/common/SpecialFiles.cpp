#include "common/SpecialFiles.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
        // The system calls themselves, not the C library's, which would change every thread's.
        if (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, -1, gid, -1) != 0 ||
            ::syscall(SYS_setresuid, -1, uid, -1) != 0) {
            refused = Refused("changing the user");
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

std::string MountFileOver(const std::string& source, const std::string& target, bool readOnly)
{
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return Refused("mount --bind");
    if (readOnly && ::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return Refused("a read-only remount");
    return {};
}

std::string MountSmallDisk(const std::string& target, unsigned long bytes)
{
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) != 0)
        return Refused("mount -t tmpfs");
    return {};
}

std::string EndOnStandardOutput()
{
    std::fflush(stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int ends[2];
    if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0)
        return Refused("a pipe for standard output");
    ::close(ends[0]);
    ::close(ends[1]);
    std::signal(SIGPIPE, SIG_DFL);
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

StoppedChild::StoppedChild(const std::function<void()>& body)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        m_refusal = Refused("a pipe");
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(ends[0]);
        body();
        const char ran = 1;
        if (::write(ends[1], &ran, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ends[1]);
    char ran = 0;
    if (m_pid < 0)
        m_refusal = Refused("fork");
    else if (::read(ends[0], &ran, 1) != 1)
        m_refusal = "the child ended before it had run";
    ::close(ends[0]);
}

StoppedChild::~StoppedChild()
{
    Kill();
}

void StoppedChild::Kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

} // namespace GAME::Test
