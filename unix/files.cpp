#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace morvandell::files {

std::string homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::string programFolder()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return parentPath(std::string(buffer, std::size_t(n)));
}

namespace {

std::string reason(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "der Ordner existiert nicht.";
    case EACCES:
    case EPERM:
    case EROFS:
        return "keine Schreibberechtigung im Ordner.";
    case ENOSPC:
    case EDQUOT:
        return "der Datenträger ist voll.";
    case EFBIG:
        return "die Datei wird zu groß für den Datenträger.";
    default:
        return std::string("Schreibfehler: ") + std::strerror(error) + ".";
    }
}

} // namespace

bool writeToDisk(const std::string& path, const Bytes& content, std::string* why)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = reason(errno);
        return false;
    }
    std::size_t done = 0;
    int error = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += std::size_t(n);
    }
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (error)
        *why = reason(error);
    return !error;
}

bool replaceFile(const std::string& from, const std::string& to, std::string* why)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        *why = reason(errno);
        return false;
    }
    // The new name lasts once the folder's entry is on the disk too.
    const int folder = ::open(parentPath(absolutePath(to)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

std::optional<std::string> environment(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::string userLanguage()
{
    // The order in which the C library picks the messages' locale.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const auto value = environment(name);
        if (value && !value->empty())
            return languageOfLocale(*value);
    }
    return {};
}

} // namespace morvandell::files
