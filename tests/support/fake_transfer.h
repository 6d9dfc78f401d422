#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/transfer.h"

namespace vantrel::test {

// Answers fetches from a table; an unknown URL fails like an unreachable host.
class FakeTransfer : public Transfer {
public:
    std::map<std::string, FetchResponse> replies;
    std::vector<std::string> fetched;
    // Runs while a fetch "waits", as the window's events would.
    std::function<void(const std::string& url)> duringFetch;

    void serve(const std::string& url, const std::string& body)
    {
        replies[url] = FetchResponse{FetchResponse::Status::Ok, body, {}};
    }
    void fail(const std::string& url) { replies[url] = FetchResponse{FetchResponse::Status::Failed, {}, "refused"}; }

    FetchResponse fetch(const std::string& url) override
    {
        fetched.push_back(url);
        if (duringFetch)
            duringFetch(url);
        const auto reply = replies.find(url);
        return reply == replies.end() ? FetchResponse{FetchResponse::Status::Failed, {}, "no route"} : reply->second;
    }
};

}  // namespace vantrel::test
