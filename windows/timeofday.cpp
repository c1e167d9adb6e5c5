// The time of day in the user's long time format (Control Panel, Region), as the system writes it.
#include "platform/text.h"
#include "windows/wide.h"

#include <ctime>
#include <windows.h>

namespace morvandell::text {

std::string systemLongTimeText(std::chrono::system_clock::time_point when)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    ::localtime_s(&local, &t);
    SYSTEMTIME st{};
    st.wYear = WORD(local.tm_year + 1900);
    st.wMonth = WORD(local.tm_mon + 1);
    st.wDay = WORD(local.tm_mday);
    st.wDayOfWeek = WORD(local.tm_wday);
    st.wHour = WORD(local.tm_hour);
    st.wMinute = WORD(local.tm_min);
    st.wSecond = WORD(local.tm_sec);
    wchar_t buffer[128];
    const int n = ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, buffer, int(std::size(buffer)));
    if (n > 1)
        return win::narrow(std::wstring_view(buffer, std::size_t(n - 1)));
    return padded(local.tm_hour, 2) + ":" + padded(local.tm_min, 2) + ":" + padded(local.tm_sec, 2);
}

} // namespace morvandell::text
