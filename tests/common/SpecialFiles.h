// What a save meets besides plain files, made for real where the machine lets the test make it:
// FIFOs and device nodes, a thread that accesses files as another user, a thread with mounts of
// its own. Each maker answers an empty string, or why the machine refused (for GTEST_SKIP): most
// need root, mounts need CAP_SYS_ADMIN.
#pragma once

#include <functional>
#include <string>

namespace GAME::Test {

// A node at path: 'p' a FIFO, 'c' a character device, 'b' a block device (major, minor).
std::string MakeNode(const std::string& path, char type, unsigned major = 0, unsigned minor = 0);

// Runs body on a thread of its own that is the user and group given, in no other group (its
// effective ids: its file accesses and the processes it may signal; the rest of the process keeps
// its own), and waits for it.
std::string RunAsUser(unsigned uid, unsigned gid, const std::function<void()>& body);

// Runs body on a thread in a private mount namespace of its own, which ends with the thread: the
// mounts made in it are seen by nothing else and need no unmounting. Waits for it.
std::string RunWithOwnMounts(const std::function<void()>& body);
// Within such a thread: mounts the file (or folder) source over the target, read-only if asked.
std::string MountFileOver(const std::string& source, const std::string& target, bool readOnly = false);
// Within such a thread: a disk of its own at the folder target that holds the bytes given.
std::string MountSmallDisk(const std::string& target, unsigned long bytes);

// For a child process: from now on its first write to standard output ends it (SIGPIPE), as a
// console whose reader went away does, unbuffered so that each line is written as it is put.
std::string EndOnStandardOutput();

// The id of a process that has ended (a child that exited and was reaped).
int EndedProcessId();

// A child process that runs body (a save left open, say), then stops there until it is killed:
// Kill ends it as SIGKILL does, part way through whatever body began. The destructor kills it.
class StoppedChild
{
public:
    explicit StoppedChild(const std::function<void()>& body);
    ~StoppedChild();
    StoppedChild(const StoppedChild&) = delete;
    StoppedChild& operator=(const StoppedChild&) = delete;

    // Empty once body has run in the child, else why not.
    const std::string& GetRefusal() const { return m_refusal; }
    int GetPid() const { return m_pid; }
    void Kill();

private:
    int m_pid = -1;
    std::string m_refusal;
};

} // namespace GAME::Test
