#include "platform/clock.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/wide_string_win.h"
#else
#include <array>
#include <ctime>
#endif

namespace vantrel {
namespace {

#ifdef _WIN32

// The user's own time and date forms (Control Panel); the C runtime's strftime knows only its own locale.
using FormatCall = int (*)(const SYSTEMTIME& time, wchar_t* text, int size);

std::string formatted(const SYSTEMTIME& time, FormatCall format)
{
    const int size = format(time, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    const int written = format(time, text.data(), size);
    text.resize(written > 0 ? static_cast<std::size_t>(written - 1) : 0);  // without the terminating null
    return NarrowToUtf8(text);
}

int timeForm(const SYSTEMTIME& time, wchar_t* text, int size)
{
    return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &time, nullptr, text, size);
}

int shortDateForm(const SYSTEMTIME& time, wchar_t* text, int size)
{
    return GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, size, nullptr);
}

class SystemClock final : public Clock {
public:
    std::string timeOfDay() const override
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return formatted(now, timeForm);
    }
    std::string dateTime() const override
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return formatted(now, shortDateForm) + " " + formatted(now, timeForm);
    }
};

#else

std::string formatNow(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::array<char, 128> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), format, &local);
    return std::string(text.data(), length);
}

// %X and %x follow LC_TIME, which the application sets from the environment at start.
class SystemClock final : public Clock {
public:
    std::string timeOfDay() const override { return formatNow("%X"); }
    std::string dateTime() const override { return formatNow("%x %X"); }
};

#endif

}  // namespace

const Clock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

}  // namespace vantrel
