#pragma once

#include <string>

namespace vantrel {

struct FetchResponse {
    enum class Status { Ok, Failed, Aborted };
    Status status = Status::Failed;
    std::string body;   // the whole body, byte for byte, when Ok
    std::string error;  // why it failed, for diagnostics only
};

// A synchronous fetch of one URL: the whole body or a failure.
class Transfer {
public:
    virtual ~Transfer() = default;
    virtual FetchResponse fetch(const std::string& url) = 0;
};

}  // namespace vantrel
