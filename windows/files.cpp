// Folders and the environment through the wide-character API: names with any characters work.
#include "platform/files.h"
#include "windows/wide.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace morvandell::files {

namespace {

std::string reason(DWORD error)
{
    switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
        return "der Ordner existiert nicht.";
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return "keine Schreibberechtigung im Ordner.";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "die Datei ist von einem anderen Programm geöffnet.";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "der Datenträger ist voll.";
    default:
        return "Schreibfehler (Windows-Fehler " + std::to_string(error) + ").";
    }
}

} // namespace

bool writeToDisk(const std::string& path, const Bytes& content, std::string* why)
{
    const HANDLE file = ::CreateFileW(win::widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = reason(::GetLastError());
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    std::size_t done = 0;
    while (done < content.size() && error == ERROR_SUCCESS) {
        const DWORD chunk = DWORD(std::min<std::size_t>(content.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, content.data() + done, chunk, &written, nullptr))
            error = ::GetLastError();
        else if (written == 0)
            error = ERROR_DISK_FULL;
        done += written;
    }
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(file))
        error = ::GetLastError();
    ::CloseHandle(file);
    if (error != ERROR_SUCCESS)
        *why = reason(error);
    return error == ERROR_SUCCESS;
}

bool replaceFile(const std::string& from, const std::string& to, std::string* why)
{
    if (!::MoveFileExW(win::widen(from).c_str(), win::widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *why = reason(::GetLastError());
        return false;
    }
    return true;
}

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

std::string userLanguage()
{
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (::LCIDToLocaleName(MAKELCID(::GetUserDefaultUILanguage(), SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) <= 0)
        return {};
    return languageOfLocale(win::narrow(name));
}

} // namespace morvandell::files
