#include "windows/ftdilatency.h"

#include "platform/text.h"
#include "windows/wide.h"

#include <windows.h>

namespace morvandell::win {

namespace {

std::vector<std::wstring> subkeys(HKEY key)
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = DWORD(std::size(name));
        const LONG r = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r == ERROR_SUCCESS)
            names.emplace_back(name, length);
    }
    return names;
}

std::optional<std::wstring> stringValue(HKEY key, const wchar_t* name)
{
    wchar_t data[256];
    DWORD bytes = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::wstring value(data, bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return value;
}

} // namespace

std::optional<unsigned> ftdiLatencyTimer(const std::string& port, const std::string& enumKey)
{
    HKEY root = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, widen(enumKey).c_str(), 0, KEY_READ, &root) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<unsigned> result;
    for (const std::wstring& device : subkeys(root)) {
        HKEY deviceKey = nullptr;
        if (::RegOpenKeyExW(root, device.c_str(), 0, KEY_READ, &deviceKey) != ERROR_SUCCESS)
            continue;
        for (const std::wstring& instance : subkeys(deviceKey)) {
            HKEY parameters = nullptr;
            const std::wstring path = instance + L"\\Device Parameters";
            if (::RegOpenKeyExW(deviceKey, path.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS)
                continue;
            const auto name = stringValue(parameters, L"PortName");
            DWORD timer = 0;
            DWORD bytes = sizeof timer;
            DWORD type = 0;
            if (name && text::equalsIgnoringAsciiCase(narrow(*name), port) &&
                ::RegQueryValueExW(parameters, L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&timer),
                                   &bytes) == ERROR_SUCCESS &&
                type == REG_DWORD)
                result = unsigned(timer);
            ::RegCloseKey(parameters);
            if (result)
                break;
        }
        ::RegCloseKey(deviceKey);
        if (result)
            break;
    }
    ::RegCloseKey(root);
    return result;
}

std::string describeFtdiLatency(const std::string& port, unsigned milliseconds)
{
    if (milliseconds <= 1)
        return text::arg("FTDI-Latenz-Timer von %1: %2 ms (Antworten ohne Adapter-Verzögerung)",
                         {port, static_cast<long long>(milliseconds)});
    return text::arg("FTDI-Latenz-Timer von %1: %2 ms (jede Antwort bis %2 ms verzögert; 1 ms einstellen: "
                     "Geräte-Manager → Anschlüsse → %1 → Eigenschaften → Anschlusseinstellungen → Erweitert → "
                     "„Latency Timer (msec)“)",
                     {port, static_cast<long long>(milliseconds)});
}

} // namespace morvandell::win
