// The copy of a file's old bytes that a save in place keeps while it writes over them, and the
// mark on the file that says the copy is owed: a save that fails puts the bytes back from it, and
// after a kill the next open of the file does. Trusted of the disk: the open file itself (its
// device, inode and size) and what the system says of what is opened. Not trusted: the mark, an
// attribute anyone who may write the file may set to anything, and whatever lies where it
// points. The mark only says that a copy is owed and which folder a save put it in; the copy is
// taken only where a save of this very file puts it: in that folder, reached without following
// any link, on the file's own file system, under the name made of the file's device and inode. It
// must be a plain file (nothing else is opened at all, not even to look, and nothing as a
// controlling terminal) whose header names the file's device, inode and the mark's token, whose
// size is the header's and held by the disk's blocks. It is proven, read and removed through the
// one folder descriptor it was found in, so a folder swapped meanwhile makes the opener touch
// nothing elsewhere. The bytes it holds are taken as they are: whoever may write the file could
// have written them into it.
//
// The copy: a 64-byte header ("OLDBYTES", the file's device, inode and old size, a token drawn for
// the copy, the saver's pid), then the old bytes, in `.old-bytes.<device>.<inode>` (lower-case hex)
// beside the name saved. The mark, `user.engine.old-bytes` on the file: "OLDMARK2", the file's
// device and inode, the copy's token, then the folder's real path. The mark of the layout before
// it ("OLDBYTES", the inode, the token, the copy's whole path) is read too, its copy held to the
// same proofs, so a save killed by an earlier build is still put back.
//
// An OldBytesCopy is one save's copy, used by that save's owner; PutBackKilledSave may be called
// from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace GAME::Platform {

// The name of the mark, which a save never gives another file with the old one's attributes.
inline constexpr char kOldBytesMarkName[] = "user.engine.old-bytes";

class OldBytesCopy
{
public:
    OldBytesCopy() = default;
    // Leaves a copy still made where it is (as Keep).
    ~OldBytesCopy();
    OldBytesCopy(const OldBytesCopy&) = delete;
    OldBytesCopy& operator=(const OldBytesCopy&) = delete;

    // Copies the first size bytes of the target (open to read and write) into a hidden file in
    // folder, the folder of the name it is saved under: first written under partStart plus a
    // suffix of the save's own, given the permissions and (saved by root) the target's owner,
    // synced, then named as the target's copy there, the folder synced, and only then the target
    // marked with it, synced: ready. With sync false nothing is synced. False with errno, nothing
    // left: EXDEV where the folder is on another file system than the target.
    bool Make(int targetFd, const std::string& folder, const std::string& partStart, uint64_t size,
              int permissions, bool sync);
    bool IsMade() const { return m_fd >= 0; }
    // Where the copy lies, for the reasons given.
    const std::string& GetPath() const { return m_path; }
    // Writes the old bytes over the target (fd, open to write) and cuts it to their size, synced
    // when asked. False with errno.
    bool PutBack(int fd, bool sync) const;
    // Ends the copy once the target's bytes are whole: the target's mark goes first (synced when
    // asked), so that nothing puts the copy back over them, then the copy. False with errno
    // where the mark cannot go; the copy is still made then.
    bool End(int fd, bool sync);
    // Leaves the copy and the mark for the next open of the file to put back.
    void Keep();

    // After a save in place killed part way the file is a mix: its old bytes go back before
    // anything reads or saves it, by whatever name it was opened. fd: the plain file, open in any
    // mode; device and inode its own. locked: the caller is a save holding the file's save lock
    // (fd may write). Otherwise an open that finds the mark while the lock is held (a save under
    // way, another open putting back) waits for it, waitMilliseconds at most, then looks again.
    // One call on the file when there is no mark. False with the reason when old bytes are owed
    // and cannot be put back, the mark cannot be taken off, the wait ran out, or the mark is
    // another file's or no save's; a save (locked) takes such a mark, or one whose copy is not
    // proven, off instead and goes on, as it writes the file whole.
    static bool PutBackKilledSave(int fd, uint64_t device, uint64_t inode, bool locked, int waitMilliseconds,
                                  std::string& error);

private:
    void Forget(bool remove);

    int m_folderFd = -1; // the folder the copy lies in
    int m_fd = -1;       // the copy
    uint64_t m_device = 0, m_inode = 0, m_size = 0;
    std::string m_name;
    std::string m_path;
};

// For tests: the points where a test may act between the steps of putting back a killed save's
// bytes: an open about to wait for the file's save lock (Waiting), a copy proven before any byte
// of it is read (Proven), a copy whose file is unmarked, about to be removed (Removing, also at
// the end of a save). copyPath says where the copy lies. An empty hook takes it off. Process-wide.
enum class OldBytesStage
{
    Waiting,
    Proven,
    Removing,
};
void SetOldBytesHook(std::function<void(OldBytesStage stage, const std::string& copyPath)> hook);

} // namespace GAME::Platform
