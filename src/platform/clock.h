#pragma once

#include <string>

namespace vantrel {

// Local time as text. Status texts and fetch stamps read the clock through this seam so tests can pin it.
class Clock {
public:
    virtual ~Clock() = default;
    // Time of day in the system locale's standard form, seconds included.
    virtual std::string timeOfDay() const = 0;
    // Date and time in the system locale's standard form.
    virtual std::string dateTime() const = 0;
};

// The clock of the running system. The text forms are the user's: LC_TIME of the process on Unix, the regional
// settings on Windows.
const Clock& systemClock();

}  // namespace vantrel
