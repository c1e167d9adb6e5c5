#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace morvandell {

// The serial-port lock files that programs on Linux honour: /run/lock/LCK..ttyUSB0 holds the process id
// of the program that has /dev/ttyUSB0 open ("/dev/pts/3" gives "LCK..pts_3"). Ours is written while a
// port is open and removed when it closes; another program's counts while its process runs, a stale
// one (its process gone) is ignored and cleared.
class LockFile
{
public:
    // The folders looked in, in order; ours goes into the first one we may write to.
    static const std::vector<std::string>& folders();
    // "LCK..ttyUSB0" for "/dev/ttyUSB0".
    static std::string nameFor(const std::string& device);

    struct Holder
    {
        pid_t pid = 0;
        std::string path; // the lock file
    };
    // The running process that holds a lock on the device, under its name or its resolved name.
    // Stale lock files are removed on the way (where we may).
    static std::optional<Holder> holder(const std::string& device, const std::string& resolved);

    // Writes our lock for the device; an empty LockFile when no lock folder is writable (the port is
    // still exclusive through the descriptor).
    static LockFile take(const std::string& device);

    LockFile() = default;
    LockFile(LockFile&& other) noexcept;
    LockFile& operator=(LockFile&& other) noexcept;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile();

    // Removes our lock file (once).
    void release();
    const std::string& path() const { return m_path; }

    // Tests: look in these folders instead (empty restores the system's).
    static void setFolders(std::vector<std::string> folders);

private:
    explicit LockFile(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

} // namespace morvandell
