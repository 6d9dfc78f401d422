#pragma once

namespace vantrel {

// Runs every window event that is waiting, then returns.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void processPendingEvents() = 0;
};

}  // namespace vantrel
