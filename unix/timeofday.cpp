// The time of day in the locale's time format (LC_TIME, as the C library reads the environment).
#include "platform/text.h"

#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace morvandell::text {

std::string systemLongTimeText(std::chrono::system_clock::time_point when)
{
    static locale_t userLocale = [] {
        locale_t l = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        return l ? l : ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    ::localtime_r(&t, &local);
    // The locale's own time format; "C" and "POSIX" give %H:%M:%S, German gives the same.
    const char* format = userLocale ? ::nl_langinfo_l(T_FMT, userLocale) : "%H:%M:%S";
    if (!format || !*format)
        format = "%H:%M:%S";
    char buffer[128];
    const std::size_t n =
        userLocale ? ::strftime_l(buffer, sizeof buffer, format, &local, userLocale)
                   : std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

} // namespace morvandell::text
