#pragma once

#include <cstddef>
#include <string_view>

namespace vantrel {

// No real story's address is longer; a longer one is more likely an attack on the browser than a link.
inline constexpr std::size_t kMaxStoryLinkBytes = 2048;

// Why a news row's link is not to be handed to the desktop's browser, or empty when it may be: only an
// absolute http or https address with a host, of at most kMaxStoryLinkBytes bytes of UTF-8 and without
// control characters, is opened.
std::string_view StoryLinkRefusal(std::string_view link);

}  // namespace vantrel
