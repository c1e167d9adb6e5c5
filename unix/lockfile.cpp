#include "unix/lockfile.h"

#include "platform/files.h"
#include "platform/text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace morvandell {

namespace {

std::vector<std::string>& overrideFolders()
{
    static std::vector<std::string> folders;
    return folders;
}

bool running(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The process id in a lock file: ASCII, possibly padded with blanks (the classic "%10d\n"), or the
// first line of Qt's format; binary ids of very old programs are not read.
std::optional<pid_t> pidIn(const std::string& path)
{
    const std::string line = files::firstLine(path, 128);
    const auto value = text::toInteger(text::trimmed(line));
    if (!value || *value <= 0)
        return std::nullopt;
    return pid_t(*value);
}

} // namespace

const std::vector<std::string>& LockFile::folders()
{
    // Qt and the classic programs use these; /var/lock is /run/lock on current systems.
    static const std::vector<std::string> system{"/run/lock",  "/var/lock",        "/etc/locks",
                                                 "/var/spool/locks", "/var/spool/uucp", "/tmp"};
    return overrideFolders().empty() ? system : overrideFolders();
}

void LockFile::setFolders(std::vector<std::string> folders)
{
    overrideFolders() = std::move(folders);
}

std::string LockFile::nameFor(const std::string& device)
{
    std::string name = text::startsWith(device, "/dev/") ? device.substr(5) : device;
    for (char& c : name)
        if (c == '/')
            c = '_';
    return "LCK.." + name;
}

std::optional<LockFile::Holder> LockFile::holder(const std::string& device, const std::string& resolved)
{
    std::vector<std::string> names{nameFor(device)};
    if (!resolved.empty() && resolved != device)
        names.push_back(nameFor(resolved));
    for (const std::string& folder : folders()) {
        for (const std::string& name : names) {
            const std::string path = folder + "/" + name;
            if (!files::exists(path))
                continue;
            const auto pid = pidIn(path);
            if (pid && running(*pid))
                return Holder{*pid, path};
            // Stale: its program is gone (or wrote nothing we can read). Clear it where we may.
            if (pid)
                ::unlink(path.c_str());
        }
    }
    return std::nullopt;
}

LockFile LockFile::take(const std::string& device)
{
    const std::string name = nameFor(device);
    for (const std::string& folder : folders()) {
        if (!files::isDirectory(folder) || ::access(folder.c_str(), W_OK) != 0)
            continue;
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            continue;
        char content[32];
        const int n = std::snprintf(content, sizeof content, "%10d\n", int(::getpid()));
        const bool written = n > 0 && ::write(fd, content, std::size_t(n)) == n;
        ::close(fd);
        if (!written) {
            ::unlink(path.c_str());
            continue;
        }
        return LockFile(path);
    }
    return LockFile();
}

LockFile::LockFile(LockFile&& other) noexcept
    : m_path(std::move(other.m_path))
{
    other.m_path.clear();
}

LockFile& LockFile::operator=(LockFile&& other) noexcept
{
    if (this != &other) {
        release();
        m_path = std::move(other.m_path);
        other.m_path.clear();
    }
    return *this;
}

LockFile::~LockFile()
{
    release();
}

void LockFile::release()
{
    if (m_path.empty())
        return;
    // Only our own: never remove a lock another program wrote in the meantime.
    if (const auto pid = pidIn(m_path); pid && *pid == ::getpid())
        ::unlink(m_path.c_str());
    m_path.clear();
}

} // namespace morvandell
