#pragma once

#include "platform/curl_transfer.h"

class QThread;

namespace vantrel {

// Keeps the window alive while a fetch waits: runs its events (ticks, clicks, drags) until the fetch ends.
class EventLoopWaiter final : public TransferWaiter {
public:
    EventLoopWaiter();

    void waitUntil(const std::function<bool()>& finished) override;
    void wake() override;

private:
    QThread* m_thread;
};

}  // namespace vantrel
