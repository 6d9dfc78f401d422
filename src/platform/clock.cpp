#include "platform/clock.h"

#include <array>
#include <ctime>

namespace vantrel {
namespace {

std::string formatNow(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
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

}  // namespace

const Clock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

}  // namespace vantrel
