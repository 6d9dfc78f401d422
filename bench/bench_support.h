#pragma once

#include <string>

#include "board/board_reader.h"
#include "platform/clock.h"
#include "platform/event_pump.h"

namespace vantrel::bench {

inline constexpr std::size_t kFeedBytes = 5 * 1024 * 1024;
inline constexpr int kFeedItems = 10'000;
inline constexpr int kBoardNodes = 32'767;

class FixedClock : public Clock {
public:
    std::string timeOfDay() const override { return "12:34:56"; }
    std::string dateTime() const override { return "2026/12/07 12:34:56"; }
};

class NoEvents : public EventPump {
public:
    void processPendingEvents() override {}
};

class SilentErrorBox : public ErrorBox {
public:
    int shown = 0;
    void show(const std::string& /*title*/, const std::string& /*text*/) override { ++shown; }
};

// The folder the benchmark data is written to: $VANTREL_BENCH_DATA, or a folder of its own under the
// system's temporary folder that is removed again at exit. Created on first use.
const std::string& DataDir();

}  // namespace vantrel::bench
