#pragma once

#include <functional>
#include <string>
#include <vector>

#include "board/board_reader.h"
#include "feeds/status_line.h"
#include "platform/clock.h"
#include "platform/event_pump.h"

namespace vantrel::test {

// A clock pinned to fixed texts.
class FixedClock : public Clock {
public:
    std::string time = "12:34:56";
    std::string date = "2026/12/07 12:34:56";
    std::string timeOfDay() const override { return time; }
    std::string dateTime() const override { return date; }
};

// Records every caption written, in order.
class RecordingStatusLine : public StatusLine {
public:
    std::vector<std::string> captions;
    void setCaption(const std::string& text) override { captions.push_back(text); }
};

// Counts passes and runs an optional hook in each, as a nested handler would.
class ScriptedEventPump : public EventPump {
public:
    int passes = 0;
    std::function<void()> onPass;
    void processPendingEvents() override;
};

// Captures error boxes instead of showing them.
class CapturingErrorBox : public ErrorBox {
public:
    struct Shown {
        std::string title;
        std::string text;
    };
    std::vector<Shown> shown;
    void show(const std::string& title, const std::string& text) override { shown.push_back({title, text}); }
};

}  // namespace vantrel::test
