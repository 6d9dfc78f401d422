#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/transfer.h"

namespace vantrel {

// How the caller's thread passes the time while a transfer runs on its worker thread.
class TransferWaiter {
public:
    virtual ~TransferWaiter() = default;
    // Called on the caller's thread; returns once finished() is true. May run window events meanwhile,
    // including a handler that starts another fetch and waits for it in turn.
    virtual void waitUntil(const std::function<bool()>& finished) = 0;
    // Called from the worker thread when the transfer ends; must be thread-safe.
    virtual void wake() = 0;
};

// Blocks the caller's thread on a condition variable; runs nothing meanwhile.
class BlockingWaiter final : public TransferWaiter {
public:
    void waitUntil(const std::function<bool()>& finished) override;
    void wake() override;

private:
    std::mutex m_mutex;
    std::condition_variable m_woken;
};

struct TransferLimits {
    std::chrono::milliseconds connectTimeout{15'000};
    std::chrono::milliseconds totalTimeout{120'000};
    // A transfer that receives fewer than stallBytesPerSecond on average over stallTime has stalled.
    std::chrono::milliseconds stallTime{30'000};
    std::int64_t stallBytesPerSecond = 1;
    long maxRedirects = 5;
    // Counted on the decoded body, so a small compressed response cannot inflate past it.
    std::size_t maxBodyBytes = 32 * 1024 * 1024;
};

// HTTP and HTTPS fetches through libcurl. Every fetch gets its own handle and worker thread, so a fetch
// started from inside another one's wait (a nested refresh) runs independently of it.
class CurlTransfer final : public Transfer {
public:
    // waiter is not owned and must outlive the transfer; without one the caller's thread simply blocks.
    explicit CurlTransfer(TransferLimits limits = {}, TransferWaiter* waiter = nullptr);
    // Must not be destroyed while a fetch is under way; abort() first and let the fetches return.
    ~CurlTransfer() override;

    // 0 means "no per-request override", which is all this transfer supports: every fetch uses the limits.
    void setRequestOverride(std::int32_t /*value*/) override {}

    FetchResponse fetch(const std::string& url) override;

    // Thread-safe. Fetches under way end within about a tenth of a second with Status::Aborted, and every
    // later fetch returns Aborted at once. There is no way back: this is for the program closing.
    void abort();

private:
    TransferLimits m_limits;
    TransferWaiter* m_waiter;
    BlockingWaiter m_blockingWaiter;
    std::atomic<bool> m_aborted{false};
};

}  // namespace vantrel
