#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class Clock;
class StatusLine;
class Transfer;

// Where the download files its cache and how it tells the time.
struct DownloadSite {
    std::string appDir;
    const Clock& clock;
};

// Fetches url, replaces data/log/<fileName> with the body and reports on the status line.
// 0 when a non-empty body was fetched and written, -1 otherwise. feedCachePath is set once the fetch has
// returned, before the file is written.
std::int32_t DownloadFeed(Transfer& transfer, StatusLine& status, const std::string& url, const std::string& fileName,
                          const DownloadSite& site, std::string& feedCachePath);

}  // namespace vantrel
