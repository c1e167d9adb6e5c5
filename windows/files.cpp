// Folders and the environment through the wide-character API: names with any characters work.
#include "platform/files.h"
#include "windows/wide.h"

#include <windows.h>

namespace morvandell::files {

std::optional<std::string> environment(const std::string& name)
{
    const std::wstring wideName = win::widen(name);
    ::SetLastError(ERROR_SUCCESS);
    DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (n == 0)
        return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>(std::string());
    std::wstring value(n, L'\0');
    n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
    value.resize(n);
    return win::narrow(value);
}

std::string homeFolder()
{
    if (const auto profile = environment("USERPROFILE"); profile && !profile->empty())
        return *profile;
    const auto drive = environment("HOMEDRIVE");
    const auto path = environment("HOMEPATH");
    if (drive && path && !drive->empty())
        return *drive + *path;
    return "C:\\";
}

std::string programFolder()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2); // cut off: the path is longer than MAX_PATH
    }
    return parentPath(win::narrow(buffer));
}

} // namespace morvandell::files
