#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// The values the rotation, the ticker and the downloads share for the program's life.
struct SharedState {
    std::int16_t FeedIndex = 0;
    std::int16_t NewsIndex = 0;
    std::string FeedCachePath;
    std::int32_t FetchResult = 0;
    std::string FeedLabel;
    std::int32_t ParseResult = 0;
};

}  // namespace vantrel
