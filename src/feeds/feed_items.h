#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class Clock;
class EventPump;
class NewsList;

// Rebuilds the list from the feed document at path: one row per item two levels below the root with both a
// title and a link. 0 also when the file does not load (list untouched); -1 when the walk fails (rows so far
// stay). Pending events run once, right after the list is cleared.
std::int32_t ParseFeedItems(const std::string& path, NewsList& list, const std::string& feedLabel, EventPump& events,
                            const Clock& clock);

}  // namespace vantrel
