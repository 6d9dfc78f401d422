#include "platform/curl_transfer.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>

#include <curl/curl.h>

namespace vantrel {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The longest the worker sleeps between looks at the abort flag.
constexpr long kPollIntervalMs = 50;
constexpr const char kUserAgent[] = "Vantrel/" VANTREL_VERSION;
constexpr const char kAllowedSchemes[] = "http,https";

bool ensureCurlInitialised()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// Keeps the easy handle in the multi handle until both are about to go.
class Attachment {
public:
    Attachment(CURLM* multi, CURL* easy) : m_multi(multi), m_easy(easy) {}
    ~Attachment() { curl_multi_remove_handle(m_multi, m_easy); }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

private:
    CURLM* m_multi;
    CURL* m_easy;
};

FetchResponse failed(std::string error)
{
    return {FetchResponse::Status::Failed, {}, std::move(error)};
}

FetchResponse aborted()
{
    return {FetchResponse::Status::Aborted, {}, "aborted"};
}

// One fetch's own state, shared by the calling thread and its worker; the caller joins before it goes.
struct FetchJob {
    FetchJob(const std::string& url, const TransferLimits& limits, const std::atomic<bool>& aborted)
        : url(url), limits(limits), transferAborted(aborted)
    {
    }

    bool shouldStop() const { return transferAborted.load() || stop.stop_requested(); }

    const std::string& url;
    const TransferLimits& limits;
    const std::atomic<bool>& transferAborted;
    std::stop_token stop;
    std::atomic<bool> done{false};
    FetchResponse response;
    std::string body;
    std::size_t bytesSeen = 0;  // headers and decoded body, for the stall check
    bool bodyTooLarge = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& job = *static_cast<FetchJob*>(user);
    const std::size_t length = size * count;
    if (job.shouldStop())
        return 0;
    if (length > job.limits.maxBodyBytes - job.body.size()) {
        job.bodyTooLarge = true;
        return 0;
    }
    try {
        job.body.append(data, length);
    } catch (const std::exception&) {
        return 0;
    }
    job.bytesSeen += length;
    return length;
}

std::size_t onHeader(char*, std::size_t size, std::size_t count, void* user)
{
    auto& job = *static_cast<FetchJob*>(user);
    job.bytesSeen += size * count;
    return size * count;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<FetchJob*>(user)->shouldStop() ? 1 : 0;
}

CURLcode configure(CURL* easy, FetchJob& job, char* errorText)
{
    const TransferLimits& limits = job.limits;
    CURLcode result = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK)
            result = curl_easy_setopt(easy, option, value);
    };
    set(CURLOPT_ERRORBUFFER, errorText);
    set(CURLOPT_URL, job.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, kAllowedSchemes);
    set(CURLOPT_REDIR_PROTOCOLS_STR, kAllowedSchemes);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, limits.maxRedirects);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeout.count()));
    // Rejects an announced oversized body early; onBody enforces the cap on what actually arrives.
    set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes));
    set(CURLOPT_FAILONERROR, 1L);
    set(CURLOPT_ACCEPT_ENCODING, "");
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_USERAGENT, kUserAgent);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_WRITEFUNCTION, &onBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&job));
    set(CURLOPT_HEADERFUNCTION, &onHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(&job));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &onProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&job));
    return result;
}

std::string describe(CURLcode code, const char* errorText)
{
    return errorText[0] != '\0' ? std::string(errorText) : std::string(curl_easy_strerror(code));
}

// Runs on the worker thread. Drives the transfer through a multi handle so that the abort flag and the stall
// rule are looked at every kPollIntervalMs, whatever phase the transfer is in.
FetchResponse perform(FetchJob& job)
{
    const EasyHandle easy(curl_easy_init());
    const MultiHandle multi(curl_multi_init());
    if (!easy || !multi)
        return failed("libcurl could not create a handle");
    char errorText[CURL_ERROR_SIZE] = {};
    if (const CURLcode code = configure(easy.get(), job, errorText); code != CURLE_OK)
        return failed(describe(code, errorText));
    if (const CURLMcode code = curl_multi_add_handle(multi.get(), easy.get()); code != CURLM_OK)
        return failed(curl_multi_strerror(code));
    const Attachment attachment(multi.get(), easy.get());

    const TransferLimits& limits = job.limits;
    const auto stallBytes = static_cast<std::size_t>(
        std::max<std::int64_t>(1, limits.stallBytesPerSecond * limits.stallTime.count() / 1000));
    auto baselineTime = SteadyClock::now();
    std::size_t baselineBytes = 0;
    for (;;) {
        if (job.shouldStop())
            return aborted();
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(multi.get(), &running); code != CURLM_OK)
            return failed(curl_multi_strerror(code));
        if (running == 0)
            break;
        const auto now = SteadyClock::now();
        if (job.bytesSeen - baselineBytes >= stallBytes) {
            baselineTime = now;
            baselineBytes = job.bytesSeen;
        } else if (now - baselineTime >= limits.stallTime) {
            return failed("transfer stalled");
        }
        if (const CURLMcode code = curl_multi_poll(multi.get(), nullptr, 0, kPollIntervalMs, nullptr); code != CURLM_OK)
            return failed(curl_multi_strerror(code));
    }

    CURLcode result = CURLE_OK;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    }
    if (job.shouldStop())
        return aborted();
    if (job.bodyTooLarge)
        return failed("body larger than " + std::to_string(limits.maxBodyBytes) + " bytes");
    if (result != CURLE_OK)
        return failed(describe(result, errorText));
    // Errors are failed above; a 3xx that could not be followed is no document either.
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        return failed("HTTP status " + std::to_string(status));
    return {FetchResponse::Status::Ok, std::move(job.body), {}};
}

}  // namespace

void BlockingWaiter::waitUntil(const std::function<bool()>& finished)
{
    std::unique_lock lock(m_mutex);
    m_woken.wait(lock, finished);
}

void BlockingWaiter::wake()
{
    // Taking the lock orders this wake after a waiter's last look at its predicate.
    {
        const std::lock_guard lock(m_mutex);
    }
    m_woken.notify_all();
}

CurlTransfer::CurlTransfer(TransferLimits limits, TransferWaiter* waiter) : m_limits(limits), m_waiter(waiter) {}

CurlTransfer::~CurlTransfer() = default;

void CurlTransfer::abort()
{
    m_aborted.store(true);
}

FetchResponse CurlTransfer::fetch(const std::string& url)
{
    if (m_aborted.load())
        return aborted();
    if (!ensureCurlInitialised())
        return failed("libcurl could not be initialised");

    TransferWaiter& waiter = m_waiter ? *m_waiter : m_blockingWaiter;
    FetchJob job(url, m_limits, m_aborted);
    {
        // Declared inside the block so that it is joined (after a stop request) on every way out.
        std::jthread worker;
        try {
            worker = std::jthread([&job, &waiter](std::stop_token stop) {
                job.stop = std::move(stop);
                try {
                    job.response = perform(job);
                } catch (const std::exception& error) {
                    job.response = failed(error.what());
                }
                job.done.store(true);
                waiter.wake();
            });
        } catch (const std::system_error& error) {
            return failed(std::string("no worker thread: ") + error.what());
        }
        waiter.waitUntil([&job] { return job.done.load(); });
    }
    if (m_aborted.load())
        return aborted();
    return std::move(job.response);
}

}  // namespace vantrel
